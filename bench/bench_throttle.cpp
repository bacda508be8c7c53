// The phone throttle's share of a loco command, run by hand (see the README):
// from a phone's line written to the server's socket on 127.0.0.1 to the
// frame arriving at the command station, against the panel's own path (a
// window intent handed to the loco driver) to the same station; and the same
// line as a browser sends it, one WebSocket message to the web throttle. All
// drive the in-memory station, so only the program's own work is counted (the
// phone and browser sides include the loopback hop).
//
// Prints name=value lines and, last, two summary lines with the goals: the
// phone's p50 at most 1 ms above the panel's, the browser's at most 1 ms above
// the phone's.
//
// With --bounds it measures the bounds per client instead, in real time for a
// minute: the program's memory while a client holding 32 locos asks for their
// speeds 45 times a second and reads nothing (until the server drops it), and
// the time until a connection that never says who it is gets closed.
// --seconds N makes the minute longer.
//
// With --reconnects it loads the web throttle's page and opens and ends a
// WebSocket 10,000 times in a row (N with --reconnects N), ending the socket
// by turns from the page's side, by dropping it and by the session's limit
// for a line too long; it prints the times, the web throttle's open
// connections and the memory, and then checks that the page still loads and
// a browser still drives.
// Usage: bench_throttle [--commands N] [--bounds [--seconds N]] [--reconnects [N]]

#include "bench/resident.h"
#include "common/messagebox.h"
#include "link/clock.h"
#include "link/locodriver.h"
#include "link/locostate.h"
#include "link/portsession.h"
#include "simulator/memoryport.h"
#include "simulator/stationcore.h"
#include "throttleserver/throttlehost.h"
#include "throttleserver/throttleserver.h"
#include "throttleserver/webthrottle.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>

namespace {

constexpr double GoalMs = 1.0;

class CountingBoxes final : public MessageBoxes
{
public:
    int shown = 0;
    BoxAnswer show(const MessageBoxRequest &request) override
    {
        ++shown;
        return request.defaultAnswer;
    }
};

double percentileMs(QList<qint64> nanoseconds, double fraction)
{
    if (nanoseconds.isEmpty())
        return 0;
    std::sort(nanoseconds.begin(), nanoseconds.end());
    const qsizetype at =
        qMin(nanoseconds.size() - 1, qsizetype(fraction * double(nanoseconds.size())));
    return double(nanoseconds.at(at)) / 1e6;
}

int measureBounds(QCoreApplication &app, LocoDriver &driver, int seconds)
{
    DriverThrottleHost host(driver);
    ThrottleServer server(host, programClock());
    host.setServer(&server);
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    QList<int> roster;
    for (int loco = 1; loco <= 32; ++loco)
        roster << loco;
    server.setRoster(roster);

    // A client that reads nothing: a small window, and Qt takes no more.
    QTcpSocket greedy;
    greedy.bind();
    greedy.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    greedy.setReadBufferSize(4096);
    greedy.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QTcpSocket mute;
    mute.connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!greedy.waitForConnected(5000) || !mute.waitForConnected(5000)) {
        std::fprintf(stderr, "cannot connect\n");
        return 1;
    }
    QByteArray acquires("NGreedy\n*+\n");
    for (const int loco : roster)
        acquires += "M0+S" + QByteArray::number(loco) + "<;>S" + QByteArray::number(loco) + '\n';
    greedy.write(acquires);

    QElapsedTimer clock;
    clock.start();
    const long startKiB = residentKiB();
    long maxKiB = startKiB;
    qint64 greedyGoneMs = -1;
    qint64 muteGoneMs = -1;
    int queries = 0;
    QObject::connect(&greedy, &QTcpSocket::disconnected, [&] { greedyGoneMs = clock.elapsed(); });
    QObject::connect(&mute, &QTcpSocket::disconnected, [&] { muteGoneMs = clock.elapsed(); });
    // 45 queries a second, a beat now and then, as the flooding app did.
    QTimer ask;
    ask.setInterval(1000 / 45);
    QObject::connect(&ask, &QTimer::timeout, [&] {
        if (greedy.state() != QAbstractSocket::ConnectedState)
            return;
        greedy.write(queries % 45 == 0 ? "*\nM0A*<;>qV\n" : "M0A*<;>qV\n");
        ++queries;
    });
    ask.start();
    QTimer sample;
    sample.setInterval(1000);
    QObject::connect(&sample, &QTimer::timeout, [&] {
        const long now = residentKiB();
        maxKiB = qMax(maxKiB, now);
        if (clock.elapsed() / 1000 % 10 == 0) {
            std::printf("t=%llds rss_kib=%ld greedy=%s\n", (long long)(clock.elapsed() / 1000),
                        now, greedyGoneMs < 0 ? "connected" : "dropped");
            std::fflush(stdout);
        }
    });
    sample.start();
    while (clock.elapsed() < seconds * 1000LL)
        app.processEvents(QEventLoop::WaitForMoreEvents, 100);

    std::printf("queries=%d\n", queries);
    std::printf("rss_start_kib=%ld\nrss_max_kib=%ld\nrss_end_kib=%ld\n", startKiB, maxKiB,
                residentKiB());
    std::printf("greedy_dropped_after_ms=%lld\n", (long long)greedyGoneMs);
    std::printf("mute_closed_after_ms=%lld\n", (long long)muteGoneMs);
    return muteGoneMs >= 0 ? 0 : 1;
}

// Runs the event loop until done() or 5 s have passed; whether done().
template<typename Done>
bool waitFor(QCoreApplication &app, const Done &done)
{
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < 5000)
        app.processEvents(QEventLoop::WaitForMoreEvents, 100);
    return done();
}

// GET / on a connection of its own; the status, 0 when none came.
int loadPage(QCoreApplication &app, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return 0;
    socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray answer;
    waitFor(app, [&] {
        answer += socket.readAll();
        return answer.contains("</html>") || socket.state() != QAbstractSocket::ConnectedState;
    });
    return answer.startsWith("HTTP/1.1 ") ? answer.mid(9, 3).toInt() : 0;
}

int measureReconnects(QCoreApplication &app, LocoDriver &driver, StationCore &station, int rounds)
{
    DriverThrottleHost host(driver);
    ThrottleServer server(host, programClock());
    host.setServer(&server);
    server.setRoster({3});
    WebThrottle web(server);
    if (!web.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "cannot listen for the web throttle\n");
        return 1;
    }
    const quint16 port = web.serverPort();
    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(port);
    const QUrl socketUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(port));
    QElapsedTimer timer;
    timer.start();
    const long startKiB = residentKiB();
    long maxKiB = startKiB;
    int maxOpen = 0;
    QList<qint64> pageTimes;
    QList<qint64> socketTimes;
    for (int i = 0; i < rounds; ++i) {
        qint64 start = timer.nsecsElapsed();
        if (loadPage(app, port) != 200) {
            std::fprintf(stderr, "round %d: the page did not load\n", i);
            return 1;
        }
        pageTimes << timer.nsecsElapsed() - start;

        start = timer.nsecsElapsed();
        QWebSocket browser(origin);
        int greeted = 0;
        QObject::connect(&browser, &QWebSocket::textMessageReceived, [&greeted] { ++greeted; });
        browser.open(socketUrl);
        if (!waitFor(app, [&] { return greeted >= 4; })) {
            std::fprintf(stderr, "round %d: the WebSocket did not open\n", i);
            return 1;
        }
        switch (i % 3) {
        case 0: browser.close(); break;
        case 1: browser.abort(); break;
        default: browser.sendTextMessage(QString(1025, u'A')); break;
        }
        if (!waitFor(app, [&] { return browser.state() == QAbstractSocket::UnconnectedState; })) {
            std::fprintf(stderr, "round %d: the WebSocket did not end\n", i);
            return 1;
        }
        socketTimes << timer.nsecsElapsed() - start;
        maxOpen = qMax(maxOpen, web.connectionCount());
        if (i % 1000 == 999) {
            const long now = residentKiB();
            maxKiB = qMax(maxKiB, now);
            std::printf("round=%d open_connections=%d rss_kib=%ld\n", i + 1, web.connectionCount(),
                        now);
            std::fflush(stdout);
        }
    }
    waitFor(app, [&] { return web.connectionCount() == 0 && server.clientCount() == 0; });
    const int openAfter = web.connectionCount();

    // Still there: the page loads, and a browser drives loco 3.
    const bool pageLoads = loadPage(app, port) == 200;
    bool drove = false;
    station.setLogObserver([&](const LogEntry &entry) {
        if (entry.direction == LogEntry::Received)
            drove = true;
    });
    QWebSocket browser(origin);
    QObject::connect(&browser, &QWebSocket::connected, [&] {
        browser.sendTextMessage(QStringLiteral("NBench"));
        browser.sendTextMessage(QStringLiteral("M0+S3<;>S3"));
        browser.sendTextMessage(QStringLiteral("M0A*<;>V63"));
    });
    browser.open(socketUrl);
    waitFor(app, [&] { return drove; });
    station.setLogObserver(nullptr);

    std::printf("rounds=%d\nseconds=%.1f\n", rounds, double(timer.elapsed()) / 1000);
    std::printf("page_p50_ms=%.3f\npage_p99_ms=%.3f\n", percentileMs(pageTimes, 0.50),
                percentileMs(pageTimes, 0.99));
    std::printf("socket_p50_ms=%.3f\nsocket_p99_ms=%.3f\n", percentileMs(socketTimes, 0.50),
                percentileMs(socketTimes, 0.99));
    std::printf("open_connections_max=%d\nopen_connections_after=%d\n", maxOpen, openAfter);
    std::printf("rss_start_kib=%ld\nrss_max_kib=%ld\nrss_end_kib=%ld\n", startKiB, maxKiB,
                residentKiB());
    std::printf("after %d rounds: page %s, browser %s\n", rounds, pageLoads ? "loads" : "FAILED",
                drove ? "drives" : "FAILED");
    return pageLoads && drove && openAfter == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int commands = 2000;
    const QStringList arguments = app.arguments();
    const qsizetype at = arguments.indexOf(QStringLiteral("--commands"));
    if (at >= 0 && at + 1 < arguments.size())
        commands = qMax(1, arguments.at(at + 1).toInt());

    CountingBoxes boxes;
    setMessageBoxes(&boxes);
    StationCore station;
    station.setControllerNumber(1);
    MemoryPort port(&station);
    setControllerPort(&port);
    setCurrentPortName(QStringLiteral("COM1"));
    port.open(QStringLiteral("/dev/ttyBENCH"));

    LocoState state;
    state.setController(1);
    LocoDriver driver(state);
    const qsizetype reconnectsAt = arguments.indexOf(QStringLiteral("--reconnects"));
    if (reconnectsAt >= 0) {
        bool given = false;
        const int asked = arguments.value(reconnectsAt + 1).toInt(&given);
        const int rounds = given ? qMax(1, asked) : 10'000;
        const int result = measureReconnects(app, driver, station, rounds);
        setControllerPort(nullptr);
        return result;
    }
    if (arguments.contains(QStringLiteral("--bounds"))) {
        const qsizetype secondsAt = arguments.indexOf(QStringLiteral("--seconds"));
        const int seconds = secondsAt >= 0 && secondsAt + 1 < arguments.size()
                                ? qMax(31, arguments.at(secondsAt + 1).toInt())
                                : 60;
        const int result = measureBounds(app, driver, seconds);
        setControllerPort(nullptr);
        return result;
    }

    QElapsedTimer timer;
    timer.start();
    qint64 arrived = -1;
    station.setLogObserver([&](const LogEntry &entry) {
        if (entry.direction == LogEntry::Received && arrived < 0)
            arrived = timer.nsecsElapsed();
    });

    // The panel's path: the intent a slider makes, handed to the driver.
    QList<qint64> panel;
    for (int i = 0; i < commands; ++i) {
        arrived = -1;
        const qint64 start = timer.nsecsElapsed();
        driver.submit(DriveIntent::speed(3, quint8(100 + i % 2)).to(1));
        panel << arrived - start;
    }

    // The phone's path: a speed line over TCP to the server, its session,
    // the host and the same driver.
    // The server's clock moves 25 ms per line, so that 2,000 lines within a
    // second or two stay below the limit of 50 lines a second that closes a
    // flooding client; the exchanges keep the real clock.
    DriverThrottleHost host(driver);
    ManualClock serverClock;
    ThrottleServer server(host, serverClock);
    host.setServer(&server);
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    QTcpSocket phone;
    phone.connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!phone.waitForConnected(5000)) {
        std::fprintf(stderr, "cannot connect\n");
        return 1;
    }
    phone.write("NBench\nM0+S3<;>S3\n");
    phone.flush();
    while (server.clients().isEmpty() || server.clients().first().locos.isEmpty())
        app.processEvents(QEventLoop::WaitForMoreEvents);
    QList<qint64> phoneTimes;
    for (int i = 0; i < commands; ++i) {
        const QByteArray line = "M0A*<;>V" + QByteArray::number(50 + i % 2) + '\n';
        serverClock.advance(25);
        arrived = -1;
        const qint64 start = timer.nsecsElapsed();
        phone.write(line);
        phone.flush();
        while (arrived < 0) {
            if (phone.state() != QAbstractSocket::ConnectedState) {
                std::fprintf(stderr, "the server closed the connection after %d lines\n", i);
                return 1;
            }
            app.processEvents(QEventLoop::WaitForMoreEvents, 100);
        }
        phoneTimes << arrived - start;
        phone.readAll();
    }
    phone.abort();

    // The browser's path: the same line as one WebSocket text message to the
    // web throttle, the same session engine behind it.
    WebThrottle web(server);
    if (!web.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "cannot listen for the web throttle\n");
        return 1;
    }
    QWebSocket browser(QStringLiteral("http://127.0.0.1:%1").arg(web.serverPort()));
    browser.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(web.serverPort())));
    QElapsedTimer opening;
    opening.start();
    while (browser.state() != QAbstractSocket::ConnectedState) {
        if (opening.elapsed() > 5000) {
            std::fprintf(stderr, "cannot open the WebSocket\n");
            return 1;
        }
        app.processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    browser.sendTextMessage(QStringLiteral("NBench"));
    browser.sendTextMessage(QStringLiteral("M0+S3<;>S3"));
    auto browserHoldsLoco = [&] {
        for (const ThrottleServer::Client &client : server.clients()) {
            if (client.browser && !client.locos.isEmpty())
                return true;
        }
        return false;
    };
    while (!browserHoldsLoco())
        app.processEvents(QEventLoop::WaitForMoreEvents, 100);
    QList<qint64> browserTimes;
    for (int i = 0; i < commands; ++i) {
        const QString line = QStringLiteral("M0A*<;>V") + QString::number(50 + i % 2);
        serverClock.advance(25);
        arrived = -1;
        const qint64 start = timer.nsecsElapsed();
        browser.sendTextMessage(line);
        browser.flush();
        while (arrived < 0) {
            if (browser.state() != QAbstractSocket::ConnectedState) {
                std::fprintf(stderr, "the web throttle closed the WebSocket after %d lines\n", i);
                return 1;
            }
            app.processEvents(QEventLoop::WaitForMoreEvents, 100);
        }
        browserTimes << arrived - start;
    }

    const double panel50 = percentileMs(panel, 0.50);
    const double panel99 = percentileMs(panel, 0.99);
    const double phone50 = percentileMs(phoneTimes, 0.50);
    const double phone99 = percentileMs(phoneTimes, 0.99);
    const double browser50 = percentileMs(browserTimes, 0.50);
    const double browser99 = percentileMs(browserTimes, 0.99);
    std::printf("commands=%d\n", commands);
    std::printf("panel_p50_ms=%.3f\npanel_p99_ms=%.3f\n", panel50, panel99);
    std::printf("phone_p50_ms=%.3f\nphone_p99_ms=%.3f\n", phone50, phone99);
    std::printf("browser_p50_ms=%.3f\nbrowser_p99_ms=%.3f\n", browser50, browser99);
    std::printf("boxes=%d\n", boxes.shown);
    const double extra = phone50 - panel50;
    std::printf("phone: %.3f ms more than the panel at p50 (goal: at most %.1f ms) %s\n", extra,
                GoalMs, extra <= GoalMs ? "OK" : "MISSED");
    const double webExtra = browser50 - phone50;
    std::printf("browser: %.3f ms more than the phone at p50 (goal: at most %.1f ms) %s\n",
                webExtra, GoalMs, webExtra <= GoalMs ? "OK" : "MISSED");
    setControllerPort(nullptr);
    return extra <= GoalMs && webExtra <= GoalMs ? 0 : 1;
}
