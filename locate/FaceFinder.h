#pragma once

#include "locate/WorkPicture.h"

// The face in a photograph candidate, and the quarter turn that shows it upright.
//
// dlib's frontal face detector (a HOG sliding window): measured against OpenCV's cascades
// on the photographs of forms, it found more of the faces and fewer in turned views. It
// misses drawn faces, though, which OpenCV's frontal-face cascade finds: when dlib finds no
// face in any view of a picture, the cascade gets a look.
//
// Scores are the detector's margin over a threshold lowered by FaceParams::lowering, so a
// face scores from 0 up and one at the detector's own threshold scores `lowering`.
namespace Locate {

struct FaceParams {
    // How far below dlib's own threshold detections are kept, so that a weak face still
    // tells the turn; the confidence decides whether it counts. dlib's threshold is then
    // at this score, which faceConfidence() maps to the locator's threshold.
    double lowering = 0.4;
    // A face scoring this much decides the turn and the other views are not run: on the 245
    // photographs of two page sets no view but the upright one scored over 0.08, while 229
    // upright views scored 0.6 or more. Forms with other faces gave upside-down faces 0.56
    // to 0.66 in the upright view (their upright views 2.0 and more), which 0.6 let decide.
    double decisive = 1.0;
    // The least score of a face that the printed text's turn may confirm: a detection a
    // quarter of the lowering below dlib's threshold.
    double weak = 0.15;
    // The detector sees each candidate with its short side at this many pixels, so small
    // and large photographs cost the same and a face filling most of it is well above the
    // detector's 80-pixel window.
    double viewShortSide = 170;
    // The cascade was measured on a view of this short side.
    double cascadeViewShortSide = 200;
    // Paper searched around the candidate, a 1/n of its side on each side: detectors want
    // some margin round a face.
    int searchMarginParts = 20;
    // A face that fills its candidate (the toned core of a photograph on a light background,
    // a vignetted oval) leaves the detector no room for the margin its window keeps round a
    // face: when no view shows one, the candidate is looked at again with a 1/n of its side
    // round it, for each n here until one does. The detector is particular about the face's
    // size in its view: a photocopied oval scored 0 at 1/5 and 1/4 but 1.46 at 1/6, and the
    // sample form's head alone nothing at 1/6 but a face at 1/4, 1/5 and 1/8.
    int wideMarginParts[2] = {6, 4};
    // A candidate this much taller than wide is upright or upside down, this much wider
    // than tall lies on its side; only one in between is looked at in all four views.
    double sidewaysAspect = 1.08;
    // The cascade's votes that count as dlib's threshold. A picture that is no face can
    // gather 5 votes in one of its views, as many as a drawn face at some view sizes (the
    // sample form's gets 4 to 10): the printed text's turn decides then (see Locator).
    double cascadeVotes = 5;
    // The cascade's smallest face, a share of the view's short side, and its widest.
    double cascadeMinSide = 0.3;
    double cascadeMaxWidth = 0.95;
};

struct FaceAnswer {
    int turn = 0;
    double score = 0;       // the detector's margin at that turn (0: no face)
    double secondScore = 0; // the best other turn's
    cv::Rect face;          // working pixels of the turned page
    bool byCascade = false; // found by the cascade alone, dlib seeing nothing
    bool confirmed = false; // dlib's weak face, found at the same place by the cascade
    cv::Rect inView;        // the face in the detector's view of the candidate, at that turn
    int marginParts = 0;    // that view's margin round the candidate (FaceParams' parts)
};

// Looks for a face in the candidate photo (working pixels of the stored page) at each
// quarter turn; the turn that scores best wins.
// A weak face is confirmed by the cascade unless confirm is false: the locator asks later,
// with confirmedByCascade(), for the one face it keeps.
FaceAnswer faceIn(const Work& work, const cv::Rect& photo, const FaceParams& params = {},
                  bool confirm = true);

// Whether answer's face is one the cascade must confirm: dlib's, under its threshold.
bool needsConfirming(const FaceAnswer& answer, const FaceParams& params = {});

// Whether the cascade finds answer's face (faceIn's for photo) at the same place.
bool confirmedByCascade(const Work& work, const cv::Rect& photo, const FaceAnswer& answer,
                        const FaceParams& params = {});

// A face's score as the locator's confidence (0..1): dlib's own threshold is Locator::kThreshold.
double faceConfidence(double score, const FaceParams& params = {});

// Whether a score is under dlib's own threshold.
inline bool underThreshold(double score, const FaceParams& params = {}) {
    return score < params.lowering;
}

// Builds the face detector now; it is built once per process, on first use otherwise.
void preloadFaces();

} // namespace Locate
