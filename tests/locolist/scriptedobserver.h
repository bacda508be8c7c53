#pragma once

#include "locolist/programmer.h"

#include <QList>
#include <QStringList>

#include <functional>

// Records what an operation reports and lets a test act after any of its
// exchanges, as a click on the abort button or a controller that goes silent
// would.
class ScriptedObserver : public ProgrammingObserver
{
public:
    void progress(double percent) override { percents << percent; }
    void searchRunning(bool running) override { runningStates << running; }
    void processEvents() override
    {
        ++exchanges;
        if (afterExchange)
            afterExchange(exchanges);
    }
    void aborted() override { ++abortCount; }
    void stage(const QString &text) override { stages << text; }

    QList<double> percents;
    QList<bool> runningStates;
    QStringList stages;
    int exchanges = 0;
    int abortCount = 0;
    std::function<void(int)> afterExchange;
};
