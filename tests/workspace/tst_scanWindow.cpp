// The scan button of the workspace, end to end on the SANE "test" backend; stopping a scan on a
// slow scripted scanner.
#include "acquire/SaneSourceManager.h"
#include "acquire/mdlTwain.h"
#include "env/modulo1.h"
#include "tests/support/FakeSane.h"
#include "tests/support/SaneTestConfig.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/WorkspaceWindow.h"
#include "workspace/PictureSurface.h"
#include "workspace/frmScanner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLibrary>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

const QString kPlace =
    QStringLiteral("Disporre il documento da scansionare sul ripiano dello scanner e premere OK.");

void writeFile(const QString& path, const QByteArray& text) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

} // namespace

class TestScanWindow : public QObject {
    Q_OBJECT
    QTemporaryDir config;
    QTemporaryDir out;

    // A scanner that sends the page 1000 bytes at a time, 20 ms apart: the 8 x 8 inch page of
    // the first attempt would take minutes, so the test has all the time it needs to stop it.
    std::unique_ptr<FakeScanner> slowScanner() {
        auto scanner = std::make_unique<FakeScanner>(config.filePath(QStringLiteral("slow.ini")));
        scanner->sane.readSize = 1000;
        scanner->sane.readDelayMs = 20;
        return scanner;
    }
    QStringList scanFiles() const {
        return QDir(out.path()).entryList({QStringLiteral("sca*.tmp")}, QDir::Files);
    }
    // Runs `act` once the wait panel shows a page coming in.
    static void onceScanning(frmScanner& window, std::function<void()> act) {
        auto* poll = new QTimer(&window);
        poll->setInterval(20);
        QObject::connect(poll, &QTimer::timeout, poll, [poll, &window, act] {
            if (ui(window).attesa->isVisible() && ui(window).scanProgress->isVisible() &&
                ui(window).scanProgress->value() > 0) {
                poll->deleteLater();
                poll->stop();
                act();
            }
        });
        poll->start();
    }

  private Q_SLOTS:
    void initTestCase() {
        // Keep the backend loaded for the whole run: it holds buffers in static variables.
        static QLibrary backend(QStringLiteral(VETRA_SANE_TEST_BACKEND));
        QVERIFY2(backend.load(), qPrintable(backend.errorString()));
        writeFile(config.filePath(QStringLiteral("dll.conf")), "test\n");
        writeFile(config.filePath(QStringLiteral("test.conf")),
                  saneTestConf(1, {QStringLiteral("mode Color")}).toUtf8());
        qputenv("SANE_CONFIG_DIR", config.path().toUtf8());
        SaneSourceManager::instance().setSettingsFile(config.filePath(QStringLiteral("vetra.ini")));
        modulo1::setScanFolder(out.path());
    }

    void cleanupTestCase() { modulo1::setScanFolder({}); }

    void cleanup() { QVERIFY(!mdlTwain::IsBusy()); }

    void scanBecomesTheWorkingImage() {
        ScriptedPrompts prompts;
        frmScanner window(prompts);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QTest::mouseClick(ui(window).ScanIm, Qt::LeftButton);

        QCOMPARE(prompts.messages, QStringList{kPlace});
        QCOMPARE(ui(window).ScanResult, 0);
        QVERIFY(QFileInfo(window.document().path()).fileName().startsWith(QLatin1String("sca")));
        QVERIFY(window.document().path().endsWith(QLatin1String(".tmp")));
        QCOMPARE(window.document().page().size(), QSize(2400, 2400));
        QCOMPARE(QImage(window.document().path()).size(), QSize(2400, 2400));
        QCOMPARE(ui(window).display, QSize(425, 425));
        QVERIFY(showsAPage(window)); // kind 0 on

        // The scanned page crops like any other.
        QTest::mouseClick(ui(window).Command3, Qt::LeftButton);
        QVERIFY(ui(window).Command6->isEnabled());
    }

    void cancelAtThePromptChangesNothing() {
        ScriptedPrompts prompts;
        prompts.answers << Prompts::Answer::Cancel;
        frmScanner window(prompts);
        window.show();
        QTest::mouseClick(ui(window).ScanIm, Qt::LeftButton);
        QCOMPARE(prompts.messages, QStringList{kPlace});
        QVERIFY(window.document().page().isNull());
        QVERIFY(!ui(window).frameopt->isHidden());
        QVERIFY(ui(window).ScanIm->isEnabled());
    }

    // "Annulla" in the wait panel, after the bar has moved: the scan stops, nothing is said,
    // no file is left and the window is as before.
    void cancelButtonStopsTheScan() {
        const auto scanner = slowScanner();
        ScriptedPrompts prompts;
        frmScanner window(prompts);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        int range = -1;
        onceScanning(window, [&] {
            range = ui(window).scanProgress->maximum();
            QTest::mouseClick(ui(window).scanCancel, Qt::LeftButton);
        });
        QTest::mouseClick(ui(window).ScanIm, Qt::LeftButton);
        QCOMPARE(range, 1000); // the scanner announced the page's size
        QCOMPARE(prompts.messages, QStringList{kPlace});
        QCOMPARE(ui(window).ScanResult, 1);
        QVERIFY(scanFiles().isEmpty());
        QVERIFY(window.document().page().isNull());
        QVERIFY(!ui(window).frameopt->isHidden());
        QVERIFY(ui(window).attesa->isHidden());
        QVERIFY(ui(window).ScanIm->isEnabled());
    }

    // While the page comes in, Ctrl+O and a drop are refused: the scan would replace their
    // page moments later. Once it has stopped they work again.
    void loadsWaitForTheScan() {
        const auto scanner = slowScanner();
        const QString file = out.filePath(QStringLiteral("modulo.png"));
        QVERIFY(TestImages::write(TestImages::page(300, 400), file, "png"));
        ScriptedPrompts prompts;
        prompts.fileAnswers << file;
        frmScanner window(prompts);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        bool dropTaken = true;
        bool stillScanning = false;
        onceScanning(window, [&] {
            QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
            dropTaken = dropOn(window, {QUrl::fromLocalFile(file)});
            stillScanning = ui(window).attesa->isVisible() && ui(window).scanCancel->isVisible();
            QTest::mouseClick(ui(window).scanCancel, Qt::LeftButton);
        });
        QTest::mouseClick(ui(window).ScanIm, Qt::LeftButton);
        QVERIFY(stillScanning);
        QVERIFY(!dropTaken);
        QVERIFY(prompts.openRequests.isEmpty());
        QVERIFY(window.document().page().isNull());

        QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(window.document().page().size(), QSize(300, 400));
    }

    // ESCI during a scan: the scan is cancelled, the window closes as soon as it has stopped,
    // and the workspace opens again at once (no "QDialog::exec: Recursive call").
    void closingDuringAScanEndsIt() {
        auto scanner = slowScanner();
        QTest::failOnWarning(QRegularExpression(QStringLiteral("Recursive call")));
        ScriptedPrompts prompts;
        frmScanner window(prompts);
        QTimer::singleShot(0, &window, [&window] { QTest::mouseClick(ui(window).ScanIm, Qt::LeftButton); });
        onceScanning(window, [&window] { QTest::mouseClick(ui(window).Command1, Qt::LeftButton); });
        window.showModal();
        QVERIFY(!window.isVisible());
        QVERIFY(!mdlTwain::IsBusy());
        QCOMPARE(prompts.messages, QStringList{kPlace});
        QVERIFY(scanFiles().isEmpty());

        scanner.reset();
        bool reopened = false;
        QTimer::singleShot(0, &window, [&] {
            reopened = window.isVisible();
            QTest::mouseClick(ui(window).Command1, Qt::LeftButton);
        });
        window.showModal();
        QVERIFY(reopened);
    }

    // A scan file lives as long as it is the working image: NUOVA, a loaded file or the
    // window's end delete it; it is readable by its owner only.
    void scanFileLivesWithTheWorkingImage() {
        const QString loaded = out.filePath(QStringLiteral("page.bmp"));
        QImage page(120, 90, QImage::Format_RGB32);
        page.fill(Qt::darkGreen);
        QVERIFY(page.save(loaded));
        ScriptedPrompts prompts;
        prompts.fileAnswers << loaded;
        QString third;
        {
            frmScanner window(prompts);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));

            QTest::mouseClick(ui(window).ScanIm, Qt::LeftButton);
            const QString first = window.document().path();
            QVERIFY(QFile::exists(first));
            QCOMPARE(QFile::permissions(first) & 0x0777, QFileDevice::ReadUser | QFileDevice::WriteUser);
            QTest::mouseClick(ui(window).Command11, Qt::LeftButton); // NUOVA
            QVERIFY(!QFile::exists(first));

            QTest::mouseClick(ui(window).ScanIm, Qt::LeftButton);
            const QString second = window.document().path();
            QVERIFY(QFile::exists(second));
            QTest::mouseClick(ui(window).Command11, Qt::LeftButton);
            QTest::mouseClick(ui(window).Command12, Qt::LeftButton); // the file replaces nothing now
            QCOMPARE(window.document().page().size(), QSize(120, 90));
            QVERIFY(!QFile::exists(second));

            QTest::mouseClick(ui(window).Command11, Qt::LeftButton);
            QTest::mouseClick(ui(window).ScanIm, Qt::LeftButton);
            third = window.document().path();
            QVERIFY(QFile::exists(third));
            QVERIFY(QFile::exists(loaded)); // the operator's own file is never touched
        }
        QVERIFY(!QFile::exists(third));
        QVERIFY(scanFiles().isEmpty());
    }
};

QTEST_MAIN(TestScanWindow)
#include "tst_scanWindow.moc"
