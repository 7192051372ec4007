#include "imaging/BmpHeader.h"

#include <QtEndian>

#include <algorithm>

namespace {

constexpr quint32 kRgb = 0;
constexpr quint32 kRle8 = 1;
constexpr quint32 kRle4 = 2;
constexpr quint32 kBitFields = 3;
constexpr quint32 kAlphaBitFields = 6;

quint16 u16(const uchar* p) {
    return qFromLittleEndian<quint16>(p);
}
quint32 u32(const uchar* p) {
    return qFromLittleEndian<quint32>(p);
}

bool fail(QString* error, const QString& why) {
    *error = QStringLiteral("il file BMP è danneggiato (%1).").arg(why);
    return false;
}

} // namespace

bool BmpHeader::parse(const uchar* data, qint64 headSize, qint64 fileSize, BmpHeader* bmp, QString* error) {
    if (headSize < 14 + 12)
        return fail(error, QStringLiteral("intestazione incompleta"));
    const qint64 offBits = u32(data + 10);
    const quint32 headerSize = u32(data + 14);
    const uchar* h = data + 14;
    if (headerSize < 12 || 14 + qint64(headerSize) > headSize)
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
        bmp->xPerMetre = qint32(u32(h + 24));
        bmp->yPerMetre = qint32(u32(h + 28));
        colorsUsed = u32(h + 32);
    } else {
        return fail(error, QStringLiteral("intestazione di %1 byte").arg(headerSize));
    }
    if (width <= 0 || height == 0 || width > 65535 || height > 65535 || height < -65535)
        return fail(error, QStringLiteral("dimensioni %1 x %2").arg(width).arg(height));

    bmp->size = QSize(int(width), int(height < 0 ? -height : height));
    bmp->topDown = height < 0;
    bmp->bitsPerPixel = bpp;
    bmp->compression = compression;
    bmp->pixelOffset = offBits;
    bmp->stride = (width * bpp + 31) / 32 * 4;

    qint64 paletteStart = 14 + qint64(headerSize);
    switch (compression) {
    case kRgb:
        if (bpp == 16)
            bmp->rows = Rows::Qt;
        else if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
            return fail(error, QStringLiteral("%1 bit per pixel").arg(bpp));
        break;
    case kBitFields:
    case kAlphaBitFields: {
        // Plain 32-bit 8-8-8 masks read like an uncompressed file; other layouts go to Qt.
        const qint64 masksAt = headerSize >= 52 ? 14 + 40 : 14 + qint64(headerSize);
        if (headerSize < 52)
            paletteStart += compression == kAlphaBitFields ? 16 : 12;
        if (masksAt + 12 > headSize)
            return fail(error, QStringLiteral("maschere mancanti"));
        const uchar* masks = data + masksAt;
        if (bpp != 16 && bpp != 32)
            return fail(error, QStringLiteral("campi di bit a %1 bit").arg(bpp));
        const bool plain = bpp == 32 && u32(masks) == 0x00FF0000 && u32(masks + 4) == 0x0000FF00 &&
                           u32(masks + 8) == 0x000000FF;
        bmp->rows = plain ? Rows::Ours : Rows::Qt;
        break;
    }
    case kRle8:
    case kRle4:
        *error = QStringLiteral("i file BMP compressi (RLE) non sono gestiti.");
        bmp->rows = Rows::Refused;
        return false;
    default:
        *error = QStringLiteral("questo tipo di file BMP (compressione %1) non è gestito.").arg(compression);
        bmp->rows = Rows::Refused;
        return false;
    }

    if (bpp <= 8) {
        const quint32 most = 1u << bpp;
        const quint32 count = colorsUsed == 0 || colorsUsed > most ? most : colorsUsed;
        if (paletteStart + qint64(count) * paletteEntry > std::min({headSize, fileSize, offBits}))
            return fail(error, QStringLiteral("tavolozza incompleta"));
        // Indices past the palette read as black, as in Qt's reader.
        bmp->palette.assign(most, 0xFF000000u);
        for (quint32 i = 0; i < count; ++i) {
            const uchar* e = data + paletteStart + qint64(i) * paletteEntry;
            bmp->palette[i] = 0xFF000000u | quint32(e[2]) << 16 | quint32(e[1]) << 8 | e[0];
        }
    }
    if (offBits < paletteStart || offBits > fileSize)
        return fail(error, QStringLiteral("posizione dei pixel non valida"));
    if (offBits + bmp->stride * bmp->size.height() > fileSize) {
        *error = QStringLiteral("il file BMP è troncato.");
        return false;
    }
    return true;
}

void BmpHeader::decodeRow(const uchar* src, int x0, int count, quint32* dest) const {
    switch (bitsPerPixel) {
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
            dest[i] = palette[src[x0 + i]];
        break;
    case 4:
        for (int i = 0; i < count; ++i) {
            const int x = x0 + i;
            dest[i] = palette[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F];
        }
        break;
    case 1:
        for (int i = 0; i < count; ++i) {
            const int x = x0 + i;
            dest[i] = palette[(src[x >> 3] >> (7 - (x & 7))) & 1];
        }
        break;
    default:
        std::fill(dest, dest + count, 0xFFFFFFFFu);
        break;
    }
}
