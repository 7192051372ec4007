#pragma once

#include <opencv2/core.hpp>

#include <QImage>
#include <QRect>
#include <QSize>

#include <vector>

// The locator's finders share this: the page reduced to the working resolution, in grey,
// with what a millimetre and the paper are on it, and the small geometry that takes their
// answers back to the page.
namespace Locate {

struct Work {
    cv::Mat grey;       // working copy, 8-bit
    double toPage = 1;  // page pixels per working pixel
    double pxPerMm = 3; // working pixels per millimetre, assuming an A4-sized page
    int paper = 245;    // grey level of the paper
};

// The working copy of picture (the stored page, at full or reduced size) for a stored page
// of pageSize.
Work prepare(const QImage& picture, QSize pageSize);

// A rectangle of an image of size, after the image is turned clockwise by turn degrees.
cv::Rect turnRect(const cv::Rect& r, cv::Size size, int turn);

// image turned clockwise by turn degrees (0, 90, 180, 270).
cv::Mat turned(const cv::Mat& image, int turn);

// A working rectangle in pixels of the (turned) page of size turnedPage, grown outwards to
// whole page pixels and kept on the page.
QRect toPage(const cv::Rect& r, const Work& work, QSize turnedPage);

// One 8-connected piece of a mask.
struct Blob {
    cv::Rect box;
    int area = 0;
    int label = 0; // its value in the labels image
};

// The pieces of mask, background left out; labels, when given, receives the labels image.
std::vector<Blob> blobsOf(const cv::Mat& mask, cv::Mat* labels = nullptr);

} // namespace Locate
