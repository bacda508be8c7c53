// Programming benchmark, run by hand (see the README): a full CV read by bit
// checks and a register search of the value 200, through the real serial
// port, against the virtual command station on a pseudo-terminal with the
// timing of a real programming track (an acknowledged check 100 ms, a check
// without acknowledgement 150 ms). The program's share is the part of the
// total that it spends outside its waits for the station's replies; the
// figure against the station's nominal delays is printed too. Prints
// name=value lines and, last, one summary line with the goal.
//
// Usage: bench_programming [--cv N] [--register N] [--value V]

#include "common/messagebox.h"
#include "link/portsession.h"
#include "link/serialport.h"
#include "locolist/programmer.h"
#include "simulator/ptystation.h"
#include "programmingbench.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <cstdio>

namespace {

constexpr double GoalPercent = 1.0;

} // namespace

using namespace ProgrammingBench;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    CountingBoxes boxes;
    setMessageBoxes(&boxes);

    int cv = 1;
    int reg = 1;
    int value = 200;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--cv"))
            cv = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--register"))
            reg = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--value"))
            value = args[i + 1].toInt();
    }

    PtyStation station(PtyStation::Threading::OwnThread);
    if (!station.open()) {
        std::fprintf(stderr, "station: %s\n", qPrintable(station.errorString()));
        return 2;
    }
    station.withCore([&](StationCore &core) {
        core.setControllerNumber(1);
        core.setRealisticTiming(true);
        // Register 1 is CV 1 on a register-mode decoder.
        core.setCv(cv, quint8(value));
        core.setCv(1, quint8(value));
    });
    SerialControllerPort serial;
    TimedPort port(&serial);
    setControllerPort(&port);
    setCurrentPortName(QStringLiteral("COM1"));
    if (!port.open(station.devicePath()))
        return 2;

    CommandBuffer buffer;
    ProgrammingObserver observer;
    DecoderProgrammer programmer(buffer, &observer);
    programmer.setController(1);
    programmer.SetProgMode(true);

    int readValue = -1;
    int foundValue = -1;
    const Figures read = measure(station, port, [&] { readValue = programmer.ReadCVBits(cv); });
    const Figures search = measure(station, port, [&] { foundValue = programmer.FindValue(reg, 0, 255); });
    programmer.SetProgMode(false);
    setControllerPort(nullptr);
    setMessageBoxes(nullptr);

    Figures both;
    both.totalMs = read.totalMs + search.totalMs;
    both.stationMs = read.stationMs + search.stationMs;
    both.waitedMs = read.waitedMs + search.waitedMs;
    both.exchanges = read.exchanges + search.exchanges;
    // The program's share: the time the program spends outside the waits
    // for the line. The nominal figure also counts how late the virtual
    // station's timer and threads deliver a reply against its nominal
    // delay, which on a loaded machine is several milliseconds.
    const double share = 100.0 * (both.totalMs - both.waitedMs) / both.totalMs;
    const double nominal = 100.0 * (both.totalMs - both.stationMs) / both.totalMs;
    const bool right = readValue == value && foundValue == value && boxes.shown == 0;

    std::printf("cv_read_value=%d\n", readValue);
    print("cv_read", read);
    std::printf("register_search_value=%d\n", foundValue);
    print("register_search", search);
    std::printf("programming_total_ms=%.1f\n", both.totalMs);
    std::printf("programming_station_nominal_ms=%.1f\n", both.stationMs);
    std::printf("programming_waiting_for_line_ms=%.1f\n", both.waitedMs);
    std::printf("programming_beyond_nominal_percent=%.3f\n", nominal);
    std::printf("programming_share_percent=%.3f\n", share);
    std::printf("programming: CV read and register search of %d took %.0f ms, %.0f ms of it "
                "waiting for the station (nominal %.0f ms); program's share %.3f %% (goal < "
                "%.0f %%): %s\n",
                value, both.totalMs, both.waitedMs, both.stationMs, share, GoalPercent,
                right && share < GoalPercent ? "met" : "MISSED");
    return right ? 0 : 1;
}
