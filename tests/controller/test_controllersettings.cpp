#include "controller/controllersettings.h"
#include "link/commands.h"
#include "settingsrig.h"
#include "tests/support/testmain.h"

// The plain logic of the controller settings dialog: pin texts, and reading
// and writing the settings against the virtual command station.
class TestControllerSettings : public QObject
{
    Q_OBJECT

private slots:
    void pinToText_data();
    void pinToText();
    void textToPin_data();
    void textToPin();
    void analogInputsRoundTrip();

    void readAsksInOrderAndFillsEveryField();
    void readStatusFlags_data();
    void readStatusFlags();
    void failedReadStopsAndKeepsTheRest_data();
    void failedReadStopsAndKeepsTheRest();
    void readInSimulationModeSendsNothing();

    void writeSendsInOrder_data();
    void writeSendsInOrder();
    void writeReportsUnansweredWrites_data();
    void writeReportsUnansweredWrites();
    void controllerNumberThatDoesNotFitSendsNothing_data();
    void controllerNumberThatDoesNotFitSendsNothing();

};

using namespace ControllerLayout;

void TestControllerSettings::pinToText_data()
{
    QTest::addColumn<int>("pin");
    QTest::addColumn<int>("layout");
    QTest::addColumn<QString>("text");
    QTest::newRow("0 Mega") << 0 << Mega << "n/a";
    QTest::newRow("0 undefined") << 0 << Undefined << "n/a";
    QTest::newRow("Mega 53") << 53 << Mega << "53";
    QTest::newRow("Mega 54") << 54 << Mega << "A0";
    QTest::newRow("Mega 61") << 61 << Mega << "A7";
    QTest::newRow("Mega 69") << 69 << Mega << "A15";
    QTest::newRow("Mega 70") << 70 << Mega << "70";
    QTest::newRow("Mega 14") << 14 << Mega << "14";
    QTest::newRow("Uno 13") << 13 << Uno << "13";
    QTest::newRow("Uno 14") << 14 << Uno << "A0";
    QTest::newRow("Uno 15") << 15 << Uno << "A1";
    QTest::newRow("Uno 16") << 16 << Uno << "16";
    QTest::newRow("Uno 54") << 54 << Uno << "54";
    QTest::newRow("undefined 54") << 54 << Undefined << "54";
}

void TestControllerSettings::pinToText()
{
    QFETCH(int, pin);
    QFETCH(int, layout);
    QFETCH(QString, text);
    QCOMPARE(NumberToPINFormat(qint16(pin), layout), text);
}

void TestControllerSettings::textToPin_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("layout");
    QTest::addColumn<int>("pin");
    QTest::newRow("Mega A0") << "A0" << Mega << 54;
    QTest::newRow("Mega A7") << "A7" << Mega << 61;
    QTest::newRow("Mega a15") << "a15" << Mega << 69;
    QTest::newRow("Uno A1") << "A1" << Uno << 15;
    QTest::newRow("Uno A2") << "A2" << Uno << 16;
    QTest::newRow("undefined A7") << "A7" << Undefined << 0;
    QTest::newRow("digits only") << "61" << Mega << 0;
    QTest::newRow("empty") << "" << Mega << 0;
    QTest::newRow("n/a") << "n/a" << Mega << 0;
    // The field's rule ignores the blanks, so must the conversion.
    QTest::newRow("blanks around") << " A7 " << Mega << 61;
}

void TestControllerSettings::textToPin()
{
    QFETCH(QString, text);
    QFETCH(int, layout);
    QFETCH(int, pin);
    QCOMPARE(int(PINFormatToNumber(text, layout)), pin);
}

void TestControllerSettings::analogInputsRoundTrip()
{
    for (qint16 pin = 54; pin <= 69; ++pin)
        QCOMPARE(PINFormatToNumber(NumberToPINFormat(pin, Mega), Mega), pin);
    for (qint16 pin = 14; pin <= 15; ++pin)
        QCOMPARE(PINFormatToNumber(NumberToPINFormat(pin, Uno), Uno), pin);
}

void TestControllerSettings::readAsksInOrderAndFillsEveryField()
{
    SettingsRig rig(3);
    rig.station.setFirmware(5, 2, 7);
    rig.station.setLayout(BoardLayout::Mega);
    rig.station.setHardwareStopInput(true, false);
    rig.setPins({4, 12, 54}, {6, 13, 61});

    ControllerSettingsData data;
    data.ControllerID = 3;
    CommandBuffer buffer;
    QVERIFY(GetControllerSettings(data, buffer));

    const QList<CommandBuffer> expected{query(3, Selector::Version), query(3, Selector::Status),
                                        query(3, Selector::OperatingTrackPins),
                                        query(3, Selector::ProgrammingTrackPins)};
    QCOMPARE(rig.gate.sent(), expected);
    QCOMPARE(rig.boxes.count(), 0);

    QCOMPARE(GetFirmwareVersion(data), QStringLiteral("5.2.7"));
    QCOMPARE(data.ControllerType, Mega);
    QVERIFY(data.HWNotstopAvailable);
    QVERIFY(!data.HWNotstopOn);
    QCOMPARE(data.OperationPin, 4);
    QCOMPARE(data.OperationCircuit, 12);
    QCOMPARE(data.SensingChannelAPin, 54);
    QCOMPARE(data.ProgrammingPin, 6);
    QCOMPARE(data.ProgrammingCircuit, 13);
    QCOMPARE(data.SensingChannelBPin, 61);
}

void TestControllerSettings::readStatusFlags_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<bool>("inputPresent");
    QTest::addColumn<bool>("inputOn");
    QTest::addColumn<int>("controllerType");
    QTest::newRow("Uno without input") << int(BoardLayout::Uno) << false << false << Uno;
    QTest::newRow("Mega, input off") << int(BoardLayout::Mega) << true << false << Mega;
    QTest::newRow("unknown, input on") << int(BoardLayout::Unknown) << true << true << Undefined;
}

void TestControllerSettings::readStatusFlags()
{
    QFETCH(int, layout);
    QFETCH(bool, inputPresent);
    QFETCH(bool, inputOn);
    QFETCH(int, controllerType);

    SettingsRig rig;
    rig.station.setLayout(BoardLayout(layout));
    rig.station.setHardwareStopInput(inputPresent, inputOn);
    ControllerSettingsData data;
    data.ControllerID = 1;
    data.ControllerType = 99;
    CommandBuffer buffer;
    QVERIFY(GetControllerSettings(data, buffer));
    QCOMPARE(data.ControllerType, controllerType);
    QCOMPARE(data.HWNotstopAvailable, inputPresent);
    QCOMPARE(data.HWNotstopOn, inputOn);
    QCOMPARE(controllerTypeText(data.ControllerType),
             controllerType == Mega  ? QStringLiteral("Mega")
             : controllerType == Uno ? QStringLiteral("Uno")
                                     : QStringLiteral("Undefiniert"));
}

void TestControllerSettings::failedReadStopsAndKeepsTheRest_data()
{
    QTest::addColumn<int>("answered");
    QTest::newRow("version fails") << 0;
    QTest::newRow("status fails") << 1;
    QTest::newRow("operating pins fail") << 2;
    QTest::newRow("programming pins fail") << 3;
}

void TestControllerSettings::failedReadStopsAndKeepsTheRest()
{
    QFETCH(int, answered);

    SettingsRig rig;
    rig.station.setFirmware(6, 1, 9);
    rig.station.setLayout(BoardLayout::Uno);
    rig.station.setHardwareStopInput(true, true);
    rig.setPins({4, 10, 14}, {7, 11, 15});
    rig.gate.passOnly(answered);

    // What an earlier opening left behind.
    ControllerSettingsData before;
    before.ControllerID = 1;
    before.FirmwareMajor = 1;
    before.ControllerType = Mega;
    before.OperationPin = 30;
    before.ProgrammingPin = 31;
    ControllerSettingsData data = before;
    CommandBuffer buffer;
    QVERIFY(!GetControllerSettings(data, buffer));

    // The failing request is tried twice, nothing after it is asked.
    QCOMPARE(rig.gate.sent().size(), answered + 2);
    QCOMPARE(rig.gate.sent().constLast(), rig.gate.sent().at(answered));
    QCOMPARE(rig.boxes.texts(), QStringList{QStringLiteral("Controller 1 antwortet nicht.")});

    QCOMPARE(data.FirmwareMajor, answered > 0 ? 6 : 1);
    QCOMPARE(data.ControllerType, answered > 1 ? Uno : Mega);
    QCOMPARE(data.HWNotstopAvailable, answered > 1);
    QCOMPARE(data.OperationPin, answered > 2 ? 4 : 30);
    QCOMPARE(data.ProgrammingPin, 31);
    // The buffer still holds the request that got no answer.
    QCOMPARE(buffer, rig.gate.sent().constLast());
}

void TestControllerSettings::readInSimulationModeSendsNothing()
{
    SettingsRig rig;
    setCurrentPortName(QStringLiteral("nul"));
    ControllerSettingsData data;
    data.ControllerID = 1;
    CommandBuffer buffer;
    QVERIFY(!GetControllerSettings(data, buffer));
    QVERIFY(rig.gate.sent().isEmpty());
    QCOMPARE(rig.boxes.count(), 0);
}

void TestControllerSettings::writeSendsInOrder_data()
{
    QTest::addColumn<bool>("inputPresent");
    QTest::addColumn<bool>("inputOn");
    QTest::newRow("no input") << false << false;
    QTest::newRow("input off") << true << false;
    QTest::newRow("input on") << true << true;
}

void TestControllerSettings::writeSendsInOrder()
{
    QFETCH(bool, inputPresent);
    QFETCH(bool, inputOn);

    SettingsRig rig(7);
    rig.station.setLayout(BoardLayout::Mega);
    rig.station.setHardwareStopInput(inputPresent, !inputOn);

    ControllerSettingsData data;
    data.ControllerID = 7;
    data.ControllerType = Mega;
    data.HWNotstopAvailable = inputPresent;
    data.HWNotstopOn = inputOn;
    data.OperationPin = 4;
    data.OperationCircuit = 12;
    data.SensingChannelAPin = 54;
    data.ProgrammingPin = 6;
    data.ProgrammingCircuit = 13;
    data.SensingChannelBPin = 61;
    CommandBuffer buffer;
    QVERIFY(SetControllerSettings(data, buffer));

    QList<CommandBuffer> expected;
    if (inputPresent)
        expected << setParameter(7, Parameter::HardwareStopInput, inputOn ? 1 : 0, 0);
    expected << setParameter(7, Parameter::OperatingTrackPins, 4, 12)
             << setParameter(7, Parameter::ProgrammingTrackPins, 6, 13)
             << setParameter(7, Parameter::MonitoringPins, 54, 61);
    QCOMPARE(rig.gate.sent(), expected);
    QCOMPARE(rig.boxes.count(), 0);

    const StationState &state = rig.station.state();
    QCOMPARE(state.operatingPins, (TrackPins{4, 12, 54}));
    QCOMPARE(state.programmingPins, (TrackPins{6, 13, 61}));
    if (inputPresent)
        QCOMPARE(state.hardwareStopOn, inputOn);
}

void TestControllerSettings::writeReportsUnansweredWrites_data()
{
    QTest::addColumn<int>("answered");
    QTest::addColumn<int>("boxes");
    QTest::newRow("none answered") << 0 << 4;
    QTest::newRow("emergency stop only") << 1 << 3;
    QTest::newRow("the last one lost") << 3 << 1;
}

void TestControllerSettings::writeReportsUnansweredWrites()
{
    QFETCH(int, answered);
    QFETCH(int, boxes);

    SettingsRig rig;
    rig.station.setHardwareStopInput(true, false);
    rig.gate.passOnly(answered);
    ControllerSettingsData data;
    data.ControllerID = 1;
    data.HWNotstopAvailable = true;
    data.OperationPin = 4;
    CommandBuffer buffer;
    QVERIFY(!SetControllerSettings(data, buffer));

    // Every write is tried, twice when it goes unanswered.
    QList<quint8> parameters;
    for (const CommandBuffer &request : rig.gate.sent())
        parameters << request.p2;
    QList<quint8> expected;
    const QList<quint8> order{Parameter::HardwareStopInput, Parameter::OperatingTrackPins,
                              Parameter::ProgrammingTrackPins, Parameter::MonitoringPins};
    for (int i = 0; i < order.size(); ++i) {
        expected << order.at(i);
        if (i >= answered)
            expected << order.at(i);
    }
    QCOMPARE(parameters, expected);
    QCOMPARE(rig.boxes.count(), boxes);
}

void TestControllerSettings::controllerNumberThatDoesNotFitSendsNothing_data()
{
    QTest::addColumn<int>("id");
    QTest::newRow("-1") << -1;
    QTest::newRow("256") << 256;
    QTest::newRow("511") << 511;
}

void TestControllerSettings::controllerNumberThatDoesNotFitSendsNothing()
{
    QFETCH(int, id);
    SettingsRig rig;
    ControllerSettingsData data;
    data.ControllerID = id;
    CommandBuffer buffer;
    QVERIFY(!GetControllerSettings(data, buffer));
    QVERIFY(!SetControllerSettings(data, buffer));
    QVERIFY(rig.gate.sent().isEmpty());
}

KZ_TEST_MAIN(TestControllerSettings)
#include "test_controllersettings.moc"
