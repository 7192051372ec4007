// The yardstick: the batch job done the plain way with libjpeg-turbo alone. The whole
// page is decoded into one buffer, the rectangle is copied out of it turned, stretched to
// the output size with a triangle filter, and encoded in memory from quality 100 down until the
// file fits the limit; that file is written with a density of 300 dots per inch.
//
//   bare-batch [--rotate 90|180|270] --rect X,Y,W,H [--size WxH] [--limit BYTES] IN.jpg OUT.jpg
//
// The rectangle is in pixels of the turned page and must lie inside it. Prints
// "quality=Q bytes=N". Output settings match the program's writer: baseline, 4:2:0,
// optimised Huffman tables.
#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb; // 3 bytes a pixel, rows packed
};

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void errorExit(j_common_ptr cinfo) {
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    std::fprintf(stderr, "bare-batch: %s\n", message);
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

bool decode(const char* path, Image* out) {
    FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::perror(path);
        return false;
    }
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::fclose(f);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out->width = int(cinfo.output_width);
    out->height = int(cinfo.output_height);
    out->rgb.resize(size_t(out->width) * out->height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out->rgb.data() + size_t(cinfo.output_scanline) * out->width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    return true;
}

// The rectangle (x0, y0, w, h) of the page turned clockwise by degrees, read straight
// from the upright buffer: turning only what is kept.
Image turnedCrop(const Image& in, int degrees, int x0, int y0, int w, int h) {
    Image out;
    out.width = w;
    out.height = h;
    out.rgb.resize(size_t(w) * h * 3);
    for (int v = 0; v < h; ++v)
        for (int u = 0; u < w; ++u) {
            const int tu = x0 + u, tv = y0 + v; // on the turned page
            int x = tu, y = tv;
            if (degrees == 90) {
                x = tv;
                y = in.height - 1 - tu;
            } else if (degrees == 180) {
                x = in.width - 1 - tu;
                y = in.height - 1 - tv;
            } else if (degrees == 270) {
                x = in.width - 1 - tv;
                y = tu;
            }
            std::memcpy(&out.rgb[(size_t(v) * w + u) * 3], &in.rgb[(size_t(y) * in.width + x) * 3], 3);
        }
    return out;
}

// Weights of a triangle filter, widened when shrinking so every source pixel counts.
struct Taps {
    int first;
    std::vector<float> weights;
};

std::vector<Taps> taps(int from, int to) {
    std::vector<Taps> all(static_cast<size_t>(to));
    const double scale = double(from) / to;
    const double support = std::max(1.0, scale);
    for (int i = 0; i < to; ++i) {
        const double centre = (i + 0.5) * scale - 0.5;
        const int lo = std::max(0, int(std::floor(centre - support)) + 1);
        const int hi = std::min(from - 1, int(std::ceil(centre + support)) - 1);
        Taps t{lo, {}};
        double sum = 0;
        for (int s = lo; s <= hi; ++s) {
            const double w = std::max(0.0, 1.0 - std::abs(s - centre) / support);
            t.weights.push_back(float(w));
            sum += w;
        }
        if (t.weights.empty()) {
            t.first = std::clamp(int(std::lround(centre)), 0, from - 1);
            t.weights.push_back(1.0f);
            sum = 1;
        }
        for (float& w : t.weights)
            w = float(w / sum);
        all[size_t(i)] = std::move(t);
    }
    return all;
}

Image resize(const Image& in, int w, int h) {
    const auto tx = taps(in.width, w);
    const auto ty = taps(in.height, h);
    std::vector<float> mid(size_t(w) * in.height * 3);
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < w; ++x) {
            float acc[3] = {0, 0, 0};
            const Taps& t = tx[size_t(x)];
            for (size_t k = 0; k < t.weights.size(); ++k) {
                const unsigned char* p = &in.rgb[(size_t(y) * in.width + t.first + k) * 3];
                for (int c = 0; c < 3; ++c)
                    acc[c] += t.weights[k] * p[c];
            }
            std::memcpy(&mid[(size_t(y) * w + x) * 3], acc, sizeof acc);
        }
    Image out;
    out.width = w;
    out.height = h;
    out.rgb.resize(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        const Taps& t = ty[size_t(y)];
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                float acc = 0;
                for (size_t k = 0; k < t.weights.size(); ++k)
                    acc += t.weights[k] * mid[((t.first + k) * size_t(w) + x) * 3 + c];
                out.rgb[(size_t(y) * w + x) * 3 + c] =
                    static_cast<unsigned char>(std::clamp(std::lround(acc), 0L, 255L));
            }
    }
    return out;
}

std::vector<unsigned char> encode(const Image& img, int quality) {
    jpeg_compress_struct c;
    ErrorManager err;
    c.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&c);
        std::free(buffer);
        return {};
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(img.width);
    c.image_height = JDIMENSION(img.height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    c.optimize_coding = TRUE;
    c.density_unit = 1;
    c.X_density = 300;
    c.Y_density = 300;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&img.rgb[size_t(c.next_scanline) * img.width * 3]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<unsigned char> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

int usage() {
    std::fprintf(stderr,
                 "usage: bare-batch [--rotate 90|180|270] --rect X,Y,W,H [--size WxH] [--limit BYTES] "
                 "IN.jpg OUT.jpg\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    int rotation = 0, rx = 0, ry = 0, rw = 0, rh = 0, ow = 400, oh = 480;
    long limit = 34900;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rotate" && i + 1 < argc)
            rotation = std::atoi(argv[++i]);
        else if (a == "--rect" && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%d,%d,%d,%d", &rx, &ry, &rw, &rh) != 4)
                return usage();
        } else if (a == "--size" && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%dx%d", &ow, &oh) != 2)
                return usage();
        } else if (a == "--limit" && i + 1 < argc)
            limit = std::atol(argv[++i]);
        else
            files.push_back(argv[i]);
    }
    if (files.size() != 2 || rw <= 0 || rh <= 0 || ow <= 0 || oh <= 0 ||
        (rotation != 0 && rotation != 90 && rotation != 180 && rotation != 270))
        return usage();

    const auto t0 = std::chrono::steady_clock::now();
    Image page;
    if (!decode(files[0], &page))
        return 1;
    const auto t1 = std::chrono::steady_clock::now();
    const int tw = rotation % 180 ? page.height : page.width;
    const int th = rotation % 180 ? page.width : page.height;
    if (rx < 0 || ry < 0 || rx + rw > tw || ry + rh > th) {
        std::fprintf(stderr, "bare-batch: the rectangle leaves the %dx%d page\n", tw, th);
        return 1;
    }
    const Image out = resize(turnedCrop(page, rotation, rx, ry, rw, rh), ow, oh);
    const auto t2 = std::chrono::steady_clock::now();
    for (int q = 100; q >= 1; --q) {
        const std::vector<unsigned char> bytes = encode(out, q);
        if (bytes.empty())
            return 1;
        if (long(bytes.size()) <= limit) {
            FILE* f = std::fopen(files[1], "wb");
            if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
                std::perror(files[1]);
                return 1;
            }
            std::printf("quality=%d bytes=%zu\n", q, bytes.size());
            if (std::getenv("BARE_TIMES")) {
                using ms = std::chrono::duration<double, std::milli>;
                std::fprintf(stderr, "decode %.1f ms, turn+crop+resize %.1f ms, %d encodes %.1f ms\n",
                             ms(t1 - t0).count(), ms(t2 - t1).count(), 101 - q,
                             ms(std::chrono::steady_clock::now() - t2).count());
            }
            return 0;
        }
    }
    std::fprintf(stderr, "bare-batch: no quality fits %ld bytes\n", limit);
    return 1;
}
