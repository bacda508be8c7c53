// The roster at a thousand locos, run by hand (see the README): reading
// roster.xml as DecoderPro writes it (every loco with its address element,
// labels for F0 to F12 and attribute pairs), the phones' RL line from it (with
// a controller list of a hundred locos beside it), and the list the web
// throttle serves to Engine Driver. Medians over the rounds, and the resident
// memory the loaded roster adds.
//
// Prints name=value lines and, last, one summary line with the goals: load at
// most 100 ms, RL line at most 5 ms, memory at most 3 MB more. The times are
// judged as processor time of this process: on a machine shared with other
// work the wall-clock time counts the waits for a processor too (it is
// printed beside them).
// Usage: bench_roster [--locos N] [--rounds N]

#include "bench/resident.h"
#include "roster/roster.h"
#include "throttleserver/withrottle.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSaveFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

constexpr double LoadGoalMs = 100;
constexpr double RosterLineGoalMs = 5;
constexpr double MemoryGoalMiB = 3;

QByteArray locomotive(int n)
{
    const QByteArray id = "BR " + QByteArray::number(100 + n) + " " + QByteArray::number(n);
    const QByteArray address = QByteArray::number(1 + (n * 37) % 10239);
    const QByteArray file = "BR_" + QByteArray::number(100 + n) + "_" + QByteArray::number(n) + ".xml";
    QByteArray e = "    <locomotive id=\"" + id + "\" fileName=\"" + file
                   + "\" roadNumber=\"" + QByteArray::number(n) + " 466-1\" roadName=\"DB\" mfg=\"Roco\""
                     " owner=\"Jana\" model=\"BR 218\" dccAddress=\"" + address + "\" comment=\"Lok "
                   + QByteArray::number(n) + "&lt;?p?&gt;Werkstatt\" developerID=\"\" manufacturerID=\"151\""
                     " productID=\"\" programmingModes=\"\" maxSpeed=\"100\" imageFilePath=\"\""
                     " iconFilePath=\"\" URL=\"\" IsShuntingOn=\"\">\n"
                     "      <dateUpdated>2024-03-09T17:21:04.812+01:00</dateUpdated>\n"
                     "      <decoder model=\"LokSound 5 DCC\" family=\"ESU LokSound 5\" comment=\"\" maxFnNum=\"31\" />\n"
                     "      <locoaddress>\n        <dcclocoaddress number=\"" + address
                   + "\" longaddress=\"yes\" />\n        <number>" + address
                   + "</number>\n        <protocol>dcc_long</protocol>\n      </locoaddress>\n"
                     "      <functionlabels>\n";
    static const char *const labels[] = {"Licht", "Sound", "Horn", "Pfeife", "Kupplung", "Rangiergang",
                                         "Lüfter", "Bremse", "Glocke", "Ansage", "Türen", "Kompressor",
                                         "Führerstand"};
    for (int f = 0; f <= 12; ++f) {
        e += "        <functionlabel num=\"" + QByteArray::number(f) + "\" lockable=\""
             + (f == 2 ? "false" : "true")
             + "\" functionImage=\"\" functionImageSelected=\"\" visible=\"true\">" + labels[f]
             + "</functionlabel>\n";
    }
    e += "      </functionlabels>\n      <soundlabels />\n      <attributepairs>\n"
         "        <keyvaluepair>\n          <key>RosterGroup:Diesel</key>\n          <value>yes</value>\n"
         "        </keyvaluepair>\n      </attributepairs>\n    </locomotive>\n";
    return e;
}

// The processor time this process has used, in nanoseconds.
qint64 cpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

double medianMs(QList<qint64> ns)
{
    std::sort(ns.begin(), ns.end());
    return ns.isEmpty() ? 0 : double(ns.at(ns.size() / 2)) / 1e6;
}

int argument(const QStringList &arguments, const QString &name, int fallback)
{
    const qsizetype at = arguments.indexOf(name);
    return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1).toInt() : fallback;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int locos = argument(app.arguments(), QStringLiteral("--locos"), 1000);
    const int rounds = argument(app.arguments(), QStringLiteral("--rounds"), 21);

    QTemporaryDir dir;
    QByteArray index = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<?xml-stylesheet type=\"text/xsl\" href=\"/xml/XSLT/roster2array.xsl\"?>\n"
                       "<roster-config xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                       "xsi:noNamespaceSchemaLocation=\"http://jmri.org/xml/schema/roster.xsd\">\n  <roster>\n";
    for (int n = 0; n < locos; ++n)
        index += locomotive(n);
    index += "  </roster>\n  <rosterGroup>\n    <group>Diesel</group>\n  </rosterGroup>\n</roster-config>\n";
    {
        QSaveFile file(dir.filePath(QStringLiteral("roster.xml")));
        if (!file.open(QIODevice::WriteOnly) || file.write(index) != index.size() || !file.commit()) {
            std::fprintf(stderr, "cannot write the roster\n");
            return 1;
        }
    }

    // Memory: one roster loaded and kept, as the program keeps it.
    const long before = residentKiB();
    Roster kept;
    kept.setFolder(dir.path());
    const long after = residentKiB();
    if (kept.entries().size() != locos || !kept.problems().isEmpty()) {
        std::fprintf(stderr, "read %lld of %d locos\n", (long long)kept.entries().size(), locos);
        return 1;
    }

    QList<qint64> load;
    QList<qint64> rosterLine;
    QList<qint64> served;
    QList<qint64> loadWall;
    QList<qint64> rosterLineWall;
    QList<int> controller;
    for (int n = 1; n <= 100; ++n)
        controller << n;
    qsizetype lineBytes = 0;
    qsizetype xmlBytes = 0;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        qint64 cpu = cpuNs();
        Roster roster;
        roster.setFolder(dir.path());
        load << cpuNs() - cpu;
        loadWall << timer.nsecsElapsed();

        timer.restart();
        cpu = cpuNs();
        const QByteArray line = WiThrottle::rosterLine(WiThrottle::PhoneRoster{roster.entries(), controller});
        rosterLine << cpuNs() - cpu;
        rosterLineWall << timer.nsecsElapsed();
        lineBytes = line.size();

        cpu = cpuNs();
        const QByteArray xml = roster.webRoster();
        served << cpuNs() - cpu;
        xmlBytes = xml.size();
    }

    const double loadMs = medianMs(load);
    const double lineMs = medianMs(rosterLine);
    const double servedMs = medianMs(served);
    const double addedMiB = double(after - before) / 1024;
    std::printf("locos=%d\nrounds=%d\nindex_bytes=%lld\n", locos, rounds, (long long)index.size());
    std::printf("load_ms=%.2f\nload_wall_ms=%.2f\n", loadMs, medianMs(loadWall));
    std::printf("rl_line_ms=%.3f\nrl_line_wall_ms=%.3f\nrl_line_bytes=%lld\n", lineMs,
                medianMs(rosterLineWall), (long long)lineBytes);
    std::printf("served_xml_ms=%.2f\nserved_xml_bytes=%lld\n", servedMs, (long long)xmlBytes);
    std::printf("rss_before_kib=%ld\nrss_after_kib=%ld\nrss_added_mib=%.2f\n", before, after, addedMiB);
    const bool met = loadMs <= LoadGoalMs && lineMs <= RosterLineGoalMs && addedMiB <= MemoryGoalMiB;
    std::printf("roster of %d: load %.1f ms (goal %.0f), RL %.2f ms (goal %.0f), memory +%.2f MB "
                "(goal %.0f) %s\n",
                locos, loadMs, LoadGoalMs, lineMs, RosterLineGoalMs, addedMiB, MemoryGoalMiB,
                met ? "met" : "MISSED");
    return 0;
}
