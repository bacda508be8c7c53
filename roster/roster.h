#pragma once

#include "roster/rosterentry.h"
#include "roster/rosterfile.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

class QFileSystemWatcher;

// A loco as the "Fahrzeuge" dialog leaves it. origin is its place in the
// list the dialog was given (-1 for a loco added there); copyFrom names a loco
// file of another roster the entry was taken from: saving copies that file
// (decoder, CV values and all) under the entry's name.
struct EditedEntry
{
    RosterEntry entry;
    int origin = -1;
    QString copyFrom;
};

// The roster: JMRI's files in one folder (roster.xml and roster/<file> per
// loco), read at the start and again whenever they change, and the one place
// the window, the phones and the browser take names and labels from. It shows
// nothing: what is wrong in a file comes as problems, the window shows them.
class Roster final : public QObject
{
    Q_OBJECT

public:
    // Changes on disk are read once this long after the last one, so that
    // a program writing several files is read when it is done.
    static constexpr int DefaultSettleMs = 300;

    explicit Roster(QObject *parent = nullptr);
    ~Roster() override;

    // $XDG_DATA_HOME/velantor (~/.local/share/velantor by default).
    static QString defaultFolder();

    // The folder holding roster.xml; read at once, and watched from now on.
    void setFolder(const QString &folder);
    QString folder() const { return m_folder; }
    void setSettleInterval(int ms);

    // Reads the files now. changed() when the entries differ from before;
    // problemsFound() when the problems differ from the ones last told.
    void reload();

    const QList<RosterEntry> &entries() const { return m_entries; }
    // The entry of that name; nullptr when there is none.
    const RosterEntry *find(const QString &id) const;
    // The first entry with that address; nullptr when there is none.
    const RosterEntry *forAddress(int address) const;
    const QList<RosterFiles::Problem> &problems() const { return m_problems; }

    // Writes what the dialog changed between before (the entries it was
    // given) and after: each loco file whose entry changed, a file for each
    // new loco, roster.xml last, every file atomically, and in each only the
    // fields that differ, onto the files as they are now. A removed loco's
    // file is kept as "<file>.bak". Nothing is written while roster.xml
    // cannot be read. What could not be written is named in the problems
    // (that file keeps what it had). The roster is read again afterwards.
    QList<RosterFiles::Problem> save(const QList<RosterEntry> &before,
                                     const QList<EditedEntry> &after);

    // The icon file of an entry, when it may be served (see mediaFile).
    std::optional<QString> iconFile(const RosterEntry &entry) const;
    // The roster as JMRI's web server gives it.
    QByteArray webRoster() const;

    // Another roster's entries (a JMRI profile's folder), for copying.
    struct FolderRead
    {
        QList<RosterEntry> entries;
        QList<RosterFiles::Problem> problems;
    };
    static FolderRead readFolder(const QString &folder);

    // The box texts: after reading (the other entries are there, nothing was
    // changed) and after saving.
    static QString problemsText(const QString &folder, const QList<RosterFiles::Problem> &problems);
    static QString saveProblemsText(const QList<RosterFiles::Problem> &problems);

signals:
    void changed();
    void problemsFound(const QList<RosterFiles::Problem> &problems);

private:
    struct Loaded
    {
        QList<RosterEntry> entries;
        QList<RosterFiles::Problem> problems;
    };
    static Loaded load(const QString &folder);
    void watch();

    QString m_folder;
    QList<RosterEntry> m_entries;
    QList<RosterFiles::Problem> m_problems;
    QList<RosterFiles::Problem> m_told;
    QFileSystemWatcher *m_watcher = nullptr;
    QTimer m_settle;
};
