#include "link/commands.h"
#include "link/frame.h"

#include "../support/testmain.h"

// Frame layout and the small encodings every window relies on.
class TestFrame : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodesInWireOrder_data()
    {
        QTest::addColumn<int>("controller");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("p1");
        QTest::addColumn<int>("p2");
        QTest::addColumn<int>("p3");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("stop all locos") << 1 << 24 << 0 << 255 << 255 << QByteArray::fromHex("0118ffff0019");
        QTest::newRow("version query") << 3 << 2 << 0 << 253 << 0 << QByteArray::fromHex("0302fd0000fc");
        QTest::newRow("loco 3 speed 128") << 1 << 23 << 128 << 3 << 0 << QByteArray::fromHex("011703008095");
    }
    void encodesInWireOrder()
    {
        QFETCH(int, controller);
        QFETCH(int, command);
        QFETCH(int, p1);
        QFETCH(int, p2);
        QFETCH(int, p3);
        QFETCH(QByteArray, wire);
        const CommandBuffer buffer{quint8(controller), quint8(command), quint8(p1), quint8(p2),
                                   quint8(p3)};
        QCOMPARE(Frame::encode(buffer), wire);
        QCOMPARE(Frame::decode(wire), buffer);
    }

    void judgesReplies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("valid");
        QTest::newRow("function on reply") << QByteArray::fromHex("011b05000718") << true;
        QTest::newRow("wrong checksum") << QByteArray::fromHex("011b05000719") << false;
        QTest::newRow("refusal") << QByteArray::fromHex("01ff0000" "00fe") << false;
        QTest::newRow("five bytes") << QByteArray::fromHex("011b050007") << false;
        QTest::newRow("seven bytes, first six count") << QByteArray::fromHex("011b0500071800") << true;
    }
    void judgesReplies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, valid);
        QCOMPARE(Frame::isValidReply(reply), valid);
    }

    void readsReplyIntoCallerOrder()
    {
        const CommandBuffer reply = Frame::decode(QByteArray::fromHex("011b05000718"));
        QCOMPARE(reply, (CommandBuffer{1, 27, 7, 5, 0}));
    }

    void splitsSixteenBitNumbers_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::newRow("loco 10239") << 10239 << 255 << 39;
        QTest::newRow("decoder 300") << 300 << 44 << 1;
        QTest::newRow("CV 1023") << 1023 << 255 << 3;
        QTest::newRow("CV 29") << 29 << 29 << 0;
    }
    void splitsSixteenBitNumbers()
    {
        QFETCH(int, number);
        QFETCH(int, low);
        QFETCH(int, high);
        QCOMPARE(lowByte(number), quint8(low));
        QCOMPARE(highByte(number), quint8(high));
        QCOMPARE(joinBytes(quint8(low), quint8(high)), number);
    }

    void encodesBitBytes()
    {
        QCOMPARE(bitByte(5, 1), quint8(13));
        QCOMPARE(bitByte(5, 0), quint8(5));
        QCOMPARE(bitBytePosition(13), 5);
        QCOMPARE(bitByteValue(13), 1);
    }

    void readsStatusFlags_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("layout");
        QTest::addColumn<bool>("power");
        QTest::addColumn<bool>("input");
        QTest::newRow("Uno, power on") << 0x28 << int(BoardLayout::Uno) << true << false;
        QTest::newRow("Mega, power off") << 0x10 << int(BoardLayout::Mega) << false << false;
        QTest::newRow("Uno wins over Mega") << 0x18 << int(BoardLayout::Uno) << false << false;
        QTest::newRow("unknown with input") << 0x03 << int(BoardLayout::Unknown) << false << true;
    }
    void readsStatusFlags()
    {
        QFETCH(int, bits);
        QFETCH(int, layout);
        QFETCH(bool, power);
        QFETCH(bool, input);
        const StatusFlags flags{quint8(bits)};
        QCOMPARE(int(flags.layout()), layout);
        QCOMPARE(flags.trackPowerOn(), power);
        QCOMPARE(flags.hasHardwareStopInput(), input);
    }

    void readsLocoFlags()
    {
        QCOMPARE(LocoFlags::speedSteps(0x83), 126);
        QVERIFY(LocoFlags::isForward(0x83));
        QCOMPARE(LocoFlags::speedSteps(0x00), 0);
        QVERIFY(!LocoFlags::isForward(0x00));
        QCOMPARE(LocoFlags::make(LocoFlags::Steps28, true), quint8(0x82));
    }
};

KZ_TEST_MAIN(TestFrame)
#include "test_frame.moc"
