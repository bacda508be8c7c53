// Decoder backup benchmark, run by hand (see the README): a backup of CVs 1
// to 255 and a restore of what it read (write and verify per CV), through the
// real serial port, against the virtual command station on a pseudo-terminal
// with the timing of a real programming track. The station's decoder has the
// CVs a common decoder has. Before the backup, the same CVs are read the way
// "Wert suchen" reads one (eight bit checks, a ninth for 0, nothing
// confirmed), which is how backups were read before every value was
// confirmed: the two side by side in one run. Prints name=value lines, the
// time per CV and, last, one summary line with the goals: the backup at most
// 45 % of the plain bit read, the program's share under 1 %. Takes minutes.
//
// Usage: bench_decoderbackup [--last N] [--all-cvs] [--no-plain-read]

#include "link/portsession.h"
#include "locolist/decoderfields.h"
#include "locolist/decoderjobs.h"
#include "programmingbench.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

constexpr double GoalPercent = 1.0;
constexpr double GoalOfPlainReadPercent = 45.0;

} // namespace

using namespace ProgrammingBench;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    CountingBoxes boxes;
    setMessageBoxes(&boxes);

    int last = DecoderFields::DefaultLastCv;
    bool allCvs = false;
    bool plainRead = true;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--last") && i + 1 < args.size())
            last = args[++i].toInt();
        else if (args[i] == QLatin1String("--all-cvs"))
            allCvs = true;
        else if (args[i] == QLatin1String("--no-plain-read"))
            plainRead = false;
    }

    PtyStation station(PtyStation::Threading::OwnThread);
    if (!station.open()) {
        std::fprintf(stderr, "station: %s\n", qPrintable(station.errorString()));
        return 2;
    }
    StationState original;
    station.withCore([&](StationCore &core) {
        core.setControllerNumber(1);
        core.setRealisticTiming(true);
        if (allCvs) {
            for (int cv = 1; cv <= last; ++cv)
                core.setCv(cv, core.cv(cv));
        }
        original = core.state();
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
    DecoderJobs jobs(programmer, &observer);
    programmer.setController(1);
    programmer.SetProgMode(true);

    int plainValues = 0;
    Figures plain;
    if (plainRead) {
        plain = measure(station, port, [&] {
            for (int cv = 1; cv <= last; ++cv) {
                if (programmer.ReadCVBits(cv) >= 0)
                    ++plainValues;
            }
        });
    }
    DecoderJobs::Backup backup;
    const Figures read = measure(station, port, [&] { backup = jobs.backup(1, last); });
    // What the restore writes goes through the file, as in the program.
    DecoderFields::BackupHeader header;
    header.time = QDateTime::currentDateTime();
    header.uncertain = backup.uncertain;
    const QList<DecoderFields::CvValue> plan =
        DecoderFields::parseBackupFile(
            DecoderFields::backupFileText(backup.values, backup.unreadable, header))
            .restorePlan();
    station.withCore([](StationCore &core) { core.factoryReset(); });
    DecoderJobs::Restore restore;
    const Figures write = measure(station, port, [&] { restore = jobs.restore(plan); });
    programmer.SetProgMode(false);
    setControllerPort(nullptr);
    setMessageBoxes(nullptr);

    bool same = true;
    station.withCore([&](StationCore &core) {
        for (int cv = 1; cv <= last; ++cv) {
            if (original.cvPresent.test(cv - 1)
                && (!core.hasCv(cv) || core.cv(cv) != original.cvs[cv - 1]))
                same = false;
        }
    });

    Figures both;
    both.totalMs = read.totalMs + write.totalMs;
    both.stationMs = read.stationMs + write.stationMs;
    both.waitedMs = read.waitedMs + write.waitedMs;
    both.exchanges = read.exchanges + write.exchanges;
    const double share = 100.0 * (both.totalMs - both.waitedMs) / both.totalMs;
    const bool right = backup.outcome == DecoderJobs::Backup::Done
                       && restore.outcome == DecoderJobs::Restore::Done && same
                       && backup.uncertain.isEmpty() && boxes.shown == 0;
    const double ofPlain = plainRead ? 100.0 * read.totalMs / plain.totalMs : 0.0;

    if (plainRead) {
        std::printf("plain_read_values=%d\n", plainValues);
        print("plain_read", plain);
        std::printf("plain_read_ms_per_cv=%.1f\n", plain.totalMs / last);
    }
    std::printf("backup_cvs=%d\n", last);
    std::printf("backup_read=%d\n", int(backup.values.size()));
    std::printf("backup_unreadable=%d\n", int(backup.unreadable.size()));
    std::printf("backup_uncertain=%d\n", int(backup.uncertain.size()));
    if (plainRead)
        std::printf("backup_of_plain_read_percent=%.1f\n", ofPlain);
    print("backup", read);
    std::printf("backup_ms_per_cv=%.1f\n", read.totalMs / last);
    std::printf("restore_cvs=%d\n", restore.count);
    std::printf("restore_written=%d\n", restore.written);
    print("restore", write);
    std::printf("restore_ms_per_cv=%.1f\n",
                restore.count ? write.totalMs / restore.count : 0.0);
    std::printf("restore_same_values=%s\n", same ? "yes" : "no");
    std::printf("decoder_total_ms=%.1f\n", both.totalMs);
    std::printf("decoder_waiting_for_line_ms=%.1f\n", both.waitedMs);
    std::printf("decoder_share_percent=%.3f\n", share);
    const bool fastEnough = !plainRead || ofPlain <= GoalOfPlainReadPercent;
    if (plainRead)
        std::printf("plain bit read: %d CVs in %.0f ms (%.1f ms per CV); ", last, plain.totalMs,
                    plain.totalMs / last);
    std::printf("decoder backup: %d CVs read and confirmed in %.0f ms (%.1f ms per CV%s), %d "
                "written back in %.0f ms (%.1f ms per CV); program's share %.3f %% (goals: < "
                "%.0f %% share, <= %.0f %% of the plain read): %s\n",
                last, read.totalMs, read.totalMs / last,
                plainRead ? qPrintable(QStringLiteral(", %1 % of the plain read")
                                           .arg(ofPlain, 0, 'f', 1))
                          : "",
                restore.count, write.totalMs,
                restore.count ? write.totalMs / restore.count : 0.0, share, GoalPercent,
                GoalOfPlainReadPercent,
                right && share < GoalPercent && fastEnough ? "met" : "MISSED");
    return right ? 0 : 1;
}
