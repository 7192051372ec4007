// The floor a GIF page's decode is measured against, as a whole process: the file read into
// memory (as vetra-batch and the window read it), then giflib's decode of every row of the
// first image (GifFloor.h).
//
//   gif-floor IN.gif            decodes once and prints "WxH rows=N checksum=C"
//   gif-floor --repeat N IN.gif decodes N times in one process and prints the median and
//                               the fastest decode in milliseconds (the file read once)
#include "bench/bare/GifFloor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    int repeat = 0;
    int arg = 1;
    if (argc == 4 && std::strcmp(argv[1], "--repeat") == 0) {
        repeat = std::atoi(argv[2]);
        arg = 3;
    } else if (argc != 2) {
        std::fprintf(stderr, "usage: gif-floor [--repeat N] IN.gif\n");
        return 2;
    }
    FILE* f = std::fopen(argv[arg], "rb");
    if (!f) {
        std::perror(argv[arg]);
        return 1;
    }
    std::vector<unsigned char> file;
    unsigned char buffer[1 << 16];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        file.insert(file.end(), buffer, buffer + n);
    std::fclose(f);

    gif_floor::Decoded decoded;
    if (repeat <= 0) {
        if (!gif_floor::decode(file.data(), file.size(), &decoded))
            return 1;
        std::printf("%dx%d rows=%d checksum=%lu\n", decoded.width, decoded.height, decoded.rows,
                    decoded.checksum);
        return 0;
    }
    std::vector<double> ms;
    for (int i = 0; i < repeat; ++i) {
        const auto start = std::chrono::steady_clock::now();
        gif_floor::Decoded once;
        if (!gif_floor::decode(file.data(), file.size(), &once))
            return 1;
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("median %.2f ms, fastest %.2f ms (%d decodes)\n", ms[ms.size() / 2], ms.front(), repeat);
    return 0;
}
