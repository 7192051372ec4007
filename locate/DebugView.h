#pragma once

#include <opencv2/core.hpp>

#include <QString>

#include <vector>

// What each stage of one page's search saw, written as PNG pictures when the environment
// names a folder in VETRA_LOCATE_DEBUG, so that a miss can be looked at: the masks as they
// are, the candidates as boxes drawn on the working copy. Off (and costing nothing) when the
// variable is unset or empty. Files are named by page (a number counted by the process) and
// stage: 0003-photo-blocks.png.
class DebugView {
  public:
    DebugView(); // reads the environment
    bool on() const { return !m_prefix.isEmpty(); }

    // An 8-bit mask or grey picture as it is.
    void picture(const char* stage, const cv::Mat& image) const;
    // grey with boxes drawn on it (red, and the chosen one, when chosen >= 0, green).
    void boxes(const char* stage, const cv::Mat& grey, const std::vector<cv::Rect>& boxes,
               int chosen = -1) const;

  private:
    QString m_prefix; // folder and page number, empty when off
};
