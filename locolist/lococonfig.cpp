#include "locolist/lococonfig.h"

#include "common/rules.h"
#include "common/lineboxes.h"
#include "link/commands.h"
#include "link/exchange.h"

namespace LocoConfig {

namespace {

std::optional<CommandBuffer> exchange(quint8 controller, quint8 command, quint8 p1, quint8 p2,
                                      quint8 p3)
{
    return RunWindowExchange(CommandBuffer{controller, command, p1, p2, p3}, Exchange::Window).reply;
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

ReadResult readLocoList(quint8 controller)
{
    ReadResult result;
    result.complete = walkLocoList(controller, [&result](int number, quint8 flags) {
        insertInNumberOrder(result.locos, clsLoco::fromFlags(number, flags));
    });
    return result;
}

bool walkLocoList(quint8 controller,
                  const std::function<void(int number, quint8 flags)> &entry)
{
    auto reply = exchange(controller, Command::ReadLocoEntry, LocoWalk::First, 0, 0);
    int entries = 0;
    // A list can hold no more entries than there are loco numbers; a
    // controller that never ends its walk must not hang the window.
    while (reply && reply->p1 != NothingToReport && entries < Limits::MaxLocoNumber) {
        entry(joinBytes(reply->p2, reply->p3), reply->p1);
        ++entries;
        reply = exchange(controller, Command::ReadLocoEntry, LocoWalk::Next, 0, 0);
    }
    return reply.has_value();
}

bool writeLocoEntry(quint8 controller, int number, quint8 flags)
{
    if (!isLocoNumber(number))
        return false;
    return exchange(controller, Command::WriteLocoEntry, flags, lowByte(number), highByte(number))
        .has_value();
}

bool restartController(quint8 controller)
{
    return exchange(controller, Command::SetParameter, 0, Parameter::Restart, 0)
        .has_value();
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
