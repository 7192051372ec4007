#pragma once

#include "imaging/FrameGeometry.h"
#include "imaging/OutputKinds.h"

// Where a kind's frame starts, before any page: the frame a subject not found goes back to.
inline FrameRect startOf(OutputKind kind) {
    const QRectF start = outputKindInfo(kind).designFrame;
    return {float(start.x()), float(start.y()), float(start.width()), float(start.height())};
}
