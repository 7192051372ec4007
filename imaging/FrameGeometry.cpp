#include "imaging/FrameGeometry.h"

#include <algorithm>
#include <cmath>

namespace FrameGeometry {

namespace {

float stored(double value) {
    return static_cast<float>(value);
}

// The right and bottom bounds. Each sum is rounded to float before it is compared.
void applyRightBound(FrameRect& frame) {
    if (stored(double(frame.Left) + frame.Width) > kPictClientWidth)
        frame.Left = stored(kPictClientWidth - frame.Width);
}

void applyBottomBound(FrameRect& frame) {
    if (stored(double(frame.Top) + frame.Height) > kPictClientHeight)
        frame.Top = stored(kPictClientHeight - frame.Height);
}

void applyTopLeftBounds(FrameRect& frame) {
    if (frame.Top <= 0)
        frame.Top = 1;
    if (frame.Left <= 0)
        frame.Left = 1;
}

} // namespace

bool contains(const FrameRect& frame, float x, float y) {
    const float right = stored(double(frame.Left) + frame.Width);
    const float bottom = stored(double(frame.Top) + frame.Height);
    return x >= frame.Left && x <= right && y >= frame.Top && y <= bottom;
}

bool dragStep(FrameRect& frame, float x, float y, double& lastX, double& lastY) {
    if (!contains(frame, x, y))
        return false;
    frame.Left = stored(frame.Left + (double(x) - lastX));
    frame.Top = stored(frame.Top + (double(y) - lastY));
    lastY = y;
    lastX = x;
    return true;
}

void applyDragBounds(FrameRect& frame) {
    applyTopLeftBounds(frame);
    applyBottomBound(frame);
    applyRightBound(frame);
}

void grow(FrameRect& frame, OutputKind kind, double stepWidth, double stepHeight) {
    frame.Height = stored(frame.Height + stepHeight);
    frame.Width = stored(frame.Width + stepWidth);

    const QSizeF largest = outputKindInfo(kind).largest;
    // The signature frame is limited by its width only: its height follows the width's steps.
    const bool tooLarge = kind == OutputKind::Firma
                              ? frame.Width > largest.width()
                              : frame.Height > largest.height() || frame.Width > largest.width();
    if (tooLarge) {
        frame.Height = stored(largest.height());
        frame.Width = stored(largest.width());
    }

    applyTopLeftBounds(frame);
    applyRightBound(frame);
    applyBottomBound(frame);
}

void shrink(FrameRect& frame, OutputKind kind, double stepWidth, double stepHeight) {
    frame.Height = stored(frame.Height - stepHeight);
    frame.Width = stored(frame.Width - stepWidth);

    const QSizeF smallest = outputKindInfo(kind).smallest;
    if (frame.Height < smallest.height() || frame.Width < smallest.width()) {
        frame.Height = stored(smallest.height());
        frame.Width = stored(smallest.width());
    }
}

QSize fitSize(QSize imageSize, QSize box) {
    if (imageSize.isEmpty() || box.isEmpty())
        return {};
    const double f =
        std::min(double(box.width()) / imageSize.width(), double(box.height()) / imageSize.height());
    const int width = std::max(1, int(std::lround(imageSize.width() * f)));
    const int height = std::max(1, int(std::lround(imageSize.height() * f)));
    return {std::min(width, box.width()), std::min(height, box.height())};
}

double cropScaleFactor(QSize imageSize, int displayWidth, int displayHeight) {
    // The operands are single precision, the quotient double.
    const float imageWidth = float(imageSize.width());
    const float imageHeight = float(imageSize.height());
    double factor = 0;
    if (imageHeight > imageWidth) {
        if (displayHeight > 0)
            factor = double(imageHeight) / double(float(displayHeight));
    } else if (imageWidth > imageHeight) {
        if (displayWidth > 0)
            factor = double(imageWidth) / double(float(displayWidth));
    } else if (displayWidth > 0) {
        factor = double(imageHeight) / double(float(displayWidth));
    }
    return factor;
}

QRectF cropSourceRect(OutputKind kind, const FrameRect& frame, double factor) {
    if (kind == OutputKind::Foto)
        return {(double(frame.Left) + 1) * factor, double(frame.Top) * factor,
                (double(frame.Width) - 1) * factor, double(frame.Height) * factor};
    return {double(frame.Left) * factor, double(frame.Top) * factor, double(frame.Width) * factor,
            double(frame.Height) * factor};
}

} // namespace FrameGeometry
