#pragma once

#include "acquire/SaneApi.h"

#include <atomic>
#include <optional>
#include <vector>

// Reads one page from a SANE device and packs it as a bottom-up DIB: 24-bit colour,
// 8-bit grey or 1-bit black and white, each with the colour table a reader needs.
// Single-pass and three-pass colour, 16-bit samples and pages of unknown height (hand
// scanners) are accepted.
namespace SanePageReader {

struct Frame {
    SANE_Parameters params{};
    std::vector<unsigned char> bytes; // whole lines only
    int lines = 0;
};

struct Page {
    SANE_Status status = SANE_STATUS_GOOD; // GOOD with a DIB, or why there is none
    std::vector<unsigned char> dib;
};

// How far a read has come, for a progress bar: bytes received, and the bytes the scanner
// announced for the whole page (-1 while it has announced none, as hand scanners do).
struct Progress {
    std::atomic<long long> bytesRead{0};
    std::atomic<long long> bytesExpected{-1};
};

// Runs the whole read: start per frame, read to the end, cancel at the end. May run on a
// worker thread; `cancel` stops it between reads. `progress` may be null.
Page read(SaneApi& api, SANE_Handle handle, const std::atomic<bool>& cancel, double dotsPerInch,
          Progress* progress = nullptr);

// The DIB for the frames of one page; empty when the frames make no image.
std::optional<std::vector<unsigned char>> buildDib(const std::vector<Frame>& frames, double dotsPerInch);

} // namespace SanePageReader
