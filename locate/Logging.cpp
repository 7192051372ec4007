#include "locate/Logging.h"

Q_LOGGING_CATEGORY(lcLocate, "vetra.locate", QtWarningMsg)
