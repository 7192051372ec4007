#include "imaging/PageTransform.h"

#include <algorithm>

QPoint PageTransform::map(QSize pageSize, QPoint stored) const {
    const int w = pageSize.width();
    const int h = pageSize.height();
    const int x = stored.x();
    const int y = stored.y();
    QPoint p;
    switch (rotation) {
    case 90:
        p = {h - 1 - y, x};
        break;
    case 180:
        p = {w - 1 - x, h - 1 - y};
        break;
    case 270:
        p = {y, w - 1 - x};
        break;
    default:
        p = stored;
        break;
    }
    const QSize shown = transformedSize(pageSize);
    if (mirror == Mirror::Horizontal)
        p.setX(shown.width() - 1 - p.x());
    else if (mirror == Mirror::Vertical)
        p.setY(shown.height() - 1 - p.y());
    return p;
}

QPoint PageTransform::unmap(QSize pageSize, QPoint shown) const {
    const QSize size = transformedSize(pageSize);
    QPoint p = shown;
    if (mirror == Mirror::Horizontal)
        p.setX(size.width() - 1 - p.x());
    else if (mirror == Mirror::Vertical)
        p.setY(size.height() - 1 - p.y());
    const int w = pageSize.width();
    const int h = pageSize.height();
    switch (rotation) {
    case 90:
        return {p.y(), h - 1 - p.x()};
    case 180:
        return {w - 1 - p.x(), h - 1 - p.y()};
    case 270:
        return {w - 1 - p.y(), p.x()};
    default:
        return p;
    }
}

QRect PageTransform::unmapRect(QSize pageSize, const QRect& shown) const {
    if (shown.isEmpty())
        return {};
    const QPoint a = unmap(pageSize, shown.topLeft());
    const QPoint b = unmap(pageSize, shown.bottomRight());
    return QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                 QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
}

bool PageTransform::reversesHorizontal() const {
    // The shown x axis comes from stored y (90, 270) or stored x (0, 180).
    const bool turned = rotation == 90 || rotation == 180;
    return turned != (mirror == Mirror::Horizontal);
}

bool PageTransform::reversesVertical() const {
    const bool turned = rotation == 180 || rotation == 270;
    return turned != (mirror == Mirror::Vertical);
}
