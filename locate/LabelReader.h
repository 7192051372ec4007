#pragma once

#include <opencv2/core.hpp>

#include <QString>

#include <optional>

// Reads a form's printed labels, one short line at a time, with Tesseract's Italian model.
// The library and the model are loaded once per process, when first asked for, on a thread
// of its own: loading takes about 85 ms of processor time, reading a line 2-30 ms. Lines come from the
// working copy of the page (about 75 dpi) and are enlarged before they are read.
namespace Locate {

// Starts loading the model now, in the background, instead of on the first line read.
void preloadLabelReader();

// The text of the one line of print in grey (8-bit, a few working pixels round the line),
// or nothing when the library or the model is missing or could not be loaded (said once in the debug log:
// the signature is then looked for by the page's layout alone).
std::optional<QString> readLabelLine(const cv::Mat& grey);

} // namespace Locate
