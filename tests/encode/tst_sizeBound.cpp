// The size model must predict the encoder's symbols exactly at every quality, and its
// bounds must never exceed the file: the quality search rules qualities out on them.

#include "encode/GPP2J.h"
#include "encode/JpegSizeBound.h"
#include "tests/support/SamplePictures.h"

#include <QtTest>

class TestSizeBound : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void everyQuality_data() {
        QTest::addColumn<QImage>("picture");
        // The three kinds' sizes, and sizes whose last MCU is cut on either side or both.
        const QSize sizes[] = {{400, 480}, {375, 72}, {400, 400}, {37, 23},
                               {1, 1},     {17, 9},   {401, 399}, {16, 33}};
        int index = 0;
        for (const QSize size : sizes) {
            for (int i = 0; i < 2; ++i, ++index) {
                const QImage picture = SamplePictures::varied(index * 5, size);
                QTest::addRow("%dx%d, picture %d", size.width(), size.height(), index * 5) << picture;
            }
        }
        const QImage photo = SamplePictures::noisyPhoto(QSize(120, 90));
        QTest::newRow("24-bit RGB") << photo.convertToFormat(QImage::Format_RGB888);
        QTest::newRow("RGBX") << photo.convertToFormat(QImage::Format_RGBX8888);
    }

    void everyQuality() {
        QFETCH(QImage, picture);
        const JpegSizeBound model(picture);
        QVERIFY(model.usable());
        GPP2J writer;
        qint64 lastMonotone = 0;
        for (int quality = 0; quality <= 100; ++quality) {
            const QByteArray file = writer.encode(picture, quality, 300, 300);
            QVERIFY(!file.isEmpty());
            QVERIFY2(model.agrees(quality, file), qPrintable(QStringLiteral("quality %1").arg(quality)));
            const qint64 bound = model.bound(quality);
            const qint64 monotone = model.monotoneBound(quality);
            QVERIFY2(bound <= file.size() && monotone <= file.size(),
                     qPrintable(QStringLiteral("quality %1: %2 / %3 > %4")
                                    .arg(quality)
                                    .arg(bound)
                                    .arg(monotone)
                                    .arg(file.size())));
            QVERIFY(monotone >= lastMonotone);
            lastMonotone = monotone;
            // Only stuffed bytes and the encoder's code lengths are left out: close enough to
            // rule out all but a quality or two near a limit.
            QVERIFY2(
                bound >= file.size() * 97 / 100 - 16,
                qPrintable(QStringLiteral("quality %1: %2 for %3").arg(quality).arg(bound).arg(file.size())));
        }
    }

    // A file of another quality or another picture is told apart.
    void disagreement() {
        const QImage picture = SamplePictures::photo(QSize(200, 240));
        const JpegSizeBound model(picture);
        GPP2J writer;
        QVERIFY(model.agrees(60, writer.encode(picture, 60, 300, 300)));
        QVERIFY(!model.agrees(60, writer.encode(picture, 70, 300, 300)));
        QVERIFY(!model.agrees(60, writer.encode(SamplePictures::photo(QSize(200, 240), 9), 60, 300, 300)));
        QVERIFY(!model.agrees(60, writer.encode(picture, 60, 300, 300).chopped(3)));
        QVERIFY(!JpegSizeBound(QImage()).usable());
        QVERIFY(!JpegSizeBound(picture.convertToFormat(QImage::Format_Indexed8)).usable());
    }
};

QTEST_GUILESS_MAIN(TestSizeBound)
#include "tst_sizeBound.moc"
