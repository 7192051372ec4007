#pragma once

#include "imaging/PageTransform.h"

#include <QImage>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>

#include <future>

// A rectangle of a transformed page, as the batch command wants it.
struct RegionRequest {
    QString path;
    PageTransform transform;
    // The rectangle in pixels of the page after the rotation and mirror; it may reach past
    // the page, whose outside reads as white paper.
    // Sides beyond a million pixels from the origin are refused.
    QRect rect;
    // Optional: the size the rectangle will be stretched to. When the rectangle is at least
    // twice as large on both sides, a JPEG may be decoded at 1/2, 1/4 or 1/8 of its size,
    // never below targetSize.
    QSize targetSize;

    // The page file's bytes, when the caller holds them already: they are read instead of
    // the file (path then only names the page).
    QByteArray data{};
    // data was already read whole by read() (a request with keepData), so it is known to
    // be whole: a JPEG then decodes only the rows the rectangle needs. Without data it is
    // ignored.
    bool wholeKnown = false;
    // A JPEG's rows after the rectangle, gone through only to tell a whole page from a
    // damaged one, may be gone through on a thread of their own while the caller works on
    // the region: PageRegion::finish() then gives the verdict.
    bool deferWholeness = false;
    // Hand the file's bytes back in PageRegion::data when they were read whole.
    bool keepData = false;
    // Grey will do (the locator's copy of the whole page): a JPEG with a luminance channel
    // then decodes only that, into a QImage::Format_Grayscale8, when the request is the
    // whole page unturned. Other pages and requests give their colours as always. Such a read
    // decodes every row, so it tells a damaged page itself: deferWholeness and wholeKnown do
    // not apply to it.
    bool greyWillDo = false;
};

// What a region read produced.
struct PageRegion {
    enum class Method { None, Jpeg, Bmp, Gif, Generic };

    // The rectangle (or the reduced grid covering it), 32-bit opaque RGB; null on error.
    QImage image;
    // Page pixel (after the transform) where image's top-left corner lies, and image
    // pixels per page pixel (1, 1/2, 1/4 or 1/8). With scale 1 origin is rect's corner.
    QPointF origin;
    double scale = 1.0;
    // The transformed page's full size in pixels.
    QSize pageSize;
    Method method = Method::None;
    // Why the read failed, in Italian, ready for the operator; empty on success.
    QString error;
    // With RegionRequest::keepData: the file's bytes, when they were read whole.
    QByteArray data;
    // With RegionRequest::deferWholeness: the check of the rest of the page, running; it
    // answers the reason the page is refused, empty when it is whole.
    std::shared_future<QString> pending;

    bool ok() const { return error.isEmpty() && !image.isNull(); }
    // Waits for a pending check of the rest of the page. False when the read failed or the
    // page turned out damaged (error then says why, and image is null): nothing made from
    // the region may be kept then.
    bool finish();
    // A rectangle in page pixels (after the transform) in image's pixels.
    QRectF mapFromPage(const QRectF& pageRect) const;
};

// Reads one rectangle of a page file without decoding more of it than the rectangle
// needs: JPEG through libjpeg-turbo's cropped and skipped scanlines, BMP rows read from the
// file a band at a time, GIF pages through our own LZW decoder, the other pages (PNG,
// 16-bit BMP) through QImageReader. The pages are the
// workspace's: BMP, JPEG, GIF and PNG recognised by their content, anything else refused.
// A page is accepted or refused by the same rules and limits as the workspace's load
// (JpegErrors, BmpHeader, PageLimits), whatever the rectangle: the data outside it is
// gone through without making pixels of it. The file is never memory-mapped, so a file
// cut short while it is read is an unreadable page; only regular files are read.
// Never throws and never ends the program; every failure comes back as error, in
// Italian and without the file's name (the caller says which file).
// Safe to call from several threads at once.
class RegionReader {
  public:
    static PageRegion read(const RegionRequest& request);

    // The region request asks for, cut from page: the whole stored page as a read of it
    // with no transform, at full size, gave it (scale 1). The pixels are those a read of
    // the file would give; method is copied into the answer.
    static PageRegion cut(const QImage& page, PageRegion::Method method, const RegionRequest& request);

    // The stored page's size from the file's header, before any transform; an empty size
    // with *error set when the file cannot be read.
    static QSize pageSize(const QString& path, QString* error);

    // The reduction a JPEG decode may use for a rectangle of rectSize that will be
    // stretched to targetSize: 1, 2, 4 or 8.
    static int reductionFor(QSize rectSize, QSize targetSize);

    // The reason given for a file that is none of the page formats.
    static QString unknownFormat();
    // Whether a PNG file holds every chunk up to its end chunk; false with a reason.
    static bool pngIsWhole(const QByteArray& bytes, QString* error);
};
