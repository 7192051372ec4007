#pragma once

#include "imaging/PageTransform.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstddef>

// The picture a region read fills: one rectangle of the transformed page, white where
// the rectangle lies outside the page. Rows of the stored page are handed in as they are
// decoded and each pixel is written straight to its turned place, so no turned copy of
// anything larger than the region is ever made.
class RegionCanvas {
  public:
    // storedSize: the stored page (or its reduced decode); shown: the rectangle wanted, in
    // pixels of that page once transformed.
    RegionCanvas(QSize storedSize, PageTransform transform, const QRect& shown);

    // The largest region, in megabytes of 32-bit pixels, a read will allocate: that of the
    // largest page (PageLimits::kPageBytes).
    static constexpr qint64 kAllocationLimitMb = 256;

    // Allocates the white picture. False, with a reason, when the region is empty, too
    // large or memory runs out.
    bool allocate(QString* error);

    // The rows and columns of the stored page that feed the region, clipped to the page;
    // empty when the region lies wholly outside it.
    QRect storedRect() const { return m_stored; }

    // Stored row y, pixels x0 .. x0 + count - 1 as 0xffRRGGBB, all inside storedRect().
    void putRow(int y, int x0, const quint32* pixels, int count);

    QImage image() const { return m_image; }

  private:
    QSize m_storedSize;
    PageTransform m_transform;
    QRect m_shown;
    QRect m_stored;
    QImage m_image;
    std::ptrdiff_t m_stepX = 0; // destination pixels between stored (x, y) and (x + 1, y)
};
