#pragma once

#include "imaging/OutputKinds.h"

#include <QRectF>
#include <QSize>

// A selection frame's rectangle in pixels of pict's client area. The frames store their
// coordinates in single precision; every computation on them runs in double precision
// and is stored back as float, so repeated drags and steps round the same way each time.
struct FrameRect {
    float Left = 0;
    float Top = 0;
    float Width = 0;
    float Height = 0;

    friend bool operator==(const FrameRect&, const FrameRect&) = default;
};

// The rules of the selection frames, the fitted display size and the crop rectangle.
// Widget-free, so each rule is tested on its own.
namespace FrameGeometry {

// The point is inside when it lies within the frame's edges, edges included. The right
// and bottom edges are rounded to float before the comparison.
bool contains(const FrameRect& frame, float x, float y);

// One pointer move of a drag: when (x, y) is inside the frame, the frame moves by the
// pointer's travel since (lastX, lastY) and the reference point becomes (x, y).
// Returns whether the frame moved. Bounds are not applied here.
bool dragStep(FrameRect& frame, float x, float y, double& lastX, double& lastY);

// Keeps the frame inside pict's client area; the tests run in this order and each reads
// the frame afresh: top at least 1, left at least 1, bottom at most 585, right at most 425.
void applyDragBounds(FrameRect& frame);

// One step larger, top-left corner fixed; a frame past the kind's largest size takes the
// largest size, then it is moved back inside pict.
void grow(FrameRect& frame, OutputKind kind, double stepWidth, double stepHeight);

// One step smaller, top-left corner fixed; a frame under the kind's smallest size takes
// the smallest size. A frame that was inside pict stays inside, so no bounds follow.
void shrink(FrameRect& frame, OutputKind kind, double stepWidth, double stepHeight);

// The size an image of imageSize takes when fitted into box with its aspect ratio kept:
// f = min(box.w / W, box.h / H), each side rounded to the nearest pixel and at least 1.
// Small images are enlarged too. Empty input gives an empty size.
QSize fitSize(QSize imageSize, QSize box);

// Image pixels per displayed pixel for an image shown at displayWidth x displayHeight.
// A portrait image uses the heights, a landscape one the widths, a square one the image
// height over the displayed width. 0 when nothing is displayed.
double cropScaleFactor(QSize imageSize, int displayWidth, int displayHeight);

// The rectangle of the full-resolution image under the frame of the given kind. The photo
// frame's source starts one displayed pixel right of its left edge and is one displayed
// pixel narrower, so the red outline on the left never reaches the preview.
QRectF cropSourceRect(OutputKind kind, const FrameRect& frame, double factor);

} // namespace FrameGeometry
