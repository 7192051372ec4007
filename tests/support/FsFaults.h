#pragma once

// File-system faults for tests, made in the test process itself.
//
// - A read-only folder: chmod is not enough when the tests run as root, who writes
//   anywhere through CAP_DAC_OVERRIDE. PermissionChecks lowers that capability (and
//   CAP_DAC_READ_SEARCH) in the calling thread's effective set while it lives, so the
//   thread meets the permission bits like anyone else; the permitted set keeps them,
//   so they come back at the end. Capabilities belong to each thread: only this one is
//   affected.
// - A full disk: DiskFull lowers RLIMIT_FSIZE (the soft limit only) and ignores SIGXFSZ,
//   so writes past the limit fail with EFBIG, as they would on a full disk.

#include <QDir>
#include <QFile>
#include <QString>
#include <csignal>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fsfaults {

class PermissionChecks {
  public:
    PermissionChecks() {
        if (::geteuid() != 0) {
            m_active = true; // an ordinary user meets the permission bits anyway
            return;
        }
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        if (::syscall(SYS_capget, &header, m_saved) != 0)
            return;
        __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
        lowered[0].effective &= ~((1U << CAP_DAC_OVERRIDE) | (1U << CAP_DAC_READ_SEARCH));
        m_lowered = ::syscall(SYS_capset, &header, lowered) == 0;
        m_active = m_lowered;
    }
    ~PermissionChecks() {
        if (m_lowered) {
            __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
            ::syscall(SYS_capset, &header, m_saved);
        }
    }
    PermissionChecks(const PermissionChecks&) = delete;
    PermissionChecks& operator=(const PermissionChecks&) = delete;

    // False when this thread still writes past the permission bits (the test then skips).
    bool active() const { return m_active; }

    // Whether a folder without write permission really refuses a new file now.
    static bool refuses(const QString& readOnlyFolder) {
        QFile probe(QDir(readOnlyFolder).filePath(QStringLiteral(".probe")));
        if (probe.open(QIODevice::WriteOnly)) {
            probe.close();
            probe.remove();
            return false;
        }
        return true;
    }

  private:
    __user_cap_data_struct m_saved[2] = {};
    bool m_lowered = false;
    bool m_active = false;
};

class DiskFull {
  public:
    // Files can grow to at most bytes while this lives.
    explicit DiskFull(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_saved;
        lowered.rlim_cur = bytes;
        m_active = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~DiskFull() {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    DiskFull(const DiskFull&) = delete;
    DiskFull& operator=(const DiskFull&) = delete;

    bool active() const { return m_active; }

  private:
    rlimit m_saved{};
    void (*m_oldHandler)(int) = SIG_DFL;
    bool m_active = false;
};

// Makes a folder read-only while it lives, and writable again afterwards (so that
// QTemporaryDir can clean it up).
class ReadOnlyFolder {
  public:
    explicit ReadOnlyFolder(const QString& path) : m_path(path), m_saved(QFile::permissions(path)) {
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                        QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                        QFileDevice::ExeOther);
    }
    ~ReadOnlyFolder() { QFile::setPermissions(m_path, m_saved); }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

  private:
    QString m_path;
    QFileDevice::Permissions m_saved;
};

} // namespace fsfaults
