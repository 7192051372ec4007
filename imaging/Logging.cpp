#include "imaging/Logging.h"

Q_LOGGING_CATEGORY(lcImaging, "vetra.imaging", QtWarningMsg)
