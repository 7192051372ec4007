// The batch road's own page readers: JPEG, BMP and GIF headers, rows and the GIF LZW
// stream, read for one rectangle of a turned page.
// Input: 8 bytes choosing the request (rotation, mirror, rectangle, target size), then the
// page file's bytes.

#include "fuzz/FuzzCheck.h"
#include "imaging/BmpRegionReader.h"
#include "imaging/GifRegionReader.h"
#include "imaging/ImageFile.h"
#include "imaging/JpegRegionReader.h"
#include "imaging/RegionReader.h"

#include <QDir>
#include <QFile>
#include <QImage>

#include <unistd.h>

namespace {

constexpr std::size_t kRequestBytes = 8;

RegionRequest requestFrom(const std::uint8_t* d) {
    RegionRequest request;
    request.transform.rotation = 90 * (d[0] & 3);
    request.transform.mirror = static_cast<PageTransform::Mirror>((d[0] >> 2) % 3);
    // Small rectangles that may start before the page or reach past it.
    request.rect = QRect(int(std::int8_t(d[1])) * 4, int(std::int8_t(d[2])) * 4, 1 + d[3], 1 + d[4]);
    if (d[5] & 1)
        request.targetSize = QSize(1 + d[6] / 4, 1 + d[7] / 4);
    return request;
}

enum class Outcome { Read, Not, Unsupported, Failed };

template <typename Result> Outcome outcomeOf(Result r) {
    switch (r) {
    case Result::Read:
        return Outcome::Read;
    case Result::Unsupported:
        return Outcome::Unsupported;
    case Result::Failed:
        return Outcome::Failed;
    default:
        return Outcome::Not;
    }
}

Outcome outcomeOf(JpegRegionReader::Result r) {
    switch (r) {
    case JpegRegionReader::Result::Read:
        return Outcome::Read;
    case JpegRegionReader::Result::Failed:
        return Outcome::Failed;
    case JpegRegionReader::Result::NotJpeg:
        break;
    }
    return Outcome::Not;
}

Outcome outcomeOf(GifRegionReader::Result r) {
    switch (r) {
    case GifRegionReader::Result::Read:
        return Outcome::Read;
    case GifRegionReader::Result::Failed:
        return Outcome::Failed;
    case GifRegionReader::Result::NotGif:
        break;
    }
    return Outcome::Not;
}

// What every reader promises about its answer.
void checkRegion(Outcome outcome, const RegionRequest& request, const PageRegion& region, QSize headerSize,
                 Outcome sizeOutcome) {
    if (outcome == Outcome::Failed) {
        FUZZ_CHECK(!region.error.isEmpty());
        return;
    }
    if (outcome != Outcome::Read)
        return;
    FUZZ_CHECK(!region.image.isNull());
    FUZZ_CHECK(region.image.format() == QImage::Format_RGB32);
    FUZZ_CHECK(region.scale == 1.0 || region.scale == 0.5 || region.scale == 0.25 || region.scale == 0.125);
    if (region.scale == 1.0) {
        FUZZ_CHECK(region.image.size() == request.rect.size());
        FUZZ_CHECK(region.origin == QPointF(request.rect.topLeft()));
    }
    // The size read from the header alone agrees with the page the pixels came from.
    if (sizeOutcome == Outcome::Read)
        FUZZ_CHECK(request.transform.transformedSize(headerSize) == region.pageSize);
}

// For a small page read whole and untouched, the turned rectangle must hold the same pixels
// as the whole page turned by hand.
template <typename Reader>
void checkTurnedAgainstWhole(const std::uint8_t* data, qint64 size, const RegionRequest& request,
                             const PageRegion& region) {
    if (region.scale != 1.0 || region.pageSize.isEmpty())
        return;
    const QSize stored = request.transform.transformedSize(region.pageSize); // turning back is the same swap
    if (qint64(stored.width()) * stored.height() > 64 * 64)
        return;
    RegionRequest whole;
    whole.rect = QRect(QPoint(0, 0), stored);
    PageRegion all;
    if (Reader::read(data, size, whole, &all) != Reader::Result::Read)
        return;
    FUZZ_CHECK(all.image.size() == stored);
    for (int y = 0; y < stored.height(); ++y)
        for (int x = 0; x < stored.width(); ++x) {
            const QPoint shown = request.transform.map(stored, QPoint(x, y)) - request.rect.topLeft();
            if (region.image.rect().contains(shown))
                FUZZ_CHECK(region.image.pixel(shown) == all.image.pixel(x, y));
        }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kRequestBytes)
        return 0;
    const RegionRequest request = requestFrom(data);
    const std::uint8_t* page = data + kRequestBytes;
    const auto pageBytes = qint64(size - kRequestBytes);
    // The readers may touch only the page's own bytes: a copy of exactly that size lets
    // the address checker see any read past its end.
    const std::vector<uchar> copy(page, page + pageBytes);
    const uchar* bytes = copy.empty() ? nullptr : copy.data();
    static const uchar none = 0;
    if (!bytes)
        bytes = &none;

    {
        QSize header;
        QString why;
        const Outcome sized = outcomeOf(JpegRegionReader::size(bytes, pageBytes, &header, &why));
        PageRegion region;
        const Outcome read = outcomeOf(JpegRegionReader::read(bytes, pageBytes, request, &region));
        checkRegion(read, request, region, header, sized);
    }
    {
        QSize header;
        QString why;
        const Outcome sized = outcomeOf(GifRegionReader::size(bytes, pageBytes, &header, &why));
        PageRegion region;
        const Outcome read = outcomeOf(GifRegionReader::read(bytes, pageBytes, request, &region));
        checkRegion(read, request, region, header, sized);
        if (read == Outcome::Read)
            checkTurnedAgainstWhole<GifRegionReader>(bytes, pageBytes, request, region);
    }
    {
        QSize header;
        QString why;
        const Outcome sized = outcomeOf(BmpRegionReader::size(bytes, pageBytes, &header, &why));
        PageRegion region;
        const Outcome read = outcomeOf(BmpRegionReader::read(bytes, pageBytes, request, &region));
        checkRegion(read, request, region, header, sized);
        if (read == Outcome::Read) {
            FUZZ_CHECK(sized == Outcome::Read);
            checkTurnedAgainstWhole<BmpRegionReader>(bytes, pageBytes, request, region);
        }
    }
    // One input in four goes through the whole road from a file: the choice of reader and
    // Qt's readers for what ours leave (16-bit BMP, PNG); the workspace's
    // load of the same file must give the same verdict.
    if ((data[5] & 6) == 6) {
        static const QString path =
            QDir::temp().filePath(QStringLiteral("vetra-fuzz-region-%1").arg(::getpid()));
        {
            QFile file(path);
            FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            FUZZ_CHECK(file.write(reinterpret_cast<const char*>(page), pageBytes) == pageBytes);
        }
        RegionRequest fromFile = request;
        fromFile.path = path;
        const PageRegion region = RegionReader::read(fromFile);
        // Every failure says why.
        FUZZ_CHECK(region.ok() || !region.error.isEmpty());
        if (region.ok()) {
            FUZZ_CHECK(region.image.format() == QImage::Format_RGB32);
            if (region.scale == 1.0)
                FUZZ_CHECK(region.image.size() == request.rect.size());
            QString why;
            const QSize stored = RegionReader::pageSize(path, &why);
            FUZZ_CHECK(request.transform.transformedSize(stored) == region.pageSize);
        }
        ImageFile window;
        FUZZ_CHECK(window.loadFile(path) == region.ok());
        QFile::remove(path);
    }
    return 0;
}
