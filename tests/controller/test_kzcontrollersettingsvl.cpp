#include "common/program.h"
#include "controller/kzcontrollersettingsvl.h"
#include "link/commands.h"
#include "settingsrig.h"
#include "tests/support/testmain.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

// The controller settings dialog as the user meets it, against the virtual
// command station.
class TestKzControllerSettingsVL : public QObject
{
    Q_OBJECT

private slots:
    void opensAndShowsWhatWasRead();
    void captionCarriesTheNumberOncePerOpening();
    void optionsOverwrittenOnLoadingShowNotAvailable();
    void warningBeforeChanging_data();
    void warningBeforeChanging();
    void okSendsTheFieldsBack_data();
    void okSendsTheFieldsBack();
    void unoSixteenMustBeTypedAsA2();
    void statusInputOnIsKeptWithNotAvailable();
    void closeAndCancelSendNothing_data();
    void closeAndCancelSendNothing();
    void failedReadOffersNoChange();
    void unansweredWritesKeepTheDialogOpen();
    void undefinedLayoutSendsNothing();
    void usesTheSharedModuleBuffer();
    void everyInputHasANameAndEveryMnemonicWorks();
    void rendersBothStates();

private:
    struct Opened
    {
        std::unique_ptr<kzControllerSettingsVL> dialog;
        QLineEdit *field(const char *name) const
        {
            return dialog->findChild<QLineEdit *>(QLatin1String(name));
        }
        QPushButton *button(const char *name) const
        {
            return dialog->findChild<QPushButton *>(QLatin1String(name));
        }
        QLabel *label(const char *name) const
        {
            return dialog->findChild<QLabel *>(QLatin1String(name));
        }
    };

    // Shows a dialog for controller id and lets its first activation read.
    static Opened open(int id);
    // Answers the warning with Yes.
    static void startEditing(SettingsRig &rig, const Opened &opened);
    static QStringList pinTexts(const Opened &opened);
};

kzControllerSettingsVL *currentDialog = nullptr;

TestKzControllerSettingsVL::Opened TestKzControllerSettingsVL::open(int id)
{
    Opened opened;
    opened.dialog = std::make_unique<kzControllerSettingsVL>();
    opened.dialog->setControllerID(id);
    opened.dialog->setAllowHWNotstop(false);
    opened.dialog->show();
    QCoreApplication::processEvents();
    return opened;
}

void TestKzControllerSettingsVL::startEditing(SettingsRig &rig, const Opened &opened)
{
    rig.boxes.script({BoxAnswer::Yes});
    opened.button("cmdChangeSettings")->click();
    QVERIFY(opened.dialog->isEditing());
    rig.boxes.clear();
    rig.gate.clearSent();
}

QStringList TestKzControllerSettingsVL::pinTexts(const Opened &opened)
{
    QStringList texts;
    for (const char *name : {"txtOperationPin", "txtOperationCircuit", "txtSensingChannelAPin",
                             "txtProgrammingPin", "txtProgrammingCircuit",
                             "txtSensingChannelBPin"})
        texts << opened.field(name)->text();
    return texts;
}

void TestKzControllerSettingsVL::opensAndShowsWhatWasRead()
{
    SettingsRig rig(3);
    rig.station.setFirmware(5, 2, 7);
    rig.station.setLayout(BoardLayout::Mega);
    rig.setPins({4, 12, 54}, {6, 13, 61});

    const Opened opened = open(3);
    QCOMPARE(opened.dialog->windowTitle(), QStringLiteral("Controller-Einstellungen (Controller 3)"));
    QCOMPARE(opened.label("lblFirmwareVersion")->text(), QStringLiteral("5.2.7"));
    QCOMPARE(opened.label("lblControllerType")->text(), QStringLiteral("Mega"));
    QVERIFY(opened.label("lblFirmwareVersion")->font().bold());
    QCOMPARE(pinTexts(opened),
             (QStringList{"4", "12", "A0", "6", "13", "A7"}));

    // Viewing: nothing editable, "Einstellungen ändern" and "Schliessen".
    QVERIFY(!opened.dialog->isEditing());
    QVERIFY(opened.dialog->lastReadSucceeded());
    QVERIFY(opened.button("cmdChangeSettings")->isVisible());
    QVERIFY(opened.button("cmdChangeSettings")->isEnabled());
    QVERIFY(opened.button("cmdClose")->isVisible());
    QVERIFY(!opened.button("cmdOK")->isVisible());
    QVERIFY(!opened.button("cmdCancel")->isVisible());
    for (QLineEdit *field : opened.dialog->findChildren<QLineEdit *>())
        QVERIFY2(!field->isEnabled(), qPrintable(field->objectName()));
    QCOMPARE(rig.boxes.count(), 0);
}

void TestKzControllerSettingsVL::captionCarriesTheNumberOncePerOpening()
{
    SettingsRig rig(12);
    const Opened opened = open(12);
    opened.button("cmdClose")->click();
    QVERIFY(!opened.dialog->isVisible());
    opened.dialog->show();
    QCoreApplication::processEvents();
    QCOMPARE(opened.dialog->windowTitle(),
             QStringLiteral("Controller-Einstellungen (Controller 12)"));
    // Each showing reads the controller anew.
    QCOMPARE(rig.gate.sent().size(), 8);
}

void TestKzControllerSettingsVL::optionsOverwrittenOnLoadingShowNotAvailable()
{
    SettingsRig rig;
    rig.station.setHardwareStopInput(true, true);
    // The opener forbids nothing, yet the dialog never offers the check box.
    const Opened opened = open(1);
    QVERIFY(opened.label("lblNotstopNotAvailable")->isVisible());
    QCOMPARE(opened.label("lblNotstopNotAvailable")->text(), QStringLiteral("n/v"));
    QVERIFY(!opened.dialog->findChild<QCheckBox *>(QStringLiteral("chkHWNotstop"))->isVisible());
    QVERIFY(controllerSettingsData().AllowHWNotstop);
}

void TestKzControllerSettingsVL::warningBeforeChanging_data()
{
    QTest::addColumn<BoxAnswer>("answer");
    QTest::addColumn<bool>("editing");
    QTest::newRow("No") << BoxAnswer::No << false;
    QTest::newRow("Yes") << BoxAnswer::Yes << true;
}

void TestKzControllerSettingsVL::warningBeforeChanging()
{
    QFETCH(BoxAnswer, answer);
    QFETCH(bool, editing);

    SettingsRig rig;
    const Opened opened = open(1);
    const QRect leftPlace = opened.button("cmdChangeSettings")->geometry();
    const QRect rightPlace = opened.button("cmdClose")->geometry();
    rig.boxes.script({answer});
    opened.button("cmdChangeSettings")->click();

    QCOMPARE(rig.boxes.count(), 1);
    const MessageBoxRequest &box = rig.boxes.last();
    QCOMPARE(box.icon, BoxIcon::Critical);
    QCOMPARE(box.buttons, BoxButtons::YesNo);
    QCOMPARE(box.defaultAnswer, BoxAnswer::No);
    QCOMPARE(box.caption, Program::Title);
    QCOMPARE(box.text,
             QStringLiteral("Eine Anpassung dieser Einstellungen ändert massiv die Funktionsweise "
                            "Ihres Controllers.\r\n\r\nBitte nehmen Sie diese daher nur nach "
                            "ausdrücklicher Rücksprache mit unserem Support vor.\r\n\r\n"
                            "Möchten Sie fortfahren ?"));

    QCOMPARE(opened.dialog->isEditing(), editing);
    QCOMPARE(opened.button("cmdOK")->isVisible(), editing);
    QCOMPARE(opened.button("cmdCancel")->isVisible(), editing);
    QCOMPARE(opened.button("cmdChangeSettings")->isVisible(), !editing);
    QCOMPARE(opened.button("cmdClose")->isVisible(), !editing);
    for (QLineEdit *field : opened.dialog->findChildren<QLineEdit *>())
        QCOMPARE(field->isEnabled(), editing);
    if (editing) {
        // OK and Abbruch take the places of the pair they replace.
        QCoreApplication::processEvents();
        QCOMPARE(opened.button("cmdOK")->geometry(), leftPlace);
        QCOMPARE(opened.button("cmdCancel")->geometry(), rightPlace);
    }
    QVERIFY(opened.dialog->isVisible());
    QCOMPARE(rig.gate.sent().size(), 4);
}

void TestKzControllerSettingsVL::okSendsTheFieldsBack_data()
{
    QTest::addColumn<QString>("operationPin");
    QTest::addColumn<QString>("monitoringA");
    QTest::addColumn<int>("sentPin");
    QTest::addColumn<int>("sentMonitoringA");
    QTest::newRow("unchanged, A0 and A7") << QString() << QString() << 4 << 54;
    QTest::newRow("2.5 is sent as 2") << "2.5" << "a3" << 2 << 57;
    QTest::newRow("3,5 is sent as 4") << "3,5" << "a3" << 4 << 57;
    QTest::newRow("blanks around") << " 53 " << " A15 " << 53 << 69;
}

void TestKzControllerSettingsVL::okSendsTheFieldsBack()
{
    QFETCH(QString, operationPin);
    QFETCH(QString, monitoringA);
    QFETCH(int, sentPin);
    QFETCH(int, sentMonitoringA);

    SettingsRig rig(2);
    rig.station.setLayout(BoardLayout::Mega);
    rig.station.setHardwareStopInput(false);
    rig.setPins({4, 12, 54}, {6, 13, 61});
    const Opened opened = open(2);
    startEditing(rig, opened);
    if (!operationPin.isNull())
        opened.field("txtOperationPin")->setText(operationPin);
    if (!monitoringA.isNull())
        opened.field("txtSensingChannelAPin")->setText(monitoringA);

    opened.button("cmdOK")->click();
    const QList<CommandBuffer> expected{
        setParameter(2, Parameter::OperatingTrackPins, quint8(sentPin), 12),
        setParameter(2, Parameter::ProgrammingTrackPins, 6, 13),
        setParameter(2, Parameter::MonitoringPins, quint8(sentMonitoringA), 61)};
    QCOMPARE(rig.gate.sent(), expected);

    QCOMPARE(rig.boxes.count(), 1);
    QCOMPARE(rig.boxes.last().icon, BoxIcon::Information);
    QCOMPARE(rig.boxes.last().buttons, BoxButtons::Ok);
    QCOMPARE(rig.boxes.last().caption, Program::Title);
    QCOMPARE(rig.boxes.last().text,
             QStringLiteral("Neue Einstellungen wurden im Controller gespeichert"));
    QVERIFY(!opened.dialog->isVisible());
    QCOMPARE(opened.dialog->result(), int(QDialog::Accepted));
    QCOMPARE(rig.station.state().operatingPins, (TrackPins{quint8(sentPin), 12,
                                                           quint8(sentMonitoringA)}));
}

void TestKzControllerSettingsVL::unoSixteenMustBeTypedAsA2()
{
    SettingsRig rig;
    rig.station.setLayout(BoardLayout::Uno);
    rig.station.setHardwareStopInput(false);
    rig.setPins({3, 11, 15}, {5, 12, 16});
    const Opened opened = open(1);
    QCOMPARE(pinTexts(opened), (QStringList{"3", "11", "A1", "5", "12", "16"}));
    QCOMPARE(opened.label("lblControllerType")->text(), QStringLiteral("Uno"));
    startEditing(rig, opened);

    opened.button("cmdOK")->click();
    QCOMPARE(rig.boxes.count(), 1);
    QVERIFY2(rig.boxes.last().text.startsWith(
                 QStringLiteral("Der Port für die Überwachung im Programmiermodus ist nicht im "
                                "gültigen Bereich")),
             qPrintable(rig.boxes.last().text));
    QVERIFY(rig.gate.sent().isEmpty());
    QVERIFY(opened.dialog->isVisible());
    QVERIFY(opened.dialog->isEditing());

    rig.boxes.clear();
    opened.field("txtSensingChannelBPin")->setText(QStringLiteral("A2"));
    opened.button("cmdOK")->click();
    QCOMPARE(rig.gate.sent().constLast(), setParameter(1, Parameter::MonitoringPins, 15, 16));
    QVERIFY(!opened.dialog->isVisible());
}

void TestKzControllerSettingsVL::statusInputOnIsKeptWithNotAvailable()
{
    SettingsRig rig;
    rig.station.setLayout(BoardLayout::Mega);
    rig.station.setHardwareStopInput(true, true);
    const Opened opened = open(1);
    QVERIFY(opened.label("lblNotstopNotAvailable")->isVisible());
    startEditing(rig, opened);
    opened.button("cmdOK")->click();
    QVERIFY(!rig.gate.sent().isEmpty());
    QCOMPARE(rig.gate.sent().constFirst(), setParameter(1, Parameter::HardwareStopInput, 1, 0));
    QVERIFY(rig.station.state().hardwareStopOn);
}

void TestKzControllerSettingsVL::closeAndCancelSendNothing_data()
{
    QTest::addColumn<bool>("editing");
    QTest::addColumn<bool>("byEnter"); // focused, then Enter
    QTest::newRow("Schliessen") << false << false;
    QTest::newRow("Abbruch") << true << false;
    QTest::newRow("Enter on Schliessen") << false << true;
    QTest::newRow("Enter on Abbruch, not OK") << true << true;
}

void TestKzControllerSettingsVL::closeAndCancelSendNothing()
{
    QFETCH(bool, editing);
    SettingsRig rig;
    const Opened opened = open(1);
    if (editing) {
        startEditing(rig, opened);
        opened.field("txtOperationPin")->setText(QStringLiteral("9"));
    }
    QFETCH(bool, byEnter);
    rig.gate.clearSent();
    QPushButton *button = opened.button(editing ? "cmdCancel" : "cmdClose");
    if (byEnter) {
        button->setFocus(Qt::TabFocusReason);
        QTest::keyClick(button, Qt::Key_Return);
    } else {
        button->click();
    }
    QVERIFY(!opened.dialog->isVisible());
    QCOMPARE(opened.dialog->result(), int(QDialog::Rejected));
    QVERIFY(rig.gate.sent().isEmpty());
    QCOMPARE(rig.station.state().operatingPins.output, 3);
}

void TestKzControllerSettingsVL::failedReadOffersNoChange()
{
    SettingsRig rig;
    rig.setPins({4, 12, 54}, {6, 13, 61});
    // A first opening for controller 1 reads its pins.
    open(1);
    rig.boxes.clear();
    // Controller 2 does not answer: the dialog shows what it has, but the
    // values of controller 1 must never be written to it, nor shown while it
    // is being read.
    QStringList shownWhileReading;
    Opened opened;
    opened.dialog = std::make_unique<kzControllerSettingsVL>();
    rig.station.setLogObserver([&](const LogEntry &entry) {
        if (entry.direction != LogEntry::Received || !shownWhileReading.isEmpty())
            return;
        shownWhileReading = pinTexts(opened);
        shownWhileReading << opened.label("lblFirmwareVersion")->text()
                          << opened.label("lblControllerType")->text();
        if (!opened.label("lblNotstopNotAvailable")->isHidden())
            shownWhileReading << opened.label("lblNotstopNotAvailable")->text();
    });
    opened.dialog->setControllerID(2);
    opened.dialog->show();
    QCoreApplication::processEvents();
    QCOMPARE(shownWhileReading, QStringList(8, QString()));
    QVERIFY(!opened.dialog->lastReadSucceeded());
    QCOMPARE(rig.boxes.texts(), QStringList{QStringLiteral("Controller 2 antwortet nicht.")});
    QCOMPARE(pinTexts(opened), (QStringList{"4", "12", "A0", "6", "13", "A7"}));
    QVERIFY(opened.button("cmdChangeSettings")->isVisible());
    QVERIFY(!opened.button("cmdChangeSettings")->isEnabled());
    opened.button("cmdChangeSettings")->click();
    QVERIFY(!opened.dialog->isEditing());
    QCOMPARE(rig.boxes.count(), 1);
}

void TestKzControllerSettingsVL::unansweredWritesKeepTheDialogOpen()
{
    SettingsRig rig;
    rig.station.setHardwareStopInput(false);
    const Opened opened = open(1);
    startEditing(rig, opened);
    opened.field("txtOperationPin")->setText(QStringLiteral("8"));

    rig.gate.passOnly(1);
    opened.button("cmdOK")->click();
    // Every write was tried; the user is told it did not (all) work.
    QCOMPARE(rig.gate.sent().size(), 1 + 2 + 2);
    QCOMPARE(rig.boxes.count(), 3);
    QCOMPARE(rig.boxes.last().icon, BoxIcon::Warning);
    QCOMPARE(rig.boxes.last().text, kzControllerSettingsVL::notSavedText());
    QVERIFY(!rig.boxes.texts().contains(kzControllerSettingsVL::savedText()));
    QVERIFY(opened.dialog->isVisible());
    QVERIFY(opened.dialog->isEditing());
    QCOMPARE(opened.field("txtOperationPin")->text(), QStringLiteral("8"));

    // The line is back: OK again stores everything.
    rig.gate.passOnly(-1);
    rig.boxes.clear();
    rig.gate.clearSent();
    opened.button("cmdOK")->click();
    QCOMPARE(rig.gate.sent().size(), 3);
    QCOMPARE(rig.boxes.texts(), QStringList{kzControllerSettingsVL::savedText()});
    QVERIFY(!opened.dialog->isVisible());
    QCOMPARE(rig.station.state().operatingPins.output, 8);
}

void TestKzControllerSettingsVL::undefinedLayoutSendsNothing()
{
    SettingsRig rig;
    rig.station.setLayout(BoardLayout::Unknown);
    const Opened opened = open(1);
    QCOMPARE(opened.label("lblControllerType")->text(), QStringLiteral("Undefiniert"));
    startEditing(rig, opened);
    opened.field("txtSensingChannelAPin")->setText(QStringLiteral("A0"));
    opened.field("txtSensingChannelBPin")->setText(QStringLiteral("A1"));
    opened.button("cmdOK")->click();
    QVERIFY(rig.gate.sent().isEmpty());
    QCOMPARE(rig.boxes.texts(), QStringList{kzControllerSettingsVL::undefinedLayoutText()});
    QCOMPARE(rig.boxes.last().icon, BoxIcon::Warning);
    QVERIFY(opened.dialog->isVisible());
}

void TestKzControllerSettingsVL::usesTheSharedModuleBuffer()
{
    SettingsRig rig;
    rig.setPins({4, 12, 54}, {6, 13, 61});
    const Opened opened = open(1);
    // The last reply of the read stands in the program-wide buffer.
    const CommandBuffer last = moduleCommandBuffer();
    QCOMPARE(last.command, Command::QueryController);
    QCOMPARE(last.p2, quint8(6));
    QCOMPARE(last.p1, quint8(61));
}

void TestKzControllerSettingsVL::everyInputHasANameAndEveryMnemonicWorks()
{
    SettingsRig rig;
    const Opened opened = open(1);
    startEditing(rig, opened);
    for (QLineEdit *field : opened.dialog->findChildren<QLineEdit *>())
        QVERIFY2(!field->accessibleName().isEmpty(), qPrintable(field->objectName()));
    QVERIFY(!opened.dialog->findChild<QCheckBox *>()->accessibleName().isEmpty());

    // Each mnemonic letter is used once among what is shown, and a label's
    // mnemonic leads to its field.
    QStringList letters;
    auto mnemonic = [](const QString &text) {
        const qsizetype at = text.indexOf(QLatin1Char('&'));
        return at < 0 ? QString() : text.mid(at + 1, 1).toLower();
    };
    for (QLabel *label : opened.dialog->findChildren<QLabel *>()) {
        const QString letter = mnemonic(label->text());
        if (letter.isEmpty())
            continue;
        QVERIFY2(label->buddy() && label->buddy()->isEnabled(), qPrintable(label->text()));
        letters << letter;
    }
    for (QPushButton *button : opened.dialog->findChildren<QPushButton *>()) {
        if (button->isVisible() && !mnemonic(button->text()).isEmpty())
            letters << mnemonic(button->text());
    }
    QCOMPARE(letters.size(), 7);
    letters.removeDuplicates();
    QCOMPARE(letters.size(), 7);

    opened.dialog->activateWindow();
    QTest::keyClick(opened.dialog.get(), Qt::Key_K, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), opened.field("txtSensingChannelAPin"));
}

void TestKzControllerSettingsVL::rendersBothStates()
{
    SettingsRig rig(3);
    rig.station.setFirmware(5, 2, 7);
    rig.setPins({4, 12, 54}, {6, 13, 61});
    const Opened opened = open(3);
    const QImage viewing = opened.dialog->grab().toImage();
    startEditing(rig, opened);
    const QImage editing = opened.dialog->grab().toImage();
    QVERIFY(!viewing.isNull());
    QCOMPARE(viewing.size(), editing.size());
    QVERIFY(viewing != editing);

    // KZ_SCREENSHOT_DIR=/some/dir keeps the pictures for a look by eye.
    const QString directory = qEnvironmentVariable("KZ_SCREENSHOT_DIR");
    if (!directory.isEmpty()) {
        QVERIFY(QDir().mkpath(directory));
        QVERIFY(viewing.save(directory + QStringLiteral("/controllersettings-viewing.png")));
        QVERIFY(editing.save(directory + QStringLiteral("/controllersettings-editing.png")));
    }
}

KZ_TEST_MAIN(TestKzControllerSettingsVL)
#include "test_kzcontrollersettingsvl.moc"
