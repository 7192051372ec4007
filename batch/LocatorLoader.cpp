#include "batch/LocatorLoader.h"

#include "batch/Logging.h"
#include "core/SystemReason.h"
#include "locate/LocatorModule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

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

bool LocatorLoader::locate(const QImage& picture, QSize pageSize, Locator::Wanted wanted,
                           PageFindings* findings, QString* error) const {
    if (!m_loaded.locate) {
        *error = failureText(m_path, QStringLiteral("il modulo non è stato caricato"));
        return false;
    }
    char why[LocatorModule::kMostReasonBytes] = {};
    if (m_loaded.locate(picture, pageSize, wanted, findings, why))
        return true;
    *error = failureText(m_path, QString::fromUtf8(why));
    return false;
}

bool LocatorLoader::measure(const QImage& crop, PhotoCheck::Measures* measures, QString* error) const {
    if (!m_loaded.measure) {
        *error = failureText(m_path, QStringLiteral("il modulo non è stato caricato"));
        return false;
    }
    char why[LocatorModule::kMostReasonBytes] = {};
    if (m_loaded.measure(crop, measures, why))
        return true;
    *error = failureText(m_path, QString::fromUtf8(why));
    return false;
}

QString LocatorLoader::failureText(const QString& path, const QString& reason) {
    return QStringLiteral("impossibile usare il modulo che trova fotografia e firma (%1): %2. "
                          "Reinstallare il programma.")
        .arg(QDir::toNativeSeparators(path), reason);
}

QString LocatorLoader::moduleProblem(const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    // Root or whoever owns the program may have put it there; nobody else may change it.
    struct stat self {};
    const uid_t programOwner = ::stat("/proc/self/exe", &self) == 0 ? self.st_uid : 0;
    const auto safelyOwned = [programOwner](const struct stat& st) {
        return (st.st_uid == 0 || st.st_uid == programOwner) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    };
    const QString folder = QFileInfo(path).absolutePath();
    struct stat folderInfo {};
    if (::stat(QFile::encodeName(folder).constData(), &folderInfo) == 0 && !safelyOwned(folderInfo))
        return QStringLiteral("%1: la cartella può essere modificata da altri utenti del computer")
            .arg(QDir::toNativeSeparators(folder));
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("%1: %2").arg(shown, SystemReason::current());
    QFile file;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return QStringLiteral("%1: non è un file").arg(shown);
    }
    if (!safelyOwned(info))
        return QStringLiteral("%1: il file può essere modificato da altri utenti del computer").arg(shown);
    // "<size> <blake2b-512>", written beside it by the build and by the installation after
    // stripping.
    QFile sumFile(path + QLatin1String(LocatorModule::kSumSuffix));
    QList<QByteArray> expected;
    if (sumFile.open(QIODevice::ReadOnly))
        expected = sumFile.read(256).trimmed().split(' ');
    if (expected.size() != 2)
        return QStringLiteral("%1%2: manca o non è leggibile")
            .arg(shown, QLatin1String(LocatorModule::kSumSuffix));
    if (QByteArray::number(qint64(info.st_size)) != expected.at(0))
        return QStringLiteral("%1: il file è incompleto o danneggiato (%2 byte invece di %3)")
            .arg(shown)
            .arg(qint64(info.st_size))
            .arg(QString::fromLatin1(expected.at(0)));
    // The check runs on every --auto: libsodium's BLAKE2b hashes the 8 MB module in 7.6 ms of
    // processor time, its SHA-256 in 21 (a small program hashing it both ways, three runs).
    // libsodium asks for sodium_init() before its first use (it picks the code for this
    // processor); it may be called from any thread, any number of times.
    if (sodium_init() < 0)
        return QStringLiteral("%1: impossibile verificare il file").arg(shown);
    crypto_generichash_state hash;
    crypto_generichash_init(&hash, nullptr, 0, crypto_generichash_BYTES_MAX);
    QByteArray chunk(1 << 16, Qt::Uninitialized);
    qint64 read = 0;
    while ((read = file.read(chunk.data(), chunk.size())) > 0)
        crypto_generichash_update(&hash, reinterpret_cast<const unsigned char*>(chunk.constData()),
                                  static_cast<unsigned long long>(read));
    QByteArray digest(crypto_generichash_BYTES_MAX, Qt::Uninitialized);
    crypto_generichash_final(&hash, reinterpret_cast<unsigned char*>(digest.data()), size_t(digest.size()));
    if (read < 0 || digest.toHex() != expected.at(1).toLower())
        return QStringLiteral("%1: il file è danneggiato").arg(shown);
    return {};
}

LocatorLoader::Loaded LocatorLoader::load(const QString& path) {
    Loaded loaded;
    const auto fail = [&](const QString& reason) {
        loaded.error = failureText(path, reason);
        return loaded;
    };
    // Both modules are checked before either is mapped: a file cut short on disk would be a
    // bus error at the first page that touches the missing part.
    const QString cascade =
        QFileInfo(path).absolutePath() + QLatin1Char('/') + QLatin1String(LocatorModule::kCascadeFileName);
    for (const QString& module : {path, cascade}) {
        const QString problem = moduleProblem(module);
        if (!problem.isEmpty()) {
            loaded.error = failureText(path, problem);
            return loaded;
        }
    }
    const QByteArray file = QFile::encodeName(path);
    // Every symbol bound now: one missing from a library it needs is a message here, not
    // the end of the process at its first call. Its own libraries first: the tens of
    // thousands of symbols OpenCV binds as it loads are then found there without a search
    // through the forty-odd libraries of this program before them. Not under the address
    // sanitizer, whose allocator the module must share.
    void* handle = ::dlopen(file.constData(), RTLD_NOW | RTLD_LOCAL | kOwnLibrariesFirst);
    if (!handle) {
        const char* why = ::dlerror();
        qCDebug(lcBatch) << "dlopen:" << (why ? why : "?");
        return fail(QStringLiteral("il file è danneggiato o non è un modulo di questa versione"));
    }
    auto entry = reinterpret_cast<LocatorModule::EntryFunction>(::dlsym(handle, LocatorModule::kEntryName));
    const LocatorModule::Entry* table = entry ? entry() : nullptr;
    if (!table || table->version != LocatorModule::kVersion || !table->locate || !table->preload ||
        !table->measure) {
        const char* why = ::dlerror();
        qCDebug(lcBatch) << "dlsym:" << (why ? why : "wrong version");
        ::dlclose(handle);
        return fail(QStringLiteral("il modulo non è di questa versione del programma"));
    }
    // The face detector is built here too, while the page is still being read.
    table->preload();
    loaded.locate = table->locate;
    loaded.measure = table->measure;
    return loaded;
}
