// The dialog "Fahrzeuge": what it hands back for saving, what it refuses and
// with which box, and the take-over from another roster.

#include "roster/rosterdialog.h"

#include "../support/recordingboxes.h"
#include "../support/testmain.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

const QString Data = QStringLiteral(ROSTER_TEST_DATA);

QList<RosterEntry> decoderPro()
{
    Roster roster;
    roster.setFolder(Data + QStringLiteral("/decoderpro"));
    return roster.entries();
}

QStringList rows(const RosterDialog &dialog)
{
    QStringList result;
    for (int i = 0; i < dialog.lstEntries()->count(); ++i)
        result << dialog.lstEntries()->item(i)->text();
    return result;
}

} // namespace

class TestRosterDialog : public QObject
{
    Q_OBJECT

private slots:
    void editsReachTheEntries();
    void refusals_data();
    void refusals();
    void addAndRemove();
    void takeOverFromAnotherRoster_data();
    void takeOverFromAnotherRoster();
    void everyInputIsNamed();
};

// What is typed is what is saved; the long/short flag of the file stays
// while the number does, a new number is long above 127.
void TestRosterDialog::editsReachTheEntries()
{
    RecordingMessageBoxes boxes;
    RosterDialog dialog(decoderPro());
    QCOMPARE(rows(dialog), (QStringList{"BR 218 (218)", "V 60 (3)"}));
    QCOMPARE(dialog.txtName()->text(), QStringLiteral("BR 218"));
    QCOMPARE(dialog.txtComment()->toPlainText(), QStringLiteral("Mit Sound\nWerkstatt 2024"));
    QVERIFY(dialog.chkMomentary(2)->isChecked());
    QVERIFY(!dialog.chkMomentary(3)->isEnabled());

    dialog.txtName()->setText(QStringLiteral("BR 218 Sound"));
    dialog.txtRoadNumber()->setText(QStringLiteral("218 466-2"));
    dialog.txtLabel(3)->setText(QStringLiteral("Pfeife"));
    QVERIFY(dialog.chkMomentary(3)->isEnabled());
    dialog.chkMomentary(3)->setChecked(true);
    dialog.chkMomentary(2)->setChecked(false);
    QCOMPARE(rows(dialog).first(), QStringLiteral("BR 218 Sound (218)"));

    dialog.lstEntries()->setCurrentRow(1);
    QCOMPARE(dialog.txtName()->text(), QStringLiteral("V 60"));
    dialog.txtAddress()->setText(QStringLiteral("300"));
    dialog.txtComment()->setPlainText(QStringLiteral("Werklok"));

    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(boxes.texts(), QStringList{});
    const QList<EditedEntry> entries = dialog.entries();
    QCOMPARE(entries.size(), 2);
    const RosterEntry &br218 = entries.at(0).entry;
    QCOMPARE(entries.at(0).origin, 0);
    QCOMPARE(br218.id, QStringLiteral("BR 218 Sound"));
    QCOMPARE(br218.roadNumber, QStringLiteral("218 466-2"));
    QCOMPARE(br218.label(3), (FunctionLabel{QStringLiteral("Pfeife"), false}));
    QCOMPARE(br218.label(2), (FunctionLabel{QStringLiteral("Horn"), true}));
    QCOMPARE(br218.longAddress, std::optional<bool>(true));
    QCOMPARE(br218.fileName, QStringLiteral("BR_218.xml"));
    const RosterEntry &v60 = entries.at(1).entry;
    QCOMPARE(v60.address, 300);
    QCOMPARE(v60.longAddress, std::optional<bool>(true));
    QCOMPARE(v60.comment, QStringLiteral("Werklok"));
}

// A loco is left, and the dialog closed, only once it is whole.
void TestRosterDialog::refusals_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("box");

    QTest::newRow("no name") << "" << "218" << "Der Name muß eingegeben werden.";
    QTest::newRow("no number") << "BR 218" << "" << "Die Lok-Nummer muß eingegeben werden.";
    QTest::newRow("not a number") << "BR 218" << "zwei" << "Die Lok-Nummer muß numerisch sein.";
    QTest::newRow("0, the broadcast address")
        << "BR 218" << "0" << "Die Lok-Nummer ist nicht im gültigen Bereich (1 bis 10239) .";
    QTest::newRow("above the range")
        << "BR 218" << "10240" << "Die Lok-Nummer ist nicht im gültigen Bereich (1 bis 10239) .";
    QTest::newRow("a name taken") << "V 60" << "218" << "Den Namen „V 60“ hat schon ein anderes Fahrzeug.";
}

void TestRosterDialog::refusals()
{
    QFETCH(QString, name);
    QFETCH(QString, address);
    QFETCH(QString, box);
    RecordingMessageBoxes boxes;
    RosterDialog dialog(decoderPro());
    dialog.txtName()->setText(name);
    dialog.txtAddress()->setText(address);

    dialog.lstEntries()->setCurrentRow(1);
    QCOMPARE(boxes.texts(), QStringList{box});
    QCOMPARE(dialog.lstEntries()->currentRow(), 0);
    dialog.btnAdd()->click();
    dialog.accept();
    QCOMPARE(boxes.texts(), (QStringList{box, box, box}));
    QVERIFY(dialog.result() != QDialog::Accepted);
    QCOMPARE(dialog.lstEntries()->count(), 2);
}

void TestRosterDialog::addAndRemove()
{
    RecordingMessageBoxes boxes;
    RosterDialog dialog(decoderPro());
    dialog.btnAdd()->click();
    QCOMPARE(dialog.txtName()->text(), QStringLiteral("Neue Lok"));
    dialog.txtAddress()->setText(QStringLiteral("44"));
    dialog.btnAdd()->click();
    QCOMPARE(dialog.txtName()->text(), QStringLiteral("Neue Lok 2"));
    dialog.txtAddress()->setText(QStringLiteral("4401"));
    QCOMPARE(rows(dialog), (QStringList{"BR 218 (218)", "V 60 (3)", "Neue Lok (44)", "Neue Lok 2 (4401)"}));

    // Asked first; "Nein" keeps it.
    dialog.lstEntries()->setCurrentRow(1);
    boxes.script({BoxAnswer::No, BoxAnswer::Yes});
    dialog.btnRemove()->click();
    QCOMPARE(dialog.lstEntries()->count(), 4);
    dialog.btnRemove()->click();
    QCOMPARE(boxes.texts(),
             (QStringList(2, QStringLiteral("Das Fahrzeug „V 60“ aus der Liste nehmen?\n\nSeine Datei "
                                            "bleibt als Sicherung „roster/V_60.xml.bak“ erhalten."))));
    QCOMPARE(rows(dialog), (QStringList{"BR 218 (218)", "Neue Lok (44)", "Neue Lok 2 (4401)"}));
    QCOMPARE(dialog.txtName()->text(), QStringLiteral("Neue Lok"));

    const QList<EditedEntry> entries = dialog.entries();
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries.at(0).origin, 0);
    QCOMPARE(entries.at(1).origin, -1);
    QCOMPARE(entries.at(1).entry.longAddress, std::optional<bool>(false));
    QCOMPARE(entries.at(2).entry.longAddress, std::optional<bool>(true));
}

// "Aus JMRI übernehmen …": the locos of another roster, each name that is
// here already asked about.
void TestRosterDialog::takeOverFromAnotherRoster_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QList<int>>("answers");   // BoxAnswer, in order
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("copies");   // the files taken along

    const QString replace = RosterDialog::replaceQuestion(QStringLiteral("V 60"));
    QTest::newRow("a new name and one asked about, kept")
        << "decoderpro" << QList<int>{int(BoxAnswer::No)} << QStringList{replace}
        << QStringList{"V 60 (3)", "BR 218 (218)"} << QStringList{"BR_218.xml"};
    QTest::newRow("one asked about, replaced")
        << "decoderpro" << QList<int>{int(BoxAnswer::Yes)} << QStringList{replace}
        << QStringList{"BR 218 (218)", "V 60 (3)"} << QStringList{"BR_218.xml", "V_60.xml"};
    QTest::newRow("the profile's roster folder chosen")
        << "decoderpro/roster" << QList<int>{int(BoxAnswer::No)} << QStringList{replace}
        << QStringList{"V 60 (3)", "BR 218 (218)"} << QStringList{"BR_218.xml"};
    QTest::newRow("a roster without loco files")
        << "handwritten" << QList<int>{} << QStringList{}
        << QStringList{"V 60 (3)", "Köf II (12)", "E 44 (4401)", "Ae 6/6 (100)"}
        << QStringList{"", "", ""};
    QTest::newRow("a folder without roster.xml")
        << "expected" << QList<int>{}
        << QStringList{RosterDialog::noRosterText(Data + QStringLiteral("/expected"))}
        << QStringList{"V 60 (3)"} << QStringList{};
}

void TestRosterDialog::takeOverFromAnotherRoster()
{
    QFETCH(QString, folder);
    QFETCH(QList<int>, answers);
    QFETCH(QStringList, boxes);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, copies);
    RecordingMessageBoxes recorded;
    for (const int answer : answers)
        recorded.script({BoxAnswer(answer)});
    RosterDialog dialog(decoderPro().mid(1));
    dialog.setFolderChooser([&]() -> QString { return Data + QLatin1Char('/') + folder; });
    dialog.btnImport()->click();
    QCOMPARE(recorded.texts(), boxes);
    QCOMPARE(::rows(dialog), rows);

    QStringList taken;
    for (const EditedEntry &edited : dialog.entries()) {
        if (edited.origin >= 0)
            continue;
        // A copy gets a file of its own when it is saved.
        QCOMPARE(edited.entry.fileName, QString());
        taken << QFileInfo(edited.copyFrom).fileName();
    }
    QCOMPARE(taken, copies);
}

void TestRosterDialog::everyInputIsNamed()
{
    RosterDialog dialog(decoderPro());
    int inputs = 0;
    for (QWidget *widget : dialog.findChildren<QWidget *>()) {
        if (!qobject_cast<QLineEdit *>(widget) && !qobject_cast<QCheckBox *>(widget)
            && !qobject_cast<QPlainTextEdit *>(widget) && !qobject_cast<QListWidget *>(widget))
            continue;
        QVERIFY2(!widget->accessibleName().isEmpty(), qPrintable(widget->objectName()));
        ++inputs;
    }
    QCOMPARE(inputs, 5 + 2 * 13 + 1);
    // Each mnemonic once.
    QStringList keys;
    const QList<QWidget *> captions = dialog.findChildren<QWidget *>();
    for (QWidget *widget : captions) {
        QString text;
        if (auto *label = qobject_cast<QLabel *>(widget))
            text = label->text();
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            text = button->text();
        const qsizetype amp = text.indexOf(QLatin1Char('&'));
        if (amp >= 0 && amp + 1 < text.size())
            keys << text.mid(amp + 1, 1).toLower();
    }
    QStringList unique = keys;
    unique.removeDuplicates();
    QCOMPARE(keys, unique);
    QCOMPARE(keys.size(), 9);
}

KZ_TEST_MAIN(TestRosterDialog)
#include "test_rosterdialog.moc"
