#include "acquire/ScanCommands.h"

#include "acquire/ScanMonitor.h"
#include "acquire/mdlTwain.h"
#include "env/Prompts.h"
#include "env/modulo1.h"

#include <QStringList>
#include <QTimer>

namespace {

const QString kNothingScanned = QStringLiteral("Non è stata scansionata nessuna immagine.");

} // namespace

ScanWindow::~ScanWindow() = default;

void ScanWindow::showScanProgress(long long, long long) {}

ScanCommands::ScanCommands(ScanWindow& window, Prompts& prompts) : m_window(window), m_prompts(prompts) {}

ScanCommands::~ScanCommands() {
    discardScanFile();
}

QString ScanCommands::retryText(const QString& reason) {
    return reason + QStringLiteral("\nRisolvere il problema e premere OK per ripetere la scansione.");
}

std::int32_t ScanCommands::firstAttempt(const QString& path) {
    ScanMonitor::reset();
    return mdlTwain::ScanToFile(kResolution, kPixelType, kFrameLeft, kFrameTop, kFrameRight, kFrameBottom,
                                path);
}

void ScanCommands::ScanIm_Click() {
    if (mdlTwain::IsBusy())
        return;
    m_window.setScanEnabled(false);
    if (m_prompts.message(
            QStringLiteral("Disporre il documento da scansionare sul ripiano dello scanner e premere OK."),
            Prompts::Buttons::OkCancel) != Prompts::Answer::Ok) {
        m_window.setScanEnabled(true);
        return;
    }
    m_scanning = true;
    m_cancelRequested = false;
    m_window.showWaitPanel(true);
    m_window.showScanProgress(0, -1);
    const QString path = modulo1::MakeScanFileName(QStringLiteral("sca"));
    m_window.setImagePath(path);

    // The page's progress, read from the reader's counters while the module's loop runs.
    m_progress = std::make_unique<QTimer>();
    m_progress->setInterval(100);
    QObject::connect(m_progress.get(), &QTimer::timeout, m_progress.get(), [this] {
        const auto& progress = ScanMonitor::progress();
        m_window.showScanProgress(progress.bytesRead, progress.bytesExpected);
    });
    m_progress->start();

    bool cancelled = false;
    m_scanResult = firstAttempt(path);
    cancelled = mdlTwain::LastScanCancelled() || m_cancelRequested;
    // A jam, an empty feeder or an open cover: the operator puts it right and scans again;
    // the scanner's dialog would not help. Neither helps a scanner that stopped answering.
    while (m_scanResult == 1 && !cancelled && !ScanMonitor::stalled() &&
           ScanMonitor::isPaperFault(ScanMonitor::fault())) {
        if (m_prompts.message(retryText(ScanMonitor::text(ScanMonitor::fault())),
                              Prompts::Buttons::OkCancel) != Prompts::Answer::Ok) {
            cancelled = true;
            break;
        }
        m_scanResult = firstAttempt(path);
        cancelled = mdlTwain::LastScanCancelled() || m_cancelRequested;
    }
    // The scanner's dialog only helps when the scanner refused the fixed settings.
    if (m_scanResult == 1 && !cancelled && !ScanMonitor::stalled() &&
        ScanMonitor::settingsMayHelp(ScanMonitor::fault())) {
        ScanMonitor::reset();
        m_scanResult = mdlTwain::ScanToFileWithDialog(path);
        cancelled = mdlTwain::LastScanCancelled() || m_cancelRequested;
    }
    m_progress.reset();
    m_scanning = false;
    const bool stalled = ScanMonitor::stalled();
    if (m_scanResult == 1) {
        // Nothing partial is kept: the page of a failed or cancelled scan is gone.
        modulo1::RemoveScanFile(path);
        if (!cancelled || stalled) {
            QStringList lines{kNothingScanned};
            if (const QString reason = ScanMonitor::text(ScanMonitor::fault()); !reason.isEmpty())
                lines << reason;
            if (stalled)
                lines << ScanMonitor::stalledText();
            m_prompts.message(lines.join(QLatin1Char('\n')));
        }
        m_window.setScanEnabled(true);
        m_window.showWaitPanel(false);
        return;
    }
    m_window.showWaitPanel(false);
    m_window.showScannedImage(path);
    if (m_scanFile != path)
        discardScanFile();
    m_scanFile = path;
    m_window.setScanEnabled(true);
    // The page is good; the scanner may not be for the next one.
    if (stalled)
        m_prompts.message(ScanMonitor::stalledText());
}

void ScanCommands::cancelScan() {
    if (!m_scanning)
        return;
    // Remembered too, for a request that arrives between two attempts.
    m_cancelRequested = true;
    mdlTwain::CancelScan();
}

void ScanCommands::discardScanFile() {
    modulo1::RemoveScanFile(m_scanFile);
    m_scanFile.clear();
}

void ScanCommands::findScanners() {
    mdlTwain::FindSources();
}

void ScanCommands::SelectScan_Click() {
    // The module keeps one session; a selection cannot start inside a running scan.
    if (mdlTwain::IsBusy())
        return;
    // The dialog lists the scanners found by a new search, and shows the last list meanwhile.
    mdlTwain::FindSources();
    m_window.setWindowEnabled(false);
    m_scanResult = mdlTwain::SelectSource();
    m_window.setWindowEnabled(true);
}
