#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QList>

#include <algorithm>
#include <array>

// JPEG files judged as an outside tool would judge them, for the encoder's tests and the
// save command's.
namespace JpegCheck {

// What an outside tool would read from a JPEG file's markers.
struct JpegFacts {
    bool valid = false;
    bool baseline = false; // SOF0 and no other frame type
    int width = 0;
    int height = 0;
    QList<int> sampling; // h * 10 + v per component
    bool jfif = false;
    int densityUnit = -1;
    int xDensity = 0;
    int yDensity = 0;
    QList<int> lumaQuant; // table 0, as stored
};

inline int be16(const QByteArray& b, qsizetype at) {
    return (quint8(b.at(at)) << 8) | quint8(b.at(at + 1));
}

inline JpegFacts readFacts(const QByteArray& b) {
    JpegFacts f;
    if (b.size() < 4 || quint8(b[0]) != 0xFF || quint8(b[1]) != 0xD8)
        return f;
    bool otherFrame = false;
    bool sof0 = false;
    qsizetype at = 2;
    while (at + 4 <= b.size()) {
        if (quint8(b[at]) != 0xFF)
            return f;
        const int marker = quint8(b[at + 1]);
        const int length = be16(b, at + 2);
        const qsizetype body = at + 4;
        if (marker == 0xDA)
            break; // scan data follows
        if (marker == 0xE0 && b.mid(body, 5) == QByteArray("JFIF", 5)) {
            f.jfif = true;
            f.densityUnit = quint8(b[body + 7]);
            f.xDensity = be16(b, body + 8);
            f.yDensity = be16(b, body + 10);
        } else if (marker == 0xDB) {
            for (qsizetype t = body; t < at + 2 + length;) {
                const int precision = quint8(b[t]) >> 4;
                const int id = quint8(b[t]) & 15;
                for (int i = 0; i < 64; ++i) {
                    const int v = precision ? be16(b, t + 1 + 2 * i) : quint8(b[t + 1 + i]);
                    if (id == 0)
                        f.lumaQuant << v;
                }
                t += 1 + 64 * (precision ? 2 : 1);
            }
        } else if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            sof0 = marker == 0xC0;
            otherFrame = otherFrame || marker != 0xC0;
            f.height = be16(b, body + 1);
            f.width = be16(b, body + 3);
            const int count = quint8(b[body + 5]);
            for (int c = 0; c < count; ++c) {
                const int s = quint8(b[body + 6 + 3 * c + 1]);
                f.sampling << (s >> 4) * 10 + (s & 15);
            }
        }
        at += 2 + length;
    }
    f.baseline = sof0 && !otherFrame;
    f.valid = true;
    return f;
}

// The luminance quantisers a libjpeg-style encoder writes for a quality, sorted (the
// order in the file does not matter for telling qualities apart).
inline QList<int> expectedLumaQuant(int quality) {
    static constexpr std::array<int, 64> annexK{
        16, 11,  10,  16, 24, 40, 51, 61, 12,  12,  14,  19,  26, 58, 60, 55,  14,  13,  16,  24, 40, 57,
        69, 56,  14,  17, 22, 29, 51, 87, 80,  62,  18,  22,  37, 56, 68, 109, 103, 77,  24,  35, 55, 64,
        81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98,  112, 100, 103, 99};
    const int q = std::clamp(quality, 1, 100);
    const int scale = q < 50 ? 5000 / q : 200 - 2 * q;
    QList<int> table;
    for (int v : annexK)
        table << std::clamp((v * scale + 50) / 100, 1, 255);
    std::sort(table.begin(), table.end());
    return table;
}

// The picture a JPEG reader makes of bytes; null when they are no JPEG.
inline QImage decode(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer, "jpeg");
    return reader.read();
}

inline QList<int> sorted(QList<int> list) {
    std::sort(list.begin(), list.end());
    return list;
}

} // namespace JpegCheck
