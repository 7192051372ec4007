#pragma once

#include "imaging/ImageFile.h"

#include <QList>

// The filters an ImageProcess can run.
enum class FilterKind {
    Scale,     // fit within maximumWidth x maximumHeight
    RotateFlip // quarter turns and mirrors, lossless
};

struct ImageFilter {
    FilterKind kind = FilterKind::Scale;

    // Scale: the box the image is fitted into. With the aspect ratio kept (the default)
    // the image becomes as large as fits, enlarged too; otherwise exactly the box.
    int maximumWidth = 0;
    int maximumHeight = 0;
    bool preserveAspectRatio = true;

    // RotateFlip: a clockwise turn of 0, 90, 180 or 270 degrees, then the mirrors.
    int rotationAngle = 0;
    bool flipHorizontal = false; // left to right
    bool flipVertical = false;   // top to bottom
};

// A filter list applied in order to every frame of an image. The list lives on between
// uses, so a caller that wants one filter empties it first. Positions are 1-based, the
// way the workspace's commands count them.
class ImageProcess {
  public:
    int filterCount() const { return int(m_filters.size()); }
    ImageFilter& filter(int position) { return m_filters[position - 1]; }
    void removeFilter(int position);
    void removeAllFilters();
    ImageFilter& addFilter(FilterKind kind); // appended at the end

    // A new image: every frame through every filter. The source is left untouched and
    // the result's active frame is its first. A null ImageFile when the source is empty,
    // a filter cannot run (an angle that is not a quarter turn, an empty box) or memory
    // runs out.
    ImageFile apply(const ImageFile& source) const;

    // One frame through one filter; a null image on failure.
    static QImage applyFilter(const ImageFilter& filter, const QImage& image);

  private:
    QList<ImageFilter> m_filters;
};
