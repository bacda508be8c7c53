#include "link/trackpower.h"

#include "link/commands.h"

TrackPower queryTrackPower(quint8 controller, const ExchangePolicy &policy)
{
    const auto status =
        RunExchange(CommandBuffer{controller, Command::QueryController, 0, Selector::Status, 0},
                    policy)
            .reply;
    if (!status)
        return TrackPower::Unknown;
    return StatusFlags{status->p1}.trackPowerOn() ? TrackPower::On : TrackPower::Off;
}

TrackPower switchTrackPower(quint8 controller, std::optional<bool> wanted,
                            const ExchangePolicy &policy)
{
    const TrackPower before = queryTrackPower(controller, policy);
    if (before == TrackPower::Unknown)
        return before;
    const bool on = wanted.value_or(before == TrackPower::Off);
    if (on == (before == TrackPower::On))
        return before;
    if (on) {
        RunExchange(CommandBuffer{controller, Command::SetParameter, 1, Parameter::TrackOutput,
                                  TrackMode::PowerOn},
                    policy);
    } else {
        RunExchange(CommandBuffer{controller, Command::SetParameter, 0, Parameter::TrackOutput,
                                  TrackMode::Off},
                    policy);
    }
    return queryTrackPower(controller, policy);
}
