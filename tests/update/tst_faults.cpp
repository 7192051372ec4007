// Faults of the network and of the disk around the update: each ends within its time
// limit, with a clear message, and leaves no partial updater behind.

#include "tests/support/AggiornaDriver.h"
#include "tests/support/FsFaults.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UpdateFixture.h"
#include "update/UpdateDownload.h"
#include "update/aggiorna.h"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

using TestFiles::everything;
using TestFiles::writeFile;

namespace {

QByteArray fileContents(const QString& path) {
    return TestFiles::readAll(path);
}

const QString kRejected = QStringLiteral("Il file scaricato non è valido per l'aggiornamento.\n"
                                         "Se il problema persiste, rivolgersi ad Orvanta.");
const QString kNoServer = QStringLiteral(
    "Non è stato possibile accedere al server di Orvanta. Riprovare più tardi o contattare l'assistenza.");

const QString kConnectionFailed = aggiorna::connectionText({}).section(QLatin1Char(':'), 0, 0);

constexpr int kRefused = -1; // not a server mode: the server stops listening

QByteArray makePayload(qsizetype size) {
    QByteArray payload(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        payload[i] = static_cast<char>((i * 13 + i / 977) & 0xFF);
    return payload;
}

QString writeFailedPrefix() {
    return QStringLiteral("Impossibile salvare l'aggiornamento in ") + modulo1::UpdaterFile() +
           QStringLiteral(".\nMotivo: ");
}

} // namespace

class TestUpdateFaults : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // --- the login page --------------------------------------------------------------
    void loginFaults_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("page");
        const QByteArray normalPage = VendorServer::defaultLoginPage();
        QTest::newRow("refused") << kRefused << normalPage;
        QTest::newRow("stall mid-body") << int(VendorServer::Mode::StallMidBody) << normalPage;
        QTest::newRow("reset mid-body") << int(VendorServer::Mode::ResetMidBody) << normalPage;
        QTest::newRow("redirect loop") << int(VendorServer::Mode::RedirectLoop) << normalPage;
        QTest::newRow("50 MB page") << int(VendorServer::Mode::Normal)
                                    << "<html><body>" + QByteArray(50 * 1024 * 1024, 'x');
        QTest::newRow("nested past any login page")
            << int(VendorServer::Mode::Normal)
            << "<html><body><p>loggare</p><form method=post action=verifica.asp>" +
                   QByteArray("<div>").repeated(100000);
    }

    void loginFaults() {
        QFETCH(int, mode);
        QFETCH(QByteArray, page);
        UpdateFixture fixture;
        fixture.server.loginPage = page;
        if (mode == kRefused)
            fixture.server.close();
        else
            fixture.server.loginMode = static_cast<VendorServer::Mode>(mode);
        aggiorna window(fixture.prompts, *fixture.session);

        window.Command3_Click();
        QCOMPARE(ui(window).messag->text(), kNoServer);
        QVERIFY(ui(window).respme->isVisibleTo(&window));
        QVERIFY(ui(window).comunicazione->isEnabled());
        QVERIFY(!ui(window).attesa->isVisibleTo(&window));
        QVERIFY(ui(window).Command5->isHidden());
        QVERIFY(fixture.prompts.messages.isEmpty());
    }

    // A login page far longer than any form is read from its head: the rest is dropped. The
    // server sends half the page and falls silent, so a login that waited for the rest would
    // run into the page's time limit and say so.
    void longLoginPageReadFromItsHead() {
        UpdateFixture fixture;
        QByteArray page = VendorServer::defaultLoginPage();
        page.insert(page.indexOf("</body>"), "<p>" + QByteArray(50 * 1024 * 1024, 'x') + "</p>");
        fixture.server.loginPage = page;
        fixture.server.loginMode = VendorServer::Mode::StallMidBody;
        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();
        QVERIFY2(ui(window).respme->isHidden(), qPrintable(ui(window).messag->text()));
        QVERIFY(ui(window).Command5->isVisibleTo(&window));
        QCOMPARE(window.procedure().expectedSize(), QStringLiteral("1234000"));
    }

    // --- the download ----------------------------------------------------------------
    // A connection that fails is named as such; "non valido" is for a whole file that is wrong.
    void downloadFaults_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("message");
        QTest::newRow("refused") << kRefused << qsizetype(5000) << false
                                 << aggiorna::connectionText(
                                        QStringLiteral("il server ha rifiutato la connessione"));
        QTest::newRow("redirect loop")
            << int(VendorServer::Mode::RedirectLoop) << qsizetype(5000) << false << kRejected;
        QTest::newRow("no length, within the size")
            << int(VendorServer::Mode::NoLength) << qsizetype(1234000) << true << QString();
        QTest::newRow("no length, one byte too many")
            << int(VendorServer::Mode::NoLength) << qsizetype(1234001) << false << kRejected;
    }

    void downloadFaults() {
        QFETCH(int, mode);
        QFETCH(qsizetype, size);
        QFETCH(bool, accepted);
        QFETCH(QString, message);
        UpdateFixture fixture;
        fixture.server.payload = makePayload(size);
        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();
        QCOMPARE(window.procedure().expectedSize(), QStringLiteral("1234000"));
        if (mode == kRefused)
            fixture.server.close();
        else
            fixture.server.downloadMode = static_cast<VendorServer::Mode>(mode);

        ui(window).Command5->click();
        QVERIFY(!ui(window).attesa->isVisibleTo(&window));
        QVERIFY(ui(window).Command1->isVisibleTo(&window) && ui(window).Command2->isHidden());
        if (accepted) {
            QVERIFY(fixture.prompts.messages.isEmpty());
            QCOMPARE(fileContents(modulo1::UpdaterFile()), fixture.server.payload);
            QVERIFY(ui(window).installagg->isVisibleTo(&window));
        } else {
            // A connection the client had opened ahead may be cut instead of refused.
            QCOMPARE(fixture.prompts.messages.size(), 1);
            const QString& said = fixture.prompts.messages.constFirst();
            QVERIFY2(said == message ||
                         (message.startsWith(kConnectionFailed) && said.startsWith(kConnectionFailed)),
                     qPrintable(said));
            QVERIFY(fixture.strayFiles().isEmpty());
            QVERIFY(ui(window).installagg->isHidden());
            QVERIFY(ui(window).Command3->isVisibleTo(&window));
        }
    }

    // Replies no honest server sends: a part of the file, lengths that cannot be read,
    // a chunk of negative size. None of them is ever taken for the whole updater.
    void downloadRepliesParsedStrictly_data() {
        QTest::addColumn<QByteArray>("head"); // status line and headers; the body follows
        QTest::addColumn<qsizetype>("from");  // first byte of the payload sent
        QTest::addColumn<bool>("accepted");
        const QByteArray ok = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
        const QByteArray part = "HTTP/1.1 206 Partial Content\r\nConnection: close\r\n";
        QTest::newRow("200 with its length") << ok + "Content-Length: 5000\r\n" << qsizetype(0) << true;
        QTest::newRow("206 of the whole file")
            << part + "Content-Range: bytes 0-4999/5000\r\nContent-Length: 5000\r\n"
            << qsizetype(0) << true;
        QTest::newRow("206 from byte 500")
            << part + "Content-Range: bytes 500-4999/5000\r\nContent-Length: 4500\r\n"
            << qsizetype(500) << false;
        QTest::newRow("206 of a longer file")
            << part + "Content-Range: bytes 0-4999/9000\r\nContent-Length: 5000\r\n"
            << qsizetype(0) << false;
        QTest::newRow("206 without a range") << part + "Content-Length: 5000\r\n" << qsizetype(0) << false;
        QTest::newRow("206 with an unknown total")
            << part + "Content-Range: bytes 0-4999/*\r\nContent-Length: 5000\r\n"
            << qsizetype(0) << false;
        QTest::newRow("overflowing Content-Length") << ok + "Content-Length: 18446744073709556616\r\n"
                                                    << qsizetype(0) << false;
        QTest::newRow("negative Content-Length") << ok + "Content-Length: -1\r\n" << qsizetype(0) << false;
        QTest::newRow("two Content-Lengths") << ok + "Content-Length: 5000\r\nContent-Length: 4000\r\n"
                                             << qsizetype(0) << false;
        QTest::newRow("chunk of size -10") << ok + "Transfer-Encoding: chunked\r\n\r\n-10\r\n"
                                           << qsizetype(-1) << false;
    }

    void downloadRepliesParsedStrictly() {
        QFETCH(QByteArray, head);
        QFETCH(qsizetype, from);
        QFETCH(bool, accepted);
        UpdateFixture fixture;
        fixture.server.payload = makePayload(5000);
        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();
        fixture.server.rawReplies.insert("/vetra/agg/download.asp",
                                         from < 0 ? head + "0123456789abcdef\r\n0\r\n\r\n"
                                                  : head + "\r\n" + fixture.server.payload.mid(from));
        ui(window).Command5->click();
        QCOMPARE(ui(window).installagg->isVisibleTo(&window), accepted);
        if (accepted) {
            QVERIFY(fixture.prompts.messages.isEmpty());
            QCOMPARE(fileContents(modulo1::UpdaterFile()), fixture.server.payload);
        } else {
            QCOMPARE(fixture.prompts.messages.size(), 1);
            QVERIFY(fixture.strayFiles().isEmpty());
        }
    }

    // The disk fills up at the last bytes: an earlier updater stays as it was, nothing
    // half-written takes its place, and the operator reads why.
    void diskFullAtTheLastBytes_data() {
        QTest::addColumn<qsizetype>("over"); // bytes of the payload past the room on disk
        QTest::addColumn<bool>("earlier");   // an earlier updater is in place
        QTest::newRow("one byte, earlier file") << qsizetype(1) << true;
        QTest::newRow("one byte, no file") << qsizetype(1) << false;
        QTest::newRow("a buffer's worth, earlier file") << qsizetype(16 * 1024 + 3) << true;
        QTest::newRow("half a buffer, no file") << qsizetype(8000) << false;
    }

    void diskFullAtTheLastBytes() {
        QFETCH(qsizetype, over);
        QFETCH(bool, earlier);
        constexpr qsizetype room = 64 * 1024;
        UpdateFixture fixture;
        fixture.server.payload = makePayload(room + over);
        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();
        const QString updater = modulo1::UpdaterFile();
        if (earlier)
            writeFile(updater, "an older updater");
        const QStringList before = everything(modulo1::DataFolder());
        {
            fsfaults::DiskFull full(room);
            QVERIFY(full.active());
            ui(window).Command5->click();
        }
        QCOMPARE(fixture.prompts.messages.size(), 1);
        QVERIFY2(fixture.prompts.messages.constFirst().startsWith(writeFailedPrefix()),
                 qPrintable(fixture.prompts.messages.constFirst()));
        QCOMPARE(everything(modulo1::DataFolder()), before);
        if (earlier)
            QCOMPARE(fileContents(updater), QByteArray("an older updater"));
        QVERIFY(ui(window).installagg->isHidden());
    }

    // --- the disk under the download -------------------------------------------------
    void downloadWriteFaults_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("read-only data folder") << QStringLiteral("read-only");
        QTest::newRow("disk full") << QStringLiteral("full");
        QTest::newRow("target is a folder") << QStringLiteral("folder");
    }

    void downloadWriteFaults() {
        QFETCH(QString, fault);
        UpdateFixture fixture;
        fixture.server.payload = makePayload(1234000);
        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();
        QVERIFY(ui(window).Command5->isVisibleTo(&window));
        const QString updater = modulo1::UpdaterFile();
        const QString folder = modulo1::DataFolder();

        std::optional<fsfaults::ReadOnlyFolder> readOnly;
        std::optional<fsfaults::PermissionChecks> checks;
        std::optional<fsfaults::DiskFull> full;
        QStringList before;
        if (fault == QLatin1String("read-only")) {
            writeFile(updater, "an older updater"); // stays: the folder cannot lose it either
            before = everything(folder);
            readOnly.emplace(folder);
            checks.emplace();
            if (!checks->active() || !fsfaults::PermissionChecks::refuses(folder))
                QSKIP("this process writes past permission bits");
        } else if (fault == QLatin1String("full")) {
            before = everything(folder);
            full.emplace(100 * 1024);
            QVERIFY(full->active());
        } else {
            QVERIFY(QDir().mkdir(updater));
            before = everything(folder);
        }

        ui(window).Command5->click();
        const QStringList after = everything(folder);
        checks.reset();
        full.reset();
        readOnly.reset();

        QCOMPARE(fixture.prompts.messages.size(), 1);
        const QString message = fixture.prompts.messages.constFirst();
        QVERIFY2(message.startsWith(writeFailedPrefix()) && message.size() > writeFailedPrefix().size(),
                 qPrintable(message));
        QCOMPARE(after, before); // no partial updater, no temporary file
        if (fault == QLatin1String("read-only"))
            QCOMPARE(fileContents(updater), QByteArray("an older updater"));
        QVERIFY(ui(window).installagg->isHidden());
        QVERIFY(ui(window).Command3->isVisibleTo(&window));
    }

    // A link put where the updater goes is replaced, never followed: the file it points
    // to stays as it was and nothing appears where a dangling one points.
    void downloadOverSymlink_data() {
        QTest::addColumn<bool>("dangling");
        QTest::addColumn<bool>("midTransfer");
        QTest::newRow("link before the download") << false << false;
        QTest::newRow("dangling link before the download") << true << false;
        QTest::newRow("link put in place mid-transfer") << false << true;
        QTest::newRow("dangling link put in place mid-transfer") << true << true;
    }

    void downloadOverSymlink() {
        QFETCH(bool, dangling);
        QFETCH(bool, midTransfer);
        UpdateFixture fixture;
        fixture.server.payload = makePayload(200000);
        fixture.server.chunkSize = 16 * 1024;
        fixture.server.chunkDelayMs = 2;
        QTemporaryDir elsewhere;
        const QString victim = elsewhere.filePath(QStringLiteral("precious"));
        if (!dangling)
            writeFile(victim, "precious");
        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();
        const QString updater = modulo1::UpdaterFile();

        bool linked = false;
        auto plant = [&] {
            if (!linked)
                linked = QFile::link(victim, updater);
        };
        if (midTransfer)
            connect(ui(window).ProgressBar1, &QProgressBar::valueChanged, &window, [&](int value) {
                if (value > 0)
                    plant();
            });
        else
            plant();
        ui(window).Command5->click();

        QVERIFY(linked);
        QVERIFY(fixture.prompts.messages.isEmpty());
        QVERIFY(!QFileInfo(updater).isSymLink());
        QCOMPARE(fileContents(updater), fixture.server.payload);
        if (dangling)
            QVERIFY(!QFileInfo::exists(victim));
        else
            QCOMPARE(fileContents(victim), QByteArray("precious"));
        QCOMPARE(everything(elsewhere.path()),
                 dangling ? QStringList() : QStringList{QStringLiteral("precious")});
    }
};

QTEST_MAIN(TestUpdateFaults)
#include "tst_faults.moc"
