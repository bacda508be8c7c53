#include "locolist/clsloco.h"

#include "link/commands.h"

QString clsLoco::keyFor(int number)
{
    return QStringLiteral("L") + QStringLiteral("%1").arg(number, 5, 10, QLatin1Char('0'));
}

clsLoco clsLoco::fromFlags(int number, quint8 flags)
{
    clsLoco loco;
    loco.Number = qint16(number);
    loco.Key = keyFor(number);
    loco.SpeedStepMode = LocoFlags::speedStepCode(flags);
    loco.Direction = LocoFlags::isForward(flags) ? 1 : 0;
    return loco;
}
