#include "scriptedport.h"

#include "common/settings.h"
#include "link/portsession.h"

#include "../support/recordingboxes.h"
#include "../support/testmain.h"

// Opening and closing the one port, and which device a "COM" name means.
class TestPortSession : public QObject
{
    Q_OBJECT

    ManualClock m_clock;
    ScriptedPort m_port;

private Q_SLOTS:
    void init()
    {
        setProgramClock(&m_clock);
        m_port = ScriptedPort();
        setControllerPort(&m_port);
    }
    void cleanup()
    {
        setControllerPort(nullptr);
        setProgramClock(nullptr);
    }

    void readsPortNumber_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("number");
        QTest::newRow("COM7") << "COM7" << 7;
        QTest::newRow("COM12") << "COM12" << 12;
        QTest::newRow("third digit not read") << "COM123" << 12;
        QTest::newRow("leading zero") << "COM03" << 3;
        QTest::newRow("no digits") << "NUL" << 0;
        QTest::newRow("digit then letter") << "COM1x" << 1;
    }
    void readsPortNumber()
    {
        QFETCH(QString, name);
        QFETCH(int, number);
        QCOMPARE(portNumberFromName(name), number);
    }

    void mapsNumbersToDevices_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("device");
        QTest::newRow("COM1") << 1 << "/dev/ttyACM0";
        QTest::newRow("COM8") << 8 << "/dev/ttyACM7";
        QTest::newRow("COM9") << 9 << "/dev/ttyUSB0";
        QTest::newRow("COM12") << 12 << "/dev/ttyUSB3";
        QTest::newRow("COM16") << 16 << "/dev/ttyUSB7";
        QTest::newRow("COM17") << 17 << "/dev/ttyS0";
        QTest::newRow("COM24") << 24 << "/dev/ttyS7";
        QTest::newRow("COM25") << 25 << "";
        QTest::newRow("COM0") << 0 << "";
    }
    void mapsNumbersToDevices()
    {
        QFETCH(int, number);
        QFETCH(QString, device);
        QCOMPARE(devicePathForPortNumber(number), device);
    }

    void settingOverridesMapping()
    {
        sysSaveSetting(QStringLiteral("COM3"), QStringLiteral("/dev/serial/by-id/usb-board-if00"),
                       PortsSection);
        sysSaveSetting(QStringLiteral("COM30"), QStringLiteral("/dev/pts/7"), PortsSection);
        QCOMPARE(devicePathForPortNumber(3), QStringLiteral("/dev/serial/by-id/usb-board-if00"));
        QCOMPARE(devicePathForPortNumber(4), QStringLiteral("/dev/ttyACM3"));
        QCOMPARE(devicePathForPortNumber(30), QStringLiteral("/dev/pts/7"));
        sysSaveSetting(QStringLiteral("COM3"), QString(), PortsSection);
        sysSaveSetting(QStringLiteral("COM30"), QString(), PortsSection);
    }

    void opensMappedDevice()
    {
        RecordingMessageBoxes recorder;
        QVERIFY(OpenPort(QStringLiteral("COM123"), false));
        QCOMPARE(m_port.openedPath, QStringLiteral("/dev/ttyUSB3"));
        QVERIFY(m_port.isOpen());
        QCOMPARE(recorder.count(), 0);
    }

    void reportsOpenFailures_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("lastLine");
        QTest::newRow("no such port")
            << 8002 << "irrelevant" << "(Fehler 8002 - Schnittstelle nicht verfügbar)";
        QTest::newRow("not available")
            << 68 << "irrelevant" << "(Fehler 68 - Schnittstelle nicht verfügbar)";
        QTest::newRow("other failure")
            << 8005 << "/dev/ttyACM2 wird bereits von einem anderen Programm verwendet"
            << "(Fehler 8005 - /dev/ttyACM2 wird bereits von einem anderen Programm verwendet)";
    }
    void reportsOpenFailures()
    {
        QFETCH(int, number);
        QFETCH(QString, description);
        QFETCH(QString, lastLine);
        RecordingMessageBoxes recorder;
        m_port.openResult = false;
        m_port.openFailure = {number, description};
        QVERIFY(!OpenPort(QStringLiteral("COM3"), false));
        QVERIFY(!m_port.isOpen());
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().icon, BoxIcon::Warning);
        QVERIFY(recorder.last().text.startsWith(QStringLiteral("Fehler beim Zugriff auf COM3\r\n\r\n")
                                                + lastLine + QStringLiteral("\r\n\r\nFür")));

        recorder.clear();
        QVERIFY(!OpenPort(QStringLiteral("COM3"), true));
        QCOMPARE(recorder.count(), 0);
    }

    void nameWithoutDeviceIsNoSuchPort()
    {
        RecordingMessageBoxes recorder;
        QVERIFY(!OpenPort(QStringLiteral("COM25"), false));
        QCOMPARE(m_port.openCount, 0);
        QVERIFY(recorder.last().text.contains(QStringLiteral("(Fehler 8002 - Schnittstelle nicht verfügbar)")));
    }

    void closePortIsQuiet()
    {
        RecordingMessageBoxes recorder;
        ClosePort();
        QVERIFY(OpenPort(QStringLiteral("COM1"), false));
        ClosePort();
        QVERIFY(!m_port.isOpen());
        ClosePort();
        setControllerPort(nullptr);
        ClosePort();
        QCOMPARE(recorder.count(), 0);
    }

    void simulationModeIgnoresCase()
    {
        for (const char *name : {"NUL", "nul", "Nul"}) {
            setCurrentPortName(QLatin1String(name));
            QVERIFY(isSimulationMode());
        }
        setCurrentPortName(QStringLiteral("COM1"));
        QVERIFY(!isSimulationMode());
    }
};

KZ_TEST_MAIN(TestPortSession)
#include "test_portsession.moc"
