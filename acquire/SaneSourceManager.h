#pragma once

#include "acquire/SaneDevice.h"
#include "acquire/SaneDeviceInfo.h"
#include "acquire/SanePageReader.h"
#include "acquire/TwainShim.h"
#include "acquire/twain.h"

#include <QPointer>
#include <QString>

#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <vector>

class ScannerSettingsDialog;

// A TWAIN source manager and data source in one, on top of SANE. It answers the
// triplets the scanner module sends:
//  - the manager (DAT_PARENT) starts and ends a SANE session;
//  - MSG_USERSELECT lists the SANE devices in a dialog and remembers the choice as the
//    default source, across runs (QSettings), by a name that survives a replug;
//  - MSG_OPENDS opens the identity's device, or the default, or the first device;
//  - capabilities and the image layout map onto SANE options (inches to millimetres);
//    a value the device adjusted answers TWRC_CHECKSTATUS;
//  - MSG_ENABLEDS starts reading the page on a worker thread, after the settings dialog
//    when ShowUI is set; the source then posts MSG_XFERREADY (or MSG_CLOSEDSREQ when the
//    dialog is cancelled) to the parent window, and MSG_PROCESSEVENT recognises it;
//  - the native transfer hands over the page as a packed DIB in a memory handle.
//
// Everything except the page read runs on the user-interface thread.
class SaneSourceManager {
  public:
    SaneSourceManager();
    ~SaneSourceManager();
    SaneSourceManager(const SaneSourceManager&) = delete;
    SaneSourceManager& operator=(const SaneSourceManager&) = delete;

    // The program's manager, and its entry point in DSM_Entry form.
    static SaneSourceManager& instance();
    static TW_UINT16 DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                               TW_UINT16 MSG, TW_MEMREF pData);

    TW_UINT16 entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                    TW_MEMREF pData);

    // Where the default source is remembered: an INI file, or the user's settings when empty.
    void setSettingsFile(const QString& path);

    // SANE name of the device the open source reads, empty when none is open.
    QByteArray openDevice() const { return m_device.name(); }

    // The message a source posts to the application's window; wParam is MSG_XFERREADY
    // or MSG_CLOSEDSREQ.
    static constexpr std::uint32_t kSourceMessage = twainshim::WM_APP + 0x54;

  private:
    struct Job {
        std::thread thread;
        std::atomic<bool> cancel{false};
        SanePageReader::Page page;
    };

    TW_UINT16 fail(TW_UINT16 condition, TW_UINT16 rc = TWRC_FAILURE);

    TW_UINT16 openManager(pTW_IDENTITY origin, TW_MEMREF data);
    TW_UINT16 closeManager();
    TW_UINT16 identity(TW_UINT16 msg, pTW_IDENTITY id);
    TW_UINT16 openSource(pTW_IDENTITY id);
    void closeSource();
    TW_UINT16 userSelect(pTW_IDENTITY id);
    TW_UINT16 capability(TW_UINT16 msg, TW_CAPABILITY* cap);
    TW_UINT16 setCapability(TW_UINT16 code, const TW_ONEVALUE& value);
    TW_UINT16 imageLayout(TW_UINT16 msg, TW_IMAGELAYOUT* layout);
    TW_UINT16 enable(const TW_USERINTERFACE* ui);
    void disable();
    TW_UINT16 processEvent(TW_EVENT* event);
    TW_UINT16 nativeTransfer(TW_HANDLE* handle);

    std::vector<SaneDeviceInfo> devices() const;
    int defaultDevice(const std::vector<SaneDeviceInfo>& devices) const;
    void rememberDefault(const SaneDeviceInfo& device);
    void fillIdentity(TW_IDENTITY& id, const SaneDeviceInfo& device, TW_UINT32 idNumber) const;

    // Option mapping.
    const char* resolutionOption(bool vertical) const;
    QString modeFor(TW_UINT16 pixelType) const;
    TW_UINT16 currentPixelType() const;
    double geometryToMm(const char* option, double value) const;
    double mmToGeometry(const char* option, double mm) const;
    std::optional<double> bedMm(const char* option) const;

    void startScan();
    void applyChoiceAndScan();
    void post(TW_UINT16 message);

    int m_state = 1; // TWAIN state of the session
    TW_UINT16 m_condition = TWCC_SUCCESS;
    TW_HANDLE m_parent = nullptr; // the application's window
    TW_UINT32 m_nextId = 1;
    TW_UINT32 m_sourceId = 0;
    std::map<TW_UINT32, QByteArray> m_handedOut; // identities given out by GETFIRST/NEXT/USERSELECT
    std::vector<SaneDeviceInfo> m_listing;       // for GETFIRST/GETNEXT
    std::size_t m_listingPos = 0;
    SaneDevice m_device;
    SaneDeviceInfo m_deviceInfo;
    std::unique_ptr<Job> m_job;
    QPointer<ScannerSettingsDialog> m_dialog;
    QString m_settingsFile;
};
