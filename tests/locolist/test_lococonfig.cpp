// The controller's loco list as plain code: the walk, the writes and the tree
// nodes, against the virtual command station.

#include "tests/support/stationrig.h"
#include "tests/support/testmain.h"
#include "printing.h"

#include "link/commands.h"
#include "locolist/lococonfig.h"

namespace {

QList<int> numbers(const QList<clsLoco> &locos)
{
    QList<int> result;
    for (const clsLoco &loco : locos)
        result << loco.Number;
    return result;
}

} // namespace

class TestLocoConfig : public QObject
{
    Q_OBJECT

private slots:
    void newEntry();
    void walkSortsByNumber();
    void emptyList();
    void walkEndsAtFirstUnansweredExchange_data();
    void walkEndsAtFirstUnansweredExchange();
    void entriesFromFlags_data();
    void entriesFromFlags();
    void nodeKeys_data();
    void nodeKeys();
    void writeFrames_data();
    void writeFrames();
    void restartFrame();
    void toolBarKeys_data();
    void toolBarKeys();
};

void TestLocoConfig::newEntry()
{
    const clsLoco loco;
    QCOMPARE(loco.Key, QStringLiteral("00000"));
    QCOMPARE(loco.Number, qint16(0));
    QCOMPARE(loco.SpeedStepMode, 1);
    QCOMPARE(loco.Direction, 1);
    QCOMPARE(clsLoco::keyFor(3), QStringLiteral("L00003"));
    QCOMPARE(clsLoco::keyFor(10239), QStringLiteral("L10239"));
}

void TestLocoConfig::walkSortsByNumber()
{
    StationRig rig(4);
    rig.station.setLocos({{12, 0x82}, {3, 0x01}, {7, 0x03}, {7000, 0x02}, {5, 0x02}});
    const LocoConfig::ReadResult result = LocoConfig::readLocoList(4);
    QVERIFY(result.complete);
    QCOMPARE(numbers(result.locos), (QList<int>{3, 5, 7, 12, 7000}));
    QCOMPARE(result.locos.first().Key, QStringLiteral("L00003"));

    const QList<CommandBuffer> requests = rig.takeRequests();
    QCOMPARE(requests.size(), 6);
    QCOMPARE(requests.first(), (CommandBuffer{4, Command::ReadLocoEntry, 255, 0, 0}));
    QCOMPARE(requests.last(), (CommandBuffer{4, Command::ReadLocoEntry, 254, 0, 0}));
    QCOMPARE(rig.boxes.count(), 0);
}

void TestLocoConfig::emptyList()
{
    StationRig rig;
    const LocoConfig::ReadResult result = LocoConfig::readLocoList(1);
    QVERIFY(result.complete);
    QVERIFY(result.locos.isEmpty());
    QCOMPARE(rig.takeRequests().size(), 1);
}

void TestLocoConfig::walkEndsAtFirstUnansweredExchange_data()
{
    QTest::addColumn<int>("answered");
    QTest::addColumn<QList<int>>("kept");

    QTest::newRow("first request") << 0 << QList<int>{};
    QTest::newRow("after two entries") << 2 << QList<int>{3, 12};
}

void TestLocoConfig::walkEndsAtFirstUnansweredExchange()
{
    QFETCH(int, answered);
    QFETCH(QList<int>, kept);

    StationRig rig;
    rig.station.setLocos({{12, 2}, {3, 2}, {7, 2}});
    // Let the station answer a number of requests, then fall silent. A
    // request is logged once its reply is decided, so a fault added then
    // hits the next one.
    if (answered == 0)
        rig.station.addFault(Fault::noReply(Fault::Always));
    int seen = 0;
    rig.station.setLogObserver([&](const LogEntry &entry) {
        if (entry.direction == LogEntry::Received && entry.frame && ++seen == answered)
            rig.station.addFault(Fault::noReply(Fault::Always));
    });
    const LocoConfig::ReadResult result = LocoConfig::readLocoList(1);
    QVERIFY(!result.complete);
    QCOMPARE(numbers(result.locos), kept);
    // Two attempts of the unanswered request, one box; no request after it.
    QCOMPARE(rig.takeRequests().size(), answered + 2);
    QCOMPARE(rig.boxes.texts(), QStringList{QStringLiteral("Controller 1 antwortet nicht.")});
}

void TestLocoConfig::entriesFromFlags_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("speedSteps");
    QTest::addColumn<QString>("direction");

    QTest::newRow("0x83") << 0x83 << "126 Fahrstufen" << "Fahrtrichtung: vorwärts";
    QTest::newRow("0x00") << 0x00 << "undef. Fahrstufen" << "Fahrtrichtung: rückwärts";
    QTest::newRow("0x81") << 0x81 << "14 Fahrstufen" << "Fahrtrichtung: vorwärts";
    QTest::newRow("0x7e, unused bits") << 0x7e << "28 Fahrstufen" << "Fahrtrichtung: rückwärts";
}

void TestLocoConfig::entriesFromFlags()
{
    QFETCH(int, flags);
    QFETCH(QString, speedSteps);
    QFETCH(QString, direction);

    const clsLoco loco = clsLoco::fromFlags(3, quint8(flags));
    const LocoConfig::LocoNodes nodes = LocoConfig::treeNodes(loco);
    QCOMPARE(nodes.speedSteps.text, speedSteps);
    QCOMPARE(nodes.direction.text, direction);
    QCOMPARE(LocoConfig::directionText(7), QStringLiteral("Fahrtrichtung: "));
}

void TestLocoConfig::nodeKeys_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("key");

    QTest::newRow("3") << 3 << "3#";
    QTest::newRow("10239") << 10239 << "10239#";
}

void TestLocoConfig::nodeKeys()
{
    QFETCH(int, number);
    QFETCH(QString, key);

    const LocoConfig::LocoNodes nodes = LocoConfig::treeNodes(clsLoco::fromFlags(number, 2));
    QCOMPARE(nodes.loco.key, key);
    QCOMPARE(nodes.loco.text, QString::number(number));
    QCOMPARE(nodes.speedSteps.key, key + QStringLiteral("fs"));
    QCOMPARE(nodes.direction.key, key + QStringLiteral("fr"));
    for (const QString &nodeKey : {nodes.loco.key, nodes.speedSteps.key, nodes.direction.key})
        QCOMPARE(LocoConfig::locoNumberOfNodeKey(nodeKey), number);
    QCOMPARE(LocoConfig::locoNumberOfNodeKey(QString()), 0);
}

void TestLocoConfig::writeFrames_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("sent");
    QTest::addColumn<CommandBuffer>("frame");

    QTest::newRow("10239") << 10239 << 2 << true
                           << CommandBuffer{1, Command::WriteLocoEntry, 2, 255, 39};
    QTest::newRow("256") << 256 << 3 << true << CommandBuffer{1, Command::WriteLocoEntry, 3, 0, 1};
    QTest::newRow("delete 5") << 5 << 0 << true << CommandBuffer{1, Command::WriteLocoEntry, 0, 5, 0};
    QTest::newRow("0 refused") << 0 << 2 << false << CommandBuffer{};
    QTest::newRow("10240 refused") << 10240 << 2 << false << CommandBuffer{};
}

void TestLocoConfig::writeFrames()
{
    QFETCH(int, number);
    QFETCH(int, flags);
    QFETCH(bool, sent);
    QFETCH(CommandBuffer, frame);

    StationRig rig;
    QCOMPARE(LocoConfig::writeLocoEntry(1, number, quint8(flags)), sent);
    const QList<CommandBuffer> requests = rig.takeRequests();
    if (sent)
        QCOMPARE(requests, QList<CommandBuffer>{frame});
    else
        QVERIFY(requests.isEmpty());
}

void TestLocoConfig::restartFrame()
{
    StationRig rig;
    QVERIFY(LocoConfig::restartController(1));
    QCOMPARE(rig.takeRequests(),
             QList<CommandBuffer>{(CommandBuffer{1, Command::SetParameter, 0, 3, 0})});
    QCOMPARE(rig.station.state().restarts, 1);

    rig.station.addFault(Fault::noReply(Fault::Always));
    QVERIFY(!LocoConfig::restartController(1));
}

void TestLocoConfig::toolBarKeys_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("code");

    QTest::newRow("btn14") << "btn14" << "14" << 1;
    QTest::newRow("btn28") << "btn28" << "28" << 2;
    QTest::newRow("btn126") << "btn126" << "126" << 3;
    QTest::newRow("any case") << "BTN126" << "126" << 3;
}

void TestLocoConfig::toolBarKeys()
{
    QFETCH(QString, key);
    QFETCH(QString, steps);
    QFETCH(int, code);
    QCOMPARE(LocoConfig::speedStepsOfKey(key), steps);
    QCOMPARE(int(LocoConfig::speedStepCodeOfKey(key)), code);
}

KZ_TEST_MAIN(TestLocoConfig)
#include "test_lococonfig.moc"
