#pragma once

#include <QByteArray>
#include <QString>

class QThread;

// An error of the serial layer: the number the user is shown and a German
// description that says what to do about it.
struct PortError
{
    int number = 0;
    QString description;
};

// Error numbers of the serial layer.
namespace PortErrorNumber {
constexpr int None = 0;
constexpr int DeviceNotAvailable = 68;  // the device exists but cannot be used
constexpr int NoSuchPort = 8002;        // no device behind the name
constexpr int PortInUse = 8005;         // another program holds the device
constexpr int PermissionDenied = 8010;  // the user may not open the device
constexpr int PortNotOpen = 8012;       // read or write on a closed port
constexpr int LineSettings = 8015;      // 115200,n,8,1 could not be applied
constexpr int WriteFailed = 8020;
constexpr int ReadFailed = 8021;
constexpr int DeviceLost = 8022;        // the device went away while open
} // namespace PortErrorNumber

// The byte pipe to the controller. One implementation sits on QSerialPort, one
// talks to the virtual command station in memory.
//
// The exchange waits through this interface: waitForBytesWritten and
// waitForReadyRead block without processing events, on the line's own
// thread (see ControllerLine). Implementations
// close themselves on a fatal device error, so that a caller polling isOpen()
// never loops on a dead device.
class ControllerPort
{
public:
    virtual ~ControllerPort() = default;

    // Opens the device at 115200 baud, 8 data bits, no parity, 1 stop bit, raw,
    // and discards whatever waits in its input. False leaves the port closed
    // and lastError() describing why.
    virtual bool open(const QString &devicePath) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual QString devicePath() const = 0;
    virtual PortError lastError() const = 0;

    virtual void discardInput() = 0;
    virtual void discardOutput() = 0;
    virtual bool write(const QByteArray &bytes) = 0;
    virtual qint64 bytesToWrite() const = 0;
    virtual bool waitForBytesWritten(int ms) = 0;
    virtual qint64 bytesAvailable() const = 0;
    virtual bool waitForReadyRead(int ms) = 0;
    virtual QByteArray readAll() = 0;

    // The port is used from thread from now on (the line's worker, or back
    // to the window's); a port with thread-bound parts moves them. Called
    // on the thread the port is used from until then.
    virtual void setThread(QThread *thread) { Q_UNUSED(thread); }
};
