#pragma once

#include "core/OpenFolder.h"

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <optional>

#include <sys/types.h>

// Writes a file whole or not at all, and never reports a write that did not reach the disk.
//
// The bytes go to a hidden temporary file beside the target. commit() then flushes that
// file to the disk, checks that the disk holds every byte, and only then renames it over
// the target, and checks once more that the name now holds the file just written. Any
// failure, at any step, leaves the file that stood at the target (or no file) as it was
// and removes the temporary file; error() and errorString() then say why, the latter in
// Italian (core/SystemReason.h), whatever the machine's locale.
//
// A file that is replaced keeps its permission bits; a new file gets the usual ones
// (0666 less the umask) unless setPermissions() says otherwise.
//
//   CheckedFile file(path);
//   if (!file.open() || !file.write(bytes) || !file.commit())
//       show(file.errorString());
//
// Not thread-safe; one object per file. Destroying an object that was not committed
// cancels the write. The first save into a folder also removes the temporary files that
// saves which crashed left there (kStaleTemporarySeconds).
class CheckedFile {
  public:
    // Replaces fileName. When its last component is a symbolic link, the file the link
    // points to is replaced (as editors do) and the link stays.
    explicit CheckedFile(const QString& fileName);
    // Replaces name inside an open folder; name is one component, and a link standing at
    // name is itself replaced, never followed.
    CheckedFile(const OpenFolder& folder, const QString& name);
    ~CheckedFile();
    CheckedFile(const CheckedFile&) = delete;
    CheckedFile& operator=(const CheckedFile&) = delete;

    // Permission bits of the file once committed, instead of the old file's or the defaults.
    // Call before commit().
    void setPermissions(QFileDevice::Permissions permissions);

    // Creates the temporary file. False when the folder cannot take it, or when the target
    // is a folder.
    bool open();
    // Appends bytes; false (and the write cancelled) when not all of them could be written.
    bool write(const char* data, qint64 size);
    bool write(const QByteArray& bytes) { return write(bytes.constData(), bytes.size()); }
    // Flushes what was written to the disk and checks its size there, ahead of commit():
    // the target is not touched yet, and the write may still be cancelled. A caller that has
    // to wait before it knows whether to commit spends the flush's time meanwhile.
    bool flush();
    // Flushes (unless flush() already did, with nothing written since), checks the size on
    // disk, renames over the target, checks the target.
    bool commit();
    // Drops the temporary file; the target is untouched. Harmless when nothing is open.
    void cancel();

    qint64 written() const { return m_written; }
    // errno of the failure (0 while none); errorString() the Italian words for it.
    int error() const { return m_error; }
    QString errorString() const;
    // Where the bytes end up (the link's target for a path whose last component is a link).
    QString fileName() const;

    // The whole sequence for bytes already in memory. On failure *reason, when given, holds
    // errorString().
    static bool writeAll(const QString& fileName, const QByteArray& bytes, QString* reason = nullptr);
    static bool writeAll(const OpenFolder& folder, const QString& name, const QByteArray& bytes,
                         QString* reason = nullptr);

    // A temporary file of ours (".vetra-*.tmp") left this long by a save that never ended
    // (a crash, a power cut) is removed by the next save into its folder.
    static constexpr long kStaleTemporarySeconds = 3600;

  private:
    bool fail(int error);
    bool resolveTarget();

    QString m_requested;    // the path as given (path form only)
    OpenFolder m_ownFolder; // the target's folder, path form
    int m_folderFd = -1;    // the folder the target lives in (ours or the caller's)
    QString m_folderPath;   // for fileName()
    QByteArray m_name;      // the target's name inside the folder
    QByteArray m_tempName;  // the temporary file's name, while it exists
    int m_fd = -1;          // the temporary file
    qint64 m_written = 0;
    qint64 m_flushed = -1; // m_written when flush() last succeeded
    dev_t m_device = 0;    // the temporary file's, as flush() found it
    ino_t m_inode = 0;
    int m_error = 0;
    std::optional<unsigned> m_mode; // explicit permission bits
};
