#include "locate/LabelReader.h"

#include "locate/Logging.h"

#include <opencv2/imgproc.hpp>
#include <tesseract/capi.h>
#include <tesseract/version.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <future>
#include <iterator>
#include <memory>
#include <mutex>
#include <type_traits>

namespace Locate {

namespace {

// A printed capital is read best at about this many pixels high; the working copy has 7-9.
constexpr double kReadLetterPx = 30;
constexpr double kMaxEnlarge = 5;
// Paper left round the line once enlarged, in pixels.
constexpr int kBorderPx = 12;

#define VETRA_STRINGIFY2(x) #x
#define VETRA_STRINGIFY(x) VETRA_STRINGIFY2(x)
// The library of the headers built against, by its soname.
constexpr char kTesseractLibrary[] = "libtesseract.so." VETRA_STRINGIFY(TESSERACT_MAJOR_VERSION);
#undef VETRA_STRINGIFY
#undef VETRA_STRINGIFY2

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

// Tesseract's C entry points, bound when the first label is to be read: its library brings
// some forty others (leptonica and its image formats, curl and its TLS, libarchive), whose
// loading took 10 ms of processor time on every --auto, photo kinds included, that never
// read a label. Missing, it is read as a missing model: the layout alone decides.
struct Library {
    decltype(&TessBaseAPICreate) create = nullptr;
    decltype(&TessBaseAPIDelete) destroy = nullptr;
    decltype(&TessBaseAPIInit4) init = nullptr;
    decltype(&TessBaseAPISetPageSegMode) setPageSegMode = nullptr;
    decltype(&TessBaseAPISetImage) setImage = nullptr;
    decltype(&TessBaseAPISetSourceResolution) setSourceResolution = nullptr;
    decltype(&TessBaseAPIGetUTF8Text) text = nullptr;
    decltype(&TessDeleteText) deleteText = nullptr;
    decltype(&TessBaseAPIClear) clear = nullptr;

    // Null when the library or one of its entries is missing (said in the debug log).
    static const Library* load() {
        // Bound now, never closed: its static objects live to the end of the process.
        void* handle = ::dlopen(kTesseractLibrary, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            qCDebug(lcLocate) << "no OCR library:" << (why ? why : kTesseractLibrary)
                              << "- labels not read, the signature found by layout alone";
            return nullptr;
        }
        static Library library;
        bool complete = true;
        const auto bind = [&](auto& entry, const char* name) {
            entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(::dlsym(handle, name));
            if (!entry) {
                qCDebug(lcLocate) << "no" << name << "in" << kTesseractLibrary;
                complete = false;
            }
        };
        bind(library.create, "TessBaseAPICreate");
        bind(library.destroy, "TessBaseAPIDelete");
        bind(library.init, "TessBaseAPIInit4");
        bind(library.setPageSegMode, "TessBaseAPISetPageSegMode");
        bind(library.setImage, "TessBaseAPISetImage");
        bind(library.setSourceResolution, "TessBaseAPISetSourceResolution");
        bind(library.text, "TessBaseAPIGetUTF8Text");
        bind(library.deleteText, "TessDeleteText");
        bind(library.clear, "TessBaseAPIClear");
        return complete ? &library : nullptr;
    }
};

// The model, ready to read lines; null members when it could not be loaded. Never deleted:
// the library's own globals go at exit, and the model with them.
struct Model {
    const Library* library = nullptr;
    TessBaseAPI* api = nullptr;
};

Model loadModel(const Library* library) {
    TessBaseAPI* api = library->create();
    if (!api)
        return {};
    // Tesseract's own messages (a missing model, the resolution it guessed) go nowhere: the
    // batch command's output is its callers'. Word lists are not loaded: a label is read
    // letter by letter and matched loosely, and the lists take longer to load than the model.
    const char* names[] = {"debug_file", "load_system_dawg", "load_freq_dawg"};
    const char* values[] = {"/dev/null", "0", "0"};
    if (library->init(api, nullptr, "ita", tesseract::OEM_LSTM_ONLY, nullptr, 0, const_cast<char**>(names),
                      const_cast<char**>(values), std::size(names), false) != 0) {
        qCDebug(lcLocate) << "no OCR model for Italian: labels not read, the signature found by layout alone";
        library->destroy(api);
        return {};
    }
    library->setPageSegMode(api, tesseract::PSM_SINGLE_LINE);
    return {library, api};
}

struct Reader {
    std::once_flag started;
    std::shared_future<Model> model;
    std::mutex reading; // one line at a time: the model's state is not shared between threads

    void start();
    const Model& loaded() {
        start();
        return model.get();
    }
};

// Never destroyed (see Model); the pointer keeps it reachable for the leak checker.
Reader& reader() {
    static Reader* const r = new Reader;
    return *r;
}

// A process that ends while the model is still loading (the window closed right after it
// started) waits for it: the library's globals, which the loading thread is using, go at exit.
void waitForModel() {
    reader().model.wait();
}

void Reader::start() {
    std::call_once(started, [this] {
        // The library is loaded on this thread, and the wait registered after it: handlers
        // registered later run earlier at exit, so the wait comes before the library's
        // globals go.
        const Library* library = Library::load();
        if (!library) {
            std::promise<Model> none;
            none.set_value({});
            model = none.get_future().share();
            return;
        }
        model = std::async(std::launch::async, &loadModel, library).share();
        std::atexit(&waitForModel);
    });
}

} // namespace

void preloadLabelReader() {
    reader().start();
}

std::optional<QString> readLabelLine(const cv::Mat& grey) {
    Reader& r = reader();
    const Model& model = r.loaded();
    TessBaseAPI* api = model.api;
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
    const Library& tess = *model.library;
    tess.setImage(api, large.data, large.cols, large.rows, 1, int(large.step));
    // The letters' size as read at 300 dpi, which Tesseract would otherwise guess (and say so).
    tess.setSourceResolution(api, 300);
    const std::unique_ptr<char, decltype(tess.deleteText)> text(tess.text(api), tess.deleteText);
    tess.clear(api);
    return QString::fromUtf8(text ? text.get() : "").trimmed();
}

} // namespace Locate
