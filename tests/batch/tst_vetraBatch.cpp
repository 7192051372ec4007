// vetra-batch run as the operator runs it: a separate process on page files, its exit
// code, its one line of output, and the files it leaves (or does not leave) behind.

#include "encode/GPP2J.h"
#include "encode/QualitySearch.h"
#include "imaging/FrameGeometry.h"
#include "imaging/OutputKinds.h"
#include "imaging/Straighten.h"
#include "imaging/StretchRegion.h"
#include "tests/support/BatchProcess.h"
#include "tests/support/FsFaults.h"
#include "tests/support/PageFiles.h"
#include "tests/support/PixelCompare.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using BatchProcess::kindNamed;
using BatchProcess::Run;
using BatchProcess::vetraBatch;
using BatchProcess::words;
using PixelCompare::meanDifference;

// The page as the workspace shows it; mirror is "", "h" or "v".
QImage shownPage(const QString& path, int rotation, const QString& mirror) {
    return PixelCompare::shownPage(path, rotation, mirror == QLatin1String("h"),
                                   mirror == QLatin1String("v"));
}

// The options that turn and mirror the page, none for an upright unmirrored one.
QStringList turnOptions(int rotation, const QString& mirror) {
    QStringList options;
    if (rotation != 0)
        options << QStringLiteral("--rotate") << QString::number(rotation);
    if (!mirror.isEmpty())
        options << QStringLiteral("--mirror") << mirror;
    return options;
}

QString numbers(const QRectF& rect) {
    return QStringLiteral("%1,%2,%3,%4").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
}

// The file vetra-batch wrote: kind's size, 300 dpi, within the limit, and the line it printed.
void checkOutput(const Run& run, const QString& path, OutputKind kind) {
    const OutputKindInfo& info = outputKindInfo(kind);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    const QRegularExpressionMatch line =
        QRegularExpression(QStringLiteral("^quality=(\\d+) bytes=(\\d+)\\n$")).match(run.out);
    QVERIFY2(line.hasMatch(), qPrintable(run.out));
    const QByteArray bytes = TestFiles::readAll(path);
    QCOMPARE(qint64(bytes.size()), line.captured(2).toLongLong());
    QVERIFY(bytes.size() <= info.sizeLimit);
    const int quality = line.captured(1).toInt();
    QVERIFY(quality >= 0 && quality <= 100);
    const QImage image = QImage::fromData(bytes, "JPEG");
    QCOMPARE(image.size(), info.outputSize);
    QCOMPARE(image.dotsPerMeterX(), 11811); // 300 dpi
    QCOMPARE(image.dotsPerMeterY(), 11811);
}

} // namespace

class TestVetraBatch : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_jpeg;  // 620 x 877, 4:2:0
    QString m_bmp;   // the same page, 24-bit
    QString m_large; // 1700 x 2100 JPEG: a large rectangle may be decoded reduced

    QString path(const QString& name) const { return m_dir.filePath(name); }

  private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        const QImage page = PageFiles::paintPage(620, 877);
        m_jpeg = path(QStringLiteral("page.jpg"));
        m_bmp = path(QStringLiteral("page.bmp"));
        m_large = path(QStringLiteral("large.jpg"));
        QVERIFY(PageFiles::write(m_jpeg, PageFiles::jpeg(page, 95, true)));
        QVERIFY(PageFiles::write(m_bmp, PageFiles::bmp(page, 24)));
        QVERIFY(PageFiles::write(m_large, PageFiles::jpeg(PageFiles::paintPage(1700, 2100), 92, true)));
    }

    void rect_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<QString>("mirror");
        QTest::addColumn<QRect>("rect"); // pixels of the turned page

        // Every turn and mirror once; the kind, which only sets the size and the limit, goes
        // round so that each meets every mirror and every turn.
        const char* const kinds[] = {"foto", "firma", "adr"};
        const char* const mirrors[] = {"", "h", "v"};
        for (int turn = 0; turn < 4; ++turn) {
            for (int m = 0; m < 3; ++m) {
                const char* kind = kinds[(turn + m) % 3];
                const QRect rect = turn % 2 ? QRect(130, 95, 300, 240) : QRect(95, 130, 240, 300);
                QTest::addRow("%s %d %s", kind, turn * 90, mirrors[m])
                    << QStringLiteral("jpeg") << QString::fromLatin1(kind) << turn * 90
                    << QString::fromLatin1(mirrors[m]) << rect;
            }
        }
        QTest::newRow("bmp foto 90") << QStringLiteral("bmp") << QStringLiteral("foto") << 90 << QString()
                                     << QRect(400, 300, 433, 260);
        QTest::newRow("reaching past the page") << QStringLiteral("jpeg") << QStringLiteral("foto") << 0
                                                << QString() << QRect(500, 700, 200, 240);
        QTest::newRow("large rectangle, reduced decode")
            << QStringLiteral("large") << QStringLiteral("foto") << 90 << QStringLiteral("h")
            << QRect(150, 100, 1700, 1500);
    }

    // The crop is the one Qt's whole decode, turn and mirror give: a wrong turn, mirror
    // or offset changes the picture far beyond JPEG's loss.
    void rect() {
        QFETCH(QString, page);
        QFETCH(QString, kind);
        QFETCH(int, rotation);
        QFETCH(QString, mirror);
        QFETCH(QRect, rect);
        const QString input = page == QLatin1String("bmp")     ? m_bmp
                              : page == QLatin1String("large") ? m_large
                                                               : m_jpeg;
        const QString output = path(QStringLiteral("rect-out.jpg"));
        QFile::remove(output);

        const QStringList arguments = QStringList{QStringLiteral("--kind"), kind} +
                                      turnOptions(rotation, mirror) +
                                      QStringList{QStringLiteral("--rect=") + numbers(rect), input, output};
        const Run run = vetraBatch(arguments);
        checkOutput(run, output, kindNamed(kind));
        if (QTest::currentTestFailed())
            return;

        const QSize size = outputKindInfo(kindNamed(kind)).outputSize;
        const QImage expected = stretchRegion(shownPage(input, rotation, mirror), QRectF(rect), size);
        const double difference = meanDifference(QImage(output), expected);
        QVERIFY2(difference < 6, qPrintable(QString::number(difference)));
    }

    // A straightened crop is the same crop of the whole page turned, mirrored and straightened
    // beforehand: exactly so from a page read without loss, within JPEG's loss otherwise.
    void straighten_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<QString>("mirror");
        QTest::addColumn<QString>("degrees");
        QTest::addColumn<QRect>("rect");
        const auto row = [](const char* name, const char* page, int rotation, const char* mirror,
                            const char* degrees, QRect rect) {
            QTest::newRow(name) << QString::fromLatin1(page) << rotation << QString::fromLatin1(mirror)
                                << QString::fromLatin1(degrees) << rect;
        };
        row("bmp, clockwise", "bmp", 0, "", "2.5", QRect(95, 130, 240, 300));
        row("bmp, turned, mirrored, anticlockwise", "bmp", 90, "h", "-7.25", QRect(400, 300, 433, 260));
        row("bmp, past the corner", "bmp", 270, "v", "10", QRect(-20, -30, 200, 240));
        row("large jpeg, turned", "large", 180, "", "-1.5", QRect(150, 100, 1200, 1500));
    }

    void straighten() {
        QFETCH(QString, page);
        QFETCH(int, rotation);
        QFETCH(QString, mirror);
        QFETCH(QString, degrees);
        QFETCH(QRect, rect);
        const QString input = page == QLatin1String("bmp") ? m_bmp : m_large;
        const QString output = path(QStringLiteral("straightened.jpg"));
        QFile::remove(output);
        const Run run = vetraBatch(words(QStringLiteral("--kind foto --straighten ") + degrees) +
                                   turnOptions(rotation, mirror) +
                                   QStringList{QStringLiteral("--rect"), numbers(rect), input, output});
        checkOutput(run, output, OutputKind::Foto);
        if (QTest::currentTestFailed())
            return;

        const QImage level = Straighten::page(shownPage(input, rotation, mirror), degrees.toDouble());
        const QString levelPage = path(QStringLiteral("level.bmp"));
        QVERIFY(PageFiles::write(levelPage, PageFiles::bmp(level, 24)));
        const QString expected = path(QStringLiteral("level.jpg"));
        QFile::remove(expected);
        const Run byHand = vetraBatch(words(QStringLiteral("--kind foto --rect ") + numbers(rect)) +
                                      QStringList{levelPage, expected});
        QCOMPARE(byHand.exitCode, 0);
        if (page == QLatin1String("bmp")) {
            QVERIFY(TestFiles::readAll(output) == TestFiles::readAll(expected));
        } else {
            const double difference = meanDifference(QImage(output), QImage(expected));
            QVERIFY2(difference < 3, qPrintable(QString::number(difference)));
        }
    }

    void frame_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<QString>("mirror");
        QTest::addColumn<QRectF>("frame"); // pixels of pict

        const auto row = [](const char* name, const char* kind, int rotation, const char* mirror,
                            QRectF frame) {
            QTest::newRow(name) << QString::fromLatin1(kind) << rotation << QString::fromLatin1(mirror)
                                << frame;
        };
        row("foto upright", "foto", 0, "", QRectF(80, 80, 50, 60));
        row("foto 90 h", "foto", 90, "h", QRectF(120.5, 40.25, 166, 199.2));
        row("firma 270", "firma", 270, "", QRectF(32, 248, 120, 24));
        row("adr 180 v", "adr", 180, "v", QRectF(200, 300, 150, 150));
        row("frame past the shown page", "foto", 90, "", QRectF(300, 200, 120, 144));
    }

    // A frame gives what the window's crop and save give for the same frame on the same
    // page: the page fitted into pict, the crop factor, the photo's one-pixel trim, the
    // stretch and the quality search. A BMP page is read exactly, so inside the page the
    // files are the same to the byte.
    void frame() {
        QFETCH(QString, kind);
        QFETCH(int, rotation);
        QFETCH(QString, mirror);
        QFETCH(QRectF, frame);
        const QString output = path(QStringLiteral("frame-out.jpg"));
        QFile::remove(output);

        const QStringList arguments =
            QStringList{QStringLiteral("--kind"), kind, QStringLiteral("--frame"), numbers(frame)} +
            turnOptions(rotation, mirror) + QStringList{m_bmp, output};
        const Run run = vetraBatch(arguments);
        checkOutput(run, output, kindNamed(kind));
        if (QTest::currentTestFailed())
            return;

        // The window's road, step by step.
        const OutputKind outputKind = kindNamed(kind);
        const OutputKindInfo& info = outputKindInfo(outputKind);
        const QImage full = shownPage(m_bmp, rotation, mirror);
        const QSize display = FrameGeometry::fitSize(full.size(), QSize(425, 585));
        const double factor = FrameGeometry::cropScaleFactor(full.size(), display.width(), display.height());
        const FrameRect frameRect{float(frame.x()), float(frame.y()), float(frame.width()),
                                  float(frame.height())};
        const QRectF source = FrameGeometry::cropSourceRect(outputKind, frameRect, factor);
        const QImage preview = stretchRegion(full, source, info.outputSize);
        GPP2J writer;
        const QualitySearch::Result saved =
            QualitySearch::runSequential(writer, preview, info.sizeLimit, 300, 300);
        QCOMPARE(saved.status, QualitySearch::Status::Found);

        if (frame.right() < display.width() && frame.bottom() < display.height()) {
            QCOMPARE(TestFiles::readAll(output), saved.bytes);
            QVERIFY2(run.out.startsWith(QStringLiteral("quality=%1 ").arg(saved.quality)),
                     qPrintable(run.out));
        } else {
            // Past the page's edge the region's white margin and the whole page's edge
            // blend the last pixels a little differently.
            const double difference = meanDifference(QImage(output), QImage::fromData(saved.bytes, "JPEG"));
            QVERIFY2(difference < 1.0, qPrintable(QString::number(difference)));
        }
    }

    void badInput_data() {
        QTest::addColumn<QStringList>("arguments"); // "IN" and "OUT" stand for the files
        QTest::addColumn<QByteArray>("content");    // of IN; null: IN is not created
        QTest::addColumn<int>("exitCode");

        const QByteArray page = PageFiles::jpeg(PageFiles::paintPage(300, 400), 90, true);
        const auto row = [](const char* name, const char* line, const QByteArray& content, int exitCode) {
            QTest::newRow(name) << words(QString::fromUtf8(line)) << content << exitCode;
        };
        const char* const foto = "--kind foto --rect 10,10,200,240 IN OUT";

        row("missing file", foto, QByteArray(), 3);
        row("empty file", foto, QByteArray(""), 3);
        row("text named .jpg", foto, QByteArray("questa non è un'immagine\n"), 3);
        row("truncated JPEG", foto, page.left(page.size() / 2), 3);
        // The rectangle's rows are whole; the damage lies in the rows checked while the
        // picture is made and written, so the file already written must go.
        row("JPEG cut short below the rectangle", "--kind foto --rect 10,10,50,60 IN OUT",
            page.left(page.size() * 7 / 8), 3);
        row("no kind", "IN OUT --rect 1,1,9,9", page, 2);
        row("unknown kind", "--kind passaporto --rect 1,1,9,9 IN OUT", page, 2);
        row("rotation 45", "--kind foto --rect 10,10,200,240 --rotate 45 IN OUT", page, 2);
        row("mirror x", "--kind foto --rect 10,10,200,240 --mirror x IN OUT", page, 2);
        row("three numbers", "--kind foto --rect 1,2,3 IN OUT", page, 2);
        row("zero width", "--kind foto --rect 1,2,0,3 IN OUT", page, 2);
        row("rect and frame", "--kind foto --rect 10,10,200,240 --frame 80,80,50,60 IN OUT", page, 2);
        row("no area", "--kind foto IN OUT", page, 2);
        row("no output", "--kind foto --rect 10,10,200,240 IN", page, 2);
        row("unknown option", "--kind foto --rect 10,10,200,240 --qualita 90 IN OUT", page, 2);
        row("rect off the page", "--kind foto --rect 5000,10,200,240 IN OUT", page, 2);
        row("rect far too large to read", "--kind foto --rect 0,0,1000000,1000000 IN OUT", page, 2);
        row("photo frame one pixel wide", "--kind foto --frame 80,80,1,60 IN OUT", page, 2);
        for (const char* degrees : {"10.5", "-11", "1,5", "uno", "nan", "inf", ""})
            QTest::addRow("straighten %s", degrees)
                << words(QStringLiteral("--kind foto --rect 10,10,200,240")) +
                       QStringList{QStringLiteral("--straighten"), QString::fromLatin1(degrees)} +
                       words(QStringLiteral("IN OUT"))
                << page << 2;
        row("straightened rect off the page", "--kind foto --straighten 3 --rect 5000,10,200,240 IN OUT",
            page, 2);
        row("output over the page", "--kind foto --rect 10,10,200,240 IN IN", page, 2);
        row("output in a missing folder", "--kind foto --rect 10,10,200,240 IN nessuna/cartella/out.jpg",
            page, 6);
    }

    // A mistake is said on stderr, leaves no file and ends with its own exit code.
    void badInput() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, content);
        QFETCH(int, exitCode);
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("pagina.jpg"));
        const QString out = dir.filePath(QStringLiteral("out.jpg"));
        if (!content.isNull())
            QVERIFY(PageFiles::write(in, content));
        for (QString& argument : arguments) {
            if (argument == QLatin1String("IN"))
                argument = in;
            else if (argument == QLatin1String("OUT"))
                argument = out;
            else if (argument.startsWith(QLatin1String("nessuna/")))
                argument = dir.filePath(argument);
        }

        const Run run = vetraBatch(arguments);

        QCOMPARE(run.exitCode, exitCode);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.startsWith(QLatin1String("vetra-batch: ")), qPrintable(run.err));
        QVERIFY2(run.err.count(in) <= 1, qPrintable(run.err)); // the page is named once at most
        QStringList left = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        left.removeOne(QStringLiteral("pagina.jpg"));
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char(' '))));
        if (!content.isNull())
            QCOMPARE(TestFiles::readAll(in), content);
    }

    // A picture no JPEG can squeeze under the limit: exit 4 and the old file stays.
    void limitUnreachableKeepsOldFile() {
        QTemporaryDir dir;
        QImage noise(400, 400, QImage::Format_RGB32);
        quint32 seed = 7;
        for (int y = 0; y < noise.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(noise.scanLine(y));
            for (int x = 0; x < noise.width(); ++x) {
                seed = seed * 1664525u + 1013904223u;
                line[x] = qRgb((seed >> 24) & 0x80 ? 255 : 0, (seed >> 16) & 0x80 ? 255 : 0,
                               (seed >> 8) & 0x80 ? 255 : 0);
            }
        }
        const QString in = dir.filePath(QStringLiteral("rumore.bmp"));
        const QString out = dir.filePath(QStringLiteral("out.jpg"));
        QVERIFY(PageFiles::write(in, PageFiles::bmp(noise, 24)));
        QVERIFY(PageFiles::write(out, QByteArray("vecchio")));

        const Run run =
            vetraBatch(words(QStringLiteral("--kind adr --rect 0,0,400,400")) + QStringList{in, out});

        QCOMPARE(run.exitCode, 4);
        QVERIFY2(run.err.contains(QLatin1String("9.900")), qPrintable(run.err));
        QCOMPARE(TestFiles::readAll(out), QByteArray("vecchio"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
    }

    // Every image of the folder with the same options; one that fails does not stop the
    // others, and the exit code says that something failed.
    void folder() {
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("pagine"));
        const QString out = dir.filePath(QStringLiteral("uscita/foto"));
        QVERIFY(QDir().mkpath(in));
        QVERIFY(QFile::copy(m_jpeg, in + QStringLiteral("/a.jpg")));
        QVERIFY(QFile::copy(m_bmp, in + QStringLiteral("/b.bmp")));
        QVERIFY(PageFiles::write(in + QStringLiteral("/c.jpg"), QByteArray("non è un JPEG")));
        QVERIFY(PageFiles::write(in + QStringLiteral("/note.txt"), QByteArray("ignorato")));
        const QStringList options = words(QStringLiteral("--kind foto --rotate 90 --frame 80,80,100,120"));

        Run run = vetraBatch(options + QStringList{in, out});

        QCOMPARE(run.exitCode, 1);
        const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines.at(0).startsWith(QLatin1String("[1/3] a.jpg -> a.jpg quality=")),
                 qPrintable(lines.at(0)));
        QVERIFY2(lines.at(1).startsWith(QLatin1String("[2/3] b.bmp -> b.jpg quality=")),
                 qPrintable(lines.at(1)));
        QVERIFY2(lines.at(2).contains(QLatin1String("2 salvate, 1 non riuscite")), qPrintable(lines.at(2)));
        QVERIFY2(run.err.startsWith(QLatin1String("[3/3] c.jpg: ERRORE: ")), qPrintable(run.err));
        QCOMPARE(run.err.count(QLatin1String("c.jpg")), 1);
        QCOMPARE(QDir(out).entryList(QDir::Files),
                 (QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.jpg")}));
        for (const QString& name : {QStringLiteral("a.jpg"), QStringLiteral("b.jpg")}) {
            const QImage saved(out + QLatin1Char('/') + name);
            QCOMPARE(saved.size(), QSize(400, 480));
            QVERIFY(QFileInfo(out + QLatin1Char('/') + name).size() <= 34900);
        }

        // Without the bad page everything is saved; the same folder for both ends is refused.
        QVERIFY(QFile::remove(in + QStringLiteral("/c.jpg")));
        run = vetraBatch(options + QStringList{in, out});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.err.isEmpty());
        run = vetraBatch(options + QStringList{in, in});
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(QDir(in).entryList(QDir::Files).size(), 3);
    }

    // Every page of a folder is done and reported on one line: names that are not UTF-8,
    // hidden pages, names with a newline (shown escaped, so they cannot forge a line), and
    // pages whose outputs would share a name on a disk that ignores case: the later one in
    // name order gets "-2". Nothing is written over another page's output.
    void folderPagesOfEveryName() {
        QTemporaryDir dir;
        const QByteArray in = QFile::encodeName(dir.filePath(QStringLiteral("pagine")));
        const QString out = dir.filePath(QStringLiteral("uscita"));
        QVERIFY(QDir().mkpath(QFile::decodeName(in)));
        const QByteArray bmp = TestFiles::readAll(m_bmp);
        // Another picture, so each saved file tells which page it came from.
        const QByteArray other =
            PageFiles::jpeg(PageFiles::paintPage(400, 300).mirrored(true, true), 95, true);
        const QList<std::pair<QByteArray, QByteArray>> pages{{"Twin.jpg", bmp},
                                                             {"twin.JPG", other},
                                                             {"caf\xe9.jpg", other},
                                                             {".jpg", bmp},
                                                             {"a\n8 pagine: 8 salvate.jpg", bmp},
                                                             {"modulo.bmp", bmp},
                                                             {"modulo.jpg", other},
                                                             {"modulo-2.jpg", bmp}};
        // Qt cannot name the file that is not UTF-8, so the folder's own cleanup would leave it.
        struct Unlink {
            QByteArray path;
            ~Unlink() { ::unlink(path.constData()); }
        } latin1{in + "/caf\xe9.jpg"};
        for (const auto& [name, bytes] : pages) {
            QFile file;
            const int fd = ::open((in + '/' + name).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY2(fd >= 0, name.constData());
            QVERIFY(file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
            QCOMPARE(file.write(bytes), bytes.size());
        }

        const Run run = vetraBatch(words(QStringLiteral("--kind firma --rect 10,10,375,72")) +
                                   QStringList{QFile::decodeName(in), out});

        QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 9);
        QCOMPARE(lines.constLast(), QStringLiteral("8 pagine: 8 salvate, 0 non riuscite"));
        QStringList reported;
        for (const QString& line : lines.mid(0, 8)) {
            const QRegularExpression shape(
                QStringLiteral("^\\[\\d/8\\] (.*) -> (.*) quality=\\d+ bytes=\\d+$"));
            const auto match = shape.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            reported << match.captured(1) + QStringLiteral(" => ") + match.captured(2);
        }
        reported.sort();
        QStringList expected{QStringLiteral(".jpg => .jpg"),
                             QStringLiteral("Twin.jpg => Twin.jpg"),
                             QStringLiteral("a\\n8 pagine: 8 salvate.jpg => a\\n8 pagine: 8 salvate.jpg"),
                             QStringLiteral("caf\\351.jpg => caf\u00e9.jpg"),
                             QStringLiteral("modulo-2.jpg => modulo-2.jpg"),
                             QStringLiteral("modulo.bmp => modulo.jpg"),
                             QStringLiteral("modulo.jpg => modulo-3.jpg"),
                             QStringLiteral("twin.JPG => twin-2.jpg")};
        expected.sort();
        QCOMPARE(reported, expected);
        // Each output is its own page's.
        const QImage fromBmp = stretchRegion(QImage(m_bmp), QRectF(10, 10, 375, 72), QSize(375, 72));
        for (const QString& name : {QStringLiteral("Twin.jpg"), QStringLiteral("modulo.jpg"),
                                    QStringLiteral("modulo-2.jpg"), QStringLiteral(".jpg")})
            QVERIFY2(meanDifference(QImage(out + QLatin1Char('/') + name), fromBmp) < 3, qPrintable(name));
        for (const QString& name :
             {QStringLiteral("twin-2.jpg"), QStringLiteral("modulo-3.jpg"), QStringLiteral("caf\u00e9.jpg")})
            QVERIFY2(meanDifference(QImage(out + QLatin1Char('/') + name), fromBmp) > 10, qPrintable(name));
        QCOMPARE(TestFiles::everything(out).size(), 8);
    }

    // A folder run reports and counts every page that fails, in Italian words, and does not
    // wait on a pipe named like a page; the exit code says that some failed.
    void folderReportsEveryFailure() {
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("pagine"));
        const QString out = dir.filePath(QStringLiteral("uscita"));
        QVERIFY(QDir().mkpath(in));
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0777) == 0);
        QVERIFY(::chmod(QFile::encodeName(in).constData(), 0755) == 0);
        QVERIFY(QFile::copy(m_jpeg, in + QStringLiteral("/a.jpg")));
        QVERIFY(QFile::copy(m_jpeg, in + QStringLiteral("/b.jpg")));
        QVERIFY(::chmod(QFile::encodeName(in + QStringLiteral("/a.jpg")).constData(), 0644) == 0);
        QVERIFY(::chmod(QFile::encodeName(in + QStringLiteral("/b.jpg")).constData(), 0) == 0);
        QVERIFY(::mkfifo(QFile::encodeName(in + QStringLiteral("/c.jpg")).constData(), 0644) == 0);

        const Run run = vetraBatch(
            words(QStringLiteral("--kind firma --rect 10,10,375,72")) + QStringList{in, out}, true);

        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.out.startsWith(QLatin1String("[1/3] a.jpg -> a.jpg quality=")), qPrintable(run.out));
        QVERIFY2(run.out.contains(QLatin1String("3 pagine: 1 salvate, 2 non riuscite")), qPrintable(run.out));
        const QStringList errors = run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(errors.size(), 2);
        QCOMPARE(errors.at(0), QStringLiteral("[2/3] b.jpg: ERRORE: permesso negato"));
        QVERIFY2(errors.at(1).startsWith(QLatin1String("[3/3] c.jpg: ERRORE: ")) &&
                     errors.at(1).contains(QLatin1String("speciale")),
                 qPrintable(errors.at(1)));
        QCOMPARE(QDir(out).entryList(QDir::Files), QStringList{QStringLiteral("a.jpg")});
    }

    // A folder without pages is refused before the output folder is made.
    void folderWithoutPages() {
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("vuota"));
        const QString out = dir.filePath(QStringLiteral("uscita"));
        QVERIFY(QDir().mkpath(in));
        QVERIFY(PageFiles::write(in + QStringLiteral("/note.txt"), QByteArray("nessuna pagina")));
        const Run run =
            vetraBatch(words(QStringLiteral("--kind foto --rect 0,0,10,10")) + QStringList{in, out});
        QCOMPARE(run.exitCode, 3);
        QVERIFY(!QFileInfo::exists(out));
    }

    // A disk that fills during the write: the command says so in Italian and fails; the old
    // file stays whole, and nothing else is left. Single file and folder, with and without
    // an old file, run as an ordinary user on a small tmpfs.
    void fullDisk_data() {
        QTest::addColumn<bool>("folder");
        QTest::addColumn<bool>("existing");
        QTest::newRow("one page, new file") << false << false;
        QTest::newRow("one page, replacing") << false << true;
        QTest::newRow("folder, new files") << true << false;
        QTest::newRow("folder, replacing") << true << true;
    }

    void fullDisk() {
        QFETCH(bool, folder);
        QFETCH(bool, existing);
        QTemporaryDir pages;
        QVERIFY(::chmod(QFile::encodeName(pages.path()).constData(), 0755) == 0);
        const QString page = pages.filePath(QStringLiteral("a.jpg"));
        QVERIFY(QFile::copy(m_jpeg, page));
        QVERIFY(::chmod(QFile::encodeName(page).constData(), 0644) == 0);
        if (folder) {
            QVERIFY(QFile::copy(m_jpeg, pages.filePath(QStringLiteral("b.jpg"))));
            QVERIFY(::chmod(QFile::encodeName(pages.filePath(QStringLiteral("b.jpg"))).constData(), 0644) ==
                    0);
        }

        QTemporaryDir dir;
        fsfaults::SmallDisk disk(dir.path(), 64 * 1024);
        if (!disk.active())
            QSKIP(qPrintable(disk.reason()));
        const QString out = dir.filePath(QStringLiteral("a.jpg"));
        const QByteArray old("the earlier photo, whole");
        if (existing)
            TestFiles::writeFile(out, old);
        // Less than any photo needs.
        QVERIFY(disk.fillLeaving(4096));
        const QStringList before = TestFiles::everything(dir.path());

        const QStringList options = words(QStringLiteral("--kind foto --rect 20,20,400,480"));
        const Run run =
            vetraBatch(options + QStringList{folder ? pages.path() : page, folder ? dir.path() : out}, true);

        QVERIFY2(run.err.contains(QLatin1String("spazio esaurito sul disco")), qPrintable(run.err));
        if (folder) {
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.out.contains(QLatin1String("2 pagine: 0 salvate, 2 non riuscite")),
                     qPrintable(run.out));
        } else {
            QCOMPARE(run.exitCode, 6);
            QVERIFY(run.out.isEmpty());
        }
        QCOMPARE(TestFiles::everything(dir.path()), before);
        if (existing)
            QCOMPARE(TestFiles::readAll(out), old);
    }
};

QTEST_GUILESS_MAIN(TestVetraBatch)
#include "tst_vetraBatch.moc"
