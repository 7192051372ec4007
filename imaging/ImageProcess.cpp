#include "imaging/ImageProcess.h"

#include "imaging/FastPixels.h"
#include "imaging/FrameGeometry.h"

#include <QTransform>

void ImageProcess::removeFilter(int position) {
    if (position >= 1 && position <= m_filters.size())
        m_filters.removeAt(position - 1);
}

void ImageProcess::removeAllFilters() {
    while (filterCount() > 0)
        removeFilter(1);
}

ImageFilter& ImageProcess::addFilter(FilterKind kind) {
    ImageFilter filter;
    filter.kind = kind;
    m_filters.append(filter);
    return m_filters.last();
}

QImage ImageProcess::applyFilter(const ImageFilter& filter, const QImage& image) {
    if (image.isNull())
        return {};
    switch (filter.kind) {
    case FilterKind::Scale: {
        const QSize box(filter.maximumWidth, filter.maximumHeight);
        const QSize size = filter.preserveAspectRatio ? FrameGeometry::fitSize(image.size(), box) : box;
        if (size.isEmpty())
            return {};
        // Smooth scaling averages the pixels each target pixel covers when shrinking.
        return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    case FilterKind::RotateFlip: {
        QImage result = image;
        const int angle = ((filter.rotationAngle % 360) + 360) % 360;
        if (angle % 90 != 0)
            return {};
        if (angle == 90 && result.depth() == 32)
            result = FastPixels::turnedClockwise(result);
        else if (angle != 0)
            result = result.transformed(QTransform().rotate(angle));
        if (filter.flipHorizontal || filter.flipVertical)
            result = result.mirrored(filter.flipHorizontal, filter.flipVertical);
        return result;
    }
    }
    return {};
}

namespace {

// A fit that shrinks each side at least this many times reads the frame's reduced copy:
// every displayed pixel still averages one or more whole blocks each way, and the copy
// holds a sixteenth of the pixels.
constexpr int kFitFromReduced = FastPixels::kBlock;

bool fitsFromReduced(const ImageFilter& filter, const QImage& frame, const QImage& reduced) {
    if (filter.kind != FilterKind::Scale || reduced.isNull())
        return false;
    const QSize box(filter.maximumWidth, filter.maximumHeight);
    const QSize size = filter.preserveAspectRatio ? FrameGeometry::fitSize(frame.size(), box) : box;
    return !size.isEmpty() && qint64(size.width()) * kFitFromReduced <= frame.width() &&
           qint64(size.height()) * kFitFromReduced <= frame.height();
}

// A turn or mirror moves whole blocks when the frame is made of whole blocks, so the
// reduced copy can take the same filter instead of being averaged again.
bool turnsWithReduced(const ImageFilter& filter, const QImage& frame, const QImage& reduced) {
    return filter.kind == FilterKind::RotateFlip && !reduced.isNull() &&
           frame.width() % FastPixels::kBlock == 0 && frame.height() % FastPixels::kBlock == 0;
}

} // namespace

ImageFile ImageProcess::apply(const ImageFile& source) const {
    if (source.isNull())
        return {};
    // One frame through the filters; a null image when a filter fails.
    const auto one = [filters = m_filters](QImage result, QImage reduced, QImage* reducedOut) {
        for (const ImageFilter& filter : filters) {
            if (fitsFromReduced(filter, result, reduced)) {
                // The box is measured against the frame; the reduced copy only supplies pixels.
                ImageFilter exact = filter;
                const QSize box(filter.maximumWidth, filter.maximumHeight);
                const QSize size =
                    filter.preserveAspectRatio ? FrameGeometry::fitSize(result.size(), box) : box;
                exact.maximumWidth = size.width();
                exact.maximumHeight = size.height();
                exact.preserveAspectRatio = false;
                result = applyFilter(exact, reduced);
                reduced = QImage();
            } else {
                reduced = turnsWithReduced(filter, result, reduced) ? applyFilter(filter, reduced) : QImage();
                result = applyFilter(filter, result);
            }
            if (result.isNull())
                break;
        }
        *reducedOut = result.isNull() ? QImage() : reduced;
        return result;
    };
    // Later frames not made yet go through the filters when they are.
    if (source.laterFramesPending()) {
        QImage reduced;
        QImage first = one(source.frame(0), source.reducedFrame(0), &reduced);
        if (first.isNull())
            return {};
        return source.mapLaterFrames(std::move(first), std::move(reduced), one);
    }
    QList<QImage> frames;
    QList<QImage> reducedFrames;
    frames.reserve(source.frameCount());
    reducedFrames.reserve(source.frameCount());
    for (int f = 0; f < source.frameCount(); ++f) {
        QImage reduced;
        QImage result = one(source.frame(f), source.reducedFrame(f), &reduced);
        if (result.isNull())
            return {};
        frames << result;
        reducedFrames << reduced;
    }
    return ImageFile(std::move(frames), std::move(reducedFrames));
}
