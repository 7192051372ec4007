#pragma once

#include <QLoggingCategory>

// The locator's log: silent unless QT_LOGGING_RULES turns "vetra.locate" on. It says why a
// photograph, a face or a signature was or was not taken, and what OpenCV reported.
Q_DECLARE_LOGGING_CATEGORY(lcLocate)
