#include "locate/FaceCascade.h"

#include <opencv2/objdetect.hpp>

#include <mutex>

namespace FaceCascade {

namespace {

// One cascade file, read on first use; the classifier keeps scratch buffers, so one caller
// at a time.
class Cascade {
  public:
    explicit Cascade(const char* path) : m_path(path) {}

    bool find(const cv::Mat& equalised, int minSide, double step, int neighbours, std::vector<Hit>* hits,
              std::string* why) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_tried) {
            m_tried = true;
            try {
                m_ok = m_cascade.load(m_path);
            } catch (const cv::Exception& e) {
                m_failure = e.what();
            }
            if (!m_ok && m_failure.empty())
                m_failure = std::string("no cascade at ") + m_path;
        }
        hits->clear();
        if (!m_ok) {
            *why = m_failure;
            return false;
        }
        std::vector<cv::Rect> found;
        std::vector<int> votes;
        m_cascade.detectMultiScale(equalised, found, votes, step, neighbours, 0, cv::Size(minSide, minSide));
        for (size_t k = 0; k < found.size(); ++k)
            hits->push_back({found[k], votes[k]});
        return true;
    }

  private:
    const char* m_path;
    std::mutex m_mutex;
    cv::CascadeClassifier m_cascade;
    bool m_tried = false;
    bool m_ok = false;
    std::string m_failure;
};

} // namespace

bool find(const cv::Mat& equalised, int minSide, std::vector<Hit>* hits, std::string* why) {
    static Cascade cascade(VETRA_FACE_CASCADE);
    return cascade.find(equalised, minSide, 1.08, 2, hits, why);
}

bool findEyes(const cv::Mat& equalised, int minSide, std::vector<Hit>* hits, std::string* why) {
    static Cascade cascade(VETRA_EYE_CASCADE);
    return cascade.find(equalised, minSide, 1.05, 2, hits, why);
}

} // namespace FaceCascade
