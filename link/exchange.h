#pragma once

#include "link/frame.h"

class ControllerPort;

// The retrying exchange: sends the buffer's request and, when a valid reply
// comes, overwrites the buffer with it and answers true. Every attempt sends
// the caller's bytes afresh. attempts 0 means 3. After the last failed
// attempt, when showFailure is set, one Retry/Cancel box tells the user that
// the controller does not answer; its answer changes nothing. In simulation
// mode the answer is false at once, with nothing sent or shown. A port that
// is not open is reopened quietly before an attempt, so a re-plugged device
// works again without a restart.
//
// The exchange blocks: it processes no window events while it waits, for at
// most attempts x timeoutSeconds.
bool SendCommand(CommandBuffer &buffer, qint16 attempts, bool showFailure, qint16 timeoutSeconds);

// One attempt on port: discards stale bytes, writes the frame, waits for six
// reply bytes and judges them. The reply's bytes land in buffer as soon as
// six have arrived, before they are judged, so SendCommand passes a copy.
bool ExchangeFrame(ControllerPort &port, CommandBuffer &buffer, qint16 timeoutSeconds);

// Waits the given seconds while window events are processed. 0 or less
// returns at once.
void WaitSeconds(float seconds);

// The failure box text for a request that got no valid reply.
QString noReplyText(quint8 controller);
