#include "locate/FaceCascade.h"

#include <opencv2/objdetect.hpp>

#include <mutex>

namespace FaceCascade {

bool find(const cv::Mat& equalised, int minSide, std::vector<Hit>* hits, std::string* why) {
    // Read on first use; the classifier keeps scratch buffers, so one caller at a time.
    static std::mutex mutex;
    static cv::CascadeClassifier cascade;
    static bool tried = false;
    static bool ok = false;
    static std::string failure;
    const std::lock_guard<std::mutex> lock(mutex);
    if (!tried) {
        tried = true;
        try {
            ok = cascade.load(VETRA_FACE_CASCADE);
        } catch (const cv::Exception& e) {
            failure = e.what();
        }
        if (!ok && failure.empty())
            failure = "no face cascade at " VETRA_FACE_CASCADE;
    }
    hits->clear();
    if (!ok) {
        *why = failure;
        return false;
    }
    std::vector<cv::Rect> faces;
    std::vector<int> votes;
    cascade.detectMultiScale(equalised, faces, votes, 1.08, 2, 0, cv::Size(minSide, minSide));
    for (size_t k = 0; k < faces.size(); ++k)
        hits->push_back({faces[k], votes[k]});
    return true;
}

} // namespace FaceCascade
