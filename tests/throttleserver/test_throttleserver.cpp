#include "throttlehostrecorder.h"

#include "link/clock.h"
#include "roster/roster.h"
#include "throttleserver/throttleserver.h"
#include "throttleserver/webthrottle.h"

#include "../support/phoneclient.h"
#include "../support/testmain.h"

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

HttpAnswer httpRequest(quint16 port, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(request);
    QByteArray answer;
    (void)QTest::qWaitFor([&] {
        answer += socket.readAll();
        return answer.contains("\r\n\r\n") || socket.state() != QAbstractSocket::ConnectedState;
    }, 5000);
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
        QTest::newRow("POST") << QByteArray("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc")
                              << 405 << QByteArray();
        QTest::newRow("PUT of a file") << QByteArray("PUT /throttle.js HTTP/1.1\r\nHost: x\r\n"
                                                     "Content-Length: 0\r\n\r\n")
                                       << 405 << QByteArray();
        QTest::newRow("DELETE elsewhere") << QByteArray("DELETE /x HTTP/1.1\r\nHost: x\r\n\r\n")
                                          << 404 << QByteArray();
        QTest::newRow("a request too large ends its connection")
            << QByteArray("GET / HTTP/1.1\r\nHost: x\r\nX-Pad: ").append(QByteArray(9000, 'a')).append("\r\n\r\n")
            << 0 << QByteArray();
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
        QTest::newRow("POST") << QByteArray("POST /roster/ HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n")
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

    // Idle connections cannot use up the program's sockets: beyond 32 at a
    // time the next is closed, and once one ends the page is served again.
    void limitsTheConnections()
    {
        ThrottleServer server(m_host, m_clock);
        WebThrottle web(server);
        QVERIFY(web.listen(QHostAddress::LocalHost, 0));
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 32; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QHostAddress::LocalHost, web.serverPort());
            QVERIFY(idle.back()->waitForConnected(5000));
        }
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("more than 32 connections"));
        const QByteArray get = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        const HttpAnswer refused = httpRequest(web.serverPort(), get);
        QCOMPARE(refused.status, 0);
        QVERIFY(refused.closed);
        idle.front()->disconnectFromHost();
        idle.erase(idle.begin());
        QVERIFY(QTest::qWaitFor([&] { return httpRequest(web.serverPort(), get).status == 200; }));
    }

    // Only the page's own origin may open a throttle.
    void ownOrigin_data()
    {
        QTest::addColumn<QString>("origin");
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("own");
        const QString url = QStringLiteral("http://192.168.1.20:12080");
        QTest::newRow("the page's address") << "http://192.168.1.20:12080" << url << true;
        QTest::newRow("this machine's name") << "http://Stellwerk:12080" << "http://stellwerk:12080" << true;
        QTest::newRow("its local domain") << "http://stellwerk.local:12080" << "http://stellwerk.local:12080" << true;
        QTest::newRow("the default port") << "http://192.168.1.20" << "http://192.168.1.20" << true;
        QTest::newRow("no origin") << "" << url << false;
        QTest::newRow("another page") << "http://example.org" << url << false;
        QTest::newRow("another port") << "http://192.168.1.20:8080" << url << false;
        QTest::newRow("another scheme") << "https://192.168.1.20:12080" << url << false;
        QTest::newRow("a file") << "null" << url << false;
        QTest::newRow("a foreign name pointing here")
            << "http://rebind.example:12080" << "http://rebind.example:12080" << false;
        QTest::newRow("a name that only begins like ours")
            << "http://stellwerkx:12080" << "http://stellwerkx:12080" << false;
    }
    void ownOrigin()
    {
        QFETCH(QString, origin);
        QFETCH(QString, host);
        QFETCH(bool, own);
        QCOMPARE(isOwnOrigin(origin, QUrl(host), QStringLiteral("stellwerk")), own);
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
