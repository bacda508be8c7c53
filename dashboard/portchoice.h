#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The choices of the port selection dialog, without the dialog.

// Entry 0 is simulation mode, entries 1 to 24 are "COM1" to "COM24".
constexpr int PortEntryCount = 25;
constexpr int SimulationEntry = 0;
constexpr int NoEntry = -1;
inline const QString SimulationEntryText = QStringLiteral("<Simulationsmodus>");
QStringList portEntryTexts();

// The entry selected when the dialog opens. savedName is the stored choice,
// currentName the port the program uses now: the stored choice counts as a
// port when it reads "COM" with one or two digits (in any case) and the
// number in the current name is at most 24. A port name that equals no entry
// (a leading zero, say) selects nothing.
int initialPortEntry(const QString &currentName, const QString &savedName);

// A serial device the system reports.
struct SerialDeviceInfo
{
    QString systemLocation; // e.g. /dev/ttyACM0
    QString description;
    QString manufacturer;
    QString serialNumber;
};

// The devices present now, from the serial port enumeration.
QList<SerialDeviceInfo> presentSerialDevices();

// Tool-tip of the list entry for port number (0 for simulation mode): the
// device it stands for and, when that device is present, what it is.
// Device paths are compared after resolving links, so that a
// /dev/serial/by-id name finds its device.
QString portEntryToolTip(int number, const QString &devicePath,
                         const QList<SerialDeviceInfo> &present);
