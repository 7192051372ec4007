#include "encode/Logging.h"

Q_LOGGING_CATEGORY(lcEncode, "vetra.encode", QtWarningMsg)
