#pragma once

// What the programming benchmarks share: the real serial port with a
// stopwatch on its waits for the line, a message-box counter, and the
// figures of one measured operation.

#include "common/messagebox.h"
#include "link/port.h"
#include "link/serialport.h"
#include "simulator/ptystation.h"

#include <QElapsedTimer>

#include <cstdio>

namespace ProgrammingBench {

class CountingBoxes final : public MessageBoxes
{
public:
    int shown = 0;
    BoxAnswer show(const MessageBoxRequest &request) override
    {
        ++shown;
        return request.defaultAnswer;
    }
};

// The real port, with a stopwatch on the waits for the line: the time the
// exchanges spend blocked until the station's reply is in.
class TimedPort final : public ControllerPort
{
public:
    explicit TimedPort(SerialControllerPort *port) : m_port(port) {}
    double waitedMs = 0;

    bool open(const QString &devicePath) override { return m_port->open(devicePath); }
    void close() override { m_port->close(); }
    bool isOpen() const override { return m_port->isOpen(); }
    QString devicePath() const override { return m_port->devicePath(); }
    PortError lastError() const override { return m_port->lastError(); }
    void discardInput() override { m_port->discardInput(); }
    void discardOutput() override { m_port->discardOutput(); }
    bool write(const QByteArray &bytes) override { return m_port->write(bytes); }
    qint64 bytesToWrite() const override { return m_port->bytesToWrite(); }
    bool waitForBytesWritten(int ms) override
    {
        QElapsedTimer t;
        t.start();
        const bool done = m_port->waitForBytesWritten(ms);
        waitedMs += double(t.nsecsElapsed()) / 1e6;
        return done;
    }
    qint64 bytesAvailable() const override { return m_port->bytesAvailable(); }
    bool waitForReadyRead(int ms) override
    {
        QElapsedTimer t;
        t.start();
        const bool ready = m_port->waitForReadyRead(ms);
        waitedMs += double(t.nsecsElapsed()) / 1e6;
        return ready;
    }
    QByteArray readAll() override { return m_port->readAll(); }

private:
    SerialControllerPort *m_port;
};

// The time the station held its replies back: from each request's arrival to
// the due time of its reply, summed over the log.
inline qint64 stationOwnMs(const QList<LogEntry> &log)
{
    qint64 total = 0;
    qint64 arrival = -1;
    for (const LogEntry &entry : log) {
        if (entry.direction == LogEntry::Received && entry.frame) {
            arrival = entry.timeMs;
        } else if (entry.direction == LogEntry::Sent && arrival >= 0) {
            total += entry.timeMs - arrival;
            arrival = -1;
        }
    }
    return total;
}

struct Figures
{
    double totalMs = 0;
    double stationMs = 0;
    double waitedMs = 0;
    int exchanges = 0;
};

template<typename F>
Figures measure(PtyStation &station, TimedPort &port, F &&operation)
{
    station.withCore([](StationCore &core) { core.clearLog(); });
    port.waitedMs = 0;
    QElapsedTimer timer;
    timer.start();
    operation();
    Figures f;
    f.totalMs = double(timer.nsecsElapsed()) / 1e6;
    f.waitedMs = port.waitedMs;
    station.withCore([&](StationCore &core) {
        f.stationMs = double(stationOwnMs(core.log()));
        f.exchanges = int(core.receivedRequests().size());
    });
    return f;
}

inline void print(const char *name, const Figures &f)
{
    std::printf("%s_exchanges=%d\n", name, f.exchanges);
    std::printf("%s_total_ms=%.1f\n", name, f.totalMs);
    std::printf("%s_station_ms=%.1f\n", name, f.stationMs);
    std::printf("%s_waiting_for_line_ms=%.1f\n", name, f.waitedMs);
    std::printf("%s_beyond_nominal_percent=%.3f\n", name,
                100.0 * (f.totalMs - f.stationMs) / f.totalMs);
    std::printf("%s_program_share_percent=%.3f\n", name,
                100.0 * (f.totalMs - f.waitedMs) / f.totalMs);
}

} // namespace ProgrammingBench
