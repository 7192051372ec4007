#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QRect>
#include <QString>

class QFrame;
class QLabel;
class QPushButton;
class QWidget;

// The control factories every window of the program builds its controls with, so that a
// label, a button or a group looks and behaves the same in each of them. Each factory
// parents the new control to parent (which owns it), names it after the window's design
// and places it at geometry, in pixels of the parent.
namespace WindowControls {

// The widget fills its background with colour (its own and its children's, where they
// do not paint their own).
void paintBackground(QWidget* widget, const QColor& colour);

// Text drawn by the widget (and its children) in colour.
void setInk(QWidget* widget, const QColor& colour);

// The program's serif face (metric-compatible with the one the layout was drawn with).
QFont serif(double pointSize, bool bold = false, bool italic = false);

enum class Border { None, Plain, Sunken };

// A group of controls on its own background.
QFrame* frame(QWidget* parent, const char* name, const QRect& geometry, const QColor& background,
              Border border = Border::None);

// Text that wraps at word boundaries inside geometry.
QLabel* label(QWidget* parent, const char* name, const QString& text, const QRect& geometry,
              const QFont& font, const QColor& ink, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop);

// A button with a caption; a caption too long for one line wraps onto more lines. Never a
// dialog's default button: Invio does not press it by itself.
QPushButton* textButton(QWidget* parent, const char* name, const QString& caption, const QRect& geometry,
                        const QFont& font = QFont());

// A button showing a picture (face) on the given background colour, with no caption.
QPushButton* pictureButton(QWidget* parent, const char* name, const QRect& geometry, const QPixmap& face,
                           const QColor& background);

} // namespace WindowControls
