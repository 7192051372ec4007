#pragma once

#include <QImage>
#include <QRect>
#include <QSize>

// One thing the locator looked for. Rectangles are in pixels of the page after the turn and
// the straightening (the page as the operator sees it once upright and level), at the
// page's full resolution.
struct Finding {
    bool found = false;
    double confidence = 0; // 0..1; found when at least Locator::kThreshold
    QRect rect;
};

// What the locator found on a page.
struct PageFindings {
    // Clockwise quarter turn (0, 90, 180, 270) that shows the page upright: the face's when
    // the photograph was found, else the printed text's when the locator is sure of it (only
    // when the signature was wanted); 0 when neither tells it, and turnConfidence is 0 then.
    int turn = 0;
    double turnConfidence = 0;
    QSize pageSize; // the page after the turn, full resolution
    // Degrees that turn the page level, positive clockwise: applied after the quarter turn
    // (and any mirror), about the centre of the turned page, onto a canvas of the same size
    // with the corners it uncovers white (imaging/Straighten.h). The rectangles below are in
    // pixels of that straightened page. To a hundredth of a degree; 0 when the page is level
    // within 0.4 degree or its angle is not known.
    double straighten = 0.0;
    Finding photo;     // the continuous-tone picture holding a face
    QRect face;        // the face inside photo.rect; empty unless photo.found
    Finding signature; // the bounding box of the handwritten ink
};

// Finds, on a scanned form, the photograph (a continuous-tone rectangle with a face in it,
// found with dlib's frontal face detector), the signature
// (handwritten strokes, told from printed text, ruled lines and boxes by their shape), and
// the quarter turn that makes the face upright (without a face, the one that makes the
// printed text upright). A page with no face has no photograph; a page of printed text only
// has no signature; a page whose turn is not known has no signature either, lest it be
// saved upside down: the locator prefers no answer to a wrong one.
//
// Works on a copy of about 75 dpi whatever the page's resolution, so a reduced copy of the
// page is all it needs. Thread-safe: the window runs it on a worker thread while the batch
// command runs it on its own. The face detector is built once per process, on first use.
namespace Locator {

inline constexpr double kThreshold = 0.5;

// The long side of the copy the locator works on, in pixels: about 75 dpi on an A4 page. A
// picture up to a quarter larger is worked on as it is; a larger one is reduced to this.
inline constexpr int kWorkingLongSide = 880;

// The least long side of a reduced copy worth handing to the locator as it is: a 300 dpi A4
// page reduced by 4 (877 pixels) is close enough to the working size, and asking for more
// would have a reader decode it at twice the size.
inline constexpr int kLeastCopyLongSide = kWorkingLongSide - 20;

// What to look for: everything, or only the photograph and the turn (the signature's
// search is then skipped and answers "not found").
enum class Wanted { All, PhotoOnly };

// picture: the stored page (before any turn), at full or reduced resolution; pageSize: the
// stored page's full size, to which the answers are scaled. A null picture finds nothing.
PageFindings locate(const QImage& picture, QSize pageSize, Wanted wanted = Wanted::All);

// Builds the face detector now instead of on the first locate().
void preload();

// Starts loading the OCR model that reads the form's labels near a signature, in the
// background, instead of when locate() first reads a label: about 85 ms of processor time,
// which a page whose signature is not looked for, or has no print near its handwriting,
// never pays.
void preloadLabels();

} // namespace Locator
