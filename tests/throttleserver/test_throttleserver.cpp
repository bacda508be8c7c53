#include "throttlehostrecorder.h"

#include "link/clock.h"
#include "throttleserver/netpolicy.h"
#include "roster/roster.h"
#include "throttleserver/throttleserver.h"
#include "throttleserver/webthrottle.h"

#include "../support/phoneclient.h"
#include "../support/testmain.h"

#include <QHostInfo>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QWebSocket>

#include <algorithm>
#include <memory>

namespace {

// One raw HTTP request, written as given (so that nothing normalises the
// path), to 127.0.0.1; the answer's status and Content-Type, status 0 when
// none came.
struct HttpAnswer
{
    int status = 0;
    QByteArray type;
    bool closed = false;    // the server ended the connection
};

// Waits on the sockets (at most 5 s) rather than polling every 10 ms, so
// that hundreds of connections take a second, not half a minute.
template<typename Done>
bool waitUntil(const Done &done)
{
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    return done();
}

HttpAnswer httpRequest(quint16 port, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(request);
    QByteArray answer;
    (void)waitUntil([&] {
        answer += socket.readAll();
        return answer.contains("\r\n\r\n") || socket.state() != QAbstractSocket::ConnectedState;
    });
    answer += socket.readAll();
    HttpAnswer result;
    result.closed = socket.state() != QAbstractSocket::ConnectedState;
    if (!answer.startsWith("HTTP/1.1 "))
        return result;
    result.status = answer.mid(9, 3).toInt();
    const QRegularExpressionMatch type =
        QRegularExpression("\r\nContent-Type: ([^;\r]*)", QRegularExpression::CaseInsensitiveOption)
            .match(QString::fromLatin1(answer));
    result.type = type.captured(1).toLatin1();
    return result;
}

// A browser's WebSocket: its messages as lines.
class BrowserClient
{
public:
    BrowserClient(quint16 port, const QString &origin, const QString &path = QStringLiteral("/ws"))
        : m_socket(origin)
    {
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived,
                         [this](const QString &message) { m_messages << message.toUtf8(); });
        m_socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1%2").arg(port).arg(path)));
    }

    QWebSocket &socket() { return m_socket; }
    void send(const QByteArray &line) { m_socket.sendTextMessage(QString::fromUtf8(line)); }
    // Waits until count messages came (at most 5 s); fewer when they did not.
    QByteArrayList lines(int count)
    {
        (void)QTest::qWaitFor([&] { return m_messages.size() >= count; }, 5000);
        const QByteArrayList out = m_messages.mid(0, count);
        m_messages.remove(0, out.size());
        return out;
    }
    bool closed()
    {
        return QTest::qWaitFor([&] { return m_socket.state() == QAbstractSocket::UnconnectedState; },
                               5000);
    }

private:
    QWebSocket m_socket;
    QByteArrayList m_messages;
};

QString pageOrigin(quint16 port)
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

QByteArray getPage(const QByteArray &host)
{
    return "GET / HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
}

// A connection that is opened and then left as it is, from a loopback
// address of its own (127.0.0.2 and so on are this machine too).
std::unique_ptr<QTcpSocket> openFrom(const QHostAddress &from, quint16 port)
{
    auto socket = std::make_unique<QTcpSocket>();
    if (!socket->bind(from))
        return nullptr;
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (!socket->waitForConnected(5000))
        return nullptr;
    return socket;
}

qsizetype openSockets(const std::vector<std::unique_ptr<QTcpSocket>> &sockets)
{
    return std::count_if(sockets.begin(), sockets.end(), [](const auto &socket) {
        return socket->state() == QAbstractSocket::ConnectedState;
    });
}

bool noHome(const QHostAddress &)
{
    return false;
}

} // namespace

// The server over a real TCP connection on 127.0.0.1: bytes reach the
// session, lines reach the client, connections end as they should.
class TestThrottleServer : public QObject
{
    Q_OBJECT

    ThrottleHostRecorder m_host;
    ManualClock m_clock;

private Q_SLOTS:
    void init() { m_host = ThrottleHostRecorder(); }

    // A conversation over TCP, step by step. "> line" the phone sends;
    // "< line" the next line the phone reads must be this ("< prefix×n": the
    // next n lines begin with prefix); "! intent" the next intent the host
    // got; "+ms" the server's clock moves on and the server looks at its
    // sessions; "unchecked" no controller passed the check; "momentary a b"
    // the server's list; "acquire n-m" throttle 0 acquires those locos and
    // reads their lines; "gone" the server closed the connection. Every row
    // starts after the greeting and ends with nothing more sent.
    void conversesOverTcp_data()
    {
        QTest::addColumn<QStringList>("script");
        const QStringList acquire3{"> M0+S3<;>S3", "< M0+S3<;>", "< M0AS3<;>F×29", "< M0AS3<;>V0",
                                   "< M0AS3<;>R1", "< M0AS3<;>s1"};
        const QStringList hello{"> NPixel", "< *10"};

        QTest::newRow("F2 on while pressed, F3 latches, m lines change it")
            << hello + acquire3
                   + QStringList{"> M0AS3<;>F12", "! function 3 F2 on", "> M0AS3<;>F02",
                                 "! function 3 F2 off", "> M0AS3<;>F13", "! function 3 F3 on",
                                 "> M0AS3<;>F03", "> M0AS3<;>m13", "> M0AS3<;>m02",
                                 "> M0AS3<;>F13", "! function 3 F3 on", "> M0AS3<;>F03",
                                 "! function 3 F3 off", "> M0AS3<;>F12", "! function 3 F2 on",
                                 "> M0AS3<;>F02", "> M0A*<;>qV", "< M0AS3<;>V0"};
        QTest::newRow("the server's momentary list")
            << QStringList{"momentary 5"} + hello + acquire3
                   + QStringList{"> M0AS3<;>F15", "! function 3 F5 on", "> M0AS3<;>F05",
                                 "! function 3 F5 off", "> M0AS3<;>F12", "! function 3 F2 on",
                                 "> M0AS3<;>F02", "> M0A*<;>qV", "< M0AS3<;>V0"};
        QTest::newRow("every line of an older throttle")
            << QStringList{"> NHW", "< *10", "> TV60", "> TL1234", "< TF×29", "< TV0", "< TR1",
                           "< Ts1", "> TV60", "! speed 1234 121", "> TR0",
                           "! direction 1234 reverse", "> TF10", "! function 1234 F0 on",
                           "> Tf00", "! function 1234 F0 off", "> TqV", "< TV60", "> TqR",
                           "< TR0", "> TI", "! speed 1234 0", "> TX", "! stop 1234", "> TS3",
                           "! released 1234", "< TF×29", "< TV0", "< TR1", "< Ts1", "> TV126",
                           "! speed 3 255", "> Tr", "! released 3", "> TELok 1234", "< TF×29",
                           "< TV0", "< TR0", "< Ts1", "> Td", "! released 1234", "> TV10",
                           "> SL1234", "< SF×29", "< SV0", "< SR0", "< Ss1", "> SV10",
                           "! speed 1234 20", "> Sr", "! released 1234", "> NHW", "< *10"};
        QTest::newRow("release answers: one, two, none")
            << hello + acquire3
                   + QStringList{"> M0-L3<;>r", "! released 3", "< M0-S3<;>", "> M0+L3<;>L3",
                                 "< M0+L3<;>", "< M0AL3<;>F×29", "< M0AL3<;>V0",
                                 "< M0AL3<;>R1", "< M0AL3<;>s1", "> M0+L1012<;>L1012",
                                 "< M0+L1012<;>", "< M0AL1012<;>F×29", "< M0AL1012<;>V0",
                                 "< M0AL1012<;>R1", "< M0AL1012<;>s1", "> M0-*<;>r",
                                 "! released 3", "! released 1012", "< M0-L3<;>",
                                 "< M0-L1012<;>", "> M0-*<;>r", "> M0-S3<;>d", "> NPixel",
                                 "< *10"};
        QTest::newRow("the 33rd loco is refused")
            << hello
                   + QStringList{"acquire 1-32", "> M1+S33<;>S33",
                                 "< HMHöchstens 32 Loks je Handregler", "> M0-S1<;>r",
                                 "! released 1", "< M0-S1<;>", "> M1+S33<;>S33", "< M1+S33<;>",
                                 "< M1AS33<;>F×29", "< M1AS33<;>V0", "< M1AS33<;>R1",
                                 "< M1AS33<;>s1"};
        QTest::newRow("a connection without N or HU is closed after 30 s")
            << QStringList{"+29999", "> M0+S3<;>S3", "< M0+S3<;>", "< M0AS3<;>F×29",
                           "< M0AS3<;>V0", "< M0AS3<;>R1", "< M0AS3<;>s1", "+1", "! stop 3",
                           "! closed: no introduction", "gone"};
        QTest::newRow("HU alone keeps the connection")
            << QStringList{"> HUa1"} + acquire3
                   + QStringList{"+60000", "> M0A*<;>qV", "< M0AS3<;>V0"};
        QTest::newRow("a beat 2.5 s late is fine, twice the interval stops")
            << hello + acquire3
                   + QStringList{"> *+", "> M0A*<;>qV", "< M0AS3<;>V0", "+12500", "> *", "> M0A*<;>qV", "< M0AS3<;>V0",
                                 "+12500", "> *", "> M0A*<;>qV", "< M0AS3<;>V0", "+20000",
                                 "! stop 3"};
        // All in one write, so that the body's lines come in the same
        // segment as the request line.
        QTest::newRow("a browser's POST: nothing in its body drives")
            << QStringList{"> POST / HTTP/1.1\r\nHost: 127.0.0.1:12090\r\nOrigin: "
                           "http://angreifer.example\r\nContent-Type: text/plain\r\n"
                           "Content-Length: 34\r\n\r\nNX\nM0+S3<;>S3\nM0A*<;>V126\nPPA0",
                           "! closed: spoke http", "gone"};
        QTest::newRow("a header line after N")
            << hello + acquire3
                   + QStringList{"> Host: 127.0.0.1:12090\nM0A*<;>V126", "! stop 3",
                                 "! closed: spoke http", "gone"};
        QTest::newRow("before the check: HM once, the state unchanged")
            << QStringList{"unchecked"} + hello + acquire3
                   + QStringList{"> M0A*<;>V50", "! speed 3 101",
                                 "< HMController nicht geprüft – bitte am PC „Prüfen“ drücken",
                                 "> PPA1", "! power on", "> M0A*<;>X", "! stop 3", "> NPixel",
                                 "< *10"};
    }
    void conversesOverTcp()
    {
        QFETCH(QStringList, script);
        if (script.contains(QStringLiteral("! closed: spoke http"))) {
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("closed a client from 127.0.0.1 that spoke "
                                                    "HTTP \\(1 so far\\)"));
        }
        ThrottleServer server(m_host, m_clock);
        server.setRoster({3, 1012, 1234});
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        PhoneClient phone(server.serverPort());
        QCOMPARE(phone.lines(4).size(), 4);
        qsizetype intents = 0;
        for (const QString &step : script) {
            const QString text = step.mid(2);
            if (step.startsWith(QLatin1String("> "))) {
                phone.send(text.toUtf8() + '\n');
            } else if (step.startsWith(QLatin1String("< "))) {
                const qsizetype times = text.indexOf(QChar(0xd7));
                if (times < 0) {
                    QCOMPARE(QString::fromUtf8(phone.lines(1).value(0)), text);
                    continue;
                }
                const int count = text.mid(times + 1).toInt();
                const QByteArrayList lines = phone.lines(count);
                QCOMPARE(lines.size(), count);
                for (const QByteArray &line : lines)
                    QVERIFY2(line.startsWith(text.left(times).toUtf8()), line.constData());
            } else if (step.startsWith(QLatin1String("! "))) {
                QTRY_VERIFY(m_host.transcript.size() > intents);
                QCOMPARE(m_host.transcript.at(intents++), step);
            } else if (step.startsWith(QLatin1Char('+'))) {
                m_clock.advance(step.mid(1).toLongLong());
                server.checkHeartbeats();
            } else if (step == QLatin1String("unchecked")) {
                m_host.checked = false;
            } else if (step.startsWith(QLatin1String("momentary "))) {
                server.setMomentaryFunctions({step.mid(10).toInt()});
            } else if (step.startsWith(QLatin1String("acquire "))) {
                const QStringList range = step.mid(8).split(QLatin1Char('-'));
                for (int loco = range.first().toInt(); loco <= range.last().toInt(); ++loco) {
                    phone.send("M0+S" + QByteArray::number(loco) + "<;>S" + QByteArray::number(loco)
                               + '\n');
                    QCOMPARE(phone.last(33), QByteArray("M0AS" + QByteArray::number(loco) + "<;>s1"));
                }
            } else if (step == QLatin1String("gone")) {
                QTRY_COMPARE(phone.socket().state(), QAbstractSocket::UnconnectedState);
                QVERIFY(phone.socket().bytesAvailable() == 0);
                QCOMPARE(server.clientCount(), 0);
            } else {
                QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
            }
        }
        QCOMPARE(m_host.transcript.mid(intents), QStringList());
        QCOMPARE(phone.unread(), QByteArray());
    }

    void drivesOverTcp()
    {
        ThrottleServer server(m_host, m_clock);
        server.setRoster({3});
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));

        PhoneClient phone(server.serverPort());
        QCOMPARE(phone.lines(4),
                 (QByteArrayList{"VN2.0", "RL1]\\[Lok 3}|{3}|{S", "PPA1", "*10"}));
        phone.send("NPixel\r\nM0+S3<;>S3\nM0A*<;>V63\n");
        QCOMPARE(phone.lines(1), QByteArrayList{"*10"});
        QCOMPARE(phone.lines(33).first(), QByteArray("M0+S3<;>"));
        QTRY_COMPARE(m_host.transcript, QStringList{"! speed 3 128"});
        QCOMPARE(server.clients().size(), 1);
        QCOMPARE(server.clients().first().name, QStringLiteral("Pixel"));
        QCOMPARE(server.clients().first().address, QStringLiteral("127.0.0.1"));
        QCOMPARE(server.clients().first().locos, QList<int>{3});

        // What the program changes reaches the phone.
        server.locoStateChanged(3, {128, false, 1});
        QCOMPARE(phone.lines(3),
                 (QByteArrayList{"M0AS3<;>F10", "M0AS3<;>V63", "M0AS3<;>R0"}));

        // Heartbeat silence, on the server's clock.
        // (the query's answer shows that the server has read the line before)
        phone.send("*+\nM0A*<;>qV\n");
        QCOMPARE(phone.lines(1), QByteArrayList{"M0AS3<;>V63"});
        m_clock.advance(15'001);
        server.checkHeartbeats();
        QCOMPARE(m_host.transcript.last(), QStringLiteral("! stop 3"));

        // The connection drops without Q: the loco is stopped.
        m_host.transcript.clear();
        phone.socket().abort();
        QTRY_COMPARE(server.clientCount(), 0);
        QCOMPARE(m_host.transcript,
                 (QStringList{"! stop 3", "! closed: connection lost"}));
    }

    void quitLeavesTheLocosAndCloses()
    {
        m_host.transcript.clear();
        ThrottleServer server(m_host, m_clock);
        server.setRoster({3});
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        PhoneClient phone(server.serverPort());
        phone.lines(4);
        phone.send("M0+S3<;>S3\nQ\n");
        QTRY_COMPARE(phone.socket().state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(server.clientCount(), 0);
        QCOMPARE(m_host.transcript, (QStringList{"! quit", "! closed: quit"}));
    }

    void closesTheNinthClientAndAnAbuser()
    {
        m_host.transcript.clear();
        ThrottleServer server(m_host, m_clock);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        std::vector<std::unique_ptr<PhoneClient>> phones;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused a client beyond 8"));
        for (int i = 0; i < ThrottleServer::MaxClients + 1; ++i)
            phones.push_back(std::make_unique<PhoneClient>(server.serverPort()));
        // Which of the nine comes last is the network's business.
        auto closedPhones = [&] {
            return std::count_if(phones.begin(), phones.end(), [](const auto &phone) {
                return phone->socket().state() == QAbstractSocket::UnconnectedState;
            });
        };
        QTRY_COMPARE(closedPhones(), 1);
        QCOMPARE(server.clientCount(), ThrottleServer::MaxClients);
        std::erase_if(phones, [](const auto &phone) {
            return phone->socket().state() == QAbstractSocket::UnconnectedState;
        });
        for (const auto &phone : phones)
            QCOMPARE(phone->lines(4).first(), QByteArray("VN2.0"));

        // A line past 1 KiB ends that client only.
        phones[0]->send(QByteArray(1025, 'A'));
        QTRY_COMPARE(phones[0]->socket().state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(server.clientCount(), ThrottleServer::MaxClients - 1);
        QCOMPARE(m_host.transcript, QStringList{"! closed: line too long"});
        phones[1]->send("NStill here\n");
        QCOMPARE(phones[1]->lines(1), QByteArrayList{"*10"});
    }

    // A client with a small receive buffer that reads nothing while the
    // server has much to say: once 256 KiB wait unsent it counts as lost and
    // its loco stops; a client that reads gets everything.
    void dropsAClientThatReadsNothing()
    {
        m_host.transcript.clear();
        ThrottleServer server(m_host, m_clock);
        server.setRoster({3});
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        PhoneClient reader(server.serverPort());
        QCOMPARE(reader.lines(4).size(), 4);

        QTcpSocket mute;
        // Set before the connection, so that the window it offers is small;
        // and Qt's own buffer takes no more than that either.
        QVERIFY(mute.bind());
        mute.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        mute.setReadBufferSize(4096);
        mute.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(mute.waitForConnected(5000));
        mute.write("NMute\nM0+S3<;>S3\n");
        QTRY_COMPARE(server.clients().size(), 2);
        QTRY_VERIFY(server.clients().last().locos == QList<int>{3});

        // Rosters of 4,000 locos, about 100 KB each.
        QList<int> roster;
        for (int loco = 1; loco <= 4000; ++loco)
            roster << loco;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("reads nothing; dropped"));
        int pushes = 0;
        while (server.clientCount() == 2 && pushes < 200) {
            server.setRoster(roster);
            ++pushes;
            QTest::qWait(1);
            reader.unread();
        }
        QTRY_COMPARE(server.clientCount(), 1);
        QCOMPARE(m_host.transcript, (QStringList{"! stop 3", "! closed: connection lost"}));
        const QByteArrayList rosters = reader.lines(pushes);
        QCOMPARE(rosters.size(), pushes);
        QCOMPARE(rosters.last().size(), WiThrottle::rosterLine(roster).size());
        QCOMPARE(server.clients().first().address, QStringLiteral("127.0.0.1"));
    }

    void aPortInUseIsRefused()
    {
        ThrottleServer first(m_host, m_clock);
        QVERIFY(first.listen(QHostAddress::LocalHost, 0));
        ThrottleServer second(m_host, m_clock);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot listen on port"));
        QVERIFY(!second.listen(QHostAddress::LocalHost, first.serverPort()));
        QCOMPARE(second.serverError(), QAbstractSocket::AddressInUseError);
        QVERIFY(!second.isListening());
    }

    // The web throttle answers GET of the page's own files and nothing else.
    void servesOnlyThePage_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("type");
        auto get = [](const char *path) -> QByteArray {
            return QByteArray("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        };
        QTest::newRow("the page") << get("/") << 200 << QByteArray("text/html");
        QTest::newRow("the page by name") << get("/index.html") << 200 << QByteArray("text/html");
        QTest::newRow("its style") << get("/throttle.css") << 200 << QByteArray("text/css");
        QTest::newRow("its script") << get("/throttle.js") << 200 << QByteArray("text/javascript");
        QTest::newRow("no other file") << get("/webthrottle.qrc") << 404 << QByteArray();
        QTest::newRow("no listing") << get("/webthrottle/") << 404 << QByteArray();
        QTest::newRow("dot dot") << get("/../index.html") << 404 << QByteArray();
        QTest::newRow("dot dot beyond") << get("/../../../etc/passwd") << 404 << QByteArray();
        QTest::newRow("encoded dot dot") << get("/%2e%2e/index.html") << 404 << QByteArray();
        QTest::newRow("encoded slash") << get("/..%2f..%2fetc%2fpasswd") << 404 << QByteArray();
        QTest::newRow("upper-case encoding") << get("/%2E%2E%2Findex.html") << 404 << QByteArray();
        QTest::newRow("the socket's path without upgrade") << get("/ws") << 404 << QByteArray();
        QTest::newRow("POST") << QByteArray("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                            "Content-Length: 3\r\n\r\nabc")
                              << 405 << QByteArray();
        QTest::newRow("PUT of a file") << QByteArray("PUT /throttle.js HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                                     "Content-Length: 0\r\n\r\n")
                                       << 405 << QByteArray();
        QTest::newRow("DELETE elsewhere") << QByteArray("DELETE /x HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
                                          << 404 << QByteArray();
        QTest::newRow("a request too large ends its connection")
            << QByteArray("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: ").append(QByteArray(9000, 'a')).append("\r\n\r\n")
            << 0 << QByteArray();

        // Only for a Host that names this machine: a rebinding page's name
        // that points here gets nothing.
        const QByteArray name = QHostInfo::localHostName().toLatin1();
        QTest::newRow("Host: its name") << getPage(name) << 200 << QByteArray("text/html");
        QTest::newRow("Host: its name, local domain, port")
            << getPage(name.toUpper() + ".local:12080") << 200 << QByteArray("text/html");
        QTest::newRow("Host: localhost") << getPage("localhost:12080") << 200 << QByteArray("text/html");
        QTest::newRow("Host: its address") << getPage("127.0.0.1:12080") << 200 << QByteArray("text/html");
        QTest::newRow("Host: a foreign name beginning with its own")
            << getPage(name + ".angreifer.example:12080") << 421 << QByteArray();
        QTest::newRow("Host: localhost in a foreign domain")
            << getPage("localhost.angreifer.example") << 421 << QByteArray();
        QTest::newRow("Host: a foreign name") << getPage("angreifer.example") << 421 << QByteArray();
        QTest::newRow("Host: an address of another machine") << getPage("203.0.113.7") << 421 << QByteArray();
        QTest::newRow("Host: empty") << getPage("") << 421 << QByteArray();
        QTest::newRow("no Host") << QByteArray("GET / HTTP/1.1\r\n\r\n") << 421 << QByteArray();
        QTest::newRow("a file for a foreign name")
            << QByteArray("GET /throttle.js HTTP/1.1\r\nHost: " + name + ".angreifer.example\r\n\r\n")
            << 421 << QByteArray();
        auto upgrade = [](const QByteArray &host, const QByteArray &origin) -> QByteArray {
            return "GET /ws HTTP/1.1\r\nHost: " + host + "\r\nUpgrade: websocket\r\n"
                   "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                   "Sec-WebSocket-Version: 13\r\nOrigin: http://" + origin + "\r\n\r\n";
        };
        QTest::newRow("the socket for its name") << upgrade(name, name) << 101 << QByteArray();
        QTest::newRow("the socket for a foreign name beginning with its own")
            << upgrade(name + ".angreifer.example", name + ".angreifer.example") << 403 << QByteArray();
        QTest::newRow("the socket from a foreign page")
            << upgrade(name, "angreifer.example") << 403 << QByteArray();
    }
    void servesOnlyThePage()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        QFETCH(QByteArray, type);
        ThrottleServer server(m_host, m_clock);
        WebThrottle web(server);
        QVERIFY(web.listen(QHostAddress::LocalHost, 0));
        if (status == 0)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("too large"));
        const HttpAnswer answer = httpRequest(web.serverPort(), request);
        QCOMPARE(answer.status, status);
        // Refused, not merely left waiting.
        if (status == 0)
            QVERIFY(answer.closed);
        if (status == 200)
            QCOMPARE(answer.type, type);
    }

    // Engine Driver's download: the list as JMRI's web server gives it and
    // the icons inside the roster's folder, nothing else.
    void servesTheRosterForTheApps_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("type");
        auto get = [](const char *path) -> QByteArray {
            return QByteArray("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        };
        QTest::newRow("the list") << get("/roster/?format=xml") << 200 << QByteArray("application/xml");
        QTest::newRow("the list, JMRI's other path") << get("/roster/list") << 200
                                                     << QByteArray("application/xml");
        QTest::newRow("an icon") << get("/roster/BR%20218/icon") << 200 << QByteArray("image/png");
        QTest::newRow("a loco without an icon") << get("/roster/V%2060/icon") << 404 << QByteArray();
        QTest::newRow("no such loco") << get("/roster/BR%20219/icon") << 404 << QByteArray();
        QTest::newRow("the loco's file") << get("/roster/BR%20218/file") << 404 << QByteArray();
        QTest::newRow("dot dot after the name")
            << get("/roster/BR%20218/../../../etc/passwd") << 404 << QByteArray();
        QTest::newRow("an encoded path as the name")
            << get("/roster/..%2F..%2Froster.xml/icon") << 404 << QByteArray();
        QTest::newRow("the list for a foreign host")
            << QByteArray("GET /roster/?format=xml HTTP/1.1\r\nHost: angreifer.example\r\n\r\n")
            << 421 << QByteArray();
        QTest::newRow("POST") << QByteArray("POST /roster/ HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n")
                              << 405 << QByteArray();
    }
    void servesTheRosterForTheApps()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        QFETCH(QByteArray, type);
        Roster roster;
        roster.setFolder(QStringLiteral(ROSTER_TEST_DATA "/decoderpro"));
        ThrottleServer server(m_host, m_clock);
        WebThrottle web(server);
        web.setRoster(&roster);
        QVERIFY(web.listen(QHostAddress::LocalHost, 0));
        const HttpAnswer answer = httpRequest(web.serverPort(), request);
        QCOMPARE(answer.status, status);
        if (status == 200)
            QCOMPARE(answer.type, type);
    }

    // An app learns the roster's names and the web server's port at once.
    void greetsWithTheRosterAndTheWebPort()
    {
        Roster roster;
        roster.setFolder(QStringLiteral(ROSTER_TEST_DATA "/decoderpro"));
        ThrottleServer server(m_host, m_clock);
        server.setRoster({3, 5});
        server.setRosterEntries(roster.entries());
        server.setWebPort(12080);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        PhoneClient phone(server.serverPort());
        QCOMPARE(phone.lines(5),
                 (QByteArrayList{"VN2.0",
                                 "RL3]\\[BR 218}|{218}|{L]\\[V 60}|{3}|{S]\\[Lok 5}|{5}|{S",
                                 "PPA1", "PW12080", "*10"}));
        // Switched off and on again, the port is told again.
        server.setWebPort(12081);
        QCOMPARE(phone.lines(1), QByteArrayList{"PW12081"});
    }

    // Idle connections cannot use up the program's sockets: at most 8 from
    // one address and 32 in all, and a new one takes the place of the one
    // that waits longest for its request; WebSockets keep theirs.
    void limitsTheConnections()
    {
        ThrottleServer server(m_host, m_clock);
        WebThrottle web(server);
        QVERIFY(web.listen(QHostAddress::LocalHost, 0));
        const quint16 port = web.serverPort();
        std::vector<std::unique_ptr<BrowserClient>> browsers;
        for (int i = 0; i < 3; ++i) {
            browsers.push_back(std::make_unique<BrowserClient>(port, pageOrigin(port)));
            QCOMPARE(browsers.back()->lines(1), QByteArrayList{"VN2.0"});
        }
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 12; ++i) {
            m_clock.advance(1);
            idle.push_back(openFrom(QHostAddress::LocalHost, port));
            QVERIFY(idle.back());
        }
        // Three WebSockets and the five youngest idle ones from 127.0.0.1.
        QTRY_COMPARE(openSockets(idle), 5);
        for (qsizetype i = 7; i < 12; ++i)
            QCOMPARE(idle[i]->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(web.connectionCount(), 8);
        QCOMPARE(httpRequest(port, getPage("127.0.0.1")).status, 200);

        // From five addresses 40 more: the 32 youngest of all stay.
        idle.clear();
        for (int from = 2; from <= 6; ++from) {
            for (int i = 0; i < 8; ++i) {
                m_clock.advance(1);
                idle.push_back(openFrom(QHostAddress(QStringLiteral("127.0.0.%1").arg(from)), port));
                QVERIFY(idle.back());
            }
        }
        QTRY_COMPARE(openSockets(idle), 29);
        QCOMPARE(idle[10]->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(idle[11]->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(web.connectionCount(), 32);
        for (const auto &browser : browsers)
            QCOMPARE(browser->socket().state(), QAbstractSocket::ConnectedState);
        QCOMPARE(httpRequest(port, getPage("127.0.0.1")).status, 200);
        QCOMPARE(server.clientCount(), 3);
    }

    // A request must be complete within 10 s of the connection's start,
    // however slowly it trickles in: forty connections sending a byte every
    // two seconds do not keep the page from loading, and time ends them.
    void endsTricklingRequests()
    {
        ThrottleServer server(m_host, m_clock);
        WebThrottle web(server);
        QVERIFY(web.listen(QHostAddress::LocalHost, 0));
        const quint16 port = web.serverPort();
        BrowserClient browser(port, pageOrigin(port));
        QCOMPARE(browser.lines(1), QByteArrayList{"VN2.0"});
        std::vector<std::unique_ptr<QTcpSocket>> trickling;
        for (int i = 0; i < 40; ++i) {
            trickling.push_back(openFrom(QHostAddress(QStringLiteral("127.0.0.%1").arg(2 + i % 5)), port));
            QVERIFY(trickling.back());
        }
        const QByteArray request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        for (int step = 0; step < 5; ++step) {
            for (const auto &socket : trickling)
                socket->write(request.mid(step, 1));
            QCOMPARE(httpRequest(port, getPage("127.0.0.1")).status, 200);
            m_clock.advance(step < 4 ? 2000 : 1999);
            web.checkDeadlines();
            QVERIFY(web.connectionCount() > 1);
        }
        m_clock.advance(1);
        web.checkDeadlines();
        // The last page load's connection may not be seen as closed yet.
        QTRY_COMPARE(web.connectionCount(), 1);
        QTRY_COMPARE(openSockets(trickling), 0);
        QCOMPARE(browser.socket().state(), QAbstractSocket::ConnectedState);

        // A connection that is served starts again with every request.
        QTcpSocket keepAlive;
        keepAlive.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(keepAlive.waitForConnected(5000));
        for (int i = 0; i < 3; ++i) {
            m_clock.advance(9000);
            web.checkDeadlines();
            keepAlive.write(request);
            QVERIFY(QTest::qWaitFor([&] { return keepAlive.readAll().startsWith("HTTP/1.1 200"); }, 5000));
        }
        m_clock.advance(10'000);
        web.checkDeadlines();
        QTRY_COMPARE(keepAlive.state(), QAbstractSocket::UnconnectedState);
    }

    // Every way a connection ends gives its place back: 300 WebSockets
    // opened and ended in turn (closed by the page, dropped, refused as the
    // ninth client, closed for a too long line, closed for saying nothing)
    // and 100 page loads; then the page and the socket still answer.
    void givesEveryPlaceBack()
    {
        ThrottleServer server(m_host, m_clock);
        server.setRoster({3});
        WebThrottle web(server);
        QVERIFY(web.listen(QHostAddress::LocalHost, 0));
        const quint16 port = web.serverPort();
        std::vector<std::unique_ptr<PhoneClient>> phones;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        for (int i = 1; i < ThrottleServer::MaxClients; ++i) {
            phones.push_back(std::make_unique<PhoneClient>(server.serverPort()));
            phones.back()->send("NPhone\n");
            QCOMPARE(phones.back()->lines(1), QByteArrayList{"VN2.0"});
        }
        auto open = [&](QWebSocket &socket, int *messages) {
            QObject::connect(&socket, &QWebSocket::textMessageReceived, [messages] { ++*messages; });
            socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(port)));
        };
        auto closed = [](QWebSocket &socket) {
            return [&socket] { return socket.state() == QAbstractSocket::UnconnectedState; };
        };
        for (int i = 0; i < 300; ++i) {
            const int way = i % 5;
            int greeted = 0;
            QWebSocket browser(pageOrigin(port));
            open(browser, &greeted);
            if (way == 2) {
                // The phones make seven, this browser eight; a ninth is refused.
                QVERIFY(waitUntil([&] { return greeted >= 4; }));
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused a client beyond 8"));
                int none = 0;
                QWebSocket ninth(pageOrigin(port));
                open(ninth, &none);
                QVERIFY(waitUntil(closed(ninth)));
                QCOMPARE(none, 0);
                browser.abort();
                continue;
            }
            QVERIFY(waitUntil([&] { return greeted >= 4; }));
            if (way == 0) {
                browser.close();
            } else if (way == 1) {
                browser.abort();
            } else if (way == 3) {
                browser.sendTextMessage(QString(1025, u'A'));
            } else {
                m_clock.advance(ThrottleSession::IntroductionMs);
                server.checkHeartbeats();
            }
            QVERIFY(waitUntil(closed(browser)));
        }
        for (int i = 0; i < 100; ++i)
            QCOMPARE(httpRequest(port, getPage("127.0.0.1")).status, 200);
        QTRY_COMPARE(server.clientCount(), ThrottleServer::MaxClients - 1);
        QTRY_COMPARE(web.connectionCount(), 0);

        BrowserClient browser(port, pageOrigin(port));
        QCOMPARE(browser.lines(4).size(), 4);
        m_host.transcript.clear();
        browser.send("NLast\nM0+S3<;>S3");
        browser.send("M0A*<;>V63");
        QTRY_COMPARE(m_host.transcript, QStringList{"! speed 3 128"});
    }

    // Both ports take only the addresses their rule admits; one refused is
    // closed at once and logged.
    void refusesStrangers()
    {
        ThrottleServer server(m_host, m_clock);
        WebThrottle web(server);
        PeerRule rule;
        rule.isHome = noHome;
        server.setPeerRule(rule);
        web.setPeerRule(rule);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QVERIFY(web.listen(QHostAddress::LocalHost, 0));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^refused a client from 127.0.0.1 "
                                                              "outside the home network \\(1 so far\\)"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^web: refused a browser from 127.0.0.1 "
                                                              "outside the home network \\(1 so far\\)"));
        PhoneClient stranger(server.serverPort());
        QTRY_COMPARE(stranger.socket().state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(stranger.unread(), QByteArray());
        const HttpAnswer page = httpRequest(web.serverPort(), getPage("127.0.0.1"));
        QCOMPARE(page.status, 0);
        QVERIFY(page.closed);
        QCOMPARE(server.clientCount(), 0);

        // Allowed from everywhere.
        rule.allNetworks = true;
        server.setPeerRule(rule);
        web.setPeerRule(rule);
        PhoneClient phone(server.serverPort());
        QCOMPARE(phone.lines(1), QByteArrayList{"VN2.0"});
        QCOMPARE(httpRequest(web.serverPort(), getPage("127.0.0.1")).status, 200);
    }

    // The home network: loopback, private and link-local, in both families.
    void homeNetwork_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("home");
        const std::pair<const char *, bool> rows[] = {
            {"127.0.0.1", true}, {"127.255.255.254", true}, {"10.0.0.1", true},
            {"10.255.255.255", true}, {"172.16.0.1", true}, {"172.31.255.254", true},
            {"172.15.255.255", false}, {"172.32.0.1", false}, {"192.168.1.31", true},
            {"192.169.0.1", false}, {"169.254.10.20", true}, {"169.255.0.1", false},
            {"100.64.0.1", false}, {"8.8.8.8", false}, {"203.0.113.7", false},
            {"0.0.0.0", false}, {"255.255.255.255", false}, {"::1", true}, {"::", false},
            {"fe80::1", true}, {"febf::1", true}, {"fec0::1", false}, {"fc00::1", true},
            {"fd12:3456::1", true}, {"fe00::1", false}, {"2001:db8::1", false},
            {"2a00:1450::1", false}, {"::ffff:192.168.1.31", true}, {"::ffff:127.0.0.1", true},
            {"::ffff:8.8.8.8", false}, {"::192.168.1.31", false}, {"ff02::1", false},
        };
        for (const auto &[address, home] : rows)
            QTest::newRow(address) << QString::fromLatin1(address) << home;
    }
    void homeNetwork()
    {
        QFETCH(QString, address);
        QFETCH(bool, home);
        const QHostAddress parsed(address);
        QVERIFY(!parsed.isNull());
        QCOMPARE(isHomeNetworkAddress(parsed), home);
        QCOMPARE(PeerRule{}.admits(parsed), home);
        QVERIFY(PeerRule{true}.admits(parsed));
    }

    // The Host a page may be asked for.
    void ownHost_data()
    {
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<bool>("own");
        QTest::newRow("its name") << QByteArray("stellwerk") << true;
        QTest::newRow("its name with the port") << QByteArray("Stellwerk:12080") << true;
        QTest::newRow("its local domain") << QByteArray("STELLWERK.local:12080") << true;
        QTest::newRow("localhost") << QByteArray("localhost:12080") << true;
        QTest::newRow("its address") << QByteArray("192.168.1.20:12080") << true;
        QTest::newRow("its IPv6 address") << QByteArray("[fe80::1]:12080") << true;
        QTest::newRow("loopback as IPv6") << QByteArray("[::1]") << true;
        QTest::newRow("a foreign suffix") << QByteArray("stellwerk.angreifer.example") << false;
        QTest::newRow("a foreign suffix to .local")
            << QByteArray("stellwerk.local.angreifer.example") << false;
        QTest::newRow("a name that begins like it") << QByteArray("stellwerkx") << false;
        QTest::newRow("a name ending like it") << QByteArray("xstellwerk") << false;
        QTest::newRow("localhost abroad") << QByteArray("localhost.angreifer.example") << false;
        QTest::newRow("another address") << QByteArray("192.168.1.21:12080") << false;
        QTest::newRow("another IPv6 address") << QByteArray("[fe80::2]") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("a port alone") << QByteArray(":12080") << false;
        QTest::newRow("a broken port") << QByteArray("stellwerk:80x") << false;
        QTest::newRow("an empty port") << QByteArray("stellwerk:") << false;
        QTest::newRow("user info") << QByteArray("x@stellwerk") << false;
        QTest::newRow("IPv6 without brackets") << QByteArray("fe80::1") << false;
        QTest::newRow("a name in brackets") << QByteArray("[stellwerk]") << false;
        QTest::newRow("a trailing dot") << QByteArray("stellwerk.") << false;
    }
    void ownHost()
    {
        QFETCH(QByteArray, host);
        QFETCH(bool, own);
        const LocalIdentity self{QStringLiteral("stellwerk"),
                                 {QHostAddress(QStringLiteral("192.168.1.20")),
                                  QHostAddress(QStringLiteral("fe80::1")), QHostAddress::LocalHostIPv6}};
        QCOMPARE(isOwnHost(host, self), own);
        // The socket goes only to an own host, whatever else the request says.
        const WebRequestHead socket{"GET", "/ws", host, "http://" + host, "websocket"};
        QCOMPARE(judgeWebRequest(socket, self, "/ws"),
                 own ? WebVerdict::Upgrade : WebVerdict::WrongHost);
    }

    // Only the page's own origin may open a throttle.
    void ownOrigin_data()
    {
        QTest::addColumn<QByteArray>("origin");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<bool>("own");
        const QByteArray host("192.168.1.20:12080");
        QTest::newRow("the page's address") << QByteArray("http://192.168.1.20:12080") << host << true;
        QTest::newRow("this machine's name") << QByteArray("http://Stellwerk:12080") << QByteArray("stellwerk:12080") << true;
        QTest::newRow("the default port") << QByteArray("http://192.168.1.20") << QByteArray("192.168.1.20") << true;
        QTest::newRow("the default port named") << QByteArray("http://192.168.1.20") << QByteArray("192.168.1.20:80") << true;
        QTest::newRow("no origin") << QByteArray() << host << false;
        QTest::newRow("another page") << QByteArray("http://example.org") << host << false;
        QTest::newRow("another port") << QByteArray("http://192.168.1.20:8080") << host << false;
        QTest::newRow("another scheme") << QByteArray("https://192.168.1.20:12080") << host << false;
        QTest::newRow("a file") << QByteArray("null") << host << false;
        QTest::newRow("a path") << QByteArray("http://192.168.1.20:12080/x") << host << false;
        QTest::newRow("user info") << QByteArray("http://a@192.168.1.20:12080") << host << false;
        QTest::newRow("no host") << QByteArray("http://192.168.1.20:12080") << QByteArray() << false;
    }
    void ownOrigin()
    {
        QFETCH(QByteArray, origin);
        QFETCH(QByteArray, host);
        QFETCH(bool, own);
        QCOMPARE(isOwnOrigin(origin, host), own);
    }

    // A browser is one more client: its lines reach the same engine, its
    // answers come one line per message, and it counts among the eight.
    void drivesFromTheBrowser()
    {
        m_host.transcript.clear();
        ThrottleServer server(m_host, m_clock);
        server.setRoster({3});
        WebThrottle web(server);
        QVERIFY(web.listen(QHostAddress::LocalHost, 0));
        const quint16 port = web.serverPort();

        for (int i = 0; i < 2; ++i) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("WebSocket refused"));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("request not handled"));
        }
        BrowserClient foreign(port, QStringLiteral("http://example.org"));
        QVERIFY(foreign.closed());
        BrowserClient elsewhere(port, pageOrigin(port), QStringLiteral("/other"));
        QVERIFY(elsewhere.closed());
        QCOMPARE(server.clientCount(), 0);

        BrowserClient browser(port, pageOrigin(port));
        QCOMPARE(browser.lines(4),
                 (QByteArrayList{"VN2.0", "RL1]\\[Lok 3}|{3}|{S", "PPA1", "*10"}));
        browser.send("M0+S3<;>S3");
        QCOMPARE(browser.lines(1), QByteArrayList{"M0+S3<;>"});
        browser.send("M0A*<;>V63");
        QTRY_COMPARE(m_host.transcript, QStringList{"! speed 3 128"});
        browser.send("PXA");
        QTRY_COMPARE(m_host.transcript.last(), QStringLiteral("! stop all"));
        QCOMPARE(server.clients().first().browser, true);

        // Seven apps make eight; a ninth client, browser or app, is closed.
        std::vector<std::unique_ptr<PhoneClient>> phones;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        for (int i = 1; i < ThrottleServer::MaxClients; ++i) {
            phones.push_back(std::make_unique<PhoneClient>(server.serverPort()));
            QCOMPARE(phones.back()->lines(1), QByteArrayList{"VN2.0"});
        }
        QCOMPARE(server.clientCount(), ThrottleServer::MaxClients);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused a client beyond 8"));
        BrowserClient ninth(port, pageOrigin(port));
        QVERIFY(ninth.closed());
        QCOMPARE(server.clientCount(), ThrottleServer::MaxClients);

        // A message longer than a line may be ends that browser, and its
        // loco stops.
        m_host.transcript.clear();
        browser.send(QByteArray(1025, 'A'));
        QVERIFY(browser.closed());
        QCOMPARE(m_host.transcript, (QStringList{"! stop 3", "! closed: line too long"}));
        QCOMPARE(server.clientCount(), ThrottleServer::MaxClients - 1);

        // Switching the web throttle off drops the browsers only.
        BrowserClient another(port, pageOrigin(port));
        QCOMPARE(another.lines(1), QByteArrayList{"VN2.0"});
        web.close();
        QVERIFY(another.closed());
        QCOMPARE(server.clientCount(), ThrottleServer::MaxClients - 1);
    }
};

KZ_TEST_MAIN(TestThrottleServer)
#include "test_throttleserver.moc"
