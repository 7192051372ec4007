#pragma once

#include "acquire/DeviceSearch.h"
#include "acquire/SaneApi.h"
#include "acquire/SaneDevice.h"
#include "acquire/SaneDeviceInfo.h"
#include "acquire/SaneOptionMap.h"
#include "acquire/ScanJob.h"
#include "acquire/SourceStore.h"
#include "acquire/TwainShim.h"
#include "acquire/TwainState.h"
#include "acquire/twain.h"

#include <QPointer>
#include <QString>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class ScannerSettingsDialog;

// A TWAIN source manager and data source in one, on top of SANE. It answers the
// triplets the scanner module sends:
//  - an open source holds a SANE session; the list of devices comes from the last search
//    (findDevices(), on a worker thread), or is read in the session when there is none;
//  - MSG_USERSELECT lists the SANE devices in a dialog and remembers the choice as the
//    default source, across runs (QSettings), by a name that survives a replug;
//  - MSG_OPENDS opens the identity's device, or the default (SourceStore);
//  - capabilities and the image layout map onto SANE options (inches to millimetres);
//    a value the device adjusted answers TWRC_CHECKSTATUS;
//  - MSG_ENABLEDS starts reading the page on a worker thread, after the settings dialog
//    when ShowUI is set; the source then posts MSG_XFERREADY (or MSG_CLOSEDSREQ when the
//    dialog is cancelled) to the parent window, and MSG_PROCESSEVENT recognises it;
//  - the native transfer hands over the page as a packed DIB in a memory handle;
//  - a failure the scanner explained (a jam, no paper, busy, refused, gone) is left in
//    ScanMonitor for the scan commands, which TWAIN's condition codes could not carry.
//
// Everything except the page read and the session's end runs on the user-interface thread.
// The SANE calls go through `api`, which must outlive the manager and any session's end
// left running (teardownStalled()).
class SaneSourceManager {
  public:
    explicit SaneSourceManager(SaneApi& api = SaneApi::real());
    ~SaneSourceManager();
    SaneSourceManager(const SaneSourceManager&) = delete;
    SaneSourceManager& operator=(const SaneSourceManager&) = delete;

    // The program's manager, and its entry point in DSM_Entry form.
    static SaneSourceManager& instance();
    static TW_UINT16 DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                               TW_UINT16 MSG, TW_MEMREF pData);

    TW_UINT16 entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                    TW_MEMREF pData);

    // Starts reading the list of scanners on a worker thread, so that the next operation finds
    // it ready; while a scan holds SANE the search starts when the scan ends.
    void findDevices();

    // Where the default source is remembered: an INI file, or the user's settings when empty.
    void setSettingsFile(const QString& path);

    // How long the end of a session (closing the device, ending SANE) may take. It runs on a
    // thread of its own: a backend that hangs there cannot take the interface with it. One
    // that has not come back by then is left running, ScanMonitor says so, and SANE is not
    // touched again until it does come back.
    void setTeardownWait(std::chrono::milliseconds wait) { m_teardownWait = wait; }
    static constexpr std::chrono::milliseconds kTeardownWait{5000};
    // True while a session's end that outlasted the wait is still running.
    bool teardownStalled() const { return m_teardownRunning && *m_teardownRunning; }

    // SANE name of the device the open source reads, empty when none is open.
    QByteArray openDevice() const { return m_device.name(); }
    TwainState state() const { return m_state; }

    // The message a source posts to the application's window; wParam is MSG_XFERREADY
    // or MSG_CLOSEDSREQ.
    static constexpr std::uint32_t kSourceMessage = twainshim::WM_APP + 0x54;

  private:
    TW_UINT16 fail(TW_UINT16 condition, TW_UINT16 rc = TWRC_FAILURE);
    TW_UINT16 answer(SaneOptionMap::Answer answer);

    TW_UINT16 openManager(pTW_IDENTITY origin, TW_MEMREF data);
    TW_UINT16 closeManager();
    TW_UINT16 identity(TW_UINT16 msg, pTW_IDENTITY id);
    TW_UINT16 openSource(pTW_IDENTITY id);
    void closeSource();
    TW_UINT16 userSelect(pTW_IDENTITY id);
    TW_UINT16 capability(TW_UINT16 msg, TW_CAPABILITY* cap);
    TW_UINT16 imageLayout(TW_UINT16 msg, TW_IMAGELAYOUT* layout);
    TW_UINT16 enable(const TW_USERINTERFACE* ui);
    void disable();
    TW_UINT16 processEvent(TW_EVENT* event);
    TW_UINT16 nativeTransfer(TW_HANDLE* handle);

    // SANE for the open source: started once no search runs, ended with the source (whose
    // device endSane closes).
    bool beginSane();
    void endSane();
    // The last search's list when it found something, else the devices listed now.
    std::vector<SaneDeviceInfo> devices();
    // Whether SANE lists the device now (not from the last search).
    bool listed(const QByteArray& name);
    void fillIdentity(TW_IDENTITY& id, const SaneDeviceInfo& device, TW_UINT32 idNumber) const;

    void startScan();
    void applyChoiceAndScan();
    void post(TW_UINT16 message);

    SaneApi& m_api;
    DeviceSearch m_search{m_api};
    bool m_saneOpen = false;      // a session of our own is open
    bool m_searchPending = false; // asked for while the session was open
    TwainState m_state = TwainState::ManagerLoaded;
    TW_UINT16 m_condition = TWCC_SUCCESS;
    TW_HANDLE m_parent = nullptr; // the application's window
    TW_UINT32 m_nextId = 1;
    TW_UINT32 m_sourceId = 0;
    std::map<TW_UINT32, QByteArray> m_handedOut; // identities given out by GETFIRST/NEXT/USERSELECT
    std::vector<SaneDeviceInfo> m_listing;       // for GETFIRST/GETNEXT
    std::size_t m_listingPos = 0;
    SaneDevice m_device;
    SaneOptionMap m_options{m_device};
    SaneDeviceInfo m_deviceInfo;
    std::unique_ptr<ScanJob> m_job;
    std::optional<SanePageReader::Page> m_page; // a page that never reached a reader (no device)
    QPointer<ScannerSettingsDialog> m_dialog;
    SourceStore m_store;
    std::chrono::milliseconds m_teardownWait = kTeardownWait;
    std::shared_ptr<std::atomic<bool>> m_teardownRunning; // the last session's end left behind
};
