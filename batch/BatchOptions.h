#pragma once

#include "imaging/FrameGeometry.h"
#include "imaging/OutputKinds.h"
#include "imaging/PageTransform.h"

#include <QRect>
#include <QString>
#include <QStringList>

// What one vetra-batch command line asks for.
struct BatchOptions {
    enum class Area { Rect, Frame, Auto }; // Auto: the locator turns the page and places the frame

    OutputKind kind = OutputKind::Foto;
    PageTransform transform;
    double straighten = 0.0; // --straighten: clockwise degrees after the turn and mirror
    Area area = Area::Rect;
    QRect rect;          // --rect: pixels of the page after the rotation and mirror
    FrameRect frame;     // --frame: pixels of the workspace's picture box
    QString input;       // a page, or a folder of pages
    QString output;      // the JPEG, or the folder that receives them
    bool help = false;   // --help: nothing else is read
    bool check = false;  // --check: whether the photo would pass as an identity photo
    bool strict = false; // --strict: --check, and a failed check is exit 9
};

namespace BatchArguments {

// The usage text, in the program's language.
QString usage();

// Reads the arguments that follow the program name. On a mistake returns false with
// *error saying what is wrong, in Italian, ready for stderr.
bool parse(const QStringList& arguments, BatchOptions* options, QString* error);

} // namespace BatchArguments
