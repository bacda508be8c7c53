#pragma once

#include "throttleserver/throttlesession.h"

#include <QMap>
#include <QStringList>

// A host that answers from a state map and writes every intent into a
// transcript. Like a driver whose controller always answers, it applies the
// loco intents to its states (so that a second key press toggles back); it
// tells no session, that is the script's business.
class ThrottleHostRecorder final : public ThrottleHost
{
public:
    QMap<int, PhoneLoco> states;
    WiThrottle::PowerState power = WiThrottle::PowerState::On;
    bool checked = true;
    QMap<int, int> speedStepsOf;
    QStringList transcript;

    PhoneLoco locoState(int loco) const override { return states.value(loco); }
    WiThrottle::PowerState trackPower() const override { return power; }
    bool controllerChecked() const override { return checked; }
    int speedSteps(int loco) const override { return speedStepsOf.value(loco); }

    void perform(const ThrottleIntentValue &intent) override
    {
        using namespace ThrottleIntent;
        if (const auto *speed = std::get_if<SetSpeed>(&intent)) {
            states[speed->loco].speed = speed->speed;
            record(QStringLiteral("speed %1 %2").arg(speed->loco).arg(speed->speed));
        } else if (const auto *direction = std::get_if<SetDirection>(&intent)) {
            states[direction->loco].forward = direction->forward;
            record(QStringLiteral("direction %1 %2")
                       .arg(direction->loco)
                       .arg(direction->forward ? "forward" : "reverse"));
        } else if (const auto *function = std::get_if<SetFunction>(&intent)) {
            quint32 &bits = states[function->loco].functions;
            bits = function->on ? bits | (1u << function->function)
                                : bits & ~(1u << function->function);
            record(QStringLiteral("function %1 F%2 %3")
                       .arg(function->loco)
                       .arg(function->function)
                       .arg(function->on ? "on" : "off"));
        } else if (const auto *stop = std::get_if<Stop>(&intent)) {
            states[stop->loco].speed = 0;
            record(QStringLiteral("stop %1").arg(stop->loco));
        } else if (std::holds_alternative<StopAll>(intent)) {
            for (PhoneLoco &state : states)
                state.speed = 0;
            record(QStringLiteral("stop all"));
        } else if (const auto *power = std::get_if<SetTrackPower>(&intent)) {
            record(QStringLiteral("power %1").arg(power->on ? "on" : "off"));
        } else if (const auto *released = std::get_if<Released>(&intent)) {
            record(QStringLiteral("released %1").arg(released->loco));
        } else if (std::holds_alternative<Quit>(intent)) {
            record(QStringLiteral("quit"));
        } else if (const auto *closed = std::get_if<Closed>(&intent)) {
            static const char *const reasons[] = {"quit", "connection lost", "line too long",
                                                  "too many lines", "no introduction",
                                                  "spoke http"};
            record(QStringLiteral("closed: %1").arg(reasons[int(closed->reason)]));
        }
    }

private:
    void record(const QString &text) { transcript << QStringLiteral("! ") + text; }
};
