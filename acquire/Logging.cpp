#include "acquire/Logging.h"

Q_LOGGING_CATEGORY(lcAcquire, "vetra.acquire", QtWarningMsg)
