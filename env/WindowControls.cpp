#include "env/WindowControls.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace {

// A push button whose caption wraps onto more lines when it does not fit, as two-word
// tool captions need.
class CaptionButton : public QPushButton {
  public:
    CaptionButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

  protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        option.text.clear();
        painter.drawControl(QStyle::CE_PushButton, option);
        painter.setPen(
            palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
        painter.drawText(rect().adjusted(3, 2, -3, -2), Qt::AlignCenter | Qt::TextWordWrap, text());
    }
};

template <typename T> T* placed(T* widget, const char* name, const QRect& geometry) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

} // namespace

namespace WindowControls {

void paintBackground(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(widget->backgroundRole(), colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void setInk(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

QFont serif(double pointSize, bool bold, bool italic) {
    QFont font(QStringLiteral("Liberation Serif"));
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

QFrame* frame(QWidget* parent, const char* name, const QRect& geometry, const QColor& background,
              Border border) {
    auto* frame = placed(new QFrame(parent), name, geometry);
    switch (border) {
    case Border::None:
        break;
    case Border::Plain:
        frame->setFrameStyle(QFrame::Box | QFrame::Plain);
        break;
    case Border::Sunken:
        frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
        break;
    }
    paintBackground(frame, background);
    return frame;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, const QRect& geometry,
              const QFont& font, const QColor& ink, Qt::Alignment alignment) {
    auto* label = placed(new QLabel(text, parent), name, geometry);
    label->setFont(font);
    label->setWordWrap(true);
    label->setAlignment(alignment);
    setInk(label, ink);
    return label;
}

QPushButton* textButton(QWidget* parent, const char* name, const QString& caption, const QRect& geometry,
                        const QFont& font) {
    auto* button = placed(new CaptionButton(caption, parent), name, geometry);
    if (font != QFont())
        button->setFont(font);
    button->setAutoDefault(false);
    return button;
}

QPushButton* pictureButton(QWidget* parent, const char* name, const QRect& geometry, const QPixmap& face,
                           const QColor& background) {
    auto* button = placed(new QPushButton(parent), name, geometry);
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, background);
    button->setPalette(palette);
    button->setIcon(QIcon(face));
    button->setIconSize(face.size());
    button->setAutoDefault(false);
    return button;
}

} // namespace WindowControls
