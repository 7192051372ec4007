#include "batch/Logging.h"

Q_LOGGING_CATEGORY(lcBatch, "vetra.batch", QtWarningMsg)
