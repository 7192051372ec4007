#include "env/modulo1.h"
#include "imaging/FrameGeometry.h"
#include "imaging/StretchRegion.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestImages.h"
#include "tests/support/WorkspaceWindow.h"
#include "workspace/PictureSurface.h"
#include "workspace/SelectionFrame.h"
#include "workspace/frmScanner.h"

#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

Q_DECLARE_METATYPE(FrameRect)

namespace {

const QString kRotationFailed = QStringLiteral("La rotazione dell'immagine non è riuscita.");

using Workspace = WorkspaceWindow;

bool hidden(const QWidget* widget) {
    return widget->isHidden();
}

// Mean difference per channel between two images of the same size.
double meanDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return 256;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q)) + qAbs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

} // namespace

class TestWorkspaceWindow : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void layout() {
        // name, geometry, shown, own enabled flag, caption (null: not checked)
        struct Design {
            const char* name;
            QRect geometry;
            bool shown;
            bool enabled;
            const char* text;
        };
        // clang-format off
        const Design design[] = {
            {"pict", {47, 8, 427, 587}, true, true, nullptr},
            {"transi", {1168, 16, 427, 587}, false, true, nullptr},
            {"pict2", {552, 24, 404, 484}, false, true, nullptr},
            {"Pict3", {552, 72, 404, 404}, false, true, nullptr},
            {"pict4", {565, 520, 379, 76}, false, true, nullptr},
            {"Option1_0", {536, 0, 169, 30}, false, true, " RIQUADRO FOTO "},
            {"Option1_1", {704, 0, 177, 30}, false, true, " RIQUADRO FIRMA"},
            {"Option1_2", {880, 0, 177, 30}, false, true, " FOTO ADR-CQC"},
            {"frameopt", {541, 48, 425, 313}, true, true, " Opzioni di Scansione "},
            {"SelectScan", {16, 48, 161, 49}, true, true, nullptr},
            {"Label1", {184, 48, 233, 49}, true, true,
             "Se non selezionato  verrà utilizzato il dispositivo di default del sistema)"},
            {"Command12", {16, 144, 161, 49}, true, true, nullptr},
            {"Label2", {184, 136, 233, 57}, true, true,
             "Consente di selezionare il file immagine dal disco, da cui recuperare la foto e la firma."},
            {"ScanIm", {16, 248, 161, 49}, true, true, nullptr},
            {"Command4", {288, 248, 121, 49}, true, true, nullptr},
            {"attesa", {288, 168, 393, 97}, false, true, nullptr},
            {"Label44", {64, 40, 273, 33}, true, true, "Attendere la fine della Scansione"},
            {"Frame1", {8, 608, 513, 43}, true, false, nullptr},
            {"Command5", {0, 0, 100, 40}, true, true, "Rotazione"},
            {"Command10", {102, 0, 100, 40}, true, true, "Capovolgi in Verticale"},
            {"Command8", {204, 0, 100, 40}, true, true, "Capovolgi in Orizzontale"},
            {"Command7", {306, 0, 100, 40}, true, true, "Aumenta la Selezione"},
            {"Command9", {408, 0, 100, 40}, true, true, "Diminuisce la Selezione"},
            {"Command3", {552, 608, 121, 38}, false, true, "SELEZIONA"},
            {"Command6", {680, 616, 89, 30}, true, false, "SALVA FOTO"},
            {"Command13", {680, 616, 89, 30}, false, false, "SALVA FOTO"},
            {"Command2", {776, 616, 89, 30}, true, false, "SALVA FIRMA"},
            {"Command11", {872, 616, 89, 30}, true, true, "NUOVA"},
            {"Command1", {968, 616, 65, 30}, true, true, "ESCI"},
        };
        // clang-format on
        ScriptedPrompts prompts;
        frmScanner w(prompts);
        for (const Design& d : design) {
            const auto* widget = w.findChild<QWidget*>(QLatin1String(d.name));
            QVERIFY2(widget, d.name);
            QCOMPARE(widget->geometry(), d.geometry);
            QCOMPARE(!widget->isHidden(), d.shown);
            // The control's own flag: the tool buttons are enabled inside a disabled group.
            QCOMPARE(!widget->testAttribute(Qt::WA_ForceDisabled), d.enabled);
            if (!d.text)
                continue;
            const QString text = QString::fromUtf8(d.text);
            if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
                QCOMPARE(button->text(), text);
            else if (const auto* label = qobject_cast<const QLabel*>(widget))
                QCOMPARE(label->text(), text);
            else if (const auto* group = qobject_cast<const QGroupBox*>(widget))
                QCOMPARE(group->title(), text);
        }
    }

    void windowLook() {
        ScriptedPrompts prompts;
        frmScanner w(prompts);
        QCOMPARE(w.size(), QSize(1039, 653));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QCOMPARE(w.windowTitle(), QStringLiteral("Vetra by Orvanta   -   www.orvanta.it   -   Email :  "
                                                 "assistenza@orvanta.it    -    Tel. 0461 000000"));
        QCOMPARE(w.palette().color(QPalette::Window), QColor(0, 0, 255));
        QCOMPARE(ui(w).pict->background(), QColor(0, 0, 128));
        QCOMPARE(ui(w).Pict3->background(), QColor(0, 0, 192));
        QCOMPARE(ui(w).Command3->palette().color(QPalette::Button), QColor(255, 255, 0));
        QCOMPARE(ui(w).Option1[0]->palette().color(QPalette::WindowText), QColor(255, 255, 0));
        QCOMPARE(ui(w).Command1->font().family(), QStringLiteral("Liberation Serif"));
        QCOMPARE(ui(w).Command1->font().pointSizeF(), 14.25);
        QCOMPARE(ui(w).pict->clientSize(), QSize(425, 585));
        QCOMPARE(ui(w).pict2->clientSize(), QSize(400, 480));
        QCOMPARE(ui(w).Pict3->clientSize(), QSize(400, 400));
        QCOMPARE(ui(w).pict4->clientSize(), QSize(375, 72));
    }

    void windowLoad() {
        ScriptedPrompts prompts;
        frmScanner w(prompts);
        QCOMPARE(w.currentOutputKind(), -1);
        QVERIFY(ui(w).shape1->Visible());
        QVERIFY(!ui(w).Shape2->Visible());
        QVERIFY(!ui(w).Shape3->Visible());
        QCOMPARE(ui(w).shape1->frameRect(), (FrameRect{80, 80, 50, 60}));
        QCOMPARE(ui(w).Shape2->frameRect(), (FrameRect{32, 248, 120, 24}));
        QCOMPARE(ui(w).Shape3->frameRect(), (FrameRect{80, 88, 50, 50}));
        const WorkspaceDocument& d = w.document();
        QCOMPARE((std::array{d.stepWidth(OutputKind::Foto), d.stepWidth(OutputKind::Firma),
                             d.stepWidth(OutputKind::AdrCqc)}),
                 (std::array<double, 3>{5, 12, 5}));
        QCOMPARE((std::array{d.stepHeight(OutputKind::Foto), d.stepHeight(OutputKind::Firma),
                             d.stepHeight(OutputKind::AdrCqc)}),
                 (std::array<double, 3>{6, 2.4, 5}));
        QVERIFY(showsNoPage(w));
        QVERIFY(!ui(w).pict->hasPicture());
    }

    void kindSwitching_data() {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QList<bool>>("shown"); // pict2 Pict3 Command6 Command13 shape1 Shape2 Shape3
        QTest::newRow("0") << QList<int>{0} << QList<bool>{true, false, true, false, true, false, false};
        QTest::newRow("2") << QList<int>{2} << QList<bool>{false, true, false, true, false, false, true};
        QTest::newRow("1 after 2") << QList<int>{2, 1}
                                   << QList<bool>{false, true, false, true, false, true, false};
        QTest::newRow("1 after 0") << QList<int>{0, 1}
                                   << QList<bool>{true, false, true, false, false, true, false};
        QTest::newRow("0 after 2") << QList<int>{2, 0}
                                   << QList<bool>{true, false, true, false, true, false, false};
    }

    void kindSwitching() {
        QFETCH(QList<int>, clicks);
        QFETCH(QList<bool>, shown);
        Workspace ws;
        frmScanner& w = ws.window;
        ws.load(ws.file(QStringLiteral("p.png"), TestImages::page(300, 400)));
        QVERIFY(showsAPage(w));
        ui(w).Command13->setEnabled(true); // as a crop of kind 2 would
        for (int kind : clicks)
            QTest::mouseClick(ui(w).Option1[std::size_t(kind)], Qt::LeftButton, {}, QPoint(20, 15));
        QCOMPARE(w.currentOutputKind(), clicks.last());
        const QList<const QWidget*> widgets{ui(w).pict2,  ui(w).Pict3,  ui(w).Command6, ui(w).Command13,
                                            ui(w).shape1, ui(w).Shape2, ui(w).Shape3};
        for (int i = 0; i < widgets.size(); ++i)
            QVERIFY2(!hidden(widgets[i]) == shown[i], qPrintable(widgets[i]->objectName()));
        // Showing or hiding a save button leaves its enabled state alone.
        QVERIFY(ui(w).Command13->isEnabled());
        QVERIFY(!ui(w).Command6->isEnabled());
    }

    void loadFitsTheImage_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("fitted");
        QTest::newRow("850 x 1170") << QSize(850, 1170) << QSize(425, 585);
        QTest::newRow("1700 x 1000") << QSize(1700, 1000) << QSize(425, 250);
        QTest::newRow("small") << QSize(170, 234) << QSize(425, 585);
    }

    void loadFitsTheImage() {
        QFETCH(QSize, size);
        QFETCH(QSize, fitted);
        Workspace ws;
        frmScanner& w = ws.window;
        const QString path =
            ws.file(QStringLiteral("form.bmp"), TestImages::page(size.width(), size.height()), "bmp");
        ws.load(path);

        QCOMPARE(ws.prompts.openRequests.size(), 1);
        const Prompts::FileRequest& request = ws.prompts.openRequests.constFirst();
        QCOMPARE(request.title, QStringLiteral("Selezionare il file immagine da caricare"));
        QCOMPARE(request.filters.size(), 5);
        QCOMPARE(request.filters, (QStringList{QStringLiteral("Immagine Bitmap (*.bmp)"),
                                               QStringLiteral("Immagine JPeg (*.jpg;*.jpeg)"),
                                               QStringLiteral("Immagine Gif (*.gif)"),
                                               QStringLiteral("Files di Immagini (*.bmp;*.jpg;*.jpeg;*.gif)"),
                                               QStringLiteral("Tutti i Files (*.*)")}));
        QCOMPARE(request.filterIndex, 4);
        QCOMPARE(request.defaultSuffix, QStringLiteral("jpg"));

        QVERIFY(showsAPage(w));
        QCOMPARE(w.document().path(), path);
        QCOMPARE(w.document().page().size(), size);
        QCOMPARE(ui(w).display, fitted);
        QCOMPARE(ui(w).pict->picture().size(), fitted);
        QCOMPARE(ui(w).transi->picture().size(), size);
        QCOMPARE(ui(w).transi->clientSize(), size);
        QVERIFY(hidden(ui(w).transi));
        // One copy of the page: transi shows SourceImage's own pixels.
        QCOMPARE(ui(w).transi->picture().constBits(), w.document().page().image().constBits());
        QVERIFY(ws.prompts.messages.isEmpty());
        // The frame did not move.
        QCOMPARE(ui(w).shape1->frameRect(), (FrameRect{80, 80, 50, 60}));
    }

    void cancelChangesOnlyThePath() {
        Workspace ws;
        frmScanner& w = ws.window;
        ws.load(ws.file(QStringLiteral("p.png"), TestImages::page(300, 400)));
        const QImage shown = ui(w).pict->picture();
        ws.prompts.fileAnswers << std::nullopt;
        ws.click(ui(w).Command12); // hidden in the Loaded state; the handler is what matters
        w.Command12_Click();
        QVERIFY(w.document().path().isEmpty());
        QVERIFY(showsAPage(w));
        QCOMPARE(ui(w).pict->picture(), shown);
        QCOMPARE(w.document().page().size(), QSize(300, 400));
    }

    // What any unreadable file does (the kinds of damage are the bad images' rows), here
    // after a crop: nothing of the earlier page is left to save.
    void failedLoadReturnsToEmpty() {
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && TestImages::page(400, 400).save(&buffer, "JPG"));
        const QByteArray bytes = jpeg.left(jpeg.size() * 2 / 3);
        Workspace ws;
        frmScanner& w = ws.window;
        ws.load(ws.file(QStringLiteral("good.png"), TestImages::page(300, 400)));
        ws.click(ui(w).Command3);
        QVERIFY(ui(w).Command6->isEnabled());
        const QImage earlier = ui(w).pict->picture();

        const QString bad = ws.dir.filePath(QStringLiteral("bad.jpg"));
        QVERIFY(TestImages::writeBytes(bad, bytes));
        w.Command12_Click(); // the load button is hidden once an image is shown
        ws.prompts.fileAnswers << bad;
        w.Command12_Click();
        QVERIFY(showsNoPage(w));
        QCOMPARE(w.document().path(), bad);
        QVERIFY(w.document().page().isNull());
        QVERIFY(ws.prompts.messages.isEmpty());
        // Nothing of the earlier page is left to be taken for the new one: the line under
        // the page says what happened.
        QVERIFY(ui(w).pict->picture() != earlier);
        QVERIFY(!ui(w).pict->hasPicture());
        QVERIFY(!ui(w).Command6->isEnabled());
        QVERIFY(!w.document().readoutReady(OutputKind::Foto));
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("notice"))->text(),
                 QStringLiteral("Il file bad.jpg non è un'immagine leggibile"));
        // The turn buttons are disabled; pressed anyway, nothing breaks.
        w.Command5_Click();
        QVERIFY(ws.prompts.messages.isEmpty());
        // The next page clears the line.
        ws.load(ws.file(QStringLiteral("good.png"), TestImages::page(300, 400)));
        QVERIFY(w.findChild<QLabel*>(QStringLiteral("notice"))->text().isEmpty());
    }

    void dragWithTheMouse() {
        Workspace ws;
        frmScanner& w = ws.window;
        ws.load(ws.file(QStringLiteral("p.png"), TestImages::page(850, 1170)));
        QCOMPARE(ui(w).shape1->frameRect(), (FrameRect{80, 80, 50, 60}));

        QTest::mousePress(ui(w).pict, Qt::LeftButton, {}, ws.onPict(100, 100));
        QCOMPARE(w.cursor().shape(), Qt::SizeAllCursor);
        QCOMPARE(ui(w).DragLastX, 100.0);
        QTest::mouseMove(ui(w).pict, ws.onPict(110, 95));
        QCOMPARE(ui(w).shape1->frameRect(), (FrameRect{90, 75, 50, 60}));
        QTest::mouseMove(ui(w).pict, ws.onPict(130, 125));
        QCOMPARE(ui(w).shape1->frameRect(), (FrameRect{110, 105, 50, 60}));
        // Up past the top edge, in steps that stay inside the frame: it stops at 1.
        for (int y = 105; y >= 5; y -= 20)
            QTest::mouseMove(ui(w).pict, ws.onPict(130, y));
        QCOMPARE(ui(w).shape1->Top(), 1.f);
        QCOMPARE(ui(w).shape1->Left(), 110.f);
        // A jump far outside the frame moves nothing.
        QTest::mouseMove(ui(w).pict, ws.onPict(400, 500));
        QCOMPARE(ui(w).shape1->frameRect(), (FrameRect{110, 1, 50, 60}));
        QTest::mouseRelease(ui(w).pict, Qt::LeftButton, {}, ws.onPict(400, 500));
        QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
        // The outline follows on screen, inside pict's border.
        QCOMPARE(ui(w).shape1->geometry().topLeft(), QPoint(1 + 110, 1 + 1));
    }

    void otherButtonsDoNotDrag_data() {
        QTest::addColumn<int>("button");
        QTest::newRow("right") << int(Qt::RightButton);
        QTest::newRow("middle") << int(Qt::MiddleButton);
    }

    void otherButtonsDoNotDrag() {
        QFETCH(int, button);
        Workspace ws;
        frmScanner& w = ws.window;
        ws.load(ws.file(QStringLiteral("p.png"), TestImages::page(850, 1170)));
        const auto b = Qt::MouseButton(button);
        QTest::mousePress(ui(w).pict, b, {}, ws.onPict(100, 100));
        QCOMPARE(ui(w).DragLastX, 0.0);
        QVERIFY(w.cursor().shape() != Qt::SizeAllCursor);
        QTest::mouseMove(ui(w).pict, ws.onPict(120, 120));
        QTest::mouseRelease(ui(w).pict, b, {}, ws.onPict(120, 120));
        QCOMPARE(ui(w).shape1->frameRect(), (FrameRect{80, 80, 50, 60}));
        // Left and right together is not a drag either.
        w.pict_MouseDown(3, 0, 100, 100);
        w.pict_MouseMove(3, 0, 120, 120);
        QCOMPARE(ui(w).shape1->frameRect(), (FrameRect{80, 80, 50, 60}));
    }

    // The size buttons change the visible frame only (the size steps themselves are rows of
    // the keys' test), and nothing when no frame is visible.
    void sizeStepsTakeTheVisibleFrame() {
        Workspace ws;
        frmScanner& w = ws.window;
        ws.load(ws.file(QStringLiteral("p.png"), TestImages::page(850, 1170)));
        QTest::mouseClick(ui(w).Option1[1], Qt::LeftButton, {}, QPoint(20, 15));
        ws.click(ui(w).Command7);
        const FrameRect grown{32, 248, 132, float(24 + 2.4)};
        QCOMPARE(ui(w).Shape2->frameRect(), grown);
        ui(w).Shape2->hide();
        w.Command7_Click();
        w.Command9_Click();
        QCOMPARE(ui(w).shape1->frameRect(), (FrameRect{80, 80, 50, 60}));
        QCOMPARE(ui(w).Shape2->frameRect(), grown);
        QCOMPARE(ui(w).Shape3->frameRect(), (FrameRect{80, 88, 50, 50}));
    }

    void cropMatchesTheFramedRegion_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<FrameRect>("frame");
        QTest::newRow("photo") << 0 << FrameRect{100, 50, 50, 60};
        QTest::newRow("signature") << 1 << FrameRect{40, 400, 120, 24};
        QTest::newRow("square") << 2 << FrameRect{200, 300, 100, 100};
        QTest::newRow("photo past the image") << 0 << FrameRect{370, 500, 55, 66};
    }

    void cropMatchesTheFramedRegion() {
        QFETCH(int, kind);
        QFETCH(FrameRect, frame);
        Workspace ws;
        frmScanner& w = ws.window;
        const QImage page = TestImages::page(1240, 1754);
        ws.load(ws.file(QStringLiteral("page.png"), page));
        QCOMPARE(ui(w).display.height(), qint16(585));
        QTest::mouseClick(ui(w).Option1[std::size_t(kind)], Qt::LeftButton, {}, QPoint(20, 15));
        const auto k = OutputKind(kind);
        w.document().setFrame(k, frame);
        ws.click(ui(w).Command3);

        const double factor = 1754.0 / 585;
        const QRectF source = FrameGeometry::cropSourceRect(k, frame, factor);
        const QSize output = outputKindInfo(k).outputSize;
        // An independent crop of the same region, on white paper.
        QImage paper(qCeil(source.right()) + 10, qCeil(source.bottom()) + 10, QImage::Format_RGB32);
        paper.fill(Qt::white);
        QPainter(&paper).drawImage(0, 0, page);
        const QImage expected = paper.copy(source.toAlignedRect())
                                    .scaled(output, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

        PictureSurface* preview = ui(w).previewOf(k);
        QVERIFY(!hidden(preview));
        QVERIFY(ui(w).saveButtonOf(k)->isEnabled());
        const QImage got = preview->image();
        QCOMPARE(got.size(), output);
        const double difference = meanDifference(got, expected);
        QVERIFY2(difference <= 4, qPrintable(QString::number(difference)));
        // Framing the region three displayed pixels lower would not match.
        const QRectF shifted = source.translated(0, 3 * factor);
        const QImage elsewhere = paper.copy(shifted.toAlignedRect())
                                     .scaled(output, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QVERIFY2(meanDifference(got, elsewhere) > 2 * difference,
                 qPrintable(QString::number(meanDifference(got, elsewhere))));
        // The marker colour of the page did not end up where the frame is not.
        QVERIFY(got.pixel(output.width() / 2, output.height() / 2) != qRgb(255, 0, 255));

        // The same crop again gives the same preview.
        ws.click(ui(w).Command3);
        QCOMPARE(preview->image(), got);
    }

    void turnsThroughClicks() {
        Workspace ws;
        frmScanner& w = ws.window;
        const QImage page = TestImages::page(600, 800);
        ws.load(ws.file(QStringLiteral("p.png"), page));
        w.document().setFrame(OutputKind::Foto, {150, 200, 60, 72});

        ws.click(ui(w).Command5);
        QCOMPARE(w.document().page().size(), QSize(800, 600));
        QCOMPARE(ui(w).display, QSize(425, 319));
        QCOMPARE(ui(w).transi->picture().size(), QSize(800, 600));
        QCOMPARE(ui(w).shape1->frameRect(), (FrameRect{150, 200, 60, 72}));
        for (int i = 0; i < 3; ++i)
            ws.click(ui(w).Command5);
        QCOMPARE(w.document().page().image(), page);

        ws.click(ui(w).Command8);
        QCOMPARE(w.document().page().image().pixel(599, 0), page.pixel(0, 0));
        ws.click(ui(w).Command8);
        ws.click(ui(w).Command10);
        QCOMPARE(w.document().page().image().pixel(0, 799), page.pixel(0, 0));
        ws.click(ui(w).Command10);
        QCOMPARE(w.document().page().image(), page);
        QVERIFY(ws.prompts.messages.isEmpty());
        // Only the fit is left in the filter list after the display refresh.
        QCOMPARE(ui(w).ImageProcessor.filterCount(), 1);
        QCOMPARE(ImageProcess(ui(w).ImageProcessor).filter(1).kind, FilterKind::Scale);
    }

    void turnsKeepTheActiveFrame() {
        Workspace ws;
        frmScanner& w = ws.window;
        const QList<QColor> colours{QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255)};
        const QString path = ws.dir.filePath(QStringLiteral("anim.gif"));
        QVERIFY(TestImages::writeBytes(path, TestImages::animatedGif(30, 40, colours)));
        ws.load(path);
        QCOMPARE(w.document().page().frameCount(), 3);
        QCOMPARE(QColor(ui(w).transi->picture().pixel(1, 1)), colours[0]);
        QCOMPARE(ui(w).DisplayImage.frameCount(), 3);

        w.document().setActiveFrame(2);
        ws.click(ui(w).Command8);
        QCOMPARE(w.document().page().activeFrame(), 2);
        QCOMPARE(ui(w).DisplayImage.activeFrame(), 2);
        QCOMPARE(QColor(ui(w).transi->picture().pixel(1, 1)), colours[2]);
        QCOMPARE(QColor(ui(w).pict->picture().pixel(1, 1)), colours[2]);
        ws.click(ui(w).Command5);
        QCOMPARE(w.document().page().activeFrame(), 2);
        QCOMPARE(w.document().page().size(), QSize(40, 30));
    }

    void turnsWithoutAnImage() {
        ScriptedPrompts prompts;
        frmScanner w(prompts);
        w.Command5_Click();
        w.Command8_Click();
        QVERIFY(prompts.messages.isEmpty());
        w.Command10_Click();
        QCOMPARE(prompts.messages, QStringList{kRotationFailed});
        QCOMPARE(prompts.messageButtons.constFirst(), Prompts::Buttons::Ok);
        QVERIFY(w.document().page().isNull());
    }

    void nuovaReturnsToEmpty() {
        Workspace ws;
        frmScanner& w = ws.window;
        const QString path = ws.file(QStringLiteral("p.png"), TestImages::page(850, 1170));
        ws.load(path);
        QTest::mouseClick(ui(w).Option1[2], Qt::LeftButton, {}, QPoint(20, 15));
        w.document().setFrame(OutputKind::AdrCqc, {60, 70, 80, 80});
        ws.click(ui(w).Command3);
        QVERIFY(ui(w).Command13->isEnabled());

        ws.click(ui(w).Command11);
        QVERIFY(showsNoPage(w));
        QVERIFY(hidden(ui(w).Pict3));
        QVERIFY(!ui(w).Command6->isEnabled());
        QVERIFY(!ui(w).Command2->isEnabled());
        QVERIFY(!ui(w).Command13->isEnabled());
        QVERIFY(hidden(ui(w).Command13));
        QVERIFY(!ui(w).pict->hasPicture());
        QVERIFY(!ui(w).transi->hasPicture());
        QVERIFY(!hidden(ui(w).SelectScan));
        QVERIFY(ui(w).ScanIm->isEnabled());
        // Frames, their visibility and the kind stay; so do the workspace members.
        QCOMPARE(ui(w).Shape3->frameRect(), (FrameRect{60, 70, 80, 80}));
        QVERIFY(ui(w).Shape3->Visible());
        QCOMPARE(w.currentOutputKind(), 2);
        QCOMPARE(w.document().path(), path);
        QCOMPARE(w.document().page().size(), QSize(850, 1170));

        // The next load turns kind 0 on again.
        ws.load(path);
        QCOMPARE(w.currentOutputKind(), 0);
        QVERIFY(ui(w).shape1->Visible());
        QVERIFY(!ui(w).Shape3->Visible());
    }

    void reopenAfterEsci() {
        ScriptedPrompts prompts;
        frmScanner w(prompts);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("p.png"));
        QVERIFY(TestImages::write(TestImages::page(400, 500), path, "png"));

        bool firstRan = false;
        QTimer::singleShot(0, &w, [&] {
            firstRan = true;
            prompts.fileAnswers << path;
            QTest::mouseClick(ui(w).Command12, Qt::LeftButton);
            w.document().setFrame(OutputKind::Foto, {200, 300, 70, 84});
            QTest::mouseClick(ui(w).Command1, Qt::LeftButton);
        });
        w.showModal();
        QVERIFY(firstRan);
        QVERIFY(!w.isVisible());

        bool secondRan = false;
        QTimer::singleShot(0, &w, [&] {
            secondRan = true;
            QCOMPARE(ui(w).shape1->frameRect(), (FrameRect{80, 80, 50, 60}));
            QVERIFY(showsNoPage(w));
            QVERIFY(!ui(w).pict->hasPicture());
            // The window frame's own close does what "ESCI" does.
            w.close();
        });
        w.showModal();
        QVERIFY(secondRan);
        QVERIFY(!w.isVisible());
        // The members outlive the controls.
        QCOMPARE(w.document().path(), path);
        QCOMPARE(w.document().page().size(), QSize(400, 500));
    }

    void largePage() {
        Workspace ws;
        frmScanner& w = ws.window;
        const QImage page = TestImages::page(4960, 7016);
        const QString path = ws.dir.filePath(QStringLiteral("a4-600dpi.jpg"));
        QVERIFY(TestImages::write(page, path, "jpg", 80));

        QElapsedTimer timer;
        timer.start();
        ws.load(path);
        const qint64 loadMs = timer.restart();
        QVERIFY(showsAPage(w));
        QCOMPARE(w.document().page().size(), QSize(4960, 7016));
        QCOMPARE(ui(w).display, QSize(414, 585));
        QCOMPARE(ui(w).transi->picture().constBits(), w.document().page().image().constBits());

        ws.click(ui(w).Command5);
        const qint64 turnMs = timer.restart();
        QCOMPARE(w.document().page().size(), QSize(7016, 4960));
        QCOMPARE(ui(w).display, QSize(425, 300));
        QCOMPARE(ui(w).transi->picture().constBits(), w.document().page().image().constBits());

        w.document().setFrame(OutputKind::Foto, {1, 1, 415, 498}); // most of the page
        ws.click(ui(w).Command3);
        const qint64 cropMs = timer.restart();
        QVERIFY(ui(w).Command6->isEnabled());
        QCOMPARE(ui(w).pict2->image().size(), QSize(400, 480));
        qInfo("A4 at 600 dpi: load %lld ms, turn %lld ms, crop %lld ms", loadMs, turnMs, cropMs);
    }
    // Remote assistance is whatever the program wired in; unwired, the button does nothing.
    void remoteAssistanceRunsWhatWasWired() {
        Workspace ws;
        ws.click(ui(ws.window).Command4);
        QVERIFY(ws.prompts.messages.isEmpty());
        int launched = 0;
        ws.window.setRemoteAssistance([&] { ++launched; });
        ws.click(ui(ws.window).Command4);
        QCOMPARE(launched, 1);
    }
};

QTEST_MAIN(TestWorkspaceWindow)
#include "tst_frmScanner.moc"
