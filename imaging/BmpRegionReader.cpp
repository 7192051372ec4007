#include "imaging/BmpRegionReader.h"

#include "imaging/RegionCanvas.h"

#include <QtEndian>

#include <vector>

namespace {

constexpr quint32 kRgb = 0;
constexpr quint32 kBitFields = 3;

struct BmpLayout {
    QSize size;
    bool topDown = false;
    int bitsPerPixel = 0;
    qint64 pixelOffset = 0;
    qint64 stride = 0;
    std::vector<quint32> palette; // 0xffRRGGBB
};

quint16 u16(const uchar* p) {
    return qFromLittleEndian<quint16>(p);
}
quint32 u32(const uchar* p) {
    return qFromLittleEndian<quint32>(p);
}

BmpRegionReader::Result fail(QString* error, const QString& why) {
    *error = QStringLiteral("Il file BMP è danneggiato (%1).").arg(why);
    return BmpRegionReader::Result::Failed;
}

BmpRegionReader::Result unsupported(QString* error, const QString& what) {
    *error = QStringLiteral("Questo tipo di file BMP (%1) non si legge per righe.").arg(what);
    return BmpRegionReader::Result::Unsupported;
}

// Reads and checks the headers; every offset used later lies inside the file.
BmpRegionReader::Result parse(const uchar* data, qint64 size, BmpLayout* bmp, QString* error) {
    if (size < 14 + 12)
        return fail(error, QStringLiteral("intestazione incompleta"));
    const qint64 offBits = u32(data + 10);
    const quint32 headerSize = u32(data + 14);
    const uchar* h = data + 14;
    if (headerSize < 12 || 14 + qint64(headerSize) > size)
        return fail(error, QStringLiteral("intestazione incompleta"));

    qint64 width = 0;
    qint64 height = 0;
    int bpp = 0;
    quint32 compression = kRgb;
    quint32 colorsUsed = 0;
    int paletteEntry = 4;
    if (headerSize == 12) { // OS/2 core header
        width = u16(h + 4);
        height = u16(h + 6);
        bpp = u16(h + 10);
        paletteEntry = 3;
    } else if (headerSize >= 40) {
        width = qint32(u32(h + 4));
        height = qint32(u32(h + 8));
        bpp = u16(h + 14);
        compression = u32(h + 16);
        colorsUsed = u32(h + 32);
    } else {
        return unsupported(error, QStringLiteral("intestazione di %1 byte").arg(headerSize));
    }

    qint64 paletteStart = 14 + qint64(headerSize);
    if (compression == kBitFields) {
        // Plain 32-bit 8-8-8 masks read like an uncompressed file; other layouts go to Qt.
        const uchar* masks = headerSize >= 52 ? h + 40 : data + 14 + 40;
        if (headerSize < 52) {
            if (14 + 40 + 12 > size)
                return fail(error, QStringLiteral("maschere mancanti"));
            paletteStart += 12;
        }
        if (bpp != 32 || u32(masks) != 0x00FF0000 || u32(masks + 4) != 0x0000FF00 ||
            u32(masks + 8) != 0x000000FF)
            return unsupported(error, QStringLiteral("campi di bit a %1 bit").arg(bpp));
    } else if (compression != kRgb) {
        return unsupported(error, QStringLiteral("compresso, metodo %1").arg(compression));
    }
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
        return unsupported(error, QStringLiteral("%1 bit per pixel").arg(bpp));
    if (width <= 0 || height == 0 || width > 65535 || height > 65535 || height < -65535)
        return fail(error, QStringLiteral("dimensioni %1 x %2").arg(width).arg(height));

    bmp->size = QSize(int(width), int(height < 0 ? -height : height));
    bmp->topDown = height < 0;
    bmp->bitsPerPixel = bpp;
    bmp->pixelOffset = offBits;
    bmp->stride = (width * bpp + 31) / 32 * 4;

    if (bpp <= 8) {
        const quint32 most = 1u << bpp;
        const quint32 count = colorsUsed == 0 || colorsUsed > most ? most : colorsUsed;
        if (paletteStart + qint64(count) * paletteEntry > std::min(size, offBits))
            return fail(error, QStringLiteral("tavolozza incompleta"));
        // Indices past the palette read as black, as in Qt's reader.
        bmp->palette.assign(most, 0xFF000000u);
        for (quint32 i = 0; i < count; ++i) {
            const uchar* e = data + paletteStart + qint64(i) * paletteEntry;
            bmp->palette[i] = 0xFF000000u | quint32(e[2]) << 16 | quint32(e[1]) << 8 | e[0];
        }
    }
    if (offBits < paletteStart || offBits > size)
        return fail(error, QStringLiteral("posizione dei pixel non valida"));
    if (offBits + bmp->stride * bmp->size.height() > size) {
        *error = QStringLiteral("Il file BMP è troncato.");
        return BmpRegionReader::Result::Failed;
    }
    return BmpRegionReader::Result::Read;
}

void decodeRow(const BmpLayout& bmp, const uchar* src, int x0, int count, quint32* dest) {
    switch (bmp.bitsPerPixel) {
    case 32:
        for (int i = 0; i < count; ++i) {
            const uchar* p = src + qint64(x0 + i) * 4;
            dest[i] = 0xFF000000u | quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0];
        }
        break;
    case 24:
        for (int i = 0; i < count; ++i) {
            const uchar* p = src + qint64(x0 + i) * 3;
            dest[i] = 0xFF000000u | quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0];
        }
        break;
    case 8:
        for (int i = 0; i < count; ++i)
            dest[i] = bmp.palette[src[x0 + i]];
        break;
    case 4:
        for (int i = 0; i < count; ++i) {
            const int x = x0 + i;
            dest[i] = bmp.palette[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F];
        }
        break;
    case 1:
        for (int i = 0; i < count; ++i) {
            const int x = x0 + i;
            dest[i] = bmp.palette[(src[x >> 3] >> (7 - (x & 7))) & 1];
        }
        break;
    default:
        break;
    }
}

} // namespace

bool BmpRegionReader::isBmp(const uchar* data, qint64 size) {
    return size >= 2 && data[0] == 'B' && data[1] == 'M';
}

BmpRegionReader::Result BmpRegionReader::size(const uchar* data, qint64 size, QSize* pageSize,
                                              QString* error) {
    if (!isBmp(data, size))
        return Result::NotBmp;
    BmpLayout bmp;
    const Result r = parse(data, size, &bmp, error);
    if (r == Result::Read)
        *pageSize = bmp.size;
    return r;
}

BmpRegionReader::Result BmpRegionReader::read(const uchar* data, qint64 size, const RegionRequest& request,
                                              PageRegion* out) {
    if (!isBmp(data, size))
        return Result::NotBmp;
    BmpLayout bmp;
    const Result r = parse(data, size, &bmp, &out->error);
    if (r != Result::Read)
        return r;
    out->pageSize = request.transform.transformedSize(bmp.size);
    out->origin = request.rect.topLeft();
    out->scale = 1.0;

    RegionCanvas canvas(bmp.size, request.transform, request.rect);
    if (!canvas.allocate(&out->error))
        return Result::Failed;
    const QRect want = canvas.storedRect();
    std::vector<quint32> row(size_t(std::max(0, want.width())));
    for (int y = want.top(); y <= want.bottom() && !want.isEmpty(); ++y) {
        const int fileRow = bmp.topDown ? y : bmp.size.height() - 1 - y;
        decodeRow(bmp, data + bmp.pixelOffset + bmp.stride * fileRow, want.left(), want.width(), row.data());
        canvas.putRow(y, want.left(), row.data(), want.width());
    }
    out->image = canvas.image();
    return Result::Read;
}
