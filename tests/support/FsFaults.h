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
// - A really full disk: SmallDisk mounts a small tmpfs over a folder, in a mount namespace
//   of the calling thread's own (needs root); writes past its size fail with ENOSPC.
//   AsUser makes the calling thread meet the file system as an ordinary user meanwhile.

#include <QDir>
#include <QFile>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <linux/capability.h>
#include <sched.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
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

// A tmpfs of `bytes` over folder while the object lives. The mount is made in a private
// mount namespace of the calling thread (made on first use), so nothing outside this
// thread and the processes it starts sees it, and a crash leaves nothing mounted.
class SmallDisk {
  public:
    SmallDisk(const QString& folder, qint64 bytes) : m_folder(QFile::encodeName(folder)) {
        if (::geteuid() != 0) {
            m_reason = QStringLiteral("mounting a small tmpfs needs root (CAP_SYS_ADMIN)");
            return;
        }
        static const bool unshared =
            ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        if (!unshared) {
            m_reason =
                QStringLiteral("no private mount namespace: %1").arg(QString::fromLocal8Bit(strerror(errno)));
            return;
        }
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0777";
        if (::mount("tmpfs", m_folder.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) != 0) {
            m_reason =
                QStringLiteral("cannot mount a tmpfs: %1").arg(QString::fromLocal8Bit(strerror(errno)));
            return;
        }
        m_mounted = true;
    }
    ~SmallDisk() {
        if (m_mounted)
            ::umount2(m_folder.constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool active() const { return m_mounted; }
    // Why the disk could not be made (for QSKIP).
    QString reason() const { return m_reason; }

    // Fills the disk with a file named filler until at most `free` bytes are left.
    bool fillLeaving(qint64 free) const {
        QFile filler(QDir(QFile::decodeName(m_folder)).filePath(QStringLiteral("filler")));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Append))
            return false;
        const QByteArray block(1024, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();
        // tmpfs gives whole pages: give back pages until `free` bytes (rounded down) are left.
        const qint64 page = 4096;
        const qint64 size = filler.size() - filler.size() % page;
        return filler.resize(std::max<qint64>(0, size - (free / page) * page));
    }

  private:
    QByteArray m_folder;
    bool m_mounted = false;
    QString m_reason;
};

// The calling thread's file-system identity becomes an ordinary user's (nobody) while the
// object lives: files are made and checked as that user, without root's privileges. The
// thread's other identities stay; only a root process can do this.
class AsUser {
  public:
    AsUser() {
        if (::geteuid() != 0)
            return; // already an ordinary user
        ::setfsgid(65534);
        ::setfsuid(65534);
        m_changed = int(::setfsuid(uid_t(-1))) == 65534;
    }
    ~AsUser() {
        if (m_changed) {
            ::setfsuid(0);
            ::setfsgid(0);
        }
    }
    AsUser(const AsUser&) = delete;
    AsUser& operator=(const AsUser&) = delete;

  private:
    bool m_changed = false;
};

} // namespace fsfaults
