#pragma once

#include "link/linequeue.h"

#include <QHash>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class ControllerPort;
class QThread;

// The one owner of the serial line: every frame, from the windows, the
// programming jobs and the network clients, goes through its queue
// (LineQueue decides the order), and nothing else touches the port. Each
// queued frame is sent with its policy's attempts and time-out; stops that
// come meanwhile go between two attempts. The outcome of every frame is
// handed back on the line's own thread, as a value: the line shows nothing.
//
// Threaded, the line runs the port on a worker thread, so that the window's
// thread never waits on the device; a caller that needs the outcome before
// it goes on (a window's sequence) waits in an event loop, and the window
// keeps repainting and taking input. Inline, the caller's thread sends
// itself: what is submitted while the line is idle goes at once, what comes
// while it is sending waits its turn. Tests run inline on a ManualClock, so
// that an exchange takes no real time and every order is reproducible.
class ControllerLine final : public QObject
{
    Q_OBJECT

public:
    enum class Mode { Inline, Threaded };
    using Done = std::function<void(const ExchangeResult &)>;

    explicit ControllerLine(Mode mode = Mode::Inline, QObject *parent = nullptr);
    ~ControllerLine() override;

    Mode mode() const { return m_mode; }

    // The port the line sends on (not owned); nullptr for none. A threaded
    // line takes the port over to its worker until another is set.
    void setPort(ControllerPort *port);
    ControllerPort *port() const { return m_port; }

    // Opens device on the line's port after closing it, between two frames;
    // the port's error when it failed (number None when it opened). The
    // device is kept: a port found closed before an attempt is reopened on it.
    PortError open(const QString &device);
    void close();
    // The device a port found closed is reopened on, until the next open().
    void setReopenDevice(const QString &device);

    // Queues request; done is called on the line's thread with the outcome,
    // at once (inside submit) when the frame could go straight away on an
    // inline line, or when it was dropped. In simulation mode nothing is
    // queued and the outcome is Simulation. Answers the request's ticket.
    quint64 submit(const LineRequest &request, Done done = {});

    // Submits request and waits for its outcome.
    ExchangeResult exchange(const LineRequest &request);

    // Waits until done() holds, while the line works: inline by sending what
    // is queued, threaded in an event loop woken by every outcome.
    void waitUntil(const std::function<bool()> &done);

    // While the programming track is in use the network clients' frames,
    // other than stops, wait.
    void setClientsHeld(bool held);
    // A network client is gone: what it has waiting is dropped.
    void dropClient(quint64 client);

    // Frames waiting, not counting the one being sent.
    int waitingCount() const;
    // Nothing waits and nothing is being sent.
    bool isIdle() const;

signals:
    // After every outcome was handed back.
    void delivered(quint64 ticket, const ExchangeResult &result);
    // An outcome was handed back or a port operation is done: a waiting
    // caller looks again.
    void progressed();

private:
    class Worker;
    friend class Worker;
    using Outcome = std::pair<quint64, ExchangeResult>;

    void deliver(quint64 ticket, const ExchangeResult &result);
    void deliverAll(const QList<Outcome> &outcomes);
    void deliverDropped(const QList<LineQueue::Dropped> &dropped);
    // Sends one entry with its attempts; the stops sent between two of them
    // come first in the outcomes.
    QList<Outcome> perform(const LineQueue::Entry &entry);
    void sendWaitingStops(QList<Outcome> &outcomes);
    ExchangeResult sendWithAttempts(const LineRequest &request, QList<Outcome> *stopsBetween);
    // Inline: sends what may go now, one frame after the other.
    void runReady();
    bool runOne();
    void scheduleBudgetWake();
    // Runs task where the port lives, between two frames, and waits for it.
    void runOnPort(const std::function<void()> &task);
    void workerLoop();

    const Mode m_mode;
    std::atomic<ControllerPort *> m_port = nullptr;
    QString m_device; // guarded by m_mutex
    quint64 m_nextTicket = 0;
    QHash<quint64, Done> m_done;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_controlDone;
    LineQueue m_queue;
    QList<std::function<void()>> m_controls;
    bool m_sending = false;
    bool m_stopping = false;
    // The worker waits with no time set: any new frame wakes it.
    bool m_workerParked = false;
    // Inline: a loop sending the ready frames is running further up.
    bool m_pumping = false;
    bool m_wakeScheduled = false;

    std::unique_ptr<Worker> m_worker;
};

// The line every exchange of the program goes through: the one installed, or
// an inline line of its own when none is.
ControllerLine &controllerLine();
// Installs a line (not owned); nullptr returns to the inline one.
void setControllerLine(ControllerLine *line);
