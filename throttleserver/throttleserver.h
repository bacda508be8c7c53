#pragma once

#include "throttleserver/netpolicy.h"
#include "throttleserver/throttlesession.h"

#include <QAbstractSocket>
#include <QByteArrayView>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class Clock;
class QTcpServer;

// One client's connection as the server sees it, whatever carries it: bytes
// come in through onReceived, lines go out through send. A TCP socket carries
// an app's byte stream; a WebSocket carries one line per text message.
class ThrottleChannel
{
public:
    enum class Kind { App, Browser };

    virtual ~ThrottleChannel() = default;

    virtual Kind kind() const = 0;
    virtual QString peerAddress() const = 0;
    // Lines without terminators; the transport frames them.
    virtual void send(const QByteArrayList &lines) = 0;
    // What was handed to send and has not left yet.
    virtual qint64 unsentBytes() const = 0;
    // Ends the connection at once and calls no hook any more. Destroying a
    // channel ends it gracefully (what was sent still leaves).
    virtual void abort() = 0;

    // Set by the server; called with the client's bytes (line ends included)
    // and when the other side ended the connection.
    std::function<void(QByteArrayView)> onReceived;
    std::function<void()> onLost;
};

// The throttle server: owns every client's connection, of both kinds, with
// its ThrottleSession, and shuttles bytes between channels and sessions. It
// listens on TCP for the apps itself; the web throttle hands it its browsers'
// WebSockets. It shows nothing and asks nothing; what a client wants goes to
// the host, and what the program changes comes in through locoStateChanged and
// trackPowerChanged. Logging goes to kz.throttle.
class ThrottleServer : public QObject
{
    Q_OBJECT

public:
    // Apps and browsers together; a ninth client is closed at once, the others
    // are not affected.
    static constexpr int MaxClients = 8;
    // How often the heartbeat silences are looked at.
    static constexpr int HeartbeatCheckMs = 500;

    struct Client
    {
        QString name;        // from the client's N line, empty before
        QString address;     // the peer's IP address
        QList<int> locos;    // held by any of its throttles
        bool browser = false;
    };

    // The host and the clock must outlive the server.
    explicit ThrottleServer(ThrottleHost &host, Clock &clock, QObject *parent = nullptr);
    ~ThrottleServer() override;

    // Starts listening for apps. False when the port cannot be had
    // (serverError() tells why, AddressInUseError for a port in use); the
    // server then stays off.
    bool listen(const QHostAddress &address, quint16 port);
    bool isListening() const;
    quint16 serverPort() const;
    QAbstractSocket::SocketError serverError() const;
    QString errorString() const;
    // Stops listening and drops every app; browsers stay.
    void close();
    // Which apps may connect; one refused is closed at once and logged.
    void setPeerRule(const PeerRule &rule) { m_peerRule = rule; }
    // The clock the sessions and the web throttle's time limits run on.
    Clock &clock() const { return m_clock; }

    // A new connection. False, and the channel is closed, when eight clients
    // are already connected.
    bool adopt(std::unique_ptr<ThrottleChannel> channel);

    // Drops every client (of one kind) as a lost connection: their locos are
    // stopped, because nobody holds a throttle for them any more.
    void disconnectAll();
    void disconnectAll(ThrottleChannel::Kind kind);

    QList<Client> clients() const;
    int clientCount() const { return int(m_connections.size()); }

    // The roster every client gets from now on; connected clients get it at
    // once.
    void setRoster(const QList<int> &locos);
    // The roster's entries, named before the controller's locos.
    void setRosterEntries(const QList<RosterEntry> &entries);
    // The web server's port for the apps' roster download (0: none).
    void setWebPort(quint16 port);
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
    // What one client's session sees of the host: every intent carries the
    // client's number.
    class ClientHost final : public ThrottleHost
    {
    public:
        ClientHost(ThrottleHost &host, quint64 client) : m_host(host), m_client(client) {}
        PhoneLoco locoState(int loco) const override { return m_host.locoState(loco); }
        WiThrottle::PowerState trackPower() const override { return m_host.trackPower(); }
        bool controllerChecked() const override { return m_host.controllerChecked(); }
        int speedSteps(int loco) const override { return m_host.speedSteps(loco); }
        void perform(const ThrottleIntentValue &intent) override
        {
            m_host.performFor(m_client, intent);
        }

    private:
        ThrottleHost &m_host;
        quint64 m_client;
    };

    struct Connection
    {
        std::unique_ptr<ThrottleChannel> channel;
        // Before the session, which uses it until it is destroyed.
        std::unique_ptr<ClientHost> host;
        std::unique_ptr<ThrottleSession> session;
        QString address;
        QString name;
        QString hardwareId;
        // More than ThrottleSession::MaxUnsentBytes waited to leave: the
        // client reads nothing, nothing more is written, and the connection
        // ends as lost.
        bool overflowed = false;
    };

    void acceptConnections();
    void readFrom(ThrottleChannel *channel, QByteArrayView bytes);
    void connectionLost(ThrottleChannel *channel);
    void flush(Connection &connection);
    // After a session was given something: send its lines, note a new name or
    // id, close what the session closed.
    void settle(Connection &connection);
    void finish(ThrottleChannel *channel);
    void dropOverflowing();
    Connection *find(ThrottleChannel *channel);

    ThrottleHost &m_host;
    Clock &m_clock;
    QTcpServer *m_server;
    QTimer m_heartbeatTimer;
    PeerRule m_peerRule;
    // Connections refused since the start, for the log.
    int m_strangers = 0;
    int m_httpClients = 0;
    WiThrottle::PhoneRoster m_roster;
    quint16 m_webPort = 0;
    QList<int> m_momentary{ThrottleSession::DefaultMomentaryFunction};
    std::vector<std::unique_ptr<Connection>> m_connections;
    quint64 m_lastClient = 0;
};
