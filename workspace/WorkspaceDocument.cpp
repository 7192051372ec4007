#include "workspace/WorkspaceDocument.h"

#include "imaging/LocatorPicture.h"
#include "imaging/Straighten.h"
#include "locate/FramePlacement.h"
#include "locate/PhotoCheck.h"

#include <QUndoCommand>
#include <QtConcurrent/QtConcurrentRun>

#include <cmath>
#include <utility>

namespace {

constexpr std::array<OutputKind, 3> kKinds{OutputKind::Foto, OutputKind::Firma, OutputKind::AdrCqc};

FrameRect startOf(OutputKind kind) {
    const QRectF start = outputKindInfo(kind).designFrame;
    return {float(start.x()), float(start.y()), float(start.width()), float(start.height())};
}

WorkspaceDocument::PageTurn inverse(WorkspaceDocument::PageTurn turn) {
    using PageTurn = WorkspaceDocument::PageTurn;
    switch (turn) {
    case PageTurn::Clockwise:
        return PageTurn::Anticlockwise;
    case PageTurn::Anticlockwise:
        return PageTurn::Clockwise;
    case PageTurn::HalfTurn:
    case PageTurn::MirrorLeftRight:
    case PageTurn::MirrorTopBottom:
        break;
    }
    return turn;
}

} // namespace

// One step of the history: a turn or mirror, or a straightening from one angle to another.
// It is pushed once done, so its first redo() (QUndoStack's, on push) does nothing.
class HistoryStep : public QUndoCommand {
  public:
    HistoryStep(WorkspaceDocument& document, std::optional<WorkspaceDocument::PageTurn> turn,
                double fromDegrees = 0, double toDegrees = 0)
        : m_document(document), m_turn(turn), m_from(fromDegrees), m_to(toDegrees) {}

    void undo() override {
        take(m_turn ? std::optional<WorkspaceDocument::PageTurn>(inverse(*m_turn)) : std::nullopt, m_from);
    }
    void redo() override { take(m_turn, m_to); }

  private:
    void take(std::optional<WorkspaceDocument::PageTurn> turn, double degrees) {
        if (std::exchange(m_skip, false))
            return;
        const bool done = turn ? m_document.turnPage(*turn) : m_document.straightenTo(degrees);
        // The stack has already moved past this step: the document moves it back, and the
        // move back must not touch the page again.
        m_skip = !done;
        m_document.m_stepFailed = !done;
    }

    WorkspaceDocument& m_document;
    std::optional<WorkspaceDocument::PageTurn> m_turn;
    double m_from;
    double m_to;
    bool m_skip = true; // pushed after the page has already changed
};

WorkspaceDocument::WorkspaceDocument(QObject* parent) : QObject(parent) {
    m_checking.setMaxThreadCount(1);
    resetFrames();
}

WorkspaceDocument::~WorkspaceDocument() = default;

bool WorkspaceDocument::load(const QString& path) {
    m_path = path;
    clearHistory();
    m_edits.reset();
    m_page = ImageFile();
    if (!m_page.loadFile(path))
        return false;
    Q_EMIT pageChanged();
    return true;
}

void WorkspaceDocument::setActiveFrame(int index) {
    m_page.setActiveFrame(index);
    Q_EMIT pageChanged();
}

// ---------------------------------------------------------------------------------------
// Turns and straightening, each one step of the history.

bool WorkspaceDocument::turn(PageTurn turn) {
    if (!turnPage(turn))
        return false;
    m_history.push(new HistoryStep(*this, turn));
    return true;
}

bool WorkspaceDocument::turnPage(PageTurn turn) {
    m_turns.removeAllFilters();
    ImageFilter& filter = m_turns.addFilter(FilterKind::RotateFlip);
    switch (turn) {
    case PageTurn::Clockwise:
        filter.rotationAngle = 90;
        break;
    case PageTurn::HalfTurn:
        filter.rotationAngle = 180;
        break;
    case PageTurn::Anticlockwise:
        filter.rotationAngle = 270;
        break;
    case PageTurn::MirrorLeftRight:
        filter.flipHorizontal = true;
        break;
    case PageTurn::MirrorTopBottom:
        filter.flipVertical = true;
        break;
    }

    ImageFile turned = m_turns.apply(m_page);
    // A straightened page's level copy turns with it; a mirror turns the straightening the
    // other way.
    ImageFile levelTurned = m_level.isNull() ? ImageFile() : m_turns.apply(m_level);
    if (turned.isNull() || (!m_level.isNull() && levelTurned.isNull())) {
        Q_EMIT failed(QStringLiteral("La rotazione dell'immagine non è riuscita."));
        return false;
    }
    if (turned.frameCount() == m_page.frameCount())
        turned.setActiveFrame(m_page.activeFrame());
    m_page = std::move(turned);
    if (!m_level.isNull()) {
        levelTurned.setActiveFrame(m_level.activeFrame());
        m_level = std::move(levelTurned);
        if (turn == PageTurn::MirrorLeftRight || turn == PageTurn::MirrorTopBottom)
            m_straighten = -m_straighten;
    }
    Q_EMIT pageChanged();
    return true;
}

bool WorkspaceDocument::straightenBy(double degrees) {
    if (m_page.isNull())
        return false;
    // Hundredths of a degree, so that half-degree steps come back exactly to level.
    const double from = m_straighten;
    const double to = std::round((from + degrees) * 100) / 100 + 0.0;
    if (!std::isfinite(to) || std::abs(to) > Straighten::kMaxDegrees || to == from)
        return false;
    if (!straightenTo(to))
        return false;
    m_history.push(new HistoryStep(*this, std::nullopt, from, to));
    return true;
}

bool WorkspaceDocument::straightenTo(double degrees) {
    if (degrees == m_straighten)
        return true;
    if (degrees == 0) {
        m_page = std::move(m_level);
        m_level = ImageFile();
        m_straighten = 0;
        Q_EMIT pageChanged();
        return true;
    }
    const ImageFile& level = m_level.isNull() ? m_page : m_level;
    // The shown frame only: the other frames of an animation come back with the level page.
    const QImage straightened = Straighten::page(level.image(), degrees);
    if (straightened.isNull()) {
        Q_EMIT failed(QStringLiteral("Il raddrizzamento dell'immagine non è riuscito."));
        return false;
    }
    if (m_level.isNull())
        m_level = m_page;
    m_page = ImageFile({straightened});
    m_straighten = degrees;
    Q_EMIT pageChanged();
    return true;
}

void WorkspaceDocument::undo() {
    if (!m_history.canUndo() || m_page.isNull())
        return;
    m_stepFailed = false;
    m_history.undo();
    if (m_stepFailed) {
        m_history.redo(); // back onto the history, the page untouched
        return;
    }
    m_edits.pageTouched();
}

void WorkspaceDocument::redo() {
    if (!m_history.canRedo() || m_page.isNull())
        return;
    m_stepFailed = false;
    m_history.redo();
    if (m_stepFailed) {
        m_history.undo();
        return;
    }
    m_edits.pageTouched();
}

void WorkspaceDocument::clearHistory() {
    m_history.clear();
    m_level = ImageFile();
    m_straighten = 0;
}

// ---------------------------------------------------------------------------------------
// Frames.

void WorkspaceDocument::setFrame(OutputKind kind, const FrameRect& rect) {
    m_frames[index(kind)] = rect;
    Q_EMIT frameChanged(kind);
}

void WorkspaceDocument::resetFrames() {
    for (OutputKind kind : kKinds) {
        const FrameRect start = startOf(kind);
        // A tenth of each frame's starting size.
        m_stepHeight[index(kind)] = double(start.Height) * 10 / 100;
        m_stepWidth[index(kind)] = double(start.Width) * 10 / 100;
        setFrame(kind, start);
    }
}

void WorkspaceDocument::editFrame(OutputKind kind, const std::function<void(FrameRect&)>& edit) {
    FrameRect rect = frame(kind);
    edit(rect);
    setFrame(kind, rect);
    m_edits.frameTouched(kind);
}

void WorkspaceDocument::moveFrame(OutputKind kind, double dx, double dy) {
    editFrame(kind, [dx, dy](FrameRect& rect) {
        rect.Left = float(double(rect.Left) + dx);
        rect.Top = float(double(rect.Top) + dy);
        FrameGeometry::applyDragBounds(rect);
    });
}

void WorkspaceDocument::growFrame(OutputKind kind) {
    editFrame(kind, [this, kind](FrameRect& rect) {
        FrameGeometry::grow(rect, kind, stepWidth(kind), stepHeight(kind));
    });
}

void WorkspaceDocument::shrinkFrame(OutputKind kind) {
    editFrame(kind, [this, kind](FrameRect& rect) {
        FrameGeometry::shrink(rect, kind, stepWidth(kind), stepHeight(kind));
    });
}

void WorkspaceDocument::dragFrame(OutputKind kind, float x, float y, double& lastX, double& lastY) {
    FrameRect rect = frame(kind);
    if (FrameGeometry::dragStep(rect, x, y, lastX, lastY))
        m_edits.frameTouched(kind);
    FrameGeometry::applyDragBounds(rect);
    setFrame(kind, rect);
}

// ---------------------------------------------------------------------------------------
// Readouts: what each kind's save will write, found by the save's own search in the
// background after each crop.

void WorkspaceDocument::cropped(OutputKind kind, const QImage& picture) {
    Readout& readout = m_readouts[index(kind)];
    if (readout.watcher)
        readout.watcher->deleteLater();
    readout.picture = picture;
    readout.encoded.reset();
    readout.notFound.clear();
    m_edits.pageTouched();
    m_edits.frameTouched(kind);

    auto* watcher = new QFutureWatcher<SaveCommand::Encoded>(this);
    readout.watcher = watcher;
    connect(watcher, &QFutureWatcherBase::finished, this, [this, kind, watcher] {
        Readout& current = m_readouts[index(kind)];
        if (current.watcher != watcher)
            return; // a later crop replaced this search
        current.encoded = watcher->result();
        Q_EMIT readoutChanged(kind);
    });
    watcher->setFuture(QtConcurrent::run([kind, picture] { return SaveCommand::encode(kind, picture); }));
    // The identity photo check: said under the quality when it answers, unless a later crop
    // has replaced this one. The operator may save meanwhile: the check only informs.
    readout.check.reset();
    if (kind != OutputKind::Firma) {
        auto* checking = new QFutureWatcher<PhotoCheck::Report>(this);
        connect(checking, &QFutureWatcherBase::finished, this,
                [this, kind, checking, key = picture.cacheKey()] {
                    checking->deleteLater();
                    Readout& current = m_readouts[index(kind)];
                    if (current.picture.cacheKey() == key) {
                        current.check = checking->result();
                        Q_EMIT readoutChanged(kind);
                    }
                });
        checking->setFuture(QtConcurrent::run(&m_checking, [kind, picture] {
            return PhotoCheck::evaluate(PhotoCheck::measure(picture), kind == OutputKind::AdrCqc);
        }));
    }
    Q_EMIT readoutChanged(kind);
}

QString WorkspaceDocument::readoutText(OutputKind kind) const {
    return readoutWith(kind, false);
}

QString WorkspaceDocument::readoutDetail(OutputKind kind) const {
    return readoutWith(kind, true);
}

QString WorkspaceDocument::readoutWith(OutputKind kind, bool everyProblem) const {
    const Readout& readout = m_readouts[index(kind)];
    if (!readout.notFound.isEmpty())
        return readout.notFound;
    QString text;
    if (readout.encoded)
        text = SaveCommand::readoutText(kind, *readout.encoded);
    else if (readout.watcher)
        text = QStringLiteral("Calcolo della qualità...");
    if (!readout.check)
        return text;
    const QStringList problems = everyProblem ? PhotoCheck::problems(*readout.check) : QStringList();
    return text + QLatin1Char('\n') +
           (problems.isEmpty() ? PhotoCheck::readout(*readout.check) : problems.join(QLatin1Char('\n')));
}

bool WorkspaceDocument::readoutFits(OutputKind kind) const {
    const Readout& readout = m_readouts[index(kind)];
    return !readout.notFound.isEmpty() || !readout.encoded ||
           readout.encoded->found.status == QualitySearch::Status::Found;
}

const SaveCommand::Encoded* WorkspaceDocument::encodedFor(OutputKind kind, const QImage& picture) {
    // A search still running on this very picture is waited for rather than started again.
    Readout& readout = m_readouts[index(kind)];
    if (!readout.encoded && readout.watcher && readout.picture == picture) {
        readout.watcher->waitForFinished();
        readout.encoded = readout.watcher->result();
    }
    return readout.encoded && readout.picture == picture ? &*readout.encoded : nullptr;
}

void WorkspaceDocument::clearReadouts() {
    for (OutputKind kind : kKinds) {
        Readout& readout = m_readouts[index(kind)];
        if (readout.watcher)
            readout.watcher->deleteLater();
        readout = Readout();
        Q_EMIT readoutChanged(kind);
    }
}

// ---------------------------------------------------------------------------------------
// Automatic framing: the locator's answer puts the frames on the photograph and signature.

void WorkspaceDocument::locate() {
    if (m_page.isNull())
        return;
    // The reduced copy is all the locator needs; both copies are shared, never written.
    const QImage picture = m_page.reduced().isNull() ? m_page.image() : m_page.reduced();
    const QSize pageSize = m_page.size();
    const qint64 key = m_page.image().cacheKey();
    using Answer = std::pair<PageFindings, QImage>;
    auto* watcher = new QFutureWatcher<Answer>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, key] {
        watcher->deleteLater();
        const Answer answer = watcher->result();
        PlacedFrames placed;
        for (OutputKind kind : kKinds)
            placed[index(kind)] = FramePlacement::place(kind, answer.first);
        ++m_framesShown;
        if (!applyLocated(key, answer.first, placed))
            ++m_framesLocated;
        else
            checkPhotoFrames(answer.first, answer.second, placed);
    });
    watcher->setFuture(QtConcurrent::run([picture, pageSize, path = m_path, locate = m_locate] {
        // A JPEG page is looked at as vetra-batch looks at it (its reduced decode, not the
        // average of the full one), so both place the same frames on it, the photo frames
        // measured on the same pixels.
        const QImage jpeg = LocatorPicture::ofJpegFile(path, pageSize);
        const QImage looked = jpeg.isNull() ? picture : jpeg;
        return Answer{locate(looked, pageSize), looked};
    }));
}

// The photo frames are shown where place() puts them as soon as the locator answers (the
// identity check's crops add 50-150 ms on a busy machine); where the check's geometry fails
// on them they are placed again a moment later, as vetra-batch --auto places them, unless the
// operator has touched them or the page meanwhile.
void WorkspaceDocument::checkPhotoFrames(const PageFindings& findings, const QImage& looked,
                                         const PlacedFrames& placed) {
    const qint64 key = m_page.image().cacheKey();
    auto* watcher = new QFutureWatcher<PlacedFrames>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, key, placed] {
        watcher->deleteLater();
        ++m_framesLocated;
        if (m_page.isNull() || m_page.image().cacheKey() != key || !m_shown)
            return;
        const PlacedFrames checked = watcher->result();
        for (OutputKind kind : {OutputKind::Foto, OutputKind::AdrCqc}) {
            const std::optional<FrameRect>& first = placed[index(kind)];
            const std::optional<FrameRect>& better = checked[index(kind)];
            if (first && better && m_edits.mayPlace(kind) && frame(kind) == *first && *better != *first)
                setFrame(kind, *better);
        }
    });
    watcher->setFuture(QtConcurrent::run([findings, looked] {
        const FramePlacement::MeasureFunction measure = [](const QImage& crop,
                                                           PhotoCheck::Measures* measures) {
            *measures = PhotoCheck::measure(crop);
            return true;
        };
        PlacedFrames checked;
        for (OutputKind kind : {OutputKind::Foto, OutputKind::AdrCqc})
            checked[index(kind)] = FramePlacement::placeChecked(kind, findings, looked, measure);
        return checked;
    }));
}

void WorkspaceDocument::framesLocated(qint64 cacheKey, const PageFindings& findings) {
    PlacedFrames placed;
    for (OutputKind kind : kKinds)
        placed[index(kind)] = FramePlacement::place(kind, findings);
    ++m_framesShown;
    ++m_framesLocated;
    applyLocated(cacheKey, findings, placed);
}

bool WorkspaceDocument::applyLocated(qint64 cacheKey, const PageFindings& findings,
                                     const PlacedFrames& placed) {
    if (m_page.isNull() || m_page.image().cacheKey() != cacheKey || !m_shown)
        return false;
    if (const int degrees = FramePlacement::turnToShow(findings)) {
        // The frames below are for the turned page: without the turn, none of them fits.
        if (!m_edits.mayTurn())
            return false;
        // As if "Rotazione" had been pressed as often as the turn needs, in one turn of the
        // page that Ctrl+Z takes back.
        const PageTurn pageTurn = degrees == 90    ? PageTurn::Clockwise
                                  : degrees == 180 ? PageTurn::HalfTurn
                                                   : PageTurn::Anticlockwise;
        if (!turn(pageTurn) || m_page.size() != findings.pageSize)
            return false;
    }
    // The page shown straightened as the frames expect it, in one step Ctrl+Z takes back.
    if (findings.straighten != 0 && (!m_edits.mayTurn() || !straightenBy(findings.straighten - m_straighten)))
        return false;
    // A subject not found leaves no frame where the last page had it: the frame goes back to
    // its starting place and the readout says why, unless the operator has moved or cropped
    // that kind since the load (the frame, the crop and its readout are theirs then).
    for (OutputKind kind : kKinds) {
        if (!m_edits.mayPlace(kind))
            continue;
        if (const std::optional<FrameRect>& frame = placed[index(kind)]) {
            setFrame(kind, *frame);
            continue;
        }
        Readout& readout = m_readouts[index(kind)];
        if (readout.watcher || readout.encoded)
            continue;
        setFrame(kind, startOf(kind));
        readout.notFound = kind == OutputKind::Firma
                               ? QStringLiteral("Firma non trovata: posizionare la cornice a mano")
                               : QStringLiteral("Fotografia non trovata: posizionare la cornice a mano");
        Q_EMIT readoutChanged(kind);
    }
    return true;
}
