#include "tst_acquire.h"

#include "DialogDriver.h"
#include "RecordingWindow.h"
#include "acquire/SaneSourceManager.h"
#include "acquire/ScanMonitor.h"
#include "acquire/ScannerSettingsDialog.h"
#include "acquire/SourceSelectDialog.h"
#include "acquire/TwainShim.h"
#include "acquire/mdlTwain.h"
#include "env/modulo1.h"
#include "tests/support/FakeSane.h"
#include "tests/support/SaneTestConfig.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestFiles.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLibrary>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

namespace {

QString testConf(const QStringList& extra) {
    return saneTestConf(2, extra);
}

QPushButton* button(QWidget* dialog, const char* name) {
    return dialog->findChild<QPushButton*>(QLatin1String(name));
}

} // namespace

class TestSaneScan : public QObject {
    Q_OBJECT

    QTemporaryDir config;
    QTemporaryDir out;
    DialogDriver driver;
    std::size_t handlesBefore = 0;

    QString settingsFile() const { return config.filePath(QStringLiteral("vetra.ini")); }
    void configure(const QStringList& extra = {}, bool withDevices = true) {
        TestFiles::writeFile(config.filePath(QStringLiteral("dll.conf")), withDevices ? "test\n" : "");
        TestFiles::writeFile(config.filePath(QStringLiteral("test.conf")), testConf(extra).toUtf8());
    }
    QString page(const QString& name) const { return out.filePath(name + QStringLiteral(".bmp")); }

  private Q_SLOTS:
    void initTestCase() {
        QVERIFY(config.isValid());
        // The test backend keeps buffers in static variables between scans. Each SANE session
        // unloads it, and its buffers would then be reported as lost by the leak checker
        // though no code of ours holds them; keeping the module loaded keeps them reachable.
        static QLibrary backend(QStringLiteral(VETRA_SANE_TEST_BACKEND));
        QVERIFY2(backend.load(), qPrintable(backend.errorString()));
        // SANE reads its configuration folder once per process.
        qputenv("SANE_CONFIG_DIR", config.path().toUtf8());
        SaneSourceManager::instance().setSettingsFile(settingsFile());
    }

    void init() {
        modulo1::setScanFolder(out.path());
        configure();
        QFile::remove(settingsFile());
        mdlTwain::resetDsmEntry();
        handlesBefore = twainshim::liveHandleCount();
    }

    void cleanup() {
        modulo1::setScanFolder({});
        driver.stop();
        QCOMPARE(twainshim::liveWindowCount(), std::size_t(0));
        QCOMPARE(twainshim::liveHandleCount(), handlesBefore);
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
    }

    void scanCommandMakesTheWorkingImage() {
        RecordingWindow window;
        ScriptedPrompts prompts;
        ScanCommands commands(window, prompts);
        commands.ScanIm_Click();
        QCOMPARE(prompts.messages, QStringList{kPlace});
        QCOMPARE(window.steps,
                 (QStringList{QStringLiteral("scan 0"), QStringLiteral("wait 1"), QStringLiteral("path"),
                              QStringLiteral("wait 0"), QStringLiteral("image"), QStringLiteral("scan 1")}));
        QVERIFY(QFileInfo(window.imagePath).fileName().startsWith(QLatin1String("sca")));
        QCOMPARE(QFileInfo(window.imagePath).absolutePath(), QFileInfo(out.path()).canonicalFilePath());
        QCOMPARE(QFileInfo(window.imagePath).permissions() & 0x7777,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                     QFileDevice::WriteUser);
        QCOMPARE(QFileInfo(window.imagePath).size(), qint64(17280054));
        QCOMPARE(window.image.size(), QSize(2400, 2400));
        QVERIFY(!window.image.allGray());
    }

    void repeatedScansKeepNothing() {
        const auto openFiles = [] {
            return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files).size();
        };
        const QString path = page(QStringLiteral("again"));
        QCOMPARE(mdlTwain::ScanToFile(100, 2, 0, 0, 1, 1, path), 0);
        const auto before = openFiles();
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(mdlTwain::ScanToFile(100, i % 2 ? 1 : 2, 0, 0, 1, 1, path), 0);
            QCOMPARE(twainshim::liveHandleCount(), handlesBefore);
            QCOMPARE(twainshim::liveWindowCount(), std::size_t(0));
        }
        QCOMPARE(openFiles(), before);
    }

    void pixelTypes_data() {
        QTest::addColumn<int>("pixelType");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("bits");
        QTest::newRow("colour") << 2 << 0 << 24;
        QTest::newRow("grey") << 1 << 0 << 8;
        QTest::newRow("black and white") << 0 << 0 << 1;
        QTest::newRow("cmy is not offered") << 4 << 1 << 0;
    }
    void pixelTypes() {
        QFETCH(int, pixelType);
        QFETCH(int, result);
        QFETCH(int, bits);
        const QString path = page(QStringLiteral("type%1").arg(pixelType));
        QCOMPARE(mdlTwain::ScanToFile(100, pixelType, 0, 0, 1, 1.5f, path), result);
        if (result != 0)
            return;
        const QByteArray bytes = TestFiles::readAll(path);
        QVERIFY(bytes.size() > 30);
        QCOMPARE(int(qFromLittleEndian<quint16>(bytes.constData() + 28)), bits);
        QCOMPARE(QImage(path).size(), QSize(100, 150));
    }

    void areaBeyondTheBedIsAdjusted_data() {
        QTest::addColumn<float>("right");
        QTest::addColumn<float>("bottom");
        QTest::addColumn<QSize>("size");
        // 300 mm at 25 dpi is 295 pixels.
        QTest::newRow("frame larger than the bed") << 20.0f << 2.0f << QSize(295, 50);
        QTest::newRow("physical size") << 0.0f << 2.0f << QSize(295, 295);
    }
    void areaBeyondTheBedIsAdjusted() {
        QFETCH(float, right);
        QFETCH(float, bottom);
        const QString path = page(QStringLiteral("bed"));
        QCOMPARE(mdlTwain::ScanToFile(25, 2, 0, 0, right, bottom, path), 0);
        QTEST(QImage(path).size(), "size");
    }

    void threePassGivesTheSamePage() {
        const QString single = page(QStringLiteral("single"));
        const QString three = page(QStringLiteral("three"));
        QCOMPARE(mdlTwain::ScanToFile(100, 2, 0, 0, 2, 2, single), 0);
        configure({QStringLiteral("three-pass true"), QStringLiteral("three-pass-order BGR")});
        QCOMPARE(mdlTwain::ScanToFile(100, 2, 0, 0, 2, 2, three), 0);
        const QImage a(single);
        QCOMPARE(a.size(), QSize(200, 200));
        QCOMPARE(QImage(three), a);
    }

    void handScannerOfUnknownHeight() {
        configure({QStringLiteral("hand-scanner true")});
        const QString path = page(QStringLiteral("hand"));
        QCOMPARE(mdlTwain::ScanToFile(100, 2, 0, 0, 2, 2, path), 0);
        const QImage image(path);
        QCOMPARE(image.width(), 433); // the simulated hand scanner is 11 cm wide
        QVERIFY(image.height() > 0);
    }

    void scannerDialog_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("area");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("grey");
        QTest::newRow("colour, 8 x 8 inches") << QStringLiteral("Color") << 1 << QSize(800, 800) << false;
        QTest::newRow("grey, A4") << QStringLiteral("Gray") << 0 << QSize(826, 1169) << true;
    }
    void scannerDialog() {
        QFETCH(QString, mode);
        QFETCH(int, area);
        QStringList seen;
        driver.whenShown<ScannerSettingsDialog>([&](ScannerSettingsDialog* d) {
            seen << d->windowTitle() << button(d, "scan")->text() << button(d, "cancel")->text();
            auto* modes = d->findChild<QComboBox*>(QStringLiteral("mode"));
            modes->setCurrentIndex(modes->findData(mode));
            auto* res = d->findChild<QComboBox*>(QStringLiteral("resolution"));
            res->setCurrentIndex(res->findData(100.0));
            d->findChild<QComboBox*>(QStringLiteral("area"))->setCurrentIndex(area);
            button(d, "scan")->click();
        });
        const QString path = page(QStringLiteral("dialog"));
        QCOMPARE(mdlTwain::ScanToFileWithDialog(path), 0);
        QCOMPARE(seen, (QStringList{QStringLiteral("Impostazioni scanner"), QStringLiteral("Scansiona"),
                                    QStringLiteral("Annulla")}));
        const QImage image(path);
        QTEST(image.size(), "size");
        QTEST(image.allGray(), "grey");
    }

    void scannerDialogCancelled() {
        driver.whenShown<ScannerSettingsDialog>(
            [](ScannerSettingsDialog* d) { button(d, "cancel")->click(); });
        const QString path = page(QStringLiteral("cancelled"));
        QCOMPARE(mdlTwain::ScanToFileWithDialog(path), 1);
        QCOMPARE(driver.shown, 1);
        QVERIFY(!QFile::exists(path));
    }

    // The scanner's own fault statuses, end to end: a paper fault asks the operator to put it
    // right (here they give up); a page that breaks off is said so, with no settings dialog.
    void faultsEndTheScan_data() {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("asked"); // the second message
        QTest::addColumn<int>("dialogs");
        QTest::newRow("jammed") << QStringLiteral("SANE_STATUS_JAMMED")
                                << ScanCommands::retryText(QStringLiteral("Carta inceppata nello scanner."))
                                << 0;
        QTest::newRow("no documents")
            << QStringLiteral("SANE_STATUS_NO_DOCS")
            << ScanCommands::retryText(QStringLiteral("Nessun foglio nell'alimentatore.")) << 0;
        QTest::newRow("input/output error")
            << QStringLiteral("SANE_STATUS_IO_ERROR")
            << kNothing + QLatin1Char('\n') + ScanMonitor::text(ScanFault::ReadError) << 0;
    }
    void faultsEndTheScan() {
        QFETCH(QString, status);
        // A small bed keeps the page within one pipe buffer: the backend's reader then ends on its own
        // instead of being stopped abruptly by the cancel that follows the fault.
        configure({QStringLiteral("read-status-code \"%1\"").arg(status), QStringLiteral("geometry_max 10.0"),
                   QStringLiteral("br_x 10.0"), QStringLiteral("br_y 10.0")});
        driver.whenShown<ScannerSettingsDialog>([](ScannerSettingsDialog* d) { button(d, "scan")->click(); });
        RecordingWindow window;
        ScriptedPrompts prompts;
        prompts.answers << Prompts::Answer::Ok << Prompts::Answer::Cancel;
        ScanCommands commands(window, prompts);
        commands.ScanIm_Click();
        QTEST(driver.shown, "dialogs");
        QFETCH(QString, asked);
        QCOMPARE(prompts.messages, (QStringList{kPlace, asked}));
        QVERIFY(!window.steps.contains(QStringLiteral("image")));
        QVERIFY(!QFile::exists(window.imagePath));
    }

    void noScannerAtAll() {
        configure({}, false);
        driver.whenShown<ScannerSettingsDialog>([](ScannerSettingsDialog* d) { d->reject(); });
        RecordingWindow window;
        ScriptedPrompts prompts;
        ScanCommands commands(window, prompts);
        commands.ScanIm_Click();
        QCOMPARE(prompts.messages, (QStringList{kPlace, kNothing + QLatin1Char('\n') +
                                                            ScanMonitor::text(ScanFault::NoScanner)}));
        QCOMPARE(driver.shown, 0);
        QCOMPARE(commands.ScanResult(), 1);
    }

    void chosenScannerIsRememberedAcrossRuns_data() {
        QTest::addColumn<bool>("choose");
        QTest::newRow("chosen") << true;
        QTest::newRow("cancelled") << false;
    }
    void chosenScannerIsRememberedAcrossRuns() {
        QFETCH(bool, choose);
        QStringList labels;
        driver.whenShown<SourceSelectDialog>([&](SourceSelectDialog* d) {
            auto* list = d->findChild<QListWidget*>(QStringLiteral("devices"));
            for (int i = 0; i < list->count(); ++i)
                labels << list->item(i)->text();
            list->setCurrentRow(1);
            button(d, choose ? "select" : "cancel")->click();
        });
        QCOMPARE(mdlTwain::SelectSource(), choose ? 0 : 1);
        QCOMPARE(labels, (QStringList{QStringLiteral("Noname frontend-tester (test:0)"),
                                      QStringLiteral("Noname frontend-tester (test:1)")}));

        // Another manager, as in the next run of the program, opens the remembered scanner.
        SaneSourceManager next;
        next.setSettingsFile(settingsFile());
        ManagerSession s(next);
        QCOMPARE(s.openManager(), TWRC_SUCCESS);
        QCOMPARE(s.openSource(), TWRC_SUCCESS);
        QCOMPARE(next.openDevice(), choose ? QByteArray("test:1") : QByteArray("test:0"));
        QCOMPARE(QLatin1String(s.source.ProductName), QLatin1String("frontend-tester"));
        QCOMPARE(s.closeSource(), TWRC_SUCCESS);
        QCOMPARE(s.closeManager(), TWRC_SUCCESS);
    }

    void replugKeepsTheChoice_data() {
        QTest::addColumn<QString>("remembered");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("opened");
        QTest::newRow("same name") << QStringLiteral("test:1") << QString() << QByteArray("test:1");
        QTest::newRow("gone") << QStringLiteral("other:libusb:001:009") << QStringLiteral("other|Acme|X1")
                              << QByteArray("test:0");
    }
    void replugKeepsTheChoice() {
        QFETCH(QString, remembered);
        QFETCH(QString, key);
        {
            QSettings settings(settingsFile(), QSettings::IniFormat);
            settings.setValue(QStringLiteral("Scanner/DefaultSource"), remembered);
            settings.setValue(QStringLiteral("Scanner/DefaultSourceKey"), key);
        }
        SaneSourceManager manager;
        manager.setSettingsFile(settingsFile());
        TW_IDENTITY app{};
        TW_IDENTITY source{};
        TW_HANDLE window = twainshim::CreateMessageWindow(QStringLiteral("test"));
        QCOMPARE(manager.entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window), TWRC_SUCCESS);
        QCOMPARE(manager.entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
        QTEST(manager.openDevice(), "opened");
        // The manager closes what is still open when it goes.
        twainshim::DestroyWindow(window);
    }

    void stableKeyDropsTheBusAddress() {
        SaneDeviceInfo usb{QByteArray("genesys:libusb:001:005"), QStringLiteral("Canon"),
                           QStringLiteral("LiDE 110"), QStringLiteral("flatbed scanner")};
        SaneDeviceInfo replugged = usb;
        replugged.name = "genesys:libusb:002:011";
        QCOMPARE(usb.stableKey(), replugged.stableKey());
        QCOMPARE(usb.label(), QStringLiteral("Canon LiDE 110"));
    }
};

REGISTER_ACQUIRE_TEST(TestSaneScan)

#include "tst_SaneScan.moc"
