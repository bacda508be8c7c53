#pragma once

#include <QString>

class QWidget;

// The property that carries a control's rule text (see checkRule).
inline constexpr char TagProperty[] = "Tag";

// Checks every control of form that carries a rule text in its "Tag"
// property, in the order the window created its controls. The first field
// that fails is reported in a warning box and gets the focus; then the answer
// is false. True when every field passes.
bool sysDataOK(QWidget *form);

// Gives control the input focus when it can take it; otherwise nothing.
void sysSetFocus(QWidget *control);

// The text a rule is checked against: a line edit's text, the edit part of a
// combo box, a spin box's text.
QString fieldText(const QWidget *control);

// Sets the rule text of a control.
void setRule(QWidget *control, const QString &rule);
