#include "tst_acquire.h"

#include "FakeDsm.h"
#include "RecordingWindow.h"
#include "acquire/ScanCommands.h"
#include "acquire/TwainShim.h"
#include "acquire/mdlTwain.h"
#include "env/modulo1.h"
#include "tests/support/ScriptedPrompts.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestScanCommands : public QObject {
    Q_OBJECT

    QTemporaryDir temp;
    std::unique_ptr<FakeDsm> dsm;

  private Q_SLOTS:
    void init() {
        modulo1::setScanFolder(temp.path());
        dsm = std::make_unique<FakeDsm>();
        dsm->dib = makeDib(40, 30, 24);
        mdlTwain::setDsmEntry(dsm->function());
    }

    void cleanup() {
        mdlTwain::resetDsmEntry();
        modulo1::setScanFolder({});
        QCOMPARE(twainshim::liveWindowCount(), std::size_t(0));
    }

    void scan_data() {
        QTest::addColumn<Prompts::Answer>("answer");
        QTest::addColumn<int>("firstRefused"); // 0 none, 1 pixel type refused, 2 both attempts fail
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("enables"); // MSG_ENABLEDS sent
        const QStringList done{QStringLiteral("scan 0"), QStringLiteral("wait 1"), QStringLiteral("path"),
                               QStringLiteral("wait 0"), QStringLiteral("image"),  QStringLiteral("scan 1")};
        QTest::newRow("first attempt") << Prompts::Answer::Ok << 0 << done << QStringList{kPlace} << 1;
        QTest::newRow("scanner refuses the settings, its dialog serves")
            << Prompts::Answer::Ok << 1 << done << QStringList{kPlace} << 1;
        QTest::newRow("both attempts fail")
            << Prompts::Answer::Ok << 2
            << QStringList{QStringLiteral("scan 0"), QStringLiteral("wait 1"), QStringLiteral("path"),
                           QStringLiteral("scan 1"), QStringLiteral("wait 0")}
            << QStringList{kPlace, kNothing} << 2;
        QTest::newRow("not placed") << Prompts::Answer::Cancel << 0
                                    << QStringList{QStringLiteral("scan 0"), QStringLiteral("scan 1")}
                                    << QStringList{kPlace} << 0;
    }
    void scan() {
        QFETCH(Prompts::Answer, answer);
        QFETCH(int, firstRefused);
        QFETCH(int, enables);
        if (firstRefused == 1)
            dsm->answer(DG_CONTROL, DAT_CAPABILITY, MSG_SET, TWRC_FAILURE, ICAP_PIXELTYPE);
        if (firstRefused == 2) {
            dsm->notifyAfterEnable(MSG_XFERREADY);
            dsm->answer(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, TWRC_FAILURE);
        } else {
            dsm->notifyAfterEnable(MSG_XFERREADY);
        }
        RecordingWindow window;
        ScriptedPrompts prompts;
        prompts.answers << answer;
        ScanCommands commands(window, prompts);
        commands.ScanIm_Click();

        QTEST(window.steps, "steps");
        QTEST(prompts.messages, "messages");
        QCOMPARE(prompts.messageButtons.value(0), Prompts::Buttons::OkCancel);
        QCOMPARE(dsm->names().count(QStringLiteral("ENABLEDS USERINTERFACE")), enables);
        if (answer == Prompts::Answer::Cancel)
            return;
        QVERIFY(QFileInfo(window.imagePath).fileName().startsWith(QLatin1String("sca")));
        QCOMPARE(commands.ScanResult(), firstRefused == 2 ? 1 : 0);
        QCOMPARE(window.image.size(), firstRefused == 2 ? QSize(0, 0) : QSize(40, 30));
        // The first attempt asks for colour at 300 dpi on an 8 x 8 inch frame.
        QCOMPARE(dsm->find(DAT_CAPABILITY, MSG_SET, ICAP_PIXELTYPE)->value.Item, TW_UINT32(2));
        QCOMPARE(dsm->find(DAT_CAPABILITY, MSG_SET, ICAP_XRESOLUTION)->value.Item, TW_UINT32(300));
        QCOMPARE(mdlTwain::Fix32ToFloat(dsm->find(DAT_IMAGELAYOUT, MSG_SET)->frame.Right), 8.0f);
        if (firstRefused != 0)
            QCOMPARE(dsm->calls.back().name(), QStringLiteral("CLOSEDSM PARENT"));
    }

    void twoScansUseTwoFiles() {
        dsm->notifyAfterEnable(MSG_XFERREADY);
        RecordingWindow window;
        ScriptedPrompts prompts;
        ScanCommands commands(window, prompts);
        commands.ScanIm_Click();
        const QString first = window.imagePath;
        commands.ScanIm_Click();
        QVERIFY(first != window.imagePath);
        // The first page stopped being the working image: its file is gone, the new one stays
        // until the commands go.
        QVERIFY(!QFile::exists(first));
        QVERIFY(QFileInfo(window.imagePath).size() > 0);
        const QString second = window.imagePath;
        commands.discardScanFile();
        QVERIFY(!QFile::exists(second));
    }

    void selectScan_data() {
        QTest::addColumn<TW_UINT16>("select");
        QTest::addColumn<int>("result");
        QTest::newRow("chosen") << TWRC_SUCCESS << 0;
        QTest::newRow("cancelled") << TWRC_CANCEL << 1;
    }
    void selectScan() {
        QFETCH(TW_UINT16, select);
        dsm->answer(DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, select);
        RecordingWindow window;
        ScriptedPrompts prompts;
        ScanCommands commands(window, prompts);
        commands.SelectScan_Click();
        QCOMPARE(window.steps, (QStringList{QStringLiteral("window 0"), QStringLiteral("window 1")}));
        QTEST(commands.ScanResult(), "result");
        QVERIFY(prompts.messages.isEmpty());
    }

    void selectScanWaitsForTheScan() {
        dsm->notifyAfterEnable(MSG_XFERREADY);
        RecordingWindow window;
        ScriptedPrompts prompts;
        ScanCommands commands(window, prompts);
        // The operator clicks SelectScan while the scanner module waits for the page.
        dsm->onCall = [&](const FakeDsm::Call& call) {
            if (call.msg == MSG_ENABLEDS)
                commands.SelectScan_Click();
        };
        commands.ScanIm_Click();
        QVERIFY(!dsm->find(DAT_IDENTITY, MSG_USERSELECT));
        QVERIFY(!window.steps.contains(QStringLiteral("window 0")));
        QCOMPARE(commands.ScanResult(), 0);
        QCOMPARE(window.image.size(), QSize(40, 30));
    }
};

REGISTER_ACQUIRE_TEST(TestScanCommands)

#include "tst_ScanCommands.moc"
