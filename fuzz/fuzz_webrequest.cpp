// The web throttle's rules for a request head: which Host names this machine,
// which Origin is the page's own, and what a request is answered with; and
// the address rule for the peer.
//
// Input: the method, path, Host, Origin and Upgrade of one request, and a
// peer address, each up to a zero byte.
//
// What must hold for every input:
// - a request whose Host is not this machine's is answered with nothing but
//   the refusal, and only such a request;
// - a WebSocket is opened only at /ws, by GET, with "Upgrade: websocket",
//   from the page's own origin; a request with any Upgrade is never served a
//   file;
// - case does not matter in a name, and no foreign domain after a Host makes
//   it this machine's (the rebinding page's "stellwerk.angreifer.example");
// - a Host of this machine with the origin a page served from it would send
//   is the page's own origin;
// - an IPv4 peer counts the same as its IPv4-mapped IPv6 form.

#include "fuzzinput.h"

#include "throttleserver/netpolicy.h"

namespace {

const LocalIdentity &self()
{
    static const LocalIdentity identity{
        QStringLiteral("stellwerk"),
        {QHostAddress(QStringLiteral("192.168.1.20")), QHostAddress(QStringLiteral("127.0.0.1")),
         QHostAddress(QStringLiteral("::1")), QHostAddress(QStringLiteral("fe80::1")),
         QHostAddress(QStringLiteral("fd00::20"))}};
    return identity;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    WebRequestHead head;
    head.method = in.untilZero();
    head.path = in.untilZero();
    head.host = in.untilZero();
    head.origin = in.untilZero();
    head.upgrade = in.untilZero();
    const QByteArray peer = in.untilZero();

    const bool own = isOwnHost(head.host, self());
    const WebVerdict verdict = judgeWebRequest(head, self(), "/ws");
    FUZZ_CHECK((verdict == WebVerdict::WrongHost) == !own);
    if (verdict == WebVerdict::Upgrade) {
        FUZZ_CHECK(head.path == "/ws" && head.method == "GET");
        FUZZ_CHECK(head.upgrade.compare("websocket", Qt::CaseInsensitive) == 0);
        FUZZ_CHECK(isOwnOrigin(head.origin, head.host));
    }
    if (verdict == WebVerdict::Answer)
        FUZZ_CHECK(head.upgrade.isEmpty());

    if (!head.host.startsWith('[')) {
        FUZZ_CHECK(isOwnHost(head.host.toUpper(), self()) == own);
        FUZZ_CHECK(isOwnHost(head.host.toLower(), self()) == own);
    }
    FUZZ_CHECK(!isOwnHost(QByteArray(head.host + ".angreifer.example"), self()));
    FUZZ_CHECK(!isOwnHost(QByteArray(head.host + ".local.angreifer.example"), self()));
    if (own)
        FUZZ_CHECK(isOwnOrigin(QByteArray("http://" + head.host), head.host));

    const QHostAddress address(QString::fromLatin1(peer));
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        const QHostAddress mapped(QStringLiteral("::ffff:") + address.toString());
        FUZZ_CHECK(isHomeNetworkAddress(address) == isHomeNetworkAddress(mapped));
    }
    return 0;
}
