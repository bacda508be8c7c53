#include "dashboard/portchoice.h"

#include "link/portsession.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

namespace {

QString resolved(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

} // namespace

QStringList portEntryTexts()
{
    QStringList texts{SimulationEntryText};
    for (int n = 1; n <= 24; ++n)
        texts.append(QStringLiteral("COM") + QString::number(n));
    return texts;
}

int initialPortEntry(const QString &currentName, const QString &savedName)
{
    static const QRegularExpression portPattern(QStringLiteral("^COM[0-9]{1,2}$"),
                                                QRegularExpression::CaseInsensitiveOption);
    const bool isPort =
        portNumberFromName(currentName) <= 24 && portPattern.match(savedName).hasMatch();
    if (!isPort)
        return SimulationEntry;
    const QStringList texts = portEntryTexts();
    for (int entry = 1; entry < texts.size(); ++entry) {
        if (texts.at(entry).compare(savedName, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return NoEntry;
}

QList<SerialDeviceInfo> presentSerialDevices()
{
    QList<SerialDeviceInfo> devices;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports) {
        devices.append({port.systemLocation(), port.description(), port.manufacturer(),
                        port.serialNumber()});
    }
    return devices;
}

QString portEntryToolTip(int number, const QString &devicePath,
                         const QList<SerialDeviceInfo> &present)
{
    if (number <= 0)
        return QStringLiteral("Simulation: es wird nichts an einen Controller gesendet");
    if (devicePath.isEmpty())
        return QStringLiteral("Keinem Gerät zugeordnet");

    QString tip = QStringLiteral("Gerät: ") + devicePath;
    const QString target = resolved(devicePath);
    for (const SerialDeviceInfo &device : present) {
        if (device.systemLocation != devicePath && resolved(device.systemLocation) != target)
            continue;
        QStringList details;
        if (!device.description.isEmpty())
            details.append(device.description);
        if (!device.manufacturer.isEmpty())
            details.append(QStringLiteral("Hersteller: ") + device.manufacturer);
        if (!device.serialNumber.isEmpty())
            details.append(QStringLiteral("Seriennummer: ") + device.serialNumber);
        if (details.isEmpty())
            details.append(QStringLiteral("vorhanden"));
        return tip + u'\n' + details.join(u'\n');
    }
    return tip + QStringLiteral("\nnicht angeschlossen");
}
