#include "link/locostate.h"

#include "link/commands.h"

#include <algorithm>

LocoState::LocoState(QObject *parent)
    : QObject(parent)
{
}

LocoSnapshot LocoState::loco(int number) const
{
    return m_locos.value(number);
}

QList<int> LocoState::knownLocos() const
{
    QList<int> numbers = m_locos.keys();
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

void LocoState::update(int number, const LocoSnapshot &snapshot)
{
    const LocoSnapshot before = loco(number);
    m_locos.insert(number, snapshot);
    if (before != snapshot)
        emit locoChanged(number, before, snapshot);
}

void LocoState::setSpeed(int number, quint8 speed)
{
    LocoSnapshot snapshot = loco(number);
    snapshot.speed = speed;
    update(number, snapshot);
}

void LocoState::setDirection(int number, bool forward)
{
    LocoSnapshot snapshot = loco(number);
    snapshot.forward = forward;
    update(number, snapshot);
}

void LocoState::setFunction(int number, int function, bool on)
{
    if (!Limits::isFunction(function))
        return;
    LocoSnapshot snapshot = loco(number);
    const quint16 bit = quint16(1u << function);
    snapshot.functions =
        on ? quint16(snapshot.functions | bit) : quint16(snapshot.functions & ~bit);
    update(number, snapshot);
}

void LocoState::stopAll()
{
    for (int number : knownLocos())
        setSpeed(number, 0);
}

void LocoState::setController(std::optional<quint8> controller)
{
    if (m_controller == controller)
        return;
    m_controller = controller;
    emit controllerChanged();
}
