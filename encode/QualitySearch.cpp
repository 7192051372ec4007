#include "encode/QualitySearch.h"

#include "encode/GPP2J.h"
#include "encode/JpegSizeBound.h"
#include "encode/Logging.h"

#include <algorithm>

QualitySearch::Result QualitySearch::run(const Encoder& encode, qint64 sizeLimit) {
    Result result;
    for (int quality = kHighest; quality >= kLowest; --quality) {
        QByteArray bytes = encode(quality);
        ++result.encodes;
        result.quality = quality;
        if (bytes.isEmpty()) {
            result.status = Status::EncodeFailed;
            return result;
        }
        if (bytes.size() <= sizeLimit) {
            result.status = Status::Found;
            result.bytes = std::move(bytes);
            return result;
        }
    }
    result.status = Status::LimitUnreachable;
    return result;
}

QualitySearch::Result QualitySearch::runSequential(GPP2J& writer, const QImage& picture, qint64 sizeLimit,
                                                   int xdpi, int ydpi) {
    // Converted once; the conversion keeps the picture's own density.
    const QImage source = GPP2J::encodable(picture);
    return run([&](int quality) { return writer.encode(source, quality, xdpi, ydpi); }, sizeLimit);
}

QualitySearch::Result QualitySearch::run(GPP2J& writer, const QImage& picture, qint64 sizeLimit, int xdpi,
                                         int ydpi) {
    const QImage source = GPP2J::encodable(picture);
    const JpegSizeBound model(source);
    if (!model.usable())
        return runSequential(writer, picture, sizeLimit, xdpi, ydpi);

    // The monotone bound never falls as the quality rises: the qualities whose bound fits
    // are 1 .. top, and every one above top is too large. Find top (0: none) between a
    // quality whose bound fits and one whose bound is over, probing where the bounds seen
    // so far say the limit is crossed (every other probe halves the interval, so it takes
    // no more than twice the probes of a plain bisection).
    int top = 0;
    const qint64 highest = model.monotoneBound(kHighest);
    if (highest <= sizeLimit) {
        top = kHighest;
    } else {
        int fits = 0; // 0 stands for "none"
        int over = kHighest;
        qint64 fitsBound = 0;
        qint64 overBound = highest;
        const qint64 lowest = model.monotoneBound(1);
        if (lowest > sizeLimit) {
            over = 1;
        } else {
            fits = 1;
            fitsBound = lowest;
        }
        bool interpolate = true;
        while (over - fits > 1) {
            int probe = (fits + over) / 2;
            if (interpolate && overBound > fitsBound) {
                const double at = double(sizeLimit - fitsBound) / double(overBound - fitsBound);
                probe = std::clamp(fits + int(at * (over - fits)), fits + 1, over - 1);
            }
            interpolate = !interpolate;
            const qint64 bound = model.monotoneBound(probe);
            if (bound <= sizeLimit) {
                fits = probe;
                fitsBound = bound;
            } else {
                over = probe;
                overBound = bound;
            }
        }
        top = fits;
    }

    Result result;
    for (int quality = top; quality >= 1; --quality) {
        if (model.bound(quality, sizeLimit) > sizeLimit)
            continue;
        QByteArray bytes = writer.encode(source, quality, xdpi, ydpi);
        ++result.encodes;
        result.quality = quality;
        if (bytes.isEmpty()) // the step search meets the same failure, at its own quality
            return runSequential(writer, picture, sizeLimit, xdpi, ydpi);
        if (!model.agrees(quality, bytes)) {
            // The qualities ruled out so far were ruled out by a model the encoder just
            // contradicted: take the long way.
            qCDebug(lcEncode) << "the size model disagrees with the encoder at quality" << quality
                              << "; trying every quality";
            return runSequential(writer, picture, sizeLimit, xdpi, ydpi);
        }
        if (bytes.size() <= sizeLimit) {
            result.status = Status::Found;
            result.bytes = std::move(bytes);
            return result;
        }
    }
    // Quality 0 is encoded as 1: nothing lower can fit either.
    result.status = Status::LimitUnreachable;
    result.quality = kLowest;
    return result;
}
