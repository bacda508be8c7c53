#include "link/linklog.h"

Q_LOGGING_CATEGORY(kzLink, "kz.link", QtWarningMsg)
