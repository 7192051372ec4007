#pragma once

#include <QWidget>
#include <memory>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class HttpSession;
class Prompts;
class SingleInstance;
class frmScanner;

// The start-up window: runs the start-up steps, then stays open as a small launcher
// (open the workspace, close the program, check for a newer version).
class frmSplash : public QWidget {
    Q_OBJECT
  public:
    explicit frmSplash(Prompts& prompts, QWidget* parent = nullptr);
    ~frmSplash() override;

    // The start-up steps, in order. Returns false when the program must end at once
    // (another instance is running); the window is then never shown.
    bool Form_Load();

    // Where the single-instance lock lives; set before Form_Load (tests use a temporary folder).
    void setInstanceLockPath(const QString& path);

    void Command1_Click(); // opens the workspace modally
    void Command2_Click(); // closes the window, and with it the program
    void Command3_Click(); // version check

    // The program's HTTP session with the vendor's server, used by the version check and
    // the update window. Not owned; without one the window makes its own on first use,
    // pointed at the build's vendor URL.
    void setHttpSession(HttpSession* session) { m_session = session; }

    // The workspace window, once Command1 has created it.
    frmScanner* workspace() const { return m_scanner.get(); }

    // Controls, named as in the window's design.
    QFrame* Frame1 = nullptr;
    QLabel* imgLogo = nullptr;
    QLabel* lblProductName = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblWarning = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* lblCompany = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command1 = nullptr;
    QFrame* attesa = nullptr;
    QLabel* Label16 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;

  Q_SIGNALS:
    // Emitted just before the workspace is shown modally (tests close it from here).
    void workspaceShowing(frmScanner* workspace);

  private:
    void buildControls();

    Prompts& m_prompts;
    QString m_lockPath;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<frmScanner> m_scanner;
    HttpSession& httpSession();
    HttpSession* m_session = nullptr;
    std::unique_ptr<HttpSession> m_ownSession;
};

// "2.26": the running version as the start-up window and the version check write it.
QString runningVersionText();
