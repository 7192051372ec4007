#pragma once

#include "imaging/FrameGeometry.h"
#include "imaging/ImageFile.h"
#include "imaging/ImageProcess.h"
#include "imaging/OutputKinds.h"
#include "locate/Locator.h"
#include "locate/PhotoVerdict.h"
#include "workspace/OperatorEdits.h"
#include "workspace/SaveCommand.h"

#include <QFutureWatcher>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <QUndoStack>
#include <array>
#include <functional>
#include <optional>

// What the workspace works on, without any widget: the page and its turn and straightening
// history, the three frames, the locator's answers and what each kind's save will write.
// The workspace window shows it and turns the operator's clicks into its calls; the tests
// drive it directly.
//
// All calls belong to the interface thread. Work that takes long (the locator, the quality
// search behind each readout) runs on the thread pool and comes back as a finished
// QFutureWatcher owned by the document, so an answer never outlives the document.
class WorkspaceDocument : public QObject {
    Q_OBJECT
  public:
    explicit WorkspaceDocument(QObject* parent = nullptr);
    ~WorkspaceDocument() override;

    // The full-resolution working page; null before a load and after a failed one.
    const ImageFile& page() const { return m_page; }
    bool hasPage() const { return !m_page.isNull(); }
    // Makes the image file at path the page: the history, the straightening and the record
    // of the operator's edits start afresh. False, with no page, when it cannot be read.
    bool load(const QString& path);
    // The file last loaded or scanned; empty after a cancelled dialog.
    const QString& path() const { return m_path; }
    void setPath(const QString& path) { m_path = path; }
    // Which picture of an animated page is worked on (the first after a load).
    void setActiveFrame(int index);

    // Whether the page is on show for framing: from the moment a loaded or scanned page shows
    // until "NUOVA" or a failed load. The locator's answers count only meanwhile.
    bool isShown() const { return m_shown; }
    void setShown(bool shown) { m_shown = shown; }

    // Page turns the history keeps. Each is lossless and has an exact inverse.
    enum class PageTurn { Clockwise, HalfTurn, Anticlockwise, MirrorLeftRight, MirrorTopBottom };
    // Turns the page and records the turn as one step of the history. A failed turn (no
    // page, no memory) is told through failed() and not recorded.
    bool turn(PageTurn turn);
    // Straightens the page degrees more, clockwise when positive, up to
    // Straighten::kMaxDegrees either way in all; one step of the history. The page is
    // straightened afresh from the level page each time, so steps never add up their blur.
    // False, with nothing changed, beyond the limit, without a page or when it fails.
    bool straightenBy(double degrees);
    // How far the page is straightened, clockwise degrees.
    double straightenDegrees() const { return m_straighten; }
    // Take back the last step / make the last taken-back step again; the frames stay where
    // they are. A step that fails stays where it was on the history, so nothing is skipped.
    void undo();
    void redo();
    bool canUndo() const { return m_history.canUndo(); }
    bool canRedo() const { return m_history.canRedo(); }
    const QUndoStack& history() const { return m_history; }

    // What the operator has done to the page since it came in.
    OperatorEdits& edits() { return m_edits; }

    // The frames, in client pixels of the shown page.
    FrameRect frame(OutputKind kind) const { return m_frames[index(kind)]; }
    // Places a frame; the program's own placements.
    void setFrame(OutputKind kind, const FrameRect& rect);
    // Every frame back to its starting place.
    void resetFrames();
    // The operator's edits of a frame: they count against the locator's later placements.
    void moveFrame(OutputKind kind, double dx, double dy);
    void growFrame(OutputKind kind);
    void shrinkFrame(OutputKind kind);
    // A drag step from (lastX, lastY) to (x, y), under the drag's rules.
    void dragFrame(OutputKind kind, float x, float y, double& lastX, double& lastY);
    // The frame's size step: a tenth of its starting size.
    double stepWidth(OutputKind kind) const { return m_stepWidth[index(kind)]; }
    double stepHeight(OutputKind kind) const { return m_stepHeight[index(kind)]; }

    // The kind's preview now holds picture, cropped from the page: its save's quality and
    // size are searched for in the background.
    void cropped(OutputKind kind, const QImage& picture);
    // The readout beside the kind's preview; empty when there is none. A photo crop's adds,
    // on a line of its own once the check has answered, whether it would pass as an identity
    // photo: its worst problem, or "Foto conforme".
    QString readoutText(OutputKind kind) const;
    // The same with every problem the check found, one a line: the readout's tooltip (the
    // readout's box has room for the worst one only).
    QString readoutDetail(OutputKind kind) const;
    // False when the readout tells that the save cannot keep under the size limit.
    bool readoutFits(OutputKind kind) const;
    // Whether the quality and size of the kind's crop are known yet.
    bool readoutReady(OutputKind kind) const { return m_readouts[index(kind)].encoded.has_value(); }
    // The search's answer for picture, waiting for a search still running on it; null when
    // the last crop was another picture.
    const SaveCommand::Encoded* encodedFor(OutputKind kind, const QImage& picture);
    // The previews are empty again: no readout holds.
    void clearReadouts();

    // Looks for the photograph and signature on the page in the background (a JPEG page file
    // through its reduced decode, as vetra-batch looks at it); the answer comes to
    // framesLocated() on this thread, and is lost with the document.
    void locate();
    // The locator's answer for the page whose pixels had cacheKey. An answer for a page no
    // longer shown (another load, a turn, "NUOVA") is dropped, and so is whatever of it the
    // operator has overtaken: a frame moved, resized or cropped with keeps its place, and a
    // page the operator has done anything to is not turned.
    // locate()'s answers also have their photo frames placed again a moment later where the
    // identity check's geometry fails on them (FramePlacement::placeChecked).
    void framesLocated(qint64 cacheKey, const PageFindings& findings);
    // How many answers were applied or dropped so far, the photo frames' second placing
    // included; framesShownCount() counts them as soon as the frames were first shown.
    int framesLocatedCount() const { return m_framesLocated; }
    int framesShownCount() const { return m_framesShown; }
    using LocateFunction = std::function<PageFindings(const QImage&, QSize)>;
    void setLocator(LocateFunction locate) { m_locate = std::move(locate); }

  Q_SIGNALS:
    // The page's pixels changed (load, turn, straightening, frame of an animation).
    void pageChanged();
    void frameChanged(OutputKind kind);
    void readoutChanged(OutputKind kind);
    // Something the operator asked for could not be done; text says what, in Italian.
    void failed(const QString& text);

  private:
    friend class HistoryStep;
    static std::size_t index(OutputKind kind) { return static_cast<std::size_t>(kind); }
    bool turnPage(PageTurn turn);
    bool straightenTo(double degrees);
    void clearHistory();
    void editFrame(OutputKind kind, const std::function<void(FrameRect&)>& edit);
    // Each kind's frame as FramePlacement placed it (by index()), nothing where its subject
    // was not found.
    using PlacedFrames = std::array<std::optional<FrameRect>, 3>;
    // Applies a locator's answer for the page whose pixels had cacheKey; false when it was
    // dropped before any frame was placed (another page, or one the operator overtook).
    // The readout, its check's worst problem or, with everyProblem, all of them one a line.
    QString readoutWith(OutputKind kind, bool everyProblem) const;
    bool applyLocated(qint64 cacheKey, const PageFindings& findings, const PlacedFrames& placed);
    void checkPhotoFrames(const PageFindings& findings, const QImage& looked, const PlacedFrames& placed);

    // What the save of a kind will write, worked out in the background after each crop.
    struct Readout {
        QImage picture; // the preview image the search ran on
        std::optional<SaveCommand::Encoded> encoded;
        QPointer<QFutureWatcher<SaveCommand::Encoded>> watcher;
        QString notFound; // said until the next crop: the locator found nothing to frame
        std::optional<PhotoCheck::Report> check; // photo kinds, once the check has answered
    };

    ImageFile m_page;
    // While the page is straightened: the page as it was before, turned and mirrored with it.
    ImageFile m_level;
    double m_straighten = 0;
    QString m_path;
    bool m_shown = false;
    ImageProcess m_turns;
    QUndoStack m_history;
    // Set by a step that could not be taken back or made again.
    bool m_stepFailed = false;
    OperatorEdits m_edits;
    std::array<FrameRect, 3> m_frames{};
    std::array<double, 3> m_stepWidth{};
    std::array<double, 3> m_stepHeight{};
    std::array<Readout, 3> m_readouts{};
    // The identity photo check's one thread. Not the global pool: QImage's smooth scaling on
    // the interface thread hands its slices to the global pool and waits for them, so a check
    // queued there (seconds under the sanitizers) froze the window and the readout with it.
    // One thread: checks run one after the other, a crop's within about 30 ms.
    QThreadPool m_checking;
    int m_framesLocated = 0;
    int m_framesShown = 0;
    LocateFunction m_locate = [](const QImage& picture, QSize pageSize) {
        return Locator::locate(picture, pageSize);
    };
};
