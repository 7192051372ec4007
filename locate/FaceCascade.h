#pragma once

// OpenCV's frontal-face cascade (Debian's opencv-data), which finds the drawn faces dlib's
// detector misses. Its library brings much of OpenCV with it (dnn, calib3d, protobuf...):
// the window links it, while vetra-batch's locator module loads it from a module of its
// own (vetra-face-cascade.so, beside it) only when a page needs it.
#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace FaceCascade {

struct Hit {
    cv::Rect rect;
    int votes = 0; // neighbouring detections that made it
};

// The faces on an equalised grey picture, none smaller than minSide. False when the
// cascade cannot be used, with the reason in *why.
using Finder = bool (*)(const cv::Mat& equalised, int minSide, std::vector<Hit>* hits, std::string* why);

bool find(const cv::Mat& equalised, int minSide, std::vector<Hit>* hits, std::string* why);

// The eyes on an equalised grey picture of a face's upper part (opencv-data's eye cascade),
// none smaller than minSide: the photo check's eye line and tilt. Same contract as find().
bool findEyes(const cv::Mat& equalised, int minSide, std::vector<Hit>* hits, std::string* why);

// find() where it is linked in; where it is not, the module's, loaded on the first call
// (null, with the reason in *why, when it cannot be).
Finder finder(std::string* why);
// The same for findEyes().
Finder eyeFinder(std::string* why);

// The cascade module's file, and the entry it exports: it returns its find().
inline constexpr char kModuleFile[] = "vetra-face-cascade.so";
inline constexpr char kModuleEntry[] = "vetra_face_cascade_entry";
inline constexpr char kEyeEntry[] = "vetra_eye_cascade_entry";

} // namespace FaceCascade
