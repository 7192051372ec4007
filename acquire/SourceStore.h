#pragma once

#include "acquire/SaneDeviceInfo.h"

#include <QString>

#include <vector>

// Where a scanner sits, as far as its SANE name and type tell.
enum class DeviceReach {
    Local,   // USB, SCSI, parallel port, or a backend's own simulated device
    Network, // reached over the network (saned, eSCL/AirScan, a scanner's own network protocol)
    Video,   // a camera or video device: never a scanner for a page
};

DeviceReach deviceReach(const SaneDeviceInfo& device);

// The scanner chosen in the selection dialog, remembered across runs (QSettings) by its SANE
// name and by a key that survives a replug; and the default when none is remembered or the
// remembered one is gone.
class SourceStore {
  public:
    // An INI file, or the user's settings when empty.
    void setSettingsFile(const QString& path) { m_settingsFile = path; }

    // The remembered scanner among `devices`, else firstChoice(); -1 when there is none.
    int defaultDevice(const std::vector<SaneDeviceInfo>& devices) const;
    void remember(const SaneDeviceInfo& device);

    // With nothing remembered: the first local scanner; a network one only when no local
    // one is listed; never a video device. -1 when there is none.
    static int firstChoice(const std::vector<SaneDeviceInfo>& devices);

  private:
    QString m_settingsFile;
};
