#pragma once

#include "locate/DebugView.h"
#include "locate/TextTurn.h"
#include "locate/WorkPicture.h"

#include <QString>

#include <functional>
#include <optional>

// The signature: handwritten strokes, told from printed text, ruled lines and boxes by
// their shape. The group of handwritten parts with the longest stroke wins, grown by the
// dots, loops and underline that belong to it.
namespace Locate {

struct SignatureParams {
    InkParams ink;
    // Ink this near the photograph is the photograph's edge or its box.
    double photoMarginMm = 3;
    // A stroke cut by a ruled line's removal joins again where ink reaches the removed band
    // from both sides within this many pixels.
    int joinReachPx = 4;
    // Pieces smaller than this (pixels of ink) are specks.
    int minPartArea = 4;
    // A printed letter's height, measured on the page's own pieces: from this many pixels
    // to this many millimetres, taken when there are at least this many pieces, else the
    // default.
    int letterMinPx = 3;
    double letterMaxMm = 8;
    size_t letterSamples = 10;
    double letterDefaultMm = 3;
    // A handwritten part: taller than this many letters, up to these sizes, with ink on at
    // most this share of its box (a filled block is no pen stroke)...
    double handMinLetters = 1.6;
    double handMaxHeightMm = 40;
    double handMaxWidthMm = 180;
    double handMaxFill = 0.5;
    // ...and a pen's stroke, thin for the writing's height (a large printed letter's is not):
    // at most this many pixels or this share of its height, whichever is more.
    double strokeMaxPx = 2.5;
    double strokeMaxOfHeight = 0.16;
    // Handwritten parts join into one group across this share of the tallest's height, and
    // up or down this share.
    double groupAcross = 0.5;
    double groupUpDown = 0.3;
    // Dots and accents do not count in telling print: only pieces at least this many fifths
    // of the tallest piece.
    int pieceMinFifths = 2;
    // A line of print is at most the smaller of lineMaxMm and this many letters high; a
    // group this many fifths inside one is a word of it.
    double printLineLetters = 2.2;
    int inPrintFifths = 4;
    // Pixels of a ruled run this far off its fitted straight line are pen stroke, and at
    // least offMinPixels of them make the run a curved one (a flourish, an underline).
    double offLinePx = 1.5;
    int offMinPixels = 4;
    // Ink beside a group joins it within this share of the group's height across, and
    // this share above and below.
    double besideAcross = 0.8;
    double besideUpDown = 0.3;
    // A straight run that ends within this of the writing is its underline.
    double underlinePastMm = 2;
    // A handwritten group this many times as long as high under the signature is its
    // flourish.
    double flourishLength = 4;
    // Strokes of the pen standing apart under the writing (a flourish the ruled line cut
    // off, an underline below the line) belong to it: pieces long and low, one run of ink in
    // at least sweepOneRun of their columns (print has two or three where letters close), at
    // least sweepMinMm long, within the writing's columns and up to half its height or
    // sweepReachMm below it; together at least sweepMinWidth of the writing's width and bent
    // off a straight line by more than sweepOffPx (the ruling's remnants are not; a flat
    // underline's waves are a pixel or two at the working size).
    double sweepOneRun = 0.85;
    double sweepMinMm = 3;
    double sweepReachMm = 5;
    double sweepMinWidth = 0.3;
    double sweepOffPx = 1;
    // An underline no wider than this share of the grown group.
    double underlineMaxWidth = 1.3;
    // A group lower than this is a word of print set large, not a signature.
    double minHeightMm = 5.5;
    // A signature runs along its line: a group less wide than this many times its height is
    // a tick in a check box, a column of them, an emblem or a picture's corner.
    double minWidthOfHeight = 1.6;
    // Confidence grows with the length of handwritten stroke, full at this length: a few
    // millimetres of curve are no signature.
    double sureStrokeMm = 80;
    // Parts of one height standing on one line read as print: at least this many, within
    // this share of the height (and a pixel), being this many tenths of all the parts.
    size_t printedMinParts = 4;
    double printedTolerance = 0.12;
    size_t printedTenths = 6;
    // Parts standing as close as the letters of a word: one per this many heights at least.
    double closeHeights = 1.5;
    // Ink that runs straight across and along for this many millimetres, at least this
    // share of it each way, is a box's edges or a printed code, not a pen's stroke.
    double straightRunMm = 5;
    double straightShare = 0.2;
    // A round stamp's or an emblem's ring: a part about as wide as high, at least this many
    // millimetres, with this share of its ink within ringBand of its radius; a stamp's
    // frame, as large, with as much of its ink along the rectangle that holds it.
    double ringMinMm = 6;
    double ringShare = 0.8;
    double ringBand = 0.18;
    // The form's own places for other things, from its ruling, which counts from this share
    // of the paper's grey (a thin grey rule at 300 dpi is lighter than ink once reduced to the
    // working size): two ruled lines of one
    // extent (within lineEndMm at both ends) from this many millimetres apart...
    double ruleOfPaper = 0.88;
    double lineEndMm = 2;
    double twinMinMm = 3;
    double twinMaxMm = 60;
    // ...with at least this many dividers between them, up to boxRowMaxMm apart, are a row
    // of boxes filled letter by letter (a codice fiscale);
    int boxRowDividers = 6;
    double boxRowMaxMm = 12;
    // with none and up to fieldsMaxMm apart, two fields written on, whose handwriting stands
    // up to fieldHeightMm above each line;
    double fieldsMaxMm = 20;
    double fieldHeightMm = 12;
    // closed at both ends and wider than this share of the page, a section of the form (the
    // office's own), not a place for the applicant's signature; closed and taller than wide,
    // a photograph's or a picture's box.
    double sectionMinWidth = 0.6;
    // A closed place taller than wide and at least pictureMinMm high is a picture's box. The
    // office stamps a photograph across its box's edge: a group with this share of its box
    // or more over a picture's box is that stamp, never the applicant's signature.
    double pictureMinMm = 20;
    double onPictureShare = 0.125;
    // The form's labels, read where handwriting stands: lines of print from this many
    // letters' height long (a label may be one short word, "Firma", "Sigla"), up to
    // labelReachMm from a handwritten group: the labelReadsEach nearest to each group, at most
    // labelReads a page. A group is in the place of the nearest label read within that reach.
    double labelMinLength = 1.8;
    double labelMaxMm = 80; // the longest label; a longer line is a sentence
    // The words of a label join across gaps of this many millimetres (a word space of a
    // small font at the working size is 2-4 pixels, wider than a letter's gap).
    double labelWordGapMm = 2.5;
    double labelReachMm = 22;
    size_t labelReads = 8;
    size_t labelReadsEach = 3;
    // The office's and other fields' labels stand close to what is written for them: a
    // group further than this from them is in no place of theirs.
    double otherLabelReachMm = 10;
    // Writing right of the applicant's label is in its place from this share of the
    // distance across: a signature's line runs on from its label.
    double labelAlongShare = 1.0 / 3;
    // Where the group the layout picks has no label near it, up to labelSearchReads more lines
    // of print up to labelSearchMaxMm long, from the foot of the page up, for the applicant's.
    size_t labelSearchReads = 6;
    double labelSearchMaxMm = 60;
};

// Reads one line of print in a crop of the working page; nothing when no reader is at hand.
using LabelReading = std::function<std::optional<QString>(const cv::Mat& grey)>;

struct SignatureAnswer {
    double confidence = 0;
    cv::Rect box; // working pixels of grey
};

// The signature on grey (the upright working page), photo (working pixels of grey) left out
// when not empty. With readLabel, the form's labels near the handwriting decide: on a page
// with the applicant's label, the signature is the handwriting in its place or nothing;
// handwriting in the office's place or another field's is never the signature.
SignatureAnswer signatureIn(const cv::Mat& grey, const Work& work, const cv::Rect& photo,
                            const SignatureParams& params = {}, const DebugView& debug = {},
                            const LabelReading& readLabel = {});

} // namespace Locate
