#pragma once

#include "update/UpdateProcedure.h"

#include <QDialog>
#include <functional>

class FormBrowser;
class HttpSession;
class Prompts;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class UpdateDownload;

// The update window: logs the installation in on the vendor's server, downloads the
// updater into the data folder and starts it. Opened modally by the version check.
//
// Every wait (page loads, the transfer) runs a local event loop bounded by the
// session's time limits, so the window stays live and never hangs.
class aggiorna : public QDialog {
    Q_OBJECT
  public:
    aggiorna(Prompts& prompts, HttpSession& session, QWidget* parent = nullptr);
    ~aggiorna() override;

    // Starts a program; true when it started. QProcess::startDetached unless replaced. The
    // updater is given as /proc/self/fd/N, valid only during the call.
    using Starter = std::function<bool(const QString& program)>;
    void setStarter(Starter starter) { m_starter = std::move(starter); }
    // Called between the updater's last check and its start (tests change the data folder there).
    void setBeforeStart(std::function<void()> hook) { m_beforeStart = std::move(hook); }
    // Ends the program; QCoreApplication::exit(0) unless replaced.
    void setProgramEnd(std::function<void()> end) { m_endProgram = std::move(end); }
    // Whether the session has a key to verify updaters with. Without one the window
    // refuses to update, and says so.
    bool canVerify() const;

    void Form_Load();
    void Command3_Click(); // "AVVIA PROCEDURA": the login
    void Command5_Click(); // "CONTINUA": the download
    void RunDownload();
    void DownloadProgress(const QString& percent);
    void Command2_Click();   // "ANNULLA"
    void Command4_Click();   // "Esci" of the response panel
    void Command1_Click();   // "USCITA"
    void installagg_Click(); // "INSTALLA AGGIORN."
    void Webvis_DocumentComplete();
    void Webvis_ProgressChange(qint64 progress, qint64 progressMax);

    // Members of the window; the rest of its state is the procedure's.
    bool PageLoading = false;
    UpdateProcedure& procedure() { return m_procedure; }
    const UpdateProcedure& procedure() const { return m_procedure; }

    static QString startText();
    static QString noKeyText();
    static QString notVerifiedText();
    static QString refusedAccountText();
    static QString connectionText(const QString& problem);
    // What the window keeps saying once a download or its start has been refused: what
    // happened, and how to try again.
    static QString stoppedText(const QString& what);

    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // The tests' driver reads the controls.
    friend class AggiornaDriver;

    // Controls, named as in the window's design.
    QFrame* comunicazione = nullptr;
    QLabel* generica = nullptr;
    QLabel* messpersonale = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command5 = nullptr;
    QPushButton* installagg = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QFrame* attesa = nullptr;
    QLabel* Label16 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QFrame* respme = nullptr;
    QLabel* messag = nullptr;
    QPushButton* Command4 = nullptr;
    QFrame* frweb = nullptr;
    FormBrowser* Webvis = nullptr;
    UpdateDownload* Inet1 = nullptr;

    void buildControls();
    void showResponse(const QString& text);
    void waitForPage();
    void stopWork();
    bool verifyDownload(const QString& updater);
    // Tells the operator why the update stopped, and leaves it said in the window.
    void stopped(const QString& what);
    void backToStart();

    Prompts& m_prompts;
    HttpSession& m_session;
    Starter m_starter;
    std::function<void()> m_endProgram;
    std::function<void()> m_beforeStart;
    bool m_closing = false;
    UpdateProcedure m_procedure;
};
