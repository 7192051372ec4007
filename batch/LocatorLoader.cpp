#include "batch/LocatorLoader.h"

#include "batch/Logging.h"
#include "core/SystemReason.h"
#include "locate/LocatorModule.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <dlfcn.h>
#include <sys/stat.h>
#include <system_error>

namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VETRA_SANITIZED_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(VETRA_SANITIZED_ALLOCATOR)
constexpr int kOwnLibrariesFirst = 0;
#else
constexpr int kOwnLibrariesFirst = RTLD_DEEPBIND;
#endif

} // namespace

LocatorLoader::LocatorLoader(const QString& programDir)
    : m_path(QDir::cleanPath(programDir + QLatin1Char('/') + QLatin1String(LocatorModule::kFromProgram) +
                             QLatin1Char('/') + QLatin1String(LocatorModule::kFileName))) {}

LocatorLoader::~LocatorLoader() {
    // The module stays loaded to the end of the process (its static objects may be in use
    // by libraries it loaded); only a pending load is waited for.
    if (m_pending.valid())
        m_pending.wait();
}

void LocatorLoader::start() {
    if (m_started)
        return;
    m_started = true;
    try {
        m_pending = std::async(std::launch::async, &LocatorLoader::load, m_path);
    } catch (const std::system_error& e) {
        // No thread to be had: the module is loaded when it is first needed.
        qCDebug(lcBatch) << "no thread to load the locator on:" << e.what();
        m_pending = std::async(std::launch::deferred, &LocatorLoader::load, m_path);
    }
}

bool LocatorLoader::ready(QString* error) {
    start();
    if (!m_waited) {
        m_loaded = m_pending.get();
        m_waited = true;
    }
    if (m_loaded.locate)
        return true;
    *error = m_loaded.error;
    return false;
}

PageFindings LocatorLoader::locate(const QImage& picture, QSize pageSize, Locator::Wanted wanted) const {
    return m_loaded.locate ? m_loaded.locate(picture, pageSize, wanted) : PageFindings();
}

LocatorLoader::Loaded LocatorLoader::load(const QString& path) {
    Loaded loaded;
    const QString shown = QDir::toNativeSeparators(path);
    const auto fail = [&](const QString& reason) {
        loaded.error = QStringLiteral("impossibile usare il modulo che trova fotografia e firma (%1): %2. "
                                      "Reinstallare il programma.")
                           .arg(shown, reason);
        return loaded;
    };
    const QByteArray file = QFile::encodeName(path);
    struct stat st {};
    if (::stat(file.constData(), &st) != 0)
        return fail(SystemReason::current());
    if (!S_ISREG(st.st_mode))
        return fail(QStringLiteral("non è un file"));
    // Lazy: most of what OpenCV and dlib export is never called here. Its own libraries
    // first: the tens of thousands of symbols OpenCV binds as it loads are then found there
    // without a search through the forty-odd libraries of this program before them. Not
    // under the address sanitizer, whose allocator the module must share.
    void* handle = ::dlopen(file.constData(), RTLD_LAZY | RTLD_LOCAL | kOwnLibrariesFirst);
    if (!handle) {
        const char* why = ::dlerror();
        qCDebug(lcBatch) << "dlopen:" << (why ? why : "?");
        return fail(QStringLiteral("il file è danneggiato o non è un modulo di questa versione"));
    }
    auto entry = reinterpret_cast<LocatorModule::EntryFunction>(::dlsym(handle, LocatorModule::kEntryName));
    const LocatorModule::Entry* table = entry ? entry() : nullptr;
    if (!table || table->version != LocatorModule::kVersion || !table->locate || !table->preload) {
        const char* why = ::dlerror();
        qCDebug(lcBatch) << "dlsym:" << (why ? why : "wrong version");
        ::dlclose(handle);
        return fail(QStringLiteral("il modulo non è di questa versione del programma"));
    }
    // The face detector is built here too, while the page is still being read.
    table->preload();
    loaded.locate = table->locate;
    return loaded;
}
