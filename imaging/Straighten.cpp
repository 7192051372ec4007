#include "imaging/Straighten.h"

#include "imaging/FastPixels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// Positions on the page in fixed point, 32 fraction bits: where output pixel (x, y) samples
// is origin + x * stepX + y * stepY, exact in integers, so it does not depend on where a
// row of the region starts.
constexpr int kFraction = 32;

struct Mapping {
    std::int64_t originX = 0, originY = 0;
    std::int64_t stepXx = 0, stepXy = 0; // one output column: change of the source x and y
    std::int64_t stepYx = 0, stepYy = 0; // one output row
};

std::int64_t fixed(double v) {
    return std::llround(std::ldexp(v, kFraction));
}

// The straightened pixel (x, y) comes from the page's point centre + R(-a) (p - centre), in
// pixel-centre coordinates; with y down, R(a) turns clockwise.
Mapping mappingFor(QSize pageSize, double degrees) {
    const double a = degrees * M_PI / 180.0;
    const double c = std::cos(a);
    const double s = std::sin(a);
    const double cx = pageSize.width() / 2.0;
    const double cy = pageSize.height() / 2.0;
    // Pixel x's centre is x + 0.5; the sampled point's pixel index is its coordinate - 0.5.
    const double dx0 = 0.5 - cx;
    const double dy0 = 0.5 - cy;
    Mapping m;
    m.originX = fixed(cx - 0.5 + c * dx0 + s * dy0);
    m.originY = fixed(cy - 0.5 - s * dx0 + c * dy0);
    m.stepXx = fixed(c);
    m.stepXy = fixed(-s);
    m.stepYx = fixed(s);
    m.stepYy = fixed(c);
    return m;
}

int floorPixel(std::int64_t v) {
    return int(v >> kFraction); // arithmetic shift: the floor
}

// a + (b - a) * f / 256 on each byte, f in 0..256.
inline quint32 mix(quint32 a, quint32 b, quint32 f) {
    const quint32 g = 256 - f;
    const quint32 rb = (((a & 0x00FF00FFu) * g + (b & 0x00FF00FFu) * f) >> 8) & 0x00FF00FFu;
    const quint32 ag = (((a >> 8) & 0x00FF00FFu) * g + ((b >> 8) & 0x00FF00FFu) * f) & 0xFF00FF00u;
    return rb | ag;
}

} // namespace

namespace Straighten {

QRect sourceRect(QSize pageSize, double degrees, const QRect& wanted) {
    // Past the canvas, which is the page's size, there is only paper.
    const QRect region = wanted & QRect(QPoint(0, 0), pageSize);
    if (region.isEmpty() || !std::isfinite(degrees))
        return {};
    const Mapping m = mappingFor(pageSize, degrees);
    int left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
    // The mapping is affine: the extremes lie at the region's corners.
    for (const int x : {region.left(), region.right()}) {
        for (const int y : {region.top(), region.bottom()}) {
            const int sx = floorPixel(m.originX + x * m.stepXx + y * m.stepYx);
            const int sy = floorPixel(m.originY + x * m.stepXy + y * m.stepYy);
            left = std::min(left, sx);
            top = std::min(top, sy);
            right = std::max(right, sx + 1); // the neighbour bilinear mixes in
            bottom = std::max(bottom, sy + 1);
        }
    }
    return QRect(QPoint(left, top), QPoint(right, bottom)) & QRect(QPoint(0, 0), pageSize);
}

QImage region(const QImage& source, QPoint sourceOrigin, QSize pageSize, double degrees,
              const QRect& region) {
    if (region.isEmpty() || pageSize.isEmpty() || !std::isfinite(degrees) ||
        (source.format() != QImage::Format_RGB32 && source.format() != QImage::Format_ARGB32))
        return {};
    const QRect needed = sourceRect(pageSize, degrees, region);
    const QRect held(sourceOrigin, source.size());
    if (!needed.isEmpty() && !held.contains(needed))
        return {};
    QImage out = FastPixels::allocate(region.size(), source.format());
    if (out.isNull())
        return {};
    const QRect onCanvas = region & QRect(QPoint(0, 0), pageSize);
    if (onCanvas != region)
        out.fill(0xFFFFFFFFu);
    const Mapping m = mappingFor(pageSize, degrees);
    const int width = pageSize.width();
    const int height = pageSize.height();
    const qsizetype stride = source.bytesPerLine() / 4;
    const auto* base = reinterpret_cast<const quint32*>(source.constBits());
    constexpr quint32 kWhite = 0xFFFFFFFFu;
    const auto at = [&](int x, int y) -> quint32 {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return kWhite;
        return base[qsizetype(y - sourceOrigin.y()) * stride + (x - sourceOrigin.x())];
    };
    for (int y = onCanvas.top(); y <= onCanvas.bottom(); ++y) {
        auto* row =
            reinterpret_cast<quint32*>(out.scanLine(y - region.top())) + (onCanvas.left() - region.left());
        std::int64_t sx = m.originX + std::int64_t(onCanvas.left()) * m.stepXx + std::int64_t(y) * m.stepYx;
        std::int64_t sy = m.originY + std::int64_t(onCanvas.left()) * m.stepXy + std::int64_t(y) * m.stepYy;
        for (int i = 0; i < onCanvas.width(); ++i, sx += m.stepXx, sy += m.stepXy) {
            const int x0 = floorPixel(sx);
            const int y0 = floorPixel(sy);
            // Eight bits of each fraction weigh the neighbours.
            const quint32 fx = quint32(sx >> (kFraction - 8)) & 0xFFu;
            const quint32 fy = quint32(sy >> (kFraction - 8)) & 0xFFu;
            quint32 p00, p01, p10, p11;
            if (x0 >= 0 && y0 >= 0 && x0 + 1 < width && y0 + 1 < height) {
                const quint32* p = base + qsizetype(y0 - sourceOrigin.y()) * stride + (x0 - sourceOrigin.x());
                p00 = p[0];
                p01 = p[1];
                p10 = p[stride];
                p11 = p[stride + 1];
            } else {
                p00 = at(x0, y0);
                p01 = at(x0 + 1, y0);
                p10 = at(x0, y0 + 1);
                p11 = at(x0 + 1, y0 + 1);
            }
            row[i] = mix(mix(p00, p01, fx), mix(p10, p11, fx), fy);
        }
    }
    return out;
}

} // namespace Straighten
