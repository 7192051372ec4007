#include "locate/FramePlacement.h"

#include <QPainter>
#include <QRectF>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <vector>

namespace FramePlacement {

namespace {

// A page rectangle in pict's pixels, for a page of pageSize fitted into pict.
QRectF toPict(const QRect& rect, double factor) {
    return {rect.x() / factor, rect.y() / factor, rect.width() / factor, rect.height() / factor};
}

// Page pixels per pixel of pict, for a page of size page fitted into it as the window shows it.
double pictFactor(QSize page) {
    const QSize display = FrameGeometry::fitSize(page, QSize(int(kPictClientWidth), int(kPictClientHeight)));
    return FrameGeometry::cropScaleFactor(page, display.width(), display.height());
}

// lo..hi clamps value; when the range is empty, its middle.
double clampInto(double value, double lo, double hi) {
    if (lo > hi)
        return (lo + hi) / 2;
    return std::clamp(value, lo, hi);
}

// Slack against the rounding of the crop rectangle to whole page pixels.
constexpr double kSlack = 0.25;

// The head in detector face boxes (brows to chin or a little above it), measured on 22
// photographs of the tuning pages: the chin 0.85 to 1.3 boxes below the box's top, the
// crown 0.3 to 1.05 above it, 0.65 in the middle.
constexpr double kChinBelowFace = 0.05; // below the box's bottom
constexpr double kHeadOfFace = 1.7;     // crown to chin
// The forehead above the box that a square too small for the head still keeps with the
// face: the rest of the head is lost evenly above and below.
constexpr double kForeheadOfFace = 0.3;
// An ID photograph's crown lies 3 to 5 mm below its top edge (of 45 mm), 7 to 16 % of the
// height on the tuning pages: the highest it can be, as a share of the height.
constexpr double kCrownBelowTop = 0.06;
// The share of the square's room beyond the head that goes above the crown: a little more
// than below the chin, as a portrait is framed.
constexpr double kRoomAbove = 0.55;

// The top of a frame of height side placed for the head whose face is face: crown and chin
// inside it with the room above a little larger than below; a head taller than the frame
// keeps its middle, losing as much of the crown's hair as of the chin, but never the face
// and its forehead.
double topForHead(const QRectF& photo, const QRectF& face, double side) {
    const double chin = face.bottom() + kChinBelowFace * face.height();
    const double head = kHeadOfFace * face.height();
    const double crown = chin - head;
    double top = crown - kRoomAbove * (side - head);
    if (side < head) {
        const double forehead = face.top() - kForeheadOfFace * face.height();
        top = std::min(std::max(crown + (head - side) / 2, chin - side),
                       std::max(forehead, face.bottom() - side));
    }
    // The face's box tells the hair above it badly (0.3 to 1.05 boxes), the photograph's top
    // tells the crown better, as it is cut a little above it: a frame lower than the highest
    // crown the photograph allows goes half way up to it, never above the face's box.
    const double highestCrown = photo.top() + kCrownBelowTop * photo.height();
    if (top <= highestCrown)
        return top;
    return std::max((top + highestCrown) / 2, std::min(top, face.bottom() - side));
}

// Where the square photo's head lies, from the detector's face box and from the
// photograph's edges. Measured on the 51 photographs of the tuning pages whose rectangle was
// found right, in face-box heights from the box's top (standard deviation in brackets): the
// crown 0.60 above it (0.16), the chin 0.96 below it (0.10); as a share of the photograph's
// height from its top, the crown at 0.10 (0.04, i.e. 0.09 box heights) and the chin at 0.78
// (0.07, 0.15 box heights). The chin is taken at 0.80, towards where a 35 x 45 mm ID
// photograph puts it (its crown 3 to 5 mm down, 32 to 36 mm above the chin: 0.78 to 0.91).
// The photograph's top tells the crown better, the face the chin: each is the mix of the two
// that framed the most heads on those pages and on the sweeps (flat between 0.4 and 0.5 for
// the crown's face share, 0.6 and 0.7 for the chin's).
constexpr double kCrownAboveBox = 0.60;
constexpr double kChinBelowBoxTop = 0.96;
constexpr double kCrownDownPhoto = 0.10;
constexpr double kChinDownPhoto = 0.80;
constexpr double kCrownFaceShare = 0.4;
constexpr double kChinFaceShare = 0.6;
// The photograph tells the head only when it is cut around it, as an ID photograph is: the
// face box then measures 0.34 to 0.55 of its height. Outside this range the face alone.
constexpr double kCutAroundLow = 0.3;
constexpr double kCutAroundHigh = 0.6;
// The share of the detector's box, from its top, that a square always holds: its lowest
// part is often below the chin (the chin measured at 0.77 to 1.3 box heights).
constexpr double kBoxKept = 0.85;

// The top of the square of side side for the head whose face is face in photo: crown and
// chin inside with the room above a little larger than below; a head taller than the square
// keeps its middle, losing as much of the crown's hair as of the chin, but never the face.
double squareTopForHead(const QRectF& photo, const QRectF& face, double side) {
    const double box = face.height();
    double crown = face.top() - kCrownAboveBox * box;
    double chin = face.top() + kChinBelowBoxTop * box;
    const double share = box / photo.height();
    if (share >= kCutAroundLow && share <= kCutAroundHigh) {
        crown = kCrownFaceShare * crown +
                (1 - kCrownFaceShare) * (photo.top() + kCrownDownPhoto * photo.height());
        chin = kChinFaceShare * chin + (1 - kChinFaceShare) * (photo.top() + kChinDownPhoto * photo.height());
    }
    const double head = chin - crown;
    const double top = side >= head ? crown - kRoomAbove * (side - head) : crown + (head - side) / 2;
    return clampInto(top, face.top() + kBoxKept * box - side, face.top());
}

// FOTO ADR-CQC: the largest square inside the photograph, of any size between the smallest
// and the largest frame (the smallest when the photograph is smaller still, the operator
// then adjusting it), placed for the head and across on the face's middle. The size steps
// reach only every 5 pixels of pict, about 2.5 mm of an A4 page: on a 35 mm photograph
// holding a 33 mm head the square one step short loses the crown or the chin.
FrameRect placeSquare(const QRectF& photo, const QRectF& face) {
    const OutputKindInfo& info = outputKindInfo(OutputKind::AdrCqc);
    // Inside the photograph and within the window's bounds too (left and top at least 1).
    const double width = std::min(photo.right(), kPictClientWidth) - std::max(photo.left(), 1.0);
    const double height = std::min(photo.bottom(), kPictClientHeight) - std::max(photo.top(), 1.0);
    const double wanted = std::clamp(std::min(width, height), info.smallest.width(), info.largest.width());
    // Stored as float (as the frames are) and rounded down, so that it still fits.
    float side = float(wanted);
    if (side > wanted)
        side = std::nextafter(side, 0.0F);
    const double top = squareTopForHead(photo, face, side);
    const double left = face.center().x() - side / 2;
    FrameRect frame{float(clampInto(left, std::max(photo.left(), 1.0),
                                    std::min(photo.right() - side, kPictClientWidth - side))),
                    float(clampInto(top, std::max(photo.top(), 1.0),
                                    std::min(photo.bottom() - side, kPictClientHeight - side))),
                    side, side};
    FrameGeometry::applyDragBounds(frame);
    return frame;
}

// The photo frame's crop starts one pixel right of its left edge (see cropSourceRect).
constexpr double kTrim = 1;

// The head's share of the height the photo frame is placed again for: the rule's 70 to 80 %.
constexpr double kHeadShare = 0.75;

// The photo frame of size at left and top, moved inside the photograph and pict; nothing
// when its crop cannot lie inside the photograph, as the operator would place it.
std::optional<FrameRect> photoFrameAt(const QRectF& photo, const QSizeF& size, double left, double top) {
    const double w = size.width();
    const double h = size.height();
    left = clampInto(left, std::max(photo.left() - kTrim, 1.0),
                     std::min(photo.right() - w, kPictClientWidth - w));
    top = clampInto(top, std::max(photo.top(), 1.0), std::min(photo.bottom() - h, kPictClientHeight - h));
    FrameRect frame{float(left), float(top), float(w), float(h)};
    const QRectF crop(frame.Left + kTrim, frame.Top, frame.Width - kTrim, frame.Height);
    if (!photo.adjusted(-0.01, -0.01, 0.01, 0.01).contains(crop))
        return std::nullopt;
    return frame;
}

} // namespace

QList<QSizeF> reachableSizes(OutputKind kind) {
    const OutputKindInfo& info = outputKindInfo(kind);
    const double stepWidth = info.designFrame.width() * 10 / 100;
    const double stepHeight = info.designFrame.height() * 10 / 100;
    FrameRect frame{1, 1, float(info.designFrame.width()), float(info.designFrame.height())};
    QList<QSizeF> sizes{QSizeF(frame.Width, frame.Height)};
    for (;;) {
        FrameGeometry::grow(frame, kind, stepWidth, stepHeight);
        const QSizeF size(frame.Width, frame.Height);
        if (size == sizes.last())
            break;
        sizes << size;
    }
    return sizes;
}

std::optional<FrameRect> place(OutputKind kind, const PageFindings& findings) {
    const double factor = pictFactor(findings.pageSize);
    if (factor <= 0)
        return std::nullopt;
    const QList<QSizeF> sizes = reachableSizes(kind);

    if (kind == OutputKind::Firma) {
        if (!findings.signature.found)
            return std::nullopt;
        const QRectF ink = toPict(findings.signature.rect, factor);
        const double margin = 1 + 0.1 * ink.height();
        QSizeF chosen = sizes.last();
        for (const QSizeF& size : sizes) {
            if (size.width() >= ink.width() + 2 * margin && size.height() >= ink.height() + 2 * margin) {
                chosen = size;
                break;
            }
        }
        FrameRect frame{float(ink.center().x() - chosen.width() / 2),
                        float(ink.center().y() - chosen.height() / 2), float(chosen.width()),
                        float(chosen.height())};
        FrameGeometry::applyDragBounds(frame);
        return frame;
    }

    if (!findings.photo.found)
        return std::nullopt;
    const QRectF photo = toPict(findings.photo.rect, factor).adjusted(kSlack, kSlack, -kSlack, -kSlack);
    const QRectF face = toPict(findings.face, factor);
    if (kind == OutputKind::AdrCqc)
        return placeSquare(photo, face);
    for (auto it = sizes.crbegin(); it != sizes.crend(); ++it) {
        const double w = it->width();
        const double h = it->height();
        if (w - kTrim > photo.width() || h > photo.height())
            continue;
        if (w - kTrim < face.width() || h < face.height())
            return std::nullopt; // every smaller frame would cut the face
        if (const std::optional<FrameRect> frame =
                photoFrameAt(photo, *it, face.center().x() - (w + kTrim) / 2, topForHead(photo, face, h)))
            return frame;
    }
    return std::nullopt;
}

QImage cropOf(OutputKind kind, const FrameRect& frame, const PageFindings& findings, const QImage& picture) {
    const QSize page = findings.pageSize;
    const double factor = pictFactor(page);
    const QRectF source = FrameGeometry::cropSourceRect(kind, frame, factor);
    if (picture.isNull() || page.isEmpty() || source.isEmpty())
        return {};
    const bool across = findings.turn == 90 || findings.turn == 270;
    const QSize stored = across ? page.transposed() : page;
    const double w = stored.width();
    const double h = stored.height();
    // The picture's pixels to the stored page's, the quarter turn, the straightening about
    // the turned page's middle, then the frame's source rectangle to the crop.
    QTransform map = QTransform::fromScale(w / picture.width(), h / picture.height());
    if (findings.turn == 90)
        map *= QTransform(0, 1, -1, 0, h, 0);
    else if (findings.turn == 180)
        map *= QTransform(-1, 0, 0, -1, w, h);
    else if (findings.turn == 270)
        map *= QTransform(0, -1, 1, 0, 0, w);
    if (findings.straighten != 0) {
        const QPointF middle(page.width() / 2.0, page.height() / 2.0);
        map *= QTransform::fromTranslate(-middle.x(), -middle.y()) *
               QTransform().rotate(findings.straighten) * QTransform::fromTranslate(middle.x(), middle.y());
    }
    const QSize size = outputKindInfo(kind).outputSize;
    map *= QTransform::fromTranslate(-source.x(), -source.y()) *
           QTransform::fromScale(size.width() / source.width(), size.height() / source.height());
    QImage crop(size, QImage::Format_RGB32);
    crop.fill(Qt::white);
    QPainter painter(&crop);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setTransform(map);
    painter.drawImage(QPointF(0, 0), picture);
    painter.end();
    return crop;
}

std::optional<FrameRect> placeChecked(OutputKind kind, const PageFindings& findings, const QImage& picture,
                                      const MeasureFunction& measure) {
    const std::optional<FrameRect> placed = place(kind, findings);
    if (!placed || kind == OutputKind::Firma || picture.isNull() || !measure)
        return placed;
    const bool square = kind == OutputKind::AdrCqc;
    // The geometry's fails on frame's crop, with what was measured; nothing when no single
    // face was measured in it.
    struct Try {
        FrameRect frame;
        PhotoCheck::Measures measures;
        PhotoCheck::Report report;
        int fails = 0;
    };
    const auto measured = [&](const FrameRect& frame) -> std::optional<Try> {
        Try attempt{frame, {}, {}, 0};
        const QImage crop = cropOf(kind, frame, findings, picture);
        if (crop.isNull() || !measure(crop, &attempt.measures) || attempt.measures.faces != 1)
            return std::nullopt;
        attempt.report = PhotoCheck::evaluate(attempt.measures, square);
        for (const PhotoCheck::Result& result : attempt.report.results) {
            if (result.verdict == PhotoCheck::Verdict::Fail &&
                (result.check == PhotoCheck::Check::FaceSize || result.check == PhotoCheck::Check::EyeLine ||
                 result.check == PhotoCheck::Check::Centre))
                ++attempt.fails;
        }
        return attempt;
    };
    const std::optional<Try> first = measured(*placed);
    if (!first || first->fails == 0)
        return placed;

    // The head and the eyes in pict pixels, from the first crop's measures.
    const PhotoCheck::Measures& m = first->measures;
    const FrameRect& f = *placed;
    const double trim = square ? 0 : kTrim;
    const double sx = (f.Width - trim) / m.size.width();
    const double sy = f.Height / m.size.height();
    const double crown = f.Top + m.crown * sy;
    const double head = (m.chin - m.crown) * sy;
    const double eyesY = f.Top + (m.leftEye.y() + m.rightEye.y()) / 2 * sy;
    const double eyesX = f.Left + trim + (m.leftEye.x() + m.rightEye.x()) / 2 * sx;

    const double factor = pictFactor(findings.pageSize);
    const QRectF photo = toPict(findings.photo.rect, factor).adjusted(kSlack, kSlack, -kSlack, -kSlack);

    std::vector<FrameRect> candidates;
    if (square) {
        // Only the centring applies to the square: the same square, across on the eyes.
        FrameRect moved = f;
        moved.Left = float(clampInto(eyesX - f.Width / 2, std::max(photo.left(), 1.0),
                                     std::min(photo.right() - f.Width, kPictClientWidth - f.Width)));
        FrameGeometry::applyDragBounds(moved);
        candidates.push_back(moved);
    } else {
        // The sizes nearest the one that makes the head the rule's middle share, each placed
        // with the crown and the eye line where the rules want them and across on the eyes.
        // The head's measure is the least sure of the three (its crown and chin are
        // estimates, 20 % short on one tuning page): the size stays unless the head's fails.
        const QRectF face = toPict(findings.face, factor);
        QList<QSizeF> sizes = reachableSizes(kind);
        // A head too large is mended only by a larger frame, one too small by a smaller.
        int sizeFails = 0;
        for (const PhotoCheck::Result& r : first->report.results) {
            if (r.check == PhotoCheck::Check::FaceSize && r.verdict == PhotoCheck::Verdict::Fail)
                sizeFails = r.side;
        }
        sizes.removeIf([&](const QSizeF& size) {
            return sizeFails == 0 ? size.height() != f.Height : (size.height() - f.Height) * sizeFails < 0;
        });
        // A head the crop cuts is taller than measured: the largest frames first then.
        const bool cut = m.crown <= 1 || m.chin >= m.size.height() - 1;
        const double wanted = cut ? sizes.last().height() : head / kHeadShare;
        std::stable_sort(sizes.begin(), sizes.end(), [wanted](const QSizeF& a, const QSizeF& b) {
            return std::abs(a.height() - wanted) < std::abs(b.height() - wanted);
        });
        for (const QSizeF& size : sizes) {
            if (int(candidates.size()) == kMostChecked - 1)
                break;
            const double w = size.width();
            const double h = size.height();
            if (w - kTrim < face.width() || h < face.height())
                continue;
            double top = h >= head ? crown - kRoomAbove * (h - head) : crown + (head - h) / 2;
            // Eyes 0.55 to 0.65 of the height above the bottom edge: inside the rule's 0.51
            // to 0.69 by the spread between the picture's measure and the saved crop's
            // (up to 0.03 on the tuning pages).
            top = clampInto(top, eyesY - 0.45 * h, eyesY - 0.35 * h);
            // Never lower than place() put it: place() leaves room for the crown from the
            // photograph's own top, which the crop's estimate of the crown (from the face
            // box and eyes) does not see; frames moved down for a low eye line cut the crown
            // on 3 of 51 report pages.
            top = std::min(top, double(f.Top));
            // The detector's face box stays whole, as in place()'s frame: a crop's head
            // estimate taken for too small once shrank a frame across the face.
            const std::optional<FrameRect> frame = photoFrameAt(photo, size, eyesX - (w + kTrim) / 2, top);
            if (frame && QRectF(frame->Left + kTrim, frame->Top, frame->Width - kTrim, frame->Height)
                             .contains(face.adjusted(1, 1, -1, -1)))
                candidates.push_back(*frame);
        }
    }

    Try best = *first;
    for (const FrameRect& candidate : candidates) {
        if (candidate == f)
            continue;
        const std::optional<Try> attempt = measured(candidate);
        if (!attempt || attempt->fails >= best.fails)
            continue;
        best = *attempt;
        if (best.fails == 0)
            break;
    }
    return best.frame;
}

int turnToShow(const PageFindings& findings) {
    for (OutputKind kind : {OutputKind::Foto, OutputKind::Firma, OutputKind::AdrCqc}) {
        if (place(kind, findings))
            return findings.turn;
    }
    return 0;
}

} // namespace FramePlacement
