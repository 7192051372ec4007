// The scanner failing while it works, played by a scripted SANE: a jam, an empty feeder, an
// open cover, a scanner held by another program or gone in the middle of a page, a read that
// never comes back; and many scans in a row that must leave no memory, handle, window,
// thread or open file behind.

#include "DialogDriver.h"
#include "RecordingWindow.h"
#include "acquire/SaneSourceManager.h"
#include "acquire/ScanCommands.h"
#include "acquire/ScanMonitor.h"
#include "acquire/ScannerSettingsDialog.h"
#include "acquire/TwainShim.h"
#include "acquire/mdlTwain.h"
#include "env/modulo1.h"
#include "tests/support/FakeSane.h"
#include "tests/support/ScriptedPrompts.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
#define VETRA_LEAK_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VETRA_LEAK_CHECKER 1
#endif
#endif
#ifdef VETRA_LEAK_CHECKER
#include <sanitizer/lsan_interface.h>
#endif

namespace {

int entries(const char* folder) {
    return int(QDir(QString::fromLatin1(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}

// No more threads than before: a worker of an earlier test (Qt's pool lets an idle one go
// after 30 s) may end meanwhile on a loaded machine, but none of ours may stay.
void noThreadLeft(int before) {
    const int now = entries("/proc/self/task");
    QVERIFY2(now <= before, qPrintable(QStringLiteral("%1 threads, %2 before").arg(now).arg(before)));
}

} // namespace

class TestScanFaults : public QObject {
    Q_OBJECT

    QTemporaryDir out;
    DialogDriver driver;
    std::unique_ptr<FakeScanner> scanner;
    std::size_t handlesBefore = 0;

    QString page(const QString& name) const { return out.filePath(name + QStringLiteral(".bmp")); }
    QStringList scanFiles() const {
        return QDir(out.path()).entryList({QStringLiteral("sca*.tmp")}, QDir::Files);
    }

  private Q_SLOTS:
    void initTestCase() { QVERIFY(out.isValid()); }

    void init() {
        modulo1::setScanFolder(out.path());
        scanner = std::make_unique<FakeScanner>(out.filePath(QStringLiteral("vetra.ini")));
        handlesBefore = twainshim::liveHandleCount();
    }

    void cleanup() {
        driver.stop();
        QCOMPARE(scanner->sane.openHandles(), 0);
        QCOMPARE(scanner->sane.initDepth(), 0);
        scanner.reset();
        modulo1::setScanFolder({});
        QCOMPARE(twainshim::liveWindowCount(), std::size_t(0));
        QCOMPARE(twainshim::liveHandleCount(), handlesBefore);
        for (const QString& f : scanFiles())
            QFile::remove(out.filePath(f));
    }

    // The device goes away while the page comes in: no file, no handle, and the module is
    // ready for the next scan; while it stays away every scan fails at once; back, it scans.
    void deviceVanishesMidPage_data() {
        QTest::addColumn<int>("vanishAfter");
        QTest::newRow("at the first read") << 0;
        QTest::newRow("after a few reads") << 4;
        QTest::newRow("near the end of the page") << 38;
    }
    void deviceVanishesMidPage() {
        QFETCH(int, vanishAfter);
        FakeSane& sane = scanner->sane;
        // 2 x 2 inches of grey at 100 dpi come in 40 reads of 1000 bytes.
        sane.readSize = 1000;
        sane.vanishAfterReads = vanishAfter;
        const QString path = page(QStringLiteral("vanished%1").arg(vanishAfter));
        QCOMPARE(mdlTwain::ScanToFile(100, 1, 0, 0, 2, 2, path), 1);
        QVERIFY(sane.gone());
        QCOMPARE(sane.reads.load(), vanishAfter + 1); // the first failure ends the page
        QCOMPARE(ScanMonitor::fault(), ScanFault::Unplugged);
        QVERIFY(!QFile::exists(path));
        QVERIFY(!mdlTwain::IsBusy());
        QCOMPARE(twainshim::liveHandleCount(), handlesBefore);

        // Still away: the scanner cannot even be opened.
        QCOMPARE(mdlTwain::ScanToFile(100, 1, 0, 0, 2, 2, path), 1);
        QVERIFY(!QFile::exists(path));

        sane.plugBackIn();
        QCOMPARE(mdlTwain::ScanToFile(100, 1, 0, 0, 2, 2, path), 0);
        QCOMPARE(QImage(path).size(), QSize(200, 200));
    }

    // Through the scan button: what the operator is told, whether the scanner's dialog is
    // offered, and that a failed scan leaves no file.
    void faultsThroughTheScanButton_data() {
        QTest::addColumn<QString>("call");   // the SANE call that fails
        QTest::addColumn<int>("status");     // with this status
        QTest::addColumn<int>("afterReads"); // for "read": reads that work first
        QTest::addColumn<QList<Prompts::Answer>>("answers");
        QTest::addColumn<bool>("dialogScans"); // when the settings dialog shows: scan, or close it
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("dialogs");
        QTest::addColumn<bool>("scanned");
        using A = Prompts::Answer;
        const auto retry = [](ScanFault f) { return ScanCommands::retryText(ScanMonitor::text(f)); };
        const auto nothing = [](ScanFault f) { return kNothing + QLatin1Char('\n') + ScanMonitor::text(f); };

        QTest::newRow("paper jam, the operator gives up")
            << "read" << int(SANE_STATUS_JAMMED) << 2 << QList<A>{A::Ok, A::Cancel} << false
            << QStringList{kPlace, retry(ScanFault::Jammed)} << 0 << false;
        QTest::newRow("paper jam, cleared and scanned again")
            << "read" << int(SANE_STATUS_JAMMED) << 2 << QList<A>{A::Ok, A::Ok} << false
            << QStringList{kPlace, retry(ScanFault::Jammed)} << 0 << true;
        QTest::newRow("empty feeder")
            << "start" << int(SANE_STATUS_NO_DOCS) << 0 << QList<A>{A::Ok, A::Cancel} << false
            << QStringList{kPlace, retry(ScanFault::NoPaper)} << 0 << false;
        QTest::newRow("cover open") << "start" << int(SANE_STATUS_COVER_OPEN) << 0 << QList<A>{A::Ok, A::Ok}
                                    << false << QStringList{kPlace, retry(ScanFault::CoverOpen)} << 0 << true;
        QTest::newRow("held by another program")
            << "open" << int(SANE_STATUS_DEVICE_BUSY) << 0 << QList<A>{A::Ok} << false
            << QStringList{kPlace, nothing(ScanFault::Busy)} << 0 << false;
        QTest::newRow("no permission")
            << "open" << int(SANE_STATUS_ACCESS_DENIED) << 0 << QList<A>{A::Ok} << false
            << QStringList{kPlace, nothing(ScanFault::Denied)} << 0 << false;
        QTest::newRow("unplugged during the page")
            << "vanish" << 0 << 3 << QList<A>{A::Ok} << false
            << QStringList{kPlace, nothing(ScanFault::Unplugged)} << 0 << false;
        QTest::newRow("settings refused: the scanner's dialog serves")
            << "set" << int(SANE_STATUS_INVAL) << 0 << QList<A>{A::Ok} << true << QStringList{kPlace} << 1
            << true;
        QTest::newRow("an error with no reason: the dialog is offered, then closed")
            << "start" << int(SANE_STATUS_INVAL) << 0 << QList<A>{A::Ok} << false
            << QStringList{kPlace, kNothing} << 1 << false;
        // Failures with a reason of their own: the settings dialog could not help.
        QTest::newRow("the page breaks off")
            << "read" << int(SANE_STATUS_IO_ERROR) << 1 << QList<A>{A::Ok} << false
            << QStringList{kPlace, nothing(ScanFault::ReadError)} << 0 << false;
        QTest::newRow("no scanner at all")
            << "none" << 0 << 0 << QList<A>{A::Ok} << false
            << QStringList{kPlace, nothing(ScanFault::NoScanner)} << 0 << false;
    }
    void faultsThroughTheScanButton() {
        QFETCH(QString, call);
        QFETCH(int, status);
        QFETCH(int, afterReads);
        QFETCH(QList<Prompts::Answer>, answers);
        QFETCH(bool, dialogScans);
        FakeSane& sane = scanner->sane;
        sane.readSize = 64 * 1024;
        if (call == QLatin1String("read")) {
            sane.failAtRead = afterReads;
            sane.failStatus = SANE_Status(status);
        } else if (call == QLatin1String("vanish")) {
            sane.vanishAfterReads = afterReads;
        } else if (call == QLatin1String("none")) {
            sane.devices.clear();
        } else {
            sane.answer(call.toStdString(), SANE_Status(status));
        }
        driver.whenShown<ScannerSettingsDialog>([dialogScans](ScannerSettingsDialog* d) {
            if (dialogScans) {
                // A small area keeps the page quick.
                d->findChild<QComboBox*>(QStringLiteral("resolution"))->setCurrentIndex(0);
                d->findChild<QPushButton*>(QStringLiteral("scan"))->click();
            } else {
                d->reject();
            }
        });
        RecordingWindow window;
        ScriptedPrompts prompts;
        prompts.answers = answers;
        ScanCommands commands(window, prompts);
        commands.ScanIm_Click();

        QTEST(prompts.messages, "messages");
        QTEST(driver.shown, "dialogs");
        QFETCH(bool, scanned);
        QCOMPARE(window.steps.contains(QStringLiteral("image")), scanned);
        QCOMPARE(commands.ScanResult(), scanned ? 0 : 1);
        QCOMPARE(QFile::exists(window.imagePath), scanned); // nothing partial is kept
        QCOMPARE(window.steps.last(), scanned ? QStringLiteral("scan 1") : QStringLiteral("wait 0"));
        if (scanned)
            QVERIFY(!window.image.isNull());
    }

    // A session whose end hangs (sane_exit never returning): the scan command returns all the
    // same and says so, the next scan is refused at once instead of hanging too, and once
    // the end has come back the scanner works again.
    void hungSessionEndIsLeftBehind_data() {
        QTest::addColumn<bool>("jammed");
        QTest::newRow("after a jam") << true;
        QTest::newRow("after a good page") << false;
    }
    void hungSessionEndIsLeftBehind() {
        QFETCH(bool, jammed);
        FakeSane& sane = scanner->sane;
        SaneSourceManager& manager = scanner->manager;
        sane.readSize = 64 * 1024;
        if (jammed) {
            sane.failAtRead = 1;
            sane.failStatus = SANE_STATUS_JAMMED;
        }
        // The end is held, so any wait runs out; a short one keeps the test quick.
        manager.setTeardownWait(std::chrono::milliseconds(100));
        sane.holdExit();
        RecordingWindow window;
        ScriptedPrompts prompts;
        ScanCommands commands(window, prompts); // every prompt answered OK
        commands.ScanIm_Click();
        QVERIFY(manager.teardownStalled());
        QTRY_VERIFY_WITH_TIMEOUT(sane.exiting, 10000);
        const QString stalled = ScanMonitor::stalledText();
        const QString told =
            jammed
                ? QStringList{kNothing, ScanMonitor::text(ScanFault::Jammed), stalled}.join(QLatin1Char('\n'))
                : stalled;
        QCOMPARE(prompts.messages, (QStringList{kPlace, told})); // no retry is offered
        QCOMPARE(window.steps.contains(QStringLiteral("image")), !jammed);
        QCOMPARE(window.steps.last(), jammed ? QStringLiteral("wait 0") : QStringLiteral("scan 1"));

        // While it hangs, SANE is left alone: the next scan fails at once and says why.
        const int inits = sane.initDepth();
        prompts.messages.clear();
        commands.ScanIm_Click();
        QCOMPARE(commands.ScanResult(), 1);
        QCOMPARE(prompts.messages, (QStringList{kPlace, kNothing + QLatin1Char('\n') + stalled}));
        QCOMPARE(sane.initDepth(), inits);

        sane.releaseExit();
        QTRY_VERIFY_WITH_TIMEOUT(!manager.teardownStalled(), 10000);
        manager.setTeardownWait(SaneSourceManager::kTeardownWait);
        sane.failAtRead = -1;
        prompts.messages.clear();
        commands.ScanIm_Click();
        QCOMPARE(commands.ScanResult(), 0);
        QCOMPARE(prompts.messages, QStringList{kPlace});
        QVERIFY(!manager.teardownStalled());
    }

    // A read that never comes back: disabling the source cancels it in the device and
    // returns; nothing is transferred, and no thread or file is left.
    void cancelEndsAStalledRead() {
        FakeSane& sane = scanner->sane;
        sane.readSize = 500;
        sane.stallAtRead = 5;
        const int fds = entries("/proc/self/fd");
        const int threads = entries("/proc/self/task");
        {
            // Driven by hand, as the scanner module drives it, to stop the page halfway.
            ManagerSession s(scanner->manager);
            QCOMPARE(s.openManager(), TWRC_SUCCESS);
            QCOMPARE(s.openSource(), TWRC_SUCCESS);
            QCOMPARE(s.call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &s.ui), TWRC_SUCCESS);
            QTRY_VERIFY_WITH_TIMEOUT(sane.stalled, 10000);
            QCOMPARE(s.call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &s.ui), TWRC_SUCCESS);
            QVERIFY(!sane.stalled);
            QVERIFY(sane.cancels >= 1);
            QCOMPARE(sane.reads.load(), 6);
            TW_HANDLE image = nullptr;
            QCOMPARE(s.call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image), TWRC_FAILURE);
            QVERIFY(image == nullptr);
        }
        QCoreApplication::processEvents(); // the reader's last post, to a window now gone
        QCOMPARE(entries("/proc/self/fd"), fds);
        noThreadLeft(threads);
    }

    // The wait panel's progress and its "Annulla": the bar follows the bytes read against the
    // size the scanner announced (none for a hand scanner), and the cancel ends the scan with
    // no message and no file.
    void progressAndCancel_data() {
        QTest::addColumn<bool>("unknownHeight");
        QTest::addColumn<long long>("total");
        // The first attempt: 8 x 8 inches of colour at 300 dpi.
        QTest::newRow("announced size") << false << 2400LL * 2400 * 3;
        QTest::newRow("hand scanner") << true << -1LL;
    }
    void progressAndCancel() {
        QFETCH(bool, unknownHeight);
        FakeSane& sane = scanner->sane;
        sane.devices.front().unknownHeight = unknownHeight;
        sane.readSize = 1000;
        sane.stallAtRead = 7;
        RecordingWindow window;
        ScriptedPrompts prompts;
        ScanCommands commands(window, prompts);
        QTimer stop;
        stop.setInterval(10);
        QObject::connect(&stop, &QTimer::timeout, &stop, [&] {
            if (sane.stalled && window.progressDone == 7000) {
                stop.stop();
                commands.cancelScan();
            }
        });
        stop.start();
        commands.ScanIm_Click();
        QCOMPARE(window.progressDone, 7000LL);
        QTEST(window.progressTotal, "total");
        QCOMPARE(prompts.messages, QStringList{kPlace});
        QCOMPARE(commands.ScanResult(), 1);
        QVERIFY(!QFile::exists(window.imagePath));
        QVERIFY(scanFiles().isEmpty());
        QCOMPARE(window.steps.mid(window.steps.size() - 2),
                 (QStringList{QStringLiteral("scan 1"), QStringLiteral("wait 0")}));
        QVERIFY(!mdlTwain::IsBusy());
    }

    // Fifty small scans in every pixel type keep nothing: memory, memory handles, windows,
    // threads and open files end where they were after the first scan.
    void fiftyScansKeepNothing() {
        const QString path = page(QStringLiteral("again"));
        QCOMPARE(mdlTwain::ScanToFile(50, 2, 0, 0, 1, 1, path), 0);
        const int fds = entries("/proc/self/fd");
        const int threads = entries("/proc/self/task");
#ifndef VETRA_LEAK_CHECKER
        const std::size_t heapBefore = mallinfo2().uordblks;
#endif
        for (int i = 0; i < 50; ++i) {
            QCOMPARE(mdlTwain::ScanToFile(50, i % 3, 0, 0, 1, 1, path), 0);
            QCOMPARE(twainshim::liveHandleCount(), handlesBefore);
            QCOMPARE(twainshim::liveWindowCount(), std::size_t(0));
        }
        QCOMPARE(QImage(path).size(), QSize(50, 50));
        QCOMPARE(entries("/proc/self/fd"), fds);
        noThreadLeft(threads);
#ifdef VETRA_LEAK_CHECKER
        QCOMPARE(__lsan_do_recoverable_leak_check(), 0);
#else
        // Fifty pages of 50 x 50 pixels: a leak of even one page's buffer each time shows.
        const std::size_t heapAfter = mallinfo2().uordblks;
        QVERIFY2(heapAfter < heapBefore + 50 * 2500,
                 qPrintable(QStringLiteral("heap grew from %1 to %2 bytes").arg(heapBefore).arg(heapAfter)));
#endif
    }
};

QTEST_MAIN(TestScanFaults)

#include "tst_ScanFaults.moc"
