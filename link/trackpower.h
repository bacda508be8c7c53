#pragma once

#include "link/linequeue.h"
#include "link/locostate.h"

#include <functional>
#include <optional>

class ControllerLine;

// Track power as exchanges on the line, for the main window's button and for
// remote throttles alike. Switching asks first and switches only from a
// known state: switching blindly could turn power on for someone who meant
// to cut it. Nothing is sent when the power already is as wanted; after a
// switch the state is asked again and answered.

// Told of every exchange of a query or switch and its outcome, e.g. to show
// a window's boxes.
using TrackPowerStep = std::function<void(const CommandBuffer &frame, const ExchangeResult &result)>;

// The state a status reply reports; Unknown without a valid reply.
TrackPower trackPowerOf(const ExchangeResult &statusReply);

// Asks controller for its status and waits; Unknown without a valid reply.
TrackPower queryTrackPower(quint8 controller, const ExchangePolicy &policy,
                           const TrackPowerStep &step = {});

// Switches track power to wanted (nullopt: the other state), waiting for
// the line, and answers the state the controller reports afterwards.
TrackPower switchTrackPower(quint8 controller, std::optional<bool> wanted,
                            const ExchangePolicy &policy, const TrackPowerStep &step = {});

// The same switch without waiting: its frames go through line like
// template's (policy and client), and done gets the state in the end.
void switchTrackPowerLater(ControllerLine &line, quint8 controller, std::optional<bool> wanted,
                           const LineRequest &pattern, std::function<void(TrackPower)> done,
                           TrackPowerStep step = {});
