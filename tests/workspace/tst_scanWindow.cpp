// The scan button of the workspace, end to end on the SANE "test" backend.
#include "acquire/SaneSourceManager.h"
#include "env/modulo1.h"
#include "tests/support/SaneTestConfig.h"
#include "tests/support/ScriptedPrompts.h"
#include "workspace/PictureSurface.h"
#include "workspace/frmScanner.h"

#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLibrary>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

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
        modulo1::setTempFolder(out.path());
    }

    void cleanupTestCase() { modulo1::setTempFolder({}); }

    void scanBecomesTheWorkingImage() {
        ScriptedPrompts prompts;
        frmScanner window(prompts);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QTest::mouseClick(window.ScanIm, Qt::LeftButton);

        QCOMPARE(prompts.messages, QStringList{kPlace});
        QCOMPARE(window.ScanResult, 0);
        QVERIFY(QFileInfo(window.ImagePath).fileName().startsWith(QLatin1String("sca")));
        QVERIFY(window.ImagePath.endsWith(QLatin1String(".tmp")));
        QCOMPARE(window.SourceImage.size(), QSize(2400, 2400));
        QCOMPARE(QImage(window.ImagePath).size(), QSize(2400, 2400));
        QCOMPARE(QSize(window.DisplayWidth, window.DisplayHeight), QSize(425, 425));
        // The window is in its loaded state, kind 0 on.
        QVERIFY(window.Option1[0]->isChecked());
        QVERIFY(!window.Option1[2]->isHidden());
        QVERIFY(window.frameopt->isHidden());
        QVERIFY(window.Frame1->isEnabled());
        QVERIFY(!window.Command3->isHidden());
        QVERIFY(!window.pict2->isHidden() && !window.pict4->isHidden());
        QVERIFY(window.ScanIm->isEnabled());
        QVERIFY(window.attesa->isHidden());

        // The scanned page crops like any other.
        QTest::mouseClick(window.Command3, Qt::LeftButton);
        QVERIFY(window.Command6->isEnabled());
    }

    void cancelAtThePromptChangesNothing() {
        ScriptedPrompts prompts;
        prompts.answers << Prompts::Answer::Cancel;
        frmScanner window(prompts);
        window.show();
        QTest::mouseClick(window.ScanIm, Qt::LeftButton);
        QCOMPARE(prompts.messages, QStringList{kPlace});
        QVERIFY(window.SourceImage.isNull());
        QVERIFY(!window.frameopt->isHidden());
        QVERIFY(window.ScanIm->isEnabled());
    }
};

QTEST_MAIN(TestScanWindow)
#include "tst_scanWindow.moc"
