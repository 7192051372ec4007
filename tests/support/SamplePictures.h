#pragma once

#include <QImage>
#include <QSize>

// Pictures like the crops an operator saves, painted in code so that tests and
// benchmarks need no files. All are opaque Format_RGB32 and deterministic per seed.
namespace SamplePictures {

// A head-and-shoulders portrait: soft background gradient, shaded face, hair, eyes,
// mouth, dark clothes, with mild sensor noise.
QImage photo(QSize size, quint32 seed = 1);

// A handwritten stroke in blue ink on slightly textured off-white paper.
QImage signature(QSize size, quint32 seed = 2);

// A portrait scanned badly: the photo with strong per-pixel colour noise.
QImage noisyPhoto(QSize size, quint32 seed = 3);

// Every pixel black or white at random on each channel: no JPEG of it is small.
QImage harshNoise(QSize size, quint32 seed = 4);

// Picture number index of a wide mix (photos clean to very noisy, signatures, flat colours,
// gradients, one-pixel stripes and checkerboards, printed strokes, pure noise, blurred
// photos, sharp rectangles, grids): consecutive indices cycle through kVariedFamilies
// families, each with its own parameters.
constexpr int kVariedFamilies = 12;
QImage varied(int index, QSize size);

} // namespace SamplePictures
