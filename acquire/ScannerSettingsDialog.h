#pragma once

#include "acquire/SaneDeviceInfo.h"

#include <QDialog>
#include <QStringList>

#include <functional>
#include <vector>

class QComboBox;
class QPushButton;

// What a scanner offers, as the settings dialog shows it.
struct ScannerCapabilities {
    bool available = false;          // the device could be opened
    QStringList modes;               // SANE mode names ("Color", "Gray", "Lineart", ...)
    QString mode;                    // the current one
    std::vector<double> resolutions; // dots per inch the operator may pick
    double resolution = 0;           // the current one
    double bedWidthMm = 0;           // 0 when unknown
    double bedHeightMm = 0;
};

// The operator's choice in the settings dialog. The area starts at the bed's top-left
// corner and is in millimetres, already limited to the bed.
struct ScannerChoice {
    QByteArray device;
    QString mode;
    double resolution = 0;
    double widthMm = 0;
    double heightMm = 0;
};

// The scanner's own settings dialog: device, mode, resolution and scan area with presets,
// "Scansiona" and "Annulla". Changing the device asks `describe` for that device's
// capabilities (empty optional when it cannot be opened).
class ScannerSettingsDialog : public QDialog {
    Q_OBJECT
  public:
    using Describe = std::function<ScannerCapabilities(const QByteArray& device)>;

    ScannerSettingsDialog(const std::vector<SaneDeviceInfo>& devices, int current, Describe describe,
                          QWidget* parent = nullptr);

    ScannerChoice choice() const;

    // The area presets, in millimetres: A4, 8 x 8 inches, and the whole bed.
    static constexpr double kA4WidthMm = 210.0;
    static constexpr double kA4HeightMm = 297.0;
    static constexpr double kEightInchesMm = 203.2;

    // Italian name of a SANE mode.
    static QString modeLabel(const QString& mode);

  private:
    void showDevice(int index);

    std::vector<SaneDeviceInfo> m_devices;
    Describe m_describe;
    ScannerCapabilities m_caps;
    QComboBox* m_device;
    QComboBox* m_mode;
    QComboBox* m_resolution;
    QComboBox* m_area;
    QPushButton* m_scan;
};
