#include "locate/WorkPicture.h"

#include "locate/Locator.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace Locate {

namespace {

// A picture up to this much larger than the working size is worked on as it is: reducing
// it again would only blur it.
constexpr double kNoReductionUpTo = 5.0 / 4;

// The share of the page lighter than the paper's grey level: text, rules and pictures
// cover well under 40 % of a form.
constexpr double kPaperPercentile = 0.6;

// The long side of A4, which the working size assumes.
constexpr double kPageLongMm = 297.0;

cv::Mat greyOf(const QImage& picture) {
    if (picture.format() == QImage::Format_Grayscale8) {
        const cv::Mat wrapped(picture.height(), picture.width(), CV_8UC1,
                              const_cast<uchar*>(picture.constBits()), size_t(picture.bytesPerLine()));
        return wrapped.clone();
    }
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    const cv::Mat wrapped(rgb.height(), rgb.width(), CV_8UC4, const_cast<uchar*>(rgb.constBits()),
                          size_t(rgb.bytesPerLine()));
    cv::Mat grey;
    cv::cvtColor(wrapped, grey, cv::COLOR_BGRA2GRAY);
    return grey;
}

int percentile(const cv::Mat& grey, double fraction) {
    int histogram[256] = {};
    for (int y = 0; y < grey.rows; ++y) {
        const uchar* row = grey.ptr<uchar>(y);
        for (int x = 0; x < grey.cols; ++x)
            ++histogram[row[x]];
    }
    const double wanted = fraction * double(grey.total());
    double seen = 0;
    for (int v = 0; v < 256; ++v) {
        seen += histogram[v];
        if (seen >= wanted)
            return v;
    }
    return 255;
}

} // namespace

Work prepare(const QImage& picture, QSize pageSize) {
    constexpr int workLong = Locator::kWorkingLongSide;
    Work work;
    cv::Mat grey = greyOf(picture);
    const int longSide = std::max(grey.cols, grey.rows);
    if (longSide > workLong * kNoReductionUpTo) {
        const double f = double(workLong) / longSide;
        cv::resize(grey, work.grey, cv::Size(), f, f, cv::INTER_AREA);
    } else {
        work.grey = grey;
    }
    work.toPage =
        double(std::max(pageSize.width(), pageSize.height())) / std::max(work.grey.cols, work.grey.rows);
    work.pxPerMm = std::max(work.grey.cols, work.grey.rows) / kPageLongMm;
    work.paper = percentile(work.grey, kPaperPercentile);
    return work;
}

cv::Rect turnRect(const cv::Rect& r, cv::Size size, int turn) {
    switch (turn) {
    case 90:
        return {size.height - r.y - r.height, r.x, r.height, r.width};
    case 180:
        return {size.width - r.x - r.width, size.height - r.y - r.height, r.width, r.height};
    case 270:
        return {r.y, size.width - r.x - r.width, r.height, r.width};
    default:
        return r;
    }
}

cv::Mat turned(const cv::Mat& image, int turn) {
    cv::Mat out;
    switch (turn) {
    case 90:
        cv::rotate(image, out, cv::ROTATE_90_CLOCKWISE);
        return out;
    case 180:
        cv::rotate(image, out, cv::ROTATE_180);
        return out;
    case 270:
        cv::rotate(image, out, cv::ROTATE_90_COUNTERCLOCKWISE);
        return out;
    default:
        return image;
    }
}

QRect toPage(const cv::Rect& r, const Work& work, QSize turnedPage) {
    const int x0 = int(std::floor(r.x * work.toPage));
    const int y0 = int(std::floor(r.y * work.toPage));
    const int x1 = int(std::ceil((r.x + r.width) * work.toPage));
    const int y1 = int(std::ceil((r.y + r.height) * work.toPage));
    return QRect(QPoint(x0, y0), QPoint(x1 - 1, y1 - 1)) & QRect(QPoint(0, 0), turnedPage);
}

std::vector<Blob> blobsOf(const cv::Mat& mask, cv::Mat* labels) {
    cv::Mat ownLabels, stats, centroids;
    cv::Mat& into = labels ? *labels : ownLabels;
    const int count = cv::connectedComponentsWithStats(mask, into, stats, centroids, 8, CV_32S);
    std::vector<Blob> blobs;
    blobs.reserve(size_t(std::max(0, count - 1)));
    for (int i = 1; i < count; ++i) {
        blobs.push_back({cv::Rect(stats.at<int>(i, cv::CC_STAT_LEFT), stats.at<int>(i, cv::CC_STAT_TOP),
                                  stats.at<int>(i, cv::CC_STAT_WIDTH), stats.at<int>(i, cv::CC_STAT_HEIGHT)),
                         stats.at<int>(i, cv::CC_STAT_AREA), i});
    }
    return blobs;
}

} // namespace Locate
