#include "env/Settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace Settings {

namespace {

QString chosen(const QString& file) {
    return file.isEmpty() ? userFile() : file;
}

// True when opening `path` would read something other than a file's bytes. A link is
// judged by what it points to; a missing path is fine (the first write creates it).
bool refused(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && !info.isFile();
}

} // namespace

QString userFile() {
    // The same path QSettings(kOrganisation, kApplication) uses, without constructing one:
    // the constructor already reads the file.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QLatin1String(kOrganisation) + QLatin1Char('/') + QLatin1String(kApplication) +
                  QStringLiteral(".conf"));
}

std::unique_ptr<QSettings> open(const QString& file) {
    const QString path = chosen(file);
    if (refused(path))
        return nullptr;
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

QString refusal(const QString& file) {
    const QString path = chosen(file);
    if (!refused(path))
        return {};
    return QStringLiteral("Il file delle impostazioni %1 non è un file regolare e non viene letto.\n"
                          "Vetra usa le impostazioni predefinite.")
        .arg(QDir::toNativeSeparators(path));
}

} // namespace Settings
