// Benchmarks of the controller link, run by hand (see the README):
//
//   roundtrip  SendCommand through the real serial port to the virtual command
//              station on a pseudo-terminal, against a plain termios
//              request/reply loop to a station of the same kind; interleaved
//              rounds, so that drift of a shared machine hits both alike.
//   waiting    CPU time of the whole process while one exchange waits out a
//              real 2-second time-out for a controller that never answers.
//   reopen     how long the first command after opening the port takes when
//              the board restarts on every open (0, 500, 1000 and 1800 ms),
//              with the window's policy of 2 attempts of 2 seconds; with
//              --device PATH against that device instead (kzsim
//              --reset-on-open MS, or a real board).
//
// Each prints name=value lines and, last, one summary line with the goal.
// Usage: bench_link [roundtrip|waiting|reopen]... [--exchanges N] [--rounds N] [--no-pin]
//                   [--device PATH]
//
// The process pins itself, station threads included, to one processor: the
// round trip then compares the work each side does, not the wake-up latency
// between processors, which on a shared machine varies by more than the
// whole difference. --no-pin leaves the threads to the scheduler.

#include "common/messagebox.h"
#include "link/commands.h"
#include "common/lineboxes.h"
#include "link/exchange.h"
#include "link/frame.h"
#include "link/portsession.h"
#include "link/serialport.h"
#include "simulator/ptystation.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <numeric>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr double RoundTripGoal = 1.25;
constexpr double WaitingGoalPercent = 2.0;

// Boxes have nobody to click them here; the benchmark counts them instead.
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

// Keeps this thread, and every thread started after it, on the last
// processor it may use. Answers that processor, or -1.
int pinToOneProcessor()
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return -1;
    for (int cpu = CPU_SETSIZE - 1; cpu >= 0; --cpu) {
        if (!CPU_ISSET(cpu, &allowed))
            continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        return ::sched_setaffinity(0, sizeof one, &one) == 0 ? cpu : -1;
    }
    return -1;
}

double processCpuMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// A station of the kind the program talks to, answering at once.
std::unique_ptr<PtyStation> startStation()
{
    auto station = std::make_unique<PtyStation>(PtyStation::Threading::OwnThread);
    if (!station->open()) {
        std::fprintf(stderr, "station: %s\n", qPrintable(station->errorString()));
        std::exit(2);
    }
    station->withCore([](StationCore &core) {
        core.setReplyDelayMs(0);
        core.setLogLimit(16);
    });
    return station;
}

// The plain loop: the device in raw mode at 115200,8,n,1, write the six
// bytes, poll and read until six have come, check the checksum.
class TermiosLine
{
public:
    explicit TermiosLine(const QString &device)
    {
        m_fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_fd < 0) {
            std::perror("open");
            std::exit(2);
        }
        termios raw{};
        ::tcgetattr(m_fd, &raw);
        ::cfmakeraw(&raw);
        ::cfsetispeed(&raw, B115200);
        ::cfsetospeed(&raw, B115200);
        raw.c_cflag |= CLOCAL | CREAD;
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        ::tcsetattr(m_fd, TCSANOW, &raw);
        ::tcflush(m_fd, TCIOFLUSH);
    }
    ~TermiosLine() { ::close(m_fd); }

    bool exchange(const CommandBuffer &request)
    {
        const QByteArray frame = Frame::encode(request);
        if (::write(m_fd, frame.constData(), size_t(frame.size())) != frame.size())
            return false;
        char reply[Frame::Size];
        int got = 0;
        while (got < Frame::Size) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0)
                return false;
            const ssize_t n = ::read(m_fd, reply + got, size_t(Frame::Size - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            got += int(n);
        }
        return Frame::isValidReply(QByteArrayView(reply, Frame::Size));
    }

private:
    int m_fd = -1;
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

double mean(const QList<double> &values)
{
    return values.isEmpty() ? 0 : std::accumulate(values.begin(), values.end(), 0.0) / values.size();
}

int roundTrip(int exchanges, int rounds)
{
    auto programStation = startStation();
    auto plainStation = startStation();

    SerialControllerPort port;
    setControllerPort(&port);
    if (!port.open(programStation->devicePath())) {
        std::fprintf(stderr, "open: %s\n", qPrintable(port.lastError().description));
        return 2;
    }
    setCurrentPortName(QStringLiteral("COM1"));
    TermiosLine plain(plainStation->devicePath());

    const CommandBuffer request{1, Command::SetSpeed, 128, 3, 0};
    QList<double> programUs;
    QList<double> plainUs;
    int failures = 0;
    // A few exchanges each before measuring: first-use costs are not the
    // round trip.
    for (int i = 0; i < 50; ++i) {
        CommandBuffer b = request;
        failures += !SendCommand(b, 1, false, 2);
        failures += !plain.exchange(request);
    }
    // Exchange by exchange in turns, the side that goes first changing from
    // round to round: both see the same machine at the same moment. Each
    // exchange is timed on its own and the medians are compared, so that a
    // stray delay of the scheduler weighs on neither side.
    const int perRound = std::max(1, exchanges / rounds);
    QElapsedTimer timer;
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < perRound; ++i) {
            for (int side = 0; side < 2; ++side) {
                const bool program = (round + side) % 2 == 0;
                timer.start();
                if (program) {
                    CommandBuffer b = request;
                    failures += !SendCommand(b, 1, false, 2);
                } else {
                    failures += !plain.exchange(request);
                }
                (program ? programUs : plainUs).append(double(timer.nsecsElapsed()) / 1e3);
            }
        }
    }
    setControllerPort(nullptr);

    const double programMedian = median(programUs);
    const double plainMedian = median(plainUs);
    const double ratio = programMedian / plainMedian;
    std::printf("roundtrip_exchanges_each=%d\n", perRound * rounds);
    std::printf("roundtrip_rounds=%d\n", rounds);
    std::printf("roundtrip_failures=%d\n", failures);
    std::printf("roundtrip_program_us=%.1f\n", programMedian);
    std::printf("roundtrip_termios_us=%.1f\n", plainMedian);
    std::printf("roundtrip_program_mean_us=%.1f\n", mean(programUs));
    std::printf("roundtrip_termios_mean_us=%.1f\n", mean(plainUs));
    std::printf("roundtrip_ratio=%.3f\n", ratio);
    std::printf("roundtrip: SendCommand %.1f us, termios loop %.1f us per exchange (medians), ratio %.2f "
                "(goal <= %.2f): %s\n",
                programMedian, plainMedian, ratio, RoundTripGoal,
                ratio <= RoundTripGoal && failures == 0 ? "met" : "MISSED");
    return 0;
}

int waiting()
{
    auto station = startStation();
    station->withCore([](StationCore &core) { core.addFault(Fault::noReply(Fault::Always)); });
    SerialControllerPort port;
    setControllerPort(&port);
    if (!port.open(station->devicePath()))
        return 2;
    setCurrentPortName(QStringLiteral("COM1"));

    CommandBuffer buffer{1, Command::SetSpeed, 128, 3, 0};
    QElapsedTimer wall;
    const double cpuBefore = processCpuMs();
    wall.start();
    const bool answered = SendCommand(buffer, 1, false, 2);
    const double wallMs = double(wall.nsecsElapsed()) / 1e6;
    const double cpuMs = processCpuMs() - cpuBefore;
    setControllerPort(nullptr);

    const double percent = 100.0 * cpuMs / wallMs;
    std::printf("waiting_answered=%d\n", answered ? 1 : 0);
    std::printf("waiting_wall_ms=%.1f\n", wallMs);
    std::printf("waiting_cpu_ms=%.2f\n", cpuMs);
    std::printf("waiting_cpu_percent=%.3f\n", percent);
    std::printf("waiting: %.2f ms CPU during a %.0f ms time-out, %.3f %% of one core "
                "(goal <= %.1f %%): %s\n",
                cpuMs, wallMs, percent, WaitingGoalPercent,
                !answered && wallMs >= 1900 && percent <= WaitingGoalPercent ? "met" : "MISSED");
    return 0;
}

// The first command after each of rounds opens, timed from the open.
QList<double> firstCommandAfterOpen(const QString &device, int rounds, int *failures)
{
    QList<double> times;
    SerialControllerPort port;
    setControllerPort(&port);
    setCurrentPortName(QStringLiteral("COM1"));
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer wall;
        wall.start();
        if (!port.open(device)) {
            ++*failures;
            continue;
        }
        CommandBuffer buffer{1, Command::QueryController, 0, Selector::Status, 0};
        *failures += !SendCommand(buffer, 2, false, 2);
        times.append(double(wall.nsecsElapsed()) / 1e6);
        port.close();
    }
    setControllerPort(nullptr);
    return times;
}

int reopen(int rounds, const QString &device)
{
    int failures = 0;
    double worst = 0;
    if (!device.isEmpty()) {
        const QList<double> times = firstCommandAfterOpen(device, rounds, &failures);
        for (const double ms : times)
            worst = std::max(worst, ms);
        std::printf("reopen_device_first_ms_median=%.1f\n", median(times));
        std::printf("reopen_device_first_ms_max=%.1f\n", worst);
    } else {
        for (const int restartMs : {0, 500, 1000, 1800}) {
            auto station = startStation();
            station->withCore([&](StationCore &core) { core.setResetOnOpenMs(restartMs); });
            const QList<double> times = firstCommandAfterOpen(station->devicePath(), rounds, &failures);
            double slowest = 0;
            for (const double ms : times)
                slowest = std::max(slowest, ms);
            worst = std::max(worst, slowest);
            std::printf("reopen_restart_%d_first_ms_median=%.1f\n", restartMs, median(times));
            std::printf("reopen_restart_%d_first_ms_max=%.1f\n", restartMs, slowest);
        }
    }
    std::printf("reopen_failures=%d\n", failures);
    std::printf("reopen: first command after opening answered within its 2 attempts every time, "
                "slowest %.0f ms (goal: no failure, under 4000 ms): %s\n",
                worst, failures == 0 && worst < 4000 ? "met" : "MISSED");
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    CountingBoxes boxes;
    setMessageBoxes(&boxes);

    QStringList which;
    int exchanges = 5000;
    int rounds = 10;
    bool pin = true;
    int reopenRounds = 3;
    QString device;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--exchanges") && i + 1 < args.size())
            exchanges = args[++i].toInt();
        else if (args[i] == QLatin1String("--rounds") && i + 1 < args.size())
            rounds = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--device") && i + 1 < args.size())
            device = args[++i];
        else if (args[i] == QLatin1String("--no-pin"))
            pin = false;
        else
            which << args[i];
    }
    if (which.isEmpty())
        which = {QStringLiteral("roundtrip"), QStringLiteral("waiting")};

    std::printf("processor=%d\n", pin ? pinToOneProcessor() : -1);
    int status = 0;
    for (const QString &name : std::as_const(which)) {
        if (name == QLatin1String("roundtrip"))
            status |= roundTrip(exchanges, rounds);
        else if (name == QLatin1String("waiting"))
            status |= waiting();
        else if (name == QLatin1String("reopen"))
            status |= reopen(reopenRounds, device);
        else {
            std::fprintf(stderr, "unknown benchmark %s\n", qPrintable(name));
            return 2;
        }
        std::fflush(stdout);
    }
    setMessageBoxes(nullptr);
    return status;
}
