#pragma once

#include "imaging/RegionReader.h"

#include <QSize>
#include <QString>

// The JPEG part of RegionReader: libjpeg-turbo decodes only the columns
// (jpeg_crop_scanline) and the rows (jpeg_skip_scanlines, then stopping early) that the
// rectangle covers, optionally on a reduced DCT grid. libjpeg's fatal errors and its
// warnings about missing or damaged data come back as errors, never as grey rows.
class JpegRegionReader {
  public:
    enum class Result {
        Read,        // out holds the region
        NotJpeg,     // the data does not start like a JPEG
        Unsupported, // a JPEG this reader leaves to Qt (CMYK, YCCK)
        Failed,      // damaged or truncated: out->error says why
    };

    static bool isJpeg(const uchar* data, qint64 size);
    static Result read(const uchar* data, qint64 size, const RegionRequest& request, PageRegion* out);
    static Result size(const uchar* data, qint64 size, QSize* pageSize, QString* error);
};
