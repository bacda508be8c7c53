#include "link/locoframes.h"

#include "link/commands.h"

namespace LocoFrames {

namespace {

CommandBuffer forLoco(quint8 controller, quint8 command, quint8 p1, int loco)
{
    return {controller, command, p1, lowByte(loco), highByte(loco)};
}

} // namespace

CommandBuffer speed(quint8 controller, int loco, quint8 speed)
{
    return forLoco(controller, Command::SetSpeed, speed, loco);
}

CommandBuffer direction(quint8 controller, int loco, bool forward)
{
    return forLoco(controller, Command::SetDirection, forward ? 1 : 0, loco);
}

CommandBuffer function(quint8 controller, int loco, int function, bool on)
{
    return forLoco(controller, on ? Command::FunctionOn : Command::FunctionOff, quint8(function),
                   loco);
}

CommandBuffer stop(quint8 controller, int loco)
{
    return forLoco(controller, Command::StopLoco, 0, loco);
}

CommandBuffer stopAll(quint8 controller)
{
    return {controller, Command::StopLoco, 0, 255, 255};
}

CommandBuffer accessory(quint8 controller, int decoderId, int port, bool on)
{
    return {controller, on ? Command::AccessoryOn : Command::AccessoryOff, quint8(port),
            lowByte(decoderId), highByte(decoderId)};
}

CommandBuffer locoEntry(quint8 controller, int loco)
{
    return forLoco(controller, Command::ReadLocoEntry, LocoWalk::SingleLoco, loco);
}

} // namespace LocoFrames
