#pragma once

#include "locate/DebugView.h"
#include "locate/WorkPicture.h"

#include <vector>

// Photograph candidates: rectangles of continuous tone on the paper, large enough to hold a
// face. Whether one is a photograph is the face finder's to say.
namespace Locate {

struct PhotoParams {
    // Grey levels below the paper's that count as toned: the paper's own grain and the
    // scanner's noise stay within 10 of it on the sample pages.
    int tonedBelowPaper = 20;
    // Blocks of about 2 mm whose pixels are almost all off the paper are pictures, not text,
    // whose strokes always leave paper between them; at least 3 working pixels.
    double blockMm = 2;
    int blockMinPx = 3;
    // The share of a block's pixels (of 255) that must be toned.
    int denseBlock = 200;
    // A photograph's side, from a thumbnail's to a half page's.
    double minSideMm = 18;
    double maxSideMm = 120;
    // A rectangle's blocks fill most of its box and it is no long strip.
    double minFill = 0.6;
    double maxAspect = 2.5;
    // An edge row or column is where the toned share crosses one half (of 255).
    int edgeShare = 127;
    // Working pixels kept inside each edge: the edge is blurred by the scan and by the
    // reduction, and the answer must never reach the paper around the photograph.
    int insetPx = 2;
    // A photograph that touches dense print (a bold heading, a filled field) joins it into
    // one ragged piece that is no rectangle. Opened by a square of this side, the print and
    // the bridges to it go while any photograph (at least minSideMm a side) stays.
    double openingMm = 10;
    // A photograph on a light background differs from the paper by this many grey levels at
    // least, lighter or darker, over its whole rectangle (backgrounds of 228 to 246 on paper
    // of 238 to 252 in the light sweep; the paper's own grain and noise stay within 3 on the
    // working copy).
    int faintFromPaper = 6;
    // Such a rectangle takes the place of the toned parts inside it when its area is at least
    // this many times theirs; else it is the same photograph found again.
    double faintLarger = 1.3;
};

struct PhotoCandidate {
    cv::Rect rect; // working pixels of the stored page
};

std::vector<PhotoCandidate> photoCandidates(const Work& work, const PhotoParams& params = {},
                                            const DebugView& debug = {});

} // namespace Locate
