#pragma once

#include "acquire/SaneDevice.h"
#include "acquire/ScannerSettingsDialog.h"
#include "acquire/twain.h"

#include <optional>

// TWAIN capabilities and the image layout on the options of an open SANE device. TWAIN
// speaks inches, pixel types and bit depths; SANE backends speak millimetres (or pixels),
// mode names of their own ("Color", "Gray", "Lineart", "Binary", ...) and depths.
class SaneOptionMap {
  public:
    // An answer to the application: a return code, and the condition code behind a failure.
    struct Answer {
        TW_UINT16 rc = TWRC_SUCCESS;
        TW_UINT16 condition = TWCC_SUCCESS;
    };

    explicit SaneOptionMap(SaneDevice& device) : m_device(device) {}

    // MSG_GET and its kin for one capability, as a one-value container.
    Answer get(TW_UINT16 capability, TW_ONEVALUE& value) const;
    // MSG_SET for one capability; TWRC_CHECKSTATUS when the device adjusted the value.
    Answer set(TW_UINT16 capability, const TW_ONEVALUE& value);
    // The scan area in inches from the bed's top-left corner.
    Answer getLayout(TW_FRAME& frame) const;
    Answer setLayout(const TW_FRAME& frame);

    // What the settings dialog shows for the open device; `available` false when none is open.
    ScannerCapabilities describe() const;
    // The operator's choice in the settings dialog, on the open device.
    void apply(const ScannerChoice& choice);

    // The device's resolution option: per axis when it has those, else the common one.
    const char* resolutionOption(bool vertical) const;
    // The first of the device's modes that gives the TWAIN pixel type, or empty.
    QString modeFor(TW_UINT16 pixelType) const;
    TW_UINT16 currentPixelType() const;
    double resolution() const;

  private:
    double geometryToMm(const char* option, double value) const;
    double mmToGeometry(const char* option, double mm) const;
    std::optional<double> bedMm(const char* option) const;
    Answer outcome(SaneDevice::SetResult result) const;

    SaneDevice& m_device;
};

// TW_FIX32 packed into the 32 bits of a one-value container, and back.
TW_UINT32 packFix32(TW_FIX32 fix);
TW_FIX32 unpackFix32(TW_UINT32 item);
