#include "common/program.h"
#include "dashboard/dashboardlogic.h"
#include "dashboard/portchoice.h"
#include "link/commands.h"
#include "link/locoframes.h"
#include "tests/support/testmain.h"

#include <QFile>
#include <QTemporaryDir>

// The main window's decisions, without a window.
class TestDashboardLogic : public QObject
{
    Q_OBJECT

private slots:
    void controllerNumber_data();
    void controllerNumber();
    void locoNumber_data();
    void locoNumber();
    void refusalsNameTheText();
    void firmwareVerdicts_data();
    void firmwareVerdicts();
    void versionMessages();
    void statusTexts();
    void speedSteps_data();
    void speedSteps();
    void boardLayout_data();
    void boardLayout();
    void percentages_data();
    void percentages();
    void accessoryCommands_data();
    void accessoryCommands();
    void settingsKeys();
    void initialPortEntry_data();
    void initialPortEntry();
    void portToolTips();
};

void TestDashboardLogic::controllerNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("checkAccepts");
    QTest::addColumn<int>("controller"); // -1: refused

    QTest::newRow("plain") << "7" << true << 7;
    QTest::newRow("letters read as 0") << "abc" << true << 0;
    QTest::newRow("empty") << "" << true << 0;
    QTest::newRow("0.4") << "0.4" << true << 0;
    QTest::newRow("half to even down") << "2.5" << true << 2;
    QTest::newRow("half to even up") << "3.5" << true << 4;
    QTest::newRow("249.5 addresses 250") << "249.5" << true << 250;
    QTest::newRow("250.4 above the check") << "250.4" << false << 250;
    QTest::newRow("251") << "251" << false << 251;
    QTest::newRow("255 all controllers") << "255" << false << 255;
    QTest::newRow("256 does not fit") << "256" << false << -1;
    QTest::newRow("999") << "999" << false << -1;
    QTest::newRow("negative") << "-1" << false << -1;
    QTest::newRow("-0.4 rounds to 0") << "-0.4" << false << 0;
    QTest::newRow("leading number") << "12x" << true << 12;
    QTest::newRow("exponent") << "9e9" << false << -1;
}

void TestDashboardLogic::controllerNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, checkAccepts);
    QFETCH(int, controller);
    QCOMPARE(checkAcceptsControllerNumber(text), checkAccepts);
    const auto number = controllerNumberFromText(text);
    QCOMPARE(number.has_value(), controller >= 0);
    if (number)
        QCOMPARE(int(*number), controller);
}

void TestDashboardLogic::locoNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number"); // 0: refused

    QTest::newRow("1") << "1" << 1;
    QTest::newRow("highest") << "10239" << 10239;
    QTest::newRow("blanks around") << " 300 " << 300;
    QTest::newRow("leading zero") << "007" << 7;
    QTest::newRow("0") << "0" << 0;
    QTest::newRow("above the list") << "10240" << 0;
    QTest::newRow("beyond two bytes") << "70000" << 0;
    QTest::newRow("long") << "1234567" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("letters") << "abc" << 0;
    QTest::newRow("fraction") << "12.5" << 0;
    QTest::newRow("german fraction") << "12,5" << 0;
    QTest::newRow("negative") << "-5" << 0;
    QTest::newRow("digits then letters") << "12a" << 0;
}

void TestDashboardLogic::locoNumber()
{
    QFETCH(QString, text);
    QFETCH(int, number);
    const auto loco = locoNumberFromText(text);
    QCOMPARE(loco.value_or(0), number);
}

void TestDashboardLogic::refusalsNameTheText()
{
    QCOMPARE(controllerNumberRefusal(QStringLiteral("300")),
             QStringLiteral("Die Controller-Nr. \"300\" ist ungültig.\r\n"
                            "Bitte geben Sie eine Zahl von 0 bis 255 ein."));
    QCOMPARE(locoNumberRefusal(QStringLiteral("abc")),
             QStringLiteral("Die Lok-Nummer \"abc\" ist ungültig.\r\n"
                            "Bitte geben Sie eine ganze Zahl von 1 bis 10239 ein."));
}

void TestDashboardLogic::firmwareVerdicts_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("build");
    QTest::addColumn<int>("verdict");

    QTest::newRow("5.2.0") << 5 << 2 << 0 << int(FirmwareVerdict::Fits);
    QTest::newRow("5.2.3") << 5 << 2 << 3 << int(FirmwareVerdict::Fits);
    QTest::newRow("5.2.255") << 5 << 2 << 255 << int(FirmwareVerdict::Fits);
    QTest::newRow("5.1.20 older minor") << 5 << 1 << 20 << int(FirmwareVerdict::Mismatch);
    QTest::newRow("5.1.8 minimum but other minor") << 5 << 1 << 8 << int(FirmwareVerdict::Mismatch);
    QTest::newRow("5.3.0") << 5 << 3 << 0 << int(FirmwareVerdict::Mismatch);
    QTest::newRow("4.2.16") << 4 << 2 << 16 << int(FirmwareVerdict::Mismatch);
    QTest::newRow("253.0.0") << 253 << 0 << 0 << int(FirmwareVerdict::Mismatch);
}

void TestDashboardLogic::firmwareVerdicts()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, build);
    QFETCH(int, verdict);
    QCOMPARE(int(firmwareVerdict(major, minor, build)), verdict);
}

void TestDashboardLogic::versionMessages()
{
    QCOMPARE(firmwareMismatchMessage(5, 1, 20),
             QStringLiteral("Version Velantor: \t5.2.16\r\n"
                            "Version Firmware: \t\t5.1.20\r\n\r\n"
                            "Bitte aktualisieren Sie die Firmware des Controllers."));
    QCOMPARE(firmwareMismatchMessage(5, 3, 0),
             QStringLiteral("Version Velantor: \t5.2.16\r\n"
                            "Version Firmware: \t\t5.3.0\r\n\r\n"
                            "Bitte aktualisieren Sie die Velantor-Software"));
    // Same major and minor: the program is not newer, so the software is
    // named (only reachable with a program below the minimum firmware).
    QVERIFY(firmwareMismatchMessage(5, 2, 0).endsWith(QLatin1String("die Velantor-Software")));
    QCOMPARE(firmwareTooOldMessage(5, 1, 7),
             QStringLiteral("Version Firmware: \t\t5.1.7\r\n"
                            "Mindestversion: \t\t5.1.8\r\n\r\n"
                            "Die Firmware ist zu alt für diese Version\r\n"
                            "von Velantor.\r\n\r\n"
                            "Bitte aktualisieren Sie die Firmware."));
    QCOMPARE(versionCheckCaption(), QStringLiteral("TALVIRO Velantor Versionskontrolle"));
}

void TestDashboardLogic::statusTexts()
{
    QCOMPARE(firmwareOkText(5, 2, 3), QStringLiteral("OK (Firmware 5.2.3) "));
    QCOMPARE(notFoundText(7), QStringLiteral("Controller 7 nicht gefunden"));
    QCOMPARE(versionProblemText(), QStringLiteral("Versionsprobleme zwischen Velantor und Firmware"));
    QCOMPARE(programInfoText(), QStringLiteral("Velantor V5.2 (build 16)"));
    QCOMPARE(portPanelText(QStringLiteral("nul")), QStringLiteral("Simulation"));
    QCOMPARE(portPanelText(QStringLiteral("COM3")), QStringLiteral("COM3"));
    QCOMPARE(trackPowerQuestion(), QStringLiteral("Laststromkreis ist noch aufgeregelt.\r\n\r\nAbregeln ?"));
}

void TestDashboardLogic::speedSteps_data()
{
    QTest::addColumn<int>("p1");
    QTest::addColumn<QString>("text");
    QTest::newRow("unknown loco") << 255 << "n.v.";
    QTest::newRow("126 with direction bit") << 131 << "126 FS";
    QTest::newRow("14") << 1 << "14 FS";
    QTest::newRow("28 forward") << 0x82 << "28 FS";
    QTest::newRow("undefined") << 0 << "Fehler";
    QTest::newRow("254 is no end mark") << 254 << "28 FS";
}

void TestDashboardLogic::speedSteps()
{
    QFETCH(int, p1);
    QFETCH(QString, text);
    QCOMPARE(speedStepText(quint8(p1)), text);
}

void TestDashboardLogic::boardLayout_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("text");
    QTest::newRow("Uno") << 8 << "Uno";
    QTest::newRow("Mega") << 16 << "Mega";
    QTest::newRow("both: Uno wins") << 24 << "Uno";
    QTest::newRow("Uno with track power") << 40 << "Uno";
    QTest::newRow("none") << 32 << "unbekannt";
}

void TestDashboardLogic::boardLayout()
{
    QFETCH(int, flags);
    QFETCH(QString, text);
    QCOMPARE(boardLayoutText(quint8(flags)), text);
}

void TestDashboardLogic::percentages_data()
{
    QTest::addColumn<int>("slider");
    QTest::addColumn<int>("speed");
    QTest::addColumn<QString>("text");
    // The slider's value is the speed sent.
    QTest::newRow("stopped") << 0 << 0 << "0 %";
    QTest::newRow("127") << 127 << 127 << "49 %";
    QTest::newRow("1 moves but shows 0") << 1 << 1 << "0 %";
    QTest::newRow("full") << 255 << 255 << "100 %";
    QTest::newRow("exact fifth") << 51 << 51 << "20 %";
    QTest::newRow("exact three fifths") << 153 << 153 << "60 %";
}

void TestDashboardLogic::percentages()
{
    QFETCH(int, slider);
    QFETCH(int, speed);
    QFETCH(QString, text);
    QCOMPARE(int(speedFromSlider(slider)), speed);
    QCOMPARE(percentText(slider), text);
}

void TestDashboardLogic::accessoryCommands_data()
{
    QTest::addColumn<QString>("idText");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("on");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::newRow("300 Port 4 ON") << "300" << 3 << true << 25 << 44 << 1;
    QTest::newRow("511 Port 1 OFF") << "511" << 0 << false << 26 << 255 << 1;
    QTest::newRow("1 Port 2 ON") << "1" << 1 << true << 25 << 1 << 0;
    QTest::newRow("256") << "256" << 2 << false << 26 << 0 << 1;
    QTest::newRow("2.5 half to even") << "2.5" << 0 << true << 25 << 2 << 0;
    QTest::newRow("3,5 half to even") << "3,5" << 0 << true << 25 << 4 << 0;
    QTest::newRow("255,7 rounds up") << "255,7" << 1 << false << 26 << 0 << 1;
}

void TestDashboardLogic::accessoryCommands()
{
    QFETCH(QString, idText);
    QFETCH(int, port);
    QFETCH(bool, on);
    QFETCH(int, command);
    QFETCH(int, low);
    QFETCH(int, high);
    const CommandBuffer expected{9, quint8(command), quint8(port), quint8(low), quint8(high)};
    QCOMPARE(LocoFrames::accessory(9, decoderIdFromText(idText), port, on), expected);
}

void TestDashboardLogic::settingsKeys()
{
    QCOMPARE(locoPanelKey(2), QStringLiteral("Slider02"));
    QCOMPARE(accessoryPanelKey(0), QStringLiteral("AccessoryAdress00"));
    QCOMPARE(functionNumberFromKey(QStringLiteral("F7")), 7);
    QCOMPARE(functionNumberFromKey(QStringLiteral("F12")), 12);
    QCOMPARE(functionNumberFromKey(functionKey(9)), 9);
}

void TestDashboardLogic::initialPortEntry_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("saved");
    QTest::addColumn<int>("entry");
    QTest::newRow("COM3") << "COM3" << "COM3" << 3;
    QTest::newRow("com3 lower case") << "com3" << "com3" << 3;
    QTest::newRow("COM24") << "COM24" << "COM24" << 24;
    QTest::newRow("COM25 above 24") << "COM25" << "COM25" << SimulationEntry;
    QTest::newRow("COM03 equals no entry") << "COM03" << "COM03" << NoEntry;
    QTest::newRow("NUL") << "NUL" << "NUL" << SimulationEntry;
    QTest::newRow("three digits") << "COM100" << "COM100" << SimulationEntry;
    QTest::newRow("no COM") << "NUL" << "ttyUSB0" << SimulationEntry;
}

void TestDashboardLogic::initialPortEntry()
{
    QFETCH(QString, current);
    QFETCH(QString, saved);
    QFETCH(int, entry);
    QCOMPARE(::initialPortEntry(current, saved), entry);
    QCOMPARE(portEntryTexts().size(), PortEntryCount);
}

void TestDashboardLogic::portToolTips()
{
    QTemporaryDir dir;
    const QString device = dir.filePath(QStringLiteral("ttyACM0"));
    QFile file(device);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString link = dir.filePath(QStringLiteral("usb-TALVIRO_Station-if00"));
    QVERIFY(QFile::link(device, link));

    const QList<SerialDeviceInfo> present{
        {device, QStringLiteral("DCC-Zentrale"), QStringLiteral("TALVIRO"), QStringLiteral("A1B2")}};
    QCOMPARE(portEntryToolTip(1, device, present),
             QStringLiteral("Gerät: ") + device
                 + QStringLiteral("\nDCC-Zentrale\nHersteller: TALVIRO\nSeriennummer: A1B2"));
    // A by-id link finds the device it points to.
    QVERIFY(portEntryToolTip(2, link, present).endsWith(QLatin1String("Seriennummer: A1B2")));
    QCOMPARE(portEntryToolTip(9, QStringLiteral("/dev/ttyUSB0"), {}),
             QStringLiteral("Gerät: /dev/ttyUSB0\nnicht angeschlossen"));
    QVERIFY(!portEntryToolTip(0, QString(), present).isEmpty());
}

KZ_TEST_MAIN(TestDashboardLogic)
#include "test_dashboardlogic.moc"
