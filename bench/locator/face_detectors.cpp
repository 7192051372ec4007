// Compares the face detectors Debian ships on the photographs the locator cuts out
// (face_crops.py): OpenCV's cascades from opencv-data and dlib's frontal face detector.
// For each: how often it finds the upright face, how often the upright view scores
// strictly best of the four quarter turns (what the locator's turn needs), how often it
// finds a face in a turned view, and the time per view. Built by hand, see bench/README.md.
#include <QDir>
#include <QElapsedTimer>
#include <QImage>

#include <dlib/image_processing/frontal_face_detector.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <cstdio>
#include <functional>
#include <map>

namespace {

cv::Mat toMat(const QImage& image) {
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    return cv::Mat(grey.height(), grey.width(), CV_8UC1, const_cast<uchar*>(grey.constBits()),
                   grey.bytesPerLine())
        .clone();
}

using Detector = std::function<double(const cv::Mat&)>; // best score, 0 when no face

Detector cascade(const char* path) {
    auto classifier = std::make_shared<cv::CascadeClassifier>(path);
    return [classifier](const cv::Mat& grey) {
        cv::Mat eq;
        cv::equalizeHist(grey, eq);
        std::vector<cv::Rect> faces;
        std::vector<int> votes;
        const int minSide = int(0.3 * std::min(eq.cols, eq.rows));
        classifier->detectMultiScale(eq, faces, votes, 1.08, 2, 0, cv::Size(minSide, minSide));
        int best = 0;
        for (size_t k = 0; k < faces.size(); ++k)
            best = std::max(best, votes[k]);
        return double(best);
    };
}

Detector hog() {
    auto detector = std::make_shared<dlib::frontal_face_detector>(dlib::get_frontal_face_detector());
    return [detector](const cv::Mat& grey) {
        dlib::array2d<unsigned char> image(grey.rows, grey.cols);
        for (int y = 0; y < grey.rows; ++y)
            for (int x = 0; x < grey.cols; ++x)
                image[y][x] = grey.at<uchar>(y, x);
        std::vector<dlib::rect_detection> found;
        (*detector)(image, found, 0.0);
        double best = 0;
        for (const auto& d : found)
            best =
                std::max(best, d.detection_confidence + 1.0); // confidence may be negative down to -threshold
        return best;
    };
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: face_detectors CROPDIR\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const QStringList upright = dir.entryList({QStringLiteral("*_0.png")}, QDir::Files, QDir::Name);
    const std::vector<std::pair<const char*, Detector>> detectors = {
        {"opencv haar frontalface_alt2",
         cascade("/usr/share/opencv4/haarcascades/haarcascade_frontalface_alt2.xml")},
        {"opencv haar frontalface_default",
         cascade("/usr/share/opencv4/haarcascades/haarcascade_frontalface_default.xml")},
        {"opencv lbp frontalface_improved",
         cascade("/usr/share/opencv4/lbpcascades/lbpcascade_frontalface_improved.xml")},
        {"dlib hog frontal_face_detector", hog()},
    };
    std::printf("| Detector | upright face found | upright scores best (turn right) | face found in a turned "
                "view | ms per view |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const auto& [name, detect] : detectors) {
        int found = 0, bestTurn = 0, turnedHits = 0, views = 0;
        qint64 nanoseconds = 0;
        for (const QString& file : upright) {
            double score[4] = {};
            for (int t = 0; t < 4; ++t) {
                QString view = file;
                view.replace(QStringLiteral("_0.png"), QStringLiteral("_%1.png").arg(t * 90));
                const cv::Mat grey = toMat(QImage(dir.filePath(view)));
                QElapsedTimer timer;
                timer.start();
                score[t] = detect(grey);
                nanoseconds += timer.nsecsElapsed();
                ++views;
            }
            found += score[0] > 0;
            bestTurn += score[0] > score[1] && score[0] > score[2] && score[0] > score[3];
            turnedHits += (score[1] > 0) + (score[2] > 0) + (score[3] > 0);
        }
        const int n = int(upright.size());
        std::printf("| %s | %d/%d | %d/%d | %d/%d | %.1f |\n", name, found, n, bestTurn, n, turnedHits, 3 * n,
                    nanoseconds / 1e6 / std::max(1, views));
    }
    return 0;
}
