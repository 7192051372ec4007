// What the window spends to show the locator a JPEG page as vetra-batch does: the page
// file's reduced grey decode, read again on the locator's thread (A4 at 300 and 600 dpi).
#include "imaging/LocatorPicture.h"
#include "tests/support/PageFiles.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

void BM_LocatorPictureJpeg(benchmark::State& state) {
    const QSize size = state.range(0) == 600 ? QSize(4960, 7016) : QSize(2480, 3508);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("page.jpg"));
    if (!PageFiles::write(path,
                          PageFiles::jpeg(PageFiles::paintPage(size.width(), size.height()), 85, true))) {
        state.SkipWithError("cannot write the page");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(LocatorPicture::ofJpegFile(path, size));
}
BENCHMARK(BM_LocatorPictureJpeg)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
