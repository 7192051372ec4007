#include "encode/GPP2J.h"
#include "encode/QualitySearch.h"
#include "tests/support/SamplePictures.h"
#include "tests/support/ScriptedPrompts.h"
#include "workspace/SaveCommand.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <array>

Q_DECLARE_METATYPE(OutputKind)

using SizeTable = QMap<int, qint64>; // quality -> encoded size

namespace {

// What an outside tool would read from a JPEG file's markers.
struct JpegFacts {
    bool valid = false;
    bool baseline = false; // SOF0 and no other frame type
    int width = 0;
    int height = 0;
    QList<int> sampling; // h * 10 + v per component
    bool jfif = false;
    int densityUnit = -1;
    int xDensity = 0;
    int yDensity = 0;
    QList<int> lumaQuant; // table 0, as stored
};

int be16(const QByteArray& b, qsizetype at) {
    return (quint8(b.at(at)) << 8) | quint8(b.at(at + 1));
}

JpegFacts readFacts(const QByteArray& b) {
    JpegFacts f;
    if (b.size() < 4 || quint8(b[0]) != 0xFF || quint8(b[1]) != 0xD8)
        return f;
    bool otherFrame = false;
    bool sof0 = false;
    qsizetype at = 2;
    while (at + 4 <= b.size()) {
        if (quint8(b[at]) != 0xFF)
            return f;
        const int marker = quint8(b[at + 1]);
        const int length = be16(b, at + 2);
        const qsizetype body = at + 4;
        if (marker == 0xDA)
            break; // scan data follows
        if (marker == 0xE0 && b.mid(body, 5) == QByteArray("JFIF", 5)) {
            f.jfif = true;
            f.densityUnit = quint8(b[body + 7]);
            f.xDensity = be16(b, body + 8);
            f.yDensity = be16(b, body + 10);
        } else if (marker == 0xDB) {
            for (qsizetype t = body; t < at + 2 + length;) {
                const int precision = quint8(b[t]) >> 4;
                const int id = quint8(b[t]) & 15;
                for (int i = 0; i < 64; ++i) {
                    const int v = precision ? be16(b, t + 1 + 2 * i) : quint8(b[t + 1 + i]);
                    if (id == 0)
                        f.lumaQuant << v;
                }
                t += 1 + 64 * (precision ? 2 : 1);
            }
        } else if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            sof0 = marker == 0xC0;
            otherFrame = otherFrame || marker != 0xC0;
            f.height = be16(b, body + 1);
            f.width = be16(b, body + 3);
            const int count = quint8(b[body + 5]);
            for (int c = 0; c < count; ++c) {
                const int s = quint8(b[body + 6 + 3 * c + 1]);
                f.sampling << (s >> 4) * 10 + (s & 15);
            }
        }
        at += 2 + length;
    }
    f.baseline = sof0 && !otherFrame;
    f.valid = true;
    return f;
}

// The luminance quantisers a libjpeg-style encoder writes for a quality, sorted (the
// order in the file does not matter for telling qualities apart).
QList<int> expectedLumaQuant(int quality) {
    static constexpr std::array<int, 64> annexK{
        16, 11,  10,  16, 24, 40, 51, 61, 12,  12,  14,  19,  26, 58, 60, 55,  14,  13,  16,  24, 40, 57,
        69, 56,  14,  17, 22, 29, 51, 87, 80,  62,  18,  22,  37, 56, 68, 109, 103, 77,  24,  35, 55, 64,
        81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98,  112, 100, 103, 99};
    const int q = std::clamp(quality, 1, 100);
    const int scale = q < 50 ? 5000 / q : 200 - 2 * q;
    QList<int> table;
    for (int v : annexK)
        table << std::clamp((v * scale + 50) / 100, 1, 255);
    std::sort(table.begin(), table.end());
    return table;
}

QList<int> sorted(QList<int> list) {
    std::sort(list.begin(), list.end());
    return list;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QImage decode(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer, "jpeg");
    return reader.read();
}

QImage pictureFor(const QString& name, QSize size) {
    if (name == QLatin1String("photo"))
        return SamplePictures::photo(size);
    if (name == QLatin1String("signature"))
        return SamplePictures::signature(size);
    return SamplePictures::noisyPhoto(size);
}

} // namespace

class TestEncode : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void savedFilePerKind_data() {
        QTest::addColumn<OutputKind>("kind");
        QTest::addColumn<QString>("picture");
        for (const OutputKindInfo& info : kOutputKinds) {
            for (const char* picture : {"photo", "signature", "noisy"}) {
                QTest::addRow("%s %s", info.frameName, picture) << info.kind << QString::fromLatin1(picture);
            }
        }
    }

    // The files are judged as an outside tool would judge them: markers, decoded size,
    // the quality that their quantisers reveal.
    void savedFilePerKind() {
        QFETCH(OutputKind, kind);
        QFETCH(QString, picture);
        const OutputKindInfo& info = outputKindInfo(kind);
        const QImage image = pictureFor(picture, info.outputSize);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.jpg"));
        ScriptedPrompts prompts;
        prompts.fileAnswers << path;

        const SaveCommand::Report report = SaveCommand::run(prompts, kind, image, true);

        QCOMPARE(report.outcome, SaveCommand::Outcome::Saved);
        QVERIFY(prompts.messages.isEmpty());
        QCOMPARE(prompts.saveRequests.size(), 1);
        const Prompts::FileRequest& request = prompts.saveRequests.constFirst();
        QCOMPARE(request.title, QStringLiteral("Salva con nome"));
        QCOMPARE(request.fileName, QString::fromLatin1(info.defaultFileName));
        QVERIFY(request.confirmOverwrite);
        QVERIFY(request.filters.value(0).contains(QLatin1String("*.jpg")));

        const QByteArray bytes = readAll(path);
        QCOMPARE(bytes.size(), report.size);
        QVERIFY2(bytes.size() <= info.sizeLimit, qPrintable(QString::number(bytes.size())));
        const JpegFacts facts = readFacts(bytes);
        QVERIFY(facts.valid);
        QVERIFY(facts.baseline);
        QCOMPARE(QSize(facts.width, facts.height), info.outputSize);
        QCOMPARE(facts.sampling, (QList<int>{22, 11, 11}));
        QVERIFY(facts.jfif);
        QCOMPARE(facts.densityUnit, 1);
        QCOMPARE(facts.xDensity, 300);
        QCOMPARE(facts.yDensity, 300);
        QCOMPARE(sorted(facts.lumaQuant), expectedLumaQuant(report.quality));
        QCOMPARE(decode(bytes).size(), info.outputSize);

        // The best quality that fits: the next one up would not have.
        if (report.quality < 100) {
            GPP2J writer;
            const QByteArray higher = writer.encode(image, report.quality + 1, 300, 300);
            QVERIFY(higher.size() > info.sizeLimit);
        }
    }

    void searchBoundaries_data() {
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<SizeTable>("sizes"); // qualities not listed: limit + 1
        QTest::addColumn<int>("failAt");      // quality whose encode fails, or -1
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("encodes");

        const int found = int(QualitySearch::Status::Found);
        for (const OutputKindInfo& info : kOutputKinds) {
            const qint64 l = info.sizeLimit;
            QTest::addRow("%s: 100 exactly at the limit", info.frameName)
                << l << SizeTable{{100, l}} << -1 << found << 100 << 1;
            QTest::addRow("%s: one byte over, then exactly at", info.frameName)
                << l << SizeTable{{100, l + 1}, {99, l}} << -1 << found << 99 << 2;
        }
        QTest::newRow("well under at 100") << qint64(9900) << SizeTable{{100, 10}} << -1 << found << 100 << 1;
        QTest::newRow("one byte over twice")
            << qint64(9900) << SizeTable{{98, 9900}} << -1 << found << 98 << 3;
        QTest::newRow("first fit wins over a larger lower quality")
            << qint64(9900) << SizeTable{{97, 9899}, {96, 9000}} << -1 << found << 97 << 4;
        QTest::newRow("only the lowest fits") << qint64(9900) << SizeTable{{0, 1}} << -1 << found << 0 << 101;
        QTest::newRow("nothing fits")
            << qint64(9900) << SizeTable{} << -1 << int(QualitySearch::Status::LimitUnreachable) << 0 << 101;
        QTest::newRow("encoder fails on the way") << qint64(9900) << SizeTable{{90, 100}} << 95
                                                  << int(QualitySearch::Status::EncodeFailed) << 95 << 6;
    }

    void searchBoundaries() {
        QFETCH(qint64, limit);
        QFETCH(SizeTable, sizes);
        QFETCH(int, failAt);
        QFETCH(int, status);
        QFETCH(int, quality);
        QFETCH(int, encodes);

        QList<int> asked;
        const auto fake = [&](int q) {
            asked << q;
            if (q == failAt)
                return QByteArray();
            return QByteArray(sizes.value(q, limit + 1), char(q));
        };
        const QualitySearch::Result result = QualitySearch::run(fake, limit);

        QCOMPARE(int(result.status), status);
        QCOMPARE(result.quality, quality);
        QCOMPARE(result.encodes, encodes);
        QCOMPARE(asked.size(), encodes);
        for (int i = 0; i < asked.size(); ++i)
            QCOMPARE(asked.at(i), 100 - i);
        if (result.status == QualitySearch::Status::Found)
            QCOMPARE(result.bytes, QByteArray(sizes.value(quality), char(quality)));
        else
            QVERIFY(result.bytes.isEmpty());
    }

    void density_data() {
        QTest::addColumn<int>("dpmX");
        QTest::addColumn<int>("dpmY");
        QTest::addColumn<int>("xdpi");
        QTest::addColumn<int>("ydpi");
        QTest::addColumn<int>("expectX");
        QTest::addColumn<int>("expectY");
        QTest::newRow("given 300 x 300") << 3780 << 3780 << 300 << 300 << 300 << 300;
        QTest::newRow("given, unequal axes") << 3780 << 3780 << 72 << 144 << 72 << 144;
        QTest::newRow("xdpi 0: own 300") << 11811 << 11811 << 0 << 300 << 300 << 300;
        QTest::newRow("xdpi 0: own 200 x 100, ydpi ignored") << 7874 << 3937 << 0 << 300 << 200 << 100;
        QTest::newRow("xdpi 0: own 96") << 3780 << 3780 << 0 << 0 << 96 << 96;
    }

    void density() {
        QFETCH(int, dpmX);
        QFETCH(int, dpmY);
        QFETCH(int, xdpi);
        QFETCH(int, ydpi);
        QFETCH(int, expectX);
        QFETCH(int, expectY);
        QImage image = SamplePictures::photo(QSize(40, 48));
        image.setDotsPerMeterX(dpmX);
        image.setDotsPerMeterY(dpmY);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("d.jpg"));
        GPP2J writer;
        QVERIFY(writer.JpegSaveFromPicture(image, 90, path, xdpi, ydpi));
        const JpegFacts facts = readFacts(readAll(path));
        QCOMPARE(facts.densityUnit, 1);
        QCOMPARE(facts.xDensity, expectX);
        QCOMPARE(facts.yDensity, expectY);
    }

    void qualityClamp_data() {
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("sameAs");
        QTest::newRow("below 0 is 0") << -7 << 0;
        QTest::newRow("0 encodes as 1") << 0 << 1;
        QTest::newRow("above 100 is 100") << 250 << 100;
    }

    void qualityClamp() {
        QFETCH(int, quality);
        QFETCH(int, sameAs);
        const QImage image = SamplePictures::photo(QSize(64, 64));
        GPP2J writer;
        const QByteArray a = writer.encode(image, quality, 300, 300);
        QVERIFY(!a.isEmpty());
        QCOMPARE(a, writer.encode(image, sameAs, 300, 300));
        QVERIFY(a != writer.encode(image, 50, 300, 300));
    }

    // Colours must survive every pixel layout a picture surface may hand over.
    void pixelFormats_data() {
        QTest::addColumn<int>("format");
        for (QImage::Format f :
             {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied,
              QImage::Format_RGB888, QImage::Format_RGBX8888, QImage::Format_RGBA8888, QImage::Format_RGB16,
              QImage::Format_Indexed8, QImage::Format_BGR888})
            QTest::addRow("format %d", int(f)) << int(f);
    }

    void pixelFormats() {
        QFETCH(int, format);
        QImage source(64, 32, QImage::Format_RGB32);
        source.fill(QColor(220, 20, 30));
        for (int y = 0; y < 32; ++y) {
            for (int x = 32; x < 64; ++x)
                source.setPixel(x, y, qRgb(20, 40, 210));
        }
        const QImage image = source.convertToFormat(QImage::Format(format));
        GPP2J writer;
        const QImage back = decode(writer.encode(image, 95, 300, 300));
        QCOMPARE(back.size(), QSize(64, 32));
        const auto near = [](QRgb a, QRgb b) {
            return qAbs(qRed(a) - qRed(b)) < 24 && qAbs(qGreen(a) - qGreen(b)) < 24 &&
                   qAbs(qBlue(a) - qBlue(b)) < 24;
        };
        QVERIFY2(near(back.pixel(12, 16), qRgb(220, 20, 30)),
                 qPrintable(QString::number(back.pixel(12, 16), 16)));
        QVERIFY2(near(back.pixel(52, 16), qRgb(20, 40, 210)),
                 qPrintable(QString::number(back.pixel(52, 16), 16)));
    }

    void transparentPixelsOnWhite() {
        QImage image(32, 32, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        GPP2J writer;
        const QImage back = decode(writer.encode(image, 95, 300, 300));
        QVERIFY(qGray(back.pixel(16, 16)) > 245);
    }

    // libjpeg's own fatal errors come back as a false result, and the writer works on.
    void encoderErrors() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("e.jpg"));
        GPP2J writer;
        QVERIFY(!writer.JpegSaveFromPicture(QImage(), 90, path, 300, 300));
        QVERIFY(!writer.lastError().isEmpty());
        QVERIFY(!writer.JpegSaveFromPicture(QImage(70000, 1, QImage::Format_RGB32), 90, path, 300, 300));
        QVERIFY2(writer.lastError().contains(QLatin1String("dimension"), Qt::CaseInsensitive),
                 qPrintable(writer.lastError()));
        QVERIFY(!writer.JpegSaveFromPicture(SamplePictures::photo(QSize(8, 8)), 90, path, 300, 0));
        QVERIFY(!QFile::exists(path));
        QVERIFY(writer.JpegSaveFromPicture(SamplePictures::photo(QSize(8, 8)), 90, path, 300, 300));
        QVERIFY(writer.lastError().isEmpty());
    }

    void saveReplacesFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("r.jpg"));
        const QImage image = SamplePictures::photo(QSize(120, 144));
        GPP2J writer;
        QVERIFY(writer.JpegSaveFromPicture(image, 100, path, 300, 300));
        QVERIFY(writer.JpegSaveFromPicture(image, 40, path, 300, 300));
        QCOMPARE(readAll(path), writer.encode(image, 40, 300, 300));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("r.jpg")});
    }

    void unwritableTarget_data() {
        QTest::addColumn<QString>("target"); // relative to a temporary folder unless absolute
        QTest::newRow("inside a regular file") << QStringLiteral("plain.txt/foto.jpg");
        QTest::newRow("missing folder") << QStringLiteral("missing/foto.jpg");
        QTest::newRow("kernel folder") << QStringLiteral("/proc/vetra-foto.jpg");
        QTest::newRow("a folder's name") << QStringLiteral("folder.jpg");
    }

    void unwritableTarget() {
        QFETCH(QString, target);
        QTemporaryDir dir;
        QFile plain(dir.filePath(QStringLiteral("plain.txt")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.jpg")));
        const QString path = QDir::isAbsolutePath(target) ? target : dir.filePath(target);
        ScriptedPrompts prompts;
        prompts.fileAnswers << path;

        const SaveCommand::Report report =
            SaveCommand::run(prompts, OutputKind::Firma,
                             SamplePictures::signature(outputKindInfo(OutputKind::Firma).outputSize), true);

        QCOMPARE(report.outcome, SaveCommand::Outcome::WriteFailed);
        QCOMPARE(prompts.messages.size(), 1);
        const QString text = prompts.messages.constFirst();
        QVERIFY2(text.startsWith(QStringLiteral("Impossibile salvare il file ") + path +
                                 QStringLiteral(".\nMotivo: ")),
                 qPrintable(text));
        QVERIFY(text.size() > (QStringLiteral("Impossibile salvare il file .\nMotivo: ") + path).size());
        QVERIFY(!QFileInfo(path).isFile());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
                 (QStringList{QStringLiteral("folder.jpg"), QStringLiteral("plain.txt")}));
    }

    void previewVisibility_data() {
        QTest::addColumn<OutputKind>("kind");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<bool>("written");
        QTest::newRow("photo hidden") << OutputKind::Foto << false << false;
        QTest::newRow("photo shown") << OutputKind::Foto << true << true;
        QTest::newRow("ADR-CQC hidden") << OutputKind::AdrCqc << false << false;
        QTest::newRow("ADR-CQC shown") << OutputKind::AdrCqc << true << true;
        QTest::newRow("signature hidden") << OutputKind::Firma << false << true;
        QTest::newRow("signature shown") << OutputKind::Firma << true << true;
    }

    void previewVisibility() {
        QFETCH(OutputKind, kind);
        QFETCH(bool, visible);
        QFETCH(bool, written);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("v.jpg"));
        ScriptedPrompts prompts;
        prompts.fileAnswers << path;

        const SaveCommand::Report report =
            SaveCommand::run(prompts, kind, SamplePictures::photo(outputKindInfo(kind).outputSize), visible);

        QCOMPARE(prompts.saveRequests.size(), 1); // the dialog is shown either way
        QVERIFY(prompts.messages.isEmpty());
        QCOMPARE(QFile::exists(path), written);
        QCOMPARE(report.outcome, written ? SaveCommand::Outcome::Saved : SaveCommand::Outcome::PreviewHidden);
    }

    void cancelledDialog_data() {
        QTest::addColumn<std::optional<QString>>("answer");
        QTest::newRow("cancel") << std::optional<QString>();
        QTest::newRow("empty name") << std::optional<QString>(QString());
    }

    void cancelledDialog() {
        QFETCH(std::optional<QString>, answer);
        ScriptedPrompts prompts;
        prompts.fileAnswers << answer;
        const SaveCommand::Report report =
            SaveCommand::run(prompts, OutputKind::Firma, SamplePictures::signature(QSize(375, 72)), true);
        QCOMPARE(report.outcome, SaveCommand::Outcome::Cancelled);
        QVERIFY(prompts.messages.isEmpty());
    }

    void jpegExtension_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("used");
        QTest::newRow("bare") << QStringLiteral("/tmp/firma") << QStringLiteral("/tmp/firma.jpg");
        QTest::newRow("trailing dot") << QStringLiteral("/tmp/firma.") << QStringLiteral("/tmp/firma.jpg");
        QTest::newRow("dotted folder")
            << QStringLiteral("/tmp/a.b/foto") << QStringLiteral("/tmp/a.b/foto.jpg");
        QTest::newRow("jpg kept") << QStringLiteral("/tmp/foto.JPG") << QStringLiteral("/tmp/foto.JPG");
        QTest::newRow("other extension kept")
            << QStringLiteral("/tmp/foto.jpeg") << QStringLiteral("/tmp/foto.jpeg");
    }

    void jpegExtension() {
        QFETCH(QString, typed);
        QFETCH(QString, used);
        QCOMPARE(SaveCommand::withJpegExtension(typed), used);
    }

    // A completed name that already exists is only replaced after the operator agrees.
    void completedNameAsksBeforeReplacing_data() {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("new file, no question") << false << -1 << true;
        QTest::newRow("existing, yes") << true << int(Prompts::Answer::Yes) << true;
        QTest::newRow("existing, no") << true << int(Prompts::Answer::No) << false;
    }

    void completedNameAsksBeforeReplacing() {
        QFETCH(bool, exists);
        QFETCH(int, answer);
        QFETCH(bool, replaced);
        QTemporaryDir dir;
        const QString typed = dir.filePath(QStringLiteral("firma"));
        const QString final = typed + QStringLiteral(".jpg");
        if (exists) {
            QFile old(final);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old");
        }
        ScriptedPrompts prompts;
        prompts.fileAnswers << typed;
        if (answer >= 0)
            prompts.answers << Prompts::Answer(answer);

        const SaveCommand::Report report =
            SaveCommand::run(prompts, OutputKind::Firma, SamplePictures::signature(QSize(375, 72)), true);

        QCOMPARE(prompts.messages.size(), exists ? 1 : 0);
        if (exists) {
            QCOMPARE(prompts.messages.constFirst(), final + QStringLiteral(" esiste già.\nSostituirlo?"));
            QCOMPARE(prompts.messageButtons.constFirst(), Prompts::Buttons::YesNo);
        }
        QCOMPARE(report.outcome,
                 replaced ? SaveCommand::Outcome::Saved : SaveCommand::Outcome::ReplaceDeclined);
        QCOMPARE(readAll(final) == QByteArray("old"), !replaced);
        QVERIFY(!QFile::exists(typed));
    }

    // Failures the operator is told about; nothing is written.
    void reportedFailures_data() {
        QTest::addColumn<OutputKind>("kind");
        QTest::addColumn<QImage>("image");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("message");
        QTest::newRow("limit out of reach")
            << OutputKind::AdrCqc << SamplePictures::harshNoise(QSize(400, 400))
            << int(SaveCommand::Outcome::LimitUnreachable)
            << QStringLiteral(
                   "Impossibile salvare l'immagine entro il limite di 9.900 byte, nemmeno alla qualità "
                   "minima.\nIl file non è stato scritto.");
        QTest::newRow("empty preview")
            << OutputKind::Foto << QImage() << int(SaveCommand::Outcome::EncodeFailed)
            << QStringLiteral(
                   "Impossibile creare l'immagine JPEG: immagine vuota.\nIl file non è stato scritto.");
    }

    void reportedFailures() {
        QFETCH(OutputKind, kind);
        QFETCH(QImage, image);
        QFETCH(int, outcome);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("n.jpg"));
        ScriptedPrompts prompts;
        prompts.fileAnswers << path;

        const SaveCommand::Report report = SaveCommand::run(prompts, kind, image, true);

        QCOMPARE(int(report.outcome), outcome);
        QCOMPARE(prompts.messages, QStringList{message});
        QVERIFY(!QFile::exists(path));
    }
};

QTEST_MAIN(TestEncode)
#include "tst_encode.moc"
