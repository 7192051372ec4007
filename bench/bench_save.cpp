// The save's quality search against the step search and the bare libjpeg-turbo encodes
// the step search needs.
//
// BM_SaveLoop runs the program's quality search (GPP2J + QualitySearch::run) on a crop of
// each output kind; BM_StepSearch the step search (every quality from 100 down until one
// fits, QualitySearch::runSequential); BM_BareEncodes the step search's encodes straight
// through libjpeg-turbo with pixels prepared beforehand and libjpeg's own memory
// destination.

#include "encode/GPP2J.h"
#include "encode/QualitySearch.h"
#include "imaging/OutputKinds.h"
#include "tests/support/SamplePictures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace {

enum Crop { Natural = 0, Noisy = 1 };

QImage cropFor(OutputKind kind, int crop) {
    const QSize size = outputKindInfo(kind).outputSize;
    if (crop == Noisy)
        return SamplePictures::noisyPhoto(size);
    return kind == OutputKind::Firma ? SamplePictures::signature(size) : SamplePictures::photo(size);
}

void describe(benchmark::State& state, OutputKind kind, int crop) {
    state.SetLabel(std::string(outputKindInfo(kind).frameName) + (crop == Noisy ? " noisy" : " clean"));
}

// One bare encode, as a program calling libjpeg-turbo directly would write it.
unsigned long bareEncode(const QImage& rgb32, int quality) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(rgb32.width());
    cinfo.image_height = static_cast<JDIMENSION>(rgb32.height());
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.optimize_coding = TRUE;
    cinfo.density_unit = 1;
    cinfo.X_density = 300;
    cinfo.Y_density = 300;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb32.constScanLine(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return size;
}

// One search per iteration: the quick search the program uses, or the plain step search.
template <QualitySearch::Result (*Search)(GPP2J&, const QImage&, qint64, int, int)>
void searchBenchmark(benchmark::State& state) {
    const auto kind = static_cast<OutputKind>(state.range(0));
    const int crop = static_cast<int>(state.range(1));
    const QImage image = cropFor(kind, crop);
    const qint64 limit = outputKindInfo(kind).sizeLimit;
    QualitySearch::Result result;
    for (auto _ : state) {
        GPP2J writer;
        result = Search(writer, image, limit, 300, 300);
        benchmark::DoNotOptimize(result.bytes.data());
    }
    if (result.status != QualitySearch::Status::Found)
        state.SkipWithError("no quality fits");
    state.counters["quality"] = result.quality;
    state.counters["encodes"] = result.encodes;
    state.counters["bytes"] = static_cast<double>(result.bytes.size());
    describe(state, kind, crop);
}

void BM_SaveLoop(benchmark::State& state) {
    searchBenchmark<&QualitySearch::run>(state);
}

void BM_StepSearch(benchmark::State& state) {
    searchBenchmark<&QualitySearch::runSequential>(state);
}

void BM_BareEncodes(benchmark::State& state) {
    const auto kind = static_cast<OutputKind>(state.range(0));
    const int crop = static_cast<int>(state.range(1));
    const QImage image = cropFor(kind, crop).convertToFormat(QImage::Format_RGB32);
    GPP2J writer;
    const QualitySearch::Result target =
        QualitySearch::run(writer, image, outputKindInfo(kind).sizeLimit, 300, 300);
    for (auto _ : state) {
        for (int q = QualitySearch::kHighest; q >= target.quality; --q)
            benchmark::DoNotOptimize(bareEncode(image, q));
    }
    state.counters["quality"] = target.quality;
    state.counters["encodes"] = QualitySearch::kHighest - target.quality + 1;
    describe(state, kind, crop);
}

// The whole save after the dialog: the search and the one atomic write.
void BM_SaveLoopAndWrite(benchmark::State& state) {
    const auto kind = static_cast<OutputKind>(state.range(0));
    const int crop = static_cast<int>(state.range(1));
    const QImage image = cropFor(kind, crop);
    const qint64 limit = outputKindInfo(kind).sizeLimit;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.jpg"));
    for (auto _ : state) {
        GPP2J writer;
        const QualitySearch::Result result = QualitySearch::run(writer, image, limit, 300, 300);
        if (!writer.writeFile(result.bytes, path)) {
            state.SkipWithError("write failed");
            break;
        }
    }
    describe(state, kind, crop);
}

void kindsAndCrops(benchmark::internal::Benchmark* b) {
    for (int kind = 0; kind < 3; ++kind) {
        for (int crop : {Natural, Noisy})
            b->Args({kind, crop});
    }
    b->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_SaveLoop)->Apply(kindsAndCrops);
BENCHMARK(BM_StepSearch)->Apply(kindsAndCrops);
BENCHMARK(BM_BareEncodes)->Apply(kindsAndCrops);
BENCHMARK(BM_SaveLoopAndWrite)->Apply(kindsAndCrops);

BENCHMARK_MAIN();
