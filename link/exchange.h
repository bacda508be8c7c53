#pragma once

#include "link/frame.h"

#include "link/port.h"

#include <QList>

#include <optional>

class ControllerPort;

// Why an exchange brought no reply. Only the last attempt's outcome is kept.
enum class ExchangeFailure {
    None,       // a valid reply came
    NoReply,    // nothing, too little or a damaged frame came back in time
    Refused,    // the controller answered with its refusal
    PortError,  // the frame could not be written
    Simulation, // simulation mode: nothing was sent
    Superseded, // never sent: a newer speed or direction, or a stop, took its place
    QueueFull,  // never sent: its network client had too much waiting
};

// How persistently a request is sent, and whether the user hears of a
// failure: the Retry/Cancel box after the last attempt (showFailure), the
// access error box of a port that cannot be written (showAccessError). The
// window that started the request shows the boxes; the line only sends.
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

// An attempt whose frame could not be written: the port's error and the
// device it names.
struct PortAccessError
{
    PortError error;
    QString device;
};

// The outcome of one exchange: the reply when a valid one came, else why not.
// The request is never handed back as if it were a reply.
struct ExchangeResult
{
    std::optional<CommandBuffer> reply;
    ExchangeFailure failure = ExchangeFailure::NoReply;
    // One entry per attempt that could not write its frame, in order.
    QList<PortAccessError> accessErrors;

    bool answered() const { return reply.has_value(); }
};

// The retrying exchange on the program's line: sends request up to
// policy.attempts times, each time afresh, until a valid reply comes, and
// hands back what became of it; it shows nothing (a window shows the boxes
// the policy asks for, see common/lineboxes.h). In simulation mode the
// result is Simulation at once, with nothing sent. A port that is not open
// is reopened quietly before an attempt, so a re-plugged device works again
// without a restart.
//
// The caller waits for the outcome, at most attempts x timeoutSeconds, but
// its thread is never blocked: on the program's threaded line the window's
// events are processed while the line works. Stops queued meanwhile go
// between two attempts.
ExchangeResult RunExchange(const CommandBuffer &request, const ExchangePolicy &policy);

// One attempt on port: discards stale bytes, writes the frame, waits for six
// reply bytes and judges them. The six bytes land in received as soon as
// they have arrived, before they are judged. A frame that cannot be written
// ends the attempt at once with PortError and its reason in writeError.
ExchangeFailure attemptExchange(ControllerPort &port, const CommandBuffer &request,
                                qint16 timeoutSeconds, CommandBuffer &received,
                                PortError *writeError = nullptr);

// The same attempt on one buffer, which holds the request and then whatever
// six bytes came back, valid or not.
bool ExchangeFrame(ControllerPort &port, CommandBuffer &buffer, qint16 timeoutSeconds);

// Waits the given seconds while window events are processed. 0 or less
// returns at once.
void WaitSeconds(float seconds);

// The failure box text for a request that got no valid reply.
QString noReplyText(quint8 controller);
// The access box text for a frame that could not be written to the port
// named portName.
QString accessErrorText(const QString &portName, const PortAccessError &failure);
