#include "locate/LabelReader.h"

#include "locate/Logging.h"

#include <opencv2/imgproc.hpp>
#include <tesseract/baseapi.h>

#include <dlfcn.h>

#include <algorithm>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Locate {

namespace {

// A printed capital is read best at about this many pixels high; the working copy has 7-9.
constexpr double kReadLetterPx = 30;
constexpr double kMaxEnlarge = 5;
// Paper left round the line once enlarged, in pixels.
constexpr int kBorderPx = 12;

// Tesseract's network runs its loops on OpenMP's threads, which spin while they wait for
// work: a short line took ten times as long that way (77 ms against 7.6 ms on one thread,
// measured at a load under 1), and far longer beside the locator's own work on two busy
// cores. The program reads one short line at a time: OpenMP's parallel regions started from
// the reading thread run on it (the setting is the calling thread's own).
void readOnOneThread() {
    void* openMp = ::dlopen("libgomp.so.1", RTLD_LAZY | RTLD_NOLOAD);
    if (!openMp)
        return; // Tesseract built without OpenMP
    using SetLevels = void (*)(int);
    if (auto set = reinterpret_cast<SetLevels>(::dlsym(openMp, "omp_set_max_active_levels")))
        set(0);
    ::dlclose(openMp);
}

std::unique_ptr<tesseract::TessBaseAPI> loadModel() {
    auto api = std::make_unique<tesseract::TessBaseAPI>();
    // Tesseract's own messages (a missing model, the resolution it guessed) go nowhere: the
    // batch command's output is its callers'. Word lists are not loaded: a label is read
    // letter by letter and matched loosely, and the lists take longer to load than the model.
    const std::vector<std::string> names{"debug_file", "load_system_dawg", "load_freq_dawg"};
    const std::vector<std::string> values{"/dev/null", "0", "0"};
    if (api->Init(nullptr, "ita", tesseract::OEM_LSTM_ONLY, nullptr, 0, &names, &values, false) != 0) {
        qCDebug(lcLocate) << "no OCR model for Italian: labels not read, the signature found by layout alone";
        return nullptr;
    }
    api->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
    return api;
}

struct Reader {
    std::once_flag started;
    // Waited for at exit, if still loading, rather than torn down under the loading thread.
    std::shared_future<std::shared_ptr<tesseract::TessBaseAPI>> model;
    std::mutex reading; // one line at a time: the model's state is not shared between threads

    void start() {
        std::call_once(started, [this] {
            model = std::async(std::launch::async, [] {
                        return std::shared_ptr<tesseract::TessBaseAPI>(loadModel());
                    }).share();
        });
    }
    tesseract::TessBaseAPI* api() {
        start();
        return model.get().get();
    }
};

Reader& reader() {
    static Reader r;
    return r;
}

} // namespace

void preloadLabelReader() {
    reader().start();
}

std::optional<QString> readLabelLine(const cv::Mat& grey) {
    Reader& r = reader();
    tesseract::TessBaseAPI* api = r.api();
    if (!api || grey.empty() || grey.type() != CV_8UC1)
        return std::nullopt;
    const double enlarge = std::clamp(kReadLetterPx / std::max(1, grey.rows - 2), 2.0, kMaxEnlarge);
    cv::Mat large;
    cv::resize(grey, large, cv::Size(), enlarge, enlarge, cv::INTER_CUBIC);
    double paper = 255;
    cv::minMaxLoc(large, nullptr, &paper);
    cv::copyMakeBorder(large, large, kBorderPx, kBorderPx, kBorderPx, kBorderPx, cv::BORDER_CONSTANT,
                       cv::Scalar(paper));
    const std::lock_guard lock(r.reading);
    thread_local bool oneThread = false;
    if (!oneThread) {
        readOnOneThread();
        oneThread = true;
    }
    api->SetImage(large.data, large.cols, large.rows, 1, int(large.step));
    // The letters' size as read at 300 dpi, which Tesseract would otherwise guess (and say so).
    api->SetSourceResolution(300);
    const std::unique_ptr<char[]> text(api->GetUTF8Text());
    api->Clear();
    return QString::fromUtf8(text ? text.get() : "").trimmed();
}

} // namespace Locate
