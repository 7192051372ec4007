// The workspace window's heavy road on realistic A4 pages, each timed against a bare full
// decode of the same file in the same run:
//   - load + RefreshDisplay (the "Carica Immagine da File" click),
//   - quarter turn + RefreshDisplay (the "Rotazione" click),
//   - SELEZIONA of the largest photo frame,
//   - and, in a child process, the peak memory with the page loaded.
// The pages are made here: a form with ruled lines and printed text, a photograph and
// scanner noise over everything, at 300 and 600 dpi, written as JPEG, BMP and GIF.
#include "env/Prompts.h"
#include "imaging/FrameGeometry.h"
#include "imaging/ImageFile.h"
#include "imaging/ImageProcess.h"
#include "imaging/StretchRegion.h"
#include "tests/support/PageFiles.h"
#include "workspace/SelectionFrame.h"
#include "workspace/frmScanner.h"

#ifdef VETRA_BENCH_GIFLIB
#include "bench/bare/GifFloor.h"
#endif

#include <QApplication>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <jpeglib.h>
#include <memory>
#include <vector>

namespace {

// ---- pages ----------------------------------------------------------------------------

struct PageFile {
    const char* name; // "jpeg600", ...
    const char* format;
    int dpi;
};

// The order matches the benchmarks' argument: 0..5.
const PageFile kPages[] = {
    {"jpeg300", "jpg", 300}, {"jpeg600", "jpg", 600}, {"bmp300", "bmp", 300},
    {"bmp600", "bmp", 600},  {"gif300", "gif", 300},  {"gif600", "gif", 600},
};

QSize a4Size(int dpi) {
    return {qRound(210 / 25.4 * dpi), qRound(297 / 25.4 * dpi)};
}

quint32 nextRandom(quint32& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// A filled-in form as a scanner gives it: off-white paper, ruled fields with printed
// labels, a box of handwriting-like strokes, a colour photograph, and noise on every pixel.
QImage formPage(int dpi) {
    const QSize size = a4Size(dpi);
    QImage page(size, QImage::Format_RGB32);
    page.fill(QColor(246, 244, 238));
    const double mm = dpi / 25.4;
    {
        QPainter painter(&page);
        painter.setRenderHint(QPainter::Antialiasing);
        QFont font(QStringLiteral("Liberation Serif"));
        font.setPixelSize(qRound(3.2 * mm));
        painter.setFont(font);
        painter.setPen(QPen(QColor(30, 30, 40), 0.25 * mm));
        painter.drawText(QPointF(20 * mm, 22 * mm),
                         QStringLiteral("DOMANDA DI RILASCIO - MODULO DA COMPILARE IN STAMPATELLO"));
        int line = 0;
        for (double y = 40 * mm; y < size.height() - 20 * mm; y += 9 * mm, ++line) {
            painter.drawText(QPointF(20 * mm, y - 1.5 * mm),
                             QStringLiteral("Campo %1: cognome, nome, luogo e data di nascita").arg(line));
            painter.drawLine(QPointF(20 * mm, y), QPointF(size.width() - (y < 110 * mm ? 70 : 20) * mm, y));
        }
        // Handwriting: blue strokes across some fields.
        painter.setPen(QPen(QColor(20, 40, 150), 0.5 * mm));
        quint32 seed = 12345;
        for (int f = 0; f < 18; ++f) {
            QPainterPath stroke;
            const double y = (48 + 9 * f) * mm;
            stroke.moveTo(30 * mm, y);
            for (double x = 30 * mm; x < 120 * mm; x += 2 * mm)
                stroke.lineTo(x, y - (nextRandom(seed) % 100) / 100.0 * 4 * mm);
            painter.drawPath(stroke);
        }
        // The photograph, 35 x 45 mm, top right: smooth shading with fine texture.
        const QRect photo(qRound(size.width() - 60 * mm), qRound(30 * mm), qRound(35 * mm), qRound(45 * mm));
        painter.setPen(QPen(Qt::black, 0.3 * mm));
        painter.drawRect(photo.adjusted(-2, -2, 2, 2));
        painter.end();
        for (int y = photo.top(); y <= photo.bottom(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(page.scanLine(y));
            const double v = double(y - photo.top()) / photo.height();
            for (int x = photo.left(); x <= photo.right(); ++x) {
                const double u = double(x - photo.left()) / photo.width();
                const double face = std::exp(-((u - 0.5) * (u - 0.5) * 9 + (v - 0.42) * (v - 0.42) * 6));
                const double texture = 0.5 + 0.5 * std::sin(u * 90) * std::cos(v * 70);
                row[x] = qRgb(int(60 + 170 * face + 20 * texture), int(70 + 130 * face + 15 * texture),
                              int(110 + 90 * face - 30 * texture));
            }
        }
    }
    // Scanner noise, a few levels on every channel.
    quint32 state = 0x9E3779B9u;
    for (int y = 0; y < page.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(page.scanLine(y));
        for (int x = 0; x < page.width(); ++x) {
            const quint32 r = nextRandom(state);
            const auto jitter = [](int c, quint32 bits) { return qBound(0, c + int(bits & 15) - 7, 255); };
            row[x] =
                qRgb(jitter(qRed(row[x]), r), jitter(qGreen(row[x]), r >> 4), jitter(qBlue(row[x]), r >> 8));
        }
    }
    return page;
}

// Qt writes no GIF, so the pages are quantised to a 6 x 6 x 6 cube and LZW-coded by the
// tests' GIF writer.
QByteArray gifOf(const QImage& page) {
    QImage indexed(page.size(), QImage::Format_Indexed8);
    QList<QRgb> cube(256);
    for (int i = 0; i < 256; ++i) {
        const int c = qMin(i, 215);
        cube[i] = qRgb(c / 36 * 51, c / 6 % 6 * 51, c % 6 * 51);
    }
    indexed.setColorTable(cube);
    for (int y = 0; y < page.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(page.constScanLine(y));
        uchar* out = indexed.scanLine(y);
        for (int x = 0; x < page.width(); ++x)
            out[x] = uchar((qRed(row[x]) * 5 + 127) / 255 * 36 + (qGreen(row[x]) * 5 + 127) / 255 * 6 +
                           (qBlue(row[x]) * 5 + 127) / 255);
    }
    return PageFiles::gif(indexed);
}

QTemporaryDir& pageDir() {
    static QTemporaryDir dir;
    return dir;
}

// VETRA_BENCH_PAGES names a folder to write the pages into and keep them (for profiling).
QString pagePath(int which) {
    const QString kept = qEnvironmentVariable("VETRA_BENCH_PAGES");
    return (kept.isEmpty() ? pageDir().path() : kept) + QLatin1Char('/') +
           QString::fromLatin1(kPages[which].name) + QLatin1Char('.') +
           QString::fromLatin1(kPages[which].format);
}

// Writes the six files once per run; a kept folder that has them all is used as it is.
void makePages() {
    if (!qEnvironmentVariableIsEmpty("VETRA_BENCH_PAGES") &&
        std::all_of(std::begin(kPages), std::end(kPages),
                    [](const PageFile& page) { return QFile::exists(pagePath(int(&page - kPages))); }))
        return;
    for (int dpi : {300, 600}) {
        const QImage page = formPage(dpi);
        for (int which = 0; which < 6; ++which) {
            if (kPages[which].dpi != dpi)
                continue;
            const QString path = pagePath(which);
            bool ok = false;
            if (qstrcmp(kPages[which].format, "gif") == 0) {
                QFile file(path);
                const QByteArray bytes = gifOf(page);
                ok = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
            } else {
                QImageWriter writer(path, kPages[which].format);
                writer.setQuality(85);
                ok = writer.write(page);
            }
            if (!ok || QImageReader(path).size() != page.size())
                qFatal("cannot write the page %s", kPages[which].name);
        }
    }
}

// ---- the window -----------------------------------------------------------------------

// Answers the open dialog with the page and every message with Ok.
class PagePrompts final : public Prompts {
  public:
    QString path;
    Answer message(const QString&, Buttons) override { return Answer::Ok; }
    std::optional<QString> openFile(const FileRequest&) override { return path; }
    std::optional<QString> saveFile(const FileRequest&) override { return std::nullopt; }
};

struct Window {
    PagePrompts prompts;
    frmScanner window{prompts};

    explicit Window(int which) { prompts.path = pagePath(which); }
    void load() { window.Command12_Click(); }
};

void setLabel(benchmark::State& state, int which) {
    state.SetLabel(kPages[which].name);
}

// ---- bare decodes ---------------------------------------------------------------------

bool bareQtDecode(const QString& path) {
    QImage image;
    QImageReader reader(path);
    return reader.read(&image);
}

// libjpeg-turbo's full decode to RGB, the file read into memory first.
bool bareTurboDecode(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()), bytes.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    const std::size_t stride = std::size_t(info.output_width) * 3;
    std::unique_ptr<unsigned char[]> pixels(new unsigned char[stride * info.output_height]);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[4];
        for (JDIMENSION i = 0; i < 4; ++i)
            rows[i] = pixels.get() + stride * qMin(info.output_scanline + i, info.output_height - 1);
        jpeg_read_scanlines(&info, rows, 4);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    benchmark::DoNotOptimize(pixels.get());
    return true;
}

// giflib's decode of every row, the file read into memory first.
bool bareGifDecode(const QString& path) {
#ifdef VETRA_BENCH_GIFLIB
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    gif_floor::Decoded decoded;
    return gif_floor::decode(reinterpret_cast<const unsigned char*>(bytes.constData()), size_t(bytes.size()),
                             &decoded);
#else
    Q_UNUSED(path);
    return false;
#endif
}

void BM_BareDecode(benchmark::State& state) {
    const int which = int(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(bareQtDecode(pagePath(which)));
    setLabel(state, which);
}

void BM_BareTurbo(benchmark::State& state) {
    const int which = int(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(bareTurboDecode(pagePath(which)));
    setLabel(state, which);
}

// ---- paired runs ----------------------------------------------------------------------
// On a shared machine the load changes from one second to the next, so the ratios the
// goals are stated in are measured pairwise: every iteration times the bare decodes and
// the window's step one after the other, in process CPU time and in wall time.

struct Clocks {
    double cpuMs = 0;
    double wallMs = 0;
    Clocks& operator+=(const Clocks& other) {
        cpuMs += other.cpuMs;
        wallMs += other.wallMs;
        return *this;
    }
};

Clocks clocksNow() {
    timespec cpu{};
    timespec wall{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    clock_gettime(CLOCK_MONOTONIC, &wall);
    return {cpu.tv_sec * 1e3 + cpu.tv_nsec / 1e6, wall.tv_sec * 1e3 + wall.tv_nsec / 1e6};
}

template <typename Step> Clocks timed(Step step) {
    const Clocks start = clocksNow();
    step();
    const Clocks end = clocksNow();
    return {end.cpuMs - start.cpuMs, end.wallMs - start.wallMs};
}

void BM_Paired(benchmark::State& state) {
    const bool rotate = state.range(0) == 1;
    const int which = int(state.range(1));
    const QString path = pagePath(which);
    const bool jpeg = qstrcmp(kPages[which].format, "jpg") == 0;
#ifdef VETRA_BENCH_GIFLIB
    const bool gif = qstrcmp(kPages[which].format, "gif") == 0;
#else
    const bool gif = false;
#endif
    PagePrompts prompts;
    prompts.path = path;
    frmScanner window(prompts);
    window.Command12_Click();
    Clocks qt;
    Clocks turbo;
    Clocks giflib;
    Clocks road;
    for (auto _ : state) {
        qt += timed([&] { bareQtDecode(path); });
        if (jpeg)
            turbo += timed([&] { bareTurboDecode(path); });
        if (gif)
            giflib += timed([&] { bareGifDecode(path); });
        road += timed([&] { rotate ? window.Command5_Click() : window.Command12_Click(); });
    }
    const double n = double(state.iterations());
    state.counters["road_cpu_ms"] = road.cpuMs / n;
    state.counters["road_wall_ms"] = road.wallMs / n;
    state.counters["qt_cpu_ms"] = qt.cpuMs / n;
    state.counters["per_qt_cpu"] = road.cpuMs / qt.cpuMs;
    state.counters["per_qt_wall"] = road.wallMs / qt.wallMs;
    if (jpeg) {
        state.counters["turbo_cpu_ms"] = turbo.cpuMs / n;
        state.counters["per_turbo_cpu"] = road.cpuMs / turbo.cpuMs;
        state.counters["per_turbo_wall"] = road.wallMs / turbo.wallMs;
    }
    if (gif) {
        state.counters["giflib_cpu_ms"] = giflib.cpuMs / n;
        state.counters["per_giflib_cpu"] = road.cpuMs / giflib.cpuMs;
        state.counters["per_giflib_wall"] = road.wallMs / giflib.wallMs;
    }
    state.SetLabel(
        QByteArray(rotate ? "rotate+refresh " : "load+refresh ").append(kPages[which].name).constData());
}

// ---- the window's road ----------------------------------------------------------------

void BM_LoadAndRefresh(benchmark::State& state) {
    const int which = int(state.range(0));
    Window w(which);
    for (auto _ : state) {
        w.load();
        if (w.window.document().page().isNull())
            state.SkipWithError("load failed");
    }
    setLabel(state, which);
}

void BM_RotateAndRefresh(benchmark::State& state) {
    const int which = int(state.range(0));
    Window w(which);
    w.load();
    for (auto _ : state)
        w.window.Command5_Click();
    setLabel(state, which);
}

void BM_CropLargestFrame(benchmark::State& state) {
    const int which = int(state.range(0));
    Window w(which);
    w.load();
    w.window.document().setFrame(OutputKind::Foto, {1, 1, 415, 498}); // the photo frame at its largest
    for (auto _ : state)
        w.window.Command3_Click();
    setLabel(state, which);
}

// RefreshDisplay alone, the page already loaded.
void BM_StepRefresh(benchmark::State& state) {
    const int which = int(state.range(0));
    Window w(which);
    w.load();
    for (auto _ : state)
        w.window.RefreshDisplay();
    setLabel(state, which);
}

// The steps inside the road, on the decoded page.
void BM_StepFit(benchmark::State& state) {
    const int which = int(state.range(0));
    ImageFile page;
    page.loadFile(pagePath(which));
    ImageProcess process;
    ImageFilter& scale = process.addFilter(FilterKind::Scale);
    scale.maximumWidth = 425;
    scale.maximumHeight = 585;
    for (auto _ : state)
        benchmark::DoNotOptimize(process.apply(page));
    setLabel(state, which);
}

void BM_StepTurn(benchmark::State& state) {
    const int which = int(state.range(0));
    ImageFile page;
    page.loadFile(pagePath(which));
    ImageProcess process;
    process.addFilter(FilterKind::RotateFlip).rotationAngle = 90;
    for (auto _ : state)
        benchmark::DoNotOptimize(process.apply(page));
    setLabel(state, which);
}

void BM_StepLoad(benchmark::State& state) {
    const int which = int(state.range(0));
    for (auto _ : state) {
        ImageFile page;
        benchmark::DoNotOptimize(page.loadFile(pagePath(which)));
    }
    setLabel(state, which);
}

// ---- peak memory ----------------------------------------------------------------------

// VmRSS and VmHWM of this process, in kB.
QPair<qint64, qint64> residentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    qint64 rss = 0;
    qint64 hwm = 0;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            const QList<QByteArray> parts = line.simplified().split(' ');
            if (parts.size() >= 2 && parts[0] == "VmRSS:")
                rss = parts[1].toLongLong();
            if (parts.size() >= 2 && parts[0] == "VmHWM:")
                hwm = parts[1].toLongLong();
        }
    }
    return {rss, hwm};
}

// In the child: how far the resident high-water mark rises over the resident size before
// the load, for the window ("window") or a bare QImageReader::read ("bare"). Prints kB.
int peakChild(const QString& mode, const QString& path) {
    PagePrompts prompts;
    prompts.path = path;
    frmScanner window(prompts);
    const qint64 before = residentKb().first;
    if (mode == QLatin1String("window")) {
        window.Command12_Click();
        if (window.document().page().isNull())
            return 1;
    } else {
        QImage image;
        if (!QImageReader(path).read(&image))
            return 1;
    }
    std::printf("%lld %lld\n", residentKb().second - before, residentKb().second);
    return 0;
}

void BM_PeakMemory(benchmark::State& state) {
    const int which = int(state.range(0));
    const auto measure = [which](const char* mode) -> QPair<double, double> {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--peak"), QString::fromLatin1(mode), pagePath(which)});
        child.waitForFinished(-1);
        const QList<QByteArray> kb = child.readAllStandardOutput().simplified().split(' ');
        if (child.exitCode() != 0 || kb.size() != 2)
            return {-1, -1};
        return {kb[0].toDouble() * 1024 / 1e6, kb[1].toDouble() * 1024 / 1e6};
    };
    QPair<double, double> window;
    QPair<double, double> bare;
    for (auto _ : state) {
        window = measure("window");
        bare = measure("bare");
    }
    const QSize size = a4Size(kPages[which].dpi);
    const double copyMb = double(size.width()) * size.height() * 4 / 1e6;
    state.counters["copy_MB"] = copyMb;
    state.counters["window_rise_MB"] = window.first;
    state.counters["window_hwm_MB"] = window.second;
    state.counters["bare_rise_MB"] = bare.first;
    state.counters["rise_per_copy"] = window.first / copyMb;
    setLabel(state, which);
}

void allPages(benchmark::internal::Benchmark* b) {
    for (int which = 0; which < 6; ++which)
        b->Arg(which);
    b->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
}

void jpegPages(benchmark::internal::Benchmark* b) {
    b->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
}

BENCHMARK(BM_BareDecode)->Apply(allPages);
BENCHMARK(BM_BareTurbo)->Apply(jpegPages);
BENCHMARK(BM_LoadAndRefresh)->Apply(allPages);
BENCHMARK(BM_RotateAndRefresh)->Apply(allPages);
BENCHMARK(BM_CropLargestFrame)->Apply(allPages);
BENCHMARK(BM_StepLoad)->Apply(allPages);
BENCHMARK(BM_StepRefresh)->Apply(allPages);
BENCHMARK(BM_StepFit)->Apply(allPages);
BENCHMARK(BM_StepTurn)->Apply(allPages);
BENCHMARK(BM_Paired)->ArgsProduct({{0, 1}, {0, 1, 2, 3, 4, 5}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeakMemory)->Arg(1)->Arg(3)->Arg(5)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QImageReader::setAllocationLimit(ImageFile::kAllocationLimitMb);
    if (argc == 4 && qstrcmp(argv[1], "--peak") == 0)
        return peakChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    makePages();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
