#include "simulator/stationcore.h"

#include "../support/testmain.h"

using Arrival = QPair<qint64, QByteArray>; // ms after the request, bytes
using Arrivals = QList<Arrival>;
Q_DECLARE_METATYPE(CommandBuffer)
Q_DECLARE_METATYPE(TrackOutput)
Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(Arrivals)

char *toString(const CommandBuffer &b)
{
    return qstrdup(QStringLiteral("{controller %1, command %2, P1 %3, P2 %4, P3 %5}")
                       .arg(b.controller)
                       .arg(b.command)
                       .arg(b.p1)
                       .arg(b.p2)
                       .arg(b.p3)
                       .toLatin1());
}

char *toString(const LocoEntry &e)
{
    const QByteArray text = "{" + QByteArray::number(e.number) + ", 0x"
                            + QByteArray::number(e.flags, 16) + "}";
    return qstrdup(text.constData());
}

namespace {

CommandBuffer cb(int controller, int command, int p1, int p2, int p3)
{
    return CommandBuffer{quint8(controller), quint8(command), quint8(p1), quint8(p2), quint8(p3)};
}

CommandBuffer refused(CommandBuffer request)
{
    request.command = 255;
    return request;
}

const CommandBuffer Ack = cb(1, 0, 1, 0, 0);          // command filled in per row
const CommandBuffer Nak = cb(1, 0, 255, 255, 255);

CommandBuffer programmingReply(int command, const CommandBuffer &answer)
{
    CommandBuffer r = answer;
    r.command = quint8(command);
    return r;
}

} // namespace

// The virtual command station answers from its own state, at the due times
// and with the faults it is told to make.
class TestStationCore : public QObject
{
    Q_OBJECT

    StationCore m_core;
    qint64 m_now = 1'000'000;

    // Sends request and takes whatever comes back within a second (each
    // exchange well apart from the last, so no resync gap is in the way).
    QByteArray send(const CommandBuffer &request)
    {
        m_now += 5000;
        m_core.receive(Frame::encode(request), m_now);
        return m_core.takeDue(m_now + 1000);
    }

    std::optional<CommandBuffer> exchange(const CommandBuffer &request)
    {
        const QByteArray reply = send(request);
        if (reply.size() != Frame::Size)
            return std::nullopt;
        return Frame::decode(reply);
    }

    QList<LocoEntry> walk()
    {
        QList<LocoEntry> entries;
        std::optional<CommandBuffer> r = exchange(cb(1, 20, 255, 0, 0));
        while (r && r->p1 != 255 && entries.size() < 100) {
            entries.append(LocoEntry{joinBytes(r->p2, r->p3), r->p1});
            r = exchange(cb(1, 20, 254, 0, 0));
        }
        return entries;
    }

    // Collects every piece of the reply with its time after the request.
    Arrivals arrivals(qint64 requestMs)
    {
        Arrivals result;
        while (const std::optional<qint64> due = m_core.nextDueMs())
            result.append({*due - requestMs, m_core.takeDue(*due)});
        return result;
    }

private Q_SLOTS:
    void init()
    {
        m_core = StationCore();
    }

    void answers_data()
    {
        QTest::addColumn<TrackOutput>("track");
        QTest::addColumn<CommandBuffer>("request");
        QTest::addColumn<CommandBuffer>("reply");

        const auto off = TrackOutput::Off;
        const auto prog = TrackOutput::Programming;
        auto row = [](const char *name, TrackOutput track, CommandBuffer request, CommandBuffer reply) {
            QTest::newRow(name) << track << request << reply;
        };

        row("status: Mega, stop input, power off", off, cb(1, 2, 0, 0, 0), cb(1, 0, 0x11, 0, 0));
        row("status: power on", TrackOutput::PowerOn, cb(1, 2, 0, 0, 0), cb(1, 0, 0x31, 0, 0));
        row("status: programming is no track power", prog, cb(1, 2, 0, 0, 0), cb(1, 0, 0x11, 0, 0));
        row("status to all controllers", off, cb(255, 2, 0, 0, 0), cb(1, 0, 0x11, 0, 0));
        row("status for another controller comes back unchanged", off, cb(7, 2, 0, 0, 0),
            cb(7, 2, 0, 0, 0));
        row("version", off, cb(1, 2, 0, 253, 0), cb(1, 2, 0, 5, 2));
        row("operating track pins", off, cb(1, 2, 0, 252, 0), cb(1, 2, 54, 3, 11));
        row("programming track pins", off, cb(1, 2, 0, 251, 0), cb(1, 2, 55, 5, 12));
        row("unknown selector", off, cb(1, 2, 0, 7, 0), refused(cb(1, 2, 0, 7, 0)));

        row("speed", off, cb(1, 23, 128, 3, 0), cb(1, 23, 128, 3, 0));
        row("speed to all controllers", off, cb(255, 23, 128, 3, 0), cb(1, 23, 128, 3, 0));
        row("speed of loco 10239", off, cb(1, 23, 5, 255, 39), cb(1, 23, 5, 255, 39));
        row("speed of loco 0", off, cb(1, 23, 5, 0, 0), refused(cb(1, 23, 5, 0, 0)));
        row("speed of loco 10240", off, cb(1, 23, 5, 0, 40), refused(cb(1, 23, 5, 0, 40)));
        row("direction 2", off, cb(1, 22, 2, 3, 0), refused(cb(1, 22, 2, 3, 0)));
        row("stop all locos", off, cb(1, 24, 0, 255, 255), cb(1, 24, 0, 255, 255));
        row("function F12", off, cb(1, 27, 12, 3, 0), cb(1, 27, 12, 3, 0));
        row("function 13", off, cb(1, 28, 13, 3, 0), refused(cb(1, 28, 13, 3, 0)));
        row("accessory 300 output 2", off, cb(1, 25, 2, 44, 1), cb(1, 25, 2, 44, 1));
        row("accessory output 4", off, cb(1, 25, 4, 44, 1), refused(cb(1, 25, 4, 44, 1)));
        row("accessory 512", off, cb(1, 26, 0, 0, 2), refused(cb(1, 26, 0, 0, 2)));
        row("unknown command", off, cb(1, 40, 0, 0, 0), refused(cb(1, 40, 0, 0, 0)));
        row("unknown parameter", off, cb(1, 1, 0, 7, 0), refused(cb(1, 1, 0, 7, 0)));
        row("track mode 3", off, cb(1, 1, 0, 10, 3), refused(cb(1, 1, 0, 10, 3)));
        row("walk of an empty list", off, cb(1, 20, 255, 0, 0), cb(1, 20, 255, 0, 0));
        row("single query of an unknown loco", off, cb(1, 20, 0, 9, 0), cb(1, 20, 255, 9, 0));
        row("walk code 7", off, cb(1, 20, 7, 0, 0), refused(cb(1, 20, 7, 0, 0)));

        // Decoder defaults: CV 1 = 3, CV 29 = 6 (bits 1 and 2), the top of the
        // speed table CV 94 = 255, no CV 9 and no CV 1024.
        row("verify CV 1 = 3", prog, cb(1, 33, 3, 1, 0), programmingReply(33, Ack));
        row("verify CV 1 = 4", prog, cb(1, 33, 4, 1, 0), programmingReply(33, Nak));
        row("verify CV 1 = 3 without programming mode", off, cb(1, 33, 3, 1, 0),
            programmingReply(33, Nak));
        row("verify CV 29 bit 1 = 1", prog, cb(1, 34, 9, 29, 0), programmingReply(34, Ack));
        row("verify CV 29 bit 5 = 1", prog, cb(1, 34, 13, 29, 0), programmingReply(34, Nak));
        row("verify CV 29 bit 5 = 0", prog, cb(1, 34, 5, 29, 0), programmingReply(34, Ack));
        row("verify bit byte above 15", prog, cb(1, 34, 0x15, 29, 0), programmingReply(34, Nak));
        row("verify register 5 = CV 29", prog, cb(1, 35, 6, 5, 0), programmingReply(35, Ack));
        row("verify register 9", prog, cb(1, 35, 0, 9, 0), programmingReply(35, Nak));
        row("verify CV 1024, which the decoder lacks", prog, cb(1, 33, 0, 0, 4),
            programmingReply(33, Nak));
        row("bit check of CV 9, which the decoder lacks", prog, cb(1, 34, 0, 9, 0),
            programmingReply(34, Nak));
        row("verify CV 7 = 42", prog, cb(1, 33, 42, 7, 0), programmingReply(33, Ack));
        row("verify CV 8 = 13", prog, cb(1, 33, 13, 8, 0), programmingReply(33, Ack));
        row("verify CV 94 = 255", prog, cb(1, 33, 255, 94, 0), programmingReply(33, Ack));
        row("verify CV 1025", prog, cb(1, 33, 0, 1, 4), programmingReply(33, Nak));
        row("verify CV 0", prog, cb(1, 33, 0, 0, 0), programmingReply(33, Nak));
        row("write CV 1023 = 255", prog, cb(1, 30, 255, 255, 3), programmingReply(30, Ack));
        row("write without programming mode", off, cb(1, 30, 5, 1, 0), programmingReply(30, Nak));
    }

    void answers()
    {
        QFETCH(TrackOutput, track);
        QFETCH(CommandBuffer, request);
        QFETCH(CommandBuffer, reply);

        m_core.setTrackOutput(track);
        const QByteArray bytes = send(request);
        QCOMPARE(bytes.toHex(' '), Frame::encode(reply).toHex(' '));
    }

    void silence_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("wrong checksum") << QByteArray::fromHex("010200000004");
        QTest::newRow("speed for another controller") << Frame::encode(cb(2, 23, 5, 3, 0));
        QTest::newRow("version query for another controller") << Frame::encode(cb(2, 2, 0, 253, 0));
        QTest::newRow("status query with P2 255 for another controller")
            << Frame::encode(cb(2, 2, 0, 255, 0));
    }

    void silence()
    {
        QFETCH(QByteArray, bytes);
        m_core.receive(bytes, m_now);
        QVERIFY(!m_core.nextDueMs());
        QVERIFY(m_core.takeDue(m_now + 10000).isEmpty());
    }

    // A board that restarts when its port is opened loses what comes while
    // its boot loader runs, and starts afresh: track off, drives forgotten.
    void restartOnOpen_data()
    {
        QTest::addColumn<int>("restartMs");
        QTest::addColumn<qint64>("requestAfterMs");
        QTest::addColumn<bool>("answered");
        QTest::newRow("no restart") << 0 << qint64(0) << true;
        QTest::newRow("while restarting") << 1800 << qint64(1799) << false;
        QTest::newRow("restarted") << 1800 << qint64(1800) << true;
    }
    void restartOnOpen()
    {
        QFETCH(int, restartMs);
        QFETCH(qint64, requestAfterMs);
        QFETCH(bool, answered);
        m_core.setResetOnOpenMs(restartMs);
        m_core.setTrackOutput(TrackOutput::PowerOn);
        m_core.deviceOpened(m_now);
        QCOMPARE(m_core.state().track, restartMs > 0 ? TrackOutput::Off : TrackOutput::PowerOn);
        m_core.receive(Frame::encode(cb(1, 2, 0, 0, 0)), m_now + requestAfterMs);
        QCOMPARE(m_core.takeDue(m_now + 10000).size(), answered ? Frame::Size : 0);
        QCOMPARE(m_core.receivedRequests().size(), answered ? 1 : 0);
    }

    void parametersChangeTheState()
    {
        QCOMPARE(exchange(cb(1, 1, 1, 10, 1))->command, 1); // track power on
        QCOMPARE(exchange(cb(1, 2, 0, 0, 0))->p1, 0x31);
        QCOMPARE(exchange(cb(1, 1, 0, 5, 1))->command, 1); // stop input on
        QCOMPARE(exchange(cb(1, 2, 0, 0, 0))->p1, 0x33);
        QCOMPARE(exchange(cb(1, 1, 0, 10, 0))->command, 1);
        QCOMPARE(exchange(cb(1, 2, 0, 0, 0))->p1, 0x13);

        // Pins: P3 output, P1 load current; monitoring P3 operating, P1 programming.
        exchange(cb(1, 1, 9, 20, 8));
        exchange(cb(1, 1, 10, 21, 11));
        exchange(cb(1, 1, 57, 22, 56));
        QCOMPARE(*exchange(cb(1, 2, 0, 252, 0)), cb(1, 2, 56, 8, 9));
        QCOMPARE(*exchange(cb(1, 2, 0, 251, 0)), cb(1, 2, 57, 11, 10));

        m_core.setLayout(BoardLayout::Uno);
        m_core.setHardwareStopInput(false);
        QCOMPARE(exchange(cb(1, 2, 0, 0, 0))->p1, 0x08);
        QCOMPARE(exchange(cb(1, 2, 0, 252, 0))->p1, 14); // A0 of the Uno
        QCOMPARE(exchange(cb(1, 1, 0, 5, 1))->command, 255); // no input to switch
        m_core.setLayout(BoardLayout::Unknown);
        QCOMPARE(exchange(cb(1, 2, 0, 0, 0))->p1, 0x00);

        m_core.setControllerNumber(9);
        m_core.setFirmware(5, 1, 8);
        QCOMPARE(*exchange(cb(9, 2, 0, 253, 0)), cb(9, 2, 8, 5, 1));
        QCOMPARE(*exchange(cb(1, 2, 0, 0, 0)), cb(1, 2, 0, 0, 0));
    }

    void driveState()
    {
        exchange(cb(1, 23, 200, 3, 0));
        exchange(cb(1, 22, 0, 3, 0));
        exchange(cb(1, 27, 0, 3, 0));
        exchange(cb(1, 27, 12, 3, 0));
        exchange(cb(1, 28, 0, 3, 0));
        exchange(cb(1, 23, 90, 0x2C, 1)); // loco 300
        QCOMPARE(m_core.state().drives.value(3), (LocoDrive{200, false, 1 << 12}));
        QCOMPARE(m_core.state().drives.value(300).speed, 90);

        exchange(cb(1, 24, 0, 3, 0));
        QCOMPARE(m_core.state().drives.value(3).speed, 0);
        QCOMPARE(m_core.state().drives.value(300).speed, 90);
        exchange(cb(1, 24, 0, 255, 255));
        QCOMPARE(m_core.state().drives.value(300).speed, 0);

        exchange(cb(1, 25, 2, 44, 1));
        exchange(cb(1, 25, 0, 44, 1));
        exchange(cb(1, 26, 2, 44, 1));
        QCOMPARE(m_core.state().accessories.value(300), 0x01);
    }

    void locoList()
    {
        m_core.setLocos({{12, 0x82}, {3, 0x01}, {7, 0x83}});
        // Storage order, then the end, which stays the end.
        QCOMPARE(walk(), (QList<LocoEntry>{{12, 0x82}, {3, 0x01}, {7, 0x83}}));
        QCOMPARE(exchange(cb(1, 20, 254, 0, 0))->p1, 255);
        QCOMPARE(exchange(cb(1, 20, 254, 0, 0))->p1, 255);
        // "first" starts again; the station keeps the position between requests.
        QCOMPARE(*exchange(cb(1, 20, 255, 0, 0)), cb(1, 20, 0x82, 12, 0));
        QCOMPARE(*exchange(cb(1, 20, 254, 0, 0)), cb(1, 20, 0x01, 3, 0));

        exchange(cb(1, 21, 2, 0x00, 0x27)); // loco 9984
        exchange(cb(1, 21, 0x83, 3, 0));  // change in place
        exchange(cb(1, 21, 0, 7, 0));     // delete
        exchange(cb(1, 21, 0, 8, 0));     // deleting an unknown loco changes nothing
        exchange(cb(1, 21, 0xFF, 5, 0));  // bits 2-6 are not kept
        QCOMPARE(exchange(cb(1, 21, 2, 0, 0))->command, 255); // loco 0
        const QList<LocoEntry> stored{{12, 0x82}, {3, 0x83}, {9984, 0x02}, {5, 0x83}};
        QCOMPARE(walk(), stored);
        QCOMPARE(exchange(cb(1, 20, 0, 3, 0))->p1, 0x83);
        QCOMPARE(exchange(cb(1, 20, 0, 7, 0))->p1, 255);

        // Writes wait in the stored list until the restart takes them into use.
        QCOMPARE(m_core.state().activeLocos, (QList<LocoEntry>{{12, 0x82}, {3, 0x01}, {7, 0x83}}));
        m_core.setTrackOutput(TrackOutput::PowerOn);
        exchange(cb(1, 23, 50, 3, 0));
        QCOMPARE(*exchange(cb(1, 1, 0, 3, 0)), cb(1, 1, 0, 3, 0));
        QCOMPARE(m_core.state().activeLocos, stored);
        QCOMPARE(m_core.state().restarts, 1);
        QCOMPARE(m_core.state().track, TrackOutput::Off);
        QVERIFY(m_core.state().drives.isEmpty());
        // A "next" right after the restart starts at the beginning.
        QCOMPARE(exchange(cb(1, 20, 254, 0, 0))->p2, 12);
    }

    void programmingWrites_data()
    {
        QTest::addColumn<CommandBuffer>("request");
        QTest::addColumn<int>("cv"); // negative: register
        QTest::addColumn<int>("value");

        QTest::newRow("CV 17 byte") << cb(1, 30, 77, 17, 0) << 17 << 77;
        QTest::newRow("CV 1024 byte") << cb(1, 30, 9, 0, 4) << 1024 << 9;
        QTest::newRow("CV 29 bit 5 = 1") << cb(1, 31, 13, 29, 0) << 29 << 38;
        QTest::newRow("CV 29 bit 2 = 0") << cb(1, 31, 2, 29, 0) << 29 << 2;
        QTest::newRow("register 1 is CV 1") << cb(1, 32, 44, 1, 0) << 1 << 44;
        QTest::newRow("register 4 is CV 4") << cb(1, 32, 45, 4, 0) << 4 << 45;
        QTest::newRow("register 5 is CV 29") << cb(1, 32, 46, 5, 0) << 29 << 46;
        QTest::newRow("register 6 is the page register") << cb(1, 32, 47, 6, 0) << -6 << 47;
        QTest::newRow("register 7 is CV 7") << cb(1, 32, 48, 7, 0) << 7 << 48;
        QTest::newRow("register 8 is CV 8") << cb(1, 32, 255, 8, 0) << 8 << 255;
        // The factory reset keeps the maker id in CV 8.
        QTest::newRow("8 to CV 8 resets") << cb(1, 30, 8, 8, 0) << 8 << 13;
        QTest::newRow("8 to register 8 resets") << cb(1, 32, 8, 8, 0) << 8 << 13;
        QTest::newRow("bit 3 of CV 8 is no reset") << cb(1, 31, 3, 8, 0) << 8 << 5;
    }

    void programmingWrites()
    {
        QFETCH(CommandBuffer, request);
        QFETCH(int, cv);
        QFETCH(int, value);

        m_core.setTrackOutput(TrackOutput::Programming);
        QCOMPARE(*exchange(request), programmingReply(request.command, Ack));
        QCOMPARE(cv > 0 ? m_core.cv(cv) : m_core.registerValue(-cv), value);
        if (request.command == Command::WriteRegister) {
            QCOMPARE(exchange(cb(1, 35, value, request.p2, 0))->p1, 1);
            QCOMPARE(exchange(cb(1, 35, value ^ 1, request.p2, 0))->p1, 255);
        }

        // Without a decoder nothing is acknowledged and nothing changes.
        StationCore empty;
        empty.setDecoderPresent(false);
        empty.setTrackOutput(TrackOutput::Programming);
        m_core = empty;
        const int before = cv > 0 ? m_core.cv(cv) : m_core.registerValue(-cv);
        QCOMPARE(*exchange(request), programmingReply(request.command, Nak));
        QCOMPARE(cv > 0 ? m_core.cv(cv) : m_core.registerValue(-cv), before);
    }

    // What the decoder remembers across writes and a factory reset: after
    // the writes, one check and its reply.
    void decoderMemory_data()
    {
        QTest::addColumn<QList<CommandBuffer>>("writes");
        QTest::addColumn<CommandBuffer>("check");
        QTest::addColumn<CommandBuffer>("reply");

        const CommandBuffer reset = cb(1, 30, 8, 8, 0);
        auto row = [](const char *name, QList<CommandBuffer> writes, CommandBuffer check,
                      CommandBuffer reply) {
            QTest::newRow(name) << writes << check << programmingReply(check.command, reply);
        };
        row("a written CV answers", {cb(1, 30, 5, 44, 1)}, cb(1, 33, 5, 44, 1), Ack);
        row("a bit written to a new CV answers", {cb(1, 31, 9, 9, 0)}, cb(1, 33, 2, 9, 0), Ack);
        row("a reset forgets a written CV", {cb(1, 30, 5, 44, 1), reset}, cb(1, 33, 5, 44, 1), Nak);
        row("a reset restores CV 29", {cb(1, 30, 38, 29, 0), reset}, cb(1, 33, 6, 29, 0), Ack);
        row("a reset through register 8", {cb(1, 30, 38, 29, 0), cb(1, 32, 8, 8, 0)},
            cb(1, 33, 6, 29, 0), Ack);
        row("a reset keeps the maker id", {cb(1, 30, 77, 8, 0), reset}, cb(1, 33, 151, 8, 0), Ack);
        row("a reset keeps the version", {cb(1, 30, 77, 7, 0), reset}, cb(1, 33, 12, 7, 0), Ack);
        row("9 to CV 8 is no reset", {cb(1, 30, 38, 29, 0), cb(1, 30, 9, 8, 0)},
            cb(1, 33, 38, 29, 0), Ack);
    }

    void decoderMemory()
    {
        QFETCH(QList<CommandBuffer>, writes);
        QFETCH(CommandBuffer, check);
        QFETCH(CommandBuffer, reply);

        m_core.setTrackOutput(TrackOutput::Programming);
        m_core.setDecoderIdentity(151, 12);
        for (const CommandBuffer &write : std::as_const(writes))
            QCOMPARE(exchange(write)->p1, Ack.p1);
        QCOMPARE(*exchange(check), reply);

        // A CV the setup takes away answers nothing any more.
        m_core.removeCv(29);
        QCOMPARE(exchange(cb(1, 34, 9, 29, 0))->p1, Nak.p1);
    }

    void timing_data()
    {
        QTest::addColumn<bool>("realistic");
        QTest::addColumn<CommandBuffer>("request");
        QTest::addColumn<int>("lineSpeed"); // baud; 0 for a line without time
        QTest::addColumn<qint64>("delay");

        QTest::newRow("verify, plain") << false << cb(1, 33, 3, 1, 0) << 0 << qint64(1);
        QTest::newRow("status, realistic") << true << cb(1, 2, 0, 0, 0) << 0 << qint64(1);
        QTest::newRow("verify acknowledged") << true << cb(1, 33, 3, 1, 0) << 0 << qint64(100);
        QTest::newRow("verify not acknowledged") << true << cb(1, 33, 4, 1, 0) << 0 << qint64(150);
        QTest::newRow("bit check acknowledged") << true << cb(1, 34, 9, 29, 0) << 0 << qint64(100);
        QTest::newRow("write") << true << cb(1, 30, 4, 1, 0) << 0 << qint64(150);
        QTest::newRow("register write") << true << cb(1, 32, 4, 1, 0) << 0 << qint64(150);
        QTest::newRow("restart") << true << cb(1, 1, 0, 3, 0) << 0 << qint64(300);
        // Twelve bytes of ten bits each pass the line: about 1 ms at
        // 115200 baud, 12.5 ms at 9600, besides the station's own time.
        QTest::newRow("status at 115200 baud") << false << cb(1, 2, 0, 0, 0) << 115200 << qint64(2);
        QTest::newRow("status at 9600 baud") << false << cb(1, 2, 0, 0, 0) << 9600 << qint64(14);
        QTest::newRow("write at 9600 baud, realistic")
            << true << cb(1, 30, 4, 1, 0) << 9600 << qint64(163);
    }

    void timing()
    {
        QFETCH(bool, realistic);
        QFETCH(CommandBuffer, request);
        QFETCH(int, lineSpeed);
        QFETCH(qint64, delay);

        m_core.setTrackOutput(TrackOutput::Programming);
        m_core.setRealisticTiming(realistic);
        m_core.setLineSpeed(lineSpeed);
        m_core.receive(Frame::encode(request), m_now);
        QCOMPARE(m_core.nextDueMs(), std::optional<qint64>(m_now + delay));
        QVERIFY(m_core.takeDue(m_now + delay - 1).isEmpty());
        QCOMPARE(m_core.takeDue(m_now + delay).size(), 6);
        QVERIFY(!m_core.hasPendingReplies());
    }

    void replyDelayIsAdjustable()
    {
        m_core.setReplyDelayMs(0);
        m_core.receive(Frame::encode(cb(1, 2, 0, 0, 0)), m_now);
        QCOMPARE(m_core.takeDue(m_now).size(), 6);
    }

    void faults_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<Arrivals>("expected");

        // The reply to the status query is 01 00 00 00 11 10.
        auto hex = [](const char *h) { return QByteArray::fromHex(h); };
        QTest::newRow("none") << Fault::lateReply(0, 0) << Arrivals{{1, hex("010000001110")}};
        QTest::newRow("no reply") << Fault::noReply() << Arrivals{};
        QTest::newRow("late") << Fault::lateReply(2500) << Arrivals{{2501, hex("010000001110")}};
        QTest::newRow("wrong checksum") << Fault::wrongChecksum() << Arrivals{{1, hex("01000000114A")}};
        QTest::newRow("refusal") << Fault::refusal() << Arrivals{{1, hex("01FF000011EF")}};
        QTest::newRow("split") << Fault::splitReply({2, 3}, 5)
                               << Arrivals{{1, hex("0100")}, {6, hex("000011")}, {11, hex("10")}};
        QTest::newRow("noise") << Fault::noise(hex("AA"), hex("BBCC"))
                               << Arrivals{{1, hex("AA010000001110BBCC")}};
        QTest::newRow("other controller") << Fault::otherController(7)
                                          << Arrivals{{1, hex("070000001116")}};
        QTest::newRow("twice") << Fault::doubleReply()
                               << Arrivals{{1, hex("010000001110010000001110")}};
    }

    void faults()
    {
        QFETCH(Fault, fault);
        QFETCH(Arrivals, expected);

        m_core.addFault(fault);
        m_core.receive(Frame::encode(cb(1, 2, 0, 0, 0)), m_now);
        QCOMPARE(arrivals(m_now), expected);
        // Spent: the next request is answered normally.
        m_now += 5000;
        m_core.receive(Frame::encode(cb(1, 2, 0, 0, 0)), m_now);
        QCOMPARE(arrivals(m_now), (Arrivals{{1, QByteArray::fromHex("010000001110")}}));
    }

    void faultCountsAndCombinations()
    {
        m_core.addFault(Fault::noReply(2));
        QVERIFY(send(cb(1, 23, 9, 3, 0)).isEmpty());
        QCOMPARE(m_core.state().drives.value(3).speed, 9); // carried out all the same
        QVERIFY(send(cb(1, 2, 0, 0, 0)).isEmpty());
        QCOMPARE(send(cb(1, 2, 0, 0, 0)).size(), 6);

        // A request that gets no reply anyway does not use a fault up.
        m_core.addFault(Fault::refusal(1));
        send(cb(4, 23, 9, 3, 0));
        QCOMPARE(exchange(cb(1, 2, 0, 0, 0))->command, 255);

        m_core.addFault(Fault::otherController(5, Fault::Always));
        m_core.addFault(Fault::splitReply({3}, 10, Fault::Always));
        for (int i = 0; i < 3; ++i) {
            m_now += 5000;
            m_core.receive(Frame::encode(cb(1, 2, 0, 253, 0)), m_now);
            QCOMPARE(arrivals(m_now), (Arrivals{{1, QByteArray::fromHex("050205")},
                                                {11, QByteArray::fromHex("020000")}}));
        }
        QCOMPARE(m_core.faults().size(), 2);
        m_core.clearFaults();
        QCOMPARE(exchange(cb(1, 2, 0, 253, 0))->controller, 1);
    }

    void frameAssembly()
    {
        const QByteArray status = Frame::encode(cb(1, 2, 0, 0, 0));

        // A frame that trickles in is one frame.
        m_core.receive(status.left(2), m_now);
        m_core.receive(status.mid(2, 2), m_now + 5);
        m_core.receive(status.mid(4), m_now + 10);
        QCOMPARE(m_core.takeDue(m_now + 100).size(), 6);

        // After a quiet line the rest of a disturbance is dropped.
        m_now += 1000;
        m_core.receive(QByteArray::fromHex("010203"), m_now);
        m_core.receive(status, m_now + 21);
        QCOMPARE(m_core.takeDue(m_now + 100), QByteArray::fromHex("010000001110"));
        QCOMPARE(m_core.log().at(m_core.log().size() - 3).note, QStringLiteral("unvollständig, verworfen"));

        // Two requests at once: both answered, in order, the slow one first.
        m_now += 1000;
        m_core.setRealisticTiming(true);
        m_core.setTrackOutput(TrackOutput::Programming);
        m_core.receive(QByteArray(Frame::encode(cb(1, 33, 3, 1, 0)) + status), m_now);
        QCOMPARE(m_core.nextDueMs(), std::optional<qint64>(m_now + 100));
        QCOMPARE(m_core.takeDue(m_now + 100).size(), 6);
        QCOMPARE(m_core.takeDue(m_now + 101), QByteArray::fromHex("010000001110"));

        // A line reset forgets replies under way.
        m_core.receive(status, m_now + 500);
        m_core.resetLine();
        QVERIFY(!m_core.nextDueMs());
    }

    void log()
    {
        m_core.receive(Frame::encode(cb(1, 2, 0, 0, 0)), 1000);
        m_core.receive(QByteArray::fromHex("010200000004"), 2000);
        m_core.receive(Frame::encode(cb(4, 23, 1, 2, 0)), 3000);
        m_core.addFault(Fault::wrongChecksum());
        m_core.receive(Frame::encode(cb(1, 23, 1, 2, 0)), 4000);

        QCOMPARE(m_core.receivedRequests(),
                 (QList<CommandBuffer>{cb(1, 2, 0, 0, 0), cb(4, 23, 1, 2, 0), cb(1, 23, 1, 2, 0)}));
        QCOMPARE(m_core.sentReplies(), (QList<CommandBuffer>{cb(1, 0, 0x11, 0, 0), cb(1, 23, 1, 2, 0)}));
        QCOMPARE(m_core.logLines(),
                 (QStringList{
                     QStringLiteral("      1000 ms RX 01 02 00 00 00 03"),
                     QStringLiteral("      1001 ms TX 01 00 00 00 11 10"),
                     QStringLiteral("      2000 ms RX 01 02 00 00 00 04  (Prüfsumme falsch, keine Antwort)"),
                     QStringLiteral("      3000 ms RX 04 17 02 00 01 10  (anderer Controller, keine Antwort)"),
                     QStringLiteral("      4000 ms RX 01 17 02 00 01 15"),
                     QStringLiteral("      4001 ms TX 01 17 02 00 01 4F  (Prüfsumme verfälscht)"),
                 }));

        m_core.setLogLimit(2);
        m_core.receive(Frame::encode(cb(1, 2, 0, 0, 0)), 5000);
        QCOMPARE(m_core.log().size(), 2);
        QCOMPARE(m_core.log().first().direction, LogEntry::Received);
        m_core.clearLog();
        QVERIFY(m_core.log().isEmpty());
    }
};

KZ_TEST_MAIN(TestStationCore)
#include "test_stationcore.moc"
