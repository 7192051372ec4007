#pragma once

#include <cstdint>
#include <optional>

// Packed device-independent bitmaps: the header records of a BMP file and the sizes
// derived from them. A packed DIB is a 40-byte BITMAPINFOHEADER, the colour table and the
// rows, each row padded to a multiple of 4 bytes.
namespace dib {

#pragma pack(push, 2)
struct BITMAPFILEHEADER {
    std::uint16_t bfType;
    std::uint32_t bfSize;
    std::uint16_t bfReserved1;
    std::uint16_t bfReserved2;
    std::uint32_t bfOffBits;
};

struct BITMAPINFOHEADER {
    std::uint32_t biSize;
    std::int32_t biWidth;
    std::int32_t biHeight; // negative for rows stored top-down
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::uint32_t biCompression;
    std::uint32_t biSizeImage;
    std::int32_t biXPelsPerMeter;
    std::int32_t biYPelsPerMeter;
    std::uint32_t biClrUsed;
    std::uint32_t biClrImportant;
};
#pragma pack(pop)

static_assert(sizeof(BITMAPFILEHEADER) == 14);
static_assert(sizeof(BITMAPINFOHEADER) == 40);

inline constexpr std::uint16_t kBmpSignature = 0x4D42; // "BM"
inline constexpr std::uint32_t BI_RGB = 0;

// Sizes of one packed DIB, all within 32-bit signed range.
struct Layout {
    std::int32_t rowBytes = 0;
    std::int32_t colourTableBytes = 0;
    std::int32_t dibSize = 0;    // header + colour table + rows
    std::int32_t fileSize = 0;   // dibSize + the 14-byte file header
    std::int32_t bitsOffset = 0; // from the start of the file to the rows
};

// The layout of an uncompressed DIB with a 40-byte header, bottom-up or top-down, of 1, 4,
// 8, 16, 24 or 32 bits per pixel. Empty for anything else (compression, bit-field masks, a
// longer header, no pixels) and when a size would overflow 32-bit signed arithmetic.
std::optional<Layout> layoutOf(const BITMAPINFOHEADER& header);

} // namespace dib
