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
        preloadFaces();
        qCDebug(lcLocate) << "detector ready after" << timer.elapsed() << "ms";
        work = prepare(picture, pageSize);
        const DebugView debug;
        debug.picture("work", work.grey);
        const FaceParams faceParams;

        // The page's small angle from its text and rules first, the photographs' tones left
        // out: a page off by enough is turned level before anything is looked for on it, so
        // that the frames hold no paper and it is searched once.
        const SkewParams skewParams;
        const cv::Mat asLoaded = work.grey;
        std::vector<PhotoCandidate> candidates = photoCandidates(work, PhotoParams(), debug);
        std::vector<cv::Rect> leaveOut;
        for (const PhotoCandidate& candidate : candidates)
            leaveOut.push_back(candidate.rect);
        const Skew textAngle = textSkew(inkOf(work.grey, work), leaveOut, skewParams);
        double level = 0;
        if (std::abs(textAngle.degrees) >= skewParams.leastDegrees) {
            // To a hundredth of a degree, so that the angle printed is the angle applied.
            level = std::round(-textAngle.degrees * 100) / 100;
            work.grey = straightened(asLoaded, level, work.paper);
            debug.picture("straightened", work.grey);
            candidates = photoCandidates(work, PhotoParams(), debug);
        }

        // The photograph: the candidate whose face the detector is surest of.
        FaceAnswer bestFace;
        cv::Rect bestPhoto;
        for (const PhotoCandidate& candidate : candidates) {
            const FaceAnswer face = faceIn(work, candidate.rect, faceParams, false);
            if (face.score > bestFace.score) {
                bestFace = face;
                bestPhoto = candidate.rect;
            }
        }
        if (needsConfirming(bestFace, faceParams))
            bestFace.confirmed = confirmedByCascade(work, bestPhoto, bestFace, faceParams);

        // A photograph glued askew: its own edges tell its angle on the page as now turned,
        // and the page is turned level by that too. What was found is carried along: the
        // face turns with the page, the photograph's box stands on its measured edges. The
        // signature is looked for on the page as its text stands level (its rules and boxes
        // are the form's) and its frame turned the same way.
        const cv::Mat textLevel = work.grey;
        const cv::Rect photoOnText = bestPhoto;
        double glueTurn = 0;
        if (bestFace.score > 0) {
            const Skew glued = photographSkew(work, bestPhoto, skewParams);
            double total = std::round((level - glued.degrees) * 100) / 100;
            if (std::abs(total) < skewParams.leastDegrees)
                total = 0;
            const double turnBy = total - level;
            // Without the text's angle the photograph's is the page's, as far as it is looked for.
            const double mostGlued =
                textAngle.from == Skew::From::Text ? skewParams.mostGlued : skewParams.maxDegrees;
            // Glued askew means off the form's lines: the text's angle left on the page as now
            // turned (all of it when under the least straightened) is the form's.
            const double textLeft = textAngle.degrees + level;
            if (glued.from == Skew::From::Photograph && turnBy != 0 &&
                std::abs(glued.degrees - textLeft) >= skewParams.leastGlued &&
                std::abs(glued.degrees) <= mostGlued) {
                glueTurn = turnBy;
                Skew measured = glued;
                measured.degrees = -turnBy;
                const cv::Size turnedSize = (bestFace.turn == 90 || bestFace.turn == 270)
                                                ? cv::Size(work.grey.rows, work.grey.cols)
                                                : work.grey.size();
                bestPhoto = levelledPhotograph(bestPhoto, measured, work.grey.size(), PhotoParams().insetPx);
                bestFace.face = carriedBox(bestFace.face, turnedSize, turnBy);
                level = total;
                work.grey = level == 0 ? asLoaded : straightened(asLoaded, level, work.paper);
                debug.picture("levelled", work.grey);
            }
        }
        findings.straighten = level;
        if (level != 0)
            qCDebug(lcLocate) << "straightened by" << level << "degrees";
        const bool anyFace = bestFace.score > 0;
        if (anyFace)
            bestPhoto = wholePhotograph(work, bestPhoto, bestFace.face, bestFace.turn, PhotoParams(), debug);
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
        const cv::Mat grey = turned(textLevel, findings.turn);
        const SignatureAnswer signature = signatureIn(
            grey, work,
            findings.photo.found ? turnRect(photoOnText, textLevel.size(), findings.turn) : cv::Rect(),
            SignatureParams(), debug, readLabelLine);
        findings.signature.confidence = signature.confidence;
        if (signature.box.area() > 0)
            findings.signature.rect =
                toPage(glueTurn != 0 ? turnedBox(signature.box, grey.size(), glueTurn) : signature.box, work,
                       findings.pageSize);
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
