#include "common/windowsequence.h"

#include <QApplication>
#include <QCursor>

namespace {

// Sequences started inside another one (a check reads the speed steps,
// which the loco number box also does on its own) count once.
int depth = 0;

} // namespace

WindowSequence::WindowSequence()
{
    if (depth++ == 0 && qobject_cast<QApplication *>(QCoreApplication::instance()))
        QApplication::setOverrideCursor(Qt::BusyCursor);
}

WindowSequence::~WindowSequence()
{
    if (--depth == 0 && qobject_cast<QApplication *>(QCoreApplication::instance()))
        QApplication::restoreOverrideCursor();
}

bool WindowSequence::isRunning()
{
    return depth > 0;
}

bool WindowSequence::refuses()
{
    if (depth == 0)
        return false;
    QApplication::beep();
    return true;
}
