#include "imaging/GifRegionReader.h"

#include "imaging/FastPixels.h"
#include "imaging/PageFile.h"
#include "imaging/RegionCanvas.h"

#include <QtEndian>

#include <array>
#include <cstring>
#include <vector>

namespace {

// Qt's reader gives this for the transparent colour and for indices past the colour table.
constexpr quint32 kClearWhite = 0x00FFFFFFu;

struct GifLayout {
    QSize screen;
    QRect frame; // the first image on the screen; it may reach past it
    bool interlaced = false;
    int minCodeSize = 0;
    qint64 dataStart = 0; // first sub-block length byte of the first image's data
    int transparent = -1;
    // The first image's colours and the screen around it, as Qt's reader paints them.
    std::array<quint32, 256> palette{};
    quint32 background = 0;
    // What the animation's later images need: the first image's table and length, the
    // disposal its graphic control block asks for, and whether it leaves part of the screen.
    const uchar* table = nullptr;
    int tableLength = 0;
    int disposal = 0;
    bool framed = false;
};

quint16 u16(const uchar* p) {
    return qFromLittleEndian<quint16>(p);
}

GifRegionReader::Result fail(QString* error, const QString& why) {
    *error = QStringLiteral("il file GIF è danneggiato (%1).").arg(why);
    return GifRegionReader::Result::Failed;
}

GifRegionReader::Result truncated(QString* error) {
    *error = QStringLiteral("il file GIF è troncato.");
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

// The first image's colours. The table in use is the image's own or else the global one;
// its length counts even without a global table (2 << the screen's size bits). Indices past
// the table read as clear white (with no table at all, those up to its length as 0), and
// the transparent index loses its alpha.
void makePalette(const uchar* table, int length, int transparent, GifLayout* gif) {
    for (int i = 0; i < 256; ++i) {
        quint32 c;
        if (i > length)
            c = kClearWhite;
        else if (!table)
            c = 0;
        else if (i == length)
            c = kClearWhite;
        else
            c = 0xFF000000u | quint32(table[3 * i]) << 16 | quint32(table[3 * i + 1]) << 8 | table[3 * i + 2];
        if (i == transparent)
            c &= kClearWhite;
        gif->palette[size_t(i)] = c;
    }
}

// Walks every block of the file to its trailer and keeps what the first image needs.
GifRegionReader::Result parse(const uchar* data, qint64 size, GifLayout* gif, QString* error) {
    if (size < 13)
        return truncated(error);
    gif->screen = QSize(u16(data + 6), u16(data + 8));
    if (gif->screen.isEmpty())
        return fail(error,
                    QStringLiteral("dimensioni %1 x %2").arg(gif->screen.width()).arg(gif->screen.height()));
    if (!PageLimits::pageFits(gif->screen.width(), gif->screen.height())) {
        *error = QStringLiteral("la pagina (%1 x %2 pixel) supera i limiti di una pagina.")
                     .arg(gif->screen.width())
                     .arg(gif->screen.height());
        return GifRegionReader::Result::Failed;
    }
    qint64 at = 13;
    const uchar flags = data[10];
    const int globalLength = 2 << (flags & 7);
    const uchar* globalTable = nullptr;
    if (flags & 0x80) {
        if (at + 3 * globalLength > size)
            return truncated(error);
        globalTable = data + at;
        at += 3 * globalLength;
    }
    const uchar* localTable = nullptr;
    int localLength = 0;
    int transparent = -1;
    int images = 0;
    for (;;) {
        if (at >= size)
            return truncated(error);
        const uchar kind = data[at];
        if (kind == 0x3B)
            break;
        if (kind == 0x21) { // extension
            if (at + 2 > size)
                return truncated(error);
            if (images == 0 && data[at + 1] == 0xF9 && at + 7 < size &&
                data[at + 2] >= 4) { // graphic control
                transparent = (data[at + 3] & 1) ? data[at + 6] : -1;
                const int method = (data[at + 3] >> 2) & 7;
                gif->disposal = method <= 3 ? method : 0;
            }
            at += 2;
            if (!skipSubBlocks(data, size, &at))
                return truncated(error);
            continue;
        }
        if (kind != 0x2C)
            return fail(error, QStringLiteral("blocco sconosciuto 0x%1").arg(kind, 2, 16, QLatin1Char('0')));
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
            if (images == 0) {
                localTable = data + at;
                localLength = count;
            }
            at += 3 * count;
        }
        if (at >= size)
            return truncated(error);
        const int minCodeSize = data[at];
        if (minCodeSize < 2 || minCodeSize > 8)
            return fail(error, QStringLiteral("dimensione minima dei codici %1").arg(minCodeSize));
        if (images == 0) {
            if (frame.isEmpty())
                return fail(error, QStringLiteral("immagine vuota"));
            gif->frame = frame;
            gif->interlaced = imageFlags & 0x40;
            gif->minCodeSize = minCodeSize;
            gif->dataStart = at + 1;
        }
        ++at;
        if (!skipSubBlocks(data, size, &at))
            return truncated(error);
        ++images;
    }
    if (images == 0)
        return fail(error, QStringLiteral("nessuna immagine"));
    gif->transparent = transparent;
    gif->table = localTable ? localTable : globalTable;
    gif->tableLength = localTable ? localLength : globalLength;
    makePalette(gif->table, gif->tableLength, transparent, gif);
    gif->framed = gif->frame.left() != 0 || gif->frame.top() != 0 ||
                  gif->frame.width() < gif->screen.width() || gif->frame.height() < gif->screen.height();
    // Around an image that leaves part of the screen: the transparent colour, else the
    // background colour the screen names (read through the image's table), else nothing (0).
    if (transparent >= 0)
        gif->background = gif->palette[size_t(transparent)];
    else if (globalTable)
        gif->background = gif->palette[data[11]];
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

// The LZW string table. Each code's string is kept whole in one byte store, so a code
// is emitted with one copy; a new code built on the string that ends the store (the usual
// case) only appends its last byte.
class StringTable {
  public:
    explicit StringTable(int minCodeSize) : m_clear(1 << minCodeSize) {
        m_store.resize(size_t(1) << 16);
        for (int c = 0; c < m_clear; ++c) {
            m_store[size_t(c)] = uchar(c);
            m_offset[size_t(c)] = quint32(c);
            m_length[size_t(c)] = 1;
        }
        reset();
    }

    void reset() {
        m_next = m_clear + 2;
        m_end = quint32(m_clear);
    }
    int clearCode() const { return m_clear; }
    int next() const { return m_next; }
    int length(int code) const { return m_length[size_t(code)]; }
    const uchar* string(int code) const { return m_store.data() + m_offset[size_t(code)]; }

    // Adds the string of previous followed by the first byte of code's string (of
    // previous's own when code is the one being added).
    void add(int previous, int code, bool keepStrings) {
        if (m_next >= 4096)
            return;
        const quint32 length = m_length[size_t(previous)];
        m_length[size_t(m_next)] = length + 1;
        if (keepStrings) {
            const uchar last = code < m_next ? *string(code) : *string(previous);
            if (m_store.size() < size_t(m_end) + length + 1)
                m_store.resize(std::max(m_store.size() * 2, size_t(m_end) + length + 1));
            if (m_offset[size_t(previous)] + length == m_end) {
                m_offset[size_t(m_next)] = m_offset[size_t(previous)];
            } else {
                std::memcpy(m_store.data() + m_end, string(previous), length);
                m_offset[size_t(m_next)] = m_end;
                m_end += length;
            }
            m_store[m_end++] = last;
        }
        ++m_next;
    }

  private:
    int m_clear;
    int m_next = 0;
    quint32 m_end = 0;
    std::vector<uchar> m_store;
    std::array<quint32, 4096> m_offset{};
    std::array<quint32, 4096> m_length{};
};

// The image row each row of the data fills: in order, or interlaced in four passes (every
// 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1).
std::vector<int> imageRows(int height, bool interlaced) {
    std::vector<int> rows;
    rows.reserve(size_t(height));
    if (!interlaced) {
        for (int r = 0; r < height; ++r)
            rows.push_back(r);
        return rows;
    }
    constexpr int kStart[] = {0, 4, 2, 1};
    constexpr int kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int r = kStart[pass]; r < height; r += kStep[pass])
            rows.push_back(r);
    return rows;
}

// Decodes one image's LZW data (from its first sub-block length byte) row by row, rows in
// the order the data holds them: row(k, indices) for data rows 0 .. lastRow, the indices
// copied out only where copy(k). Past lastRow the codes are only counted. Failed when the
// data is damaged or holds fewer than width x height pixels.
template <typename Copy, typename Row>
GifRegionReader::Result decodeRows(const uchar* data, qint64 size, qint64 dataStart, int minCodeSize,
                                   int width, int height, int lastRow, Copy&& copy, Row&& row,
                                   QString* error) {
    const qint64 pixels = qint64(width) * height;
    std::vector<uchar> indices(static_cast<size_t>(width));
    int dataRow = 0;
    bool copying = lastRow >= 0 && copy(0);

    StringTable table(minCodeSize);
    const int clear = table.clearCode();
    const int end = clear + 1;
    const int width0 = minCodeSize + 1;
    int codeWidth = width0;
    int previous = -1;
    qint64 pos = 0;
    int x = 0;
    CodeReader codes(data, size, dataStart);

    while (pos < pixels) {
        const int code = codes.next(codeWidth);
        if (code < 0 || code == end)
            break;
        if (code == clear) {
            table.reset();
            codeWidth = width0;
            previous = -1;
            continue;
        }
        const bool keepStrings = dataRow <= lastRow;
        if (previous < 0) {
            if (code >= clear)
                return fail(error, QStringLiteral("codice %1 dopo l'azzeramento").arg(code));
        } else {
            const int next = table.next();
            if (code > next || (code == next && next >= 4096))
                return fail(error, QStringLiteral("codice %1 fuori tabella").arg(code));
            table.add(previous, code, keepStrings);
            if (table.next() == (1 << codeWidth) && codeWidth < 12)
                ++codeWidth;
        }
        previous = code;

        int n = table.length(code);
        pos += n;
        if (!keepStrings)
            continue; // past the last row wanted: only counted
        const uchar* s = table.string(code);
        while (n > 0 && dataRow <= lastRow) {
            const int chunk = std::min(n, width - x);
            if (copying)
                std::memcpy(indices.data() + x, s, size_t(chunk));
            x += chunk;
            s += chunk;
            n -= chunk;
            if (x == width) {
                if (copying)
                    row(dataRow, indices.data());
                ++dataRow;
                copying = dataRow <= lastRow && copy(dataRow);
                x = 0;
            }
        }
    }
    if (pos < pixels) {
        *error = QStringLiteral("il file GIF è danneggiato (dati dell'immagine incompleti).");
        return GifRegionReader::Result::Failed;
    }
    return GifRegionReader::Result::Read;
}

// Decodes the first image into every screen row of want (inside the screen): the image's
// palette colours where it lies, background around it. rowOf(y) gives where want's columns
// of screen row y go, done(y) is told once the row is written; rows come in the order the
// data holds them.
template <typename RowOf, typename Done>
GifRegionReader::Result decodeFirst(const uchar* data, qint64 size, const GifLayout& gif,
                                    const std::array<quint32, 256>& palette, quint32 background,
                                    const QRect& want, RowOf&& rowOf, Done&& done, QString* error) {
    const QRect frame = gif.frame;
    // want's columns the image covers, as offsets into the row.
    const int from = std::max(want.left(), frame.left()) - want.left();
    const int to = std::min(want.right(), frame.right()) - want.left() + 1;
    const int covered = want.isEmpty() ? 0 : std::max(0, to - from);
    const int width = std::max(0, want.width());
    // Rows of want the image does not reach are background alone.
    for (int y = want.top(); y <= want.bottom() && !want.isEmpty(); ++y)
        if (y < frame.top() || y > frame.bottom()) {
            quint32* out = rowOf(y);
            std::fill(out, out + width, background);
            done(y);
        }

    const std::vector<int> rows = imageRows(frame.height(), gif.interlaced);
    const auto wanted = [&](int dataRow) {
        const int y = frame.top() + rows[size_t(dataRow)];
        return !want.isEmpty() && y >= want.top() && y <= want.bottom();
    };
    // Past the last wanted row of the data the codes are only counted.
    int lastWanted = -1;
    for (int k = frame.height() - 1; k >= 0; --k)
        if (wanted(k)) {
            lastWanted = k;
            break;
        }
    const int skip = want.left() + from - frame.left(); // image columns before want's
    const auto colour = [&](int dataRow, const uchar* indices) {
        const int y = frame.top() + rows[size_t(dataRow)];
        quint32* out = rowOf(y);
        if (covered == 0) {
            std::fill(out, out + width, background);
        } else {
            std::fill(out, out + from, background);
            const uchar* in = indices + skip;
            for (int i = 0; i < covered; ++i)
                out[from + i] = palette[in[i]];
            std::fill(out + from + covered, out + width, background);
        }
        done(y);
    };
    return decodeRows(data, size, gif.dataStart, gif.minCodeSize, frame.width(), frame.height(), lastWanted,
                      wanted, colour, error);
}

// The later images of an animation painted over the first one as Qt's reader paints them,
// for the workspace's frames: the previous image disposed of as its graphic control block
// says (left, cleared to the background or to clear white, or restored) when the next block
// comes, pixels of the transparent colour left as they are, interlaced rows in the passes
// Qt's reader follows (its place for each row, and each row of the first three passes
// copied down over the rows still to come unless there is a transparent colour).
class FramePainter {
  public:
    // With paint false the images are only decoded, to find where next() would stop, and
    // first may be null: no page-sized buffer is touched.
    FramePainter(const uchar* data, qint64 size, QImage first, const GifLayout& gif, bool paint = true)
        : m_data(data), m_size(size), m_canvas(std::move(first)), m_screen(gif.screen),
          m_transparent(gif.transparent), m_paint(paint) {
        m_bgcol = (data[10] & 0x80) ? data[11] : -1;
        m_global = (data[10] & 0x80) ? data + 13 : nullptr;
        m_globalLength = 2 << (data[10] & 7);
        m_at = gif.dataStart;
        skipSubBlocks(data, size, &m_at); // past the first image's data
        setImage(gif.frame, gif.table, gif.tableLength, gif.transparent);
        m_disposed = false;
        m_disposal = gif.disposal;
        if (m_disposal == 3) { // what lay under the first image: its background, or nothing
            const QRect rect = disposalRect();
            const quint32 under = gif.framed ? gif.background : 0;
            m_saved = QImage(rect.size(), QImage::Format_RGB32);
            for (int y = 0; y < m_saved.height(); ++y) {
                auto* line = reinterpret_cast<quint32*>(m_saved.scanLine(y));
                std::fill(line, line + m_saved.width(), under);
            }
        }
    }

    // The next frame; false at the trailer, or with *unsupported when the file holds what
    // this painter leaves to Qt's reader (damaged image data, short control blocks).
    bool next(QImage* frame, bool* unsupported) {
        m_changedTop = m_screen.height();
        m_changedBottom = -1;
        for (;;) {
            const uchar kind = m_data[m_at];
            if (kind == 0x3B)
                return false;
            if (kind == 0x21) {
                if (m_data[m_at + 1] == 0xF9) {
                    if (m_data[m_at + 2] < 4) {
                        *unsupported = true;
                        return false;
                    }
                    if (m_paint)
                        dispose();
                    const int method = (m_data[m_at + 3] >> 2) & 7;
                    m_disposal = method <= 3 ? method : 0;
                    m_transparent = (m_data[m_at + 3] & 1) ? m_data[m_at + 6] : -1;
                }
                m_at += 2;
                skipSubBlocks(m_data, m_size, &m_at);
                continue;
            }
            // An image (the structural check let nothing else through).
            const uchar* d = m_data + m_at;
            const QRect rect(u16(d + 1), u16(d + 3), u16(d + 5), u16(d + 7));
            if (rect.isEmpty()) { // Qt's reader still paints its pixels somewhere
                *unsupported = true;
                return false;
            }
            const uchar flags = d[9];
            m_at += 10;
            const uchar* table = m_global;
            int length = m_globalLength;
            if (flags & 0x80) {
                table = m_data + m_at;
                length = 2 << (flags & 7);
                m_at += 3 * length;
            }
            if (m_paint) {
                dispose();
                own();
            }
            m_disposed = false;
            setImage(rect, table, length, m_transparent);
            if (m_disposal == 3 && m_paint)
                save();
            const int minCodeSize = m_data[m_at];
            const qint64 dataStart = m_at + 1;
            m_at = dataStart;
            skipSubBlocks(m_data, m_size, &m_at);
            if (!paint(dataStart, minCodeSize, (flags & 0x40) != 0)) {
                *unsupported = true;
                return false;
            }
            *frame = m_canvas; // shared until the next image paints
            return true;
        }
    }

    // The rows the last next() changed, first and last (none when first > last).
    int changedTop() const { return m_changedTop; }
    int changedBottom() const { return m_changedBottom; }

  private:
    // The image's place as Qt's reader keeps it: right and bottom clipped to the screen.
    void setImage(const QRect& rect, const uchar* table, int length, int transparent) {
        m_left = rect.left();
        m_top = rect.top();
        m_width = rect.width();
        m_height = rect.height();
        m_right = std::max(0, std::min(m_left + m_width, m_screen.width()) - 1);
        m_bottom = std::max(0, std::min(m_top + m_height, m_screen.height()) - 1);
        GifLayout colours;
        makePalette(table, length, transparent, &colours);
        m_palette = colours.palette;
        // Background fills read the table without the transparent index's alpha rule.
        makePalette(table, length, -1, &colours);
        m_table = colours.palette;
    }

    QRect disposalRect() const {
        const int l = std::min(m_screen.width() - 1, m_left);
        const int r = std::min(m_screen.width() - 1, m_right);
        const int t = std::min(m_screen.height() - 1, m_top);
        const int b = std::min(m_screen.height() - 1, m_bottom);
        return QRect(QPoint(l, t), QPoint(r, b));
    }

    // The canvas to paint on, no longer shared with the frame handed out last: a fresh
    // page-sized buffer from FastPixels, whose huge pages spare the faults of a plain copy.
    void own() {
        if (m_canvas.isDetached())
            return;
        QImage copy = FastPixels::allocate(m_canvas.size(), m_canvas.format());
        if (copy.isNull()) {
            m_canvas.detach();
            return;
        }
        const size_t rowBytes = size_t(m_canvas.width()) * 4;
        for (int y = 0; y < m_canvas.height(); ++y)
            std::memcpy(copy.scanLine(y), m_canvas.constScanLine(y), rowBytes);
        m_canvas = copy;
    }

    void touch(int top, int bottom) {
        m_changedTop = std::min(m_changedTop, top);
        m_changedBottom = std::max(m_changedBottom, bottom);
    }

    void fill(const QRect& rect, quint32 value) {
        touch(rect.top(), rect.bottom());
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            auto* line = reinterpret_cast<quint32*>(m_canvas.scanLine(y));
            std::fill(line + rect.left(), line + rect.right() + 1, value);
        }
    }

    void dispose() {
        if (m_disposed)
            return;
        if (m_disposal == 2 || m_disposal == 3)
            own();
        const QRect rect = disposalRect();
        if (m_disposal == 2) { // restore the background
            if (m_transparent >= 0)
                fill(rect, kClearWhite);
            else if (m_bgcol >= 0)
                fill(rect, colour(m_bgcol));
            else
                fill(rect, reinterpret_cast<const quint32*>(m_canvas.constBits())[0]);
        } else if (m_disposal == 3 && !m_saved.isNull()) { // restore what was there
            touch(rect.top(), rect.bottom());
            for (int y = rect.top(); y <= rect.bottom(); ++y)
                std::memcpy(reinterpret_cast<quint32*>(m_canvas.scanLine(y)) + rect.left(),
                            m_saved.constScanLine(y - rect.top()), size_t(rect.width()) * 4);
        }
        m_disposal = 0;
        m_disposed = true;
    }

    void save() {
        const QRect rect = disposalRect();
        m_saved = QImage(rect.size(), QImage::Format_RGB32);
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            std::memcpy(m_saved.scanLine(y - rect.top()),
                        reinterpret_cast<const quint32*>(m_canvas.constScanLine(y)) + rect.left(),
                        size_t(rect.width()) * 4);
    }

    quint32 colour(int index) const {
        const quint32 c = m_table[size_t(index)];
        return index == m_transparent ? c & kClearWhite : c;
    }

    // Qt's reader's walk through the rows: y after the row just painted.
    void nextRow(int* pass, int* y, bool* out) {
        if (*out)
            return;
        const auto copyDown = [&](int rows) {
            if (m_transparent >= 0 || !m_paint)
                return;
            const int count = std::min(rows, m_bottom - *y);
            if (count > 0)
                touch(*y + 1, *y + count);
            const auto* source = reinterpret_cast<const quint32*>(m_canvas.constScanLine(*y)) + m_left;
            for (int i = 1; i <= count; ++i)
                std::memcpy(reinterpret_cast<quint32*>(m_canvas.scanLine(*y + i)) + m_left, source,
                            size_t(m_right - m_left + 1) * 4);
        };
        switch (*pass) {
        case 0:
            ++*y;
            break;
        case 1:
            copyDown(7);
            *y += 8;
            if (*y > m_bottom) {
                *pass = 2;
                *y = m_top + 4;
                if (*y > m_bottom) {
                    *pass = 2;
                    *y = m_top + 2;
                    if (*y > m_bottom) {
                        *pass = 0;
                        *y = m_top + 1;
                    }
                }
            }
            break;
        case 2:
            copyDown(3);
            *y += 8;
            if (*y > m_bottom) {
                *pass = 3;
                *y = m_top + 2;
                if (*y > m_bottom) {
                    *pass = 3;
                    *y = m_top + 1;
                }
            }
            break;
        case 3:
            copyDown(1);
            *y += 4;
            if (*y > m_bottom) {
                *pass = 4;
                *y = m_top + 1;
            }
            break;
        default:
            *y += 2;
            break;
        }
        if (*y >= m_screen.height())
            *out = true;
    }

    bool paint(qint64 dataStart, int minCodeSize, bool interlaced) {
        int pass = interlaced ? 1 : 0;
        int y = m_top;
        const int screenWidth = m_screen.width();
        bool out = m_left >= screenWidth || y >= m_screen.height();
        const auto all = [](int) { return true; };
        const auto row = [&](int, const uchar* indices) {
            if (!out && m_paint) {
                touch(y, y);
                auto* line = reinterpret_cast<quint32*>(m_canvas.scanLine(y));
                const int count = std::min(m_width, screenWidth - m_left);
                for (int i = 0; i < count; ++i)
                    if (indices[i] != m_transparent)
                        line[m_left + i] = m_palette[indices[i]];
            }
            out = m_left >= screenWidth || y >= m_screen.height();
            nextRow(&pass, &y, &out);
        };
        QString ignored;
        return decodeRows(m_data, m_size, dataStart, minCodeSize, m_width, m_height, m_height - 1, all, row,
                          &ignored) == GifRegionReader::Result::Read;
    }

    const uchar* m_data;
    qint64 m_size;
    qint64 m_at = 0;
    QImage m_canvas;
    QImage m_saved;
    QSize m_screen;
    int m_transparent;
    int m_bgcol = -1;
    const uchar* m_global = nullptr;
    int m_globalLength = 0;
    int m_left = 0, m_top = 0, m_width = 0, m_height = 0, m_right = 0, m_bottom = 0;
    int m_disposal = 0;
    int m_changedTop = 0;
    int m_changedBottom = -1;
    bool m_disposed = true;
    bool m_paint = true;
    std::array<quint32, 256> m_palette{};
    std::array<quint32, 256> m_table{};
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
        *error = QStringLiteral("il file GIF è troncato.");
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
    out->pageSize = request.transform.transformedSize(gif.screen);
    out->origin = request.rect.topLeft();
    out->scale = 1.0;

    RegionCanvas canvas(gif.screen, request.transform, request.rect);
    if (!canvas.allocate(&out->error))
        return Result::Failed;
    const QRect want = canvas.storedRect();

    // Transparent parts lie on white paper.
    std::array<quint32, 256> palette = gif.palette;
    quint32 background = gif.background;
    if (gif.transparent >= 0) {
        for (quint32& c : palette)
            if (qAlpha(c) == 0)
                c = 0xFFFFFFFFu;
        if (qAlpha(background) == 0)
            background = 0xFFFFFFFFu;
    }
    std::vector<quint32> row(size_t(std::max(0, want.width())));
    const auto rowOf = [&](int) { return row.data(); };
    const auto put = [&](int y) { canvas.putRow(y, want.left(), row.data(), want.width()); };
    const Result decoded = decodeFirst(data, size, gif, palette, background, want, rowOf, put, &out->error);
    if (decoded != Result::Read)
        return decoded;
    out->image = canvas.image();
    return Result::Read;
}

namespace {

// The whole screen with the first image on it, in Qt's reader's pixels.
GifRegionReader::Result screenOf(const uchar* data, qint64 size, const GifLayout& gif, QImage* screen,
                                 QString* error) {
    QImage image =
        FastPixels::allocate(gif.screen, gif.transparent >= 0 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) {
        *error = QStringLiteral("memoria insufficiente per una pagina di %1 x %2 pixel.")
                     .arg(gif.screen.width())
                     .arg(gif.screen.height());
        return GifRegionReader::Result::Failed;
    }
    // Straight into the page's rows.
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    const auto rowOf = [&](int y) { return reinterpret_cast<quint32*>(bits + y * stride); };
    const auto done = [](int) {};
    const GifRegionReader::Result decoded = decodeFirst(data, size, gif, gif.palette, gif.background,
                                                        QRect(QPoint(0, 0), gif.screen), rowOf, done, error);
    if (decoded == GifRegionReader::Result::Read)
        *screen = image;
    return decoded;
}

} // namespace

GifRegionReader::Result GifRegionReader::readFrames(const uchar* data, qint64 size, int maxFrames,
                                                    qint64 maxBytes, int reduceFrom, QList<QImage>* frames,
                                                    QList<QImage>* reduced, bool* complete, QString* error) {
    *complete = true;
    if (!isGif(data, size))
        return Result::NotGif;
    GifLayout gif;
    const Result parsed = parse(data, size, &gif, error);
    if (parsed != Result::Read)
        return parsed;
    QImage first;
    const Result decoded = screenOf(data, size, gif, &first, error);
    if (decoded != Result::Read)
        return decoded;
    QImage small;
    if (first.width() >= reduceFrom && first.height() >= reduceFrom)
        small = FastPixels::blockAverage(first); // null for a transparent (ARGB32) page
    QList<QImage> all{first};
    QList<QImage> allSmall{small};
    const qint64 frameBytes = first.sizeInBytes();
    FramePainter painter(data, size, first, gif);
    QImage next;
    bool unsupported = false;
    while (all.size() < maxFrames && (all.size() + 1) * frameBytes <= maxBytes &&
           painter.next(&next, &unsupported)) {
        all << next;
        // The reduced copy of the frame before, its block rows over changed rows averaged again.
        if (!small.isNull()) {
            QImage copy = FastPixels::allocate(small.size(), QImage::Format_RGB32);
            if (copy.isNull()) {
                small = QImage();
            } else {
                for (int y = 0; y < small.height(); ++y)
                    std::memcpy(copy.scanLine(y), small.constScanLine(y), size_t(small.width()) * 4);
                if (painter.changedTop() <= painter.changedBottom())
                    FastPixels::blockAverageRows(next, copy, painter.changedTop() / FastPixels::kBlock,
                                                 painter.changedBottom() / FastPixels::kBlock + 1);
                small = copy;
            }
        }
        allSmall << small;
    }
    if (unsupported) {
        *complete = false;
        all = {first};
        allSmall = {allSmall.first()};
    }
    *frames = std::move(all);
    *reduced = std::move(allSmall);
    return Result::Read;
}

GifRegionReader::Result GifRegionReader::countFrames(const uchar* data, qint64 size, int maxFrames,
                                                     qint64 maxBytes, int* count, bool* complete,
                                                     QString* error) {
    *count = 0;
    *complete = true;
    if (!isGif(data, size))
        return Result::NotGif;
    GifLayout gif;
    const Result parsed = parse(data, size, &gif, error);
    if (parsed != Result::Read)
        return parsed;
    // Every frame is a whole screen of 32-bit pixels, as readFrames() makes them.
    const qint64 frameBytes = qint64(gif.screen.width()) * gif.screen.height() * 4;
    FramePainter walker(data, size, QImage(), gif, false);
    QImage ignored;
    bool unsupported = false;
    int frames = 1;
    while (frames < maxFrames && (frames + 1) * frameBytes <= maxBytes && walker.next(&ignored, &unsupported))
        ++frames;
    if (unsupported) {
        *complete = false;
        frames = 1;
    }
    *count = frames;
    return Result::Read;
}
