#pragma once

#include "locate/DebugView.h"
#include "locate/WorkPicture.h"

#include <cmath>

// The page's small angle, that a hand-fed scan or a photograph glued askew gives: from the
// photograph's own edges when there is one, else from the lines of text and the rules.
// Angles are in degrees, positive where the content is turned clockwise as the page is
// shown (a line of text going down to the right); straightening turns it back.
namespace Locate {

struct SkewParams {
    // The angles looked for: a scan fed by hand is off by up to 3 degrees, and the form may
    // have been printed or the photograph glued a little off besides.
    double maxDegrees = 3.5;
    // The search's steps: a coarse pass over the range, then a fine one about its best.
    double coarseStep = 0.25;
    double fineStep = 0.05;
    // Less than this is left as it is: the aim is a page level within half a degree, and
    // the sample form, scanned a third of a degree off (0.31 to 0.36 measured on its
    // photograph and its text), reads well as it is; straightening would only resample it.
    double leastDegrees = 0.4;
    // Pixels of ink the text must have to tell its angle (a page of a few words has too few).
    int leastInk = 1500;
    // The text's lines must stand out at their angle: the profile's sharpness at the best
    // angle at least this many times its sharpness level (a page of no lines gives ~1).
    double leastSharpening = 1.15;
    // The photograph's edges: the middle share of each side is measured (corners are
    // rounded or stamped), at least this many millimetres of it...
    double edgeShare = 0.7;
    double leastEdgeMm = 12;
    // The change in grey across an edge (between the pixels either side of it) counts up to
    // this many levels: a photograph's faint edge against the paper then weighs as much as
    // its picture's dark hair against a light background...
    double edgeCap = 24;
    // ...and its line is the outermost whose mean is at least this share of the best one
    // (the picture's lines lie inside it, a shadow beside it runs parallel) and whose
    // sides differ by leastEdgeStep grey levels, edgeFlank pixels either side (a printed
    // rule has paper on both sides).
    double outermostShare = 0.6;
    double leastEdgeStep = 6;
    int edgeFlank = 4;
    // A side counts when this share of its points changes by leastEdgeChange grey levels
    // at least on the line found.
    double leastEdgeSupport = 0.6;
    double leastEdgeChange = 4;
    // A photograph's own angle is taken when it is off the text's by this much at least:
    // closer, it is the page's own angle, and its box as found serves better than its
    // measured edges (the sample form: text 0.35, photograph 0.2-0.5 as measured by its
    // edges on the page upright and sideways)...
    double leastGlued = 0.2;
    // ...and at most this when the text tells the page's angle: photographs are glued within
    // a degree or two of the form's lines, and two sides of a picture that is no photograph
    // have been seen to agree at 2.9 and 3.
    double mostGlued = 2.5;
    // Two sides at least must agree within this, else the text decides.
    double sidesAgreeDegrees = 0.35;
};

struct Skew {
    double degrees = 0;
    enum class From { Nothing, Photograph, Text } from = From::Nothing;
    // From the photograph: where its edges that agree on the angle cross the middle of its
    // box's top, bottom, left and right sides, in pixels out of the box (NaN: not measured).
    double edgeOut[4] = {std::nan(""), std::nan(""), std::nan(""), std::nan("")};
};

// The angle of the text lines and rules of ink (a mask), the rectangles in leaveOut not
// counted (the photograph's tones are no lines).
Skew textSkew(const cv::Mat& ink, const std::vector<cv::Rect>& leaveOut, const SkewParams& params = {});

// The angle of the photograph whose box is photo (working pixels; its upright bounding box,
// the largest upright box inside it, or between), from its outer edges against the paper.
Skew photographSkew(const Work& work, const cv::Rect& photo, const SkewParams& params = {});

// The bounding box of r, a rectangle of a picture of size, once the picture is turned
// clockwise by degrees about its centre.
cv::Rect turnedBox(const cv::Rect& r, cv::Size size, double degrees);

// r (a rectangle of a picture of size) moved where turning the picture clockwise by
// degrees about its centre takes its centre, its size kept: a face's box, upright on the
// page turned level as it was on the page before.
cv::Rect carriedBox(const cv::Rect& r, cv::Size size, double degrees);

// Where the photograph whose box is photo (of a picture of size) and whose own angle is
// skew stands once the picture is turned level by it: its edges that were measured, less
// inset pixels, and the box's other sides, about its centre turned with the picture.
cv::Rect levelledPhotograph(const cv::Rect& photo, const Skew& skew, cv::Size size, int inset);

// grey turned clockwise by degrees about its centre onto a canvas of its size, the corners
// it uncovers filled with fill.
cv::Mat straightened(const cv::Mat& grey, double degrees, int fill = 255);

} // namespace Locate
