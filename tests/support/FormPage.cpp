#include "tests/support/FormPage.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QTransform>

#include <algorithm>
#include <cmath>

namespace {

int px(double at300, int dpi) {
    return int(std::lround(at300 * dpi / 300.0));
}

void paintPhoto(QPainter& p, const QRect& box, QRandomGenerator& rng) {
    QLinearGradient sky(box.topLeft(), box.bottomLeft());
    sky.setColorAt(0, QColor(170, 195, 220));
    sky.setColorAt(1, QColor(90, 110, 140));
    p.save();
    p.setClipRect(box);
    p.fillRect(box, sky);
    const QPointF c = box.center();
    const double w = box.width();
    QRadialGradient face(c - QPointF(0, w * 0.1), w * 0.35);
    face.setColorAt(0, QColor(235, 200, 175));
    face.setColorAt(1, QColor(180, 130, 105));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 45, 35));
    p.drawEllipse(c - QPointF(0, w * 0.22), w * 0.36, w * 0.3); // hair
    p.setBrush(face);
    p.drawEllipse(c - QPointF(0, w * 0.1), w * 0.27, w * 0.36);
    p.setBrush(QColor(40, 60, 110));
    p.drawEllipse(QPointF(c.x(), box.bottom() + w * 0.25), w * 0.55, w * 0.5); // shoulders
    p.setBrush(QColor(50, 40, 35));
    p.drawEllipse(c + QPointF(-w * 0.1, -w * 0.15), w * 0.035, w * 0.025);
    p.drawEllipse(c + QPointF(w * 0.1, -w * 0.15), w * 0.035, w * 0.025);
    // Film grain, so the photograph does not compress like a drawing.
    for (int i = 0; i < box.width() * box.height() / 6; ++i) {
        const int g = int(rng.bounded(60));
        p.setPen(QColor(g, g, g, 40));
        p.drawPoint(box.left() + int(rng.bounded(box.width())), box.top() + int(rng.bounded(box.height())));
    }
    p.restore();
}

void addScanNoise(QImage& page, QRandomGenerator& rng) {
    for (int y = 0; y < page.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(page.scanLine(y));
        const int band = int(6 * std::sin(y * 0.013)); // uneven lamp
        for (int x = 0; x < page.width(); ++x) {
            const quint32 r = rng.generate();
            const int n = int(r & 15) + int((r >> 4) & 15) - 15 + band;
            const QRgb c = line[x];
            line[x] = qRgb(std::clamp(qRed(c) - 12 + n, 0, 255), std::clamp(qGreen(c) - 10 + n, 0, 255),
                           std::clamp(qBlue(c) - 16 + n, 0, 255));
        }
    }
}

} // namespace

QRect FormPage::signatureRect(int dpi) {
    return QRect(px(1450, dpi), px(3100, dpi), px(1000, dpi), px(192, dpi));
}

QRect FormPage::photoRect(int dpi) {
    return QRect(px(1690, dpi), px(290, dpi), px(433, dpi), px(520, dpi));
}

QImage FormPage::paint(int dpi, bool noisy) {
    QRandomGenerator rng(20261207u + quint32(dpi) + (noisy ? 1u : 0u));
    QImage page(px(2480, dpi), px(3508, dpi), QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter p(&page);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        QFont title(QStringLiteral("Liberation Serif"));
        title.setPixelSize(px(70, dpi));
        title.setBold(true);
        p.setFont(title);
        p.setPen(Qt::black);
        p.drawText(QPoint(px(200, dpi), px(220, dpi)), QStringLiteral("DOMANDA DI RILASCIO"));
        QFont body(QStringLiteral("Liberation Serif"));
        body.setPixelSize(px(38, dpi));
        p.setFont(body);
        const QStringList labels = {QStringLiteral("Cognome"),        QStringLiteral("Nome"),
                                    QStringLiteral("Nato a"),         QStringLiteral("Il"),
                                    QStringLiteral("Residente in"),   QStringLiteral("Via"),
                                    QStringLiteral("Codice fiscale"), QStringLiteral("Documento")};
        int y = px(900, dpi);
        for (int i = 0; i < 8; ++i, y += px(120, dpi)) {
            p.drawText(QPoint(px(200, dpi), y), labels[i]);
            p.drawRect(QRect(px(620, dpi), y - px(50, dpi), px(1650, dpi), px(70, dpi)));
        }
        y += px(80, dpi);
        for (int line = 0; line < 34; ++line, y += px(52, dpi)) {
            QString text;
            for (int word = 0; word < 14; ++word)
                text += QString(int(3 + rng.bounded(7)), QChar(u'a' + int(rng.bounded(26)))) + u' ';
            p.drawText(QPoint(px(200, dpi), y), text);
        }
        const QRect photo = photoRect(dpi);
        p.setPen(QPen(Qt::black, px(3, dpi)));
        p.drawRect(photo.adjusted(-px(10, dpi), -px(10, dpi), px(10, dpi), px(10, dpi)));
        paintPhoto(p, photo, rng);
        QPainterPath signature;
        signature.moveTo(px(1500, dpi), px(3250, dpi));
        for (int i = 0; i < 12; ++i)
            signature.cubicTo(px(1520 + i * 55, dpi), px(3150 + rng.bounded(60), dpi), px(1540 + i * 55, dpi),
                              px(3300 + rng.bounded(60), dpi), px(1560 + i * 55, dpi), px(3240, dpi));
        p.setPen(QPen(QColor(20, 30, 120), px(5, dpi)));
        p.setBrush(Qt::NoBrush);
        p.drawPath(signature);
    }
    if (noisy) {
        page = page.transformed(QTransform().rotate(0.4), Qt::SmoothTransformation)
                   .copy(QRect(QPoint(0, 0), page.size()));
        page.convertTo(QImage::Format_RGB32);
        addScanNoise(page, rng);
    }
    return page;
}

QImage FormPage::sideways(const QImage& upright) {
    return upright.transformed(QTransform().rotate(270));
}

QImage FormPage::signedOn(QImage page, const QRect& box, SignatureLine line, QImage* ink) {
    // Loops along a baseline at seven tenths of the height, every other one tall.
    const double h = box.height();
    const double base = box.top() + 0.7 * h;
    const int loops = std::max(3, int(box.width() / (0.5 * h)));
    const double step = double(box.width()) / loops;
    QPainterPath pen;
    pen.moveTo(box.left(), base + 0.1 * h);
    for (int i = 0; i < loops; ++i) {
        const double x = box.left() + i * step;
        const double top = box.top() + (i % 3 == 0 ? 0.0 : 0.4 * h);
        pen.cubicTo(x + 0.9 * step, base, x + 0.1 * step, top, x + 0.5 * step, top);
        pen.cubicTo(x + 0.9 * step, top, x + 0.1 * step, base, x + step, base);
    }
    if (line == SignatureLine::Underlined) {
        pen.moveTo(box.left(), box.bottom() - 0.05 * h);
        pen.cubicTo(box.left() + box.width() / 3.0, box.bottom() + 0.02 * h,
                    box.left() + box.width() * 2 / 3.0, box.bottom() - 0.12 * h, box.right(),
                    box.bottom() - 0.1 * h);
    }
    const int penWidth = std::max(2, int(std::lround(h / 40)));
    const QPen stroke(QColor(25, 35, 125), penWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    QPainter p(&page);
    p.setRenderHint(QPainter::Antialiasing);
    if (line == SignatureLine::Across || line == SignatureLine::Along) {
        const int y = int(line == SignatureLine::Across ? box.top() + 0.5 * h : base);
        const int reach = box.height();
        p.setPen(QPen(QColor(90, 90, 90), std::max(1, penWidth / 2)));
        p.drawLine(box.left() - reach, y, box.right() + reach, y);
    }
    p.setPen(stroke);
    p.setBrush(Qt::NoBrush);
    p.drawPath(pen);
    if (ink) {
        *ink = QImage(page.size(), QImage::Format_Grayscale8);
        ink->fill(0);
        QPainter m(ink);
        m.setPen(QPen(Qt::white, penWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        m.drawPath(pen);
    }
    return page;
}
