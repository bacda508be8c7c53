#pragma once

#include "link/port.h"

#include <QObject>
#include <QSerialPort>

// What the system says about a device that could not be opened. It decides
// which advice the error text gives.
struct DeviceAccess
{
    bool exists = false;
    bool userMayOpen = false;         // this process may read and write it
    QString group;                    // the group that owns it
    bool groupMayReadWrite = false;   // that group, not root's, may read and write it
    bool groupPending = false;        // the user is listed in that group, but this
                                      // login does not have it yet
    QString loginName;                // the user's login name, ready for a shell
    bool sudoUsable = false;          // sudo is there and lets this user in
    bool modemManagerRunning = false;

    static DeviceAccess of(const QString &devicePath);
};

// Manual sections the error texts point to.
inline const QString ModemManagerSection =
    QStringLiteral("ModemManager: wenn ein anderes Programm die Schnittstelle belegt");
inline const QString RootOnlySection = QStringLiteral("Geräte, die nur der Administrator öffnen darf");

// The controller port on a real serial device (or a pseudo-terminal).
//
// A read, write or resource error closes the port: Qt 6.4 would otherwise
// report the error of an unplugged device again and again.
class SerialControllerPort final : public QObject, public ControllerPort
{
    Q_OBJECT

public:
    explicit SerialControllerPort(QObject *parent = nullptr);
    ~SerialControllerPort() override;

    bool open(const QString &devicePath) override;
    void close() override;
    bool isOpen() const override;
    QString devicePath() const override;
    PortError lastError() const override;

    void discardInput() override;
    void discardOutput() override;
    bool write(const QByteArray &bytes) override;
    qint64 bytesToWrite() const override;
    bool waitForBytesWritten(int ms) override;
    qint64 bytesAvailable() const override;
    bool waitForReadyRead(int ms) override;
    QByteArray readAll() override;
    void setThread(QThread *thread) override;

    // The German error for an open that failed with error on devicePath.
    static PortError openError(QSerialPort::SerialPortError error, const QString &devicePath);
    static PortError openError(QSerialPort::SerialPortError error, const QString &devicePath,
                               const DeviceAccess &access);
    // The German error for a failure of an open port.
    static PortError ioError(QSerialPort::SerialPortError error);

private:
    void handleError(QSerialPort::SerialPortError error);
    void closeIfFailed();

    QSerialPort m_port;
    QString m_devicePath;
    PortError m_lastError;
    bool m_failed = false;
    int m_callDepth = 0;
};
