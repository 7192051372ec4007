#include "update/aggiorna.h"

#include "env/Prompts.h"
#include "env/WindowControls.h"
#include "env/modulo1.h"
#include "update/FormBrowser.h"
#include "update/HttpSession.h"
#include "update/Logging.h"
#include "update/LoginReply.h"
#include "update/UpdateAccount.h"
#include "update/UpdateDownload.h"
#include "update/UpdateFiles.h"
#include "update/UpdateSignature.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>

namespace {

const QColor kBlue(0, 0, 255);
const QColor kYellow(255, 255, 0);

// The window's own kinds of control, built by the factories every window shares.
QFrame* makeFrame(QWidget* parent, const char* name, const QRect& geometry) {
    return WindowControls::frame(parent, name, geometry, kBlue, WindowControls::Border::Sunken);
}

QLabel* makeLabel(QWidget* parent, const char* name, const QRect& geometry, const QString& text,
                  const QColor& ink) {
    return WindowControls::label(parent, name, text, geometry, WindowControls::serif(12, true), ink,
                                 Qt::AlignHCenter | Qt::AlignTop);
}

QPushButton* makeButton(QWidget* parent, const char* name, const QRect& geometry, const QString& caption) {
    return WindowControls::textButton(parent, name, caption, geometry);
}

} // namespace

aggiorna::aggiorna(Prompts& prompts, HttpSession& session, QWidget* parent)
    : QDialog(parent), m_prompts(prompts), m_session(session),
      m_starter([](const QString& program) { return QProcess::startDetached(program, {}); }),
      m_endProgram([] { QCoreApplication::exit(0); }) {
    setWindowTitle(QStringLiteral("Procedura di Aggiornamento di Vetra"));
    setFixedSize(786, 330);
    WindowControls::paintBackground(this, kBlue);
    buildControls();
    Form_Load();
    if (!canVerify())
        generica->setText(noKeyText());
}

aggiorna::~aggiorna() = default;

QString aggiorna::startText() {
    return QStringLiteral("Cliccare AVVIA  PROCEDURA per iniziare l'aggiornamento di Vetra");
}

QString aggiorna::noKeyText() {
    return QStringLiteral(
        "Questa copia di Vetra non può verificare gli aggiornamenti: l'aggiornamento "
        "automatico non è disponibile. Rivolgersi ad Orvanta per installare la nuova versione.");
}

QString aggiorna::notVerifiedText() {
    return QStringLiteral("Non è stato possibile verificare l'aggiornamento scaricato: l'aggiornamento non è "
                          "stato installato.\nSe il problema persiste, rivolgersi ad Orvanta.");
}

QString aggiorna::refusedAccountText() {
    return QStringLiteral("Il server di Orvanta non ha accettato il nome utente o la password di questa "
                          "installazione. Rivolgersi ad Orvanta per verificare i dati di accesso.");
}

QString aggiorna::connectionText(const QString& problem) {
    return QStringLiteral(
               "Il download dell'aggiornamento non è riuscito per un problema di connessione con il "
               "server di Orvanta: %1.\nControllare la connessione a Internet e riprovare.")
        .arg(problem);
}

QString aggiorna::stoppedText(const QString& what) {
    return what + QStringLiteral("\nCliccare AVVIA  PROCEDURA per riprovare.");
}

bool aggiorna::canVerify() const {
    return UpdateSignature::parsePublicKey(m_session.updateKey()).has_value();
}

void aggiorna::buildControls() {
    comunicazione = makeFrame(this, "comunicazione", QRect(16, 8, 753, 305));
    generica = makeLabel(comunicazione, "generica", QRect(16, 32, 713, 225), startText(), kYellow);
    messpersonale = makeLabel(comunicazione, "messpersonale", QRect(16, 24, 713, 241), {}, Qt::white);
    // Shares its place with generica: centred, so that the instruction above stays readable.
    messpersonale->setAlignment(Qt::AlignCenter);
    messpersonale->hide();
    Command3 =
        makeButton(comunicazione, "Command3", QRect(16, 272, 137, 25), QStringLiteral("AVVIA PROCEDURA"));
    Command5 = makeButton(comunicazione, "Command5", QRect(16, 272, 137, 25), QStringLiteral("CONTINUA"));
    Command5->hide();
    installagg =
        makeButton(comunicazione, "installagg", QRect(16, 272, 137, 25), QStringLiteral("INSTALLA AGGIORN."));
    installagg->hide();

    Command1 = makeButton(this, "Command1", QRect(624, 280, 129, 25), QStringLiteral("USCITA"));
    Command2 = makeButton(this, "Command2", QRect(624, 280, 129, 25), QStringLiteral("ANNULLA"));
    Command2->hide();

    attesa = makeFrame(this, "attesa", QRect(152, 120, 441, 97));
    attesa->hide();
    Label16 = makeLabel(attesa, "Label16", QRect(8, 32, 425, 33),
                        QStringLiteral("Attendere, Controllo Versione  in Corso  ...."), Qt::white);
    ProgressBar1 = new QProgressBar(attesa);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(24, 64, 393, 17);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    respme = makeFrame(this, "respme", QRect(104, 64, 553, 161));
    respme->hide();
    messag = makeLabel(respme, "messag", QRect(24, 24, 505, 89), {}, Qt::white);
    Command4 = makeButton(respme, "Command4", QRect(24, 128, 57, 25), QStringLiteral("Esci"));

    // The browser has no screen of its own; its frame stays hidden outside the window.
    frweb = new QFrame(this);
    frweb->setObjectName(QStringLiteral("frweb"));
    frweb->setGeometry(800, 32, 761, 553);
    frweb->setEnabled(false);
    frweb->hide();
    Webvis = new FormBrowser(m_session, this);
    Inet1 = new UpdateDownload(m_session, this);

    connect(Command3, &QPushButton::clicked, this, &aggiorna::Command3_Click);
    connect(Command5, &QPushButton::clicked, this, &aggiorna::Command5_Click);
    connect(installagg, &QPushButton::clicked, this, &aggiorna::installagg_Click);
    connect(Command1, &QPushButton::clicked, this, &aggiorna::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &aggiorna::Command2_Click);
    connect(Command4, &QPushButton::clicked, this, &aggiorna::Command4_Click);
    connect(Webvis, &FormBrowser::documentComplete, this, &aggiorna::Webvis_DocumentComplete);
    connect(Webvis, &FormBrowser::progressChange, this, &aggiorna::Webvis_ProgressChange);
    connect(Inet1, &UpdateDownload::progress, this,
            [this](int percent) { DownloadProgress(QString::number(percent)); });
}

void aggiorna::Form_Load() {
    m_procedure.readAccount();
}

void aggiorna::showResponse(const QString& text) {
    messag->setText(text);
    respme->show();
    respme->raise();
    comunicazione->setEnabled(true);
}

void aggiorna::waitForPage() {
    if (!PageLoading)
        return;
    // The browser always completes: on success, on failure and at its time limit.
    QEventLoop loop;
    connect(Webvis, &FormBrowser::documentComplete, &loop, &QEventLoop::quit);
    if (PageLoading)
        loop.exec();
}

void aggiorna::Command3_Click() {
    if (!m_session.isConnected()) {
        m_prompts.message(QStringLiteral("Connessione internet assente. Attivarla e riprovare."));
        return;
    }
    if (const QString blocked = m_procedure.loginBlocked(canVerify(), noKeyText()); !blocked.isEmpty()) {
        showResponse(blocked);
        return;
    }
    m_procedure.beginLogin();
    comunicazione->setEnabled(false);
    Label16->setText(QStringLiteral("Connessione ad Orvanta in corso ... "));
    ProgressBar1->setValue(0);
    attesa->show();
    attesa->raise();
    PageLoading = true;
    Webvis->navigate(m_session.url(QString::fromLatin1(LoginPage::kPath)));
    waitForPage();
    if (m_closing)
        return;
    attesa->hide();
    if (const QString problem = UpdateProcedure::loginPageProblem(Webvis->page().bodyHtml());
        !problem.isEmpty()) {
        showResponse(problem);
        return;
    }
    Webvis->page().setValue(QStringLiteral("username"), m_procedure.account().name);
    Webvis->page().setValue(QStringLiteral("password"), m_procedure.account().password);
    PageLoading = true;
    Label16->setText(QStringLiteral("Convalida credenziali Vetra in corso"));
    ProgressBar1->setValue(0);
    attesa->show();
    Webvis->submitFirstForm();
    waitForPage();
    if (m_closing)
        return;
    attesa->hide();
    const UpdateProcedure::Answer reply = m_procedure.loginAnswered(Webvis->page().bodyText());
    if (!reply.problem.isEmpty()) {
        showResponse(reply.problem);
        return;
    }
    if (reply.authorised) {
        comunicazione->setEnabled(true);
        Command5->show();
    }
    // Without CONTINUA, the instruction to click it would leave the operator stranded.
    Command3->hide();
    generica->setText(
        reply.authorised
            ? QStringLiteral("Cliccare CONTINUA per iniziare il download della nuova versione di Vetra")
            : refusedAccountText());
    if (!reply.personalMessage.isEmpty()) {
        messpersonale->setText(reply.personalMessage);
        messpersonale->show();
    }
}

void aggiorna::Command5_Click() {
    Command5->setEnabled(false);
    ProgressBar1->setValue(0);
    Command1->hide();
    Command2->show();
    RunDownload();
}

void aggiorna::RunDownload() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Label16->setText(QStringLiteral("Download nuova versione in corso ..."));
    attesa->show();
    attesa->raise();
    const QString updater = modulo1::UpdaterFile();
    // The transfer; DownloadFile's closing steps follow here.
    const UpdateDownload::Outcome outcome = Inet1->run(
        m_session.url(QStringLiteral("/vetra/agg/download.asp")), updater, m_procedure.expectedBytes());
    QApplication::restoreOverrideCursor();
    // The cancel handler has already put the window back to its ready state.
    if (m_procedure.cancelled() || outcome == UpdateDownload::Outcome::Cancelled || m_closing)
        return;
    generica->setText(QStringLiteral("Clicca su Installa Aggiornamento, per completare la procedura."));
    Command2->hide();
    Command1->show();
    if (outcome == UpdateDownload::Outcome::Accepted) {
        const bool verified = verifyDownload(updater);
        if (m_closing)
            return;
        attesa->hide();
        if (verified) {
            Command5->hide();
            Command5->setEnabled(true);
            installagg->show();
            return;
        }
        stopped(notVerifiedText());
    } else if (outcome == UpdateDownload::Outcome::WriteFailed) {
        attesa->hide();
        // Not the file's fault: say what stopped the write, so the operator can free the disk or fix the
        // folder.
        stopped(QStringLiteral("Impossibile salvare l'aggiornamento in %1.\nMotivo: %2")
                    .arg(QDir::toNativeSeparators(updater), Inet1->errorString()));
    } else if (outcome == UpdateDownload::Outcome::ConnectionFailed) {
        attesa->hide();
        stopped(connectionText(Inet1->errorString()));
    } else {
        attesa->hide();
        stopped(QStringLiteral("Il file scaricato non è valido per l'aggiornamento.\n"
                               "Se il problema persiste, rivolgersi ad Orvanta."));
    }
    Command5->hide();
    Command5->setEnabled(true);
    Command3->show();
}

bool aggiorna::verifyDownload(const QString& updater) {
    // The signature comes over the same session, from beside the updater.
    Label16->setText(QStringLiteral("Verifica dell'aggiornamento in corso ..."));
    const QUrl signatureUrl = m_session.url(QStringLiteral("/vetra/agg/download.asp.minisig"));
    const HttpSession::Fetch fetch = m_session.getSmall(signatureUrl, m_session.limits().pageTotalMs,
                                                        UpdateSignature::kMostSignatureBytes);
    UpdateSignature::Result result = UpdateSignature::Result::Malformed;
    // Checked and made runnable through one descriptor: the file just written, not
    // whatever another operator may have renamed into its place since.
    UpdateFiles::HeldFile held(updater);
    if (fetch.ok && fetch.status == 200 && !fetch.truncated)
        result = held.isOursAlone()
                     ? UpdateSignature::verifyOpenFile(held.fd(), fetch.body, m_session.updateKey())
                     : UpdateSignature::Result::Unreadable;
    else
        qCDebug(lcUpdate) << "no signature for the updater: status" << fetch.status << fetch.error;
    if (result == UpdateSignature::Result::Valid && UpdateFiles::makeRunnable(held.fd())) {
        m_procedure.setSignature(fetch.body);
        return true;
    }
    qCDebug(lcUpdate) << "updater refused, signature check" << static_cast<int>(result);
    QFile::remove(updater);
    m_procedure.setSignature(QByteArray());
    return false;
}

void aggiorna::stopped(const QString& what) {
    m_prompts.message(what);
    // The text of the finished download ("Clicca su Installa Aggiornamento") would send the
    // operator to a button that is no longer there.
    generica->setText(stoppedText(what));
}

void aggiorna::backToStart() {
    installagg->hide();
    Command5->hide();
    Command5->setEnabled(true);
    Command3->show();
}

void aggiorna::DownloadProgress(const QString& percent) {
    bool ok = false;
    const int value = percent.toInt(&ok);
    if (ok && value >= 0 && value <= 100)
        ProgressBar1->setValue(value);
}

void aggiorna::Command2_Click() {
    m_procedure.cancel();
    Inet1->cancel();
    attesa->hide();
    generica->setText(startText());
    Command5->setEnabled(true);
    Command5->hide();
    Command3->show();
    messpersonale->hide();
    installagg->hide();
    Command2->hide();
    Command1->show();
}

void aggiorna::Command4_Click() {
    respme->hide();
    comunicazione->setEnabled(true);
}

void aggiorna::Command1_Click() {
    stopWork();
    accept();
}

void aggiorna::installagg_Click() {
    const QString updater = modulo1::UpdaterFile();
    // The file may have changed since it was verified: only a safe place and the very
    // file that was signed are started.
    if (!canVerify()) {
        m_prompts.message(noKeyText());
        generica->setText(noKeyText()); // trying again cannot help
        backToStart();
        return;
    }
    if (!modulo1::FileExists(updater)) {
        stopped(notVerifiedText());
        backToStart();
        return;
    }
    if (!UpdateFiles::isSafeProgram(updater)) {
        const QString folder = QDir::toNativeSeparators(modulo1::DataFolder());
        stopped(QStringLiteral("L'aggiornamento non è stato avviato: la cartella %1 o il file %2 "
                               "possono essere modificati da altri utenti del computer.\n"
                               "L'amministratore del sistema deve eseguire: chmod o-w %1 %2")
                    .arg(folder, QDir::toNativeSeparators(updater)));
        backToStart();
        return;
    }
    // Open once: the check reads this descriptor and the start goes through it, so a file
    // renamed over the updater after the check is not what starts.
    UpdateFiles::HeldFile held(updater);
    if (!held.isOursAlone() ||
        UpdateSignature::verifyOpenFile(held.fd(), m_procedure.signature(), m_session.updateKey()) !=
            UpdateSignature::Result::Valid) {
        qCDebug(lcUpdate) << "the updater changed after its check; not started";
        QFile::remove(updater);
        m_procedure.setSignature(QByteArray());
        stopped(notVerifiedText());
        backToStart();
        return;
    }
    if (m_beforeStart)
        m_beforeStart();
    m_starter(held.startPath()); // a failure to start changes nothing: the program ends all the same
    m_endProgram();
}

void aggiorna::Webvis_DocumentComplete() {
    PageLoading = false;
}

void aggiorna::Webvis_ProgressChange(qint64 progress, qint64 progressMax) {
    if (progress == -1) {
        ProgressBar1->setValue(100);
    } else if (progress > 0 && progressMax > 0) {
        const qint64 percent = progress * 100 / progressMax;
        if (percent >= 0 && percent <= 100)
            ProgressBar1->setValue(static_cast<int>(percent));
    }
}

void aggiorna::stopWork() {
    // Closing while a page or the transfer is on its way ends that wait first; the
    // handler underneath sees m_closing and leaves the window alone.
    if (PageLoading || Inet1->isRunning()) {
        m_closing = true;
        m_procedure.cancel();
        Webvis->stop();
        Inet1->cancel();
    }
}

void aggiorna::reject() {
    stopWork();
    QDialog::reject();
}

void aggiorna::closeEvent(QCloseEvent* event) {
    stopWork();
    QDialog::closeEvent(event);
}
