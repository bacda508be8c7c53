#include "link/portsession.h"

#include "common/errors.h"
#include "common/program.h"
#include "common/settings.h"
#include "link/controllerline.h"

namespace {

QString portName = QStringLiteral("NUL");

const QString DeviceNotAvailableText = QStringLiteral("Schnittstelle nicht verfügbar");

} // namespace

QString currentPortName()
{
    return portName;
}

void setCurrentPortName(const QString &name)
{
    portName = name;
    // A port found closed before an exchange is reopened on this device.
    controllerLine().setReopenDevice(devicePathForPortNumber(portNumberFromName(name)));
}

bool isSimulationMode()
{
    return portName.compare(QLatin1String("NUL"), Qt::CaseInsensitive) == 0;
}

ControllerPort *controllerPort()
{
    return controllerLine().port();
}

void setControllerPort(ControllerPort *port)
{
    controllerLine().setPort(port);
}

int portNumberFromName(const QString &name)
{
    // Like reading a number from the front of a text: blanks and a sign are
    // allowed, reading stops at the first character that is no digit.
    const QString digits = name.mid(3, 2).trimmed();
    int value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            break;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

QString defaultDevicePath(int number)
{
    if (number >= 1 && number <= 8)
        return QStringLiteral("/dev/ttyACM%1").arg(number - 1);
    if (number >= 9 && number <= 16)
        return QStringLiteral("/dev/ttyUSB%1").arg(number - 9);
    if (number >= 17 && number <= 24)
        return QStringLiteral("/dev/ttyS%1").arg(number - 17);
    return QString();
}

QString devicePathForPortNumber(int number)
{
    if (number < 1)
        return QString();
    const QString mapped =
        sysGetSetting(QStringLiteral("COM") + QString::number(number), QString(), PortsSection);
    return mapped.trimmed().isEmpty() ? defaultDevicePath(number) : mapped.trimmed();
}

QString missingDeviceText(const QString &device)
{
    // A board that is not plugged in is by far the most common reason.
    return DeviceNotAvailableText + QStringLiteral(": ") + device
           + QStringLiteral(" ist nicht vorhanden. Ist der Controller eingesteckt?");
}

QString portErrorDescription(const PortError &error, const QString &device)
{
    if (error.number == PortErrorNumber::DeviceNotAvailable)
        return DeviceNotAvailableText;
    if (error.number == PortErrorNumber::NoSuchPort)
        return device.isEmpty() ? DeviceNotAvailableText : missingDeviceText(device);
    return error.description;
}

QString openErrorText(const QString &name, const PortError &error, const QString &device)
{
    return QStringLiteral("Fehler beim Zugriff auf ") + name + CrLf + CrLf
           + QStringLiteral("(Fehler ") + QString::number(error.number) + QStringLiteral(" - ")
           + portErrorDescription(error, device) + QStringLiteral(")");
}

PortError portNotOpenError()
{
    return {PortErrorNumber::PortNotOpen, QStringLiteral("Die Schnittstelle ist nicht geöffnet.")};
}

bool OpenPort(const QString &name, bool quiet)
{
    const QString device = devicePathForPortNumber(portNumberFromName(name));
    // The line closes the port first and keeps the device for a quiet
    // reopen before a later exchange.
    const PortError error = controllerLine().open(device);
    if (error.number == PortErrorNumber::None)
        return true;
    if (!quiet)
        sysShowError(openErrorText(name, error, device), false, false, QString());
    return false;
}

void ClosePort()
{
    controllerLine().close();
}
