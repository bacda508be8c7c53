#include "link/linequeue.h"

#include <algorithm>
#include <cmath>

namespace {

// Client records kept for their budgets; a gone client is dropped by its
// host, this only bounds what a host that forgets could leave behind.
constexpr size_t MaxClientRecords = 64;

bool merges(LineKind kind)
{
    return kind == LineKind::Speed || kind == LineKind::Direction;
}

bool sameTarget(const LineRequest &a, const LineRequest &b)
{
    return a.kind == b.kind && a.loco == b.loco && a.frame.controller == b.frame.controller;
}

// Whether a stop takes this waiting frame's place.
bool stoppedBy(const LineRequest &stop, const LineRequest &waiting)
{
    if (!merges(waiting.kind))
        return false;
    return stop.kind == LineKind::StopAll || waiting.loco == stop.loco;
}

} // namespace

QList<LineQueue::Entry> &LineQueue::queueOf(quint64 client, qint64 nowMs)
{
    if (client == LineRequest::WindowClient)
        return m_window;
    for (Client &known : m_clients) {
        if (known.id == client)
            return known.entries;
    }
    if (m_clients.size() >= MaxClientRecords) {
        const auto idle = std::find_if(m_clients.begin(), m_clients.end(),
                                       [](const Client &c) { return c.entries.isEmpty(); });
        if (idle != m_clients.end())
            m_clients.erase(idle);
    }
    Client fresh;
    fresh.id = client;
    fresh.refilledMs = nowMs;
    m_clients.push_back(fresh);
    return m_clients.back().entries;
}

void LineQueue::refill(Client &client, qint64 nowMs) const
{
    if (nowMs > client.refilledMs) {
        client.tokens = std::min<double>(ClientBurstFrames,
                                         client.tokens
                                             + double(nowMs - client.refilledMs)
                                                   * ClientFramesPerSecond / 1000.0);
    }
    client.refilledMs = std::max(client.refilledMs, nowMs);
}

void LineQueue::dropWaiting(const std::function<bool(const LineRequest &)> &superseded,
                            QList<Dropped> &dropped, const QList<Entry> *except)
{
    auto sweep = [&](QList<Entry> &entries) {
        if (&entries == except)
            return;
        entries.removeIf([&](const Entry &entry) {
            if (!superseded(entry.request))
                return false;
            dropped.append({entry.ticket, ExchangeFailure::Superseded});
            return true;
        });
    };
    sweep(m_window);
    for (Client &client : m_clients)
        sweep(client.entries);
}

bool LineQueue::replaceWaiting(quint64 ticket, const LineRequest &request, QList<Entry> &own,
                               QList<Dropped> &dropped)
{
    for (Entry &entry : own) {
        if (sameTarget(entry.request, request)) {
            dropped.append({entry.ticket, ExchangeFailure::Superseded});
            entry = Entry{ticket, request};
            return true;
        }
    }
    // Another source's frame for the same loco is older than this one too.
    dropWaiting([&](const LineRequest &waiting) { return sameTarget(waiting, request); }, dropped,
                &own);
    return false;
}

QList<LineQueue::Dropped> LineQueue::push(quint64 ticket, const LineRequest &request,
                                          qint64 nowMs)
{
    QList<Dropped> dropped;
    if (request.isStop()) {
        dropWaiting([&](const LineRequest &waiting) { return stoppedBy(request, waiting); },
                    dropped);
        // The same stop waiting already: the newer takes its place, so that
        // a flood of stops costs one frame.
        for (Entry &waiting : m_stops) {
            if (sameTarget(waiting.request, request)) {
                dropped.append({waiting.ticket, ExchangeFailure::Superseded});
                waiting = Entry{ticket, request};
                return dropped;
            }
        }
        m_stops.append({ticket, request});
        return dropped;
    }
    QList<Entry> &own = queueOf(request.client, nowMs);
    if (merges(request.kind) && replaceWaiting(ticket, request, own, dropped))
        return dropped;
    if (request.client != LineRequest::WindowClient && own.size() >= MaxWaitingPerClient) {
        dropped.append({ticket, ExchangeFailure::QueueFull});
        return dropped;
    }
    own.append({ticket, request});
    return dropped;
}

std::optional<LineQueue::Entry> LineQueue::takeStop()
{
    if (m_stops.isEmpty())
        return std::nullopt;
    return m_stops.takeFirst();
}

std::optional<LineQueue::Entry> LineQueue::takeNext(qint64 nowMs)
{
    if (!m_stops.isEmpty())
        return m_stops.takeFirst();
    if (!m_window.isEmpty())
        return m_window.takeFirst();
    if (m_clientsHeld || m_clients.empty())
        return std::nullopt;
    const size_t count = m_clients.size();
    for (size_t step = 0; step < count; ++step) {
        const size_t at = (m_turn + step) % count;
        Client &client = m_clients[at];
        if (client.entries.isEmpty())
            continue;
        refill(client, nowMs);
        if (client.tokens < 1.0)
            continue;
        client.tokens -= 1.0;
        m_turn = (at + 1) % count;
        return client.entries.takeFirst();
    }
    return std::nullopt;
}

bool LineQueue::couldGo(const LineRequest &request, qint64 nowMs) const
{
    if (request.isStop() || request.client == LineRequest::WindowClient)
        return true;
    if (m_clientsHeld)
        return false;
    for (const Client &known : m_clients) {
        if (known.id == request.client) {
            Client client = known;
            refill(client, nowMs);
            return client.tokens >= 1.0;
        }
    }
    return true;
}

std::optional<qint64> LineQueue::nextBudgetMs(qint64 nowMs) const
{
    if (m_clientsHeld)
        return std::nullopt;
    std::optional<qint64> earliest;
    for (const Client &known : m_clients) {
        if (known.entries.isEmpty())
            continue;
        Client client = known;
        refill(client, nowMs);
        const double missing = std::max(0.0, 1.0 - client.tokens);
        const qint64 due = nowMs + qint64(std::ceil(missing * 1000.0 / ClientFramesPerSecond));
        earliest = earliest ? std::min(*earliest, due) : due;
    }
    return earliest;
}

QList<quint64> LineQueue::dropClient(quint64 client)
{
    QList<quint64> dropped;
    for (auto it = m_clients.begin(); it != m_clients.end(); ++it) {
        if (it->id != client)
            continue;
        for (const Entry &entry : std::as_const(it->entries))
            dropped.append(entry.ticket);
        const size_t at = size_t(it - m_clients.begin());
        m_clients.erase(it);
        if (m_turn > at)
            --m_turn;
        if (m_turn >= m_clients.size())
            m_turn = 0;
        break;
    }
    return dropped;
}

QList<quint64> LineQueue::clear()
{
    QList<quint64> tickets;
    for (const Entry &entry : std::as_const(m_stops))
        tickets.append(entry.ticket);
    for (const Entry &entry : std::as_const(m_window))
        tickets.append(entry.ticket);
    for (const Client &client : m_clients) {
        for (const Entry &entry : client.entries)
            tickets.append(entry.ticket);
    }
    m_stops.clear();
    m_window.clear();
    m_clients.clear();
    m_turn = 0;
    return tickets;
}

int LineQueue::size() const
{
    qsizetype count = m_stops.size() + m_window.size();
    for (const Client &client : m_clients)
        count += client.entries.size();
    return int(count);
}
