#include "locate/PhotoFinder.h"

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

} // namespace

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
