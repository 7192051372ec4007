#include "acquire/SaneSourceManager.h"

#include "acquire/ScannerSettingsDialog.h"
#include "acquire/SourceSelectDialog.h"
#include "acquire/mdlTwain.h"

#include <QApplication>
#include <QSettings>

#include <cmath>
#include <cstring>

namespace {

constexpr double kMmPerInch = 25.4;

const QString kDefaultNameKey = QStringLiteral("Scanner/DefaultSource");
const QString kDefaultStableKey = QStringLiteral("Scanner/DefaultSourceKey");

std::unique_ptr<QSettings> openSettings(const QString& file) {
    if (file.isEmpty())
        return std::make_unique<QSettings>(QStringLiteral("Orvanta"), QStringLiteral("Vetra"));
    return std::make_unique<QSettings>(file, QSettings::IniFormat);
}

void copyText(TW_STR32& field, const QString& text) {
    std::memset(field, 0, sizeof field);
    const QByteArray bytes = text.toUtf8().left(static_cast<qsizetype>(sizeof field) - 1);
    std::memcpy(field, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

bool modeIs(const QString& mode, std::initializer_list<const char*> words) {
    for (const char* w : words) {
        if (mode.contains(QLatin1String(w), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool isColour(const QString& mode) {
    return modeIs(mode, {"color", "colour"});
}
bool isLineart(const QString& mode) {
    return modeIs(mode, {"lineart", "binary", "halftone", "black"});
}
bool isGrey(const QString& mode) {
    return modeIs(mode, {"gray", "grey"});
}

TW_FIX32 toFix(double value) {
    return mdlTwain::FloatToFix32(static_cast<float>(value)).value_or(TW_FIX32{0, 0});
}

double fromFix(TW_FIX32 value) {
    return mdlTwain::Fix32ToFloat(value);
}

TW_UINT32 packFix(TW_FIX32 fix) {
    return static_cast<TW_UINT32>(static_cast<TW_UINT16>(fix.Whole)) |
           (static_cast<TW_UINT32>(fix.Frac) << 16);
}

TW_FIX32 unpackFix(TW_UINT32 item) {
    return TW_FIX32{static_cast<TW_INT16>(item & 0xFFFF), static_cast<TW_UINT16>(item >> 16)};
}

} // namespace

SaneSourceManager::SaneSourceManager() = default;

SaneSourceManager::~SaneSourceManager() {
    if (m_state >= 3)
        closeManager();
}

SaneSourceManager& SaneSourceManager::instance() {
    static SaneSourceManager manager;
    return manager;
}

TW_UINT16 SaneSourceManager::DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                       TW_UINT16 MSG, TW_MEMREF pData) {
    return instance().entry(pOrigin, pDest, DG, DAT, MSG, pData);
}

void SaneSourceManager::setSettingsFile(const QString& path) {
    m_settingsFile = path;
}

TW_UINT16 SaneSourceManager::fail(TW_UINT16 condition, TW_UINT16 rc) {
    m_condition = condition;
    return rc;
}

TW_UINT16 SaneSourceManager::entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                   TW_UINT16 MSG, TW_MEMREF pData) {
    if (!pOrigin)
        return fail(TWCC_BADPROTOCOL);

    if (DG == DG_CONTROL && DAT == DAT_STATUS && MSG == MSG_GET) {
        if (!pData)
            return fail(TWCC_BADVALUE);
        auto* status = static_cast<TW_STATUS*>(pData);
        status->ConditionCode = m_condition;
        status->Reserved = 0;
        m_condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    m_condition = TWCC_SUCCESS;

    if (DG == DG_CONTROL && DAT == DAT_PARENT) {
        if (MSG == MSG_OPENDSM)
            return openManager(pOrigin, pData);
        if (MSG == MSG_CLOSEDSM)
            return m_state == 3 ? closeManager() : fail(TWCC_SEQERROR);
        return fail(TWCC_BADPROTOCOL);
    }
    if (m_state < 3)
        return fail(TWCC_SEQERROR);
    if (DG == DG_CONTROL && DAT == DAT_IDENTITY)
        return identity(MSG, static_cast<pTW_IDENTITY>(pData));

    // Everything else is for the open source.
    if (m_state < 4)
        return fail(TWCC_SEQERROR);
    if (!pDest || pDest->Id != m_sourceId)
        return fail(TWCC_BADDEST);
    if (!pData && !(DG == DG_CONTROL && DAT == DAT_USERINTERFACE && MSG == MSG_DISABLEDS))
        return fail(TWCC_BADVALUE);

    if (DG == DG_CONTROL) {
        switch (DAT) {
        case DAT_CAPABILITY:
            return capability(MSG, static_cast<TW_CAPABILITY*>(pData));
        case DAT_USERINTERFACE:
            if (MSG == MSG_ENABLEDS)
                return enable(static_cast<const TW_USERINTERFACE*>(pData));
            if (MSG == MSG_DISABLEDS) {
                if (m_state < 5)
                    return fail(TWCC_SEQERROR);
                disable();
                return TWRC_SUCCESS;
            }
            return fail(TWCC_BADPROTOCOL);
        case DAT_EVENT:
            return MSG == MSG_PROCESSEVENT ? processEvent(static_cast<TW_EVENT*>(pData))
                                           : fail(TWCC_BADPROTOCOL);
        case DAT_PENDINGXFERS: {
            auto* pending = static_cast<TW_PENDINGXFERS*>(pData);
            if (MSG == MSG_GET) {
                pending->Count = m_state >= 6 ? 1 : 0;
                return TWRC_SUCCESS;
            }
            if (MSG == MSG_ENDXFER || MSG == MSG_RESET) {
                if (m_state < 6)
                    return fail(TWCC_SEQERROR);
                pending->Count = 0;
                m_state = 5;
                return TWRC_SUCCESS;
            }
            return fail(TWCC_BADPROTOCOL);
        }
        default:
            return fail(TWCC_BADPROTOCOL);
        }
    }
    if (DG == DG_IMAGE) {
        if (DAT == DAT_IMAGELAYOUT)
            return imageLayout(MSG, static_cast<TW_IMAGELAYOUT*>(pData));
        if (DAT == DAT_IMAGENATIVEXFER && MSG == MSG_GET)
            return nativeTransfer(static_cast<TW_HANDLE*>(pData));
    }
    return fail(TWCC_BADPROTOCOL);
}

// ---- manager -------------------------------------------------------------------------------

TW_UINT16 SaneSourceManager::openManager(pTW_IDENTITY origin, TW_MEMREF data) {
    if (m_state >= 3)
        return fail(TWCC_SEQERROR);
    const auto* window = static_cast<const TW_HANDLE*>(data);
    if (!window || !*window)
        return fail(TWCC_BADVALUE);
    SANE_Int version = 0;
    if (sane_init(&version, nullptr) != SANE_STATUS_GOOD)
        return fail(TWCC_BUMMER);
    m_parent = *window;
    origin->Id = m_nextId++;
    m_handedOut.clear();
    m_state = 3;
    return TWRC_SUCCESS;
}

TW_UINT16 SaneSourceManager::closeManager() {
    if (m_state >= 4)
        closeSource();
    m_listing.clear();
    m_handedOut.clear();
    sane_exit();
    m_parent = nullptr;
    m_state = 2;
    return TWRC_SUCCESS;
}

std::vector<SaneDeviceInfo> SaneSourceManager::devices() const {
    std::vector<SaneDeviceInfo> result;
    const SANE_Device** list = nullptr;
    if (sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || !list)
        return result;
    for (const SANE_Device** d = list; *d; ++d) {
        SaneDeviceInfo info;
        info.name = QByteArray((*d)->name ? (*d)->name : "");
        info.vendor = QString::fromUtf8((*d)->vendor ? (*d)->vendor : "");
        info.model = QString::fromUtf8((*d)->model ? (*d)->model : "");
        info.type = QString::fromUtf8((*d)->type ? (*d)->type : "");
        if (!info.name.isEmpty())
            result.push_back(info);
    }
    return result;
}

int SaneSourceManager::defaultDevice(const std::vector<SaneDeviceInfo>& list) const {
    const auto settings = openSettings(m_settingsFile);
    const QByteArray name = settings->value(kDefaultNameKey).toString().toUtf8();
    const QString key = settings->value(kDefaultStableKey).toString();
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!name.isEmpty() && list[i].name == name)
            return static_cast<int>(i);
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!key.isEmpty() && list[i].stableKey() == key)
            return static_cast<int>(i);
    }
    return list.empty() ? -1 : 0;
}

void SaneSourceManager::rememberDefault(const SaneDeviceInfo& device) {
    const auto settings = openSettings(m_settingsFile);
    settings->setValue(kDefaultNameKey, QString::fromUtf8(device.name));
    settings->setValue(kDefaultStableKey, device.stableKey());
    settings->sync();
}

void SaneSourceManager::fillIdentity(TW_IDENTITY& id, const SaneDeviceInfo& device,
                                     TW_UINT32 idNumber) const {
    id = TW_IDENTITY{};
    id.Id = idNumber;
    id.Version.MajorNum = 1;
    id.ProtocolMajor = TWON_PROTOCOLMAJOR;
    id.ProtocolMinor = TWON_PROTOCOLMINOR;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE;
    copyText(id.Manufacturer, device.vendor);
    copyText(id.ProductFamily, QStringLiteral("SANE"));
    copyText(id.ProductName, device.model);
}

TW_UINT16 SaneSourceManager::identity(TW_UINT16 msg, pTW_IDENTITY id) {
    if (!id)
        return fail(TWCC_BADVALUE);
    switch (msg) {
    case MSG_OPENDS:
        return m_state == 3 ? openSource(id) : fail(TWCC_SEQERROR);
    case MSG_CLOSEDS:
        if (m_state < 4 || id->Id != m_sourceId)
            return fail(m_state < 4 ? TWCC_SEQERROR : TWCC_BADDEST);
        closeSource();
        return TWRC_SUCCESS;
    case MSG_USERSELECT:
        return m_state == 3 ? userSelect(id) : fail(TWCC_SEQERROR);
    case MSG_GETFIRST:
        m_listing = devices();
        m_listingPos = 0;
        [[fallthrough]];
    case MSG_GETNEXT:
        if (m_listingPos >= m_listing.size())
            return TWRC_ENDOFLIST;
        fillIdentity(*id, m_listing[m_listingPos], m_nextId);
        m_handedOut[m_nextId++] = m_listing[m_listingPos++].name;
        return TWRC_SUCCESS;
    case MSG_GETDEFAULT: {
        const std::vector<SaneDeviceInfo> list = devices();
        const int index = defaultDevice(list);
        if (index < 0)
            return fail(TWCC_NODS);
        fillIdentity(*id, list[static_cast<std::size_t>(index)], m_nextId);
        m_handedOut[m_nextId++] = list[static_cast<std::size_t>(index)].name;
        return TWRC_SUCCESS;
    }
    default:
        return fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 SaneSourceManager::userSelect(pTW_IDENTITY id) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return fail(TWCC_BUMMER);
    const std::vector<SaneDeviceInfo> list = devices();
    SourceSelectDialog dialog(list, defaultDevice(list), QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted || dialog.chosen() < 0)
        return TWRC_CANCEL;
    const SaneDeviceInfo& chosen = list[static_cast<std::size_t>(dialog.chosen())];
    rememberDefault(chosen);
    fillIdentity(*id, chosen, m_nextId);
    m_handedOut[m_nextId++] = chosen.name;
    return TWRC_SUCCESS;
}

// ---- source --------------------------------------------------------------------------------

TW_UINT16 SaneSourceManager::openSource(pTW_IDENTITY id) {
    const std::vector<SaneDeviceInfo> list = devices();
    int index = -1;
    const auto handed = m_handedOut.find(id->Id);
    const QString product = QString::fromUtf8(
        id->ProductName, static_cast<qsizetype>(strnlen(id->ProductName, sizeof id->ProductName)));
    for (std::size_t i = 0; i < list.size() && index < 0; ++i) {
        if (handed != m_handedOut.end() ? list[i].name == handed->second
                                        : !product.isEmpty() && list[i].model.left(33) == product)
            index = static_cast<int>(i);
    }
    if (index < 0 && handed == m_handedOut.end() && product.isEmpty())
        index = defaultDevice(list);
    if (index < 0)
        return fail(TWCC_NODS);
    const SaneDeviceInfo& device = list[static_cast<std::size_t>(index)];
    if (!m_device.open(device.name))
        return fail(TWCC_CHECKDEVICEONLINE);
    m_deviceInfo = device;
    m_sourceId = m_nextId++;
    fillIdentity(*id, device, m_sourceId);
    m_state = 4;
    return TWRC_SUCCESS;
}

void SaneSourceManager::closeSource() {
    if (m_state >= 5)
        disable();
    m_device.close();
    m_deviceInfo = SaneDeviceInfo{};
    m_sourceId = 0;
    m_state = 3;
}

// ---- options -------------------------------------------------------------------------------

const char* SaneSourceManager::resolutionOption(bool vertical) const {
    const char* axis = vertical ? "y-resolution" : "x-resolution";
    return m_device.has(axis) ? axis : "resolution";
}

QString SaneSourceManager::modeFor(TW_UINT16 pixelType) const {
    const QStringList modes = m_device.textChoices("mode");
    for (const QString& mode : modes) {
        const bool match = pixelType == TWPT_RGB    ? isColour(mode)
                           : pixelType == TWPT_GRAY ? isGrey(mode) && !isLineart(mode)
                           : pixelType == TWPT_BW   ? isLineart(mode)
                                                    : false;
        if (match)
            return mode;
    }
    return {};
}

TW_UINT16 SaneSourceManager::currentPixelType() const {
    const QString mode = m_device.text("mode").value_or(QString());
    if (isColour(mode))
        return TWPT_RGB;
    if (isLineart(mode) || m_device.number("depth").value_or(8) == 1)
        return TWPT_BW;
    return TWPT_GRAY;
}

double SaneSourceManager::geometryToMm(const char* option, double value) const {
    if (m_device.unit(option) != SANE_UNIT_PIXEL)
        return value;
    const double dpi = m_device.number(resolutionOption(false)).value_or(0);
    return dpi > 0 ? value / dpi * kMmPerInch : value;
}

double SaneSourceManager::mmToGeometry(const char* option, double mm) const {
    if (m_device.unit(option) != SANE_UNIT_PIXEL)
        return mm;
    const double dpi = m_device.number(resolutionOption(false)).value_or(0);
    return dpi > 0 ? mm / kMmPerInch * dpi : mm;
}

std::optional<double> SaneSourceManager::bedMm(const char* option) const {
    const auto range = m_device.numberRange(option);
    if (!range)
        return std::nullopt;
    return geometryToMm(option, range->second);
}

TW_UINT16 SaneSourceManager::capability(TW_UINT16 msg, TW_CAPABILITY* cap) {
    if (msg == MSG_SET) {
        if (m_state != 4)
            return fail(TWCC_SEQERROR);
        if (cap->ConType != TWON_ONEVALUE || twainshim::GlobalSize(cap->hContainer) < sizeof(TW_ONEVALUE))
            return fail(TWCC_BADVALUE);
        const void* bytes = twainshim::GlobalLock(cap->hContainer);
        if (!bytes)
            return fail(TWCC_BADVALUE);
        TW_ONEVALUE value{};
        std::memcpy(&value, bytes, sizeof value);
        twainshim::GlobalUnlock(cap->hContainer);
        return setCapability(cap->Cap, value);
    }
    if (msg != MSG_GET && msg != MSG_GETCURRENT && msg != MSG_GETDEFAULT)
        return fail(TWCC_CAPBADOPERATION);

    TW_ONEVALUE value{};
    switch (cap->Cap) {
    case CAP_XFERCOUNT:
        value = {TWTY_INT16, 1};
        break;
    case ICAP_PIXELTYPE:
        value = {TWTY_UINT16, currentPixelType()};
        break;
    case ICAP_BITDEPTH: {
        const TW_UINT16 type = currentPixelType();
        value = {TWTY_UINT16, type == TWPT_RGB ? 24u : type == TWPT_GRAY ? 8u : 1u};
        break;
    }
    case ICAP_UNITS:
        value = {TWTY_UINT16, TWUN_INCHES};
        break;
    case ICAP_XFERMECH:
        value = {TWTY_UINT16, TWSX_NATIVE};
        break;
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
        const auto dpi = m_device.number(resolutionOption(cap->Cap == ICAP_YRESOLUTION));
        if (!dpi)
            return fail(TWCC_CAPUNSUPPORTED);
        value = {TWTY_FIX32, packFix(toFix(*dpi))};
        break;
    }
    case ICAP_PHYSICALWIDTH:
    case ICAP_PHYSICALHEIGHT: {
        const auto mm = bedMm(cap->Cap == ICAP_PHYSICALWIDTH ? "br-x" : "br-y");
        if (!mm)
            return fail(TWCC_CAPUNSUPPORTED);
        value = {TWTY_FIX32, packFix(toFix(*mm / kMmPerInch))};
        break;
    }
    default:
        return fail(TWCC_CAPUNSUPPORTED);
    }
    cap->ConType = TWON_ONEVALUE;
    cap->hContainer = twainshim::GlobalAlloc(twainshim::GHND, sizeof(TW_ONEVALUE));
    void* bytes = twainshim::GlobalLock(cap->hContainer);
    if (!bytes) {
        twainshim::GlobalFree(cap->hContainer);
        cap->hContainer = nullptr;
        return fail(TWCC_LOWMEMORY);
    }
    std::memcpy(bytes, &value, sizeof value);
    twainshim::GlobalUnlock(cap->hContainer);
    return TWRC_SUCCESS;
}

TW_UINT16 SaneSourceManager::setCapability(TW_UINT16 code, const TW_ONEVALUE& value) {
    const auto outcome = [this](SaneDevice::SetResult r) {
        return r == SaneDevice::SetResult::Exact      ? TWRC_SUCCESS
               : r == SaneDevice::SetResult::Adjusted ? TWRC_CHECKSTATUS
                                                      : fail(TWCC_BADVALUE);
    };
    const TW_UINT16 item16 = static_cast<TW_UINT16>(value.Item & 0xFFFF);
    switch (code) {
    case CAP_XFERCOUNT: {
        // One page per session is all this source delivers.
        const auto count = static_cast<TW_INT16>(item16);
        return count == 1 || count == -1 ? TWRC_SUCCESS : TWRC_CHECKSTATUS;
    }
    case ICAP_UNITS:
        return item16 == TWUN_INCHES ? TWRC_SUCCESS : fail(TWCC_BADVALUE);
    case ICAP_XFERMECH:
        return item16 == TWSX_NATIVE ? TWRC_SUCCESS : fail(TWCC_BADVALUE);
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
        if (value.ItemType != TWTY_FIX32)
            return fail(TWCC_BADVALUE);
        const double dpi = fromFix(unpackFix(value.Item));
        if (dpi <= 0)
            return fail(TWCC_BADVALUE);
        return outcome(m_device.setNumber(resolutionOption(code == ICAP_YRESOLUTION), dpi));
    }
    case ICAP_PIXELTYPE: {
        const QString mode = modeFor(item16);
        if (!mode.isEmpty()) {
            const TW_UINT16 rc = outcome(m_device.setText("mode", mode));
            // A grey mode left at one bit from an earlier request would still be line art.
            if (rc != TWRC_FAILURE && item16 != TWPT_BW && m_device.number("depth").value_or(8) == 1)
                m_device.setNumber("depth", 8);
            return rc;
        }
        // No line-art mode: a grey mode at one bit per pixel is black and white.
        if (item16 == TWPT_BW) {
            const QString grey = modeFor(TWPT_GRAY);
            const std::vector<double> depths = m_device.numberChoices("depth");
            if (!grey.isEmpty() && std::find(depths.begin(), depths.end(), 1.0) != depths.end() &&
                m_device.setText("mode", grey) != SaneDevice::SetResult::Failed &&
                m_device.setNumber("depth", 1) != SaneDevice::SetResult::Failed)
                return TWRC_SUCCESS;
        }
        if (!m_device.has("mode") && item16 == currentPixelType())
            return TWRC_SUCCESS;
        return fail(TWCC_BADVALUE);
    }
    case ICAP_BITDEPTH: {
        const TW_UINT16 type = currentPixelType();
        const TW_UINT16 natural = type == TWPT_RGB ? 24 : type == TWPT_GRAY ? 8 : 1;
        if (item16 != natural)
            return fail(TWCC_BADVALUE);
        if (m_device.settable("depth") && type != TWPT_BW)
            return outcome(m_device.setNumber("depth", 8));
        return TWRC_SUCCESS;
    }
    case ICAP_PHYSICALWIDTH:
    case ICAP_PHYSICALHEIGHT:
        return fail(TWCC_CAPBADOPERATION);
    default:
        return fail(TWCC_CAPUNSUPPORTED);
    }
}

TW_UINT16 SaneSourceManager::imageLayout(TW_UINT16 msg, TW_IMAGELAYOUT* layout) {
    static const char* const kEdges[4] = {"tl-x", "tl-y", "br-x", "br-y"};
    if (msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT) {
        TW_FIX32* edges[4] = {&layout->Frame.Left, &layout->Frame.Top, &layout->Frame.Right,
                              &layout->Frame.Bottom};
        for (int i = 0; i < 4; ++i) {
            const auto v = m_device.number(kEdges[i]);
            if (!v)
                return fail(TWCC_BADPROTOCOL);
            *edges[i] = toFix(geometryToMm(kEdges[i], *v) / kMmPerInch);
        }
        layout->DocumentNumber = 1;
        layout->PageNumber = 1;
        layout->FrameNumber = 1;
        return TWRC_SUCCESS;
    }
    if (msg != MSG_SET)
        return fail(TWCC_BADPROTOCOL);
    if (m_state != 4)
        return fail(TWCC_SEQERROR);
    const TW_FIX32 edges[4] = {layout->Frame.Left, layout->Frame.Top, layout->Frame.Right,
                               layout->Frame.Bottom};
    if (fromFix(edges[2]) <= fromFix(edges[0]) || fromFix(edges[3]) <= fromFix(edges[1]))
        return fail(TWCC_BADVALUE);
    bool adjusted = false;
    for (int i = 0; i < 4; ++i) {
        const double mm = fromFix(edges[i]) * kMmPerInch;
        if (!m_device.settable(kEdges[i])) {
            adjusted = true; // the device scans its own fixed area
            continue;
        }
        const auto r = m_device.setNumber(kEdges[i], mmToGeometry(kEdges[i], mm));
        if (r == SaneDevice::SetResult::Failed)
            return fail(TWCC_BADVALUE);
        adjusted = adjusted || r == SaneDevice::SetResult::Adjusted;
    }
    return adjusted ? TWRC_CHECKSTATUS : TWRC_SUCCESS;
}

// ---- acquisition ---------------------------------------------------------------------------

void SaneSourceManager::post(TW_UINT16 message) {
    twainshim::PostMessage(m_parent, kSourceMessage, message, 0);
}

TW_UINT16 SaneSourceManager::enable(const TW_USERINTERFACE* ui) {
    if (m_state != 4)
        return fail(TWCC_SEQERROR);
    if (ui->hParent && twainshim::IsWindow(ui->hParent))
        m_parent = ui->hParent;
    m_state = 5;
    if (!ui->ShowUI) {
        startScan();
        return TWRC_SUCCESS;
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        m_state = 4;
        return fail(TWCC_BUMMER);
    }
    const std::vector<SaneDeviceInfo> list = devices();
    int current = -1;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].name == m_device.name())
            current = static_cast<int>(i);
    }
    const auto describe = [this](const QByteArray& name) {
        ScannerCapabilities caps;
        if (name != m_device.name() && !m_device.open(name))
            return caps;
        caps.available = m_device.isOpen();
        caps.modes = m_device.textChoices("mode");
        caps.mode = m_device.text("mode").value_or(QString());
        const char* res = resolutionOption(false);
        caps.resolution = m_device.number(res).value_or(0);
        caps.resolutions = m_device.numberChoices(res);
        if (caps.resolutions.empty()) {
            if (const auto range = m_device.numberRange(res)) {
                for (double dpi : {75.0, 100.0, 150.0, 200.0, 300.0, 400.0, 600.0, 1200.0}) {
                    if (dpi >= range->first && dpi <= range->second)
                        caps.resolutions.push_back(dpi);
                }
            }
            if (caps.resolutions.empty() && caps.resolution > 0)
                caps.resolutions.push_back(caps.resolution);
        }
        caps.bedWidthMm = bedMm("br-x").value_or(0);
        caps.bedHeightMm = bedMm("br-y").value_or(0);
        return caps;
    };
    auto* dialog = new ScannerSettingsDialog(list, current, describe, QApplication::activeWindow());
    dialog->setWindowModality(Qt::ApplicationModal);
    QObject::connect(dialog, &QDialog::accepted, dialog, [this] { applyChoiceAndScan(); });
    // Closing the dialog any other way is a request to close the source.
    QObject::connect(dialog, &QDialog::rejected, dialog, [this] { post(MSG_CLOSEDSREQ); });
    m_dialog = dialog;
    dialog->show();
    return TWRC_SUCCESS;
}

void SaneSourceManager::applyChoiceAndScan() {
    if (!m_dialog || m_state != 5)
        return;
    const ScannerChoice choice = m_dialog->choice();
    m_dialog->hide();
    if (choice.device != m_device.name()) {
        if (!m_device.open(choice.device)) {
            m_job = std::make_unique<Job>();
            m_job->page.status = SANE_STATUS_IO_ERROR;
            post(MSG_XFERREADY);
            return;
        }
    }
    for (const SaneDeviceInfo& d : devices()) {
        if (d.name == choice.device)
            m_deviceInfo = d;
    }
    if (!choice.mode.isEmpty())
        m_device.setText("mode", choice.mode);
    if (m_device.number("depth").value_or(8) == 16)
        m_device.setNumber("depth", 8);
    if (choice.resolution > 0)
        m_device.setNumber(resolutionOption(false), choice.resolution);
    if (m_device.has("y-resolution") && choice.resolution > 0)
        m_device.setNumber("y-resolution", choice.resolution);
    if (choice.widthMm > 0 && choice.heightMm > 0) {
        m_device.setNumber("tl-x", 0);
        m_device.setNumber("tl-y", 0);
        m_device.setNumber("br-x", mmToGeometry("br-x", choice.widthMm));
        m_device.setNumber("br-y", mmToGeometry("br-y", choice.heightMm));
    }
    startScan();
}

void SaneSourceManager::startScan() {
    m_job = std::make_unique<Job>();
    Job* job = m_job.get();
    SANE_Handle handle = m_device.handle();
    if (!handle) {
        job->page.status = SANE_STATUS_IO_ERROR;
        post(MSG_XFERREADY);
        return;
    }
    const double dpi = m_device.number(resolutionOption(false)).value_or(0);
    TW_HANDLE parent = m_parent;
    job->thread = std::thread([job, handle, dpi, parent] {
        job->page = SanePageReader::read(handle, job->cancel, dpi);
        twainshim::PostMessage(parent, kSourceMessage, MSG_XFERREADY, 0);
    });
}

void SaneSourceManager::disable() {
    if (m_job) {
        m_job->cancel = true;
        if (m_job->thread.joinable())
            m_job->thread.join();
        m_job.reset();
    }
    delete m_dialog.data();
    m_dialog = nullptr;
    m_state = 4;
}

TW_UINT16 SaneSourceManager::processEvent(TW_EVENT* event) {
    event->TWMessage = MSG_NULL;
    const auto* msg = static_cast<const twainshim::MSG*>(event->pEvent);
    if (m_state < 5 || !msg || msg->hwnd != m_parent || msg->message != kSourceMessage)
        return TWRC_NOTDSEVENT;
    event->TWMessage = static_cast<TW_UINT16>(msg->wParam);
    if (event->TWMessage == MSG_XFERREADY)
        m_state = 6;
    return TWRC_DSEVENT;
}

TW_UINT16 SaneSourceManager::nativeTransfer(TW_HANDLE* handle) {
    if (m_state != 6 || !m_job)
        return fail(TWCC_SEQERROR);
    if (m_job->thread.joinable())
        m_job->thread.join();
    SanePageReader::Page& page = m_job->page;
    switch (page.status) {
    case SANE_STATUS_GOOD:
        break;
    case SANE_STATUS_CANCELLED:
        m_state = 7;
        return TWRC_CANCEL;
    case SANE_STATUS_JAMMED:
        return fail(TWCC_PAPERJAM);
    case SANE_STATUS_NO_MEM:
        return fail(TWCC_LOWMEMORY);
    default:
        return fail(TWCC_OPERATIONERROR);
    }
    *handle = twainshim::GlobalAdopt(std::move(page.dib));
    page.dib.clear();
    m_state = 7;
    return TWRC_XFERDONE;
}
