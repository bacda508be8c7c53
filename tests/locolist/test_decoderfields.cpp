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
    QTest::addColumn<QList<int>>("uncertain");

    // Maker, version, loco number, speed steps, direction, analogue, RailCom.
    QTest::newRow("short address, 28 steps, analogue")
        << cvMap({{8, 151}, {7, 42}, {29, 6}, {1, 3}})
        << QStringList{"Electronic Solutions Ulm GmbH (151)", "42", "3 (kurz)", "28/126", "normal",
                       "ein", "aus"} << QList<int>();
    QTest::newRow("long address 1000, reversed, RailCom")
        << cvMap({{8, 13}, {7, 1}, {29, 0x2B}, {17, 195}, {18, 232}})
        << QStringList{"Public Domain & Do-It-Yourself Decoders (13)", "1", "1000 (lang)",
                       "28/126", "umgekehrt", "aus", "ein"} << QList<int>();
    QTest::newRow("14 steps, everything off")
        << cvMap({{8, 199}, {7, 0}, {29, 0}, {1, 127}})
        << QStringList{"unbekannt (199)", "0", "127 (kurz)", "14", "normal", "aus", "aus"} << QList<int>();
    QTest::newRow("long address 10239")
        << cvMap({{8, 1}, {7, 9}, {29, 0x22}, {17, 231}, {18, 255}})
        << QStringList{"CML Electronics Limited (1)", "9", "10239 (lang)", "28/126", "normal",
                       "aus", "aus"} << QList<int>();
    // The formula would give (100 - 192) * 256 + 5, a negative number.
    QTest::newRow("CV 17 without the long mark")
        << cvMap({{8, 151}, {7, 42}, {29, 0x22}, {17, 100}, {18, 5}})
        << QStringList{"Electronic Solutions Ulm GmbH (151)", "42",
                       "ungültig (CV 17/18 = 100/5)", "28/126", "normal", "aus", "aus"} << QList<int>();
    // The mark allows up to 16383, beyond any loco number.
    QTest::newRow("CV 17/18 = 255/255")
        << cvMap({{8, 151}, {7, 42}, {29, 0x22}, {17, 255}, {18, 255}})
        << QStringList{"Electronic Solutions Ulm GmbH (151)", "42",
                       "ungültig (CV 17/18 = 255/255)", "28/126", "normal", "aus", "aus"} << QList<int>();
    QTest::newRow("long address 10240")
        << cvMap({{8, 151}, {7, 42}, {29, 0x22}, {17, 232}, {18, 0}})
        << QStringList{"Electronic Solutions Ulm GmbH (151)", "42", "ungültig (CV 17/18 = 232/0)",
                       "28/126", "normal", "aus", "aus"} << QList<int>();
    QTest::newRow("CV 1 = 0") << cvMap({{8, 151}, {7, 42}, {29, 2}, {1, 0}})
                              << QStringList{"Electronic Solutions Ulm GmbH (151)", "42",
                                             "ungültig (CV 1 = 0)", "28/126", "normal", "aus",
                                             "aus"} << QList<int>();
    QTest::newRow("CV 1 = 128") << cvMap({{8, 151}, {7, 42}, {29, 2}, {1, 128}})
                                << QStringList{"Electronic Solutions Ulm GmbH (151)", "42",
                                               "ungültig (CV 1 = 128)", "28/126", "normal", "aus",
                                               "aus"} << QList<int>();
    QTest::newRow("accessory decoder")
        << cvMap({{8, 151}, {7, 42}, {29, 0x88}, {1, 3}})
        << QStringList{"Electronic Solutions Ulm GmbH (151)", "42", "Zubehördecoder", "", "", "",
                       "ein"} << QList<int>();
    // Only confirmed values are shown.
    QTest::newRow("maker unsicher")
        << cvMap({{7, 42}, {29, 6}, {1, 3}})
        << QStringList{"unsicher", "42", "3 (kurz)", "28/126", "normal", "ein", "aus"}
        << QList<int>{8};
    QTest::newRow("CV 29 unsicher")
        << cvMap({{8, 151}, {7, 42}})
        << QStringList{"Electronic Solutions Ulm GmbH (151)", "42", "unsicher", "unsicher",
                       "unsicher", "unsicher", "unsicher"}
        << QList<int>{29};
    QTest::newRow("CV 18 unsicher")
        << cvMap({{8, 151}, {7, 42}, {29, 0x22}, {17, 195}})
        << QStringList{"Electronic Solutions Ulm GmbH (151)", "42", "unsicher", "28/126",
                       "normal", "aus", "aus"}
        << QList<int>{18};
    // What was read before a failure stays; the rest stays empty.
    QTest::newRow("only CV 8") << cvMap({{8, 151}})
                               << QStringList{"Electronic Solutions Ulm GmbH (151)", "", "", "",
                                              "", "", ""} << QList<int>();
    QTest::newRow("CV 18 missing")
        << cvMap({{8, 151}, {7, 42}, {29, 0x22}, {17, 195}})
        << QStringList{"Electronic Solutions Ulm GmbH (151)", "42", "", "28/126", "normal", "aus",
                       "aus"} << QList<int>();
    // A CV 1 read while CV 29 points to the long address is not the number.
    QTest::newRow("CV 1 of a long-address decoder")
        << cvMap({{8, 151}, {7, 42}, {29, 0x22}, {1, 3}})
        << QStringList{"Electronic Solutions Ulm GmbH (151)", "42", "", "28/126", "normal", "aus",
                       "aus"} << QList<int>();
    QTest::newRow("nothing") << CvValues() << QStringList{"", "", "", "", "", "", ""} << QList<int>();
}

void TestDecoderFields::labels()
{
    QFETCH(CvValues, cvs);
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, uncertain);
    QCOMPARE(decoderLabels(cvs, uncertain).texts(), texts);
    QCOMPARE(labelCaptions(),
             (QStringList{"Hersteller:", "Version:", "Lok-Nummer:", "Fahrstufen:",
                          "Fahrtrichtung:", "Analogbetrieb:", "RailCom:"}));
}

void TestDecoderFields::backupFileText_data()
{
    QTest::addColumn<CvValues>("values");
    QTest::addColumn<QList<int>>("unreadable");
    QTest::addColumn<bool>("identity");
    QTest::addColumn<QList<int>>("uncertain");
    QTest::addColumn<int>("format"); // BackupFormat
    QTest::addColumn<QByteArray>("text");

    const QByteArray top = "# Programm: Velantor 5.2.16\n# Datum: 09.12.2026 14:05:09\n";
    QTest::newRow("maker, version and unreadable CVs")
        << cvMap({{29, 6}, {1, 3}, {8, 151}, {7, 42}}) << QList<int>{20, 9, 10, 11, 12, 14, 1024}
        << true << QList<int>() << int(BackupFormat::Velantor)
        << top + "# Hersteller: Electronic Solutions Ulm GmbH (151)\n# Version: 42\n"
                 "CV;Wert\n1;3\n7;42\n8;151\n29;6\n# nicht lesbar: 9-12, 14, 20, 1024\n";
    QTest::newRow("nothing known, everything read")
        << cvMap({{1, 0}, {2, 255}}) << QList<int>() << false << QList<int>()
        << int(BackupFormat::Velantor) << top + "CV;Wert\n1;0\n2;255\n";
    QTest::newRow("unsicher in the head")
        << cvMap({{1, 3}, {29, 6}}) << QList<int>{9} << true << QList<int>{17, 8}
        << int(BackupFormat::Velantor)
        << top + "# Hersteller: Electronic Solutions Ulm GmbH (151)\n# Version: 42\n"
                 "# unsicher: 8, 17\nCV;Wert\n1;3\n29;6\n# nicht lesbar: 9\n";
    // What DecoderPro's importer takes: its header, two fields, nothing else.
    QTest::newRow("DecoderPro")
        << cvMap({{29, 6}, {1, 3}, {8, 151}}) << QList<int>{9} << true << QList<int>{17}
        << int(BackupFormat::DecoderPro) << QByteArray("CV, value\r\n1,3\r\n8,151\r\n29,6\r\n");
}

void TestDecoderFields::backupFileText()
{
    QFETCH(CvValues, values);
    QFETCH(QList<int>, unreadable);
    QFETCH(bool, identity);
    QFETCH(QList<int>, uncertain);
    QFETCH(int, format);
    QFETCH(QByteArray, text);

    BackupHeader header;
    header.time = QDateTime(QDate(2026, 12, 9), QTime(14, 5, 9));
    if (identity) {
        header.maker = 151;
        header.version = 42;
    }
    header.uncertain = uncertain;
    const QByteArray written =
        DecoderFields::backupFileText(BackupFormat(format), values, unreadable, header);
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
    // DecoderPro's export: its header quoted as one field, commas, CR LF.
    good("DecoderPro export", "\"CV, value\"\r\n1,3\r\n7,42\r\n8,151\r\n29,6\r\n",
         cvList({{1, 3}, {29, 6}}));
    good("DecoderPro header unquoted, LF", "CV, value\n17,195\n18,232\n",
         cvList({{17, 195}, {18, 232}}));
    good("DecoderPro with byte order mark", "\xEF\xBB\xBF\"CV, value\"\r\n1,3\r\n",
         cvList({{1, 3}}));
    good("DecoderPro, blanks around the comma", "CV , value\n 1 , 3 \n", cvList({{1, 3}}));
    bad("DecoderPro indexed CV", "\"CV, value\"\r\n1,3\r\n16.2.257,5\r\n", 3);
    bad("DecoderPro, three fields", "CV, value\n1,3,4\n", 2);
    bad("half-quoted header", "\"CV, value\n1,3\n", 1);
    bad("both separators", "1;3,4\n", 1);

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
    QTest::newRow("restore question")
        << restoreQuestion(58, "/home/anna/CV-Sicherung.csv", cvMap({{8, 151}, {7, 42}}),
                           cvMap({{8, 151}, {7, 43}}))
        << QStringLiteral("Möchten Sie 58 CVs aus der Datei /home/anna/CV-Sicherung.csv in den "
                          "Decoder schreiben ?\n\nDatei: Electronic Solutions Ulm GmbH (151), "
                          "Version 42\nDecoder auf dem Gleis: Electronic Solutions Ulm GmbH "
                          "(151), Version 43");
    QTest::newRow("restore question, another maker")
        << restoreQuestion(2, "/tmp/a.csv", cvMap({{8, 151}}), cvMap({{8, 13}, {7, 1}}))
        << QStringLiteral("Möchten Sie 2 CVs aus der Datei /tmp/a.csv in den Decoder schreiben "
                          "?\n\nDatei: Electronic Solutions Ulm GmbH (151), Version unbekannt\n"
                          "Decoder auf dem Gleis: Public Domain & Do-It-Yourself Decoders (13), "
                          "Version 1\n\nDie Datei stammt von einem Decoder von Electronic "
                          "Solutions Ulm GmbH (151), auf dem Gleis steht einer von Public Domain "
                          "& Do-It-Yourself Decoders (13).");
    QTest::newRow("restore question, nothing known")
        << restoreQuestion(2, "/tmp/a.csv", {}, {})
        << QStringLiteral("Möchten Sie 2 CVs aus der Datei /tmp/a.csv in den Decoder schreiben "
                          "?\n\nDatei: unbekannt, Version unbekannt\nDecoder auf dem Gleis: "
                          "unbekannt, Version unbekannt");
    QTest::newRow("restore stopped") << restoreStoppedText(12, 58, 33)
                                     << QStringLiteral("12 von 58 CVs geschrieben, abgebrochen bei CV 33");
    QTest::newRow("backed up, some unsicher")
        << backupDoneText(56, 197, {8, 17})
        << QStringLiteral("56 CVs gesichert, 197 nicht lesbar, 2 CVs unsicher: 8, 17");
    QTest::newRow("empty track") << noDecoderText()
                                 << QStringLiteral("Kein Decoder auf dem Programmiergleis erkannt");
    QTest::newRow("accessible value")
        << valueAccessibleName("Hersteller", "Electronic Solutions Ulm GmbH (151)")
        << QStringLiteral("Hersteller: Electronic Solutions Ulm GmbH (151)");
    QTest::newRow("accessible empty value") << valueAccessibleName("Dauer", "")
                                            << QStringLiteral("Dauer");
    QTest::newRow("suffix added") << withCsvSuffix("/tmp/lok") << QStringLiteral("/tmp/lok.csv");
    QTest::newRow("suffix kept") << withCsvSuffix("/tmp/lok.txt") << QStringLiteral("/tmp/lok.txt");
    QTest::newRow("dotted folder") << withCsvSuffix("/tmp/v1.2/lok")
                                   << QStringLiteral("/tmp/v1.2/lok.csv");
    QTest::newRow("save types") << saveFilters().join(";;")
                                << QStringLiteral("Velantor-CV-Sicherung (*.csv);;DecoderPro-CSV (*.csv)");
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

    // A save that fails leaves what was there and says so. The longest name
    // the file system allows leaves no room for the temporary file beside it
    // (permissions would not stop a test run as root).
    const QString existing = dir.filePath(QString(251, QLatin1Char('a')) + QStringLiteral(".csv"));
    {
        QFile old(existing);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("CV;Wert\n1;5\n");
    }
    QVERIFY(!saveBackupFile(existing, text, &error));
    QCOMPARE(error, writeFailedText(existing));
    QCOMPARE(readBackupFile(existing, &error), std::optional<QByteArray>("CV;Wert\n1;5\n"));
    QVERIFY(QFile::remove(existing));
    const QString nowhere = dir.filePath(QStringLiteral("fehlt/CV-Sicherung.csv"));
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
    QTest::addColumn<int>("missingCv");    // a CV the decoder lacks, 0: none, -1: no decoder
    QTest::addColumn<int>("interruption"); // Interruption
    QTest::addColumn<int>("after");        // ... after this exchange
    QTest::addColumn<int>("outcome");
    QTest::addColumn<CvValues>("values");
    QTest::addColumn<int>("failedCv");
    QTest::addColumn<int>("requests");

    using I = DecoderJobs::Identification;
    // The station's decoder: maker 151, version 42, CV 1 = 3, CV 17/18 = 1000.
    // A quick look at bit 0 of CV 1 comes first. A read checks bit 0 for 1
    // (and for 0 when that is not acknowledged), bits 1 to 7 and the byte: 9
    // checks when bit 0 is 1, 10 when it is 0.
    QTest::newRow("short address") << 6 << 0 << int(Untouched) << 0 << int(I::Identified)
                                   << cvMap({{8, 151}, {7, 42}, {29, 6}, {1, 3}}) << 0
                                   << 1 + 9 + 10 + 10 + 9;
    QTest::newRow("long address") << 0x26 << 0 << int(Untouched) << 0 << int(I::Identified)
                                  << cvMap({{8, 151}, {7, 42}, {29, 0x26}, {17, 195}, {18, 232}})
                                  << 0 << 1 + 9 + 10 + 10 + 9 + 10;
    QTest::newRow("CV 29 is 0") << 0 << 0 << int(Untouched) << 0 << int(I::Identified)
                                << cvMap({{8, 151}, {7, 42}, {29, 0}, {1, 3}}) << 0
                                << 1 + 9 + 10 + 10 + 9;
    // CV 7 is one every decoder has: three reads of bit 0 before it counts
    // as missing.
    QTest::newRow("no CV 7") << 6 << 7 << int(Untouched) << 0 << int(I::Failed)
                             << cvMap({{8, 151}}) << 7 << 1 + 9 + 3 * 2;
    QTest::newRow("no CV 18") << 0x26 << 18 << int(Untouched) << 0 << int(I::Failed)
                              << cvMap({{8, 151}, {7, 42}, {29, 0x26}, {17, 195}}) << 18
                              << 1 + 9 + 10 + 10 + 9 + 2;
    // Three attempts of the exchange that got no reply, nothing after it.
    QTest::newRow("silent in CV 29") << 6 << 0 << int(Silent) << 22 << int(I::Failed)
                                     << cvMap({{8, 151}, {7, 42}}) << 29 << 22 + 3;
    // What was confirmed before the abort is kept; nothing of CV 7.
    QTest::newRow("aborted in CV 7") << 6 << 0 << int(Abort) << 12 << int(I::Aborted)
                                     << cvMap({{8, 151}}) << 0 << 12;
    QTest::newRow("empty track") << 6 << -1 << int(Untouched) << 0 << int(I::NoDecoder)
                                 << CvValues() << 0 << 6;
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
    if (missingCv > 0)
        r.rig.station.removeCv(missingCv);
    r.rig.station.setDecoderPresent(missingCv >= 0);
    r.interrupt(Interruption(interruption), after);
    r.jobs.requestAbort(); // a stale click before the job counts for nothing
    r.rig.takeRequests();

    const DecoderJobs::Identification result = r.jobs.identify();
    QCOMPARE(int(result.outcome), outcome);
    QCOMPARE(result.values, values);
    QCOMPARE(result.failedCv, failedCv);
    const QList<CommandBuffer> sent = r.rig.takeRequests();
    QCOMPARE(sent.size(), requests);
    QCOMPARE(sent.first(), (CommandBuffer{1, Command::VerifyCVBit, 8, 1, 0}));
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
    QTest::addColumn<QList<int>>("lostAcks"); // of CV 8, numbered from the job's start
    QTest::addColumn<int>("outcome");
    QTest::addColumn<CvValues>("values");
    QTest::addColumn<QList<int>>("unreadable");
    QTest::addColumn<QList<int>>("uncertain");
    QTest::addColumn<int>("requests");

    using B = DecoderJobs::Backup;
    // CVs 4 to 10 of the station's decoder: 4 = 6, 5 = 0, 6 = 0, 7 = 42,
    // 8 = 151; it lacks 9 and 10. A look at bit 0 of CV 1 first; 10 checks
    // for a CV whose bit 0 is 0, 9 when it is 1, 2 for a missing CV. CV 8
    // (151) is acknowledged six times a read: bits 0, 1, 2, 4, 7 and the byte.
    const CvValues all = cvMap({{4, 6}, {5, 0}, {6, 0}, {7, 42}, {8, 151}});
    const int whole = 1 + 4 * 10 + 9 + 2 * 2;
    QTest::newRow("read and unreadable") << true << int(Untouched) << 0 << QList<int>()
                                         << int(B::Done) << all << QList<int>{9, 10}
                                         << QList<int>() << whole;
    QTest::newRow("empty track") << false << int(Untouched) << 0 << QList<int>()
                                 << int(B::NoDecoder) << CvValues() << QList<int>() << QList<int>()
                                 << 3 * 2;
    QTest::newRow("silent in CV 6") << true << int(Silent) << 23 << QList<int>() << int(B::NoReply)
                                    << cvMap({{4, 6}, {5, 0}}) << QList<int>() << QList<int>()
                                    << 23 + 3;
    QTest::newRow("aborted in the byte check of CV 5")
        << true << int(Abort) << 21 << QList<int>() << int(B::Aborted) << cvMap({{4, 6}})
        << QList<int>() << QList<int>() << 21;
    // A lost pulse reads bit 1 as 0; the byte check of 149 fails, the second
    // read gives 151.
    QTest::newRow("lost ack on a bit check") << true << int(Untouched) << 0 << QList<int>{2}
                                             << int(B::Done) << all << QList<int>{9, 10}
                                             << QList<int>() << whole + 9;
    QTest::newRow("lost ack on the byte check") << true << int(Untouched) << 0 << QList<int>{6}
                                                << int(B::Done) << all << QList<int>{9, 10}
                                                << QList<int>() << whole + 9;
    // CV 8 is one every decoder has: a silent bit 0 is checked again.
    QTest::newRow("lost ack on bit 0") << true << int(Untouched) << 0 << QList<int>{1}
                                       << int(B::Done) << all << QList<int>{9, 10}
                                       << QList<int>() << whole + 2;
    QTest::newRow("every read of CV 8 loses one")
        << true << int(Untouched) << 0 << QList<int>{2, 8, 14} << int(B::Done)
        << cvMap({{4, 6}, {5, 0}, {6, 0}, {7, 42}}) << QList<int>{9, 10} << QList<int>{8}
        << whole + 2 * 9;
}

void TestDecoderFields::backup()
{
    QFETCH(bool, decoderPresent);
    QFETCH(int, interruption);
    QFETCH(int, after);
    QFETCH(QList<int>, lostAcks);
    QFETCH(int, outcome);
    QFETCH(CvValues, values);
    QFETCH(QList<int>, unreadable);
    QFETCH(QList<int>, uncertain);
    QFETCH(int, requests);

    JobRig r;
    r.rig.station.setDecoderIdentity(151, 42);
    r.rig.station.setDecoderPresent(decoderPresent);
    r.rig.station.loseAcks(8, lostAcks);
    r.interrupt(Interruption(interruption), after);
    r.rig.takeRequests();

    const DecoderJobs::Backup result = r.jobs.backup(4, 10);
    QCOMPARE(int(result.outcome), outcome);
    QCOMPARE(result.values, values);
    QCOMPARE(result.unreadable, unreadable);
    QCOMPARE(result.uncertain, uncertain);
    QCOMPARE(result.worthSaving(), outcome == DecoderJobs::Backup::Done);
    QCOMPARE(r.rig.takeRequests().size(), requests);
    QCOMPARE(r.rig.station.lostAcks(), int(lostAcks.size()));
    if (outcome == DecoderJobs::Backup::Done) {
        QCOMPARE(r.observer.stages.first(), QStringLiteral("CV 1 von 7"));
        QCOMPARE(r.observer.stages.last(), QStringLiteral("CV 7 von 7"));
        QCOMPARE(r.observer.percents.last(), 100.0);
        // The file's head only from what this job confirmed.
        QCOMPARE(result.identity, uncertain.isEmpty() ? cvMap({{7, 42}, {8, 151}})
                                                      : cvMap({{7, 42}}));
    }
    QCOMPARE(r.observer.runningStates, (QList<bool>{true, false}));
    QCOMPARE(r.rig.boxes.count(), 0);
}

void TestDecoderFields::restore_data()
{
    QTest::addColumn<bool>("decoderPresent");
    QTest::addColumn<int>("interruption");
    QTest::addColumn<int>("after");
    QTest::addColumn<bool>("declined");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("written");
    QTest::addColumn<QList<int>>("failed");
    QTest::addColumn<int>("failedCv");
    QTest::addColumn<int>("requests");

    using R = DecoderJobs::Restore;
    // Before the writes: the look at CV 1 (1 check), CV 8 = 13 (9) and CV 7
    // = 42 (10) for the question.
    const int before = 1 + 9 + 10;
    QTest::newRow("all written") << true << int(Untouched) << 0 << false << int(R::Done) << 3
                                 << QList<int>() << 0 << before + 6;
    QTest::newRow("empty track") << false << int(Untouched) << 0 << false << int(R::NoDecoder) << 0
                                 << QList<int>{3, 29, 300} << 0 << 6;
    QTest::newRow("declined") << true << int(Untouched) << 0 << true << int(R::Declined) << 0
                              << QList<int>{3, 29, 300} << 0 << before;
    // The write of CV 29 gets no reply: it and CV 300 stay unwritten.
    QTest::newRow("silent at the second write")
        << true << int(Silent) << before + 2 << false << int(R::NoReply) << 1
        << QList<int>{29, 300} << 29 << before + 2 + 3;
    QTest::newRow("silent at the second verify")
        << true << int(Silent) << before + 3 << false << int(R::NoReply) << 1
        << QList<int>{29, 300} << 29 << before + 3 + 3;
    QTest::newRow("silent before the first write")
        << true << int(Silent) << 5 << false << int(R::NoReply) << 0 << QList<int>{3, 29, 300}
        << 3 << 5 + 3;
    QTest::newRow("aborted after a write") << true << int(Abort) << before + 3 << false
                                           << int(R::Aborted) << 1 << QList<int>() << 29
                                           << before + 3;
}

void TestDecoderFields::restore()
{
    QFETCH(bool, decoderPresent);
    QFETCH(int, interruption);
    QFETCH(int, after);
    QFETCH(bool, declined);
    QFETCH(int, outcome);
    QFETCH(int, written);
    QFETCH(QList<int>, failed);
    QFETCH(int, failedCv);
    QFETCH(int, requests);

    JobRig r;
    r.rig.station.setDecoderPresent(decoderPresent);
    r.interrupt(Interruption(interruption), after);
    r.rig.takeRequests();

    QList<CvValues> asked;
    const DecoderJobs::Restore result =
        r.jobs.restore(cvList({{3, 20}, {29, 0x26}, {300, 7}}), [&](const CvValues &track) {
            asked << track;
            return !declined;
        });
    QCOMPARE(int(result.outcome), outcome);
    QCOMPARE(result.count, 3);
    QCOMPARE(result.written, written);
    QCOMPARE(result.failed, failed);
    QCOMPARE(result.failedCv, failedCv);
    const QList<CommandBuffer> sent = r.rig.takeRequests();
    QCOMPARE(sent.size(), requests);
    const int before = 1 + 9 + 10;
    // Asked once, with what the decoder on the track confirmed, before any write.
    if (requests >= before) {
        QCOMPARE(asked, QList<CvValues>{cvMap({{7, 42}, {8, 13}})});
        for (int i = 0; i < before; ++i)
            QVERIFY(sent.at(i).command != Command::WriteCV);
    } else {
        QVERIFY(asked.isEmpty());
    }
    // Write, then verify with the value.
    if (requests > before + 1) {
        QCOMPARE(sent.at(before), (CommandBuffer{1, Command::WriteCV, 20, 3, 0}));
        QCOMPARE(sent.at(before + 1), (CommandBuffer{1, Command::VerifyCV, 20, 3, 0}));
    }
    if (outcome == DecoderJobs::Restore::Done) {
        QCOMPARE(sent.at(before + 4), (CommandBuffer{1, Command::WriteCV, 7, 44, 1}));
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

    r.rig.takeRequests();
    const DecoderJobs::Backup backup = r.jobs.backup(1, 255);
    QCOMPARE(backup.outcome, DecoderJobs::Backup::Done);
    QCOMPARE(backup.values.size(), 60);
    QCOMPARE(backup.unreadable.size(), 255 - 60);
    // At most ten checks for a CV it has, two for one it lacks.
    QVERIFY(r.rig.takeRequests().size() <= 1 + 60 * 10 + (255 - 60) * 2);

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
