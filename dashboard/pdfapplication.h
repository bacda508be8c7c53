#pragma once

#include <QString>

#include <optional>

// The desktop's application for PDF files, as
// `xdg-mime query default application/pdf` names it: its desktop file, or
// the empty text when the desktop has none. Nothing when the question could
// not be asked (xdg-mime missing, failing or hanging); then only the opener
// can tell whether the manual was shown.
std::optional<QString> desktopPdfApplication();
