#pragma once
// giflib's whole decode of a GIF page from memory, the floor the program's GIF decodes are
// measured against (bench/bare/gif-floor, workspace_bench): every row of the first image
// through DGifGetLine into one index buffer (interlaced rows put in their place), the
// later blocks walked to the trailer.
#include <gif_lib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace gif_floor {

struct Memory {
    const unsigned char* data;
    size_t size;
    size_t at;
};

inline int readMemory(GifFileType* gif, GifByteType* to, int length) {
    auto* m = static_cast<Memory*>(gif->UserData);
    const size_t n = std::min(size_t(length), m->size - m->at);
    std::memcpy(to, m->data + m->at, n);
    m->at += n;
    return int(n);
}

struct Decoded {
    int width = 0;
    int height = 0;
    int rows = 0;
    unsigned long checksum = 0;
};

inline bool decode(const unsigned char* data, size_t size, Decoded* out) {
    Memory memory{data, size, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&memory, readMemory, &error);
    if (!gif) {
        std::fprintf(stderr, "gif-floor: %s\n", GifErrorString(error));
        return false;
    }
    std::vector<GifByteType> pixels;
    bool first = true;
    bool ok = true;
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    while (ok && type != TERMINATE_RECORD_TYPE) {
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) {
            ok = false;
            break;
        }
        if (type == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif) == GIF_ERROR) {
                ok = false;
                break;
            }
            const int width = gif->Image.Width;
            const int height = gif->Image.Height;
            if (!first) { // later images: their data walked, not decoded
                int codeSize = 0;
                GifByteType* block = nullptr;
                ok = DGifGetCode(gif, &codeSize, &block) != GIF_ERROR;
                while (ok && block)
                    ok = DGifGetCodeNext(gif, &block) != GIF_ERROR;
                continue;
            }
            first = false;
            out->width = width;
            out->height = height;
            pixels.resize(size_t(width) * size_t(height));
            std::vector<int> rows;
            if (gif->Image.Interlace) {
                const int start[] = {0, 4, 2, 1};
                const int step[] = {8, 8, 4, 2};
                for (int pass = 0; pass < 4; ++pass)
                    for (int y = start[pass]; y < height; y += step[pass])
                        rows.push_back(y);
            } else {
                for (int y = 0; y < height; ++y)
                    rows.push_back(y);
            }
            for (int y : rows) {
                if (DGifGetLine(gif, pixels.data() + size_t(y) * size_t(width), width) == GIF_ERROR) {
                    ok = false;
                    break;
                }
                ++out->rows;
            }
        } else if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* extension = nullptr;
            ok = DGifGetExtension(gif, &code, &extension) != GIF_ERROR;
            while (ok && extension)
                ok = DGifGetExtensionNext(gif, &extension) != GIF_ERROR;
        }
    }
    if (!ok)
        std::fprintf(stderr, "gif-floor: %s\n", GifErrorString(gif->Error));
    for (size_t i = 0; i < pixels.size(); i += 4093)
        out->checksum = out->checksum * 31 + pixels[i];
    DGifCloseFile(gif, &error);
    return ok && !first;
}

} // namespace gif_floor
