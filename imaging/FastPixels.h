#pragma once

#include <QImage>

// Pixel loops the workspace runs on whole pages, written for 32-bit RGB pages where Qt's
// general routines are slower than the job needs.
namespace FastPixels {

// A new image of size and format for a whole page, its pixels uninitialised. Large pages
// live in memory the kernel may back with huge pages: filling a page-sized buffer then
// costs a few hundred page faults instead of tens of thousands. A null image when size is
// empty or memory runs out.
QImage allocate(QSize size, QImage::Format format);

// Whether the kernels below are the SSE2 ones (false: their portable twins, chosen where
// SSE2 is missing or with the build option VETRA_SCALAR).
bool usesSse2();

// The side of the square blocks a reduced page averages.
constexpr int kBlock = 4;

// The size of the reduced copy of a page of size: a block per started kBlock x kBlock
// square; the blocks of the last column and row may be narrower.
QSize reducedSize(QSize size);

// A Format_RGB32 image of reducedSize(page.size()) in which every pixel is the rounded
// average of its block of page. page must be Format_RGB32; a null image otherwise.
QImage blockAverage(const QImage& page);

// Fills block rows [firstRow, endRow) of reduced (made by the caller with reducedSize)
// from page, whose rows up to kBlock * endRow (or its last row) must be final. Lets a
// decoder reduce each band while it is still in the cache.
void blockAverageRows(const QImage& page, QImage& reduced, int firstRow, int endRow);

// The page turned a quarter clockwise, pixel for pixel, for 32-bit formats (the format
// is kept); a null image for other formats or when memory runs out.
QImage turnedClockwise(const QImage& page);

} // namespace FastPixels
