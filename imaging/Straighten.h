#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

// A small turn of the page (after its quarter turn and mirror) that levels a page fed
// into the scanner askew: the page turns clockwise by a positive angle about its centre,
// onto a canvas of the same size; the corners it uncovers are white paper.
//
// Each pixel of the straightened page is a bilinear mix of the four page pixels around
// the place it comes from, worked out in fixed point from its own position on the page
// and nothing else. So a rectangle of the straightened page made alone is, byte for byte,
// the same rectangle of the whole straightened page: the batch command straightens only
// the pixels its crop needs and still saves what the window saves.
namespace Straighten {

// The largest angle either way the program offers: a page fed more askew than this is
// scanned again.
inline constexpr double kMaxDegrees = 10.0;

// The rectangle of the page (of pageSize, before straightening) whose pixels the region
// of the straightened page is made from, clipped to the page; empty when the region shows
// only paper outside the page.
QRect sourceRect(QSize pageSize, double degrees, const QRect& region);

// The region of the straightened page (it may reach past the page, whose canvas ends there:
// its pixels are white). source holds the page's pixels of sourceRect(pageSize, degrees, region) (or more
// of the page), its top-left pixel being the page's pixel at sourceOrigin; it must be
// Format_RGB32 or Format_ARGB32, whose format the result keeps. A null image when source
// does not cover what the region needs, is of another format, or memory runs out.
QImage region(const QImage& source, QPoint sourceOrigin, QSize pageSize, double degrees, const QRect& region);

// The whole page straightened.
inline QImage page(const QImage& page, double degrees) {
    return region(page, QPoint(0, 0), page.size(), degrees, page.rect());
}

} // namespace Straighten
