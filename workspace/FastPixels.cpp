#include "workspace/FastPixels.h"

#include <QColorSpace>
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <sys/mman.h>
#include <vector>

namespace FastPixels {

namespace {

constexpr qsizetype kHugePage = qsizetype(2) << 20;

void freeBuffer(void* buffer) {
    std::free(buffer);
}

} // namespace

QImage allocate(QSize size, QImage::Format format) {
    if (size.isEmpty())
        return {};
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    const qsizetype stride = (qsizetype(size.width()) * depth + 31) / 32 * 4;
    const qsizetype bytes = stride * size.height();
    // Below a few huge pages the ordinary allocation is as quick; QImage also refuses
    // sizes it cannot address, so let it judge those too.
    if (bytes < 4 * kHugePage || depth < 8 || stride > std::numeric_limits<int>::max())
        return QImage(size, format);
    const qsizetype rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* buffer = std::aligned_alloc(std::size_t(kHugePage), std::size_t(rounded));
    if (!buffer)
        return {};
    madvise(buffer, std::size_t(rounded), MADV_HUGEPAGE); // advice only: failure is harmless
    QImage image(static_cast<uchar*>(buffer), size.width(), size.height(), stride, format, freeBuffer,
                 buffer);
    if (image.isNull())
        std::free(buffer);
    return image;
}

QSize reducedSize(QSize size) {
    return {(size.width() + kBlock - 1) / kBlock, (size.height() + kBlock - 1) / kBlock};
}

void blockAverageRows(const QImage& page, QImage& reduced, int firstRow, int endRow) {
    const int width = page.width();
    const int height = page.height();
    const int outWidth = reduced.width();
    endRow = std::min(endRow, reduced.height());
    // Two accumulators per block, red+blue and alpha+green in 16-bit lanes: 16 values of
    // at most 255 never carry from one lane into the next.
    std::vector<quint32> redBlue(static_cast<std::size_t>(outWidth));
    std::vector<quint32> alphaGreen(static_cast<std::size_t>(outWidth));
    const int fullBlocks = width / kBlock;
    for (int row = firstRow; row < endRow; ++row) {
        std::fill(redBlue.begin(), redBlue.end(), 0);
        std::fill(alphaGreen.begin(), alphaGreen.end(), 0);
        const int top = row * kBlock;
        const int rows = std::min(kBlock, height - top);
        for (int y = top; y < top + rows; ++y) {
            const auto* in = reinterpret_cast<const quint32*>(page.constScanLine(y));
            for (int b = 0; b < fullBlocks; ++b, in += kBlock) {
                const quint32 p0 = in[0], p1 = in[1], p2 = in[2], p3 = in[3];
                redBlue[std::size_t(b)] +=
                    (p0 & 0x00FF00FF) + (p1 & 0x00FF00FF) + (p2 & 0x00FF00FF) + (p3 & 0x00FF00FF);
                alphaGreen[std::size_t(b)] += ((p0 >> 8) & 0x00FF00FF) + ((p1 >> 8) & 0x00FF00FF) +
                                              ((p2 >> 8) & 0x00FF00FF) + ((p3 >> 8) & 0x00FF00FF);
            }
            for (int x = fullBlocks * kBlock; x < width; ++x, ++in) {
                redBlue[std::size_t(fullBlocks)] += *in & 0x00FF00FF;
                alphaGreen[std::size_t(fullBlocks)] += (*in >> 8) & 0x00FF00FF;
            }
        }
        auto* out = reinterpret_cast<quint32*>(reduced.scanLine(row));
        for (int b = 0; b < outWidth; ++b) {
            const quint32 count = quint32(rows * std::min(kBlock, width - b * kBlock));
            const quint32 rb = redBlue[std::size_t(b)];
            const quint32 ag = alphaGreen[std::size_t(b)];
            const auto lane = [count](quint32 sum) { return (sum + count / 2) / count; };
            out[b] = (lane(ag >> 16) << 24) | (lane(rb >> 16) << 16) | (lane(ag & 0xFFFF) << 8) |
                     lane(rb & 0xFFFF);
        }
    }
}

QImage blockAverage(const QImage& page) {
    if (page.format() != QImage::Format_RGB32 || page.isNull())
        return {};
    QImage reduced = allocate(reducedSize(page.size()), QImage::Format_RGB32);
    if (reduced.isNull())
        return {};
    blockAverageRows(page, reduced, 0, reduced.height());
    return reduced;
}

QImage turnedClockwise(const QImage& page) {
    if (page.isNull() || page.depth() != 32)
        return {};
    const int width = page.width();
    const int height = page.height();
    QImage turned = allocate(QSize(height, width), page.format());
    if (turned.isNull())
        return {};
    // Source row y becomes column height-1-y. Square tiles keep both the rows read and
    // the rows written in the cache; the writes run along the turned rows.
    constexpr int kTile = 64;
    const qsizetype inStride = page.bytesPerLine() / 4;
    const auto* in = reinterpret_cast<const quint32*>(page.constBits());
    for (int tileY = 0; tileY < height; tileY += kTile) {
        const int endY = std::min(tileY + kTile, height);
        for (int tileX = 0; tileX < width; tileX += kTile) {
            const int endX = std::min(tileX + kTile, width);
            for (int x = tileX; x < endX; ++x) {
                auto* out = reinterpret_cast<quint32*>(turned.scanLine(x)) + (height - 1);
                const quint32* column = in + x;
                for (int y = tileY; y < endY; ++y)
                    out[-y] = column[qsizetype(y) * inStride];
            }
        }
    }
    // The same metadata as Qt's own turn keeps.
    turned.setDotsPerMeterX(page.dotsPerMeterX());
    turned.setDotsPerMeterY(page.dotsPerMeterY());
    turned.setColorSpace(page.colorSpace());
    return turned;
}

} // namespace FastPixels
