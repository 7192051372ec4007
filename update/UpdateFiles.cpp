#include "update/UpdateFiles.h"

#include "update/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool lstatOf(const QString& path, struct stat& info) {
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

bool setMode(int fd, mode_t mode) {
    if (fd >= 0 && ::fchmod(fd, mode) == 0)
        return true;
    qCDebug(lcUpdate) << "fchmod of the updater failed, errno" << errno;
    return false;
}

} // namespace

QString UpdateFiles::installationFileProblem(const QString& path) {
    struct stat info {};
    if (!lstatOf(path, info))
        return {};
    const QString shown = QDir::toNativeSeparators(path);
    if (S_ISLNK(info.st_mode) || !S_ISREG(info.st_mode))
        return QStringLiteral("Il file %1 non è un file normale: l'aggiornamento non lo usa.\n"
                              "Reinstallare Vetra o rivolgersi all'amministratore del sistema.")
            .arg(shown);
    if ((info.st_mode & (S_IROTH | S_IWOTH)) != 0)
        return QStringLiteral("Il file %1 è leggibile o modificabile da tutti gli utenti del computer e "
                              "contiene la password dell'aggiornamento: l'aggiornamento non lo usa.\n"
                              "L'amministratore del sistema deve eseguire: chmod 640 %1")
            .arg(shown);
    return {};
}

bool UpdateFiles::isSafeFolder(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    return (info.st_mode & S_IWOTH) == 0;
}

bool UpdateFiles::isSafeProgram(const QString& path) {
    struct stat info {};
    if (!lstatOf(path, info) || !S_ISREG(info.st_mode) || (info.st_mode & S_IWOTH) != 0)
        return false;
    const QString folder = QFileInfo(path).absolutePath();
    return isSafeFolder(folder);
}

bool UpdateFiles::makeRunnable(int fd) {
    return setMode(fd, S_IRWXU | S_IRGRP | S_IXGRP);
}

bool UpdateFiles::makeInert(int fd) {
    return setMode(fd, S_IRUSR | S_IWUSR | S_IRGRP);
}

UpdateFiles::HeldFile::HeldFile(const QString& path)
    : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK)) {
    if (m_fd < 0)
        qCDebug(lcUpdate) << "cannot open" << path << "errno" << errno;
}

UpdateFiles::HeldFile::~HeldFile() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool UpdateFiles::HeldFile::isOursAlone() const {
    struct stat info {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0)
        return false;
    return S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

QString UpdateFiles::HeldFile::startPath() {
    if (m_fd < 0)
        return {};
    // A script's interpreter opens its file by this path after the exec: the descriptor
    // must outlive it.
    const int flags = ::fcntl(m_fd, F_GETFD);
    if (flags < 0 || ::fcntl(m_fd, F_SETFD, flags & ~FD_CLOEXEC) != 0)
        return {};
    return QStringLiteral("/proc/self/fd/%1").arg(m_fd);
}
