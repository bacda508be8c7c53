#pragma once

#include "link/exchange.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <optional>

class LocoState;

// Who wants a loco driven. The window in front is served at once; every
// other source waits while the line or the programming track is in use.
enum class DriveSource {
    Window, // the main window's panels and buttons: window exchanges with the box
    Remote, // a remote throttle: quiet exchanges, failures reported by signal
};

// One thing a source wants done, built with the named constructors.
struct DriveIntent
{
    enum class Kind { Speed, Direction, Function, Stop, StopAll, Accessory };

    Kind kind = Kind::Stop;
    DriveSource source = DriveSource::Window;
    // None: the controller that passed the check (LocoState::controller()).
    std::optional<quint8> controller;
    int loco = 0;   // loco number; the decoder id for an accessory
    int value = 0;  // speed 0-255, function number, or accessory port
    bool on = false; // function or accessory on; forward for a direction
    quint64 tag = 0; // the source's own mark, handed back in the signals
    // The network client a remote intent came from: its share of the line.
    quint64 client = 0;

    static DriveIntent speed(int loco, quint8 speed);
    static DriveIntent direction(int loco, bool forward);
    static DriveIntent function(int loco, int function, bool on);
    static DriveIntent stop(int loco);
    static DriveIntent stopAll();
    static DriveIntent accessory(int decoderId, int port, bool on);

    DriveIntent from(DriveSource source, quint64 tag = 0, quint64 client = 0) const;
    DriveIntent to(quint8 controller) const;
    // An emergency stop (of one loco or of all) goes before everything
    // queued.
    bool isEmergencyStop() const { return kind == Kind::StopAll || kind == Kind::Stop; }
};

// What became of an intent.
struct DriveResult
{
    enum class Status {
        Done,    // the controller answered (or simulation mode); the state follows
        Queued,  // waits; finished() tells the outcome later
        Failed,  // sent, but no valid reply (see failure)
        NotSent, // a number out of range, no checked controller, or a newer
                 // command or a stop took its place (failure Superseded)
    };
    Status status = Status::NotSent;
    ExchangeFailure failure = ExchangeFailure::None;
    // The frame and what the line said of it, for the boxes of a window's
    // failed intent.
    CommandBuffer frame;
    ExchangeResult exchange;

    bool done() const { return status == Status::Done; }
};

// The only code that turns a drive intent into a frame for the line
// (ControllerLine), which puts all traffic in one order: stops first, a
// newer speed or direction in place of one still waiting, the windows before
// the network clients, each client within its share; while the programming
// track is in use the remote intents other than stops wait. The state
// changes only when a valid reply came. The driver shows no box: a window's
// failed intent comes back in finished() with its frame and outcome, and the
// window shows the box; a remote intent's failure is reported by noReply().
class LocoDriver final : public QObject
{
    Q_OBJECT

public:
    explicit LocoDriver(LocoState &state, QObject *parent = nullptr);

    LocoState &state() const { return m_state; }

    // Hands intent to the line. The outcome comes in finished(); the status
    // answered is the outcome when it came at once (an idle inline line,
    // simulation mode, a refused number), else Queued.
    DriveResult submit(const DriveIntent &intent);

    // The programming window switched the programming track on or off; the
    // remote intents waiting go once it is off.
    void setProgrammingTrackActive(bool active);
    bool programmingTrackActive() const { return m_programming; }
    // A network client is gone: its intents still waiting are dropped.
    void clientGone(quint64 client);
    int queuedCount() const;

signals:
    // Every intent handed in, with its outcome, once it is known.
    void finished(const DriveIntent &intent, const DriveResult &result);
    // A remote intent got no valid reply; the source tells its user.
    void noReply(const DriveIntent &intent, ExchangeFailure failure);

private:
    void complete(const DriveIntent &intent, const DriveResult &result);
    void applyToState(const DriveIntent &intent);

    LocoState &m_state;
    bool m_programming = false;
    // The submit call whose outcome came at once, while it runs.
    quint64 m_submitting = 0;
    quint64 m_submitSerial = 0;
    std::optional<DriveResult> m_immediate;
};

// The driver of the running program (the main window's); nullptr when none
// is installed. The programming window tells it when the programming track
// is in use.
LocoDriver *locoDriver();
void setLocoDriver(LocoDriver *driver);
