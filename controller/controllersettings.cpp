#include "controller/controllersettings.h"

#include "common/rules.h"
#include "common/lineboxes.h"
#include "link/commands.h"
#include "link/exchange.h"

#include <cmath>

namespace {

constexpr qint16 MegaFirstAnalogPin = 54;
constexpr qint16 UnoFirstAnalogPin = 14;
constexpr int MegaAnalogInputs = 16;
constexpr int UnoAnalogInputs = 2;

bool fitsControllerByte(int id)
{
    return id >= 0 && id <= 255;
}

CommandBuffer request(const ControllerSettingsData &data, quint8 command, quint8 p1, quint8 p2,
                      quint8 p3)
{
    CommandBuffer buffer;
    buffer.controller = quint8(data.ControllerID);
    buffer.command = command;
    buffer.p1 = p1;
    buffer.p2 = p2;
    buffer.p3 = p3;
    return buffer;
}

// The buffer keeps the last request, and its reply when one came; only the
// reply handed back is read.
std::optional<CommandBuffer> exchange(CommandBuffer &buffer)
{
    const ExchangeResult result = RunWindowExchange(buffer, Exchange::Window);
    if (result.reply)
        buffer = *result.reply;
    return result.reply;
}

std::optional<CommandBuffer> query(ControllerSettingsData &data, CommandBuffer &buffer,
                                   quint8 selector)
{
    buffer = request(data, Command::QueryController, 0, selector, 0);
    return exchange(buffer);
}

// Pins travel as single bytes.
quint8 pinByte(qint16 pin)
{
    return quint8(qBound<qint16>(0, pin, qint16(255)));
}

bool setParameter(const ControllerSettingsData &data, CommandBuffer &buffer, quint8 parameter,
                  quint8 p3, quint8 p1)
{
    buffer = request(data, Command::SetParameter, p1, parameter, p3);
    return exchange(buffer).has_value();
}

} // namespace

ControllerSettingsData &controllerSettingsData()
{
    static ControllerSettingsData data;
    return data;
}

bool GetControllerSettings(ControllerSettingsData &data, CommandBuffer &buffer)
{
    if (!fitsControllerByte(data.ControllerID))
        return false;

    const auto version = query(data, buffer, Selector::Version);
    if (!version)
        return false;
    data.FirmwareMajor = version->p2;
    data.FirmwareMinor = version->p3;
    data.FirmwareBuild = version->p1;

    const auto statusReply = query(data, buffer, Selector::Status);
    if (!statusReply)
        return false;
    const StatusFlags status{statusReply->p1};
    switch (status.layout()) {
    case BoardLayout::Uno: data.ControllerType = ControllerLayout::Uno; break;
    case BoardLayout::Mega: data.ControllerType = ControllerLayout::Mega; break;
    case BoardLayout::Unknown: data.ControllerType = ControllerLayout::Undefined; break;
    }
    data.HWNotstopAvailable = status.hasHardwareStopInput();
    data.HWNotstopOn = status.hardwareStopInputOn();

    const auto operating = query(data, buffer, Selector::OperatingTrackPins);
    if (!operating)
        return false;
    data.OperationPin = operating->p2;
    data.OperationCircuit = operating->p3;
    data.SensingChannelAPin = operating->p1;

    const auto programming = query(data, buffer, Selector::ProgrammingTrackPins);
    if (!programming)
        return false;
    data.ProgrammingPin = programming->p2;
    data.ProgrammingCircuit = programming->p3;
    data.SensingChannelBPin = programming->p1;
    return true;
}

bool SetControllerSettings(const ControllerSettingsData &data, CommandBuffer &buffer)
{
    if (!fitsControllerByte(data.ControllerID))
        return false;

    bool allAnswered = true;
    if (data.HWNotstopAvailable) {
        allAnswered &= setParameter(data, buffer, Parameter::HardwareStopInput,
                                    data.HWNotstopOn ? 1 : 0, 0);
    }
    allAnswered &= setParameter(data, buffer, Parameter::OperatingTrackPins,
                                pinByte(data.OperationPin), pinByte(data.OperationCircuit));
    allAnswered &= setParameter(data, buffer, Parameter::ProgrammingTrackPins,
                                pinByte(data.ProgrammingPin), pinByte(data.ProgrammingCircuit));
    allAnswered &= setParameter(data, buffer, Parameter::MonitoringPins,
                                pinByte(data.SensingChannelAPin), pinByte(data.SensingChannelBPin));
    return allAnswered;
}

QString GetFirmwareVersion(const ControllerSettingsData &data)
{
    return QString::number(data.FirmwareMajor) + QLatin1Char('.')
           + QString::number(data.FirmwareMinor) + QLatin1Char('.')
           + QString::number(data.FirmwareBuild);
}

QString controllerTypeText(qint32 controllerType)
{
    switch (controllerType) {
    case ControllerLayout::Mega: return QStringLiteral("Mega");
    case ControllerLayout::Uno: return QStringLiteral("Uno");
    default: return QStringLiteral("Undefiniert");
    }
}

bool offersHWNotstopCheckBox(const ControllerSettingsData &data)
{
    return data.HWNotstopAvailable && !data.AllowHWNotstop;
}

QString NumberToPINFormat(qint16 myPin, qint32 controllerType)
{
    if (myPin == 0)
        return QStringLiteral("n/a");
    if (controllerType == ControllerLayout::Mega && myPin >= MegaFirstAnalogPin
        && myPin < MegaFirstAnalogPin + MegaAnalogInputs)
        return QStringLiteral("A") + QString::number(myPin - MegaFirstAnalogPin);
    if (controllerType == ControllerLayout::Uno && myPin >= UnoFirstAnalogPin
        && myPin < UnoFirstAnalogPin + UnoAnalogInputs)
        return QStringLiteral("A") + QString::number(myPin - UnoFirstAnalogPin);
    return QString::number(myPin);
}

qint16 PINFormatToNumber(const QString &text, qint32 controllerType)
{
    // Blanks around the text are ignored, as the field's rule ignores them:
    // " A7" passes the rule and must not become pin 0.
    const QString pin = text.trimmed();
    if (pin.isEmpty() || pin.at(0).toUpper() != QLatin1Char('A'))
        return 0;
    const auto input = qint16(std::nearbyint(leadingNumber(pin.mid(1, 2))));
    switch (controllerType) {
    case ControllerLayout::Mega: return qint16(input + MegaFirstAnalogPin);
    case ControllerLayout::Uno: return qint16(input + UnoFirstAnalogPin);
    default: return 0;
    }
}

qint16 pinFieldNumber(const QString &text)
{
    return qint16(qBound(0, readWholeNumber(text).value_or(0), 255));
}
