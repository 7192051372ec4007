#pragma once

#include <QLoggingCategory>

// The library's log: silent unless QT_LOGGING_RULES turns "vetra.encode" on. A failure reported
// by a library we call leaves a debug line here with that library's own words.
Q_DECLARE_LOGGING_CATEGORY(lcEncode)
