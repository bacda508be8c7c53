#include "simulator/ptystation.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

// The part of the station that lives on its thread: the pty's file
// descriptors, their notifiers and the timer for due replies.
class PtyServer : public QObject
{
public:
    explicit PtyServer(PtyStation *station)
        : m_station(station)
    {
        m_clock.start();
    }
    ~PtyServer() override { closePty(); }

    bool openPty();
    void closePty();
    bool isOpen() const { return m_master >= 0; }

    PtyStation *m_station;
    QString m_devicePath;
    QString m_linkPath;
    QString m_error;

private:
    qint64 nowMs() const { return m_clock.elapsed(); }
    void readMaster();
    void readOpens();
    void sendDue();
    void flushOutput();
    void schedule(std::optional<qint64> dueMs);

    QElapsedTimer m_clock;
    int m_master = -1;
    // A slave descriptor of our own: the pty stays alive between the
    // program's opens, so the master never sees the hang-up of a slave side
    // that nobody holds (which would make it readable with EIO forever).
    int m_slaveKeep = -1;
    // Tells when the program opens the slave device, which restarts a board
    // that resets on open. -1 where the system offers no such watch.
    int m_openWatch = -1;
    QSocketNotifier *m_openNotifier = nullptr;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QTimer *m_timer = nullptr;
    QByteArray m_output;
};

bool PtyServer::openPty()
{
    closePty();
    termios raw;
    std::memset(&raw, 0, sizeof raw);
    cfmakeraw(&raw);
    cfsetispeed(&raw, B115200);
    cfsetospeed(&raw, B115200);
    raw.c_cflag |= CLOCAL | CREAD;

    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, &raw, nullptr) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(master);
        ::close(slave);
        return false;
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);

    m_master = master;
    m_slaveKeep = slave;
    m_devicePath = QString::fromLocal8Bit(name);
    m_error.clear();

    // Our own slave descriptor is open already, so every open seen from now
    // on is someone else's.
    m_openWatch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_openWatch >= 0 && ::inotify_add_watch(m_openWatch, name, IN_OPEN) < 0) {
        ::close(m_openWatch);
        m_openWatch = -1;
    }
    if (m_openWatch >= 0) {
        m_openNotifier = new QSocketNotifier(m_openWatch, QSocketNotifier::Read, this);
        connect(m_openNotifier, &QSocketNotifier::activated, this, &PtyServer::readOpens);
    }
    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyServer::readMaster);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PtyServer::flushOutput);
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &PtyServer::sendDue);
    return true;
}

void PtyServer::closePty()
{
    delete m_openNotifier;
    m_openNotifier = nullptr;
    if (m_openWatch >= 0)
        ::close(m_openWatch);
    m_openWatch = -1;
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    delete m_timer;
    m_timer = nullptr;
    if (m_master >= 0)
        ::close(m_master);
    if (m_slaveKeep >= 0)
        ::close(m_slaveKeep);
    m_master = -1;
    m_slaveKeep = -1;
    m_output.clear();
}

void PtyServer::readOpens()
{
    alignas(inotify_event) char buffer[sizeof(inotify_event) * 16];
    for (;;) {
        const ssize_t n = ::read(m_openWatch, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (event->mask & IN_OPEN) {
                QMutexLocker lock(&m_station->m_mutex);
                m_station->m_core.deviceOpened(nowMs());
            }
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
}

void PtyServer::readMaster()
{
    // The kernel reports an open before the opener can write anything, so
    // an open not yet handled comes before these bytes.
    if (m_openWatch >= 0)
        readOpens();
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            const qint64 now = nowMs();
            std::optional<qint64> due;
            {
                QMutexLocker lock(&m_station->m_mutex);
                m_station->m_core.receive(QByteArrayView(buffer, n), now);
                due = m_station->m_core.nextDueMs();
            }
            schedule(due);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // EIO or end of file: no slave side is open. That cannot last while
        // we hold our own slave descriptor, but should it happen, look again
        // a little later rather than spin on a descriptor that stays readable.
        m_readNotifier->setEnabled(false);
        QTimer::singleShot(50, this, [this] {
            if (m_readNotifier)
                m_readNotifier->setEnabled(true);
        });
        return;
    }
}

void PtyServer::sendDue()
{
    QByteArray bytes;
    std::optional<qint64> due;
    {
        QMutexLocker lock(&m_station->m_mutex);
        bytes = m_station->m_core.takeDue(nowMs());
        due = m_station->m_core.nextDueMs();
    }
    m_output += bytes;
    flushOutput();
    schedule(due);
}

void PtyServer::flushOutput()
{
    while (!m_output.isEmpty() && m_master >= 0) {
        const ssize_t n = ::write(m_master, m_output.constData(), size_t(m_output.size()));
        if (n > 0) {
            m_output.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writeNotifier->setEnabled(true);
            return;
        }
        m_output.clear(); // the line is gone; the reply with it
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
}

void PtyServer::schedule(std::optional<qint64> dueMs)
{
    if (!m_timer)
        return;
    if (!dueMs) {
        m_timer->stop();
        return;
    }
    m_timer->start(int(qBound(qint64(0), *dueMs - nowMs(), qint64(24 * 3600 * 1000))));
}

// --- PtyStation ---------------------------------------------------------------

PtyStation::PtyStation(Threading threading)
    : PtyStation(StationState(), threading)
{
}

PtyStation::PtyStation(const StationState &state, Threading threading)
    : m_core(state)
{
    m_server = new PtyServer(this);
    if (threading == Threading::OwnThread) {
        m_thread = new QThread;
        m_thread->setObjectName(QStringLiteral("PtyStation"));
        m_server->moveToThread(m_thread);
        m_thread->start();
    }
}

PtyStation::~PtyStation()
{
    removeLink();
    invoke([this] { m_server->closePty(); });
    if (m_thread) {
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
    }
    delete m_server;
}

void PtyStation::invoke(const std::function<void()> &f) const
{
    if (QThread::currentThread() == m_server->thread())
        f();
    else
        QMetaObject::invokeMethod(m_server, f, Qt::BlockingQueuedConnection);
}

bool PtyStation::open()
{
    bool ok = false;
    invoke([&] { ok = m_server->openPty(); });
    return ok;
}

bool PtyStation::isOpen() const
{
    bool open = false;
    invoke([&] { open = m_server->isOpen(); });
    return open;
}

QString PtyStation::devicePath() const
{
    QString path;
    invoke([&] {
        if (m_server->isOpen())
            path = m_server->m_devicePath;
    });
    return path;
}

QString PtyStation::errorString() const
{
    QString error;
    invoke([&] { error = m_server->m_error; });
    return error;
}

QString PtyStation::linkPath() const
{
    QString path;
    invoke([&] { path = m_server->m_linkPath; });
    return path;
}

namespace {

bool pointLink(const QString &linkPath, const QString &target, QString *error)
{
    const QFileInfo info(linkPath);
    if (info.isSymLink()) {
        if (!QFile::remove(linkPath)) {
            *error = QStringLiteral("Die alte Verknüpfung %1 lässt sich nicht entfernen").arg(linkPath);
            return false;
        }
    } else if (info.exists()) {
        *error = QStringLiteral("%1 gibt es schon, und es ist keine Verknüpfung").arg(linkPath);
        return false;
    }
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(linkPath).constData()) != 0) {
        *error = QStringLiteral("Verknüpfung %1 lässt sich nicht anlegen: %2")
                     .arg(linkPath, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

} // namespace

bool PtyStation::setLink(const QString &path)
{
    bool ok = false;
    invoke([&] {
        if (!m_server->isOpen()) {
            m_server->m_error = QStringLiteral("Die Station ist nicht geöffnet");
            return;
        }
        ok = pointLink(path, m_server->m_devicePath, &m_server->m_error);
        if (ok)
            m_server->m_linkPath = path;
    });
    return ok;
}

void PtyStation::removeLink()
{
    invoke([&] {
        const QString path = m_server->m_linkPath;
        if (path.isEmpty())
            return;
        // Only a link that still points at our device is ours to remove.
        const QFileInfo info(path);
        if (info.isSymLink() && info.symLinkTarget() == m_server->m_devicePath)
            QFile::remove(path);
        m_server->m_linkPath.clear();
    });
}

void PtyStation::unplug()
{
    invoke([&] {
        m_server->closePty();
        QMutexLocker lock(&m_mutex);
        m_core.resetLine();
    });
}

bool PtyStation::replug()
{
    bool ok = false;
    invoke([&] {
        m_server->closePty();
        {
            QMutexLocker lock(&m_mutex);
            m_core.resetLine();
        }
        ok = m_server->openPty();
        if (ok && !m_server->m_linkPath.isEmpty())
            ok = pointLink(m_server->m_linkPath, m_server->m_devicePath, &m_server->m_error);
    });
    return ok;
}
