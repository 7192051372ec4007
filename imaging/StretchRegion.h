#pragma once

#include <QImage>
#include <QRectF>
#include <QSize>

// The region of source (image pixels, fractions allowed) stretched over an image of
// outputSize, whatever the two proportions. Shrinking averages the pixels each output
// pixel covers, enlarging interpolates; the part of the region outside the source comes
// out white, like paper. The source is read in place, never copied whole. An empty or
// non-finite region gives an all-white image; an empty outputSize a null one.
QImage stretchRegion(const QImage& source, const QRectF& region, QSize outputSize);

// The same from a page that has a reduced copy (ImageFile::reduced(): every
// FastPixels::kBlock square of page averaged into one pixel). Where each output pixel
// covers one or more whole blocks each way the copy is read instead of the page, a sixteenth of
// the pixels; otherwise, or when reduced is null or not page's copy, the page itself.
QImage stretchRegion(const QImage& page, const QImage& reduced, const QRectF& region, QSize outputSize);
