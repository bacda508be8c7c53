#pragma once

#include "throttleserver/throttlesession.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

class Clock;
class QTcpServer;
class QTcpSocket;

// The phone-throttle server: listens on TCP, gives every client a
// ThrottleSession and shuttles bytes between sockets and sessions. It shows
// nothing and asks nothing; what a phone wants goes to the host, and what the
// program changes comes in through locoStateChanged and trackPowerChanged.
// Logging goes to kz.throttle.
class ThrottleServer : public QObject
{
    Q_OBJECT

public:
    // A ninth client is closed at once; the others are not affected.
    static constexpr int MaxClients = 8;
    // How often the heartbeat silences are looked at.
    static constexpr int HeartbeatCheckMs = 500;

    struct Client
    {
        QString name;        // from the client's N line, empty before
        QString address;     // the peer's IP address
        QList<int> locos;    // held by any of its throttles
    };

    // The host and the clock must outlive the server.
    explicit ThrottleServer(ThrottleHost &host, Clock &clock, QObject *parent = nullptr);
    ~ThrottleServer() override;

    // Starts listening. False when the port cannot be had (serverError() tells
    // why, AddressInUseError for a port in use); the server then stays off.
    bool listen(const QHostAddress &address, quint16 port);
    bool isListening() const;
    quint16 serverPort() const;
    QAbstractSocket::SocketError serverError() const;
    QString errorString() const;
    // Stops listening and drops every client.
    void close();

    // Drops every client as a lost connection: their locos are stopped,
    // because nobody holds a throttle for them any more.
    void disconnectAll();

    QList<Client> clients() const;
    int clientCount() const { return int(m_connections.size()); }

    // The roster every client gets from now on; connected clients get it at
    // once.
    void setRoster(const QList<int> &locos);
    // The functions on only while pressed, for every client from now on.
    void setMomentaryFunctions(const QList<int> &functions);
    // The shared state changed: every client holding the loco hears of it.
    void locoStateChanged(int loco, const PhoneLoco &state);
    void trackPowerChanged(WiThrottle::PowerState state);

public Q_SLOTS:
    // Lets every session look at its heartbeat and its introduction with the
    // clock's time; a timer calls it, tests may too.
    void checkHeartbeats();

Q_SIGNALS:
    // A client came, went, or told its name.
    void clientsChanged();

private:
    struct Connection
    {
        QTcpSocket *socket = nullptr;
        std::unique_ptr<ThrottleSession> session;
        QString address;
        QString name;
        QString hardwareId;
        // More than the session's MaxUnsentBytes waited unsent: the client
        // reads nothing, nothing more is written, and the connection ends.
        bool overflowed = false;
    };

    void acceptConnections();
    void readFrom(QTcpSocket *socket);
    void connectionLost(QTcpSocket *socket);
    void flush(Connection &connection);
    // After a session was given something: send its lines, note a new name or
    // id, close what the session closed.
    void settle(Connection &connection);
    void finish(QTcpSocket *socket);
    Connection *find(QTcpSocket *socket);

    ThrottleHost &m_host;
    Clock &m_clock;
    QTcpServer *m_server;
    QTimer m_heartbeatTimer;
    QList<int> m_roster;
    QList<int> m_momentary{ThrottleSession::DefaultMomentaryFunction};
    std::vector<std::unique_ptr<Connection>> m_connections;
};
