#include "locate/SkewFinder.h"

#include "locate/Logging.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace Locate {

namespace {

constexpr double kRadian = 3.14159265358979323846 / 180;

// How sharply the points' profile across lines at angle degrees peaks: the sum of the
// squared counts of its one-pixel bins, rows and columns both (text runs across an upright
// page and along a sideways one).
double sharpness(const std::vector<cv::Point>& points, double degrees, cv::Size size) {
    const double c = std::cos(degrees * kRadian);
    const double s = std::sin(degrees * kRadian);
    const int reach = size.width + size.height;
    std::vector<int> rows(size_t(2 * reach + 2), 0);
    std::vector<int> cols(size_t(2 * reach + 2), 0);
    // A line turned clockwise by the angle keeps y cos - x sin; an upright one turned so
    // keeps x cos + y sin. Rounded by adding half a bin to a positive value.
    const float cf = float(c);
    const float sf = float(s);
    const float offset = float(reach) + 0.5f;
    for (const cv::Point& p : points) {
        ++rows[size_t(float(p.y) * cf - float(p.x) * sf + offset)];
        ++cols[size_t(float(p.x) * cf + float(p.y) * sf + offset)];
    }
    double sum = 0;
    for (size_t k = 0; k < rows.size(); ++k)
        sum += double(rows[k]) * rows[k] + double(cols[k]) * cols[k];
    return sum;
}

// The angle in [from, to] by step whose sharpness is highest, refined between its
// neighbours by a parabola; best receives that sharpness.
double bestAngle(const std::vector<cv::Point>& points, cv::Size size, double from, double to, double step,
                 double* best, double* mean = nullptr) {
    std::vector<double> angles, values;
    for (double a = from; a <= to + step / 2; a += step) {
        angles.push_back(a);
        values.push_back(sharpness(points, a, size));
    }
    const size_t k = size_t(std::max_element(values.begin(), values.end()) - values.begin());
    *best = values[k];
    if (mean)
        *mean = std::accumulate(values.begin(), values.end(), 0.0) / double(values.size());
    double angle = angles[k];
    if (k > 0 && k + 1 < values.size()) {
        const double denominator = values[k - 1] - 2 * values[k] + values[k + 1];
        if (denominator < 0)
            angle += step * 0.5 * (values[k - 1] - values[k + 1]) / denominator;
    }
    return angle;
}

// Where grey crosses level between from and to (exclusive of to) along a line of pixels
// given by at(i), to a fraction of a pixel; NaN when it does not.
template <typename At> double crossing(At at, int from, int to, double level) {
    const int step = to > from ? 1 : -1;
    for (int i = from; i != to; i += step) {
        const double a = at(i);
        const double b = at(i + step);
        if ((a - level) * (b - level) <= 0 && a != b)
            return i + step * (a - level) / (a - b);
    }
    return std::nan("");
}

} // namespace

Skew textSkew(const cv::Mat& ink, const std::vector<cv::Rect>& leaveOut, const SkewParams& p) {
    Skew skew;
    cv::Mat counted = ink.clone();
    for (const cv::Rect& r : leaveOut)
        counted(r & cv::Rect(0, 0, ink.cols, ink.rows)).setTo(0);
    std::vector<cv::Point> all;
    cv::findNonZero(counted, all);
    if (int(all.size()) < p.leastInk)
        return skew;
    // Every other pixel of ink tells the lines as well and costs half.
    std::vector<cv::Point> points;
    points.reserve(all.size() / 2 + 1);
    for (size_t k = 0; k < all.size(); k += 2)
        points.push_back(all[k]);
    double sharp = 0;
    double level = 0;
    const double coarse =
        bestAngle(points, ink.size(), -p.maxDegrees, p.maxDegrees, p.coarseStep, &sharp, &level);
    const double fine =
        bestAngle(points, ink.size(), coarse - p.coarseStep, coarse + p.coarseStep, p.fineStep, &sharp);
    qCDebug(lcLocate) << "text skew" << fine << "degrees, sharpness" << sharp / std::max(1.0, level)
                      << "times its level";
    if (sharp < p.leastSharpening * level)
        return skew;
    skew.degrees = fine;
    skew.from = Skew::From::Text;
    return skew;
}

Skew photographSkew(const Work& work, const cv::Rect& photo, const SkewParams& p) {
    Skew skew;
    cv::Mat smooth;
    cv::GaussianBlur(work.grey, smooth, cv::Size(3, 3), 0);
    const cv::Rect page(0, 0, smooth.cols, smooth.rows);
    const int reach = std::max(4, int(std::lround(2.5 * work.pxPerMm))); // about the box's edge
    const int inward = std::max(3, int(std::lround(1.5 * work.pxPerMm)));
    // Each side: points along its middle, where the grey crosses halfway between the
    // paper and the photograph just inside it.
    std::vector<double> angles;
    for (int side = 0; side < 4; ++side) {
        const bool across = side < 2; // top, bottom: points along x
        const int length = across ? photo.width : photo.height;
        if (length * p.edgeShare < p.leastEdgeMm * work.pxPerMm)
            continue;
        const int first = int(length * (1 - p.edgeShare) / 2);
        std::vector<cv::Point2f> points;
        for (int k = first; k < length - first; ++k) {
            const int along = (across ? photo.x : photo.y) + k;
            // From outside in: a line of pixels perpendicular to the side.
            const int edge = side == 0   ? photo.y
                             : side == 1 ? photo.y + photo.height - 1
                             : side == 2 ? photo.x
                                         : photo.x + photo.width - 1;
            const int out = side == 0 || side == 2 ? -1 : 1;
            const int start = edge + out * reach;
            const int end = edge - out * inward;
            auto at = [&](int i) {
                const cv::Point q = across ? cv::Point(along, i) : cv::Point(i, along);
                return page.contains(q) ? double(smooth.at<uchar>(q)) : double(work.paper);
            };
            const double inside = at(end);
            if (std::abs(inside - work.paper) < 6)
                continue;
            const double level = (inside + work.paper) / 2;
            const double where = crossing(at, start, end, level);
            if (std::isnan(where))
                continue;
            points.emplace_back(across ? cv::Point2f(float(along), float(where))
                                       : cv::Point2f(float(where), float(along)));
        }
        if (points.size() < size_t(std::max(8.0, p.leastEdgeMm * work.pxPerMm * 0.6)))
            continue;
        cv::Vec4f line;
        cv::fitLine(points, line, cv::DIST_HUBER, 0, 0.01, 0.01);
        // The line's direction (vx, vy): across sides tilt by atan(vy / vx) clockwise; the
        // upright ones by atan(-vx / vy).
        const double degrees = across ? std::atan2(double(line[1]), double(line[0])) / kRadian
                                      : std::atan2(-double(line[0]), double(line[1])) / kRadian;
        // The fitted direction may point either way along the line.
        double folded = std::remainder(degrees, 180.0);
        angles.push_back(folded);
    }
    if (angles.size() < 2)
        return skew;
    std::sort(angles.begin(), angles.end());
    qCDebug(lcLocate) << "photograph's sides at" << angles.front() << "to" << angles.back() << "degrees";
    if (angles.back() - angles.front() > p.sidesAgreeDegrees || std::abs(angles.front()) > p.maxDegrees ||
        std::abs(angles.back()) > p.maxDegrees)
        return skew;
    const size_t n = angles.size();
    skew.degrees = n % 2 ? angles[n / 2] : (angles[n / 2 - 1] + angles[n / 2]) / 2;
    skew.from = Skew::From::Photograph;
    return skew;
}

cv::Mat straightened(const cv::Mat& grey, double degrees, int fill) {
    const cv::Point2f centre(float((grey.cols - 1) / 2.0), float((grey.rows - 1) / 2.0));
    // OpenCV's positive angle turns anticlockwise as shown.
    const cv::Mat turn = cv::getRotationMatrix2D(centre, -degrees, 1);
    cv::Mat out;
    cv::warpAffine(grey, out, turn, grey.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(fill));
    return out;
}

} // namespace Locate
