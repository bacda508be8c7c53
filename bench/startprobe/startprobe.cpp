// A generic Qt plugin that times a program's start without a change to the
// program: loaded through QT_QPA_GENERIC_PLUGINS=kzstartprobe (with
// QT_PLUGIN_PATH pointing at its folder), it watches every window paint for
// the first time. It prints, on standard error,
//   kzprobe application_ns=<CLOCK_MONOTONIC>
// when the application object has been set up (the plugin is made then),
//   kzprobe first_window=<class> first_window_ns=<CLOCK_MONOTONIC>
// for the first top-level widget painted (the splash of kzVelantor), and, when
// a window of the class named in KZ_PROBE_UNTIL is painted (default: the first
// window), its time and the peak resident memory of the process so far:
//   kzprobe until_window=<class> until_window_ns=<ns> peak_rss_kb=<kB>
// and then ends the process at once, without any of its closing dialogs.

#include <QGenericPlugin>
#include <QGuiApplication>
#include <QSet>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

long long monotonicNs()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

long peakRssKb()
{
    std::FILE *status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, "VmHWM:", 6) == 0) {
            kb = std::strtol(line + 6, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return kb;
}

class StartProbe final : public QObject
{
public:
    StartProbe() : m_until(qEnvironmentVariable("KZ_PROBE_UNTIL")) {}

    // A window counts as shown when it first paints: a user sees it then, and
    // a window shown before the program has set up its fonts paints late.
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Paint || !watched->isWidgetType())
            return false;
        auto *widget = static_cast<QWidget *>(watched);
        if (!widget->isWindow() || m_painted.contains(widget))
            return false;
        m_painted.insert(widget);
        // Stamped once the paint has run its course, fonts and all.
        const QByteArray className = widget->metaObject()->className();
        const bool first = !m_seenFirst;
        m_seenFirst = true;
        const bool until = m_until.isEmpty() || m_until == QLatin1String(className);
        QTimer::singleShot(0, [className, first, until] {
            const long long now = monotonicNs();
            if (first)
                std::fprintf(stderr, "kzprobe first_window=%s first_window_ns=%lld\n",
                             className.constData(), now);
            if (until) {
                std::fprintf(stderr, "kzprobe until_window=%s until_window_ns=%lld peak_rss_kb=%ld\n",
                             className.constData(), now, peakRssKb());
                std::fflush(stderr);
                ::_exit(0);
            }
        });
        return false;
    }

private:
    QString m_until;
    bool m_seenFirst = false;
    QSet<const QWidget *> m_painted;
};

} // namespace

class StartProbePlugin final : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "startprobe.json")

public:
    QObject *create(const QString &name, const QString &) override
    {
        if (name.compare(QLatin1String("kzstartprobe"), Qt::CaseInsensitive) != 0)
            return nullptr;
        std::fprintf(stderr, "kzprobe application_ns=%lld\n", monotonicNs());
        auto *probe = new StartProbe;
        qApp->installEventFilter(probe);
        return probe;
    }
};

#include "startprobe.moc"
