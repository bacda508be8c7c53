#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>
#include <QList>
#include <QString>

// Who may talk to the throttle servers, as plain rules without sockets: the
// peer's address, the host a browser names, and what the app port refuses as
// HTTP. Both servers apply them; the tests read them as tables.

// Loopback (127/8, ::1), private (10/8, 172.16/12, 192.168/16, fc00::/7) and
// link-local (169.254/16, fe80::/10) addresses; an IPv4 address counts the
// same when written IPv4-mapped (::ffff:192.168.1.31), as a dual-stack socket
// reports it.
bool isHomeNetworkAddress(const QHostAddress &address);

// Which peers a server takes: those of the home network, or every one when
// the user allowed connections from other networks. Tests narrow isHome to
// see a refusal on 127.0.0.1.
struct PeerRule
{
    bool allNetworks = false;
    bool (*isHome)(const QHostAddress &) = isHomeNetworkAddress;

    bool admits(const QHostAddress &peer) const { return allNetworks || isHome(peer); }
};

// The names a browser that really means this machine gives it.
struct LocalIdentity
{
    QString hostName;
    QList<QHostAddress> addresses;

    // This machine's name and the addresses of all its interfaces.
    static LocalIdentity current();
};

// Whether a Host header ("name", "name:port", "[v6]:port") names this
// machine: one of its addresses, "localhost", its name, or its name with
// ".local", in any case. A name that merely begins with the machine's name
// (as a rebinding page's "stellwerk.angreifer.example") is not ours.
bool isOwnHost(QByteArrayView host, const LocalIdentity &self);

// Whether a WebSocket handshake came from a page served by the very host and
// port the request was sent to: the Origin is http, has nothing but scheme,
// host and port, and names the same host and port as the Host header.
bool isOwnOrigin(QByteArrayView origin, QByteArrayView host);

// The parts of a web request that decide how it is answered.
struct WebRequestHead
{
    QByteArray method;   // "GET", upper case
    QByteArray path;     // as sent, percent-encoded
    QByteArray host;     // the Host header
    QByteArray origin;   // the Origin header
    QByteArray upgrade;  // the Upgrade header
};

enum class WebVerdict {
    Answer,          // a request to this machine: the page's file, 404 or 405
    WrongHost,       // a name that is not this machine's: 421
    Upgrade,         // the page's own WebSocket
    UpgradeRefused,  // a WebSocket from elsewhere, or to another path: 403
};

// The Host first, for every request; then an upgrade only at the socket's
// path, by GET, from the page's own origin.
WebVerdict judgeWebRequest(const WebRequestHead &head, const LocalIdentity &self,
                           QByteArrayView socketPath);

// What the app port takes for HTTP: a request line ("POST / HTTP/1.1") as a
// connection's first line, or a header line ("Host: x", a name of letters,
// digits and dashes, a colon and a blank or nothing) at any time. The name
// and id lines (N…, HU…) carry free text and are never taken for headers.
bool isHttpRequestLine(QByteArrayView line);
bool isHttpHeaderLine(QByteArrayView line);
