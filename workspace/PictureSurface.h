#pragma once

#include <QFrame>
#include <QImage>

// A picture box: a background colour, a picture shown at the top-left corner of the
// client area, and a persistent drawing layer over it. Coordinates are pixels of the
// client area (inside the border), origin top-left.
//
// Mouse presses, moves and releases over the client area are reported with the button
// state as a bit mask (1 left, 2 right, 4 middle), the keyboard shift state (1 Shift,
// 2 Ctrl, 4 Alt) and client coordinates in single precision.
class PictureSurface : public QFrame {
    Q_OBJECT
  public:
    enum class Border { Flat, Sunken };

    PictureSurface(Border border, const QColor& background, QWidget* parent = nullptr);

    // With autoSize on, the surface takes the size of its picture plus the border.
    void setAutoSize(bool on) { m_autoSize = on; }

    void setPicture(const QImage& picture);
    QImage picture() const { return m_picture; }
    bool hasPicture() const { return !m_picture.isNull(); }

    // Picture and drawing removed: only the background colour shows.
    void clearPicture();
    // Drawing layer erased; the picture stays.
    void clearDrawing();

    // Paints image into target (client pixels) on the drawing layer, replacing what was
    // there (no blending with the layer's earlier content).
    void drawImage(const QRect& target, const QImage& image);

    QSize clientSize() const { return contentsRect().size(); }

    // The current image as the operator sees it: background, picture and drawing, at the
    // client size. When nothing is drawn and the picture covers the client area exactly,
    // this is the picture itself (shared, not copied).
    QImage image() const;

    QColor background() const;

  Q_SIGNALS:
    void mouseDown(int button, int shift, float x, float y);
    void mouseMove(int button, int shift, float x, float y);
    void mouseUp(int button, int shift, float x, float y);
    // Whole notches of the mouse wheel turned over the surface: positive away from the
    // operator, negative towards. Finer wheels are added up to whole notches.
    void wheelSteps(int steps);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    QPointF clientPoint(const QMouseEvent* event) const;

    QImage m_picture;
    QImage m_drawing; // ARGB, client size; null while nothing was drawn
    bool m_autoSize = false;
    int m_wheelRest = 0; // eighths of a degree not yet making a whole notch
};
