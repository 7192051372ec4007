#pragma once

#include <QDialog>

class Prompts;

// The workspace window. Opened modally from the start-up window with showModal().
class frmScanner : public QDialog {
    Q_OBJECT
  public:
    explicit frmScanner(Prompts& prompts, QWidget* parent = nullptr);
    ~frmScanner() override;

    // Builds the controls in their design state, runs the window load and shows the
    // window modally; returns when the window is closed.
    int showModal();

  private:
    Prompts& m_prompts;
};
