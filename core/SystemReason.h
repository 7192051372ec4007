#pragma once

#include <QString>

// Italian words for why the system refused a file operation, whatever the machine's
// locale: the operator reads "Motivo: disco pieno", never "No space left on device".
namespace SystemReason {

// The reason for an errno value: the usual ones (no permission, disk full, missing
// folder, read-only file system, file too large, ...) in words of our own, any other
// as "errore di sistema N".
QString text(int errnoValue);

// The reason for the calling thread's current errno.
QString current();

} // namespace SystemReason
