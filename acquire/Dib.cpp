#include "acquire/Dib.h"

namespace dib {

namespace {

bool mul(std::int32_t a, std::int32_t b, std::int32_t& out) {
    return !__builtin_mul_overflow(a, b, &out);
}
bool add(std::int32_t a, std::int32_t b, std::int32_t& out) {
    return !__builtin_add_overflow(a, b, &out);
}

} // namespace

std::optional<Layout> layoutOf(const BITMAPINFOHEADER& h) {
    if (h.biSize != sizeof(BITMAPINFOHEADER) || h.biCompression != BI_RGB || h.biPlanes != 1)
        return std::nullopt;
    const int bits = h.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return std::nullopt;
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN)
        return std::nullopt;
    const std::int32_t rows = h.biHeight < 0 ? -h.biHeight : h.biHeight;

    Layout l;
    std::int32_t bitsPerRow = 0;
    if (!mul(bits, h.biWidth, bitsPerRow) || !add(bitsPerRow, 31, bitsPerRow))
        return std::nullopt;
    l.rowBytes = bitsPerRow / 32 * 4;

    std::int32_t entries = 0;
    if (h.biClrUsed != 0) {
        if (h.biClrUsed > static_cast<std::uint32_t>(INT32_MAX))
            return std::nullopt;
        entries = static_cast<std::int32_t>(h.biClrUsed);
    } else if (bits <= 8) {
        entries = 1 << bits;
    }
    if (!mul(entries, 4, l.colourTableBytes))
        return std::nullopt;

    std::int32_t pixels = 0;
    if (!mul(l.rowBytes, rows, pixels) || !add(40, l.colourTableBytes, l.dibSize) ||
        !add(l.dibSize, pixels, l.dibSize) || !add(l.dibSize, 14, l.fileSize) ||
        !add(54, l.colourTableBytes, l.bitsOffset))
        return std::nullopt;
    return l;
}

} // namespace dib
