#include "imaging/PageDecoder.h"

#include "imaging/FastPixels.h"

#include <QFile>
#include <QtEndian>
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

namespace PageDecoder {

namespace {

// libjpeg's default error handler ends the process; this one jumps back to the decoder.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void jpegErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

void jpegQuiet(j_common_ptr) {}

bool allocatePage(int width, int height, qint64 maxBytes, int reduceFrom, Page& page) {
    if (width <= 0 || height <= 0 || qint64(width) * height * 4 > maxBytes)
        return false;
    const bool withReduced = width >= reduceFrom && height >= reduceFrom;
    page.image = FastPixels::allocate(QSize(width, height), QImage::Format_RGB32);
    if (withReduced)
        page.reduced = FastPixels::allocate(FastPixels::reducedSize(page.image.size()), QImage::Format_RGB32);
    return !page.image.isNull() && (!withReduced || !page.reduced.isNull());
}

// Averages the block rows whose source rows are all final once rowsDone rows are.
void reduceUpTo(Page& page, int& blockRowsDone, int rowsDone) {
    if (page.reduced.isNull())
        return;
    const int ready = rowsDone >= page.image.height() ? page.reduced.height() : rowsDone / FastPixels::kBlock;
    if (ready > blockRowsDone) {
        FastPixels::blockAverageRows(page.image, page.reduced, blockRowsDone, ready);
        blockRowsDone = ready;
    }
}

// No C++ object with a destructor lives in this frame after setjmp: a jump from
// libjpeg's error handler skips none.
bool decodeJpeg(const uchar* data, qsizetype size, qint64 maxBytes, int reduceFrom, Page& page) {
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpegErrorExit;
    errors.manager.output_message = jpegQuiet;
    jpeg_create_decompress(&info);
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    // Qt's reader knows the inverted CMYK of some programs; leave those to it.
    if (info.jpeg_color_space != JCS_YCbCr && info.jpeg_color_space != JCS_GRAYSCALE &&
        info.jpeg_color_space != JCS_RGB) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_EXT_BGRX; // QImage's RGB32 in memory on a little-endian machine
    jpeg_calc_output_dimensions(&info);
    if (!allocatePage(int(info.output_width), int(info.output_height), maxBytes, reduceFrom, page)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    int blockRowsDone = 0;
    constexpr int kBand = 16;
    JSAMPROW rows[kBand];
    while (info.output_scanline < info.output_height) {
        const int first = int(info.output_scanline);
        const int count = qMin(kBand, int(info.output_height) - first);
        for (int i = 0; i < count; ++i)
            rows[i] = page.image.scanLine(first + i);
        jpeg_read_scanlines(&info, rows, JDIMENSION(count));
        reduceUpTo(page, blockRowsDone, int(info.output_scanline));
    }
    jpeg_finish_decompress(&info);
    if (info.saw_JFIF_marker && info.X_density > 0 && info.Y_density > 0 && info.density_unit != 0) {
        const double perMetre = info.density_unit == 1 ? 100 / 2.54 : 100;
        page.image.setDotsPerMeterX(qRound(info.X_density * perMetre));
        page.image.setDotsPerMeterY(qRound(info.Y_density * perMetre));
    }
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

bool readJpeg(const QString& path, qint64 maxBytes, int reduceFrom, Page& page) {
    page = Page();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() <= 0)
        return false;
    const uchar* data = file.map(0, file.size());
    if (!data)
        return false;
    if (!decodeJpeg(data, file.size(), maxBytes, reduceFrom, page)) {
        page = Page();
        return false;
    }
    return true;
}

bool readBmp(const QString& path, qint64 maxBytes, int reduceFrom, Page& page) {
    page = Page();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 54)
        return false;
    const qint64 fileSize = file.size();
    uchar data[54 + 256 * 4];
    const qint64 headerBytes = file.read(reinterpret_cast<char*>(data), qint64(sizeof data));
    if (headerBytes < 54 || data[0] != 'B' || data[1] != 'M')
        return false;
    const auto pixelOffset = qFromLittleEndian<quint32>(data + 10);
    const auto infoSize = qFromLittleEndian<quint32>(data + 14);
    if (infoSize < 40 || 14 + qint64(infoSize) > fileSize)
        return false; // the old OS/2 header and the odd ones are Qt's
    const qint32 width = qFromLittleEndian<qint32>(data + 18);
    const qint32 rawHeight = qFromLittleEndian<qint32>(data + 22);
    const int bitsPerPixel = qFromLittleEndian<quint16>(data + 28);
    const auto compression = qFromLittleEndian<quint32>(data + 30);
    const auto coloursUsed = qFromLittleEndian<quint32>(data + 46);
    if (compression != 0 || (bitsPerPixel != 24 && bitsPerPixel != 8) || width <= 0 || rawHeight == 0 ||
        rawHeight == std::numeric_limits<qint32>::min())
        return false;
    const bool bottomUp = rawHeight > 0;
    const int height = qAbs(rawHeight);
    const qint64 rowBytes = (qint64(width) * bitsPerPixel + 31) / 32 * 4;
    if (qint64(pixelOffset) + rowBytes * height > fileSize)
        return false;

    QRgb palette[256];
    if (bitsPerPixel == 8) {
        const quint32 entries = coloursUsed == 0 ? 256 : coloursUsed;
        const qint64 tableAt = 14 + qint64(infoSize);
        if (entries > 256 || tableAt + 4 * qint64(entries) > qMin(qint64(pixelOffset), headerBytes))
            return false;
        for (int i = 0; i < 256; ++i)
            palette[i] = qRgb(0, 0, 0);
        for (quint32 i = 0; i < entries; ++i) {
            const uchar* bgr = data + tableAt + 4 * i;
            palette[i] = qRgb(bgr[2], bgr[1], bgr[0]);
        }
    }
    if (!allocatePage(width, height, maxBytes, reduceFrom, page))
        return false;

    // The rows are read a band at a time, top of the picture first, so that neither the
    // whole file nor a mapping of it stays resident beside the page.
    constexpr int kBand = 32;
    QByteArray band(qsizetype(rowBytes * kBand), Qt::Uninitialized);
    int blockRowsDone = 0;
    for (int top = 0; top < height; top += kBand) {
        const int rows = qMin(kBand, height - top);
        // File row of picture row y: height-1-y bottom-up, y top-down.
        const qint64 firstFileRow = bottomUp ? height - top - rows : top;
        if (!file.seek(pixelOffset + rowBytes * firstFileRow) ||
            file.read(band.data(), rowBytes * rows) != rowBytes * rows) {
            page = Page();
            return false;
        }
        for (int i = 0; i < rows; ++i) {
            const int y = top + i;
            const auto* in =
                reinterpret_cast<const uchar*>(band.constData()) + rowBytes * (bottomUp ? rows - 1 - i : i);
            auto* out = reinterpret_cast<QRgb*>(page.image.scanLine(y));
            if (bitsPerPixel == 24) {
                for (int x = 0; x < width; ++x, in += 3)
                    out[x] = 0xFF000000u | (quint32(in[2]) << 16) | (quint32(in[1]) << 8) | in[0];
            } else {
                for (int x = 0; x < width; ++x)
                    out[x] = palette[in[x]];
            }
        }
        reduceUpTo(page, blockRowsDone, top + rows);
    }
    const qint32 xPerMetre = qFromLittleEndian<qint32>(data + 38);
    const qint32 yPerMetre = qFromLittleEndian<qint32>(data + 42);
    if (xPerMetre > 0 && yPerMetre > 0) {
        page.image.setDotsPerMeterX(xPerMetre);
        page.image.setDotsPerMeterY(yPerMetre);
    }
    return true;
}

} // namespace PageDecoder
