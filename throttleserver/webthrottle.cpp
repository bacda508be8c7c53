#include "throttleserver/webthrottle.h"

#include "link/clock.h"
#include "throttleserver/throttlelog.h"
#include "throttleserver/throttleserver.h"
#include "throttleserver/webroster.h"

#include <QAbstractHttpServer>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QMetaEnum>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <utility>
#include <vector>

static void initPageResources()
{
    // The page lives in this static library's resources; they are linked in
    // only when asked for.
    Q_INIT_RESOURCE(webthrottle);
}

namespace {

using Status = QHttpServerResponder::StatusCode;

struct PageFile
{
    const char *path;       // as requested, exactly
    const char *resource;
    const char *type;
};

constexpr PageFile PageFiles[] = {
    {"/", ":/webthrottle/index.html", "text/html; charset=utf-8"},
    {"/index.html", ":/webthrottle/index.html", "text/html; charset=utf-8"},
    {"/throttle.css", ":/webthrottle/throttle.css", "text/css; charset=utf-8"},
    {"/throttle.js", ":/webthrottle/throttle.js", "text/javascript; charset=utf-8"},
};

// How long a WebSocket we closed may wait for the browser's answer to the
// close frame before it is dropped anyway.
constexpr int CloseWaitMs = 5000;

// A browser's connection: one line per text message each way.
class WebSocketChannel final : public ThrottleChannel
{
public:
    explicit WebSocketChannel(std::unique_ptr<QWebSocket> socket) : m_socket(socket.release())
    {
        QObject::connect(m_socket, &QWebSocket::textMessageReceived, m_socket,
                         [this](const QString &message) {
                             // The message is the line; the session wants its end too.
                             const QByteArray bytes = message.toUtf8() + '\n';
                             if (const auto hook = onReceived)
                                 hook(bytes);
                         });
        QObject::connect(m_socket, &QWebSocket::bytesWritten, m_socket,
                         [this](qint64 bytes) { m_unsent = qMax<qint64>(0, m_unsent - bytes); });
        QObject::connect(m_socket, &QWebSocket::disconnected, m_socket, [this] {
            if (const auto hook = onLost)
                hook();
        });
    }

    ~WebSocketChannel() override
    {
        QObject::disconnect(m_socket, nullptr, m_socket, nullptr);
        if (m_socket->state() == QAbstractSocket::UnconnectedState) {
            m_socket->deleteLater();
            return;
        }
        QObject::connect(m_socket, &QWebSocket::disconnected, m_socket, &QObject::deleteLater);
        QTimer::singleShot(CloseWaitMs, m_socket, &QObject::deleteLater);
        // Later: this may run inside the socket's own message signal, and the
        // socket goes on reading its frame after the signal returns.
        QMetaObject::invokeMethod(m_socket, [socket = m_socket] { socket->close(); },
                                  Qt::QueuedConnection);
    }

    Kind kind() const override { return Kind::Browser; }
    QString peerAddress() const override { return m_socket->peerAddress().toString(); }

    void send(const QByteArrayList &lines) override
    {
        for (const QByteArray &line : lines)
            m_unsent += m_socket->sendTextMessage(QString::fromUtf8(line));
    }

    qint64 unsentBytes() const override { return m_unsent; }

    void abort() override
    {
        QObject::disconnect(m_socket, nullptr, m_socket, nullptr);
        m_socket->abort();
    }

private:
    QWebSocket *m_socket;
    qint64 m_unsent = 0;
};

} // namespace

// Accepts the HTTP connections and bounds them, on the throttle server's
// clock: only peers the rule admits; at most MaxConnections at a time and
// MaxPerAddress from one address, WebSockets included, and when that is full
// the connection waiting longest for its request makes room for the new one
// (a WebSocket never does); each request, head and body, complete within
// HeadMs of the connection's start or of the previous request's end however
// slowly it trickles in; and none larger than MaxRequestBytes.
//
// The listener keeps the list of its connections itself, by guarded
// pointers: Qt cuts every signal of a socket it upgrades, destroyed included,
// so a place is given back when its socket is gone or unconnected, however
// that came about.
class WebPageListener final : public QTcpServer
{
public:
    static constexpr int MaxConnections = 32;
    static constexpr int MaxPerAddress = 8;
    static constexpr int HeadMs = 10'000;
    // How often the time limits are looked at.
    static constexpr int CheckMs = 500;

    WebPageListener(Clock &clock, const PeerRule &rule) : m_clock(clock), m_rule(rule)
    {
        m_checkTimer.setInterval(CheckMs);
        connect(&m_checkTimer, &QTimer::timeout, this, &WebPageListener::checkDeadlines);
    }

    void setPeerRule(const PeerRule &rule) { m_rule = rule; }

    // A request was complete: the next one starts from nothing.
    void requestDone(QTcpSocket *socket)
    {
        if (Place *place = find(socket)) {
            place->sinceMs = m_clock.nowMs();
            place->heldBytes = 0;
        }
    }

    // The connection from peer:port became a WebSocket: from now on its
    // session watches it, and it is never dropped to make room.
    void upgraded(const QHostAddress &peer, quint16 port)
    {
        for (Place &place : m_places) {
            if (place.socket && place.socket->peerPort() == port
                && place.socket->peerAddress().isEqual(peer))
                place.upgraded = true;
        }
    }

    void checkDeadlines()
    {
        giveBack();
        const qint64 now = m_clock.nowMs();
        QList<QPointer<QTcpSocket>> late;
        for (const Place &place : m_places) {
            if (!place.upgraded && now - place.sinceMs >= HeadMs)
                late << place.socket;
        }
        if (!late.isEmpty()) {
            qCInfo(kzThrottle) << "web:" << late.size() << "connections did not finish a request in"
                               << HeadMs / 1000 << "s; closed";
        }
        for (const QPointer<QTcpSocket> &socket : late)
            drop(socket);
        if (m_places.empty())
            m_checkTimer.stop();
    }

    int connectionCount()
    {
        giveBack();
        return int(m_places.size());
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        const QHostAddress peer = socket->peerAddress();
        if (!m_rule.admits(peer)) {
            qCWarning(kzThrottle).nospace().noquote()
                << "web: refused a browser from " << peer.toString()
                << " outside the home network (" << ++m_strangers << " so far)";
            socket->abort();
            delete socket;
            return;
        }
        if (!makeRoom(peer)) {
            // Said once while the flood lasts, not once per connection.
            if (!std::exchange(m_refusing, true))
                qCWarning(kzThrottle) << "web: more than" << MaxConnections << "connections; refused";
            socket->abort();
            delete socket;
            return;
        }
        m_refusing = false;
        m_places.push_back({socket, peer, m_clock.nowMs()});
        if (!m_checkTimer.isActive())
            m_checkTimer.start();
        socket->setReadBufferSize(WebThrottle::MaxRequestBytes);
        // Connected before the HTTP server's own reader, so the bytes are
        // counted before it takes them; its reader takes all each time.
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            Place *place = find(socket);
            if (!place)
                return;
            place->heldBytes += socket->bytesAvailable();
            if (place->heldBytes >= WebThrottle::MaxRequestBytes) {
                qCWarning(kzThrottle) << "web: request from" << socket->peerAddress().toString()
                                      << "too large; connection closed";
                // After the HTTP server's reader has run for these bytes.
                QMetaObject::invokeMethod(socket, &QAbstractSocket::abort, Qt::QueuedConnection);
            }
        });
        addPendingConnection(socket);
    }

private:
    struct Place
    {
        QPointer<QTcpSocket> socket;
        QHostAddress address;
        // Since when the connection waits for its current request.
        qint64 sinceMs = 0;
        qint64 heldBytes = 0;
        bool upgraded = false;
    };

    Place *find(QTcpSocket *socket)
    {
        for (Place &place : m_places) {
            if (place.socket == socket)
                return &place;
        }
        return nullptr;
    }

    // Forgets the connections that ended, whoever ended them.
    void giveBack()
    {
        std::erase_if(m_places, [](const Place &place) {
            return !place.socket || place.socket->state() == QAbstractSocket::UnconnectedState;
        });
    }

    // Ends a connection at once and gives its place back.
    void drop(QPointer<QTcpSocket> socket)
    {
        std::erase_if(m_places, [&](const Place &place) { return place.socket == socket; });
        if (socket)
            socket->abort();
    }

    // Whether a connection from peer fits, after the one waiting longest for
    // its request was dropped where that is needed.
    bool makeRoom(const QHostAddress &peer)
    {
        giveBack();
        auto fromPeer = [&peer](const Place &place) { return place.address.isEqual(peer); };
        const bool peerFull = std::count_if(m_places.begin(), m_places.end(), fromPeer) >= MaxPerAddress;
        if (!peerFull && int(m_places.size()) < MaxConnections)
            return true;
        const Place *oldest = nullptr;
        for (const Place &place : m_places) {
            if (place.upgraded || (peerFull && !fromPeer(place)))
                continue;
            if (!oldest || place.sinceMs < oldest->sinceMs)
                oldest = &place;
        }
        if (!oldest)
            return false;
        qCDebug(kzThrottle) << "web: connections full; the one waiting longest from"
                            << oldest->address.toString() << "makes room";
        drop(oldest->socket);
        return true;
    }

    Clock &m_clock;
    PeerRule m_rule;
    QTimer m_checkTimer;
    std::vector<Place> m_places;
    bool m_refusing = false;
    int m_strangers = 0;
};

// Answers the requests: the page's files for GET, nothing else, and only
// for a Host that names this machine.
class WebPageServer final : public QAbstractHttpServer
{
public:
    explicit WebPageServer(WebPageListener &listener) : m_listener(listener)
    {
        for (const PageFile &file : PageFiles) {
            QFile resource(QString::fromLatin1(file.resource));
            if (resource.open(QIODevice::ReadOnly))
                m_files.insert(QByteArray(file.path), resource.readAll());
        }
    }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override
    {
        const WebRequestHead head = headOf(request);
        LocalIdentity self = LocalIdentity::current();
        self.addresses << socket->localAddress();
        const WebVerdict verdict = judgeWebRequest(head, self, WebThrottle::SocketPath);
        // An upgrade that is answered here is not made; one left unanswered
        // is made, and the socket comes to acceptSockets(). One refused goes
        // to missingHandler(), and its connection ends.
        if (verdict == WebVerdict::Upgrade)
            return true;
        m_listener.requestDone(socket);
        if (verdict == WebVerdict::WrongHost) {
            qCWarning(kzThrottle) << "web: refused a request for host" << head.host << "from"
                                  << socket->peerAddress().toString();
            if (!head.upgrade.isEmpty())
                return false;
            makeResponder(request, socket).write(Status::MisdirectedRequest);
            return true;
        }
        if (verdict == WebVerdict::UpgradeRefused) {
            qCWarning(kzThrottle) << "web: WebSocket refused:" << head.path << "from origin"
                                  << head.origin;
            return false;
        }
        const QByteArray path = request.url().path(QUrl::FullyEncoded).toUtf8();
        if (roster && WebRoster::isRosterPath(path)) {
            answerRoster(request, socket, path);
            return true;
        }
        const PageFile *file = nullptr;
        for (const PageFile &candidate : PageFiles) {
            if (head.path == candidate.path)
                file = &candidate;
        }
        QHttpServerResponder responder = makeResponder(request, socket);
        if (!file) {
            qCDebug(kzThrottle) << "web: no such file" << head.path;
            responder.write(Status::NotFound);
        } else if (request.method() != QHttpServerRequest::Method::Get) {
            qCDebug(kzThrottle) << "web: method refused for" << head.path;
            responder.write({{"Allow", "GET"}}, Status::MethodNotAllowed);
        } else {
            // The page loads nothing from elsewhere and talks only to us.
            responder.write(m_files.value(QByteArray(file->path)),
                            {{"Content-Type", file->type},
                             {"Cache-Control", "no-cache"},
                             {"X-Content-Type-Options", "nosniff"},
                             {"Content-Security-Policy",
                              "default-src 'self'; connect-src 'self'; img-src 'self' data:; "
                              "frame-ancestors 'none'"}});
        }
        return true;
    }

    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override
    {
        makeResponder(request, socket).write(request.value("Upgrade").isEmpty() ? Status::NotFound
                                                                               : Status::Forbidden);
    }

public:
    // The roster the apps download; none while it is not served.
    const Roster *roster = nullptr;

private:
    void answerRoster(const QHttpServerRequest &request, QTcpSocket *socket, QByteArrayView path)
    {
        QHttpServerResponder responder = makeResponder(request, socket);
        if (request.method() != QHttpServerRequest::Method::Get) {
            responder.write({{"Allow", "GET"}}, Status::MethodNotAllowed);
            return;
        }
        const WebRoster::Reply reply = WebRoster::reply(*roster, path);
        if (reply.status != 200) {
            qCDebug(kzThrottle) << "web: not in the roster:" << path;
            responder.write(Status::NotFound);
            return;
        }
        responder.write(reply.body, {{"Content-Type", reply.type},
                                     {"Cache-Control", "no-cache"},
                                     {"X-Content-Type-Options", "nosniff"}});
    }

    static WebRequestHead headOf(const QHttpServerRequest &request)
    {
        const char *method = QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(
            int(request.method()));
        return {QByteArray(method ? method : "").toUpper(),
                request.url().path(QUrl::FullyEncoded).toUtf8(), request.value("Host"),
                request.value("Origin"), request.value("Upgrade")};
    }

    WebPageListener &m_listener;
    QHash<QByteArray, QByteArray> m_files;
};

WebThrottle::WebThrottle(ThrottleServer &sessions, QObject *parent)
    : QObject(parent), m_sessions(sessions)
{
    initPageResources();
}

WebThrottle::~WebThrottle()
{
    // Only the page's server goes; the browsers' connections belong to the
    // throttle server, which ends them itself.
    m_http.reset();
}

bool WebThrottle::listen(const QHostAddress &address, quint16 port)
{
    close();
    auto listener = std::make_unique<WebPageListener>(m_sessions.clock(), m_peerRule);
    if (!listener->listen(address, port)) {
        m_error = listener->serverError();
        m_errorString = listener->errorString();
        qCWarning(kzThrottle) << "web: cannot listen on port" << port << ":" << m_errorString;
        return false;
    }
    m_error = QAbstractSocket::UnknownSocketError;
    m_errorString.clear();
    m_listener = listener.get();
    m_http = std::make_unique<WebPageServer>(*m_listener);
    m_http->roster = m_roster;
    m_http->bind(listener.release());
    connect(m_http.get(), &QAbstractHttpServer::newWebSocketConnection, this,
            &WebThrottle::acceptSockets);
    qCInfo(kzThrottle) << "web: listening on" << address << serverPort();
    return true;
}

bool WebThrottle::isListening() const
{
    return m_http != nullptr;
}

quint16 WebThrottle::serverPort() const
{
    if (!m_http)
        return 0;
    const QList<QTcpServer *> servers = m_http->servers();
    return servers.isEmpty() ? 0 : servers.first()->serverPort();
}

void WebThrottle::close()
{
    if (!m_http)
        return;
    // The HTTP connections go with the server; the browsers' sessions end as
    // lost connections, so their locos stop.
    m_listener = nullptr;
    m_http.reset();
    m_sessions.disconnectAll(ThrottleChannel::Kind::Browser);
}

void WebThrottle::setPeerRule(const PeerRule &rule)
{
    m_peerRule = rule;
    if (m_listener)
        m_listener->setPeerRule(rule);
}

void WebThrottle::checkDeadlines()
{
    if (m_listener)
        m_listener->checkDeadlines();
}

int WebThrottle::connectionCount() const
{
    return m_listener ? m_listener->connectionCount() : 0;
}

void WebThrottle::setRoster(const Roster *roster)
{
    m_roster = roster;
    if (m_http)
        m_http->roster = roster;
}

void WebThrottle::acceptSockets()
{
    while (m_http && m_http->hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = m_http->nextPendingWebSocketConnection();
        if (!socket)
            break;
        socket->setMaxAllowedIncomingFrameSize(MaxMessageBytes);
        socket->setMaxAllowedIncomingMessageSize(MaxMessageBytes);
        m_listener->upgraded(socket->peerAddress(), socket->peerPort());
        m_sessions.adopt(std::make_unique<WebSocketChannel>(std::move(socket)));
    }
}
