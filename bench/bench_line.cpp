// The serial line under pressure, run by hand (see the README): the whole
// main window, the phone server and the real serial port against the virtual
// command station kzsim on a pseudo-terminal, answering at the pace of a
// 115200-baud line (--line-speed 115200, with a programming track's timing).
//
// While one phone holding 32 locos writes 1,600 speed lines in one go:
// - the time from a press of Escape (a key event posted to the window from
//   another thread, as the desktop delivers it) and from a second phone's
//   emergency stop to the stop's frame leaving the program (written to the
//   serial port), p50 and p99, and the time until the window's thread takes
//   the key, p99;
// - the frames the burst puts on the line;
// - the window's event-loop delay, p99: events posted every 2 ms from another
//   thread, the time until the window's thread handles each.
// The same delay while the window waits for a controller that does not
// answer (a loco entry asked of controller 7, two attempts of 2 s) and
// during a CV backup of CVs 1 to 8.
//
// Every frame is time-stamped as it is written to the port, on whichever
// thread writes it. The station runs without its log: writing it slows the
// station's answers (one exchange in a hundred took twice as long).
// Prints name=value lines and, last, the goals.
// The same source builds against an earlier state of the program (without
// the line's owner) for the comparison the README describes.
//
// Usage: bench_line [--kzsim PATH] [--bursts N] [--label NAME]

#include "common/messagebox.h"
#include "common/settings.h"
#include "dashboard/kzvelantor.h"
#include "link/portsession.h"
#include "link/serialport.h"
#include "locolist/decoderjobs.h"
#include "locolist/programmer.h"
#include "throttleserver/phonethrottles.h"

#if __has_include("link/controllerline.h")
#include "link/controllerline.h"
#define KZ_LINE_OWNER 1
#endif

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <cstdio>
#include <mutex>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// The processor time the calling thread has used.
qint64 threadCpuNs()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

class CountingBoxes final : public MessageBoxes
{
public:
    std::atomic<int> shown = 0;
    BoxAnswer show(const MessageBoxRequest &request) override
    {
        ++shown;
        return request.defaultAnswer;
    }
};

double percentileMs(QList<qint64> ns, double fraction)
{
    if (ns.isEmpty())
        return -1;
    std::sort(ns.begin(), ns.end());
    const qsizetype at = qMin(ns.size() - 1, qsizetype(fraction * double(ns.size())));
    return double(ns.at(at)) / 1e6;
}

// kzsim as a child process.
class Station
{
public:
    bool start(const QString &program, const QString &link)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const QByteArray path = QFile::encodeName(program);
        const QByteArray linkArg = QFile::encodeName(link);
        const char *argv[] = {path.constData(), "--line-speed", "115200", "--realistic-timing",
                              "--demo", "--link", linkArg.constData(), nullptr};
        const int spawned = posix_spawn(&m_pid, path.constData(), &actions, nullptr,
                                        const_cast<char **>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0)
            return false;
        for (int i = 0; i < 500 && !QFileInfo::exists(link); ++i)
            QThread::msleep(10);
        return QFileInfo::exists(link);
    }

    ~Station()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

private:
    pid_t m_pid = -1;
};

// The phones, on a thread of their own: the burst leaves at once, whatever the
// window's thread is doing.
class Phones final : public QObject
{
public:
    QTcpSocket *flood = nullptr;
    QTcpSocket *other = nullptr;

    void connectTo(quint16 port)
    {
        m_port = port;
        other = new QTcpSocket(this);
        other->connectToHost(QHostAddress::LocalHost, port);
        other->waitForConnected(5000);
        other->write("NZweites\nHUzweites\nM0+L100<;>L100\n");
        connect(other, &QTcpSocket::readyRead, other, [s = other] { s->readAll(); });
    }
    // A new connection for every burst: a client that sends more than 50
    // lines in each of two seconds running is dropped (and its locos
    // stopped), so each connection carries one burst. The old one leaves
    // with Q, its locos as they are.
    void reconnectFlood(int round)
    {
        if (flood) {
            flood->write("Q\n");
            flood->disconnectFromHost();
            flood->deleteLater();
        }
        flood = new QTcpSocket(this);
        flood->connectToHost(QHostAddress::LocalHost, m_port);
        flood->waitForConnected(5000);
        QByteArray hello("NFlut\nHUflut" + QByteArray::number(round) + '\n');
        for (int loco = 1; loco <= 32; ++loco)
            hello += "M0+S" + QByteArray::number(loco) + "<;>S" + QByteArray::number(loco) + '\n';
        flood->write(hello);
        connect(flood, &QTcpSocket::readyRead, flood, [s = flood] { s->readAll(); });
    }
    void burst(int round)
    {
        QByteArray lines;
        for (int i = 0; i < 1600; ++i)
            lines += "M0A*<;>V" + QByteArray::number(20 + (i + round) % 100) + '\n';
        flood->write(lines);
        flood->flush();
    }
    void stopOther()
    {
        other->write("M0A*<;>X\n");
        other->flush();
    }

private:
    quint16 m_port = 0;
};

// Events posted to the window's thread: how late each is handled.
class Probe final : public QObject
{
public:
    struct Posted : QEvent
    {
        explicit Posted(qint64 at) : QEvent(QEvent::User), ns(at) {}
        qint64 ns;
    };
    std::mutex mutex;
    QList<qint64> delays;

    bool event(QEvent *e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        const qint64 delay = nowNs() - static_cast<Posted *>(e)->ns;
        if (delay > 5'000'000 && qEnvironmentVariableIsSet("BENCH_LINE_TRACE"))
            std::fprintf(stderr, "late %.2f ms posted %.3f\n", delay / 1e6,
                         (static_cast<Posted *>(e)->ns % 100'000'000'000) / 1e6);
        const std::lock_guard lock(mutex);
        delays.append(delay);
        return true;
    }
    QList<qint64> take()
    {
        const std::lock_guard lock(mutex);
        return std::exchange(delays, {});
    }
};

// A frame as it left the program.
struct Sent
{
    qint64 ns;
    QByteArray frame; // six bytes as on the wire
};

// The serial port, with the time each frame is written to it.
class TimedPort final : public ControllerPort
{
public:
    QList<Sent> since(qint64 ns) const
    {
        const std::lock_guard lock(m_mutex);
        QList<Sent> out;
        for (auto it = m_sent.crbegin(); it != m_sent.crend() && it->ns >= ns; ++it)
            out.prepend(*it);
        return out;
    }
    qint64 lastNs() const
    {
        const std::lock_guard lock(m_mutex);
        return m_sent.isEmpty() ? 0 : m_sent.last().ns;
    }

    bool open(const QString &devicePath) override { return m_port.open(devicePath); }
    void close() override { m_port.close(); }
    bool isOpen() const override { return m_port.isOpen(); }
    QString devicePath() const override { return m_port.devicePath(); }
    PortError lastError() const override { return m_port.lastError(); }
    void discardInput() override { m_port.discardInput(); }
    void discardOutput() override { m_port.discardOutput(); }
    bool write(const QByteArray &bytes) override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_sent.append({nowNs(), bytes});
        }
        return m_port.write(bytes);
    }
    qint64 bytesToWrite() const override { return m_port.bytesToWrite(); }
    bool waitForBytesWritten(int ms) override { return m_port.waitForBytesWritten(ms); }
    qint64 bytesAvailable() const override { return m_port.bytesAvailable(); }
    bool waitForReadyRead(int ms) override { return m_port.waitForReadyRead(ms); }
    QByteArray readAll() override { return m_port.readAll(); }
#ifdef KZ_LINE_OWNER
    void setThread(QThread *thread) override { m_port.setThread(thread); }
#endif

private:
    SerialControllerPort m_port;
    mutable std::mutex m_mutex;
    QList<Sent> m_sent;
};

// When the window's thread takes each key press.
class KeysSeen final : public QObject
{
public:
    QList<qint64> pressed;

    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::KeyPress)
            pressed << nowNs();
        return false;
    }
};

// Posts a probe event every 2 ms until stopped.
class Prober
{
public:
    explicit Prober(Probe &probe) : m_probe(probe)
    {
        m_thread = std::thread([this] {
            while (!m_stop) {
                QCoreApplication::postEvent(&m_probe, new Probe::Posted(nowNs()));
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    ~Prober()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    Probe &m_probe;
    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

// Runs the window's event loop until done() or the time is up; it sleeps
// while there is nothing to do, so that the program gets the processor.
void runUntil(const std::function<bool()> &done, int maxMs)
{
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || timer.elapsed() >= maxMs)
            loop.quit();
    });
    check.start(2);
    loop.exec();
}

bool isStopAll(const QByteArray &f)
{
    return quint8(f[1]) == 24 && quint8(f[2]) == 255 && quint8(f[3]) == 255;
}
bool isStopOf100(const QByteArray &f)
{
    return quint8(f[1]) == 24 && quint8(f[2]) == 100 && quint8(f[3]) == 0;
}
bool isSpeed(const QByteArray &f)
{
    return quint8(f[1]) == 23;
}

// The first frame after ns that matches, its delay; -1 when none came.
qint64 firstAfter(const QList<Sent> &seen, qint64 ns, bool (*match)(const QByteArray &))
{
    for (const Sent &s : seen) {
        if (s.ns >= ns && match(s.frame))
            return s.ns - ns;
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    // Key events made on another thread need the keyboard device made here.
    { QKeyEvent first(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier); }
    CountingBoxes boxes;
    setMessageBoxes(&boxes);

    QString kzsim = QDir(QCoreApplication::applicationDirPath()).filePath("../simulator/kzsim");
    QString label = QStringLiteral("line");
    int bursts = 10;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--kzsim"))
            kzsim = args[++i];
        else if (args[i] == QLatin1String("--bursts"))
            bursts = qMax(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--label"))
            label = args[++i];
    }

    const QString link = QDir(config.path()).filePath(QStringLiteral("ttyController"));
    Station station;
    if (!station.start(kzsim, link)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(kzsim));
        return 2;
    }
#ifdef KZ_LINE_OWNER
    ControllerLine line(ControllerLine::Mode::Threaded);
    setControllerLine(&line);
#endif
    sysSaveSetting(QStringLiteral("COM1"), link, PortsSection);
    sysSaveSetting(QStringLiteral("SignalOutputTo"), QStringLiteral("COM1"),
                   QStringLiteral("Velantor"));
    TimedPort serial;
    int exitCode = 0;
    {
        kzVelantor window(&serial);
        window.startUp(false);
        window.show();
        KeysSeen keysSeen;
        window.installEventFilter(&keysSeen);
        window.txtControllerNr()->setText(QStringLiteral("1"));
        window.checkController();
        if (window.phoneThrottles().start(0) != PhoneThrottles::StartResult::Started) {
            std::fprintf(stderr, "no phone server\n");
            return 2;
        }

        QThread phoneThread;
        Phones phones;
        phones.moveToThread(&phoneThread);
        phoneThread.start();
        const quint16 port = window.phoneThrottles().port();
        QMetaObject::invokeMethod(&phones, [&] { phones.connectTo(port); },
                                  Qt::BlockingQueuedConnection);
        // The acquires reach the program and their state lines go back.
        runUntil([] { return false; }, 1000);

        // The burst alone: what it puts on the line when nothing stops it.
        int aloneFrames = 0;
        // The window's thread's processor time for it, the second of quiet
        // that ends the phase included.
        double aloneCpuMs = 0;
        {
            QMetaObject::invokeMethod(&phones, [&phones] { phones.reconnectFlood(-1); },
                                      Qt::BlockingQueuedConnection);
            runUntil([] { return false; }, 400);
            const qint64 start = nowNs();
            const qint64 cpuBefore = threadCpuNs();
            QMetaObject::invokeMethod(&phones, [&phones] { phones.burst(0); });
            runUntil([&] { return nowNs() - serial.lastNs() > 500'000'000
                                  && nowNs() - start > 1'000'000'000; },
                     30 * 60 * 1000);
            aloneCpuMs = double(threadCpuNs() - cpuBefore) / 1e6;
            for (const Sent &s : serial.since(start))
                aloneFrames += isSpeed(s.frame) ? 1 : 0;
        }

        Probe probe;
        QList<qint64> windowStops;
        QList<qint64> phoneStops;
        QList<qint64> burstDelays;
        QList<qint64> keyDelays;
        int burstFrames = 0;
        int missedStops = 0;
        for (int round = 0; round < bursts; ++round) {
            QMetaObject::invokeMethod(&phones, [&phones, round] { phones.reconnectFlood(round); },
                                      Qt::BlockingQueuedConnection);
            runUntil([] { return false; }, 400);
            const qint64 start = nowNs();
            QList<qint64> escapes;
            QList<qint64> xs;
            std::thread presser;
            {
                const Prober prober(probe);
                QMetaObject::invokeMethod(&phones, [&phones, round] { phones.burst(round); });
                // Escape and the second phone's X, 40 ms apart, in the first
                // 300 ms of the burst.
                presser = std::thread([&] {
                    for (int i = 0; i < 4; ++i) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(30));
                        escapes << nowNs();
                        QCoreApplication::postEvent(
                            &window, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape,
                                                   Qt::NoModifier));
                        std::this_thread::sleep_for(std::chrono::milliseconds(40));
                        xs << nowNs();
                        QMetaObject::invokeMethod(&phones, [&phones] { phones.stopOther(); });
                    }
                });
                // Until the line has been quiet for half a second.
                runUntil([&] { return nowNs() - serial.lastNs() > 500'000'000
                                      && nowNs() - start > 1'000'000'000; },
                         30 * 60 * 1000);
                presser.join();
            }
            burstDelays += probe.take();
            const QList<Sent> seen = serial.since(start);
            for (const Sent &s : seen)
                burstFrames += isSpeed(s.frame) ? 1 : 0;
            if (qEnvironmentVariableIsSet("BENCH_LINE_TRACE")) {
                for (const Sent &s : seen)
                    std::fprintf(stderr, "frame %.2f %s\n", (s.ns - start) / 1e6,
                                 s.frame.toHex(' ').constData());
                for (const qint64 at : std::as_const(escapes))
                    std::fprintf(stderr, "escape %.2f\n", (at - start) / 1e6);
                for (const qint64 at : std::as_const(xs))
                    std::fprintf(stderr, "x %.2f\n", (at - start) / 1e6);
                for (const qint64 at : std::as_const(keysSeen.pressed))
                    std::fprintf(stderr, "key %.2f\n", (at - start) / 1e6);
            }
            for (const qint64 at : std::as_const(escapes)) {
                const qint64 d = firstAfter(seen, at, isStopAll);
                d < 0 ? void(++missedStops) : windowStops.append(d);
                const auto taken = std::find_if(keysSeen.pressed.cbegin(), keysSeen.pressed.cend(),
                                                [at](qint64 ns) { return ns >= at; });
                if (taken != keysSeen.pressed.cend())
                    keyDelays.append(*taken - at);
            }
            keysSeen.pressed.clear();

            for (const qint64 at : std::as_const(xs)) {
                const qint64 d = firstAfter(seen, at, isStopOf100);
                d < 0 ? void(++missedStops) : phoneStops.append(d);
            }
        }

        // A controller that does not answer: controller 7 is asked for a
        // loco entry, and stays silent for two attempts of two seconds.
        QList<qint64> silentDelays;
        {
            window.txtControllerNr()->setText(QStringLiteral("7"));
            const Prober prober(probe);
            QTimer::singleShot(0, &window, [&] { window.ShowSpeedSteps(0); });
            runUntil([] { return false; }, 4500);
            silentDelays = probe.take();
            window.txtControllerNr()->setText(QStringLiteral("1"));
        }

        // A CV backup on the programming track, with a real track's timing.
        QList<qint64> backupDelays;
        {
            CommandBuffer buffer;
            ProgrammingObserver observer;
            DecoderProgrammer programmer(buffer, &observer);
            DecoderJobs jobs(programmer, &observer);
            programmer.setController(1);
            const Prober prober(probe);
            bool done = false;
            QTimer::singleShot(0, &window, [&] {
                programmer.SetProgMode(true);
                jobs.backup(1, 8);
                programmer.SetProgMode(false);
                done = true;
            });
            runUntil([&] { return done; }, 120'000);
            backupDelays = probe.take();
        }

        QMetaObject::invokeMethod(&phones, [&] { delete phones.flood; delete phones.other; },
                                  Qt::BlockingQueuedConnection);
        phoneThread.quit();
        phoneThread.wait();

        const double windowP99 = percentileMs(windowStops, 0.99);
        const double phoneP99 = percentileMs(phoneStops, 0.99);
        const double burstDelayP99 = percentileMs(burstDelays, 0.99);
        const double silentDelayP99 = percentileMs(silentDelays, 0.99);
        const double backupDelayP99 = percentileMs(backupDelays, 0.99);
        const double framesPerBurst = double(burstFrames) / bursts;
        const int worstBurst = qMax(aloneFrames, int(framesPerBurst));
        const char *name = qPrintable(label);
        std::printf("%s_bursts=%d\n", name, bursts);
        std::printf("%s_window_stop_p50_ms=%.2f\n", name, percentileMs(windowStops, 0.5));
        std::printf("%s_window_stop_p99_ms=%.2f\n", name, windowP99);
        std::printf("%s_phone_stop_p50_ms=%.2f\n", name, percentileMs(phoneStops, 0.5));
        std::printf("%s_phone_stop_p99_ms=%.2f\n", name, phoneP99);
        std::printf("%s_window_key_taken_p99_ms=%.2f\n", name, percentileMs(keyDelays, 0.99));
        std::printf("%s_stops_missed=%d\n", name, missedStops);
        std::printf("%s_burst_alone_speed_frames=%d\n", name, aloneFrames);
        std::printf("%s_burst_alone_window_thread_cpu_ms=%.1f\n", name, aloneCpuMs);
        std::printf("%s_burst_with_stops_speed_frames=%.0f\n", name, framesPerBurst);
        std::printf("%s_event_delay_burst_p99_ms=%.2f\n", name, burstDelayP99);
        std::printf("%s_event_delay_silent_controller_p99_ms=%.2f\n", name, silentDelayP99);
        std::printf("%s_event_delay_cv_backup_p99_ms=%.2f\n", name, backupDelayP99);
        std::printf("%s_boxes=%d\n", name, int(boxes.shown));
        const bool met = windowP99 >= 0 && windowP99 <= 3.0 && phoneP99 >= 0 && phoneP99 <= 3.0
                         && burstDelayP99 <= 16.0 && silentDelayP99 <= 16.0
                         && backupDelayP99 <= 16.0 && worstBurst <= 200 && missedStops == 0;
        std::printf("%s goals: stop p99 <= 3 ms (window %.2f, phone %.2f), event delay p99 <= "
                    "16 ms (burst %.2f, silent %.2f, backup %.2f), burst <= 200 frames (%.0f): "
                    "%s\n",
                    name, windowP99, phoneP99, burstDelayP99, silentDelayP99, backupDelayP99,
                    double(worstBurst), met ? "met" : "missed");
        exitCode = met ? 0 : 1;
        // The port comes back from the line before it goes.
        setControllerPort(nullptr);
    }
    setMessageBoxes(nullptr);
#ifdef KZ_LINE_OWNER
    setControllerLine(nullptr);
#endif
    return exitCode;
}
