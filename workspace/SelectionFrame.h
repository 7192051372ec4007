#pragma once

#include "imaging/FrameGeometry.h"

#include <QWidget>

class PictureSurface;

// A red outlined rectangle over a picture surface. It stores its rectangle in single
// precision, in client pixels of the surface, and places itself over the nearest whole
// pixels. It takes no mouse events: presses and moves over it reach the surface below.
class SelectionFrame : public QWidget {
    Q_OBJECT
  public:
    SelectionFrame(const FrameRect& rect, PictureSurface* surface);

    float Left() const { return m_rect.Left; }
    float Top() const { return m_rect.Top; }
    float Width() const { return m_rect.Width; }
    float Height() const { return m_rect.Height; }
    // The frame's own visibility flag, whether or not its window is on screen yet.
    bool Visible() const { return !isHidden(); }

    void setLeft(float value);
    void setTop(float value);
    void setWidth(float value);
    void setHeight(float value);

    FrameRect frameRect() const { return m_rect; }
    void setFrameRect(const FrameRect& rect);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void place();

    FrameRect m_rect;
    QPoint m_origin; // the surface's client origin inside its border
};
