#pragma once

#include <QString>
#include <sys/types.h>

// What the update trusts on disk, and how it leaves the updater.
//
// The installation makes the data folder root:vetra, mode 2775 (the operators' group may
// write, nobody else), and installazione.ini root:vetra, mode 0640. The program reads
// the account only from a file that others cannot read or write, and starts nothing from
// a folder, or an updater, that others can write to.
namespace UpdateFiles {

// Empty when the installation file may be read; otherwise the operator's message, which
// names the file and what to run to fix it. A missing file is not this rule's concern.
QString installationFileProblem(const QString& path);

// True when path is a folder that exists and is not writable by others.
bool isSafeFolder(const QString& path);

// True when path is a regular file (not a link) that is not writable by others, in a
// folder for which isSafeFolder() holds.
bool isSafeProgram(const QString& path);

// Gives the verified updater, open as fd, its final mode: read, write and run for its
// owner, read and run for the group (the operators), nothing for others. Set on the
// descriptor, never by path: a link put in the file's place meanwhile changes nothing.
// False when it cannot.
bool makeRunnable(int fd);

// The mode the updater has from its download until it is verified: never runnable,
// never writable by others.
bool makeInert(int fd);

// The updater held open from its check to its start. The data folder lets every operator
// rename files in it, so a path checked is not the file started a moment later; the
// descriptor is. What is started is the very file that was read for the check, through
// /proc/self/fd (the process started inherits the descriptor).
class HeldFile {
  public:
    // Opens path for reading without following a link there.
    explicit HeldFile(const QString& path);
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    // A regular file of this user that no one else (group included) can write: nobody
    // but its owner can change its bytes between the check and the start.
    bool isOursAlone() const;
    // The path to start the held file by, valid while this object lives; the descriptor
    // is then left open across the start so that the program started (or the
    // interpreter of a script) can read it.
    QString startPath();

  private:
    int m_fd = -1;
};

} // namespace UpdateFiles
