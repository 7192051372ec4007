#include "imaging/StretchRegion.h"

#include "imaging/FastPixels.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

// The pixels of rect as an image that points into source's memory: no copy of the page.
QImage viewOf(const QImage& source, const QRect& rect) {
    if (source.depth() < 8)
        return source.copy(rect);
    const int bytesPerPixel = source.depth() / 8;
    const uchar* first = source.constBits() + qsizetype(rect.y()) * source.bytesPerLine() +
                         qsizetype(rect.x()) * bytesPerPixel;
    QImage view(first, rect.width(), rect.height(), source.bytesPerLine(), source.format());
    view.setColorTable(source.colorTable());
    return view;
}

// source's pixels each stand for scale x scale pixels of a page of extent.
QImage stretchScaled(const QImage& source, double scale, QSizeF extent, const QRectF& region,
                     QSize outputSize) {
    if (outputSize.isEmpty())
        return {};
    QImage result(outputSize, QImage::Format_RGB32);
    if (result.isNull())
        return {};
    result.fill(Qt::white);

    const bool finite = std::isfinite(region.x()) && std::isfinite(region.y()) &&
                        std::isfinite(region.width()) && std::isfinite(region.height());
    if (source.isNull() || !finite || !(region.width() > 0) || !(region.height() > 0))
        return result;

    const QRectF inside = region.intersected(QRectF(QPointF(0, 0), extent));
    if (inside.isEmpty())
        return result;
    const QRectF insidePixels(inside.topLeft() / scale, inside.size() / scale);
    const QRect aligned = insidePixels.toAlignedRect().intersected(source.rect());
    if (aligned.isEmpty())
        return result;

    // Where the aligned pixels land in the output. They may reach a little past the
    // output's edges where the region cuts a pixel; painting clips that part.
    const double sx = outputSize.width() / region.width();
    const double sy = outputSize.height() / region.height();
    const QRectF target((aligned.x() * scale - region.x()) * sx, (aligned.y() * scale - region.y()) * sy,
                        aligned.width() * scale * sx, aligned.height() * scale * sy);
    // Shrinking is done first with an area-averaging scale; what is left to do (enlarging,
    // and the fraction of a pixel) is bilinear.
    const QSize scaledSize(std::clamp(int(std::ceil(target.width())), 1, aligned.width()),
                           std::clamp(int(std::ceil(target.height())), 1, aligned.height()));
    const QImage view = viewOf(source, aligned);
    const QImage scaled = scaledSize == aligned.size()
                              ? view
                              : view.scaled(scaledSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.isNull())
        return result;

    QPainter painter(&result);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, scaled);
    return result;
}

} // namespace

QImage stretchRegion(const QImage& source, const QRectF& region, QSize outputSize) {
    return stretchScaled(source, 1, QSizeF(source.size()), region, outputSize);
}

QImage stretchRegion(const QImage& page, const QImage& reduced, const QRectF& region, QSize outputSize) {
    constexpr int kBlock = FastPixels::kBlock;
    const bool useReduced = !reduced.isNull() && !page.isNull() &&
                            reduced.size() == FastPixels::reducedSize(page.size()) && !outputSize.isEmpty() &&
                            region.width() >= double(kBlock) * outputSize.width() &&
                            region.height() >= double(kBlock) * outputSize.height();
    if (!useReduced)
        return stretchRegion(page, region, outputSize);
    return stretchScaled(reduced, kBlock, QSizeF(page.size()), region, outputSize);
}
