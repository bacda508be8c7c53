#pragma once

#include "link/frame.h"

// The requests that drive locos and switch accessories, built without any
// exchange. Loco numbers and decoder ids travel as low byte in P2 and high
// byte in P3; the callers have checked their ranges.
namespace LocoFrames {

// speed 0 (stopped) to 255 (full speed).
CommandBuffer speed(quint8 controller, int loco, quint8 speed);
CommandBuffer direction(quint8 controller, int loco, bool forward);
// function 0 is the light, 1 to 12 the function keys.
CommandBuffer function(quint8 controller, int loco, int function, bool on);
CommandBuffer stop(quint8 controller, int loco);
// The stop of every loco the controller drives.
CommandBuffer stopAll(quint8 controller);
// port 0 to 7 of the accessory decoder.
CommandBuffer accessory(quint8 controller, int decoderId, int port, bool on);
// The single-loco entry read that tells a loco's speed steps.
CommandBuffer locoEntry(quint8 controller, int loco);

} // namespace LocoFrames
