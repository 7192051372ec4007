#pragma once

#include <QImage>
#include <QString>

// Quick decoders for the pages an operator loads most: JPEG through libjpeg-turbo
// straight into 32-bit pixels, and uncompressed 24-bit and 8-bit BMP rows read directly
// from the file. Each fills the page's reduced copy (FastPixels::blockAverage) band by
// band while the rows are still in the cache. They decline (return false, page null)
// whatever they do not handle or cannot read, leaving it to Qt's readers, which then
// report the error.
namespace PageDecoder {

struct Page {
    QImage image;   // Format_RGB32
    QImage reduced; // null for pages smaller than asked
};

// maxBytes: the largest decoded image accepted. reduceFrom: page.reduced is filled when
// the page is at least this wide and high (0: always).
bool readJpeg(const QString& path, qint64 maxBytes, int reduceFrom, Page& page);
bool readBmp(const QString& path, qint64 maxBytes, int reduceFrom, Page& page);

} // namespace PageDecoder
