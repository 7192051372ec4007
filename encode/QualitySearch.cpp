#include "encode/QualitySearch.h"

#include "encode/GPP2J.h"

#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

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

int QualitySearch::threads() {
    bool ok = false;
    const int wanted = qEnvironmentVariableIntValue("VETRA_ENCODE_THREADS", &ok);
    if (ok && wanted >= 1)
        return std::min(wanted, 16);
    const int cores = int(std::thread::hardware_concurrency());
    return std::clamp(cores, 1, 4);
}

namespace {

// What the threads of one search share. Qualities are handed out from the top down, one
// at a time, so every quality above the answer is encoded by someone; the answer is the
// highest quality whose file fits or whose encode failed ("stop"). A thread that draws a
// quality below the stop found so far leaves it: it cannot change the answer.
struct SharedSearch {
    SharedSearch(const QImage& s, qint64 limit, int x, int y)
        : source(s), sizeLimit(limit), xdpi(x), ydpi(y) {}

    const QImage& source;
    qint64 sizeLimit;
    int xdpi;
    int ydpi;

    std::atomic<int> next{QualitySearch::kHighest};
    std::atomic<int> stop{QualitySearch::kLowest - 1};

    std::mutex mutex; // guards the fields below
    bool failed = false;
    QByteArray bytes; // the file at stop when it fits

    void work(GPP2J& writer) {
        for (;;) {
            const int quality = next.fetch_sub(1);
            if (quality < QualitySearch::kLowest || quality < stop.load())
                return;
            QByteArray encoded = writer.encode(source, quality, xdpi, ydpi);
            const bool fails = encoded.isEmpty();
            if (!fails && encoded.size() > sizeLimit)
                continue;
            std::lock_guard lock(mutex);
            if (quality > stop.load()) {
                stop.store(quality);
                failed = fails;
                bytes = std::move(encoded);
            }
            return; // every quality this thread would draw next is lower still
        }
    }
};

} // namespace

QualitySearch::Result QualitySearch::run(GPP2J& writer, const QImage& picture, qint64 sizeLimit, int xdpi,
                                         int ydpi) {
    const int count = threads();
    if (count <= 1)
        return runSequential(writer, picture, sizeLimit, xdpi, ydpi);

    const QImage source = GPP2J::encodable(picture);
    SharedSearch shared(source, sizeLimit, xdpi, ydpi);
    {
        std::vector<std::jthread> helpers;
        helpers.reserve(std::size_t(count - 1));
        for (int i = 1; i < count; ++i)
            helpers.emplace_back([&shared] {
                GPP2J own; // a writer is not shared between threads
                shared.work(own);
            });
        shared.work(writer);
    } // the helpers are joined here

    Result result;
    const int stop = shared.stop.load();
    if (stop < kLowest) {
        result.status = Status::LimitUnreachable;
        result.quality = kLowest;
        result.encodes = kHighest - kLowest + 1;
        return result;
    }
    result.quality = stop;
    result.encodes = kHighest - stop + 1;
    if (shared.failed) {
        // The failure may have happened on a helper's writer: encode once more here so
        // that writer.lastError() tells the caller why.
        result.status = Status::EncodeFailed;
        if (writer.encode(source, stop, xdpi, ydpi).isEmpty())
            return result;
        return runSequential(writer, picture, sizeLimit, xdpi, ydpi); // a failure that did not repeat
    }
    result.status = Status::Found;
    result.bytes = std::move(shared.bytes);
    return result;
}
