// Start-up benchmark, run by hand (see the README): kzVelantor against a
// minimal Qt Widgets program that shows one window, started in turns under
// the same display (offscreen unless QT_QPA_PLATFORM says otherwise).
//
//   - time from starting the process until its first window (kzVelantor's
//     splash) has painted for the first time, that is, can be seen;
//   - peak resident memory once the main window (for the minimal program: its
//     one window) is up.
//
// The programs are timed from outside by the kzstartprobe plugin (see
// startprobe/), so kzVelantor runs exactly as built. It runs in simulation
// mode with a settings store of its own. Prints name=value lines and, last,
// one summary line with the goal.
//
// The goal judges memory only. The time to the splash is reported, not
// judged: kzVelantor builds its whole main window before the splash shows, as
// its start-up order demands, and that order is not traded for speed.
//
// Usage: bench_startup [--rounds N] [--program PATH] [--minimal PATH]

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>

namespace {

// Peak resident memory at most this many times the minimal program's.
constexpr double RssGoal = 1.3;

long long monotonicNs()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

struct Run
{
    QString firstWindow;
    double applicationMs = 0;
    double firstWindowMs = 0;
    double untilWindowMs = 0;
    long peakRssKb = 0;
};

std::optional<Run> runOnce(const QString &program, const QString &until, const QString &pluginDir,
                           const QString &configDir)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_PLUGIN_PATH"), pluginDir);
    env.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("kzstartprobe"));
    env.insert(QStringLiteral("KZ_PROBE_UNTIL"), until);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir);
    env.insert(QStringLiteral("XDG_DATA_HOME"), configDir);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::SeparateChannels);
    const long long start = monotonicNs();
    child.start(program, {});
    if (!child.waitForFinished(60000)) {
        child.kill();
        child.waitForFinished();
        std::fprintf(stderr, "%s did not finish\n", qPrintable(program));
        return std::nullopt;
    }
    const QString out = QString::fromLocal8Bit(child.readAllStandardError());
    static const QRegularExpression application(QStringLiteral("kzprobe application_ns=(\\d+)"));
    static const QRegularExpression first(
        QStringLiteral("kzprobe first_window=(\\S+) first_window_ns=(\\d+)"));
    static const QRegularExpression last(
        QStringLiteral("kzprobe until_window=(\\S+) until_window_ns=(\\d+) peak_rss_kb=(-?\\d+)"));
    const auto a = first.match(out);
    const auto b = last.match(out);
    if (!a.hasMatch() || !b.hasMatch()) {
        std::fprintf(stderr, "%s: no probe output (is the plugin in %s?)\n%s\n",
                     qPrintable(program), qPrintable(pluginDir), qPrintable(out.right(2000)));
        return std::nullopt;
    }
    Run run;
    const auto c = application.match(out);
    if (c.hasMatch())
        run.applicationMs = double(c.captured(1).toLongLong() - start) / 1e6;
    run.firstWindow = a.captured(1);
    run.firstWindowMs = double(a.captured(2).toLongLong() - start) / 1e6;
    run.untilWindowMs = double(b.captured(2).toLongLong() - start) / 1e6;
    run.peakRssKb = b.captured(3).toLong();
    return run;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QDir here(QCoreApplication::applicationDirPath());
    int rounds = 10;
    QString program = here.filePath(QStringLiteral("../dashboard/kzVelantor"));
    QString minimal = here.filePath(QStringLiteral("bench_minimal_window"));
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--rounds"))
            rounds = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--program"))
            program = args[i + 1];
        else if (args[i] == QLatin1String("--minimal"))
            minimal = args[i + 1];
    }
    const QString pluginDir = here.filePath(QStringLiteral("plugins"));

    QList<double> splashMs, programRss, mainWindowMs, minimalMs, minimalRss;
    QList<double> programAppMs, minimalAppMs;
    QString firstWindow;
    for (int round = 0; round < rounds; ++round) {
        // Which program starts first alternates from round to round.
        for (int side = 0; side < 2; ++side) {
            const bool ours = (round + side) % 2 == 0;
            QTemporaryDir config;
            const std::optional<Run> run =
                ours ? runOnce(program, QStringLiteral("kzVelantor"), pluginDir, config.path())
                     : runOnce(minimal, QString(), pluginDir, config.path());
            if (!run)
                return 2;
            if (ours) {
                firstWindow = run->firstWindow;
                splashMs << run->firstWindowMs;
                programAppMs << run->applicationMs;
                mainWindowMs << run->untilWindowMs;
                programRss << double(run->peakRssKb);
            } else {
                minimalMs << run->firstWindowMs;
                minimalAppMs << run->applicationMs;
                minimalRss << double(run->peakRssKb);
            }
        }
    }

    const double timeRatio = median(splashMs) / median(minimalMs);
    const double rssRatio = median(programRss) / median(minimalRss);
    std::printf("startup_rounds=%d\n", rounds);
    std::printf("startup_first_window_program=%s\n", qPrintable(firstWindow));
    std::printf("startup_splash_ms_program=%.1f\n", median(splashMs));
    std::printf("startup_window_ms_minimal=%.1f\n", median(minimalMs));
    std::printf("startup_time_ratio=%.3f\n", timeRatio);
    // Where the time goes: loading and setting up the application object,
    // then the program's own work until its first window.
    std::printf("startup_application_ms_program=%.1f\n", median(programAppMs));
    std::printf("startup_application_ms_minimal=%.1f\n", median(minimalAppMs));
    std::printf("startup_main_window_ms_program=%.1f\n", median(mainWindowMs));
    std::printf("startup_peak_rss_kb_program=%.0f\n", median(programRss));
    std::printf("startup_peak_rss_kb_minimal=%.0f\n", median(minimalRss));
    std::printf("startup_rss_ratio=%.3f\n", rssRatio);
    std::printf("startup: splash after %.1f ms vs. %.1f ms (ratio %.2f, not judged), peak RSS "
                "%.1f MB vs. %.1f MB (ratio %.2f), goal RSS <= %.1f: %s\n",
                median(splashMs), median(minimalMs), timeRatio, median(programRss) / 1024,
                median(minimalRss) / 1024, rssRatio, RssGoal,
                rssRatio <= RssGoal ? "met" : "MISSED");
    return 0;
}
