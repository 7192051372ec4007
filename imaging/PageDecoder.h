#pragma once

#include <QImage>
#include <QString>

class PageFile;
struct BmpHeader;

// The workspace's whole-page decoders for the pages an operator loads most: JPEG through
// libjpeg-turbo straight into 32-bit pixels, and the BMP layouts BmpHeader decodes, read a
// band of rows at a time. Each fills the page's reduced copy (FastPixels::blockAverage)
// band by band while the rows are still in the cache. They follow the same rules and
// limits as the region reads of the batch command (JpegErrors, BmpHeader, PageLimits).
namespace PageDecoder {

struct Page {
    QImage image;   // Format_RGB32
    QImage reduced; // null for pages smaller than asked
    // On failure: why, in Italian, for the operator.
    QString error;
    // On failure: the file is a whole BMP whose layout Qt's reader decodes instead.
    bool declined = false;
};

// maxBytes: the largest decoded image accepted. reduceFrom: page.reduced is filled when
// the page is at least this wide and high (0: always).
bool readJpeg(const QString& path, qint64 maxBytes, int reduceFrom, Page& page);
bool readBmp(const QString& path, qint64 maxBytes, int reduceFrom, Page& page);

// The same for a JPEG already in memory and a BMP already opened and parsed.
bool decodeJpeg(const QByteArray& bytes, qint64 maxBytes, int reduceFrom, Page& page);
bool decodeBmp(const PageFile& file, const BmpHeader& bmp, qint64 maxBytes, int reduceFrom, Page& page);

} // namespace PageDecoder
