// The workspace's heavy steps on an A4 page scanned at 600 dpi (4960 x 7016): decoding
// the file, fitting it into pict, the quarter turn and the crop of a large frame.
#include "workspace/FrameGeometry.h"
#include "workspace/ImageFile.h"
#include "workspace/ImageProcess.h"
#include "workspace/StretchRegion.h"

#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

const QSize kA4At600(4960, 7016);

QImage a4Page() {
    QImage page(kA4At600, QImage::Format_RGB32);
    page.fill(QColor(250, 249, 244));
    QPainter painter(&page);
    painter.setPen(QPen(Qt::black, 6));
    for (int y = 400; y < page.height(); y += 240)
        painter.drawLine(300, y, page.width() - 300, y);
    painter.fillRect(QRect(3800, 1400, 826, 1062), QColor(180, 150, 130));
    return page;
}

const QString& a4File() {
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString file = dir.filePath(QStringLiteral("a4.jpg"));
        QImageWriter writer(file, "jpg");
        writer.setQuality(85);
        writer.write(a4Page());
        return file;
    }();
    return path;
}

void BM_LoadA4Jpeg(benchmark::State& state) {
    for (auto _ : state) {
        ImageFile image;
        benchmark::DoNotOptimize(image.loadFile(a4File()));
    }
}
BENCHMARK(BM_LoadA4Jpeg)->Unit(benchmark::kMillisecond);

void BM_FitA4(benchmark::State& state) {
    const ImageFile page({a4Page()});
    ImageProcess process;
    ImageFilter& scale = process.addFilter(FilterKind::Scale);
    scale.maximumWidth = 425;
    scale.maximumHeight = 585;
    for (auto _ : state)
        benchmark::DoNotOptimize(process.apply(page));
}
BENCHMARK(BM_FitA4)->Unit(benchmark::kMillisecond);

void BM_QuarterTurnA4(benchmark::State& state) {
    const ImageFile page({a4Page()});
    ImageProcess process;
    process.addFilter(FilterKind::RotateFlip).rotationAngle = 90;
    for (auto _ : state)
        benchmark::DoNotOptimize(process.apply(page));
}
BENCHMARK(BM_QuarterTurnA4)->Unit(benchmark::kMillisecond);

void BM_CropLargestPhotoFrame(benchmark::State& state) {
    const QImage page = a4Page();
    const double factor = FrameGeometry::cropScaleFactor(page.size(), 414, 585);
    const QRectF source = FrameGeometry::cropSourceRect(OutputKind::Foto, FrameRect{1, 1, 415, 498}, factor);
    for (auto _ : state)
        benchmark::DoNotOptimize(stretchRegion(page, source, QSize(400, 480)));
}
BENCHMARK(BM_CropLargestPhotoFrame)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
