#include "roster/roster.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>

using RosterFiles::Problem;

namespace {

// The problems a box lists; the rest are counted.
constexpr int ListedProblems = 8;

QString entryFileLabel(const QString &fileName)
{
    return RosterFiles::EntriesFolder + QLatin1Char('/') + fileName;
}

// The file's bytes, or the problem that keeps it from being read.
std::optional<QByteArray> readFile(const QString &path, const QString &label,
                                   QList<Problem> &problems)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        problems << Problem{label, 0,
                            QStringLiteral("Die Datei kann nicht gelesen werden (%1).")
                                .arg(file.errorString())};
        return std::nullopt;
    }
    if (file.size() > RosterFiles::MaxFileBytes) {
        problems << Problem{label, 0,
                            QStringLiteral("Die Datei ist größer als %1 MB und wird nicht gelesen.")
                                .arg(RosterFiles::MaxFileBytes / (1024 * 1024))};
        return std::nullopt;
    }
    return file.readAll();
}

// Writes the whole file or nothing; the reason when it failed.
std::optional<QString> writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return file.errorString();
    return std::nullopt;
}

QString listed(const QList<Problem> &problems)
{
    QStringList lines;
    for (qsizetype i = 0; i < problems.size() && i < ListedProblems; ++i)
        lines << QStringLiteral("• ") + problems.at(i).message();
    if (problems.size() > ListedProblems)
        lines << QStringLiteral("… und %1 weitere.").arg(problems.size() - ListedProblems);
    return lines.join(QLatin1Char('\n'));
}

} // namespace

Roster::Roster(QObject *parent) : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(DefaultSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &Roster::reload);
}

Roster::~Roster() = default;

QString Roster::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/velantor");
}

void Roster::setFolder(const QString &folder)
{
    m_folder = folder;
    delete m_watcher;
    m_watcher = new QFileSystemWatcher(this);
    const auto later = [this] { m_settle.start(); };
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, later);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, later);
    reload();
}

void Roster::setSettleInterval(int ms)
{
    m_settle.setInterval(ms);
}

void Roster::watch()
{
    if (!m_watcher)
        return;
    // A file replaced by a rename is no longer watched; every path that
    // exists now is watched again.
    const QDir dir(m_folder);
    QStringList paths;
    for (const QString &path : {m_folder, dir.filePath(RosterFiles::IndexFileName),
                                dir.filePath(RosterFiles::EntriesFolder)}) {
        if (QFileInfo::exists(path))
            paths << path;
    }
    const QStringList watched = m_watcher->files() + m_watcher->directories();
    for (const QString &path : paths) {
        if (!watched.contains(path))
            m_watcher->addPath(path);
    }
}

Roster::Loaded Roster::load(const QString &folder)
{
    Loaded loaded;
    const QDir dir(folder);
    const QString indexPath = dir.filePath(RosterFiles::IndexFileName);
    if (!QFileInfo::exists(indexPath))
        return loaded;
    const std::optional<QByteArray> bytes =
        readFile(indexPath, RosterFiles::IndexFileName, loaded.problems);
    if (bytes) {
        RosterFiles::IndexEntries index = RosterFiles::readIndexEntries(*bytes);
        loaded.problems << index.problems;
        if (index.readable) {
            loaded.entries = std::move(index.entries);
            return loaded;
        }
    }
    // Without a readable index the locos come from their own files, as JMRI
    // rebuilds its index; the index itself is left as it is.
    const QDir entries(dir.filePath(RosterFiles::EntriesFolder));
    QSet<QString> ids;
    const QStringList names =
        entries.entryList({QStringLiteral("*.xml")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &name : names) {
        const QString label = entryFileLabel(name);
        const std::optional<QByteArray> file = readFile(entries.filePath(name), label, loaded.problems);
        if (!file)
            continue;
        RosterFiles::LocoFileRead read = RosterFiles::readLocoFile(*file, label);
        loaded.problems << read.problems;
        if (!read.entry || ids.contains(read.entry->id))
            continue;
        ids.insert(read.entry->id);
        read.entry->fileName = name;
        loaded.entries << std::move(*read.entry);
    }
    return loaded;
}

void Roster::reload()
{
    m_settle.stop();
    Loaded loaded = load(m_folder);
    m_problems = loaded.problems;
    watch();
    const bool entriesChanged = loaded.entries != m_entries;
    m_entries = std::move(loaded.entries);
    if (entriesChanged)
        emit changed();
    // The same damage found again (the watcher fires for every change of the
    // folder) is not told twice.
    if (m_problems != m_told) {
        m_told = m_problems;
        if (!m_problems.isEmpty())
            emit problemsFound(m_problems);
    }
}

const RosterEntry *Roster::find(const QString &id) const
{
    for (const RosterEntry &entry : m_entries) {
        if (entry.id == id)
            return &entry;
    }
    return nullptr;
}

const RosterEntry *Roster::forAddress(int address) const
{
    for (const RosterEntry &entry : m_entries) {
        if (entry.address == address)
            return &entry;
    }
    return nullptr;
}

std::optional<QString> Roster::iconFile(const RosterEntry &entry) const
{
    return RosterFiles::mediaFile(m_folder, entry.iconFilePath);
}

QByteArray Roster::webRoster() const
{
    return RosterFiles::webRoster(m_entries,
                                  [this](const RosterEntry &entry) { return iconFile(entry).has_value(); });
}

QList<Problem> Roster::save(const QList<RosterEntry> &before, const QList<EditedEntry> &after)
{
    using namespace RosterFiles;
    QList<Problem> problems;
    const QDir dir(m_folder);
    // The index as it is now, whole: only what the dialog changed goes into it.
    std::optional<XmlTree::Document> current;
    if (QFileInfo::exists(dir.filePath(IndexFileName))) {
        QList<Problem> ignored;
        if (const std::optional<QByteArray> bytes =
                readFile(dir.filePath(IndexFileName), IndexFileName, ignored))
            current = readIndex(*bytes).document;
        if (!current) {
            problems << Problem{IndexFileName, 0,
                                QStringLiteral("Die Datei kann nicht gelesen werden; damit sie "
                                               "nicht überschrieben wird, ist nichts gespeichert.")};
            return problems;
        }
    }
    const QDir entries(dir.filePath(EntriesFolder));
    if (!dir.mkpath(EntriesFolder)) {
        problems << Problem{m_folder, 0, QStringLiteral("Der Ordner kann nicht angelegt werden.")};
        return problems;
    }
    XmlTree::Document index = current ? std::move(*current) : newIndex();
    QSet<QString> assigned;
    auto taken = [&](const QString &name) {
        return assigned.contains(name) || QFileInfo::exists(entries.filePath(name))
            || findLocomotive(index, name, QString()) != nullptr;
    };

    // Written only when an entry of it changed, so that a save that failed
    // for every loco leaves it as it was.
    bool indexChanged = !current;
    // Removed locos first, so that a copy of the same name may take its file.
    QSet<int> kept;
    for (const EditedEntry &edited : after)
        kept.insert(edited.origin);
    for (qsizetype i = 0; i < before.size(); ++i) {
        if (kept.contains(int(i)))
            continue;
        const RosterEntry &gone = before.at(i);
        if (XmlTree::Node *element = findLocomotive(index, gone.fileName, gone.id)) {
            removeChild(rosterList(index), element);
            indexChanged = true;
        }
        if (gone.fileName.isEmpty() || !QFileInfo::exists(entries.filePath(gone.fileName)))
            continue;
        // Kept beside, with its CV values, as JMRI keeps a backup.
        const QString backup = entries.filePath(gone.fileName + QStringLiteral(".bak"));
        QFile::remove(backup);
        if (!QFile::rename(entries.filePath(gone.fileName), backup))
            problems << Problem{entryFileLabel(gone.fileName), 0,
                                QStringLiteral("Die Datei kann nicht beiseitegelegt werden.")};
    }

    QSet<QString> ids;
    for (const EditedEntry &edited : after) {
        RosterEntry entry = edited.entry;
        if (ids.contains(entry.id)) {
            problems << Problem{IndexFileName, 0,
                                QStringLiteral("Den Namen „%1“ gibt es zweimal; das zweite "
                                               "Fahrzeug ist nicht gespeichert.")
                                    .arg(entry.id)};
            continue;
        }
        ids.insert(entry.id);
        const RosterEntry *base =
            edited.origin >= 0 && edited.origin < before.size() ? &before.at(edited.origin) : nullptr;
        if (base && *base == entry)
            continue;

        std::optional<XmlTree::Document> file;
        RosterEntry fileBase;
        QString source;
        if (base && !base->fileName.isEmpty() && isPlainFileName(base->fileName)
            && QFileInfo::exists(entries.filePath(base->fileName))) {
            source = entries.filePath(base->fileName);
            entry.fileName = base->fileName;
        } else if (!base && !edited.copyFrom.isEmpty()) {
            source = edited.copyFrom;
        }
        if (!source.isEmpty()) {
            const QString label = base ? entryFileLabel(base->fileName) : edited.copyFrom;
            const std::optional<QByteArray> bytes = readFile(source, label, problems);
            if (!bytes)
                continue;
            LocoFileRead read = readLocoFile(*bytes, label);
            // A loco of this roster changes what the dialog changed; a copy
            // changes the entry its own file gives.
            if (!read.document || (!base && !read.entry)) {
                problems << read.problems;
                continue;
            }
            file = std::move(read.document);
            fileBase = base ? *base : *read.entry;
        }
        // A new loco or a copy gets a file of its own in this roster.
        if (!base || entry.fileName.isEmpty())
            entry.fileName = fileNameFor(entry.id, taken);
        assigned.insert(entry.fileName);

        XmlTree::Node *locomotive = nullptr;
        if (file) {
            locomotive = file->root.child(u"locomotive");
            applyChanges(*locomotive, fileBase, entry);
        } else {
            file = newLocoFile(entry);
            locomotive = file->root.child(u"locomotive");
        }
        if (const std::optional<QString> error =
                writeFile(entries.filePath(entry.fileName), XmlTree::write(*file))) {
            problems << Problem{entryFileLabel(entry.fileName), 0,
                                QStringLiteral("Die Datei kann nicht geschrieben werden (%1).")
                                    .arg(*error)};
            continue;
        }

        XmlTree::Node *element = base ? findLocomotive(index, base->fileName, base->id) : nullptr;
        if (element)
            applyChanges(*element, *base, entry);
        else
            appendChild(rosterList(index), indexElement(*locomotive));
        indexChanged = true;
    }

    if (!indexChanged) {
        reload();
        return problems;
    }
    if (const std::optional<QString> error =
            writeFile(dir.filePath(IndexFileName), XmlTree::write(index))) {
        problems << Problem{IndexFileName, 0,
                            QStringLiteral("Die Datei kann nicht geschrieben werden (%1).")
                                .arg(*error)};
    }
    reload();
    return problems;
}

Roster::FolderRead Roster::readFolder(const QString &folder)
{
    Loaded loaded = load(folder);
    return FolderRead{std::move(loaded.entries), std::move(loaded.problems)};
}

QString Roster::problemsText(const QString &folder, const QList<Problem> &problems)
{
    return QStringLiteral("In der Fahrzeugliste im Ordner „%1“ ist nicht alles lesbar:\n\n%2\n\n"
                          "Die übrigen Fahrzeuge sind geladen; an den Dateien hat Velantor "
                          "nichts geändert.")
        .arg(QDir::toNativeSeparators(folder), listed(problems));
}

QString Roster::saveProblemsText(const QList<Problem> &problems)
{
    return QStringLiteral("Nicht alles konnte gespeichert werden:\n\n%1\n\nDie genannten Dateien "
                          "haben ihren bisherigen Inhalt.")
        .arg(listed(problems));
}
