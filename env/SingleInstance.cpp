#include "env/SingleInstance.h"

#include "env/Settings.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QSysInfo>

SingleInstance::SingleInstance(const QString& lockPath)
    : m_path(lockPath.isEmpty() ? defaultLockPath() : lockPath), m_lock(std::make_unique<QLockFile>(m_path)) {
    // Only a dead owner makes a lock stale; a long-running instance keeps it.
    m_lock->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire() {
    if (!m_held) {
        QDir().mkpath(QFileInfo(m_path).absolutePath()); // the cache folder may not exist yet
        m_held = m_lock->tryLock(0);
    }
    return m_held;
}

QString SingleInstance::defaultLockPath() {
    // Not the runtime folder: an instance started without XDG_RUNTIME_DIR (from a terminal
    // after su, from a remote shell) would look for the lock elsewhere and start a second
    // instance beside the first. The cache folder does not follow that variable. The
    // machine's name keeps instances on two machines that share a home folder apart; a
    // lock written by another machine could never be found stale.
    const QString folder = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
                               .filePath(QLatin1String(Settings::kOrganisation) + QLatin1Char('/') +
                                         QLatin1String(Settings::kApplication));
    QString host = QSysInfo::machineHostName();
    host.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QDir(folder).filePath(QStringLiteral("vetra-%1.lock").arg(host));
}
