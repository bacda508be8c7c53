#pragma once

#include "roster/rosterentry.h"
#include "roster/xmltree.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// JMRI's roster files as plain functions, without a file system: the index
// "roster.xml" (<roster-config><roster><locomotive …/>…) and one file per loco
// in the folder "roster" (<locomotive-config><locomotive …>), read into
// roster entries and changed in place. A change touches only what differs
// between the entry before and after; every other element and attribute of
// the file (decoder, CV values, attribute pairs, groups, images) stays as it
// was written.
namespace RosterFiles {

inline const QString IndexFileName = QStringLiteral("roster.xml");
inline const QString EntriesFolder = QStringLiteral("roster");

// Function numbers a roster may label (JMRI's decoders go up to F68); a
// label outside is an error in the file.
constexpr int MaxFunctionNumber = 68;
// Larger files are not read: a roster index of a thousand locos takes about
// a megabyte, a loco file with all its CV values some tens of kilobytes.
constexpr qint64 MaxFileBytes = 32 * 1024 * 1024;

// Something wrong in a file, in German, with the line it was found in (0:
// the file as a whole).
struct Problem
{
    QString file;   // as the user knows it: "roster.xml", "roster/BR_218.xml"
    qint64 line = 0;
    QString text;

    // "roster.xml, Zeile 12: …"
    QString message() const;
    friend bool operator==(const Problem &, const Problem &) = default;
};

// --- reading ----------------------------------------------------------------

struct IndexRead
{
    // The file as read, for a later change; none when it is no roster index.
    std::optional<XmlTree::Document> document;
    QList<RosterEntry> entries;
    QList<Problem> problems;
};
// Every usable entry of the index in file order; an entry without a name or
// a usable address, a second entry of the same name or loco file and a loco
// file outside the "roster" folder are left out and named in problems, a
// label with an impossible number too (the entry stays).
IndexRead readIndex(const QByteArray &bytes, const QString &file = IndexFileName);

// The same entries and problems without keeping the file: a thousand locos
// as DecoderPro writes them make a tree of some tens of megabytes, and only
// a save needs it.
struct IndexEntries
{
    bool readable = false;   // a roster index, as readIndex's document says
    QList<RosterEntry> entries;
    QList<Problem> problems;
};
IndexEntries readIndexEntries(const QByteArray &bytes, const QString &file = IndexFileName);

struct LocoFileRead
{
    std::optional<XmlTree::Document> document;
    std::optional<RosterEntry> entry;
    QList<Problem> problems;
};
LocoFileRead readLocoFile(const QByteArray &bytes, const QString &file);

// The entry a <locomotive> element describes, or nothing (then problems say
// why). The file name is the element's own.
std::optional<RosterEntry> readLocomotive(const XmlTree::Node &locomotive, const QString &file,
                                          QList<Problem> &problems);

// Whether a loco file name from an index stays inside the "roster" folder:
// a plain name, no folder part.
bool isPlainFileName(const QString &fileName);

// --- writing ----------------------------------------------------------------

// Writes into a <locomotive> element what differs between before and after:
// name, file name, address (with the long/short flag), road name and number,
// comment and the labels of F0-F12. Missing elements are added where JMRI's
// schema places them, in the file's indentation.
void applyChanges(XmlTree::Node &locomotive, const RosterEntry &before, const RosterEntry &after);

// A new loco file and the index element for it, as JMRI writes them.
XmlTree::Document newLocoFile(const RosterEntry &entry);
XmlTree::Node newLocomotive(const RosterEntry &entry);
// An index without entries.
XmlTree::Document newIndex();
// The index's list of locos (made when missing).
XmlTree::Node &rosterList(XmlTree::Document &index);
// The element of the loco with that file name (else that name); nullptr when
// the index has none.
XmlTree::Node *findLocomotive(XmlTree::Document &index, const QString &fileName,
                              const QString &id);
// Takes the element out of its parent, with the white space before it.
void removeChild(XmlTree::Node &parent, const XmlTree::Node *child);
// Appends a child in the parent's indentation.
void appendChild(XmlTree::Node &parent, XmlTree::Node child);
// A loco file element as it goes into the index: without the CV values.
XmlTree::Node indexElement(const XmlTree::Node &locomotive);

// JMRI's file name for an entry: every character but ASCII letters, digits
// and "_" becomes "_", then ".xml"; a name taken gets a number before the
// ending ("BR_2180.xml", "BR_2181.xml", …).
QString fileNameFor(const QString &id, const std::function<bool(const QString &)> &taken);

// --- serving ----------------------------------------------------------------

// The roster as JMRI's web server gives it (/roster/?format=xml): a
// <roster-config> whose <roster> holds one <locomotive> a loco, with the
// attributes and <functionlabels> Engine Driver reads. iconFor says whether a
// loco's icon can be fetched; only then is its iconFilePath given, so that
// the app asks only for icons that are there.
QByteArray webRoster(const QList<RosterEntry> &entries,
                     const std::function<bool(const RosterEntry &)> &iconFor);

// The file a roster's icon or image path names, when it is a readable image
// (PNG, JPEG or GIF) inside folder, the folder holding roster.xml, symbolic
// links resolved. JMRI's "preference:" and "profile:" prefixes and relative
// paths start in that folder; every other place is refused.
std::optional<QString> mediaFile(const QString &folder, const QString &path);
// "image/png", "image/jpeg" or "image/gif" for such a file.
QByteArray mediaType(const QString &file);
// Icons larger than this are not served.
constexpr qint64 MaxMediaBytes = 1024 * 1024;

} // namespace RosterFiles
