#pragma once

#include <QLoggingCategory>

// Frame traces: QT_LOGGING_RULES="kz.link.debug=true" shows every frame.
Q_DECLARE_LOGGING_CATEGORY(kzLink)
