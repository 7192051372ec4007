#pragma once

#include "imaging/RegionReader.h"

#include <QSize>
#include <QString>

// The JPEG part of RegionReader: libjpeg-turbo decodes only the columns
// (jpeg_crop_scanline) and the rows the rectangle covers, optionally on a reduced DCT
// grid, and goes through the rest of the data without making pixels of it, so the page is
// accepted or refused by the same rule whatever the rectangle (see JpegErrors). CMYK and
// YCCK files are read too, under the same limits.
class JpegRegionReader {
  public:
    enum class Result {
        Read,    // out holds the region
        NotJpeg, // the data does not start like a JPEG
        Failed,  // damaged, truncated or beyond the limits: out->error says why
    };

    static bool isJpeg(const uchar* data, qint64 size);
    static Result read(const uchar* data, qint64 size, const RegionRequest& request, PageRegion* out);
    // The same over bytes it may keep: with request.deferWholeness the rows after the
    // rectangle are gone through on a thread of their own (out->pending), and with
    // request.wholeKnown not at all.
    static Result read(const QByteArray& bytes, const RegionRequest& request, PageRegion* out);
    static Result size(const uchar* data, qint64 size, QSize* pageSize, QString* error);
};
