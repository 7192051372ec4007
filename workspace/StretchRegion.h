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
