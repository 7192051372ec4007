#pragma once

#include <QString>

#include <cstdint>
#include <memory>

class Prompts;
class QTimer;

// What the scan commands need from the workspace window. The window implements it; the
// commands hold the order of the steps.
class ScanWindow {
  public:
    virtual ~ScanWindow();

    // Enables or disables the scan button (`ScanIm`).
    virtual void setScanEnabled(bool enabled) = 0;
    // Enables or disables the whole window while the scanner-selection dialog is open.
    virtual void setWindowEnabled(bool enabled) = 0;
    // Shows or hides the wait panel `attesa` ("Attendere la fine della Scansione") with its
    // progress bar and its "Annulla" button.
    virtual void showWaitPanel(bool visible) = 0;
    // How far the page has come: `done` bytes of `total`, or of an unknown size when `total`
    // is negative.
    virtual void showScanProgress(long long done, long long total);
    // Sets `ImagePath`, the path of the current image file.
    virtual void setImagePath(const QString& path) = 0;
    // Makes the BMP file at `path` the working image, as after loading a file: select
    // output kind 0, show the three kind buttons (0, 1, 2 in this order), show `pict2` and
    // `pict4`, load the file into a new `SourceImage`, run `RefreshDisplay`, hide
    // `frameopt`, enable `Frame1` and show `Command3`. A step that fails is skipped.
    virtual void showScannedImage(const QString& path) = 0;
};

// The two scanner commands of the workspace: "ScanIm" acquires one page into a new
// private "sca" file (modulo1::MakeScanFileName) and makes it the working image;
// "SelectScan" opens the dialog for choosing the scanner. Only one scanner operation runs
// at a time: a click that arrives while another one waits for the scanner is ignored.
//
// The scan file of the working image belongs to these commands: it is deleted when another
// scan replaces it, or when the window says it stopped being the working image.
class ScanCommands {
  public:
    ScanCommands(ScanWindow& window, Prompts& prompts);
    ~ScanCommands();
    ScanCommands(const ScanCommands&) = delete;
    ScanCommands& operator=(const ScanCommands&) = delete;

    // The settings of the first attempt, without the scanner's dialog.
    static constexpr float kResolution = 300.0f;  // dots per inch, both axes
    static constexpr std::int32_t kPixelType = 2; // RGB
    static constexpr float kFrameLeft = 0.0f;     // inches from the bed's top-left corner
    static constexpr float kFrameTop = 0.0f;
    static constexpr float kFrameRight = 8.0f;
    static constexpr float kFrameBottom = 8.0f;

    void ScanIm_Click();
    void SelectScan_Click();

    // Starts looking for scanners in the background (the workspace does it when it opens).
    void findScanners();

    // True while ScanIm_Click waits for the scanner.
    bool isScanning() const { return m_scanning; }
    // The "Annulla" of the wait panel: stops the scan at once; no file is left and no
    // message follows.
    void cancelScan();
    // The working image is no longer the last scan (another file was loaded, NUOVA, the
    // window closed): its file is deleted.
    void discardScanFile();

    // Asked when the first attempt fails because of the paper; OK scans again.
    static QString retryText(const QString& reason);

    // The answer of the last scanner operation: 0 success, 1 failure.
    std::int32_t ScanResult() const { return m_scanResult; }

  private:
    std::int32_t firstAttempt(const QString& path);

    ScanWindow& m_window;
    Prompts& m_prompts;
    std::int32_t m_scanResult = 0;
    bool m_scanning = false;
    bool m_cancelRequested = false;
    QString m_scanFile; // the scan file that is the working image
    std::unique_ptr<QTimer> m_progress;
};
