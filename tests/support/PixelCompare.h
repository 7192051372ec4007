#pragma once

#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QTransform>

#include <algorithm>
#include <cstdlib>

// Pixel comparisons shared by the tests: the page as the workspace shows it, a rectangle
// of it on paper, and how far two pictures are apart.
namespace PixelCompare {

// The page decoded whole by Qt, turned clockwise by rotation degrees, then mirrored left
// to right (horizontal) or top to bottom (vertical): what the workspace shows.
inline QImage shownPage(const QString& path, int rotation, bool horizontal, bool vertical) {
    QImage page = QImage(path).convertToFormat(QImage::Format_RGB32);
    if (rotation != 0)
        page = page.transformed(QTransform().rotate(rotation));
    if (horizontal || vertical)
        page = page.mirrored(horizontal, vertical);
    return page;
}

// rect cut from page, white where it reaches past the page; page's alpha falls on white.
inline QImage onPaper(const QImage& page, const QRect& rect) {
    QImage out(rect.size(), QImage::Format_RGB32);
    out.fill(Qt::white);
    QPainter(&out).drawImage(QPoint(0, 0), page, rect);
    return out;
}

// The differences of the red, green and blue channels of every pair of pixels of two
// pictures the same size, handed to each with the pixel's place.
template <typename Each> void eachDifference(const QImage& a, const QImage& b, Each each) {
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col)
            each(QPoint(col, row), std::abs(qRed(p[col]) - qRed(q[col])),
                 std::abs(qGreen(p[col]) - qGreen(q[col])), std::abs(qBlue(p[col]) - qBlue(q[col])));
    }
}

// The largest difference of any channel, 256 when the sizes differ; where, when given,
// gets the first pixel with that difference.
inline int maxDifference(const QImage& a, const QImage& b, QPoint* where = nullptr) {
    if (a.size() != b.size())
        return 256;
    int worst = 0;
    eachDifference(a, b, [&](QPoint at, int red, int green, int blue) {
        const int d = std::max({red, green, blue});
        if (d > worst) {
            worst = d;
            if (where)
                *where = at;
        }
    });
    return worst;
}

// The mean difference of all channels, 256 when the sizes differ.
inline double meanDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return 256;
    qint64 sum = 0;
    eachDifference(a, b, [&](QPoint, int red, int green, int blue) { sum += red + green + blue; });
    return double(sum) / (3.0 * a.width() * a.height());
}

} // namespace PixelCompare
