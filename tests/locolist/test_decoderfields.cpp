// The decoder tab's plain logic: the maker table, the labels of an
// identification, the backup file, and the identify, reset, backup and
// restore loops against the virtual command station's decoder.

#include "tests/support/stationrig.h"
#include "tests/support/testmain.h"
#include "printing.h"
#include "scriptedobserver.h"

#include "link/commands.h"
#include "link/portsession.h"
#include "locolist/decoderfields.h"
#include "locolist/decoderjobs.h"

#include <QTemporaryDir>


using namespace DecoderFields;

Q_DECLARE_METATYPE(CvValue)

namespace QTest {
template<>
inline char *toString(const CvValue &v)
{
    return qstrdup(QByteArray(QByteArray::number(v.cv) + ";" + QByteArray::number(v.value)).constData());
}
} // namespace QTest

namespace {

enum Interruption { Untouched, Silent, Abort };

struct JobRig
{
    JobRig()
        : programmer(buffer)
        , jobs(programmer, &observer)
    {
        programmer.setController(1);
        rig.station.setTrackOutput(TrackOutput::Programming);
    }

    // After the given exchange the station stops answering (Silent) or the
    // user presses the abort button (Abort).
    void interrupt(Interruption interruption, int exchange)
    {
        if (interruption == Untouched)
            return;
        observer.afterExchange = [this, exchange, interruption](int n) {
            if (n != exchange)
                return;
            if (interruption == Silent)
                rig.station.addFault(Fault::noReply(Fault::Always));
            else
                jobs.requestAbort();
        };
    }

    StationRig rig;
    CommandBuffer buffer;
    ScriptedObserver observer;
    DecoderProgrammer programmer;
    DecoderJobs jobs;
};

QList<CvValue> cvList(std::initializer_list<std::pair<int, int>> pairs)
{
    QList<CvValue> list;
    for (auto [cv, value] : pairs)
        list << CvValue{cv, value};
    return list;
}

CvValues cvMap(std::initializer_list<std::pair<int, int>> pairs)
{
    CvValues map;
    for (auto [cv, value] : pairs)
        map.insert(cv, value);
    return map;
}

} // namespace

class TestDecoderFields : public QObject
{
    Q_OBJECT

private slots:
    void makerTexts_data();
    void makerTexts();
    void labels_data();
    void labels();
    void backupFileText_data();
    void backupFileText();
    void parsing_data();
    void parsing();
    void texts_data();
    void texts();
    void savingAndReading();
    void identify_data();
    void identify();
    void factoryReset_data();
    void factoryReset();
    void backup_data();
    void backup();
    void restore_data();
    void restore();
    void backupRoundTrip();
};

void TestDecoderFields::makerTexts_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("text");

    QTest::newRow("151") << 151 << QStringLiteral("Electronic Solutions Ulm GmbH (151)");
    QTest::newRow("13") << 13 << QStringLiteral("Public Domain & Do-It-Yourself Decoders (13)");
    QTest::newRow("the first line") << 1 << QStringLiteral("CML Electronics Limited (1)");
    QTest::newRow("the last line") << 238
                                   << QStringLiteral("NMRA Reserved (for extended ID #'s) (238)");
    QTest::newRow("UTF-8 name") << 118 << QStringLiteral("MÜT GmbH (118)");
    QTest::newRow("unassigned") << 199 << QStringLiteral("unbekannt (199)");
    QTest::newRow("0") << 0 << QStringLiteral("unbekannt (0)");
    QTest::newRow("255") << 255 << QStringLiteral("unbekannt (255)");
}

void TestDecoderFields::makerTexts()
{
    QFETCH(int, id);
    QFETCH(QString, text);
    QCOMPARE(makerText(id), text);
}

void TestDecoderFields::labels_data()
{
    QTest::addColumn<CvValues>("cvs");
    QTest::addColumn<QStringList>("texts");

    // Maker, version, loco number, speed steps, direction, analogue, RailCom.
    QTest::newRow("short address, 28 steps, analogue")
        << cvMap({{8, 151}, {7, 42}, {29, 6}, {1, 3}})
        << QStringList{"Electronic Solutions Ulm GmbH (151)", "42", "3 (kurz)", "28/128", "normal",
                       "ein", "aus"};
    QTest::newRow("long address 1000, reversed, RailCom")
        << cvMap({{8, 13}, {7, 1}, {29, 0x2B}, {17, 195}, {18, 232}})
        << QStringList{"Public Domain & Do-It-Yourself Decoders (13)", "1", "1000 (lang)",
                       "28/128", "umgekehrt", "aus", "ein"};
    QTest::newRow("14 steps, everything off")
        << cvMap({{8, 199}, {7, 0}, {29, 0}, {1, 127}})
        << QStringList{"unbekannt (199)", "0", "127 (kurz)", "14", "normal", "aus", "aus"};
    QTest::newRow("long address 10239")
        << cvMap({{8, 1}, {7, 9}, {29, 0x22}, {17, 231}, {18, 255}})
        << QStringList{"CML Electronics Limited (1)", "9", "10239 (lang)", "28/128", "normal",
                       "aus", "aus"};
    // The formula would give (100 - 192) * 256 + 5, a negative number.
    QTest::newRow("CV 17 without the long mark")
        << cvMap({{8, 151}, {7, 42}, {29, 0x22}, {17, 100}, {18, 5}})
        << QStringList{"Electronic Solutions Ulm GmbH (151)", "42", "unbekannt", "28/128",
                       "normal", "aus", "aus"};
    // What was read before a failure stays; the rest stays empty.
    QTest::newRow("only CV 8") << cvMap({{8, 151}})
                               << QStringList{"Electronic Solutions Ulm GmbH (151)", "", "", "",
                                              "", "", ""};
    QTest::newRow("CV 18 missing")
        << cvMap({{8, 151}, {7, 42}, {29, 0x22}, {17, 195}})
        << QStringList{"Electronic Solutions Ulm GmbH (151)", "42", "", "28/128", "normal", "aus",
                       "aus"};
    // A CV 1 read while CV 29 points to the long address is not the number.
    QTest::newRow("CV 1 of a long-address decoder")
        << cvMap({{8, 151}, {7, 42}, {29, 0x22}, {1, 3}})
        << QStringList{"Electronic Solutions Ulm GmbH (151)", "42", "", "28/128", "normal", "aus",
                       "aus"};
    QTest::newRow("nothing") << CvValues() << QStringList{"", "", "", "", "", "", ""};
}

void TestDecoderFields::labels()
{
    QFETCH(CvValues, cvs);
    QFETCH(QStringList, texts);
    QCOMPARE(decoderLabels(cvs).texts(), texts);
    QCOMPARE(labelCaptions(),
             (QStringList{"Hersteller:", "Version:", "Lok-Nummer:", "Fahrstufen:",
                          "Fahrtrichtung:", "Analogbetrieb:", "RailCom:"}));
}

void TestDecoderFields::backupFileText_data()
{
    QTest::addColumn<CvValues>("values");
    QTest::addColumn<QList<int>>("unreadable");
    QTest::addColumn<bool>("identity");
    QTest::addColumn<QByteArray>("text");

    const QByteArray top = "# Programm: Velantor 5.2.16\n# Datum: 09.12.2026 14:05:09\n";
    QTest::newRow("maker, version and unreadable CVs")
        << cvMap({{29, 6}, {1, 3}, {8, 151}, {7, 42}}) << QList<int>{20, 9, 10, 11, 12, 14, 1024}
        << true
        << top + "# Hersteller: Electronic Solutions Ulm GmbH (151)\n# Version: 42\n"
                 "CV;Wert\n1;3\n7;42\n8;151\n29;6\n# nicht lesbar: 9-12, 14, 20, 1024\n";
    QTest::newRow("nothing known, everything read")
        << cvMap({{1, 0}, {2, 255}}) << QList<int>() << false
        << top + "CV;Wert\n1;0\n2;255\n";
}

void TestDecoderFields::backupFileText()
{
    QFETCH(CvValues, values);
    QFETCH(QList<int>, unreadable);
    QFETCH(bool, identity);
    QFETCH(QByteArray, text);

    BackupHeader header;
    header.time = QDateTime(QDate(2026, 12, 9), QTime(14, 5, 9));
    if (identity) {
        header.maker = 151;
        header.version = 42;
    }
    const QByteArray written = DecoderFields::backupFileText(values, unreadable, header);
    QCOMPARE(written, text);
    // What is written reads back as it was.
    const BackupFile file = parseBackupFile(written);
    QCOMPARE(file.badLine, 0);
    CvValues read;
    for (const CvValue &entry : file.entries)
        read.insert(entry.cv, entry.value);
    QCOMPARE(read, values);
}

void TestDecoderFields::parsing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("badLine");
    QTest::addColumn<QList<CvValue>>("plan");

    auto good = [](const char *name, QByteArray bytes, QList<CvValue> plan) {
        QTest::newRow(name) << bytes << 0 << plan;
    };
    auto bad = [](const char *name, QByteArray bytes, int line) {
        QTest::newRow(name) << bytes << line << QList<CvValue>();
    };

    good("comments, blank lines, header", "# Programm\n\nCV;Wert\n1;3\n  \n29;6\n# Ende\n",
         cvList({{1, 3}, {29, 6}}));
    good("file order kept", "29;6\n1;3\n", cvList({{29, 6}, {1, 3}}));
    good("CR LF, byte order mark", "\xEF\xBB\xBF" "CV;Wert\r\n1;3\r\n1024;255\r\n",
         cvList({{1, 3}, {1024, 255}}));
    good("blanks around the fields", " 1 ; 3 \n\t2;\t0\n", cvList({{1, 3}, {2, 0}}));
    good("header in other case, no line end", "cv;wert\n5;0", cvList({{5, 0}}));
    good("CV 7 and CV 8 are not written", "7;42\n8;151\n3;8\n", cvList({{3, 8}}));
    good("leading zeros", "0001;007\n", cvList({{1, 7}}));
    good("indented comment with anything", "  # ;;; \xFF\xFE\n1;3\n", cvList({{1, 3}}));
    good("empty file", "", {});

    bad("CV 0", "CV;Wert\n0;3\n", 2);
    bad("CV 1025", "1025;3\n", 1);
    bad("value 256", "1;3\n2;256\n", 2);
    bad("CV twice", "1;3\n29;6\n1;3\n", 3);
    bad("no value", "# x\n1;\n", 2);
    bad("no separator", "1 3\n", 1);
    bad("three fields", "1;3;4\n", 1);
    bad("negative value", "1;-3\n", 1);
    bad("plus sign", "+1;3\n", 1);
    bad("decimal comma", "1;3,0\n", 1);
    bad("hexadecimal", "1;0x10\n", 1);
    bad("too many digits", "1;0000003\n", 1);
    bad("a bad line after good ones", "1;3\n2;1\n3;8\n\nabc\n4;6\n", 5);
    bad("misspelt header", "CV;Werte\n1;3\n", 1);
    bad("counted with CR LF", "CV;Wert\r\n1;3\r\n\r\n9;x\r\n", 4);
    // Only ASCII blanks are blanks: 0x85 and 0xA0 are pieces of a UTF-8
    // character.
    bad("byte 0x85 before the CV", "1;3\n\x85" "29;6\n", 2);
    bad("byte 0xA0 after the value", "1;3\xA0\n", 1);
    bad("NUL byte", QByteArray("1;3\n2;\0" "4\n", 8), 2);
}

void TestDecoderFields::parsing()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, badLine);
    QFETCH(QList<CvValue>, plan);

    const BackupFile file = parseBackupFile(bytes);
    QCOMPARE(file.badLine, badLine);
    QCOMPARE(file.isValid(), badLine == 0);
    QCOMPARE(file.restorePlan(), plan);
    if (badLine)
        QVERIFY(file.entries.isEmpty());
}

void TestDecoderFields::texts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("bad line") << badLineText(QStringLiteral("/home/anna/CV-Sicherung.csv"), 7)
                              << QStringLiteral(
                                     "Die Datei /home/anna/CV-Sicherung.csv enthält in Zeile 7 "
                                     "keinen gültigen Eintrag (CV 1 bis 1024, Wert 0 bis 255).");
    QTest::newRow("restore question") << restoreQuestion(58)
                                      << QStringLiteral("Möchten Sie 58 CVs in den Decoder schreiben ?");
    QTest::newRow("restored") << restoreDoneText(58) << QStringLiteral("58 CVs zurückgeschrieben");
    QTest::newRow("one not written")
        << restoreFailedText({29}, 58)
        << QStringLiteral("1 von 58 CVs konnten nicht geschrieben werden: CV 29");
    QTest::newRow("five not written")
        << restoreFailedText({1, 2, 3, 4, 5}, 58)
        << QStringLiteral("5 von 58 CVs konnten nicht geschrieben werden: CV 1, 2, 3, 4, 5");
    QTest::newRow("six not written")
        << restoreFailedText({1, 2, 3, 4, 5, 6}, 58)
        << QStringLiteral("6 von 58 CVs konnten nicht geschrieben werden: CV 1, 2, 3, 4, 5, …");
    QTest::newRow("backed up") << backupDoneText(255, 0) << QStringLiteral("255 CVs gesichert");
    QTest::newRow("backed up, some unreadable")
        << backupDoneText(58, 197) << QStringLiteral("58 CVs gesichert, 197 nicht lesbar");
    QTest::newRow("progress") << cvProgressText(5, 255) << QStringLiteral("CV 5 von 255");
    QTest::newRow("reset question")
        << resetQuestion()
        << QStringLiteral("Möchten Sie den Decoder auf die Werkseinstellungen zurücksetzen ?");
    QTest::newRow("rule von CV") << firstCvRule()
                                 << QStringLiteral("Die erste CV,Mandatory,MIN=1,MAX=1024,NUM");
    QTest::newRow("rule bis CV") << lastCvRule()
                                 << QStringLiteral("Die letzte CV,Mandatory,MIN=1,MAX=1024,NUM");
}

void TestDecoderFields::texts()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(text, expected);
}

void TestDecoderFields::savingAndReading()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("CV-Sicherung.csv"));
    const QByteArray text = "CV;Wert\n1;3\n";
    QString error;
    QVERIFY(saveBackupFile(path, text, &error));
    QCOMPARE(readBackupFile(path, &error), std::optional<QByteArray>(text));

    // A save that fails leaves what was there and says so.
    const QString nowhere = dir.filePath(QStringLiteral("fehlt/CV-Sicherung.csv"));
    QVERIFY(!saveBackupFile(nowhere, text, &error));
    QCOMPARE(error, writeFailedText(nowhere));
    QVERIFY(!readBackupFile(nowhere, &error));
    QCOMPARE(error, QStringLiteral("Die Datei ") + nowhere + QStringLiteral(" kann nicht gelesen werden."));

    // Only the whole file is seen at the target: no temporary file stays.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"CV-Sicherung.csv"});

    QVERIFY(saveBackupFile(path, QByteArray(MaxBackupFileBytes + 1, '#'), &error));
    QVERIFY(!readBackupFile(path, &error));
    QCOMPARE(error, QStringLiteral("Die Datei ") + path
                        + QStringLiteral(" ist zu groß für eine CV-Sicherung."));
    QCOMPARE(defaultBackupPath(), QDir::home().filePath(QStringLiteral("CV-Sicherung.csv")));
}

void TestDecoderFields::identify_data()
{
    QTest::addColumn<int>("cv29");
    QTest::addColumn<int>("missingCv");    // a CV the decoder lacks, 0: none
    QTest::addColumn<int>("interruption"); // Interruption
    QTest::addColumn<int>("after");        // ... after this exchange
    QTest::addColumn<int>("outcome");
    QTest::addColumn<CvValues>("values");
    QTest::addColumn<int>("failedCv");
    QTest::addColumn<int>("requests");

    using I = DecoderJobs::Identification;
    // The station's decoder: maker 151, version 42, CV 1 = 3, CV 17/18 = 1000.
    QTest::newRow("short address") << 6 << 0 << int(Untouched) << 0 << int(I::Identified)
                                   << cvMap({{8, 151}, {7, 42}, {29, 6}, {1, 3}}) << 0 << 4 * 8;
    QTest::newRow("long address") << 0x26 << 0 << int(Untouched) << 0 << int(I::Identified)
                                  << cvMap({{8, 151}, {7, 42}, {29, 0x26}, {17, 195}, {18, 232}})
                                  << 0 << 5 * 8;
    // No bit confirmed: the ninth check tells the 0 from an unreadable CV.
    QTest::newRow("CV 29 is 0") << 0 << 0 << int(Untouched) << 0 << int(I::Identified)
                                << cvMap({{8, 151}, {7, 42}, {29, 0}, {1, 3}}) << 0 << 4 * 8 + 1;
    QTest::newRow("no CV 7") << 6 << 7 << int(Untouched) << 0 << int(I::Failed)
                             << cvMap({{8, 151}}) << 7 << 8 + 9;
    QTest::newRow("no CV 18") << 0x26 << 18 << int(Untouched) << 0 << int(I::Failed)
                              << cvMap({{8, 151}, {7, 42}, {29, 0x26}, {17, 195}}) << 18 << 4 * 8 + 9;
    // Three attempts of the exchange that got no reply, nothing after it.
    QTest::newRow("silent in CV 29") << 6 << 0 << int(Silent) << 18 << int(I::Failed)
                                     << cvMap({{8, 151}, {7, 42}}) << 29 << 18 + 3;
    QTest::newRow("aborted in CV 7") << 6 << 0 << int(Abort) << 10 << int(I::Aborted)
                                     << CvValues() << 0 << 10;
}

void TestDecoderFields::identify()
{
    QFETCH(int, cv29);
    QFETCH(int, missingCv);
    QFETCH(int, interruption);
    QFETCH(int, after);
    QFETCH(int, outcome);
    QFETCH(CvValues, values);
    QFETCH(int, failedCv);
    QFETCH(int, requests);

    JobRig r;
    r.rig.station.setDecoderIdentity(151, 42);
    r.rig.station.setCv(29, quint8(cv29));
    r.rig.station.setCv(17, 195);
    r.rig.station.setCv(18, 232);
    if (missingCv)
        r.rig.station.removeCv(missingCv);
    r.interrupt(Interruption(interruption), after);
    r.jobs.requestAbort(); // a stale click before the job counts for nothing
    r.rig.takeRequests();

    const DecoderJobs::Identification result = r.jobs.identify();
    QCOMPARE(int(result.outcome), outcome);
    if (outcome != DecoderJobs::Identification::Aborted)
        QCOMPARE(result.values, values);
    QCOMPARE(result.failedCv, failedCv);
    const QList<CommandBuffer> sent = r.rig.takeRequests();
    QCOMPARE(sent.size(), requests);
    QCOMPARE(sent.first(), (CommandBuffer{1, Command::VerifyCVBit, 8, 8, 0}));
    QCOMPARE(r.observer.runningStates, (QList<bool>{true, false}));
    QCOMPARE(r.observer.abortCount, interruption == Abort ? 1 : 0);
    QVERIFY(!r.jobs.abortRequested());
    QCOMPARE(r.rig.boxes.count(), 0);
    if (outcome == DecoderJobs::Identification::Identified)
        QCOMPARE(r.observer.percents.last(), 100.0);
}

void TestDecoderFields::factoryReset_data()
{
    QTest::addColumn<bool>("decoderPresent");
    QTest::addColumn<bool>("answering");
    QTest::addColumn<int>("reply");
    QTest::addColumn<int>("cv29After");

    QTest::newRow("reset") << true << true << int(DecoderReply::Acknowledged) << 6;
    QTest::newRow("no decoder") << false << true << int(DecoderReply::NotAcknowledged) << 0x26;
    // The request left in the buffer (P3 0) is no acknowledgement, although
    // the decoder was reset and only the reply got lost.
    QTest::newRow("no reply") << true << false << int(DecoderReply::NoReply) << 6;
}

void TestDecoderFields::factoryReset()
{
    QFETCH(bool, decoderPresent);
    QFETCH(bool, answering);
    QFETCH(int, reply);
    QFETCH(int, cv29After);

    JobRig r;
    r.rig.station.setCv(29, 0x26);
    r.rig.station.setDecoderPresent(decoderPresent);
    if (!answering)
        r.rig.station.addFault(Fault::noReply(Fault::Always));
    r.rig.takeRequests();
    QCOMPARE(int(r.jobs.factoryReset()), reply);
    QCOMPARE(int(r.rig.station.cv(29)), cv29After);
    const QList<CommandBuffer> sent = r.rig.takeRequests();
    QCOMPARE(sent.first(), (CommandBuffer{1, Command::WriteCV, 8, 8, 0}));
    // Two attempts and the exchange's box when nobody answers.
    QCOMPARE(sent.size(), answering ? 1 : 2);
    QCOMPARE(r.rig.boxes.count(), answering ? 0 : 1);
}

void TestDecoderFields::backup_data()
{
    QTest::addColumn<bool>("decoderPresent");
    QTest::addColumn<int>("interruption");
    QTest::addColumn<int>("after");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<CvValues>("values");
    QTest::addColumn<QList<int>>("unreadable");
    QTest::addColumn<int>("requests");

    using B = DecoderJobs::Backup;
    // CVs 4 to 10 of the station's decoder: 4 = 6, 5 = 0, 6 = 0, 7 = 42,
    // 8 = 13; it lacks 9 and 10.
    const CvValues all = cvMap({{4, 6}, {5, 0}, {6, 0}, {7, 42}, {8, 13}});
    QTest::newRow("read and unreadable") << true << int(Untouched) << 0 << int(B::Done) << all
                                         << QList<int>{9, 10} << 8 + 9 + 9 + 8 + 8 + 9 + 9;
    QTest::newRow("no decoder") << false << int(Untouched) << 0 << int(B::NothingRead)
                                << CvValues() << QList<int>{4, 5, 6, 7, 8, 9, 10} << 7 * 9;
    QTest::newRow("silent in CV 6") << true << int(Silent) << 20 << int(B::NoReply)
                                    << cvMap({{4, 6}, {5, 0}}) << QList<int>() << 20 + 3;
    QTest::newRow("aborted in the ninth check of CV 5")
        << true << int(Abort) << 17 << int(B::Aborted) << cvMap({{4, 6}}) << QList<int>() << 17;
}

void TestDecoderFields::backup()
{
    QFETCH(bool, decoderPresent);
    QFETCH(int, interruption);
    QFETCH(int, after);
    QFETCH(int, outcome);
    QFETCH(CvValues, values);
    QFETCH(QList<int>, unreadable);
    QFETCH(int, requests);

    JobRig r;
    r.rig.station.setDecoderPresent(decoderPresent);
    r.interrupt(Interruption(interruption), after);
    r.rig.takeRequests();

    const DecoderJobs::Backup result = r.jobs.backup(4, 10);
    QCOMPARE(int(result.outcome), outcome);
    QCOMPARE(result.values, values);
    QCOMPARE(result.unreadable, unreadable);
    QCOMPARE(result.worthSaving(), outcome == DecoderJobs::Backup::Done);
    QCOMPARE(r.rig.takeRequests().size(), requests);
    QCOMPARE(r.observer.stages.first(), QStringLiteral("CV 1 von 7"));
    if (outcome == DecoderJobs::Backup::Done) {
        QCOMPARE(r.observer.stages.last(), QStringLiteral("CV 7 von 7"));
        QCOMPARE(r.observer.percents.last(), 100.0);
    }
    QCOMPARE(r.observer.runningStates, (QList<bool>{true, false}));
    QCOMPARE(r.rig.boxes.count(), 0);
}

void TestDecoderFields::restore_data()
{
    QTest::addColumn<bool>("decoderPresent");
    QTest::addColumn<int>("interruption");
    QTest::addColumn<int>("after");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("written");
    QTest::addColumn<QList<int>>("failed");
    QTest::addColumn<int>("requests");

    using R = DecoderJobs::Restore;
    QTest::newRow("all written") << true << int(Untouched) << 0 << int(R::Done) << 3
                                 << QList<int>() << 6;
    QTest::newRow("no decoder") << false << int(Untouched) << 0 << int(R::Failed) << 0
                                << QList<int>{3, 29, 300} << 6;
    // The write of CV 29 gets no reply: it and CV 300 stay unwritten.
    QTest::newRow("silent at the second write") << true << int(Silent) << 2 << int(R::NoReply) << 1
                                                << QList<int>{29, 300} << 2 + 3;
    QTest::newRow("silent at the second verify") << true << int(Silent) << 3 << int(R::NoReply) << 1
                                                 << QList<int>{29, 300} << 3 + 3;
    QTest::newRow("aborted after a write") << true << int(Abort) << 3 << int(R::Aborted) << 1
                                           << QList<int>() << 3;
}

void TestDecoderFields::restore()
{
    QFETCH(bool, decoderPresent);
    QFETCH(int, interruption);
    QFETCH(int, after);
    QFETCH(int, outcome);
    QFETCH(int, written);
    QFETCH(QList<int>, failed);
    QFETCH(int, requests);

    JobRig r;
    r.rig.station.setDecoderPresent(decoderPresent);
    r.interrupt(Interruption(interruption), after);
    r.rig.takeRequests();

    const DecoderJobs::Restore result = r.jobs.restore(cvList({{3, 20}, {29, 0x26}, {300, 7}}));
    QCOMPARE(int(result.outcome), outcome);
    QCOMPARE(result.count, 3);
    QCOMPARE(result.written, written);
    QCOMPARE(result.failed, failed);
    const QList<CommandBuffer> sent = r.rig.takeRequests();
    QCOMPARE(sent.size(), requests);
    // Write, then verify with the value.
    QCOMPARE(sent.at(0), (CommandBuffer{1, Command::WriteCV, 20, 3, 0}));
    if (requests > 1)
        QCOMPARE(sent.at(1), (CommandBuffer{1, Command::VerifyCV, 20, 3, 0}));
    if (outcome == DecoderJobs::Restore::Done) {
        QCOMPARE(sent.at(4), (CommandBuffer{1, Command::WriteCV, 7, 44, 1}));
        QCOMPARE(int(r.rig.station.cv(300)), 7);
        QCOMPARE(r.observer.percents.last(), 100.0);
        QCOMPARE(r.observer.stages, (QStringList{"CV 1 von 3", "CV 2 von 3", "CV 3 von 3"}));
    }
    QCOMPARE(r.observer.runningStates, (QList<bool>{true, false}));
    QCOMPARE(r.observer.abortCount, interruption == Abort ? 1 : 0);
    QCOMPARE(r.rig.boxes.count(), 0);
}

// A backup of CVs 1 to 255, saved and read back, restores into a reset
// decoder the very values it read.
void TestDecoderFields::backupRoundTrip()
{
    JobRig r;
    r.rig.station.setDecoderIdentity(151, 42);
    r.rig.station.setCv(29, 0x26);
    r.rig.station.setCv(17, 195);
    r.rig.station.setCv(18, 232);
    r.rig.station.setCv(3, 0);
    r.rig.station.setCv(49, 255);
    r.rig.station.setCv(200, 128);
    const StationState before = r.rig.station.state();

    const DecoderJobs::Backup backup = r.jobs.backup(1, 255);
    QCOMPARE(backup.outcome, DecoderJobs::Backup::Done);
    QCOMPARE(backup.values.size(), 60);
    QCOMPARE(backup.unreadable.size(), 255 - 60);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("CV-Sicherung.csv"));
    BackupHeader header;
    header.time = QDateTime::currentDateTime();
    header.maker = backup.values.value(MakerCv);
    header.version = backup.values.value(VersionCv);
    QVERIFY(saveBackupFile(path, DecoderFields::backupFileText(backup.values, backup.unreadable,
                                                               header)));
    const BackupFile file = parseBackupFile(*readBackupFile(path));
    QVERIFY(file.isValid());
    const QList<CvValue> plan = file.restorePlan();
    QCOMPARE(plan.size(), 60 - 2);

    r.rig.station.factoryReset();
    r.rig.takeRequests();
    const DecoderJobs::Restore restore = r.jobs.restore(plan);
    QCOMPARE(restore.outcome, DecoderJobs::Restore::Done);
    QCOMPARE(restore.written, 58);
    QList<CvValue> writes;
    for (const CommandBuffer &request : r.rig.takeRequests()) {
        if (request.command == Command::WriteCV)
            writes << CvValue{joinBytes(request.p2, request.p3), request.p1};
    }
    QCOMPARE(writes, plan);
    for (int cv = 1; cv <= 255; ++cv) {
        QCOMPARE(r.rig.station.hasCv(cv), bool(before.cvPresent.test(cv - 1)));
        if (r.rig.station.hasCv(cv))
            QCOMPARE(int(r.rig.station.cv(cv)), int(before.cvs[cv - 1]));
    }
}

KZ_TEST_MAIN(TestDecoderFields)
#include "test_decoderfields.moc"
