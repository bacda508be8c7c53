#include "throttleserver/netpolicy.h"

#include <QHostInfo>
#include <QNetworkInterface>
#include <QUrl>

#include <optional>

namespace {

bool inIPv4Net(quint32 address, quint32 net, int bits)
{
    const quint32 mask = bits == 0 ? 0 : ~quint32(0) << (32 - bits);
    return (address & mask) == net;
}

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The host of a Host header ("name", "name:port", "[v6]:port"); nullopt
// when it is no host at all or its port is none.
std::optional<QString> hostPart(QByteArrayView header)
{
    QByteArrayView host = header;
    QByteArrayView port;
    if (host.startsWith('[')) {
        const qsizetype end = host.indexOf(']');
        if (end < 0)
            return std::nullopt;
        port = host.sliced(end + 1);
        host = host.sliced(1, end - 1);
        if (!port.isEmpty() && !port.startsWith(':'))
            return std::nullopt;
        // Hex digits, colons and an IPv4 tail only: QHostAddress would take
        // blanks and a zone too, which no browser sends.
        for (const char c : host) {
            if (!isAsciiDigit(c) && !(c >= 'a' && c <= 'f') && !(c >= 'A' && c <= 'F') && c != ':'
                && c != '.')
                return std::nullopt;
        }
        if (QHostAddress(QString::fromLatin1(host)).protocol() != QAbstractSocket::IPv6Protocol)
            return std::nullopt;
    } else {
        const qsizetype colon = host.indexOf(':');
        if (colon >= 0) {
            port = host.sliced(colon);
            host = host.first(colon);
        }
        for (const char c : host) {
            if (!isAsciiLetter(c) && !isAsciiDigit(c) && c != '.' && c != '-')
                return std::nullopt;
        }
    }
    if (host.isEmpty())
        return std::nullopt;
    if (!port.isEmpty()) {
        port = port.sliced(1);
        if (port.isEmpty() || port.size() > 5)
            return std::nullopt;
        int number = 0;
        for (const char c : port) {
            if (!isAsciiDigit(c))
                return std::nullopt;
            number = number * 10 + (c - '0');
        }
        if (number > 65535)
            return std::nullopt;
    }
    return QString::fromLatin1(host);
}

} // namespace

bool isHomeNetworkAddress(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 v4 = address.toIPv4Address(&isIPv4);
    if (isIPv4) {
        return inIPv4Net(v4, 0x7f000000, 8)         // 127.0.0.0/8
               || inIPv4Net(v4, 0x0a000000, 8)      // 10.0.0.0/8
               || inIPv4Net(v4, 0xac100000, 12)     // 172.16.0.0/12
               || inIPv4Net(v4, 0xc0a80000, 16)     // 192.168.0.0/16
               || inIPv4Net(v4, 0xa9fe0000, 16);    // 169.254.0.0/16
    }
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return false;
    const Q_IPV6ADDR v6 = address.toIPv6Address();
    if (address.isLoopback())
        return true;
    return (v6[0] == 0xfe && (v6[1] & 0xc0) == 0x80)   // fe80::/10
           || (v6[0] & 0xfe) == 0xfc;                   // fc00::/7
}

LocalIdentity LocalIdentity::current()
{
    return {QHostInfo::localHostName(), QNetworkInterface::allAddresses()};
}

bool isOwnHost(QByteArrayView header, const LocalIdentity &self)
{
    const std::optional<QString> host = hostPart(header);
    if (!host)
        return false;
    const QHostAddress literal(*host);
    if (!literal.isNull()) {
        for (const QHostAddress &own : self.addresses) {
            if (literal.isEqual(own, QHostAddress::TolerantConversion))
                return true;
        }
        return false;
    }
    if (host->compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    if (self.hostName.isEmpty())
        return false;
    return host->compare(self.hostName, Qt::CaseInsensitive) == 0
           || host->compare(self.hostName + QLatin1String(".local"), Qt::CaseInsensitive) == 0;
}

bool isOwnOrigin(QByteArrayView origin, QByteArrayView host)
{
    const QUrl from(QString::fromLatin1(origin), QUrl::StrictMode);
    if (!from.isValid() || from.scheme() != QLatin1String("http") || from.host().isEmpty()
        || !from.userInfo().isEmpty() || from.hasQuery() || from.hasFragment()
        || !(from.path().isEmpty() || from.path() == QLatin1String("/")))
        return false;
    const QUrl to(QStringLiteral("http://") + QString::fromLatin1(host), QUrl::StrictMode);
    if (!to.isValid() || to.host().isEmpty() || !to.userInfo().isEmpty() || !to.path().isEmpty())
        return false;
    return from.host().compare(to.host(), Qt::CaseInsensitive) == 0 && from.port(80) == to.port(80);
}

WebVerdict judgeWebRequest(const WebRequestHead &head, const LocalIdentity &self,
                           QByteArrayView socketPath)
{
    if (!isOwnHost(head.host, self))
        return WebVerdict::WrongHost;
    if (head.upgrade.isEmpty())
        return WebVerdict::Answer;
    if (head.path == socketPath && head.method == "GET"
        && head.upgrade.compare("websocket", Qt::CaseInsensitive) == 0
        && isOwnOrigin(head.origin, head.host))
        return WebVerdict::Upgrade;
    return WebVerdict::UpgradeRefused;
}

bool isHttpRequestLine(QByteArrayView line)
{
    // METHOD SP target SP HTTP/digit…: every method in use is upper-case
    // letters, and the target holds no blank.
    qsizetype i = 0;
    while (i < line.size() && line[i] >= 'A' && line[i] <= 'Z')
        ++i;
    if (i == 0 || i >= line.size() || line[i] != ' ')
        return false;
    const qsizetype target = ++i;
    while (i < line.size() && line[i] != ' ')
        ++i;
    if (i == target || i >= line.size())
        return false;
    const QByteArrayView version = line.sliced(i + 1);
    return version.size() > 5 && version.startsWith("HTTP/") && isAsciiDigit(version[5]);
}

bool isHttpHeaderLine(QByteArrayView line)
{
    if (line.startsWith('N') || line.startsWith("HU"))
        return false;
    qsizetype i = 0;
    while (i < line.size() && (isAsciiLetter(line[i]) || isAsciiDigit(line[i]) || line[i] == '-'))
        ++i;
    if (i < 2 || i >= line.size() || line[i] != ':')
        return false;
    return i + 1 == line.size() || line[i + 1] == ' ' || line[i + 1] == '\t';
}
