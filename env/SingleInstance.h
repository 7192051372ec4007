#pragma once

#include <QString>
#include <memory>

class QLockFile;

// The single-instance rule: a lock file held for the life of the process. A lock left
// behind by a crashed process is taken over (the owner's process id is no longer alive).
class SingleInstance {
  public:
    // lockPath empty: the user's runtime folder (or the temporary folder), "vetra.lock".
    explicit SingleInstance(const QString& lockPath = {});
    ~SingleInstance();

    // True when this process now holds the lock (or already held it).
    bool acquire();
    QString lockPath() const { return m_path; }

    static QString defaultLockPath();

  private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
    bool m_held = false;
};
