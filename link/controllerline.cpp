#include "link/controllerline.h"

#include "link/clock.h"
#include "link/linklog.h"
#include "link/port.h"
#include "link/portsession.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <chrono>

namespace {

ControllerLine *installedLine = nullptr;

// The longest a waiting worker sleeps before it looks at the clock again: a
// budget may run out on a clock that is not the system's.
constexpr qint64 MaxIdleWaitMs = 50;

PortError noDeviceError()
{
    return {PortErrorNumber::NoSuchPort, QStringLiteral("Schnittstelle nicht verfügbar")};
}

} // namespace

class ControllerLine::Worker final : public QThread
{
public:
    explicit Worker(ControllerLine &line) : m_line(line) { setObjectName(QStringLiteral("kz.line")); }

protected:
    void run() override { m_line.workerLoop(); }

private:
    ControllerLine &m_line;
};

ControllerLine::ControllerLine(Mode mode, QObject *parent)
    : QObject(parent)
    , m_mode(mode)
{
    if (m_mode == Mode::Threaded) {
        m_worker = std::make_unique<Worker>(*this);
        m_worker->start();
    }
}

ControllerLine::~ControllerLine()
{
    if (m_worker) {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        m_worker->wait();
    }
}

void ControllerLine::runOnPort(const std::function<void()> &task)
{
    if (m_mode == Mode::Inline) {
        task();
        emit progressed();
        return;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    {
        const std::lock_guard lock(m_mutex);
        m_controls.append([this, task, done] {
            task();
            done->store(true);
            m_controlDone.notify_all();
            QMetaObject::invokeMethod(this, &ControllerLine::progressed, Qt::QueuedConnection);
        });
    }
    m_wake.notify_all();
    if (QThread::currentThread()->loopLevel() > 0) {
        // The window keeps running while the frame in flight ends.
        waitUntil([done] { return done->load(); });
        return;
    }
    // Before the event loop runs or after it ended there is nothing to
    // keep responsive.
    std::unique_lock lock(m_mutex);
    m_controlDone.wait(lock, [&] { return done->load(); });
}

void ControllerLine::setPort(ControllerPort *port)
{
    if (port == m_port)
        return;
    if (m_mode == Mode::Inline) {
        m_port = port;
        return;
    }
    // A port with a thread of its own (the serial port) follows the worker,
    // and the one given up comes back to the thread that will destroy it.
    if (port)
        port->setThread(m_worker.get());
    QThread *home = thread();
    runOnPort([this, port, home] {
        if (ControllerPort *old = m_port)
            old->setThread(home);
        m_port = port;
    });
}

PortError ControllerLine::open(const QString &device)
{
    auto outcome = std::make_shared<PortError>();
    setReopenDevice(device);
    runOnPort([this, device, outcome] {
        PortError &error = *outcome;
        ControllerPort *port = m_port;
        if (port && port->isOpen())
            port->close();
        if (!port || device.isEmpty()) {
            error = noDeviceError();
        } else if (!port->open(device)) {
            error = port->lastError();
            port->close();
        }
    });
    return *outcome;
}

void ControllerLine::setReopenDevice(const QString &device)
{
    const std::lock_guard lock(m_mutex);
    m_device = device;
}

void ControllerLine::close()
{
    runOnPort([this] {
        ControllerPort *port = m_port;
        if (port && port->isOpen())
            port->close();
    });
}

quint64 ControllerLine::submit(const LineRequest &request, Done done)
{
    const quint64 ticket = ++m_nextTicket;
    if (isSimulationMode()) {
        ExchangeResult simulated;
        simulated.failure = ExchangeFailure::Simulation;
        if (done)
            done(simulated);
        emit delivered(ticket, simulated);
        return ticket;
    }
    if (done)
        m_done.insert(ticket, std::move(done));
    QList<LineQueue::Dropped> dropped;
    bool wake = false;
    {
        const std::lock_guard lock(m_mutex);
        const qint64 now = programClock().nowMs();
        dropped = m_queue.push(ticket, request, now);
        // A frame that must wait for its client's budget wakes nobody: the
        // worker looks again when the budget has refilled (unless it waits
        // for nothing in particular and has to learn when that is).
        wake = m_queue.couldGo(request, now) || m_workerParked;
    }
    if (wake)
        m_wake.notify_all();
    deliverDropped(dropped);
    if (m_mode == Mode::Inline && !m_sending && !m_pumping)
        runReady();
    return ticket;
}

ExchangeResult ControllerLine::exchange(const LineRequest &request)
{
    auto outcome = std::make_shared<std::optional<ExchangeResult>>();
    submit(request, [outcome](const ExchangeResult &result) { *outcome = result; });
    waitUntil([outcome] { return outcome->has_value(); });
    if (!outcome->has_value()) {
        // The program is ending before the line could answer.
        ExchangeResult unanswered;
        unanswered.failure = ExchangeFailure::NoReply;
        return unanswered;
    }
    return **outcome;
}

void ControllerLine::waitUntil(const std::function<bool()> &done)
{
    if (m_mode == Mode::Inline) {
        while (!done() && runOne()) {
        }
        // What waited behind the caller's frames goes once the caller is
        // back in the event loop.
        scheduleBudgetWake();
        return;
    }
    while (!done()) {
        QEventLoop loop;
        bool woken = false;
        const QMetaObject::Connection wake = connect(this, &ControllerLine::progressed, &loop, [&] {
            if (done()) {
                woken = true;
                loop.quit();
            }
        });
        loop.exec();
        disconnect(wake);
        // An event loop that ended without us is the program quitting.
        if (!woken && !done())
            return;
    }
}

void ControllerLine::setClientsHeld(bool held)
{
    {
        const std::lock_guard lock(m_mutex);
        m_queue.setClientsHeld(held);
    }
    m_wake.notify_all();
    if (!held && m_mode == Mode::Inline && !m_sending && !m_pumping)
        runReady();
}

void ControllerLine::dropClient(quint64 client)
{
    QList<quint64> tickets;
    {
        const std::lock_guard lock(m_mutex);
        tickets = m_queue.dropClient(client);
    }
    QList<LineQueue::Dropped> dropped;
    for (const quint64 ticket : std::as_const(tickets))
        dropped.append({ticket, ExchangeFailure::Superseded});
    deliverDropped(dropped);
}

int ControllerLine::waitingCount() const
{
    const std::lock_guard lock(m_mutex);
    return m_queue.size();
}

bool ControllerLine::isIdle() const
{
    const std::lock_guard lock(m_mutex);
    return m_queue.isEmpty() && !m_sending;
}

void ControllerLine::deliver(quint64 ticket, const ExchangeResult &result)
{
    if (const Done done = m_done.take(ticket))
        done(result);
    emit delivered(ticket, result);
    emit progressed();
}

void ControllerLine::deliverAll(const QList<Outcome> &outcomes)
{
    for (const Outcome &outcome : outcomes)
        deliver(outcome.first, outcome.second);
}

void ControllerLine::deliverDropped(const QList<LineQueue::Dropped> &dropped)
{
    for (const LineQueue::Dropped &gone : dropped) {
        ExchangeResult result;
        result.failure = gone.why;
        deliver(gone.ticket, result);
    }
}

QList<ControllerLine::Outcome> ControllerLine::perform(const LineQueue::Entry &entry)
{
    QList<Outcome> outcomes;
    const ExchangeResult result =
        sendWithAttempts(entry.request, entry.request.isStop() ? nullptr : &outcomes);
    outcomes.append({entry.ticket, result});
    return outcomes;
}

void ControllerLine::sendWaitingStops(QList<Outcome> &outcomes)
{
    for (;;) {
        std::optional<LineQueue::Entry> stop;
        {
            const std::lock_guard lock(m_mutex);
            stop = m_queue.takeStop();
        }
        if (!stop)
            return;
        outcomes.append({stop->ticket, sendWithAttempts(stop->request, nullptr)});
    }
}

ExchangeResult ControllerLine::sendWithAttempts(const LineRequest &request,
                                                QList<Outcome> *stopsBetween)
{
    ExchangeResult result;
    const qint16 attempts = request.policy.attempts == 0 ? qint16(3) : request.policy.attempts;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        // A stop does not wait for the attempts of a controller that does
        // not answer.
        if (attempt > 0 && stopsBetween)
            sendWaitingStops(*stopsBetween);
        ControllerPort *port = m_port;
        if (!port) {
            result.failure = ExchangeFailure::PortError;
            result.accessErrors.append({portNotOpenError(), QString()});
            continue;
        }
        // A device that went away (a pulled cable) or was missing at start-up
        // is taken back quietly as soon as it is there again.
        if (!port->isOpen()) {
            QString device;
            {
                const std::lock_guard lock(m_mutex);
                device = m_device;
            }
            if (!device.isEmpty() && !port->open(device))
                port->close();
        }
        CommandBuffer received;
        PortError writeError;
        result.failure = attemptExchange(*port, request.frame, request.policy.timeoutSeconds,
                                         received, &writeError);
        if (result.failure == ExchangeFailure::PortError)
            result.accessErrors.append({writeError, port->devicePath()});
        if (result.failure == ExchangeFailure::None) {
            result.reply = received;
            return result;
        }
    }
    return result;
}

bool ControllerLine::runOne()
{
    std::optional<LineQueue::Entry> entry;
    {
        const std::lock_guard lock(m_mutex);
        entry = m_queue.takeNext(programClock().nowMs());
        if (!entry)
            return false;
        m_sending = true;
    }
    const QList<Outcome> outcomes = perform(*entry);
    {
        const std::lock_guard lock(m_mutex);
        m_sending = false;
    }
    deliverAll(outcomes);
    return true;
}

void ControllerLine::runReady()
{
    if (m_pumping)
        return;
    m_pumping = true;
    while (runOne()) {
    }
    m_pumping = false;
    scheduleBudgetWake();
}

void ControllerLine::scheduleBudgetWake()
{
    if (m_mode != Mode::Inline || m_wakeScheduled)
        return;
    std::optional<qint64> delay;
    {
        const std::lock_guard lock(m_mutex);
        const qint64 now = programClock().nowMs();
        // Frames left behind a wait go at once; a client's frames when its
        // budget has refilled; held frames when the hold ends.
        if (m_queue.hasUrgent())
            delay = 0;
        else if (const std::optional<qint64> due = m_queue.nextBudgetMs(now))
            delay = programClock().portWaitMs(qMax<qint64>(0, *due - now));
    }
    if (!delay)
        return;
    m_wakeScheduled = true;
    QTimer::singleShot(int(qMin(*delay, MaxIdleWaitMs)), this, [this] {
        m_wakeScheduled = false;
        if (!m_sending)
            runReady();
    });
}

void ControllerLine::workerLoop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (!m_controls.isEmpty()) {
            const std::function<void()> control = m_controls.takeFirst();
            lock.unlock();
            control();
            lock.lock();
            continue;
        }
        if (m_stopping)
            break;
        const qint64 now = programClock().nowMs();
        std::optional<LineQueue::Entry> entry = m_queue.takeNext(now);
        if (!entry) {
            // Nothing may go: wait for a new frame, or for a budget to refill.
            if (const std::optional<qint64> due = m_queue.nextBudgetMs(now)) {
                const qint64 waitMs =
                    qBound<qint64>(1, programClock().portWaitMs(*due - now), MaxIdleWaitMs);
                m_wake.wait_for(lock, std::chrono::milliseconds(waitMs));
            } else {
                m_workerParked = true;
                m_wake.wait(lock);
                m_workerParked = false;
            }
            continue;
        }
        m_sending = true;
        lock.unlock();
        const QList<Outcome> outcomes = perform(*entry);
        lock.lock();
        m_sending = false;
        QMetaObject::invokeMethod(this, [this, outcomes] { deliverAll(outcomes); },
                                  Qt::QueuedConnection);
    }
    // The port goes back to the thread that owns the line (and will
    // destroy the port).
    if (ControllerPort *port = m_port)
        port->setThread(thread());
}

ControllerLine &controllerLine()
{
    static ControllerLine inlineLine(ControllerLine::Mode::Inline);
    return installedLine ? *installedLine : inlineLine;
}

void setControllerLine(ControllerLine *line)
{
    installedLine = line;
}
