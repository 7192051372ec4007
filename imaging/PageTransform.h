#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// How a page is turned before it is framed: a clockwise quarter-turn rotation, then one
// mirror, exactly as the workspace's rotate and flip commands apply them. The
// transformed page is what the operator sees; a stored page is never changed.
struct PageTransform {
    enum class Mirror { None, Horizontal, Vertical }; // left to right, top to bottom

    int rotation = 0; // clockwise degrees: 0, 90, 180 or 270
    Mirror mirror = Mirror::None;

    bool isValid() const { return rotation == 0 || rotation == 90 || rotation == 180 || rotation == 270; }
    bool swapsAxes() const { return rotation == 90 || rotation == 270; }

    // Size of a stored page of pageSize once transformed.
    QSize transformedSize(QSize pageSize) const { return swapsAxes() ? pageSize.transposed() : pageSize; }

    // Where pixel (x, y) of a stored page of pageSize lands on the transformed page.
    QPoint map(QSize pageSize, QPoint stored) const;
    // The pixel of the stored page that lands on (u, v) of the transformed page.
    QPoint unmap(QSize pageSize, QPoint shown) const;
    // The stored-page rectangle whose pixels land inside shown (which may reach past the page;
    // the result then reaches past the stored page by the same margins, turned).
    QRect unmapRect(QSize pageSize, const QRect& shown) const;

    // Whether the transformed page's horizontal (or vertical) axis runs against the stored
    // page's axis it comes from; a reduced decode must then count its grid from the far edge.
    bool reversesHorizontal() const;
    bool reversesVertical() const;
};
