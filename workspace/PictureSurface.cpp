#include "workspace/PictureSurface.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

namespace {

int buttonBits(Qt::MouseButtons buttons) {
    int bits = 0;
    if (buttons & Qt::LeftButton)
        bits |= 1;
    if (buttons & Qt::RightButton)
        bits |= 2;
    if (buttons & Qt::MiddleButton)
        bits |= 4;
    return bits;
}

int shiftBits(Qt::KeyboardModifiers modifiers) {
    int bits = 0;
    if (modifiers & Qt::ShiftModifier)
        bits |= 1;
    if (modifiers & Qt::ControlModifier)
        bits |= 2;
    if (modifiers & Qt::AltModifier)
        bits |= 4;
    return bits;
}

} // namespace

PictureSurface::PictureSurface(Border border, const QColor& background, QWidget* parent) : QFrame(parent) {
    if (border == Border::Flat) {
        setFrameStyle(QFrame::Box | QFrame::Plain);
        setLineWidth(1);
    } else {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setLineWidth(2);
    }
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);
}

QColor PictureSurface::background() const {
    return palette().color(QPalette::Window);
}

void PictureSurface::setPicture(const QImage& picture) {
    m_picture = picture;
    m_drawing = QImage();
    if (m_autoSize && !picture.isNull())
        resize(picture.size() + (size() - contentsRect().size()));
    update();
}

void PictureSurface::clearPicture() {
    m_picture = QImage();
    m_drawing = QImage();
    update();
}

void PictureSurface::clearDrawing() {
    m_drawing = QImage();
    update();
}

void PictureSurface::drawImage(const QRect& target, const QImage& image) {
    if (image.isNull() || clientSize().isEmpty())
        return;
    if (m_drawing.size() != clientSize()) {
        m_drawing = QImage(clientSize(), QImage::Format_ARGB32_Premultiplied);
        if (m_drawing.isNull())
            return;
        m_drawing.fill(Qt::transparent);
    }
    QPainter painter(&m_drawing);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image);
    painter.end();
    update();
}

QImage PictureSurface::image() const {
    const QSize size = clientSize();
    if (m_drawing.isNull() && m_picture.size() == size && !m_picture.hasAlphaChannel())
        return m_picture;
    QImage result(size, QImage::Format_RGB32);
    if (result.isNull())
        return result;
    result.fill(background());
    QPainter painter(&result);
    if (!m_picture.isNull())
        painter.drawImage(0, 0, m_picture);
    if (!m_drawing.isNull())
        painter.drawImage(0, 0, m_drawing);
    return result;
}

void PictureSurface::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect client = contentsRect();
    painter.setClipRect(client);
    if (!m_picture.isNull())
        painter.drawImage(client.topLeft(), m_picture);
    if (!m_drawing.isNull())
        painter.drawImage(client.topLeft(), m_drawing);
}

QPointF PictureSurface::clientPoint(const QMouseEvent* event) const {
    return event->position() - QPointF(contentsRect().topLeft());
}

void PictureSurface::mousePressEvent(QMouseEvent* event) {
    const QPointF p = clientPoint(event);
    Q_EMIT mouseDown(buttonBits(event->buttons()), shiftBits(event->modifiers()), float(p.x()), float(p.y()));
}

void PictureSurface::mouseMoveEvent(QMouseEvent* event) {
    const QPointF p = clientPoint(event);
    Q_EMIT mouseMove(buttonBits(event->buttons()), shiftBits(event->modifiers()), float(p.x()), float(p.y()));
}

void PictureSurface::mouseReleaseEvent(QMouseEvent* event) {
    const QPointF p = clientPoint(event);
    Q_EMIT mouseUp(buttonBits(event->button()), shiftBits(event->modifiers()), float(p.x()), float(p.y()));
}

void PictureSurface::wheelEvent(QWheelEvent* event) {
    constexpr int kNotch = 120; // eighths of a degree in one notch of a common wheel
    m_wheelRest += event->angleDelta().y();
    const int steps = m_wheelRest / kNotch;
    m_wheelRest -= steps * kNotch;
    event->accept();
    if (steps != 0)
        Q_EMIT wheelSteps(steps);
}
