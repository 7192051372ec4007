#include "imaging/GifRegionReader.h"

#include "imaging/RegionCanvas.h"

#include <QtEndian>

#include <array>
#include <cstring>
#include <vector>

namespace {

struct GifLayout {
    QSize screen;
    bool interlaced = false;
    bool wholeScreen = false;
    bool hasPalette = false;
    int minCodeSize = 0;
    qint64 dataStart = 0; // first sub-block length byte of the image data
    std::array<quint32, 256> palette{};
};

quint16 u16(const uchar* p) {
    return qFromLittleEndian<quint16>(p);
}

GifRegionReader::Result fail(QString* error, const QString& why) {
    *error = QStringLiteral("Il file GIF è danneggiato (%1).").arg(why);
    return GifRegionReader::Result::Failed;
}

GifRegionReader::Result truncated(QString* error) {
    *error = QStringLiteral("Il file GIF è troncato.");
    return GifRegionReader::Result::Failed;
}

// Skips a chain of data sub-blocks starting at *at; false when the file ends inside it.
bool skipSubBlocks(const uchar* data, qint64 size, qint64* at) {
    while (*at < size) {
        const int length = data[*at];
        *at += 1 + length;
        if (length == 0)
            return *at <= size;
    }
    return false;
}

void readPalette(const uchar* p, int count, GifLayout* gif) {
    gif->palette.fill(0xFF000000u); // indices past the table read as black, as in Qt's reader
    for (int i = 0; i < count; ++i)
        gif->palette[size_t(i)] =
            0xFF000000u | quint32(p[3 * i]) << 16 | quint32(p[3 * i + 1]) << 8 | p[3 * i + 2];
    gif->hasPalette = true;
}

// Reads the headers up to the first image's data. The size is known after 10 bytes;
// everything else only matters for reading pixels.
GifRegionReader::Result parse(const uchar* data, qint64 size, GifLayout* gif, QString* error) {
    if (size < 13)
        return truncated(error);
    gif->screen = QSize(u16(data + 6), u16(data + 8));
    if (gif->screen.isEmpty())
        return fail(error,
                    QStringLiteral("dimensioni %1 x %2").arg(gif->screen.width()).arg(gif->screen.height()));
    qint64 at = 13;
    const uchar flags = data[10];
    if (flags & 0x80) {
        const int count = 2 << (flags & 7);
        if (at + 3 * count > size)
            return truncated(error);
        readPalette(data + at, count, gif);
        at += 3 * count;
    }
    int transparent = -1;
    for (;;) {
        if (at >= size)
            return truncated(error);
        const uchar kind = data[at];
        if (kind == 0x3B)
            return fail(error, QStringLiteral("nessuna immagine"));
        if (kind == 0x21) { // extension
            if (at + 2 > size)
                return truncated(error);
            if (data[at + 1] == 0xF9 && at + 7 < size && data[at + 2] >= 4) // graphic control
                transparent = (data[at + 3] & 1) ? data[at + 6] : -1;
            at += 2;
            if (!skipSubBlocks(data, size, &at))
                return truncated(error);
            continue;
        }
        if (kind != 0x2C)
            return fail(error, QStringLiteral("blocco sconosciuto 0x%1").arg(kind, 2, 16, QLatin1Char('0')));
        break;
    }
    if (at + 10 > size)
        return truncated(error);
    const uchar* d = data + at;
    const QRect frame(u16(d + 1), u16(d + 3), u16(d + 5), u16(d + 7));
    const uchar imageFlags = d[9];
    at += 10;
    if (imageFlags & 0x80) {
        const int count = 2 << (imageFlags & 7);
        if (at + 3 * count > size)
            return truncated(error);
        readPalette(data + at, count, gif);
        at += 3 * count;
    }
    if (transparent >= 0)
        gif->palette[size_t(transparent)] = 0xFFFFFFFFu; // transparent parts lie on white paper
    gif->interlaced = imageFlags & 0x40;
    gif->wholeScreen = frame == QRect(QPoint(0, 0), gif->screen);
    if (at >= size)
        return truncated(error);
    gif->minCodeSize = data[at];
    if (gif->minCodeSize < 2 || gif->minCodeSize > 8)
        return fail(error, QStringLiteral("dimensione minima dei codici %1").arg(gif->minCodeSize));
    gif->dataStart = at + 1;
    // A file cut inside the image's data is refused whole, as the workspace refuses it.
    qint64 end = gif->dataStart;
    if (!skipSubBlocks(data, size, &end))
        return truncated(error);
    return GifRegionReader::Result::Read;
}

// Bits of the LZW stream, least significant first, across the data sub-blocks.
class CodeReader {
  public:
    CodeReader(const uchar* data, qint64 size, qint64 at) : m_data(data), m_size(size), m_at(at) {}

    // The next code of width bits, or -1 at the end of the data.
    int next(int width) {
        while (m_bits < width) {
            if (m_left == 0) {
                if (m_at >= m_size || m_data[m_at] == 0)
                    return -1;
                m_left = m_data[m_at++];
            }
            m_buffer |= quint32(m_data[m_at++]) << m_bits;
            m_bits += 8;
            --m_left;
        }
        const int code = int(m_buffer & ((1u << width) - 1));
        m_buffer >>= width;
        m_bits -= width;
        return code;
    }

  private:
    const uchar* m_data;
    qint64 m_size;
    qint64 m_at;
    int m_left = 0; // bytes left in the current sub-block
    quint32 m_buffer = 0;
    int m_bits = 0;
};

} // namespace

bool GifRegionReader::isGif(const uchar* data, qint64 size) {
    return size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0);
}

GifRegionReader::Result GifRegionReader::size(const uchar* data, qint64 size, QSize* pageSize,
                                              QString* error) {
    if (!isGif(data, size))
        return Result::NotGif;
    if (size < 10) {
        *error = QStringLiteral("Il file GIF è troncato.");
        return Result::Failed;
    }
    const QSize screen(u16(data + 6), u16(data + 8));
    if (screen.isEmpty()) // refused by read() as well
        return fail(error, QStringLiteral("dimensioni %1 x %2").arg(screen.width()).arg(screen.height()));
    *pageSize = screen;
    return Result::Read;
}

GifRegionReader::Result GifRegionReader::read(const uchar* data, qint64 size, const RegionRequest& request,
                                              PageRegion* out) {
    if (!isGif(data, size))
        return Result::NotGif;
    GifLayout gif;
    const Result parsed = parse(data, size, &gif, &out->error);
    if (parsed != Result::Read)
        return parsed;
    if (gif.interlaced || !gif.wholeScreen || !gif.hasPalette) {
        out->error =
            QStringLiteral("Questo tipo di file GIF (interlacciato o a riquadri) non si legge per righe.");
        return Result::Unsupported;
    }
    out->pageSize = request.transform.transformedSize(gif.screen);
    out->origin = request.rect.topLeft();
    out->scale = 1.0;

    RegionCanvas canvas(gif.screen, request.transform, request.rect);
    if (!canvas.allocate(&out->error))
        return Result::Failed;
    const QRect want = canvas.storedRect();
    if (want.isEmpty()) {
        out->image = canvas.image();
        return Result::Read;
    }

    const int width = gif.screen.width();
    const qint64 firstNeeded = qint64(want.top()) * width;
    std::vector<quint32> row(size_t(want.width()));
    std::vector<quint16> prefix(4096), length(4096);
    std::vector<uchar> suffix(4096), first(4096), stack(4096);
    const int clear = 1 << gif.minCodeSize;
    const int end = clear + 1;
    for (int c = 0; c < clear; ++c) {
        suffix[size_t(c)] = first[size_t(c)] = uchar(c);
        length[size_t(c)] = 1;
    }
    int next = clear + 2;
    int width0 = gif.minCodeSize + 1;
    int codeWidth = width0;
    int previous = -1;
    qint64 pos = 0;
    int x = 0;
    int y = 0;
    CodeReader codes(data, size, gif.dataStart);

    while (y <= want.bottom()) {
        const int code = codes.next(codeWidth);
        if (code < 0 || code == end)
            break;
        if (code == clear) {
            next = clear + 2;
            codeWidth = width0;
            previous = -1;
            continue;
        }
        if (previous < 0) {
            if (code >= clear)
                return fail(&out->error, QStringLiteral("codice %1 dopo l'azzeramento").arg(code));
        } else {
            if (code > next || (code == next && next >= 4096))
                return fail(&out->error, QStringLiteral("codice %1 fuori tabella").arg(code));
            if (next < 4096) {
                prefix[size_t(next)] = quint16(previous);
                suffix[size_t(next)] = code < next ? first[size_t(code)] : first[size_t(previous)];
                first[size_t(next)] = first[size_t(previous)];
                length[size_t(next)] = quint16(length[size_t(previous)] + 1);
                ++next;
                if (next == (1 << codeWidth) && codeWidth < 12)
                    ++codeWidth;
            }
        }
        previous = code;

        const int n = length[size_t(code)];
        if (pos + n <= firstNeeded) { // wholly above the rectangle: count it, do not unpack it
            pos += n;
            y = int(pos / width);
            x = int(pos % width);
            continue;
        }
        int depth = 0;
        for (int c = code; depth < n; c = prefix[size_t(c)])
            stack[size_t(n - 1 - depth++)] = suffix[size_t(c)];
        for (int i = 0; i < n && y <= want.bottom(); ++i) {
            if (y >= want.top() && x >= want.left() && x <= want.right())
                row[size_t(x - want.left())] = gif.palette[stack[size_t(i)]];
            if (++x == width) {
                if (y >= want.top())
                    canvas.putRow(y, want.left(), row.data(), want.width());
                x = 0;
                ++y;
            }
        }
        pos += n;
    }
    if (y <= want.bottom()) {
        out->error = QStringLiteral("Il file GIF è danneggiato (dati dell'immagine incompleti).");
        return Result::Failed;
    }
    out->image = canvas.image();
    return Result::Read;
}
