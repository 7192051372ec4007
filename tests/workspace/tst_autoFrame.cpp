// The workspace's automatic framing through a real load of the sample form.
#include "imaging/FrameGeometry.h"
#include "imaging/Straighten.h"
#include "locate/PhotoCheck.h"
#include "tests/support/BatchProcess.h"
#include "tests/support/FrameStart.h"
#include "tests/support/SampleForm.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestImages.h"
#include "tests/support/WorkspaceDriver.h"
#include "workspace/PictureSurface.h"
#include "workspace/SelectionFrame.h"
#include "workspace/frmScanner.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

namespace {

void setAutoFrame(const QVariant& value) {
    QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("Vetra"));
    if (value.isValid())
        settings.setValue(QStringLiteral("Workspace/AutoFrame"), value);
    else
        settings.remove(QStringLiteral("Workspace/AutoFrame"));
}

// The page rectangle under a frame of the window, as "SELEZIONA" would crop it.
QRectF cropOf(const frmScanner& window, OutputKind kind) {
    const double factor = FrameGeometry::cropScaleFactor(
        window.document().page().size(), ui(window).display.width(), ui(window).display.height());
    return FrameGeometry::cropSourceRect(kind, ui(window).frameOf(kind)->frameRect(), factor);
}

} // namespace

class TestAutoFrame : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_sideways;
    QString m_upright;
    PageFindings m_sidewaysFound;
    PageFindings m_uprightFound;

  private Q_SLOTS:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        m_sideways = m_dir.filePath(QStringLiteral("sideways.jpg"));
        QVERIFY(TestImages::write(SampleForm::storedTurned(SampleForm::page(), 90), m_sideways, "jpg", 90));
        m_upright = m_dir.filePath(QStringLiteral("upright.jpg"));
        QVERIFY(TestImages::write(SampleForm::page(), m_upright, "jpg", 90));
        // What the locator answers for each, worked out once for the tests that hold it back.
        for (auto [path, found] :
             {std::pair{m_sideways, &m_sidewaysFound}, std::pair{m_upright, &m_uprightFound}}) {
            const QImage stored(path);
            *found = Locator::locate(stored, stored.size());
            QVERIFY(found->photo.found && found->signature.found);
        }
        QVERIFY(m_sidewaysFound.turn != 0 && m_uprightFound.turn == 0);
    }
    void cleanup() { setAutoFrame(QVariant()); }

    // A sideways form: the page shows at once, then turns upright and the three frames go
    // onto the photograph and the signature.
    void placesFramesAfterLoad() {
        ScriptedPrompts prompts;
        frmScanner window(prompts);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        prompts.fileAnswers << m_sideways;
        QTest::mouseClick(ui(window).Command12, Qt::LeftButton);
        QCOMPARE(window.document().page().size(), QSize(3508, 2480)); // shown as stored first

        QTRY_COMPARE_WITH_TIMEOUT(window.framesLocatedCount(), 1, 60000);
        QCOMPARE(window.document().page().size(), QSize(2480, 3508));
        QVERIFY(prompts.messages.isEmpty());
        QVERIFY(window.document().canUndo()); // the automatic turn is the operator's to take back
        const QRect photo = SampleForm::photo();
        for (OutputKind kind : {OutputKind::Foto, OutputKind::AdrCqc}) {
            const QRectF crop = cropOf(window, kind);
            QVERIFY2(QRectF(photo).contains(crop), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                  .arg(crop.x())
                                                                  .arg(crop.y())
                                                                  .arg(crop.width())
                                                                  .arg(crop.height())));
            QVERIFY(crop.width() > photo.width() / 2);
        }
        QVERIFY(SampleForm::signatureBox().contains(cropOf(window, OutputKind::Firma).center().toPoint()));
        QVERIFY(!ui(window).Shape2->Visible()); // kind 0 is on: only its frame shows
    }

    // A form without a photograph, upside down: the printed text tells the turn, the page
    // turns upright and the signature frame goes onto the signature; the photo frames,
    // with nothing to frame, stay where they were. With nothing at all to frame, the page
    // stays as it was loaded.
    void turnsAPageWithoutPhotograph_data() {
        QTest::addColumn<bool>("withSignature");
        QTest::newRow("signed") << true;
        QTest::newRow("printed text only") << false;
    }
    void turnsAPageWithoutPhotograph() {
        QFETCH(bool, withSignature);
        QImage page = SampleForm::withoutPhoto(SampleForm::page());
        if (!withSignature)
            page = SampleForm::withoutSignature(page);
        const QString upsideDown = m_dir.filePath(QStringLiteral("upside-down.jpg"));
        QVERIFY(TestImages::write(SampleForm::storedTurned(page, 180), upsideDown, "jpg", 90));
        ScriptedPrompts prompts;
        frmScanner window(prompts);
        const FrameRect photoFrame = ui(window).frameOf(OutputKind::Foto)->frameRect();
        const FrameRect squareFrame = ui(window).frameOf(OutputKind::AdrCqc)->frameRect();
        const FrameRect signatureFrame = ui(window).frameOf(OutputKind::Firma)->frameRect();
        prompts.fileAnswers << upsideDown;
        QTest::mouseClick(ui(window).Command12, Qt::LeftButton);
        const QImage shown = window.document().page().image();

        QTRY_COMPARE_WITH_TIMEOUT(window.framesLocatedCount(), 1, 60000);
        QCOMPARE(window.document().page().size(), QSize(2480, 3508));
        QCOMPARE(window.document().canUndo(), withSignature);
        if (withSignature) {
            // Turned half round: what was the stored page's last pixel is now its first.
            QCOMPARE(window.document().page().image().pixel(0, 0),
                     shown.pixel(shown.width() - 1, shown.height() - 1));
            QVERIFY(
                SampleForm::signatureBox().contains(cropOf(window, OutputKind::Firma).center().toPoint()));
        } else {
            QCOMPARE(window.document().page().image(), shown);
            QCOMPARE(ui(window).frameOf(OutputKind::Firma)->frameRect(), signatureFrame);
        }
        QCOMPARE(ui(window).frameOf(OutputKind::Foto)->frameRect(), photoFrame);
        QCOMPARE(ui(window).frameOf(OutputKind::AdrCqc)->frameRect(), squareFrame);
    }

    // The window and vetra-batch --auto look at the same picture of a page, so they frame
    // the same rectangle on it (a JPEG's once differed by several pixels of the view).
    void sameFramesAsTheBatchCommand_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("kind");
        QTest::newRow("jpeg foto") << "jpg"
                                   << "foto";
        QTest::newRow("jpeg adr") << "jpg"
                                  << "adr";
        QTest::newRow("jpeg firma") << "jpg"
                                    << "firma";
        QTest::newRow("bmp foto") << "bmp"
                                  << "foto";
    }
    void sameFramesAsTheBatchCommand() {
        QFETCH(QString, format);
        QFETCH(QString, kind);
        const QString page = m_dir.filePath(QStringLiteral("same.") + format);
        if (!QFileInfo::exists(page))
            QVERIFY(TestImages::write(SampleForm::storedTurned(SampleForm::page(), 90), page,
                                      format.toLatin1().constData(), 90));
        const OutputKind outputKind = kind == QLatin1String("firma") ? OutputKind::Firma
                                      : kind == QLatin1String("adr") ? OutputKind::AdrCqc
                                                                     : OutputKind::Foto;
        ScriptedPrompts prompts;
        frmScanner window(prompts);
        prompts.fileAnswers << page;
        QTest::mouseClick(ui(window).Command12, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(window.framesLocatedCount(), 1, 60000);
        const QRectF framed = cropOf(window, outputKind);

        const BatchProcess::Run run = BatchProcess::run(
            QStringLiteral(VETRA_BATCH_EXE), {QStringLiteral("--kind"), kind, QStringLiteral("--auto"), page,
                                              m_dir.filePath(QStringLiteral("same-out.jpg"))});
        QCOMPARE(run.exitCode, 0);
        const QRegularExpressionMatch line =
            QRegularExpression(
                QStringLiteral(" turn=(\\d+) straighten=(\\S+) rect=(\\d+),(\\d+),(\\d+),(\\d+)"))
                .match(run.out);
        QVERIFY2(line.hasMatch(), qPrintable(run.out));
        QCOMPARE(line.captured(1).toInt(), 90);
        QCOMPARE(line.captured(2).toDouble(), window.document().straightenDegrees());
        // Whole pixels against the window's fractional crop: less than a pixel apart on every side.
        const QRectF batch(line.captured(3).toInt(), line.captured(4).toInt(), line.captured(5).toInt(),
                           line.captured(6).toInt());
        for (const double difference : {batch.left() - framed.left(), batch.top() - framed.top(),
                                        batch.right() - framed.right(), batch.bottom() - framed.bottom()})
            QVERIFY2(std::abs(difference) < 1, qPrintable(run.out));
    }

    // An answer that straightens the page shows it straightened after its turn, in a step
    // Ctrl+Z takes back.
    void showsTheAnswerStraightened() {
        ScriptedPrompts prompts;
        frmScanner window(prompts);
        setAutoFrame(false);
        prompts.fileAnswers << m_sideways;
        QTest::mouseClick(ui(window).Command12, Qt::LeftButton);
        PageFindings findings;
        findings.turn = 90;
        findings.photo.found = true; // a page is turned only for something found on it
        findings.pageSize = QSize(2480, 3508);
        findings.straighten = -1.5;
        window.document().framesLocated(window.document().page().image().cacheKey(), findings);
        QCOMPARE(window.document().straightenDegrees(), -1.5);
        const QImage straightened = window.document().page().image();
        window.document().undo();
        QCOMPARE(window.document().straightenDegrees(), 0.0);
        QCOMPARE(window.document().page().size(), findings.pageSize); // still turned
        QCOMPARE(straightened, Straighten::page(window.document().page().image(), -1.5));
        window.document().undo();
        QCOMPARE(window.document().page().size(), QSize(3508, 2480));
        QVERIFY(prompts.messages.isEmpty());
    }

    // A page where nothing is found after one where everything was: no frame stays where the
    // last page had it; each goes back to its starting place and the readout says so, until
    // the operator's crop.
    void putsFramesBackWhenNothingIsFound() {
        const QString blank = m_dir.filePath(QStringLiteral("blank.jpg"));
        QVERIFY(TestImages::write(SampleForm::withoutSignature(SampleForm::withoutPhoto(SampleForm::page())),
                                  blank, "jpg", 90));
        ScriptedPrompts prompts;
        frmScanner window(prompts);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        prompts.fileAnswers << m_sideways << blank;
        QTest::mouseClick(ui(window).Command12, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(window.framesLocatedCount(), 1, 60000);
        QLabel* readout = ui(window).controlsOf(OutputKind::Foto).readout;
        QVERIFY(readout->text().isEmpty());
        for (OutputKind kind : {OutputKind::Foto, OutputKind::Firma, OutputKind::AdrCqc})
            QVERIFY(ui(window).frameOf(kind)->frameRect() != startOf(kind));

        QTest::mouseClick(ui(window).Command12, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(window.framesLocatedCount(), 2, 60000);
        QVERIFY(!window.document().canUndo());
        for (OutputKind kind : {OutputKind::Foto, OutputKind::Firma, OutputKind::AdrCqc})
            QCOMPARE(ui(window).frameOf(kind)->frameRect(), startOf(kind));
        QCOMPARE(readout->text(), QStringLiteral("Fotografia non trovata: posizionare la cornice a mano"));
        QVERIFY(readout->isVisible());
        QCOMPARE(ui(window).controlsOf(OutputKind::Firma).readout->text(),
                 QStringLiteral("Firma non trovata: posizionare la cornice a mano"));

        window.Command3_Click(); // the operator's crop: the readout tells of it instead
        QVERIFY(readout->text() != QStringLiteral("Fotografia non trovata: posizionare la cornice a mano"));
    }

    // After a photo crop the readout says, on a line under the quality, whether the crop would
    // pass as an identity photo (the check's own words on the very preview) and its tooltip
    // lists every problem; the signature has no check.
    void photoCheckInTheReadout_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("foto") << int(OutputKind::Foto);
        QTest::newRow("adr") << int(OutputKind::AdrCqc);
        QTest::newRow("firma") << int(OutputKind::Firma);
    }
    void photoCheckInTheReadout() {
        QFETCH(int, kind);
        const OutputKind k = OutputKind(kind);
        ScriptedPrompts prompts;
        frmScanner window(prompts);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        prompts.fileAnswers << m_upright;
        QTest::mouseClick(ui(window).Command12, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(window.framesLocatedCount(), 1, 60000);
        window.setOutputKind(kind);
        window.Command3_Click();
        QLabel* readout = ui(window).controlsOf(k).readout;
        QTRY_VERIFY_WITH_TIMEOUT(readout->text().startsWith(QStringLiteral("Qualità")), 20000);
        if (k == OutputKind::Firma) {
            QTest::qWait(300);
            QVERIFY2(!readout->text().contains(QLatin1Char('\n')), qPrintable(readout->text()));
            return;
        }
        const PhotoCheck::Report report = PhotoCheck::evaluate(
            PhotoCheck::measure(ui(window).previewOf(k)->image()), k == OutputKind::AdrCqc);
        const QString quality = readout->text().section(QLatin1Char('\n'), 0, 0);
        QTRY_COMPARE_WITH_TIMEOUT(readout->text(), quality + QLatin1Char('\n') + PhotoCheck::readout(report),
                                  20000);
        const QStringList problems = PhotoCheck::problems(report);
        QCOMPARE(readout->toolTip(), quality + QLatin1Char('\n') +
                                         (problems.isEmpty() ? QStringLiteral("Foto conforme")
                                                             : problems.join(QLatin1Char('\n'))));
    }

    // Switched off in the settings file: nothing runs and the frames stay at their places.
    void settingSwitchesItOff() {
        setAutoFrame(false);
        ScriptedPrompts prompts;
        frmScanner window(prompts);
        const FrameRect before = ui(window).shape1->frameRect();
        prompts.fileAnswers << m_sideways;
        QTest::mouseClick(ui(window).Command12, Qt::LeftButton);
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QCOMPARE(window.framesLocatedCount(), 0);
        QCOMPARE(ui(window).shape1->frameRect(), before);
        QCOMPARE(window.document().page().size(), QSize(3508, 2480));
    }

    // The answer comes after the operator has started: what the operator did stands. A
    // frame moved, resized or cropped with stays; the page is turned only if nothing at all
    // was done to it (the frames found are for the turned page, so they go with the turn).
    void lateAnswerGivesWay_data() {
        QTest::addColumn<bool>("sideways");
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("turned");
        QTest::addColumn<bool>("photoPlaced");
        QTest::addColumn<bool>("signaturePlaced");
        QTest::newRow("sideways, untouched") << true << QString() << true << true << true;
        QTest::newRow("sideways, frame moved") << true << QStringLiteral("move") << false << false << false;
        QTest::newRow("sideways, frame resized") << true << QStringLiteral("grow") << false << false << false;
        QTest::newRow("sideways, cropped") << true << QStringLiteral("crop") << false << false << false;
        QTest::newRow("upright, photo frame moved")
            << false << QStringLiteral("move") << false << false << true;
        QTest::newRow("upright, cropped") << false << QStringLiteral("crop") << false << false << true;
    }
    void lateAnswerGivesWay() {
        QFETCH(bool, sideways);
        QFETCH(QString, action);
        const QString path = sideways ? m_sideways : m_upright;
        // The locator's answer for this page, handed over only when the test says.
        const PageFindings findings = sideways ? m_sidewaysFound : m_uprightFound;
        QSemaphore gate;
        ScriptedPrompts prompts;
        frmScanner window(prompts);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.document().setLocator([&gate, findings](const QImage&, QSize) {
            gate.acquire();
            return findings;
        });
        prompts.fileAnswers << path;
        QTest::mouseClick(ui(window).Command12, Qt::LeftButton);
        const QImage shown = window.document().page().image();
        if (action == QLatin1String("move"))
            QTest::keyClick(&window, Qt::Key_Right);
        else if (action == QLatin1String("grow"))
            QTest::mouseClick(ui(window).Command7, Qt::LeftButton);
        else if (action == QLatin1String("crop"))
            QTest::mouseClick(ui(window).Command3, Qt::LeftButton);
        const QImage preview = ui(window).pict2->image();
        const FrameRect photoFrame = ui(window).shape1->frameRect();
        const FrameRect signatureFrame = ui(window).Shape2->frameRect();

        gate.release();
        QTRY_COMPARE_WITH_TIMEOUT(window.framesLocatedCount(), 1, 60000);
        QFETCH(bool, turned);
        QCOMPARE(window.document().page().image() != shown, turned);
        QCOMPARE(window.document().canUndo(), turned);
        QTEST(ui(window).shape1->frameRect() != photoFrame, "photoPlaced");
        QTEST(ui(window).Shape2->frameRect() != signatureFrame, "signaturePlaced");
        if (action == QLatin1String("crop")) {
            QCOMPARE(ui(window).pict2->image(), preview);
            QVERIFY(ui(window).Command6->isEnabled());
        }
        if (!turned)
            QCOMPARE(window.document().page().image(), shown);
        QVERIFY(prompts.messages.isEmpty());
    }
};

QTEST_MAIN(TestAutoFrame)
#include "tst_autoFrame.moc"
