#include "locate/PhotoFinder.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

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
    cv::Mat toned = blurred < tonedBelow;
    // Edges are found on a lightly smoothed copy: the paper between a photograph and a box
    // printed around it must stay paper.
    cv::Mat lightly;
    cv::blur(work.grey, lightly, cv::Size(3, 3));
    const cv::Mat sharp = lightly < tonedBelow;

    const int block = std::max(p.blockMinPx, int(std::lround(p.blockMm * work.pxPerMm)));
    cv::Mat blocks;
    cv::resize(toned, blocks, cv::Size(work.grey.cols / block, work.grey.rows / block), 0, 0, cv::INTER_AREA);
    cv::Mat dense = blocks > p.denseBlock;
    cv::morphologyEx(dense, dense, cv::MORPH_CLOSE,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
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
    auto consider = [&](const cv::Mat& mask) {
        for (const Blob& blob : blobsOf(mask)) {
            const int w = blob.box.width;
            const int h = blob.box.height;
            if (w < minSide || h < minSide || w > maxSide || h > maxSide)
                continue;
            if (blob.area < p.minFill * w * h || w > p.maxAspect * h || h > p.maxAspect * w)
                continue;
            if (taken(blob.box))
                continue;
            // Back to working pixels, a block more on each side, then each edge where the
            // toned share crosses one half.
            cv::Rect r(blob.box.x * block - block, blob.box.y * block - block, (w + 2) * block,
                       (h + 2) * block);
            r &= cv::Rect(0, 0, work.grey.cols, work.grey.rows);
            const cv::Mat roi = sharp(r);
            cv::Mat cols, rows;
            cv::reduce(roi, cols, 0, cv::REDUCE_AVG, CV_32F);
            cv::reduce(roi, rows, 1, cv::REDUCE_AVG, CV_32F);
            int x0, x1, y0, y1;
            longestRun(cols, cols.cols, p.edgeShare, x0, x1);
            longestRun(rows.t(), rows.rows, p.edgeShare, y0, y1);
            if (x0 < 0 || y0 < 0)
                continue;
            const cv::Rect photo(r.x + x0 + p.insetPx, r.y + y0 + p.insetPx, x1 - x0 + 1 - 2 * p.insetPx,
                                 y1 - y0 + 1 - 2 * p.insetPx);
            if (photo.width < minSide * block || photo.height < minSide * block)
                continue;
            found.push_back({photo});
        }
    };
    consider(dense);
    const int opening = std::max(3, int(std::lround(p.openingMm * work.pxPerMm / block)));
    cv::Mat opened;
    cv::morphologyEx(dense, opened, cv::MORPH_OPEN,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(opening, opening)));
    consider(opened);
    if (debug.on()) {
        std::vector<cv::Rect> boxes;
        for (const PhotoCandidate& c : found)
            boxes.push_back(c.rect);
        debug.boxes("photo-candidates", work.grey, boxes);
    }
    return found;
}

} // namespace Locate
