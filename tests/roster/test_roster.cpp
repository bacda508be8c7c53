// The roster over JMRI-shaped files: what is read from them, what damage is
// named and with which line, what a save writes and what it keeps, which
// icons may be served and how the served list reads in Engine Driver's way.

#include "roster/roster.h"
#include "roster/rosterfile.h"
#include "roster/xmltree.h"

#include "../support/copyfolder.h"
#include "../support/testmain.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QSaveFile>
#include <QSignalSpy>
#include <QTemporaryDir>

using RosterFiles::Problem;

namespace {

const QString Data = QStringLiteral(ROSTER_TEST_DATA);

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Replaces a file the way JMRI saves: a new file renamed into its place.
void replaceFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    QVERIFY(file.commit());
}

// "BR 218 218 L DB/218 466-1 0=Licht 2=Horn*": the name, address, long or
// short, road name and number, and every label (* held only while pressed).
QString describe(const RosterEntry &entry)
{
    QStringList parts{entry.id, QString::number(entry.address), entry.isLong() ? "L" : "S",
                      entry.roadName + '/' + entry.roadNumber};
    for (int n = 0; n <= RosterEntry::MaxLabelledFunction; ++n) {
        if (entry.hasLabel(n))
            parts << QStringLiteral("%1=%2%3").arg(n).arg(entry.label(n).text,
                                                      entry.isMomentary(n) ? "*" : "");
    }
    return parts.join(' ');
}

QStringList describe(const QList<RosterEntry> &entries)
{
    QStringList result;
    for (const RosterEntry &entry : entries)
        result << describe(entry);
    return result;
}

QStringList messages(const QList<Problem> &problems)
{
    QStringList result;
    for (const Problem &problem : problems)
        result << problem.message();
    return result;
}

XmlTree::Document parsed(const QByteArray &bytes)
{
    XmlTree::ParseResult result = XmlTree::parse(bytes);
    if (!result.document)
        qWarning() << "not XML:" << result.error.line << result.error.text;
    return result.document.value_or(XmlTree::Document{});
}

const XmlTree::Node *locomotive(const XmlTree::Document &document, const QString &id)
{
    const XmlTree::Node *roster = document.root.child(u"roster");
    const XmlTree::Node &parent = roster ? *roster : document.root;
    for (const XmlTree::Node &c : parent.children) {
        if (c.isElement(u"locomotive") && c.attribute(u"id") == id)
            return &c;
    }
    return nullptr;
}

// The index a damaged-file row starts from, around one entry of its own.
QByteArray indexAround(const QByteArray &entries)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<roster-config>\n<roster>\n" + entries
           + "</roster>\n</roster-config>\n";
}

const QByteArray GoodEntry = "<locomotive id=\"V 60\" dccAddress=\"3\" fileName=\"V_60.xml\"/>\n";

} // namespace

class TestRoster : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void damaged_data();
    void damaged();
    void save_data();
    void save();
    void saveKeepsEverythingElse();
    void saveRefusesDamagedFiles_data();
    void saveRefusesDamagedFiles();
    void addRemoveAndCopy();
    void readsAgainWhenFilesChange();
    void fileNames_data();
    void fileNames();
    void mediaFiles_data();
    void mediaFiles();
    void webRosterReadsAsEngineDriverReadsIt();
};

void TestRoster::read_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("as DecoderPro writes it")
        << "decoderpro"
        << QStringList{"BR 218 218 L DB/218 466-1 0=Licht 1=Sound 2=Horn* 4=Kupplung",
                       "V 60 3 S DR/ 0=Spitzenlicht 3=Rangierpfiff*"};
    // The older form: only dccAddress, no lockable flag (latching, as JMRI
    // reads it), a long flag on a short number.
    QTest::newRow("written by hand")
        << "handwritten"
        << QStringList{"Köf II 12 S DB/ 0=Licht 1=Glocke*", "E 44 4401 L /",
                       "Ae 6/6 100 L /"};
    QTest::newRow("no roster yet") << "none" << QStringList{};
}

void TestRoster::read()
{
    QFETCH(QString, folder);
    QFETCH(QStringList, entries);
    Roster roster;
    roster.setFolder(Data + '/' + folder);
    QCOMPARE(describe(roster.entries()), entries);
    QCOMPARE(messages(roster.problems()), QStringList{});
}

void TestRoster::damaged_data()
{
    QTest::addColumn<QByteArray>("index");
    QTest::addColumn<QStringList>("problems");
    QTest::addColumn<QStringList>("entries");

    // Without a readable index the locos come from their own files.
    QTest::newRow("not XML")
        << QByteArray("<roster-config>\n<roster>\n<locomotive id=\"A\" </roster>\n")
        << QStringList{"roster.xml, Zeile 3: Die Datei ist kein lesbares XML; sie wird nicht "
                       "gelesen."}
        << QStringList{"V 60 3 S DR/ 0=Spitzenlicht 3=Rangierpfiff*"};
    // Qt's reader decodes this into a lone surrogate, which no XML may hold
    // (written back it would not be read again).
    QTest::newRow("a character XML does not allow")
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-7\"?>\n<roster-config>\n<roster>+2F8-"
                      "</roster>\n</roster-config>\n")
        << QStringList{"roster.xml, Zeile 3: Die Datei ist kein lesbares XML; sie wird nicht "
                       "gelesen."}
        << QStringList{"V 60 3 S DR/ 0=Spitzenlicht 3=Rangierpfiff*"};
    QTest::newRow("wrong root")
        << QByteArray("<?xml version=\"1.0\"?>\n\n<locomotive-config/>\n")
        << QStringList{"roster.xml, Zeile 3: Die Datei ist keine JMRI-Fahrzeugdatei (erwartet "
                       "wird <roster-config>, sie beginnt mit <locomotive-config>); sie wird "
                       "nicht gelesen."}
        << QStringList{"V 60 3 S DR/ 0=Spitzenlicht 3=Rangierpfiff*"};
    QTest::newRow("an entry without address")
        << indexAround("<locomotive id=\"BR 218\" fileName=\"BR_218.xml\">\n"
                       "<locoaddress><number></number></locoaddress></locomotive>\n"
                       + GoodEntry)
        << QStringList{"roster.xml, Zeile 4: Das Fahrzeug „BR 218“ hat keine Lok-Nummer und wird "
                       "übergangen."}
        << QStringList{"V 60 3 S /"};
    QTest::newRow("an address out of range")
        << indexAround(GoodEntry + "<locomotive id=\"X\" dccAddress=\"10240\"/>\n")
        << QStringList{"roster.xml, Zeile 5: Das Fahrzeug „X“ hat die Lok-Nummer „10240“; "
                       "erlaubt sind 1 bis 10239. Es wird übergangen."}
        << QStringList{"V 60 3 S /"};
    QTest::newRow("a label number 99")
        << indexAround("<locomotive id=\"V 60\" dccAddress=\"3\">\n<functionlabels>\n"
                       "<functionlabel num=\"99\" lockable=\"true\">Zu hoch</functionlabel>\n"
                       "<functionlabel num=\"1\" lockable=\"false\">Horn</functionlabel>\n"
                       "</functionlabels></locomotive>\n")
        << QStringList{"roster.xml, Zeile 6: Das Fahrzeug „V 60“ hat eine Funktionsbeschriftung "
                       "mit der Nummer „99“; erlaubt sind 0 bis 68. Sie wird übergangen."}
        << QStringList{"V 60 3 S / 1=Horn*"};
    QTest::newRow("a name twice")
        << indexAround(GoodEntry + "<locomotive id=\"V 60\" dccAddress=\"4\"/>\n")
        << QStringList{"roster.xml, Zeile 5: Den Namen „V 60“ hat schon das Fahrzeug in Zeile 4; "
                       "dieses wird übergangen."}
        << QStringList{"V 60 3 S /"};
    QTest::newRow("a file outside the roster folder")
        << indexAround(GoodEntry
                       + "<locomotive id=\"Y\" dccAddress=\"5\" fileName=\"../../.profile\"/>\n")
        << QStringList{"roster.xml, Zeile 5: Die Datei „../../.profile“ des Fahrzeugs „Y“ liegt "
                       "nicht im Ordner „roster“; das Fahrzeug wird übergangen."}
        << QStringList{"V 60 3 S /"};
}

void TestRoster::damaged()
{
    QFETCH(QByteArray, index);
    QFETCH(QStringList, problems);
    QFETCH(QStringList, entries);
    QTemporaryDir dir;
    writeAll(dir.filePath("roster.xml"), index);
    const QByteArray locoFile = readAll(Data + "/decoderpro/roster/V_60.xml");
    writeAll(dir.filePath("roster/V_60.xml"), locoFile);

    Roster roster;
    QSignalSpy told(&roster, &Roster::problemsFound);
    roster.setFolder(dir.path());
    QCOMPARE(messages(roster.problems()), problems);
    QCOMPARE(describe(roster.entries()), entries);
    QCOMPARE(told.count(), 1);
    // Read again, the same damage is not told again; nothing was written.
    roster.reload();
    QCOMPARE(told.count(), 1);
    QCOMPARE(readAll(dir.filePath("roster.xml")), index);
    QCOMPARE(readAll(dir.filePath("roster/V_60.xml")), locoFile);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"roster.xml"});
}

void TestRoster::save_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("entry");

    const QString labels = QStringLiteral(" 0=Licht 1=Sound 2=Horn* 4=Kupplung");
    QTest::newRow("name") << "id" << "BR 218 Sound"
                          << "BR 218 Sound 218 L DB/218 466-1" + labels;
    QTest::newRow("road name") << "roadName" << "DB AG" << "BR 218 218 L DB AG/218 466-1" + labels;
    QTest::newRow("a short address") << "address" << "18" << "BR 218 18 S DB/218 466-1" + labels;
    QTest::newRow("a label") << "label1" << "Motor"
                             << QString("BR 218 218 L DB/218 466-1 0=Licht 1=Motor 2=Horn* 4=Kupplung");
    QTest::newRow("a new label") << "label12" << "Rauch" << "BR 218 218 L DB/218 466-1" + labels
                                                                + " 12=Rauch";
    QTest::newRow("a label taken away") << "label0" << ""
                                        << QString("BR 218 218 L DB/218 466-1 1=Sound 2=Horn* 4=Kupplung");
    QTest::newRow("held only while pressed") << "momentary4" << "1"
                                             << QString("BR 218 218 L DB/218 466-1 0=Licht 1=Sound 2=Horn* 4=Kupplung*");
}

void TestRoster::save()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QString, entry);
    QTemporaryDir dir;
    QVERIFY(copyFolder(Data + "/decoderpro", dir.path()));
    Roster roster;
    roster.setFolder(dir.path());
    const QList<RosterEntry> before = roster.entries();
    RosterEntry edited = before.first();
    if (field == "id") {
        edited.id = value;
    } else if (field == "roadName") {
        edited.roadName = value;
    } else if (field == "address") {
        edited.address = value.toInt();
        edited.longAddress = edited.address > RosterEntry::MaxShortAddress;
    } else if (field.startsWith("label")) {
        edited.labels[field.mid(5).toInt()].text = value;
    } else {
        edited.labels[field.mid(9).toInt()].lockable = value != "1";
    }
    const QList<Problem> problems =
        roster.save(before, {EditedEntry{edited, 0, {}}, EditedEntry{before.at(1), 1, {}}});
    QCOMPARE(messages(problems), QStringList{});

    QCOMPARE(describe(roster.entries()).value(0), entry);
    // The loco file says the same as the index; the other loco's file is
    // untouched.
    const RosterFiles::LocoFileRead file =
        RosterFiles::readLocoFile(readAll(dir.filePath("roster/BR_218.xml")), "BR_218.xml");
    QVERIFY(file.entry);
    QCOMPARE(describe(*file.entry), entry);
    QCOMPARE(readAll(dir.filePath("roster/V_60.xml")),
             readAll(Data + "/decoderpro/roster/V_60.xml"));
    // The file name stays when the name changes, as in JMRI.
    QCOMPARE(roster.entries().first().fileName, QString("BR_218.xml"));
}

void TestRoster::saveKeepsEverythingElse()
{
    QTemporaryDir dir;
    QVERIFY(copyFolder(Data + "/decoderpro", dir.path()));
    Roster roster;
    roster.setFolder(dir.path());
    const QList<RosterEntry> before = roster.entries();
    RosterEntry edited = before.first();
    edited.roadNumber = "218 466-2";
    edited.comment = "Neu lackiert\n2025";
    edited.address = 1218;
    edited.longAddress = true;
    edited.labels[1].text = "Fahrgeräusch";
    edited.labels[2].lockable = true;
    edited.labels[3] = FunctionLabel{"Pfeife", false};
    edited.labels[4].text.clear();
    QCOMPARE(messages(roster.save(before, {{edited, 0, {}}, {before.at(1), 1, {}}})), QStringList{});

    // Compared as XML with the file as JMRI would have written the change:
    // decoder, CV values, attribute pairs, F20 and every attribute stay.
    const XmlTree::Document saved = parsed(readAll(dir.filePath("roster/BR_218.xml")));
    QVERIFY(XmlTree::sameContent(saved, parsed(readAll(Data + "/expected/BR_218.xml"))));
    // The index changed the same way and kept the other loco and the groups.
    const XmlTree::Document index = parsed(readAll(dir.filePath("roster.xml")));
    const XmlTree::Document original = parsed(readAll(Data + "/decoderpro/roster.xml"));
    QVERIFY(locomotive(index, "BR 218"));
    QVERIFY(XmlTree::sameContent(*locomotive(index, "BR 218"),
                                 RosterFiles::indexElement(*saved.root.child(u"locomotive"))));
    QVERIFY(XmlTree::sameContent(*locomotive(index, "V 60"), *locomotive(original, "V 60")));
    QVERIFY(index.root.child(u"rosterGroup"));
    QVERIFY(XmlTree::sameContent(*index.root.child(u"rosterGroup"),
                                 *original.root.child(u"rosterGroup")));

    // Saved again without a change, nothing changes.
    const QByteArray file = readAll(dir.filePath("roster/BR_218.xml"));
    const QList<RosterEntry> now = roster.entries();
    QCOMPARE(messages(roster.save(now, {{now.at(0), 0, {}}, {now.at(1), 1, {}}})), QStringList{});
    QCOMPARE(readAll(dir.filePath("roster/BR_218.xml")), file);
    QVERIFY(XmlTree::sameContent(parsed(readAll(dir.filePath("roster.xml"))), index));
}

void TestRoster::saveRefusesDamagedFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("problems");

    QTest::newRow("the index") << "roster.xml"
                               << QStringList{"roster.xml: Die Datei kann nicht gelesen werden; "
                                              "damit sie nicht überschrieben wird, ist nichts "
                                              "gespeichert."};
    QTest::newRow("the loco file") << "roster/BR_218.xml"
                                   << QStringList{"roster/BR_218.xml, Zeile 2: Die Datei ist kein "
                                                  "lesbares XML; sie wird nicht gelesen."};
}

void TestRoster::saveRefusesDamagedFiles()
{
    QFETCH(QString, file);
    QFETCH(QStringList, problems);
    QTemporaryDir dir;
    QVERIFY(copyFolder(Data + "/decoderpro", dir.path()));
    Roster roster;
    roster.setFolder(dir.path());
    const QList<RosterEntry> before = roster.entries();
    const QByteArray damage = "<?xml version=\"1.0\"?>\n<locomotive-config><oops></locomotive-config>";
    writeAll(dir.filePath(file), damage);
    const QByteArray index = readAll(dir.filePath("roster.xml"));

    RosterEntry edited = before.first();
    edited.roadName = "DB AG";
    QCOMPARE(messages(roster.save(before, {{edited, 0, {}}, {before.at(1), 1, {}}})), problems);
    QCOMPARE(readAll(dir.filePath(file)), damage);
    QCOMPARE(readAll(dir.filePath("roster.xml")), index);
    QCOMPARE(QDir(dir.filePath("roster")).entryList(QDir::Files),
             QStringList({"BR_218.xml", "V_60.xml"}));
}

void TestRoster::addRemoveAndCopy()
{
    QTemporaryDir dir;
    QVERIFY(copyFolder(Data + "/decoderpro", dir.path()));
    Roster roster;
    roster.setFolder(dir.path());
    QList<RosterEntry> before = roster.entries();

    // A new loco and V 60 gone: a file of its own, V 60's kept as .bak.
    RosterEntry added;
    added.id = "BR 218";   // refused: the name is taken
    RosterEntry fresh;
    fresh.id = "Köf 3";
    fresh.address = 5555;
    fresh.labels[2] = FunctionLabel{"Horn", false};
    QCOMPARE(messages(roster.save(before, {{before.at(0), 0, {}}, {fresh, -1, {}}, {added, -1, {}}})),
             QStringList{"roster.xml: Den Namen „BR 218“ gibt es zweimal; das zweite Fahrzeug ist "
                         "nicht gespeichert."});
    QCOMPARE(describe(roster.entries()),
             QStringList({"BR 218 218 L DB/218 466-1 0=Licht 1=Sound 2=Horn* 4=Kupplung",
                          "Köf 3 5555 L / 2=Horn*"}));
    QCOMPARE(roster.entries().at(1).fileName, QString("K_f_3.xml"));
    QCOMPARE(readAll(dir.filePath("roster/V_60.xml.bak")),
             readAll(Data + "/decoderpro/roster/V_60.xml"));
    const RosterFiles::LocoFileRead made =
        RosterFiles::readLocoFile(readAll(dir.filePath("roster/K_f_3.xml")), "K_f_3.xml");
    QVERIFY(made.entry);
    QCOMPARE(describe(*made.entry), QString("Köf 3 5555 L / 2=Horn*"));
    QVERIFY(made.document->root.child(u"locomotive")->child(u"decoder"));

    // Copied from another roster: the file comes along with its CV values.
    const Roster::FolderRead source = Roster::readFolder(Data + "/decoderpro");
    before = roster.entries();
    RosterEntry copy = source.entries.at(1);
    copy.roadName = "DR (Kopie)";
    QCOMPARE(messages(roster.save(before, {{before.at(0), 0, {}},
                                           {before.at(1), 1, {}},
                                           {copy, -1, Data + "/decoderpro/roster/V_60.xml"}})),
             QStringList{});
    QCOMPARE(describe(roster.entries()).value(2), QString("V 60 3 S DR (Kopie)/ 0=Spitzenlicht 3=Rangierpfiff*"));
    const XmlTree::Document copied = parsed(readAll(dir.filePath("roster/V_60.xml")));
    const XmlTree::Document original = parsed(readAll(Data + "/decoderpro/roster/V_60.xml"));
    QVERIFY(XmlTree::sameContent(*copied.root.child(u"locomotive")->child(u"values"),
                                 *original.root.child(u"locomotive")->child(u"values")));
}

void TestRoster::readsAgainWhenFilesChange()
{
    QTemporaryDir dir;
    QVERIFY(copyFolder(Data + "/decoderpro", dir.path()));
    Roster roster;
    roster.setSettleInterval(0);
    roster.setFolder(dir.path());
    QSignalSpy changed(&roster, &Roster::changed);
    // Another program replaces the index, as JMRI does when it saves.
    QByteArray index = readAll(dir.filePath("roster.xml"));
    index.replace("id=\"V 60\"", "id=\"V 60 Werklok\"");
    replaceFile(dir.filePath("roster.xml"), index);
    QTRY_COMPARE(changed.count(), 1);
    QCOMPARE(roster.entries().at(1).id, QString("V 60 Werklok"));
    // And again after that replacement: the new file is watched too.
    index.replace("Werklok", "Museum");
    replaceFile(dir.filePath("roster.xml"), index);
    QTRY_COMPARE(changed.count(), 2);
    QCOMPARE(roster.entries().at(1).id, QString("V 60 Museum"));
}

void TestRoster::fileNames_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QStringList>("taken");
    QTest::addColumn<QString>("fileName");

    QTest::newRow("blanks and signs") << "BR 218.4 (DB)" << QStringList{} << "BR_218_4__DB_.xml";
    QTest::newRow("umlauts") << "Köf" << QStringList{} << "K_f.xml";
    QTest::newRow("taken") << "BR 218" << QStringList{"BR_218.xml", "BR_2180.xml"}
                           << "BR_2181.xml";
}

void TestRoster::fileNames()
{
    QFETCH(QString, id);
    QFETCH(QStringList, taken);
    QFETCH(QString, fileName);
    QCOMPARE(RosterFiles::fileNameFor(id, [&](const QString &name) { return taken.contains(name); }),
             fileName);
}

void TestRoster::mediaFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("served");

    QTest::newRow("JMRI's preference: form") << "preference:roster/icons/BR_218.png" << true;
    QTest::newRow("relative to the folder") << "roster/icons/BR_218.png" << true;
    QTest::newRow("absolute, inside") << "@/roster/icons/BR_218.png" << true;
    QTest::newRow("up and out") << "roster/../../outside.png" << false;
    QTest::newRow("preference: up and out") << "preference:../outside.png" << false;
    QTest::newRow("absolute, outside") << "@/../outside.png" << false;
    QTest::newRow("a link inside pointing out") << "roster/icons/link.png" << false;
    QTest::newRow("the program's files") << "program:resources/icons/loco.png" << false;
    QTest::newRow("no image") << "roster/BR_218.xml" << false;
    QTest::newRow("missing") << "roster/icons/none.png" << false;
    QTest::newRow("none") << "" << false;
}

void TestRoster::mediaFiles()
{
    QFETCH(QString, path);
    QFETCH(bool, served);
    QTemporaryDir dir;
    const QString folder = dir.filePath("profile");
    QVERIFY(copyFolder(Data + "/decoderpro", folder));
    writeAll(dir.filePath("outside.png"), readAll(Data + "/decoderpro/roster/icons/BR_218.png"));
    QVERIFY(QFile::link(dir.filePath("outside.png"), folder + "/roster/icons/link.png"));
    path.replace('@', folder);
    const std::optional<QString> file = RosterFiles::mediaFile(folder, path);
    QCOMPARE(file.has_value(), served);
    if (served)
        QCOMPARE(*file, QFileInfo(folder + "/roster/icons/BR_218.png").canonicalFilePath());
}

// Engine Driver's loader: a DOM parser, every <locomotive> anywhere, maxSpeed
// and num read as whole numbers (anything else drops the whole list),
// lockable "true" or latching, the label as the element's text.
void TestRoster::webRosterReadsAsEngineDriverReadsIt()
{
    Roster roster;
    roster.setFolder(Data + "/decoderpro");
    QList<RosterEntry> entries = roster.entries();
    entries[1].maxSpeed = "0.8";
    const QByteArray xml = RosterFiles::webRoster(entries, [&](const RosterEntry &entry) {
        return roster.iconFile(entry).has_value();
    });

    QDomDocument document;
    QVERIFY(document.setContent(xml));
    const QDomNodeList locos = document.documentElement().elementsByTagName("locomotive");
    QStringList seen;
    for (int i = 0; i < locos.size(); ++i) {
        const QDomElement loco = locos.at(i).toElement();
        QStringList parts{loco.attribute("id"), loco.attribute("dccAddress"),
                          loco.attribute("roadName"), loco.attribute("iconFilePath")};
        if (loco.hasAttribute("maxSpeed")) {
            bool whole = false;
            loco.attribute("maxSpeed").toInt(&whole);
            QVERIFY(whole);
        }
        const QDomNodeList labels = loco.elementsByTagName("functionlabel");
        for (int j = 0; j < labels.size(); ++j) {
            const QDomElement label = labels.at(j).toElement();
            bool whole = false;
            const int num = label.attribute("num").toInt(&whole);
            QVERIFY(whole);
            parts << QStringLiteral("%1=%2%3").arg(num).arg(label.text(),
                                                       label.attribute("lockable") == "true" ? "" : "*");
        }
        seen << parts.join(' ');
    }
    QCOMPARE(seen, QStringList({"BR 218 218 DB preference:roster/icons/BR_218.png 0=Licht 1=Sound "
                                "2=Horn* 4=Kupplung",
                                "V 60 3 DR  0=Spitzenlicht 3=Rangierpfiff*"}));
}

KZ_TEST_MAIN(TestRoster)
#include "test_roster.moc"
