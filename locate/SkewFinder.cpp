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
    const cv::Rect page(0, 0, work.grey.cols, work.grey.rows);
    const double tanMost = std::tan(p.maxDegrees * kRadian);
    const int margin = int(std::ceil(std::max(photo.width, photo.height) * tanMost)) + 8;
    const cv::Rect area =
        cv::Rect(photo.x - margin, photo.y - margin, photo.width + 2 * margin, photo.height + 2 * margin) &
        page;
    if (area.empty())
        return skew;
    const cv::Mat grey = work.grey(area);
    const auto greyAt = [&](cv::Point q) {
        return area.contains(q) ? float(grey.at<uchar>(q - area.tl())) : float(work.paper);
    };
    struct Side {
        double degrees = 0;
        double support = 0;
        int side = 0;
        double out = 0; // pixels out of the box at the side's middle
    };
    std::vector<Side> sides;
    for (int side = 0; side < 4; ++side) {
        const bool across = side < 2; // top, bottom: the edge runs along x
        const int length = across ? photo.width : photo.height;
        if (length * p.edgeShare < p.leastEdgeMm * work.pxPerMm)
            continue;
        // Along the side's middle, the edge of a photograph turned by up to maxDegrees lies
        // either side of the box's line: the box is the photograph's bounding box or the
        // largest upright one inside it, or between the two.
        const int first = int(length * (1 - p.edgeShare) / 2);
        const int count = length - 2 * first;
        const int reach = int(std::ceil(count / 2.0 * tanMost)) + 3;
        const int out = side == 0 || side == 2 ? -1 : 1;
        const int edge = side == 0   ? photo.y
                         : side == 1 ? photo.y + photo.height - 1
                         : side == 2 ? photo.x
                                     : photo.x + photo.width - 1;
        // For the k-th point along the side, the grey across it (profile, j pixels in from
        // kFlank beyond the outermost place looked at) and how sharply it changes there (g,
        // capped: one strong edge of the picture inside counts no more than the
        // photograph's faint one against paper).
        constexpr int kFlank = 5;
        const int flank = std::clamp(p.edgeFlank, 1, kFlank);
        const int depth = 2 * reach + 1;
        const int wide = depth + 2 * kFlank;
        std::vector<float> profile(size_t(count) * size_t(wide));
        std::vector<float> g(size_t(count) * size_t(depth), 0.f);
        std::vector<float> change(size_t(count) * size_t(depth), 0.f);
        for (int k = 0; k < count; ++k) {
            const int along = (across ? photo.x : photo.y) + first + k;
            float* row = &profile[size_t(k) * size_t(wide)];
            for (int j = 0; j < wide; ++j) {
                const int at = edge + out * (reach + kFlank - j);
                row[j] = greyAt(across ? cv::Point(along, at) : cv::Point(at, along));
            }
            for (int j = 0; j < depth; ++j) {
                const float d = std::abs(row[j + kFlank + 1] - row[j + kFlank - 1]);
                change[size_t(k) * size_t(depth) + size_t(j)] = d;
                g[size_t(k) * size_t(depth) + size_t(j)] = std::min(d, float(p.edgeCap));
            }
        }
        // A line across (j = c + slope * (k - middle)) reads the k-th row of values between
        // pixels.
        const double middle = (count - 1) / 2.0;
        const auto along = [&](const std::vector<float>& values, int stride, int shift, double c,
                               double slope, auto&& each) {
            for (int k = 0; k < count; ++k) {
                const double j = c + shift + slope * (k - middle);
                const int j0 = int(std::floor(j));
                if (j0 < 0 || j0 + 1 >= stride)
                    continue;
                const double f = j - j0;
                const float* row = &values[size_t(k) * size_t(stride)];
                each(row[j0] * (1 - f) + row[j0 + 1] * f);
            }
        };
        const auto score = [&](double c, double slope) {
            double sum = 0;
            along(g, depth, 0, c, slope, [&](double v) { sum += v; });
            return sum / count;
        };
        // A clockwise turn takes a top or bottom edge down to the right, a left or right
        // edge to the left at its foot; j counts inward, which is down on the top side.
        const double sign = side == 0 ? 1 : side == 1 ? -1 : side == 2 ? -1 : 1;
        const auto slopeOf = [&](double degrees) { return sign * std::tan(degrees * kRadian); };
        const int places = (depth - 1) * 2 + 1;
        std::vector<double> bestAt(size_t(places), 0);
        std::vector<double> angleAt(size_t(places), 0);
        for (int i = 0; i < places; ++i) {
            for (double a = -p.maxDegrees; a <= p.maxDegrees + 1e-9; a += p.coarseStep) {
                const double s = score(i / 2.0, slopeOf(a));
                if (s > bestAt[size_t(i)]) {
                    bestAt[size_t(i)] = s;
                    angleAt[size_t(i)] = a;
                }
            }
        }
        const double most = *std::max_element(bestAt.begin(), bestAt.end());
        if (most <= 0)
            continue;
        // The photograph's edge is the outermost strong line that steps from one grey to
        // another: within the photograph lie its picture's edges; a printed rule just
        // outside it, paper on both its sides, is no step; a shadow beside it runs parallel.
        for (int i = 0; i < places; ++i) {
            const double v = bestAt[size_t(i)];
            const bool peak =
                i > 0 && i + 1 < places && v > bestAt[size_t(i - 1)] && v >= bestAt[size_t(i + 1)];
            if (!peak || v < p.outermostShare * most)
                continue;
            // The line to a fraction of a pixel: on each row the sharpest change near it, found
            // between pixels, and a straight line fitted through those, the points off it by
            // more than a pixel left out.
            double place = i / 2.0;
            double slope = slopeOf(angleAt[size_t(i)]);
            std::vector<cv::Point2d> points;
            for (int k = 0; k < count; ++k) {
                const int j = int(std::lround(place + slope * (k - middle)));
                const float* row = &change[size_t(k) * size_t(depth)];
                int top = -1;
                for (int q = std::max(1, j - 2); q <= std::min(depth - 2, j + 2); ++q)
                    if (top < 0 || row[q] > row[top])
                        top = q;
                if (top < 0 || row[top] < p.leastEdgeChange)
                    continue;
                const double denominator = row[top - 1] - 2.0 * row[top] + row[top + 1];
                const double shift = denominator < 0 ? 0.5 * (row[top - 1] - row[top + 1]) / denominator : 0;
                points.emplace_back(k - middle, top + std::clamp(shift, -0.5, 0.5));
            }
            for (int pass = 0; pass < 2 && points.size() >= 8; ++pass) {
                double sk = 0, sj = 0, skk = 0, skj = 0;
                for (const cv::Point2d& q : points) {
                    sk += q.x;
                    sj += q.y;
                    skk += q.x * q.x;
                    skj += q.x * q.y;
                }
                const double n = double(points.size());
                const double spread = skk - sk * sk / n;
                if (spread <= 0)
                    break;
                slope = (skj - sk * sj / n) / spread;
                place = sj / n - slope * sk / n;
                std::vector<cv::Point2d> kept;
                for (const cv::Point2d& q : points)
                    if (std::abs(q.y - place - slope * q.x) <= 1.0)
                        kept.push_back(q);
                points.swap(kept);
            }
            const double angle = std::atan(sign * slope) / kRadian;
            if (std::abs(angle) > p.maxDegrees)
                continue;
            double outside = 0, inside = 0;
            along(profile, wide, kFlank - flank, place, slope, [&](double v) { outside += v; });
            along(profile, wide, kFlank + flank, place, slope, [&](double v) { inside += v; });
            const double step = std::abs(outside - inside) / count;
            const double support = double(points.size()) / count;
            qCDebug(lcLocate) << "photograph's side" << side << "at" << angle << "degrees," << reach - place
                              << "px out of its box: steps by" << step << "on" << support << "of it";
            if (step < p.leastEdgeStep)
                continue;
            if (support >= p.leastEdgeSupport)
                sides.push_back({angle, support, side, reach - place});
        }
    }
    // Each side may offer more than one line (a rule or a stamp's edge beside the
    // photograph's own): the angle that the most sides agree on, two at least, each side
    // counted once, the strongest group when two are as large.
    std::sort(sides.begin(), sides.end(), [](const Side& a, const Side& b) { return a.degrees < b.degrees; });
    int bestCount = 0;
    double bestSupport = 0;
    double bestDegrees = 0;
    for (size_t i = 0; i < sides.size(); ++i) {
        double strongest[4] = {0, 0, 0, 0};
        double degreesOf[4] = {0, 0, 0, 0};
        double outOf[4] = {0, 0, 0, 0};
        for (size_t j = i; j < sides.size() && sides[j].degrees - sides[i].degrees <= p.sidesAgreeDegrees;
             ++j) {
            if (sides[j].support > strongest[sides[j].side]) {
                strongest[sides[j].side] = sides[j].support;
                degreesOf[sides[j].side] = sides[j].degrees;
                outOf[sides[j].side] = sides[j].out;
            }
        }
        int count = 0;
        double support = 0, sum = 0;
        for (int s = 0; s < 4; ++s) {
            count += strongest[s] > 0;
            support += strongest[s];
            sum += degreesOf[s] * strongest[s];
        }
        if (count > bestCount || (count == bestCount && support > bestSupport)) {
            bestCount = count;
            bestSupport = support;
            bestDegrees = sum / support;
            for (int s = 0; s < 4; ++s)
                skew.edgeOut[s] = strongest[s] > 0 ? outOf[s] : std::nan("");
        }
    }
    if (bestCount < 2)
        return Skew();
    skew.degrees = bestDegrees;
    skew.from = Skew::From::Photograph;
    qCDebug(lcLocate) << "photograph at" << skew.degrees << "degrees," << bestCount << "sides agreeing";
    return skew;
}

cv::Rect turnedBox(const cv::Rect& r, cv::Size size, double degrees) {
    const double c = std::cos(degrees * kRadian);
    const double s = std::sin(degrees * kRadian);
    const double cx = (size.width - 1) / 2.0;
    const double cy = (size.height - 1) / 2.0;
    double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL;
    for (const cv::Point2d q :
         {cv::Point2d(r.x, r.y), cv::Point2d(r.x + r.width, r.y), cv::Point2d(r.x, r.y + r.height),
          cv::Point2d(r.x + r.width, r.y + r.height)}) {
        const double x = cx + (q.x - cx) * c - (q.y - cy) * s;
        const double y = cy + (q.x - cx) * s + (q.y - cy) * c;
        x0 = std::min(x0, x);
        y0 = std::min(y0, y);
        x1 = std::max(x1, x);
        y1 = std::max(y1, y);
    }
    const cv::Rect box(cv::Point(int(std::floor(x0)), int(std::floor(y0))),
                       cv::Point(int(std::ceil(x1)), int(std::ceil(y1))));
    return box & cv::Rect(0, 0, size.width, size.height);
}

cv::Rect carriedBox(const cv::Rect& r, cv::Size size, double degrees) {
    const double a = degrees * kRadian;
    const double cx = (size.width - 1) / 2.0;
    const double cy = (size.height - 1) / 2.0;
    const double mx = r.x + (r.width - 1) / 2.0 - cx;
    const double my = r.y + (r.height - 1) / 2.0 - cy;
    const double nx = cx + mx * std::cos(a) - my * std::sin(a);
    const double ny = cy + mx * std::sin(a) + my * std::cos(a);
    const cv::Rect box(int(std::lround(nx - (r.width - 1) / 2.0)),
                       int(std::lround(ny - (r.height - 1) / 2.0)), r.width, r.height);
    return box & cv::Rect(0, 0, size.width, size.height);
}

cv::Rect levelledPhotograph(const cv::Rect& photo, const Skew& skew, cv::Size size, int inset) {
    // The photograph's box with each side measured moved to its edge, less the inset: the
    // middle of each side barely moves as the photograph turns level about its centre.
    // A side moves in by no more than the box of the photograph so turned would: an edge
    // measured further in is the picture's, not the photograph's.
    const double sine = std::abs(std::sin(skew.degrees * kRadian));
    const auto moved = [&](int side, double across) {
        if (std::isnan(skew.edgeOut[side]))
            return 0.0;
        return std::max(skew.edgeOut[side] - inset, -(across / 2 * sine + 1));
    };
    const double top = photo.y - moved(0, photo.width);
    const double bottom = photo.y + photo.height + moved(1, photo.width);
    const double left = photo.x - moved(2, photo.height);
    const double right = photo.x + photo.width + moved(3, photo.height);
    // Its centre goes where the page's turn takes it, its sides stay upright.
    const double a = -skew.degrees * kRadian;
    const double cx = (size.width - 1) / 2.0;
    const double cy = (size.height - 1) / 2.0;
    const double mx = (left + right) / 2 - cx;
    const double my = (top + bottom) / 2 - cy;
    const double nx = cx + mx * std::cos(a) - my * std::sin(a);
    const double ny = cy + mx * std::sin(a) + my * std::cos(a);
    const double halfWidth = (right - left) / 2;
    const double halfHeight = (bottom - top) / 2;
    const cv::Rect box(cv::Point(int(std::ceil(nx - halfWidth)), int(std::ceil(ny - halfHeight))),
                       cv::Point(int(std::floor(nx + halfWidth)), int(std::floor(ny + halfHeight))));
    return box & cv::Rect(0, 0, size.width, size.height);
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
