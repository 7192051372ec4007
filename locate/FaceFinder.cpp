#include "locate/FaceFinder.h"

#include "locate/FaceCascade.h"
#include "locate/FaceModel.h"
#include "locate/Logging.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <future>
#include <mutex>
#include <sstream>
#include <system_error>
#include <vector>

extern const unsigned char kFaceModel[];
extern const std::size_t kFaceModelSize;

namespace Locate {

namespace {

struct Face {
    cv::Rect rect;
    double score = 0; // the detector's margin; a face from 0 up
};

// The detector, built once.
class FaceDetector {
  public:
    static FaceDetector& instance() {
        static FaceDetector detector;
        return detector;
    }
    // The best face on an upright picture, score 0 and an empty rect when there is none
    // within `lowering` of the detector's own threshold. Safe to call from several threads:
    // each call builds its picture's HOG pyramid in a scanner of its own.
    Face detect(const cv::Mat& grey, double lowering) const {
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
            scanner.detect(filter.bank, found, filter.threshold - lowering);
            for (const auto& [value, rect] : found) {
                const double score = value - filter.threshold + lowering;
                if (score > best.score) {
                    best.score = score;
                    best.rect =
                        cv::Rect(int(rect.left()), int(rect.top()), int(rect.width()), int(rect.height()));
                }
            }
        }
        return best;
    }

    // The cascade's best face, its score the number of neighbouring detections scaled so
    // that FaceParams::cascadeVotes of them count as dlib's threshold.
    Face detectWithCascade(const cv::Mat& grey, const FaceParams& p) {
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
        const int minSide = int(p.cascadeMinSide * std::min(grey.cols, grey.rows));
        if (!find(equalised, minSide, &hits, &why)) {
            qCDebug(lcLocate) << "no face cascade:" << why.c_str();
            return best;
        }
        for (const FaceCascade::Hit& hit : hits) {
            const double score = double(hit.votes) / p.cascadeVotes * p.lowering;
            if (hit.rect.width <= p.cascadeMaxWidth * grey.cols && score > best.score)
                best = {hit.rect, score};
        }
        return best;
    }

  private:
    FaceDetector() {
        // The model as written at build time: dlib's own packed copy takes seconds to unpack.
        std::istringstream in(std::string(reinterpret_cast<const char*>(kFaceModel), kFaceModelSize));
        FaceModel::read(in, m_model);
    }
    FaceModel::Model m_model;
};

} // namespace

void preloadFaces() {
    FaceDetector::instance();
}

double faceConfidence(double score, const FaceParams& params) {
    return std::clamp(score / (2 * params.lowering), 0.0, 1.0);
}

namespace {

// The candidate with a 1/parts of its side round it, its short side at the detector's view size.
cv::Mat viewOf(const Work& work, const cv::Rect& photo, int parts, const FaceParams& p, cv::Rect& search,
               double& scale) {
    search = cv::Rect(photo.x - photo.width / parts, photo.y - photo.height / parts,
                      photo.width + photo.width / (parts / 2), photo.height + photo.height / (parts / 2)) &
             cv::Rect(0, 0, work.grey.cols, work.grey.rows);
    scale = p.viewShortSide / std::min(search.width, search.height);
    cv::Mat crop;
    cv::resize(work.grey(search), crop, cv::Size(), scale, scale,
               scale < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
    return crop;
}

// The cascade's face in the view turned by t quarters, back at the detector's view scale;
// larger is the view at the cascade's scale, made on first use.
Face cascadeIn(const cv::Mat& crop, cv::Mat& larger, int t, const FaceParams& p) {
    const double cascadeScale = p.cascadeViewShortSide / p.viewShortSide;
    if (larger.empty())
        cv::resize(crop, larger, cv::Size(), cascadeScale, cascadeScale, cv::INTER_LINEAR);
    Face face = FaceDetector::instance().detectWithCascade(turned(larger, t * 90), p);
    face.rect = cv::Rect(int(face.rect.x / cascadeScale), int(face.rect.y / cascadeScale),
                         int(std::ceil(face.rect.width / cascadeScale)),
                         int(std::ceil(face.rect.height / cascadeScale)));
    return face;
}

// Whether the cascade finds a face at the place of mine, in the same view.
bool sameFace(const cv::Rect& mine, const Face& other) {
    const cv::Point centreOfMine(mine.x + mine.width / 2, mine.y + mine.height / 2);
    const cv::Point centreOfOther(other.rect.x + other.rect.width / 2, other.rect.y + other.rect.height / 2);
    return other.score > 0 && other.rect.contains(centreOfMine) && mine.contains(centreOfOther);
}

} // namespace

bool needsConfirming(const FaceAnswer& answer, const FaceParams& p) {
    return !answer.byCascade && answer.score > 0 && underThreshold(answer.score, p);
}

bool confirmedByCascade(const Work& work, const cv::Rect& photo, const FaceAnswer& answer,
                        const FaceParams& p) {
    cv::Rect search;
    double scale = 1;
    const cv::Mat crop = viewOf(
        work, photo, answer.marginParts > 0 ? answer.marginParts : p.searchMarginParts, p, search, scale);
    cv::Mat larger;
    const Face other = cascadeIn(crop, larger, answer.turn / 90, p);
    const bool confirmed = sameFace(answer.inView, other);
    qCDebug(lcLocate) << "weak face" << answer.score << "cascade" << other.score
                      << (confirmed ? "at the same place" : "elsewhere or nowhere");
    return confirmed;
}

FaceAnswer faceIn(const Work& work, const cv::Rect& photo, const FaceParams& p, bool confirm) {
    FaceAnswer answer;
    FaceDetector& detector = FaceDetector::instance();
    cv::Rect search;
    double scale = 1;
    cv::Mat crop = viewOf(work, photo, p.searchMarginParts, p, search, scale);
    answer.marginParts = p.searchMarginParts;
    const cv::Rect ownSearch = search;
    // A photograph is taller than wide: one that looks wider lies on its side, one that
    // looks taller is upright or upside down. Only a square one needs all four views.
    const double aspect = double(search.height) / search.width;
    std::vector<int> views;
    for (int t = 0; t < 4; ++t) {
        const bool sideways = t % 2 == 1;
        if (!((aspect > p.sidewaysAspect && sideways) || (aspect < 1 / p.sidewaysAspect && !sideways)))
            views.push_back(t);
    }
    // The first view alone: most photographs are upright, and most faces decide at once.
    // The views left are looked at two at a time, the later half on a second thread; a view
    // that decides makes the later ones count for nothing, as if they had not been run.
    Face faceOf[4];
    const auto look = [&](std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k)
            faceOf[views[k]] = detector.detect(turned(crop, views[k] * 90), p.lowering);
    };
    if (!views.empty())
        look(0, 1);
    if (views.size() > 1 && faceOf[views[0]].score < p.decisive) {
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
        if (faceOf[views[k]].score >= p.decisive) {
            for (std::size_t j = k + 1; j < views.size(); ++j)
                faceOf[views[j]] = Face();
            break;
        }
    }
    const auto none = [&] {
        return std::all_of(std::begin(faceOf), std::end(faceOf), [](const Face& f) { return f.score <= 0; });
    };
    for (const int parts : p.wideMarginParts) {
        if (!none() || parts <= 0)
            break;
        cv::Rect wideSearch;
        double wideScale = 1;
        const cv::Mat wide = viewOf(work, photo, parts, p, wideSearch, wideScale);
        // Such a core is no photograph's shape either (an oval, a head and shoulders): its
        // aspect tells nothing of the turn, so every view is looked at, two on a second thread.
        const auto lookWide = [&](int from, int to) {
            for (int t = from; t < to; ++t)
                faceOf[t] = detector.detect(turned(wide, t * 90), p.lowering);
        };
        std::future<void> later;
        try {
            later = std::async(std::launch::async, lookWide, 2, 4);
        } catch (const std::system_error&) {
            later = std::async(std::launch::deferred, lookWide, 2, 4);
        }
        lookWide(0, 2);
        later.get();
        if (!none()) {
            views = {0, 1, 2, 3};
            crop = wide;
            search = wideSearch;
            scale = wideScale;
            answer.marginParts = parts;
        }
    }
    cv::Mat larger;
    auto cascadeAt = [&](int t) { return cascadeIn(crop, larger, t, p); };
    if (none()) {
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
    answer.turn = best * 90;
    answer.score = faceOf[best].score;
    answer.inView = faceOf[best].rect;
    if (confirm && needsConfirming(answer, p)) {
        const Face other = cascadeAt(best);
        answer.confirmed = sameFace(answer.inView, other);
        qCDebug(lcLocate) << "weak face" << faceOf[best].score << "cascade" << other.score
                          << (answer.confirmed ? "at the same place" : "elsewhere or nowhere");
    }
    for (int t = 0; t < 4; ++t) {
        if (t != best)
            answer.secondScore = std::max(answer.secondScore, faceOf[t].score);
    }
    // Back to working pixels of the turned page: the crop's scale, then the crop's place.
    const cv::Rect f = faceOf[best].rect;
    const cv::Rect inCrop(int(std::floor(f.x / scale)), int(std::floor(f.y / scale)),
                          int(std::ceil(f.width / scale)), int(std::ceil(f.height / scale)));
    // Placed from the candidate's corner, not the view's: the frames' placement for the head
    // was measured on faces so placed (a 1/20 of the candidate's side right of and below
    // the detector's box). A face from the wide view is placed the same way.
    const cv::Rect turnedPhoto = turnRect(photo, work.grey.size(), answer.turn);
    const cv::Point shift = turnRect(search, work.grey.size(), answer.turn).tl() -
                            turnRect(ownSearch, work.grey.size(), answer.turn).tl();
    answer.face = cv::Rect(turnedPhoto.x + shift.x + inCrop.x, turnedPhoto.y + shift.y + inCrop.y,
                           inCrop.width, inCrop.height) &
                  turnedPhoto;
    qCDebug(lcLocate) << "face scores by turn" << faceOf[0].score << faceOf[1].score << faceOf[2].score
                      << faceOf[3].score;
    return answer;
}

} // namespace Locate
