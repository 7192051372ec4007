#pragma once

#include "imaging/FrameGeometry.h"
#include "imaging/OutputKinds.h"
#include "locate/Locator.h"
#include "locate/PhotoVerdict.h"

#include <QImage>
#include <QList>
#include <QSizeF>
#include <functional>
#include <optional>

// Where the locator's findings put each kind's selection frame, in pixels of pict for the
// turned page fitted into it, exactly as the window shows it:
// - RIQUADRO FOTO: the largest 5:6 frame whose crop lies inside the photograph, placed for
//   the head (reckoned from the face's box) and across on the face's middle;
// - FOTO ADR-CQC: the largest 1:1 frame inside the photograph, of any size between the
//   smallest and the largest frame, placed for the head (crown to chin, reckoned from the
//   face's box and the photograph's edges, with a little more room above than below);
//   whenever the photograph was found, even when the head or the smallest frame does not
//   fit in it;
// - RIQUADRO FIRMA: the smallest 5:1 frame that holds all the signature's ink with a small
//   margin, centred on it.
// The photo and signature frames take only the sizes the size steps reach from the design
// size. "Aumenta" and "Diminuisce" go on from any size with their usual steps, and every
// frame stays within pict.
namespace FramePlacement {

// Every size a frame of kind takes from its design size by the size steps, smallest first.
QList<QSizeF> reachableSizes(OutputKind kind);

// The frame for kind, or nothing when its subject was not found or cannot be framed by the
// rules (a photograph smaller than the smallest frame).
std::optional<FrameRect> place(OutputKind kind, const PageFindings& findings);

// Measures a photo crop (PhotoCheck::measure, directly or through the locator's module);
// false when it could not.
using MeasureFunction = std::function<bool(const QImage& crop, PhotoCheck::Measures* measures)>;

// place(), with the photo kinds' frame placed again when the identity check's geometry fails
// on it: its crop is cut from picture (the locator's picture of the stored page, the one
// locate() was given) and measured, and when the head's size, the eye line or the centring
// fail, frames of other sizes and places inside the photograph are measured in turn, the
// first that passes them kept, else the one that fails fewest (the first placed on a tie).
// At most kMostChecked crops are measured. The window and vetra-batch --auto both place
// their frames with this, on the same picture, so they give the same frames.
inline constexpr int kMostChecked = 4;
std::optional<FrameRect> placeChecked(OutputKind kind, const PageFindings& findings, const QImage& picture,
                                      const MeasureFunction& measure);

// The crop of frame (kind's, in pict pixels as place() gives it) cut from picture as the
// window would cut it from the page, turned and straightened by findings, at the kind's
// output size; a null image when picture is null.
QImage cropOf(OutputKind kind, const FrameRect& frame, const PageFindings& findings, const QImage& picture);

// The clockwise quarter turn (0, 90, 180 or 270) the window gives the page once the locator
// has answered: the page's turn when place() gives a frame of some kind, 0 otherwise, so a
// page with nothing framed on it stays as it was loaded.
int turnToShow(const PageFindings& findings);

} // namespace FramePlacement
