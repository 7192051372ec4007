#include "locate/Locator.h"

#include "locate/Logging.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <dlib/image_processing/frontal_face_detector.h>

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <functional>
#include <mutex>
#include <numeric>
#include <sstream>
#include <vector>

extern const unsigned char kFaceModel[];
extern const std::size_t kFaceModelSize;

namespace {

// The working copy's long side: about 75 dpi on an A4 page.
constexpr int kWorkLong = 880;

struct Work {
    cv::Mat grey;       // working copy, 8-bit
    double toPage = 1;  // page pixels per working pixel
    double pxPerMm = 3; // working pixels per millimetre, assuming an A4-sized page
    int paper = 245;    // grey level of the paper
};

cv::Mat greyOf(const QImage& picture) {
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

Work prepare(const QImage& picture, QSize pageSize) {
    Work work;
    cv::Mat grey = greyOf(picture);
    const int longSide = std::max(grey.cols, grey.rows);
    if (longSide > kWorkLong * 5 / 4) {
        const double f = double(kWorkLong) / longSide;
        cv::resize(grey, work.grey, cv::Size(), f, f, cv::INTER_AREA);
    } else {
        work.grey = grey;
    }
    work.toPage =
        double(std::max(pageSize.width(), pageSize.height())) / std::max(work.grey.cols, work.grey.rows);
    work.pxPerMm = std::max(work.grey.cols, work.grey.rows) / 297.0;
    work.paper = percentile(work.grey, 0.6);
    return work;
}

// A rectangle of an image of size, after the image is turned clockwise by turn degrees.
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

// ---- The face detector, built once.

struct Face {
    cv::Rect rect;
    double score = 0; // the detector's margin; a face from 0 up
};

// dlib's frontal face detector (a HOG sliding window): measured against OpenCV's cascades
// on the photographs of forms, it found more of the faces and fewer in turned views. It
// misses drawn faces, though, which OpenCV's frontal-face cascade finds: when dlib finds no
// face in any view of a picture, the cascade gets a look (see faceIn).
class FaceDetector {
  public:
    static FaceDetector& instance() {
        static FaceDetector detector;
        return detector;
    }
    // The best face on an upright picture, score 0 and an empty rect when there is none
    // within kAdjust of the detector's own threshold.
    Face detect(const cv::Mat& grey) {
        dlib::array2d<unsigned char> image(grey.rows, grey.cols);
        for (int y = 0; y < grey.rows; ++y)
            std::copy_n(grey.ptr<uchar>(y), grey.cols, &image[y][0]);
        std::vector<dlib::rect_detection> found;
        {
            // The detector keeps scratch buffers: one caller at a time.
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_detector(image, found, kAdjust);
        }
        Face best;
        for (const dlib::rect_detection& d : found) {
            const double score = d.detection_confidence - kAdjust;
            if (score > best.score) {
                best.score = score;
                best.rect = cv::Rect(int(d.rect.left()), int(d.rect.top()), int(d.rect.width()),
                                     int(d.rect.height()));
            }
        }
        return best;
    }
    // Detections down to this far below the detector's threshold are kept, so that a weak
    // face still tells the turn; the confidence decides whether it counts.
    static constexpr double kAdjust = -0.4;

    // The cascade's best face, its score the number of neighbouring detections scaled so
    // that kCascadeVotes of them count as dlib's threshold.
    Face detectWithCascade(const cv::Mat& grey) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_cascadeTried) {
            m_cascadeTried = true;
            try {
                m_cascadeOk = m_cascade.load(VETRA_FACE_CASCADE);
            } catch (const cv::Exception& e) {
                qCDebug(lcLocate) << "OpenCV could not read the face cascade:" << e.what();
            }
            if (!m_cascadeOk)
                qCDebug(lcLocate) << "no face cascade at" << VETRA_FACE_CASCADE;
        }
        Face best;
        if (!m_cascadeOk)
            return best;
        cv::Mat equalised;
        cv::equalizeHist(grey, equalised);
        std::vector<cv::Rect> faces;
        std::vector<int> votes;
        const int minSide = int(0.3 * std::min(grey.cols, grey.rows));
        m_cascade.detectMultiScale(equalised, faces, votes, 1.08, 2, 0, cv::Size(minSide, minSide));
        for (size_t k = 0; k < faces.size(); ++k) {
            const double score = double(votes[k]) / kCascadeVotes * -kAdjust;
            if (faces[k].width <= 0.95 * grey.cols && score > best.score)
                best = {faces[k], score};
        }
        return best;
    }
    static constexpr double kCascadeVotes = 5;

  private:
    FaceDetector() {
        // The model as serialised at build time: dlib's own packed copy takes seconds to unpack.
        std::istringstream in(std::string(reinterpret_cast<const char*>(kFaceModel), kFaceModelSize));
        dlib::deserialize(m_detector, in);
    }
    dlib::frontal_face_detector m_detector;
    cv::CascadeClassifier m_cascade;
    bool m_cascadeTried = false;
    bool m_cascadeOk = false;
    std::mutex m_mutex;
};

// ---- The photograph.

struct PhotoCandidate {
    cv::Rect rect; // working pixels of the stored page
};

std::vector<PhotoCandidate> photoCandidates(const Work& work) {
    cv::Mat blurred;
    cv::GaussianBlur(work.grey, blurred, cv::Size(5, 5), 0);
    cv::Mat toned = blurred < std::max(0, work.paper - 20);
    // Edges are found on a lightly smoothed copy: the paper between a photograph and a box
    // printed around it must stay paper.
    cv::Mat lightly;
    cv::blur(work.grey, lightly, cv::Size(3, 3));
    const cv::Mat sharp = lightly < std::max(0, work.paper - 20);

    // Blocks of about 2 mm whose pixels are almost all off the paper: pictures, not text,
    // whose strokes always leave paper between them.
    const int block = std::max(3, int(std::lround(2 * work.pxPerMm)));
    cv::Mat blocks;
    cv::resize(toned, blocks, cv::Size(work.grey.cols / block, work.grey.rows / block), 0, 0, cv::INTER_AREA);
    cv::Mat dense = blocks > 200;
    cv::morphologyEx(dense, dense, cv::MORPH_CLOSE,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));

    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(dense, labels, stats, centroids, 8);
    std::vector<PhotoCandidate> found;
    const double minSide = 18 * work.pxPerMm / block;
    const double maxSide = 120 * work.pxPerMm / block;
    for (int i = 1; i < count; ++i) {
        const int w = stats.at<int>(i, cv::CC_STAT_WIDTH);
        const int h = stats.at<int>(i, cv::CC_STAT_HEIGHT);
        const int area = stats.at<int>(i, cv::CC_STAT_AREA);
        if (w < minSide || h < minSide || w > maxSide || h > maxSide)
            continue;
        if (area < 0.6 * w * h || w > 2.5 * h || h > 2.5 * w)
            continue;
        // Back to working pixels, then each edge where the toned share crosses one half.
        cv::Rect r(stats.at<int>(i, cv::CC_STAT_LEFT) * block - block,
                   stats.at<int>(i, cv::CC_STAT_TOP) * block - block, (w + 2) * block, (h + 2) * block);
        r &= cv::Rect(0, 0, work.grey.cols, work.grey.rows);
        const cv::Mat roi = sharp(r);
        cv::Mat cols, rows;
        cv::reduce(roi, cols, 0, cv::REDUCE_AVG, CV_32F);
        cv::reduce(roi, rows, 1, cv::REDUCE_AVG, CV_32F);
        // The longest run of mostly toned columns (rows): a box printed around the
        // photograph, with paper between, is not part of it.
        auto edges = [](const cv::Mat& profile, int n, int& first, int& last) {
            first = -1;
            last = -1;
            int start = -1;
            for (int k = 0; k <= n; ++k) {
                const bool toned = k < n && profile.at<float>(k) > 127;
                if (toned && start < 0)
                    start = k;
                if (!toned && start >= 0) {
                    if (k - 1 - start > last - first) {
                        first = start;
                        last = k - 1;
                    }
                    start = -1;
                }
            }
        };
        int x0, x1, y0, y1;
        edges(cols, cols.cols, x0, x1);
        edges(rows.t(), rows.rows, y0, y1);
        if (x0 < 0 || y0 < 0)
            continue;
        // Two working pixels inside: the edge is blurred by the scan and by the reduction,
        // and the answer must never reach the paper around the photograph.
        cv::Rect photo(r.x + x0 + 2, r.y + y0 + 2, x1 - x0 - 3, y1 - y0 - 3);
        if (photo.width < minSide * block || photo.height < minSide * block)
            continue;
        found.push_back({photo});
    }
    return found;
}

struct FaceAnswer {
    int turn = 0;
    double score = 0;       // the detector's margin at that turn (0: no face)
    double secondScore = 0; // the best other turn's
    cv::Rect face;          // working pixels of the turned page
};

// Looks for a face in the candidate at each quarter turn; the turn that scores best wins.
FaceAnswer faceIn(const Work& work, const cv::Rect& photo) {
    FaceAnswer answer;
    FaceDetector& detector = FaceDetector::instance();
    // The detector sees the candidate at a fixed size, so small and large photographs cost
    // the same and a face filling most of it is well above the detector's 80-pixel window.
    // A little of the paper around the photograph too: detectors want some margin round a face.
    const cv::Rect search = cv::Rect(photo.x - photo.width / 20, photo.y - photo.height / 20,
                                     photo.width + photo.width / 10, photo.height + photo.height / 10) &
                            cv::Rect(0, 0, work.grey.cols, work.grey.rows);
    const double scale = 170.0 / std::min(search.width, search.height);
    cv::Mat crop;
    cv::resize(work.grey(search), crop, cv::Size(), scale, scale,
               scale < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
    // A photograph is taller than wide: one that looks wider lies on its side, one that
    // looks taller is upright or upside down. Only a square one needs all four views.
    const double aspect = double(search.height) / search.width;
    Face faceOf[4];
    for (int t = 0; t < 4; ++t) {
        const bool sideways = t % 2 == 1;
        if ((aspect > 1.08 && sideways) || (aspect < 1 / 1.08 && !sideways))
            continue;
        faceOf[t] = detector.detect(turned(crop, t * 90));
    }
    if (faceOf[0].score <= 0 && faceOf[1].score <= 0 && faceOf[2].score <= 0 && faceOf[3].score <= 0) {
        // The cascade was measured on a 200-pixel view; its face boxes come back to the
        // detector's view scale.
        const double cascadeScale = 200.0 / 170.0;
        cv::Mat larger;
        cv::resize(crop, larger, cv::Size(), cascadeScale, cascadeScale, cv::INTER_LINEAR);
        for (int t = 0; t < 4; ++t) {
            const bool sideways = t % 2 == 1;
            if ((aspect > 1.08 && sideways) || (aspect < 1 / 1.08 && !sideways))
                continue;
            Face face = detector.detectWithCascade(turned(larger, t * 90));
            face.rect = cv::Rect(int(face.rect.x / cascadeScale), int(face.rect.y / cascadeScale),
                                 int(std::ceil(face.rect.width / cascadeScale)),
                                 int(std::ceil(face.rect.height / cascadeScale)));
            faceOf[t] = face;
        }
    }
    int best = 0;
    for (int t = 1; t < 4; ++t) {
        if (faceOf[t].score > faceOf[best].score)
            best = t;
    }
    answer.turn = best * 90;
    answer.score = faceOf[best].score;
    for (int t = 0; t < 4; ++t) {
        if (t != best)
            answer.secondScore = std::max(answer.secondScore, faceOf[t].score);
    }
    // Back to working pixels of the turned page: the crop's scale, then the crop's place.
    const cv::Rect f = faceOf[best].rect;
    const cv::Rect inCrop(int(std::floor(f.x / scale)), int(std::floor(f.y / scale)),
                          int(std::ceil(f.width / scale)), int(std::ceil(f.height / scale)));
    const cv::Rect turnedPhoto = turnRect(photo, work.grey.size(), answer.turn);
    answer.face = cv::Rect(turnedPhoto.x + inCrop.x, turnedPhoto.y + inCrop.y, inCrop.width, inCrop.height) &
                  turnedPhoto;
    qCDebug(lcLocate) << "face scores by turn" << faceOf[0].score << faceOf[1].score << faceOf[2].score
                      << faceOf[3].score;
    return answer;
}

// ---- The signature.

struct Component {
    cv::Rect box;
    int label = 0;
    int area = 0;
    double stroke = 0; // mean stroke width, pixels
    bool hand = false;
};

// Whether the ink's text lines run across the page (rows of ink and rows of paper) rather
// than along it, as on a sideways page.
bool linesRunAcross(const cv::Mat& ink) {
    cv::Mat rows, cols;
    cv::reduce(ink, rows, 1, cv::REDUCE_AVG, CV_32F);
    cv::reduce(ink, cols, 0, cv::REDUCE_AVG, CV_32F);
    auto variation = [](const cv::Mat& profile) {
        // The mean difference between neighbours: high where lines and gaps alternate.
        const cv::Mat p = profile.reshape(1, 1);
        double sum = 0;
        for (int k = 1; k < p.cols; ++k)
            sum += std::abs(p.at<float>(k) - p.at<float>(k - 1));
        return sum / std::max(1, p.cols - 1);
    };
    return variation(rows) >= variation(cols);
}

// Groups of components whose boxes, grown by the given margins, touch.
std::vector<int> groupsOf(const std::vector<Component>& parts, const std::vector<int>& members, double growX,
                          double growY) {
    std::vector<int> parent(parts.size());
    std::iota(parent.begin(), parent.end(), 0);
    std::function<int(int)> root = [&](int k) { return parent[k] == k ? k : parent[k] = root(parent[k]); };
    for (size_t a = 0; a < members.size(); ++a) {
        const cv::Rect& ra = parts[members[a]].box;
        const cv::Rect grown(int(ra.x - growX), int(ra.y - growY), int(ra.width + 2 * growX),
                             int(ra.height + 2 * growY));
        for (size_t b = a + 1; b < members.size(); ++b) {
            if ((grown & parts[members[b]].box).area() > 0)
                parent[root(members[a])] = root(members[b]);
        }
    }
    std::vector<int> group(parts.size(), -1);
    for (int m : members)
        group[m] = root(m);
    return group;
}

// Printed text in a large font: several parts of one height standing on one line, be they
// separate letters or whole words of capitals. Handwriting's parts differ in height.
bool looksPrinted(const std::vector<const Component*>& parts) {
    if (parts.size() < 4)
        return false;
    std::vector<int> heights, bottoms;
    for (const Component* c : parts) {
        heights.push_back(c->box.height);
        bottoms.push_back(c->box.y + c->box.height);
    }
    std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
    std::nth_element(bottoms.begin(), bottoms.begin() + bottoms.size() / 2, bottoms.end());
    const double h = heights[heights.size() / 2];
    const double bottom = bottoms[bottoms.size() / 2];
    size_t aligned = 0;
    for (const Component* c : parts) {
        if (std::abs(c->box.height - h) <= 0.12 * h + 1 &&
            std::abs(c->box.y + c->box.height - bottom) <= 0.12 * h + 1)
            ++aligned;
    }
    return aligned >= 4 && aligned * 10 >= parts.size() * 6;
}

// Mean stroke width of a component, from its outline: ink area over half the outline's length.
double strokeWidth(const cv::Mat& labels, const Component& c) {
    std::vector<std::vector<cv::Point>> contours;
    cv::Mat own = labels(c.box) == c.label;
    cv::findContours(own, contours, cv::RETR_LIST, cv::CHAIN_APPROX_NONE);
    double perimeter = 0;
    for (const auto& contour : contours)
        perimeter += cv::arcLength(contour, true);
    return perimeter > 0 ? 2.0 * c.area / perimeter : 0;
}

// The parts of the ink inside box as they are on paper, ruled lines included: a signature
// written across a line stays one piece, printed letters stay apart.
std::vector<Component> inkParts(const cv::Mat& ink, const cv::Rect& box) {
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(ink(box), labels, stats, centroids, 8);
    std::vector<Component> parts;
    for (int i = 1; i < count; ++i) {
        Component c;
        c.box = cv::Rect(stats.at<int>(i, cv::CC_STAT_LEFT), stats.at<int>(i, cv::CC_STAT_TOP),
                         stats.at<int>(i, cv::CC_STAT_WIDTH), stats.at<int>(i, cv::CC_STAT_HEIGHT));
        c.area = stats.at<int>(i, cv::CC_STAT_AREA);
        if (c.area >= 4)
            parts.push_back(c);
    }
    return parts;
}

struct SignatureAnswer {
    double confidence = 0;
    cv::Rect box;
};

SignatureAnswer signatureIn(const cv::Mat& grey, const Work& work, const cv::Rect& photo) {
    SignatureAnswer answer;
    cv::Mat ink = grey < int(work.paper * 0.70);
    if (photo.area() > 0) {
        const int m = int(3 * work.pxPerMm);
        ink(cv::Rect(photo.x - m, photo.y - m, photo.width + 2 * m, photo.height + 2 * m) &
            cv::Rect(0, 0, ink.cols, ink.rows))
            .setTo(0);
    }
    if (!linesRunAcross(ink)) {
        qCDebug(lcLocate) << "text runs along the page: no signature looked for";
        return answer;
    }

    // Ruled lines and box edges: runs of ink longer than 12 mm across or along.
    const int run = int(12 * work.pxPerMm);
    cv::Mat across, along, lines;
    cv::morphologyEx(ink, across, cv::MORPH_OPEN,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(run, 1)));
    cv::morphologyEx(ink, along, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(1, run)));
    cv::dilate(across | along, lines, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
    const cv::Mat strokes = ink & ~lines;

    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(strokes, labels, stats, centroids, 8);
    std::vector<Component> parts;
    std::vector<int> heights;
    for (int i = 1; i < count; ++i) {
        Component c;
        c.box = cv::Rect(stats.at<int>(i, cv::CC_STAT_LEFT), stats.at<int>(i, cv::CC_STAT_TOP),
                         stats.at<int>(i, cv::CC_STAT_WIDTH), stats.at<int>(i, cv::CC_STAT_HEIGHT));
        c.area = stats.at<int>(i, cv::CC_STAT_AREA);
        c.label = i;
        if (c.area < 4)
            continue;
        if (c.box.height >= 3 && c.box.height <= 8 * work.pxPerMm)
            heights.push_back(c.box.height);
        parts.push_back(c);
    }
    // The usual height of a printed character on this page.
    double textHeight = 3 * work.pxPerMm;
    if (heights.size() >= 10) {
        std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
        textHeight = heights[heights.size() / 2];
    }

    std::vector<int> hands;
    for (size_t k = 0; k < parts.size(); ++k) {
        Component& c = parts[k];
        const double fill = double(c.area) / c.box.area();
        if (c.box.height < 1.6 * textHeight || c.box.height > 40 * work.pxPerMm ||
            c.box.width > 120 * work.pxPerMm)
            continue;
        if (fill > 0.5)
            continue;
        // A pen's stroke is thin for the writing's height; a large printed letter's is not.
        c.stroke = strokeWidth(labels, c);
        if (c.stroke > std::max(2.5, 0.16 * c.box.height))
            continue;
        c.hand = true;
        hands.push_back(int(k));
    }
    if (hands.empty())
        return answer;

    double tallest = 0;
    for (int k : hands)
        tallest = std::max<double>(tallest, parts[k].box.height);
    const std::vector<int> group = groupsOf(parts, hands, 0.5 * tallest, 0.3 * tallest);
    int bestRoot = -1;
    double bestInk = 0;
    // The group with the most handwritten ink that does not read as printed text.
    std::vector<int> roots;
    for (int k : hands) {
        if (std::find(roots.begin(), roots.end(), group[k]) == roots.end())
            roots.push_back(group[k]);
    }
    cv::Rect bestBox;
    for (int r : roots) {
        std::vector<const Component*> members;
        double inkArea = 0;
        cv::Rect box;
        for (int k : hands) {
            if (group[k] != r)
                continue;
            members.push_back(&parts[k]);
            inkArea += parts[k].area;
            box = box.area() > 0 ? (box | parts[k].box) : parts[k].box;
        }
        // Dots and accents do not count.
        std::vector<Component> onPaper = inkParts(ink, box);
        int tallestPiece = 0;
        for (const Component& c : onPaper)
            tallestPiece = std::max(tallestPiece, c.box.height);
        std::vector<const Component*> pieces;
        for (const Component& c : onPaper) {
            if (c.box.height * 5 >= tallestPiece * 2)
                pieces.push_back(&c);
        }
        if (looksPrinted(pieces)) {
            qCDebug(lcLocate) << "group of" << members.size() << "parts reads as printed text";
            continue;
        }
        if (inkArea > bestInk) {
            bestInk = inkArea;
            bestRoot = r;
            bestBox = box;
        }
    }
    if (bestRoot < 0)
        return answer;

    // Dots, short strokes and loops cut off by a ruled line next to the signature belong to
    // it, and so does a curved underline, which the line removal took for a ruled line.
    const int gx = int(0.5 * bestBox.height);
    const int gy = int(0.3 * bestBox.height);
    const cv::Rect near(bestBox.x - gx, bestBox.y - gy, bestBox.width + 2 * gx, bestBox.height + 2 * gy);
    cv::Rect box = bestBox;
    double strokeLength = 0;
    for (const Component& c : parts) {
        const bool member = c.hand && group[&c - &parts[0]] == bestRoot;
        if (!member && ((c.box & near) != c.box || c.box.height > bestBox.height))
            continue;
        box |= c.box;
        strokeLength += c.area / std::max(1.0, member ? c.stroke : strokeWidth(labels, c));
    }
    cv::Mat lineLabels, lineStats, lineCentroids;
    const int lineCount =
        cv::connectedComponentsWithStats(ink & lines, lineLabels, lineStats, lineCentroids, 8);
    for (int i = 1; i < lineCount; ++i) {
        const cv::Rect r(lineStats.at<int>(i, cv::CC_STAT_LEFT), lineStats.at<int>(i, cv::CC_STAT_TOP),
                         lineStats.at<int>(i, cv::CC_STAT_WIDTH), lineStats.at<int>(i, cv::CC_STAT_HEIGHT));
        const bool curved = r.height >= 4 && r.height < 0.6 * bestBox.height;
        if (curved && (r & near) == r && r.width <= 1.3 * bestBox.width)
            box |= r;
    }
    // Confidence grows with the length of handwritten stroke: a few millimetres of curve
    // are no signature.
    const double lengthMm = strokeLength / work.pxPerMm;
    answer.confidence = std::clamp(lengthMm / 80.0, 0.0, 1.0);
    qCDebug(lcLocate) << "signature stroke" << lengthMm << "mm, text height" << textHeight << "px";
    answer.box = box;
    return answer;
}

} // namespace

namespace Locator {

void preload() {
    FaceDetector::instance();
}

PageFindings locate(const QImage& picture, QSize pageSize, Wanted wanted) {
    PageFindings findings;
    findings.pageSize = pageSize;
    if (picture.isNull() || pageSize.isEmpty())
        return findings;
    Work work;
    QElapsedTimer timer;
    timer.start();
    try {
        FaceDetector::instance();
        qCDebug(lcLocate) << "detector ready after" << timer.elapsed() << "ms";
        work = prepare(picture, pageSize);

        // The photograph: the candidate whose face the detector is surest of.
        FaceAnswer bestFace;
        cv::Rect bestPhoto;
        for (const PhotoCandidate& candidate : photoCandidates(work)) {
            const FaceAnswer face = faceIn(work, candidate.rect);
            if (face.score > bestFace.score) {
                bestFace = face;
                bestPhoto = candidate.rect;
            }
        }
        const bool anyFace = bestFace.score > 0;
        const int turn = anyFace ? bestFace.turn : 0;
        const cv::Size workSize = work.grey.size();
        findings.turn = turn;
        findings.pageSize = (turn == 90 || turn == 270) ? pageSize.transposed() : pageSize;
        const cv::Rect turnedPhoto = anyFace ? turnRect(bestPhoto, workSize, turn) : cv::Rect();
        if (anyFace) {
            // At the detector's own threshold the confidence is kThreshold.
            findings.photo.confidence = std::clamp(bestFace.score / (2 * -FaceDetector::kAdjust), 0.0, 1.0);
            findings.turnConfidence =
                std::clamp((bestFace.score - bestFace.secondScore) / bestFace.score, 0.0, 1.0) *
                findings.photo.confidence;
            findings.photo.rect = toPage(turnedPhoto, work, findings.pageSize);
            findings.face = toPage(bestFace.face, work, findings.pageSize) & findings.photo.rect;
            findings.photo.found = findings.photo.confidence >= kThreshold;
        }
        if (!findings.photo.found) {
            findings.turn = 0;
            findings.turnConfidence = 0;
            findings.pageSize = pageSize;
            findings.face = QRect();
        }

        qCDebug(lcLocate) << "photograph and face after" << timer.elapsed() << "ms";
        if (wanted == Wanted::PhotoOnly) {
            qCDebug(lcLocate) << "turn" << findings.turn << "photo" << findings.photo.found
                              << findings.photo.confidence << findings.photo.rect;
            return findings;
        }
        const cv::Mat grey = turned(work.grey, findings.turn);
        const SignatureAnswer signature =
            signatureIn(grey, work, findings.photo.found ? turnedPhoto : cv::Rect());
        findings.signature.confidence = signature.confidence;
        if (signature.box.area() > 0)
            findings.signature.rect = toPage(signature.box, work, findings.pageSize);
        findings.signature.found = signature.confidence >= kThreshold;
    } catch (const cv::Exception& e) {
        qCDebug(lcLocate) << "OpenCV failed:" << e.what();
        PageFindings none;
        none.pageSize = pageSize;
        return none;
    }
    qCDebug(lcLocate) << "done after" << timer.elapsed() << "ms";
    qCDebug(lcLocate) << "turn" << findings.turn << "photo" << findings.photo.found
                      << findings.photo.confidence << findings.photo.rect << "signature"
                      << findings.signature.found << findings.signature.confidence << findings.signature.rect;
    return findings;
}

} // namespace Locator
