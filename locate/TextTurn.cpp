#include "locate/TextTurn.h"

#include "locate/Logging.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace Locate {

cv::Mat inkOf(const cv::Mat& grey, const Work& work, const InkParams& p) {
    return grey < int(work.paper * p.inkOfPaper);
}

cv::Mat ruledLines(const cv::Mat& ink, const Work& work, const InkParams& p) {
    const int run = int(p.ruledRunMm * work.pxPerMm);
    cv::Mat across, along, ruled;
    cv::morphologyEx(ink, across, cv::MORPH_OPEN,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(run, 1)));
    cv::morphologyEx(ink, along, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(1, run)));
    cv::dilate(across | along, ruled, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
    return ruled;
}

cv::Mat inkWithoutLines(const cv::Mat& grey, const Work& work, const InkParams& p) {
    const cv::Mat ink = inkOf(grey, work, p);
    return ink & ~ruledLines(ink, work, p);
}

std::vector<cv::Rect> linePieces(const cv::Mat& ink, const Work& work, double gapMm, double minLength,
                                 double maxHeight, double minHeightMm) {
    const int gap = std::max(3, int(std::lround(gapMm * work.pxPerMm)));
    cv::Mat joined;
    cv::morphologyEx(ink, joined, cv::MORPH_CLOSE,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(gap, 1)));
    std::vector<cv::Rect> pieces;
    for (const Blob& blob : blobsOf(joined)) {
        const cv::Rect& box = blob.box;
        if (box.height >= minHeightMm * work.pxPerMm && box.height <= maxHeight &&
            box.width >= minLength * box.height)
            pieces.push_back(box);
    }
    return pieces;
}

TextTurn textTurn(const cv::Mat& print, const Work& work, const TextTurnParams& p, const DebugView& debug) {
    TextTurn answer;
    debug.picture("text-print", print);
    const double maxHeight = p.lineMaxMm * work.pxPerMm;
    // Across or along: the way words join into long pieces.
    double length[2] = {0, 0};
    for (int o = 0; o < 2; ++o) {
        for (const cv::Rect& piece :
             linePieces(turned(print, o * 90), work, p.wordGapMm, p.pieceMinLength, maxHeight, p.letterMinMm))
            length[o] += piece.width;
    }
    const int o = length[1] > length[0] ? 1 : 0;
    const double lengthMm = length[o] / work.pxPerMm;
    const double across = length[o] / std::max(1.0, length[0] + length[1]);

    // Whole lines: where they start and end.
    std::vector<int> starts, ends;
    const std::vector<cv::Rect> lines =
        linePieces(turned(print, o * 90), work, p.lineGapMm, p.lineMinLength, maxHeight, p.letterMinMm);
    for (const cv::Rect& line : lines) {
        starts.push_back(line.x);
        ends.push_back(line.x + line.width);
    }
    debug.boxes("text-lines", turned(print, o * 90), lines);
    // Lines that share an edge with another line, within a pixel.
    auto aligned = [](std::vector<int> edges) {
        std::sort(edges.begin(), edges.end());
        int n = 0;
        for (size_t k = 0; k < edges.size(); ++k) {
            const bool before = k > 0 && edges[k] - edges[k - 1] <= 1;
            const bool after = k + 1 < edges.size() && edges[k + 1] - edges[k] <= 1;
            n += before || after;
        }
        return n;
    };
    const int flushLeft = aligned(starts);
    const int flushRight = aligned(ends);
    const double flush = double(flushLeft - flushRight) / std::max(1, flushLeft + flushRight);
    answer.turn = o * 90 + (flush < 0 ? 180 : 0);
    answer.confidence = std::clamp(lengthMm / p.sureLengthMm, 0.0, 1.0) *
                        std::clamp((across - 0.5) / p.sureAcrossOverHalf, 0.0, 1.0) *
                        std::clamp(std::abs(flush) / p.sureFlush, 0.0, 1.0) *
                        std::clamp(std::max(flushLeft, flushRight) / p.sureFlushLines, 0.0, 1.0);
    qCDebug(lcLocate) << "text lines" << length[0] / work.pxPerMm << "mm across," << length[1] / work.pxPerMm
                      << "mm along; flush left" << flushLeft << "right" << flushRight << "; turn"
                      << answer.turn << "confidence" << answer.confidence;
    return answer;
}

} // namespace Locate
