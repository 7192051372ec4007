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

// Presses one key of a script: "Right", "Shift+Down", "+", "-", "Ctrl+R"..., or turns the
// wheel over pict: "wheel+1", "wheel-2".
void press(Workspace& ws, const QString& what) {
    frmScanner& w = ws.window;
    if (what.startsWith(QLatin1String("wheel"))) {
        const int notches = what.mid(5).toInt();
        const QPointF at = ws.onPict(200, 200);
        QWheelEvent wheel(at, w.pict->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(w.pict, &wheel);
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

bool loaded(const frmScanner& w) {
    return w.frameopt->isHidden() && w.Frame1->isEnabled() && !w.Command3->isHidden() &&
           w.Option1[0]->isChecked() && w.attesa->isHidden();
}

bool empty(const frmScanner& w) {
    return !w.frameopt->isHidden() && !w.Frame1->isEnabled() && w.Command3->isHidden() &&
           w.Option1[0]->isHidden() && w.attesa->isHidden();
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
    }

    void keysAndWheelMoveAndSizeTheFrame() {
        QFETCH(FrameRect, start);
        QFETCH(QStringList, keys);
        QFETCH(FrameRect, end);
        Workspace ws;
        frmScanner& w = ws.window;
        ws.load(ws.file(QStringLiteral("p.png"), TestImages::page(850, 1170)));
        QVERIFY(loaded(w));
        w.shape1->setFrameRect(start);
        for (const QString& key : keys)
            press(ws, key);
        QCOMPARE(w.shape1->frameRect(), end);
        QVERIFY(w.isVisible());
    }

    // Without a page the keys and the wheel do nothing, as the disabled buttons would.
    void keysNeedAPage() {
        Workspace ws;
        frmScanner& w = ws.window;
        const FrameRect before = w.shape1->frameRect();
        for (const QString& key : keyList({"Right", "Shift+Down", "+", "wheel+1", "Return", "Ctrl+S",
                                           "Ctrl+R", "Ctrl+Right", "Ctrl+Z"}))
            press(ws, key);
        QCOMPARE(w.shape1->frameRect(), before);
        QVERIFY(w.pict2->isHidden());
        QVERIFY(ws.prompts.saveRequests.isEmpty());
        QVERIFY(ws.prompts.messages.isEmpty());
        QVERIFY(w.SourceImage.isNull());
    }

    // Esc, once or twice, leaves the window open with everything in it.
    void escapeKeepsTheWork() {
        Workspace ws;
        frmScanner& w = ws.window;
        ws.load(ws.file(QStringLiteral("p.png"), TestImages::page(850, 1170)));
        press(ws, QStringLiteral("Return"));
        const QImage crop = w.pict2->image();
        QTest::keyClick(&w, Qt::Key_Escape);
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w, Qt::Key_Escape);
        QVERIFY(w.isVisible());
        QCOMPARE(w.result(), 0);
        QVERIFY(loaded(w));
        QVERIFY(!w.SourceImage.isNull());
        QCOMPARE(w.pict2->image(), crop);
    }

    void keysOpenTurnCropAndSave() {
        Workspace ws;
        frmScanner& w = ws.window;
        const QString path = ws.file(QStringLiteral("p.png"), TestImages::page(600, 800));
        ws.prompts.fileAnswers << path;
        press(ws, QStringLiteral("Ctrl+O"));
        QCOMPARE(ws.prompts.openRequests.size(), 1);
        QVERIFY(loaded(w));
        QCOMPARE(w.ImagePath, path);

        press(ws, QStringLiteral("Ctrl+R"));
        QCOMPARE(w.SourceImage.width(), 800);

        QVERIFY(!w.Command6->isEnabled());
        press(ws, QStringLiteral("Return"));
        QVERIFY(w.Command6->isEnabled());
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
            {w.Command3, "Invio"},  {w.Command5, "Ctrl+R"},  {w.Command7, "+"},       {w.Command9, "-"},
            {w.Command6, "Ctrl+S"}, {w.Command2, "Ctrl+S"},  {w.Command13, "Ctrl+S"}, {w.Command12, "Ctrl+O"},
            {w.Command8, "Ctrl+Z"}, {w.Command10, "Ctrl+Z"}, {w.pict, "frecce"}};
        for (const auto& [widget, key] : named)
            QVERIFY2(widget->toolTip().contains(QString::fromUtf8(key)), qPrintable(widget->objectName()));
    }

    // Turns and mirrors are taken back and made again, the frames stay where they are, and
    // a new page starts a new history.
    void undoAndRedoTurns() {
        Workspace ws;
        frmScanner& w = ws.window;
        ws.load(ws.file(QStringLiteral("p.png"), TestImages::page(600, 800)));
        w.shape1->setFrameRect({100, 120, 55, 66});
        const QImage original = w.SourceImage.image().copy();

        press(ws, QStringLiteral("Ctrl+R"));
        const QImage turned = w.SourceImage.image().copy();
        ws.click(w.Command8);
        const QImage mirrored = w.SourceImage.image().copy();
        QVERIFY(turned != original && mirrored != turned);

        press(ws, QStringLiteral("Ctrl+Z"));
        QCOMPARE(w.SourceImage.image(), turned);
        QCOMPARE(w.pict->picture().size(), QSize(w.DisplayWidth, w.DisplayHeight));
        press(ws, QStringLiteral("Ctrl+Z"));
        QCOMPARE(w.SourceImage.image(), original);
        press(ws, QStringLiteral("Ctrl+Z")); // nothing left to take back
        QCOMPARE(w.SourceImage.image(), original);
        press(ws, QStringLiteral("Ctrl+Y"));
        QCOMPARE(w.SourceImage.image(), turned);
        press(ws, QStringLiteral("Ctrl+Y"));
        QCOMPARE(w.SourceImage.image(), mirrored);
        QCOMPARE(w.shape1->frameRect(), (FrameRect{100, 120, 55, 66}));

        // A new turn after an undo drops what could have been made again.
        press(ws, QStringLiteral("Ctrl+Z"));
        ws.click(w.Command10);
        const QImage flipped = w.SourceImage.image().copy();
        press(ws, QStringLiteral("Ctrl+Y"));
        QCOMPARE(w.SourceImage.image(), flipped);

        // A turn the program makes itself goes on the history too.
        QVERIFY(w.applyTurn(frmScanner::PageTurn::Anticlockwise));
        QCOMPARE(w.SourceImage.width(), 600);
        press(ws, QStringLiteral("Ctrl+Z"));
        QCOMPARE(w.SourceImage.image(), flipped);

        // Loading a page clears the history.
        ws.load(ws.file(QStringLiteral("q.png"), TestImages::page(700, 500)));
        const QImage fresh = w.SourceImage.image().copy();
        QVERIFY(!w.canUndoTurn() && !w.canRedoTurn());
        press(ws, QStringLiteral("Ctrl+Z"));
        QCOMPARE(w.SourceImage.image(), fresh);
        QVERIFY(ws.prompts.messages.isEmpty());
    }

    // Ctrl+Right / Ctrl+Left straighten by half a degree, always from the level page; a
    // mirror turns the angle with the page, Ctrl+Z takes each step back to the page as it
    // was loaded, and the straightening stops at its limit.
    void straightenByHand() {
        Workspace ws;
        frmScanner& w = ws.window;
        ws.load(ws.file(QStringLiteral("s.png"), TestImages::page(600, 800)));
        const QImage original = w.SourceImage.image().copy();
        const QImage shownLevel = w.pict->picture().copy();

        press(ws, QStringLiteral("Ctrl+Right"));
        press(ws, QStringLiteral("Ctrl+Right"));
        QCOMPARE(w.straightenDegrees(), 1.0);
        QCOMPARE(w.SourceImage.image(), Straighten::page(original, 1.0));
        QVERIFY(w.pict->picture() != shownLevel);
        press(ws, QStringLiteral("Ctrl+Left"));
        QCOMPARE(w.SourceImage.image(), Straighten::page(original, 0.5));

        ws.click(w.Command8);
        QCOMPARE(w.straightenDegrees(), -0.5);
        press(ws, QStringLiteral("Ctrl+Left"));
        QCOMPARE(w.straightenDegrees(), -1.0);
        QCOMPARE(w.SourceImage.image(), Straighten::page(original.mirrored(true, false), -1.0));

        for (double expected : {-0.5, 0.5, 1.0, 0.5, 0.0}) {
            press(ws, QStringLiteral("Ctrl+Z"));
            QCOMPARE(w.straightenDegrees(), expected);
        }
        QCOMPARE(w.SourceImage.image(), original);
        QCOMPARE(w.pict->picture(), shownLevel);
        QVERIFY(!w.canUndoTurn());
        press(ws, QStringLiteral("Ctrl+Y"));
        QCOMPARE(w.SourceImage.image(), Straighten::page(original, 0.5));

        for (int i = 0; i < 25; ++i)
            press(ws, QStringLiteral("Ctrl+Right"));
        QCOMPARE(w.straightenDegrees(), Straighten::kMaxDegrees);
        QCOMPARE(w.SourceImage.size(), original.size());
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
        QCOMPARE(loaded(w), loads);
        QCOMPARE(empty(w), !loads);
        QCOMPARE(w.SourceImage.isNull(), !loads);
        if (loads) {
            QCOMPARE(w.ImagePath, image);
            QCOMPARE(w.SourceImage.size(), QSize(850, 1170));
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
        const QImage blank = w.pict2->image();
        press(ws, QStringLiteral("Return"));
        QTRY_VERIFY_WITH_TIMEOUT(w.readoutReady(OutputKind::Foto), 20000);
        QVERIFY(w.Command6->isEnabled());
        QVERIFY(w.pict2->image() != blank);

        const QString next = ws.file(QStringLiteral("b.png"), TestImages::page(600, 800));
        if (dropped) {
            QVERIFY(dropOn(w, {QUrl::fromLocalFile(next)}));
        } else {
            ws.prompts.fileAnswers << next;
            press(ws, QStringLiteral("Ctrl+O"));
        }
        QVERIFY(loaded(w));
        QCOMPARE(w.SourceImage.size(), QSize(600, 800));
        QCOMPARE(w.pict2->image(), blank);
        for (OutputKind kind : {OutputKind::Foto, OutputKind::Firma, OutputKind::AdrCqc}) {
            QVERIFY(!w.saveButtonOf(kind)->isEnabled());
            QVERIFY(!w.readoutReady(kind));
            QVERIFY(w.controlsOf(kind).readout->text().isEmpty());
        }
        press(ws, QStringLiteral("Ctrl+S"));
        QVERIFY(ws.prompts.saveRequests.isEmpty());
    }

    // The readout beside the preview gives the quality and size of the file the save then
    // writes, byte for byte.
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
        QTest::mouseClick(w.Option1[std::size_t(kind)], Qt::LeftButton, {}, QPoint(20, 15));
        QLabel* readout = w.controlsOf(k).readout;
        QVERIFY(readout->isHidden());
        press(ws, QStringLiteral("Return"));
        QTRY_VERIFY_WITH_TIMEOUT(w.readoutReady(k), 20000); // generous: the machine may be busy
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

        const QString target = ws.dir.filePath(QStringLiteral("uscita.jpg"));
        ws.prompts.fileAnswers << target;
        press(ws, QStringLiteral("Ctrl+S"));
        const QByteArray written = TestFiles::readAll(target);
        QCOMPARE(qint64(written.size()), bytes);
        GPP2J writer;
        QCOMPARE(written, writer.encode(w.previewOf(k)->image(), quality, 300, 300));
        if (quality < 100) // the next quality up would not have fitted
            QVERIFY(writer.encode(w.previewOf(k)->image(), quality + 1, 300, 300).size() >
                    outputKindInfo(k).sizeLimit);

        // The readout follows its preview: hidden with it, gone with "NUOVA".
        ws.click(w.Command11);
        QVERIFY(readout->isHidden());
        QVERIFY(!w.readoutReady(k));
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
        QTest::mouseClick(first.window.Option1[1], Qt::LeftButton, {}, QPoint(20, 15));
        first.click(first.window.Command3);
        first.prompts.fileAnswers << out + QStringLiteral("/firma.jpg");
        first.click(first.window.Command2);
        QCOMPARE(first.prompts.saveRequests.constFirst().fileName, QStringLiteral("firma"));

        ScriptedPrompts prompts;
        frmScanner later(prompts);
        later.setSettingsFile(first.settingsFile());
        later.show();
        QVERIFY(QTest::qWaitForWindowExposed(&later));
        prompts.fileAnswers << first.file(QStringLiteral("q.png"), TestImages::page(850, 1170));
        QTest::mouseClick(later.Command12, Qt::LeftButton);
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
        w.shape1->setFrameRect(rect);
        const QRect drawn = w.shape1->geometry();
        QCOMPARE(drawn.width(), qRound(rect.Left + rect.Width) - qRound(rect.Left));
        QCOMPARE(drawn.height(), qRound(rect.Top + rect.Height) - qRound(rect.Top));
        QVERIFY(qAbs(drawn.width() - rect.Width) <= 1 && qAbs(drawn.height() - rect.Height) <= 1);
        QVERIFY(w.pict->contentsRect().contains(drawn));
    }
};

QTEST_MAIN(TestWorkspaceInput)
#include "tst_workspaceInput.moc"
