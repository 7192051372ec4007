#include "env/modulo1.h"

#include "env/Prompts.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace modulo1 {

namespace {

QString& dataFolderValue() {
    static QString value;
    return value;
}

QString& commonRoot() {
    static QString value = QStringLiteral("/var/lib");
    return value;
}

QString& scanFolderOverride() {
    static QString value;
    return value;
}

// A scan file's name: the three-letter prefix, one to four upper-case hex digits, ".tmp".
bool isScanFileName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^sca[0-9A-F]{1,4}\\.tmp$"));
    return pattern.match(name).hasMatch();
}

// Makes `folder` (and its missing parents) and checks that it is ours alone: a real folder,
// not a link, owned by this user, mode 0700.
bool makePrivateFolder(const QString& folder) {
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return false;
    const QByteArray path = QFile::encodeName(folder);
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
        return false;
    if ((info.st_mode & 07777) != 0700 && ::chmod(path.constData(), 0700) != 0)
        return false;
    return true;
}

// The folder of `path`, opened without following a link and checked to be ours alone
// (owner this user, mode 0700); -1 otherwise. Scan files are made and opened relative to
// it, so nothing renamed in along the path between two calls can take the page.
int openPrivateFolderOf(const QString& path) {
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid() || (info.st_mode & 07777) != 0700) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Opens `path` in its private folder with flags (never following a link); -1 when it cannot.
int openInPrivateFolder(const QString& path, int flags) {
    const int folder = openPrivateFolderOf(path);
    if (folder < 0)
        return -1;
    const int fd = ::openat(folder, QFile::encodeName(QFileInfo(path).fileName()).constData(),
                            flags | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    const int saved = errno;
    ::close(folder);
    errno = saved;
    return fd;
}

// Creates `path` empty, exclusively, readable and writable by the user only.
bool createPrivateFile(const QString& path, bool* taken) {
    const int fd = openInPrivateFolder(path, O_WRONLY | O_CREAT | O_EXCL);
    *taken = fd < 0 && errno == EEXIST;
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// $XDG_RUNTIME_DIR when it may hold the user's private files: a real folder of this user
// that nobody else can write to (as Qt asks of it). Someone who may rename entries in it
// could put a folder of links where the scan folder was.
QString privateRuntimeFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return {};
    struct stat info {};
    if (::lstat(QFile::encodeName(runtime).constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return {};
    return runtime;
}

const QString kSuffix = QStringLiteral("/Orvanta/Vetra/");

// Removes blanks (spaces only) at either end, as the updater's name rule says.
QString trimBlanks(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

} // namespace

const QString& DataFolder() {
    return dataFolderValue();
}

void ResolveDataFolder(Prompts& prompts) {
    const QFileInfo root(commonRoot());
    QString base;
    if (root.isDir()) {
        base = QDir::cleanPath(root.absoluteFilePath());
        if (base == QLatin1String("/"))
            base.clear();
    } else {
        prompts.message(QStringLiteral("Impossibile trovare il percorso della cartella Program.\n"
                                       "Se il problema persiste contattare l'assistenza di Orvanta."));
    }
    dataFolderValue() = base + kSuffix;
}

bool IsInternetConnected() {
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : interfaces) {
        const auto flags = iface.flags();
        if (flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        if (flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning))
            return true;
    }
    return false;
}

bool FileExists(const QString& path) {
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

// Where the scan folder is, whether or not it exists yet.
QString scanFolderPath() {
    if (!scanFolderOverride().isEmpty())
        return scanFolderOverride();
    const QString runtime = privateRuntimeFolder();
    if (!runtime.isEmpty())
        return QDir(runtime).filePath(QStringLiteral("vetra"));
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
        .filePath(QStringLiteral("Orvanta/Vetra/scansioni"));
}

QString ScanFolder() {
    const QString folder = scanFolderPath();
    if (!makePrivateFolder(folder))
        return {};
    return ToLongPathName(folder);
}

QString MakeScanFileName(const QString& prefix) {
    const QString folder = ScanFolder();
    if (folder.isEmpty())
        return {};
    const QString stem = prefix.left(3);
    // Start from a time-derived number and walk on, so that successive calls rarely collide.
    const quint32 start = static_cast<quint32>(QDateTime::currentMSecsSinceEpoch() & 0xFFFF);
    for (quint32 i = 0; i < 0xFFFF; ++i) {
        const quint32 unique = ((start + i) % 0xFFFF) + 1; // 1..FFFF, never 0
        const QString path =
            QDir(folder).filePath(stem + QString::number(unique, 16).toUpper() + QStringLiteral(".tmp"));
        bool taken = false;
        if (createPrivateFile(path, &taken))
            return ToLongPathName(path);
        if (!taken)
            return {}; // the folder refuses new files
    }
    return {};
}

int OpenScanFile(const QString& path) {
    if (path.isEmpty())
        return -1;
    const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return -1;
    const int fd = ::openat(folder, QFile::encodeName(QFileInfo(path).fileName()).constData(),
                            O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, S_IRUSR | S_IWUSR);
    ::close(folder);
    if (fd < 0)
        return -1;
    struct stat file {};
    if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) || file.st_uid != ::geteuid() ||
        ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void RemoveScanFile(const QString& path) {
    if (path.isEmpty())
        return;
    // Only a scan file of the scan folder, which this does not create.
    const QFileInfo info(path);
    const QString folder = ToLongPathName(scanFolderPath());
    if (folder.isEmpty() || ToLongPathName(info.absolutePath()) != folder || !isScanFileName(info.fileName()))
        return;
    QFile::remove(path);
}

int RemoveScanLeftovers() {
    const QString folder = ScanFolder();
    if (folder.isEmpty())
        return 0;
    int removed = 0;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::System | QDir::Hidden);
    for (const QFileInfo& entry : entries) {
        if (!entry.isSymLink() && isScanFileName(entry.fileName()) && QFile::remove(entry.filePath()))
            ++removed;
    }
    return removed;
}

QString ToLongPathName(const QString& path) {
    if (path.isEmpty())
        return {};
    return QFileInfo(path).canonicalFilePath();
}

QString InstallationFile() {
    return DataFolder() + QLatin1String(kInstallationFileName);
}

QString InstallationCode() {
    const QString file = InstallationFile();
    if (!FileExists(file))
        return {};
    QSettings settings(file, QSettings::IniFormat);
    return settings.value(QStringLiteral("Installazione/Codice")).toString();
}

QString UpdaterFile() {
    return DataFolder() + trimBlanks(QStringLiteral("ag") + InstallationCode()) + QStringLiteral(".EXE");
}

void setCommonAppDataRoot(const QString& root) {
    commonRoot() = root.isEmpty() ? QStringLiteral("/var/lib") : root;
}

void setScanFolder(const QString& folder) {
    scanFolderOverride() = folder;
}

void resetDataFolder() {
    dataFolderValue().clear();
}

} // namespace modulo1
