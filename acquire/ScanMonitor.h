#pragma once

#include "acquire/SanePageReader.h"

#include <QString>

// Why a scan gave no page, when the scanner said why.
enum class ScanFault {
    None,
    Jammed,    // paper jam
    NoPaper,   // empty document feeder
    CoverOpen, // the lid or the feeder cover is open
    Busy,      // another program holds the scanner
    Denied,    // no permission to use the scanner
    Unplugged, // the scanner is gone
    ReadError, // the page stopped coming in, the scanner still there
    NoScanner, // no scanner connected at all
};

// What the running scan shows the operator: its progress and, when it fails, the reason.
// The source manager writes it (the progress from the thread that reads the page); the scan
// commands and the window read it on the user-interface thread.
namespace ScanMonitor {

SanePageReader::Progress& progress();
// Forgets the last operation's progress, fault and stall.
void reset();
void setFault(ScanFault fault);
ScanFault fault();
// The scanner's session did not end (or an earlier one has still not ended): whatever the
// operation's outcome, SANE may not work again in this run of the program.
void setStalled();
bool stalled();
// What the operator is told then.
QString stalledText();

// The fault a SANE status stands for; None for one that tells nothing about the scanner.
ScanFault faultOf(SANE_Status status);
// The operator's words for a fault ("Carta inceppata nello scanner."); empty for None.
QString text(ScanFault fault);
// Jam, empty feeder or open cover: the operator can put it right and scan again.
bool isPaperFault(ScanFault fault);
// Whether the scanner's settings dialog may help: only when nothing else explains the
// failure, since a refused setting is the one failure SANE gives no reason for.
bool settingsMayHelp(ScanFault fault);

} // namespace ScanMonitor
