#include "encode/GPP2J.h"
#include "imaging/FrameGeometry.h"
#include "imaging/Straighten.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WorkspaceWindow.h"
#include "workspace/PictureSurface.h"
#include "workspace/SaveCommand.h"
#include "workspace/SelectionFrame.h"

#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMimeData>
#include <QRadioButton>
#include <QRegularExpression>
#include <QWheelEvent>
#include <QtTest>

Q_DECLARE_METATYPE(FrameRect)

// The operator's hands on the workspace: keys, wheel, drops, the turn history, the
// readout before saving and the remembered folders.

namespace {

using Workspace = WorkspaceWindow;

// Presses one key of a script: "Right", "Shift+Down", "+", "-", "Ctrl+R"..., turns the
// wheel over pict: "wheel+1", "wheel-2", or clicks "Aumenta" or "Diminuisce".
void press(Workspace& ws, const QString& what) {
    frmScanner& w = ws.window;
    if (what == QLatin1String("Aumenta") || what == QLatin1String("Diminuisce"))
        return ws.click(what == QLatin1String("Aumenta") ? ui(w).Command7 : ui(w).Command9);
    if (what.startsWith(QLatin1String("wheel"))) {
        const int notches = what.mid(5).toInt();
        const QPointF at = ws.onPict(200, 200);
        QWheelEvent wheel(at, ui(w).pict->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(ui(w).pict, &wheel);
        return;
    }
    const QKeySequence sequence(what == QLatin1String("+")   ? QKeySequence(Qt::Key_Plus)
                                : what == QLatin1String("-") ? QKeySequence(Qt::Key_Minus)
                                                             : QKeySequence(what));
    QVERIFY2(sequence.count() == 1, qPrintable(what));
    const QKeyCombination combination = sequence[0];
    QTest::keyClick(&w, combination.key(), combination.keyboardModifiers());
}

QStringList keyList(std::initializer_list<const char*> keys) {
    QStringList list;
    for (const char* key : keys)
        list << QString::fromLatin1(key);
    return list;
}

} // namespace

class TestWorkspaceInput : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void keysAndWheelMoveAndSizeTheFrame_data() {
        QTest::addColumn<FrameRect>("start");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<FrameRect>("end");

        QTest::newRow("right") << FrameRect{80, 80, 50, 60} << keyList({"Right"})
                               << FrameRect{81, 80, 50, 60};
        QTest::newRow("up, left") << FrameRect{80, 80, 50, 60} << keyList({"Up", "Left"})
                                  << FrameRect{79, 79, 50, 60};
        QTest::newRow("shift: ten") << FrameRect{80, 80, 50, 60} << keyList({"Shift+Down", "Shift+Right"})
                                    << FrameRect{90, 90, 50, 60};
        QTest::newRow("left edge") << FrameRect{1, 80, 50, 60} << keyList({"Left"})
                                   << FrameRect{1, 80, 50, 60};
        QTest::newRow("half a pixel from the top")
            << FrameRect{80, 1.5f, 50, 60} << keyList({"Up"}) << FrameRect{80, 0.5f, 50, 60};
        QTest::newRow("past the right bound")
            << FrameRect{370, 80, 50, 60} << keyList({"Shift+Right"}) << FrameRect{375, 80, 50, 60};
        QTest::newRow("past the bottom bound")
            << FrameRect{80, 520, 50, 60} << keyList({"Shift+Down"}) << FrameRect{80, 525, 50, 60};
        QTest::newRow("plus near the right bound")
            << FrameRect{400, 80, 50, 60} << keyList({"+"}) << FrameRect{370, 80, 55, 66};
        QTest::newRow("minus at the smallest")
            << FrameRect{80, 80, 50, 60} << keyList({"-"}) << FrameRect{80, 80, 50, 60};
        QTest::newRow("plus then minus")
            << FrameRect{80, 80, 50, 60} << keyList({"+", "+", "-"}) << FrameRect{80, 80, 55, 66};
        QTest::newRow("wheel away grows")
            << FrameRect{80, 80, 50, 60} << keyList({"wheel+2"}) << FrameRect{80, 80, 60, 72};
        QTest::newRow("wheel towards shrinks")
            << FrameRect{80, 80, 60, 72} << keyList({"wheel-1"}) << FrameRect{80, 80, 55, 66};
        QTest::newRow("largest") << FrameRect{1, 1, 410, 492} << keyList({"+", "+"})
                                 << FrameRect{1, 1, 415, 498};
        QTest::newRow("Aumenta at the bottom right")
            << FrameRect{400, 550, 50, 60} << keyList({"Aumenta"}) << FrameRect{370, 519, 55, 66};
        QTest::newRow("Aumenta past the largest, Diminuisce")
            << FrameRect{1, 1, 410, 492} << keyList({"Aumenta", "Aumenta", "Diminuisce"})
            << FrameRect{1, 1, 410, 492};
    }

    void keysAndWheelMoveAndSizeTheFrame() {
        QFETCH(FrameRect, start);
        QFETCH(QStringList, keys);
        QFETCH(FrameRect, end);
        Workspace ws;
        frmScanner& w = ws.window;
        ws.load(ws.file(QStringLiteral("p.png"), TestImages::page(850, 1170)));
        QVERIFY(showsAPage(w));
        w.document().setFrame(OutputKind::Foto, start);
        for (const QString& key : keys)
            press(ws, key);
        QCOMPARE(ui(w).shape1->frameRect(), end);
        QVERIFY(w.isVisible());
    }

    // Without a page the keys and the wheel do nothing, as the disabled buttons would.
    void keysNeedAPage() {
        Workspace ws;
        frmScanner& w = ws.window;
        const FrameRect before = ui(w).shape1->frameRect();
        for (const QString& key : keyList({"Right", "Shift+Down", "+", "wheel+1", "Return", "Ctrl+S",
                                           "Ctrl+R", "Ctrl+Right", "Ctrl+Z"}))
            press(ws, key);
        QCOMPARE(ui(w).shape1->frameRect(), before);
        QVERIFY(ui(w).pict2->isHidden());
        QVERIFY(ws.prompts.saveRequests.isEmpty());
        QVERIFY(ws.prompts.messages.isEmpty());
        QVERIFY(w.document().page().isNull());
    }

    // Esc, once or twice, leaves the window open with everything in it.
    void escapeKeepsTheWork() {
        Workspace ws;
        frmScanner& w = ws.window;
        ws.load(ws.file(QStringLiteral("p.png"), TestImages::page(850, 1170)));
        press(ws, QStringLiteral("Return"));
        const QImage crop = ui(w).pict2->image();
        QTest::keyClick(&w, Qt::Key_Escape);
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w, Qt::Key_Escape);
        QVERIFY(w.isVisible());
        QCOMPARE(w.result(), 0);
        QVERIFY(showsAPage(w));
        QVERIFY(!w.document().page().isNull());
        QCOMPARE(ui(w).pict2->image(), crop);
    }

    void keysOpenTurnCropAndSave() {
        Workspace ws;
        frmScanner& w = ws.window;
        const QString path = ws.file(QStringLiteral("p.png"), TestImages::page(600, 800));
        ws.prompts.fileAnswers << path;
        press(ws, QStringLiteral("Ctrl+O"));
        QCOMPARE(ws.prompts.openRequests.size(), 1);
        QVERIFY(showsAPage(w));
        QCOMPARE(w.document().path(), path);

        press(ws, QStringLiteral("Ctrl+R"));
        QCOMPARE(w.document().page().width(), 800);

        QVERIFY(!ui(w).Command6->isEnabled());
        press(ws, QStringLiteral("Return"));
        QVERIFY(ui(w).Command6->isEnabled());
        const QString target = ws.dir.filePath(QStringLiteral("uscita.jpg"));
        ws.prompts.fileAnswers << target;
        press(ws, QStringLiteral("Ctrl+S"));
        QCOMPARE(ws.prompts.saveRequests.size(), 1);
        QVERIFY(QFileInfo(target).isFile());
        QCOMPARE(QImage(target).size(), QSize(400, 480));
    }

    void tooltipsNameTheKeys() {
        Workspace ws;
        frmScanner& w = ws.window;
        const QList<QPair<QWidget*, const char*>> named{
            {ui(w).Command3, "Invio"},   {ui(w).Command5, "Ctrl+R"},  {ui(w).Command7, "+"},
            {ui(w).Command9, "-"},       {ui(w).Command6, "Ctrl+S"},  {ui(w).Command2, "Ctrl+S"},
            {ui(w).Command13, "Ctrl+S"}, {ui(w).Command12, "Ctrl+O"}, {ui(w).Command8, "Ctrl+Z"},
            {ui(w).Command10, "Ctrl+Z"}, {ui(w).pict, "frecce"}};
        for (const auto& [widget, key] : named)
            QVERIFY2(widget->toolTip().contains(QString::fromUtf8(key)), qPrintable(widget->objectName()));
    }

    // Ctrl+Z and Ctrl+Y take turns and mirrors back and make them again; the frames stay
    // where they are.
    void undoAndRedoTurns() {
        Workspace ws;
        frmScanner& w = ws.window;
        ws.load(ws.file(QStringLiteral("p.png"), TestImages::page(600, 800)));
        w.document().setFrame(OutputKind::Foto, {100, 120, 55, 66});
        const QImage original = w.document().page().image().copy();

        press(ws, QStringLiteral("Ctrl+R"));
        const QImage turned = w.document().page().image().copy();
        ws.click(ui(w).Command8);
        const QImage mirrored = w.document().page().image().copy();
        QVERIFY(turned != original && mirrored != turned);

        press(ws, QStringLiteral("Ctrl+Z"));
        QCOMPARE(w.document().page().image(), turned);
        QCOMPARE(ui(w).pict->picture().size(), ui(w).display);
        press(ws, QStringLiteral("Ctrl+Z"));
        QCOMPARE(w.document().page().image(), original);
        press(ws, QStringLiteral("Ctrl+Z")); // nothing left to take back
        QCOMPARE(w.document().page().image(), original);
        press(ws, QStringLiteral("Ctrl+Y"));
        QCOMPARE(w.document().page().image(), turned);
        press(ws, QStringLiteral("Ctrl+Y"));
        QCOMPARE(w.document().page().image(), mirrored);
        QCOMPARE(ui(w).shape1->frameRect(), (FrameRect{100, 120, 55, 66}));

        QVERIFY(ws.prompts.messages.isEmpty());
    }

    // Ctrl+Right / Ctrl+Left straighten by half a degree, shown at once, in the history
    // Ctrl+Z and Ctrl+Y go through; the straightening's own rules are the document's.
    void straightenByHand() {
        Workspace ws;
        frmScanner& w = ws.window;
        ws.load(ws.file(QStringLiteral("s.png"), TestImages::page(600, 800)));
        const QImage original = w.document().page().image().copy();
        const QImage shownLevel = ui(w).pict->picture().copy();
        for (const char* key : {"Ctrl+Right", "Ctrl+Right", "Ctrl+Left"})
            press(ws, QString::fromLatin1(key));
        QCOMPARE(w.document().straightenDegrees(), 0.5);
        QVERIFY(ui(w).pict->picture() != shownLevel);
        for (double expected : {1.0, 0.5, 0.0}) {
            press(ws, QStringLiteral("Ctrl+Z"));
            QCOMPARE(w.document().straightenDegrees(), expected);
        }
        QCOMPARE(w.document().page().image(), original);
        QCOMPARE(ui(w).pict->picture(), shownLevel);
        press(ws, QStringLiteral("Ctrl+Y"));
        QCOMPARE(w.document().page().image(), Straighten::page(original, 0.5));
        QVERIFY(ws.prompts.messages.isEmpty());
    }

    void droppedFiles_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("taken"); // the window takes the drop
        QTest::addColumn<bool>("loads"); // and the page is loaded

        QTest::newRow("image") << QStringLiteral("image") << true << true;
        QTest::newRow("not an image")
            << QStringLiteral("garbage") << true << false; // cut-short pages: the readers' tests
        QTest::newRow("folder") << QStringLiteral("folder") << false << false;
        QTest::newRow("two files") << QStringLiteral("two") << false << false;
        QTest::newRow("web address") << QStringLiteral("web") << false << false;
    }

    // A dropped file goes the way of a file chosen in the load dialog.
    void droppedFiles() {
        QFETCH(QString, what);
        QFETCH(bool, taken);
        QFETCH(bool, loads);
        Workspace ws;
        frmScanner& w = ws.window;
        const QString image = ws.file(QStringLiteral("modulo.jpg"), TestImages::page(850, 1170), "jpg");
        QList<QUrl> urls;
        if (what == QLatin1String("image")) {
            urls << QUrl::fromLocalFile(image);
        } else if (what == QLatin1String("garbage")) {
            const QString path = ws.dir.filePath(QStringLiteral("note.jpg"));
            QVERIFY(TestImages::writeBytes(path, "not a picture at all"));
            urls << QUrl::fromLocalFile(path);
        } else if (what == QLatin1String("folder")) {
            urls << QUrl::fromLocalFile(ws.dir.path());
        } else if (what == QLatin1String("two")) {
            urls << QUrl::fromLocalFile(image) << QUrl::fromLocalFile(image);
        } else {
            urls << QUrl(QStringLiteral("https://example.org/modulo.jpg"));
        }

        QCOMPARE(dropOn(w, urls), taken);
        QVERIFY(ws.prompts.openRequests.isEmpty());
        QVERIFY(ws.prompts.messages.isEmpty()); // no message box, as with the dialog
        // A file taken but unreadable is told on the line under the page.
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("notice"))->text(),
                 taken && !loads ? QStringLiteral("Il file note.jpg non è un'immagine leggibile")
                                 : QString());
        QCOMPARE(showsAPage(w), loads);
        QCOMPARE(showsNoPage(w), !loads);
        QCOMPARE(w.document().page().isNull(), !loads);
        if (loads) {
            QCOMPARE(w.document().path(), image);
            QCOMPARE(w.document().page().size(), QSize(850, 1170));
        }
    }

    // A page loaded over a cropped one, by key or by a drop, starts as after "NUOVA": the
    // previous person's crop cannot be saved under the new page.
    void anotherPageStartsAfresh_data() {
        QTest::addColumn<bool>("dropped");
        QTest::newRow("Ctrl+O") << false;
        QTest::newRow("drop") << true;
    }

    void anotherPageStartsAfresh() {
        QFETCH(bool, dropped);
        Workspace ws;
        frmScanner& w = ws.window;
        ws.load(ws.file(QStringLiteral("a.png"), TestImages::page(850, 1170)));
        const QImage blank = ui(w).pict2->image();
        press(ws, QStringLiteral("Return"));
        QTRY_VERIFY_WITH_TIMEOUT(w.document().readoutReady(OutputKind::Foto), 20000);
        QVERIFY(ui(w).Command6->isEnabled());
        QVERIFY(ui(w).pict2->image() != blank);

        const QString next = ws.file(QStringLiteral("b.png"), TestImages::page(600, 800));
        if (dropped) {
            QVERIFY(dropOn(w, {QUrl::fromLocalFile(next)}));
        } else {
            ws.prompts.fileAnswers << next;
            press(ws, QStringLiteral("Ctrl+O"));
        }
        QVERIFY(showsAPage(w));
        QCOMPARE(w.document().page().size(), QSize(600, 800));
        QCOMPARE(ui(w).pict2->image(), blank);
        for (OutputKind kind : {OutputKind::Foto, OutputKind::Firma, OutputKind::AdrCqc}) {
            QVERIFY(!ui(w).saveButtonOf(kind)->isEnabled());
            QVERIFY(!w.document().readoutReady(kind));
            QVERIFY(ui(w).controlsOf(kind).readout->text().isEmpty());
        }
        press(ws, QStringLiteral("Ctrl+S"));
        QVERIFY(ws.prompts.saveRequests.isEmpty());
    }

    // The readout beside the preview gives the quality and size of the file the kind's save
    // button then writes, byte for byte, at 300 dpi.
    void readoutIsTheSavedFile_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("photo") << 0;
        QTest::newRow("signature") << 1;
        QTest::newRow("square photo") << 2;
    }

    void readoutIsTheSavedFile() {
        QFETCH(int, kind);
        const auto k = OutputKind(kind);
        Workspace ws;
        frmScanner& w = ws.window;
        ws.load(ws.file(QStringLiteral("p.png"), TestImages::page(1240, 1754)));
        QTest::mouseClick(ui(w).Option1[std::size_t(kind)], Qt::LeftButton, {}, QPoint(20, 15));
        QLabel* readout = ui(w).controlsOf(k).readout;
        QVERIFY(readout->isHidden());
        press(ws, QStringLiteral("Return"));
        QTRY_VERIFY_WITH_TIMEOUT(w.document().readoutReady(k), 20000); // generous: the machine may be busy
        QVERIFY(readout->isVisible());

        static const QRegularExpression form(QStringLiteral(
            "^Qualità (\\d+) · (\\d{1,3}(?:\\.\\d{3})*) byte \\(limite (\\d{1,3}(?:\\.\\d{3})*)\\)$"));
        // The photo kinds' identity check follows on lines of its own.
        const QRegularExpressionMatch figures = form.match(readout->text().section(QLatin1Char('\n'), 0, 0));
        QVERIFY2(figures.hasMatch(), qPrintable(readout->text()));
        const int quality = figures.captured(1).toInt();
        const qint64 bytes = figures.captured(2).remove(QLatin1Char('.')).toLongLong();
        QCOMPARE(figures.captured(3).remove(QLatin1Char('.')).toLongLong(), outputKindInfo(k).sizeLimit);
        QVERIFY(bytes <= outputKindInfo(k).sizeLimit);

        // The kind's save button: its dialog, its name, and the extension added.
        const QString target = ws.dir.filePath(QStringLiteral("uscita"));
        ws.prompts.fileAnswers << target;
        ws.click(ui(w).saveButtonOf(k));
        QCOMPARE(ws.prompts.saveRequests.size(), 1);
        QCOMPARE(ws.prompts.saveRequests.first().title, QStringLiteral("Salva con nome"));
        QCOMPARE(ws.prompts.saveRequests.first().fileName,
                 QString::fromLatin1(outputKindInfo(k).defaultFileName));
        QVERIFY2(ws.prompts.messages.isEmpty(), qPrintable(ws.prompts.messages.join(QLatin1Char('|'))));
        const QByteArray written = TestFiles::readAll(target + QStringLiteral(".jpg"));
        QCOMPARE(qint64(written.size()), bytes);
        const QImage back = QImage::fromData(written);
        QCOMPARE(back.size(), outputKindInfo(k).outputSize);
        QCOMPARE(back.dotsPerMeterX(), qRound(300 / 0.0254));
        GPP2J writer;
        QCOMPARE(written, writer.encode(ui(w).previewOf(k)->image(), quality, 300, 300));
        if (quality < 100) // the next quality up would not have fitted
            QVERIFY(writer.encode(ui(w).previewOf(k)->image(), quality + 1, 300, 300).size() >
                    outputKindInfo(k).sizeLimit);

        // The readout follows its preview: hidden with it, gone with "NUOVA".
        ws.click(ui(w).Command11);
        QVERIFY(readout->isHidden());
        QVERIFY(!w.document().readoutReady(k));
    }

    void readoutTexts_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("text");
        const int found = int(QualitySearch::Status::Found);
        const int unreachable = int(QualitySearch::Status::LimitUnreachable);
        QTest::newRow("photo") << 0 << found << 34840
                               << QStringLiteral("Qualità 85 · 34.840 byte (limite 34.900)");
        QTest::newRow("small file") << 1 << found << 812
                                    << QStringLiteral("Qualità 85 · 812 byte (limite 19.900)");
        QTest::newRow("too large")
            << 2 << unreachable << 0
            << QStringLiteral("Non salvabile: supera il limite di 9.900 byte anche alla qualità minima");
    }

    void readoutTexts() {
        QFETCH(int, kind);
        QFETCH(int, status);
        QFETCH(int, size);
        QFETCH(QString, text);
        SaveCommand::Encoded encoded;
        encoded.found.status = QualitySearch::Status(status);
        encoded.found.quality = 85;
        encoded.found.bytes = QByteArray(size, 'x');
        QCOMPARE(SaveCommand::readoutText(OutputKind(kind), encoded), text);
    }

    // A save given the readout's answer writes exactly that file: it does not search again.
    void saveWritesTheKnownAnswer() {
        ScriptedPrompts prompts;
        QTemporaryDir dir;
        const QImage preview = TestImages::page(400, 480);
        const SaveCommand::Encoded fresh = SaveCommand::encode(OutputKind::Foto, preview);
        QCOMPARE(fresh.found.status, QualitySearch::Status::Found);
        SaveCommand::Encoded known;
        known.found.status = QualitySearch::Status::Found;
        known.found.quality = qMax(1, fresh.found.quality - 10);
        known.found.bytes = GPP2J().encode(preview, known.found.quality, 300, 300);
        QVERIFY(known.found.bytes != fresh.found.bytes);
        const QString target = dir.filePath(QStringLiteral("foto.jpg"));
        prompts.fileAnswers << target;
        const SaveCommand::Report report = SaveCommand::run(prompts, OutputKind::Foto, preview, true, &known);
        QCOMPARE(report.outcome, SaveCommand::Outcome::Saved);
        QCOMPARE(report.quality, known.found.quality);
        QCOMPARE(TestFiles::readAll(target), known.found.bytes);
    }

    // The load dialog opens where the last page came from, the save dialog where the last
    // file went, in a later run too; the names stay the kinds' own.
    void foldersAreRemembered() {
        Workspace first;
        QVERIFY(QDir(first.dir.path()).mkpath(QStringLiteral("moduli")));
        QVERIFY(QDir(first.dir.path()).mkpath(QStringLiteral("uscite")));
        const QString forms = first.dir.filePath(QStringLiteral("moduli"));
        const QString out = first.dir.filePath(QStringLiteral("uscite"));
        first.load(first.file(QStringLiteral("moduli/p.png"), TestImages::page(850, 1170)));
        QVERIFY(first.prompts.openRequests.constFirst().fileName.isEmpty());
        QTest::mouseClick(ui(first.window).Option1[1], Qt::LeftButton, {}, QPoint(20, 15));
        first.click(ui(first.window).Command3);
        first.prompts.fileAnswers << out + QStringLiteral("/firma.jpg");
        first.click(ui(first.window).Command2);
        QCOMPARE(first.prompts.saveRequests.constFirst().fileName, QStringLiteral("firma"));

        ScriptedPrompts prompts;
        frmScanner later(prompts);
        later.setSettingsFile(first.settingsFile());
        later.show();
        QVERIFY(QTest::qWaitForWindowExposed(&later));
        prompts.fileAnswers << first.file(QStringLiteral("q.png"), TestImages::page(850, 1170));
        QTest::mouseClick(ui(later).Command12, Qt::LeftButton);
        QCOMPARE(QFileInfo(prompts.openRequests.constFirst().fileName).absolutePath(), forms);
        later.Command3_Click();
        prompts.fileAnswers << std::nullopt;
        later.Command6_Click();
        QCOMPARE(prompts.saveRequests.constFirst().fileName, out + QStringLiteral("/foto"));

        // A remembered folder that has gone is forgotten.
        QVERIFY(QDir(out).removeRecursively());
        prompts.fileAnswers << std::nullopt;
        later.Command6_Click();
        QCOMPARE(prompts.saveRequests.constLast().fileName, QStringLiteral("foto"));
    }

    // The outline covers exactly Width x Height pixels, and stays inside pict at its bounds.
    void frameOutlineSize_data() {
        QTest::addColumn<FrameRect>("rect");
        QTest::newRow("design") << FrameRect{80, 80, 50, 60};
        QTest::newRow("at the far bounds") << FrameRect{375, 525, 50, 60};
        QTest::newRow("largest") << FrameRect{10, 87, 415, 498};
        QTest::newRow("signature") << FrameRect{17, 3.5f, 408, 81.6f};
    }

    void frameOutlineSize() {
        QFETCH(FrameRect, rect);
        Workspace ws;
        frmScanner& w = ws.window;
        w.document().setFrame(OutputKind::Foto, rect);
        const QRect drawn = ui(w).shape1->geometry();
        QCOMPARE(drawn.width(), qRound(rect.Left + rect.Width) - qRound(rect.Left));
        QCOMPARE(drawn.height(), qRound(rect.Top + rect.Height) - qRound(rect.Top));
        QVERIFY(qAbs(drawn.width() - rect.Width) <= 1 && qAbs(drawn.height() - rect.Height) <= 1);
        QVERIFY(ui(w).pict->contentsRect().contains(drawn));
    }
};

QTEST_MAIN(TestWorkspaceInput)
#include "tst_workspaceInput.moc"
