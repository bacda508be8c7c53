#include "link/clock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace {
// Read by the line's worker thread as well.
std::atomic<Clock *> installedClock = nullptr;
} // namespace

qint64 SystemClock::nowMs() const
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.elapsed() + 1'000'000;
}

void SystemClock::waitProcessingEvents(qint64 ms)
{
    if (ms <= 0)
        return;
    // A nested event loop ended by a timer: window events run while we wait,
    // without spinning the processor.
    QEventLoop loop;
    QTimer::singleShot(int(ms), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

qint64 ScaledClock::nowMs() const
{
    return SystemClock().nowMs() * m_factor;
}

void ScaledClock::waitProcessingEvents(qint64 ms)
{
    SystemClock().waitProcessingEvents(portWaitMs(ms));
}

void ManualClock::waitProcessingEvents(qint64 ms)
{
    if (ms <= 0)
        return;
    QCoreApplication::processEvents();
    advance(ms);
}

Clock &programClock()
{
    static SystemClock systemClock;
    Clock *installed = installedClock.load();
    return installed ? *installed : systemClock;
}

void setProgramClock(Clock *clock)
{
    installedClock = clock;
}
