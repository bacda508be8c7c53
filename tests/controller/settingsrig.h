#pragma once

#include "controller/controllersettings.h"
#include "controller/modulebuffer.h"
#include "link/frame.h"
#include "tests/support/stationrig.h"

#include <QList>

// A port in front of the in-memory station that records every request the
// program writes and, when told to, lets only a number of them through: the
// rest are swallowed as if the line were cut, so no reply comes.
class GatePort final : public ControllerPort
{
public:
    explicit GatePort(MemoryPort &inner) : m_inner(inner) {}

    // Only the next frames requests reach the station (negative: all).
    void passOnly(int frames) { m_remaining = frames; }
    const QList<CommandBuffer> &sent() const { return m_sent; }
    void clearSent() { m_sent.clear(); }

    bool open(const QString &devicePath) override { return m_inner.open(devicePath); }
    void close() override { m_inner.close(); }
    bool isOpen() const override { return m_inner.isOpen(); }
    QString devicePath() const override { return m_inner.devicePath(); }
    PortError lastError() const override { return m_inner.lastError(); }
    void discardInput() override { m_inner.discardInput(); }
    void discardOutput() override { m_inner.discardOutput(); }
    bool write(const QByteArray &bytes) override
    {
        if (bytes.size() == Frame::Size)
            m_sent.append(Frame::decode(bytes));
        if (m_remaining == 0)
            return true;
        if (m_remaining > 0)
            --m_remaining;
        return m_inner.write(bytes);
    }
    qint64 bytesToWrite() const override { return m_inner.bytesToWrite(); }
    bool waitForBytesWritten(int ms) override { return m_inner.waitForBytesWritten(ms); }
    qint64 bytesAvailable() const override { return m_inner.bytesAvailable(); }
    bool waitForReadyRead(int ms) override { return m_inner.waitForReadyRead(ms); }
    QByteArray readAll() override { return m_inner.readAll(); }

private:
    MemoryPort &m_inner;
    int m_remaining = -1;
    QList<CommandBuffer> m_sent;
};

// The shared station rig with the gate in front of its port, and the
// dialog's program-wide data and buffer back at their start values.
class SettingsRig : public StationRig
{
public:
    explicit SettingsRig(quint8 controller = 1) : StationRig(controller)
    {
        setControllerPort(&gate);
        controllerSettingsData() = ControllerSettingsData();
        moduleCommandBuffer() = CommandBuffer();
    }

    void setPins(TrackPins operating, TrackPins programming)
    {
        station.state().operatingPins = operating;
        station.state().programmingPins = programming;
    }

    GatePort gate{port};
};

inline CommandBuffer query(quint8 controller, quint8 selector)
{
    return CommandBuffer{controller, Command::QueryController, 0, selector, 0};
}

inline CommandBuffer setParameter(quint8 controller, quint8 parameter, quint8 p3, quint8 p1)
{
    return CommandBuffer{controller, Command::SetParameter, p1, parameter, p3};
}

// "c=1 cmd=2 p1=0 p2=253 p3=0", so that a failed comparison says what differs.
inline char *toString(const CommandBuffer &b)
{
    return qstrdup(QByteArray("c=" + QByteArray::number(b.controller) + " cmd="
                              + QByteArray::number(b.command) + " p1=" + QByteArray::number(b.p1)
                              + " p2=" + QByteArray::number(b.p2) + " p3="
                              + QByteArray::number(b.p3))
                       .constData());
}
