#pragma once

#include <QtGlobal>

// Command codes of the controller protocol. The names are the constants the
// windows fill into the command buffer.
namespace Command {
constexpr quint8 SetParameter = 1;
constexpr quint8 QueryController = 2;
constexpr quint8 ReadLocoEntry = 20;
constexpr quint8 WriteLocoEntry = 21;
constexpr quint8 SetDirection = 22;
constexpr quint8 SetSpeed = 23;
constexpr quint8 StopLoco = 24;
constexpr quint8 AccessoryOn = 25;
constexpr quint8 AccessoryOff = 26;
constexpr quint8 FunctionOn = 27;
constexpr quint8 FunctionOff = 28;
constexpr quint8 WriteCV = 30;
constexpr quint8 WriteCVBit = 31;
constexpr quint8 WriteRegister = 32;
constexpr quint8 VerifyCV = 33;
constexpr quint8 VerifyCVBit = 34;
constexpr quint8 VerifyRegister = 35;
} // namespace Command

// P2 of SetParameter: which controller parameter is set.
namespace Parameter {
constexpr quint8 Restart = 3;            // take a changed loco list into use
constexpr quint8 HardwareStopInput = 5;  // P3 1 = on, 0 = off
constexpr quint8 TrackOutput = 10;       // P3 see TrackMode
constexpr quint8 OperatingTrackPins = 20; // P3 output pin, P1 load-current pin
constexpr quint8 ProgrammingTrackPins = 21;
constexpr quint8 MonitoringPins = 22;    // P3 operating track, P1 programming track
} // namespace Parameter

// P3 of SetParameter TrackOutput.
namespace TrackMode {
constexpr quint8 Off = 0;
constexpr quint8 PowerOn = 1;
constexpr quint8 Programming = 2;
} // namespace TrackMode

// P2 of QueryController: which block of controller data is read.
namespace Selector {
constexpr quint8 Status = 0;
constexpr quint8 ProgrammingTrackPins = 251;
constexpr quint8 OperatingTrackPins = 252;
constexpr quint8 Version = 253;
} // namespace Selector

// P1 of ReadLocoEntry.
namespace LocoWalk {
constexpr quint8 SingleLoco = 0;
constexpr quint8 Next = 254;
constexpr quint8 First = 255;
} // namespace LocoWalk

// A reply parameter of 255: nothing to report (no entry, unknown loco, the
// decoder did not acknowledge).
constexpr quint8 NothingToReport = 255;

// The ranges the controller accepts. Loco numbers are the DCC addresses (0 is
// the broadcast address and never a loco); decoder ids name the accessory
// decoders; functions are the light (0) and the keys F1 to F12.
namespace Limits {
constexpr int MinLocoNumber = 1;
constexpr int MaxLocoNumber = 10239;
constexpr int MinDecoderId = 1;
constexpr int MaxDecoderId = 511;
constexpr int MinFunction = 0;
constexpr int MaxFunction = 12;

constexpr bool isLocoNumber(int number)
{
    return number >= MinLocoNumber && number <= MaxLocoNumber;
}
constexpr bool isDecoderId(int id) { return id >= MinDecoderId && id <= MaxDecoderId; }
constexpr bool isFunction(int number) { return number >= MinFunction && number <= MaxFunction; }
} // namespace Limits

// Loco numbers, decoder ids and CV numbers travel as low byte in P2 and high
// byte in P3.
constexpr quint8 lowByte(int number) { return quint8(number % 256); }
constexpr quint8 highByte(int number) { return quint8(number / 256); }
constexpr int joinBytes(quint8 low, quint8 high) { return high * 256 + low; }

// The loco flags byte: speed-step code in bits 0-1, direction in bit 7.
namespace LocoFlags {
constexpr quint8 StepsUndefined = 0;
constexpr quint8 Steps14 = 1;
constexpr quint8 Steps28 = 2;
constexpr quint8 Steps126 = 3;
constexpr quint8 ForwardBit = 0x80;

constexpr quint8 speedStepCode(quint8 flags) { return flags & 0x03; }
constexpr bool isForward(quint8 flags) { return (flags & ForwardBit) != 0; }
constexpr quint8 make(quint8 stepCode, bool forward)
{
    return quint8((stepCode & 0x03) | (forward ? ForwardBit : 0));
}
// 14, 28 or 126 for the codes 1 to 3, 0 for undefined.
constexpr int speedSteps(quint8 flags)
{
    switch (speedStepCode(flags)) {
    case Steps14: return 14;
    case Steps28: return 28;
    case Steps126: return 126;
    default: return 0;
    }
}
} // namespace LocoFlags

// P1 of WriteCVBit and VerifyCVBit: bit value in bit 3, bit position 0-7 in
// bits 0-2 (CV 29 bit 5 = 1 is 13, bit 5 = 0 is 5).
constexpr quint8 bitByte(int position, int value)
{
    return quint8((value ? 8 : 0) + (position & 7));
}
constexpr int bitBytePosition(quint8 bitByte) { return bitByte & 7; }
constexpr int bitByteValue(quint8 bitByte) { return (bitByte >> 3) & 1; }

// Board layout as the status flags report it.
enum class BoardLayout { Unknown, Uno, Mega };

// Reply P1 of the status query.
struct StatusFlags
{
    quint8 bits = 0;

    constexpr bool hasHardwareStopInput() const { return bits & 0x01; }
    constexpr bool hardwareStopInputOn() const { return bits & 0x02; }
    // Bit 3 ("Uno") wins over bit 4 ("Mega").
    constexpr BoardLayout layout() const
    {
        if (bits & 0x08)
            return BoardLayout::Uno;
        if (bits & 0x10)
            return BoardLayout::Mega;
        return BoardLayout::Unknown;
    }
    constexpr bool trackPowerOn() const { return bits & 0x20; }
};

namespace StatusBits {
constexpr quint8 HardwareStopInput = 0x01;
constexpr quint8 HardwareStopOn = 0x02;
constexpr quint8 Uno = 0x08;
constexpr quint8 Mega = 0x10;
constexpr quint8 TrackPower = 0x20;
} // namespace StatusBits
