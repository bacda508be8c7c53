#include "throttleserver/throttleserver.h"

#include "link/clock.h"
#include "throttleserver/throttlelog.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <memory>

namespace {

// What one client may have waiting unread. A session closes a client whose
// line grows past 1 KiB, so this bounds what a fast sender can make us hold.
constexpr qint64 ReadBufferBytes = 16 * 1024;
// A fast sender's bytes are handed on a slice at a time, each slice in a turn
// of the event loop of its own: between two slices the window and the other
// clients have their turn (a slice of speed lines for 32 locos takes the
// window's thread about half a millisecond).
constexpr qint64 SliceBytes = 256;

// An app's connection: a byte stream, lines ended by LF.
class TcpChannel final : public ThrottleChannel
{
public:
    explicit TcpChannel(QTcpSocket *socket) : m_socket(socket)
    {
        socket->setReadBufferSize(ReadBufferBytes);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this] { readSlice(); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [this] {
            // What came before the end still counts (a Q above all).
            const std::weak_ptr<bool> alive = m_alive;
            if (const QByteArray rest = m_socket->readAll(); !rest.isEmpty()) {
                if (const auto hook = onReceived)
                    hook(rest);
            }
            if (alive.expired())
                return;
            if (const auto hook = onLost)
                hook();
        });
    }

    ~TcpChannel() override
    {
        QObject::disconnect(m_socket, nullptr, m_socket, nullptr);
        QObject::connect(m_socket, &QTcpSocket::disconnected, m_socket, &QObject::deleteLater);
        m_socket->disconnectFromHost();
        if (m_socket->state() == QAbstractSocket::UnconnectedState)
            m_socket->deleteLater();
    }

    Kind kind() const override { return Kind::App; }
    QString peerAddress() const override { return m_socket->peerAddress().toString(); }

    void send(const QByteArrayList &lines) override
    {
        qsizetype size = 0;
        for (const QByteArray &line : lines)
            size += line.size() + 1;
        QByteArray bytes;
        bytes.reserve(size);
        for (const QByteArray &line : lines)
            bytes.append(line).append('\n');
        m_socket->write(bytes);
    }

    qint64 unsentBytes() const override { return m_socket->bytesToWrite(); }

    void abort() override
    {
        QObject::disconnect(m_socket, nullptr, m_socket, nullptr);
        m_socket->abort();
    }

private:
    void readSlice()
    {
        const QByteArray bytes = m_socket->read(SliceBytes);
        if (m_socket->bytesAvailable() > 0 && !m_slicePending) {
            // readyRead comes again only for new bytes: the rest is taken
            // in the next turn, unless the channel is gone by then.
            m_slicePending = true;
            QMetaObject::invokeMethod(m_socket, [alive = std::weak_ptr<bool>(m_alive), this] {
                if (alive.expired())
                    return;
                m_slicePending = false;
                readSlice();
            }, Qt::QueuedConnection);
        }
        // A copy: the hook may end the connection and with it this channel.
        if (const auto hook = onReceived; hook && !bytes.isEmpty())
            hook(bytes);
    }

    QTcpSocket *m_socket;
    bool m_slicePending = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace

ThrottleServer::ThrottleServer(ThrottleHost &host, Clock &clock, QObject *parent)
    : QObject(parent), m_host(host), m_clock(clock), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &ThrottleServer::acceptConnections);
    m_heartbeatTimer.setInterval(HeartbeatCheckMs);
    connect(&m_heartbeatTimer, &QTimer::timeout, this, &ThrottleServer::checkHeartbeats);
}

ThrottleServer::~ThrottleServer()
{
    // At the program's end the connections go without stop intents: the host
    // may already be gone, and the program decides itself what happens to the
    // layout when it ends. disconnectAll() before destruction stops the
    // clients' locos.
    for (const auto &connection : m_connections)
        connection->channel->abort();
}

bool ThrottleServer::listen(const QHostAddress &address, quint16 port)
{
    if (!m_server->listen(address, port)) {
        qCWarning(kzThrottle) << "cannot listen on port" << port << ":" << m_server->errorString();
        return false;
    }
    qCInfo(kzThrottle) << "listening on" << m_server->serverAddress() << m_server->serverPort();
    return true;
}

bool ThrottleServer::isListening() const
{
    return m_server->isListening();
}

quint16 ThrottleServer::serverPort() const
{
    return m_server->serverPort();
}

QAbstractSocket::SocketError ThrottleServer::serverError() const
{
    return m_server->serverError();
}

QString ThrottleServer::errorString() const
{
    return m_server->errorString();
}

void ThrottleServer::close()
{
    m_server->close();
    disconnectAll(ThrottleChannel::Kind::App);
}

void ThrottleServer::disconnectAll()
{
    while (!m_connections.empty())
        finish(m_connections.front()->channel.get());
}

void ThrottleServer::disconnectAll(ThrottleChannel::Kind kind)
{
    for (;;) {
        const auto it = std::find_if(m_connections.begin(), m_connections.end(),
                                     [kind](const auto &c) { return c->channel->kind() == kind; });
        if (it == m_connections.end())
            return;
        finish((*it)->channel.get());
    }
}

QList<ThrottleServer::Client> ThrottleServer::clients() const
{
    QList<Client> list;
    for (const auto &connection : m_connections) {
        list << Client{connection->name, connection->address, connection->session->heldLocos(),
                       connection->channel->kind() == ThrottleChannel::Kind::Browser};
    }
    return list;
}

void ThrottleServer::setRoster(const QList<int> &locos)
{
    m_roster.locos = locos;
    for (const auto &connection : m_connections) {
        connection->session->setRoster(locos);
        flush(*connection);
    }
}

void ThrottleServer::setRosterEntries(const QList<RosterEntry> &entries)
{
    m_roster.entries = entries;
    for (const auto &connection : m_connections) {
        connection->session->setPhoneRoster(m_roster);
        flush(*connection);
    }
}

void ThrottleServer::setWebPort(quint16 port)
{
    m_webPort = port;
    for (const auto &connection : m_connections) {
        connection->session->setWebPort(port);
        flush(*connection);
    }
}

void ThrottleServer::setMomentaryFunctions(const QList<int> &functions)
{
    m_momentary = functions;
    for (const auto &connection : m_connections)
        connection->session->setMomentaryFunctions(functions);
}

void ThrottleServer::locoStateChanged(int loco, const PhoneLoco &state)
{
    // Only lines go out here; no connection ends, so the walk stays valid even
    // when this is called from inside a session's intent.
    for (const auto &connection : m_connections) {
        connection->session->locoStateChanged(loco, state);
        flush(*connection);
    }
}

void ThrottleServer::trackPowerChanged(WiThrottle::PowerState state)
{
    for (const auto &connection : m_connections) {
        connection->session->trackPowerChanged(state);
        flush(*connection);
    }
}

void ThrottleServer::checkHeartbeats()
{
    const qint64 now = m_clock.nowMs();
    QList<ThrottleChannel *> closed;
    for (const auto &connection : m_connections) {
        connection->session->advanceTo(now);
        flush(*connection);
        if (connection->session->isClosed())
            closed << connection->channel.get();
    }
    // Time alone may close a session (a connection that never said who it
    // is); ended after the walk, which finish() would disturb.
    for (ThrottleChannel *channel : closed) {
        qCInfo(kzThrottle) << "closing a client that did not introduce itself";
        finish(channel);
    }
}

void ThrottleServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (!m_peerRule.admits(socket->peerAddress())) {
            qCWarning(kzThrottle).nospace().noquote()
                << "refused a client from " << socket->peerAddress().toString()
                << " outside the home network (" << ++m_strangers << " so far)";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        adopt(std::make_unique<TcpChannel>(socket));
    }
}

bool ThrottleServer::adopt(std::unique_ptr<ThrottleChannel> channel)
{
    const QString address = channel->peerAddress();
    if (int(m_connections.size()) >= MaxClients) {
        qCWarning(kzThrottle) << "refused a client beyond" << MaxClients << "from" << address;
        channel->abort();
        return false;
    }
    qCInfo(kzThrottle) << (channel->kind() == ThrottleChannel::Kind::Browser ? "browser" : "client")
                       << "connected from" << address;
    ThrottleChannel *const key = channel.get();
    channel->onReceived = [this, key](QByteArrayView bytes) { readFrom(key, bytes); };
    channel->onLost = [this, key] { connectionLost(key); };
    auto connection = std::make_unique<Connection>();
    connection->channel = std::move(channel);
    connection->address = address;
    connection->host = std::make_unique<ClientHost>(m_host, ++m_lastClient);
    connection->session = std::make_unique<ThrottleSession>(*connection->host, m_roster,
                                                            m_clock.nowMs(), m_webPort);
    connection->session->setMomentaryFunctions(m_momentary);
    m_connections.push_back(std::move(connection));
    if (!m_heartbeatTimer.isActive())
        m_heartbeatTimer.start();
    flush(*m_connections.back());
    emit clientsChanged();
    return true;
}

void ThrottleServer::readFrom(ThrottleChannel *channel, QByteArrayView bytes)
{
    Connection *connection = find(channel);
    if (!connection)
        return;
    qCDebug(kzThrottle) << connection->address << "<-" << bytes;
    connection->session->receive(bytes, m_clock.nowMs());
    settle(*connection);
}

void ThrottleServer::connectionLost(ThrottleChannel *channel)
{
    if (Connection *connection = find(channel))
        qCInfo(kzThrottle) << "client" << connection->address << "went away";
    finish(channel);
}

void ThrottleServer::flush(Connection &connection)
{
    const QByteArrayList lines = connection.session->takeLines();
    if (lines.isEmpty() || connection.overflowed)
        return;
    qCDebug(kzThrottle) << connection.address << "->" << lines;
    connection.channel->send(lines);
    if (connection.channel->unsentBytes() <= ThrottleSession::MaxUnsentBytes)
        return;
    // The client reads nothing: what it would be sent only grows. Its
    // connection counts as lost, later, because the caller may be walking the
    // connections.
    qCWarning(kzThrottle) << "client" << connection.address << "reads nothing; dropped";
    connection.overflowed = true;
    QMetaObject::invokeMethod(this, &ThrottleServer::dropOverflowing, Qt::QueuedConnection);
}

void ThrottleServer::dropOverflowing()
{
    for (;;) {
        const auto it = std::find_if(m_connections.begin(), m_connections.end(),
                                     [](const auto &c) { return c->overflowed; });
        if (it == m_connections.end())
            return;
        // Aborted, so that what waits unsent is dropped rather than kept
        // until the client reads it.
        ThrottleChannel *const channel = (*it)->channel.get();
        channel->abort();
        finish(channel);
    }
}

void ThrottleServer::settle(Connection &connection)
{
    flush(connection);
    ThrottleChannel *const channel = connection.channel.get();
    bool changed = false;
    if (connection.session->name() != connection.name) {
        connection.name = connection.session->name();
        changed = true;
    }
    const QString id = connection.session->hardwareId();
    if (!id.isEmpty() && id != connection.hardwareId) {
        connection.hardwareId = id;
        // The same device again (the app reconnected before the old
        // connection timed out): the new connection replaces the old one.
        ThrottleChannel *older = nullptr;
        for (const auto &other : m_connections) {
            if (other.get() != &connection && other->hardwareId == id)
                older = other->channel.get();
        }
        if (older) {
            qCInfo(kzThrottle) << "client" << id << "reconnected; the older connection ends";
            finish(older);
        }
    }
    // finish() may have moved the connections; look this one up again.
    Connection *current = find(channel);
    if (current && current->session->isClosed()) {
        if (current->session->closeReason() == ThrottleIntent::CloseReason::SpokeHttp) {
            qCWarning(kzThrottle).nospace().noquote()
                << "closed a client from " << current->address << " that spoke HTTP ("
                << ++m_httpClients << " so far)";
        } else {
            qCInfo(kzThrottle) << "closing client" << current->address;
        }
        finish(channel);
        return;
    }
    if (changed)
        emit clientsChanged();
}

void ThrottleServer::finish(ThrottleChannel *channel)
{
    const auto it = std::find_if(m_connections.begin(), m_connections.end(),
                                 [channel](const auto &c) { return c->channel.get() == channel; });
    if (it == m_connections.end())
        return;
    std::unique_ptr<Connection> connection = std::move(*it);
    m_connections.erase(it);
    connection->channel->onReceived = nullptr;
    connection->channel->onLost = nullptr;
    // Ended without Q: the session stops its locos.
    connection->session->connectionEnded();
    if (m_connections.empty())
        m_heartbeatTimer.stop();
    emit clientsChanged();
}

ThrottleServer::Connection *ThrottleServer::find(ThrottleChannel *channel)
{
    for (const auto &connection : m_connections) {
        if (connection->channel.get() == channel)
            return connection.get();
    }
    return nullptr;
}
