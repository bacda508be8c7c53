#include "locolist/lococonfig.h"

#include "common/rules.h"
#include "link/commands.h"
#include "link/exchange.h"

namespace LocoConfig {

namespace {

constexpr qint16 Attempts = 2;
constexpr qint16 TimeoutSeconds = 2;

bool exchange(CommandBuffer &buffer, quint8 controller, quint8 command, quint8 p1, quint8 p2,
              quint8 p3)
{
    buffer = CommandBuffer{controller, command, p1, p2, p3};
    return SendCommand(buffer, Attempts, true, TimeoutSeconds);
}

} // namespace

void insertInNumberOrder(QList<clsLoco> &list, const clsLoco &loco)
{
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list.at(i).Number > loco.Number) {
            list.insert(i, loco);
            return;
        }
    }
    list.append(loco);
}

ReadResult readLocoList(CommandBuffer &buffer, quint8 controller)
{
    ReadResult result;
    bool answered = exchange(buffer, controller, Command::ReadLocoEntry, LocoWalk::First, 0, 0);
    // A list can hold no more entries than there are loco numbers; a
    // controller that never ends its walk must not hang the window.
    while (answered && buffer.p1 != NothingToReport && result.locos.size() < MaxLocoNumber) {
        insertInNumberOrder(result.locos,
                            clsLoco::fromFlags(joinBytes(buffer.p2, buffer.p3), buffer.p1));
        answered = exchange(buffer, controller, Command::ReadLocoEntry, LocoWalk::Next, 0, 0);
    }
    result.complete = answered;
    return result;
}

bool writeLocoEntry(CommandBuffer &buffer, quint8 controller, int number, quint8 flags)
{
    if (!isLocoNumber(number))
        return false;
    return exchange(buffer, controller, Command::WriteLocoEntry, flags, lowByte(number),
                    highByte(number));
}

bool restartController(CommandBuffer &buffer, quint8 controller)
{
    return exchange(buffer, controller, Command::SetParameter, 0, Parameter::Restart, 0);
}

QString speedStepText(int speedStepMode)
{
    QString steps;
    switch (speedStepMode) {
    case LocoFlags::Steps14: steps = QStringLiteral("14"); break;
    case LocoFlags::Steps28: steps = QStringLiteral("28"); break;
    case LocoFlags::Steps126: steps = QStringLiteral("126"); break;
    default: steps = QStringLiteral("undef."); break;
    }
    return steps + QStringLiteral(" Fahrstufen");
}

QString directionText(int direction)
{
    QString text = QStringLiteral("Fahrtrichtung: ");
    if (direction == 1)
        text += QStringLiteral("vorwärts");
    else if (direction == 0)
        text += QStringLiteral("rückwärts");
    return text;
}

LocoNodes treeNodes(const clsLoco &loco)
{
    const QString key = QString::number(loco.Number) + QLatin1Char('#');
    return {{key, QString::number(loco.Number)},
            {key + QStringLiteral("fs"), speedStepText(loco.SpeedStepMode)},
            {key + QStringLiteral("fr"), directionText(loco.Direction)}};
}

int locoNumberOfNodeKey(const QString &key)
{
    bool ok = false;
    const int number = sysListEntry(1, key, QStringLiteral("#")).toInt(&ok);
    return ok ? number : 0;
}

quint8 speedStepCodeOfKey(const QString &key)
{
    const QString steps = speedStepsOfKey(key);
    if (steps == QLatin1String("28"))
        return LocoFlags::Steps28;
    if (steps == QLatin1String("126"))
        return LocoFlags::Steps126;
    return LocoFlags::Steps14;
}

QString speedStepsOfKey(const QString &key)
{
    return key.mid(3);
}

} // namespace LocoConfig
