#include "common/validation.h"

#include "common/messagebox.h"
#include "common/program.h"
#include "common/rules.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>

QString fieldText(const QWidget *control)
{
    if (const auto *edit = qobject_cast<const QLineEdit *>(control))
        return edit->text();
    if (const auto *combo = qobject_cast<const QComboBox *>(control))
        return combo->currentText();
    if (const auto *spin = qobject_cast<const QAbstractSpinBox *>(control))
        return spin->text();
    if (const auto *text = qobject_cast<const QPlainTextEdit *>(control))
        return text->toPlainText();
    if (const auto *text = qobject_cast<const QTextEdit *>(control))
        return text->toPlainText();
    return QString();
}

void setRule(QWidget *control, const QString &rule)
{
    control->setProperty(TagProperty, rule);
}

bool sysDataOK(QWidget *form)
{
    if (!form)
        return true;
    // findChildren walks depth first in the order the children were created,
    // which is the order the window defines its controls.
    const QList<QWidget *> controls = form->findChildren<QWidget *>();
    for (QWidget *control : controls) {
        const QString rule = control->property(TagProperty).toString();
        if (rule.isEmpty())
            continue;
        if (const auto message = checkRule(rule, fieldText(control))) {
            showMessageBox(BoxIcon::Warning, BoxButtons::Ok, BoxAnswer::Ok, Program::Title,
                           *message);
            sysSetFocus(control);
            return false;
        }
    }
    return true;
}

void sysSetFocus(QWidget *control)
{
    if (!control || !control->isVisible() || !control->isEnabled()
        || control->focusPolicy() == Qt::NoFocus)
        return;
    control->setFocus(Qt::OtherFocusReason);
}
