#include "core/CheckedFile.h"

#include "core/SystemReason.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <QMutex>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

// Links followed in a path's last component before giving up, as the system does.
constexpr int kMaxLinks = 40;

unsigned modeOf(QFileDevice::Permissions p) {
    unsigned mode = 0;
    const auto bit = [&](QFileDevice::Permission permission, unsigned value) {
        if (p & permission)
            mode |= value;
    };
    bit(QFileDevice::ReadOwner, S_IRUSR);
    bit(QFileDevice::WriteOwner, S_IWUSR);
    bit(QFileDevice::ExeOwner, S_IXUSR);
    bit(QFileDevice::ReadGroup, S_IRGRP);
    bit(QFileDevice::WriteGroup, S_IWGRP);
    bit(QFileDevice::ExeGroup, S_IXGRP);
    bit(QFileDevice::ReadOther, S_IROTH);
    bit(QFileDevice::WriteOther, S_IWOTH);
    bit(QFileDevice::ExeOther, S_IXOTH);
    return mode;
}

int closeChecked(int fd) {
    // Linux releases the descriptor even when close() reports an error: never retry it.
    return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
}

// The temporary file's name: ".vetra-", up to 13 base-36 digits of a 64-bit number, ".tmp".
bool isTemporaryName(const char* name) {
    static constexpr char kPrefix[] = ".vetra-";
    static constexpr char kSuffix[] = ".tmp";
    const size_t length = std::strlen(name);
    const size_t prefix = sizeof kPrefix - 1;
    const size_t suffix = sizeof kSuffix - 1;
    if (length <= prefix + suffix || length > prefix + 13 + suffix ||
        std::strncmp(name, kPrefix, prefix) != 0 || std::strcmp(name + length - suffix, kSuffix) != 0)
        return false;
    for (size_t i = prefix; i < length - suffix; ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')))
            return false;
    }
    return true;
}

// Removes the temporary files a save that crashed left in the folder (each may be a whole
// identity photograph): ours by name, this user's, regular files, untouched for
// CheckedFile::kStaleTemporarySeconds. A save in progress, here or in another instance,
// writes its file within seconds. Once per folder and process: a folder run writes many
// files into one folder. A folder is told by its device, inode and birth time: a folder
// removed and made again often gets the same inode, and its leftovers are swept all the same.
void removeStaleTemporaries(int folderFd) {
    struct statx folder {};
    if (::statx(folderFd, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &folder) != 0)
        return;
    const quint64 born = (folder.stx_mask & STATX_BTIME)
                             ? quint64(folder.stx_btime.tv_sec) * 1000000000u + folder.stx_btime.tv_nsec
                             : 0;
    static QMutex mutex;
    static std::set<std::tuple<quint64, quint64, quint64, quint64>> done;
    {
        const QMutexLocker lock(&mutex);
        if (!done.emplace(folder.stx_dev_major, folder.stx_dev_minor, folder.stx_ino, born).second)
            return;
    }
    const int listing = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0)
        return;
    DIR* dir = ::fdopendir(listing);
    if (!dir) {
        ::close(listing);
        return;
    }
    const time_t now = ::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTemporaryName(entry->d_name))
            continue;
        struct stat st {};
        if (::fstatat(folderFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid() || now - st.st_mtime < CheckedFile::kStaleTemporarySeconds)
            continue;
        ::unlinkat(folderFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace

CheckedFile::CheckedFile(const QString& fileName) : m_requested(fileName) {}

CheckedFile::CheckedFile(const OpenFolder& folder, const QString& name)
    : m_folderFd(folder.fd()), m_folderPath(folder.path()), m_name(QFile::encodeName(name)) {}

CheckedFile::~CheckedFile() {
    cancel();
}

void CheckedFile::setPermissions(QFileDevice::Permissions permissions) {
    m_mode = modeOf(permissions);
}

QString CheckedFile::errorString() const {
    return m_error == 0 ? QString() : SystemReason::text(m_error);
}

QString CheckedFile::fileName() const {
    if (m_name.isEmpty())
        return m_requested;
    return QDir(m_folderPath).filePath(QFile::decodeName(m_name));
}

bool CheckedFile::fail(int error) {
    m_error = error == 0 ? EIO : error;
    cancel();
    return false;
}

// The path form: the folder of the file that will be replaced, opened once, and the name
// inside it.
bool CheckedFile::resolveTarget() {
    QString path = m_requested;
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return fail(path.isEmpty() ? ENOENT : EISDIR);
    for (int links = 0;; ++links) {
        const QByteArray native = QFile::encodeName(path);
        struct stat st {};
        if (::lstat(native.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        if (links == kMaxLinks)
            return fail(ELOOP);
        const QString target = QFileInfo(path).symLinkTarget();
        if (target.isEmpty())
            return fail(ENOENT);
        path = target;
    }
    const QFileInfo info(path);
    m_folderPath = info.path();
    m_name = QFile::encodeName(info.fileName());
    int error = 0;
    m_ownFolder = OpenFolder::open(m_folderPath, &error);
    if (!m_ownFolder.isOpen())
        return fail(error);
    m_folderFd = m_ownFolder.fd();
    return true;
}

bool CheckedFile::open() {
    cancel();
    m_error = 0;
    m_written = 0;
    m_flushed = -1;
    if (m_folderFd < 0 && m_requested.isEmpty())
        return fail(EBADF);
    if (!m_requested.isEmpty() && !resolveTarget())
        return false;
    if (m_name.isEmpty() || m_name.contains('/') || m_name == "." || m_name == "..")
        return fail(EINVAL);

    // What stands at the name now decides the permission bits (and a folder is refused
    // before anything is made).
    unsigned mode = 0666; // less the umask, by open()
    bool keepMode = false;
    struct stat old {};
    if (::fstatat(m_folderFd, m_name.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(old.st_mode))
            return fail(EISDIR);
        if (S_ISREG(old.st_mode)) {
            mode = old.st_mode & 07777;
            keepMode = true;
        }
    }
    if (m_mode) {
        mode = *m_mode;
        keepMode = true;
    }

    removeStaleTemporaries(m_folderFd);

    // Hidden, random and short (a long target name must not make it too long).
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name =
            ".vetra-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".tmp";
        const int fd = ::openat(m_folderFd, name.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, keepMode ? 0600 : mode);
        if (fd >= 0) {
            m_fd = fd;
            m_tempName = name;
            break;
        }
        if (errno != EEXIST && errno != EINTR)
            return fail(errno);
    }
    if (m_fd < 0)
        return fail(EEXIST);
    // Set before any byte is written, so a replaced file never shows wider bits meanwhile.
    if (keepMode && ::fchmod(m_fd, mode) != 0)
        return fail(errno);
    return true;
}

bool CheckedFile::write(const char* data, qint64 size) {
    if (m_fd < 0)
        return fail(m_error != 0 ? m_error : EBADF);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        if (n == 0) // nothing taken and no reason given: the disk is full
            return fail(ENOSPC);
        data += n;
        size -= n;
        m_written += n;
    }
    return true;
}

bool CheckedFile::flush() {
    if (m_fd < 0)
        return fail(m_error != 0 ? m_error : EBADF);
    // Writes the system still holds in memory can fail later (a full disk on some file
    // systems, a network folder): flush them now, while the old file still stands.
    if (::fdatasync(m_fd) != 0 && errno != EINVAL && errno != EROFS)
        return fail(errno);
    struct stat ours {};
    if (::fstat(m_fd, &ours) != 0)
        return fail(errno);
    if (qint64(ours.st_size) != m_written)
        return fail(EIO);
    m_flushed = m_written;
    m_device = ours.st_dev;
    m_inode = ours.st_ino;
    return true;
}

bool CheckedFile::commit() {
    if (m_fd < 0)
        return fail(m_error != 0 ? m_error : EBADF);
    if (m_flushed != m_written && !flush())
        return false;
    const int closed = closeChecked(m_fd);
    m_fd = -1;
    if (closed != 0)
        return fail(closed);
    if (::renameat(m_folderFd, m_tempName.constData(), m_folderFd, m_name.constData()) != 0)
        return fail(errno);
    m_tempName.clear();
    // The name must now hold what was written, not a file someone put there meanwhile.
    struct stat now {};
    if (::fstatat(m_folderFd, m_name.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        return fail(errno);
    if (now.st_ino != m_inode || now.st_dev != m_device || qint64(now.st_size) != m_written)
        return fail(EIO);
    return true;
}

void CheckedFile::cancel() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempName.isEmpty()) {
        ::unlinkat(m_folderFd, m_tempName.constData(), 0);
        m_tempName.clear();
    }
}

bool CheckedFile::writeAll(const QString& fileName, const QByteArray& bytes, QString* reason) {
    CheckedFile file(fileName);
    const bool ok = file.open() && file.write(bytes) && file.commit();
    if (!ok && reason)
        *reason = file.errorString();
    return ok;
}

bool CheckedFile::writeAll(const OpenFolder& folder, const QString& name, const QByteArray& bytes,
                           QString* reason) {
    CheckedFile file(folder, name);
    const bool ok = file.open() && file.write(bytes) && file.commit();
    if (!ok && reason)
        *reason = file.errorString();
    return ok;
}
