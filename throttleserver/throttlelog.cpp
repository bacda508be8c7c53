#include "throttleserver/throttlelog.h"

Q_LOGGING_CATEGORY(kzThrottle, "kz.throttle", QtWarningMsg)
