#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QSize>
#include <QString>

// Page files written byte by byte, so the tests control what the readers see (chroma
// subsampling, row order, bit depth, compression) instead of taking what Qt's writers pick.
namespace PageFiles {

// A page with smooth gradients and a few sharp marks, so that a region taken from the
// wrong place, turned the wrong way or shifted by one pixel shows.
QImage paintPage(int width, int height);

// JPEG through libjpeg-turbo: quality, 4:4:4 or 4:2:0, baseline or progressive; a
// Grayscale8 page gives a one-component file.
QByteArray jpeg(const QImage& page, int quality, bool subsample420, bool progressive = false);

struct JpegOptions {
    int quality = 90;
    bool subsample420 = true;
    bool progressive = false;
    int restartRows = 0;             // a restart marker every this many MCU rows
    bool arithmetic = false;         // arithmetic coding instead of Huffman
    bool scanPerCoefficient = false; // progressive, 1 + 2 * 63 scans per component
    bool cmyk = false;               // four components, stored inverted
};
QByteArray jpeg(const QImage& page, const JpegOptions& options);

// The JPEG with its frame header saying width x height, the data left as it is.
QByteArray withJpegSize(QByteArray jpeg, int width, int height);

// A four-component CMYK JPEG at quality 95, stored inverted as the programs that write CMYK do.
QByteArray jpegCmyk(const QImage& page);

// Uncompressed BMP of 1, 8, 24 or 32 bits; bottom-up unless topDown. For 1 and 8 bits the
// page is reduced to a palette first.
QByteArray bmp(const QImage& page, int bitsPerPixel, bool topDown = false);

// 8-bit run-length BMP (every pixel its own run), a variant read through Qt.
QByteArray bmpRle8(const QImage& indexed);

// GIF89a of an 8-bit indexed page through a real LZW encoder (growing code widths, clear
// codes when the table fills); rows interlaced on request; one palette entry transparent
// when transparentIndex >= 0.
QByteArray gif(const QImage& indexed, bool interlaced = false, int transparentIndex = -1);

// One image of gifScreen(): an 8-bit indexed picture placed at `at`, with indexed's colours
// as its own table when ownTable, its rows interlaced on request, preceded by a graphic
// control block when it names a transparent index (transparentIndex >= 0) or a disposal
// (1 leave, 2 restore the background, 3 restore what was there).
struct GifImage {
    QImage indexed;
    QPoint at;
    bool ownTable = false;
    bool interlaced = false;
    int transparentIndex = -1;
    int disposal = 0;
};
// A GIF89a logical screen of the given size: globalTable as the global colour table (none
// when empty) and `background` as its background index, then the images in order.
// Indices must stay below 2^max(2, table bits) for the LZW encoder.
QByteArray gifScreen(QSize screen, const QList<QRgb>& globalTable, int background,
                     const QList<GifImage>& images);

// An animated GIF89a: every frame an 8-bit indexed image of the first one's size, coloured
// through the first one's palette, shown for delayCs hundredths of a second.
QByteArray gifFrames(const QList<QImage>& frames, int delayCs = 10);

bool write(const QString& path, const QByteArray& bytes);

} // namespace PageFiles
