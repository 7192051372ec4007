#pragma once

#include "acquire/SaneApi.h"
#include "acquire/SaneSourceManager.h"

#include <QByteArray>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// A scripted SANE: flatbed scanners with the usual options ("mode", "resolution", "depth",
// "tl-x" ... "br-y"), pages of a known pattern, and the faults a test asks for: answers per
// call, a device that vanishes after N reads, a status at a given read, a read that stalls
// until the scan is cancelled. Safe to call from the page reader's thread.
class FakeSane final : public SaneApi {
  public:
    struct Device {
        QByteArray name = "fake:usb:001";
        QByteArray vendor = "Acme";
        QByteArray model = "Flat 1";
        QByteArray type = "flatbed scanner";
        QStringList modes{QStringLiteral("Color"), QStringLiteral("Gray"), QStringLiteral("Lineart")};
        bool depthOption = true;               // an int "depth" of 1 or 8
        SANE_Unit geometryUnit = SANE_UNIT_MM; // or SANE_UNIT_PIXEL
        double bedWidthMm = 215.9;
        double bedHeightMm = 297.0;
        bool unknownHeight = false; // a hand scanner: lines -1 in the parameters
    };

    FakeSane();
    ~FakeSane() override;

    // ---- script (set before the scan starts) -------------------------------------------
    std::vector<Device> devices{Device{}};
    // Answers for a call ("init", "open", "start", "getParameters", "read", "set"), used once
    // each, front first; an empty queue lets the call work.
    std::map<std::string, std::deque<SANE_Status>> answers;
    int readSize = 4096;       // bytes handed out per read at most
    int vanishAfterReads = -1; // reads that succeed before the device is gone for good
    int failAtRead = -1;       // this read (0-based) answers failStatus
    SANE_Status failStatus = SANE_STATUS_JAMMED;
    int stallAtRead = -1; // this read blocks until cancel()
    int readDelayMs = 0;  // each read takes this long
    void answer(const std::string& call, SANE_Status status) { answers[call].push_back(status); }
    // Makes getDevices wait until releaseListing(), as a search on the network does.
    void holdListing();
    void releaseListing();
    // Makes exit wait until releaseExit(), as a backend whose reader died holding the
    // loader's lock does.
    void holdExit();
    void releaseExit();
    // Back after a vanish.
    void plugBackIn();

    // ---- what happened ---------------------------------------------------------------------
    std::atomic<int> reads{0};
    std::atomic<int> cancels{0};
    std::atomic<bool> stalled{false}; // a read is blocked in the stall now
    std::atomic<int> listings{0};     // getDevices calls
    std::atomic<bool> exiting{false}; // an exit is held now
    int openHandles() const;
    int initDepth() const;
    bool gone() const;

    // ---- SaneApi ---------------------------------------------------------------------------
    SANE_Status init(SANE_Int* version) override;
    void exit() override;
    SANE_Status getDevices(const SANE_Device*** list, SANE_Bool localOnly) override;
    SANE_Status open(SANE_String_Const name, SANE_Handle* handle) override;
    void close(SANE_Handle handle) override;
    const SANE_Option_Descriptor* optionDescriptor(SANE_Handle handle, SANE_Int option) override;
    SANE_Status controlOption(SANE_Handle handle, SANE_Int option, SANE_Action action, void* value,
                              SANE_Int* info) override;
    SANE_Status start(SANE_Handle handle) override;
    SANE_Status getParameters(SANE_Handle handle, SANE_Parameters* params) override;
    SANE_Status read(SANE_Handle handle, SANE_Byte* data, SANE_Int maxLength, SANE_Int* length) override;
    void cancel(SANE_Handle handle) override;

    struct Handle; // one open device

  private:
    bool scripted(const std::string& call, SANE_Status* status);

    mutable std::mutex m_mutex;
    std::condition_variable m_cancelled;
    std::mutex m_gateMutex;
    std::condition_variable m_gateOpened;
    bool m_held = false;
    bool m_exitHeld = false;
    std::vector<SANE_Device> m_listed;
    std::vector<const SANE_Device*> m_list;
    std::vector<std::unique_ptr<Handle>> m_handles;
    int m_init = 0;
    bool m_gone = false;
};

// The scanner module talking to a source manager on a FakeSane, for as long as it lives.
struct FakeScanner {
    FakeSane sane;
    SaneSourceManager manager{sane};

    explicit FakeScanner(const QString& settingsFile);
    ~FakeScanner();
    FakeScanner(const FakeScanner&) = delete;
    FakeScanner& operator=(const FakeScanner&) = delete;
};

// A session with a source manager driven by hand, as the scanner module drives it: a hidden
// window as the parent, an identity for the program and one for the source. What is still
// open when it goes is closed, source first, and the window destroyed.
struct ManagerSession {
    SaneSourceManager& manager;
    TW_IDENTITY app{};
    TW_IDENTITY source{};
    TW_HANDLE window;
    TW_USERINTERFACE ui;

    explicit ManagerSession(SaneSourceManager& manager);
    ~ManagerSession();
    ManagerSession(const ManagerSession&) = delete;
    ManagerSession& operator=(const ManagerSession&) = delete;

    // A call to the open source, or (toSource false) to the manager itself.
    TW_UINT16 call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data, bool toSource = true);
    TW_UINT16 openManager() { return call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window, false); }
    TW_UINT16 openSource() { return call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source, false); }
    TW_UINT16 closeSource() { return call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source, false); }
    TW_UINT16 closeManager() { return call(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window, false); }
};
