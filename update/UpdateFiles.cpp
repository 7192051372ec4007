#include "update/UpdateFiles.h"

#include "update/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <sys/stat.h>

namespace {

bool lstatOf(const QString& path, struct stat& info) {
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

bool setMode(const QString& path, mode_t mode) {
    if (::chmod(QFile::encodeName(path).constData(), mode) == 0)
        return true;
    qCDebug(lcUpdate) << "chmod" << path << "failed, errno" << errno;
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

bool UpdateFiles::makeRunnable(const QString& path) {
    return setMode(path, S_IRWXU | S_IRGRP | S_IXGRP);
}

bool UpdateFiles::makeInert(const QString& path) {
    return setMode(path, S_IRUSR | S_IWUSR | S_IRGRP);
}
