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
    QImage reduced; // null unless asked for
};

// maxBytes: the largest decoded image accepted. withReduced: also fill page.reduced.
bool readJpeg(const QString& path, qint64 maxBytes, bool withReduced, Page& page);
bool readBmp(const QString& path, qint64 maxBytes, bool withReduced, Page& page);

} // namespace PageDecoder
