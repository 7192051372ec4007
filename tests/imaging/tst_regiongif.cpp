// GIF pages of every layout through both roads: the batch command's region reads and the
// workspace's load give the first image on its logical screen, as Qt's reader has always
// shown it, and the size read on its own agrees with it.

#include "imaging/FastPixels.h"
#include "imaging/ImageFile.h"
#include "imaging/ImageProcess.h"
#include "imaging/RegionReader.h"
#include "tests/support/PageFiles.h"
#include "tests/support/PixelCompare.h"
#include "tests/support/TestImages.h"

#include <QImageReader>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cstring>

Q_DECLARE_METATYPE(PageFiles::GifImage)

namespace {

using Images = QList<PageFiles::GifImage>;

// One red image of 8 x 6 at (left, top) on a screen of the given size.
QByteArray placedGif(QSize screen, QPoint at) {
    QByteArray gif = TestImages::animatedGif(8, 6, {QColor(Qt::red)});
    qToLittleEndian<quint16>(quint16(screen.width()), gif.data() + 6);
    qToLittleEndian<quint16>(quint16(screen.height()), gif.data() + 8);
    const qsizetype image = gif.indexOf(char(0x2C), 13 + 3 * 128);
    qToLittleEndian<quint16>(quint16(at.x()), gif.data() + image + 1);
    qToLittleEndian<quint16>(quint16(at.y()), gif.data() + image + 3);
    return gif;
}

// Distinct colours, one a table entry.
QList<QRgb> palette(int count, int seed) {
    QList<QRgb> colours;
    for (int i = 0; i < count; ++i)
        colours << qRgb((i * 4 + seed) & 255, (255 - i * 4) & 255, (i * 37 + seed * 11) & 255);
    return colours;
}

// An indexed picture with the given colours: row r in colour r % count when rows, else a
// pattern that changes along both sides.
QImage indexedPicture(QSize size, const QList<QRgb>& colours, bool rows = false) {
    QImage picture(size, QImage::Format_Indexed8);
    picture.setColorTable(colours);
    for (int y = 0; y < size.height(); ++y) {
        uchar* line = picture.scanLine(y);
        for (int x = 0; x < size.width(); ++x)
            line[x] = uchar((rows ? y : x + 3 * y + x * y / 5) % colours.size());
    }
    return picture;
}

// Same format, size and 32-bit words (the unused alpha byte of RGB32 included).
bool sameBytes(const QImage& a, const QImage& b) {
    if (a.format() != b.format() || a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), size_t(a.width()) * 4) != 0)
            return false;
    return true;
}

} // namespace

class TestRegionGif : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    PageRegion readWhole(const QString& path, QSize screen) {
        RegionRequest request;
        request.path = path;
        request.rect = QRect(QPoint(0, 0), screen);
        return RegionReader::read(request);
    }

  private Q_SLOTS:
    void pageIsTheWholeScreen_data() {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QRect>("rect");
        QTest::newRow("image inside the screen") << QSize(30, 20) << QPoint(10, 5) << QRect(0, 0, 30, 20);
        QTest::newRow("image at the corner") << QSize(30, 20) << QPoint(0, 0) << QRect(0, 0, 30, 20);
        QTest::newRow("rectangle past the image") << QSize(30, 20) << QPoint(10, 5) << QRect(12, 8, 15, 10);
        // Qt's reader announces the first image's size for a screen this much taller than it.
        QTest::newRow("tall screen") << QSize(8, 16000) << QPoint(0, 0) << QRect(0, 0, 8, 40);
        QTest::newRow("tall screen, image further down")
            << QSize(8, 16000) << QPoint(0, 9000) << QRect(0, 8990, 8, 30);
    }
    void pageIsTheWholeScreen() {
        QFETCH(QSize, screen);
        QFETCH(QPoint, at);
        QFETCH(QRect, rect);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("page.gif"));
        QVERIFY(TestImages::writeBytes(path, placedGif(screen, at)));
        const QImage qt(path);
        const QImage seen = PixelCompare::onPaper(qt, qt.rect());
        QCOMPARE(seen.size(), screen);

        QString error;
        QCOMPARE(RegionReader::pageSize(path, &error), screen);
        RegionRequest request;
        request.path = path;
        request.rect = rect;
        const PageRegion region = RegionReader::read(request);
        QVERIFY2(region.ok(), qPrintable(region.error));
        QCOMPARE(region.method, PageRegion::Method::Gif);
        QCOMPARE(region.pageSize, screen);
        QCOMPARE(region.image.size(), rect.size());
        QCOMPARE(region.image, seen.copy(rect));
        // The red image is where the file puts it.
        if (rect.contains(at + QPoint(2, 2)))
            QCOMPARE(region.image.pixel(at + QPoint(2, 2) - rect.topLeft()), qRgb(255, 0, 0));
    }

    // Interlaced rows arrive every 8th from 0, every 8th from 4, every 4th from 2, then the
    // odd ones; each must land in its own row, whatever the image's height and place, and
    // rows past the screen's bottom are dropped. Qt's reader misplaces images of 3 and 4
    // rows and those reaching past the bottom, so the expectation is the picture itself.
    void interlacedRowsLandInPassOrder_data() {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<int>("height");
        for (int height : {1, 2, 3, 4, 5, 6, 8, 9, 12, 17, 33})
            QTest::addRow("%d rows, whole screen", height) << QSize(7, height) << QPoint(0, 0) << height;
        QTest::newRow("3 rows, placed") << QSize(12, 10) << QPoint(2, 3) << 3;
        QTest::newRow("17 rows, placed") << QSize(12, 30) << QPoint(4, 6) << 17;
        QTest::newRow("33 rows, past the bottom") << QSize(12, 20) << QPoint(1, 0) << 33;
        QTest::newRow("17 rows from row 9, past the bottom") << QSize(12, 14) << QPoint(0, 9) << 17;
    }
    void interlacedRowsLandInPassOrder() {
        QFETCH(QSize, screen);
        QFETCH(QPoint, at);
        QFETCH(int, height);
        const QList<QRgb> colours = palette(64, 1);
        const QImage picture = indexedPicture(QSize(7, height), colours, true);
        PageFiles::GifImage image;
        image.indexed = picture;
        image.at = at;
        image.interlaced = true;
        const int background = 63;
        const QString path = m_dir.filePath(QStringLiteral("interlaced.gif"));
        QVERIFY(PageFiles::write(path, PageFiles::gifScreen(screen, colours, background, {image})));

        QImage expected(screen, QImage::Format_RGB32);
        expected.fill(colours[background]);
        for (int y = 0; y < height && at.y() + y < screen.height(); ++y)
            for (int x = 0; x < picture.width() && at.x() + x < screen.width(); ++x)
                expected.setPixel(at + QPoint(x, y), picture.pixel(x, y));

        const PageRegion region = readWhole(path, screen);
        QVERIFY2(region.ok(), qPrintable(region.error));
        QVERIFY(sameBytes(region.image, expected));
        ImageFile window;
        QVERIFY2(window.loadFile(path), qPrintable(window.errorString()));
        QVERIFY(sameBytes(window.image(), expected));
    }

    // The layouts Qt's reader gets right: the workspace's frames hold the same 32-bit words
    // in the same format as Qt's (transparency as alpha, the unused alpha byte of indices
    // past the table and of an unpainted screen as Qt leaves it; later images painted over
    // the frame before as their disposals say), and the batch command's region is the first
    // frame on white paper.
    void framesAsQtReadsThem_data() {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QList<QRgb>>("global");
        QTest::addColumn<int>("background");
        QTest::addColumn<Images>("images");
        const QList<QRgb> global = palette(16, 2);
        const QList<QRgb> own = palette(4, 9);
        const auto image = [](QImage picture, QPoint at, bool ownTable, bool interlaced, int transparent,
                              int disposal = 0) {
            PageFiles::GifImage i;
            i.indexed = std::move(picture);
            i.at = at;
            i.ownTable = ownTable;
            i.interlaced = interlaced;
            i.transparentIndex = transparent;
            i.disposal = disposal;
            return i;
        };
        const QImage page = indexedPicture(QSize(50, 37), global);
        const QImage small = indexedPicture(QSize(13, 11), own);
        QTest::newRow("interlaced page")
            << QSize(50, 37) << global << 0 << Images{image(page, {}, false, true, -1)};
        QTest::newRow("image on the background")
            << QSize(30, 20) << global << 5
            << Images{image(indexedPicture({13, 11}, global), {6, 4}, false, false, -1)};
        QTest::newRow("own table, background index past it")
            << QSize(30, 20) << global << 9 << Images{image(small, {6, 4}, true, true, -1)};
        QTest::newRow("own table, no global table")
            << QSize(30, 20) << QList<QRgb>{} << 0 << Images{image(small, {6, 4}, true, false, -1)};
        QTest::newRow("transparent, on the screen")
            << QSize(30, 20) << global << 5
            << Images{image(indexedPicture({13, 11}, global), {6, 4}, false, true, 3)};
        QTest::newRow("transparent, own table, whole screen")
            << QSize(13, 11) << global << 0 << Images{image(small, {}, true, false, 2)};
        // A two-colour table with indices 2 and 3 in the data.
        QImage past = indexedPicture(QSize(20, 9), palette(4, 3));
        past.setColorTable(palette(2, 3));
        QTest::newRow("indices past the table")
            << QSize(20, 9) << palette(2, 3) << 0 << Images{image(past, {}, false, false, -1)};
        QTest::newRow("reaching past the right and the bottom")
            << QSize(30, 20) << global << 1
            << Images{image(indexedPicture({13, 11}, global), {22, 14}, false, false, -1)};
        QTest::newRow("three images")
            << QSize(50, 37) << global << 0
            << Images{image(page, {}, false, true, -1), image(small, {3, 3}, true, false, -1),
                      image(small, {20, 9}, true, true, 1)};
        // Each disposal, after a first image that leaves part of the screen and one that
        // covers it, with and without transparency, and images reaching past the screen.
        const QImage tiny = indexedPicture(QSize(6, 4), own);
        for (int disposal : {1, 2, 3})
            for (bool framedFirst : {false, true})
                for (int transparent : {-1, 1}) {
                    const QImage first = framedFirst ? indexedPicture({20, 15}, global) : page;
                    QTest::addRow("disposal %d, %s first image, transparency %d", disposal,
                                  framedFirst ? "framed" : "whole", transparent)
                        << QSize(50, 37) << global << 4
                        << Images{image(first, framedFirst ? QPoint(7, 5) : QPoint(), false, !framedFirst,
                                        transparent, disposal),
                                  image(small, {3, 3}, true, true, transparent, disposal),
                                  image(tiny, {45, 34}, true, false, transparent, disposal),
                                  image(indexedPicture({9, 3}, global), {1, 20}, false, true, -1, disposal),
                                  image(tiny, {47, 2}, false, false, 2, 0)};
                }
    }
    void framesAsQtReadsThem() {
        QFETCH(QSize, screen);
        QFETCH(QList<QRgb>, global);
        QFETCH(int, background);
        QFETCH(Images, images);
        const QString path = m_dir.filePath(QStringLiteral("layout.gif"));
        QVERIFY(PageFiles::write(path, PageFiles::gifScreen(screen, global, background, images)));

        QImageReader reader(path);
        QList<QImage> qtFrames;
        QImage next;
        while (reader.read(&next))
            qtFrames << next;
        QCOMPARE(qtFrames.size(), images.size());
        const QImage qt = qtFrames.first();
        QCOMPARE(qt.size(), screen);

        ImageFile window;
        QVERIFY2(window.loadFile(path), qPrintable(window.errorString()));
        QCOMPARE(window.frameCount(), int(images.size()));
        for (int f = 0; f < window.frameCount(); ++f)
            QVERIFY2(sameBytes(window.frame(f), qtFrames.at(f)),
                     qPrintable(QStringLiteral("frame %1").arg(f)));

        const PageRegion region = readWhole(path, screen);
        QVERIFY2(region.ok(), qPrintable(region.error));
        QCOMPARE(region.method, PageRegion::Method::Gif);
        QVERIFY(sameBytes(region.image, qt.hasAlphaChannel() ? PixelCompare::onPaper(qt, qt.rect()) : qt));
    }

    // A page large enough for the window's reduced copies: each frame's copy is the block
    // average of that frame, though later ones are averaged again only where rows changed
    // (images and disposals at rows that are not multiples of the block).
    void reducedCopiesFollowTheFrames() {
        int imageCount = 0;
        const QString path = writeLargeAnimation(&imageCount);
        QVERIFY(!path.isEmpty());

        ImageFile window;
        QVERIFY2(window.loadFile(path), qPrintable(window.errorString()));
        QCOMPARE(window.frameCount(), imageCount);
        for (int f = 0; f < window.frameCount(); ++f) {
            QVERIFY(!window.reducedFrame(f).isNull());
            QVERIFY2(sameBytes(window.reducedFrame(f), FastPixels::blockAverage(window.frame(f))),
                     qPrintable(QStringLiteral("frame %1").arg(f)));
        }
        // The frames differ, so equal copies are no accident of one copy shared by all.
        QVERIFY(!sameBytes(window.reducedFrame(1), window.reducedFrame(2)));
    }

    // The later frames are made when first asked for, also through the turns and fits
    // applied before that: each equals the frame made at load and put through them then,
    // and a copy taken before shares what one made.
    void laterFramesMadeLateMatch_data() {
        QTest::addColumn<int>("angle");
        QTest::addColumn<bool>("mirror");
        QTest::addColumn<int>("box"); // fitted into box x box after the turn; 0: no fit
        QTest::addColumn<int>("passes");
        QTest::newRow("as loaded") << 0 << false << 0 << 0;
        QTest::newRow("quarter turn") << 90 << false << 0 << 1;
        QTest::newRow("turned twice") << 90 << false << 0 << 2;
        QTest::newRow("fitted from the reduced copies") << 0 << false << 200 << 1;
        QTest::newRow("turned then fitted") << 90 << true << 700 << 1;
    }

    void laterFramesMadeLateMatch() {
        QFETCH(int, angle);
        QFETCH(bool, mirror);
        QFETCH(int, box);
        QFETCH(int, passes);
        int imageCount = 0;
        const QString path = writeLargeAnimation(&imageCount);
        QVERIFY(!path.isEmpty());

        ImageFile eager;
        QVERIFY2(eager.loadFile(path), qPrintable(eager.errorString()));
        QCOMPARE(eager.frames().size(), imageCount);
        QVERIFY(!eager.laterFramesPending());
        ImageFile late;
        QVERIFY2(late.loadFile(path), qPrintable(late.errorString()));
        QVERIFY(late.laterFramesPending());

        ImageProcess process;
        if (angle != 0 || mirror) {
            ImageFilter& turn = process.addFilter(FilterKind::RotateFlip);
            turn.rotationAngle = angle;
            turn.flipHorizontal = mirror;
        }
        if (box > 0) {
            ImageFilter& fit = process.addFilter(FilterKind::Scale);
            fit.maximumWidth = box;
            fit.maximumHeight = box;
        }
        for (int i = 0; i < passes; ++i) {
            eager = process.apply(eager);
            late = process.apply(late);
        }
        QVERIFY(late.laterFramesPending());
        QCOMPARE(late.frameCount(), imageCount);
        const ImageFile copy = late;

        late.setActiveFrame(imageCount - 1);
        QCOMPARE(late.activeFrame(), imageCount - 1);
        QVERIFY(!late.laterFramesPending());
        for (int f = 0; f < imageCount; ++f) {
            const QString which = QStringLiteral("frame %1").arg(f);
            QVERIFY2(sameBytes(late.frame(f), eager.frame(f)), qPrintable(which));
            QCOMPARE(late.reducedFrame(f).isNull(), eager.reducedFrame(f).isNull());
            if (!eager.reducedFrame(f).isNull())
                QVERIFY2(sameBytes(late.reducedFrame(f), eager.reducedFrame(f)), qPrintable(which));
            QCOMPARE(copy.frame(f).constBits(), late.frame(f).constBits());
        }
        QVERIFY(!sameBytes(late.frame(1), late.frame(2)));
    }

    // An animation beyond the frame limit: the count at load and the frames made later stop
    // at the same frame, the last one kept being the file's.
    void frameLimitHoldsForLaterFrames() {
        QList<QColor> colours;
        for (int f = 0; f < ImageFile::kMaxFrames + 2; ++f)
            colours << QColor::fromHsv(f * 5, 200, 100 + f);
        const QString path = m_dir.filePath(QStringLiteral("long-animation.gif"));
        QVERIFY(TestImages::writeBytes(path, TestImages::animatedGif(6, 4, colours)));
        ImageFile window;
        QVERIFY2(window.loadFile(path), qPrintable(window.errorString()));
        QCOMPARE(window.frameCount(), ImageFile::kMaxFrames);
        const QImage last = window.frame(ImageFile::kMaxFrames - 1);
        QCOMPARE(window.frames().size(), qsizetype(ImageFile::kMaxFrames));
        QVERIFY(!last.isNull());
        QCOMPARE(last.pixel(3, 2), colours.at(ImageFile::kMaxFrames - 1).rgb());
    }

    void emptyScreenIsRefusedByBoth() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("empty-screen.gif"));
        QVERIFY(TestImages::writeBytes(path, placedGif(QSize(0, 20), QPoint(0, 0))));
        QString error;
        QVERIFY(RegionReader::pageSize(path, &error).isEmpty());
        QVERIFY(!error.isEmpty());
        RegionRequest request;
        request.path = path;
        request.rect = QRect(0, 0, 8, 6);
        const PageRegion region = RegionReader::read(request);
        QVERIFY(!region.ok());
        QVERIFY(!region.error.isEmpty());
    }

  private:
    // A page large enough for reduced copies with later images placed across block rows.
    QString writeLargeAnimation(int* imageCount) {
        const QList<QRgb> colours = palette(16, 5);
        const QSize screen(ImageFile::kReduceFrom + 6, ImageFile::kReduceFrom + 3);
        PageFiles::GifImage page;
        page.indexed = indexedPicture(screen, colours);
        page.disposal = 1;
        QList<PageFiles::GifImage> images{page};
        const struct {
            QPoint at;
            int disposal;
            bool interlaced;
        } later[] = {{{5, 6}, 2, false}, {{300, 701}, 3, true}, {{1020, 1018}, 1, false}, {{7, 3}, 0, true}};
        for (const auto& l : later) {
            PageFiles::GifImage i;
            i.indexed = indexedPicture(QSize(37, 11), colours, true);
            i.at = l.at;
            i.disposal = l.disposal;
            i.interlaced = l.interlaced;
            images << i;
        }
        const QString path = m_dir.filePath(QStringLiteral("large-animation.gif"));
        *imageCount = int(images.size());
        return PageFiles::write(path, PageFiles::gifScreen(screen, colours, 3, images)) ? path : QString();
    }
};

QTEST_MAIN(TestRegionGif)

#include "tst_regiongif.moc"
