#pragma once

#include <QString>

#include <memory>

class QSettings;

// The program's own settings (the remembered scanner and folders, automatic framing): one
// INI file per user, "Orvanta/Vetra.conf" in the user's configuration folder, where Qt puts
// an organisation's application settings on Linux. Tests name a file of their own.
namespace Settings {

inline constexpr char kOrganisation[] = "Orvanta";
inline constexpr char kApplication[] = "Vetra";

// The user's settings file, whether or not it exists yet.
QString userFile();

// The settings kept in `file` (the user's when empty). Null when something other than a
// regular file sits at that path: reading a FIFO blocks until someone writes to it and a
// device may never end, so the caller goes on with its defaults and writes nothing.
std::unique_ptr<QSettings> open(const QString& file = {});

// What to tell the operator about a settings file open() refuses; empty when there is
// none to tell (a regular file, or none yet).
QString refusal(const QString& file = {});

} // namespace Settings
