// The straightening of a 600 dpi A4 page (4960 x 7016): the photo's rectangle alone, as
// vetra-batch --straighten makes it, against the whole page, as the window makes it.
#include "imaging/Straighten.h"
#include "tests/support/PageFiles.h"

#include <benchmark/benchmark.h>

namespace {

const QImage& page600() {
    static const QImage page = PageFiles::paintPage(4960, 7016);
    return page;
}

void BM_StraightenPhotoRect(benchmark::State& state) {
    const QImage& page = page600();
    const QRect photo(3380, 580, 866, 1040);
    const double degrees = 1.5;
    for (auto _ : state) {
        const QRect from = Straighten::sourceRect(page.size(), degrees, photo);
        // What vetra-batch reads: only those pixels.
        const QImage source = page.copy(from);
        benchmark::DoNotOptimize(Straighten::region(source, from.topLeft(), page.size(), degrees, photo));
    }
}
BENCHMARK(BM_StraightenPhotoRect)->Unit(benchmark::kMillisecond);

void BM_StraightenWholePage(benchmark::State& state) {
    const QImage& page = page600();
    for (auto _ : state)
        benchmark::DoNotOptimize(Straighten::page(page, 1.5));
}
BENCHMARK(BM_StraightenWholePage)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
