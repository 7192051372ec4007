#pragma once

#include "imaging/RegionReader.h"

#include <QImage>
#include <QSize>
#include <QString>

// The picture of a page the locator looks at. The window and the batch command make it
// with the same reads, so that they find the same frames on the same page: a JPEG decoded
// at the DCT reduction nearest the locator's resolution (grey when it has a luminance
// channel), any other page decoded whole and averaged over blocks as the window's reduced
// copy is (ImageFile), or the page itself when it is too small to have one.
namespace LocatorPicture {

// The locator works on about 75 dpi; a JPEG page is decoded at the reduction closest to a
// long side of this many pixels.
inline constexpr int kJpegLongSide = 860;

// The read of the whole stored page (of stored size) the picture comes from.
RegionRequest request(const QString& path, QSize stored);

// The picture from what request() read of a page of stored size; a null image when the
// read failed.
QImage of(const PageRegion& region, QSize stored);

// For a page the window decoded whole: the picture read afresh from its file when that is
// a JPEG whose page is still of stored size. A null image for other pages (the window's
// reduced copy is their picture already) and when the file cannot be read.
QImage ofJpegFile(const QString& path, QSize stored);

} // namespace LocatorPicture
