#include "tests/support/PageFiles.h"

#include <QFile>
#include <QPainter>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <jpeglib.h>
#include <vector>

namespace {

void put16(QByteArray& b, quint16 v) {
    char c[2];
    qToLittleEndian(v, c);
    b.append(c, 2);
}
void put32(QByteArray& b, quint32 v) {
    char c[4];
    qToLittleEndian(v, c);
    b.append(c, 4);
}

QByteArray headers(int width, int height, int bpp, quint32 compression, const QList<QRgb>& palette,
                   qint64 pixelBytes) {
    QByteArray b;
    const quint32 offBits = 14 + 40 + quint32(palette.size()) * 4;
    b.append("BM");
    put32(b, quint32(offBits + pixelBytes));
    put32(b, 0);
    put32(b, offBits);
    put32(b, 40);
    put32(b, quint32(width));
    put32(b, quint32(height));
    put16(b, 1);
    put16(b, quint16(bpp));
    put32(b, compression);
    put32(b, quint32(pixelBytes));
    put32(b, 11811);
    put32(b, 11811);
    put32(b, quint32(palette.size()));
    put32(b, 0);
    for (QRgb c : palette) {
        b.append(char(qBlue(c)));
        b.append(char(qGreen(c)));
        b.append(char(qRed(c)));
        b.append('\0');
    }
    return b;
}

} // namespace

QImage PageFiles::paintPage(int width, int height) {
    QImage page(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(page.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgb(x * 255 / width, y * 255 / height, (x + 2 * y) % 200 + 30);
    }
    QPainter p(&page);
    p.fillRect(QRect(width / 10, height / 8, width / 5, height / 6), Qt::black);
    p.fillRect(QRect(width / 2, height / 2, width / 7, height / 9), QColor(250, 240, 20));
    p.fillRect(QRect(width - 7, 0, 7, 5), Qt::red); // marks one corner
    return page;
}

QByteArray PageFiles::jpeg(const QImage& page, int quality, bool subsample420, bool progressive) {
    JpegOptions options;
    options.quality = quality;
    options.subsample420 = subsample420;
    options.progressive = progressive;
    return jpeg(page, options);
}

QByteArray PageFiles::jpeg(const QImage& page, const JpegOptions& options) {
    const bool gray = page.format() == QImage::Format_Grayscale8;
    const QImage rgb = gray ? page : page.convertToFormat(QImage::Format_RGB888);
    const int components = gray ? 1 : options.cmyk ? 4 : 3;
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(rgb.width());
    c.image_height = JDIMENSION(rgb.height());
    c.input_components = components;
    c.in_color_space = gray ? JCS_GRAYSCALE : options.cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, options.quality, TRUE);
    const int factor = options.subsample420 ? 2 : 1;
    c.comp_info[0].h_samp_factor = factor;
    c.comp_info[0].v_samp_factor = factor;
    if (options.progressive)
        jpeg_simple_progression(&c);
    c.restart_in_rows = options.restartRows;
    c.arith_code = options.arithmetic ? TRUE : FALSE;
    // One scan per coefficient, then one refinement scan per coefficient: a valid file
    // with 1 + 2 * 63 scans per component.
    std::vector<jpeg_scan_info> script;
    if (options.scanPerCoefficient) {
        for (int comp = 0; comp < c.num_components; ++comp)
            script.push_back({1, {comp, 0, 0, 0}, 0, 0, 0, 0});
        for (int pass : {0, 1})
            for (int comp = 0; comp < c.num_components; ++comp)
                for (int k = 1; k < 64; ++k)
                    script.push_back({1, {comp, 0, 0, 0}, k, k, pass == 0 ? 0 : 1, pass == 0 ? 1 : 0});
        c.scan_info = script.data();
        c.num_scans = int(script.size());
    }
    jpeg_start_compress(&c, TRUE);
    std::vector<uchar> cmyk(size_t(rgb.width()) * 4);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb.constScanLine(int(c.next_scanline)));
        if (options.cmyk) {
            // Stored inverted, as the programs that write CMYK JPEGs store it.
            for (int x = 0; x < rgb.width(); ++x) {
                std::copy(row + 3 * x, row + 3 * x + 3, cmyk.begin() + 4 * x);
                cmyk[size_t(x) * 4 + 3] = 255;
            }
            row = cmyk.data();
        }
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    QByteArray bytes(reinterpret_cast<const char*>(buffer), qsizetype(size));
    free(buffer);
    return bytes;
}

QByteArray PageFiles::withJpegSize(QByteArray jpeg, int width, int height) {
    // The frame header (SOF0..SOF15 but DHT, JPG and DAC) holds height, then width.
    for (qsizetype at = 2; at + 9 < jpeg.size();) {
        if (uchar(jpeg[at]) != 0xFF)
            break;
        const uchar marker = uchar(jpeg[at + 1]);
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            qToBigEndian<quint16>(quint16(height), jpeg.data() + at + 5);
            qToBigEndian<quint16>(quint16(width), jpeg.data() + at + 7);
            return jpeg;
        }
        at += 2 + qFromBigEndian<quint16>(jpeg.constData() + at + 2);
    }
    return jpeg;
}

QByteArray PageFiles::bmp(const QImage& page, int bitsPerPixel, bool topDown) {
    QImage source = page;
    QList<QRgb> palette;
    if (bitsPerPixel == 8) {
        source = page.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
        palette = source.colorTable();
    } else if (bitsPerPixel == 1) {
        source = page.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
        palette = source.colorTable();
    }
    const int w = source.width();
    const int h = source.height();
    const qint64 stride = (qint64(w) * bitsPerPixel + 31) / 32 * 4;
    QByteArray b = headers(w, topDown ? -h : h, bitsPerPixel, 0, palette, stride * h);
    for (int i = 0; i < h; ++i) {
        const int y = topDown ? i : h - 1 - i;
        QByteArray row(stride, '\0');
        for (int x = 0; x < w; ++x) {
            if (bitsPerPixel == 8) {
                row[x] = char(source.pixelIndex(x, y));
            } else if (bitsPerPixel == 1) {
                if (source.pixelIndex(x, y))
                    row[x / 8] = char(uchar(row[x / 8]) | (0x80 >> (x % 8)));
            } else {
                const QRgb c = source.pixel(x, y);
                const int n = bitsPerPixel / 8;
                row[x * n] = char(qBlue(c));
                row[x * n + 1] = char(qGreen(c));
                row[x * n + 2] = char(qRed(c));
                if (n == 4)
                    row[x * n + 3] = char(0xFF);
            }
        }
        b.append(row);
    }
    return b;
}

QByteArray PageFiles::bmpRle8(const QImage& indexed) {
    QByteArray pixels;
    for (int y = indexed.height() - 1; y >= 0; --y) {
        for (int x = 0; x < indexed.width(); ++x) {
            pixels.append(char(1));
            pixels.append(char(indexed.pixelIndex(x, y)));
        }
        pixels.append(2, '\0'); // end of line
    }
    pixels.append('\0');
    pixels.append('\1'); // end of bitmap
    QByteArray b = headers(indexed.width(), indexed.height(), 8, 1, indexed.colorTable(), pixels.size());
    return b + pixels;
}

namespace {

class LzwWriter {
  public:
    explicit LzwWriter(QByteArray* out) : m_out(out) {}
    void put(int code, int width) {
        m_buffer |= quint32(code) << m_bits;
        m_bits += width;
        while (m_bits >= 8) {
            m_bytes.append(char(m_buffer & 0xFF));
            m_buffer >>= 8;
            m_bits -= 8;
        }
    }
    void finish() {
        if (m_bits > 0)
            m_bytes.append(char(m_buffer & 0xFF));
        for (qsizetype at = 0; at < m_bytes.size(); at += 255) {
            const QByteArray block = m_bytes.mid(at, 255);
            m_out->append(char(block.size()));
            m_out->append(block);
        }
        m_out->append('\0');
    }

  private:
    QByteArray* m_out;
    QByteArray m_bytes;
    quint32 m_buffer = 0;
    int m_bits = 0;
};

} // namespace

namespace {

// The logical screen of indexed's size with indexed's colours as the global table; the
// table's bit count through *bits.
QByteArray gifHeader(const QImage& indexed, int* bits) {
    const QList<QRgb> colors = indexed.colorTable();
    *bits = 1;
    while ((1 << *bits) < colors.size())
        ++*bits;
    QByteArray b("GIF89a");
    put16(b, quint16(indexed.width()));
    put16(b, quint16(indexed.height()));
    b.append(char(0x80 | 0x70 | (*bits - 1)));
    b.append('\0');
    b.append('\0');
    for (int i = 0; i < (1 << *bits); ++i) {
        const QRgb c = i < colors.size() ? colors[i] : 0;
        b.append(char(qRed(c)));
        b.append(char(qGreen(c)));
        b.append(char(qBlue(c)));
    }
    return b;
}

// The colours of a table of 2^bits entries, padded with black.
void gifTable(QByteArray& b, const QList<QRgb>& colors, int bits) {
    for (int i = 0; i < (1 << bits); ++i) {
        const QRgb c = i < colors.size() ? colors[i] : 0;
        b.append(char(qRed(c)));
        b.append(char(qGreen(c)));
        b.append(char(qBlue(c)));
    }
}

int gifTableBits(qsizetype colors) {
    int bits = 1;
    while ((1 << bits) < colors)
        ++bits;
    return bits;
}

// One image at `at`, LZW-coded; with its own colour table (indexed's) when ownTable.
void gifImage(QByteArray& b, const QImage& indexed, int bits, bool interlaced, QPoint at = {},
              bool ownTable = false) {
    const int w = indexed.width();
    const int h = indexed.height();
    b.append(char(0x2C));
    put16(b, quint16(at.x()));
    put16(b, quint16(at.y()));
    put16(b, quint16(w));
    put16(b, quint16(h));
    if (ownTable)
        bits = gifTableBits(indexed.colorCount());
    b.append(char((interlaced ? 0x40 : 0) | (ownTable ? 0x80 | (bits - 1) : 0)));
    if (ownTable)
        gifTable(b, indexed.colorTable(), bits);

    std::vector<int> rows;
    if (interlaced) {
        for (int pass : {0, 1, 2, 3}) {
            const int start[] = {0, 4, 2, 1};
            const int step[] = {8, 8, 4, 2};
            for (int y = start[pass]; y < h; y += step[pass])
                rows.push_back(y);
        }
    } else {
        for (int y = 0; y < h; ++y)
            rows.push_back(y);
    }
    const int minCode = std::max(2, bits);
    b.append(char(minCode));
    const int clear = 1 << minCode;
    LzwWriter out(&b);
    // The string table as a flat child index: code * 256 + next byte -> code, -1 if none.
    std::vector<int> child(size_t(4096) * 256, -1);
    int next = clear + 2;
    int width = minCode + 1;
    out.put(clear, width);
    int prefix = -1;
    for (int y : rows) {
        const uchar* line = indexed.constScanLine(y);
        for (int x = 0; x < w; ++x) {
            const int k = line[x];
            if (prefix < 0) {
                prefix = k;
                continue;
            }
            int& found = child[size_t(prefix) * 256 + size_t(k)];
            if (found >= 0) {
                prefix = found;
                continue;
            }
            out.put(prefix, width);
            found = next++;
            if (next > (1 << width) && width < 12)
                ++width;
            if (next == 4096) {
                out.put(clear, width);
                std::fill(child.begin(), child.end(), -1);
                next = clear + 2;
                width = minCode + 1;
            }
            prefix = k;
        }
    }
    out.put(prefix, width);
    out.put(clear + 1, width);
    out.finish();
}

} // namespace

QByteArray PageFiles::gif(const QImage& indexed, bool interlaced, int transparentIndex) {
    int bits = 0;
    QByteArray b = gifHeader(indexed, &bits);
    if (transparentIndex >= 0) {
        b.append("\x21\xF9\x04\x01\x00\x00", 6);
        b.append(char(transparentIndex));
        b.append('\0');
    }
    gifImage(b, indexed, bits, interlaced);
    b.append(char(0x3B));
    return b;
}

QByteArray PageFiles::gifScreen(QSize screen, const QList<QRgb>& globalTable, int background,
                                const QList<GifImage>& images) {
    QByteArray b("GIF89a");
    put16(b, quint16(screen.width()));
    put16(b, quint16(screen.height()));
    const int bits = gifTableBits(std::max<qsizetype>(2, globalTable.size()));
    b.append(char((globalTable.isEmpty() ? 0 : 0x80) | 0x70 | (bits - 1)));
    b.append(char(background));
    b.append('\0');
    if (!globalTable.isEmpty())
        gifTable(b, globalTable, bits);
    for (const GifImage& image : images) {
        if (image.transparentIndex >= 0 || image.disposal != 0) {
            b.append("\x21\xF9\x04", 3);
            b.append(char(image.disposal << 2 | (image.transparentIndex >= 0 ? 1 : 0)));
            b.append("\x00\x00", 2);
            b.append(char(std::max(0, image.transparentIndex)));
            b.append('\0');
        }
        gifImage(b, image.indexed, bits, image.interlaced, image.at, image.ownTable);
    }
    b.append(char(0x3B));
    return b;
}

QByteArray PageFiles::gifFrames(const QList<QImage>& frames, int delayCs) {
    if (frames.isEmpty())
        return {};
    int bits = 0;
    QByteArray b = gifHeader(frames.first(), &bits);
    for (const QImage& frame : frames) {
        // Graphic control: the delay, no transparency.
        b.append("\x21\xF9\x04\x00", 4);
        put16(b, quint16(delayCs));
        b.append("\x00\x00", 2);
        gifImage(b, frame, bits, false);
    }
    b.append(char(0x3B));
    return b;
}

QByteArray PageFiles::jpegCmyk(const QImage& page) {
    JpegOptions options;
    options.quality = 95;
    options.subsample420 = false;
    options.cmyk = true;
    return jpeg(page, options);
}

bool PageFiles::write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}
