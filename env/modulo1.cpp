#include "env/modulo1.h"

#include "env/Prompts.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkInterface>
#include <QSettings>

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

QString& tempFolderOverride() {
    static QString value;
    return value;
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

QString MakeTempFileName(const QString& prefix) {
    const QString folder = tempFolderOverride().isEmpty() ? QDir::tempPath() : tempFolderOverride();
    if (!QFileInfo(folder).isDir())
        return {};
    const QString stem = prefix.left(3);
    // Start from a time-derived number and walk on, so that successive calls rarely collide.
    const quint32 start = static_cast<quint32>(QDateTime::currentMSecsSinceEpoch() & 0xFFFF);
    for (quint32 i = 0; i < 0xFFFF; ++i) {
        const quint32 unique = ((start + i) % 0xFFFF) + 1; // 1..FFFF, never 0
        const QString name = stem + QString::number(unique, 16).toUpper() + QStringLiteral(".tmp");
        QFile file(QDir(folder).filePath(name));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            file.close();
            return ToLongPathName(file.fileName());
        }
        if (file.exists())
            continue; // taken: try the next number
        return {};    // the folder refuses new files
    }
    return {};
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

void setTempFolder(const QString& folder) {
    tempFolderOverride() = folder;
}

void resetDataFolder() {
    dataFolderValue().clear();
}

} // namespace modulo1
