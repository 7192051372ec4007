#include "locate/SignatureFinder.h"

#include "locate/FormLabels.h"
#include "locate/Logging.h"

#include <opencv2/imgproc.hpp>

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <numeric>
#include <utility>
#include <vector>

namespace Locate {

namespace {

struct Component {
    cv::Rect box;
    int label = 0;
    int area = 0;
    double stroke = 0; // mean stroke width, pixels
    bool hand = false;
    bool elsewhere = false; // in another field's place, or a stamp's ring: never the signature's
};

// A handwritten group: its root among the parts and its box.
using Group = std::pair<int, cv::Rect>;

// Whether the print's lines run across the page rather than along it, as on a sideways
// page: by the length of the pieces of lines that words join into either way, which a page
// a few degrees off keeps (a profile of its rows smears from a degree on).
bool linesRunAcross(const cv::Mat& print, const Work& work) {
    const TextTurnParams p;
    double length[2] = {0, 0};
    for (int o = 0; o < 2; ++o) {
        for (const cv::Rect& piece : linePieces(turned(print, o * 90), work, p.wordGapMm, p.pieceMinLength,
                                                p.lineMaxMm * work.pxPerMm, p.letterMinMm))
            length[o] += piece.width;
    }
    qCDebug(lcLocate) << "lines of print" << length[0] / work.pxPerMm << "mm across,"
                      << length[1] / work.pxPerMm << "mm along";
    return length[0] >= length[1];
}

// Groups of components whose boxes, grown by the given margins, touch.
std::vector<int> groupsOf(const std::vector<Component>& parts, const std::vector<int>& members, double growX,
                          double growY) {
    std::vector<int> parent(parts.size());
    std::iota(parent.begin(), parent.end(), 0);
    std::function<int(int)> root = [&](int k) { return parent[k] == k ? k : parent[k] = root(parent[k]); };
    for (size_t a = 0; a < members.size(); ++a) {
        const cv::Rect& ra = parts[members[a]].box;
        const cv::Rect grown(int(ra.x - growX), int(ra.y - growY), int(ra.width + 2 * growX),
                             int(ra.height + 2 * growY));
        for (size_t b = a + 1; b < members.size(); ++b) {
            if ((grown & parts[members[b]].box).area() > 0)
                parent[root(members[a])] = root(members[b]);
        }
    }
    std::vector<int> group(parts.size(), -1);
    for (int m : members)
        group[m] = root(m);
    return group;
}

// Printed text in a large font: several parts of one height standing on one line, be they
// separate letters or whole words of capitals. Handwriting's parts differ in height.
bool looksPrinted(const std::vector<const Component*>& parts, const SignatureParams& p) {
    if (parts.size() < p.printedMinParts)
        return false;
    std::vector<int> heights, bottoms;
    for (const Component* c : parts) {
        heights.push_back(c->box.height);
        bottoms.push_back(c->box.y + c->box.height);
    }
    std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
    std::nth_element(bottoms.begin(), bottoms.begin() + bottoms.size() / 2, bottoms.end());
    const double h = heights[heights.size() / 2];
    const double bottom = bottoms[bottoms.size() / 2];
    size_t aligned = 0;
    for (const Component* c : parts) {
        if (std::abs(c->box.height - h) <= p.printedTolerance * h + 1 &&
            std::abs(c->box.y + c->box.height - bottom) <= p.printedTolerance * h + 1)
            ++aligned;
    }
    return aligned >= p.printedMinParts && aligned * 10 >= parts.size() * p.printedTenths;
}

// Parts standing as close as the letters of a word. A signature's loops, cut apart where
// their joining strokes ran along a ruled line, stand further apart.
bool setClosely(const std::vector<const Component*>& parts, const SignatureParams& p) {
    if (parts.empty())
        return false;
    std::vector<int> heights;
    int left = parts.front()->box.x;
    int right = left;
    for (const Component* c : parts) {
        heights.push_back(c->box.height);
        left = std::min(left, c->box.x);
        right = std::max(right, c->box.x + c->box.width);
    }
    std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
    const double h = std::max(1, heights[heights.size() / 2]);
    return double(parts.size()) >= (right - left) / (p.closeHeights * h);
}

// Mean stroke width of a component, from its outline: ink area over half the outline's length.
double strokeWidth(const cv::Mat& labels, const Component& c) {
    std::vector<std::vector<cv::Point>> contours;
    cv::Mat own = labels(c.box) == c.label;
    cv::findContours(own, contours, cv::RETR_LIST, cv::CHAIN_APPROX_NONE);
    double perimeter = 0;
    for (const auto& contour : contours)
        perimeter += cv::arcLength(contour, true);
    return perimeter > 0 ? 2.0 * c.area / perimeter : 0;
}

// Whether mask's ink runs straight both across and along, as a box's edges or a printed
// code do: at least share of it on runs of run pixels each way. A pen's tall strokes run
// straight along only, its long ones across only.
bool runsStraightBothWays(const cv::Mat& mask, int run, double share) {
    const int total = cv::countNonZero(mask);
    if (total == 0)
        return false;
    // Paper round it, so that no run reaches past the edge.
    cv::Mat padded;
    cv::copyMakeBorder(mask, padded, 1, 1, 1, 1, cv::BORDER_CONSTANT, 0);
    cv::Mat across, along;
    cv::morphologyEx(padded, across, cv::MORPH_OPEN,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(run, 1)));
    cv::morphologyEx(padded, along, cv::MORPH_OPEN,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(1, run)));
    return cv::countNonZero(across) >= share * total && cv::countNonZero(along) >= share * total;
}

// Whether a part may be a piece of one sweep of the pen: long and low, a single run of ink
// down most of its columns (print has two or three where its letters close). Its pixels go
// to points.
bool isPenSweep(const cv::Mat& labels, const Component& c, const SignatureParams& p,
                std::vector<cv::Point>& points) {
    const cv::Rect& b = c.box;
    if (b.width < p.flourishLength * b.height)
        return false;
    int oneRun = 0;
    std::vector<cv::Point> own;
    for (int x = b.x; x < b.x + b.width; ++x) {
        int runs = 0;
        bool inside = false;
        for (int y = b.y; y < b.y + b.height; ++y) {
            const bool on = labels.at<int>(y, x) == c.label;
            if (on)
                own.emplace_back(x, y);
            runs += on && !inside;
            inside = on;
        }
        oneRun += runs == 1;
    }
    if (oneRun < p.sweepOneRun * b.width)
        return false;
    points.insert(points.end(), own.begin(), own.end());
    return true;
}

// Whether points bend off the straight line that a ruling's remnants keep to.
bool bends(const std::vector<cv::Point>& points, const SignatureParams& p) {
    if (points.size() < 2)
        return false;
    cv::Vec4f fit;
    cv::fitLine(points, fit, cv::DIST_HUBER, 0, 0.01, 0.01);
    const auto off = std::count_if(points.begin(), points.end(), [&fit, &p](const cv::Point& point) {
        return std::abs((point.x - fit[2]) * fit[1] - (point.y - fit[3]) * fit[0]) > p.sweepOffPx;
    });
    return off >= p.offMinPixels;
}

// Whether a part is a ring, as a round stamp's or an emblem's: as wide as high, its ink at
// one distance from its middle.
bool isRing(const cv::Mat& labels, const Component& c, const Work& work, const SignatureParams& p) {
    const cv::Rect& b = c.box;
    if (std::min(b.width, b.height) < p.ringMinMm * work.pxPerMm || b.width * 4 > b.height * 5 ||
        b.height * 4 > b.width * 5)
        return false;
    const double cx = b.x + b.width / 2.0;
    const double cy = b.y + b.height / 2.0;
    const double radius = (b.width + b.height) / 4.0;
    int all = 0;
    int near = 0;
    for (int y = b.y; y < b.y + b.height; ++y) {
        const int* label = labels.ptr<int>(y);
        for (int x = b.x; x < b.x + b.width; ++x) {
            if (label[x] != c.label)
                continue;
            ++all;
            near += std::abs(std::hypot(x + 0.5 - cx, y + 0.5 - cy) - radius) <= p.ringBand * radius;
        }
    }
    return all > 0 && near >= p.ringShare * all;
}

// Whether a part is a stamp's frame: its ink along the edges of the (turned) rectangle
// that holds it, within band pixels.
bool isFrame(const cv::Mat& labels, const Component& c, double band, const Work& work,
             const SignatureParams& p) {
    const cv::Rect& b = c.box;
    if (std::min(b.width, b.height) < p.ringMinMm * work.pxPerMm)
        return false;
    std::vector<cv::Point> points;
    for (int y = b.y; y < b.y + b.height; ++y) {
        const int* label = labels.ptr<int>(y);
        for (int x = b.x; x < b.x + b.width; ++x) {
            if (label[x] == c.label)
                points.emplace_back(x, y);
        }
    }
    const cv::RotatedRect held = cv::minAreaRect(points);
    if (std::min(held.size.width, held.size.height) < p.ringMinMm * work.pxPerMm)
        return false;
    cv::Point2f corners[4];
    held.points(corners);
    const std::vector<cv::Point2f> outline(corners, corners + 4);
    const auto near = std::count_if(points.begin(), points.end(), [&](const cv::Point& point) {
        return std::abs(cv::pointPolygonTest(outline, cv::Point2f(point), true)) <= band;
    });
    return double(near) >= p.ringShare * double(points.size());
}

// The places the form's ruling keeps for other things than the applicant's signature: rows
// of boxes filled letter by letter, fields written on a stack of ruled lines, sections
// boxed across most of the page (the office's own) and boxes taller than wide (a
// photograph's or a picture's). Two ruled lines of one extent tell
// them, by what stands between them.
std::vector<cv::Rect> otherPlaces(const cv::Mat& grey, const Work& work, const SignatureParams& p) {
    const double mm = work.pxPerMm;
    // Thin grey rules fade in the working picture: they count from a lighter grey than ink.
    const cv::Mat ink = grey < int(work.paper * p.ruleOfPaper);
    cv::Mat across;
    cv::morphologyEx(ink, across, cv::MORPH_OPEN,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(int(p.ink.ruledRunMm * mm), 1)));
    std::vector<cv::Rect> rules;
    for (const Blob& blob : blobsOf(across)) {
        // Thin on the whole: handwriting that sits on a rule may join it here and there.
        if (blob.area <= 2 * mm * blob.box.width)
            rules.push_back(blob.box);
    }
    std::sort(rules.begin(), rules.end(), [](const cv::Rect& a, const cv::Rect& b) { return a.y < b.y; });
    cv::Mat upright;
    cv::dilate(ink, upright, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(5, 1)));
    const double end = p.lineEndMm * mm;
    std::vector<cv::Rect> places;
    for (size_t i = 0; i < rules.size(); ++i) {
        for (size_t j = i + 1; j < rules.size(); ++j) {
            const cv::Rect& a = rules[i];
            const cv::Rect& b = rules[j];
            const int gap = b.y - a.y;
            if (gap > p.twinMaxMm * mm)
                break;
            if (gap < p.twinMinMm * mm || std::abs(a.x - b.x) > end || std::abs(a.br().x - b.br().x) > end)
                continue;
            const int left = std::max(a.x, b.x);
            const cv::Rect inner(left, a.br().y, std::min(a.br().x, b.br().x) - left, b.y - a.br().y);
            if (inner.width <= 0 || inner.height <= 0)
                continue;
            // Dividers: runs of columns the ink fills from line to line, or nearly, two
            // pixels either way counting (a page a degree off drifts that much over 40 mm).
            cv::Mat columns;
            cv::reduce(upright(inner) / 255, columns, 0, cv::REDUCE_SUM, CV_32S);
            const int full = int(std::ceil(0.8 * inner.height));
            int dividers = 0;
            bool closedLeft = false;
            bool closedRight = false;
            for (int x = 0; x < columns.cols; ++x) {
                const bool filled = columns.at<int>(x) >= full;
                if (filled && (x == 0 || columns.at<int>(x - 1) < full))
                    ++dividers;
                closedLeft = closedLeft || (filled && x <= end);
                closedRight = closedRight || (filled && x >= columns.cols - 1 - end);
            }
            if (dividers >= p.boxRowDividers && gap <= p.boxRowMaxMm * mm) {
                places.push_back(a | b);
            } else if (dividers == 0 && gap <= p.fieldsMaxMm * mm) {
                const int field = int(p.fieldHeightMm * mm);
                places.emplace_back(a.x, a.y - field, a.width, field + a.height);
                places.emplace_back(b.x, b.y - std::min(field, gap), b.width,
                                    std::min(field, gap) + b.height);
            } else if (closedLeft && closedRight &&
                       (inner.width >= p.sectionMinWidth * ink.cols || inner.height >= inner.width)) {
                places.push_back(a | b);
            }
        }
    }
    return places;
}

bool inAny(const std::vector<cv::Rect>& places, const cv::Rect& r) {
    const cv::Point middle(r.x + r.width / 2, r.y + r.height / 2);
    return std::any_of(places.begin(), places.end(),
                       [&middle](const cv::Rect& place) { return place.contains(middle); });
}

Component componentOf(const Blob& blob) {
    Component c;
    c.box = blob.box;
    c.area = blob.area;
    c.label = blob.label;
    return c;
}

// The parts of the ink inside box as they are on paper, ruled lines included: a signature
// written across a line stays one piece, printed letters stay apart.
std::vector<Component> inkParts(const cv::Mat& ink, const cv::Rect& box, const SignatureParams& p) {
    std::vector<Component> parts;
    for (const Blob& blob : blobsOf(ink(box))) {
        if (blob.area >= p.minPartArea)
            parts.push_back(componentOf(blob));
    }
    return parts;
}

// The ink less its ruled lines, with a stroke that crosses a ruled line joined again: where
// ink reaches the removed band from both sides, the band's ink joins the pieces.
cv::Mat strokesOf(const cv::Mat& ink, const cv::Mat& lines, const SignatureParams& p) {
    cv::Mat strokes = ink & ~lines;
    const int reach = p.joinReachPx;
    const cv::Mat cut = ink & lines;
    cv::Mat joins = cv::Mat::zeros(ink.size(), CV_8U);
    auto strokeAt = [&strokes](int x, int y) {
        return x >= 0 && y >= 0 && x < strokes.cols && y < strokes.rows && strokes.at<uchar>(y, x) != 0;
    };
    for (int y = 0; y < cut.rows; ++y) {
        const uchar* row = cut.ptr<uchar>(y);
        for (int x = 0; x < cut.cols; ++x) {
            if (!row[x])
                continue;
            bool up = false, down = false, left = false, right = false;
            for (int k = 1; k <= reach; ++k) {
                up = up || strokeAt(x, y - k);
                down = down || strokeAt(x, y + k);
                left = left || strokeAt(x - k, y);
                right = right || strokeAt(x + k, y);
            }
            if ((up && down) || (left && right))
                joins.at<uchar>(y, x) = 255;
        }
    }
    strokes |= joins;
    return strokes;
}

// The groups of handwritten parts that do not read as printed text.
std::vector<Group> handwrittenGroups(const std::vector<Component>& parts, const std::vector<int>& hands,
                                     const std::vector<int>& group, const cv::Mat& ink,
                                     const SignatureParams& p) {
    std::vector<int> roots;
    for (int k : hands) {
        if (std::find(roots.begin(), roots.end(), group[k]) == roots.end())
            roots.push_back(group[k]);
    }
    std::vector<Group> candidates;
    for (int r : roots) {
        size_t members = 0;
        cv::Rect box;
        for (int k : hands) {
            if (group[k] != r)
                continue;
            ++members;
            box = box.area() > 0 ? (box | parts[k].box) : parts[k].box;
        }
        // Dots and accents do not count.
        std::vector<Component> onPaper = inkParts(ink, box, p);
        int tallestPiece = 0;
        for (const Component& c : onPaper)
            tallestPiece = std::max(tallestPiece, c.box.height);
        std::vector<const Component*> pieces;
        for (const Component& c : onPaper) {
            if (c.box.height * 5 >= tallestPiece * p.pieceMinFifths)
                pieces.push_back(&c);
        }
        if (looksPrinted(pieces, p)) {
            qCDebug(lcLocate) << "group of" << members << "parts reads as printed text";
            continue;
        }
        candidates.emplace_back(r, box);
    }
    return candidates;
}

// A run the line removal took for ruling, near the handwritten groups.
struct Run {
    cv::Rect rect;
    bool curved = false;
};

// Handwriting that the line removal took for ruling: a flourish, or strokes that run along
// the line the signature sits on. Each run the removal took is fitted with a straight line;
// its ink off that line is pen stroke, and joins the parts (in no group).
std::vector<Run> runsNear(const std::vector<Group>& candidates, const cv::Mat& ink, const cv::Mat& lines,
                          std::vector<Component>& parts, std::vector<int>& group, const SignatureParams& p) {
    std::vector<Run> runs;
    // Only the rows of the groups, and about them.
    int top = ink.rows;
    int bottom = 0;
    for (const auto& candidate : candidates) {
        const cv::Rect& g = candidate.second;
        top = std::min(top, g.y - g.height / 2);
        bottom = std::max(bottom, g.y + g.height * 3 / 2);
    }
    const cv::Rect rows = cv::Rect(0, top, ink.cols, bottom - top) & cv::Rect(0, 0, ink.cols, ink.rows);
    cv::Mat runLabels;
    const std::vector<Blob> runBlobs = blobsOf(ink(rows) & lines(rows), &runLabels);
    std::vector<cv::Point> points;
    for (const Blob& blob : runBlobs) {
        const int i = blob.label;
        const cv::Rect& local = blob.box;
        const cv::Rect r = local + rows.tl();
        const bool nearGroup = std::any_of(candidates.begin(), candidates.end(), [&r](const Group& c) {
            const cv::Rect& g = c.second;
            return r.y + r.height >= g.y - g.height / 2 && r.y <= g.y + g.height * 3 / 2;
        });
        if (r.width < r.height || !nearGroup)
            continue;
        points.clear();
        for (int y = local.y; y < local.y + local.height; ++y) {
            const int* label = runLabels.ptr<int>(y);
            for (int x = local.x; x < local.x + local.width; ++x) {
                if (label[x] == i)
                    points.emplace_back(x, y);
            }
        }
        cv::Vec4f fit;
        cv::fitLine(points, fit, cv::DIST_HUBER, 0, 0.01, 0.01);
        cv::Mat off = cv::Mat::zeros(r.size(), CV_8U);
        int offCount = 0;
        for (const cv::Point& point : points) {
            const double distance = std::abs((point.x - fit[2]) * fit[1] - (point.y - fit[3]) * fit[0]);
            if (distance > p.offLinePx) {
                off.at<uchar>(point - local.tl()) = 255;
                ++offCount;
            }
        }
        runs.push_back({r, offCount >= p.offMinPixels});
        if (offCount < p.offMinPixels)
            continue;
        cv::Mat offLabels;
        for (const Blob& offBlob : blobsOf(off, &offLabels)) {
            Component c = componentOf(offBlob);
            if (c.area < p.minPartArea)
                continue;
            c.stroke = strokeWidth(offLabels, c);
            c.box += r.tl();
            parts.push_back(c);
            group.push_back(-1);
        }
    }
    return runs;
}

// A handwritten group grown by what belongs to it, and the length of its stroke.
struct Written {
    cv::Rect box;
    double length = 0;
    cv::Rect core;               // the handwritten parts alone
    std::vector<cv::Rect> added; // what grew it: ink beside, a flourish, an underline
};

// The gap between two rectangles, zero where they touch, its part across weighed by across.
double gapBetween(const cv::Rect& a, const cv::Rect& b, double across = 1) {
    const int dx = std::max({0, a.x - (b.x + b.width), b.x - (a.x + a.width)});
    const int dy = std::max({0, a.y - (b.y + b.height), b.y - (a.y + a.height)});
    return std::hypot(across * dx, dy);
}

// The groups that may be the signature, by the form's labels near them. Groups are taken
// longest stroke first, and for each the few short lines of print nearest to it are read:
// the first in the applicant's place is the signature. Where the applicant's label was read
// and no group stands in its place, that place is empty: nothing. Else the groups not in the
// office's place or another field's, as the layout found them. A label that the growing took
// into a group is left out of it again.
std::vector<Written> inPlaceOfLabel(std::vector<Written> written, const cv::Mat& grey, const cv::Mat& strokes,
                                    const cv::Mat& handwriting, const Work& work, double textHeight,
                                    const SignatureParams& p, const LabelReading& readLabel) {
    if (!readLabel || written.empty())
        return written;
    const TextTurnParams text;
    const double reach = p.labelReachMm * work.pxPerMm;
    const double otherReach = p.otherLabelReachMm * work.pxPerMm;
    // Print only: a label beside the writing would join it. Print within a group's box (a
    // label under the writing, reached by its tails) stays.
    cv::Mat print;
    strokes.copyTo(print, ~handwriting);
    std::vector<cv::Rect> pieces;
    for (const cv::Rect& piece : linePieces(
             print, work, p.labelWordGapMm, p.labelMinLength,
             std::min(text.lineMaxMm * work.pxPerMm, p.printLineLetters * textHeight), text.letterMinMm)) {
        if (piece.width <= p.labelMaxMm * work.pxPerMm)
            pieces.push_back(piece);
    }
    std::sort(written.begin(), written.end(),
              [](const Written& a, const Written& b) { return a.length > b.length; });

    QElapsedTimer timer;
    timer.start();
    std::vector<std::optional<LabelKind>> kinds(pieces.size()); // as read, once
    std::vector<bool> stroke(pieces.size(), false);             // read as no letters at all
    size_t reads = 0;
    auto placeOf = [&](const Written& w) {
        LabelKind place = LabelKind::None;
        double nearest = reach + 1;
        for (size_t k = 0; k < pieces.size(); ++k) {
            if (!kinds[k] || *kinds[k] == LabelKind::None)
                continue;
            const bool applicant = *kinds[k] == LabelKind::Applicant;
            // The applicant's place runs on along the line from its label: writing that
            // starts right of the label counts a third of its distance across.
            const double gap = applicant && w.core.x >= pieces[k].x
                                   ? gapBetween(pieces[k], w.core, p.labelAlongShare)
                                   : gapBetween(pieces[k], w.core);
            if (gap < nearest && (applicant || gap <= otherReach)) {
                nearest = gap;
                place = *kinds[k];
            }
        }
        return place;
    };
    // Reads piece k once; false when there is no reader after all.
    auto readPiece = [&](size_t k) {
        if (kinds[k])
            return true;
        const cv::Rect& piece = pieces[k];
        const cv::Rect around = cv::Rect(piece.x - 2, piece.y - 2, piece.width + 4, piece.height + 4) &
                                cv::Rect(0, 0, grey.cols, grey.rows);
        QElapsedTimer lineTimer;
        lineTimer.start();
        const std::optional<QString> read = readLabel(grey(around));
        if (!read)
            return false;
        ++reads;
        const LabelMatch match = labelIn(*read);
        kinds[k] = match.kind;
        stroke[k] =
            std::count_if(read->begin(), read->end(), [](QChar c) { return c.isLetterOrNumber(); }) <= 1;
        qCDebug(lcLocate) << "print at" << piece.x << piece.y << piece.width << piece.height << "reads"
                          << *read << "label" << match.label << "in" << lineTimer.elapsed() << "ms";
        return true;
    };
    auto applicantRead = [&kinds] {
        return std::any_of(kinds.begin(), kinds.end(),
                           [](const auto& kind) { return kind == LabelKind::Applicant; });
    };
    for (const Written& w : written) {
        std::vector<std::pair<double, size_t>> near;
        for (size_t k = 0; k < pieces.size(); ++k) {
            const double gap = gapBetween(pieces[k], w.core);
            if (gap <= reach)
                near.emplace_back(gap, k);
        }
        std::sort(near.begin(), near.end());
        size_t readHere = 0;
        for (const auto& [gap, k] : near) {
            if (readHere == p.labelReadsEach || reads == p.labelReads)
                break;
            ++readHere;
            if (!readPiece(k))
                return written; // the layout alone
        }
        if (placeOf(w) == LabelKind::Applicant)
            break;
    }
    // The layout's pick has no label near it: the applicant's own may stand over an empty
    // place elsewhere. Short lines of print are read from the foot of the page up, where a
    // form keeps its signature, a few more at most.
    const auto pick = std::find_if(written.begin(), written.end(), [&](const Written& w) {
        const LabelKind place = placeOf(w);
        return place != LabelKind::Office && place != LabelKind::Field;
    });
    if (!applicantRead() && pick != written.end() && placeOf(*pick) == LabelKind::None) {
        std::vector<size_t> order;
        for (size_t k = 0; k < pieces.size(); ++k) {
            if (!kinds[k] && pieces[k].width <= p.labelSearchMaxMm * work.pxPerMm)
                order.push_back(k);
        }
        std::sort(order.begin(), order.end(),
                  [&pieces](size_t a, size_t b) { return pieces[a].y > pieces[b].y; });
        for (size_t n = 0; n < order.size() && n < p.labelSearchReads && !applicantRead(); ++n) {
            if (!readPiece(order[n]))
                return written;
        }
    }
    qCDebug(lcLocate) << reads << "lines of print read in" << timer.elapsed() << "ms";

    // Labels read are print: no part of the frame.
    for (Written& w : written) {
        cv::Rect box = w.core;
        for (const cv::Rect& r : w.added) {
            const bool label = std::any_of(pieces.begin(), pieces.end(), [&](const cv::Rect& piece) {
                const size_t k = size_t(&piece - &pieces[0]);
                return kinds[k] && *kinds[k] != LabelKind::None && (piece & r).area() * 2 > r.area();
            });
            if (!label)
                box |= r;
        }
        // A long, low stroke taken for a line of print (a flourish, the signature's lowest
        // loops), which reads as dashes: the writing's own, within half its height.
        const int reachStroke = w.core.height / 2;
        for (size_t k = 0; k < pieces.size(); ++k) {
            const cv::Rect& piece = pieces[k];
            if (stroke[k] && gapBetween(piece, w.core) <= reachStroke && piece.x >= w.core.x - reachStroke &&
                piece.x + piece.width <= w.core.x + w.core.width + reachStroke)
                box |= piece;
        }
        w.box = box;
    }
    std::vector<Written> kept;
    const bool applicant = applicantRead();
    for (const Written& w : written) {
        const LabelKind place = placeOf(w);
        if (applicant ? place == LabelKind::Applicant
                      : place != LabelKind::Office && place != LabelKind::Field)
            kept.push_back(w);
        else
            qCDebug(lcLocate) << "handwriting at" << w.core.x << w.core.y << "in the place of a label of kind"
                              << int(place) << ": not the signature";
    }
    if (applicant && kept.empty())
        qCDebug(lcLocate) << "the applicant's label read, with no handwriting in its place";
    return kept;
}

} // namespace

SignatureAnswer signatureIn(const cv::Mat& grey, const Work& work, const cv::Rect& photo,
                            const SignatureParams& p, const DebugView& debug, const LabelReading& readLabel) {
    SignatureAnswer answer;
    cv::Mat ink = inkOf(grey, work, p.ink);
    if (photo.area() > 0) {
        const int m = int(p.photoMarginMm * work.pxPerMm);
        ink(cv::Rect(photo.x - m, photo.y - m, photo.width + 2 * m, photo.height + 2 * m) &
            cv::Rect(0, 0, ink.cols, ink.rows))
            .setTo(0);
    }
    const cv::Mat lines = ruledLines(ink, work, p.ink);
    const cv::Mat strokes = strokesOf(ink, lines, p);
    if (!linesRunAcross(strokes, work)) {
        qCDebug(lcLocate) << "text runs along the page: no signature looked for";
        return answer;
    }
    debug.picture("signature-strokes", strokes);

    cv::Mat labels;
    std::vector<Component> parts;
    std::vector<int> heights;
    for (const Blob& blob : blobsOf(strokes, &labels)) {
        const Component c = componentOf(blob);
        if (c.area < p.minPartArea)
            continue;
        if (c.box.height >= p.letterMinPx && c.box.height <= p.letterMaxMm * work.pxPerMm)
            heights.push_back(c.box.height);
        parts.push_back(c);
    }
    // The usual height of a printed character on this page.
    double textHeight = p.letterDefaultMm * work.pxPerMm;
    if (heights.size() >= p.letterSamples) {
        std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
        textHeight = heights[heights.size() / 2];
    }

    const std::vector<cv::Rect> places = otherPlaces(grey, work, p);
    std::vector<cv::Rect> pictures;
    std::copy_if(places.begin(), places.end(), std::back_inserter(pictures), [&](const cv::Rect& place) {
        return place.height > place.width && place.height >= p.pictureMinMm * work.pxPerMm;
    });
    if (debug.on())
        debug.boxes("signature-other-places", grey, places);
    const int straightRun = std::max(3, int(std::lround(p.straightRunMm * work.pxPerMm)));

    std::vector<int> hands;
    std::vector<cv::Rect> rings;
    for (size_t k = 0; k < parts.size(); ++k) {
        Component& c = parts[k];
        if (inAny(places, c.box)) {
            c.elsewhere = true;
            continue;
        }
        const double fill = double(c.area) / c.box.area();
        if (c.box.height < p.handMinLetters * textHeight || c.box.height > p.handMaxHeightMm * work.pxPerMm ||
            c.box.width > p.handMaxWidthMm * work.pxPerMm)
            continue;
        if (fill > p.handMaxFill)
            continue;
        c.stroke = strokeWidth(labels, c);
        if (c.stroke > std::max(p.strokeMaxPx, p.strokeMaxOfHeight * c.box.height))
            continue;
        if (isRing(labels, c, work, p) || isFrame(labels, c, std::max(2.0, 2 * c.stroke), work, p)) {
            qCDebug(lcLocate) << "ring or frame at" << c.box.x << c.box.y << c.box.width << c.box.height
                              << ": a stamp";
            rings.push_back(c.box);
            continue;
        }
        // A broad pen's curves hold short straight runs within their width: the run is that
        // much longer for them (a 600 dpi signature's loops, 4 pixels wide at the working
        // size, held 5 mm runs both ways on 24 % and 21 % of their ink, and 6.8 mm on 19 %
        // and 5 %). A fine pen's, or a box's edges, keep the run as it is.
        const cv::Mat own = labels(c.box) == c.label;
        const int broad = c.stroke > p.strokeMaxPx ? int(std::lround(2 * c.stroke)) : 0;
        if (runsStraightBothWays(own, straightRun + broad, p.straightShare))
            continue;
        c.hand = true;
        hands.push_back(int(k));
    }
    // A stamp's letters and its inner ring stand within its outer ring or frame.
    for (Component& c : parts) {
        if (inAny(rings, c.box)) {
            c.elsewhere = true;
            c.hand = false;
        }
    }
    hands.erase(std::remove_if(hands.begin(), hands.end(), [&parts](int k) { return !parts[k].hand; }),
                hands.end());
    cv::Mat handwriting = cv::Mat::zeros(strokes.size(), CV_8U);
    for (int k : hands) {
        const Component& c = parts[size_t(k)];
        handwriting(c.box).setTo(255, labels(c.box) == c.label);
    }
    if (hands.empty())
        return answer;

    double tallest = 0;
    for (int k : hands)
        tallest = std::max<double>(tallest, parts[k].box.height);
    std::vector<int> group = groupsOf(parts, hands, p.groupAcross * tallest, p.groupUpDown * tallest);
    std::vector<Group> candidates = handwrittenGroups(parts, hands, group, ink, p);

    // Lines of print: letters that a short closing across joins into a long, low piece. A
    // signature's loops, cut apart along a ruled line, stand too far apart to join.
    const TextTurnParams text;
    const std::vector<cv::Rect> printLines = linePieces(
        strokes, work, text.wordGapMm, text.pieceMinLength,
        std::min(text.lineMaxMm * work.pxPerMm, p.printLineLetters * textHeight), text.letterMinMm);
    auto inPrint = [&printLines, &p](const cv::Rect& r) {
        return std::any_of(printLines.begin(), printLines.end(), [&r, &p](const cv::Rect& line) {
            return (line & r).area() * 5 >= r.area() * p.inPrintFifths;
        });
    };

    // A group in a line of print is a word of it.
    candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                    [&](const Group& c) {
                                        if (!inPrint(c.second))
                                            return false;
                                        qCDebug(lcLocate) << "handwritten group in a line of print: left out";
                                        return true;
                                    }),
                     candidates.end());
    if (candidates.empty())
        return answer;
    if (debug.on()) {
        std::vector<cv::Rect> boxes;
        for (const Group& c : candidates)
            boxes.push_back(c.second);
        debug.boxes("signature-groups", grey, boxes);
    }

    const size_t labelledParts = parts.size(); // those after come off the ruling's runs
    const std::vector<Run> runs = runsNear(candidates, ink, lines, parts, group, p);

    // Dots, short strokes and loops cut off by a ruled line next to a group belong to it,
    // and so do the words beside it whose letters are all short: ink within the group's
    // height that reaches, piece by piece, to within most of that height of it. Print stays
    // out: a piece must lie wholly within the group's rows, grown by a third of its height
    // (a label above it is cut by that edge), must not lie in a line of print, and pieces
    // that together read as a line of print are left out. The group with the longest
    // handwritten stroke is the signature.
    std::vector<bool> partInPrint(parts.size());
    for (size_t k = 0; k < parts.size(); ++k)
        partInPrint[k] = inPrint(parts[k].box);
    double strokeLength = 0;
    cv::Rect box;
    std::vector<Written> written;
    std::vector<cv::Rect> stamps; // groups over a picture's box
    for (const auto& [root, groupBox] : candidates) {
        const int gx = int(p.besideAcross * groupBox.height);
        const int gy = int(p.besideUpDown * groupBox.height);
        const int bandTop = groupBox.y - gy;
        const int bandBottom = groupBox.y + groupBox.height + gy;
        cv::Rect grown = groupBox;
        std::vector<cv::Rect> joined; // what grew it, piece by piece
        std::vector<bool> taken(parts.size(), false);
        for (size_t k = 0; k < parts.size(); ++k)
            taken[k] = parts[k].hand && group[k] == root;
        std::vector<size_t> inBand;
        for (size_t k = 0; k < parts.size(); ++k) {
            const cv::Rect& r = parts[k].box;
            if (!taken[k] && !partInPrint[k] && !parts[k].elsewhere && r.y >= bandTop &&
                r.y + r.height <= bandBottom && r.height <= groupBox.height)
                inBand.push_back(k);
        }
        std::vector<const Component*> added;
        for (bool grew = true; grew;) {
            grew = false;
            for (size_t k : inBand) {
                const Component& c = parts[k];
                if (taken[k] || c.box.x > grown.x + grown.width + gx || c.box.x + c.box.width < grown.x - gx)
                    continue;
                taken[k] = true;
                added.push_back(&c);
                grown |= c.box;
                joined.push_back(c.box);
                grew = true;
            }
        }
        if (looksPrinted(added, p) && setClosely(added, p)) {
            qCDebug(lcLocate) << "ink beside a handwritten group reads as print: left out";
            grown = groupBox;
            joined.clear();
            for (const Component* c : added)
                taken[size_t(c - &parts[0])] = false;
        }
        double length = 0;
        for (size_t k = 0; k < parts.size(); ++k) {
            if (!taken[k])
                continue;
            if (parts[k].stroke <= 0)
                parts[k].stroke = std::max(0.5, strokeWidth(labels, parts[k]));
            length += parts[k].area / std::max(1.0, parts[k].stroke);
        }
        // A flourish under it, long and low, within its width and half its height below
        // it, belongs to it, across the label it may run over.
        for (const auto& [otherRoot, other] : candidates) {
            if (otherRoot == root || other.width < p.flourishLength * other.height ||
                other.x < grown.x - gx || other.x + other.width > grown.x + grown.width + gx ||
                other.y + other.height <= grown.y + grown.height ||
                other.y > grown.y + grown.height + groupBox.height / 2)
                continue;
            grown |= other;
            joined.push_back(other);
        }
        // Sweeps of the pen under it, apart from it: a flourish or an underline drawn below
        // the ruled line. Printed names there are letters, not one sweep.
        {
            const int reachBelow = std::max(groupBox.height / 2, int(p.sweepReachMm * work.pxPerMm));
            cv::Rect sweeps;
            std::vector<size_t> found;
            std::vector<cv::Point> points;
            for (size_t k = 0; k < labelledParts; ++k) {
                const cv::Rect& r = parts[k].box;
                if (taken[k] || parts[k].elsewhere || r.width < p.sweepMinMm * work.pxPerMm ||
                    r.x < grown.x - gx || r.x + r.width > grown.x + grown.width + gx ||
                    r.y + r.height <= grown.y + grown.height || r.y > grown.y + grown.height + reachBelow ||
                    !isPenSweep(labels, parts[k], p, points))
                    continue;
                sweeps = sweeps.area() > 0 ? (sweeps | r) : r;
                found.push_back(k);
            }
            if (!found.empty() && sweeps.width >= p.sweepMinWidth * groupBox.width && bends(points, p)) {
                for (size_t k : found) {
                    taken[k] = true;
                    grown |= parts[k].box;
                    joined.push_back(parts[k].box);
                }
            }
        }
        // An underline, which the line removal took for a ruled line, belongs to it too: a
        // curved one near it, or a straight one that ends with the writing on one side at
        // least (the form's own lines and boxes reach past it on both).
        const double past = p.underlinePastMm * work.pxPerMm;
        for (const Run& run : runs) {
            const cv::Rect& r = run.rect;
            if (r.y < bandTop || r.y + r.height > bandBottom || r.width > p.underlineMaxWidth * grown.width ||
                r.x < grown.x - gx || r.x + r.width > grown.x + grown.width + gx)
                continue;
            if (run.curved || r.x >= grown.x - past || r.x + r.width <= grown.x + grown.width + past) {
                grown |= r;
                joined.push_back(r);
            }
        }
        qCDebug(lcLocate) << "handwritten group at" << groupBox.x << groupBox.y << groupBox.width
                          << groupBox.height << "grown to" << grown.x << grown.y << grown.width
                          << grown.height << "stroke" << length / work.pxPerMm << "mm";
        if (grown.height < p.minHeightMm * work.pxPerMm)
            continue;
        if (grown.width < p.minWidthOfHeight * grown.height) {
            qCDebug(lcLocate) << "handwritten group too narrow for a signature: left out";
            continue;
        }
        const bool onPicture = std::any_of(pictures.begin(), pictures.end(), [&](const cv::Rect& picture) {
            return (picture & grown).area() >= p.onPictureShare * grown.area();
        });
        if (onPicture) {
            qCDebug(lcLocate) << "handwritten group over a picture's box: its stamp, left out";
            stamps.push_back(grown);
            continue;
        }
        written.push_back({grown, length, groupBox, std::move(joined)});
    }
    // The rest of such a stamp, its ring's arcs outside the box, touches it.
    written.erase(std::remove_if(written.begin(), written.end(),
                                 [&stamps](const Written& w) {
                                     return std::any_of(
                                         stamps.begin(), stamps.end(),
                                         [&w](const cv::Rect& stamp) { return (stamp & w.box).area() > 0; });
                                 }),
                  written.end());
    for (const Written& w :
         inPlaceOfLabel(written, grey, strokes, handwriting, work, textHeight, p, readLabel)) {
        if (w.length > strokeLength) {
            strokeLength = w.length;
            box = w.box;
        }
    }
    const double lengthMm = strokeLength / work.pxPerMm;
    answer.confidence = std::clamp(lengthMm / p.sureStrokeMm, 0.0, 1.0);
    qCDebug(lcLocate) << "signature stroke" << lengthMm << "mm at" << box.x << box.y << box.width
                      << box.height << ", text height" << textHeight << "px";
    answer.box = box;
    return answer;
}

} // namespace Locate
