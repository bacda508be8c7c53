#pragma once

#include "link/exchange.h"
#include "link/locostate.h"

#include <optional>

// Track power as plain exchanges, for the main window's button and for remote
// throttles alike.

// Asks controller for its status; Unknown without a valid reply.
TrackPower queryTrackPower(quint8 controller, const ExchangePolicy &policy);

// Switches track power to wanted (nullopt: the other state) and answers the
// state the controller reports afterwards. It asks first and switches only
// from a known state: switching blindly could turn power on for someone who
// meant to cut it. Nothing is sent when the power already is as wanted.
TrackPower switchTrackPower(quint8 controller, std::optional<bool> wanted,
                            const ExchangePolicy &policy);
