#include "env/Artwork.h"

#include <QDirIterator>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

namespace Artwork {

namespace {

void drawIcon(QPainter& p, Icon icon, const QRectF& r, const QColor& ink) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(ink, qMax(1.5, r.width() / 14));
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    const double w = r.width();
    const double h = r.height();
    const QPointF c = r.center();
    switch (icon) {
    case Icon::Check: { // a globe with a circular arrow: "is there something newer?"
        p.setBrush(QColor(40, 120, 220));
        p.drawEllipse(r.adjusted(w * 0.1, h * 0.1, -w * 0.1, -h * 0.1));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(Qt::white, pen.widthF() * 0.6));
        p.drawEllipse(QRectF(c.x() - w * 0.18, r.top() + h * 0.1, w * 0.36, h * 0.8));
        p.drawLine(QPointF(r.left() + w * 0.1, c.y()), QPointF(r.right() - w * 0.1, c.y()));
        p.setPen(QPen(QColor(0, 140, 0), pen.widthF() * 1.2));
        p.drawArc(r.adjusted(-w * 0.02, -h * 0.02, w * 0.02, h * 0.02), 30 * 16, 120 * 16);
        break;
    }
    case Icon::Exit: { // an open door with an arrow leaving it
        p.setBrush(QColor(150, 90, 40));
        p.drawRect(QRectF(r.left() + w * 0.15, r.top() + h * 0.1, w * 0.4, h * 0.8));
        p.setBrush(ink);
        p.drawEllipse(QPointF(r.left() + w * 0.47, c.y()), w * 0.04, w * 0.04);
        p.setPen(QPen(QColor(200, 0, 0), pen.widthF() * 1.2));
        p.drawLine(QPointF(r.left() + w * 0.6, c.y()), QPointF(r.right() - w * 0.05, c.y()));
        p.drawLine(QPointF(r.right() - w * 0.05, c.y()), QPointF(r.right() - w * 0.22, c.y() - h * 0.15));
        p.drawLine(QPointF(r.right() - w * 0.05, c.y()), QPointF(r.right() - w * 0.22, c.y() + h * 0.15));
        break;
    }
    case Icon::Enter: { // a page with a frame on it: the workspace
        p.setBrush(Qt::white);
        p.drawRect(QRectF(r.left() + w * 0.15, r.top() + h * 0.05, w * 0.6, h * 0.9));
        p.setPen(QPen(QColor(220, 0, 0), pen.widthF()));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(r.left() + w * 0.3, r.top() + h * 0.2, w * 0.3, h * 0.35));
        p.setPen(QPen(QColor(0, 140, 0), pen.widthF() * 1.3));
        p.drawLine(QPointF(r.left() + w * 0.55, r.bottom() - h * 0.2),
                   QPointF(r.right(), r.bottom() - h * 0.2));
        p.drawLine(QPointF(r.right(), r.bottom() - h * 0.2),
                   QPointF(r.right() - w * 0.15, r.bottom() - h * 0.33));
        break;
    }
    case Icon::Scanner: { // a flatbed with its lid and a light bar
        p.setBrush(QColor(200, 200, 210));
        p.drawRoundedRect(QRectF(r.left(), r.top() + h * 0.45, w, h * 0.4), 3, 3);
        p.setBrush(QColor(120, 120, 135));
        p.drawRect(QRectF(r.left() + w * 0.05, r.top() + h * 0.25, w * 0.9, h * 0.15));
        p.setPen(QPen(QColor(0, 200, 255), pen.widthF()));
        p.drawLine(QPointF(r.left() + w * 0.1, r.top() + h * 0.62),
                   QPointF(r.right() - w * 0.1, r.top() + h * 0.62));
        break;
    }
    case Icon::Folder: {
        QPainterPath path;
        path.moveTo(r.left(), r.top() + h * 0.25);
        path.lineTo(r.left() + w * 0.35, r.top() + h * 0.25);
        path.lineTo(r.left() + w * 0.45, r.top() + h * 0.35);
        path.lineTo(r.right(), r.top() + h * 0.35);
        path.lineTo(r.right(), r.bottom() - h * 0.1);
        path.lineTo(r.left(), r.bottom() - h * 0.1);
        path.closeSubpath();
        p.setBrush(QColor(240, 200, 60));
        p.drawPath(path);
        break;
    }
    case Icon::Portrait: { // a head in a frame and a signature stroke
        p.setBrush(Qt::white);
        p.drawRect(QRectF(r.left() + w * 0.05, r.top() + h * 0.05, w * 0.5, h * 0.6));
        p.setBrush(QColor(230, 180, 140));
        p.drawEllipse(QPointF(r.left() + w * 0.3, r.top() + h * 0.27), w * 0.1, h * 0.12);
        p.drawChord(QRectF(r.left() + w * 0.12, r.top() + h * 0.42, w * 0.36, h * 0.4), 0, 180 * 16);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0, 0, 160), pen.widthF()));
        QPainterPath sign;
        sign.moveTo(r.left() + w * 0.1, r.bottom() - h * 0.1);
        sign.cubicTo(r.left() + w * 0.35, r.bottom() - h * 0.35, r.left() + w * 0.5, r.bottom(), r.right(),
                     r.bottom() - h * 0.2);
        p.drawPath(sign);
        break;
    }
    case Icon::Support: { // a headset
        p.setBrush(Qt::NoBrush);
        p.drawArc(r.adjusted(w * 0.1, h * 0.05, -w * 0.1, h * 0.1), 0, 180 * 16);
        p.setBrush(QColor(60, 60, 60));
        p.drawRoundedRect(QRectF(r.left() + w * 0.05, c.y(), w * 0.2, h * 0.35), 2, 2);
        p.drawRoundedRect(QRectF(r.right() - w * 0.25, c.y(), w * 0.2, h * 0.35), 2, 2);
        break;
    }
    case Icon::Logo:
        break;
    }
    p.restore();
}

} // namespace

QPixmap logo(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(0.5, 0.5, size - 1.0, size - 1.0);
    QLinearGradient gradient(r.topLeft(), r.bottomRight());
    gradient.setColorAt(0, QColor(255, 210, 40));
    gradient.setColorAt(1, QColor(230, 120, 0));
    p.setBrush(gradient);
    p.setPen(QPen(Qt::white, 3));
    p.drawEllipse(r.adjusted(2, 2, -2, -2));
    // A stylised "O" with a lens, for the maker.
    p.setPen(QPen(QColor(0, 0, 140), size / 10.0));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(r.adjusted(size * 0.22, size * 0.22, -size * 0.22, -size * 0.22));
    p.setBrush(QColor(0, 0, 140));
    p.setPen(Qt::NoPen);
    p.drawEllipse(r.center(), size * 0.08, size * 0.08);
    return pixmap;
}

QPixmap buttonFace(Icon icon, const QString& words, QSize size, const QColor& background, const QColor& ink) {
    QPixmap pixmap(size);
    pixmap.fill(background);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const int pad = qMax(2, size.height() / 10);
    const int iconSide = size.height() - 2 * pad;
    drawIcon(p, icon, QRectF(pad, pad, iconSide, iconSide), ink);
    const QRect textRect(2 * pad + iconSide, 0, size.width() - 3 * pad - iconSide, size.height());
    // The largest bold face, up to 14 px, whose lines fit beside the icon.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setBold(true);
    for (int px = 14; px >= 7; --px) {
        font.setPixelSize(px);
        const QRect needed = QFontMetrics(font).boundingRect(textRect, Qt::AlignCenter, words);
        if (needed.width() <= textRect.width() && needed.height() <= textRect.height())
            break;
    }
    p.setFont(font);
    p.setPen(ink);
    p.drawText(textRect, Qt::AlignVCenter | Qt::AlignHCenter, words);
    return pixmap;
}

QIcon programIcon() {
    const QString name = QLatin1String(kProgramId) + QLatin1String(".png");
    QIcon icon;
    // One file per size: hicolor/NxN/apps/<id>.png.
    QDirIterator sizes(QStringLiteral(":/icons/hicolor"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (sizes.hasNext()) {
        const QString file = sizes.next() + QLatin1String("/apps/") + name;
        if (QFile::exists(file))
            icon.addFile(file);
    }
    if (icon.isNull())
        icon = QIcon::fromTheme(QLatin1String(kProgramId));
    return icon;
}

} // namespace Artwork
