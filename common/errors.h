#pragma once

#include <QString>

class QWidget;

// Shows message in a modal box with the support paragraph appended. A "$" in
// the message is a line break. A message that reads as a number is taken as a
// run-time error number. fatal shows a critical box and then ends the program
// at once; otherwise information chooses an information box over a warning.
// An empty (or blank) caption means the program title.
void sysShowError(const QString &message, bool fatal, bool information, const QString &caption);

// The text of the box sysShowError shows, without showing it.
QString errorBoxText(const QString &message);

// Replaces every occurrence of search (compared without regard to case);
// replaced text is never searched again. search must not be empty.
QString sysReplace(const QString &text, const QString &search, const QString &replacement);

// Places a dialog 100 twips below and right of the centre of its screen.
void sysCenterForm(QWidget *window);

// The position sysCenterForm computes, in pixels (15 twips to the pixel), for
// a window of the given outer size on a screen of the given size.
int centeredOrigin(int screenPixels, int windowPixels);
