#pragma once

#include <QString>
#include <memory>

class QLockFile;

// The single-instance rule: a lock file held for the life of the process. A lock left
// behind by a crashed process is taken over (the owner's process id is no longer alive).
class SingleInstance {
  public:
    // lockPath empty: defaultLockPath().
    explicit SingleInstance(const QString& lockPath = {});
    ~SingleInstance();

    // True when this process now holds the lock (or already held it).
    bool acquire();
    QString lockPath() const { return m_path; }

    // "vetra-<machine>.lock" in the user's cache folder, "Orvanta/Vetra": the same for every
    // instance of the user on this machine, whatever its environment says of a runtime folder.
    static QString defaultLockPath();

  private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
    bool m_held = false;
};
