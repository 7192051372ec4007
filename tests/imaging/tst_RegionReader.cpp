#include "imaging/BmpRegionReader.h"
#include "imaging/RegionReader.h"
#include "tests/support/PageFiles.h"
#include "tests/support/PixelCompare.h"
#include "tests/support/TestFiles.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using Mirror = PageTransform::Mirror;
using PixelCompare::maxDifference;
using PixelCompare::onPaper;

namespace {

constexpr int kPageWidth = 203; // not a multiple of any JPEG block size
constexpr int kPageHeight = 157;

QImage shownPage(const QString& path, int rotation, Mirror mirror) {
    return PixelCompare::shownPage(path, rotation, mirror == Mirror::Horizontal, mirror == Mirror::Vertical);
}

struct Format {
    const char* name;
    const char* file;
    int tolerance;
    PageRegion::Method method;
};

const Format kFormats[] = {
    {"jpeg444", "page444.jpg", 3, PageRegion::Method::Jpeg},
    {"jpeg420", "page420.jpg", 3, PageRegion::Method::Jpeg},
    {"jpeg-progressive", "pageprog.jpg", 3, PageRegion::Method::Jpeg},
    {"jpeg-gray", "pagegray.jpg", 3, PageRegion::Method::Jpeg},
    {"jpeg-cmyk", "pagecmyk.jpg", 0, PageRegion::Method::Jpeg},
    {"bmp24", "page24.bmp", 0, PageRegion::Method::Bmp},
    {"bmp32-topdown", "page32.bmp", 0, PageRegion::Method::Bmp},
    {"bmp8", "page8.bmp", 0, PageRegion::Method::Bmp},
    {"bmp1", "page1.bmp", 0, PageRegion::Method::Bmp},
    {"png", "page.png", 0, PageRegion::Method::Generic},
    {"gif", "page.gif", 0, PageRegion::Method::Gif},
    {"gif-interlaced", "pagei.gif", 0, PageRegion::Method::Gif},
};

const char* mirrorName(Mirror m) {
    return m == Mirror::None ? "none" : m == Mirror::Horizontal ? "h" : "v";
}

} // namespace

class TestRegionReader : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QImage m_page;

    QString file(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

  private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_page = PageFiles::paintPage(kPageWidth, kPageHeight);
        QVERIFY(PageFiles::write(file("page444.jpg"), PageFiles::jpeg(m_page, 100, false)));
        QVERIFY(PageFiles::write(file("page420.jpg"), PageFiles::jpeg(m_page, 92, true)));
        QVERIFY(PageFiles::write(file("pageprog.jpg"), PageFiles::jpeg(m_page, 95, true, true)));
        QVERIFY(
            PageFiles::write(file("pagegray.jpg"),
                             PageFiles::jpeg(m_page.convertToFormat(QImage::Format_Grayscale8), 95, false)));
        QVERIFY(PageFiles::write(file("pagecmyk.jpg"), PageFiles::jpegCmyk(m_page)));
        QVERIFY(PageFiles::write(file("page24.bmp"), PageFiles::bmp(m_page, 24)));
        QVERIFY(PageFiles::write(file("page32.bmp"), PageFiles::bmp(m_page, 32, true)));
        QVERIFY(PageFiles::write(file("page8.bmp"), PageFiles::bmp(m_page, 8)));
        QVERIFY(PageFiles::write(file("page1.bmp"), PageFiles::bmp(m_page, 1)));
        const QImage indexed = m_page.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
        QVERIFY(PageFiles::write(file("pagerle.bmp"), PageFiles::bmpRle8(indexed)));
        QVERIFY(m_page.save(file("page.png")));
        QVERIFY(PageFiles::write(file("page.gif"), PageFiles::gif(indexed)));
        QVERIFY(PageFiles::write(file("pagei.gif"), PageFiles::gif(indexed, true)));
        // A page large and varied enough to fill the LZW table many times over.
        QImage noise(640, 480, QImage::Format_Indexed8);
        noise.setColorCount(256);
        for (int i = 0; i < 256; ++i)
            noise.setColor(i, qRgb(i, 255 - i, (i * 7) & 255));
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, uint((x * x + 3 * y + x * y / 7) % 256));
        QVERIFY(PageFiles::write(file("noise.gif"), PageFiles::gif(noise)));
        // The row-by-row BMPs must hold the page Qt sees, or the comparisons prove nothing.
        QCOMPARE(QImage(file("page24.bmp")).convertToFormat(QImage::Format_RGB32), m_page);
        QCOMPARE(QImage(file("page32.bmp")).convertToFormat(QImage::Format_RGB32), m_page);
        QCOMPARE(QImage(file("page.gif")).convertToFormat(QImage::Format_RGB32),
                 indexed.convertToFormat(QImage::Format_RGB32));
    }

    // Every format, rotation and mirror: the region equals the same rectangle cut from the
    // page decoded whole and turned by Qt, white where it reaches past the page.
    void regionMatchesWholePage_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<Mirror>("mirror");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<int>("tolerance");
        QTest::addColumn<PageRegion::Method>("method");
        for (const Format& f : kFormats)
            for (int rotation : {0, 90, 180, 270})
                for (Mirror mirror : {Mirror::None, Mirror::Horizontal, Mirror::Vertical}) {
                    const bool swap = rotation % 180 != 0;
                    const int w = swap ? kPageHeight : kPageWidth;
                    const int h = swap ? kPageWidth : kPageHeight;
                    const struct {
                        const char* name;
                        QRect rect;
                    } rects[] = {
                        {"inside", QRect(17, 23, 61, 45)},
                        {"one-pixel", QRect(w - 1, h - 1, 1, 1)},
                        {"past-top-left", QRect(-9, -13, 40, 50)},
                        {"past-bottom-right", QRect(w - 30, h - 20, 50, 45)},
                        {"around-page", QRect(-5, -6, w + 10, h + 12)},
                        {"outside", QRect(w + 3, 2, 10, 10)},
                    };
                    for (const auto& r : rects)
                        QTest::addRow("%s-%d-%s-%s", f.name, rotation, mirrorName(mirror), r.name)
                            << file(f.file) << rotation << mirror << r.rect << f.tolerance << f.method;
                }
    }
    void regionMatchesWholePage() {
        QFETCH(QString, path);
        QFETCH(int, rotation);
        QFETCH(Mirror, mirror);
        QFETCH(QRect, rect);
        QFETCH(int, tolerance);
        QFETCH(PageRegion::Method, method);

        const PageRegion region = RegionReader::read({path, {rotation, mirror}, rect, {}});
        QVERIFY2(region.ok(), qPrintable(region.error));
        QCOMPARE(region.method, method);
        QCOMPARE(region.scale, 1.0);
        QCOMPARE(region.origin, QPointF(rect.topLeft()));
        QCOMPARE(region.image.format(), QImage::Format_RGB32);

        const QImage shown = shownPage(path, rotation, mirror);
        QCOMPARE(region.pageSize, shown.size());
        const QImage expected = onPaper(shown, rect);
        QCOMPARE(region.image.size(), expected.size());
        QPoint where;
        const int diff = maxDifference(region.image, expected, &where);
        QVERIFY2(
            diff <= tolerance,
            qPrintable(QStringLiteral("difference %1 at (%2, %3)").arg(diff).arg(where.x()).arg(where.y())));
    }

    // A GIF whose LZW table fills and clears many times: rows from the top, the middle and
    // the end of the stream, turned, equal Qt's whole decode.
    void largeGifMatchesQt_data() {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<Mirror>("mirror");
        QTest::addColumn<QRect>("rect");
        for (int rotation : {0, 90, 270})
            for (Mirror mirror : {Mirror::None, Mirror::Vertical}) {
                const bool swap = rotation % 180 != 0;
                const int w = swap ? 480 : 640;
                const int h = swap ? 640 : 480;
                QTest::addRow("%d-%s-top", rotation, mirrorName(mirror))
                    << rotation << mirror << QRect(5, 0, 90, 7);
                QTest::addRow("%d-%s-middle", rotation, mirrorName(mirror))
                    << rotation << mirror << QRect(w / 3, h / 2, 101, 77);
                QTest::addRow("%d-%s-last-rows", rotation, mirrorName(mirror))
                    << rotation << mirror << QRect(w - 50, h - 9, 80, 20);
            }
    }
    void largeGifMatchesQt() {
        QFETCH(int, rotation);
        QFETCH(Mirror, mirror);
        QFETCH(QRect, rect);
        const QString path = file("noise.gif");
        const PageRegion region = RegionReader::read({path, {rotation, mirror}, rect, {}});
        QVERIFY2(region.ok(), qPrintable(region.error));
        QCOMPARE(region.method, PageRegion::Method::Gif);
        QCOMPARE(maxDifference(region.image, onPaper(shownPage(path, rotation, mirror), rect)), 0);
    }

    void gifTransparencyReadsWhite() {
        QImage indexed(40, 30, QImage::Format_Indexed8);
        indexed.setColorCount(4);
        indexed.setColor(0, qRgb(200, 10, 10));
        indexed.setColor(1, qRgb(10, 200, 10));
        indexed.setColor(2, qRgb(10, 10, 200));
        indexed.setColor(3, qRgb(0, 0, 0));
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x)
                indexed.setPixel(x, y, uint((x / 5 + y / 5) % 4));
        const QString path = m_dir.filePath(QStringLiteral("transparent.gif"));
        QVERIFY(PageFiles::write(path, PageFiles::gif(indexed, false, 3)));
        const PageRegion region = RegionReader::read({path, {}, QRect(0, 0, 40, 30), {}});
        QVERIFY2(region.ok(), qPrintable(region.error));
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                const QRgb expected =
                    indexed.pixelIndex(x, y) == 3 ? qRgb(255, 255, 255) : indexed.pixel(x, y);
                QCOMPARE(region.image.pixel(x, y), expected);
            }
    }

    // A reduced JPEG decode: each pixel is the average of the k x k page pixels it stands
    // for, wherever the transform puts the reduced grid.
    void reducedJpegMatchesAverages_data() {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<Mirror>("mirror");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<QSize>("target");
        QTest::addColumn<int>("reduction");
        QTest::addColumn<bool>("subsampled");
        for (bool subsampled : {false, true}) {
            const char* chroma = subsampled ? "420" : "444";
            for (int rotation : {0, 90, 180, 270})
                for (Mirror mirror : {Mirror::None, Mirror::Horizontal, Mirror::Vertical}) {
                    QTest::addRow("%s-%d-%s-half", chroma, rotation, mirrorName(mirror))
                        << rotation << mirror << QRect(13, 9, 101, 90) << QSize(50, 40) << 2 << subsampled;
                    QTest::addRow("%s-%d-%s-quarter-past-edge", chroma, rotation, mirrorName(mirror))
                        << rotation << mirror << QRect(-7, 30, 160, 150) << QSize(40, 36) << 4 << subsampled;
                    QTest::addRow("%s-%d-%s-eighth", chroma, rotation, mirrorName(mirror))
                        << rotation << mirror << QRect(0, 0, 140, 130) << QSize(17, 16) << 8 << subsampled;
                }
        }
    }
    void reducedJpegMatchesAverages() {
        QFETCH(int, rotation);
        QFETCH(Mirror, mirror);
        QFETCH(QRect, rect);
        QFETCH(QSize, target);
        QFETCH(int, reduction);
        QFETCH(bool, subsampled);

        // A smooth page: a reduced decode is an average, sharp marks would blur by design.
        QImage smooth(kPageWidth, kPageHeight, QImage::Format_RGB32);
        for (int y = 0; y < kPageHeight; ++y)
            for (int x = 0; x < kPageWidth; ++x)
                smooth.setPixel(x, y, qRgb(x * 255 / kPageWidth, y * 255 / kPageHeight, 128 + (x - y) / 4));
        const QString path = m_dir.filePath(QStringLiteral("smooth.jpg"));
        QVERIFY(PageFiles::write(path, PageFiles::jpeg(smooth, 100, subsampled)));

        const PageRegion region = RegionReader::read({path, {rotation, mirror}, rect, target});
        QVERIFY2(region.ok(), qPrintable(region.error));
        QCOMPARE(region.scale, 1.0 / reduction);
        // The grid covers the rectangle, by less than one reduced pixel more on each side.
        const QRectF covered = region.mapFromPage(QRectF(rect));
        QVERIFY(covered.left() >= 0 && covered.left() < 1);
        QVERIFY(covered.top() >= 0 && covered.top() < 1);
        QVERIFY(covered.right() <= region.image.width() && covered.right() > region.image.width() - 1);
        QVERIFY(covered.bottom() <= region.image.height() && covered.bottom() > region.image.height() - 1);
        QVERIFY(region.image.width() >= target.width() && region.image.height() >= target.height());

        const QImage shown = shownPage(path, rotation, mirror);
        const QRect page(QPoint(0, 0), shown.size());
        int checked = 0;
        for (int j = 0; j < region.image.height(); ++j)
            for (int i = 0; i < region.image.width(); ++i) {
                const QRect block(int(region.origin.x()) + i * reduction,
                                  int(region.origin.y()) + j * reduction, reduction, reduction);
                const QRgb got = region.image.pixel(i, j);
                if (!page.intersects(block)) {
                    QCOMPARE(got, qRgb(255, 255, 255));
                    continue;
                }
                if (!page.contains(block))
                    continue; // a block cut by the page edge averages padding too
                double sum[3] = {0, 0, 0};
                for (int y = block.top(); y <= block.bottom(); ++y)
                    for (int x = block.left(); x <= block.right(); ++x) {
                        const QRgb p = shown.pixel(x, y);
                        sum[0] += qRed(p);
                        sum[1] += qGreen(p);
                        sum[2] += qBlue(p);
                    }
                const double n = reduction * reduction;
                const double d =
                    std::max({std::abs(sum[0] / n - qRed(got)), std::abs(sum[1] / n - qGreen(got)),
                              std::abs(sum[2] / n - qBlue(got))});
                QVERIFY2(d <= 4,
                         qPrintable(QStringLiteral("difference %1 at (%2, %3)").arg(d).arg(i).arg(j)));
                ++checked;
            }
        QVERIFY(checked > 100);
    }

    void reductionChoice_data() {
        QTest::addColumn<QSize>("rect");
        QTest::addColumn<QSize>("target");
        QTest::addColumn<int>("reduction");
        QTest::newRow("no-target") << QSize(4000, 4000) << QSize() << 1;
        QTest::newRow("enlarged") << QSize(296, 363) << QSize(400, 480) << 1;
        QTest::newRow("just-under-two") << QSize(799, 960) << QSize(400, 480) << 1;
        QTest::newRow("exactly-two") << QSize(800, 960) << QSize(400, 480) << 2;
        QTest::newRow("one-side-short") << QSize(3200, 900) << QSize(400, 480) << 1;
        QTest::newRow("four") << QSize(1700, 2000) << QSize(400, 480) << 4;
        QTest::newRow("eight-at-most") << QSize(9000, 9000) << QSize(375, 72) << 8;
    }
    void reductionChoice() {
        QFETCH(QSize, rect);
        QFETCH(QSize, target);
        QFETCH(int, reduction);
        QCOMPARE(RegionReader::reductionFor(rect, target), reduction);
    }

    void pageSizeFromHeader_data() {
        QTest::addColumn<QString>("path");
        for (const Format& f : kFormats)
            QTest::newRow(f.name) << file(f.file);
    }
    void pageSizeFromHeader() {
        QFETCH(QString, path);
        QString error;
        QCOMPARE(RegionReader::pageSize(path, &error), QSize(kPageWidth, kPageHeight));
        QVERIFY(error.isEmpty());
    }

    // Damaged, cut or foreign files give a message and no picture; none may crash or
    // return made-up pixels.
    // The locator's copy: a JPEG of the whole page, unturned, decodes only its luminance;
    // any other page or request keeps its colours, and a damaged page is still refused.
    void greyWillDo_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<bool>("wholePage");
        QTest::addColumn<bool>("grey");
        QTest::newRow("4:2:0") << "page420.jpg" << 0 << true << true;
        QTest::newRow("4:4:4") << "page444.jpg" << 0 << true << true;
        QTest::newRow("progressive") << "pageprog.jpg" << 0 << true << true;
        QTest::newRow("grey JPEG") << "pagegray.jpg" << 0 << true << true;
        QTest::newRow("CMYK") << "pagecmyk.jpg" << 0 << true << false;
        QTest::newRow("turned") << "page420.jpg" << 90 << true << false;
        QTest::newRow("part of the page") << "page420.jpg" << 0 << false << false;
        QTest::newRow("BMP") << "page24.bmp" << 0 << true << false;
    }
    void greyWillDo() {
        QFETCH(QString, name);
        QFETCH(int, rotation);
        QFETCH(bool, wholePage);
        QFETCH(bool, grey);
        const QString path = m_dir.filePath(name);
        const QSize page = rotation % 180 ? QSize(kPageHeight, kPageWidth) : QSize(kPageWidth, kPageHeight);
        RegionRequest request{path,
                              {rotation, Mirror::None},
                              QRect(QPoint(0, 0), wholePage ? page : page / 2),
                              QSize(kPageWidth / 4, kPageHeight / 4)};
        const PageRegion colour = RegionReader::read(request);
        request.greyWillDo = true;
        const PageRegion region = RegionReader::read(request);
        QVERIFY2(colour.ok() && region.ok(), qPrintable(colour.error + region.error));
        QCOMPARE(region.image.format(), grey ? QImage::Format_Grayscale8 : colour.image.format());
        QCOMPARE(region.image.size(), colour.image.size());
        QCOMPARE(region.origin, colour.origin);
        QCOMPARE(region.scale, colour.scale);
        double worst = 0;
        for (int y = 0; y < region.image.height(); ++y)
            for (int x = 0; x < region.image.width(); ++x) {
                const QRgb want = colour.image.pixel(x, y);
                const QRgb got = region.image.pixel(x, y);
                // The luminance the JPEG holds; its colours were clipped to 0..255 on the way out.
                const double luminance = 0.299 * qRed(want) + 0.587 * qGreen(want) + 0.114 * qBlue(want);
                if (grey)
                    worst = std::max(worst, std::abs(qGray(got) - luminance));
                else
                    QCOMPARE(got, want);
            }
        QVERIFY2(worst <= 2, qPrintable(QString::number(worst)));
        if (grey) {
            const QString cut = m_dir.filePath(QStringLiteral("cut-") + name);
            const QByteArray whole = TestFiles::readAll(path);
            QVERIFY(PageFiles::write(cut, whole.chopped(whole.size() / 3)));
            request.path = cut;
            const PageRegion refused = RegionReader::read(request);
            QVERIFY(!refused.ok() && refused.image.isNull());
        }
    }

    // Pages cut or damaged the common ways (empty, text, JPEGs, BMPs and GIFs cut short, a
    // damaged scan) are among the hostile pages of tst_readerParity, read there at both ends of the
    // page; these are the cases only the region reader meets.
    void badInputGivesError_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<QString>("message");

        const QByteArray jpeg = PageFiles::jpeg(m_page, 90, true);
        const QByteArray bmp = PageFiles::bmp(m_page, 24);
        const QRect top(0, 0, 50, 20);
        QByteArray hugeBmp = bmp;
        qToLittleEndian<qint32>(1 << 30, hugeBmp.data() + 18);
        QByteArray shortPalette = PageFiles::bmp(m_page, 8).left(14 + 40 + 100);

        const QByteArray gif =
            PageFiles::gif(m_page.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither));
        QByteArray gifBadCodeSize = gif;
        const int descriptor = 13 + 3 * (2 << (uchar(gif[10]) & 7)); // after the global palette
        QCOMPARE(gif[descriptor], '\x2C');
        gifBadCodeSize[descriptor + 10] = char(12); // the LZW minimum code size, at most 8
        QTest::newRow("gif-cut-before-end-block")
            << gif.left(gif.size() - 2) << 0 << top << QStringLiteral("troncato");
        QTest::newRow("gif-signature-only") << QByteArray("GIF89a") << 0 << top << QStringLiteral("troncato");
        QTest::newRow("gif-bad-code-size") << gifBadCodeSize << 0 << top << QStringLiteral("danneggiato");
        QTest::newRow("missing") << QByteArray() << 0 << top << QStringLiteral("impossibile aprire");
        QTest::newRow("jpeg-cut-turned")
            << jpeg.left(jpeg.size() * 3 / 4) << 90 << top << QStringLiteral("troncato");
        QTest::newRow("jpeg-header-only") << jpeg.left(300) << 0 << top << QStringLiteral("JPEG");
        QTest::newRow("bmp-header-cut") << bmp.left(30) << 0 << top << QStringLiteral("BMP");
        QTest::newRow("bmp-absurd-width") << hugeBmp << 0 << top << QStringLiteral("BMP");
        QTest::newRow("bmp-palette-cut") << shortPalette << 0 << top << QStringLiteral("BMP");
        QTest::newRow("bad-rotation") << bmp << 45 << top << QStringLiteral("Rotazione non valida");
        QTest::newRow("empty-rect") << bmp << 0 << QRect(5, 5, 0, 10) << QStringLiteral("vuoto");
        QTest::newRow("rect-too-large")
            << bmp << 0 << QRect(0, 0, 40000, 40000) << QStringLiteral("troppo grande");
    }
    void badInputGivesError() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, rotation);
        QFETCH(QRect, rect);
        QFETCH(QString, message);
        const QString path =
            m_dir.filePath(QStringLiteral("bad-%1").arg(QString::fromLatin1(QTest::currentDataTag())));
        if (!bytes.isNull())
            QVERIFY(PageFiles::write(path, bytes));
        const PageRegion region = RegionReader::read({path, {rotation, Mirror::None}, rect, QSize(10, 10)});
        QVERIFY(!region.ok());
        QVERIFY(region.image.isNull());
        QVERIFY2(region.error.contains(message), qPrintable(region.error));
    }

    // Flipped bytes anywhere in a file: the read either succeeds with a region of the right
    // size or fails with a message, and never crashes (the sanitizer build watches memory).
    void damagedBytesNeverCrash_data() {
        QTest::addColumn<QString>("path");
        for (const char* name :
             {"page420.jpg", "pageprog.jpg", "page24.bmp", "page8.bmp", "page.gif", "noise.gif"})
            QTest::newRow(name) << file(name);
    }
    void damagedBytesNeverCrash() {
        QFETCH(QString, path);
        const QByteArray original = TestFiles::readAll(path);
        QVERIFY(!original.isEmpty());
        QRandomGenerator rng(7);
        const QString damaged = m_dir.filePath(QStringLiteral("damaged"));
        for (int round = 0; round < 60; ++round) {
            QByteArray bytes = original;
            const int flips = 1 + int(rng.bounded(6));
            for (int i = 0; i < flips; ++i)
                bytes[qsizetype(rng.bounded(quint32(bytes.size())))] = char(rng.bounded(256));
            QVERIFY(PageFiles::write(damaged, bytes));
            const QRect rect(int(rng.bounded(150)) - 20, int(rng.bounded(120)) - 20, 60, 50);
            const PageRegion region =
                RegionReader::read({damaged, {int(rng.bounded(4)) * 90, Mirror::None}, rect, {}});
            if (region.ok())
                QCOMPARE(region.image.size(), rect.size());
            else
                QVERIFY(!region.error.isEmpty());
        }
    }

    // Qt's reader leaves pixels of some run-length BMPs unset, so no reader takes them:
    // the page is refused with its reason, never read with made-up pixels.
    void compressedBmpIsRefused() {
        const QString path = file("pagerle.bmp");
        const QByteArray bytes = TestFiles::readAll(path);
        PageRegion direct;
        const auto r = BmpRegionReader::read(reinterpret_cast<const uchar*>(bytes.constData()), bytes.size(),
                                             {path, {}, QRect(0, 0, 10, 10), {}}, &direct);
        QCOMPARE(r, BmpRegionReader::Result::Failed);
        QVERIFY2(direct.error.contains(QStringLiteral("RLE")), qPrintable(direct.error));
        const PageRegion region = RegionReader::read({path, {}, QRect(0, 0, 10, 10), {}});
        QVERIFY(!region.ok());
        QVERIFY2(region.error.contains(QStringLiteral("RLE")), qPrintable(region.error));
    }
};

QTEST_GUILESS_MAIN(TestRegionReader)
#include "tst_RegionReader.moc"
