#include "locate/Locator.h"

#include "locate/FaceCascade.h"
#include "locate/FaceModel.h"
#include "locate/Logging.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <QElapsedTimer>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <functional>
#include <future>
#include <mutex>
#include <numeric>
#include <optional>
#include <sstream>
#include <system_error>
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
    // within kAdjust of the detector's own threshold. Safe to call from several threads:
    // each call builds its picture's HOG pyramid in a scanner of its own.
    Face detect(const cv::Mat& grey) const {
        dlib::array2d<unsigned char> image(grey.rows, grey.cols);
        for (int y = 0; y < grey.rows; ++y)
            std::copy_n(grey.ptr<uchar>(y), grey.cols, &image[y][0]);
        FaceModel::Scanner scanner;
        scanner.copy_configuration(m_model.scanner);
        scanner.load(image);
        // What dlib's own detector does, less the suppression of overlapping boxes, which
        // never takes away the best one.
        Face best;
        std::vector<std::pair<double, dlib::rectangle>> found;
        for (const FaceModel::Filter& filter : m_model.filters) {
            scanner.detect(filter.bank, found, filter.threshold + kAdjust);
            for (const auto& [value, rect] : found) {
                const double score = value - filter.threshold - kAdjust;
                if (score > best.score) {
                    best.score = score;
                    best.rect =
                        cv::Rect(int(rect.left()), int(rect.top()), int(rect.width()), int(rect.height()));
                }
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
        Face best;
        std::string why;
        const FaceCascade::Finder find = FaceCascade::finder(&why);
        if (!find) {
            // An install without it finds fewer drawn faces: said once.
            static std::once_flag said;
            std::call_once(said, [&why] {
                qCWarning(lcLocate).noquote()
                    << QStringLiteral("impossibile usare il modulo che trova i volti disegnati: %1. "
                                      "Reinstallare il programma.")
                           .arg(QString::fromStdString(why));
            });
            return best;
        }
        cv::Mat equalised;
        cv::equalizeHist(grey, equalised);
        std::vector<FaceCascade::Hit> hits;
        const int minSide = int(0.3 * std::min(grey.cols, grey.rows));
        if (!find(equalised, minSide, &hits, &why)) {
            qCDebug(lcLocate) << "no face cascade:" << why.c_str();
            return best;
        }
        for (const FaceCascade::Hit& hit : hits) {
            const double score = double(hit.votes) / kCascadeVotes * -kAdjust;
            if (hit.rect.width <= 0.95 * grey.cols && score > best.score)
                best = {hit.rect, score};
        }
        return best;
    }
    // A picture that is no face can gather 5 votes in one of its views, as many as a drawn
    // face at some view sizes (the sample form's gets 4 to 10): the printed text's turn
    // decides then (see locate).
    static constexpr double kCascadeVotes = 5;

  private:
    FaceDetector() {
        // The model as written at build time: dlib's own packed copy takes seconds to unpack.
        std::istringstream in(std::string(reinterpret_cast<const char*>(kFaceModel), kFaceModelSize));
        FaceModel::read(in, m_model);
    }
    FaceModel::Model m_model;
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

    std::vector<PhotoCandidate> found;
    const double minSide = 18 * work.pxPerMm / block;
    const double maxSide = 120 * work.pxPerMm / block;
    // The photograph's blocks, whole: a piece of a candidate already taken is not another one.
    auto taken = [&](const cv::Rect& blocksRect) {
        const cv::Point centre((blocksRect.x + blocksRect.width / 2) * block,
                               (blocksRect.y + blocksRect.height / 2) * block);
        return std::any_of(found.begin(), found.end(),
                           [&](const PhotoCandidate& c) { return c.rect.contains(centre); });
    };
    auto consider = [&](const cv::Mat& mask) {
        cv::Mat labels, stats, centroids;
        const int count = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8);
        for (int i = 1; i < count; ++i) {
            const int w = stats.at<int>(i, cv::CC_STAT_WIDTH);
            const int h = stats.at<int>(i, cv::CC_STAT_HEIGHT);
            const int area = stats.at<int>(i, cv::CC_STAT_AREA);
            if (w < minSide || h < minSide || w > maxSide || h > maxSide)
                continue;
            if (area < 0.6 * w * h || w > 2.5 * h || h > 2.5 * w)
                continue;
            if (taken(cv::Rect(stats.at<int>(i, cv::CC_STAT_LEFT), stats.at<int>(i, cv::CC_STAT_TOP), w, h)))
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
    };
    consider(dense);
    // A photograph that touches dense print (a bold heading, a filled field) joins it into
    // one ragged piece that is no rectangle. Opened by a square of 10 mm, the print and the
    // bridges to it go while any photograph (at least 18 mm a side) stays.
    const int opening = std::max(3, int(std::lround(10 * work.pxPerMm / block)));
    cv::Mat opened;
    cv::morphologyEx(dense, opened, cv::MORPH_OPEN,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(opening, opening)));
    consider(opened);
    return found;
}

// The least detector margin of a face that the printed text's turn may confirm: a
// detection a quarter below the detector's own threshold (which is at 0.4).
constexpr double kWeakFace = 0.15;

// A face dlib scores this far above the least it keeps (0.2 above its own threshold) decides
// the turn, and the other views are not run: on the 245 photographs of two page sets no view
// but the upright one scored over 0.08, while 229 upright views scored 0.6 or more.
constexpr double kDecisiveFace = 0.6;

struct FaceAnswer {
    int turn = 0;
    double score = 0;       // the detector's margin at that turn (0: no face)
    double secondScore = 0; // the best other turn's
    cv::Rect face;          // working pixels of the turned page
    bool byCascade = false; // found by the cascade alone, dlib seeing nothing
    bool confirmed = false; // dlib's weak face, found at the same place by the cascade
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
    std::vector<int> views;
    for (int t = 0; t < 4; ++t) {
        const bool sideways = t % 2 == 1;
        if (!((aspect > 1.08 && sideways) || (aspect < 1 / 1.08 && !sideways)))
            views.push_back(t);
    }
    // The first view alone: most photographs are upright, and most faces decide at once.
    // The views left are looked at two at a time, the later half on a second thread; a view
    // that decides makes the later ones count for nothing, as if they had not been run.
    Face faceOf[4];
    const auto look = [&](std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k)
            faceOf[views[k]] = detector.detect(turned(crop, views[k] * 90));
    };
    if (!views.empty())
        look(0, 1);
    if (views.size() > 1 && faceOf[views[0]].score < kDecisiveFace) {
        const std::size_t half = 1 + views.size() / 2;
        std::future<void> later;
        if (half < views.size()) {
            try {
                later = std::async(std::launch::async, look, half, views.size());
            } catch (const std::system_error&) {
                later = std::async(std::launch::deferred, look, half, views.size());
            }
        }
        look(1, half);
        if (later.valid())
            later.get();
    }
    for (std::size_t k = 0; k < views.size(); ++k) {
        if (faceOf[views[k]].score >= kDecisiveFace) {
            for (std::size_t j = k + 1; j < views.size(); ++j)
                faceOf[views[j]] = Face();
            break;
        }
    }
    // The cascade was measured on a 200-pixel view; its face boxes come back to the
    // detector's view scale.
    const double cascadeScale = 200.0 / 170.0;
    cv::Mat larger;
    auto cascadeAt = [&](int t) {
        if (larger.empty())
            cv::resize(crop, larger, cv::Size(), cascadeScale, cascadeScale, cv::INTER_LINEAR);
        Face face = detector.detectWithCascade(turned(larger, t * 90));
        face.rect = cv::Rect(int(face.rect.x / cascadeScale), int(face.rect.y / cascadeScale),
                             int(std::ceil(face.rect.width / cascadeScale)),
                             int(std::ceil(face.rect.height / cascadeScale)));
        return face;
    };
    if (faceOf[0].score <= 0 && faceOf[1].score <= 0 && faceOf[2].score <= 0 && faceOf[3].score <= 0) {
        for (int t : views)
            faceOf[t] = cascadeAt(t);
        answer.byCascade = true;
    }
    int best = 0;
    for (int t = 1; t < 4; ++t) {
        if (faceOf[t].score > faceOf[best].score)
            best = t;
    }
    // A face dlib scores under its threshold (a small face blown up from few pixels, or a
    // grainy one) counts when the cascade, which looks at the picture another way, finds a
    // face at the same place in the same view. Pictures that are no face score nothing
    // with dlib, even that far under its threshold.
    if (!answer.byCascade && faceOf[best].score > 0 && faceOf[best].score < -FaceDetector::kAdjust) {
        const Face other = cascadeAt(best);
        const cv::Rect& mine = faceOf[best].rect;
        const cv::Point centreOfMine(mine.x + mine.width / 2, mine.y + mine.height / 2);
        const cv::Point centreOfOther(other.rect.x + other.rect.width / 2,
                                      other.rect.y + other.rect.height / 2);
        answer.confirmed =
            other.score > 0 && other.rect.contains(centreOfMine) && mine.contains(centreOfOther);
        qCDebug(lcLocate) << "weak face" << faceOf[best].score << "cascade" << other.score
                          << (answer.confirmed ? "at the same place" : "elsewhere or nowhere");
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

// ---- The printed text's turn.

struct TextTurn {
    int turn = 0;
    double confidence = 0; // 0..1
};

// The ink of a grey page: what is well darker than its paper.
cv::Mat inkOf(const cv::Mat& grey, const Work& work) {
    return grey < int(work.paper * 0.70);
}

// Ruled lines and box edges in ink: runs longer than 12 mm across or along, a pixel wider
// on each side.
cv::Mat ruledLines(const cv::Mat& ink, const Work& work) {
    const int run = int(12 * work.pxPerMm);
    cv::Mat across, along, ruled;
    cv::morphologyEx(ink, across, cv::MORPH_OPEN,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(run, 1)));
    cv::morphologyEx(ink, along, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(1, run)));
    cv::dilate(across | along, ruled, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
    return ruled;
}

// Ink of the page with its ruled lines and box edges taken out.
cv::Mat inkWithoutLines(const cv::Mat& grey, const Work& work) {
    const cv::Mat ink = inkOf(grey, work);
    return ink & ~ruledLines(ink, work);
}

// Pieces of text lines in ink: runs of letters whose gaps a closing across of gapMm fills,
// from 1.2 mm to maxHeight high and at least minLength times as long as high.
std::vector<cv::Rect> linePieces(const cv::Mat& ink, const Work& work, double gapMm, double minLength,
                                 double maxHeight) {
    const int gap = std::max(3, int(std::lround(gapMm * work.pxPerMm)));
    cv::Mat joined;
    cv::morphologyEx(ink, joined, cv::MORPH_CLOSE,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(gap, 1)));
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(joined, labels, stats, centroids, 8, CV_32S);
    std::vector<cv::Rect> pieces;
    for (int i = 1; i < count; ++i) {
        const cv::Rect box(stats.at<int>(i, cv::CC_STAT_LEFT), stats.at<int>(i, cv::CC_STAT_TOP),
                           stats.at<int>(i, cv::CC_STAT_WIDTH), stats.at<int>(i, cv::CC_STAT_HEIGHT));
        if (box.height >= 1.2 * work.pxPerMm && box.height <= maxHeight &&
            box.width >= minLength * box.height)
            pieces.push_back(box);
    }
    return pieces;
}

// The turn that shows the printed text upright, from the text itself: its lines run across
// an upright page, not along it; and print is set flush left and ragged right, so that on
// an upright page many lines start at one margin while few end at one, and the other way
// round on a page upside down. A page with too little text, or text aligned on both sides
// (or neither), answers confidence 0.
TextTurn textTurn(const cv::Mat& print, const Work& work) {
    TextTurn answer;
    const double maxHeight = 7 * work.pxPerMm;
    // Across or along: the way words join into long pieces. Letters of neighbouring lines
    // stay apart at this gap.
    double length[2] = {0, 0};
    for (int o = 0; o < 2; ++o) {
        for (const cv::Rect& piece : linePieces(turned(print, o * 90), work, 1.5, 5, maxHeight))
            length[o] += piece.width;
    }
    const int o = length[1] > length[0] ? 1 : 0;
    const double lengthMm = length[o] / work.pxPerMm;
    const double across = length[o] / std::max(1.0, length[0] + length[1]);

    // Whole lines, the gaps between words filled too: where they start and end.
    std::vector<int> starts, ends;
    for (const cv::Rect& line : linePieces(turned(print, o * 90), work, 3, 3, maxHeight)) {
        starts.push_back(line.x);
        ends.push_back(line.x + line.width);
    }
    // Lines that share an edge with another line, within a pixel.
    auto aligned = [](std::vector<int> edges) {
        std::sort(edges.begin(), edges.end());
        int n = 0;
        for (size_t k = 0; k < edges.size(); ++k) {
            const bool before = k > 0 && edges[k] - edges[k - 1] <= 1;
            const bool after = k + 1 < edges.size() && edges[k + 1] - edges[k] <= 1;
            n += before || after;
        }
        return n;
    };
    const int flushLeft = aligned(starts);
    const int flushRight = aligned(ends);
    const double flush = double(flushLeft - flushRight) / std::max(1, flushLeft + flushRight);
    answer.turn = o * 90 + (flush < 0 ? 180 : 0);
    // Confident with some length of text running clearly one way, and several lines on
    // one margin clearly more than on the other.
    answer.confidence = std::clamp(lengthMm / 300.0, 0.0, 1.0) * std::clamp((across - 0.5) / 0.3, 0.0, 1.0) *
                        std::clamp(std::abs(flush) / 0.3, 0.0, 1.0) *
                        std::clamp(std::max(flushLeft, flushRight) / 8.0, 0.0, 1.0);
    qCDebug(lcLocate) << "text lines" << length[0] / work.pxPerMm << "mm across," << length[1] / work.pxPerMm
                      << "mm along; flush left" << flushLeft << "right" << flushRight << "; turn"
                      << answer.turn << "confidence" << answer.confidence;
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

// Parts standing as close as the letters of a word: at least one per one and a half
// heights along the row they make. A signature's loops, cut apart where their joining
// strokes ran along a ruled line, stand further apart.
bool setClosely(const std::vector<const Component*>& parts) {
    if (parts.empty())
        return false;
    std::vector<int> heights;
    int left = parts.front()->box.x;
    int right = left;
    for (const Component* c : parts) {
        heights.push_back(c->box.height);
        left = std::min(left, c->box.x);
        right = std::max(right, c->box.x + c->box.width);
    }
    std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
    const double h = std::max(1, heights[heights.size() / 2]);
    return double(parts.size()) >= (right - left) / (1.5 * h);
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
    cv::Mat ink = inkOf(grey, work);
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

    const cv::Mat lines = ruledLines(ink, work);
    // A stroke that crosses a ruled line is cut in two by the line's removal: where ink
    // reaches the removed band from both sides, the band's ink joins the pieces again.
    cv::Mat strokes = ink & ~lines;
    {
        constexpr int reach = 4;
        const cv::Mat cut = ink & lines;
        cv::Mat joins = cv::Mat::zeros(ink.size(), CV_8U);
        auto strokeAt = [&strokes](int x, int y) {
            return x >= 0 && y >= 0 && x < strokes.cols && y < strokes.rows && strokes.at<uchar>(y, x) != 0;
        };
        for (int y = 0; y < cut.rows; ++y) {
            const uchar* row = cut.ptr<uchar>(y);
            for (int x = 0; x < cut.cols; ++x) {
                if (!row[x])
                    continue;
                bool up = false, down = false, left = false, right = false;
                for (int k = 1; k <= reach; ++k) {
                    up = up || strokeAt(x, y - k);
                    down = down || strokeAt(x, y + k);
                    left = left || strokeAt(x - k, y);
                    right = right || strokeAt(x + k, y);
                }
                if ((up && down) || (left && right))
                    joins.at<uchar>(y, x) = 255;
            }
        }
        strokes |= joins;
    }

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
            c.box.width > 180 * work.pxPerMm)
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
    std::vector<int> group = groupsOf(parts, hands, 0.5 * tallest, 0.3 * tallest);
    // The groups of handwritten parts that do not read as printed text.
    std::vector<int> roots;
    for (int k : hands) {
        if (std::find(roots.begin(), roots.end(), group[k]) == roots.end())
            roots.push_back(group[k]);
    }
    std::vector<std::pair<int, cv::Rect>> candidates;
    for (int r : roots) {
        size_t members = 0;
        cv::Rect box;
        for (int k : hands) {
            if (group[k] != r)
                continue;
            ++members;
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
            qCDebug(lcLocate) << "group of" << members << "parts reads as printed text";
            continue;
        }
        candidates.emplace_back(r, box);
    }
    // Lines of print: letters that a short closing across joins into a long, low piece. A
    // signature's loops, cut apart along a ruled line, stand too far apart to join.
    const std::vector<cv::Rect> printLines =
        linePieces(strokes, work, 1.5, 5, std::min(7 * work.pxPerMm, 2.2 * textHeight));
    auto inPrint = [&printLines](const cv::Rect& r) {
        return std::any_of(printLines.begin(), printLines.end(),
                           [&r](const cv::Rect& line) { return (line & r).area() * 5 >= r.area() * 4; });
    };

    // A group in a line of print is a word of it.
    candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                    [&](const std::pair<int, cv::Rect>& c) {
                                        if (!inPrint(c.second))
                                            return false;
                                        qCDebug(lcLocate) << "handwritten group in a line of print: left out";
                                        return true;
                                    }),
                     candidates.end());
    if (candidates.empty())
        return answer;
    if (candidates.empty())
        return answer;

    // Handwriting that the line removal took for ruling: a flourish, or strokes that run
    // along the line the signature sits on. Each run the removal took is fitted with a
    // straight line; its ink off that line is pen stroke, and joins the parts.
    struct Run {
        cv::Rect rect;
        bool curved = false;
    };
    std::vector<Run> runs;
    {
        // Only the rows of the groups, and about them.
        int top = ink.rows;
        int bottom = 0;
        for (const auto& candidate : candidates) {
            const cv::Rect& g = candidate.second;
            top = std::min(top, g.y - g.height / 2);
            bottom = std::max(bottom, g.y + g.height * 3 / 2);
        }
        const cv::Rect rows = cv::Rect(0, top, ink.cols, bottom - top) & cv::Rect(0, 0, ink.cols, ink.rows);
        cv::Mat runLabels, runStats, runCentroids;
        const int runCount = cv::connectedComponentsWithStats(ink(rows) & lines(rows), runLabels, runStats,
                                                              runCentroids, 8, CV_32S);
        std::vector<cv::Point> points;
        for (int i = 1; i < runCount; ++i) {
            const cv::Rect local(runStats.at<int>(i, cv::CC_STAT_LEFT), runStats.at<int>(i, cv::CC_STAT_TOP),
                                 runStats.at<int>(i, cv::CC_STAT_WIDTH),
                                 runStats.at<int>(i, cv::CC_STAT_HEIGHT));
            const cv::Rect r = local + rows.tl();
            // Only runs in the rows of a handwritten group, or about them.
            const bool nearGroup =
                std::any_of(candidates.begin(), candidates.end(), [&r](const std::pair<int, cv::Rect>& c) {
                    const cv::Rect& g = c.second;
                    return r.y + r.height >= g.y - g.height / 2 && r.y <= g.y + g.height * 3 / 2;
                });
            if (r.width < r.height || !nearGroup)
                continue;
            points.clear();
            for (int y = local.y; y < local.y + local.height; ++y) {
                const int* label = runLabels.ptr<int>(y);
                for (int x = local.x; x < local.x + local.width; ++x) {
                    if (label[x] == i)
                        points.emplace_back(x, y);
                }
            }
            cv::Vec4f fit;
            cv::fitLine(points, fit, cv::DIST_HUBER, 0, 0.01, 0.01);
            cv::Mat off = cv::Mat::zeros(r.size(), CV_8U);
            int offCount = 0;
            for (const cv::Point& point : points) {
                const double distance = std::abs((point.x - fit[2]) * fit[1] - (point.y - fit[3]) * fit[0]);
                if (distance > 1.5) {
                    off.at<uchar>(point - local.tl()) = 255;
                    ++offCount;
                }
            }
            runs.push_back({r, offCount >= 4});
            if (offCount < 4)
                continue;
            cv::Mat offLabels, offStats, offCentroids;
            const int offParts =
                cv::connectedComponentsWithStats(off, offLabels, offStats, offCentroids, 8, CV_32S);
            for (int j = 1; j < offParts; ++j) {
                Component c;
                c.label = j;
                c.box =
                    cv::Rect(offStats.at<int>(j, cv::CC_STAT_LEFT), offStats.at<int>(j, cv::CC_STAT_TOP),
                             offStats.at<int>(j, cv::CC_STAT_WIDTH), offStats.at<int>(j, cv::CC_STAT_HEIGHT));
                c.area = offStats.at<int>(j, cv::CC_STAT_AREA);
                if (c.area < 4)
                    continue;
                c.stroke = strokeWidth(offLabels, c);
                c.box += r.tl();
                parts.push_back(c);
                group.push_back(-1);
            }
        }
    }

    // Dots, short strokes and loops cut off by a ruled line next to a group belong to it,
    // and so do the words beside it whose letters are all short: ink within the group's
    // height that reaches, piece by piece, to within most of that height of it. Print stays
    // out: a piece must lie wholly within the group's rows, grown by a third of its height
    // (a label above it is cut by that edge), must not lie in a line of print, and pieces
    // that together read as a line of print are left out. The group with the longest handwritten stroke is
    // the signature.
    std::vector<bool> partInPrint(parts.size());
    for (size_t k = 0; k < parts.size(); ++k)
        partInPrint[k] = inPrint(parts[k].box);
    double strokeLength = 0;
    cv::Rect box;
    for (const auto& [root, groupBox] : candidates) {
        const int gx = int(0.8 * groupBox.height);
        const int gy = int(0.3 * groupBox.height);
        const int bandTop = groupBox.y - gy;
        const int bandBottom = groupBox.y + groupBox.height + gy;
        cv::Rect grown = groupBox;
        std::vector<bool> taken(parts.size(), false);
        for (size_t k = 0; k < parts.size(); ++k)
            taken[k] = parts[k].hand && group[k] == root;
        std::vector<size_t> inBand;
        for (size_t k = 0; k < parts.size(); ++k) {
            const cv::Rect& r = parts[k].box;
            if (!taken[k] && !partInPrint[k] && r.y >= bandTop && r.y + r.height <= bandBottom &&
                r.height <= groupBox.height)
                inBand.push_back(k);
        }
        std::vector<const Component*> added;
        for (bool grew = true; grew;) {
            grew = false;
            for (size_t k : inBand) {
                const Component& c = parts[k];
                if (taken[k] || c.box.x > grown.x + grown.width + gx || c.box.x + c.box.width < grown.x - gx)
                    continue;
                taken[k] = true;
                added.push_back(&c);
                grown |= c.box;
                grew = true;
            }
        }
        if (looksPrinted(added) && setClosely(added)) {
            qCDebug(lcLocate) << "ink beside a handwritten group reads as print: left out";
            grown = groupBox;
            for (const Component* c : added)
                taken[size_t(c - &parts[0])] = false;
        }
        double length = 0;
        for (size_t k = 0; k < parts.size(); ++k) {
            if (!taken[k])
                continue;
            if (parts[k].stroke <= 0)
                parts[k].stroke = std::max(0.5, strokeWidth(labels, parts[k]));
            length += parts[k].area / std::max(1.0, parts[k].stroke);
        }
        // An underline, which the line removal took for a ruled line, belongs to it too: a
        // curved one near it, or a straight one that ends with the writing on one side at
        // least (the form's own lines and boxes reach past it on both).
        const double past = 2 * work.pxPerMm;
        for (const Run& run : runs) {
            const cv::Rect& r = run.rect;
            if (r.y < bandTop || r.y + r.height > bandBottom || r.width > 1.3 * grown.width ||
                r.x < grown.x - gx || r.x + r.width > grown.x + grown.width + gx)
                continue;
            if (run.curved || r.x >= grown.x - past || r.x + r.width <= grown.x + grown.width + past)
                grown |= r;
        }
        qCDebug(lcLocate) << "handwritten group at" << groupBox.x << groupBox.y << groupBox.width
                          << groupBox.height << "grown to" << grown.x << grown.y << grown.width
                          << grown.height << "stroke" << length / work.pxPerMm << "mm";
        // Lower than a line of print set large: a word of print, not a signature.
        if (grown.height < 5.5 * work.pxPerMm)
            continue;
        if (length > strokeLength) {
            strokeLength = length;
            box = grown;
        }
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
        // The printed text's turn, read once when needed.
        std::optional<TextTurn> text;
        auto textTurnOf = [&]() -> const TextTurn& {
            if (!text)
                text = textTurn(inkWithoutLines(work.grey, work), work);
            return *text;
        };
        // The cascade alone, dlib seeing nothing, also finds faces in some pictures that are
        // none, in any of their views: its face counts only when the printed text, if it
        // tells the turn at all, stands the same way up.
        if (findings.photo.found && bestFace.byCascade && textTurnOf().confidence >= kThreshold &&
            text->turn != bestFace.turn) {
            qCDebug(lcLocate) << "the cascade's face at turn" << bestFace.turn << "against the text's"
                              << text->turn;
            findings.photo.found = false;
        }
        // A small or grainy face the detector is not sure of counts when it is the only
        // face-like thing in the picture's views and either the cascade found it too or the
        // printed text stands the same way up: pictures that are no face score nothing at all.
        if (anyFace && !findings.photo.found && bestFace.confirmed && bestFace.secondScore <= 0) {
            qCDebug(lcLocate) << "weak face" << bestFace.score << "confirmed by the cascade";
            findings.photo.confidence = kThreshold;
            findings.turnConfidence = kThreshold;
            findings.photo.found = true;
        }
        if (anyFace && !findings.photo.found && !bestFace.byCascade && bestFace.score >= kWeakFace &&
            bestFace.secondScore <= 0 && textTurnOf().confidence >= kThreshold &&
            text->turn == bestFace.turn) {
            qCDebug(lcLocate) << "weak face" << bestFace.score << "upright with the text";
            findings.photo.confidence = kThreshold;
            findings.turnConfidence = std::min(kThreshold, text->confidence);
            findings.photo.found = true;
        }
        if (!findings.photo.found) {
            findings.turn = 0;
            findings.turnConfidence = 0;
            findings.pageSize = pageSize;
            findings.face = QRect();
        }
        // Without a face, the printed text tells the turn, when it is sure of it.
        if (!findings.photo.found && wanted == Wanted::All && textTurnOf().confidence >= kThreshold) {
            findings.turn = text->turn;
            findings.turnConfidence = text->confidence;
            findings.pageSize = (text->turn == 90 || text->turn == 270) ? pageSize.transposed() : pageSize;
        }

        qCDebug(lcLocate) << "photograph and face after" << timer.elapsed() << "ms";
        if (wanted == Wanted::PhotoOnly) {
            qCDebug(lcLocate) << "turn" << findings.turn << "photo" << findings.photo.found
                              << findings.photo.confidence << findings.photo.rect;
            return findings;
        }
        if (!findings.photo.found && findings.turnConfidence < kThreshold) {
            // A signature framed on a page whose turn is not known might be saved upside down.
            qCDebug(lcLocate) << "turn not known: no signature looked for";
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
