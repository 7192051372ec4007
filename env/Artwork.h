#pragma once

#include <QPixmap>
#include <QString>

// The program's bitmaps, painted in code so that they stay sharp and need no files.
namespace Artwork {

enum class Icon { Logo, Check, Exit, Enter, Scanner, Folder, Portrait, Support };

// The maker's logo, size x size pixels.
QPixmap logo(int size = 119);

// A picture button face: an icon at the left and the words beside it, on the given
// background colour. Words may hold '\n' for a second line.
QPixmap buttonFace(Icon icon, const QString& words, QSize size, const QColor& background,
                   const QColor& ink = QColor(0, 0, 0));

} // namespace Artwork
