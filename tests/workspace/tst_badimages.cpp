// Hostile image files through the workspace's load command: whatever the file holds, the
// window ends either in its Empty state (scan and load options offered, tools disabled)
// or, for a sound file, in its Loaded state; never a crash, a hang or a message.

#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestImages.h"
#include "tests/support/WorkspaceDriver.h"
#include "workspace/PictureSurface.h"
#include "workspace/frmScanner.h"

#include <QBuffer>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <functional>

namespace {

// Answers the open dialog with one path and runs `asTheDialogCloses` just before: what it
// does to the file happens between the operator's choice and the load.
class ChangingPrompts final : public Prompts {
  public:
    Answer message(const QString& text, Buttons) override {
        messages << text;
        return Answer::Ok;
    }
    std::optional<QString> openFile(const FileRequest&) override {
        if (asTheDialogCloses)
            asTheDialogCloses();
        return path;
    }
    std::optional<QString> saveFile(const FileRequest&) override { return std::nullopt; }

    QString path;
    std::function<void()> asTheDialogCloses;
    QStringList messages;
};

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A JPEG whose frame header claims width x height; the rest of the file is a small page's.
QByteArray jpegClaiming(int width, int height) {
    QByteArray jpeg = encoded(TestImages::page(64, 48), "JPG");
    const qsizetype sof = jpeg.indexOf(QByteArrayLiteral("\xFF\xC0"));
    if (sof < 0)
        return {};
    qToBigEndian<quint16>(quint16(height), jpeg.data() + sof + 5);
    qToBigEndian<quint16>(quint16(width), jpeg.data() + sof + 7);
    return jpeg;
}

// A GIF whose screen and single image claim width x height, with a few bytes of data.
QByteArray gifClaiming(int width, int height) {
    QByteArray gif = TestImages::animatedGif(8, 8, {QColor(Qt::red)});
    qToLittleEndian<quint16>(quint16(width), gif.data() + 6);
    qToLittleEndian<quint16>(quint16(height), gif.data() + 8);
    const qsizetype image = gif.indexOf(char(0x2C), 13 + 3 * 128);
    if (image < 0)
        return {};
    qToLittleEndian<quint16>(quint16(width), gif.data() + image + 5);
    qToLittleEndian<quint16>(quint16(height), gif.data() + image + 7);
    return gif;
}

// A 24-bit BMP of a small page with one header field rewritten.
QByteArray bmpWith(int offset, quint32 value) {
    QByteArray bmp = encoded(TestImages::page(40, 30), "BMP");
    qToLittleEndian<quint32>(value, bmp.data() + offset);
    return bmp;
}

// A run-length BMP of width x height whose data ends at once: a few hundred bytes that
// would decode to width x height bytes.
QByteArray rleBmpClaiming(int width, int height) {
    QByteArray bmp(14 + 40 + 256 * 4, '\0');
    bmp[0] = 'B';
    bmp[1] = 'M';
    const QByteArray data("\x00\x01", 2); // end of bitmap
    qToLittleEndian<quint32>(quint32(bmp.size() + data.size()), bmp.data() + 2);
    qToLittleEndian<quint32>(quint32(bmp.size()), bmp.data() + 10);
    qToLittleEndian<quint32>(40, bmp.data() + 14);
    qToLittleEndian<qint32>(width, bmp.data() + 18);
    qToLittleEndian<qint32>(height, bmp.data() + 22);
    qToLittleEndian<quint16>(1, bmp.data() + 26);
    qToLittleEndian<quint16>(8, bmp.data() + 28);
    qToLittleEndian<quint32>(1, bmp.data() + 30); // RLE8
    qToLittleEndian<quint32>(quint32(data.size()), bmp.data() + 34);
    for (int i = 0; i < 256; ++i)
        bmp[54 + 4 * i] = bmp[55 + 4 * i] = bmp[56 + 4 * i] = char(i);
    return bmp + data;
}

// A GIF of `frames` one-pixel images on a width x height screen: a few bytes per frame in
// the file, a whole screen per frame once decoded.
QByteArray gifOfTinyFrames(int width, int height, int frames) {
    QByteArray out("GIF89a");
    const auto word = [&out](int v) {
        out.append(char(v & 0xFF));
        out.append(char((v >> 8) & 0xFF));
    };
    word(width);
    word(height);
    out.append("\x80\x00\x00", 3);             // two colours
    out.append("\xFF\xFF\xFF\x00\x00\x00", 6); // white, black
    for (int f = 0; f < frames; ++f) {
        out.append("\x21\xF9\x04\x04\x01\x00\x00\x00", 8); // keep the frame below, 1/100 s
        out.append(char(0x2C));
        word(f % width);
        word((f / width) % height);
        word(1);
        word(1);
        out.append(char(0));
        // Minimum code size 2; codes clear, 1, end at 3 bits each.
        out.append("\x02\x02\x4C\x01\x00", 5);
    }
    out.append(char(0x3B));
    return out;
}

struct Workspace {
    ChangingPrompts prompts;
    frmScanner window{prompts};
    QTemporaryDir dir;

    Workspace() {
        window.setSettingsFile(dir.filePath(QStringLiteral("settings.ini")));
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            qFatal("the workspace was not shown");
    }

    void load(const QString& path) {
        prompts.path = path;
        window.Command12_Click();
    }
};

void verifyEmpty(const frmScanner& w) {
    QVERIFY(w.document().page().isNull());
    QVERIFY(showsNoPage(w));
}

void verifyLoaded(const frmScanner& w, QSize size) {
    QCOMPARE(w.document().page().size(), size);
    QVERIFY(showsAPage(w));
    QCOMPARE(ui(w).transi->picture().size(), size);
    QVERIFY(ui(w).display.width() > 0 && ui(w).display.width() <= ui(w).pict->clientSize().width());
    QVERIFY(ui(w).display.height() > 0 && ui(w).display.height() <= ui(w).pict->clientSize().height());
}

} // namespace

class TestBadImages : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // Cases the workspace's own tests leave out: they check the image loader alone for
    // these, or do not check them at all.
    void badFileEndsEmpty_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name");
        const QByteArray bmp = encoded(TestImages::page(200, 150), "BMP");
        const QByteArray gif = TestImages::animatedGif(60, 40, {QColor(Qt::red), QColor(Qt::blue)});
        const QByteArray bmpSmall = encoded(TestImages::page(40, 30), "BMP");
        QTest::newRow("empty bmp") << QByteArray() << QStringLiteral("empty.bmp");
        QTest::newRow("empty gif") << QByteArray() << QStringLiteral("empty.gif");
        QTest::newRow("truncated bmp") << bmp.left(bmp.size() / 2) << QStringLiteral("cut.bmp");
        QTest::newRow("bmp headers only") << bmp.left(54) << QStringLiteral("cut.bmp");
        QTest::newRow("truncated gif") << gif.left(gif.size() * 3 / 4) << QStringLiteral("cut.gif");
        QTest::newRow("gif header only") << gif.left(13) << QStringLiteral("cut.gif");
        QTest::newRow("jpeg claiming 60000 x 60000")
            << jpegClaiming(60000, 60000) << QStringLiteral("bomb.jpg");
        QTest::newRow("gif claiming 60000 x 60000")
            << gifClaiming(60000, 60000) << QStringLiteral("bomb.gif");
        QTest::newRow("run-length bmp claiming 60000 x 60000")
            << rleBmpClaiming(60000, 60000) << QStringLiteral("bomb.bmp");
        {
            QByteArray tall = bmpSmall;
            qToLittleEndian<qint32>(60000, tall.data() + 22);
            QTest::newRow("bmp claiming more rows than it holds") << tall << QStringLiteral("tall.bmp");
        }
        {
            QByteArray wide = bmpSmall; // rows times row length beyond any 64-bit count
            qToLittleEndian<qint32>(0x7FFFFFFF, wide.data() + 18);
            qToLittleEndian<qint32>(0x7FFFFFFF, wide.data() + 22);
            qToLittleEndian<quint16>(0xFFFF, wide.data() + 28);
            QTest::newRow("bmp of 2^31 x 2^31 pixels of 65535 bits") << wide << QStringLiteral("wide.bmp");
        }
        QTest::newRow("bmp pixels offset past the end")
            << bmpWith(10, quint32(bmpSmall.size() + 100)) << QStringLiteral("offset.bmp");
        QTest::newRow("bmp pixels offset of 4 GB")
            << bmpWith(10, 0xFFFFFFF0u) << QStringLiteral("offset.bmp");
        QTest::newRow("bmp info header of 4 GB") << bmpWith(14, 0xFFFFFFF0u) << QStringLiteral("header.bmp");
        QTest::newRow("bmp info header of 0 bytes") << bmpWith(14, 0) << QStringLiteral("header.bmp");
        QTest::newRow("bmp of 0 bits per pixel") << [&] {
            QByteArray b = bmpSmall;
            qToLittleEndian<quint16>(0, b.data() + 28);
            return b;
        }() << QStringLiteral("bits.bmp");
        QTest::newRow("text named .jpg")
            << QByteArray("Nome: Mario\nCognome: Rossi\nFirma: \n") << QStringLiteral("modulo.jpg");
        QTest::newRow("html named .gif")
            << QByteArray("<html><body>404 Not Found</body></html>\n") << QStringLiteral("foto.gif");
        QTest::newRow("jpeg markers and nothing else")
            << QByteArray("\xFF\xD8\xFF\xD9", 4) << QStringLiteral("nulla.jpg");
    }
    void badFileEndsEmpty() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, name);
        Workspace ws;
        const QString good = ws.dir.filePath(QStringLiteral("good.png"));
        QVERIFY(TestImages::write(TestImages::page(300, 400), good, "png"));
        ws.load(good);
        verifyLoaded(ws.window, QSize(300, 400));

        const QString path = ws.dir.filePath(name);
        QVERIFY(TestImages::writeBytes(path, bytes));
        ws.load(path);
        verifyEmpty(ws.window);
        QCOMPARE(ws.window.document().path(), path);
        QVERIFY(ws.prompts.messages.isEmpty());
    }

    // A bfSize that disagrees with the file is only a field: the pixels are all there, so
    // the page loads as it is.
    void wrongFileSizeFieldStillLoads_data() {
        QTest::addColumn<quint32>("declared");
        QTest::newRow("4 GB") << 0xFFFFFFF0u;
        QTest::newRow("zero") << 0u;
    }
    void wrongFileSizeFieldStillLoads() {
        QFETCH(quint32, declared);
        Workspace ws;
        const QString path = ws.dir.filePath(QStringLiteral("page.bmp"));
        QVERIFY(TestImages::writeBytes(path, bmpWith(2, declared)));
        ws.load(path);
        verifyLoaded(ws.window, QSize(40, 30));
        QCOMPARE(ui(ws.window).transi->picture().pixel(20, 15),
                 TestImages::page(40, 30).convertToFormat(QImage::Format_RGB32).pixel(20, 15));
    }

    void fileChangedAfterTheDialog_data() {
        QTest::addColumn<int>("change");
        QTest::newRow("removed") << 0;
        QTest::newRow("emptied") << 1;
        QTest::newRow("replaced by a folder") << 2;
        QTest::newRow("made unreadable") << 3;
    }
    void fileChangedAfterTheDialog() {
        QFETCH(int, change);
        Workspace ws;
        const QString path = ws.dir.filePath(QStringLiteral("scansione.jpg"));
        QVERIFY(TestImages::write(TestImages::page(120, 90), path, "jpg"));
        ws.prompts.asTheDialogCloses = [&] {
            QVERIFY(QFile::remove(path));
            if (change == 1)
                QVERIFY(TestImages::writeBytes(path, {}));
            else if (change == 2)
                QVERIFY(QDir().mkdir(path));
            else if (change == 3) {
                QVERIFY(TestImages::write(TestImages::page(120, 90), path, "jpg"));
                QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
            }
        };
        ws.load(path);
        if (change == 3 && QFile(path).open(QIODevice::ReadOnly))
            QSKIP("running with rights that read any file");
        verifyEmpty(ws.window);
        QVERIFY(ws.prompts.messages.isEmpty());
    }

    void pathWithAccentsAndSpacesLoads_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("jpeg") << QStringLiteral("Moduli già firmati") << QStringLiteral("foto di prova è.jpg")
                              << QByteArray("jpg");
        QTest::newRow("bmp") << QStringLiteral("Città e Sàn Nicolò")
                             << QStringLiteral("firma  doppio spazio.bmp") << QByteArray("bmp");
        QTest::newRow("gif") << QStringLiteral("Ω 日本 ß") << QStringLiteral("übergröße ñ.gif")
                             << QByteArray("gif");
    }
    void pathWithAccentsAndSpacesLoads() {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(QByteArray, format);
        Workspace ws;
        QVERIFY(QDir(ws.dir.path()).mkdir(folder));
        const QString path = QDir(ws.dir.filePath(folder)).filePath(name);
        if (format == "gif")
            QVERIFY(TestImages::writeBytes(path, TestImages::animatedGif(64, 48, {QColor(Qt::green)})));
        else
            QVERIFY(TestImages::write(TestImages::page(64, 48), path, format.constData()));
        ws.load(path);
        verifyLoaded(ws.window, QSize(64, 48));
        QCOMPARE(ws.window.document().path(), path);
    }

    // Every frame of a GIF is a whole screen once decoded; thousands of tiny frames on a
    // large screen would take gigabytes and minutes. The first frames load, the rest is
    // never read.
    void gifOfThousandsOfFrames_data() {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<int>("frames");
        QTest::newRow("5000 frames on 16 x 16") << QSize(16, 16) << 5000;
        QTest::newRow("3000 frames on 2000 x 1500") << QSize(2000, 1500) << 3000;
    }
    void gifOfThousandsOfFrames() {
        QFETCH(QSize, screen);
        QFETCH(int, frames);
        Workspace ws;
        const QString path = ws.dir.filePath(QStringLiteral("animazione.gif"));
        QVERIFY(TestImages::writeBytes(path, gifOfTinyFrames(screen.width(), screen.height(), frames)));
        ws.load(path);
        verifyLoaded(ws.window, screen);
        const ImageFile& image = ws.window.document().page();
        QVERIFY(image.frameCount() >= 1);
        QVERIFY(image.frameCount() <= ImageFile::kMaxFrames);
        qint64 bytes = 0;
        for (const QImage& frame : image.frames())
            bytes += frame.sizeInBytes();
        QVERIFY(bytes <= ImageFile::kFramesBudgetMb * 1024 * 1024);
        // The first frame is the one shown: white with the first pixel black.
        QCOMPARE(image.frame(0).pixel(0, 0), qRgb(0, 0, 0));
        QCOMPARE(image.frame(0).pixel(1, 0), qRgb(255, 255, 255));
    }

    // Pages of one pixel by many still fit pict with at least one pixel a side.
    void extremeShapesLoad_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("1 x 20000") << QSize(1, 20000);
        QTest::newRow("20000 x 1") << QSize(20000, 1);
        QTest::newRow("1 x 1") << QSize(1, 1);
    }
    void extremeShapesLoad() {
        QFETCH(QSize, size);
        Workspace ws;
        QImage page(size, QImage::Format_RGB32);
        page.fill(Qt::darkBlue);
        const QString path = ws.dir.filePath(QStringLiteral("striscia.bmp"));
        QVERIFY(TestImages::write(page, path, "bmp"));
        ws.load(path);
        verifyLoaded(ws.window, size);
        // The crop works on it too.
        ws.window.Command3_Click();
        QVERIFY(ws.prompts.messages.isEmpty());
    }
};

QTEST_MAIN(TestBadImages)

#include "tst_badimages.moc"
