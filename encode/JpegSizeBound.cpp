#include "encode/JpegSizeBound.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <limits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <cstdio> // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

namespace {

// Where each zigzag position lies in a block stored row by row.
constexpr int kNaturalOrder[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                   12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                   35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                   58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Everything of the writer's file but the entropy-coded data and the Huffman tables' symbol
// lists: SOI, JFIF APP0 (18), two 8-bit DQT (69 each), SOF0 for three components (19), four
// DHT headers (21 each), SOS for three components (14), EOI.
constexpr qint64 kFixedBytes = 2 + 18 + 2 * 69 + 19 + 4 * 21 + 14 + 2;

// The encoder's colour conversion: 16-bit fixed point, rounding as it does (Cb and Cr one
// short of a half, so that they never round past 255).
struct ColourTables {
    int32_t t[8][256];
    ColourTables() {
        constexpr int kScale = 16;
        const auto fix = [](double x) { return int32_t(x * (1 << kScale) + 0.5); };
        constexpr int32_t half = 1 << (kScale - 1);
        constexpr int32_t offset = 128 << kScale;
        for (int i = 0; i < 256; ++i) {
            t[0][i] = fix(0.29900) * i;
            t[1][i] = fix(0.58700) * i;
            t[2][i] = fix(0.11400) * i + half;
            t[3][i] = -fix(0.16874) * i;
            t[4][i] = -fix(0.33126) * i;
            t[5][i] = fix(0.50000) * i + offset + half - 1; // B to Cb, and R to Cr
            t[6][i] = -fix(0.41869) * i;
            t[7][i] = -fix(0.08131) * i;
        }
    }
};

// The encoder's integer forward DCT (13-bit constants, two extra bits between the passes),
// on samples already centred on zero. The output is eight times the true coefficient.
void forwardDct(int32_t d[64]) {
    constexpr int kConstBits = 13;
    constexpr int kPass1Bits = 2;
    constexpr int32_t c0_298631336 = 2446, c0_390180644 = 3196, c0_541196100 = 4433, c0_765366865 = 6270,
                      c0_899976223 = 7373, c1_175875602 = 9633, c1_501321110 = 12299, c1_847759065 = 15137,
                      c1_961570560 = 16069, c2_053119869 = 16819, c2_562915447 = 20995, c3_072711026 = 25172;
    const auto descale = [](int32_t x, int n) { return (x + (int32_t(1) << (n - 1))) >> n; };

    for (int pass = 0; pass < 2; ++pass) {
        const int step = pass == 0 ? 1 : 8; // along a row, then down a column
        const int next = pass == 0 ? 8 : 1; // to the next row, then the next column
        const int oddShift = pass == 0 ? kConstBits - kPass1Bits : kConstBits + kPass1Bits;
        for (int line = 0; line < 8; ++line) {
            int32_t* p = d + line * next;
            const int32_t tmp0 = p[0] + p[7 * step];
            const int32_t tmp7 = p[0] - p[7 * step];
            const int32_t tmp1 = p[step] + p[6 * step];
            const int32_t tmp6 = p[step] - p[6 * step];
            const int32_t tmp2 = p[2 * step] + p[5 * step];
            const int32_t tmp5 = p[2 * step] - p[5 * step];
            const int32_t tmp3 = p[3 * step] + p[4 * step];
            const int32_t tmp4 = p[3 * step] - p[4 * step];

            const int32_t tmp10 = tmp0 + tmp3;
            const int32_t tmp13 = tmp0 - tmp3;
            const int32_t tmp11 = tmp1 + tmp2;
            const int32_t tmp12 = tmp1 - tmp2;

            if (pass == 0) {
                p[0] = (tmp10 + tmp11) * (1 << kPass1Bits);
                p[4 * step] = (tmp10 - tmp11) * (1 << kPass1Bits);
            } else {
                p[0] = descale(tmp10 + tmp11, kPass1Bits);
                p[4 * step] = descale(tmp10 - tmp11, kPass1Bits);
            }
            const int32_t z = (tmp12 + tmp13) * c0_541196100;
            p[2 * step] = descale(z + tmp13 * c0_765366865, oddShift);
            p[6 * step] = descale(z + tmp12 * -c1_847759065, oddShift);

            int32_t z1 = tmp4 + tmp7;
            int32_t z2 = tmp5 + tmp6;
            int32_t z3 = tmp4 + tmp6;
            int32_t z4 = tmp5 + tmp7;
            const int32_t z5 = (z3 + z4) * c1_175875602;
            const int32_t t4 = tmp4 * c0_298631336;
            const int32_t t5 = tmp5 * c2_053119869;
            const int32_t t6 = tmp6 * c3_072711026;
            const int32_t t7 = tmp7 * c1_501321110;
            z1 *= -c0_899976223;
            z2 *= -c2_562915447;
            z3 = z3 * -c1_961570560 + z5;
            z4 = z4 * -c0_390180644 + z5;
            p[7 * step] = descale(t4 + z1 + z3, oddShift);
            p[5 * step] = descale(t5 + z2 + z4, oddShift);
            p[3 * step] = descale(t6 + z2 + z3, oddShift);
            p[step] = descale(t7 + z1 + z4, oddShift);
        }
    }
}

// The quantiser's reciprocal for a divisor (eight times the table's value): multiplying by
// it and shifting gives the division rounded half up, exactly as the encoder computes it.
void reciprocal(unsigned divisor, uint16_t* recip, uint16_t* correction, uint8_t* shift, uint16_t* scale) {
    const int b = std::bit_width(divisor) - 1;
    int r = 16 + b;
    uint32_t fq = (uint32_t(1) << r) / divisor;
    const uint32_t fr = (uint32_t(1) << r) % divisor;
    uint32_t c = divisor / 2;
    if (fr == 0) { // a power of two
        fq >>= 1;
        --r;
    } else if (fr <= divisor / 2) {
        ++c;
    } else {
        ++fq;
    }
    *recip = uint16_t(fq);
    *correction = uint16_t(c);
    *shift = uint8_t(r);
    *scale = uint16_t(1u << (32 - r)); // the shift past 16 bits, as a second high multiplication
}

int magnitudeBits(int v) {
    return std::bit_width(unsigned(v < 0 ? -v : v));
}

// The cost in bits of the best prefix code for these symbol counts (Huffman's merge, with
// two queues over the sorted counts).
qint64 huffmanBits(std::vector<qint64>& counts) {
    std::sort(counts.begin(), counts.end());
    const std::size_t n = counts.size();
    if (n < 2)
        return 0;
    qint64 merged[260]; // at most 257 symbols in a table, with the reserved one
    std::size_t made = 0;
    std::size_t i = 0;
    std::size_t j = 0;
    qint64 total = 0;
    const auto take = [&]() {
        if (i < n && (j >= made || counts[i] <= merged[j]))
            return counts[i++];
        return merged[j++];
    };
    for (std::size_t k = 1; k < n; ++k) {
        const qint64 a = take();
        const qint64 b = take();
        merged[made++] = a + b;
        total += a + b;
    }
    return total;
}

// What the encoder's code for these symbol counts costs at least. Its code is a prefix code,
// so no cheaper than Huffman's; and it also leaves room for one reserved symbol with a code of
// at most 16 bits, so it costs at least what the best code with that symbol (counted once)
// costs, less those 16 bits. The second matters when one symbol dominates: alone, it still
// takes a bit each time.
qint64 encoderCodeBits(const std::vector<qint64>& given) {
    std::vector<qint64> counts = given;
    const qint64 plain = huffmanBits(counts);
    counts.push_back(1);
    const qint64 reserved = huffmanBits(counts) - 16;
    return std::max(plain, reserved);
}

// The fewest bits any of the encoder's codes can spend on AC coefficients whose magnitude
// classes are counted in counts[1..15] (counts[0] ignored), in a table that also codes at
// least endsOfBlock end-of-block symbols: codes and magnitude bits, zero-run symbols left out.
//
// A coefficient of class s costs the code of its symbol plus s bits. Let l(t) be the shortest
// code of any symbol of class t; then it costs at least c(s) = min over t >= s of l(t) + t, as
// if it could borrow the code of any class at or above its own. c never decreases with s, and a
// higher quality never lowers a coefficient's class nor turns one back to zero, so for one code
// the total never falls as the quality rises; neither does its minimum over all codes, which
// is what this returns. That minimum groups the classes into runs of consecutive classes, each
// paying its highest class in magnitude bits and sharing one code: Huffman's code over the
// groups' counts and the end-of-block symbol's (one bit each when there is a single group).
// Eleven classes at most: every grouping is tried. The DC codes obey the same reasoning
// with class 0 (a difference of zero) counted too, and no end-of-block symbol.
qint64 leastBits(const qint64 counts[16], int lowestClass, qint64 endsOfBlock) {
    int classes[16];
    int n = 0;
    for (int s = lowestClass; s < 16; ++s)
        if (counts[s] > 0)
            classes[n++] = s;
    if (n == 0)
        return endsOfBlock;
    qint64 best = -1;
    static thread_local std::vector<qint64> groups;
    groups.reserve(17);
    for (unsigned cuts = 0; cuts < (1u << (n - 1)); ++cuts) {
        groups.clear();
        if (endsOfBlock > 0)
            groups.push_back(endsOfBlock);
        qint64 magnitude = 0;
        qint64 group = 0;
        for (int i = 0; i < n; ++i) {
            group += counts[classes[i]];
            if (i == n - 1 || (cuts >> i) & 1) {
                magnitude += group * classes[i];
                groups.push_back(group);
                group = 0;
            }
        }
        const qint64 codes = groups.size() == 1 ? groups[0] : huffmanBits(groups);
        if (best < 0 || magnitude + codes < best)
            best = magnitude + codes;
    }
    return best;
}

} // namespace

struct JpegSizeBound::Statistics {
    qint64 dc[2][17] = {};
    qint64 ac[2][256] = {};
    qint64 magnitude = 0;      // the bits that follow the Huffman codes
    std::vector<int16_t> dcOf; // each block's quantised DC
};

int JpegSizeBound::effectiveQuality(int quality) {
    return std::clamp(quality, 1, 100);
}

JpegSizeBound::JpegSizeBound(const QImage& picture) {
    int r = 0, g = 1, b = 2, stride = 4;
    switch (picture.format()) {
    case QImage::Format_RGB32: // 0xffRRGGBB words
        if (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
            r = 2;
            b = 0;
        } else {
            r = 1;
            g = 2;
            b = 3;
        }
        break;
    case QImage::Format_RGBX8888:
        break;
    case QImage::Format_RGB888:
        stride = 3;
        break;
    default:
        return;
    }
    if (picture.isNull())
        return;

    // The quantisers of every quality, taken from the library itself.
    {
        jpeg_compress_struct cinfo{};
        jpeg_error_mgr err{};
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_compress(&cinfo);
        cinfo.in_color_space = JCS_RGB;
        cinfo.input_components = 3;
        jpeg_set_defaults(&cinfo);
        for (int q = 0; q <= 100; ++q) {
            jpeg_set_quality(&cinfo, effectiveQuality(q), TRUE);
            for (int t = 0; t < 2; ++t) {
                Divisors& d = m_divisors[std::size_t(q)][std::size_t(t)];
                for (int k = 0; k < 64; ++k)
                    reciprocal(unsigned(cinfo.quant_tbl_ptrs[t]->quantval[kNaturalOrder[k]]) * 8,
                               &d.reciprocal[k], &d.correction[k], &d.shift[k], &d.scale[k]);
                m_dcDivisor[std::size_t(q)][std::size_t(t)] =
                    unsigned(cinfo.quant_tbl_ptrs[t]->quantval[0]) * 8;
            }
        }
        jpeg_destroy_compress(&cinfo);
    }

    const int width = picture.width();
    const int height = picture.height();
    // Blocks and MCUs of 4:2:0: luma blocks cover the picture, chroma blocks half of it, and
    // an MCU is 16 x 16 pixels.
    const int lumaBlocksX = (width + 7) / 8;
    const int lumaBlocksY = (height + 7) / 8;
    const int mcusX = (width + 15) / 16;
    const int mcusY = (height + 15) / 16;
    const int planeWidth = mcusX * 16;

    // Y, Cb and Cr at full resolution, the last column repeated to the MCU edge, and the last
    // row once more when the height is odd (the conversion works on pairs of rows).
    static const ColourTables tables;
    const int convertedRows = height + (height & 1);
    std::vector<uint8_t> planes[3];
    for (auto& plane : planes)
        plane.resize(std::size_t(planeWidth) * std::size_t(convertedRows));
    for (int y = 0; y < convertedRows; ++y) {
        const uchar* line = picture.constScanLine(std::min(y, height - 1));
        uint8_t* out[3];
        for (int c = 0; c < 3; ++c)
            out[c] = planes[c].data() + std::size_t(y) * std::size_t(planeWidth);
        for (int x = 0; x < width; ++x) {
            const uchar* px = line + x * stride;
            const int R = px[r], G = px[g], B = px[b];
            out[0][x] = uint8_t((tables.t[0][R] + tables.t[1][G] + tables.t[2][B]) >> 16);
            out[1][x] = uint8_t((tables.t[3][R] + tables.t[4][G] + tables.t[5][B]) >> 16);
            out[2][x] = uint8_t((tables.t[5][R] + tables.t[6][G] + tables.t[7][B]) >> 16);
        }
        for (int c = 0; c < 3; ++c)
            std::fill(out[c] + width, out[c] + planeWidth, out[c][width - 1]);
    }

    // Chroma halved both ways, rounding alternately down and up along each row; the rows
    // below the picture repeat the last one.
    const int chromaWidth = mcusX * 8;
    const int chromaHeight = mcusY * 8;
    const int chromaRows = convertedRows / 2;
    std::vector<uint8_t> chroma[2];
    for (int c = 0; c < 2; ++c) {
        chroma[c].resize(std::size_t(chromaWidth) * std::size_t(chromaHeight));
        for (int y = 0; y < chromaHeight; ++y) {
            uint8_t* out = chroma[c].data() + std::size_t(y) * std::size_t(chromaWidth);
            if (y >= chromaRows) {
                std::copy_n(chroma[c].data() + std::size_t(chromaRows - 1) * std::size_t(chromaWidth),
                            chromaWidth, out);
                continue;
            }
            const uint8_t* in0 = planes[c + 1].data() + std::size_t(2 * y) * std::size_t(planeWidth);
            const uint8_t* in1 = in0 + planeWidth;
            int bias = 1;
            for (int x = 0; x < chromaWidth; ++x) {
                out[x] = uint8_t((in0[2 * x] + in0[2 * x + 1] + in1[2 * x] + in1[2 * x + 1] + bias) >> 2);
                bias ^= 3;
            }
        }
    }

    const auto transform = [this](const uint8_t* plane, int planeStride, int rows, int x0, int y0) {
        int32_t d[64];
        for (int y = 0; y < 8; ++y) {
            const uint8_t* line =
                plane + std::size_t(std::min(y0 + y, rows - 1)) * std::size_t(planeStride) + x0;
            for (int x = 0; x < 8; ++x)
                d[y * 8 + x] = int32_t(line[x]) - 128;
        }
        forwardDct(d);
        std::array<int16_t, 64> zigzag;
        for (int k = 0; k < 64; ++k)
            zigzag[std::size_t(k)] = int16_t(d[kNaturalOrder[k]]);
        m_coefficients.push_back(zigzag);
        return int(m_coefficients.size()) - 1;
    };

    m_coefficients.reserve(std::size_t(mcusX) * std::size_t(mcusY) * 6);
    m_blocks.reserve(std::size_t(mcusX) * std::size_t(mcusY) * 6);
    for (int my = 0; my < mcusY; ++my) {
        for (int mx = 0; mx < mcusX; ++mx) {
            // Four luma blocks; those past the picture's last block column or row are padding
            // whose DC repeats the block before it (the one above, for a padding row).
            const int first = int(m_blocks.size());
            for (int by = 0; by < 2; ++by) {
                for (int bx = 0; bx < 2; ++bx) {
                    Block block;
                    block.table = 0;
                    block.component = 0;
                    const int blockX = mx * 2 + bx;
                    const int blockY = my * 2 + by;
                    if (blockY >= lumaBlocksY)
                        block.dummyFrom = first + 1; // the last block of the MCU's first row
                    else if (blockX >= lumaBlocksX)
                        block.dummyFrom = int(m_blocks.size()) - 1;
                    else
                        block.coefficients =
                            transform(planes[0].data(), planeWidth, convertedRows, blockX * 8, blockY * 8);
                    m_blocks.push_back(block);
                }
            }
            for (int c = 0; c < 2; ++c) {
                Block block;
                block.table = 1;
                block.component = 1 + c;
                block.coefficients = transform(chroma[c].data(), chromaWidth, chromaHeight, mx * 8, my * 8);
                m_blocks.push_back(block);
            }
        }
    }
    // For each block, the raw DC value whose quantised value it is coded against (the block
    // before it of the same component, or the block a padding block copies), and its own.
    {
        std::vector<int> carried(m_blocks.size()); // raw DC a block's quantised DC equals
        int previous[3] = {-1, -1, -1};
        for (std::size_t i = 0; i < m_blocks.size(); ++i) {
            const Block& block = m_blocks[i];
            carried[i] = block.dummyFrom >= 0 ? carried[std::size_t(block.dummyFrom)]
                                              : m_coefficients[std::size_t(block.coefficients)][0];
            const int before =
                previous[block.component] < 0 ? 0 : carried[std::size_t(previous[block.component])];
            previous[block.component] = int(i);
            // A padding block repeats a value already coded: leave its difference unbounded (zero).
            const unsigned distance = block.dummyFrom >= 0 ? 0u : unsigned(std::abs(carried[i] - before));
            m_dcSteps.push_back(DcStep{block.table, distance});
        }
    }

    // Blocks that end with an end-of-block symbol whatever the quality.
    int16_t q[64];
    for (const Block& block : m_blocks) {
        if (block.dummyFrom >= 0) {
            ++m_endsOfBlock[block.table];
            continue;
        }
        quantise(100, block, q);
        if (q[63] == 0)
            ++m_endsOfBlock[block.table];
    }
    m_usable = true;
}

void JpegSizeBound::quantise(int quality, const Block& block, int16_t out[64]) const {
    const Divisors& d = m_divisors[std::size_t(quality)][std::size_t(block.table)];
    const int16_t* in = m_coefficients[std::size_t(block.coefficients)].data();
    // The magnitude plus the rounding correction, times the reciprocal, shifted: two 16-bit
    // high multiplications, eight coefficients at a time where the processor can.
#ifdef __SSE2__
    for (int k = 0; k < 64; k += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k));
        const __m128i sign = _mm_srai_epi16(v, 15);
        __m128i a = _mm_sub_epi16(_mm_xor_si128(v, sign), sign);
        a = _mm_add_epi16(a, _mm_loadu_si128(reinterpret_cast<const __m128i*>(d.correction.data() + k)));
        a = _mm_mulhi_epu16(a, _mm_loadu_si128(reinterpret_cast<const __m128i*>(d.reciprocal.data() + k)));
        a = _mm_mulhi_epu16(a, _mm_loadu_si128(reinterpret_cast<const __m128i*>(d.scale.data() + k)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_sub_epi16(_mm_xor_si128(a, sign), sign));
    }
#else
    for (int k = 0; k < 64; ++k) {
        const int v = in[k];
        const uint32_t a = uint32_t(v < 0 ? -v : v);
        const int q = int(((a + d.correction[std::size_t(k)]) * d.reciprocal[std::size_t(k)]) >>
                          d.shift[std::size_t(k)]);
        out[k] = int16_t(v < 0 ? -q : q);
    }
#endif
}

namespace {

// Bit k set when coefficient k (zigzag order) is not zero.
uint64_t nonZeroMask(const int16_t q[64]) {
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    uint64_t mask = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16 * i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16 * i + 8));
        const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        mask |= uint64_t(uint16_t(~_mm_movemask_epi8(zeros))) << (16 * i);
    }
    return mask;
#else
    uint64_t mask = 0;
    for (int k = 0; k < 64; ++k)
        mask |= uint64_t(q[k] != 0) << k;
    return mask;
#endif
}

} // namespace

bool JpegSizeBound::statistics(int quality, Statistics* stats, qint64 stopAbove) const {
    quality = effectiveQuality(quality);
    // The DC differences first, in coding order; then the AC symbols of every eighth block,
    // eight times over, so that a quality whose file is far too large is known to be so
    // before all its blocks are seen.
    int lastDc[3] = {0, 0, 0};
    std::vector<int16_t>& dcOf = stats->dcOf;
    dcOf.resize(m_blocks.size());
    for (std::size_t i = 0; i < m_blocks.size(); ++i) {
        const Block& block = m_blocks[i];
        int dc;
        if (block.dummyFrom >= 0) {
            dc = dcOf[std::size_t(block.dummyFrom)];
            ++stats->ac[block.table][0x00]; // nothing but the end of block
        } else {
            const Divisors& d = m_divisors[std::size_t(quality)][std::size_t(block.table)];
            const int v = m_coefficients[std::size_t(block.coefficients)][0];
            const int q = int(((uint32_t(std::abs(v)) + d.correction[0]) * d.reciprocal[0]) >> d.shift[0]);
            dc = v < 0 ? -q : q;
        }
        dcOf[i] = int16_t(dc);
        const int dcBits = magnitudeBits(dc - lastDc[block.component]);
        lastDc[block.component] = dc;
        ++stats->dc[block.table][dcBits];
        stats->magnitude += dcBits;
    }

    constexpr int kPasses = 8;
    int16_t q[64];
    for (int pass = 0; pass < kPasses; ++pass) {
        for (std::size_t i = std::size_t(pass); i < m_blocks.size(); i += kPasses) {
            const Block& block = m_blocks[i];
            if (block.dummyFrom >= 0)
                continue;
            quantise(quality, block, q);
            qint64* ac = stats->ac[block.table];
            uint64_t mask = nonZeroMask(q) & ~uint64_t(1);
            int last = 0;
            while (mask != 0) {
                const int k = std::countr_zero(mask);
                mask &= mask - 1;
                int run = k - last - 1;
                last = k;
                while (run > 15) {
                    ++ac[0xF0];
                    run -= 16;
                }
                const int bits = magnitudeBits(q[k]);
                ++ac[(run << 4) + bits];
                stats->magnitude += bits;
            }
            if (last != 63)
                ++ac[0x00];
        }
        if (pass + 1 < kPasses && stopAbove < std::numeric_limits<qint64>::max() &&
            boundOf(*stats) > stopAbove)
            return false;
    }
    return true;
}

qint64 JpegSizeBound::boundOf(const Statistics& stats) {
    qint64 bits = stats.magnitude;
    qint64 symbols = 0;
    std::vector<qint64> counts;
    counts.reserve(256);
    for (int t = 0; t < 2; ++t) {
        for (int cls = 0; cls < 2; ++cls) {
            const qint64* table = cls == 0 ? stats.dc[t] : stats.ac[t];
            const int size = cls == 0 ? 17 : 256;
            counts.clear();
            for (int s = 0; s < size; ++s)
                if (table[s] > 0)
                    counts.push_back(table[s]);
            symbols += qint64(counts.size());
            bits += encoderCodeBits(counts);
        }
    }
    return kFixedBytes + symbols + (bits + 7) / 8;
}

qint64 JpegSizeBound::bound(int quality, qint64 stopAbove) const {
    if (!m_usable)
        return 0;
    Statistics stats;
    statistics(quality, &stats, stopAbove);
    return boundOf(stats);
}

qint64 JpegSizeBound::monotoneBound(int quality) const {
    if (!m_usable)
        return 0;
    quality = effectiveQuality(quality);
    // How many non-zero AC coefficients of each magnitude class each table codes.
    qint64 classes[2][16] = {};
    int16_t q[64];
    for (const Block& block : m_blocks) {
        if (block.dummyFrom >= 0)
            continue;
        quantise(quality, block, q);
        qint64* counts = classes[block.table];
        for (uint64_t mask = nonZeroMask(q) & ~uint64_t(1); mask != 0; mask &= mask - 1)
            ++counts[magnitudeBits(q[std::countr_zero(mask)])];
    }
    // The DC differences: no smaller than what the raw values' difference allows whatever
    // the rounding, and that never falls as the divisor shrinks.
    qint64 dcClasses[2][16] = {};
    for (const DcStep& step : m_dcSteps) {
        const unsigned d = m_dcDivisor[std::size_t(quality)][std::size_t(step.table)];
        const unsigned least = step.rawDistance == 0 ? 0 : (step.rawDistance + d - 1) / d - 1;
        ++dcClasses[step.table][std::bit_width(least)];
    }
    // Each table lists at least one symbol; the codes cost at least what leastBits() says,
    // which never falls as the quality rises. A block whose last coefficient is zero at
    // quality 100 ends with an end-of-block symbol at every quality.
    qint64 bits = 0;
    for (int t = 0; t < 2; ++t)
        bits += leastBits(classes[t], 1, m_endsOfBlock[t]) + leastBits(dcClasses[t], 0, 0);
    return kFixedBytes + 4 + (bits + 7) / 8;
}

bool JpegSizeBound::agrees(int quality, const QByteArray& file) const {
    if (!m_usable)
        return false;
    const auto* p = reinterpret_cast<const uint8_t*>(file.constData());
    const qsizetype n = file.size();
    if (n < 4 || p[0] != 0xFF || p[1] != 0xD8)
        return false;
    // Code lengths the file gives each symbol of each table (0: not listed).
    uint8_t lengths[2][2][256] = {}; // [dc/ac][table][symbol]
    int tablesSeen = 0;
    qsizetype at = 2;
    qsizetype scanStart = -1;
    while (at + 4 <= n) {
        if (p[at] != 0xFF)
            return false;
        const int marker = p[at + 1];
        const qsizetype length = (qsizetype(p[at + 2]) << 8) | p[at + 3];
        if (length < 2 || at + 2 + length > n)
            return false;
        if (marker == 0xC4) { // DHT, possibly several tables
            qsizetype t = at + 4;
            const qsizetype end = at + 2 + length;
            while (t < end) {
                if (t + 17 > end)
                    return false;
                const int cls = p[t] >> 4;
                const int id = p[t] & 15;
                if (cls > 1 || id > 1)
                    return false;
                qsizetype s = t + 17;
                for (int len = 1; len <= 16; ++len) {
                    for (int c = 0; c < p[t + len]; ++c) {
                        if (s >= end)
                            return false;
                        lengths[cls][id][p[s++]] = uint8_t(len);
                    }
                }
                ++tablesSeen;
                t = s;
            }
        }
        at += 2 + length;
        if (marker == 0xDA) {
            scanStart = at;
            break;
        }
    }
    if (scanStart < 0 || tablesSeen != 4)
        return false;
    // The entropy-coded segment, without the zero bytes stuffed after each 0xFF.
    qsizetype stuffed = 0;
    qsizetype end = scanStart;
    for (; end + 1 < n; ++end) {
        if (p[end] == 0xFF) {
            if (p[end + 1] == 0x00) {
                ++stuffed;
                ++end;
                continue;
            }
            break; // a marker: the end of the image
        }
    }
    if (end + 2 != n || p[end + 1] != 0xD9)
        return false;
    const qsizetype segment = end - scanStart;

    Statistics stats;
    statistics(quality, &stats, std::numeric_limits<qint64>::max());
    qint64 bits = stats.magnitude;
    qint64 symbols = 0;
    for (int t = 0; t < 2; ++t) {
        for (int cls = 0; cls < 2; ++cls) {
            const qint64* counts = cls == 0 ? stats.dc[t] : stats.ac[t];
            const int size = cls == 0 ? 17 : 256;
            for (int s = 0; s < 256; ++s) {
                const qint64 count = s < size ? counts[s] : 0;
                const int len = lengths[cls][t][s];
                if ((count > 0) != (len > 0))
                    return false; // a symbol one side uses and the other does not
                bits += count * len;
                symbols += len > 0;
            }
        }
    }
    return (bits + 7) / 8 == segment - stuffed && n == kFixedBytes + symbols + segment;
}
