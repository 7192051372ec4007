#include "locate/Locator.h"

#include "locate/DebugView.h"
#include "locate/FaceFinder.h"
#include "locate/LabelReader.h"
#include "locate/Logging.h"
#include "locate/PhotoFinder.h"
#include "locate/SignatureFinder.h"
#include "locate/SkewFinder.h"
#include "locate/TextTurn.h"
#include "locate/WorkPicture.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

using namespace Locate;

namespace {

PageFindings search(const QImage& picture, QSize pageSize, Locator::Wanted wanted) {
    using Locator::kThreshold;
    using Locator::Wanted;
    PageFindings findings;
    findings.pageSize = pageSize;
    if (picture.isNull() || pageSize.isEmpty())
        return findings;
    Work work;
    QElapsedTimer timer;
    timer.start();
    try {
        // The OCR model for the signature's labels loads while the photograph is looked for.
        if (wanted == Wanted::All)
            preloadLabelReader();
        preloadFaces();
        qCDebug(lcLocate) << "detector ready after" << timer.elapsed() << "ms";
        work = prepare(picture, pageSize);
        const DebugView debug;
        debug.picture("work", work.grey);
        const FaceParams faceParams;

        // The photograph: the candidate whose face the detector is surest of.
        FaceAnswer bestFace;
        cv::Rect bestPhoto;
        std::vector<cv::Rect> candidates;
        // Whether a weak face is confirmed matters only for the face kept in the end: on a
        // page that is then straightened, the face is looked for again.
        const auto findPhotograph = [&](bool confirm) {
            bestFace = FaceAnswer();
            bestPhoto = cv::Rect();
            candidates.clear();
            for (const PhotoCandidate& candidate : photoCandidates(work, PhotoParams(), debug)) {
                candidates.push_back(candidate.rect);
                const FaceAnswer face = faceIn(work, candidate.rect, faceParams, confirm);
                if (face.score > bestFace.score) {
                    bestFace = face;
                    bestPhoto = candidate.rect;
                }
            }
        };
        findPhotograph(false);
        // The page's small angle, from the photograph's edges when there is one, else from
        // the text; on a page off by enough, everything is found again on the page turned
        // level, so that the frames hold no paper and the saved photograph stands level.
        const SkewParams skewParams;
        Skew skew;
        if (bestFace.score > 0)
            skew = photographSkew(work, bestPhoto, skewParams);
        if (skew.from == Skew::From::Nothing)
            skew = textSkew(inkOf(work.grey, work), candidates, skewParams);
        if (std::abs(skew.degrees) >= skewParams.leastDegrees) {
            // To a hundredth of a degree, so that the angle printed is the angle applied.
            findings.straighten = std::round(-skew.degrees * 100) / 100;
            qCDebug(lcLocate) << "straightened by" << findings.straighten << "degrees, measured on the"
                              << (skew.from == Skew::From::Photograph ? "photograph" : "text");
            work.grey = straightened(work.grey, findings.straighten, work.paper);
            debug.picture("straightened", work.grey);
            findPhotograph(true);
        } else if (needsConfirming(bestFace, faceParams)) {
            bestFace.confirmed = confirmedByCascade(work, bestPhoto, bestFace, faceParams);
        }
        const bool anyFace = bestFace.score > 0;
        const int turn = anyFace ? bestFace.turn : 0;
        const cv::Size workSize = work.grey.size();
        findings.turn = turn;
        findings.pageSize = (turn == 90 || turn == 270) ? pageSize.transposed() : pageSize;
        const cv::Rect turnedPhoto = anyFace ? turnRect(bestPhoto, workSize, turn) : cv::Rect();
        if (anyFace) {
            // At the detector's own threshold the confidence is kThreshold.
            findings.photo.confidence = faceConfidence(bestFace.score, faceParams);
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
                text = textTurn(inkWithoutLines(work.grey, work), work, TextTurnParams(), debug);
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
        if (anyFace && !findings.photo.found && !bestFace.byCascade && bestFace.score >= faceParams.weak &&
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
            signatureIn(grey, work, findings.photo.found ? turnedPhoto : cv::Rect(), SignatureParams(), debug,
                        readLabelLine);
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

} // namespace

namespace Locator {

void preload() {
    preloadFaces();
}

void preloadLabels() {
    preloadLabelReader();
}

PageFindings locate(const QImage& picture, QSize pageSize, Wanted wanted) {
    PageFindings findings = search(picture, pageSize, wanted);
    // A page with nothing to frame stays as it was loaded, askew or not.
    if (!findings.photo.found && !findings.signature.found)
        findings.straighten = 0;
    return findings;
}

} // namespace Locator
