#pragma once

#include "imaging/BmpHeader.h"
#include "imaging/RegionReader.h"

#include <QSize>
#include <QString>

#include <functional>

// The BMP part of RegionReader: the layouts BmpHeader decodes itself, bottom-up or
// top-down, of which only the rows and columns the rectangle covers are read. The 16-bit
// and unusual bit-field layouts are reported as Unsupported for Qt's reader to take;
// run-length files are refused.
class BmpRegionReader {
  public:
    enum class Result {
        Read,        // out holds the region
        NotBmp,      // the data does not start like a BMP
        Unsupported, // a whole BMP this reader leaves to Qt
        Failed,      // damaged, truncated or refused: the error says why
    };

    // Reads length bytes at offset of the file; false when the file no longer holds them.
    using ReadAt = std::function<bool(qint64 offset, void* to, qint64 length)>;

    static bool isBmp(const uchar* data, qint64 size);
    // The file's parsed headers and its rows through readAt.
    static Result read(const BmpHeader& bmp, const ReadAt& readAt, const RegionRequest& request,
                       PageRegion* out);
    // The same for a file held in memory.
    static Result read(const uchar* data, qint64 size, const RegionRequest& request, PageRegion* out);
    static Result size(const uchar* data, qint64 size, QSize* pageSize, QString* error);
};
