#include "locate/PhotoCheck.h"

#include "locate/FaceCascade.h"
#include "locate/FaceFinder.h"
#include "locate/Logging.h"
#include "locate/WorkPicture.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace PhotoCheck {

namespace {

// The face's box is looked at with its width at this many pixels for the eyes, sharpness
// and exposure, so that a crop of any size and a face of any size measure alike.
constexpr int kFaceWidth = 128;

cv::Mat greyOf(const QImage& crop) {
    const QImage grey = crop.convertToFormat(QImage::Format_Grayscale8);
    return cv::Mat(grey.height(), grey.width(), CV_8UC1, const_cast<uchar*>(grey.constBits()),
                   grey.bytesPerLine())
        .clone();
}

cv::Rect inside(const cv::Rect& r, const cv::Mat& image) {
    return r & cv::Rect(0, 0, image.cols, image.rows);
}

// The cascade's faces on the crop seen with its short side at 200 pixels and equalised,
// none smaller than minSideOnCrop (on the crop) nor leastSide (in the view); *scale: from
// the crop to that view. Empty without the cascade.
std::vector<FaceCascade::Hit> cascadeHits(const cv::Mat& grey, double minSideOnCrop, int leastSide,
                                          double* scale) {
    std::string why;
    const FaceCascade::Finder find = FaceCascade::finder(&why);
    *scale = 200.0 / std::min(grey.cols, grey.rows);
    cv::Mat small;
    cv::resize(grey, small, cv::Size(), *scale, *scale, *scale < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
    cv::equalizeHist(small, small);
    std::vector<FaceCascade::Hit> hits;
    const int minSide = std::max(leastSide, int(minSideOnCrop * *scale));
    if (!find || !find(small, minSide, &hits, &why))
        hits.clear();
    return hits;
}

// Faces beside the main one: the cascade's, clear of it and not much smaller.
int otherFaces(const cv::Mat& grey, const cv::Rect& face) {
    double scale = 1;
    const std::vector<FaceCascade::Hit> hits = cascadeHits(grey, face.width * 0.6, 24, &scale);
    const cv::Rect mine(int(face.x * scale), int(face.y * scale), int(face.width * scale),
                        int(face.height * scale));
    std::vector<cv::Rect> others;
    for (const FaceCascade::Hit& hit : hits) {
        const cv::Point centre = (hit.rect.tl() + hit.rect.br()) / 2;
        // Five votes: what the locator counts as a face of the cascade's.
        if (hit.votes < 5 || (mine & hit.rect).area() > 0 || mine.contains(centre))
            continue;
        if (std::none_of(others.begin(), others.end(),
                         [&](const cv::Rect& r) { return (r & hit.rect).area() > 0; }))
            others.push_back(hit.rect);
    }
    return int(others.size());
}

// The cascade's best face on the crop, when dlib's detector has none it trusts: drawn and
// painted faces, which the cascade finds more of. Empty when it has none with two votes.
cv::Rect cascadeFace(const cv::Mat& grey) {
    double scale = 1;
    const std::vector<FaceCascade::Hit> hits = cascadeHits(grey, 0, 60, &scale);
    const FaceCascade::Hit* best = nullptr;
    for (const FaceCascade::Hit& hit : hits) {
        if (hit.votes >= 2 && (!best || hit.votes > best->votes))
            best = &hit;
    }
    if (!best)
        return {};
    const cv::Rect& r = best->rect;
    return cv::Rect(int(r.x / scale), int(r.y / scale), int(r.width / scale), int(r.height / scale));
}

// The eyes in the face's upper part, the picture's left one first; false unless both are
// found where eyes can be.
bool eyesIn(const cv::Mat& grey, const cv::Rect& face, cv::Point2d* left, cv::Point2d* right) {
    std::string why;
    const FaceCascade::Finder find = FaceCascade::eyeFinder(&why);
    if (!find)
        return false;
    const cv::Rect upper = inside(cv::Rect(face.x, face.y, face.width, int(face.height * 0.65)), grey);
    if (upper.empty())
        return false;
    const double scale = double(kFaceWidth) / face.width;
    cv::Mat view;
    cv::resize(grey(upper), view, cv::Size(), scale, scale, scale < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
    cv::equalizeHist(view, view);
    std::vector<FaceCascade::Hit> hits;
    if (!find(view, kFaceWidth / 8, &hits, &why))
        return false;
    const double middle = (face.x + face.width / 2.0 - upper.x) * scale;
    int best[2] = {-1, -1};
    for (int k = 0; k < int(hits.size()); ++k) {
        const cv::Rect& r = hits[k].rect;
        const double cx = r.x + r.width / 2.0;
        const double cy = r.y + r.height / 2.0;
        // An eye is no wider than half the face, lies on its side of the middle and not at
        // the box's very top (the brows).
        if (r.width > kFaceWidth / 2 || cy < kFaceWidth * 0.12 || std::abs(cx - middle) < kFaceWidth * 0.08)
            continue;
        const int side = cx < middle ? 0 : 1;
        if (best[side] < 0 || hits[k].votes > hits[best[side]].votes)
            best[side] = k;
    }
    if (best[0] < 0 || best[1] < 0)
        return false;
    const auto centreOf = [&](const cv::Rect& r) {
        return cv::Point2d(upper.x + (r.x + r.width / 2.0) / scale, upper.y + (r.y + r.height / 2.0) / scale);
    };
    *left = centreOf(hits[best[0]].rect);
    *right = centreOf(hits[best[1]].rect);
    const cv::Point2d d = *right - *left;
    // Two eyes are a third to two thirds of the face apart, and no steeper than 20 degrees.
    return d.x > face.width * 0.3 && d.x < face.width * 0.7 && std::abs(d.y) < d.x * 0.36;
}

// The face's roll in degrees, clockwise positive: the angle that makes the face most like
// its mirror image about a vertical line near its middle. Eyes found by the cascade are
// placed to a few pixels only, too coarse for the 3 degrees that matter; a face's symmetry
// holds over its whole box. face: the detector's box; eyes: their middle.
constexpr double kMostRoll = 20;

double rollOf(const cv::Mat& grey, const cv::Rect& face, cv::Point2d eyes) {
    constexpr int kSide = 64;
    const double scale = double(kSide) / face.width;
    cv::Mat view(kSide, kSide, CV_8UC1);
    cv::Mat equalised;
    double best = 1e18;
    double bestAngle = 0;
    for (double angle = -kMostRoll; angle <= kMostRoll + 0.01; angle += 1) {
        // The face turned by -angle about the eyes' middle, which lands at the view's
        // point (kSide / 2, kSide * 0.3).
        cv::Mat m = cv::getRotationMatrix2D(eyes, angle, scale);
        m.at<double>(0, 2) += kSide / 2.0 - eyes.x;
        m.at<double>(1, 2) += kSide * 0.3 - eyes.y;
        cv::warpAffine(grey, view, m, view.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
        cv::Mat flipped;
        cv::flip(view, flipped, 1);
        // Rows from the brows to the mouth, the middle two thirds of the width.
        const cv::Rect band(kSide / 6, int(kSide * 0.12), kSide * 2 / 3, int(kSide * 0.7));
        for (int shift = -4; shift <= 4; shift += 2) {
            const cv::Rect other = band + cv::Point(-shift, 0);
            const double difference = cv::norm(view(band + cv::Point(shift, 0)), flipped(other), cv::NORM_L1);
            if (difference < best) {
                best = difference;
                bestAngle = angle;
            }
        }
    }
    return bestAngle;
}

// The top of the hair against a plain background: going up from the forehead, the first
// rows where a band over the eyes' middle looks like the same rows' far left and right
// (the background, or the paper round a photograph framed loosely). -1 when the band never
// does (the head cut off by the top edge, or a busy background).
double crownOf(const QImage& crop, double eyeX, double eyeY, double faceHeight) {
    const QImage rgb = crop.convertToFormat(QImage::Format_RGB32);
    const int w = rgb.width();
    const int from = std::clamp(int(eyeX - 0.2 * faceHeight), 0, w - 1);
    const int to = std::clamp(int(eyeX + 0.2 * faceHeight), from + 1, w);
    const int sideFrom = std::max(1, w / 50);
    const int sideTo = std::max(sideFrom + 1, w / 8);
    int run = 0;
    for (int y = std::min(int(eyeY - 0.3 * faceHeight), rgb.height() - 1); y >= 0; --y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        double reference[3] = {0, 0, 0};
        for (int x = sideFrom; x < sideTo; ++x) {
            for (const QRgb p : {line[x], line[w - 1 - x]}) {
                reference[0] += qRed(p);
                reference[1] += qGreen(p);
                reference[2] += qBlue(p);
            }
        }
        for (double& r : reference)
            r /= 2 * (sideTo - sideFrom);
        int differing = 0;
        for (int x = from; x < to; ++x) {
            const double d = std::abs(qRed(line[x]) - reference[0]) +
                             std::abs(qGreen(line[x]) - reference[1]) +
                             std::abs(qBlue(line[x]) - reference[2]);
            differing += d > 60;
        }
        run = differing * 4 < to - from ? run + 1 : 0;
        if (run == 3)
            return y + 3;
    }
    return -1;
}

// How much detail a slight blur takes away from the face, 0..1: a sharp face loses about
// half its gradient, one already blurred little of it. Contrast cancels out.
double sharpnessOf(const cv::Mat& face) {
    cv::Mat blurred;
    cv::GaussianBlur(face, blurred, cv::Size(0, 0), 1.0);
    const auto gradient = [](const cv::Mat& image) {
        cv::Mat dx, dy;
        cv::Sobel(image, dx, CV_32F, 1, 0);
        cv::Sobel(image, dy, CV_32F, 0, 1);
        return cv::mean(cv::abs(dx))[0] + cv::mean(cv::abs(dy))[0];
    };
    const double sharp = gradient(face);
    return sharp > 0 ? std::max(0.0, 1 - gradient(blurred) / sharp) : 0;
}

// The band above and beside the head, down to the eyes, at half size: its mean gradient
// after a light blur (scanner grain left out), and the spread of its colour.
void backgroundOf(const QImage& crop, const cv::Rect& head, double eyeY, Measures* m) {
    const QImage rgbImage = crop.convertToFormat(QImage::Format_RGB888);
    const cv::Mat rgb(rgbImage.height(), rgbImage.width(), CV_8UC3, const_cast<uchar*>(rgbImage.constBits()),
                      rgbImage.bytesPerLine());
    cv::Mat small;
    cv::resize(rgb, small, cv::Size(), 0.5, 0.5, cv::INTER_AREA);
    cv::Mat mask(small.size(), CV_8UC1, cv::Scalar(0));
    const int margin = head.width / 12;
    const int bottom = int(eyeY / 2);
    const int top = (head.y - margin) / 2;
    if (top > 0)
        mask(cv::Rect(0, 0, small.cols, top)).setTo(255);
    const int leftEnd = (head.x - margin) / 2;
    const int rightStart = (head.x + head.width + margin) / 2;
    if (leftEnd > 0 && bottom > 0)
        mask(inside(cv::Rect(0, 0, leftEnd, bottom), mask)).setTo(255);
    if (rightStart < small.cols && bottom > 0)
        mask(inside(cv::Rect(rightStart, 0, small.cols - rightStart, bottom), mask)).setTo(255);
    // A few rows round the edges may show the frame's border on paper: left out.
    mask.rowRange(0, 2).setTo(0);
    mask.colRange(0, 2).setTo(0);
    mask.colRange(mask.cols - 2, mask.cols).setTo(0);
    if (cv::countNonZero(mask) < int(small.total() / 50))
        return; // the head fills the crop: no background to judge
    cv::Mat grey, dx, dy, magnitude;
    cv::cvtColor(small, grey, cv::COLOR_RGB2GRAY);
    cv::GaussianBlur(grey, grey, cv::Size(0, 0), 1.0);
    cv::Sobel(grey, dx, CV_32F, 1, 0);
    cv::Sobel(grey, dy, CV_32F, 0, 1);
    cv::magnitude(dx, dy, magnitude);
    // Sobel's 3x3 weighs a step of one level as 4.
    m->backgroundEdges = cv::mean(magnitude, mask)[0] / 4;
    cv::Mat channels[3];
    cv::Mat wide;
    small.convertTo(wide, CV_32F);
    cv::split(wide, channels);
    const cv::Mat a = channels[0] - channels[1];
    const cv::Mat b = (channels[0] + channels[1]) / 2 - channels[2];
    cv::Scalar meanA, deviationA, meanB, deviationB;
    cv::meanStdDev(a, meanA, deviationA, mask);
    cv::meanStdDev(b, meanB, deviationB, mask);
    m->backgroundHue = std::hypot(deviationA[0], deviationB[0]);
}

Measures measureOn(const QImage& crop, const cv::Mat& grey, const QRect& faceBox, const HeadModel& head);

} // namespace

Measures measure(const QImage& crop, const HeadModel& head) {
    Measures m;
    m.size = crop.size();
    if (crop.isNull())
        return m;
    const cv::Mat grey = greyOf(crop);
    Locate::Work work;
    work.grey = grey;
    work.pxPerMm = grey.rows / 45.0;
    Locate::FaceParams params;
    // A face down to half the crop's height is still well above the detector's window.
    params.viewShortSide = 240;
    // No second look with more room round the crop, in all four turns: a crop has its
    // margin. Without it the bench's 325 crops still all had their face and forms-1's 63
    // the same verdicts, and the worst crop took 47 ms of processor time instead of 100.
    params.wideMarginParts[0] = params.wideMarginParts[1] = 0;
    const Locate::FaceAnswer answer = Locate::faceIn(work, cv::Rect(0, 0, grey.cols, grey.rows), params);
    // The operator framed a photograph: a face scoring over the weak level counts (dlib's,
    // or the cascade's two votes for a drawn face), or a weaker one of dlib's the cascade
    // confirms, where on a whole page the locator wants more before it calls a picture a
    // photograph.
    const bool upright = answer.turn == 0 && answer.score > 0;
    cv::Rect face = answer.face;
    if (!upright || (answer.score < params.weak && !answer.confirmed) || face.empty())
        face = cascadeFace(grey);
    if (face.empty()) {
        qCDebug(lcLocate) << "check: no upright face" << answer.turn << answer.score;
        return m;
    }
    m = measureOn(crop, grey, QRect(face.x, face.y, face.width, face.height), head);
    m.faces = 1 + otherFaces(grey, face);
    return m;
}

Measures measureAround(const QImage& crop, const QRect& faceBox, const HeadModel& head) {
    return measureOn(crop, greyOf(crop), faceBox, head);
}

namespace {

Measures measureOn(const QImage& crop, const cv::Mat& grey, const QRect& faceBox, const HeadModel& head) {
    Measures m;
    m.size = crop.size();
    m.faces = 1;
    const cv::Rect face = inside(cv::Rect(faceBox.x(), faceBox.y(), faceBox.width(), faceBox.height()), grey);
    if (face.width < 8 || face.height < 8)
        return m;
    m.face = QRectF(face.x, face.y, face.width, face.height);

    cv::Point2d left, right;
    m.eyesSeen = eyesIn(grey, face, &left, &right);
    if (!m.eyesSeen) {
        const double y = face.y + head.eyesDownBox * face.height;
        const double centre = face.x + face.width / 2.0;
        left = {centre - head.eyesApart / 2 * face.width, y};
        right = {centre + head.eyesApart / 2 * face.width, y};
    }
    m.leftEye = QPointF(left.x, left.y);
    m.rightEye = QPointF(right.x, right.y);
    const double eyeY = (left.y + right.y) / 2;
    // The chin from the face's box and, when the eyes were seen, from how far apart they
    // are: two estimates whose errors are apart, averaged.
    m.chin = eyeY + head.chinBelowEyes * face.height;
    if (m.eyesSeen)
        m.chin =
            (m.chin + eyeY + head.chinBelowEyesApart * std::hypot(right.x - left.x, right.y - left.y)) / 2;
    // The crown where the hair meets a plain background, when that is near where the face
    // says it should be; otherwise from the face.
    m.crown = eyeY - head.crownAboveEyes * face.height;
    const double seen = crownOf(crop, (left.x + right.x) / 2, eyeY, face.height);
    if (seen >= 0 && seen > m.crown - 0.35 * face.height && seen < m.crown + 0.3 * face.height)
        m.crown = seen;
    m.roll = rollOf(grey, face, (left + right) / 2);
    // A best match at the search's very edge is no minimum: the face is not alike enough to
    // its mirror image (a turned head, one-sided light, eyes placed from the box). On the
    // bench's good crops 17 of 25 such answers were for faces whose eyes were not found.
    // The eyes' own line then, when they were seen; otherwise the roll is not known.
    if (std::abs(m.roll) >= kMostRoll)
        m.roll = m.eyesSeen ? std::atan2(right.y - left.y, right.x - left.x) * 180 / CV_PI : 0;

    // The face itself, its box less a tenth each side (hair and background at its corners).
    const cv::Rect inner = inside(cv::Rect(face.x + face.width / 10, face.y + face.height / 10,
                                           face.width * 8 / 10, face.height * 8 / 10),
                                  grey);
    if (!inner.empty()) {
        cv::Mat view;
        const double scale = double(kFaceWidth) / inner.width;
        cv::resize(grey(inner), view, cv::Size(), scale, scale,
                   scale < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
        m.sharpness = sharpnessOf(view);
        // The exposure on the skin: cheeks, nose and mouth, below the eyes (whose pupils are
        // black in any good photo) and inside the hair.
        const double eyeX = (left.x + right.x) / 2;
        const cv::Rect cheeks = inside(cv::Rect(int(eyeX - 0.3 * face.width), int(eyeY + 0.1 * face.height),
                                                int(0.6 * face.width), int(0.5 * face.height)),
                                       grey);
        // Smoothed first: nostrils, an open mouth or a glint are small and dark or light in
        // any good photo; burnt or crushed skin covers more than a few pixels.
        cv::Mat skin;
        cv::blur(grey(cheeks.empty() ? inner : cheeks), skin, cv::Size(5, 5));
        const double all = double(skin.total());
        m.darkClipped = cv::countNonZero(skin <= 8) / all;
        m.lightClipped = cv::countNonZero(skin >= 247) / all;
        m.luma = cv::mean(skin)[0] / 255;
    }
    const int headWidth = int(face.width * 1.24);
    const cv::Rect headBox(int(face.x + face.width / 2.0 - headWidth / 2.0), int(m.crown), headWidth,
                           int(m.chin - m.crown));
    backgroundOf(crop, headBox, eyeY, &m);
    return m;
}

} // namespace

} // namespace PhotoCheck
