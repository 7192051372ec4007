#pragma once

#include "imaging/RegionReader.h"

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

// The GIF part of RegionReader and of the workspace's load. A GIF page is its first image
// on the logical screen: interlaced or not, with the global or its own colour table,
// anywhere on the screen. The file's blocks are walked to the trailer first, so a file cut
// short is refused whatever the rectangle; later images are only walked, or painted for the
// workspace, which keeps an animation's frames. The first image's
// LZW data is decoded with a string table (each code's string is kept whole and copied out
// at once); only the rows the rectangle covers are coloured, and the data after the last of
// them is only checked (codes and pixel count), never unpacked.
//
// The pixels are those Qt's reader has always given the workspace for the first frame: the
// screen around the image in the background colour (the transparent one when there is one),
// indices past the colour table as clear white. Interlaced rows go where the four passes
// put them, also for images of 3 or 4 rows and images reaching past the screen's bottom,
// which Qt's reader misplaces.
class GifRegionReader {
  public:
    enum class Result {
        Read,   // out holds the region
        NotGif, // the data does not start like a GIF
        Failed, // damaged, truncated or beyond the limits: the error says why
    };

    static bool isGif(const uchar* data, qint64 size);
    // The region, transparent parts lying on white paper (RGB32).
    static Result read(const uchar* data, qint64 size, const RegionRequest& request, PageRegion* out);
    // The frames of an animation for the workspace: the first is the whole screen with the
    // first image on it (RGB32, or ARGB32 when that image has a transparent colour: alpha 0
    // where nothing opaque was painted), then each later image painted over the frame before
    // it as Qt's reader paints it, at most maxFrames frames taking at most maxBytes. reduced
    // gets each frame's FastPixels::blockAverage() copy when the page is at least reduceFrom
    // wide and high and RGB32 (null entries otherwise). *complete is false when a later
    // image is one this reader leaves to Qt's (its data damaged or cut short, a control
    // block too short to read): frames then holds the first frame alone.
    static Result readFrames(const uchar* data, qint64 size, int maxFrames, qint64 maxBytes, int reduceFrom,
                             QList<QImage>* frames, QList<QImage>* reduced, bool* complete, QString* error);
    // The number of frames readFrames() gives with the same limits and its *complete, found by
    // decoding the later images without painting them: no page-sized buffer is made. The
    // first image is not decoded (readFrames() checks it).
    static Result countFrames(const uchar* data, qint64 size, int maxFrames, qint64 maxBytes, int* count,
                              bool* complete, QString* error);
    // The page size from the file's header alone (the logical screen): 10 bytes are read.
    static Result size(const uchar* data, qint64 size, QSize* pageSize, QString* error);
};
