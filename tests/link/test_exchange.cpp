#include "scriptedport.h"

#include "common/program.h"
#include "link/clock.h"
#include "common/lineboxes.h"
#include "link/exchange.h"
#include "link/portsession.h"

#include "../support/recordingboxes.h"
#include "../support/testmain.h"

using Responses = QList<ScriptedPort::Response>;
Q_DECLARE_METATYPE(ScriptedPort::Response)
Q_DECLARE_METATYPE(Responses)
Q_DECLARE_METATYPE(CommandBuffer)
Q_DECLARE_METATYPE(ExchangeFailure)
Q_DECLARE_METATYPE(ExchangePolicy)

namespace {

QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

ScriptedPort::Response at(qint64 ms, const char *hex)
{
    return {{ms, bytes(hex)}};
}

const ScriptedPort::Response Silence{};

} // namespace

// The retrying exchange against a port whose replies are scripted to the
// millisecond.
class TestExchange : public QObject
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

    void exchanges_data()
    {
        QTest::addColumn<CommandBuffer>("request");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<bool>("showFailure");
        QTest::addColumn<Responses>("responses");
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("writes");
        QTest::addColumn<CommandBuffer>("buffer");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<qint64>("elapsedMs");

        const CommandBuffer fn{1, 27, 7, 5, 0};
        const QString noReply1 = QStringLiteral("Controller 1 antwortet nicht.");

        QTest::newRow("valid reply")
            << fn << 2 << true << Responses{at(3, "011b05000718")} << true << 1 << fn
            << QStringList() << qint64(3);
        QTest::newRow("reply from another controller is taken")
            << CommandBuffer{3, 2, 0, 0, 0} << 2 << true << Responses{at(1, "070200000005")}
            << true << 1 << CommandBuffer{7, 2, 0, 0, 0} << QStringList() << qint64(1);
        QTest::newRow("wrong checksum twice")
            << fn << 2 << true << Responses{at(1, "011b05000719"), at(1, "011b05000719")} << false
            << 2 << fn << QStringList{noReply1} << qint64(2);
        QTest::newRow("wrong checksum once, then valid")
            << fn << 2 << true << Responses{at(1, "011b05000719"), at(1, "011b05000718")} << true
            << 2 << fn << QStringList() << qint64(2);
        QTest::newRow("refusal")
            << fn << 2 << true << Responses{at(1, "01ff000000fe"), at(1, "01ff000000fe")} << false
            << 2 << fn << QStringList{noReply1} << qint64(2);
        QTest::newRow("five bytes wait out the time-out")
            << fn << 2 << true << Responses{at(1, "011b050007"), at(1, "011b050007")} << false << 2
            << fn << QStringList{noReply1} << qint64(4000);
        QTest::newRow("nine bytes: first six judged")
            << fn << 2 << true << Responses{at(1, "011b05000718aabbcc")} << true << 1 << fn
            << QStringList() << qint64(1);
        QTest::newRow("reply in pieces")
            << fn << 2 << true
            << Responses{{{1, bytes("011b")}, {5, bytes("0500")}, {9, bytes("0718")}}} << true << 1
            << fn << QStringList() << qint64(9);
        QTest::newRow("no reply, attempts 0 means three")
            << fn << 0 << true << Responses{} << false << 3 << fn << QStringList{noReply1}
            << qint64(6000);
        QTest::newRow("no reply, no failure box")
            << fn << 2 << false << Responses{} << false << 2 << fn << QStringList() << qint64(4000);
        QTest::newRow("all controllers")
            << CommandBuffer{255, 24, 0, 255, 255} << 2 << true << Responses{} << false << 2
            << CommandBuffer{255, 24, 0, 255, 255}
            << QStringList{QStringLiteral("Kommunikation zu den TALVIRO Controllern unterbrochen")}
            << qint64(4000);
    }
    void exchanges()
    {
        QFETCH(CommandBuffer, request);
        QFETCH(int, attempts);
        QFETCH(bool, showFailure);
        QFETCH(Responses, responses);
        QFETCH(bool, result);
        QFETCH(int, writes);
        QFETCH(CommandBuffer, buffer);
        QFETCH(QStringList, boxes);
        QFETCH(qint64, elapsedMs);

        RecordingMessageBoxes recorder;
        m_port.responses = responses;
        CommandBuffer caller = request;
        const qint64 start = m_clock.nowMs();

        QCOMPARE(SendCommand(caller, qint16(attempts), showFailure, 2), result);
        QCOMPARE(m_clock.nowMs() - start, elapsedMs);
        QCOMPARE(caller, buffer);
        QCOMPARE(m_port.writes.size(), writes);
        // Every attempt sends the caller's bytes, never a rejected reply.
        for (const QByteArray &frame : std::as_const(m_port.writes))
            QCOMPARE(frame, Frame::encode(request));
        QCOMPARE(recorder.texts(), boxes);
        for (const MessageBoxRequest &box : recorder.boxes()) {
            QCOMPARE(box.buttons, BoxButtons::RetryCancel);
            QCOMPARE(box.icon, BoxIcon::Warning);
            QCOMPARE(box.caption, Program::Title);
        }
    }

    // The result names why no reply came, and never hands the request back
    // as a reply.
    void failureKinds_data()
    {
        QTest::addColumn<Responses>("responses");
        QTest::addColumn<QString>("portName");
        QTest::addColumn<bool>("failWrites");
        QTest::addColumn<ExchangeFailure>("failure");
        QTest::addColumn<ExchangePolicy>("policy");
        QTest::addColumn<int>("boxes");

        const ExchangePolicy quiet = Exchange::Quiet;
        const ExchangePolicy background = Exchange::Background;

        const QString com = QStringLiteral("COM1");
        QTest::newRow("valid reply")
            << Responses{at(1, "011b05000718")} << com << false << ExchangeFailure::None << quiet
            << 0;
        QTest::newRow("refusal")
            << Responses{at(1, "01ff000000fe"), at(1, "01ff000000fe")} << com << false
            << ExchangeFailure::Refused << quiet << 0;
        QTest::newRow("refusal with a wrong checksum")
            << Responses{at(1, "01ff000000ff"), at(1, "01ff000000ff")} << com << false
            << ExchangeFailure::NoReply << quiet << 0;
        QTest::newRow("wrong checksum")
            << Responses{at(1, "011b05000719"), at(1, "011b05000719")} << com << false
            << ExchangeFailure::NoReply << quiet << 0;
        QTest::newRow("refusal, then silence")
            << Responses{at(1, "01ff000000fe")} << com << false << ExchangeFailure::NoReply
            << quiet << 0;
        QTest::newRow("silence")
            << Responses{} << com << false << ExchangeFailure::NoReply << quiet << 0;
        QTest::newRow("write fails")
            << Responses{} << com << true << ExchangeFailure::PortError << quiet << 0;
        // The programmer's steps keep the access box; a remote source gets none.
        QTest::newRow("write fails, background")
            << Responses{} << com << true << ExchangeFailure::PortError << background << 3;
        QTest::newRow("simulation")
            << Responses{} << QStringLiteral("NUL") << false << ExchangeFailure::Simulation
            << quiet << 0;
    }
    void failureKinds()
    {
        QFETCH(Responses, responses);
        QFETCH(QString, portName);
        QFETCH(bool, failWrites);
        QFETCH(ExchangeFailure, failure);
        QFETCH(ExchangePolicy, policy);
        QFETCH(int, boxes);

        RecordingMessageBoxes recorder;
        m_port.responses = responses;
        m_port.failWrites = failWrites;
        setCurrentPortName(portName);
        const CommandBuffer fn{1, 27, 7, 5, 0};
        // The line itself shows nothing; the window's form shows what the
        // policy asks for.
        const ExchangeResult result = RunWindowExchange(fn, policy);
        QCOMPARE(result.failure, failure);
        QCOMPARE(recorder.count(), boxes);
        QCOMPARE(result.answered(), failure == ExchangeFailure::None);
        if (result.reply)
            QCOMPARE(*result.reply, fn);
    }

    // A reply that comes after its exchange has given up must never be taken
    // for the answer to the next request.
    void lateReplyIsNeverTakenForTheNextRequest()
    {
        RecordingMessageBoxes recorder;
        m_port.responses = {at(2500, "011b09000714"), at(5, "011705000013")};
        CommandBuffer first{1, 27, 9, 0, 0};
        QVERIFY(!SendCommand(first, 1, false, 2));
        m_clock.advance(1000);
        CommandBuffer second{1, 23, 0, 5, 0};
        QVERIFY(SendCommand(second, 1, false, 2));
        QCOMPARE(second, (CommandBuffer{1, 23, 0, 5, 0}));
    }

    void retryAnswerSendsNothingAgain()
    {
        RecordingMessageBoxes recorder;
        recorder.script({BoxAnswer::Retry});
        CommandBuffer buffer{1, 23, 0, 3, 0};
        QVERIFY(!SendCommand(buffer, 2, true, 2));
        QCOMPARE(m_port.writes.size(), 2);
        QCOMPARE(recorder.count(), 1);
    }

    void simulationModeSendsNothing_data()
    {
        QTest::addColumn<QString>("portName");
        QTest::newRow("upper case") << QStringLiteral("NUL");
        QTest::newRow("lower case") << QStringLiteral("nul");
        QTest::newRow("mixed case") << QStringLiteral("NuL");
    }
    void simulationModeSendsNothing()
    {
        QFETCH(QString, portName);
        RecordingMessageBoxes recorder;
        setCurrentPortName(portName);
        CommandBuffer buffer{1, 23, 0, 3, 0};
        const qint64 start = m_clock.nowMs();
        QVERIFY(!SendCommand(buffer, 2, true, 2));
        QCOMPARE(buffer, (CommandBuffer{1, 23, 0, 3, 0}));
        QVERIFY(m_port.writes.isEmpty());
        QCOMPARE(recorder.count(), 0);
        QCOMPARE(m_clock.nowMs(), start);
    }

    // A frame that cannot be written cannot be answered: each attempt shows
    // the access error and ends without waiting for its time-out.
    void unwritableFrameFailsAtOnce_data()
    {
        QTest::addColumn<bool>("portOpen");
        QTest::addColumn<QString>("errorLine");
        QTest::newRow("write fails") << true << QStringLiteral("(Fehler 8020 - Schreibfehler)");
        QTest::newRow("port not open")
            << false << QStringLiteral("(Fehler 8012 - Die Schnittstelle ist nicht geöffnet.)");
    }
    void unwritableFrameFailsAtOnce()
    {
        QFETCH(bool, portOpen);
        QFETCH(QString, errorLine);
        RecordingMessageBoxes recorder;
        m_port.opened = portOpen;
        m_port.openResult = false;
        m_port.failWrites = true;
        setCurrentPortName(QStringLiteral("COM3"));
        CommandBuffer buffer{1, 23, 0, 3, 0};
        const qint64 start = m_clock.nowMs();
        QVERIFY(!SendCommand(buffer, 2, true, 2));
        QCOMPARE(m_clock.nowMs(), start);
        QCOMPARE(recorder.count(), 3);
        const QString access = QStringLiteral(
                                   "Fehler beim Zugriff auf COM3\r\n\r\nBitte überprüfen Sie den "
                                   "eingestellten COM-Port.\r\n\r\n")
                               + errorLine + QStringLiteral("\r\n\r\nFür Rückfragen");
        QVERIFY2(recorder.boxes()[0].text.startsWith(access), qPrintable(recorder.boxes()[0].text));
        QCOMPARE(recorder.boxes()[0].buttons, BoxButtons::Ok);
        QCOMPARE(recorder.boxes()[1].text, recorder.boxes()[0].text);
        QCOMPARE(recorder.boxes()[2].text, QStringLiteral("Controller 1 antwortet nicht."));
    }

    void waitSecondsProcessesEvents()
    {
        bool ran = false;
        QMetaObject::invokeMethod(this, [&ran] { ran = true; }, Qt::QueuedConnection);
        const qint64 start = m_clock.nowMs();
        WaitSeconds(1);
        QVERIFY(ran);
        QVERIFY(m_clock.nowMs() - start >= 1000);
    }

    void waitSecondsZeroReturnsAtOnce()
    {
        bool ran = false;
        QMetaObject::invokeMethod(this, [&ran] { ran = true; }, Qt::QueuedConnection);
        const qint64 start = m_clock.nowMs();
        WaitSeconds(0);
        WaitSeconds(-1);
        QVERIFY(!ran);
        QCOMPARE(m_clock.nowMs(), start);
        QCoreApplication::processEvents();
    }
};

KZ_TEST_MAIN(TestExchange)
#include "test_exchange.moc"
