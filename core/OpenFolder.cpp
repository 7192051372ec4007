#include "core/OpenFolder.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

OpenFolder::~OpenFolder() {
    if (m_fd >= 0)
        ::close(m_fd);
}

OpenFolder::OpenFolder(OpenFolder&& other) noexcept : m_fd(other.m_fd), m_path(std::move(other.m_path)) {
    other.m_fd = -1;
}

OpenFolder& OpenFolder::operator=(OpenFolder&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.m_fd;
        m_path = std::move(other.m_path);
        other.m_fd = -1;
    }
    return *this;
}

OpenFolder OpenFolder::open(const QString& path, int* error) {
    OpenFolder folder;
    folder.m_path = path;
    const QByteArray native = QFile::encodeName(path.isEmpty() ? QStringLiteral(".") : path);
    do {
        folder.m_fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (folder.m_fd < 0 && errno == EINTR);
    if (error)
        *error = folder.m_fd < 0 ? errno : 0;
    return folder;
}
