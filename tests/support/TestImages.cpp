#include "tests/support/TestImages.h"

#include "tests/support/PageFiles.h"

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

QByteArray animatedGif(int width, int height, const QList<QColor>& frameColours) {
    // A global table of 128 entries, whatever the frame count: tests find the first image
    // descriptor right after it.
    QList<QRgb> palette(128, qRgb(0, 0, 0));
    for (qsizetype i = 0; i < frameColours.size() && i < palette.size(); ++i)
        palette[i] = frameColours.at(i).rgb();
    QList<QImage> frames;
    for (int f = 0; f < frameColours.size(); ++f) {
        QImage frame(width, height, QImage::Format_Indexed8);
        frame.setColorTable(palette);
        frame.fill(uint(f));
        frames << frame;
    }
    return PageFiles::gifFrames(frames);
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace TestImages
