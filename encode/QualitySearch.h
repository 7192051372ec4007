#pragma once

#include <QByteArray>
#include <QImage>
#include <functional>

class GPP2J;

// Finds the JPEG to save under a size limit: the first quality from 100 down whose file is
// no larger than the limit, found entirely in memory. Its bytes are returned so that the
// caller writes the file once, exactly as found.
//
// The window's save, its readout and vetra-batch all call
//
//   GPP2J writer;
//   const QualitySearch::Result r = QualitySearch::run(writer, picture, limit, 300, 300);
//   if (r.status == QualitySearch::Status::Found)  ... r.quality, r.bytes (r.bytes.size() bytes)
//
// which answers what trying every quality from 100 down would answer, with the same bytes,
// while encoding only one or two of them.
class QualitySearch {
  public:
    static constexpr int kHighest = 100;
    static constexpr int kLowest = 0; // libjpeg encodes 0 as 1, so 0 never fits when 1 did not

    // Encodes the picture at one quality; an empty array means the encode failed.
    // Tests hand in their own to control the sizes the search sees.
    using Encoder = std::function<QByteArray(int quality)>;

    enum class Status {
        Found,            // bytes hold the file at quality
        LimitUnreachable, // even kLowest gave a file above the limit; bytes empty
        EncodeFailed,     // the encoder failed at quality; bytes empty
    };

    struct Result {
        Status status = Status::EncodeFailed;
        int quality = kHighest;
        QByteArray bytes;
        int encodes = 0; // files actually encoded to get the answer
    };

    // The plain step search: encode(100), encode(99), ... until a file fits. A file of
    // exactly sizeLimit bytes is accepted.
    static Result run(const Encoder& encode, qint64 sizeLimit);

    // The search with the program's writer: picture at xdpi x ydpi dots per inch. On
    // EncodeFailed, writer.lastError() says why.
    //
    // Qualities are ruled out by what their file must at least weigh (JpegSizeBound)
    // without encoding them; only those that might fit are encoded, from the top down.
    // Every file it encodes is checked against the model, and should one ever disagree the
    // search falls back to runSequential(), so the answer is always the step search's.
    static Result run(GPP2J& writer, const QImage& picture, qint64 sizeLimit, int xdpi, int ydpi);

    // The step search with the program's writer, every quality encoded in turn.
    static Result runSequential(GPP2J& writer, const QImage& picture, qint64 sizeLimit, int xdpi, int ydpi);
};
