// The workspace document without its window: the history, the frames the operator edits and
// the locator places, and the readouts.
#include "imaging/Straighten.h"
#include "tests/support/FrameStart.h"
#include "tests/support/TestImages.h"
#include "workspace/WorkspaceDocument.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using PageTurn = WorkspaceDocument::PageTurn;

// A document holding a 600 x 800 page, shown.
struct Loaded {
    QTemporaryDir dir;
    WorkspaceDocument document;
    QImage original = TestImages::page(600, 800);

    Loaded() {
        const QString path = dir.filePath(QStringLiteral("p.png"));
        if (!TestImages::write(original, path, "png") || !document.load(path))
            qFatal("cannot load a test page");
        original = document.page().image().copy();
        document.setShown(true);
    }
};

} // namespace

class TestWorkspaceDocument : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // Turns, mirrors and straightenings are one history: each step is taken back and made
    // again exactly, a new step drops what could have been made again, a load starts afresh.
    void oneHistory() {
        Loaded l;
        WorkspaceDocument& d = l.document;
        QSignalSpy changed(&d, &WorkspaceDocument::pageChanged);
        QVERIFY(d.turn(PageTurn::Clockwise));
        const QImage turned = d.page().image().copy();
        QVERIFY(d.straightenBy(0.5));
        QCOMPARE(d.page().image(), Straighten::page(turned, 0.5));
        // A mirror carries the straightening with it, the other way; each step starts from
        // the level page, so the blur never adds up.
        QVERIFY(d.turn(PageTurn::MirrorLeftRight));
        QCOMPARE(d.straightenDegrees(), -0.5);
        QVERIFY(d.straightenBy(-0.5));
        QCOMPARE(d.page().image(), Straighten::page(turned.mirrored(true, false), -1.0));
        QCOMPARE(d.history().count(), 4);
        QCOMPARE(changed.count(), 4);
        const QImage last = d.page().image();
        QVERIFY(d.edits().mayTurn()); // the program's own steps are not the operator's

        for (int i = 0; i < 4; ++i)
            d.undo();
        QCOMPARE(d.page().image(), l.original);
        QCOMPARE(d.straightenDegrees(), 0.0);
        QVERIFY(!d.canUndo() && d.canRedo());
        QVERIFY(!d.edits().mayTurn()); // taking a step back is the operator's doing
        for (int i = 0; i < 4; ++i)
            d.redo();
        QCOMPARE(d.page().image(), last);

        d.undo();
        QVERIFY(d.turn(PageTurn::HalfTurn));
        QVERIFY(!d.canRedo());
        QVERIFY(!d.straightenBy(Straighten::kMaxDegrees + 1));
        QVERIFY(d.straightenBy(-Straighten::kMaxDegrees - d.straightenDegrees()));
        QVERIFY(!d.straightenBy(-0.5)); // the limit
        QCOMPARE(d.history().count(), 5);

        QVERIFY(d.load(l.dir.filePath(QStringLiteral("p.png"))));
        QVERIFY(!d.canUndo() && !d.canRedo());
        QCOMPARE(d.straightenDegrees(), 0.0);
        QVERIFY(d.edits().mayTurn());
    }

    // The locator finding nothing puts an untouched kind's frame back at its start and says
    // so in its readout, until the crop; an answer for a page no longer shown changes nothing.
    void nothingFound_data() {
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("samePage");
        QTest::addColumn<bool>("told");
        QTest::newRow("shown") << true << true << true;
        QTest::newRow("after NUOVA") << false << true << false;
        QTest::newRow("for another page") << true << false << false;
    }

    void nothingFound() {
        QFETCH(bool, shown);
        QFETCH(bool, samePage);
        QFETCH(bool, told);
        Loaded l;
        WorkspaceDocument& d = l.document;
        d.setShown(shown);
        const FrameRect elsewhere{200, 300, 50, 60};
        d.setFrame(OutputKind::Foto, elsewhere);
        d.setFrame(OutputKind::Firma, {40, 400, 120, 24});
        d.cropped(OutputKind::Firma, QImage(375, 72, QImage::Format_RGB32));
        PageFindings nothing;
        nothing.pageSize = d.page().size();
        d.framesLocated(d.page().image().cacheKey() + (samePage ? 0 : 1), nothing);
        QCOMPARE(d.framesLocatedCount(), 1);
        QCOMPARE(d.frame(OutputKind::Foto), told ? startOf(OutputKind::Foto) : elsewhere);
        QCOMPARE(d.readoutText(OutputKind::Foto),
                 told ? QStringLiteral("Fotografia non trovata: posizionare la cornice a mano") : QString());
        // The cropped kind is the operator's: its frame and readout stay.
        QCOMPARE(d.frame(OutputKind::Firma), (FrameRect{40, 400, 120, 24}));
        QVERIFY(!d.readoutText(OutputKind::Firma).contains(QStringLiteral("non trovata")));
        if (told) {
            d.cropped(OutputKind::Foto, QImage(400, 480, QImage::Format_RGB32));
            QCOMPARE(d.readoutText(OutputKind::Foto), QStringLiteral("Calcolo della qualità..."));
        }
    }

    // The readout is the save's answer for the very picture cropped, and only for it.
    void readoutOfTheCrop() {
        Loaded l;
        WorkspaceDocument& d = l.document;
        const QImage crop = l.original.copy(0, 0, 400, 480);
        d.cropped(OutputKind::Foto, crop);
        QVERIFY(!d.readoutReady(OutputKind::Foto));
        QVERIFY(!d.encodedFor(OutputKind::Foto, l.original.copy(1, 0, 400, 480)));
        const SaveCommand::Encoded* encoded = d.encodedFor(OutputKind::Foto, crop); // waits
        QVERIFY(encoded && d.readoutReady(OutputKind::Foto));
        QCOMPARE(encoded->found.bytes, SaveCommand::encode(OutputKind::Foto, crop).found.bytes);
        QCOMPARE(d.readoutText(OutputKind::Foto), SaveCommand::readoutText(OutputKind::Foto, *encoded));
        d.clearReadouts();
        QVERIFY(d.readoutText(OutputKind::Foto).isEmpty() && !d.encodedFor(OutputKind::Foto, crop));
    }
};

QTEST_MAIN(TestWorkspaceDocument)
#include "tst_workspaceDocument.moc"
