#pragma once

#include "link/exchange.h"

#include <QList>

#include <functional>
#include <optional>
#include <vector>

// What a frame on the line is for; it decides the frame's place in the queue.
enum class LineKind {
    Exchange,  // a step of a window's sequence: a query, a programming step
    Speed,
    Direction,
    Function,
    Accessory,
    Stop,      // one loco's emergency stop
    StopAll,   // every loco's emergency stop
};

// One frame somebody wants on the line, and who wants it.
struct LineRequest
{
    // The program's own windows; every other number is one network client.
    static constexpr quint64 WindowClient = 0;

    CommandBuffer frame;
    ExchangePolicy policy = Exchange::Window;
    LineKind kind = LineKind::Exchange;
    int loco = 0; // the loco of a speed, direction, function or stop
    quint64 client = WindowClient;

    bool isStop() const { return kind == LineKind::Stop || kind == LineKind::StopAll; }
};

// The order in which frames go on the line, without a port or a clock of its
// own (time is handed in):
// - Stops go first, in the order they came, before everything else waiting.
//   A stop drops every speed and direction waiting for the locos it stops
//   (a stop of all: for every loco), so that nothing sent earlier starts a
//   loco again right after it.
// - A speed or direction replaces the one still waiting for the same loco;
//   functions and accessories keep their order.
// - The windows' requests go before the network clients'.
// - The clients take turns, one frame each, and each within its budget of
//   frames per second; a client's surplus waits, merged as above, and a
//   client with too much waiting is refused further frames that cannot merge.
// - While the programming track is in use, the clients' frames other than
//   stops wait.
class LineQueue
{
public:
    // A client's budget: a burst of this many frames, refilled at this rate.
    // A phone holding 32 locos can set all of them twice at once; a steady
    // stream beyond the rate is merged per loco instead of piling up.
    static constexpr int ClientFramesPerSecond = 100;
    static constexpr int ClientBurstFrames = 64;
    // Frames one client may have waiting; a speed and a direction per loco
    // (32 locos) and as many functions.
    static constexpr int MaxWaitingPerClient = 128;

    struct Entry
    {
        quint64 ticket = 0;
        LineRequest request;
    };
    // A ticket that will not be sent, and why: Superseded (a newer speed or
    // direction, or a stop, took its place) or QueueFull (refused).
    struct Dropped
    {
        quint64 ticket = 0;
        ExchangeFailure why = ExchangeFailure::Superseded;
        friend bool operator==(const Dropped &, const Dropped &) = default;
    };

    // Takes request in under ticket; answers what the push dropped, the
    // request itself included when its client has too much waiting.
    QList<Dropped> push(quint64 ticket, const LineRequest &request, qint64 nowMs);

    // The next entry to send at nowMs; none when nothing may go now.
    std::optional<Entry> takeNext(qint64 nowMs);
    // The first waiting stop, for a gap between two attempts of another
    // frame.
    std::optional<Entry> takeStop();
    bool hasStop() const { return !m_stops.isEmpty(); }
    // A stop or a window's frame waits: something may go at once.
    bool hasUrgent() const { return !m_stops.isEmpty() || !m_window.isEmpty(); }

    // Whether a frame of this request's source could go at nowMs: a stop, a
    // window's frame, or a client's with budget left (and not held).
    bool couldGo(const LineRequest &request, qint64 nowMs) const;

    // When a client's frame held back by its budget may go; none when no
    // frame waits for budget.
    std::optional<qint64> nextBudgetMs(qint64 nowMs) const;

    void setClientsHeld(bool held) { m_clientsHeld = held; }
    bool clientsHeld() const { return m_clientsHeld; }

    // A client is gone: its waiting frames other than stops are dropped
    // (their tickets answered) and its budget forgotten.
    QList<quint64> dropClient(quint64 client);
    // Everything waiting, in no particular order; the queue is empty after.
    QList<quint64> clear();

    int size() const;
    bool isEmpty() const { return size() == 0; }

private:
    struct Client
    {
        quint64 id = 0;
        QList<Entry> entries;
        double tokens = ClientBurstFrames;
        qint64 refilledMs = 0;
    };

    QList<Entry> &queueOf(quint64 client, qint64 nowMs);
    void refill(Client &client, qint64 nowMs) const;
    // Drops what waits (outside except) for which superseded holds.
    void dropWaiting(const std::function<bool(const LineRequest &)> &superseded,
                     QList<Dropped> &dropped, const QList<Entry> *except = nullptr);
    bool replaceWaiting(quint64 ticket, const LineRequest &request, QList<Entry> &own,
                        QList<Dropped> &dropped);

    QList<Entry> m_stops;
    QList<Entry> m_window;
    std::vector<Client> m_clients;
    size_t m_turn = 0;
    bool m_clientsHeld = false;
};
