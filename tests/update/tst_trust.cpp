// What the update trusts, and what it refuses: signed updaters only, the account sent to
// the vendor's own server only, certificates checked over https, and files on disk that
// others cannot change.

#include "core/SystemReason.h"
#include "tests/support/AggiornaDriver.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UpdateFixture.h"
#include "update/UpdateFiles.h"
#include "update/UpdateSignature.h"
#include "update/aggiorna.h"

#include <QApplication>
#include <QEventLoop>
#include <QFrame>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <cerrno>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using Result = UpdateSignature::Result;

namespace {

QByteArray updaterBytes(qsizetype size) {
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 31 + i / 251) & 0xFF);
    return bytes;
}

// A signature file with one base64 line replaced by the same bytes with one bit flipped.
QByteArray flipBit(const QByteArray& signature, int line, int byte) {
    QList<QByteArray> lines = signature.split('\n');
    QByteArray raw = QByteArray::fromBase64(lines[line]);
    raw[byte] = static_cast<char>(raw[byte] ^ 1);
    lines[line] = raw.toBase64();
    return lines.join('\n');
}

// The same signature file claiming another algorithm.
QByteArray withAlgorithm(const QByteArray& signature, const QByteArray& algorithm) {
    QList<QByteArray> lines = signature.split('\n');
    QByteArray raw = QByteArray::fromBase64(lines[1]);
    raw.replace(0, 2, algorithm);
    lines[1] = raw.toBase64();
    return lines.join('\n');
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

void setMode(const QString& path, mode_t mode) {
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

// Records the bytes of what the window would start, read through the path it starts,
// instead of starting it.
void recordStarts(aggiorna& window, QList<QByteArray>* started) {
    window.setStarter([started](const QString& program) {
        *started << TestFiles::readAll(program);
        return true;
    });
}

// An operator: not root, not the owner of anything in the installation, in its group.
constexpr uid_t kOperatorUid = 65534;
constexpr gid_t kOperatorsGid = 65534;
const char kOperatorSwitch[] = "--as-operator";

// The operator's side of the installation test, run in a process of its own as the
// operator: logs in on the server at url, downloads and verifies the updater into the
// data folder under root. Exit code 0 when the updater is ready to start.
int downloadAsOperator(const QString& root, const QUrl& url, const QByteArray& key) {
    modulo1::setCommonAppDataRoot(root);
    ScriptedPrompts prompts;
    modulo1::ResolveDataFolder(prompts);
    HttpSession session(url);
    session.setConnectionTest([] { return true; });
    session.setUpdateKey(key);
    aggiorna window(prompts, session);
    window.Command3_Click();
    if (ui(window).Command5->isVisibleTo(&window))
        ui(window).Command5->click();
    const bool ready = ui(window).installagg->isVisibleTo(&window) && prompts.messages.isEmpty();
    if (!ready)
        qWarning().noquote() << "operator:" << ui(window).messag->text() << prompts.messages;
    return ready ? 0 : 1;
}

const QString kNoServer = QStringLiteral(
    "Non è stato possibile accedere al server di Orvanta. Riprovare più tardi o contattare l'assistenza.");
const QString kCheckFailed =
    QStringLiteral("La verifica dei dati di accesso non è riuscita. Riprovare; se il "
                   "problema persiste contattare l'assistenza di Orvanta.");

} // namespace

class TestTrust : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase() {
        if (!testkeys::signer().isValid())
            QSKIP("minisign is missing: run scripts/setup");
    }

    // --- signatures -------------------------------------------------------------------
    void signatures_data() {
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<int>("result");
        const auto& signer = testkeys::signer();
        const QByteArray data = updaterBytes(70000);
        const QByteArray prehashed = signer.sign(data);
        const QByteArray legacy = signer.sign(data, true);
        QVERIFY(!prehashed.isEmpty() && !legacy.isEmpty());
        const testkeys::Signer other;
        const QByteArray key = signer.publicKey();
        QByteArray changed = data;
        changed[12345] = 'x';
        QByteArray comment = prehashed;
        comment.replace("Vetra 2.27", "Vetra 9.99");
        const auto row = [](const char* name, const QByteArray& sig, const QByteArray& bytes,
                            const QByteArray& k,
                            Result result) { QTest::newRow(name) << sig << bytes << k << int(result); };
        row("prehashed", prehashed, data, key, Result::Valid);
        row("legacy", legacy, data, key, Result::Valid);
        row("windows line ends", QByteArray(prehashed).replace("\n", "\r\n"), data, key, Result::Valid);
        row("one byte changed, prehashed", prehashed, changed, key, Result::BadSignature);
        row("one byte changed, legacy", legacy, changed, key, Result::BadSignature);
        row("one byte more", prehashed, data + 'x', key, Result::BadSignature);
        row("empty file", prehashed, QByteArray(), key, Result::BadSignature);
        row("signature bit flipped", flipBit(prehashed, 1, 20), data, key, Result::BadSignature);
        row("trusted comment changed", comment, data, key, Result::BadSignature);
        row("global signature bit flipped", flipBit(prehashed, 3, 5), data, key, Result::BadSignature);
        row("prehashed signature read as legacy", withAlgorithm(prehashed, "Ed"), data, key,
            Result::BadSignature);
        row("unknown algorithm", withAlgorithm(prehashed, "EX"), data, key, Result::Malformed);
        row("another key", other.sign(data), data, key, Result::OtherKey);
        row("no key", prehashed, data, QByteArray(), Result::NoKey);
        row("key of the wrong kind", prehashed, data, "RW" + QByteArray(54, 'A'), Result::NoKey);
        row("empty signature", QByteArray(), data, key, Result::Malformed);
        row("html page", "<html><body>non trovato</body></html>", data, key, Result::Malformed);
        row("three lines", prehashed.split('\n').mid(0, 3).join('\n'), data, key, Result::Malformed);
        row("base64 with junk", QByteArray(prehashed).replace("\ntrusted", "!\ntrusted"), data, key,
            Result::Malformed);
        row("huge", prehashed + QByteArray(8192, '\n'), data, key, Result::Malformed);
        // A legacy signature makes the whole file be held to check it: only small files.
        const QByteArray large = updaterBytes(UpdateSignature::kMostLegacyBytes + 1);
        row("legacy, one byte past its size", signer.sign(large, true), large, key, Result::TooLarge);
        row("prehashed, as large", signer.sign(large), large, key, Result::Valid);
    }

    void signatures() {
        QFETCH(QByteArray, signature);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, key);
        QFETCH(int, result);
        QCOMPARE(int(UpdateSignature::verify(data, signature, key)), result);
        // The file on disk is judged the same way.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("agX.EXE"));
        TestFiles::writeFile(path, data);
        QCOMPARE(int(UpdateSignature::verifyFile(path, signature, key)), result);
    }

    void publicKeyFromFile() {
        const QByteArray line = testkeys::signer().publicKey();
        const auto fromLine = UpdateSignature::parsePublicKey(line);
        const auto fromFile =
            UpdateSignature::parsePublicKey("untrusted comment: minisign public key ABC\n" + line + "\n");
        QVERIFY(fromLine && fromFile);
        QCOMPARE(fromFile->key, fromLine->key);
        QCOMPARE(fromLine->key.size(), 32);
        QVERIFY(!UpdateSignature::parsePublicKey(line.left(line.size() - 4)));
    }

    // --- files on disk ----------------------------------------------------------------
    void installationFileModes_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("0640 as installed") << 0640 << true;
        QTest::newRow("0600") << 0600 << true;
        QTest::newRow("0660 group may write") << 0660 << true;
        QTest::newRow("0644 others read") << 0644 << false;
        QTest::newRow("0642 others write") << 0642 << false;
        QTest::newRow("0604") << 0604 << false;
    }

    void installationFileModes() {
        QFETCH(int, mode);
        QFETCH(bool, accepted);
        UpdateFixture fixture;
        const QString file = modulo1::InstallationFile();
        setMode(file, mode_t(mode));
        const QString problem = UpdateFiles::installationFileProblem(file);
        QCOMPARE(problem.isEmpty(), accepted);
        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();
        if (accepted) {
            QVERIFY(ui(window).Command5->isVisibleTo(&window));
            return;
        }
        QVERIFY(problem.contains(file) && problem.contains(QStringLiteral("chmod 640 ") + file));
        // Neither the login page is asked for nor the password read.
        QCOMPARE(ui(window).messag->text(), problem);
        QVERIFY(fixture.server.requests.isEmpty());
        QVERIFY(window.procedure().account().password.isEmpty());
    }

    void placesThatMayStartPrograms_data() {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<bool>("link");
        QTest::addColumn<bool>("safe");
        QTest::newRow("2775 folder, 0750 file") << 02775 << 0750 << false << true;
        QTest::newRow("0755 folder, 0700 file") << 0755 << 0700 << false << true;
        QTest::newRow("0777 folder") << 0777 << 0750 << false << false;
        QTest::newRow("sticky 1777 folder") << 01777 << 0750 << false << false;
        QTest::newRow("file others may write") << 02775 << 0752 << false << false;
        QTest::newRow("link to a safe file") << 02775 << 0750 << true << false;
    }

    void placesThatMayStartPrograms() {
        QFETCH(int, folderMode);
        QFETCH(int, fileMode);
        QFETCH(bool, link);
        QFETCH(bool, safe);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("Vetra"));
        QVERIFY(QDir().mkdir(folder));
        const QString target = dir.filePath(QStringLiteral("real.EXE"));
        const QString program = folder + QStringLiteral("/agAB12.EXE");
        TestFiles::writeFile(link ? target : program, "#!/bin/sh\n");
        if (link)
            QVERIFY(QFile::link(target, program));
        setMode(link ? target : program, mode_t(fileMode));
        setMode(folder, mode_t(folderMode));
        QCOMPARE(UpdateFiles::isSafeFolder(folder), (folderMode & 02) == 0);
        QCOMPARE(UpdateFiles::isSafeProgram(program), safe);
    }

    // The installed layout, used by an operator who is not root: the data folder root:vetra
    // 2775 and installazione.ini root:vetra 0640. The operator reads the account, replaces
    // an earlier updater left by someone else, and leaves one that others cannot change.
    // On a small file system that fills up at the last bytes, the operator's earlier
    // updater stays as it was and the window says why.
    void operatorUsesTheInstalledLayout_data() {
        QTest::addColumn<bool>("smallDisk");
        QTest::newRow("another operator's leftover replaced") << false;
        QTest::newRow("small tmpfs full at the last bytes") << true;
    }

    void operatorUsesTheInstalledLayout() {
        QFETCH(bool, smallDisk);
        if (::geteuid() != 0)
            QSKIP("needs root to lay out the installation and to become an operator; the rules are tested "
                  "above");
        if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            QSKIP("setpriv (util-linux) is missing");
        UpdateFixture fixture;
        const QString root = fixture.root.path();
        const QString folder = modulo1::DataFolder();
        const QString ini = modulo1::InstallationFile();
        const QString updater = modulo1::UpdaterFile();
        const QByteArray account = TestFiles::readAll(ini);
        struct Mount {
            QByteArray path;
            bool mounted = false;
            ~Mount() {
                if (mounted)
                    ::umount2(path.constData(), MNT_DETACH);
            }
        } small{QFile::encodeName(folder)};
        if (smallDisk) {
            small.mounted = ::mount("tmpfs", small.path.constData(), "tmpfs", 0, "size=64k") == 0;
            if (!small.mounted)
                QSKIP("cannot mount a tmpfs here");
            TestFiles::writeFile(ini, account);
        }
        const QByteArray earlier = "an earlier updater";
        TestFiles::writeFile(updater, earlier);
        for (const QString& path : {root, root + QStringLiteral("/Orvanta")})
            setMode(path, 0755);
        for (const QString& path : {folder, ini})
            QCOMPARE(::chown(QFile::encodeName(path).constData(), 0, kOperatorsGid), 0);
        // Another operator's file, or this operator's own.
        QCOMPARE(::chown(QFile::encodeName(updater).constData(), smallDisk ? kOperatorUid : 0, kOperatorsGid),
                 0);
        setMode(folder, 02775);
        setMode(ini, 0640);
        setMode(updater, 0750);
        if (smallDisk) {
            struct statvfs disk {};
            QCOMPARE(::statvfs(small.path.constData(), &disk), 0);
            fixture.server.payload = updaterBytes(qsizetype(disk.f_bavail * disk.f_frsize) + 100);
        } else {
            fixture.server.payload = updaterBytes(40000);
        }

        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QStringLiteral("setpriv"),
                    {QStringLiteral("--reuid=%1").arg(kOperatorUid),
                     QStringLiteral("--regid=%1").arg(kOperatorsGid), QStringLiteral("--clear-groups"),
                     QCoreApplication::applicationFilePath(), QLatin1String(kOperatorSwitch), root,
                     fixture.server.baseUrl().toString(),
                     QString::fromLatin1(testkeys::signer().publicKey())});
        // The server answers in this process's event loop while the operator works.
        QEventLoop loop;
        connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        if (child.state() != QProcess::NotRunning)
            loop.exec();
        const QString said = QString::fromUtf8(child.readAll());
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), smallDisk ? 1 : 0);

        struct stat info {};
        QCOMPARE(::lstat(QFile::encodeName(updater).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0750));
        if (smallDisk) {
            QVERIFY2(said.contains(QStringLiteral("Impossibile salvare l'aggiornamento in ") + updater) &&
                         said.contains(SystemReason::text(ENOSPC)),
                     qPrintable(said));
            QCOMPARE(TestFiles::readAll(updater), earlier);
        } else {
            QCOMPARE(info.st_uid, kOperatorUid);
            QCOMPARE(info.st_gid, kOperatorsGid); // from the folder's setgid bit
            QCOMPARE(TestFiles::readAll(updater), fixture.server.payload);
            QVERIFY(UpdateFiles::isSafeProgram(updater));
        }
        QCOMPARE(fixture.strayFiles(), QStringList{QFileInfo(updater).fileName()});
    }

    // --- the hostile vendor -----------------------------------------------------------
    // The account goes nowhere but the vendor's scheme, host and port.
    void accountStaysWithTheVendor_data() {
        QTest::addColumn<QByteArray>("action");      // of the login form; empty: the usual one
        QTest::addColumn<int>("verifyStatus");       // of the credential check
        QTest::addColumn<bool>("redirectLoginPage"); // the login page itself moves elsewhere
        QTest::addColumn<QString>("shown");
        QTest::newRow("form action on another port")
            << QByteArray("OTHER/raccolta") << 302 << false << kCheckFailed;
        QTest::newRow("form action on another host name")
            << QByteArray("NAMED/vetra/agg/verifica.asp") << 302 << false << kCheckFailed;
        QTest::newRow("307 from the check to another host") << QByteArray() << 307 << false << kCheckFailed;
        QTest::newRow("302 from the check to another host") << QByteArray() << 302 << false << kCheckFailed;
        QTest::newRow("login page moved to another host") << QByteArray() << 302 << true << kNoServer;
    }

    void accountStaysWithTheVendor() {
        QFETCH(QByteArray, action);
        QFETCH(int, verifyStatus);
        QFETCH(bool, redirectLoginPage);
        QFETCH(QString, shown);
        UpdateFixture fixture;
        VendorServer elsewhere; // answers like the vendor, on its own port
        QVERIFY(elsewhere.listen());
        const QByteArray other = elsewhere.baseUrl().toEncoded();
        const QByteArray named = "http://localhost:" + QByteArray::number(fixture.server.baseUrl().port());
        if (!action.isEmpty()) {
            action.replace("OTHER", other).replace("NAMED", named);
            fixture.server.loginPage.replace("verifica.asp?fase=1", action);
        } else if (redirectLoginPage) {
            fixture.server.rawReplies.insert(
                "/vetra/agg/utility.asp", "HTTP/1.1 302 Found\r\nLocation: " + other +
                                              "/vetra/agg/utility.asp?method=abandon\r\nContent-Length: 0\r\n"
                                              "Connection: close\r\n\r\n");
        } else {
            fixture.server.verifyStatus = verifyStatus;
            fixture.server.verifyLocation = other + "/vetra/agg/verifica.asp";
        }
        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();
        QCOMPARE(ui(window).messag->text(), shown);
        QVERIFY(ui(window).Command5->isHidden());
        QVERIFY2(elsewhere.requests.isEmpty(), elsewhere.requests.value(0).target.constData());
        if (!action.isEmpty()) {
            for (const auto& request : fixture.server.requests)
                QVERIFY(request.method != "POST");
        }
    }

    // The vendor moves its files to another host: the download and its signature follow the
    // redirect there, and the session cookie stays with the vendor's host.
    void filesMovedToAnotherHost_data() {
        QTest::addColumn<int>("status");
        QTest::newRow("302") << 302;
        QTest::newRow("307") << 307;
    }

    void filesMovedToAnotherHost() {
        QFETCH(int, status);
        if (!testkeys::authority().isValid())
            QSKIP("openssl is missing: run scripts/setup");
        UpdateFixture fixture(true, UpdateFixture::Transport::Https);
        const QByteArray payload = updaterBytes(83);
        fixture.server.payload = payload;
        VendorServer files; // another host name: the cookie jar tells hosts apart, not ports
        files.useTls(testkeys::authority().serverConfiguration());
        QVERIFY(files.listen());
        const QByteArray there = "https://localhost:" + QByteArray::number(files.baseUrl().port()) + "/file/";
        const auto moved = [&](const QByteArray& name) {
            return "HTTP/1.1 " + QByteArray::number(status) + " Moved\r\nLocation: " + there + name +
                   "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        };
        const auto whole = [](const QByteArray& body) {
            return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                   "\r\nConnection: close\r\n\r\n" + body;
        };
        fixture.server.rawReplies.insert("/vetra/agg/download.asp", moved("agAB12.EXE"));
        fixture.server.rawReplies.insert("/vetra/agg/download.asp.minisig", moved("agAB12.EXE.minisig"));
        files.rawReplies.insert("/file/agAB12.EXE", whole(payload));
        files.rawReplies.insert("/file/agAB12.EXE.minisig", whole(testkeys::signer().sign(payload)));
        fixture.server.replyBody = "<p>dimensione 83 utente autorizzato</p>";

        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();
        ui(window).Command5->click();
        QVERIFY2(fixture.prompts.messages.isEmpty(), qPrintable(fixture.prompts.messages.join(u'|')));
        QVERIFY(ui(window).installagg->isVisibleTo(&window));
        QCOMPARE(TestFiles::readAll(modulo1::UpdaterFile()), payload);
        QCOMPARE(files.requests.size(), 2);
        for (const auto& request : files.requests)
            QVERIFY2(!request.headers.contains("cookie"), request.headers.value("cookie").constData());
    }

    // Only an updater signed with the vendor's key may run, and only as it was signed.
    void onlySignedUpdatersStart_data() {
        QTest::addColumn<QString>("signature"); // none, other key, other file, prehashed, legacy
        QTest::addColumn<bool>("replaced");     // the file changes between the check and the start
        QTest::addColumn<bool>("swapped");      // another file renamed over it after the last check
        QTest::addColumn<bool>("installed");
        QTest::newRow("no signature") << QStringLiteral("none") << false << false << false;
        QTest::newRow("signed by another key") << QStringLiteral("other key") << false << false << false;
        QTest::newRow("signature of another file") << QStringLiteral("other file") << false << false << false;
        QTest::newRow("valid, prehashed") << QStringLiteral("prehashed") << false << false << true;
        QTest::newRow("valid, legacy") << QStringLiteral("legacy") << false << false << true;
        QTest::newRow("valid, replaced before the start")
            << QStringLiteral("prehashed") << true << false << false;
        QTest::newRow("valid, another file renamed over it after the check")
            << QStringLiteral("prehashed") << false << true << true;
    }

    void onlySignedUpdatersStart() {
        QFETCH(QString, signature);
        QFETCH(bool, replaced);
        QFETCH(bool, swapped);
        QFETCH(bool, installed);
        UpdateFixture fixture;
        const QByteArray payload = updaterBytes(5000);
        fixture.server.payload = payload;
        static const testkeys::Signer other;
        if (signature == QLatin1String("none"))
            fixture.server.sign = nullptr;
        else if (signature == QLatin1String("other key"))
            fixture.server.sign = [](const QByteArray& data) { return other.sign(data); };
        else if (signature == QLatin1String("other file"))
            fixture.server.sign = [](const QByteArray& data) { return testkeys::signer().sign(data + "!"); };
        else if (signature == QLatin1String("legacy"))
            fixture.server.sign = [](const QByteArray& data) { return testkeys::signer().sign(data, true); };

        aggiorna window(fixture.prompts, *fixture.session);
        QList<QByteArray> started;
        recordStarts(window, &started);
        const QString updater = modulo1::UpdaterFile();
        if (swapped) {
            // As a member of the group would, in the shared folder: a script of theirs renamed over it.
            window.setBeforeStart([&] {
                const QString theirs = modulo1::DataFolder() + QStringLiteral("theirs");
                TestFiles::writeFile(theirs, "#!/bin/sh\necho altro\n");
                QCOMPARE(
                    ::rename(QFile::encodeName(theirs).constData(), QFile::encodeName(updater).constData()),
                    0);
            });
        }
        bool ended = false;
        window.setProgramEnd([&] { ended = true; });
        window.Command3_Click();
        ui(window).Command5->click();
        const bool verified = signature == QLatin1String("prehashed") || signature == QLatin1String("legacy");
        QCOMPARE(ui(window).installagg->isVisibleTo(&window), verified);
        QCOMPARE(QFileInfo::exists(updater), verified);
        if (verified) {
            QVERIFY(fixture.prompts.messages.isEmpty());
            QCOMPARE(modeOf(updater) & 0777, mode_t(0750));
            QVERIFY(fixture.server.requests.constLast().target.endsWith("download.asp.minisig"));
            QCOMPARE(fixture.server.requests.constLast().headers.value("cookie"),
                     QByteArray("ASPSESSION=" + *fixture.server.authorisedSessions.cbegin()));
        } else {
            QCOMPARE(fixture.prompts.messages, QStringList{aggiorna::notVerifiedText()});
            QVERIFY(ui(window).Command3->isVisibleTo(&window));
            QCOMPARE(ui(window).generica->text(), aggiorna::stoppedText(aggiorna::notVerifiedText()));
            QVERIFY(fixture.strayFiles().isEmpty());
        }
        if (replaced) {
            QFile file(updater);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("#!/bin/sh\necho altro\n");
        }
        if (ui(window).installagg->isVisibleTo(&window))
            ui(window).installagg->click();
        // What starts is the very file that was checked.
        QCOMPARE(started, installed ? QList<QByteArray>{payload} : QList<QByteArray>());
        QCOMPARE(ended, installed);
        if (replaced) {
            QCOMPARE(fixture.prompts.messages, QStringList{aggiorna::notVerifiedText()});
            QVERIFY(!QFileInfo::exists(updater));
            QVERIFY(ui(window).installagg->isHidden() && ui(window).Command3->isVisibleTo(&window));
            QCOMPARE(ui(window).generica->text(), aggiorna::stoppedText(aggiorna::notVerifiedText()));
        }
    }

    // Started for real: the program runs from the descriptor the check read, a script too.
    void verifiedUpdaterRuns() {
        UpdateFixture fixture;
        QTemporaryDir out;
        const QString marker = out.filePath(QStringLiteral("ran"));
        fixture.server.payload = "#!/bin/sh\necho corre > '" + QFile::encodeName(marker) + "'\n";
        aggiorna window(fixture.prompts, *fixture.session);
        bool ended = false;
        window.setProgramEnd([&] { ended = true; });
        window.Command3_Click();
        ui(window).Command5->click();
        QVERIFY(ui(window).installagg->isVisibleTo(&window));
        ui(window).installagg->click();
        QVERIFY(ended);
        QTRY_COMPARE_WITH_TIMEOUT(TestFiles::readAll(marker), QByteArray("corre\n"), 30000);
    }

    // A link put where the updater was, once it is written, to a file of the same bytes
    // (say, another operator's private copy): the mode is set on the file written, never
    // through the link, and the file behind the link keeps its own.
    void modeNeverFollowsALink() {
        UpdateFixture fixture;
        fixture.server.payload = updaterBytes(3000);
        const QString updater = modulo1::UpdaterFile();
        const QString theirs = modulo1::DataFolder() + QStringLiteral("privato.EXE");
        fixture.server.onRequest = [&](const VendorServer::Request& request) {
            if (!request.target.endsWith(".minisig"))
                return;
            QVERIFY(QFile::rename(updater, theirs));
            setMode(theirs, 0600);
            QVERIFY(QFile::link(theirs, updater));
        };
        aggiorna window(fixture.prompts, *fixture.session);
        window.Command3_Click();
        ui(window).Command5->click();
        QCOMPARE(modeOf(theirs), mode_t(0600));
        QCOMPARE(fixture.prompts.messages, QStringList{aggiorna::notVerifiedText()});
        QVERIFY(ui(window).installagg->isHidden());
    }

    void nothingStartsFromAFolderOthersMayWrite() {
        UpdateFixture fixture;
        fixture.server.payload = updaterBytes(3000);
        aggiorna window(fixture.prompts, *fixture.session);
        QList<QByteArray> started;
        recordStarts(window, &started);
        window.setProgramEnd([] {});
        window.Command3_Click();
        ui(window).Command5->click();
        QVERIFY(ui(window).installagg->isVisibleTo(&window));
        setMode(modulo1::DataFolder(), 0777);
        ui(window).installagg->click();
        setMode(modulo1::DataFolder(), 0755);
        QVERIFY(started.isEmpty());
        QCOMPARE(fixture.prompts.messages.size(), 1);
        QVERIFY(fixture.prompts.messages.constFirst().contains(QStringLiteral("chmod o-w ")));
    }

    // A build without the vendor's key sends nothing and says why.
    void noKeyNoUpdate() {
        UpdateFixture fixture;
        fixture.session->setUpdateKey({});
        aggiorna window(fixture.prompts, *fixture.session);
        QCOMPARE(ui(window).generica->text(), aggiorna::noKeyText());
        window.Command3_Click();
        QCOMPARE(ui(window).messag->text(), aggiorna::noKeyText());
        QVERIFY(ui(window).respme->isVisibleTo(&window));
        QVERIFY(fixture.server.requests.isEmpty());
    }

    // --- the whole flow, over http and over https --------------------------------------
    void wholeFlow_data() {
        QTest::addColumn<bool>("https");
        QTest::addColumn<bool>("trusted"); // the server's authority is known to the session
        QTest::newRow("http") << false << true;
        QTest::newRow("https") << true << true;
        QTest::newRow("https, unknown authority") << true << false;
    }

    void wholeFlow() {
        QFETCH(bool, https);
        QFETCH(bool, trusted);
        if (https && !testkeys::authority().isValid())
            QSKIP("openssl is missing: run scripts/setup");
        UpdateFixture fixture(true, https ? UpdateFixture::Transport::Https : UpdateFixture::Transport::Http);
        if (!trusted)
            fixture.session = std::make_unique<HttpSession>(fixture.server.baseUrl());
        fixture.session->setConnectionTest([] { return true; });
        fixture.session->setUpdateKey(testkeys::signer().publicKey());
        QCOMPARE(fixture.session->baseUrl().scheme(),
                 https ? QStringLiteral("https") : QStringLiteral("http"));
        fixture.server.payload = updaterBytes(1234000);
        aggiorna window(fixture.prompts, *fixture.session);
        QList<QByteArray> started;
        recordStarts(window, &started);
        window.setProgramEnd([] {});
        window.Command3_Click();
        if (!trusted) {
            QCOMPARE(ui(window).messag->text(), kNoServer);
            QVERIFY(fixture.server.requests.isEmpty()); // not one request past the handshake
            return;
        }
        QVERIFY(ui(window).Command5->isVisibleTo(&window));
        ui(window).Command5->click();
        QVERIFY(fixture.prompts.messages.isEmpty());
        ui(window).installagg->click();
        QCOMPARE(started, QList<QByteArray>{fixture.server.payload});
        QCOMPARE(TestFiles::readAll(modulo1::UpdaterFile()), fixture.server.payload);
        QCOMPARE(fixture.server.requests.size(), 5); // page, form, reply, updater, signature
    }
};

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], kOperatorSwitch) == 0)
        return downloadAsOperator(QString::fromLocal8Bit(argv[2]), QUrl(QString::fromLocal8Bit(argv[3])),
                                  argv[4]);
    TestTrust test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_trust.moc"
