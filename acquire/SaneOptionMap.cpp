#include "acquire/SaneOptionMap.h"

#include "acquire/mdlTwain.h"

#include <algorithm>

namespace {

constexpr double kMmPerInch = 25.4;

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

SaneOptionMap::Answer failure(TW_UINT16 condition) {
    return {TWRC_FAILURE, condition};
}

const char* const kEdges[4] = {"tl-x", "tl-y", "br-x", "br-y"};

} // namespace

TW_UINT32 packFix32(TW_FIX32 fix) {
    return static_cast<TW_UINT32>(static_cast<TW_UINT16>(fix.Whole)) |
           (static_cast<TW_UINT32>(fix.Frac) << 16);
}

TW_FIX32 unpackFix32(TW_UINT32 item) {
    return TW_FIX32{static_cast<TW_INT16>(item & 0xFFFF), static_cast<TW_UINT16>(item >> 16)};
}

const char* SaneOptionMap::resolutionOption(bool vertical) const {
    const char* axis = vertical ? "y-resolution" : "x-resolution";
    return m_device.has(axis) ? axis : "resolution";
}

double SaneOptionMap::resolution() const {
    return m_device.number(resolutionOption(false)).value_or(0);
}

QString SaneOptionMap::modeFor(TW_UINT16 pixelType) const {
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

TW_UINT16 SaneOptionMap::currentPixelType() const {
    const QString mode = m_device.text("mode").value_or(QString());
    if (isColour(mode))
        return TWPT_RGB;
    if (isLineart(mode) || m_device.number("depth").value_or(8) == 1)
        return TWPT_BW;
    return TWPT_GRAY;
}

double SaneOptionMap::geometryToMm(const char* option, double value) const {
    if (m_device.unit(option) != SANE_UNIT_PIXEL)
        return value;
    const double dpi = resolution();
    return dpi > 0 ? value / dpi * kMmPerInch : value;
}

double SaneOptionMap::mmToGeometry(const char* option, double mm) const {
    if (m_device.unit(option) != SANE_UNIT_PIXEL)
        return mm;
    const double dpi = resolution();
    return dpi > 0 ? mm / kMmPerInch * dpi : mm;
}

std::optional<double> SaneOptionMap::bedMm(const char* option) const {
    const auto range = m_device.numberRange(option);
    if (!range)
        return std::nullopt;
    return geometryToMm(option, range->second);
}

SaneOptionMap::Answer SaneOptionMap::outcome(SaneDevice::SetResult r) const {
    switch (r) {
    case SaneDevice::SetResult::Exact:
        return {};
    case SaneDevice::SetResult::Adjusted:
        return {TWRC_CHECKSTATUS, TWCC_SUCCESS};
    case SaneDevice::SetResult::Failed:
        break;
    }
    return failure(TWCC_BADVALUE);
}

SaneOptionMap::Answer SaneOptionMap::get(TW_UINT16 capability, TW_ONEVALUE& value) const {
    switch (capability) {
    case CAP_XFERCOUNT:
        value = {TWTY_INT16, 1};
        return {};
    case ICAP_PIXELTYPE:
        value = {TWTY_UINT16, currentPixelType()};
        return {};
    case ICAP_BITDEPTH: {
        const TW_UINT16 type = currentPixelType();
        value = {TWTY_UINT16, type == TWPT_RGB ? 24u : type == TWPT_GRAY ? 8u : 1u};
        return {};
    }
    case ICAP_UNITS:
        value = {TWTY_UINT16, TWUN_INCHES};
        return {};
    case ICAP_XFERMECH:
        value = {TWTY_UINT16, TWSX_NATIVE};
        return {};
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
        const auto dpi = m_device.number(resolutionOption(capability == ICAP_YRESOLUTION));
        if (!dpi)
            return failure(TWCC_CAPUNSUPPORTED);
        value = {TWTY_FIX32, packFix32(toFix(*dpi))};
        return {};
    }
    case ICAP_PHYSICALWIDTH:
    case ICAP_PHYSICALHEIGHT: {
        const auto mm = bedMm(capability == ICAP_PHYSICALWIDTH ? "br-x" : "br-y");
        if (!mm)
            return failure(TWCC_CAPUNSUPPORTED);
        value = {TWTY_FIX32, packFix32(toFix(*mm / kMmPerInch))};
        return {};
    }
    default:
        return failure(TWCC_CAPUNSUPPORTED);
    }
}

SaneOptionMap::Answer SaneOptionMap::set(TW_UINT16 capability, const TW_ONEVALUE& value) {
    const TW_UINT16 item16 = static_cast<TW_UINT16>(value.Item & 0xFFFF);
    switch (capability) {
    case CAP_XFERCOUNT: {
        // One page per session is all this source delivers.
        const auto count = static_cast<TW_INT16>(item16);
        return count == 1 || count == -1 ? Answer{} : Answer{TWRC_CHECKSTATUS, TWCC_SUCCESS};
    }
    case ICAP_UNITS:
        return item16 == TWUN_INCHES ? Answer{} : failure(TWCC_BADVALUE);
    case ICAP_XFERMECH:
        return item16 == TWSX_NATIVE ? Answer{} : failure(TWCC_BADVALUE);
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
        if (value.ItemType != TWTY_FIX32)
            return failure(TWCC_BADVALUE);
        const double dpi = fromFix(unpackFix32(value.Item));
        if (dpi <= 0)
            return failure(TWCC_BADVALUE);
        return outcome(m_device.setNumber(resolutionOption(capability == ICAP_YRESOLUTION), dpi));
    }
    case ICAP_PIXELTYPE: {
        const QString mode = modeFor(item16);
        if (!mode.isEmpty()) {
            const Answer answer = outcome(m_device.setText("mode", mode));
            // A grey mode left at one bit from an earlier request would still be line art.
            if (answer.rc != TWRC_FAILURE && item16 != TWPT_BW && m_device.number("depth").value_or(8) == 1)
                m_device.setNumber("depth", 8);
            return answer;
        }
        // No line-art mode: a grey mode at one bit per pixel is black and white.
        if (item16 == TWPT_BW) {
            const QString grey = modeFor(TWPT_GRAY);
            const std::vector<double> depths = m_device.numberChoices("depth");
            if (!grey.isEmpty() && std::find(depths.begin(), depths.end(), 1.0) != depths.end() &&
                m_device.setText("mode", grey) != SaneDevice::SetResult::Failed &&
                m_device.setNumber("depth", 1) != SaneDevice::SetResult::Failed)
                return {};
        }
        if (!m_device.has("mode") && item16 == currentPixelType())
            return {};
        return failure(TWCC_BADVALUE);
    }
    case ICAP_BITDEPTH: {
        const TW_UINT16 type = currentPixelType();
        const TW_UINT16 natural = type == TWPT_RGB ? 24 : type == TWPT_GRAY ? 8 : 1;
        if (item16 != natural)
            return failure(TWCC_BADVALUE);
        if (m_device.settable("depth") && type != TWPT_BW)
            return outcome(m_device.setNumber("depth", 8));
        return {};
    }
    case ICAP_PHYSICALWIDTH:
    case ICAP_PHYSICALHEIGHT:
        return failure(TWCC_CAPBADOPERATION);
    default:
        return failure(TWCC_CAPUNSUPPORTED);
    }
}

SaneOptionMap::Answer SaneOptionMap::getLayout(TW_FRAME& frame) const {
    TW_FIX32* edges[4] = {&frame.Left, &frame.Top, &frame.Right, &frame.Bottom};
    for (int i = 0; i < 4; ++i) {
        const auto v = m_device.number(kEdges[i]);
        if (!v)
            return failure(TWCC_BADPROTOCOL);
        *edges[i] = toFix(geometryToMm(kEdges[i], *v) / kMmPerInch);
    }
    return {};
}

SaneOptionMap::Answer SaneOptionMap::setLayout(const TW_FRAME& frame) {
    const TW_FIX32 edges[4] = {frame.Left, frame.Top, frame.Right, frame.Bottom};
    if (fromFix(edges[2]) <= fromFix(edges[0]) || fromFix(edges[3]) <= fromFix(edges[1]))
        return failure(TWCC_BADVALUE);
    bool adjusted = false;
    for (int i = 0; i < 4; ++i) {
        const double mm = fromFix(edges[i]) * kMmPerInch;
        if (!m_device.settable(kEdges[i])) {
            adjusted = true; // the device scans its own fixed area
            continue;
        }
        const auto r = m_device.setNumber(kEdges[i], mmToGeometry(kEdges[i], mm));
        if (r == SaneDevice::SetResult::Failed)
            return failure(TWCC_BADVALUE);
        adjusted = adjusted || r == SaneDevice::SetResult::Adjusted;
    }
    return adjusted ? Answer{TWRC_CHECKSTATUS, TWCC_SUCCESS} : Answer{};
}

ScannerCapabilities SaneOptionMap::describe() const {
    ScannerCapabilities caps;
    caps.available = m_device.isOpen();
    if (!caps.available)
        return caps;
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
}

void SaneOptionMap::apply(const ScannerChoice& choice) {
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
}
