#include "throttleserver/throttleserver.h"

#include "link/clock.h"
#include "throttleserver/throttlelog.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>

namespace {

// What one client may have waiting unread. A session closes a client whose
// line grows past 1 KiB, so this bounds what a fast sender can make us hold.
constexpr qint64 ReadBufferBytes = 16 * 1024;

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
    // At the program's end the sockets go without stop intents: the host may
    // already be gone, and the program decides itself what happens to the
    // layout when it ends. close() before destruction stops the phones' locos.
    for (const auto &connection : m_connections) {
        QObject::disconnect(connection->socket, nullptr, this, nullptr);
        connection->socket->abort();
    }
}

bool ThrottleServer::listen(const QHostAddress &address, quint16 port)
{
    if (!m_server->listen(address, port)) {
        qCWarning(kzThrottle) << "cannot listen on port" << port << ":" << m_server->errorString();
        return false;
    }
    qCInfo(kzThrottle) << "listening on" << m_server->serverAddress() << m_server->serverPort();
    m_heartbeatTimer.start();
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
    m_heartbeatTimer.stop();
    disconnectAll();
}

void ThrottleServer::disconnectAll()
{
    while (!m_connections.empty())
        finish(m_connections.front()->socket);
}

QList<ThrottleServer::Client> ThrottleServer::clients() const
{
    QList<Client> list;
    for (const auto &connection : m_connections)
        list << Client{connection->name, connection->address, connection->session->heldLocos()};
    return list;
}

void ThrottleServer::setRoster(const QList<int> &locos)
{
    m_roster = locos;
    for (const auto &connection : m_connections) {
        connection->session->setRoster(locos);
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
    QList<QTcpSocket *> closed;
    for (const auto &connection : m_connections) {
        connection->session->advanceTo(now);
        flush(*connection);
        if (connection->session->isClosed())
            closed << connection->socket;
    }
    // Time alone may close a session (a connection that never said who it
    // is); ended after the walk, which finish() would disturb.
    for (QTcpSocket *socket : closed) {
        qCInfo(kzThrottle) << "closing a client that did not introduce itself";
        finish(socket);
    }
}

void ThrottleServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        const QString address = socket->peerAddress().toString();
        if (int(m_connections.size()) >= MaxClients) {
            qCWarning(kzThrottle) << "refused a client beyond" << MaxClients << "from" << address;
            socket->abort();
            socket->deleteLater();
            continue;
        }
        qCInfo(kzThrottle) << "client connected from" << address;
        socket->setReadBufferSize(ReadBufferBytes);
        auto connection = std::make_unique<Connection>();
        connection->socket = socket;
        connection->address = address;
        connection->session = std::make_unique<ThrottleSession>(m_host, m_roster, m_clock.nowMs());
        connection->session->setMomentaryFunctions(m_momentary);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { connectionLost(socket); });
        m_connections.push_back(std::move(connection));
        flush(*m_connections.back());
        emit clientsChanged();
    }
}

void ThrottleServer::readFrom(QTcpSocket *socket)
{
    Connection *connection = find(socket);
    if (!connection)
        return;
    const QByteArray bytes = socket->readAll();
    qCDebug(kzThrottle) << connection->address << "<-" << bytes;
    connection->session->receive(bytes, m_clock.nowMs());
    settle(*connection);
}

void ThrottleServer::connectionLost(QTcpSocket *socket)
{
    if (Connection *connection = find(socket))
        qCInfo(kzThrottle) << "client" << connection->address << "went away";
    finish(socket);
}

void ThrottleServer::flush(Connection &connection)
{
    const QByteArrayList lines = connection.session->takeLines();
    if (lines.isEmpty() || connection.overflowed)
        return;
    const QByteArray bytes = lines.join('\n') + '\n';
    qCDebug(kzThrottle) << connection.address << "->" << bytes;
    QTcpSocket *const socket = connection.socket;
    socket->write(bytes);
    if (socket->bytesToWrite() <= ThrottleSession::MaxUnsentBytes)
        return;
    // The client reads nothing: what it would be sent only grows. Its
    // connection counts as lost, later, because the caller may be walking the
    // connections; abort() drops the unsent bytes and ends in disconnected.
    qCWarning(kzThrottle) << "client" << connection.address << "reads nothing; dropped";
    connection.overflowed = true;
    QMetaObject::invokeMethod(socket, [socket] { socket->abort(); }, Qt::QueuedConnection);
}

void ThrottleServer::settle(Connection &connection)
{
    flush(connection);
    QTcpSocket *const socket = connection.socket;
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
        QTcpSocket *older = nullptr;
        for (const auto &other : m_connections) {
            if (other.get() != &connection && other->hardwareId == id)
                older = other->socket;
        }
        if (older) {
            qCInfo(kzThrottle) << "client" << id << "reconnected; the older connection ends";
            finish(older);
        }
    }
    // finish() may have moved the connections; look this one up again.
    Connection *current = find(socket);
    if (current && current->session->isClosed()) {
        qCInfo(kzThrottle) << "closing client" << current->address;
        finish(socket);
        return;
    }
    if (changed)
        emit clientsChanged();
}

void ThrottleServer::finish(QTcpSocket *socket)
{
    const auto it = std::find_if(m_connections.begin(), m_connections.end(),
                                 [socket](const auto &c) { return c->socket == socket; });
    if (it == m_connections.end())
        return;
    std::unique_ptr<Connection> connection = std::move(*it);
    m_connections.erase(it);
    // Ended without Q: the session stops its locos.
    connection->session->connectionEnded();
    QObject::disconnect(socket, nullptr, this, nullptr);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
    emit clientsChanged();
}

ThrottleServer::Connection *ThrottleServer::find(QTcpSocket *socket)
{
    for (const auto &connection : m_connections) {
        if (connection->socket == socket)
            return connection.get();
    }
    return nullptr;
}
