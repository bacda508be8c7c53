#include "link/serialport.h"

#include "link/linklog.h"

#include <QFileInfo>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Group that owns the device file, usually "dialout".
QString owningGroup(const QString &devicePath)
{
    struct stat info {};
    if (::stat(QFile::encodeName(devicePath).constData(), &info) != 0)
        return QStringLiteral("dialout");
    if (const group *entry = ::getgrgid(info.st_gid))
        return QString::fromLocal8Bit(entry->gr_name);
    return QString::number(info.st_gid);
}

bool userMayOpen(const QString &devicePath)
{
    return ::access(QFile::encodeName(devicePath).constData(), R_OK | W_OK) == 0;
}

// Counts the nesting of our own calls into QSerialPort, so that an error
// reported from inside one of them closes the port after it has returned.
class CallGuard
{
public:
    explicit CallGuard(int &depth) : m_depth(depth) { ++m_depth; }
    ~CallGuard() { --m_depth; }

private:
    int &m_depth;
};

} // namespace

SerialControllerPort::SerialControllerPort(QObject *parent)
    : QObject(parent)
{
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialControllerPort::handleError);
}

SerialControllerPort::~SerialControllerPort() = default;

PortError SerialControllerPort::openError(QSerialPort::SerialPortError error,
                                          const QString &devicePath)
{
    using namespace PortErrorNumber;
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return {NoSuchPort, QStringLiteral("Schnittstelle nicht verfügbar")};
    case QSerialPort::PermissionError:
        if (QFileInfo::exists(devicePath) && !userMayOpen(devicePath)) {
            const QString group = owningGroup(devicePath);
            return {PermissionDenied,
                    QStringLiteral("Keine Berechtigung für %1. Ihr Benutzer muss Mitglied der "
                                   "Gruppe \"%2\" sein (sudo usermod -aG %2 $USER, danach neu "
                                   "anmelden)")
                        .arg(devicePath, group)};
        }
        return {PortInUse, QStringLiteral("%1 wird bereits von einem anderen Programm verwendet")
                               .arg(devicePath)};
    case QSerialPort::OpenError:
        return {PortInUse, QStringLiteral("%1 ist bereits geöffnet").arg(devicePath)};
    case QSerialPort::UnsupportedOperationError:
        return {LineSettings,
                QStringLiteral("Die Einstellungen 115200,n,8,1 konnten für %1 nicht gesetzt werden")
                    .arg(devicePath)};
    default:
        return {DeviceNotAvailable, QStringLiteral("Schnittstelle nicht verfügbar")};
    }
}

PortError SerialControllerPort::ioError(QSerialPort::SerialPortError error)
{
    using namespace PortErrorNumber;
    switch (error) {
    case QSerialPort::WriteError:
        return {WriteFailed, QStringLiteral("Fehler beim Schreiben auf die Schnittstelle")};
    case QSerialPort::ReadError:
        return {ReadFailed, QStringLiteral("Fehler beim Lesen von der Schnittstelle. Ist das Gerät noch angeschlossen?")};
    case QSerialPort::ResourceError:
        return {DeviceLost, QStringLiteral("Das Gerät ist nicht mehr erreichbar (Kabel gezogen?)")};
    case QSerialPort::NotOpenError:
        return {PortNotOpen, QStringLiteral("Die Schnittstelle ist nicht geöffnet.")};
    default:
        return {DeviceNotAvailable, QStringLiteral("Schnittstelle nicht verfügbar")};
    }
}

bool SerialControllerPort::open(const QString &devicePath)
{
    close();
    m_devicePath = devicePath;
    m_lastError = {};
    m_failed = false;
    if (!QFileInfo::exists(devicePath)) {
        m_lastError = openError(QSerialPort::DeviceNotFoundError, devicePath);
        return false;
    }
    m_port.setPortName(devicePath);
    m_port.setBaudRate(QSerialPort::Baud115200);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    {
        CallGuard guard(m_callDepth);
        if (!m_port.open(QIODevice::ReadWrite)) {
            m_lastError = openError(m_port.error(), devicePath);
            m_port.clearError();
            m_failed = false;
            qCDebug(kzLink) << "open failed" << devicePath << m_lastError.number;
            return false;
        }
        m_port.clear();
    }
    closeIfFailed();
    return m_port.isOpen();
}

void SerialControllerPort::close()
{
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
}

bool SerialControllerPort::isOpen() const
{
    return m_port.isOpen();
}

QString SerialControllerPort::devicePath() const
{
    return m_devicePath;
}

PortError SerialControllerPort::lastError() const
{
    return m_lastError;
}

void SerialControllerPort::discardInput()
{
    if (!m_port.isOpen())
        return;
    CallGuard guard(m_callDepth);
    m_port.clear(QSerialPort::Input);
    m_port.readAll();
}

void SerialControllerPort::discardOutput()
{
    if (!m_port.isOpen())
        return;
    {
        CallGuard guard(m_callDepth);
        m_port.clear(QSerialPort::Output);
    }
    closeIfFailed();
}

bool SerialControllerPort::write(const QByteArray &bytes)
{
    if (!m_port.isOpen()) {
        m_lastError = ioError(QSerialPort::NotOpenError);
        return false;
    }
    qint64 written = 0;
    {
        CallGuard guard(m_callDepth);
        written = m_port.write(bytes);
    }
    closeIfFailed();
    if (written != bytes.size()) {
        if (m_lastError.number == PortErrorNumber::None)
            m_lastError = ioError(QSerialPort::WriteError);
        return false;
    }
    return m_port.isOpen();
}

qint64 SerialControllerPort::bytesToWrite() const
{
    return m_port.isOpen() ? m_port.bytesToWrite() : 0;
}

bool SerialControllerPort::waitForBytesWritten(int ms)
{
    if (!m_port.isOpen())
        return false;
    bool written = false;
    {
        CallGuard guard(m_callDepth);
        written = m_port.waitForBytesWritten(ms);
    }
    closeIfFailed();
    return written && m_port.isOpen();
}

qint64 SerialControllerPort::bytesAvailable() const
{
    return m_port.isOpen() ? m_port.bytesAvailable() : 0;
}

bool SerialControllerPort::waitForReadyRead(int ms)
{
    if (!m_port.isOpen())
        return false;
    bool ready = false;
    {
        CallGuard guard(m_callDepth);
        ready = m_port.waitForReadyRead(ms);
    }
    closeIfFailed();
    return ready && m_port.isOpen();
}

QByteArray SerialControllerPort::readAll()
{
    if (!m_port.isOpen())
        return {};
    QByteArray bytes;
    {
        CallGuard guard(m_callDepth);
        bytes = m_port.readAll();
    }
    closeIfFailed();
    return bytes;
}

void SerialControllerPort::handleError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::WriteError
        && error != QSerialPort::ResourceError)
        return;
    if (m_failed)
        return;
    m_failed = true;
    m_lastError = ioError(error);
    qCWarning(kzLink) << "port error" << m_devicePath << m_lastError.number;
    if (m_callDepth == 0) {
        // Reported from the event loop, inside QSerialPort's own notifier:
        // close as soon as control is back with us.
        QMetaObject::invokeMethod(this, &SerialControllerPort::closeIfFailed, Qt::QueuedConnection);
    }
}

void SerialControllerPort::closeIfFailed()
{
    if (!m_failed)
        return;
    m_failed = false;
    close();
}
