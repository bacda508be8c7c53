#include "common/lineboxes.h"
#include "common/program.h"
#include "link/commands.h"
#include "link/controllerline.h"
#include "link/exchange.h"
#include "link/portsession.h"
#include "link/serialport.h"
#include "simulator/ptystation.h"

#include "../support/recordingboxes.h"
#include "../support/testmain.h"

#include <QTemporaryDir>

#include <atomic>
#include <sys/stat.h>
#include <thread>

// The real QSerialPort implementation against the virtual command station on
// a pseudo-terminal: what the program does with a real controller's device.
class TestSerialLine : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<PtyStation> m_station;
    std::unique_ptr<SerialControllerPort> m_port;

    QString linkPath() const { return m_dir.filePath(QStringLiteral("ttyController")); }

#ifdef KZ_THREADED_LINE
    // The same rows on the line's worker thread, as the program runs them.
    ControllerLine m_line{ControllerLine::Mode::Threaded};
#endif

private Q_SLOTS:
    void initTestCase()
    {
#ifdef KZ_THREADED_LINE
        setControllerLine(&m_line);
#endif
    }
    void cleanupTestCase() { setControllerLine(nullptr); }

    void init()
    {
        m_station = std::make_unique<PtyStation>(PtyStation::Threading::OwnThread);
        QVERIFY2(m_station->open(), qPrintable(m_station->errorString()));
        QVERIFY(m_station->setLink(linkPath()));
        m_port = std::make_unique<SerialControllerPort>();
        setControllerPort(m_port.get());
        sysSaveSettingForCom1(linkPath());
        setCurrentPortName(QStringLiteral("COM1"));
    }
    void cleanup()
    {
        ClosePort();
        setControllerPort(nullptr);
        m_port.reset();
        m_station.reset();
    }

    void exchangesFramesOverTheDevice()
    {
        RecordingMessageBoxes recorder;
        QVERIFY(OpenPort(QStringLiteral("COM1"), false));
        CommandBuffer buffer{1, Command::QueryController, 0, Selector::Version, 0};
        QVERIFY(SendCommand(buffer, 2, true, 2));
        QCOMPARE(buffer.p2, quint8(5));
        QCOMPARE(buffer.p3, quint8(2));
        QCOMPARE(recorder.count(), 0);
        const auto requests = m_station->withCore([](StationCore &core) { return core.receivedRequests(); });
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first(), (CommandBuffer{1, Command::QueryController, 0, Selector::Version, 0}));
    }

    // A time-out of 0 ends the wait at once, so the silent controller costs
    // no real time here.
    void silentControllerFailsEveryAttempt()
    {
        RecordingMessageBoxes recorder;
        m_station->withCore([](StationCore &core) { core.addFault(Fault::noReply(Fault::Always)); });
        QVERIFY(OpenPort(QStringLiteral("COM1"), false));
        CommandBuffer buffer{1, Command::SetSpeed, 10, 3, 0};
        QVERIFY(!SendCommand(buffer, 2, true, 0));
        QCOMPARE(buffer, (CommandBuffer{1, Command::SetSpeed, 10, 3, 0}));
        QCOMPARE(recorder.texts(), QStringList{QStringLiteral("Controller 1 antwortet nicht.")});
        QVERIFY(m_port->isOpen());
    }

    // The device vanishes while the exchange waits for the reply: one error,
    // the port closes, and the exchange ends without waiting out its time.
    void deviceClosedMidExchange()
    {
        RecordingMessageBoxes recorder;
        QVERIFY(OpenPort(QStringLiteral("COM1"), false));
        m_station->withCore([](StationCore &core) { core.addFault(Fault::noReply(Fault::Always)); });

        std::atomic<bool> done = false;
        PtyStation *station = m_station.get();
        std::thread unplugger([station, &done] {
            for (int i = 0; i < 2000 && !done; ++i) {
                const bool received = station->withCore(
                    [](StationCore &core) { return !core.receivedRequests().isEmpty(); });
                if (received) {
                    station->unplug();
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });

        CommandBuffer buffer{1, Command::SetSpeed, 10, 3, 0};
        const bool result = SendCommand(buffer, 2, true, 2);
        done = true;
        unplugger.join();

        QVERIFY(!result);
        QVERIFY(!m_port->isOpen());
        // The second attempt finds the device gone and says so.
        QCOMPARE(recorder.count(), 2);
        QVERIFY2(recorder.boxes()[0].text.contains(QStringLiteral("(Fehler 8002 - Schnittstelle nicht verfügbar: ")),
                 qPrintable(recorder.boxes()[0].text));
        QCOMPARE(recorder.boxes()[1].text, QStringLiteral("Controller 1 antwortet nicht."));
    }

    // Pulled and plugged in again behind the same link: the next exchange
    // reopens the port by itself.
    void replugWorksWithoutRestart()
    {
        RecordingMessageBoxes recorder;
        QVERIFY(OpenPort(QStringLiteral("COM1"), false));
        m_station->unplug();
        CommandBuffer lost{1, Command::SetSpeed, 10, 3, 0};
        QVERIFY(!SendCommand(lost, 2, true, 0));
        QVERIFY(!m_port->isOpen());
        QVERIFY(recorder.count() >= 1);
        QCOMPARE(recorder.last().text, QStringLiteral("Controller 1 antwortet nicht."));

        QVERIFY(m_station->replug());
        recorder.clear();
        CommandBuffer back{1, Command::QueryController, 0, Selector::Version, 0};
        QVERIFY(SendCommand(back, 2, true, 2));
        QCOMPARE(back.p2, quint8(5));
        QVERIFY(m_port->isOpen());
        QCOMPARE(recorder.count(), 0);
    }

    // The device was missing when the program started and comes later.
    void deviceAppearingAfterStartIsTaken()
    {
        RecordingMessageBoxes recorder;
        m_station->unplug();
        QVERIFY(!OpenPort(QStringLiteral("COM1"), false));
        QVERIFY(m_station->replug());
        recorder.clear();
        CommandBuffer buffer{1, Command::QueryController, 0, Selector::Status, 0};
        QVERIFY(SendCommand(buffer, 2, true, 2));
        QCOMPARE(recorder.count(), 0);
    }

    void missingDeviceIsNoSuchPort()
    {
        RecordingMessageBoxes recorder;
        sysSaveSettingForCom1(m_dir.filePath(QStringLiteral("nothing-here")));
        QVERIFY(!OpenPort(QStringLiteral("COM1"), false));
        QCOMPARE(recorder.count(), 1);
        QVERIFY(recorder.last().text.startsWith(
            QStringLiteral("Fehler beim Zugriff auf COM1\r\n\r\n(Fehler 8002 - Schnittstelle nicht "
                           "verfügbar: ")
            + m_dir.filePath(QStringLiteral("nothing-here"))
            + QStringLiteral(" ist nicht vorhanden. Ist der Controller eingesteckt?)\r\n")));
    }

    // A device file the user may not open names the group to join. Root may
    // open anything, so this only runs for an ordinary user.
    void deviceWithoutPermissionNamesTheGroup()
    {
        if (::geteuid() == 0)
            QSKIP("root may open every device");
        RecordingMessageBoxes recorder;
        const QString device = m_station->devicePath();
        QVERIFY(::chmod(QFile::encodeName(device).constData(), 0) == 0);
        const bool opened = OpenPort(QStringLiteral("COM1"), false);
        QVERIFY(!opened);
        QVERIFY2(recorder.last().text.contains(QStringLiteral("(Fehler 8010 - Keine Berechtigung")),
                 qPrintable(recorder.last().text));
    }

    void deviceInUseIsReported()
    {
        RecordingMessageBoxes recorder;
        SerialControllerPort other;
        QVERIFY(other.open(linkPath()));
        QVERIFY(!OpenPort(QStringLiteral("COM1"), false));
        QVERIFY2(recorder.last().text.contains(QStringLiteral("(Fehler 8005 - ")),
                 qPrintable(recorder.last().text));
        QVERIFY(recorder.last().text.contains(QStringLiteral("anderen Programm")));
    }

private:
    static void sysSaveSettingForCom1(const QString &device);
};

#include "common/settings.h"

void TestSerialLine::sysSaveSettingForCom1(const QString &device)
{
    sysSaveSetting(QStringLiteral("COM1"), device, PortsSection);
}

KZ_TEST_MAIN(TestSerialLine)
#include "test_serialline.moc"
