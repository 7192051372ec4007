#include "workspace/StretchRegion.h"

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

} // namespace

QImage stretchRegion(const QImage& source, const QRectF& region, QSize outputSize) {
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

    const QRectF inside = region.intersected(QRectF(source.rect()));
    if (inside.isEmpty())
        return result;
    const QRect aligned = inside.toAlignedRect().intersected(source.rect());
    if (aligned.isEmpty())
        return result;

    // Where the aligned pixels land in the output. They may reach a little past the
    // output's edges where the region cuts a pixel; painting clips that part.
    const double sx = outputSize.width() / region.width();
    const double sy = outputSize.height() / region.height();
    const QRectF target((aligned.x() - region.x()) * sx, (aligned.y() - region.y()) * sy,
                        aligned.width() * sx, aligned.height() * sy);
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
