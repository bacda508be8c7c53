#include "throttleserver/webthrottle.h"

#include "throttleserver/throttlelog.h"
#include "throttleserver/throttleserver.h"
#include "throttleserver/webroster.h"

#include <QAbstractHttpServer>
#include <QFile>
#include <QHostInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <utility>

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

// Accepts the HTTP connections and bounds them: at most MaxConnections at a
// time (WebSockets included), each ended after IdleMs without a byte until it
// becomes a WebSocket, and none may send more than MaxRequestBytes before its
// request is complete (the socket reads no more, and the connection ends).
class WebPageListener final : public QTcpServer
{
public:
    using QTcpServer::QTcpServer;

    static constexpr int MaxConnections = 32;
    static constexpr int IdleMs = 30'000;

    // A request was complete: the next one starts from nothing.
    static void requestDone(QTcpSocket *socket) { socket->setProperty(HeldProperty, 0); }
    // The connection is a WebSocket from now on; the session watches it.
    static void upgraded(QTcpSocket *socket) { socket->setProperty(UpgradedProperty, true); }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor) || m_open >= MaxConnections) {
            // Said once while the flood lasts, not once per connection.
            if (m_open >= MaxConnections && !std::exchange(m_refusing, true))
                qCWarning(kzThrottle) << "web: more than" << MaxConnections << "connections; refused";
            delete socket;
            return;
        }
        ++m_open;
        connect(socket, &QObject::destroyed, this, [this] {
            if (--m_open < MaxConnections)
                m_refusing = false;
        });
        socket->setReadBufferSize(WebThrottle::MaxRequestBytes);
        auto *idle = new QTimer(socket);
        idle->setSingleShot(true);
        idle->setInterval(IdleMs);
        connect(idle, &QTimer::timeout, socket, [socket] {
            if (!socket->property(UpgradedProperty).toBool())
                socket->disconnectFromHost();
        });
        idle->start();
        // Connected before the HTTP server's own reader, so the bytes are
        // counted before it takes them; its reader takes all each time.
        connect(socket, &QTcpSocket::readyRead, socket, [socket, idle] {
            idle->start();
            const qint64 held = socket->property(HeldProperty).toLongLong() + socket->bytesAvailable();
            socket->setProperty(HeldProperty, held);
            if (held >= WebThrottle::MaxRequestBytes) {
                qCWarning(kzThrottle) << "web: request from" << socket->peerAddress().toString()
                                      << "too large; connection closed";
                // After the HTTP server's reader has run for these bytes.
                QMetaObject::invokeMethod(socket, &QAbstractSocket::abort, Qt::QueuedConnection);
            }
        });
        addPendingConnection(socket);
    }

private:
    static constexpr const char *HeldProperty = "kzRequestBytes";
    static constexpr const char *UpgradedProperty = "kzWebSocket";
    int m_open = 0;
    bool m_refusing = false;
};

// Answers the requests: the page's files for GET, nothing else.
class WebPageServer final : public QAbstractHttpServer
{
public:
    WebPageServer()
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
        WebPageListener::requestDone(socket);
        // An upgrade that is answered here is not made; one left unanswered
        // is made, and the socket comes to acceptSockets(). One refused goes
        // to missingHandler(), and its connection ends.
        if (isUpgrade(request)) {
            if (!isPageSocket(request))
                return false;
            WebPageListener::upgraded(socket);
            return true;
        }
        const QByteArray path = request.url().path(QUrl::FullyEncoded).toUtf8();
        if (roster && WebRoster::isRosterPath(path)) {
            answerRoster(request, socket, path);
            return true;
        }
        const PageFile *file = nullptr;
        for (const PageFile &candidate : PageFiles) {
            if (path == candidate.path)
                file = &candidate;
        }
        QHttpServerResponder responder = makeResponder(request, socket);
        if (!file) {
            qCDebug(kzThrottle) << "web: no such file" << path;
            responder.write(Status::NotFound);
        } else if (request.method() != QHttpServerRequest::Method::Get) {
            qCDebug(kzThrottle) << "web: method refused for" << path;
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
        makeResponder(request, socket).write(isUpgrade(request) ? Status::Forbidden
                                                                : Status::NotFound);
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

    static bool isUpgrade(const QHttpServerRequest &request)
    {
        return request.value("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
    }

    static bool isPageSocket(const QHttpServerRequest &request)
    {
        const QUrl host(QStringLiteral("http://") + QString::fromLatin1(request.value("Host")),
                        QUrl::StrictMode);
        const QString origin = QString::fromLatin1(request.value("Origin"));
        if (request.url().path(QUrl::FullyEncoded) == QLatin1String(WebThrottle::SocketPath)
            && request.method() == QHttpServerRequest::Method::Get
            && isOwnOrigin(origin, host, QHostInfo::localHostName()))
            return true;
        qCWarning(kzThrottle) << "web: WebSocket refused:" << request.url().path() << "from origin"
                              << origin;
        return false;
    }


private:
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
    auto listener = std::make_unique<WebPageListener>();
    if (!listener->listen(address, port)) {
        m_error = listener->serverError();
        m_errorString = listener->errorString();
        qCWarning(kzThrottle) << "web: cannot listen on port" << port << ":" << m_errorString;
        return false;
    }
    m_error = QAbstractSocket::UnknownSocketError;
    m_errorString.clear();
    m_http = std::make_unique<WebPageServer>();
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
    m_http.reset();
    m_sessions.disconnectAll(ThrottleChannel::Kind::Browser);
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
        m_sessions.adopt(std::make_unique<WebSocketChannel>(std::move(socket)));
    }
}

bool isOwnOrigin(const QString &origin, const QUrl &requestHost, const QString &localHostName)
{
    const QUrl from(origin, QUrl::StrictMode);
    if (!from.isValid() || from.scheme() != QLatin1String("http") || from.host().isEmpty()
        || !from.userInfo().isEmpty() || !(from.path().isEmpty() || from.path() == QLatin1String("/")))
        return false;
    const QString host = requestHost.host();
    if (!requestHost.isValid() || host.isEmpty() || from.host().compare(host, Qt::CaseInsensitive) != 0
        || from.port(80) != requestHost.port(80))
        return false;
    if (!QHostAddress(host).isNull() || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    // This machine's own name, alone or in the local domain.
    return !localHostName.isEmpty()
        && (host.compare(localHostName, Qt::CaseInsensitive) == 0
            || host.startsWith(localHostName + QLatin1Char('.'), Qt::CaseInsensitive));
}
