#include "workspace/SelectionFrame.h"

#include "workspace/PictureSurface.h"

#include <QPainter>
#include <cmath>

SelectionFrame::SelectionFrame(const FrameRect& rect, PictureSurface* surface)
    : QWidget(surface), m_rect(rect), m_origin(surface->contentsRect().topLeft()) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    place();
}

void SelectionFrame::setLeft(float value) {
    m_rect.Left = value;
    place();
}

void SelectionFrame::setTop(float value) {
    m_rect.Top = value;
    place();
}

void SelectionFrame::setWidth(float value) {
    m_rect.Width = value;
    place();
}

void SelectionFrame::setHeight(float value) {
    m_rect.Height = value;
    place();
}

void SelectionFrame::setFrameRect(const FrameRect& rect) {
    m_rect = rect;
    place();
}

void SelectionFrame::place() {
    // The outline covers Width x Height pixels from (Left, Top): its right and bottom edges
    // are the last pixels before Left + Width and Top + Height, so a frame that reaches the
    // surface's far bounds is drawn whole, inside the surface.
    const int left = int(std::lround(m_rect.Left));
    const int top = int(std::lround(m_rect.Top));
    const int right = int(std::lround(double(m_rect.Left) + m_rect.Width));
    const int bottom = int(std::lround(double(m_rect.Top) + m_rect.Height));
    setGeometry(m_origin.x() + left, m_origin.y() + top, std::max(1, right - left),
                std::max(1, bottom - top));
    update();
}

void SelectionFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(QPen(QColor(255, 0, 0), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(0, 0, width() - 1, height() - 1));
}
