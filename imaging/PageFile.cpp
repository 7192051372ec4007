#include "imaging/PageFile.h"

#include "core/SystemReason.h"
#include "imaging/Logging.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 kHugePage = qint64(2) << 20;

} // namespace

namespace PageLimits {

bool pageFits(qint64 width, qint64 height) {
    return width > 0 && height > 0 && width <= (1 << 20) && height <= (1 << 20) &&
           width * height * 4 <= kPageBytes;
}

} // namespace PageLimits

PageFormat pageFormatOf(const QByteArray& head) {
    if (head.startsWith("\xFF\xD8\xFF"))
        return PageFormat::Jpeg;
    if (head.startsWith("BM"))
        return PageFormat::Bmp;
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return PageFormat::Gif;
    if (head.startsWith("\x89PNG\r\n\x1A\n"))
        return PageFormat::Png;
    return PageFormat::Unknown;
}

QStringList pageSuffixes() {
    return {QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("jpe"), QStringLiteral("jfif"),
            QStringLiteral("bmp"), QStringLiteral("dib"),  QStringLiteral("gif"), QStringLiteral("png")};
}

PageFile::~PageFile() {
    if (m_fd >= 0)
        ::close(m_fd);
}

QString PageFile::changedReason() {
    return QStringLiteral("il file è cambiato durante la lettura.");
}

bool PageFile::open(const QString& path, QString* error) {
    const QByteArray name = QFile::encodeName(path);
    // O_NONBLOCK: opening a named pipe with no writer would otherwise wait for one.
    m_fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (m_fd < 0) {
        const int reason = errno;
        qCDebug(lcImaging) << "open" << path << std::strerror(reason);
        *error = QStringLiteral("impossibile aprire il file: %1.").arg(SystemReason::text(reason));
        return false;
    }
    struct stat info {};
    if (::fstat(m_fd, &info) != 0) {
        *error = QStringLiteral("impossibile leggere il file: %1.").arg(SystemReason::current());
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        *error = QStringLiteral("il percorso indica una cartella, non un'immagine.");
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        *error =
            QStringLiteral("non è un file di immagine ma un file speciale (pipe, dispositivo o socket).");
        return false;
    }
    // Reads from now on may block as on any regular file.
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
    m_size = info.st_size;
    if (m_size == 0) {
        *error = QStringLiteral("il file è vuoto.");
        return false;
    }
    m_head.resize(qMin(m_size, kHeadBytes));
    if (!readAt(0, m_head.data(), m_head.size())) {
        *error = changedReason();
        return false;
    }
    return true;
}

bool PageFile::readAt(qint64 offset, void* to, qint64 length) const {
    if (m_fd < 0 || offset < 0 || length < 0)
        return false;
    auto* out = static_cast<char*>(to);
    while (length > 0) {
        const ssize_t got = ::pread(m_fd, out, size_t(length), off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got < 0)
                qCDebug(lcImaging) << "pread" << std::strerror(errno);
            return false;
        }
        out += got;
        offset += got;
        length -= got;
    }
    return true;
}

bool PageFile::readAll(QByteArray* bytes, QString* error) const {
    if (m_size > PageLimits::kFileBytes) {
        *error = QStringLiteral("il file è troppo grande per una pagina (%1 MB, al massimo %2 MB).")
                     .arg((m_size + (1 << 20) - 1) >> 20)
                     .arg(PageLimits::kFileBytes >> 20);
        return false;
    }
    if (m_size == m_head.size()) {
        *bytes = m_head;
        return true;
    }
    if (m_size >= kHugePage) {
        // Room for one whole huge page inside the buffer wherever the allocator puts it:
        // the kernel then fills most of a large file's buffer a huge page at a time instead
        // of faulting in every small page as the file is copied in.
        bytes->reserve(m_size + kHugePage);
        bytes->resize(m_size);
        const auto start = reinterpret_cast<quintptr>(bytes->data());
        const quintptr first = (start + kHugePage - 1) & ~quintptr(kHugePage - 1);
        const quintptr end = (start + quintptr(bytes->capacity())) & ~quintptr(kHugePage - 1);
        if (end > first)
            ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE); // advice only
    } else {
        bytes->resize(m_size);
    }
    if (!readAt(0, bytes->data(), m_size)) {
        bytes->clear();
        *error = changedReason();
        return false;
    }
    return true;
}
