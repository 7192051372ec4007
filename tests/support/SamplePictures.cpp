#include "tests/support/SamplePictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QtMath>

#include <algorithm>

namespace SamplePictures {

namespace {

int clampByte(int v) {
    return std::clamp(v, 0, 255);
}

void addNoise(QImage& image, int amplitude, quint32 seed) {
    QRandomGenerator random(seed);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            const int n = random.bounded(-amplitude, amplitude + 1);
            line[x] = qRgb(clampByte(qRed(p) + n + random.bounded(-amplitude / 3, amplitude / 3 + 1)),
                           clampByte(qGreen(p) + n), clampByte(qBlue(p) + n));
        }
    }
}

} // namespace

QImage photo(QSize size, quint32 seed) {
    QImage image(size, QImage::Format_RGB32);
    const qreal w = size.width();
    const qreal h = size.height();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient background(0, 0, w, h);
    background.setColorAt(0, QColor(182, 196, 214));
    background.setColorAt(1, QColor(120, 138, 160));
    p.fillRect(image.rect(), background);

    // Shoulders and clothes.
    QPainterPath body;
    body.moveTo(0, h);
    body.cubicTo(w * 0.05, h * 0.78, w * 0.3, h * 0.72, w * 0.5, h * 0.72);
    body.cubicTo(w * 0.7, h * 0.72, w * 0.95, h * 0.78, w, h);
    body.closeSubpath();
    QLinearGradient cloth(0, h * 0.7, 0, h);
    cloth.setColorAt(0, QColor(52, 56, 74));
    cloth.setColorAt(1, QColor(22, 24, 34));
    p.fillPath(body, cloth);

    // Neck, then face with light from the upper left.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(196, 150, 122));
    p.drawRect(QRectF(w * 0.42, h * 0.55, w * 0.16, h * 0.2));
    const QRectF face(w * 0.28, h * 0.18, w * 0.44, h * 0.5);
    QRadialGradient skin(face.center() - QPointF(w * 0.06, h * 0.08), w * 0.32);
    skin.setColorAt(0, QColor(238, 200, 172));
    skin.setColorAt(0.7, QColor(214, 166, 136));
    skin.setColorAt(1, QColor(170, 122, 98));
    p.setBrush(skin);
    p.drawEllipse(face);

    // Hair.
    QPainterPath hair;
    hair.moveTo(w * 0.26, h * 0.42);
    hair.cubicTo(w * 0.2, h * 0.05, w * 0.8, h * 0.05, w * 0.74, h * 0.42);
    hair.cubicTo(w * 0.7, h * 0.22, w * 0.3, h * 0.22, w * 0.26, h * 0.42);
    p.fillPath(hair, QColor(58, 40, 30));

    // Eyes, nose shadow, mouth.
    for (qreal cx : {0.41, 0.59}) {
        p.setBrush(QColor(250, 250, 246));
        p.drawEllipse(QPointF(w * cx, h * 0.38), w * 0.045, h * 0.018);
        p.setBrush(QColor(70, 52, 40));
        p.drawEllipse(QPointF(w * cx, h * 0.38), w * 0.018, h * 0.016);
    }
    p.setPen(QPen(QColor(160, 110, 90), w * 0.008));
    p.drawLine(QPointF(w * 0.5, h * 0.4), QPointF(w * 0.48, h * 0.49));
    p.setPen(QPen(QColor(150, 70, 70), w * 0.012, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(w * 0.42, h * 0.5, w * 0.16, h * 0.06), 200 * 16, 140 * 16);
    p.end();

    addNoise(image, 6, seed);
    return image;
}

QImage signature(QSize size, quint32 seed) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(246, 243, 234));
    addNoise(image, 4, seed);

    const qreal w = size.width();
    const qreal h = size.height();
    QRandomGenerator random(seed);
    const qreal phase = random.bounded(6.28);
    QPainterPath stroke;
    for (int i = 0; i <= 400; ++i) {
        const qreal t = i / 400.0;
        const qreal x = w * (0.06 + 0.86 * t) + w * 0.025 * std::sin(t * 40 + phase);
        const qreal y =
            h * (0.55 - 0.2 * std::sin(t * 9 + phase) * std::cos(t * 23)) + h * 0.12 * std::sin(t * 31);
        if (i == 0)
            stroke.moveTo(x, y);
        else
            stroke.lineTo(x, y);
    }
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(24, 38, 120), std::max(1.5, h / 30), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(stroke);
    // The underline flourish.
    p.drawLine(QPointF(w * 0.1, h * 0.85), QPointF(w * 0.8, h * 0.8));
    return image;
}

QImage noisyPhoto(QSize size, quint32 seed) {
    QImage image = photo(size, seed);
    addNoise(image, 40, seed + 100);
    return image;
}

QImage harshNoise(QSize size, quint32 seed) {
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const quint32 bits = random.generate();
            line[x] = qRgb(bits & 1 ? 255 : 0, bits & 2 ? 255 : 0, bits & 4 ? 255 : 0);
        }
    }
    return image;
}

QImage varied(int index, QSize size) {
    const quint32 seed = quint32(index) * 2654435761u + 17;
    QRandomGenerator random(seed);
    const auto colour = [&random] {
        return QColor(random.bounded(256), random.bounded(256), random.bounded(256));
    };
    QImage image(size, QImage::Format_RGB32);
    switch (index % kVariedFamilies) {
    case 0:
        return photo(size, seed);
    case 1:
        return signature(size, seed);
    case 2: { // a photo with noise of any strength, from a faint grain to a bad scan
        image = photo(size, seed);
        addNoise(image, 2 + random.bounded(60), seed + 1);
        return image;
    }
    case 3: // one flat colour
        image.fill(colour());
        return image;
    case 4: { // a smooth gradient
        QPainter p(&image);
        QLinearGradient gradient(0, 0, random.bounded(size.width() + 1), size.height());
        gradient.setColorAt(0, colour());
        gradient.setColorAt(1, colour());
        p.fillRect(image.rect(), gradient);
        return image;
    }
    case 5: { // tiny detail: stripes or a checkerboard one to three pixels wide
        const int cell = 1 + random.bounded(3);
        const QColor a = colour();
        const QColor b = colour();
        const bool checker = random.bounded(2) == 0;
        for (int y = 0; y < size.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < size.width(); ++x) {
                const bool first = checker ? ((x / cell + y / cell) & 1) : ((x / cell) & 1);
                line[x] = (first ? a : b).rgb();
            }
        }
        return image;
    }
    case 6: { // printed text: small dark strokes on paper
        image.fill(QColor(250, 248, 240));
        QPainter p(&image);
        p.setPen(QPen(QColor(20, 20, 40), 1 + random.bounded(2)));
        const int strokes = 20 + random.bounded(400);
        for (int i = 0; i < strokes; ++i) {
            const int x = random.bounded(std::max(1, size.width()));
            const int y = random.bounded(std::max(1, size.height()));
            p.drawLine(x, y, x + random.bounded(12) - 6, y + random.bounded(12) - 6);
        }
        return image;
    }
    case 7: // every pixel random: nothing small can hold it
        return harshNoise(size, seed);
    case 8: { // a photo blurred by scaling it down and up
        const QSize small(std::max(1, size.width() / (2 + random.bounded(6))),
                          std::max(1, size.height() / (2 + random.bounded(6))));
        return photo(size, seed)
            .scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    case 9: { // sharp-edged coloured rectangles
        image.fill(colour());
        QPainter p(&image);
        const int count = 3 + random.bounded(60);
        for (int i = 0; i < count; ++i)
            p.fillRect(random.bounded(std::max(1, size.width())), random.bounded(std::max(1, size.height())),
                       1 + random.bounded(std::max(1, size.width() / 2)),
                       1 + random.bounded(std::max(1, size.height() / 2)), colour());
        return image;
    }
    case 10: { // a photo under a one-pixel grid, as a scanner's moire
        image = photo(size, seed);
        const int step = 2 + random.bounded(7);
        for (int y = 0; y < size.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < size.width(); ++x)
                if (x % step == 0 || y % step == 0)
                    line[x] = qRgb(qRed(line[x]) / 2, qGreen(line[x]) / 2, qBlue(line[x]) / 2);
        }
        return image;
    }
    default: { // noise of one strength over a flat colour: grey, saturated or dark
        image.fill(colour());
        addNoise(image, 1 + random.bounded(120), seed + 2);
        return image;
    }
    }
}

} // namespace SamplePictures
