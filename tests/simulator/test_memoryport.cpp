#include "simulator/memoryport.h"
#include "simulator/stationcore.h"

#include "link/clock.h"
#include "common/lineboxes.h"
#include "link/exchange.h"
#include "link/portsession.h"

#include "../support/recordingboxes.h"
#include "../support/testmain.h"

Q_DECLARE_METATYPE(std::optional<QStringList>)

namespace {

const QByteArray StatusRequest = QByteArray::fromHex("010200000003");
const QByteArray StatusReply = QByteArray::fromHex("010000001110");

} // namespace

// The in-memory port on the station core, timed by a ManualClock.
class TestMemoryPort : public QObject
{
    Q_OBJECT

    ManualClock m_clock;
    StationCore m_core;
    std::unique_ptr<MemoryPort> m_port;
    qint64 m_start = 0;

    qint64 elapsed() const { return m_clock.nowMs() - m_start; }

private Q_SLOTS:
    void init()
    {
        setProgramClock(&m_clock);
        m_core = StationCore();
        m_port = std::make_unique<MemoryPort>(&m_core);
        QVERIFY(m_port->open(QStringLiteral("/dev/ttyACM0")));
        m_start = m_clock.nowMs();
    }
    void cleanup()
    {
        setControllerPort(nullptr);
        setProgramClock(nullptr);
    }

    void openChecksPresence_data()
    {
        QTest::addColumn<std::optional<QStringList>>("present");
        QTest::addColumn<bool>("unplugged");
        QTest::addColumn<int>("error");

        const QStringList acm0{QStringLiteral("/dev/ttyACM0")};
        QTest::newRow("any path") << std::optional<QStringList>() << false << 0;
        QTest::newRow("listed") << std::optional<QStringList>(acm0) << false << 0;
        QTest::newRow("not listed")
            << std::optional<QStringList>(QStringList{QStringLiteral("/dev/ttyUSB0")}) << false << 8002;
        QTest::newRow("unplugged") << std::optional<QStringList>() << true << 8002;
    }

    void openChecksPresence()
    {
        QFETCH(std::optional<QStringList>, present);
        QFETCH(bool, unplugged);
        QFETCH(int, error);

        MemoryPort port(&m_core);
        if (present)
            port.setPresentDevices(*present);
        if (unplugged)
            port.unplug();
        QCOMPARE(port.open(QStringLiteral("/dev/ttyACM0")), error == 0);
        QCOMPARE(port.isOpen(), error == 0);
        QCOMPARE(port.lastError().number, error);
        if (error) {
            QCOMPARE(port.lastError().description, QStringLiteral("Schnittstelle nicht verfügbar"));
        } else {
            QCOMPARE(port.devicePath(), QStringLiteral("/dev/ttyACM0"));
        }
    }

    void closedPortRefusesEverything()
    {
        m_port->close();
        QVERIFY(!m_port->write(StatusRequest));
        QCOMPARE(m_port->lastError().number, PortErrorNumber::PortNotOpen);
        QVERIFY(!m_port->waitForReadyRead(2000));
        QCOMPARE(elapsed(), 0);
        QVERIFY(m_core.log().isEmpty());
    }

    void waitMovesTheClockToTheReply()
    {
        QVERIFY(m_port->write(StatusRequest));
        QCOMPARE(m_port->bytesToWrite(), 0);
        QVERIFY(m_port->waitForBytesWritten(100));
        QCOMPARE(m_port->bytesAvailable(), 0);
        QVERIFY(m_port->waitForReadyRead(2000));
        QCOMPARE(elapsed(), 1);
        QCOMPARE(m_port->bytesAvailable(), 6);
        QCOMPARE(m_port->readAll(), StatusReply);
        QCOMPARE(m_port->bytesAvailable(), 0);
        QCOMPARE(m_port->written(), StatusRequest);
    }

    void waitForReplies_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QList<int>>("waits");      // waitForReadyRead(ms) calls in turn
        QTest::addColumn<QList<bool>>("results");
        QTest::addColumn<QList<qint64>>("times");   // elapsed after each call
        QTest::addColumn<QByteArray>("bytes");      // read at the end

        QTest::newRow("no reply waits the whole time")
            << Fault::noReply() << QList<int>{2000} << QList<bool>{false} << QList<qint64>{2000}
            << QByteArray();
        QTest::newRow("late reply comes in the second wait")
            << Fault::lateReply(2999) << QList<int>{2000, 2000} << QList<bool>{false, true}
            << QList<qint64>{2000, 3000} << StatusReply;
        QTest::newRow("reply in pieces, one wait each")
            << Fault::splitReply({2, 2}, 4) << QList<int>{2000, 2000, 2000}
            << QList<bool>{true, true, true} << QList<qint64>{1, 5, 9} << StatusReply;
        QTest::newRow("wait of 0 sees only what is due")
            << Fault::lateReply(0) << QList<int>{0, 1} << QList<bool>{false, true}
            << QList<qint64>{0, 1} << StatusReply;
    }

    void waitForReplies()
    {
        QFETCH(Fault, fault);
        QFETCH(QList<int>, waits);
        QFETCH(QList<bool>, results);
        QFETCH(QList<qint64>, times);
        QFETCH(QByteArray, bytes);

        m_core.addFault(fault);
        QVERIFY(m_port->write(StatusRequest));
        for (int i = 0; i < waits.size(); ++i) {
            QCOMPARE(m_port->waitForReadyRead(waits.at(i)), results.at(i));
            QCOMPARE(elapsed(), times.at(i));
        }
        QCOMPARE(m_port->readAll(), bytes);
    }

    void discardInputKeepsRepliesUnderWay()
    {
        // A reply that is there goes; one still under way arrives later.
        m_core.addFault(Fault::lateReply(99));
        QVERIFY(m_port->write(StatusRequest));
        QVERIFY(m_port->write(StatusRequest));
        m_clock.advance(50);
        m_port->discardInput();
        QVERIFY(m_port->waitForReadyRead(2000));
        QCOMPARE(elapsed(), 100);
        m_port->discardInput();
        QCOMPARE(m_port->bytesAvailable(), 0);
        QVERIFY(m_port->waitForReadyRead(2000));
        QCOMPARE(elapsed(), 101);
        QCOMPARE(m_port->readAll(), StatusReply);
    }

    void unplugClosesOnNextUse()
    {
        m_port->unplug();
        QVERIFY(m_port->isOpen());
        QVERIFY(!m_port->write(StatusRequest));
        QCOMPARE(m_port->lastError().number, PortErrorNumber::DeviceLost);
        QVERIFY(!m_port->isOpen());
        QVERIFY(!m_port->waitForReadyRead(10));
        QCOMPARE(m_port->lastError().number, PortErrorNumber::DeviceLost);
        QVERIFY(!m_port->open(QStringLiteral("/dev/ttyACM0")));
        m_port->plugIn();
        QVERIFY(m_port->open(QStringLiteral("/dev/ttyACM0")));
        QCOMPARE(m_port->openCount(), 2);

        // Also a read notices it.
        m_port->unplug();
        QCOMPARE(m_port->bytesAvailable(), 0);
        QVERIFY(!m_port->isOpen());
    }

    void failingWrites()
    {
        m_port->failWrites(1);
        QVERIFY(!m_port->write(StatusRequest));
        QCOMPARE(m_port->lastError().number, PortErrorNumber::WriteFailed);
        QVERIFY(m_core.log().isEmpty());
        QVERIFY(m_port->isOpen());
        QVERIFY(m_port->write(StatusRequest));
        QCOMPARE(m_core.receivedRequests().size(), 1);
    }

    // The program's own exchange against the station.
    void exchangeWithTheStation()
    {
        setControllerPort(m_port.get());
        setCurrentPortName(QStringLiteral("COM1"));
        RecordingMessageBoxes boxes;

        CommandBuffer version{1, Command::QueryController, 0, Selector::Version, 0};
        QVERIFY(SendCommand(version, 2, true, 2));
        QCOMPARE(version, (CommandBuffer{1, 2, 0, 5, 2}));

        // A corrupted reply costs one attempt; the second one gets through.
        m_core.addFault(Fault::wrongChecksum());
        CommandBuffer speed{1, Command::SetSpeed, 128, 3, 0};
        QVERIFY(SendCommand(speed, 2, true, 2));
        QCOMPARE(m_core.receivedRequests().mid(1),
                 (QList<CommandBuffer>{{1, 23, 128, 3, 0}, {1, 23, 128, 3, 0}}));

        // A station that stays silent: two attempts of two seconds, one box.
        m_core.addFault(Fault::noReply(Fault::Always));
        const qint64 before = m_clock.nowMs();
        CommandBuffer stop{1, Command::StopLoco, 0, 255, 255};
        QVERIFY(!SendCommand(stop, 2, true, 2));
        QCOMPARE(m_clock.nowMs() - before, 4000);
        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Controller 1 antwortet nicht.")});
        QCOMPARE(stop, (CommandBuffer{1, 24, 0, 255, 255}));
    }
};

KZ_TEST_MAIN(TestMemoryPort)
#include "test_memoryport.moc"
