#pragma once

#include <QIcon>
#include <QString>

// The pictures of the main window, drawn by the program itself so that no
// button is ever empty.

// A tool bar icon from the desktop's theme, or the bundled drawing when the
// theme has none. key is the button's key ("btnOptions", "btnHelp",
// "btnInfo", "btnClose").
QIcon toolBarIcon(const QString &key);
// The theme name looked up for a key.
QString toolBarThemeName(const QString &key);
// The bundled drawing for a key.
QIcon bundledToolBarIcon(const QString &key);

// The direction button's pictures, the same in the normal and the disabled
// look.
QIcon directionIcon(bool up);

class QWidget;
class QColor;

// Gives a button the background colour colour; an invalid colour returns it
// to the system's button face.
void setButtonColour(QWidget *button, const QColor &colour);
// The background colour a button shows.
QColor buttonColour(const QWidget *button);
