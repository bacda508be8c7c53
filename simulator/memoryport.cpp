#include "simulator/memoryport.h"

#include "link/clock.h"
#include "simulator/stationcore.h"

#include <QThread>

MemoryPort::MemoryPort(StationCore *core)
    : m_core(core)
{
}

void MemoryPort::setError(int number, const QString &description) const
{
    m_error = PortError{number, description};
}

bool MemoryPort::open(const QString &devicePath)
{
    close();
    if (m_unplugged || (m_presentDevices && !m_presentDevices->contains(devicePath))) {
        setError(PortErrorNumber::NoSuchPort, QStringLiteral("Schnittstelle nicht verfügbar"));
        return false;
    }
    m_open = true;
    m_path = devicePath;
    ++m_openCount;
    setError(PortErrorNumber::None, QString());
    discardInput();
    return true;
}

void MemoryPort::close()
{
    m_open = false;
    m_input.clear();
}

// A lost device closes the port on the next access, as the serial port does.
bool MemoryPort::checkUsable() const
{
    if (m_open && m_unplugged) {
        m_open = false;
        m_input.clear();
        setError(PortErrorNumber::DeviceLost,
                 QStringLiteral("Das Gerät ist nicht mehr erreichbar (Kabel gezogen?)"));
        return false;
    }
    if (!m_open) {
        if (m_error.number != PortErrorNumber::DeviceLost)
            setError(PortErrorNumber::PortNotOpen, QStringLiteral("Die Schnittstelle ist nicht geöffnet."));
        return false;
    }
    return true;
}

bool MemoryPort::collectDue() const
{
    const QByteArray due = m_core->takeDue(programClock().nowMs());
    m_input += due;
    return !due.isEmpty();
}

void MemoryPort::discardInput()
{
    if (!m_open)
        return;
    // Whatever has reached the line by now is in the input and goes; replies
    // still under way arrive later.
    collectDue();
    m_input.clear();
}

bool MemoryPort::write(const QByteArray &bytes)
{
    if (!checkUsable())
        return false;
    if (m_failWrites != 0) {
        if (m_failWrites > 0)
            --m_failWrites;
        setError(PortErrorNumber::WriteFailed, QStringLiteral("Fehler beim Schreiben auf die Schnittstelle"));
        return false;
    }
    m_written += bytes;
    m_core->receive(bytes, programClock().nowMs());
    return true;
}

bool MemoryPort::waitForBytesWritten(int)
{
    // Nothing is ever held back on the way out.
    return checkUsable();
}

qint64 MemoryPort::bytesAvailable() const
{
    if (!checkUsable())
        return 0;
    collectDue();
    return m_input.size();
}

bool MemoryPort::waitForReadyRead(int ms)
{
    if (!checkUsable())
        return false;
    if (collectDue())
        return true;

    const qint64 now = programClock().nowMs();
    const qint64 deadline = now + qMax(0, ms);
    const std::optional<qint64> due = m_core->nextDueMs();
    const qint64 until = due && *due <= deadline ? *due : deadline;

    if (auto *manual = dynamic_cast<ManualClock *>(&programClock()))
        manual->advanceTo(until);
    else if (until > now)
        QThread::msleep(quint64(programClock().portWaitMs(until - now)));
    return collectDue();
}

QByteArray MemoryPort::readAll()
{
    if (!checkUsable())
        return QByteArray();
    collectDue();
    return std::exchange(m_input, QByteArray());
}
