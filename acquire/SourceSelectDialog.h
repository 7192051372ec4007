#pragma once

#include "acquire/SaneDeviceInfo.h"

#include <QDialog>

#include <optional>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

// The source manager's dialog for choosing the scanner: vendor and model of every device,
// "Seleziona" and "Annulla". The list may change while the dialog is open, when a search
// for scanners ends.
class SourceSelectDialog : public QDialog {
    Q_OBJECT
  public:
    SourceSelectDialog(const std::vector<SaneDeviceInfo>& devices, int current, QWidget* parent = nullptr);

    // Shows `devices`, `current` selected (the first when out of range); the operator's
    // selection is kept when the device is still listed.
    void setDevices(const std::vector<SaneDeviceInfo>& devices, int current);
    // While true the caption says that scanners are being looked for.
    void setSearching(bool searching);

    // Index of the chosen device, -1 when none.
    int chosen() const;
    std::optional<SaneDeviceInfo> chosenDevice() const;

  private:
    void updateCaption();

    std::vector<SaneDeviceInfo> m_devices;
    bool m_searching = false;
    QLabel* m_caption;
    QListWidget* m_list;
    QPushButton* m_select;
};
