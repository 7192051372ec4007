#pragma once

#include <QIcon>
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

// The program's own icon, for its windows' title bars and the task bar: the sizes built
// into the executable (dist/icons/icons.qrc, the same pictures as the installed menu
// icon), or the installed theme's icon when a program is built without them.
QIcon programIcon();

// The name of the installed desktop entry and icon, without extension.
inline constexpr char kProgramId[] = "it.orvanta.Vetra";

} // namespace Artwork
