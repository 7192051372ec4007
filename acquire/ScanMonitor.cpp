#include "acquire/ScanMonitor.h"

#include <atomic>

namespace ScanMonitor {

namespace {

std::atomic<ScanFault>& lastFault() {
    static std::atomic<ScanFault> value{ScanFault::None};
    return value;
}

std::atomic<bool>& lastStalled() {
    static std::atomic<bool> value{false};
    return value;
}

} // namespace

SanePageReader::Progress& progress() {
    static SanePageReader::Progress value;
    return value;
}

void reset() {
    progress().bytesRead = 0;
    progress().bytesExpected = -1;
    lastFault() = ScanFault::None;
    lastStalled() = false;
}

void setStalled() {
    lastStalled() = true;
}

bool stalled() {
    return lastStalled();
}

QString stalledText() {
    return QStringLiteral("Lo scanner non ha risposto. Se la prossima scansione non parte, chiudere e "
                          "riaprire il programma.");
}

void setFault(ScanFault fault) {
    lastFault() = fault;
}

ScanFault fault() {
    return lastFault();
}

ScanFault faultOf(SANE_Status status) {
    switch (status) {
    case SANE_STATUS_JAMMED:
        return ScanFault::Jammed;
    case SANE_STATUS_NO_DOCS:
        return ScanFault::NoPaper;
    case SANE_STATUS_COVER_OPEN:
        return ScanFault::CoverOpen;
    case SANE_STATUS_DEVICE_BUSY:
        return ScanFault::Busy;
    case SANE_STATUS_ACCESS_DENIED:
        return ScanFault::Denied;
    default:
        return ScanFault::None;
    }
}

QString text(ScanFault fault) {
    switch (fault) {
    case ScanFault::None:
        break;
    case ScanFault::Jammed:
        return QStringLiteral("Carta inceppata nello scanner.");
    case ScanFault::NoPaper:
        return QStringLiteral("Nessun foglio nell'alimentatore.");
    case ScanFault::CoverOpen:
        return QStringLiteral("Coperchio dello scanner aperto.");
    case ScanFault::Busy:
        return QStringLiteral("Scanner occupato da un altro programma.");
    case ScanFault::Denied:
        return QStringLiteral("Accesso allo scanner negato.");
    case ScanFault::Unplugged:
        return QStringLiteral("Scanner scollegato.");
    case ScanFault::ReadError:
        return QStringLiteral("Errore di comunicazione con lo scanner durante la lettura della pagina.");
    case ScanFault::NoScanner:
        return QStringLiteral("Nessuno scanner trovato: collegarlo e accenderlo, poi riprovare.");
    }
    return {};
}

bool isPaperFault(ScanFault fault) {
    return fault == ScanFault::Jammed || fault == ScanFault::NoPaper || fault == ScanFault::CoverOpen;
}

bool settingsMayHelp(ScanFault fault) {
    return fault == ScanFault::None;
}

} // namespace ScanMonitor
