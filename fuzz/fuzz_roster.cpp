// A roster file as the program reads it: arbitrary bytes, perhaps written by
// JMRI, edited by hand or no XML at all.
//
// Input: one byte, whose lowest bit says index (roster.xml) or loco file,
// then the whole file.
//
// What must hold for every file:
// - reading never fails, and an entry read has a name and an address in the
//   DCC range; an index's entries have plain file names (or none), and no
//   name or file twice (a loco file's own file name is not used: the index
//   or the file's place names it);
// - an index read as a whole and read in passing give the same entries and
//   problems;
// - a problem names the file, and a file that is not read gives a problem;
// - the tree written again reads as the same content and the same entries;
// - an entry changed (name, address, road name, a label set, a label taken
//   away) and written into its element reads back as changed, and the rest of
//   the element as it was;
// - the served list is XML with one <locomotive> an entry.

#include "fuzzinput.h"

#include "roster/rosterfile.h"
#include "roster/xmltree.h"

#include <QCoreApplication>
#include <QSet>
#include <QXmlStreamReader>

using namespace RosterFiles;

namespace {

const QString File = QStringLiteral("roster.xml");

void checkEntries(const QList<RosterEntry> &entries, bool index)
{
    QSet<QString> ids;
    QSet<QString> files;
    for (const RosterEntry &entry : entries) {
        FUZZ_CHECK(!entry.id.trimmed().isEmpty());
        FUZZ_CHECK(entry.address >= 1 && entry.address <= 10239);
        FUZZ_CHECK(!index || entry.fileName.isEmpty() || isPlainFileName(entry.fileName));
        FUZZ_CHECK(!ids.contains(entry.id));
        ids.insert(entry.id);
        if (!entry.fileName.isEmpty()) {
            FUZZ_CHECK(!files.contains(entry.fileName));
            files.insert(entry.fileName);
        }
    }
}

// The <locomotive> elements an index or loco file reads entries from.
std::vector<XmlTree::Node *> locomotives(XmlTree::Document &document)
{
    std::vector<XmlTree::Node *> result;
    XmlTree::Node *parent = document.root.child(u"roster");
    if (!parent)
        parent = &document.root;
    for (XmlTree::Node &child : parent->children) {
        if (child.isElement(u"locomotive"))
            result.push_back(&child);
    }
    return result;
}

// Changes the first entry that reads from its element and reads it back.
void checkChange(XmlTree::Document document, quint8 seed)
{
    const std::vector<XmlTree::Node *> all = locomotives(document);
    for (std::size_t index = 0; index < all.size(); ++index) {
        XmlTree::Node *element = all[index];
        QList<Problem> problems;
        const std::optional<RosterEntry> before = readLocomotive(*element, File, problems);
        if (!before)
            continue;
        RosterEntry after = *before;
        after.id += QStringLiteral(" 2");
        after.address = 1 + (before->address * 7 + seed) % 10239;
        after.longAddress = after.address > RosterEntry::MaxShortAddress;
        after.roadName = QStringLiteral("DB <&> \"AG\"");
        after.comment = QStringLiteral("eins\nzwei");
        const int set = seed % (RosterEntry::MaxLabelledFunction + 1);
        const int cleared = (seed / 16) % (RosterEntry::MaxLabelledFunction + 1);
        after.labels[std::size_t(cleared)] = FunctionLabel{};
        after.labels[std::size_t(set)] = FunctionLabel{QStringLiteral("Horn ]\\[ <;>"), (seed & 1) != 0};
        const XmlTree::Node original = *element;
        applyChanges(*element, *before, after);

        // Written and read again, so that the writer's escaping counts too.
        const XmlTree::ParseResult again = XmlTree::parse(XmlTree::write(document));
        FUZZ_CHECK(again.document);
        XmlTree::Document reread = *again.document;
        const std::vector<XmlTree::Node *> elements = locomotives(reread);
        FUZZ_CHECK(elements.size() == all.size());
        XmlTree::Node *const *found = &elements[index];
        QList<Problem> ignored;
        const std::optional<RosterEntry> read = readLocomotive(**found, File, ignored);
        FUZZ_CHECK(read);
        FUZZ_CHECK(read->id == after.id);
        FUZZ_CHECK(read->address == after.address);
        FUZZ_CHECK(read->isLong() == after.isLong());
        FUZZ_CHECK(read->roadName == after.roadName);
        FUZZ_CHECK(read->comment == after.comment);
        for (int n = 0; n <= RosterEntry::MaxLabelledFunction; ++n) {
            FUZZ_CHECK(read->hasLabel(n) == after.hasLabel(n));
            if (after.hasLabel(n)) {
                FUZZ_CHECK(read->label(n).text == after.label(n).text);
                FUZZ_CHECK(read->label(n).lockable == after.label(n).lockable);
            }
        }
        // Everything the change does not touch stays.
        for (const XmlTree::Attribute &attribute : original.attributes) {
            static const QSet<QString> changed{QStringLiteral("id"), QStringLiteral("dccAddress"),
                                               QStringLiteral("roadName"), QStringLiteral("comment")};
            if (!changed.contains(attribute.name))
                FUZZ_CHECK((*found)->attribute(attribute.name) == attribute.value);
        }
        for (const XmlTree::Node &child : original.children) {
            if (!child.isElement() || child.name == QLatin1String("locoaddress")
                || child.name == QLatin1String("functionlabels"))
                continue;
            const XmlTree::Node *kept = (*found)->child(child.name);
            FUZZ_CHECK(kept);
            // The first of that name is the one compared: a second stays where it was too.
            if (&child == original.child(child.name))
                FUZZ_CHECK(XmlTree::sameContent(*kept, child));
        }
        return;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    const quint8 mode = in.byte();
    const QByteArray bytes = in.rest();

    std::optional<XmlTree::Document> document;
    QList<RosterEntry> entries;
    QList<Problem> problems;
    if (mode & 1) {
        LocoFileRead read = readLocoFile(bytes, File);
        document = std::move(read.document);
        if (read.entry)
            entries << *read.entry;
        problems = read.problems;
    } else {
        IndexRead read = readIndex(bytes, File);
        const IndexEntries passing = readIndexEntries(bytes, File);
        FUZZ_CHECK(passing.readable == read.document.has_value());
        FUZZ_CHECK(passing.entries == read.entries);
        FUZZ_CHECK(passing.problems == read.problems);
        document = std::move(read.document);
        entries = read.entries;
        problems = read.problems;
    }
    checkEntries(entries, !(mode & 1));
    for (const Problem &problem : problems)
        FUZZ_CHECK(problem.file == File && !problem.text.isEmpty());
    if (!document) {
        FUZZ_CHECK(!problems.isEmpty() && entries.isEmpty());
        return 0;
    }

    // Written back unchanged, the file says the same.
    const XmlTree::ParseResult again = XmlTree::parse(XmlTree::write(*document));
    FUZZ_CHECK(again.document);
    FUZZ_CHECK(XmlTree::sameContent(*again.document, *document));
    if (!(mode & 1)) {
        const IndexRead reread = readIndex(XmlTree::write(*document), File);
        FUZZ_CHECK(reread.entries == entries);
    }

    checkChange(*document, mode >> 1);

    // The served list: well-formed, one <locomotive> an entry.
    QXmlStreamReader served(webRoster(entries, [](const RosterEntry &) { return false; }));
    int locos = 0;
    while (!served.atEnd()) {
        if (served.readNext() == QXmlStreamReader::StartElement && served.name() == u"locomotive")
            ++locos;
    }
    FUZZ_CHECK(!served.hasError());
    FUZZ_CHECK(locos == entries.size());
    return 0;
}
