#pragma once

#include <QtGlobal>

#include <atomic>

// The time source of the exchange time-outs, WaitSeconds and elapsed-time
// displays. The program uses the monotonic system clock; tests install a
// ManualClock so that no test ever sleeps.
class Clock
{
public:
    virtual ~Clock() = default;

    // Milliseconds on a monotonic scale; only differences are meaningful.
    virtual qint64 nowMs() const = 0;

    // Lets ms milliseconds pass while window events are processed.
    virtual void waitProcessingEvents(qint64 ms) = 0;

    // How long a blocking wait of the serial port must last, in the port's
    // real milliseconds, for ms to pass on this clock.
    virtual qint64 portWaitMs(qint64 ms) const { return ms; }
};

class SystemClock final : public Clock
{
public:
    qint64 nowMs() const override;
    void waitProcessingEvents(qint64 ms) override;
};

// A clock that moves only when told to. waitProcessingEvents processes the
// pending events once and then advances by the whole wait. It may be read and
// moved from the line's worker thread too.
class ManualClock final : public Clock
{
public:
    qint64 nowMs() const override { return m_now.load(); }
    void waitProcessingEvents(qint64 ms) override;
    void advance(qint64 ms) { m_now += qMax<qint64>(0, ms); }
    void advanceTo(qint64 ms)
    {
        qint64 now = m_now.load();
        while (now < ms && !m_now.compare_exchange_weak(now, ms)) {
        }
    }

private:
    std::atomic<qint64> m_now = 1'000'000;
};

// A clock that runs factor times faster than real time, for tests that talk
// to a real serial device: a 2-second time-out passes in 2000 / factor real
// milliseconds.
class ScaledClock final : public Clock
{
public:
    explicit ScaledClock(int factor) : m_factor(qMax(1, factor)) {}
    qint64 nowMs() const override;
    void waitProcessingEvents(qint64 ms) override;
    qint64 portWaitMs(qint64 ms) const override { return (ms + m_factor - 1) / m_factor; }

private:
    int m_factor;
};

// The program-wide clock. Without an installed clock a SystemClock is used.
Clock &programClock();
// Installs a clock (not owned); nullptr returns to the system clock.
void setProgramClock(Clock *clock);
