#pragma once

#include <QLoggingCategory>

// Phone connections: QT_LOGGING_RULES="kz.throttle.debug=true" shows every
// client line and every line sent.
Q_DECLARE_LOGGING_CATEGORY(kzThrottle)
