// The quick page roads: block averages, the quarter turn, the direct JPEG and BMP
// decoders, and the reduced copy an ImageFile keeps beside a large page.
#include "imaging/FastPixels.h"
#include "imaging/FrameGeometry.h"
#include "imaging/ImageFile.h"
#include "imaging/ImageProcess.h"
#include "imaging/PageDecoder.h"
#include "imaging/StretchRegion.h"
#include "tests/support/PageFiles.h"
#include "tests/support/PixelCompare.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestImages.h"

#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QImage noise(int width, int height, QImage::Format format = QImage::Format_RGB32) {
    QImage image(width, height, format);
    QRandomGenerator random(width * 7919 + height);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = random.generate() | (format == QImage::Format_RGB32 ? 0xFF000000u : 0u);
    }
    return image;
}

// Every block averaged the plain way, rounded to nearest.
QImage referenceAverage(const QImage& page) {
    const int b = FastPixels::kBlock;
    QImage out((page.width() + b - 1) / b, (page.height() + b - 1) / b, QImage::Format_RGB32);
    for (int by = 0; by < out.height(); ++by) {
        for (int bx = 0; bx < out.width(); ++bx) {
            int sum[4] = {0, 0, 0, 0};
            int n = 0;
            for (int y = by * b; y < qMin(by * b + b, page.height()); ++y) {
                for (int x = bx * b; x < qMin(bx * b + b, page.width()); ++x) {
                    const QRgb p = reinterpret_cast<const QRgb*>(page.constScanLine(y))[x];
                    sum[0] += qRed(p), sum[1] += qGreen(p), sum[2] += qBlue(p), sum[3] += qAlpha(p), ++n;
                }
            }
            const auto avg = [n](int s) { return (s + n / 2) / n; };
            out.setPixel(bx, by, qRgba(avg(sum[0]), avg(sum[1]), avg(sum[2]), avg(sum[3])));
        }
    }
    return out;
}

QImage rawPixels(const QImage& image) {
    return image.convertToFormat(QImage::Format_RGB32);
}

} // namespace

using PixelCompare::meanDifference;

class TestPages : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

  private Q_SLOTS:
    // This test is also built against the portable kernels: it must run the ones it means.
    void kernelsAreTheBuildsChoice() {
#if defined(__SSE2__) && !defined(VETRA_SCALAR)
        QVERIFY(FastPixels::usesSse2());
#else
        QVERIFY(!FastPixels::usesSse2());
#endif
    }

    void blockAverageMatchesThePlainSum_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("whole blocks") << QSize(16, 12);
        QTest::newRow("partial column and row") << QSize(18, 13);
        QTest::newRow("narrower than a block") << QSize(3, 9);
        QTest::newRow("one pixel") << QSize(1, 1);
        QTest::newRow("wide") << QSize(1031, 6);
    }
    void blockAverageMatchesThePlainSum() {
        QFETCH(QSize, size);
        const QImage page = noise(size.width(), size.height());
        const QImage got = FastPixels::blockAverage(page);
        QCOMPARE(got.size(), FastPixels::reducedSize(size));
        QCOMPARE(got, referenceAverage(page));
    }

    void blockAverageTakesRgb32Only() {
        QVERIFY(FastPixels::blockAverage(noise(8, 8, QImage::Format_ARGB32)).isNull());
        QVERIFY(FastPixels::blockAverage(QImage()).isNull());
    }

    void quarterTurnMatchesQt_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("format");
        QTest::newRow("one pixel") << QSize(1, 1) << int(QImage::Format_RGB32);
        QTest::newRow("thin") << QSize(3, 70) << int(QImage::Format_RGB32);
        QTest::newRow("across tiles") << QSize(129, 65) << int(QImage::Format_RGB32);
        QTest::newRow("streamed, odd width") << QSize(131, 268) << int(QImage::Format_RGB32);
        QTest::newRow("with alpha") << QSize(70, 130) << int(QImage::Format_ARGB32);
        QTest::newRow("large") << QSize(1100, 1500) << int(QImage::Format_RGB32);
    }
    void quarterTurnMatchesQt() {
        QFETCH(QSize, size);
        QFETCH(int, format);
        const QImage page = noise(size.width(), size.height(), QImage::Format(format));
        const QImage got = FastPixels::turnedClockwise(page);
        QCOMPARE(got.format(), page.format());
        QCOMPARE(got, page.transformed(QTransform().rotate(90)));
    }

    void allocateGivesWritablePages() {
        const QImage big = FastPixels::allocate(QSize(2000, 1500), QImage::Format_RGB32);
        QCOMPARE(big.size(), QSize(2000, 1500));
        QCOMPARE(big.bytesPerLine(), 8000);
        QImage copy = big; // shares, then detaches on write
        copy.fill(Qt::red);
        QCOMPARE(copy.pixel(1999, 1499), qRgb(255, 0, 0));
        QVERIFY(FastPixels::allocate(QSize(0, 10), QImage::Format_RGB32).isNull());
        QCOMPARE(FastPixels::allocate(QSize(5, 5), QImage::Format_Indexed8).format(),
                 QImage::Format_Indexed8);
    }

    // The direct decoders give the pixels Qt's readers give, and the reduced copy of them.
    void decodersMatchQt_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QImage>("picture");
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<bool>("progressive");
        const QImage page = TestImages::page(203, 117);
        QTest::newRow("jpeg colour") << "c.jpg" << page << QByteArray("jpg") << false;
        QTest::newRow("jpeg progressive") << "p.jpg" << page << QByteArray("jpg") << true;
        QTest::newRow("jpeg grey") << "g.jpg" << page.convertToFormat(QImage::Format_Grayscale8)
                                   << QByteArray("jpg") << false;
        QTest::newRow("bmp 24-bit, padded rows") << "c.bmp" << page << QByteArray("bmp") << false;
        QTest::newRow("bmp 8-bit palette")
            << "i.bmp" << page.convertToFormat(QImage::Format_Indexed8) << QByteArray("bmp") << false;
    }
    void decodersMatchQt() {
        QFETCH(QString, name);
        QFETCH(QImage, picture);
        QFETCH(QByteArray, format);
        QFETCH(bool, progressive);
        QImageWriter writer(path(name), format);
        writer.setQuality(90);
        writer.setProgressiveScanWrite(progressive);
        QVERIFY(writer.write(picture));

        PageDecoder::Page page;
        const bool read = format == "jpg" ? PageDecoder::readJpeg(path(name), 1 << 30, 0, page)
                                          : PageDecoder::readBmp(path(name), 1 << 30, 0, page);
        QVERIFY(read);
        QCOMPARE(page.image.format(), QImage::Format_RGB32);
        QCOMPARE(page.image, rawPixels(QImageReader(path(name)).read()));
        // RGB32 keeps 0xFF in the byte Qt does not show through pixel().
        QCOMPARE(page.image.constBits()[3], uchar(0xFF));
        QCOMPARE(page.reduced, FastPixels::blockAverage(page.image));
    }

    void bmpStoredTopDown() {
        const QImage picture = TestImages::page(37, 23);
        QVERIFY(PageFiles::write(path(QStringLiteral("down.bmp")), PageFiles::bmp(picture, 24, true)));
        PageDecoder::Page page;
        QVERIFY(PageDecoder::readBmp(path(QStringLiteral("down.bmp")), 1 << 30, 38, page));
        QCOMPARE(page.image, rawPixels(picture));
        QVERIFY(page.reduced.isNull());
    }

    // What the direct decoders leave to Qt's readers: nothing half-made comes back.
    void decodersDecline_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("maxBytes");
        const QImage picture = TestImages::page(40, 30);
        QVERIFY(TestImages::write(picture, path(QStringLiteral("ok.jpg")), "jpg"));
        QVERIFY(TestImages::write(picture, path(QStringLiteral("ok.bmp")), "bmp"));
        const QByteArray jpegBytes = TestFiles::readAll(path(QStringLiteral("ok.jpg")));
        const QByteArray bmpBytes = TestFiles::readAll(path(QStringLiteral("ok.bmp")));
        QByteArray rle = bmpBytes;
        qToLittleEndian<quint32>(1, rle.data() + 30);
        QByteArray thirtyTwo = bmpBytes;
        qToLittleEndian<quint16>(32, thirtyTwo.data() + 28);
        QTest::newRow("jpeg header only") << "h.jpg" << jpegBytes.left(20) << qint64(1 << 30);
        QTest::newRow("jpeg larger than allowed") << "l.jpg" << jpegBytes << qint64(40 * 30 * 4 - 1);
        QTest::newRow("not a jpeg") << "n.jpg" << bmpBytes << qint64(1 << 30);
        QTest::newRow("bmp cut short") << "s.bmp" << bmpBytes.left(bmpBytes.size() - 10) << qint64(1 << 30);
        QTest::newRow("bmp run-length") << "r.bmp" << rle << qint64(1 << 30);
        QTest::newRow("bmp 32-bit") << "t.bmp" << thirtyTwo << qint64(1 << 30);
        QTest::newRow("bmp larger than allowed") << "b.bmp" << bmpBytes << qint64(100);
        QTest::newRow("not a bmp") << "j.bmp" << jpegBytes << qint64(1 << 30);
    }
    void decodersDecline() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, maxBytes);
        QVERIFY(TestImages::writeBytes(path(name), bytes));
        PageDecoder::Page page;
        const bool read = name.endsWith(QLatin1String(".jpg"))
                              ? PageDecoder::readJpeg(path(name), maxBytes, 0, page)
                              : PageDecoder::readBmp(path(name), maxBytes, 0, page);
        QVERIFY(!read);
        QVERIFY(page.image.isNull());
        QVERIFY(page.reduced.isNull());
    }

    // A large page keeps its reduced copy through loads and turns, whichever road made it.
    void reducedCopyFollowsThePage_data() {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QSize>("size");
        QTest::newRow("jpeg, whole blocks") << QByteArray("jpg") << QSize(1200, 1040);
        QTest::newRow("bmp, partial blocks") << QByteArray("bmp") << QSize(1030, 1027);
        QTest::newRow("png through Qt") << QByteArray("png") << QSize(1024, 1101);
    }
    void reducedCopyFollowsThePage() {
        QFETCH(QByteArray, format);
        QFETCH(QSize, size);
        const QString file = path(QStringLiteral("large.") + QString::fromLatin1(format));
        QVERIFY(TestImages::write(TestImages::page(size.width(), size.height()), file, format.constData()));
        ImageFile image;
        QVERIFY(image.loadFile(file));
        QCOMPARE(image.reduced(), FastPixels::blockAverage(image.image()));

        for (const auto& [angle, horizontal] :
             {std::pair{90, false}, std::pair{0, true}, std::pair{270, false}}) {
            ImageProcess process;
            ImageFilter& filter = process.addFilter(FilterKind::RotateFlip);
            filter.rotationAngle = angle;
            filter.flipHorizontal = horizontal;
            image = process.apply(image);
            QVERIFY(!image.isNull());
            QCOMPARE(image.reduced(), FastPixels::blockAverage(image.image()));
        }

        // Small pages have none.
        ImageProcess fit;
        ImageFilter& scale = fit.addFilter(FilterKind::Scale);
        scale.maximumWidth = 400;
        scale.maximumHeight = 400;
        QVERIFY(fit.apply(image).reduced().isNull());
    }

    // Fitting and cropping a large page from its reduced copy looks like doing it from
    // the page: the same size, and on average a few levels apart at most (the page's
    // blue sawtooth, 37 pixels a period, is the hardest case for either average).
    void reducedRoadLooksTheSame() {
        const QImage page = TestImages::page(2480, 3508);
        const ImageFile image({page});
        QVERIFY(!image.reduced().isNull());

        ImageProcess fit;
        ImageFilter& scale = fit.addFilter(FilterKind::Scale);
        scale.maximumWidth = 425;
        scale.maximumHeight = 585;
        const QImage fitted = fit.apply(image).image();
        const QImage direct = page.scaled(fitted.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QCOMPARE(fitted.size(), FrameGeometry::fitSize(page.size(), QSize(425, 585)));
        QVERIFY2(meanDifference(fitted, direct) < 3.0,
                 qPrintable(QString::number(meanDifference(fitted, direct))));

        for (const QRectF region : {QRectF(10.5, 20.25, 2400, 2900), QRectF(-300, 3000, 2000, 2400)}) {
            const QImage quick = stretchRegion(page, image.reduced(), region, QSize(400, 480));
            const QImage plain = stretchRegion(page, region, QSize(400, 480));
            QVERIFY2(meanDifference(quick, plain) < 3.0,
                     qPrintable(QString::number(meanDifference(quick, plain))));
            // The part outside the page stays paper.
            if (region.x() < 0)
                QCOMPARE(quick.pixel(5, 5), qRgb(255, 255, 255));
        }
        // A small region is cropped from the page itself: exactly the plain crop.
        const QRectF small(100, 100, 800, 900);
        QCOMPARE(stretchRegion(page, image.reduced(), small, QSize(400, 480)),
                 stretchRegion(page, small, QSize(400, 480)));
    }
};

QTEST_MAIN(TestPages)
#include "tst_pages.moc"
