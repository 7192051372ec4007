#pragma once

#include "locate/DebugView.h"
#include "locate/WorkPicture.h"

#include <vector>

// The printed text's ink and the quarter turn that shows it upright. Its lines run across
// an upright page, not along it; and print is set flush left and ragged right, so that on
// an upright page many lines start at one margin while few end at one, and the other way
// round on a page upside down.
namespace Locate {

struct InkParams {
    // Ink is well darker than the paper: this share of the paper's grey level at most.
    double inkOfPaper = 0.70;
    // Ruled lines and box edges: runs of ink this long across or along (the longest printed
    // letters and handwritten strokes at the working size stay under it).
    double ruledRunMm = 12;
};

struct TextTurnParams {
    // A printed letter's height and a line of print's tallest.
    double letterMinMm = 1.2;
    double lineMaxMm = 7;
    // Words joined into line pieces by a closing of this gap: letters of neighbouring
    // lines stay apart at it. Pieces count at this many times as long as high.
    double wordGapMm = 1.5;
    double pieceMinLength = 5;
    // Whole lines, the gaps between words filled too, for where they start and end.
    double lineGapMm = 3;
    double lineMinLength = 3;
    // Fully confident with this much text running one way...
    double sureLengthMm = 300;
    // ...of which this share runs one way over the other (from one half)...
    double sureAcrossOverHalf = 0.3;
    // ...with this share more lines flush on one margin than on the other...
    double sureFlush = 0.3;
    // ...and at least this many lines on it.
    double sureFlushLines = 8;
};

// The ink of a grey page: what is well darker than its paper.
cv::Mat inkOf(const cv::Mat& grey, const Work& work, const InkParams& params = {});

// Ruled lines and box edges in ink, a pixel wider on each side.
cv::Mat ruledLines(const cv::Mat& ink, const Work& work, const InkParams& params = {});

// Ink of the page with its ruled lines and box edges taken out.
cv::Mat inkWithoutLines(const cv::Mat& grey, const Work& work, const InkParams& params = {});

// Pieces of text lines in ink: runs of letters whose gaps a closing across of gapMm fills,
// from minHeightMm to maxHeight (working pixels) high and at least minLength times as long
// as high.
std::vector<cv::Rect> linePieces(const cv::Mat& ink, const Work& work, double gapMm, double minLength,
                                 double maxHeight, double minHeightMm = TextTurnParams().letterMinMm);

struct TextTurn {
    int turn = 0;
    double confidence = 0; // 0..1
};

// The turn of the printed text in print (ink without its rules, of the stored page). A
// page with too little text, or text aligned on both sides (or neither), answers
// confidence 0.
TextTurn textTurn(const cv::Mat& print, const Work& work, const TextTurnParams& params = {},
                  const DebugView& debug = {});

} // namespace Locate
