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

    static DriveIntent speed(int loco, quint8 speed);
    static DriveIntent direction(int loco, bool forward);
    static DriveIntent function(int loco, int function, bool on);
    static DriveIntent stop(int loco);
    static DriveIntent stopAll();
    static DriveIntent accessory(int decoderId, int port, bool on);

    DriveIntent from(DriveSource source, quint64 tag = 0) const;
    DriveIntent to(quint8 controller) const;
    // An emergency stop goes before everything queued.
    bool isEmergencyStop() const { return kind == Kind::StopAll; }
};

// What became of an intent.
struct DriveResult
{
    enum class Status {
        Done,    // the controller answered; the state follows
        Queued,  // waits; finished() tells the outcome later
        Failed,  // sent, but no valid reply (see failure)
        NotSent, // a number out of range, or no checked controller
    };
    Status status = Status::NotSent;
    ExchangeFailure failure = ExchangeFailure::None;

    bool done() const { return status == Status::Done; }
};

// The only code that turns a drive intent into an exchange, and all drive
// traffic in one order: while an exchange of the driver runs, or while the
// programming track is switched on, intents of sources other than the window
// wait in the queue and run when the line is free again; an emergency stop
// goes before everything queued. The state changes only when a valid reply
// came. The driver shows no box of its own: a remote source's exchanges are
// quiet, and their failure is reported by noReply().
class LocoDriver final : public QObject
{
    Q_OBJECT

public:
    explicit LocoDriver(LocoState &state, QObject *parent = nullptr);

    LocoState &state() const { return m_state; }

    // Runs intent now or queues it (status Queued). A window intent always
    // runs at once: the window in front owns the line.
    DriveResult submit(const DriveIntent &intent);

    // The programming window switched the programming track on or off; the
    // queue runs once it is off.
    void setProgrammingTrackActive(bool active);
    bool programmingTrackActive() const { return m_programming; }
    bool isBusy() const { return m_running; }
    int queuedCount() const { return int(m_queue.size()); }

signals:
    // Every intent that was run, at once or from the queue.
    void finished(const DriveIntent &intent, const DriveResult &result);
    // A remote intent got no valid reply; the source tells its user.
    void noReply(const DriveIntent &intent, ExchangeFailure failure);

private:
    DriveResult run(const DriveIntent &intent);
    void runQueue();
    void applyToState(const DriveIntent &intent);

    LocoState &m_state;
    QList<DriveIntent> m_queue;
    bool m_running = false;
    bool m_programming = false;
};

// The driver of the running program (the main window's); nullptr when none
// is installed. The programming window tells it when the programming track
// is in use.
LocoDriver *locoDriver();
void setLocoDriver(LocoDriver *driver);
