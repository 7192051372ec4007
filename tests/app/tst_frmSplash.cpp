#include "app/frmSplash.h"
#include "env/SingleInstance.h"
#include "env/modulo1.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/WorkspaceDriver.h"
#include "update/HttpSession.h"
#include "workspace/frmScanner.h"

#include <QDir>
#include <QFile>
#include <QFrame>
#include <QHostInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <qpa/qwindowsysteminterface.h>
#include <sys/stat.h>

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// The environment variable `name` as it was, put back when this goes.
struct SavedVariable {
    const char* name;
    QByteArray value = qgetenv(name);
    bool set = qEnvironmentVariableIsSet(name);
    ~SavedVariable() {
        if (set)
            qputenv(name, value);
        else
            qunsetenv(name);
    }
};

} // namespace

class TestFrmSplash : public QObject {
    Q_OBJECT
  private:
    QTemporaryDir m_root;
    QString m_lock;
    QString m_updater;
    // The user's folders, in the temporary root for the tests that use the default lock
    // and the settings file.
    SavedVariable m_cacheHome{"XDG_CACHE_HOME"};
    SavedVariable m_configHome{"XDG_CONFIG_HOME"};
    SavedVariable m_runtime{"XDG_RUNTIME_DIR"};

    // kind: "" unset, "own" a private folder of the user, "open" a folder anyone may write.
    void setRuntimeFolder(const QString& kind) {
        if (kind.isEmpty()) {
            qunsetenv("XDG_RUNTIME_DIR");
            return;
        }
        const QString folder = m_root.filePath(QStringLiteral("run-") + kind);
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), kind == QLatin1String("open") ? 0777 : 0700) ==
                0);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder));
    }

  private Q_SLOTS:
    void init() {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("cache"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("config"))));
        modulo1::setCommonAppDataRoot(m_root.path());
        modulo1::resetDataFolder();
        m_lock = m_root.filePath(QStringLiteral("vetra.lock"));
        QFile::remove(m_lock);
        const QString data = m_root.path() + QStringLiteral("/Orvanta/Vetra/");
        QVERIFY(QDir().mkpath(data));
        writeFile(data + QLatin1String(modulo1::kInstallationFileName), "[Installazione]\nCodice=XY9\n");
        m_updater = data + QStringLiteral("agXY9.EXE");
    }

    void cleanup() {
        modulo1::setCommonAppDataRoot({});
        modulo1::resetDataFolder();
    }

    void layout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("Frame1") << QStringLiteral("Frame1") << QRect(8, 8, 577, 305);
        QTest::newRow("imgLogo") << QStringLiteral("imgLogo") << QRect(8, 16, 123, 123);
        QTest::newRow("lblProductName") << QStringLiteral("lblProductName") << QRect(152, 24, 117, 54);
        QTest::newRow("lblVersion") << QStringLiteral("lblVersion") << QRect(316, 56, 40, 18);
        QTest::newRow("lblWarning") << QStringLiteral("lblWarning") << QRect(152, 80, 417, 45);
        QTest::newRow("Command3") << QStringLiteral("Command3") << QRect(440, 128, 121, 40);
        QTest::newRow("Command2") << QStringLiteral("Command2") << QRect(8, 336, 81, 33);
        QTest::newRow("Command1") << QStringLiteral("Command1") << QRect(504, 336, 81, 33);
        QTest::newRow("attesa") << QStringLiteral("attesa") << QRect(96, 152, 441, 97);
        QTest::newRow("Label16") << QStringLiteral("Label16") << QRect(8, 32, 425, 33);
        QTest::newRow("ProgressBar1") << QStringLiteral("ProgressBar1") << QRect(24, 64, 393, 17);
    }

    void layout() {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        ScriptedPrompts prompts;
        frmSplash splash(prompts);
        auto* widget = splash.findChild<QWidget*>(name);
        QVERIFY(widget);
        QCOMPARE(widget->geometry(), geometry);
    }

    void designState() {
        ScriptedPrompts prompts;
        frmSplash splash(prompts);
        splash.setInstanceLockPath(m_lock);
        QCOMPARE(splash.size(), QSize(594, 380));
        QCOMPARE(splash.windowTitle(), QStringLiteral("Vetra by Orvanta"));
        QCOMPARE(splash.palette().color(QPalette::Window), QColor(0, 0, 192));
        QCOMPARE(splash.attesa->palette().color(QPalette::Window), QColor(0, 0, 255));
        QCOMPARE(splash.lblVersion->palette().color(QPalette::WindowText), QColor(255, 255, 0));
        QCOMPARE(splash.Label16->text(), QStringLiteral("Attendere, Controllo Versione  in Corso  ...."));
        QCOMPARE(splash.lblWarning->text(),
                 QStringLiteral("Software di Scansione Foto e Firma formato D.T.T."));
        QCOMPARE(splash.ProgressBar1->minimum(), 0);
        QCOMPARE(splash.ProgressBar1->maximum(), 100);
        QVERIFY(splash.Command1->text().isEmpty() && !splash.Command1->icon().isNull());

        QVERIFY(splash.Form_Load());
        QCOMPARE(splash.lblVersion->text(), QStringLiteral("Vers. ") + runningVersionText());
        QCOMPARE(runningVersionText(), QStringLiteral("2.26"));
        splash.show();
        QVERIFY(splash.attesa->isHidden());
        QVERIFY(splash.Command1->isEnabled() && splash.Command2->isEnabled() && splash.Command3->isEnabled());
        QVERIFY(prompts.messages.isEmpty()); // a clean start is silent
    }

    void leftoverUpdaterRemoved() {
        writeFile(m_updater, "old updater");
        ScriptedPrompts prompts;
        frmSplash splash(prompts);
        splash.setInstanceLockPath(m_lock);
        QVERIFY(splash.Form_Load());
        QVERIFY(!QFile::exists(m_updater));
        QVERIFY(prompts.messages.isEmpty());
    }

    void secondInstanceEndsBeforeTouchingUpdater() {
        ScriptedPrompts firstPrompts;
        frmSplash first(firstPrompts);
        first.setInstanceLockPath(m_lock);
        QVERIFY(first.Form_Load());

        writeFile(m_updater, "updater in use");
        ScriptedPrompts prompts;
        frmSplash second(prompts);
        second.setInstanceLockPath(m_lock);
        QVERIFY(!second.Form_Load());
        QCOMPARE(prompts.messages, QStringList{QStringLiteral("Vetra è già in esecuzione.")});
        QVERIFY(QFile::exists(m_updater));
    }

    void startUpOrderWithFailedFolderLookup() {
        // The folder message comes first, then the instance rule stops start-up.
        SingleInstance holder(m_lock);
        QVERIFY(holder.acquire());
        modulo1::setCommonAppDataRoot(m_root.filePath(QStringLiteral("nowhere")));
        ScriptedPrompts prompts;
        frmSplash splash(prompts);
        splash.setInstanceLockPath(m_lock);
        QVERIFY(!splash.Form_Load());
        QCOMPARE(prompts.messages.size(), 2);
        QVERIFY(prompts.messages.at(0).startsWith(QStringLiteral("Impossibile trovare il percorso")));
        QCOMPARE(prompts.messages.at(1), QStringLiteral("Vetra è già in esecuzione."));
        QCOMPARE(modulo1::DataFolder(), QStringLiteral("/Orvanta/Vetra/"));
    }

    // Every instance of the user finds the same lock, whether its environment names a runtime
    // folder or not, and whatever that folder is.
    void secondInstanceWhateverTheRuntimeFolder_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("runtime folder, then none") << QStringLiteral("own") << QString();
        QTest::newRow("none, then a runtime folder") << QString() << QStringLiteral("own");
        QTest::newRow("anyone's folder, then own") << QStringLiteral("open") << QStringLiteral("own");
    }

    void secondInstanceWhateverTheRuntimeFolder() {
        QFETCH(QString, first);
        QFETCH(QString, second);
        setRuntimeFolder(first);
        ScriptedPrompts firstPrompts;
        frmSplash running(firstPrompts);
        QVERIFY(running.Form_Load());
        QVERIFY(firstPrompts.messages.isEmpty());

        setRuntimeFolder(second);
        ScriptedPrompts prompts;
        frmSplash splash(prompts);
        QVERIFY(!splash.Form_Load());
        QCOMPARE(prompts.messages, QStringList{QStringLiteral("Vetra è già in esecuzione.")});
    }

    // A settings file that cannot be read as one is set aside with a word to the operator, and
    // the program starts with its defaults (a FIFO used to keep the window from ever showing).
    void unreadableSettingsSetAside_data() {
        QTest::addColumn<bool>("fifo");
        QTest::newRow("FIFO") << true;
        QTest::newRow("folder") << false;
    }

    void unreadableSettingsSetAside() {
        QFETCH(bool, fifo);
        const QString folder = m_root.filePath(QStringLiteral("config/Orvanta"));
        const QString file = folder + QStringLiteral("/Vetra.conf");
        QVERIFY(QDir().mkpath(folder));
        QFile::remove(file); // what a failed row may have left
        QDir().rmdir(file);
        QVERIFY(fifo ? ::mkfifo(QFile::encodeName(file).constData(), 0600) == 0 : QDir().mkdir(file));
        ScriptedPrompts prompts;
        frmSplash splash(prompts);
        splash.setInstanceLockPath(m_lock);
        QVERIFY(splash.Form_Load());
        QCOMPARE(prompts.messages.size(), 1);
        QVERIFY2(prompts.messages.constFirst().contains(file) &&
                     prompts.messages.constFirst().contains(QLatin1String("impostazioni predefinite")),
                 qPrintable(prompts.messages.constFirst()));
        QVERIFY(splash.Command1->isEnabled());
        QFile::remove(file);
        QDir().rmdir(file);
    }

    void leftLock_data() {
        QTest::addColumn<qint64>("pid");
        QTest::addColumn<bool>("starts");
        // A lock left by a process that no longer runs must not block the next start.
        QTest::newRow("owner gone") << qint64(2147483646) << true;
        QTest::newRow("owner alive") << QCoreApplication::applicationPid() << false;
    }

    void leftLock() {
        QFETCH(qint64, pid);
        QFETCH(bool, starts);
        writeFile(m_lock, QByteArray::number(pid) + "\n" + QCoreApplication::applicationName().toUtf8() +
                              "\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        ScriptedPrompts prompts;
        frmSplash splash(prompts);
        splash.setInstanceLockPath(m_lock);
        QCOMPARE(splash.Form_Load(), starts);
        QCOMPARE(prompts.messages.isEmpty(), starts);
    }

    void workspaceOpensModallyAndAgain() {
        ScriptedPrompts prompts;
        frmSplash splash(prompts);
        splash.setInstanceLockPath(m_lock);
        QVERIFY(splash.Form_Load());
        splash.show();
        int opened = 0;
        frmScanner* seen = nullptr;
        connect(&splash, &frmSplash::workspaceShowing, this, [&](frmScanner* workspace) {
            ++opened;
            QVERIFY(!seen || seen == workspace); // the same window object is reused
            seen = workspace;
            QTimer::singleShot(0, workspace, [workspace] {
                QVERIFY(workspace->isVisible());
                QVERIFY(workspace->isModal());
                workspace->close();
            });
        });
        QTest::mouseClick(splash.Command1, Qt::LeftButton);
        QCOMPARE(opened, 1);
        QVERIFY(!seen->isVisible());
        QVERIFY(splash.isVisible() && splash.isEnabled());
        QTest::mouseClick(splash.Command1, Qt::LeftButton);
        QCOMPARE(opened, 2);
    }

    // The workspace's remote-assistance button is wired to the launcher: the data folder
    // first, then the connection or the file.
    void workspaceStartsRemoteAssistance() {
        ScriptedPrompts prompts;
        frmSplash splash(prompts);
        splash.setInstanceLockPath(m_lock);
        QVERIFY(splash.Form_Load());
        splash.show();
        connect(&splash, &frmSplash::workspaceShowing, this, [&](frmScanner* workspace) {
            QTimer::singleShot(0, workspace, [workspace] {
                QTest::mouseClick(ui(*workspace).Command4, Qt::LeftButton);
                workspace->close();
            });
        });
        QTest::mouseClick(splash.Command1, Qt::LeftButton);
        QCOMPARE(prompts.messages.size(), 2);
        QCOMPARE(prompts.messages.first(), modulo1::DataFolder());
        QVERIFY(prompts.messages.at(1) ==
                    QStringLiteral("Connessione Internet assente, impossibile avviare la TeleAssistenza.") ||
                prompts.messages.at(1) ==
                    QStringLiteral("Il programma di TeleAssistenza non è stato trovato."));
    }

    // Clicks made on the disabled buttons while the version check waits reach nothing, then
    // or later: an "Esci" clicked during a slow check must not end the program afterwards.
    void clicksDuringTheVersionCheckAreDropped() {
        ScriptedPrompts prompts;
        frmSplash splash(prompts);
        splash.setInstanceLockPath(m_lock);
        QVERIFY(splash.Form_Load());
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));

        // A version server that answers only once the operator has clicked. The clicks come
        // as the window system sends them: queued, not delivered on the spot.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        bool clickedWhileDisabled = false;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
                if (!socket->readAll().contains("\r\n\r\n") || clickedWhileDisabled)
                    return;
                clickedWhileDisabled = !splash.Command2->isEnabled() && !splash.attesa->isHidden();
                QWindow* window = splash.windowHandle();
                const QPointF at = splash.Command2->mapTo(&splash, QPointF(splash.Command2->rect().center()));
                const QPointF global = window->mapToGlobal(at);
                QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
                    window, at, global, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
                QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
                    window, at, global, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\n" +
                              runningVersionText().toLatin1());
                socket->disconnectFromHost();
            });
        });
        HttpSession session(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort())));
        session.setConnectionTest([] { return true; });
        splash.setHttpSession(&session);

        QTest::mouseClick(splash.Command3, Qt::LeftButton);
        QVERIFY(clickedWhileDisabled);
        QCOMPARE(prompts.messages,
                 QStringList{QStringLiteral("Risulta installata la versione più aggiornata di Vetra.")});
        QVERIFY(splash.Command2->isEnabled());
        // Whatever input is still pending is delivered now.
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QVERIFY(splash.isVisible());
    }

    void closeButtonClosesWindow() {
        ScriptedPrompts prompts;
        frmSplash splash(prompts);
        splash.setInstanceLockPath(m_lock);
        QVERIFY(splash.Form_Load());
        splash.show();
        QTest::mouseClick(splash.Command2, Qt::LeftButton);
        QVERIFY(!splash.isVisible());
    }
};

QTEST_MAIN(TestFrmSplash)
#include "tst_frmSplash.moc"
