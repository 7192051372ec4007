#pragma once

#include "imaging/RegionReader.h"

#include <QSize>
#include <QString>

// The GIF part of RegionReader, for the common scanned page: a first image that is not
// interlaced and covers the whole logical screen. The file's blocks are walked to the
// trailer first, so a file cut short is refused whatever the rectangle. The first image's
// LZW data is then decoded with a string table (each code's string is kept whole and
// copied out at once); only the rows the rectangle covers are coloured, and the data
// after them is only checked (codes and pixel count), never unpacked. Transparent pixels
// read as white paper. Other layouts are reported as Unsupported for Qt's reader to take,
// once the same structural check has passed.
class GifRegionReader {
  public:
    enum class Result {
        Read,        // out holds the region
        NotGif,      // the data does not start like a GIF
        Unsupported, // a whole GIF this reader leaves to Qt
        Failed,      // damaged, truncated or beyond the limits: the error says why
    };

    static bool isGif(const uchar* data, qint64 size);
    static Result read(const uchar* data, qint64 size, const RegionRequest& request, PageRegion* out);
    // The page size from the file's header alone (the logical screen): 10 bytes are read.
    static Result size(const uchar* data, qint64 size, QSize* pageSize, QString* error);
    // What the structural check (every block to the trailer, the page within the limits)
    // finds; false with a reason when the file fails it.
    struct Summary {
        int images = 0;
        bool transparent = false; // the first image has a transparent colour
        bool ownDecoder = false;  // read() decodes the first image itself
    };
    static bool inspect(const uchar* data, qint64 size, Summary* summary, QString* error);
};
