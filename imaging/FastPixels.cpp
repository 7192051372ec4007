#include "imaging/FastPixels.h"

#include <QColorSpace>
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <sys/mman.h>
#include <vector>

// The SSE2 kernels, unless the build asks for the portable ones (VETRA_SCALAR).
#if defined(__SSE2__) && !defined(VETRA_SCALAR)
#define VETRA_FAST_PIXELS_SSE2 1
#include <emmintrin.h>
#endif

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

bool usesSse2() {
#ifdef VETRA_FAST_PIXELS_SSE2
    return true;
#else
    return false;
#endif
}

QSize reducedSize(QSize size) {
    return {(size.width() + kBlock - 1) / kBlock, (size.height() + kBlock - 1) / kBlock};
}

namespace {

#ifdef VETRA_FAST_PIXELS_SSE2
// One block row of whole 4 x 4 blocks, four pixels (a block's width) per 16-byte load:
// the bytes are widened to 16-bit lanes, where four rows of two pixels per lane add up
// to at most 2040, and the two halves of each block are folded together at the end.
void averageWholeBlocks(const QImage& page, int top, int blocks, quint32* out) {
    static_assert(kBlock == 4, "a block is one 16-byte load wide");
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi16(8);
    const auto* r0 = reinterpret_cast<const __m128i*>(page.constScanLine(top));
    const auto* r1 = reinterpret_cast<const __m128i*>(page.constScanLine(top + 1));
    const auto* r2 = reinterpret_cast<const __m128i*>(page.constScanLine(top + 2));
    const auto* r3 = reinterpret_cast<const __m128i*>(page.constScanLine(top + 3));
    const auto widened = [zero](__m128i four) {
        return _mm_add_epi16(_mm_unpacklo_epi8(four, zero), _mm_unpackhi_epi8(four, zero));
    };
    for (int b = 0; b < blocks; ++b) {
        __m128i sum =
            _mm_add_epi16(_mm_add_epi16(widened(_mm_loadu_si128(r0 + b)), widened(_mm_loadu_si128(r1 + b))),
                          _mm_add_epi16(widened(_mm_loadu_si128(r2 + b)), widened(_mm_loadu_si128(r3 + b))));
        sum = _mm_add_epi16(sum, _mm_srli_si128(sum, 8));  // 16 pixels per channel
        sum = _mm_srli_epi16(_mm_add_epi16(sum, half), 4); // rounded average
        out[b] = quint32(_mm_cvtsi128_si32(_mm_packus_epi16(sum, zero)));
    }
}

#else
// One block row of whole 4 x 4 blocks: each channel of the 16 pixels summed and rounded.
void averageWholeBlocks(const QImage& page, int top, int blocks, quint32* out) {
    static_assert(kBlock == 4, "a block is four pixels wide");
    const quint32* rows[4];
    for (int r = 0; r < 4; ++r)
        rows[r] = reinterpret_cast<const quint32*>(page.constScanLine(top + r));
    for (int b = 0; b < blocks; ++b) {
        quint32 redBlue = 0; // two 16-bit lanes: 16 values of at most 255 never carry
        quint32 alphaGreen = 0;
        for (const quint32* row : rows)
            for (int x = 4 * b; x < 4 * b + 4; ++x) {
                redBlue += row[x] & 0x00FF00FF;
                alphaGreen += (row[x] >> 8) & 0x00FF00FF;
            }
        const auto lane = [](quint32 sum) { return (sum + 8) >> 4; };
        out[b] = (lane(alphaGreen >> 16) << 24) | (lane(redBlue >> 16) << 16) |
                 (lane(alphaGreen & 0xFFFF) << 8) | lane(redBlue & 0xFFFF);
    }
}
#endif

} // namespace

void blockAverageRows(const QImage& page, QImage& reduced, int firstRow, int endRow) {
    const int width = page.width();
    const int height = page.height();
    const int outWidth = reduced.width();
    endRow = std::min(endRow, reduced.height());
    // The blocks cut by the page's edges, summed in two accumulators per block, red+blue
    // and alpha+green in 16-bit lanes: 16 values of at most 255 never carry between lanes.
    std::vector<quint32> redBlue(static_cast<std::size_t>(outWidth));
    std::vector<quint32> alphaGreen(static_cast<std::size_t>(outWidth));
    const int fullBlocks = width / kBlock;
    for (int row = firstRow; row < endRow; ++row) {
        auto* out = reinterpret_cast<quint32*>(reduced.scanLine(row));
        const int top = row * kBlock;
        const int rows = std::min(kBlock, height - top);
        const int firstPartial = rows == kBlock ? fullBlocks : 0;
        if (rows == kBlock)
            averageWholeBlocks(page, top, fullBlocks, out);
        if (firstPartial == outWidth)
            continue;
        std::fill(redBlue.begin(), redBlue.end(), 0);
        std::fill(alphaGreen.begin(), alphaGreen.end(), 0);
        for (int y = top; y < top + rows; ++y) {
            const auto* line = reinterpret_cast<const quint32*>(page.constScanLine(y));
            for (int x = firstPartial * kBlock; x < width; ++x) {
                const auto b = static_cast<std::size_t>(x / kBlock);
                redBlue[b] += line[x] & 0x00FF00FF;
                alphaGreen[b] += (line[x] >> 8) & 0x00FF00FF;
            }
        }
        for (int b = firstPartial; b < outWidth; ++b) {
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

namespace {

#ifdef VETRA_FAST_PIXELS_SSE2
// Turns the 4 x 4 blocks of a tile: four source rows are read, transposed in registers and
// written as four turned rows. Streaming stores skip reading the destination into the
// cache first, which a page-sized destination would only evict again.
template <bool kStream>
void turnBlocks(const quint32* in, qsizetype inStride, quint32* out, qsizetype outStride, int height, int x0,
                int x1, int y0, int y1) {
    for (int x = x0; x < x1; x += 4) {
        quint32* outRow = out + qsizetype(x) * outStride;
        for (int y = y0; y < y1; y += 4) {
            const quint32* src = in + qsizetype(y) * inStride + x;
            const __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
            const __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + inStride));
            const __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * inStride));
            const __m128i r3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * inStride));
            // Turned row x+i holds source column x+i from the bottom row up.
            const __m128i t0 = _mm_unpacklo_epi32(r3, r2);
            const __m128i t1 = _mm_unpacklo_epi32(r1, r0);
            const __m128i t2 = _mm_unpackhi_epi32(r3, r2);
            const __m128i t3 = _mm_unpackhi_epi32(r1, r0);
            const __m128i columns[4] = {_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1),
                                        _mm_unpacklo_epi64(t2, t3), _mm_unpackhi_epi64(t2, t3)};
            quint32* dst = outRow + (height - 4 - y);
            for (int i = 0; i < 4; ++i) {
                auto* target = reinterpret_cast<__m128i*>(dst + i * outStride);
                if constexpr (kStream)
                    _mm_stream_si128(target, columns[i]);
                else
                    _mm_storeu_si128(target, columns[i]);
            }
        }
    }
}

#else
// Turns the 4 x 4 blocks of a tile, pixel by pixel (kStream only matters to the SSE2 twin).
template <bool kStream>
void turnBlocks(const quint32* in, qsizetype inStride, quint32* out, qsizetype outStride, int height, int x0,
                int x1, int y0, int y1) {
    for (int x = x0; x < x1; ++x) {
        quint32* outRow = out + qsizetype(x) * outStride;
        for (int y = y0; y < y1; ++y)
            outRow[height - 1 - y] = in[qsizetype(y) * inStride + x];
    }
}
#endif

} // namespace

QImage turnedClockwise(const QImage& page) {
    if (page.isNull() || page.depth() != 32)
        return {};
    const int width = page.width();
    const int height = page.height();
    QImage turned = allocate(QSize(height, width), page.format());
    if (turned.isNull())
        return {};
    const qsizetype inStride = page.bytesPerLine() / 4;
    const qsizetype outStride = turned.bytesPerLine() / 4;
    const auto* in = reinterpret_cast<const quint32*>(page.constBits());
    auto* out = reinterpret_cast<quint32*>(turned.bits());

    // Whole 4 x 4 blocks in square tiles, so that the source rows a tile reads stay in the
    // cache while its columns are written out.
    const int blockWidth = width / 4 * 4;
    const int blockHeight = height / 4 * 4;
    const bool aligned = (reinterpret_cast<quintptr>(out) % 16) == 0 && outStride % 4 == 0 && height % 4 == 0;
    constexpr int kTile = 128;
    for (int tileY = 0; tileY < blockHeight; tileY += kTile) {
        const int endY = std::min(tileY + kTile, blockHeight);
        for (int tileX = 0; tileX < blockWidth; tileX += kTile) {
            const int endX = std::min(tileX + kTile, blockWidth);
            if (aligned)
                turnBlocks<true>(in, inStride, out, outStride, height, tileX, endX, tileY, endY);
            else
                turnBlocks<false>(in, inStride, out, outStride, height, tileX, endX, tileY, endY);
        }
    }
#ifdef VETRA_FAST_PIXELS_SSE2
    _mm_sfence();
#endif
    // The last columns and rows that do not fill a block, pixel by pixel.
    for (int y = 0; y < height; ++y) {
        const quint32* row = in + qsizetype(y) * inStride;
        const int firstX = y < blockHeight ? blockWidth : 0;
        for (int x = firstX; x < width; ++x)
            out[qsizetype(x) * outStride + (height - 1 - y)] = row[x];
    }
    // The same metadata as Qt's own turn keeps.
    turned.setDotsPerMeterX(page.dotsPerMeterX());
    turned.setDotsPerMeterY(page.dotsPerMeterY());
    turned.setColorSpace(page.colorSpace());
    return turned;
}

} // namespace FastPixels
