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

} // namespace SamplePictures
