#include "imaging/BmpRegionReader.h"

#include "imaging/PageFile.h"
#include "imaging/RegionCanvas.h"

#include <cstring>
#include <vector>

bool BmpRegionReader::isBmp(const uchar* data, qint64 size) {
    return size >= 2 && data[0] == 'B' && data[1] == 'M';
}

BmpRegionReader::Result BmpRegionReader::size(const uchar* data, qint64 size, QSize* pageSize,
                                              QString* error) {
    if (!isBmp(data, size))
        return Result::NotBmp;
    BmpHeader bmp;
    if (!BmpHeader::parse(data, size, size, &bmp, error))
        return Result::Failed;
    *pageSize = bmp.size;
    return Result::Read;
}

BmpRegionReader::Result BmpRegionReader::read(const uchar* data, qint64 size, const RegionRequest& request,
                                              PageRegion* out) {
    if (!isBmp(data, size))
        return Result::NotBmp;
    BmpHeader bmp;
    if (!BmpHeader::parse(data, size, size, &bmp, &out->error))
        return Result::Failed;
    const ReadAt fromMemory = [data, size](qint64 offset, void* to, qint64 length) {
        if (offset < 0 || length < 0 || offset + length > size)
            return false;
        std::memcpy(to, data + offset, size_t(length));
        return true;
    };
    return read(bmp, fromMemory, request, out);
}

BmpRegionReader::Result BmpRegionReader::read(const BmpHeader& bmp, const ReadAt& readAt,
                                              const RegionRequest& request, PageRegion* out) {
    if (bmp.rows == BmpHeader::Rows::Qt) {
        out->error = QStringLiteral("questo tipo di file BMP (%1 bit) si legge con il lettore generico.")
                         .arg(bmp.bitsPerPixel);
        return Result::Unsupported;
    }
    if (!PageLimits::pageFits(bmp.size.width(), bmp.size.height())) {
        out->error = QStringLiteral("la pagina (%1 x %2 pixel) supera i limiti di una pagina.")
                         .arg(bmp.size.width())
                         .arg(bmp.size.height());
        return Result::Failed;
    }
    out->pageSize = request.transform.transformedSize(bmp.size);
    out->origin = request.rect.topLeft();
    out->scale = 1.0;

    RegionCanvas canvas(bmp.size, request.transform, request.rect);
    if (!canvas.allocate(&out->error))
        return Result::Failed;
    const QRect want = canvas.storedRect();
    if (want.isEmpty()) {
        out->image = canvas.image();
        return Result::Read;
    }
    // The bytes of the wanted columns, a band of rows at a time.
    const qint64 firstByte = qint64(want.left()) * bmp.bitsPerPixel / 8;
    const int firstPixel = want.left() - int(firstByte * 8 / bmp.bitsPerPixel);
    constexpr int kBand = 32;
    std::vector<uchar> band(size_t(bmp.stride * kBand));
    std::vector<quint32> row(size_t(want.width()));
    for (int top = want.top(); top <= want.bottom(); top += kBand) {
        const int rows = std::min(kBand, want.bottom() + 1 - top);
        // The band's rows lie next to each other in the file, in one order or the other.
        const int firstStored = bmp.topDown ? top : top + rows - 1;
        if (!readAt(bmp.rowOffset(firstStored), band.data(), bmp.stride * rows)) {
            out->error = PageFile::changedReason();
            return Result::Failed;
        }
        for (int i = 0; i < rows; ++i) {
            const int y = top + i;
            const int inBand = bmp.topDown ? i : rows - 1 - i;
            const uchar* stored = band.data() + bmp.stride * inBand + firstByte;
            bmp.decodeRow(stored, firstPixel, want.width(), row.data());
            canvas.putRow(y, want.left(), row.data(), want.width());
        }
    }
    out->image = canvas.image();
    return Result::Read;
}
