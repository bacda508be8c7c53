#pragma once

#include "link/port.h"

#include <QStringList>

#include <optional>

class StationCore;

// A port that talks to a StationCore in memory, for fast tests of the
// exchange and of every window. Time is the program-wide programClock(): with a
// ManualClock installed, waiting for a reply moves the clock to the reply's
// due time (or by the whole wait when none comes), so no test ever sleeps.
class MemoryPort final : public ControllerPort
{
public:
    // The core is not owned and must outlive the port.
    explicit MemoryPort(StationCore *core);

    StationCore *core() const { return m_core; }

    // The device paths open() accepts; without a call (or after
    // clearPresentDevices) any path is present.
    void setPresentDevices(const QStringList &paths) { m_presentDevices = paths; }
    void clearPresentDevices() { m_presentDevices.reset(); }

    // The device goes away: the next read or write fails with DeviceLost and
    // closes the port, and open() fails until plugIn().
    void unplug() { m_unplugged = true; }
    void plugIn() { m_unplugged = false; }
    bool isUnplugged() const { return m_unplugged; }

    // The next count writes fail with WriteFailed (negative: every write).
    void failWrites(int count = 1) { m_failWrites = count; }

    // Every byte handed to write(), in order.
    const QByteArray &written() const { return m_written; }
    int openCount() const { return m_openCount; }

    bool open(const QString &devicePath) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    QString devicePath() const override { return m_path; }
    PortError lastError() const override { return m_error; }

    void discardInput() override;
    void discardOutput() override {}
    bool write(const QByteArray &bytes) override;
    qint64 bytesToWrite() const override { return 0; }
    bool waitForBytesWritten(int ms) override;
    qint64 bytesAvailable() const override;
    bool waitForReadyRead(int ms) override;
    QByteArray readAll() override;

private:
    // Moves the reply bytes that are due by now into the input; true when
    // there were any.
    bool collectDue() const;
    bool checkUsable() const;
    void setError(int number, const QString &description) const;

    StationCore *m_core;
    std::optional<QStringList> m_presentDevices;
    mutable bool m_open = false; // a lost device closes the port, even in a const call
    bool m_unplugged = false;
    int m_failWrites = 0;
    int m_openCount = 0;
    QString m_path;
    QByteArray m_written;
    mutable QByteArray m_input;
    mutable PortError m_error;
};
