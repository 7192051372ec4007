#pragma once

#include "acquire/SaneDeviceInfo.h"

#include <QDialog>

#include <vector>

class QListWidget;
class QPushButton;

// The source manager's dialog for choosing the scanner: vendor and model of every device,
// "Seleziona" and "Annulla".
class SourceSelectDialog : public QDialog {
    Q_OBJECT
  public:
    SourceSelectDialog(const std::vector<SaneDeviceInfo>& devices, int current, QWidget* parent = nullptr);

    // Index of the chosen device, -1 when none.
    int chosen() const;

  private:
    QListWidget* m_list;
    QPushButton* m_select;
};
