#include "acquire/SanePageReader.h"

#include "acquire/Dib.h"
#include "acquire/Logging.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>
#include <thread>

namespace SanePageReader {

namespace {

// One 8-bit sample of a frame: channel c of pixel x on line y.
unsigned char sample(const Frame& f, int channels, int y, int x, int c) {
    const auto& p = f.params;
    const unsigned char* line = f.bytes.data() + static_cast<std::size_t>(y) * p.bytes_per_line;
    const int index = x * channels + c;
    switch (p.depth) {
    case 1: {
        const bool set = (line[index / 8] >> (7 - index % 8)) & 1;
        // In grey a set bit is black; in colour it is a channel at full strength.
        if (p.format == SANE_FRAME_GRAY)
            return set ? 0 : 255;
        return set ? 255 : 0;
    }
    case 16: {
        std::uint16_t v = 0;
        std::memcpy(&v, line + static_cast<std::size_t>(index) * 2, 2);
        return static_cast<unsigned char>(v >> 8);
    }
    default:
        return line[index];
    }
}

bool validFrame(const Frame& f) {
    const auto& p = f.params;
    if (p.pixels_per_line <= 0 || p.bytes_per_line <= 0 || f.lines <= 0)
        return false;
    if (p.depth != 1 && p.depth != 8 && p.depth != 16)
        return false;
    const int channels = p.format == SANE_FRAME_RGB ? 3 : 1;
    const long long bits = static_cast<long long>(p.pixels_per_line) * channels * p.depth;
    return (bits + 7) / 8 <= p.bytes_per_line &&
           f.bytes.size() >= static_cast<std::size_t>(f.lines) * static_cast<std::size_t>(p.bytes_per_line);
}

void putHeader(std::vector<unsigned char>& out, int width, int height, int bits, int colours, double dpi) {
    dib::BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<std::uint16_t>(bits);
    h.biCompression = dib::BI_RGB;
    const auto perMetre = static_cast<std::int32_t>(std::lround(dpi / 0.0254));
    h.biXPelsPerMeter = perMetre;
    h.biYPelsPerMeter = perMetre;
    h.biClrUsed = static_cast<std::uint32_t>(colours);
    std::memcpy(out.data(), &h, sizeof h);
}

// Some backends feed sane_read from a reader thread that they stop abruptly, at any
// instruction, when the next frame starts or the scan is cancelled. Stopped inside the
// allocator or the C library, it would leave their locks taken for good. After the last
// bytes of a frame (or a failed read) the reader only has to release its buffer and end:
// give it that moment.
void settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

} // namespace

std::optional<std::vector<unsigned char>> buildDib(const std::vector<Frame>& frames, double dpi) {
    if (frames.empty())
        return std::nullopt;
    for (const Frame& f : frames) {
        if (!validFrame(f))
            return std::nullopt;
    }
    const Frame& first = frames.front();
    const bool singleGrey = frames.size() == 1 && first.params.format == SANE_FRAME_GRAY;
    const bool singleRgb = frames.size() == 1 && first.params.format == SANE_FRAME_RGB;

    // Three-pass colour: one frame per channel, in whatever order the device sends them.
    std::array<const Frame*, 3> planes{};
    if (!singleGrey && !singleRgb) {
        for (const Frame& f : frames) {
            const int c = f.params.format == SANE_FRAME_RED     ? 0
                          : f.params.format == SANE_FRAME_GREEN ? 1
                          : f.params.format == SANE_FRAME_BLUE  ? 2
                                                                : -1;
            if (c < 0 || planes[c])
                return std::nullopt;
            planes[c] = &f;
        }
        if (!planes[0] || !planes[1] || !planes[2])
            return std::nullopt;
    }

    int width = first.params.pixels_per_line;
    int height = first.lines;
    for (const Frame& f : frames) {
        width = std::min(width, f.params.pixels_per_line);
        height = std::min(height, f.lines);
    }
    const int bits = singleGrey ? (first.params.depth == 1 ? 1 : 8) : 24;
    const int colours = bits == 1 ? 2 : bits == 8 ? 256 : 0;

    dib::BITMAPINFOHEADER probe{};
    probe.biSize = sizeof probe;
    probe.biWidth = width;
    probe.biHeight = height;
    probe.biPlanes = 1;
    probe.biBitCount = static_cast<std::uint16_t>(bits);
    probe.biClrUsed = static_cast<std::uint32_t>(colours);
    const auto layout = dib::layoutOf(probe);
    if (!layout)
        return std::nullopt;

    std::vector<unsigned char> out;
    try {
        out.assign(static_cast<std::size_t>(layout->dibSize), 0);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    putHeader(out, width, height, bits, colours, dpi);
    unsigned char* table = out.data() + sizeof(dib::BITMAPINFOHEADER);
    if (bits == 1) {
        // Index 0 white and 1 black, so SANE's line-art bits are copied unchanged.
        const unsigned char entries[8] = {255, 255, 255, 0, 0, 0, 0, 0};
        std::memcpy(table, entries, sizeof entries);
    } else if (bits == 8) {
        for (int i = 0; i < 256; ++i)
            std::memset(table + i * 4, i, 3);
    }
    unsigned char* pixels = table + layout->colourTableBytes;

    for (int y = 0; y < height; ++y) {
        // Bottom-up: the first scanned line is the last row of the DIB.
        unsigned char* row = pixels + static_cast<std::size_t>(height - 1 - y) * layout->rowBytes;
        if (bits == 1) {
            const unsigned char* line =
                first.bytes.data() + static_cast<std::size_t>(y) * first.params.bytes_per_line;
            std::memcpy(row, line, static_cast<std::size_t>((width + 7) / 8));
        } else if (bits == 8) {
            for (int x = 0; x < width; ++x)
                row[x] = sample(first, 1, y, x, 0);
        } else if (singleRgb) {
            for (int x = 0; x < width; ++x) {
                row[x * 3 + 0] = sample(first, 3, y, x, 2);
                row[x * 3 + 1] = sample(first, 3, y, x, 1);
                row[x * 3 + 2] = sample(first, 3, y, x, 0);
            }
        } else {
            for (int x = 0; x < width; ++x) {
                row[x * 3 + 0] = sample(*planes[2], 1, y, x, 0);
                row[x * 3 + 1] = sample(*planes[1], 1, y, x, 0);
                row[x * 3 + 2] = sample(*planes[0], 1, y, x, 0);
            }
        }
    }
    if (bits == 1 && width % 8 != 0) {
        // Clear the padding bits past the last pixel of each row.
        const auto mask = static_cast<unsigned char>(0xFF << (8 - width % 8));
        for (int y = 0; y < height; ++y)
            pixels[static_cast<std::size_t>(y) * layout->rowBytes + width / 8] &= mask;
    }
    return out;
}

Page read(SaneApi& api, SANE_Handle handle, const std::atomic<bool>& cancel, double dpi, Progress* progress) {
    Page page;
    std::vector<Frame> frames;
    std::vector<unsigned char> chunk(64 * 1024);
    const auto failed = [&page](const char* call, SANE_Status status) {
        qCDebug(lcAcquire) << call << "failed:" << saneStatusText(status);
        page.status = status;
    };
    for (;;) {
        SANE_Status status = api.start(handle);
        if (status != SANE_STATUS_GOOD) {
            failed("sane_start", status);
            break;
        }
        Frame frame;
        if ((status = api.getParameters(handle, &frame.params)) != SANE_STATUS_GOOD) {
            failed("sane_get_parameters", status);
            break;
        }
        if (frame.params.bytes_per_line <= 0) {
            page.status = SANE_STATUS_INVAL;
            break;
        }
        if (progress && frames.empty()) {
            // Three-pass colour sends three frames of the announced size.
            const bool onePlane = frame.params.format == SANE_FRAME_RED ||
                                  frame.params.format == SANE_FRAME_GREEN ||
                                  frame.params.format == SANE_FRAME_BLUE;
            progress->bytesExpected = frame.params.lines > 0
                                          ? static_cast<long long>(frame.params.lines) *
                                                frame.params.bytes_per_line * (onePlane ? 3 : 1)
                                          : -1;
        }
        // A known height lets us allocate once; a hand scanner reports -1 and grows.
        try {
            if (frame.params.lines > 0)
                frame.bytes.reserve(static_cast<std::size_t>(frame.params.lines) *
                                    static_cast<std::size_t>(frame.params.bytes_per_line));
        } catch (const std::bad_alloc&) {
            page.status = SANE_STATUS_NO_MEM;
            break;
        }
        for (;;) {
            if (cancel.load()) {
                status = SANE_STATUS_CANCELLED;
                break;
            }
            SANE_Int got = 0;
            status = api.read(handle, chunk.data(), static_cast<SANE_Int>(chunk.size()), &got);
            if (status != SANE_STATUS_GOOD)
                break;
            got = std::clamp(got, SANE_Int(0), static_cast<SANE_Int>(chunk.size()));
            try {
                frame.bytes.insert(frame.bytes.end(), chunk.begin(), chunk.begin() + got);
            } catch (const std::bad_alloc&) {
                status = SANE_STATUS_NO_MEM;
                break;
            }
            if (progress)
                progress->bytesRead += got;
        }
        if (status != SANE_STATUS_EOF) {
            if (status == SANE_STATUS_CANCELLED)
                page.status = status;
            else
                failed("sane_read", status);
            break;
        }
        frame.lines =
            static_cast<int>(frame.bytes.size() / static_cast<std::size_t>(frame.params.bytes_per_line));
        if (frame.params.lines > 0)
            frame.lines = std::min(frame.lines, frame.params.lines);
        const bool last = frame.params.last_frame;
        frames.push_back(std::move(frame));
        if (last || frames.size() >= 3)
            break;
        settle();
    }
    settle();
    api.cancel(handle);
    if (page.status == SANE_STATUS_GOOD) {
        auto built = buildDib(frames, dpi);
        if (built)
            page.dib = std::move(*built);
        else
            page.status = SANE_STATUS_INVAL;
    }
    return page;
}

} // namespace SanePageReader
