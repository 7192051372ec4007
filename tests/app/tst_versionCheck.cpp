// The start-up window's version check against a local vendor server: what the operator is
// told for each answer and each fault, and the window's buttons around it.

#include "app/frmSplash.h"
#include "tests/support/AggiornaDriver.h"
#include "tests/support/UpdateFixture.h"
#include "update/aggiorna.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {

const QString kReceiveError = QStringLiteral("Si è verificato un errore di ricezione dati da Orvanta, "
                                             "impossibile stabilire la versione attualmente disponibile.");

} // namespace

class TestVersionCheck : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // --- version check from the start-up window ---------------------------------------
    void versionCheck_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("message"); // empty: no message at all
        const QString newest = QStringLiteral("Risulta installata la versione più aggiornata di Vetra.");
        const QString receiveError =
            QStringLiteral("Si è verificato un errore di ricezione dati da Orvanta, "
                           "impossibile stabilire la versione attualmente disponibile.");
        const auto ask = [](const char* reply) {
            return QStringLiteral(
                       "In questo Pc è installata la versione 2.26. E' disponibile la nuova versione ") +
                   QString::fromUtf8(reply) + QStringLiteral(" si desidera scaricare la nuova versione ?");
        };
        const int normal = static_cast<int>(VendorServer::Mode::Normal);
        QTest::newRow("same") << QByteArray("2.26") << normal << newest;
        QTest::newRow("newer") << QByteArray("2.27") << normal << ask("2.27");
        QTest::newRow("blanks kept in the question") << QByteArray(" 2.27 ") << normal << ask(" 2.27 ");
        QTest::newRow("3.0 is newer") << QByteArray("3.0") << normal << ask("3.0");
        QTest::newRow("eleven characters") << QByteArray("12345678.90") << normal << receiveError;
        QTest::newRow("error page") << QByteArray("<html><body>errore</body></html>") << normal
                                    << receiveError;
        QTest::newRow("not a version") << QByteArray("abc") << normal << ask("abc");
        QTest::newRow("empty") << QByteArray() << normal << QString();
        QTest::newRow("huge body") << QByteArray() << static_cast<int>(VendorServer::Mode::Endless)
                                   << receiveError;
        QTest::newRow("never answers")
            << QByteArray("2.27") << static_cast<int>(VendorServer::Mode::NeverAnswer) << QString();
        // The server's answer comes after the check's time limit, on a timer of the same event
        // loop: only the limit, never the machine's load, decides that nothing is offered.
        QTest::newRow("answers after its time limit")
            << QByteArray("2.27") << static_cast<int>(VendorServer::Mode::Late) << QString();
        QTest::newRow("trickles past its time limit")
            << QByteArray(1000, ' ') << static_cast<int>(VendorServer::Mode::Trickle) << QString();
        QTest::newRow("reset mid-body")
            << QByteArray("2.27000") << static_cast<int>(VendorServer::Mode::ResetMidBody) << QString();
    }

    void versionCheck() {
        QFETCH(QByteArray, body);
        QFETCH(int, mode);
        QFETCH(QString, message);
        UpdateFixture fixture;
        fixture.server.versionBody = body;
        fixture.server.versionMode = static_cast<VendorServer::Mode>(mode);
        fixture.prompts.answers = {Prompts::Answer::No};
        frmSplash splash(fixture.prompts);
        splash.setHttpSession(fixture.session.get());

        bool disabledWhileAsking = false;
        fixture.server.onRequest = [&](const VendorServer::Request&) {
            disabledWhileAsking =
                !splash.Command1->isEnabled() && !splash.Command2->isEnabled() &&
                !splash.Command3->isEnabled() && splash.attesa->isVisibleTo(&splash) &&
                splash.Label16->text() == QStringLiteral("Attendere, Controllo Versione in Corso");
        };
        QElapsedTimer clock;
        clock.start();
        splash.Command3_Click();
        // What the operator waits through when the server never answers: the limit, with room
        // for a loaded machine, not the minutes a lost limit would take.
        if (static_cast<VendorServer::Mode>(mode) == VendorServer::Mode::NeverAnswer)
            QVERIFY2(clock.elapsed() < 10 * fixture.session->limits().versionTotalMs,
                     qPrintable(QString::number(clock.elapsed())));

        QVERIFY(disabledWhileAsking);
        // Qt's HTTP layer sends the GET again by itself when the connection is reset; the
        // server may read that second copy once the window has handled its pending events.
        const bool resent = static_cast<VendorServer::Mode>(mode) == VendorServer::Mode::ResetMidBody;
        QVERIFY(!fixture.server.requests.isEmpty() && fixture.server.requests.size() <= (resent ? 2 : 1));
        for (const VendorServer::Request& request : std::as_const(fixture.server.requests))
            QCOMPARE(request.target, QByteArray("/vetra/file_vers.txt"));
        QCOMPARE(fixture.prompts.messages.join(QLatin1Char('|')), message);
        if (message.startsWith(QLatin1String("In questo")))
            QCOMPARE(fixture.prompts.messageButtons, QList<Prompts::Buttons>{Prompts::Buttons::YesNo});
        QVERIFY(splash.Command1->isEnabled() && splash.Command2->isEnabled() && splash.Command3->isEnabled());
        QVERIFY(!splash.attesa->isVisibleTo(&splash));
    }

    void versionCheckUnreachable() {
        UpdateFixture fixture;
        fixture.server.close(); // refuses from now on; the port stays ours
        fixture.session = std::make_unique<HttpSession>(fixture.server.baseUrl());
        fixture.session->setConnectionTest([] { return true; });
        frmSplash splash(fixture.prompts);
        splash.setHttpSession(fixture.session.get());
        splash.Command3_Click();
        QVERIFY(fixture.prompts.messages.isEmpty());
        QVERIFY(splash.Command3->isEnabled());
    }

    void versionCheckWithoutConnection() {
        UpdateFixture fixture;
        fixture.session->setConnectionTest([] { return false; });
        frmSplash splash(fixture.prompts);
        splash.setHttpSession(fixture.session.get());
        splash.Command3_Click();
        QCOMPARE(fixture.prompts.messages,
                 QStringList{QStringLiteral("Connessione Internet assente. Attivarla e riprovare.")});
        QVERIFY(fixture.server.requests.isEmpty());
        QVERIFY(splash.Command3->isEnabled());
    }

    void versionCheckOpensUpdateWindow() {
        UpdateFixture fixture;
        fixture.prompts.answers = {Prompts::Answer::Yes};
        frmSplash splash(fixture.prompts);
        splash.setHttpSession(fixture.session.get());
        bool sawWindow = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* window = splash.findChild<aggiorna*>();
            if (window && window->isVisible()) {
                sawWindow = true;
                QVERIFY(!splash.Command3->isEnabled());
                ui(*window).Command1->click(); // USCITA
            }
        });
        poll.start(10);
        splash.Command3_Click();
        QVERIFY(sawWindow);
        QVERIFY(splash.Command1->isEnabled() && splash.Command2->isEnabled() && splash.Command3->isEnabled());
    }

    // --- the version file ------------------------------------------------------------
    void versionFaults_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message"); // empty: nothing is said
        QTest::newRow("stall mid-body")
            << int(VendorServer::Mode::StallMidBody) << QByteArray("2.27000000") << QString();
        QTest::newRow("10 MB version file")
            << int(VendorServer::Mode::Normal) << QByteArray(10 * 1024 * 1024, '9') << kReceiveError;
        QTest::newRow("redirect loop")
            << int(VendorServer::Mode::RedirectLoop) << QByteArray("2.27") << QString();
    }

    void versionFaults() {
        QFETCH(int, mode);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        UpdateFixture fixture;
        fixture.server.versionMode = static_cast<VendorServer::Mode>(mode);
        fixture.server.versionBody = body;
        fixture.prompts.answers = {Prompts::Answer::No};
        frmSplash splash(fixture.prompts);
        splash.setHttpSession(fixture.session.get());

        splash.Command3_Click();
        QCOMPARE(fixture.prompts.messages.join(QLatin1Char('|')), message);
        QVERIFY(splash.Command1->isEnabled() && splash.Command2->isEnabled() && splash.Command3->isEnabled());
        QVERIFY(!splash.attesa->isVisibleTo(&splash));
    }

    // A version reply that is not whole and well formed is no reply: it never offers an update.
    void versionRepliesParsedStrictly_data() {
        QTest::addColumn<QByteArray>("reply");
        const QByteArray ok = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
        QTest::newRow("chunk of size -10")
            << ok + "Transfer-Encoding: chunked\r\n\r\n-10\r\n2.99\r\n0\r\n\r\n";
        QTest::newRow("overflowing Content-Length")
            << ok + "Content-Length: 18446744073709551620\r\n\r\n2.99";
        QTest::newRow("negative Content-Length") << ok + "Content-Length: -4\r\n\r\n2.99";
        QTest::newRow("Content-Length past the body") << ok + "Content-Length: 10\r\n\r\n2.99";
        QTest::newRow("206 of a part")
            << QByteArray("HTTP/1.1 206 Partial Content\r\nConnection: close\r\n"
                          "Content-Range: bytes 1-3/4\r\nContent-Length: 3\r\n\r\n.99");
    }

    void versionRepliesParsedStrictly() {
        QFETCH(QByteArray, reply);
        UpdateFixture fixture;
        fixture.server.rawReplies.insert("/vetra/file_vers.txt", reply);
        fixture.prompts.answers = {Prompts::Answer::No};
        frmSplash splash(fixture.prompts);
        splash.setHttpSession(fixture.session.get());
        splash.Command3_Click();
        QVERIFY(!fixture.server.requests.isEmpty()); // Qt may ask twice after a malformed reply
        QCOMPARE(fixture.prompts.messages, QStringList());
        QVERIFY(splash.Command3->isEnabled());
    }
};

QTEST_MAIN(TestVersionCheck)
#include "tst_versionCheck.moc"
