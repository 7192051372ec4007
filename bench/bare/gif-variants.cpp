// The GIF layouts the benchmark measures besides the plain page, written with giflib from
// that page (the first image of IN.gif, whole screen, global colour table):
//   OUT/a4-300-interlaced.gif  the same picture, rows interlaced (as many programs write GIF)
//   OUT/a4-300-frames.gif      three images: the page interlaced with its own colour table
//                              (no global table), then two small images with their own
//                              tables elsewhere on the page, as a page saved from an
//                              animation would be
//
//   gif-variants IN.gif OUT
#include <gif_lib.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<int> passOrder(int height, bool interlaced) {
    std::vector<int> rows;
    const int start[] = {0, 4, 2, 1};
    const int step[] = {8, 8, 4, 2};
    for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass)
        for (int y = interlaced ? start[pass] : 0; y < height; y += interlaced ? step[pass] : 1)
            rows.push_back(y);
    return rows;
}

bool putImage(GifFileType* out, int left, int top, int width, int height, bool interlaced,
              const ColorMapObject* table, const GifByteType* pixels, int stride) {
    if (EGifPutImageDesc(out, left, top, width, height, interlaced, table) == GIF_ERROR)
        return false;
    for (int y : passOrder(height, interlaced))
        if (EGifPutLine(out, const_cast<GifByteType*>(pixels + size_t(y) * size_t(stride)), width) ==
            GIF_ERROR)
            return false;
    return true;
}

bool write(const std::string& path, const SavedImage& page, const ColorMapObject* table, int width,
           int height, bool frames) {
    int error = 0;
    GifFileType* out = EGifOpenFileName(path.c_str(), false, &error);
    if (!out) {
        std::fprintf(stderr, "gif-variants: %s: %s\n", path.c_str(), GifErrorString(error));
        return false;
    }
    bool ok =
        EGifPutScreenDesc(out, width, height, table->BitsPerPixel, 0, frames ? nullptr : table) != GIF_ERROR;
    ok = ok && putImage(out, 0, 0, width, height, true, frames ? table : nullptr, page.RasterBits, width);
    if (frames) {
        // Two later images of 400 x 300 cut from the page, their colours reversed.
        ColorMapObject* reversed = GifMakeMapObject(table->ColorCount, nullptr);
        for (int i = 0; i < table->ColorCount; ++i)
            reversed->Colors[i] = table->Colors[table->ColorCount - 1 - i];
        ok = ok && putImage(out, 100, 200, 400, 300, false, reversed, page.RasterBits, width);
        ok = ok &&
             putImage(out, width - 500, height - 400, 400, 300, true, reversed,
                      page.RasterBits + size_t(height - 400) * size_t(width) + size_t(width - 500), width);
        GifFreeMapObject(reversed);
    }
    if (EGifCloseFile(out, &error) == GIF_ERROR)
        ok = false;
    if (!ok)
        std::fprintf(stderr, "gif-variants: %s: not written\n", path.c_str());
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: gif-variants IN.gif OUT\n");
        return 2;
    }
    int error = 0;
    GifFileType* in = DGifOpenFileName(argv[1], &error);
    if (!in || DGifSlurp(in) == GIF_ERROR || in->ImageCount < 1) {
        std::fprintf(stderr, "gif-variants: %s: %s\n", argv[1], GifErrorString(in ? in->Error : error));
        return 1;
    }
    const SavedImage& page = in->SavedImages[0];
    const ColorMapObject* table = page.ImageDesc.ColorMap ? page.ImageDesc.ColorMap : in->SColorMap;
    const int width = page.ImageDesc.Width;
    const int height = page.ImageDesc.Height;
    if (!table || page.ImageDesc.Interlace || width < 600 || height < 500) {
        std::fprintf(stderr, "gif-variants: %s: not a plain page\n", argv[1]);
        return 1;
    }
    const std::string folder = argv[2];
    const bool ok = write(folder + "/a4-300-interlaced.gif", page, table, width, height, false) &&
                    write(folder + "/a4-300-frames.gif", page, table, width, height, true);
    DGifCloseFile(in, &error);
    return ok ? 0 : 1;
}
