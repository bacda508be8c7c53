#pragma once

#include "link/frame.h"

#include <optional>

class ControllerPort;

// Why an exchange brought no reply. Only the last attempt's outcome is kept.
enum class ExchangeFailure {
    None,       // a valid reply came
    NoReply,    // nothing, too little or a damaged frame came back in time
    Refused,    // the controller answered with its refusal
    PortError,  // the frame could not be written (the access box was shown)
    Simulation, // simulation mode: nothing was sent
};

// How persistently a request is sent, and whether the user hears of a
// failure: the Retry/Cancel box after the last attempt (showFailure), the
// access error box of a port that cannot be written (showAccessError).
// attempts 0 means 3.
struct ExchangePolicy
{
    qint16 attempts = 2;
    bool showFailure = true;
    qint16 timeoutSeconds = 2;
    bool showAccessError = true;
};

namespace Exchange {
// A request the user started in a window: two attempts, then the box.
constexpr ExchangePolicy Window{2, true, 2};
// A step of a longer run (a search, a check, the track mode): three attempts,
// no box; the run itself judges what a missing reply means.
constexpr ExchangePolicy Background{0, false, 2};
// A request from a source nobody watches at the screen (a remote throttle):
// the window's attempts, but no box at all; the caller reports the failure.
constexpr ExchangePolicy Quiet{2, false, 2, false};
} // namespace Exchange

// The outcome of one exchange: the reply when a valid one came, else why not.
// The request is never handed back as if it were a reply.
struct ExchangeResult
{
    std::optional<CommandBuffer> reply;
    ExchangeFailure failure = ExchangeFailure::NoReply;

    bool answered() const { return reply.has_value(); }
};

// The retrying exchange: sends request up to policy.attempts times, each time
// afresh, until a valid reply comes. After the last failed attempt, when
// policy.showFailure is set, one Retry/Cancel box tells the user that the
// controller does not answer; its answer changes nothing. In simulation mode
// the result is Simulation at once, with nothing sent or shown. A port that
// is not open is reopened quietly before an attempt, so a re-plugged device
// works again without a restart.
//
// The exchange blocks: it processes no window events while it waits, for at
// most attempts x timeoutSeconds.
ExchangeResult RunExchange(const CommandBuffer &request, const ExchangePolicy &policy);

// The thin form on a buffer: RunExchange with the buffer's request; a valid
// reply overwrites the buffer and answers true, a failure leaves the request
// in it and answers false.
bool SendCommand(CommandBuffer &buffer, qint16 attempts, bool showFailure, qint16 timeoutSeconds);

// One attempt on port: discards stale bytes, writes the frame, waits for six
// reply bytes and judges them. The six bytes land in received as soon as
// they have arrived, before they are judged.
ExchangeFailure attemptExchange(ControllerPort &port, const CommandBuffer &request,
                                qint16 timeoutSeconds, CommandBuffer &received,
                                bool showAccessError = true);

// The same attempt on one buffer, which holds the request and then whatever
// six bytes came back, valid or not.
bool ExchangeFrame(ControllerPort &port, CommandBuffer &buffer, qint16 timeoutSeconds);

// Waits the given seconds while window events are processed. 0 or less
// returns at once.
void WaitSeconds(float seconds);

// The failure box text for a request that got no valid reply.
QString noReplyText(quint8 controller);
