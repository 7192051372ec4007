#pragma once

#include "imaging/RegionReader.h"

#include <QSize>
#include <QString>

// The GIF part of RegionReader, for the common scanned page: one non-interlaced image
// covering the whole logical screen. The LZW stream is decoded only up to the last row the
// rectangle needs; strings that fall wholly in earlier rows are counted, not unpacked,
// and only the rectangle's columns are coloured. Transparent pixels read as white paper.
// Other layouts (interlaced, a first image smaller than the screen, no colour table) are
// reported as Unsupported for Qt's reader to take.
class GifRegionReader {
  public:
    enum class Result {
        Read,        // out holds the region
        NotGif,      // the data does not start like a GIF
        Unsupported, // a valid GIF this reader leaves to Qt
        Failed,      // damaged or truncated: the error says why
    };

    static bool isGif(const uchar* data, qint64 size);
    static Result read(const uchar* data, qint64 size, const RegionRequest& request, PageRegion* out);
    static Result size(const uchar* data, qint64 size, QSize* pageSize, QString* error);
};
