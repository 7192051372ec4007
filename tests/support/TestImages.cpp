#include "tests/support/TestImages.h"

#include <QFile>
#include <QImageWriter>
#include <QPainter>

namespace TestImages {

QImage page(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] =
                qRgb(x * 255 / qMax(1, width - 1), y * 255 / qMax(1, height - 1), (x * 7 + y * 3) % 256);
    }
    QPainter painter(&image);
    painter.setPen(QPen(QColor(20, 20, 20), qMax(1, width / 200)));
    for (int x = width / 10; x < width; x += width / 10)
        painter.drawLine(x, 0, x, height);
    for (int y = height / 10; y < height; y += height / 10)
        painter.drawLine(0, y, width, y);
    painter.fillRect(QRect(0, 0, qMax(2, width / 20), qMax(2, height / 30)), QColor(255, 0, 255));
    return image;
}

bool write(const QImage& image, const QString& path, const char* format, int quality) {
    QImageWriter writer(path, format);
    writer.setQuality(quality);
    return writer.write(image);
}

namespace {

void putWord(QByteArray& out, int value) {
    out.append(char(value & 0xFF));
    out.append(char((value >> 8) & 0xFF));
}

// Image data with codes that never grow past 8 bits: a clear code before the table
// would need a ninth bit. Colour indexes must be below 128.
QByteArray lzwLiterals(const QByteArray& indexes) {
    const int clear = 128;
    const int end = 129;
    QByteArray codes;
    int sinceClear = 0;
    codes.append(char(clear));
    for (char index : indexes) {
        if (sinceClear == 126) {
            codes.append(char(clear));
            sinceClear = 0;
        }
        codes.append(index);
        ++sinceClear;
    }
    codes.append(char(end));
    QByteArray out;
    out.append(char(7)); // minimum code size: 8-bit codes
    for (qsizetype i = 0; i < codes.size(); i += 255) {
        const QByteArray block = codes.mid(i, 255);
        out.append(char(block.size()));
        out.append(block);
    }
    out.append(char(0));
    return out;
}

} // namespace

QByteArray animatedGif(int width, int height, const QList<QColor>& frameColours) {
    QByteArray out("GIF89a");
    putWord(out, width);
    putWord(out, height);
    out.append(char(0xF6)); // global colour table of 128 entries
    out.append(char(0));
    out.append(char(0));
    for (int i = 0; i < 128; ++i) {
        const QColor c = i < frameColours.size() ? frameColours.at(i) : QColor(Qt::black);
        out.append(char(c.red()));
        out.append(char(c.green()));
        out.append(char(c.blue()));
    }
    for (int f = 0; f < frameColours.size(); ++f) {
        // Graphic control: a short delay, no transparency.
        out.append("\x21\xF9\x04\x00", 4);
        putWord(out, 10);
        out.append("\x00\x00", 2);
        out.append(char(0x2C));
        putWord(out, 0);
        putWord(out, 0);
        putWord(out, width);
        putWord(out, height);
        out.append(char(0));
        out.append(lzwLiterals(QByteArray(qsizetype(width) * height, char(f))));
    }
    out.append(char(0x3B));
    return out;
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace TestImages
