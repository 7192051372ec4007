// The region reader against a whole decode of the same page, on painted A4 forms scanned
// sideways (a quarter turn clockwise makes them upright), in one run:
//   bench_region [--benchmark_filter=...]
#include "imaging/RegionReader.h"
#include "tests/support/FormPage.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTransform>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <vector>

namespace {

QTemporaryDir* pagesDir = nullptr;

QString page(const char* name) {
    return pagesDir->filePath(QString::fromLatin1(name));
}

int dpiOf(const char* name) {
    return QByteArray(name).contains("600") ? 600 : 300;
}

void writePages() {
    struct P {
        const char* name;
        int dpi;
        const char* format;
    };
    for (const P& p :
         {P{"a4-300.jpg", 300, "jpeg"}, P{"a4-600.jpg", 600, "jpeg"}, P{"a4-300.bmp", 300, "bmp"}}) {
        QImageWriter w(page(p.name), p.format);
        w.setQuality(90);
        if (!w.write(FormPage::sideways(FormPage::paint(p.dpi, false))))
            std::fprintf(stderr, "bench_region: cannot write %s\n", p.name);
    }
    // Qt writes no GIF; the generator's pages have one made by ImageMagick.
    const QString gif = page("a4-300.gif");
    if (QProcess::execute(QStringLiteral("convert"), {page("a4-300.bmp"), gif}) != 0)
        std::fprintf(stderr, "bench_region: no GIF page (ImageMagick's convert missing?)\n");
}

// What a plain libjpeg-turbo program does first: the whole page into one RGB buffer.
void decodeWhole(const QString& path, std::vector<unsigned char>& rgb) {
    FILE* f = std::fopen(QFile::encodeName(path).constData(), "rb");
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    rgb.resize(size_t(cinfo.output_width) * cinfo.output_height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = rgb.data() + size_t(cinfo.output_scanline) * cinfo.output_width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
}

void BM_WholeDecodeLibjpeg(benchmark::State& state, const char* name) {
    std::vector<unsigned char> rgb;
    for (auto _ : state) {
        decodeWhole(page(name), rgb);
        benchmark::DoNotOptimize(rgb.data());
    }
}

void BM_WholeDecodeQt(benchmark::State& state, const char* name) {
    for (auto _ : state) {
        QImage image(page(name));
        benchmark::DoNotOptimize(image.constBits());
    }
}

// The photograph's box on the upright page; "far" is the same box on the other side of
// the page, whose stored rows come last in the file.
QRect photo(const char* name, bool far) {
    QRect r = FormPage::photoRect(dpiOf(name));
    if (far)
        r.moveLeft(r.left() * 100 / 1690);
    return r;
}

void BM_Region(benchmark::State& state, const char* name, bool far, bool withTarget) {
    const RegionRequest request{page(name),
                                {90, PageTransform::Mirror::None},
                                photo(name, far),
                                withTarget ? QSize(400, 480) : QSize()};
    for (auto _ : state) {
        const PageRegion region = RegionReader::read(request);
        if (!region.ok())
            state.SkipWithError(qPrintable(region.error));
        benchmark::DoNotOptimize(region.image.constBits());
    }
}

// The rest of the job, the same for both roads: stretch to 400 x 480 and encode from
// quality 100 down (4:2:0, optimised Huffman tables, as the program writes) until the file
// fits 34,900 bytes. Shows how much of the job the reading still is.
int finishJob(const QImage& crop) {
    const QImage out = crop.scaled(400, 480, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                           .convertToFormat(QImage::Format_RGB888);
    for (int q = 100; q > 0; --q) {
        jpeg_compress_struct c;
        jpeg_error_mgr err;
        c.err = jpeg_std_error(&err);
        jpeg_create_compress(&c);
        unsigned char* buffer = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&c, &buffer, &size);
        c.image_width = 400;
        c.image_height = 480;
        c.input_components = 3;
        c.in_color_space = JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, q, TRUE);
        c.optimize_coding = TRUE;
        jpeg_start_compress(&c, TRUE);
        while (c.next_scanline < c.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(out.constScanLine(int(c.next_scanline)));
            jpeg_write_scanlines(&c, &row, 1);
        }
        jpeg_finish_compress(&c);
        jpeg_destroy_compress(&c);
        std::free(buffer);
        if (size <= 34900)
            return q;
    }
    return 0;
}

void BM_JobWholeDecode(benchmark::State& state, const char* name) {
    const QRect r = photo(name, false);
    for (auto _ : state) {
        QImage whole(page(name));
        const QImage turned = whole.transformed(QTransform().rotate(90));
        whole = QImage();
        benchmark::DoNotOptimize(finishJob(turned.copy(r)));
    }
}

void BM_JobRegion(benchmark::State& state, const char* name) {
    const QRect r = photo(name, false);
    const RegionRequest request{page(name), {90, PageTransform::Mirror::None}, r, QSize(400, 480)};
    for (auto _ : state) {
        const PageRegion region = RegionReader::read(request);
        const QImage crop = region.image.copy(region.mapFromPage(QRectF(r)).toAlignedRect());
        benchmark::DoNotOptimize(finishJob(crop));
    }
}

void registerAll() {
    for (const char* name : {"a4-300.jpg", "a4-600.jpg", "a4-300.bmp", "a4-300.gif"}) {
        benchmark::RegisterBenchmark((std::string("JobWholeDecodeQt/") + name).c_str(), BM_JobWholeDecode,
                                     name)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("JobRegion/") + name).c_str(), BM_JobRegion, name)
            ->Unit(benchmark::kMillisecond);
    }
    for (const char* name : {"a4-300.jpg", "a4-600.jpg"}) {
        benchmark::RegisterBenchmark((std::string("WholeDecodeLibjpeg/") + name).c_str(),
                                     BM_WholeDecodeLibjpeg, name)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("WholeDecodeQt/") + name).c_str(), BM_WholeDecodeQt, name)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("RegionRot90/") + name).c_str(), BM_Region, name, false,
                                     false)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("RegionRot90Far/") + name).c_str(), BM_Region, name, true,
                                     false)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("RegionRot90Target400x480/") + name).c_str(), BM_Region,
                                     name, false, true)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("WholeDecodeQt/a4-300.gif", BM_WholeDecodeQt, "a4-300.gif")
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("RegionRot90/a4-300.gif", BM_Region, "a4-300.gif", false, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("RegionRot90Far/a4-300.gif", BM_Region, "a4-300.gif", true, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("WholeDecodeQt/a4-300.bmp", BM_WholeDecodeQt, "a4-300.bmp")
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("RegionRot90/a4-300.bmp", BM_Region, "a4-300.bmp", false, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("RegionRot90Far/a4-300.bmp", BM_Region, "a4-300.bmp", true, false)
        ->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);        // fonts for the painted forms
    QImageReader::setAllocationLimit(1024); // as the workspace allows, for 600 dpi pages
    QTemporaryDir dir;
    pagesDir = &dir;
    writePages();
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
