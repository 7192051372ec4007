#include "tests/support/AggiornaDriver.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UpdateFixture.h"
#include "update/FormBrowser.h"
#include "update/RemoteAssistance.h"
#include "update/UpdateAccount.h"
#include "update/UpdateDownload.h"
#include "update/VersionReply.h"
#include "update/aggiorna.h"

#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTcpServer>
#include <QTimer>

namespace {

const QString kRejected = QStringLiteral("Il file scaricato non è valido per l'aggiornamento.\n"
                                         "Se il problema persiste, rivolgersi ad Orvanta.");
const QString kNoServer = QStringLiteral(
    "Non è stato possibile accedere al server di Orvanta. Riprovare più tardi o contattare l'assistenza.");

QByteArray makePayload(qsizetype size) {
    QByteArray payload(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        payload[i] = static_cast<char>((i * 7 + i / 1024) & 0xFF);
    return payload;
}

QByteArray fileContents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestNetwork : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // --- login -------------------------------------------------------------------------
    void loginFailures_data() {
        QTest::addColumn<bool>("account");
        QTest::addColumn<QByteArray>("loginPage");
        QTest::addColumn<int>("loginMode");
        QTest::addColumn<QString>("shown");
        const int normal = static_cast<int>(VendorServer::Mode::Normal);
        QTest::newRow("no account") << false << VendorServer::defaultLoginPage() << normal
                                    << QStringLiteral(
                                           "Alcuni file di Vetra risultano mancanti. Impossibile procedere "
                                           "con l'aggiornamento.");
        QTest::newRow("page without the marker")
            << true << QByteArray("<html><body>manutenzione</body></html>") << normal << kNoServer;
        QTest::newRow("marker only outside the body")
            << true << QByteArray("<html><head><title>loggare</title></head><body>x</body></html>") << normal
            << kNoServer;
        QTest::newRow("never answers") << true << VendorServer::defaultLoginPage()
                                       << static_cast<int>(VendorServer::Mode::NeverAnswer) << kNoServer;
        // After the page's time limit, on a timer of the same event loop as the limit's.
        QTest::newRow("answers after its time limit")
            << true << VendorServer::defaultLoginPage() << static_cast<int>(VendorServer::Mode::Late)
            << kNoServer;
        QTest::newRow("trickling page") << true << VendorServer::defaultLoginPage()
                                        << static_cast<int>(VendorServer::Mode::Trickle) << kNoServer;
        QTest::newRow("endless page")
            << true << QByteArray() << static_cast<int>(VendorServer::Mode::Endless) << kNoServer;
        QTest::newRow("empty reply")
            << true << QByteArray("<body>loggare<form method=post action=vuoto.asp></form></body>") << normal
            << QStringLiteral("La verifica dei dati di accesso non è riuscita. Riprovare; "
                              "se il problema persiste contattare l'assistenza di Orvanta.");
        QTest::newRow("no form") << true << QByteArray("<body>loggare</body>") << normal
                                 << QStringLiteral(
                                        "La verifica dei dati di accesso non è riuscita. Riprovare; "
                                        "se il problema persiste contattare l'assistenza di Orvanta.");
    }

    void loginFailures() {
        QFETCH(bool, account);
        QFETCH(QByteArray, loginPage);
        QFETCH(int, loginMode);
        QFETCH(QString, shown);
        UpdateFixture fixture(account);
        fixture.server.loginPage = loginPage;
        fixture.server.loginMode = static_cast<VendorServer::Mode>(loginMode);
        aggiorna window(fixture.prompts, *fixture.session);
        QElapsedTimer clock;
        clock.start();
        window.Command3_Click();
        // The wait the operator sees when the server never answers: the page's limit, with
        // room for a loaded machine.
        if (static_cast<VendorServer::Mode>(loginMode) == VendorServer::Mode::NeverAnswer)
            QVERIFY2(clock.elapsed() < 10 * fixture.session->limits().pageTotalMs,
                     qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(ui(window).messag->text(), shown);
        QVERIFY(ui(window).respme->isVisibleTo(&window));
        QVERIFY(ui(window).comunicazione->isEnabled());
        QVERIFY(!ui(window).attesa->isVisibleTo(&window));
        QVERIFY(ui(window).Command5->isHidden());
        QCOMPARE(fixture.server.requests.isEmpty(), !account);
        ui(window).Command4->click(); // Esci
        QVERIFY(ui(window).respme->isHidden());
    }

    void accountFromInstallationFile_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::newRow("plain") << QByteArray("[Account]\nUtente=mario\nPassword=segreta\n")
                               << QStringLiteral("mario") << QStringLiteral("segreta");
        QTest::newRow("commas, equals and blanks")
            << QByteArray("[Installazione]\r\nCodice=AB12\r\n[Account]\r\nUtente = mario rossi \r\n"
                          "Password=a,b=c; d\r\n")
            << QStringLiteral("mario rossi") << QStringLiteral("a,b=c; d");
        QTest::newRow("quoted") << QByteArray("[Account]\nUtente=\"x\"\nPassword=\" y \"\n")
                                << QStringLiteral("x") << QStringLiteral(" y ");
        QTest::newRow("keys of another group")
            << QByteArray("[Altro]\nUtente=mario\nPassword=segreta\n[Account]\n") << QString() << QString();
        QTest::newRow("no file") << QByteArray() << QString() << QString();
    }

    void accountFromInstallationFile() {
        QFETCH(QByteArray, file);
        QFETCH(QString, name);
        QFETCH(QString, password);
        UpdateFixture fixture(false);
        if (!file.isEmpty())
            fixture.writeInstallationFile(file);
        const UpdateAccount account = UpdateAccount::read();
        QCOMPARE(account.name, name);
        QCOMPARE(account.password, password);
        QCOMPARE(account.isBlank(), name.isEmpty());
    }

    void loginWithoutConnection() {
        UpdateFixture fixture;
        fixture.session->setConnectionTest([] { return false; });
        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();
        QCOMPARE(fixture.prompts.messages,
                 QStringList{QStringLiteral("Connessione internet assente. Attivarla e riprovare.")});
        QVERIFY(fixture.server.requests.isEmpty());
    }

    void loginReplies_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("mayContinue");
        QTest::addColumn<QString>("expectedSize");
        QTest::addColumn<QString>("personal");
        QTest::newRow("authorised with size") << QByteArray("<p>dimensione 1.234 utente autorizzato</p>")
                                              << true << QStringLiteral("1234000") << QString();
        QTest::newRow("authorised, no size")
            << QByteArray("<p>utente autorizzato</p>") << true << QString() << QString();
        QTest::newRow("wrong order") << QByteArray("utente autorizzato<br>dimensione 1.234") << true
                                     << QString() << QString();
        QTest::newRow("not authorised")
            << QByteArray("<p>dimensione 1.234 utente scaduto</p>") << false << QString() << QString();
        QTest::newRow("refused, with a personal message")
            << QByteArray("<p>accesso negato</p><p>iniziomessaggio Contratto scaduto finemessaggio</p>")
            << false << QString() << QStringLiteral("Contratto scaduto");
        QTest::newRow("personal message") << QByteArray("<div>utente autorizzato</div><div>iniziomessaggio "
                                                        "Rinnovo in scadenza finemessaggio</div>")
                                          << true << QString() << QStringLiteral("Rinnovo in scadenza");
        QTest::newRow("empty personal message")
            << QByteArray("<div>utente autorizzato</div><p>iniziomessaggio</p><p>finemessaggio</p>") << true
            << QString() << QString();
    }

    void loginReplies() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, mayContinue);
        QFETCH(QString, expectedSize);
        QFETCH(QString, personal);
        UpdateFixture fixture;
        fixture.server.replyBody = reply;
        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();

        QCOMPARE(ui(window).Command5->isVisibleTo(&window), mayContinue);
        QCOMPARE(ui(window).comunicazione->isEnabled(), mayContinue);
        QVERIFY(ui(window).Command3->isHidden());
        // Without CONTINUA the window says the account was not accepted.
        QCOMPARE(ui(window).generica->text(),
                 mayContinue ? QStringLiteral(
                                   "Cliccare CONTINUA per iniziare il download della nuova versione di Vetra")
                             : aggiorna::refusedAccountText());
        QCOMPARE(window.procedure().expectedSize(), expectedSize);
        QCOMPARE(ui(window).messpersonale->isVisibleTo(&window), !personal.isEmpty());
        if (!personal.isEmpty())
            QCOMPARE(ui(window).messpersonale->text(), personal);
        QVERIFY(fixture.prompts.messages.isEmpty());
        QCOMPARE(ui(window).ProgressBar1->value(), 100);
    }

    // The vendor's own refusal of a wrong password: said plainly, no CONTINUA, no retry loop.
    void wrongPasswordSaidPlainly() {
        UpdateFixture fixture;
        fixture.server.password = "un'altra";
        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();
        QCOMPARE(ui(window).generica->text(), aggiorna::refusedAccountText());
        QVERIFY(ui(window).Command5->isHidden() && ui(window).Command3->isHidden());
        QVERIFY(ui(window).Command1->isVisibleTo(&window));
        QVERIFY(fixture.server.authorisedSessions.isEmpty());
    }

    void loginSendsTheFormAsABrowserWould() {
        UpdateFixture fixture;
        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();
        const auto& requests = fixture.server.requests;
        QCOMPARE(requests.size(), 3); // login page, form, redirect to the reply
        QCOMPARE(requests.at(0).target, QByteArray("/vetra/agg/utility.asp?method=abandon"));
        QCOMPARE(requests.at(1).method, QByteArray("POST"));
        QCOMPARE(requests.at(1).target, QByteArray("/vetra/agg/verifica.asp?fase=1"));
        QCOMPARE(requests.at(1).headers.value("content-type"),
                 QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(requests.at(1).body,
                 QByteArray("token=T0K%263N&stato=a+b&username=mario+rossi&pwd_field=p%26ss+word"));
        QCOMPARE(requests.at(1).headers.value("cookie"),
                 QByteArray("ASPSESSION=" + *fixture.server.authorisedSessions.cbegin()));
        QCOMPARE(requests.at(2).target, QByteArray("/vetra/agg/esito.asp"));
        QCOMPARE(fixture.server.authorisedSessions.size(), 1);
        QVERIFY(ui(window).Command5->isVisibleTo(&window));
    }

    // --- download ----------------------------------------------------------------------
    void download_data() {
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("message"); // what a refused file says
        const int normal = static_cast<int>(VendorServer::Mode::Normal);
        const QString lost = aggiorna::connectionText(QStringLiteral("la connessione si è interrotta"));
        const QString silent = aggiorna::connectionText(QStringLiteral("il server non ha più risposto"));
        QTest::newRow("exactly the expected size") << qsizetype(1234000) << normal << true << QString();
        QTest::newRow("smaller") << qsizetype(5000) << normal << true << QString();
        QTest::newRow("one byte too many") << qsizetype(1234001) << normal << false << kRejected;
        QTest::newRow("reset mid-body")
            << qsizetype(1234000) << static_cast<int>(VendorServer::Mode::ResetMidBody) << false << lost;
        QTest::newRow("reset mid-body, small file")
            << qsizetype(5000) << static_cast<int>(VendorServer::Mode::ResetMidBody) << false << lost;
        QTest::newRow("silent mid-body")
            << qsizetype(1234000) << static_cast<int>(VendorServer::Mode::StallMidBody) << false << silent;
        QTest::newRow("never answers")
            << qsizetype(1234000) << static_cast<int>(VendorServer::Mode::NeverAnswer) << false << silent;
        QTest::newRow("answers after its silence limit")
            << qsizetype(1234000) << static_cast<int>(VendorServer::Mode::Late) << false << silent;
        QTest::newRow("endless body")
            << qsizetype(0) << static_cast<int>(VendorServer::Mode::Endless) << false << kRejected;
    }

    void download() {
        QFETCH(qsizetype, size);
        QFETCH(int, mode);
        QFETCH(bool, accepted);
        QFETCH(QString, message);
        UpdateFixture fixture;
        const QByteArray payload = makePayload(size);
        fixture.server.payload = payload;
        fixture.server.downloadMode = static_cast<VendorServer::Mode>(mode);
        fixture.server.chunkDelayMs = 2;
        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();
        QCOMPARE(window.procedure().expectedSize(), QStringLiteral("1234000"));

        QList<int> progress;
        connect(ui(window).ProgressBar1, &QProgressBar::valueChanged, this,
                [&](int value) { progress.append(value); });
        bool duringTransfer = false;
        fixture.server.onRequest = [&](const VendorServer::Request& request) {
            if (request.target != "/vetra/agg/download.asp")
                return; // the signature, fetched after the transfer
            duringTransfer =
                request.headers.value("range") == "bytes=0-" && ui(window).Command2->isVisibleTo(&window) &&
                ui(window).Command1->isHidden() && !ui(window).Command5->isEnabled() &&
                ui(window).Label16->text() == QStringLiteral("Download nuova versione in corso ...");
        };
        QElapsedTimer clock;
        clock.start();
        ui(window).Command5->click();
        // The wait the operator sees when the server never answers: the silence limit, with
        // room for a loaded machine.
        if (static_cast<VendorServer::Mode>(mode) == VendorServer::Mode::NeverAnswer)
            QVERIFY2(clock.elapsed() < 10 * fixture.session->limits().transferSilenceMs,
                     qPrintable(QString::number(clock.elapsed())));
        QVERIFY(duringTransfer);

        const QString updater = modulo1::UpdaterFile();
        QCOMPARE(QFileInfo(updater).fileName(), QStringLiteral("agAB12.EXE"));
        QCOMPARE(ui(window).Command2->isHidden(), true);
        QCOMPARE(ui(window).Command1->isVisibleTo(&window), true);
        QVERIFY(!ui(window).attesa->isVisibleTo(&window));
        // Once refused, the window no longer points at the install button it has hidden.
        QCOMPARE(ui(window).generica->text(),
                 accepted ? QStringLiteral("Clicca su Installa Aggiornamento, per completare la procedura.")
                          : aggiorna::stoppedText(message));
        if (accepted) {
            QVERIFY(fixture.prompts.messages.isEmpty());
            QCOMPARE(fileContents(updater), payload);
            QVERIFY(QFileInfo(updater).permissions().testFlag(QFileDevice::ExeOwner));
            QVERIFY(ui(window).installagg->isVisibleTo(&window));
            QVERIFY(ui(window).Command5->isHidden());
            QVERIFY(!progress.isEmpty());
            QVERIFY(std::is_sorted(progress.cbegin(), progress.cend()));
            if (size == 1234000)
                QVERIFY(progress.size() > 3 && progress.constLast() == 100);
            QCOMPARE(fixture.strayFiles(), QStringList{QStringLiteral("agAB12.EXE")});
        } else {
            QCOMPARE(fixture.prompts.messages, QStringList{message});
            QVERIFY(ui(window).installagg->isHidden());
            QVERIFY(ui(window).Command3->isVisibleTo(&window));
            QVERIFY(ui(window).Command5->isHidden());
            QVERIFY(fixture.strayFiles().isEmpty());
        }
    }

    void cancelMidTransfer() {
        UpdateFixture fixture;
        fixture.server.payload = makePayload(1234000);
        fixture.server.chunkSize = 16 * 1024;
        fixture.server.chunkDelayMs = 5;
        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();
        QCOMPARE(ui(window).messpersonale->isHidden(), true);

        qint64 receivedAtCancel = -1;
        connect(ui(window).ProgressBar1, &QProgressBar::valueChanged, this, [&](int value) {
            if (value >= 20 && receivedAtCancel < 0) {
                receivedAtCancel = ui(window).Inet1->received();
                ui(window).Command2->click(); // ANNULLA
            }
        });
        ui(window).Command5->click();
        QVERIFY(receivedAtCancel > 0);
        QCOMPARE(ui(window).Inet1->received(), receivedAtCancel); // not one more piece
        QVERIFY(window.procedure().cancelled());
        QVERIFY(fixture.strayFiles().isEmpty());
        QVERIFY(fixture.prompts.messages.isEmpty());
        QCOMPARE(ui(window).generica->text(), aggiorna::startText());
        QVERIFY(ui(window).Command3->isVisibleTo(&window));
        QVERIFY(ui(window).Command5->isHidden() && ui(window).Command5->isEnabled());
        QVERIFY(ui(window).Command2->isHidden() && ui(window).Command1->isVisibleTo(&window));
        QVERIFY(ui(window).installagg->isHidden() && ui(window).attesa->isHidden());

        // A new login clears the flag and the download runs to its end.
        fixture.server.chunkDelayMs = 0;
        window.Command3_Click();
        QVERIFY(!window.procedure().cancelled());
        ui(window).Command5->click();
        QVERIFY(ui(window).installagg->isVisibleTo(&window));
        QCOMPARE(fileContents(modulo1::UpdaterFile()), fixture.server.payload);
    }

    void olderLongerFileReplacedWhole() {
        UpdateFixture fixture;
        QFile old(modulo1::UpdaterFile());
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(2000000, 'X'));
        old.close();
        fixture.server.payload = makePayload(1000);
        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();
        ui(window).Command5->click();
        QCOMPARE(fileContents(modulo1::UpdaterFile()), fixture.server.payload);
        QVERIFY(ui(window).installagg->isVisibleTo(&window));
    }

    void noSizeMeansRejected() {
        UpdateFixture fixture;
        fixture.server.replyBody = "utente autorizzato dimensione 1.234";
        fixture.server.payload = makePayload(1000);
        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();
        QList<int> progress;
        connect(ui(window).ProgressBar1, &QProgressBar::valueChanged, this,
                [&](int value) { progress.append(value); });
        ui(window).Command5->click();
        QCOMPARE(progress, QList<int>{0}); // only the reset at the start
        QCOMPARE(fixture.prompts.messages, QStringList{kRejected});
        QVERIFY(fixture.strayFiles().isEmpty());
    }

    void downloadNeedsTheSession() {
        UpdateFixture fixture;
        fixture.server.payload = makePayload(1000);
        UpdateDownload download(*fixture.session);
        const QString target = modulo1::UpdaterFile();
        QCOMPARE(
            download.run(fixture.session->url(QStringLiteral("/vetra/agg/download.asp")), target, 1234000),
            UpdateDownload::Outcome::Failed); // 403 page, not an updater
        QVERIFY(!QFile::exists(target));
        QVERIFY(fixture.strayFiles().isEmpty());
    }

    void installStartsUpdaterAndEnds_data() {
        QTest::addColumn<bool>("starts");
        QTest::newRow("starts") << true;
        QTest::newRow("fails to start") << false;
    }

    void installStartsUpdaterAndEnds() {
        QFETCH(bool, starts);
        UpdateFixture fixture;
        fixture.server.payload = makePayload(1000);
        aggiorna window(fixture.prompts, *fixture.session);
        QStringList events;
        window.setStarter([&](const QString& program) {
            // The updater must be executable by the time it is started, and be the one downloaded.
            const bool downloaded = TestFiles::readAll(program) == fixture.server.payload;
            events << (QFileInfo(program).isExecutable() ? QStringLiteral("start")
                                                         : QStringLiteral("no-exec")) +
                          (downloaded ? QString() : QStringLiteral(" (not the download)"));
            return starts;
        });
        window.setProgramEnd([&] { events << QStringLiteral("end"); });
        window.Command3_Click();
        ui(window).Command5->click();
        ui(window).installagg->click();
        QCOMPARE(events, (QStringList{QStringLiteral("start"), QStringLiteral("end")}));
    }

    void closingDuringLoginEndsTheWait() {
        UpdateFixture fixture;
        fixture.server.loginMode = VendorServer::Mode::NeverAnswer;
        HttpSession::Limits limits = fixture.session->limits();
        limits.pageTotalMs = 60000;
        fixture.session->setLimits(limits);
        aggiorna window(fixture.prompts, *fixture.session);
        window.show();
        fixture.server.onRequest = [&](const VendorServer::Request&) {
            QTimer::singleShot(20, &window, [&] { ui(window).Command1->click(); });
        };
        QElapsedTimer clock;
        clock.start();
        window.Command3_Click();
        // Had the close not ended the wait, the page's own limit would have: it cannot have
        // run out before its time.
        QVERIFY2(clock.elapsed() < limits.pageTotalMs, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!window.isVisible());
        QVERIFY(fixture.prompts.messages.isEmpty());
    }

    void closingDuringDownloadLeavesNoFile() {
        UpdateFixture fixture;
        fixture.server.payload = makePayload(1234000);
        fixture.server.chunkSize = 16 * 1024;
        fixture.server.chunkDelayMs = 5;
        aggiorna window(fixture.prompts, *fixture.session);
        window.show();
        window.Command3_Click();
        connect(ui(window).ProgressBar1, &QProgressBar::valueChanged, &window, [&](int value) {
            if (value >= 10 && window.isVisible())
                window.close();
        });
        ui(window).Command5->click();
        QVERIFY(!window.isVisible());
        QVERIFY(fixture.strayFiles().isEmpty());
        QVERIFY(fixture.prompts.messages.isEmpty());
    }

    // --- remote assistance --------------------------------------------------------------
    void remoteAssistance_data() {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("starts");
        QTest::addColumn<QStringList>("after"); // messages after the data-folder path
        QTest::addColumn<bool>("started");
        const QString noConnection =
            QStringLiteral("Connessione Internet assente, impossibile avviare la TeleAssistenza.");
        const QString missing = QStringLiteral("Il programma di TeleAssistenza non è stato trovato.");
        QTest::newRow("starts") << true << true << true << QStringList() << true;
        QTest::newRow("no connection, no file")
            << false << false << true << QStringList{noConnection} << false;
        QTest::newRow("no connection, file present")
            << false << true << true << QStringList{noConnection} << false;
        QTest::newRow("file missing") << true << false << true << QStringList{missing} << false;
        QTest::newRow("fails to start")
            << true << true << false
            << QStringList{QStringLiteral("Impossibile avviare il programma di TeleAssistenza.")} << true;
    }

    void remoteAssistance() {
        QFETCH(bool, connected);
        QFETCH(bool, present);
        QFETCH(bool, starts);
        QFETCH(QStringList, after);
        QFETCH(bool, started);
        UpdateFixture fixture;
        if (present) {
            QFile program(RemoteAssistance::programPath());
            QVERIFY(program.open(QIODevice::WriteOnly));
        }
        QStringList startedPrograms;
        RemoteAssistance::Hooks hooks;
        hooks.isConnected = [&] {
            // The data folder is shown before the connection is tested.
            return fixture.prompts.messages.size() == 1 && connected;
        };
        hooks.start = [&](const QString& program) {
            startedPrograms << program;
            return starts;
        };
        RemoteAssistance::launch(fixture.prompts, hooks);
        QCOMPARE(fixture.prompts.messages, QStringList{modulo1::DataFolder()} + after);
        QVERIFY(modulo1::DataFolder().endsWith(QLatin1String("/Orvanta/Vetra/")));
        QCOMPARE(startedPrograms, started
                                      ? QStringList{modulo1::DataFolder() + QStringLiteral("supporto.exe")}
                                      : QStringList());
    }
};

QObject* makeNetworkTest() {
    return new TestNetwork;
}

#include "tst_network.moc"
