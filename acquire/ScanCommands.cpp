#include "acquire/ScanCommands.h"

#include "acquire/mdlTwain.h"
#include "env/Prompts.h"
#include "env/modulo1.h"

ScanWindow::~ScanWindow() = default;

ScanCommands::ScanCommands(ScanWindow& window, Prompts& prompts) : m_window(window), m_prompts(prompts) {}

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
    m_window.showWaitPanel(true);
    const QString path = modulo1::MakeTempFileName(QStringLiteral("sca"));
    m_window.setImagePath(path);

    m_scanResult =
        mdlTwain::ScanToFile(kResolution, kPixelType, kFrameLeft, kFrameTop, kFrameRight, kFrameBottom, path);
    if (m_scanResult == 1) {
        m_scanResult = mdlTwain::ScanToFileWithDialog(path);
        if (m_scanResult == 1) {
            m_prompts.message(QStringLiteral("Non è stata scansionata nessuna immagine."));
            m_window.setScanEnabled(true);
            m_window.showWaitPanel(false);
            return;
        }
    }
    m_window.showWaitPanel(false);
    m_window.showScannedImage(path);
    m_window.setScanEnabled(true);
}

void ScanCommands::SelectScan_Click() {
    // The module keeps one session; a selection cannot start inside a running scan.
    if (mdlTwain::IsBusy())
        return;
    m_window.setWindowEnabled(false);
    m_scanResult = mdlTwain::SelectSource();
    m_window.setWindowEnabled(true);
}
