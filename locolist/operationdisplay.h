#pragma once

#include <QColor>
#include <QString>

class LedShape;
class QLabel;
class QPushButton;

// What a tab shows of a running programming operation: three lamps, a status
// text in its colour, the progress, the elapsed time and the abort button.
// The window shows an operation on the tab that started it.
class OperationDisplay
{
public:
    virtual ~OperationDisplay() = default;

    virtual LedShape *led(int index) const = 0;
    virtual void setStatus(const QColor &color, const QString &text) = 0;
    virtual void setStatusText(const QString &text) = 0;
    virtual void showProgress(int percent) = 0;
    virtual QLabel *elapsed() const = 0;
    virtual QPushButton *breakButton() const = 0;
};
