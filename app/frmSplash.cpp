#include "app/frmSplash.h"

#include "env/Artwork.h"
#include "env/Prompts.h"
#include "env/Settings.h"
#include "env/SingleInstance.h"
#include "env/WindowControls.h"
#include "env/modulo1.h"
#include "update/HttpSession.h"
#include "update/RemoteAssistance.h"
#include "update/VersionReply.h"
#include "update/aggiorna.h"
#include "version.h"
#include "workspace/frmScanner.h"

#include <QCoreApplication>
#include <QFile>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace {

const QColor kBlue(0, 0, 192);
const QColor kBrightBlue(0, 0, 255);
const QColor kYellow(255, 255, 0);

using WindowControls::paintBackground;

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry,
                  const QColor& ink, int pointSize, bool bold = false) {
    return WindowControls::label(parent, name, text, geometry, WindowControls::serif(pointSize, bold), ink,
                                 Qt::AlignLeft | Qt::AlignVCenter);
}

} // namespace

QString runningVersionText() {
    return QString::number(vetra::kVersionMajor) + QLatin1Char('.') + QString::number(vetra::kVersionMinor);
}

frmSplash::frmSplash(Prompts& prompts, QWidget* parent) : QWidget(parent), m_prompts(prompts) {
    setWindowTitle(QStringLiteral("Vetra by Orvanta"));
    setFixedSize(594, 380);
    paintBackground(this, kBlue);
    buildControls();
}

frmSplash::~frmSplash() = default;

void frmSplash::buildControls() {
    using WindowControls::Border;
    Frame1 = WindowControls::frame(this, "Frame1", QRect(8, 8, 577, 305), kBlue, Border::Sunken);

    imgLogo = makeLabel(Frame1, "imgLogo", QString(), QRect(8, 16, 123, 123), Qt::white, 9);
    imgLogo->setAlignment(Qt::AlignCenter);
    imgLogo->setPixmap(Artwork::logo(119));

    lblProductName = makeLabel(Frame1, "lblProductName", QStringLiteral("Vetra"), QRect(152, 24, 117, 54),
                               Qt::white, 28, true);
    lblVersion =
        makeLabel(Frame1, "lblVersion", QStringLiteral("Vers. "), QRect(316, 56, 40, 18), kYellow, 9, true);
    lblVersion->setWordWrap(false);
    lblWarning =
        makeLabel(Frame1, "lblWarning", QStringLiteral("Software di Scansione Foto e Firma formato D.T.T."),
                  QRect(152, 80, 417, 45), Qt::white, 13, true);
    Label3 =
        makeLabel(Frame1, "Label3",
                  QStringLiteral("Attenzione: questo programma è tutelato dalle leggi sul diritto d'autore. "
                                 "La riproduzione o la distribuzione non autorizzata, totale o parziale, è "
                                 "vietata e sarà perseguita a norma di legge."),
                  QRect(8, 184, 561, 54), QColor(220, 220, 255), 9);
    lblCompany = makeLabel(Frame1, "lblCompany",
                           QStringLiteral("Orvanta S.r.l.  -  www.orvanta.it  -  assistenza@orvanta.it  -  "
                                          "Tel. 0461 000000"),
                           QRect(8, 248, 561, 40), Qt::white, 10, true);

    Command3 = WindowControls::pictureButton(Frame1, "Command3", QRect(440, 128, 121, 40),
                                             Artwork::buttonFace(Artwork::Icon::Check,
                                                                 QStringLiteral("Verifica\nAggiornamenti"),
                                                                 QSize(117, 36), kYellow),
                                             kYellow);
    Command3->setToolTip(QStringLiteral("Controlla se è disponibile una nuova versione"));

    const QColor face(212, 208, 200);
    Command2 = WindowControls::pictureButton(
        this, "Command2", QRect(8, 336, 81, 33),
        Artwork::buttonFace(Artwork::Icon::Exit, QStringLiteral("Esci"), QSize(77, 29), face), face);
    Command2->setToolTip(QStringLiteral("Chiude il programma"));
    Command1 = WindowControls::pictureButton(
        this, "Command1", QRect(504, 336, 81, 33),
        Artwork::buttonFace(Artwork::Icon::Enter, QStringLiteral("Avvia"), QSize(77, 29), face), face);
    Command1->setToolTip(QStringLiteral("Apre l'area di lavoro"));

    attesa = WindowControls::frame(this, "attesa", QRect(96, 152, 441, 97), kBrightBlue, Border::Sunken);
    attesa->hide();
    Label16 = makeLabel(attesa, "Label16", QStringLiteral("Attendere, Controllo Versione  in Corso  ...."),
                        QRect(8, 32, 425, 33), Qt::white, 12, true);
    Label16->setAlignment(Qt::AlignCenter);
    ProgressBar1 = new QProgressBar(attesa);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(24, 64, 393, 17);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    connect(Command1, &QPushButton::clicked, this, &frmSplash::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmSplash::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &frmSplash::Command3_Click);
}

void frmSplash::setInstanceLockPath(const QString& path) {
    m_lockPath = path;
}

bool frmSplash::Form_Load() {
    // 1. Version label.
    // The label grows to the right to hold the number, as an auto-sized label does.
    lblVersion->setText(QStringLiteral("Vers. ") + runningVersionText());
    lblVersion->resize(qMax(lblVersion->width(), lblVersion->sizeHint().width()), lblVersion->height());

    // 2. Data folder; a failed lookup has shown its message and start-up goes on.
    modulo1::ResolveDataFolder(m_prompts);

    // 3. Single instance. Comes before the leftover updater, which may belong to the
    //    running instance.
    m_instance = std::make_unique<SingleInstance>(m_lockPath);
    if (!m_instance->acquire()) {
        m_prompts.message(QStringLiteral("Vetra è già in esecuzione."));
        return false;
    }

    // Settings that cannot be read (a FIFO would block the start for good) are left alone:
    // the program goes on with its defaults and says so.
    if (const QString refusal = Settings::refusal(); !refusal.isEmpty())
        m_prompts.message(refusal);

    // Scanned pages left by a run that did not end normally: no one else can be using them.
    modulo1::RemoveScanLeftovers();

    // 4. Leftover updater of an earlier update. If it cannot be removed (still running,
    //    or a read-only folder) start-up goes on; the next start tries again.
    const QString updater = modulo1::UpdaterFile();
    if (modulo1::FileExists(updater))
        QFile::remove(updater);

    // 5. Ready: all three buttons enabled, wait panel hidden.
    Command1->setEnabled(true);
    Command2->setEnabled(true);
    Command3->setEnabled(true);
    attesa->hide();
    return true;
}

void frmSplash::Command1_Click() {
    if (!m_scanner) {
        m_scanner = std::make_unique<frmScanner>(m_prompts, nullptr);
        m_scanner->setRemoteAssistance([this] { RemoteAssistance::launch(m_prompts); });
    }
    Q_EMIT workspaceShowing(m_scanner.get());
    m_scanner->showModal();
    activateWindow();
}

void frmSplash::Command2_Click() {
    close();
}

HttpSession& frmSplash::httpSession() {
    if (!m_session) {
        m_ownSession = std::make_unique<HttpSession>(HttpSession::defaultBaseUrl());
        m_session = m_ownSession.get();
    }
    return *m_session;
}

void frmSplash::Command3_Click() {
    HttpSession& session = httpSession();
    if (!session.isConnected()) {
        m_prompts.message(QStringLiteral("Connessione Internet assente. Attivarla e riprovare."));
        return;
    }
    Command2->setEnabled(false);
    Command1->setEnabled(false);
    Command3->setEnabled(false);
    ProgressBar1->hide();
    Label16->setText(QStringLiteral("Attendere, Controllo Versione in Corso"));
    attesa->show();
    attesa->raise();

    // Waits in a local event loop for at most the session's version time limit. The loop
    // repaints but holds back the operator's clicks and keys, which would otherwise reach
    // the buttons once they are enabled again: an "Esci" clicked during a slow check would
    // end the program seconds later. They are delivered now, while the buttons are still
    // disabled, so that they are dropped.
    const QString reply = VersionReply::fetch(session);
    QCoreApplication::processEvents();
    attesa->hide();
    const QString running = runningVersionText();

    switch (VersionReply::judge(running, reply)) {
    case VersionReply::Verdict::NoReply:
        break;
    case VersionReply::Verdict::ReceiveError:
        m_prompts.message(
            QStringLiteral("Si è verificato un errore di ricezione dati da Orvanta, impossibile "
                           "stabilire la versione attualmente disponibile."));
        break;
    case VersionReply::Verdict::UpToDate:
        m_prompts.message(QStringLiteral("Risulta installata la versione più aggiornata di Vetra."));
        break;
    case VersionReply::Verdict::Ask:
        if (m_prompts.message(VersionReply::question(running, reply), Prompts::Buttons::YesNo) ==
            Prompts::Answer::Yes) {
            aggiorna window(m_prompts, session, this);
            window.exec();
        }
        break;
    }
    Command2->setEnabled(true);
    Command3->setEnabled(true);
    Command1->setEnabled(true);
}
