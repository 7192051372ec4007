#pragma once

#include <QString>

class Prompts;

// Facts about the machine that the rest of the program asks for: the data folder,
// the network connection, file existence and fresh scan files.
//
// The data folder is the machine-wide application state folder (/var/lib) followed by
// "Orvanta/Vetra/", always ending with a separator. Tests point the roots elsewhere.
namespace modulo1 {

// Name of the installation file in DataFolder(): an INI file written by the installation.
//   [Installazione]
//   Codice=<installation code>
// The update account is kept in the same file (see update/).
inline constexpr char kInstallationFileName[] = "installazione.ini";

// The data folder, empty until ResolveDataFolder() has run.
const QString& DataFolder();

// Fills DataFolder(). When the machine-wide folder cannot be found, shows the
// two-line message once and falls back to the suffix alone ("/Orvanta/Vetra/").
void ResolveDataFolder(Prompts& prompts);

// True when some network interface other than loopback is up and running. It sends
// nothing and proves nothing about the vendor's server.
bool IsInternetConnected();

// True for an existing file; false for a folder or a missing path.
bool FileExists(const QString& path);

// The user's private folder for scanned pages: "vetra" under $XDG_RUNTIME_DIR, or
// "scansioni" under the user's cache folder when there is no runtime folder, or it is not
// the user's own or others may write to it. Created on
// first use with mode 0700; a folder that belongs to someone else, is a symbolic link or
// cannot be made private is refused. Empty text when no such folder can be had.
QString ScanFolder();

// Creates a new empty file in ScanFolder() named from the first three characters of prefix,
// up to four hexadecimal digits and ".tmp", and returns its canonical path; empty text when
// no file could be made. The file is created exclusively, with mode 0600, so that only the
// user can read the page written into it. The caller owns the file.
QString MakeScanFileName(const QString& prefix);

// Opens a scan file (one made by MakeScanFileName, or any page the scanner writes) for
// writing, emptied, made with mode 0600 when missing. Opened relative to its folder's
// descriptor and never through a link at path; a file that is not a regular file of this
// user is refused. -1 when it cannot be had; the caller closes it.
int OpenScanFile(const QString& path);

// Deletes a file made by MakeScanFileName; nothing for an empty path or a file elsewhere.
void RemoveScanFile(const QString& path);

// Deletes the scan files left in ScanFolder() by an earlier run that did not end normally.
// Call at start-up, once this instance is the only one. Returns how many were deleted.
int RemoveScanLeftovers();

// Canonical form of an existing path; empty text when it does not exist.
QString ToLongPathName(const QString& path);

// The code that identifies this installation, read from the installation file;
// empty when the file or the key is missing.
QString InstallationCode();

// Path of the updater an update downloads: DataFolder(), then "ag" + InstallationCode()
// with blanks at either end removed, then ".EXE".
QString UpdaterFile();

// Full path of the installation file.
QString InstallationFile();

// --- for tests and embedding ---------------------------------------------------------
// Root that stands for the machine-wide application data folder ("/var/lib" unless set).
void setCommonAppDataRoot(const QString& root);
// Folder used by ScanFolder() instead of the user's own (for tests); it is still made private.
void setScanFolder(const QString& folder);
// Forgets DataFolder(), as before start-up.
void resetDataFolder();

} // namespace modulo1
