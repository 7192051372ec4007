#include "locate/PhotoFinder.h"

#include "locate/Logging.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <optional>

namespace Locate {

namespace {

// The longest run of profile's entries over share, as first..last (-1 when none): a box
// printed around the photograph, with paper between, is not part of it.
void longestRun(const cv::Mat& profile, int n, int share, int& first, int& last) {
    first = -1;
    last = -1;
    int start = -1;
    for (int k = 0; k <= n; ++k) {
        const bool toned = k < n && profile.at<float>(k) > share;
        if (toned && start < 0)
            start = k;
        if (!toned && start >= 0) {
            if (k - 1 - start > last - first) {
                first = start;
                last = k - 1;
            }
            start = -1;
        }
    }
}

// sideMove's answer when no paper comes within reach.
constexpr int kNoPaper = -1;

// How far a side moves out. outward holds the profile's grey levels going out from the
// side, the first one the side's own (inside the photograph): the side moves to the last
// level before a run of paper, less what shades the edge, the inset and a pixel more for
// an edge measured on a profile. Nothing when the paper starts at once or when the move is
// under least (a side found whole whose edge is shaded by a few pixels); kNoPaper when no
// paper comes within reach.
int sideMove(const std::vector<float>& outward, int paper, int run, int border, int least,
             const PhotoParams& p) {
    const int n = int(outward.size());
    int paperAt = -1;
    for (int k = 0, plain = 0; k < n; ++k) {
        // A printed line (a box round the photograph, a rule) ends the photograph as the
        // paper does: it is thin and much darker than what lies on both its sides.
        const float level = outward[size_t(k)];
        const auto lighter = [&](int j) { return outward[size_t(j)] >= level + float(p.lineDarker); };
        bool line = k > 0 && lighter(k - 1);
        if (line) {
            line = false;
            for (int j = k + 1; j < std::min(n, k + border + 2) && !line; ++j)
                line = lighter(j);
        }
        if (line) {
            // The paper between a photograph and its box can be shaded off the page's grey:
            // the step nearest the line is the photograph's edge (its own background is no
            // paper), else the photograph reaches the line. Next to the line only a strong
            // step counts, the line's blur darkens the pixel before it; further in a faint
            // one does, as a light background meets the shaded paper by a few levels. The
            // person's hair, further in still, steps strongly: taken for the edge, it left
            // the photograph 5-15 mm short, and a frame round the face cut it.
            for (int j = k - 3; j >= 0; --j) {
                const float step = j == k - 3 ? float(p.strongStep) : float(p.gapStep);
                if (std::abs(outward[size_t(j + 2)] - outward[size_t(j)]) >= step) {
                    // A dark band inside a faint step, up to two borders wide and darker than
                    // both the photograph further in and the paper beyond, is the photograph's
                    // blurred rim: its edge is the band's darkest, not the band's outer side
                    // (a halftone photograph on 242: 1.1 mm past its top).
                    int edge = j;
                    if (j < k - 3) {
                        const int from = std::max(0, j - 2 * border);
                        const auto darkest =
                            std::min_element(outward.begin() + from, outward.begin() + j + 1);
                        const float further = outward[size_t(std::max(0, from - border))];
                        if (*darkest < std::min(further, outward[size_t(j + 2)]) - float(p.borderDarker))
                            edge = int(darkest - outward.begin());
                    }
                    const int move = edge - p.insetPx - 1;
                    return move >= least ? move : 0;
                }
            }
            const int move = k - 1 - p.insetPx - 1;
            return k > p.insetPx + p.edgeBlurPx && move >= least ? move : 0;
        }
        plain = std::abs(level - float(paper)) <= p.paperTolerance ? plain + 1 : 0;
        if (plain == run) {
            paperAt = k - run + 1;
            break;
        }
    }
    // The paper at once (past the blur of the edge): the candidate's side was the
    // photograph's already.
    if (paperAt < 0)
        return kNoPaper;
    if (paperAt <= p.insetPx + p.edgeBlurPx)
        return 0;
    // The edge is the steepest step before the paper: the scan and the reduction blur it over
    // a few pixels, the last of which are already more paper than photograph.
    int edge = paperAt - 1;
    for (int k = std::max(0, paperAt - 3); k < paperAt; ++k) {
        if (std::abs(outward[size_t(k + 1)] - outward[size_t(k)]) >
            std::abs(outward[size_t(edge + 1)] - outward[size_t(edge)]))
            edge = k;
    }
    const float inside = outward[size_t(std::max(0, edge - border - 1))];
    const float darker = std::min(inside, float(paper)) - float(p.borderDarker);
    while (edge > 0 && paperAt - edge <= border && outward[size_t(edge)] < darker)
        --edge;
    const int move = edge - p.insetPx - 1;
    return move >= least ? move : 0;
}

} // namespace

cv::Rect wholePhotograph(const Work& work, const cv::Rect& photo, const cv::Rect& face, int turn,
                         const PhotoParams& p, const DebugView& debug) {
    if (photo.empty() || face.empty())
        return photo;
    cv::Mat lightly;
    cv::blur(work.grey, lightly, cv::Size(3, 3));
    const cv::Mat grey = turned(lightly, turn);
    const cv::Rect page(0, 0, grey.cols, grey.rows);
    const cv::Rect in = turnRect(photo, work.grey.size(), turn);
    const cv::Rect rows = cv::Rect(0, face.y, grey.cols, face.height) & page;
    const cv::Rect cols = cv::Rect(face.x, 0, face.width, grey.rows) & page;
    if (rows.empty() || cols.empty())
        return photo;
    const int run = std::max(2, int(std::lround(p.paperRunMm * work.pxPerMm)));
    const int border = std::max(1, int(std::lround(p.borderMm * work.pxPerMm)));
    const int least = std::max(2, int(std::lround(p.leastMoveMm * work.pxPerMm)));
    // One level per column over the face's rows (and per row over its columns), and the same
    // over each half of them: a stamp over one corner of the photograph darkens one half only.
    cv::Mat across[3], down[3];
    const cv::Rect rowHalves[2] = {
        cv::Rect(rows.x, rows.y, rows.width, rows.height / 2),
        cv::Rect(rows.x, rows.y + rows.height / 2, rows.width, rows.height - rows.height / 2)};
    const cv::Rect colHalves[2] = {
        cv::Rect(cols.x, cols.y, cols.width / 2, cols.height),
        cv::Rect(cols.x + cols.width / 2, cols.y, cols.width - cols.width / 2, cols.height)};
    cv::reduce(grey(rows), across[0], 0, cv::REDUCE_AVG, CV_32F);
    cv::reduce(grey(cols), down[0], 1, cv::REDUCE_AVG, CV_32F);
    for (int h = 0; h < 2 && rows.height >= 2 && cols.width >= 2; ++h) {
        cv::reduce(grey(rowHalves[h]), across[h + 1], 0, cv::REDUCE_AVG, CV_32F);
        cv::reduce(grey(colHalves[h]), down[h + 1], 1, cv::REDUCE_AVG, CV_32F);
    }
    // The profile from index from, stepping by step, to limit (inclusive).
    const auto outward = [](const cv::Mat& profile, int from, int step, int limit) {
        std::vector<float> levels;
        for (int k = from; step < 0 ? k >= limit : k <= limit; k += step)
            levels.push_back(profile.at<float>(k));
        return levels;
    };
    const int left = std::max(0, int(face.x - p.sideReachFaces * face.width));
    const int right = std::min(grey.cols - 1, int(face.br().x + p.sideReachFaces * face.width));
    const int top = std::max(0, int(face.y - p.aboveReachFaces * face.height));
    const int bottom = std::min(grey.rows - 1, int(face.br().y + p.belowReachFaces * face.height));
    // A side's move over all the face's rows or columns, unless over a half of them the paper
    // starts at once: where a stamp lies over the corner of a photograph found whole and over
    // the paper beyond it, the whole profile walks on across the stamp, while the half clear
    // of it meets the paper at the side. A half that meets the paper only further out is no
    // such evidence: on a background within a few levels of the paper the half without the
    // shoulders stops at the hair, and the photograph came out short (sweep of background
    // 245: square photo framed on 1 of 6 when such halves decided, on 3 of 6 now).
    // Such a side is the photograph's edge: no least room round the face moves it (below).
    bool byHalf[4] = {false, false, false, false};
    const auto moveOf = [&](const cv::Mat(&profiles)[3], int from, int step, int limit, bool& decided) {
        int move =
            std::max(0, sideMove(outward(profiles[0], from, step, limit), work.paper, run, border, least, p));
        for (int h = 1; h < 3 && move > 0 && !profiles[h].empty(); ++h) {
            const int half =
                sideMove(outward(profiles[h], from, step, limit), work.paper, run, border, least, p);
            if (half == 0) {
                move = half;
                decided = true;
            }
        }
        return move;
    };
    int x0 = in.x - moveOf(across, in.x, -1, left, byHalf[0]);
    int x1 = in.br().x - 1 + moveOf(across, in.br().x - 1, 1, right, byHalf[1]);
    const double centre = face.x + face.width / 2.0;
    if (centre - x0 > p.lopsided * (x1 - centre))
        x0 = in.x;
    else if (x1 - centre > p.lopsided * (centre - x0))
        x1 = in.br().x - 1;
    int y0 = in.y - moveOf(down, in.y, -1, top, byHalf[2]);
    int y1 = in.br().y - 1 + moveOf(down, in.br().y - 1, 1, bottom, byHalf[3]);
    // However faint its edges, the photograph holds the face with some room round it.
    const int beside = int(std::lround(p.leastBesideFaces * face.width));
    if (!byHalf[0])
        x0 = std::max(left, std::min(x0, face.x - beside));
    if (!byHalf[1])
        x1 = std::min(right, std::max(x1, face.br().x - 1 + beside));
    if (!byHalf[2])
        y0 = std::max(top, std::min(y0, face.y - int(std::lround(p.leastAboveFaces * face.height))));
    if (!byHalf[3])
        y1 = std::min(bottom,
                      std::max(y1, face.br().y - 1 + int(std::lround(p.leastBelowFaces * face.height))));
    const cv::Rect grown = cv::Rect(x0, y0, x1 - x0 + 1, y1 - y0 + 1) | in;
    qCDebug(lcLocate) << "photograph's sides moved out by" << in.x - grown.x << grown.br().x - in.br().x
                      << in.y - grown.y << grown.br().y - in.br().y << "round the face" << face.x << face.y
                      << face.width << face.height;
    if (debug.on())
        debug.boxes("photo-whole", grey, {in, grown}, 1);
    return turnRect(grown, grey.size(), (360 - turn) % 360);
}

std::vector<PhotoCandidate> photoCandidates(const Work& work, const PhotoParams& p, const DebugView& debug) {
    cv::Mat blurred;
    cv::GaussianBlur(work.grey, blurred, cv::Size(5, 5), 0);
    const int tonedBelow = std::max(0, work.paper - p.tonedBelowPaper);
    // Edges are found on a lightly smoothed copy: the paper between a photograph and a box
    // printed around it must stay paper.
    cv::Mat lightly;
    cv::blur(work.grey, lightly, cv::Size(3, 3));

    const int block = std::max(p.blockMinPx, int(std::lround(p.blockMm * work.pxPerMm)));
    // Blocks almost all of whose pixels are toned, gaps of a block closed.
    auto denseOf = [&](const cv::Mat& toned) {
        cv::Mat blocks;
        cv::resize(toned, blocks, cv::Size(work.grey.cols / block, work.grey.rows / block), 0, 0,
                   cv::INTER_AREA);
        cv::Mat dense = blocks > p.denseBlock;
        cv::morphologyEx(dense, dense, cv::MORPH_CLOSE,
                         cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
        return dense;
    };
    const cv::Mat toned = blurred < tonedBelow;
    const cv::Mat dense = denseOf(toned);
    debug.picture("photo-toned", toned);
    debug.picture("photo-blocks", dense);

    std::vector<PhotoCandidate> found;
    const double minSide = p.minSideMm * work.pxPerMm / block;
    const double maxSide = p.maxSideMm * work.pxPerMm / block;
    // The photograph's blocks, whole: a piece of a candidate already taken is not another one.
    auto taken = [&](const cv::Rect& blocksRect) {
        const cv::Point centre((blocksRect.x + blocksRect.width / 2) * block,
                               (blocksRect.y + blocksRect.height / 2) * block);
        return std::any_of(found.begin(), found.end(),
                           [&](const PhotoCandidate& c) { return c.rect.contains(centre); });
    };
    // The candidate a mask's piece makes, edged on sharp; nothing when it is no rectangle
    // of a photograph's size.
    auto candidateOf = [&](const Blob& blob, const cv::Mat& sharp) -> std::optional<cv::Rect> {
        const int w = blob.box.width;
        const int h = blob.box.height;
        if (w < minSide || h < minSide || w > maxSide || h > maxSide)
            return std::nullopt;
        if (blob.area < p.minFill * w * h || w > p.maxAspect * h || h > p.maxAspect * w)
            return std::nullopt;
        // Back to working pixels, a block more on each side, then each edge where the toned
        // share crosses one half.
        cv::Rect r(blob.box.x * block - block, blob.box.y * block - block, (w + 2) * block, (h + 2) * block);
        r &= cv::Rect(0, 0, work.grey.cols, work.grey.rows);
        const cv::Mat roi = sharp(r);
        cv::Mat cols, rows;
        cv::reduce(roi, cols, 0, cv::REDUCE_AVG, CV_32F);
        cv::reduce(roi, rows, 1, cv::REDUCE_AVG, CV_32F);
        int x0, x1, y0, y1;
        longestRun(cols, cols.cols, p.edgeShare, x0, x1);
        longestRun(rows.t(), rows.rows, p.edgeShare, y0, y1);
        if (x0 < 0 || y0 < 0)
            return std::nullopt;
        const cv::Rect photo(r.x + x0 + p.insetPx, r.y + y0 + p.insetPx, x1 - x0 + 1 - 2 * p.insetPx,
                             y1 - y0 + 1 - 2 * p.insetPx);
        if (photo.width < minSide * block || photo.height < minSide * block)
            return std::nullopt;
        return photo;
    };
    // A photograph that touches dense print (a bold heading, a filled field) joins it into
    // one ragged piece that is no rectangle: opened, the print and the bridges to it go.
    const int opening = std::max(3, int(std::lround(p.openingMm * work.pxPerMm / block)));
    auto openedOf = [&](const cv::Mat& mask) {
        cv::Mat opened;
        cv::morphologyEx(mask, opened, cv::MORPH_OPEN,
                         cv::getStructuringElement(cv::MORPH_RECT, cv::Size(opening, opening)));
        return opened;
    };

    const cv::Mat sharp = lightly < tonedBelow;
    for (const cv::Mat& mask : {dense, openedOf(dense)}) {
        for (const Blob& blob : blobsOf(mask)) {
            if (taken(blob.box))
                continue;
            if (const std::optional<cv::Rect> photo = candidateOf(blob, sharp))
                found.push_back({*photo});
        }
    }

    // A photograph on a light background (a passport or booth photograph) is toned only
    // where the person is: its whole rectangle differs from the paper by a few grey levels,
    // lighter or darker. Such a rectangle takes the place of the toned parts inside it, when
    // it is clearly more than they are.
    cv::Mat faintFromPaper, faintEdges;
    cv::absdiff(blurred, cv::Scalar(work.paper), faintFromPaper);
    cv::absdiff(lightly, cv::Scalar(work.paper), faintEdges);
    const cv::Mat faint = faintFromPaper > p.faintFromPaper;
    const cv::Mat faintSharp = faintEdges > p.faintFromPaper;
    const cv::Mat faintDense = denseOf(faint);
    debug.picture("photo-faint", faintDense);
    size_t tonedCount = found.size(); // the candidates before it are the toned ones
    for (const cv::Mat& mask : {faintDense, openedOf(faintDense)}) {
        for (const Blob& blob : blobsOf(mask)) {
            const std::optional<cv::Rect> photo = candidateOf(blob, faintSharp);
            if (!photo)
                continue;
            const double area = double(photo->area());
            const auto within = [&](const PhotoCandidate& c) {
                return photo->contains((c.rect.tl() + c.rect.br()) / 2);
            };
            const bool clearlyMore = std::all_of(found.begin(), found.end(), [&](const PhotoCandidate& c) {
                return !within(c) || area >= p.faintLarger * c.rect.area();
            });
            const bool covered = std::any_of(found.begin(), found.end(), [&](const PhotoCandidate& c) {
                return c.rect.contains((photo->tl() + photo->br()) / 2) && !within(c);
            });
            if (!clearlyMore || covered)
                continue;
            const auto firstFaint = found.begin() + std::ptrdiff_t(tonedCount);
            const auto kept = std::remove_if(found.begin(), firstFaint, within);
            tonedCount -= size_t(firstFaint - kept);
            found.erase(kept, firstFaint);
            found.push_back({*photo});
        }
    }
    if (debug.on()) {
        std::vector<cv::Rect> boxes;
        for (const PhotoCandidate& c : found)
            boxes.push_back(c.rect);
        debug.boxes("photo-candidates", work.grey, boxes);
    }
    return found;
}

} // namespace Locate
