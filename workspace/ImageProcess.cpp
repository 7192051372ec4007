#include "workspace/ImageProcess.h"

#include "workspace/FrameGeometry.h"

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
        if (angle != 0)
            result = result.transformed(QTransform().rotate(angle));
        if (filter.flipHorizontal || filter.flipVertical)
            result = result.mirrored(filter.flipHorizontal, filter.flipVertical);
        return result;
    }
    }
    return {};
}

ImageFile ImageProcess::apply(const ImageFile& source) const {
    if (source.isNull())
        return {};
    QList<QImage> frames;
    frames.reserve(source.frameCount());
    for (const QImage& frame : source.frames()) {
        QImage result = frame;
        for (const ImageFilter& filter : m_filters) {
            result = applyFilter(filter, result);
            if (result.isNull())
                return {};
        }
        frames << result;
    }
    return ImageFile(std::move(frames));
}
