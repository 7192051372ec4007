#include "acquire/mdlTwain.h"

#include "acquire/Dib.h"
#include "acquire/SaneSourceManager.h"
#include "acquire/TwainShim.h"
#include "env/modulo1.h"

#include <QFile>

#include <cmath>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace mdlTwain {

namespace {

using namespace twainshim;

// A run-time error inside an operation (a failed conversion, a manager that cannot be
// called): the operation's handler turns it into 1.
struct RuntimeError {};

// ---- module state ------------------------------------------------------------------------
TW_IDENTITY AppIdentity{};
TW_IDENTITY SourceIdentity{};
TW_HANDLE MsgWindow = nullptr;
bool Busy = false;
bool Acquiring = false; // inside the message loop of AcquireNativeImage
bool Cancelled = false;

// Posted to MsgWindow by CancelScan: the application's own request to stop the scan.
constexpr std::uint32_t kCancelMessage = WM_APP + 0x55;

DsmEntry defaultEntry() {
    return &SaneSourceManager::DSM_Entry;
}

DsmEntry& dsmEntry() {
    static DsmEntry entry = defaultEntry();
    return entry;
}

std::function<void()> defaultSearch() {
    return [] { SaneSourceManager::instance().findDevices(); };
}

std::function<void()>& sourceSearch() {
    static std::function<void()> search = defaultSearch();
    return search;
}

class BusyScope {
  public:
    BusyScope() { Busy = true; }
    ~BusyScope() { Busy = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};

TW_UINT16 DSM_Entry(pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    if (!dsmEntry())
        throw RuntimeError{};
    return dsmEntry()(&AppIdentity, pDest, DG, DAT, MSG, pData);
}

void copyText(TW_STR32& field, const char* text) {
    std::strncpy(field, text, sizeof(TW_STR32) - 1);
}

// Rounds to the nearest integer, halves to even (the current rounding mode's default).
double roundHalfEven(double v) {
    return std::nearbyint(v);
}

// ---- manager and source ------------------------------------------------------------------

std::int32_t OpenSourceManager() {
    MsgWindow = CreateMessageWindow(QStringLiteral("TWAIN_MSG_WINDOW"));
    if (!MsgWindow)
        return 1;
    AppIdentity = TW_IDENTITY{};
    AppIdentity.Id = 0;
    AppIdentity.Version.MajorNum = 1;
    AppIdentity.Version.MinorNum = 0;
    AppIdentity.Version.Language = 45;
    AppIdentity.Version.Country = 42;
    AppIdentity.ProtocolMajor = TWON_PROTOCOLMAJOR;
    AppIdentity.ProtocolMinor = TWON_PROTOCOLMINOR;
    AppIdentity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    copyText(AppIdentity.Manufacturer, "Dorn");
    copyText(AppIdentity.ProductFamily, "VB Module");
    copyText(AppIdentity.ProductName, "VB Module for TWAIN");
    TW_UINT16 rc = TWRC_FAILURE;
    try {
        rc = DSM_Entry(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &MsgWindow);
    } catch (const RuntimeError&) {
        rc = TWRC_FAILURE;
    }
    if (rc != TWRC_SUCCESS) {
        // Nothing will close this manager, so its window must not outlive the attempt.
        DestroyWindow(MsgWindow);
        MsgWindow = nullptr;
        return 1;
    }
    return 0;
}

std::int32_t CloseSourceManager() {
    TW_UINT16 rc = TWRC_FAILURE;
    try {
        rc = DSM_Entry(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &MsgWindow);
    } catch (const RuntimeError&) {
        rc = TWRC_FAILURE;
    }
    const bool destroyed = DestroyWindow(MsgWindow);
    MsgWindow = nullptr;
    return rc == TWRC_SUCCESS && destroyed ? 0 : 1;
}

std::int32_t OpenSource() {
    SourceIdentity = TW_IDENTITY{};
    return DSM_Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &SourceIdentity) == TWRC_SUCCESS ? 0 : 1;
}

std::int32_t CloseSource() {
    return DSM_Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &SourceIdentity) == TWRC_SUCCESS ? 0 : 1;
}

// ---- capabilities and layout -------------------------------------------------------------

TW_FIX32 toFix32(float value) {
    const auto fix = FloatToFix32(value);
    if (!fix)
        throw RuntimeError{};
    return *fix;
}

// Frees a capability container however the operation ends.
class HandleScope {
  public:
    explicit HandleScope(TW_HANDLE handle) : m_handle(handle) {}
    ~HandleScope() {
        if (m_handle)
            GlobalFree(m_handle);
    }
    HandleScope(const HandleScope&) = delete;
    HandleScope& operator=(const HandleScope&) = delete;

  private:
    TW_HANDLE m_handle;
};

std::int32_t SetCapOneValue(TW_UINT16 cap, TW_UINT16 itemType, double value) {
    try {
        TW_ONEVALUE one{};
        one.ItemType = itemType;
        switch (itemType) {
        case TWTY_INT16: {
            const double v = roundHalfEven(value);
            if (!(v >= -32768.0 && v <= 32767.0))
                return 1;
            one.Item = static_cast<TW_UINT32>(static_cast<TW_UINT16>(static_cast<TW_INT16>(v)));
            break;
        }
        case TWTY_UINT16:
        case TWTY_BOOL: {
            const double v = roundHalfEven(value);
            if (!(v >= 0.0 && v <= 65535.0))
                return 1;
            one.Item = static_cast<TW_UINT32>(v);
            break;
        }
        case TWTY_FIX32: {
            const TW_FIX32 fix = toFix32(static_cast<float>(value));
            one.Item = static_cast<TW_UINT32>(static_cast<TW_UINT16>(fix.Whole)) |
                       (static_cast<TW_UINT32>(fix.Frac) << 16);
            break;
        }
        default:
            one.Item = 0;
            break;
        }

        TW_CAPABILITY capability{};
        capability.Cap = cap;
        capability.ConType = TWON_ONEVALUE;
        capability.hContainer = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
        if (!capability.hContainer)
            return 1;
        const HandleScope container(capability.hContainer);
        void* bytes = GlobalLock(capability.hContainer);
        if (!bytes)
            return 1;
        std::memcpy(bytes, &one, sizeof one);
        GlobalUnlock(capability.hContainer);
        return DSM_Entry(&SourceIdentity, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability) == TWRC_SUCCESS
                   ? 0
                   : 1;
    } catch (const RuntimeError&) {
        return 1;
    }
}

std::int32_t GetCapOneValue(TW_UINT16 cap, float& value) {
    try {
        TW_CAPABILITY capability{};
        capability.Cap = cap;
        capability.ConType = TWON_ONEVALUE;
        capability.hContainer = nullptr;
        const TW_UINT16 rc = DSM_Entry(&SourceIdentity, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &capability);
        const HandleScope container(capability.hContainer);
        if (rc != TWRC_SUCCESS)
            return 1;
        if (GlobalSize(capability.hContainer) < sizeof(TW_ONEVALUE))
            return 1;
        const void* bytes = GlobalLock(capability.hContainer);
        if (!bytes)
            return 1;
        TW_ONEVALUE one{};
        std::memcpy(&one, bytes, sizeof one);
        GlobalUnlock(capability.hContainer);

        switch (one.ItemType) {
        case TWTY_INT16:
            value = static_cast<TW_INT16>(one.Item & 0xFFFF);
            break;
        case TWTY_UINT16:
        case TWTY_BOOL:
            value = static_cast<float>(one.Item & 0xFFFF);
            break;
        case TWTY_FIX32: {
            TW_FIX32 fix{};
            fix.Whole = static_cast<TW_INT16>(one.Item & 0xFFFF);
            fix.Frac = static_cast<TW_UINT16>(one.Item >> 16);
            value = Fix32ToFloat(fix);
            break;
        }
        default:
            break;
        }
        return 0;
    } catch (const RuntimeError&) {
        return 1;
    }
}

std::int32_t SetImageFrame(float left, float top, float right, float bottom) {
    try {
        TW_IMAGELAYOUT layout{};
        layout.Frame.Left = toFix32(left);
        layout.Frame.Top = toFix32(top);
        layout.Frame.Right = toFix32(right);
        layout.Frame.Bottom = toFix32(bottom);
        const TW_UINT16 rc = DSM_Entry(&SourceIdentity, DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout);
        return rc == TWRC_SUCCESS || rc == TWRC_CHECKSTATUS ? 0 : 1;
    } catch (const RuntimeError&) {
        return 1;
    }
}

// ---- acquisition -------------------------------------------------------------------------

std::int32_t AcquireNativeImage(bool showUI, TW_HANDLE& image) {
    image = nullptr;
    TW_USERINTERFACE ui{};
    ui.ShowUI = showUI ? 1 : 0;
    ui.ModalUI = 1;
    ui.hParent = MsgWindow;
    if (DSM_Entry(&SourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) != TWRC_SUCCESS)
        return 1;

    bool closeRequested = false;
    struct AcquiringScope {
        AcquiringScope() { Acquiring = true; }
        ~AcquiringScope() { Acquiring = false; }
    } acquiring;
    MSG msg;
    while (GetMessage(&msg) != 0) {
        if (msg.hwnd == MsgWindow && msg.message == kCancelMessage) {
            // Treated as the source's own close request: disabling it stops the page.
            Cancelled = true;
            closeRequested = true;
            break;
        }
        TW_EVENT event{};
        event.pEvent = &msg;
        event.TWMessage = MSG_NULL;
        const TW_UINT16 rc = DSM_Entry(&SourceIdentity, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
        if (event.TWMessage == MSG_XFERREADY)
            break;
        if (event.TWMessage == MSG_CLOSEDSREQ) {
            closeRequested = true;
            break;
        }
        // A message the source handled is its own business.
        if (rc != TWRC_DSEVENT) {
            TranslateMessage(&msg);
            DispatchMessage(&msg);
        }
    }

    bool failed = false;
    if (!closeRequested) {
        TW_PENDINGXFERS pending{};
        const TW_UINT16 rc = DSM_Entry(&SourceIdentity, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image);
        if (rc == TWRC_XFERDONE) {
            if (DSM_Entry(&SourceIdentity, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending) !=
                TWRC_SUCCESS) {
                DSM_Entry(&SourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
                failed = true;
            }
        } else {
            DSM_Entry(&SourceIdentity, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
            DSM_Entry(&SourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
            failed = true;
        }
    }
    if (!failed &&
        DSM_Entry(&SourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui) == TWRC_SUCCESS)
        return 0;
    if (image)
        GlobalFree(image);
    image = nullptr;
    return 1;
}

// The common road of both scans: open, optionally set up, acquire, close, write.
template <typename Setup> std::int32_t scan(bool showUI, const QString& FilePath, Setup setup) {
    if (Busy)
        return 1;
    const BusyScope busy;
    Cancelled = false;
    TW_HANDLE image = nullptr;
    bool sessionOpen = false;
    try {
        if (OpenSourceManager() != 0)
            return 1;
        sessionOpen = true;
        if (OpenSource() == 0 && setup() && AcquireNativeImage(showUI, image) == 0) {
            CloseSource();
            CloseSourceManager();
            sessionOpen = false;
            if (Cancelled) {
                if (image)
                    GlobalFree(image);
                return 1;
            }
            return WriteDibAsBmp(image, FilePath);
        }
    } catch (const RuntimeError&) {
    }
    if (image)
        GlobalFree(image);
    if (sessionOpen) {
        try {
            CloseSource();
        } catch (const RuntimeError&) {
        }
        CloseSourceManager();
    }
    return 1;
}

} // namespace

void setDsmEntry(DsmEntry entry, std::function<void()> findSources) {
    dsmEntry() = std::move(entry);
    sourceSearch() = std::move(findSources);
}

void resetDsmEntry() {
    dsmEntry() = defaultEntry();
    sourceSearch() = defaultSearch();
}

void FindSources() {
    if (sourceSearch() && !Busy)
        sourceSearch()();
}

bool IsBusy() {
    return Busy;
}

void CancelScan() {
    if (Acquiring && MsgWindow)
        PostMessage(MsgWindow, kCancelMessage, 0, 0);
}

bool LastScanCancelled() {
    return Cancelled;
}

std::optional<TW_FIX32> FloatToFix32(float value) {
    if (!std::isfinite(value))
        return std::nullopt;
    // Whole and fraction come from one rounded value so that a fraction rounding up to
    // 65536 carries into the whole part; negatives keep the protocol's floor convention.
    const double scaled = roundHalfEven(static_cast<double>(value) * 65536.0);
    if (!(scaled >= -32768.0 * 65536.0 && scaled < 32768.0 * 65536.0))
        return std::nullopt;
    const auto total = static_cast<std::int64_t>(scaled);
    TW_FIX32 fix{};
    fix.Whole = static_cast<TW_INT16>(total >> 16);
    fix.Frac = static_cast<TW_UINT16>(total & 0xFFFF);
    return fix;
}

float Fix32ToFloat(TW_FIX32 value) {
    return static_cast<float>(value.Whole) + static_cast<float>(value.Frac) / 65536.0f;
}

std::int32_t WriteDibAsBmp(TW_HANDLE& image, const QString& FilePath) {
    // Releases the image on every path below.
    struct Release {
        TW_HANDLE& handle;
        bool locked = false;
        ~Release() {
            if (locked)
                GlobalUnlock(handle);
            if (handle)
                GlobalFree(handle);
            handle = nullptr;
        }
    } release{image};

    if (FilePath.isEmpty())
        return 1;
    const auto* bytes = static_cast<const unsigned char*>(GlobalLock(image));
    if (!bytes)
        return 1;
    release.locked = true;
    const std::size_t available = GlobalSize(image);
    if (available < sizeof(dib::BITMAPINFOHEADER))
        return 1;
    dib::BITMAPINFOHEADER header{};
    std::memcpy(&header, bytes, sizeof header);
    const auto layout = dib::layoutOf(header);
    if (!layout || static_cast<std::size_t>(layout->dibSize) > available)
        return 1;
    const QByteArray buffer(reinterpret_cast<const char*>(bytes), layout->dibSize);
    GlobalUnlock(image);
    release.locked = false;
    GlobalFree(image);
    image = nullptr;

    dib::BITMAPFILEHEADER fileHeader{};
    fileHeader.bfType = dib::kBmpSignature;
    fileHeader.bfSize = static_cast<std::uint32_t>(layout->fileSize);
    fileHeader.bfReserved1 = 0;
    fileHeader.bfReserved2 = 0;
    fileHeader.bfOffBits = static_cast<std::uint32_t>(layout->bitsOffset);

    // Through its folder's descriptor: a link put where the file was is not followed.
    const int fd = modulo1::OpenScanFile(FilePath);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return 1;
    }
    if (file.write(reinterpret_cast<const char*>(&fileHeader), sizeof fileHeader) !=
            static_cast<qint64>(sizeof fileHeader) ||
        file.write(buffer) != buffer.size())
        return 1;
    return file.flush() ? 0 : 1;
}

std::int32_t ScanToFile(float Resolution, std::int32_t PixelType, float Left, float Top, float Right,
                        float Bottom, const QString& FilePath) {
    return scan(false, FilePath, [&]() {
        if (Right == 0 || Bottom == 0) {
            if (GetCapOneValue(ICAP_PHYSICALWIDTH, Right) != 0 ||
                GetCapOneValue(ICAP_PHYSICALHEIGHT, Bottom) != 0)
                return false;
        }
        if (SetImageFrame(Left, Top, Right, Bottom) != 0)
            return false;
        if (SetCapOneValue(ICAP_XRESOLUTION, TWTY_FIX32, Resolution) != 0 ||
            SetCapOneValue(ICAP_YRESOLUTION, TWTY_FIX32, Resolution) != 0)
            return false;
        if (SetCapOneValue(ICAP_PIXELTYPE, TWTY_UINT16, PixelType) != 0)
            return false;
        if (PixelType == TWPT_RGB)
            SetCapOneValue(ICAP_BITDEPTH, TWTY_UINT16, 24); // a refusal leaves the source's depth
        return SetCapOneValue(CAP_XFERCOUNT, TWTY_INT16, 1) == 0;
    });
}

std::int32_t ScanToFileWithDialog(const QString& FilePath) {
    return scan(true, FilePath, [] { return true; });
}

std::int32_t SelectSource() {
    if (Busy)
        return 1;
    const BusyScope busy;
    if (OpenSourceManager() != 0)
        return 1;
    TW_UINT16 rc = TWRC_FAILURE;
    try {
        rc = DSM_Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &SourceIdentity);
    } catch (const RuntimeError&) {
        rc = TWRC_FAILURE;
    }
    const std::int32_t closed = CloseSourceManager();
    return rc == TWRC_SUCCESS && closed == 0 ? 0 : 1;
}

} // namespace mdlTwain
