#include "imaging/ImageFile.h"
#include "imaging/ImageProcess.h"
#include "imaging/Straighten.h"
#include "imaging/StretchRegion.h"
#include "tests/support/PageFiles.h"
#include "tests/support/PixelCompare.h"
#include "tests/support/TestImages.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

using PixelCompare::maxDifference;

ImageFile turned(const ImageFile& image, int angle, bool horizontal, bool vertical) {
    ImageProcess process;
    ImageFilter& filter = process.addFilter(FilterKind::RotateFlip);
    filter.rotationAngle = angle;
    filter.flipHorizontal = horizontal;
    filter.flipVertical = vertical;
    return process.apply(image);
}

} // namespace

class TestImaging : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void loadsByContent_data() {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("tolerance");
        QTest::newRow("bmp") << QByteArray("bmp") << QStringLiteral("page.bmp") << 0;
        QTest::newRow("jpeg") << QByteArray("jpg") << QStringLiteral("page.jpg") << 24;
        QTest::newRow("png") << QByteArray("png") << QStringLiteral("page.png") << 0;
        QTest::newRow("jpeg named bmp") << QByteArray("jpg") << QStringLiteral("page.bmp") << 24;
        QTest::newRow("bmp named gif") << QByteArray("bmp") << QStringLiteral("page.gif") << 0;
        QTest::newRow("bmp without suffix") << QByteArray("bmp") << QStringLiteral("scan") << 0;
    }

    void loadsByContent() {
        QFETCH(QByteArray, format);
        QFETCH(QString, name);
        QFETCH(int, tolerance);
        QTemporaryDir dir;
        const QImage page = TestImages::page(300, 420);
        const QString path = dir.filePath(name);
        QVERIFY(TestImages::write(page, path, format.constData(), 100));

        ImageFile image;
        QVERIFY2(image.loadFile(path), qPrintable(image.errorString()));
        QCOMPARE(image.size(), QSize(300, 420));
        QCOMPARE(image.frameCount(), 1);
        QCOMPARE(image.activeFrame(), 0);
        QVERIFY(image.image().format() == QImage::Format_RGB32);
        if (tolerance == 0) {
            QCOMPARE(image.image(), page);
        } else {
            // A lossy file: compare the broad picture, not the fine grid.
            const QSize coarse(30, 42);
            const int difference =
                maxDifference(image.image().scaled(coarse, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
                              page.scaled(coarse, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
            QVERIFY2(difference <= tolerance, qPrintable(QString::number(difference)));
        }
    }

    void keepsEveryGifFrame() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("anim.gif"));
        const QList<QColor> colours{QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255)};
        QVERIFY(TestImages::writeBytes(path, TestImages::animatedGif(20, 10, colours)));

        ImageFile image;
        QVERIFY2(image.loadFile(path), qPrintable(image.errorString()));
        QCOMPARE(image.frameCount(), 3);
        QCOMPARE(image.activeFrame(), 0);
        QCOMPARE(image.size(), QSize(20, 10));
        for (int f = 0; f < 3; ++f)
            QCOMPARE(QColor(image.frame(f).pixel(5, 5)), colours.at(f));
        image.setActiveFrame(2);
        QCOMPARE(QColor(image.image().pixel(0, 0)), colours.at(2));
        image.setActiveFrame(7);
        QCOMPARE(image.activeFrame(), 2);
    }

    // Pages cut or damaged in the common ways are refused by every reader (tst_readerParity);
    // these are refused from their headers alone.
    void badFilesLoadNothing_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QImage page = TestImages::page(200, 200);
        // A BMP header that claims 60000 x 60000 pixels of 32 bits.
        QByteArray huge = PageFiles::bmp(page, 24).left(54);
        qToLittleEndian<qint32>(60000, huge.data() + 18);
        qToLittleEndian<qint32>(60000, huge.data() + 22);
        qToLittleEndian<quint16>(32, huge.data() + 28);
        huge.append(QByteArray(1024, '\x7F'));
        QTest::newRow("jpeg header only") << PageFiles::jpeg(page, 90, true).left(200);
        QTest::newRow("absurd size") << huge;
    }

    void badFilesLoadNothing() {
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("bad.jpg"));
        QVERIFY(TestImages::writeBytes(path, bytes));
        ImageFile image;
        QVERIFY(!image.loadFile(path));
        QVERIFY(image.isNull());
        QCOMPARE(image.frameCount(), 0);
    }

    void cornerMoves_data() {
        QTest::addColumn<int>("angle");
        QTest::addColumn<bool>("horizontal");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("cornerGoesTo");
        QTest::newRow("quarter turn clockwise") << 90 << false << QSize(80, 60) << QPoint(79, 0);
        QTest::newRow("left to right") << 0 << true << QSize(60, 80) << QPoint(59, 0);
        QTest::newRow("top to bottom") << 0 << false << QSize(60, 80) << QPoint(0, 79);
    }

    void cornerMoves() {
        QFETCH(int, angle);
        QFETCH(bool, horizontal);
        QFETCH(QSize, size);
        QFETCH(QPoint, cornerGoesTo);
        const QImage page = TestImages::page(60, 80);
        const ImageFile result = turned(ImageFile({page}), angle, horizontal, !horizontal && angle == 0);
        QCOMPARE(result.size(), size);
        QCOMPARE(result.image().pixel(cornerGoesTo), page.pixel(0, 0));
    }

    void turnsGiveBackThePixels_data() {
        QTest::addColumn<int>("angle");
        QTest::addColumn<bool>("horizontal");
        QTest::addColumn<bool>("vertical");
        QTest::addColumn<int>("times");
        QTest::newRow("four quarter turns") << 90 << false << false << 4;
        QTest::newRow("two horizontal flips") << 0 << true << false << 2;
        QTest::newRow("two vertical flips") << 0 << false << true << 2;
        QTest::newRow("two half turns") << 180 << false << false << 2;
    }

    void turnsGiveBackThePixels() {
        QFETCH(int, angle);
        QFETCH(bool, horizontal);
        QFETCH(bool, vertical);
        QFETCH(int, times);
        const QImage first = TestImages::page(61, 83);
        const QImage second = first.mirrored(true, true);
        const ImageFile source({first, second}, 1);
        ImageFile image = source;
        for (int i = 0; i < times; ++i) {
            image = turned(image, angle, horizontal, vertical);
            QCOMPARE(image.frameCount(), 2);
            if (i == 0)
                QVERIFY(image.frame(0) != first);
        }
        QCOMPARE(image.frame(0), first);
        QCOMPARE(image.frame(1), second);
        // The source was never altered.
        QCOMPARE(source.frame(0), first);
        QCOMPARE(source.activeFrame(), 1);
    }

    void failedFiltersGiveNoImage() {
        ImageProcess process;
        process.addFilter(FilterKind::RotateFlip).rotationAngle = 45;
        QVERIFY(process.apply(ImageFile({TestImages::page(30, 20)})).isNull());
        process.removeAllFilters();
        process.addFilter(FilterKind::RotateFlip).flipVertical = true;
        QVERIFY(process.apply(ImageFile()).isNull());
        process.removeAllFilters();
        process.addFilter(FilterKind::Scale); // an empty box
        QVERIFY(process.apply(ImageFile({TestImages::page(30, 20)})).isNull());
    }

    void stretchMatchesAnIndependentCrop_data() {
        QTest::addColumn<QRect>("region");
        QTest::addColumn<QSize>("output");
        QTest::newRow("same size") << QRect(100, 120, 400, 480) << QSize(400, 480);
        QTest::newRow("shrink 3x") << QRect(30, 40, 1200, 1440) << QSize(400, 480);
        QTest::newRow("enlarge") << QRect(300, 500, 150, 180) << QSize(400, 480);
        QTest::newRow("signature") << QRect(64, 900, 1000, 192) << QSize(375, 72);
    }

    void stretchMatchesAnIndependentCrop() {
        QFETCH(QRect, region);
        QFETCH(QSize, output);
        const QImage page = TestImages::page(1300, 1800);
        const QImage expected =
            page.copy(region).scaled(output, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QImage got = stretchRegion(page, QRectF(region), output);
        QCOMPARE(got.size(), output);
        QVERIFY2(maxDifference(got, expected) <= 24,
                 qPrintable(QString::number(maxDifference(got, expected))));
    }

    void stretchAveragesWhenShrinking() {
        // Single-pixel black and white stripes shrunk 8 times: averaging gives grey,
        // picking one pixel would give black or white.
        QImage stripes(800, 800, QImage::Format_RGB32);
        for (int x = 0; x < 800; ++x)
            for (int y = 0; y < 800; ++y)
                stripes.setPixel(x, y, x % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
        const QImage got = stretchRegion(stripes, QRectF(0, 0, 800, 800), QSize(100, 100));
        for (const QPoint p : {QPoint(10, 10), QPoint(50, 50), QPoint(90, 33)})
            QVERIFY2(qAbs(qGray(got.pixel(p)) - 128) < 20, qPrintable(QString::number(qGray(got.pixel(p)))));
    }

    void stretchOutsideIsPaper() {
        QImage black(100, 100, QImage::Format_RGB32);
        black.fill(Qt::black);
        // The right half of the region lies past the image.
        const QImage got = stretchRegion(black, QRectF(50, 0, 100, 100), QSize(100, 100));
        QCOMPARE(got.pixel(10, 50), qRgb(0, 0, 0));
        QCOMPARE(got.pixel(60, 50), qRgb(255, 255, 255));
        QCOMPARE(got.pixel(99, 99), qRgb(255, 255, 255));
        // Wholly outside, empty or not a number: all paper.
        for (const QRectF& region : {QRectF(500, 500, 10, 10), QRectF(10, 10, 0, 5),
                                     QRectF(qQNaN(), 0, 10, 10), QRectF(0, 0, qInf(), 10)}) {
            const QImage blank = stretchRegion(black, region, QSize(40, 30));
            QCOMPARE(blank.size(), QSize(40, 30));
            QCOMPARE(blank.pixel(20, 15), qRgb(255, 255, 255));
        }
    }

    // A rectangle straightened alone is that rectangle of the whole straightened page,
    // byte for byte, from no more of the page than sourceRect() names; at 0 degrees the
    // page comes back as it was.
    void straightenedRegionIsPartOfTheWholePage_data() {
        QTest::addColumn<QSize>("page");
        QTest::addColumn<double>("degrees");
        QTest::addColumn<QRect>("region");
        QTest::newRow("level") << QSize(301, 420) << 0.0 << QRect(40, 50, 120, 140);
        QTest::newRow("clockwise") << QSize(301, 420) << 2.5 << QRect(40, 50, 120, 140);
        QTest::newRow("anticlockwise, odd offsets") << QSize(301, 420) << -0.7 << QRect(181, 7, 119, 411);
        QTest::newRow("widest, corner") << QSize(420, 301) << 10.0 << QRect(0, 0, 60, 50);
        QTest::newRow("one pixel") << QSize(64, 64) << -10.0 << QRect(63, 63, 1, 1);
        QTest::newRow("reaching past the page") << QSize(301, 420) << -3.0 << QRect(-15, 380, 100, 60);
    }

    void straightenedRegionIsPartOfTheWholePage() {
        QFETCH(QSize, page);
        QFETCH(double, degrees);
        QFETCH(QRect, region);
        const QImage original = TestImages::page(page.width(), page.height());
        const QImage whole = Straighten::page(original, degrees);
        QCOMPARE(whole.size(), page);
        if (degrees == 0)
            QCOMPARE(whole, original);
        const QRect source = Straighten::sourceRect(page, degrees, region);
        const QImage part =
            Straighten::region(original.copy(source), source.topLeft(), page, degrees, region);
        // Past the page (whose size the canvas keeps) lies white paper.
        QCOMPARE(part, PixelCompare::onPaper(whole, region));
        // Less of the page than the region needs gives nothing rather than wrong pixels.
        const QRect less = source.adjusted(1, 0, 0, 0);
        QVERIFY(Straighten::region(original.copy(less), less.topLeft(), page, degrees, region).isNull());
    }

    // Positive turns the page clockwise about its centre; what the turn uncovers is paper.
    void straightenTurnsClockwiseOntoPaper_data() {
        QTest::addColumn<double>("degrees");
        QTest::newRow("+4") << 4.0;
        QTest::newRow("-4") << -4.0;
        QTest::newRow("+10") << 10.0;
    }

    void straightenTurnsClockwiseOntoPaper() {
        QFETCH(double, degrees);
        // A grey page with a black mark straight above the centre.
        QImage page(400, 300, QImage::Format_RGB32);
        page.fill(qRgb(128, 128, 128));
        const QPointF centre(200, 150);
        const double r = 120;
        for (int y = -2; y < 2; ++y)
            for (int x = -2; x < 2; ++x)
                page.setPixel(200 + x, 30 + y, qRgb(0, 0, 0)); // centred on (200, 30)
        const QImage got = Straighten::page(page, degrees);
        const double a = qDegreesToRadians(degrees);
        const QPointF expected = centre + QPointF(r * std::sin(a), -r * std::cos(a));
        // Where the mark went: the centre of the darkness below the page's grey.
        QPointF sum;
        double weight = 0;
        for (int y = 0; y < got.height(); ++y)
            for (int x = 0; x < got.width(); ++x)
                if (const int dark = 128 - qGray(got.pixel(x, y)); dark > 0) {
                    sum += dark * QPointF(x + 0.5, y + 0.5);
                    weight += dark;
                }
        const QPointF mark = sum / weight;
        QVERIFY2(std::hypot(mark.x() - expected.x(), mark.y() - expected.y()) < 0.5,
                 qPrintable(QStringLiteral("%1,%2").arg(mark.x()).arg(mark.y())));
        for (const QPoint corner : {QPoint(0, 0), QPoint(399, 0), QPoint(0, 299), QPoint(399, 299)})
            QCOMPARE(got.pixel(corner), qRgb(255, 255, 255));
        QCOMPARE(got.pixel(200, 150), qRgb(128, 128, 128));
    }
};

QTEST_MAIN(TestImaging)
#include "tst_imaging.moc"
