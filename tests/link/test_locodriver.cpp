#include "scriptedport.h"

#include "link/clock.h"
#include "link/locodriver.h"
#include "link/locoframes.h"
#include "link/locostate.h"
#include "link/portsession.h"

#include "../support/recordingboxes.h"
#include "../support/testmain.h"

Q_DECLARE_METATYPE(CommandBuffer)
Q_DECLARE_METATYPE(DriveIntent)

using Intents = QList<DriveIntent>;
using Frames = QList<CommandBuffer>;
using Statuses = QList<DriveResult::Status>;
Q_DECLARE_METATYPE(Intents)
Q_DECLARE_METATYPE(Frames)
Q_DECLARE_METATYPE(Statuses)

namespace {

constexpr quint8 Controller = 1;

DriveIntent remote(const DriveIntent &intent)
{
    return intent.from(DriveSource::Remote, 7);
}

DriveIntent window(const DriveIntent &intent)
{
    return intent.to(Controller);
}

} // namespace

// The driver's order of traffic and its state, against a port that echoes
// each request as its reply unless the row keeps it silent.
class TestLocoDriver : public QObject
{
    Q_OBJECT

    ManualClock m_clock;
    ScriptedPort m_port;

private Q_SLOTS:
    void init()
    {
        setProgramClock(&m_clock);
        m_port = ScriptedPort();
        m_port.opened = true;
        setControllerPort(&m_port);
        setCurrentPortName(QStringLiteral("COM1"));
    }
    void cleanup()
    {
        setControllerPort(nullptr);
        setProgramClock(nullptr);
    }

    void frames_data()
    {
        QTest::addColumn<DriveIntent>("intent");
        QTest::addColumn<CommandBuffer>("frame");

        QTest::newRow("speed") << window(DriveIntent::speed(300, 200))
                               << CommandBuffer{1, 23, 200, 44, 1};
        QTest::newRow("forward") << window(DriveIntent::direction(3, true))
                                 << CommandBuffer{1, 22, 1, 3, 0};
        QTest::newRow("backward") << window(DriveIntent::direction(3, false))
                                  << CommandBuffer{1, 22, 0, 3, 0};
        QTest::newRow("light on") << window(DriveIntent::function(3, 0, true))
                                  << CommandBuffer{1, 27, 0, 3, 0};
        QTest::newRow("F12 off") << window(DriveIntent::function(10239, 12, false))
                                 << CommandBuffer{1, 28, 12, 255, 39};
        QTest::newRow("stop") << window(DriveIntent::stop(3)) << CommandBuffer{1, 24, 0, 3, 0};
        QTest::newRow("stop all") << window(DriveIntent::stopAll())
                                  << CommandBuffer{1, 24, 0, 255, 255};
        QTest::newRow("accessory") << window(DriveIntent::accessory(511, 3, true))
                                   << CommandBuffer{1, 25, 3, 255, 1};
    }
    void frames()
    {
        QFETCH(DriveIntent, intent);
        QFETCH(CommandBuffer, frame);
        LocoState state;
        LocoDriver driver(state);
        m_port.responses = {{{1, Frame::encode(frame)}}};
        QVERIFY(driver.submit(intent).done());
        QCOMPARE(m_port.writes, QList<QByteArray>{Frame::encode(frame)});
    }

    void order_data()
    {
        QTest::addColumn<bool>("checked");     // a controller passed the check
        QTest::addColumn<bool>("programming"); // the programming track is on at first
        QTest::addColumn<Intents>("intents");
        QTest::addColumn<int>("silentWrites");  // the first writes get no reply
        QTest::addColumn<Statuses>("statuses");
        QTest::addColumn<Frames>("frames");     // all written, after the track is off
        QTest::addColumn<int>("noReplies");
        QTest::addColumn<int>("speedOf3");

        using S = DriveResult::Status;
        const CommandBuffer speed3{1, 23, 100, 3, 0};
        const CommandBuffer light3{1, 27, 0, 3, 0};
        const CommandBuffer f1of3{1, 27, 1, 3, 0};
        const CommandBuffer stopAll{1, 24, 0, 255, 255};
        const CommandBuffer stop3{1, 24, 0, 3, 0};
        const CommandBuffer speed4{1, 23, 100, 4, 0};

        QTest::newRow("window runs at once")
            << false << false << Intents{window(DriveIntent::speed(3, 100))} << 0
            << Statuses{S::Done} << Frames{speed3} << 0 << 100;
        QTest::newRow("remote drives the checked controller")
            << true << false << Intents{remote(DriveIntent::speed(3, 100))} << 0
            << Statuses{S::Done} << Frames{speed3} << 0 << 100;
        QTest::newRow("remote waits for the programming track, the window does not")
            << true << true
            << Intents{remote(DriveIntent::speed(3, 100)),
                       window(DriveIntent::function(3, 0, true))}
            << 0 << Statuses{S::Queued, S::Done} << Frames{light3, speed3} << 0 << 100;
        // A stop does not wait for the programming track: it goes between
        // two exchanges of a job, and what it stops never follows it.
        QTest::newRow("an emergency stop goes before everything queued")
            << true << true
            << Intents{remote(DriveIntent::speed(3, 100)),
                       remote(DriveIntent::function(3, 1, true)), remote(DriveIntent::stopAll())}
            << 0 << Statuses{S::Queued, S::Queued, S::Done} << Frames{stopAll, f1of3} << 0 << 0;
        QTest::newRow("a loco's stop replaces its queued speed, not another's")
            << true << true
            << Intents{remote(DriveIntent::speed(3, 100)), remote(DriveIntent::speed(4, 100)),
                       remote(DriveIntent::stop(3)), remote(DriveIntent::speed(3, 100))}
            << 0 << Statuses{S::Queued, S::Queued, S::Done, S::Queued}
            << Frames{stop3, speed4, speed3} << 0 << 100;
        QTest::newRow("a newer speed replaces the one waiting")
            << true << true
            << Intents{remote(DriveIntent::speed(3, 50)), remote(DriveIntent::function(3, 1, true)),
                       remote(DriveIntent::speed(3, 100))}
            << 0 << Statuses{S::Queued, S::Queued, S::Queued} << Frames{speed3, f1of3} << 0
            << 100;
        // The window hears of its failure from finished(); the driver shows
        // no box of its own.
        QTest::newRow("window without reply: handed back, state kept")
            << true << false << Intents{window(DriveIntent::speed(3, 100))} << 2
            << Statuses{S::Failed} << Frames{speed3, speed3} << 0 << 0;
        QTest::newRow("remote without reply: quiet, reported, state kept")
            << true << false << Intents{remote(DriveIntent::speed(3, 100))} << 2
            << Statuses{S::Failed} << Frames{speed3, speed3} << 1 << 0;
        QTest::newRow("remote before any check is not sent")
            << false << false << Intents{remote(DriveIntent::speed(3, 100))} << 0
            << Statuses{S::NotSent} << Frames{} << 0 << 0;
        QTest::newRow("loco 0 is not sent")
            << true << false << Intents{remote(DriveIntent::speed(0, 100))} << 0
            << Statuses{S::NotSent} << Frames{} << 0 << 0;
        QTest::newRow("function 13 is not sent")
            << true << false << Intents{remote(DriveIntent::function(3, 13, true))} << 0
            << Statuses{S::NotSent} << Frames{} << 0 << 0;
    }
    void order()
    {
        QFETCH(bool, checked);
        QFETCH(bool, programming);
        QFETCH(Intents, intents);
        QFETCH(int, silentWrites);
        QFETCH(Statuses, statuses);
        QFETCH(Frames, frames);
        QFETCH(int, noReplies);
        QFETCH(int, speedOf3);

        for (int i = 0; i < frames.size(); ++i) {
            m_port.responses.append(i < silentWrites ? ScriptedPort::Response{}
                                                     : ScriptedPort::Response{
                                                         {1, Frame::encode(frames.at(i))}});
        }
        LocoState state;
        if (checked)
            state.setController(Controller);
        LocoDriver driver(state);
        int reported = 0;
        connect(&driver, &LocoDriver::noReply, this,
                [&](const DriveIntent &intent, ExchangeFailure) {
                    QCOMPARE(intent.tag, quint64(7));
                    ++reported;
                });
        RecordingMessageBoxes recorder;

        driver.setProgrammingTrackActive(programming);
        Statuses got;
        for (const DriveIntent &intent : std::as_const(intents))
            got.append(driver.submit(intent).status);
        QCOMPARE(got, statuses);
        driver.setProgrammingTrackActive(false);

        Frames written;
        for (const QByteArray &bytes : std::as_const(m_port.writes))
            written.append(Frame::decode(bytes));
        QCOMPARE(written, frames);
        QCOMPARE(driver.queuedCount(), 0);
        QCOMPARE(reported, noReplies);
        QCOMPARE(recorder.count(), 0);
        QCOMPARE(int(state.loco(3).speed), speedOf3);
    }

    // A panel follows what another source changed; only what changed is
    // handed on.
    void stateReportsBeforeAndAfter()
    {
        LocoState state;
        QList<std::pair<LocoSnapshot, LocoSnapshot>> changes;
        connect(&state, &LocoState::locoChanged, this,
                [&](int number, const LocoSnapshot &before, const LocoSnapshot &after) {
                    QCOMPARE(number, 5);
                    changes.append({before, after});
                });
        state.setFunction(5, 2, true);
        state.setFunction(5, 2, true); // no change, no signal
        state.setDirection(5, false);
        QCOMPARE(changes.size(), 2);
        QVERIFY(!changes[0].first.function(2));
        QVERIFY(changes[0].second.function(2));
        QVERIFY(changes[1].first.forward);
        QVERIFY(!changes[1].second.forward);
        QVERIFY(changes[1].second.function(2));
    }
};

KZ_TEST_MAIN(TestLocoDriver)
#include "test_locodriver.moc"
