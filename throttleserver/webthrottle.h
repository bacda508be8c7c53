#pragma once

#include "throttleserver/netpolicy.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>

class QWebSocket;
class Roster;
class ThrottleServer;
class WebPageListener;
class WebPageServer;

// The web throttle: serves the throttle page from the program's resources and
// hands each WebSocket the page opens at /ws to the throttle server, which
// runs it as one more client with its own ThrottleSession (one line per text
// message, the same limits and heartbeat as an app). Nothing but GET of the
// page's own files is answered, and only for a Host that names this machine;
// a WebSocket from any other origin is closed. The time limits run on the
// throttle server's clock. Logging goes to kz.throttle.
class WebThrottle final : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 DefaultPort = 12080;
    // An HTTP request (line, headers and any body) larger than this ends its
    // connection; the page's own requests take a few hundred bytes.
    static constexpr qint64 MaxRequestBytes = 8 * 1024;
    // A WebSocket message larger than this ends its connection at once; one
    // up to it reaches the session, which refuses a line over 1 KiB itself.
    static constexpr qint64 MaxMessageBytes = 4 * 1024;
    // The path the page opens its WebSocket at.
    static constexpr const char *SocketPath = "/ws";

    // The server must outlive the web throttle.
    explicit WebThrottle(ThrottleServer &sessions, QObject *parent = nullptr);
    ~WebThrottle() override;

    // False when the port cannot be had (serverError() tells why); the web
    // throttle then stays off.
    bool listen(const QHostAddress &address, quint16 port);
    bool isListening() const;
    quint16 serverPort() const;
    QAbstractSocket::SocketError serverError() const { return m_error; }
    QString errorString() const { return m_errorString; }
    // Stops serving; the browsers are dropped as lost connections.
    void close();
    // The roster served at /roster/ for the apps' download (none: not served).
    void setRoster(const Roster *roster);
    // Which browsers may connect; one refused is closed at once and logged.
    void setPeerRule(const PeerRule &rule);
    // The HTTP connections open now, WebSockets included.
    int connectionCount() const;

public Q_SLOTS:
    // Ends the connections whose request did not arrive in time, on the
    // clock's time; a timer calls it, tests may too.
    void checkDeadlines();

private:
    void acceptSockets();

    ThrottleServer &m_sessions;
    PeerRule m_peerRule;
    const Roster *m_roster = nullptr;
    std::unique_ptr<WebPageServer> m_http;
    // Owned by m_http.
    WebPageListener *m_listener = nullptr;
    QAbstractSocket::SocketError m_error = QAbstractSocket::UnknownSocketError;
    QString m_errorString;
};
