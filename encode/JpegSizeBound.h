#pragma once

#include <QByteArray>
#include <QImage>

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

// What the writer's JPEG of one picture can weigh at each quality, without encoding it.
//
// The writer (GPP2J: baseline, 4:2:0, optimised Huffman tables, JFIF) converts the picture
// to YCbCr, halves the chroma, and takes the integer forward DCT of every 8x8 block; none
// of that depends on the quality. This class does those steps once, exactly as libjpeg-turbo
// does them, and keeps the DCT coefficients. For a quality it then only has to quantise
// them with that quality's tables to know every symbol the encoder will emit:
//
// - bound(q): the headers, the Huffman tables' symbol lists and the entropy-coded bits under
//   the best prefix code for those symbols, which no Huffman table the encoder builds can
//   beat. Only the zero bytes stuffed after 0xFF bytes and the encoder's own (at most
//   optimal) code lengths are left out, so the bound lies a few dozen bytes below the file.
// - monotoneBound(q): a looser bound that never decreases as the quality rises (a larger
//   divisor never makes a coefficient larger): when it is over a limit at some quality, it
//   is over it at every higher one.
// - agrees(q, file): whether a file the writer produced at q holds the symbols this model
//   predicts (same Huffman symbol lists, and an entropy-coded segment as long as the
//   model's bits under the file's own code lengths). Callers use it to refuse to trust the
//   bounds should the library ever work differently.
//
// Widget-free and thread-compatible (const methods may run concurrently).
class JpegSizeBound {
  public:
    // picture: Format_RGB32, Format_RGB888 or Format_RGBX8888 (GPP2J::encodable's output).
    explicit JpegSizeBound(const QImage& picture);

    // False for a picture the model does not cover (null, or another pixel layout).
    bool usable() const { return m_usable; }

    // stopAbove: the caller only wants to know whether the bound exceeds it; the work may stop
    // as soon as it does, and a value above stopAbove (not the full bound) is returned.
    qint64 bound(int quality, qint64 stopAbove = std::numeric_limits<qint64>::max()) const;
    qint64 monotoneBound(int quality) const;
    bool agrees(int quality, const QByteArray& file) const;

    // libjpeg treats qualities below 1 as 1 and above 100 as 100.
    static int effectiveQuality(int quality);

  private:
    struct Statistics;
    struct Block;
    // False when it stopped early because the bound already exceeds stopAbove.
    bool statistics(int quality, Statistics* stats, qint64 stopAbove) const;
    static qint64 boundOf(const Statistics& stats);
    void quantise(int quality, const Block& block, int16_t out[64]) const;

    bool m_usable = false;
    // Coefficients of every block in the encoder's order (MCU by MCU: four luma blocks, Cb,
    // Cr), in zigzag order, as the forward DCT leaves them (eight times the true value).
    std::vector<std::array<int16_t, 64>> m_coefficients;
    struct Block {
        int table = 0;         // 0 luma, 1 chroma
        int component = 0;     // 0 Y, 1 Cb, 2 Cr (for the DC prediction)
        int dummyFrom = -1;    // padding block: AC zero, DC quantised like block dummyFrom's
        int coefficients = -1; // index in m_coefficients (real blocks)
    };
    std::vector<Block> m_blocks;
    // Per quality 0..100 and table: divisor data in zigzag order (reciprocal, correction,
    // shift), as the encoder's quantiser uses them.
    struct Divisors {
        std::array<uint16_t, 64> reciprocal;
        std::array<uint16_t, 64> correction;
        std::array<uint8_t, 64> shift;
        std::array<uint16_t, 64> scale;
    };
    std::array<std::array<Divisors, 2>, 101> m_divisors{};
    // The DC divisor per quality and table, and per block the distance between its raw DC
    // and the raw DC of what it is coded against.
    std::array<std::array<unsigned, 2>, 101> m_dcDivisor{};
    struct DcStep {
        int table;
        unsigned rawDistance;
    };
    std::vector<DcStep> m_dcSteps;
    // Per table, blocks that end with an end-of-block symbol at every quality.
    qint64 m_endsOfBlock[2] = {0, 0};
};
