#include "encode/GPP2J.h"
#include "encode/QualitySearch.h"
#include "imaging/OutputKinds.h"
#include "tests/support/JpegCheck.h"
#include "tests/support/SamplePictures.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

using namespace JpegCheck;
using TestFiles::readAll;
using SizeTable = QMap<int, qint64>; // quality -> encoded size

class TestEncode : public QObject {
    Q_OBJECT
  private Q_SLOTS:
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
};

QTEST_MAIN(TestEncode)
#include "tst_encode.moc"
