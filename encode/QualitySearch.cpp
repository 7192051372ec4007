#include "encode/QualitySearch.h"

#include "encode/GPP2J.h"

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

QualitySearch::Result QualitySearch::run(GPP2J& writer, const QImage& picture, qint64 sizeLimit, int xdpi,
                                         int ydpi) {
    // Converted once; the conversion keeps the picture's own density.
    const QImage source = GPP2J::encodable(picture);
    return run([&](int quality) { return writer.encode(source, quality, xdpi, ydpi); }, sizeLimit);
}
