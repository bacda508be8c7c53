#pragma once

#include "link/frame.h"

#include <QString>

// Board layouts as the settings dialog numbers them.
namespace ControllerLayout {
constexpr qint32 Undefined = 0;
constexpr qint32 Mega = 1;
constexpr qint32 Uno = 2;
} // namespace ControllerLayout

// What the controller settings dialog knows about one controller. The values
// stay from one opening of the dialog to the next; a read that fails part way
// leaves what it did not reach as it was.
struct ControllerSettingsData
{
    int ControllerID = 0;
    bool AllowHWNotstop = false;
    bool FirstActivation = false;
    bool HWNotstopAvailable = false;
    bool HWNotstopOn = false;
    qint32 ControllerType = ControllerLayout::Undefined;
    qint16 OperationPin = 0;
    qint16 OperationCircuit = 0;
    qint16 SensingChannelAPin = 0;
    qint16 ProgrammingPin = 0;
    qint16 ProgrammingCircuit = 0;
    qint16 SensingChannelBPin = 0;
    qint16 FirmwareMajor = 0;
    qint16 FirmwareMinor = 0;
    qint16 FirmwareBuild = 0;
};

// The data the dialog shows; one set for the whole program.
ControllerSettingsData &controllerSettingsData();

// Every request of the dialog is a window exchange (two attempts, the
// failure box, 2 seconds).
// Reads version, status, operating track pins and programming track pins, in
// that order, through buffer. Stops at the first request without a valid
// reply and answers false; what was read until then is kept in data.
// A controller number that does not fit into a byte sends nothing.
bool GetControllerSettings(ControllerSettingsData &data, CommandBuffer &buffer);

// Writes the emergency stop setting (only when the controller has the input)
// and the operating, programming and monitoring pins. Every write is sent,
// whatever the earlier ones gave; the answer is true only when each of them
// got a valid reply.
bool SetControllerSettings(const ControllerSettingsData &data, CommandBuffer &buffer);

// Major "." minor "." build.
QString GetFirmwareVersion(const ControllerSettingsData &data);

// "Mega", "Uno" or "Undefiniert".
QString controllerTypeText(qint32 controllerType);

// Whether the dialog offers the emergency stop check box instead of "n/v".
bool offersHWNotstopCheckBox(const ControllerSettingsData &data);

// A pin as the dialog shows it: "n/a" for 0, the analog inputs of a Mega
// (54 to 69) as "A0" to "A15", those of an Uno (14 and 15) as "A0" and "A1",
// any other pin as its number.
QString NumberToPINFormat(qint16 myPin, qint32 controllerType);

// An analog input written "A" + number back to its pin: + 54 on a Mega,
// + 14 on an Uno. 0 for any other text and for an undefined layout.
qint16 PINFormatToNumber(const QString &text, qint32 controllerType);

// The pin a digital pin field holds: its leading number, rounded to a whole
// byte (the text 2.5 gives 2).
qint16 pinFieldNumber(const QString &text);
