#include "env/SingleInstance.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

SingleInstance::SingleInstance(const QString& lockPath)
    : m_path(lockPath.isEmpty() ? defaultLockPath() : lockPath), m_lock(std::make_unique<QLockFile>(m_path)) {
    // Only a dead owner makes a lock stale; a long-running instance keeps it.
    m_lock->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire() {
    if (!m_held)
        m_held = m_lock->tryLock(0);
    return m_held;
}

QString SingleInstance::defaultLockPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("vetra.lock"));
}
