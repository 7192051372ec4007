#pragma once

#include <QByteArray>
#include <QImage>
#include <functional>

class GPP2J;

// Finds the JPEG to save under a size limit: qualities are tried from 100 down, one step
// at a time, entirely in memory, and the first file no larger than the limit is the
// answer. Its bytes are returned so that the caller writes the file once, exactly as
// found.
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
        // Qualities tried from kHighest down to the answer. A parallel search may also
        // have encoded a few lower qualities alongside; those are not counted here.
        int encodes = 0;
    };

    // A file of exactly sizeLimit bytes is accepted.
    static Result run(const Encoder& encode, qint64 sizeLimit);

    // The search with the program's writer: picture at xdpi x ydpi dots per inch. The
    // pixels are prepared once for all the encodes. On EncodeFailed, writer.lastError()
    // says why.
    //
    // Consecutive qualities are encoded concurrently on up to threads() threads, each
    // with its own writer; the answer is still the first quality from kHighest down that
    // fits (or fails), so the result is the same as the one-at-a-time search's.
    static Result run(GPP2J& writer, const QImage& picture, qint64 sizeLimit, int xdpi, int ydpi);

    // The same search one quality at a time on the calling thread.
    static Result runSequential(GPP2J& writer, const QImage& picture, qint64 sizeLimit, int xdpi, int ydpi);

    // Threads a search uses: the processor count, at most 4; VETRA_ENCODE_THREADS
    // (1..16) overrides it, 1 meaning the one-at-a-time search.
    static int threads();
};
