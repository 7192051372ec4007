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

    // Around a face, the photograph's sides are looked for this far beyond the face's box,
    // in face widths to either side, face heights above and below: an ID photograph is
    // 35 x 45 mm or so with the face (brows to chin) 25 to 45 % of its height, and the
    // tuning pages measured up to 1.5 face heights above the detector's box and 1.4 below;
    // a side with no paper within reach stays where it was.
    double sideReachFaces = 1.6;
    double aboveReachFaces = 1.6;
    double belowReachFaces = 1.5;
    // Where the photograph's background meets the paper, the profile across the edge (a
    // mean over the face's rows or columns, at the working size) steps by as little as 2 or
    // 3 grey levels on passport photographs (backgrounds of 236 to 245); the paper's own
    // profile stays within half a level of its grey. A run of this many millimetres within
    // paperTolerance of the paper is paper.
    double paperRunMm = 0.7;
    double paperTolerance = 1.5;
    // A printed line across the walk (a box round the photograph, blurred to a few pixels
    // of 15 to 40 levels at the working size), this much darker than both its sides and at
    // most borderMm wide, ends the photograph too.
    int lineDarker = 12;
    // A step of this many grey levels over two working pixels is a photograph's edge
    // against the paper, whatever the paper's shade: a light background that nearly
    // matches the paper never steps by as much.
    int strongStep = 25;
    // Between a photograph and a printed line round it, a step of this many levels over two
    // working pixels is the photograph's edge against the shaded paper there: light
    // backgrounds met it by 6 to 16 on the tuning pages, while the profile (a mean over the
    // face's rows or columns) stays within 2 of itself on the paper. An edge blurred to 4
    // (a background 4 levels off that paper) is not found and stays short.
    int gapStep = 6;
    // The face stands in the middle of an ID photograph: a side that moves out so far that
    // the room beside the face on its side is more than this many times the other side's
    // has run onto something else (a shaded photocopy, a stamp) and stays where it was.
    double lopsided = 1.5;
    // Working pixels over which the scan and the reduction blur a photograph's edge.
    int edgeBlurPx = 3;
    // A side moves out by this much at least: the toned part of a photograph on a light
    // background stops 5 mm or more short of its edge, while a side found whole may seem
    // to move by a pixel or two where a shadow or a border shades its edge.
    double leastMoveMm = 1.5;
    // A shadow or a thin border along the photograph's edge, darker by this much than the
    // photograph's own background next to it and at most borderMm wide, is left outside.
    int borderDarker = 4;
    double borderMm = 1.2;
    // The least extent of a photograph round the detector's face box, in face widths to either
    // side and face heights above and below: where a light or photocopied background meets
    // the paper with no edge to find, a side stays on the person's toned part and leaves no
    // room for a frame round the head. On the tuning forms' photographs (backgrounds of 110
    // to 245, faces 0.45 to 0.65 of the photograph's width) the photograph reached at least
    // 0.23 face widths beside the face, 0.53 heights above it and 0.39 below.
    double leastBesideFaces = 0.15;
    double leastAboveFaces = 0.5;
    double leastBelowFaces = 0.2;
};

struct PhotoCandidate {
    cv::Rect rect; // working pixels of the stored page
};

std::vector<PhotoCandidate> photoCandidates(const Work& work, const PhotoParams& params = {},
                                            const DebugView& debug = {});

// The photograph holding face, grown from its candidate photo to where its sides meet the
// paper: on a light background the candidate is only the person's toned part. Each side
// moves out to the last place before a run of plain paper, looked for across the face's
// rows (left and right) or columns (top and bottom); a side with no paper within reach, or
// with paper at once, stays where it was. photo is in working pixels of the stored page,
// face in working pixels of the page turned by turn (where the face stands upright), as
// the face finder gives them; the answer is in working pixels of the stored page.
cv::Rect wholePhotograph(const Work& work, const cv::Rect& photo, const cv::Rect& face, int turn,
                         const PhotoParams& params = {}, const DebugView& debug = {});

} // namespace Locate
