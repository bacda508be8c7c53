#pragma once

#include "simulator/stationcore.h"

#include <QMutex>
#include <QMutexLocker>
#include <QString>

#include <functional>
#include <memory>

class QThread;
class PtyServer;

// Serves a StationCore on a pseudo-terminal, so that a real serial port can
// talk to it: the program opens devicePath() (or the symlink) like a
// controller's device.
//
// The pty is served by an event loop: the caller's own (kzsim), or, with
// Threading::OwnThread, one on a worker thread of the station's own. The
// latter is what a test in the program's process needs, because an exchange
// blocks its thread while it waits for the reply. All methods may be called
// from any thread; they run on the station's thread and return when done.
class PtyStation
{
public:
    enum class Threading { CallerThread, OwnThread };

    explicit PtyStation(Threading threading = Threading::CallerThread);
    explicit PtyStation(const StationState &state, Threading threading = Threading::CallerThread);
    ~PtyStation();

    PtyStation(const PtyStation &) = delete;
    PtyStation &operator=(const PtyStation &) = delete;

    // Creates the pty in raw mode and starts serving it.
    bool open();
    bool isOpen() const;
    // The slave device, for example /dev/pts/4; empty while closed.
    QString devicePath() const;
    QString errorString() const;

    // Points a symlink at the device, replacing an older symlink at that path
    // (never a file that is not a symlink). The link follows a replug().
    bool setLink(const QString &path);
    QString linkPath() const;
    // Removes the symlink if it is still ours. Also done by the destructor.
    void removeLink();

    // The device goes away: the master side closes, the program's port sees
    // the device vanish. Replies under way are lost.
    void unplug();
    // A new device appears behind the same symlink (the device path usually
    // changes).
    bool replug();

    // Runs f with the core locked against the station's thread:
    //   station.withCore([](StationCore &c) { c.addFault(Fault::noReply()); });
    template<typename F>
    auto withCore(F &&f)
    {
        QMutexLocker lock(&m_mutex);
        return f(m_core);
    }

private:
    void invoke(const std::function<void()> &f) const;

    QMutex m_mutex;
    StationCore m_core;
    QThread *m_thread = nullptr;
    PtyServer *m_server = nullptr;

    friend class PtyServer;
};
