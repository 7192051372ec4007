// The scanner failing while it works: a scan cancelled in the middle of a page, the device
// vanishing in the middle of a page (and staying away, and coming back), and many scans in
// a row that must leave no memory, handle, window, thread or open file behind.
//
// The SANE "test" backend plays the scanner. The device's disappearance is simulated
// between our code and SANE: this program defines sane_read, sane_open and
// sane_get_devices, which forward to the library's own until the test pulls the plug.

#include "DialogDriver.h"
#include "RecordingWindow.h"
#include "acquire/SaneSourceManager.h"
#include "acquire/ScanCommands.h"
#include "acquire/ScannerSettingsDialog.h"
#include "acquire/TwainShim.h"
#include "acquire/mdlTwain.h"
#include "env/modulo1.h"
#include "tests/support/SaneTestConfig.h"
#include "tests/support/ScriptedPrompts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLibrary>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <dlfcn.h>
#include <malloc.h>
#include <sane/sane.h>

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

// The plug between our code and the scanner.
std::atomic<int> g_reads{0};          // sane_read calls since the last reset
std::atomic<int> g_failFromRead{-1};  // the read at which the device goes; -1: never
std::atomic<bool> g_unplugged{false}; // gone: reads fail, nothing opens, nothing is listed

template <typename Fn> Fn real(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" SANE_Status sane_read(SANE_Handle handle, SANE_Byte* data, SANE_Int max, SANE_Int* length) {
    static const auto next = real<SANE_Status (*)(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*)>("sane_read");
    const int n = g_reads++;
    if (g_failFromRead >= 0 && n >= g_failFromRead)
        g_unplugged = true;
    if (g_unplugged) {
        *length = 0;
        return SANE_STATUS_IO_ERROR;
    }
    return next(handle, data, max, length);
}

extern "C" SANE_Status sane_open(SANE_String_Const name, SANE_Handle* handle) {
    static const auto next = real<SANE_Status (*)(SANE_String_Const, SANE_Handle*)>("sane_open");
    if (g_unplugged)
        return SANE_STATUS_INVAL;
    return next(name, handle);
}

extern "C" SANE_Status sane_get_devices(const SANE_Device*** list, SANE_Bool localOnly) {
    static const auto next = real<SANE_Status (*)(const SANE_Device***, SANE_Bool)>("sane_get_devices");
    static const SANE_Device* none[] = {nullptr};
    const SANE_Status status = next(list, localOnly); // keeps the library's own bookkeeping
    if (g_unplugged)
        *list = none;
    return status;
}

// The test backend stops its reader thread abruptly when a scan is cancelled, and the
// reader's line buffer is then lost inside the backend. Those allocations belong to the
// backend alone; our own allocations are never listed here.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libsane-test.so\n";
}

namespace {

const QString kPlace =
    QStringLiteral("Disporre il documento da scansionare sul ripiano dello scanner e premere OK.");
const QString kNothing = QStringLiteral("Non è stata scansionata nessuna immagine.");

QString testConf(const QStringList& extra) {
    return saneTestConf(1, extra);
}

bool writeFile(const QString& path, const QString& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text.toUtf8()) >= 0;
}

int entries(const char* folder) {
    return int(QDir(QString::fromLatin1(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}

// A manager session driven by hand, as the scanner module drives it, to stop a page halfway.
struct Session {
    SaneSourceManager manager;
    TW_IDENTITY app{};
    TW_IDENTITY source{};
    TW_HANDLE window = twainshim::CreateMessageWindow(QStringLiteral("test"));
    TW_USERINTERFACE ui{0, 1, window};

    TW_UINT16 call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data, bool toSource = true) {
        return manager.entry(&app, toSource ? &source : nullptr, dg, dat, msg, data);
    }
    ~Session() {
        call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source, false);
        call(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window, false);
        twainshim::DestroyWindow(window);
    }
};

} // namespace

class TestScanFaults : public QObject {
    Q_OBJECT

    QTemporaryDir config;
    QTemporaryDir out;
    DialogDriver driver;
    std::size_t handlesBefore = 0;

    void configure(const QStringList& extra = {}) {
        QVERIFY(writeFile(config.filePath(QStringLiteral("dll.conf")), QStringLiteral("test\n")));
        QVERIFY(writeFile(config.filePath(QStringLiteral("test.conf")), testConf(extra)));
    }
    QString page(const QString& name) const { return out.filePath(name + QStringLiteral(".bmp")); }

  private Q_SLOTS:
    void initTestCase() {
        QVERIFY(config.isValid() && out.isValid());
        // Kept loaded so that the backend's own buffers stay reachable between sessions.
        static QLibrary backend(QStringLiteral(VETRA_SANE_TEST_BACKEND));
        QVERIFY2(backend.load(), qPrintable(backend.errorString()));
        qputenv("SANE_CONFIG_DIR", config.path().toUtf8());
        SaneSourceManager::instance().setSettingsFile(config.filePath(QStringLiteral("vetra.ini")));
        QVERIFY(real<void*>("sane_read") != nullptr);
    }

    void init() {
        modulo1::setTempFolder(out.path());
        configure();
        g_reads = 0;
        g_failFromRead = -1;
        g_unplugged = false;
        mdlTwain::resetDsmEntry();
        handlesBefore = twainshim::liveHandleCount();
    }

    void cleanup() {
        modulo1::setTempFolder({});
        driver.stop();
        g_failFromRead = -1;
        g_unplugged = false;
        QCOMPARE(twainshim::liveWindowCount(), std::size_t(0));
        QCOMPARE(twainshim::liveHandleCount(), handlesBefore);
    }

    // The device goes away while the page comes in: no file, no handle, and the module is
    // ready for the next scan; while it stays away every scan fails at once; back, it scans.
    void deviceVanishesMidPage_data() {
        QTest::addColumn<int>("failFromRead");
        QTest::newRow("at the first read") << 0;
        QTest::newRow("after a few reads") << 4;
        QTest::newRow("near the end of the page") << 30;
    }
    void deviceVanishesMidPage() {
        QFETCH(int, failFromRead);
        // 2 x 2 inches of grey at 100 dpi come in 40 reads of 1000 bytes.
        configure({QStringLiteral("read-limit true"), QStringLiteral("read-limit-size 1000")});
        const QString path = page(QStringLiteral("vanished%1").arg(failFromRead));
        g_failFromRead = failFromRead;
        QCOMPARE(mdlTwain::ScanToFile(100, 1, 0, 0, 2, 2, path), 1);
        QVERIFY(g_unplugged);
        QCOMPARE(g_reads.load(), failFromRead + 1); // the first failure ends the page
        QVERIFY(!QFile::exists(path));
        QVERIFY(!mdlTwain::IsBusy());
        QCOMPARE(twainshim::liveHandleCount(), handlesBefore);

        // Still away: the scanner cannot even be opened.
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(mdlTwain::ScanToFile(100, 1, 0, 0, 2, 2, path), 1);
        QVERIFY(timer.elapsed() < 5000);
        QVERIFY(!QFile::exists(path));

        // Plugged back in.
        g_failFromRead = -1;
        g_unplugged = false;
        QCOMPARE(mdlTwain::ScanToFile(100, 1, 0, 0, 2, 2, path), 0);
        QCOMPARE(QImage(path).size(), QSize(200, 200));
    }

    // Through the scan button: the operator is told that nothing was scanned, the scanner's
    // dialog is not offered for a device that is gone, and the window gets no image.
    void vanishedScannerThroughTheScanButton() {
        g_failFromRead = 2;
        configure({QStringLiteral("read-limit true"), QStringLiteral("read-limit-size 1000")});
        driver.whenShown<ScannerSettingsDialog>([](ScannerSettingsDialog* d) { d->reject(); });
        RecordingWindow window;
        ScriptedPrompts prompts;
        ScanCommands commands(window, prompts);
        commands.ScanIm_Click();
        QCOMPARE(prompts.messages, (QStringList{kPlace, kNothing}));
        QCOMPARE(driver.shown, 0);
        QVERIFY(!window.steps.contains(QStringLiteral("image")));
        QCOMPARE(commands.ScanResult(), 1);
        QCOMPARE(window.steps.mid(window.steps.size() - 2),
                 (QStringList{QStringLiteral("scan 1"), QStringLiteral("wait 0")}));
        QCOMPARE(QFileInfo(window.imagePath).size(), qint64(0)); // nothing partial
    }

    // The application disables the source while the page is coming in: the read stops at
    // the next chunk, nothing is transferred, and the scanner scans again afterwards.
    void cancelInTheMiddleOfAPage() {
        // 157 x 197 grey pixels in reads of 500 bytes, 20 ms each: over a second for the page.
        configure({QStringLiteral("read-limit true"), QStringLiteral("read-limit-size 500"),
                   QStringLiteral("read-delay true"), QStringLiteral("read-delay-duration 20000")});
        const int fds = entries("/proc/self/fd");
        const int threads = entries("/proc/self/task");
        {
            Session s;
            QCOMPARE(s.call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &s.window, false), TWRC_SUCCESS);
            QCOMPARE(s.call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &s.source, false), TWRC_SUCCESS);
            QCOMPARE(s.call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &s.ui), TWRC_SUCCESS);
            QTRY_VERIFY_WITH_TIMEOUT(g_reads >= 5, 5000);
            QElapsedTimer timer;
            timer.start();
            QCOMPARE(s.call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &s.ui), TWRC_SUCCESS);
            QVERIFY2(timer.elapsed() < 1000, "the cancel waited for the whole page");
            const int readsAtCancel = g_reads;
            QVERIFY(readsAtCancel < 60); // far from the page's 62 reads
            // Nothing to transfer after the cancel.
            TW_HANDLE image = nullptr;
            QCOMPARE(s.call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image), TWRC_FAILURE);
            QVERIFY(image == nullptr);
            QTest::qWait(100);
            QCOMPARE(g_reads.load(), readsAtCancel);
        }
        QCoreApplication::processEvents(); // the reader's last post, to a window now gone
        QCOMPARE(twainshim::liveHandleCount(), handlesBefore);
        QCOMPARE(entries("/proc/self/fd"), fds);
        QCOMPARE(entries("/proc/self/task"), threads);

        // The scanner is not left stuck.
        configure();
        const QString path = page(QStringLiteral("after-cancel"));
        QCOMPARE(mdlTwain::ScanToFile(50, 1, 0, 0, 1, 1, path), 0);
        QCOMPARE(QImage(path).size(), QSize(50, 50));
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
        QCOMPARE(entries("/proc/self/task"), threads);
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
