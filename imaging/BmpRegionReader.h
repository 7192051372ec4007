#pragma once

#include "imaging/RegionReader.h"

#include <QSize>
#include <QString>

// The BMP part of RegionReader: uncompressed 1, 4, 8 (palette), 24 and 32-bit files,
// bottom-up or top-down, whose rows are read straight from the mapped file; only the
// rows and columns the rectangle covers are touched. Other BMP variants (RLE, 16-bit,
// bit fields other than plain 8-8-8) are reported as Unsupported for Qt's reader to take.
class BmpRegionReader {
  public:
    enum class Result {
        Read,        // out holds the region
        NotBmp,      // the data does not start like a BMP
        Unsupported, // a valid BMP this reader leaves to Qt; the error says which kind
        Failed,      // damaged or truncated: the error says why
    };

    static bool isBmp(const uchar* data, qint64 size);
    static Result read(const uchar* data, qint64 size, const RegionRequest& request, PageRegion* out);
    static Result size(const uchar* data, qint64 size, QSize* pageSize, QString* error);
};
