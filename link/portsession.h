#pragma once

#include "link/port.h"

#include <QString>

// The program talks to its controllers through one port at a time. Which one
// is meant is the current port name, "COM" + number or "NUL"; "NUL" (in any
// case) is simulation mode, in which nothing is ever sent.

QString currentPortName();
void setCurrentPortName(const QString &name);
bool isSimulationMode();

// The port object every exchange goes through: the port of the program's
// line (controllerLine()). It belongs to the main window (or to a test);
// nullptr when none is installed.
ControllerPort *controllerPort();
void setControllerPort(ControllerPort *port);

// The number in a port name: the value of the two characters after the first
// three ("COM7" gives 7, "COM123" gives 12); 0 when they hold no number.
int portNumberFromName(const QString &name);

// The device that stands for "COM" + number: the value of key "COM" + number
// in the settings section "Ports", or else COM1-8 = /dev/ttyACM0-7,
// COM9-16 = /dev/ttyUSB0-7, COM17-24 = /dev/ttyS0-7. Empty for other numbers.
QString devicePathForPortNumber(int number);
QString defaultDevicePath(int number);

// Closes any open port, then opens the port for name at 115200,n,8,1 and
// discards its input. On failure shows "Fehler beim Zugriff auf ..." unless
// quiet, and answers false with the port closed.
bool OpenPort(const QString &name, bool quiet);
// Closes the port if it is open; never fails, never shows anything.
void ClosePort();

// The message OpenPort shows for a failure to open device, the device that
// name stands for (empty when it stands for none).
QString openErrorText(const QString &name, const PortError &error, const QString &device);
// What error 8002 says of a device that is not there.
QString missingDeviceText(const QString &device);
// The text a box gives after an error's number: for 68 and 8002 the fixed
// one, naming the missing device where it is known.
QString portErrorDescription(const PortError &error, const QString &device);

// The error of an exchange through a port that is not open.
PortError portNotOpenError();
