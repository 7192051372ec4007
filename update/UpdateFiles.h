#pragma once

#include <QString>

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

// Gives the verified updater its final mode: read, write and run for its owner, read and
// run for the group (the operators), nothing for others. False when it cannot.
bool makeRunnable(const QString& path);

// The mode the updater has from its download until it is verified: never runnable,
// never writable by others.
bool makeInert(const QString& path);

} // namespace UpdateFiles
