// A generic Qt plugin that times a program's start without a change to the
// program: loaded through QT_QPA_GENERIC_PLUGINS=kzstartprobe (with
// QT_PLUGIN_PATH pointing at its folder), it watches every window being
// shown. It prints, on standard error,
//   kzprobe first_window=<class> first_window_ns=<CLOCK_MONOTONIC>
// for the first top-level widget shown (the splash of kzVelantor), and, when
// a window of the class named in KZ_PROBE_UNTIL is shown (default: the first
// window), its time and the peak resident memory of the process so far:
//   kzprobe until_window=<class> until_window_ns=<ns> peak_rss_kb=<kB>
// and then ends the process at once, without any of its closing dialogs.

#include <QGenericPlugin>
#include <QGuiApplication>
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

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Show || !watched->isWidgetType())
            return false;
        auto *widget = static_cast<QWidget *>(watched);
        if (!widget->isWindow())
            return false;
        const long long now = monotonicNs();
        const char *className = widget->metaObject()->className();
        if (!m_seenFirst) {
            m_seenFirst = true;
            std::fprintf(stderr, "kzprobe first_window=%s first_window_ns=%lld\n", className, now);
        }
        if (m_until.isEmpty() || m_until == QLatin1String(className)) {
            // Once the window's own show has run its course.
            QTimer::singleShot(0, [now, name = QByteArray(className)] {
                std::fprintf(stderr, "kzprobe until_window=%s until_window_ns=%lld peak_rss_kb=%ld\n",
                             name.constData(), now, peakRssKb());
                std::fflush(stderr);
                ::_exit(0);
            });
        }
        return false;
    }

private:
    QString m_until;
    bool m_seenFirst = false;
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
        auto *probe = new StartProbe;
        qApp->installEventFilter(probe);
        return probe;
    }
};

#include "startprobe.moc"
