// The programming algorithms against the virtual command station's decoder,
// without a window.

#include "tests/support/stationrig.h"
#include "tests/support/testmain.h"
#include "printing.h"
#include "scriptedobserver.h"

#include "link/commands.h"
#include "link/locodriver.h"
#include "link/locostate.h"
#include "link/portsession.h"
#include "locolist/addressing.h"
#include "locolist/programmer.h"
#include "locolist/progfields.h"


using ProgFields::Operation;
using ProgFields::ProgType;

namespace {

struct ProgrammerRig
{
    ProgrammerRig()
        : programmer(buffer, &observer)
    {
        programmer.setController(1);
        rig.station.setTrackOutput(TrackOutput::Programming);
    }

    StationRig rig;
    CommandBuffer buffer;
    ScriptedObserver observer;
    DecoderProgrammer programmer;
};

QList<int> p1s(const QList<CommandBuffer> &requests)
{
    QList<int> values;
    for (const CommandBuffer &request : requests)
        values << request.p1;
    return values;
}

} // namespace

class TestProgramming : public QObject
{
    Q_OBJECT

private slots:
    void singleFrames_data();
    void singleFrames();
    void singleJudging_data();
    void singleJudging();
    void programmingModeFrames();
    void readCvBitsFindsSetBits();
    void stopGoesBetweenTwoChecks();
    void readCvBitsNinthCheck_data();
    void readCvBitsNinthCheck();
    void findValueRegister();
    void findValueNothingConfirmed();
    void abortMidSearch_data();
    void abortMidSearch();
    void controllerStopsAnsweringMidSearch_data();
    void controllerStopsAnsweringMidSearch();
    void simulationModeFindsNothing();
    void setAndRecogniseAddress_data();
    void setAndRecogniseAddress();
    void setAddressWithoutDecoder();
    void setAddressStopsWithoutReply();
    void recognitionSpeedSteps_data();
    void recognitionSpeedSteps();
    void recognitionWithoutDecoder();
    void recognitionCv17WithoutLongMark();
    void recognitionStopsWithoutReply();
    void recognitionAbortedRead();
    void longAddressDecoding_data();
    void longAddressDecoding();
    void typeSetups();
    void writeQuestions_data();
    void writeQuestions();
    void spinSteps_data();
    void spinSteps();
    void elapsedTexts_data();
    void elapsedTexts();
};

void TestProgramming::singleFrames_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("bit");
    QTest::addColumn<int>("value");
    QTest::addColumn<CommandBuffer>("frame");

    QTest::newRow("CV 29 value 6 write") << 1 << 0 << 29 << 0 << 6
                                         << CommandBuffer{0, Command::WriteCV, 6, 29, 0};
    QTest::newRow("CV 300 value 7 verify") << 0 << 0 << 300 << 0 << 7
                                           << CommandBuffer{0, Command::VerifyCV, 7, 44, 1};
    QTest::newRow("CV 1023 bit 5 verify") << 0 << 1 << 1023 << 5 << 1
                                          << CommandBuffer{0, Command::VerifyCVBit, 13, 255, 3};
    QTest::newRow("CV 29 bit 5 = 0 write") << 1 << 1 << 29 << 5 << 0
                                           << CommandBuffer{0, Command::WriteCVBit, 5, 29, 0};
    QTest::newRow("register 8 value 255 write")
        << 1 << 2 << 8 << 0 << 255 << CommandBuffer{0, Command::WriteRegister, 255, 8, 0};
    QTest::newRow("register 3 value 17 verify")
        << 0 << 2 << 3 << 0 << 17 << CommandBuffer{0, Command::VerifyRegister, 17, 3, 0};
}

void TestProgramming::singleFrames()
{
    QFETCH(int, operation);
    QFETCH(int, type);
    QFETCH(int, address);
    QFETCH(int, bit);
    QFETCH(int, value);
    QFETCH(CommandBuffer, frame);

    const CommandBuffer built =
        ProgFields::singleFrame(Operation(operation), ProgType(type), address, bit, value);
    QCOMPARE(built, frame);

    // What reaches the station carries the controller number.
    ProgrammerRig r;
    r.rig.takeRequests();
    r.programmer.singleExchange(built);
    CommandBuffer expected = frame;
    expected.controller = 1;
    QCOMPARE(r.rig.takeRequests(), QList<CommandBuffer>{expected});
}

void TestProgramming::singleJudging_data()
{
    QTest::addColumn<bool>("decoderPresent");
    QTest::addColumn<bool>("answering");
    QTest::addColumn<int>("reply");
    QTest::addColumn<int>("boxes");

    QTest::newRow("acknowledged") << true << true << int(DecoderReply::Acknowledged) << 0;
    QTest::newRow("no decoder") << false << true << int(DecoderReply::NotAcknowledged) << 0;
    // The request left in the buffer is no acknowledgement: the exchange has
    // shown its box and the decoder is taken as silent.
    QTest::newRow("no reply") << true << false << int(DecoderReply::NoReply) << 1;
}

void TestProgramming::singleJudging()
{
    QFETCH(bool, decoderPresent);
    QFETCH(bool, answering);
    QFETCH(int, reply);
    QFETCH(int, boxes);

    ProgrammerRig r;
    r.rig.station.setDecoderPresent(decoderPresent);
    if (!answering)
        r.rig.station.addFault(Fault::noReply(Fault::Always));
    r.rig.takeRequests();
    // Write CV 1 = 3: a request whose P3 is 0 would pass for a reply.
    QCOMPARE(int(r.programmer.singleExchange({0, Command::WriteCV, 3, 1, 0})), reply);
    QCOMPARE(r.rig.boxes.count(), boxes);
    if (boxes)
        QCOMPARE(r.rig.boxes.last().text, QStringLiteral("Controller 1 antwortet nicht."));
    // Two attempts when nobody answers, one otherwise.
    QCOMPARE(r.rig.takeRequests().size(), answering ? 1 : 2);
}

void TestProgramming::programmingModeFrames()
{
    ProgrammerRig r;
    r.rig.station.setTrackOutput(TrackOutput::Off);
    r.rig.takeRequests();
    r.programmer.SetProgMode(true);
    QCOMPARE(r.rig.station.state().track, TrackOutput::Programming);
    r.programmer.SetProgMode(false);
    QCOMPARE(r.rig.station.state().track, TrackOutput::Off);
    QCOMPARE(r.rig.takeRequests(),
             (QList<CommandBuffer>{{1, Command::SetParameter, 0, 10, 2},
                                   {1, Command::SetParameter, 0, 10, 0}}));
    // Without an answer: three attempts, no box.
    r.rig.station.addFault(Fault::noReply(Fault::Always));
    r.programmer.SetProgMode(false);
    QCOMPARE(r.rig.takeRequests().size(), 3);
    QCOMPARE(r.rig.boxes.count(), 0);
}

void TestProgramming::readCvBitsFindsSetBits()
{
    ProgrammerRig r;
    r.rig.station.setCv(29, 6); // bits 1 and 2
    r.rig.takeRequests();

    QCOMPARE(r.programmer.ReadCVBits(29), 6);
    const QList<CommandBuffer> requests = r.rig.takeRequests();
    QCOMPARE(requests.size(), 8);
    QCOMPARE(p1s(requests), (QList<int>{8, 9, 10, 11, 12, 13, 14, 15}));
    for (const CommandBuffer &request : requests) {
        QCOMPARE(request.command, Command::VerifyCVBit);
        QCOMPARE(request.p2, quint8(29));
        QCOMPARE(request.p3, quint8(0));
    }
    QCOMPARE(r.observer.percents,
             (QList<double>{12.5, 25, 37.5, 50, 62.5, 75, 87.5, 100}));
    QCOMPARE(r.observer.runningStates, (QList<bool>{true, false}));
    QCOMPARE(r.observer.exchanges, 8);
    QCOMPARE(r.rig.boxes.count(), 0);
}

// A phone's stop during a job on the programming track goes between two of
// its exchanges and drops the speed waiting for that loco; the job goes on
// as if nothing had happened.
void TestProgramming::stopGoesBetweenTwoChecks()
{
    ProgrammerRig r;
    r.rig.station.setCv(29, 6);
    LocoState state;
    state.setController(1);
    LocoDriver driver(state);
    driver.setProgrammingTrackActive(true);
    QCOMPARE(driver.submit(DriveIntent::speed(3, 200).from(DriveSource::Remote, 0, 1)).status,
             DriveResult::Status::Queued);
    r.rig.takeRequests();
    r.observer.afterExchange = [&](int exchange) {
        if (exchange == 3)
            driver.submit(DriveIntent::stop(3).from(DriveSource::Remote, 0, 2));
    };

    QCOMPARE(r.programmer.ReadCVBits(29), 6);
    driver.setProgrammingTrackActive(false);

    const QList<CommandBuffer> requests = r.rig.takeRequests();
    QCOMPARE(requests.size(), 9);
    QCOMPARE(requests.at(3), (CommandBuffer{1, Command::StopLoco, 0, 3, 0}));
    QCOMPARE(p1s(requests.mid(0, 3) + requests.mid(4)), (QList<int>{8, 9, 10, 11, 12, 13, 14, 15}));
    QCOMPARE(int(state.loco(3).speed), 0);
}

void TestProgramming::readCvBitsNinthCheck_data()
{
    QTest::addColumn<bool>("decoderPresent");
    QTest::addColumn<int>("result");

    QTest::newRow("byte is 0") << true << 0;
    QTest::newRow("nothing confirmed") << false << int(DecoderProgrammer::NotFound);
}

void TestProgramming::readCvBitsNinthCheck()
{
    QFETCH(bool, decoderPresent);
    QFETCH(int, result);

    ProgrammerRig r;
    r.rig.station.setCv(300, 0);
    r.rig.station.setDecoderPresent(decoderPresent);
    r.rig.takeRequests();

    QCOMPARE(r.programmer.ReadCVBits(300), result);
    const QList<CommandBuffer> requests = r.rig.takeRequests();
    QCOMPARE(requests.size(), 9);
    QCOMPARE(requests.last(), (CommandBuffer{1, Command::VerifyCV, 0, 44, 1}));
}

void TestProgramming::findValueRegister()
{
    ProgrammerRig r;
    r.rig.station.setCv(3, 17); // register 3 is CV 3
    r.rig.takeRequests();

    QCOMPARE(r.programmer.FindValue(3, 0, 255), 17);
    const QList<CommandBuffer> requests = r.rig.takeRequests();
    QCOMPARE(requests.size(), 18);
    QList<int> expected;
    for (int value = 0; value <= 17; ++value)
        expected << value;
    QCOMPARE(p1s(requests), expected);
    QCOMPARE(requests.first(), (CommandBuffer{1, Command::VerifyRegister, 0, 3, 0}));
    QCOMPARE(r.observer.percents.last(), 100.0);
    QCOMPARE(r.observer.percents.first(), 100.0 / 256);
}

void TestProgramming::findValueNothingConfirmed()
{
    ProgrammerRig r;
    r.rig.station.setDecoderPresent(false);
    r.rig.takeRequests();
    QCOMPARE(r.programmer.FindValue(3, 0, 255), int(DecoderProgrammer::NotFound));
    QCOMPARE(r.rig.takeRequests().size(), 256);
    QCOMPARE(r.observer.percents.last(), 100.0);
}

void TestProgramming::abortMidSearch_data()
{
    QTest::addColumn<bool>("registerSearch");
    QTest::newRow("CV read") << false;
    QTest::newRow("register search") << true;
}

void TestProgramming::abortMidSearch()
{
    QFETCH(bool, registerSearch);

    ProgrammerRig r;
    r.rig.station.setCv(3, 200);
    r.programmer.requestAbort(); // a stale click before the search counts for nothing
    r.observer.afterExchange = [&](int exchange) {
        if (exchange == 3)
            r.programmer.requestAbort();
    };
    r.rig.takeRequests();

    const int result = registerSearch ? r.programmer.FindValue(3, 0, 255) : r.programmer.ReadCVBits(3);
    QCOMPARE(result, int(DecoderProgrammer::Aborted));
    // The exchange in progress completes; none follows it.
    QCOMPARE(r.rig.takeRequests().size(), 3);
    QCOMPARE(r.observer.abortCount, 1);
    QCOMPARE(r.observer.runningStates, (QList<bool>{true, false}));
    QVERIFY(!r.programmer.abortRequested());
}

void TestProgramming::controllerStopsAnsweringMidSearch_data()
{
    QTest::addColumn<bool>("registerSearch");
    QTest::newRow("CV read") << false;
    QTest::newRow("register search") << true;
}

void TestProgramming::controllerStopsAnsweringMidSearch()
{
    QFETCH(bool, registerSearch);

    ProgrammerRig r;
    r.rig.station.setCv(3, 255);
    r.observer.afterExchange = [&](int exchange) {
        if (exchange == 2)
            r.rig.station.addFault(Fault::noReply(Fault::Always));
    };
    r.rig.takeRequests();

    const int result = registerSearch ? r.programmer.FindValue(3, 0, 255) : r.programmer.ReadCVBits(3);
    // The request left in the buffer would have passed for a confirmation;
    // the search ends as not found instead, after the third exchange's three
    // attempts.
    QCOMPARE(result, int(DecoderProgrammer::NotFound));
    QCOMPARE(r.rig.takeRequests().size(), 2 + 3);
    QCOMPARE(r.rig.boxes.count(), 0);
    QCOMPARE(r.observer.runningStates, (QList<bool>{true, false}));
}

void TestProgramming::simulationModeFindsNothing()
{
    ProgrammerRig r;
    setCurrentPortName(QStringLiteral("NUL"));
    r.rig.takeRequests();
    QCOMPARE(r.programmer.ReadCVBits(29), int(DecoderProgrammer::NotFound));
    QCOMPARE(r.programmer.recogniseLocoNumber().outcome,
             DecoderProgrammer::Recognition::NotRecognised);
    QCOMPARE(r.programmer.setLocoNumber(3), DecoderProgrammer::SetResult::NoReply);
    QVERIFY(r.rig.takeRequests().isEmpty());
}

void TestProgramming::setAndRecogniseAddress_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QList<CommandBuffer>>("writes");

    QTest::newRow("3") << 3
                       << QList<CommandBuffer>{{1, Command::WriteCVBit, 5, 29, 0},
                                               {1, Command::WriteCV, 3, 1, 0}};
    QTest::newRow("127") << 127
                         << QList<CommandBuffer>{{1, Command::WriteCVBit, 5, 29, 0},
                                                 {1, Command::WriteCV, 127, 1, 0}};
    QTest::newRow("128") << 128
                         << QList<CommandBuffer>{{1, Command::WriteCVBit, 13, 29, 0},
                                                 {1, Command::WriteCV, 192, 17, 0},
                                                 {1, Command::WriteCV, 128, 18, 0}};
    QTest::newRow("1000") << 1000
                          << QList<CommandBuffer>{{1, Command::WriteCVBit, 13, 29, 0},
                                                  {1, Command::WriteCV, 195, 17, 0},
                                                  {1, Command::WriteCV, 232, 18, 0}};
    QTest::newRow("10239") << 10239
                           << QList<CommandBuffer>{{1, Command::WriteCVBit, 13, 29, 0},
                                                   {1, Command::WriteCV, 231, 17, 0},
                                                   {1, Command::WriteCV, 255, 18, 0}};
}

void TestProgramming::setAndRecogniseAddress()
{
    QFETCH(int, number);
    QFETCH(QList<CommandBuffer>, writes);

    ProgrammerRig r;
    // Start from a decoder on the other kind of address.
    r.rig.station.setCv(29, number <= 127 ? 0x26 : 0x06);
    r.rig.takeRequests();

    QCOMPARE(r.programmer.setLocoNumber(number), DecoderProgrammer::SetResult::Done);
    QCOMPARE(r.rig.takeRequests(), writes);

    const DecoderProgrammer::Recognition recognition = r.programmer.recogniseLocoNumber();
    QCOMPARE(recognition.outcome, DecoderProgrammer::Recognition::Recognised);
    QCOMPARE(recognition.number, number);
    QCOMPARE(recognition.shortAddress, number <= 127);
    QCOMPARE(recognition.suffix, QStringLiteral("  (28/126 FS)"));
    QVERIFY(!recognition.fourteenSteps);
    QCOMPARE(r.observer.stages,
             QStringList{number <= 127 ? QStringLiteral("Niedrige Lok-Nummern erkannt ...")
                                       : QStringLiteral("Hohe Lok-Nummern erkannt ...")});
    // Four checks of CV 29 (long, short, 14, 28/126), then 8 bit checks for
    // each CV read.
    const QList<CommandBuffer> requests = r.rig.takeRequests();
    QCOMPARE(requests.size(), 4 + (number <= 127 ? 8 : 16));
    QCOMPARE(p1s(requests.first(4)), (QList<int>{13, 5, 1, 9}));
}

void TestProgramming::setAddressWithoutDecoder()
{
    ProgrammerRig r;
    r.rig.station.setDecoderPresent(false);
    r.rig.takeRequests();
    // Every write is sent even though none is acknowledged.
    QCOMPARE(r.programmer.setLocoNumber(1000), DecoderProgrammer::SetResult::NotAcknowledged);
    QCOMPARE(r.rig.takeRequests().size(), 3);
}

void TestProgramming::setAddressStopsWithoutReply()
{
    ProgrammerRig r;
    r.rig.station.addFault(Fault::noReply(Fault::Always));
    r.rig.takeRequests();
    QCOMPARE(r.programmer.setLocoNumber(1000), DecoderProgrammer::SetResult::NoReply);
    // The first write's three attempts, nothing after it.
    QCOMPARE(r.rig.takeRequests().size(), 3);
    QCOMPARE(r.rig.boxes.count(), 0);
}

void TestProgramming::recognitionSpeedSteps_data()
{
    QTest::addColumn<int>("cv29");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<bool>("fourteen");

    QTest::newRow("28/126 steps") << 0x02 << QStringLiteral("  (28/126 FS)") << false;
    QTest::newRow("14 steps") << 0x00 << QStringLiteral("  (14 FS)") << true;
    QTest::newRow("14 steps, long") << 0x20 << QStringLiteral("  (14 FS)") << true;
}

void TestProgramming::recognitionSpeedSteps()
{
    QFETCH(int, cv29);
    QFETCH(QString, suffix);
    QFETCH(bool, fourteen);

    ProgrammerRig r;
    r.rig.station.setCv(29, quint8(cv29));
    r.rig.station.setCv(1, 3);
    r.rig.station.setCv(17, 195);
    r.rig.station.setCv(18, 232);
    const DecoderProgrammer::Recognition recognition = r.programmer.recogniseLocoNumber();
    QCOMPARE(recognition.outcome, DecoderProgrammer::Recognition::Recognised);
    QCOMPARE(recognition.number, cv29 & 0x20 ? 1000 : 3);
    QCOMPARE(recognition.suffix, suffix);
    QCOMPARE(recognition.fourteenSteps, fourteen);
}

void TestProgramming::recognitionWithoutDecoder()
{
    ProgrammerRig r;
    r.rig.station.setDecoderPresent(false);
    r.rig.takeRequests();
    const DecoderProgrammer::Recognition recognition = r.programmer.recogniseLocoNumber();
    QCOMPARE(recognition.outcome, DecoderProgrammer::Recognition::NotRecognised);
    QCOMPARE(recognition.suffix, QString());
    // The four checks, no CV read.
    QCOMPARE(r.rig.takeRequests().size(), 4);
}

void TestProgramming::recognitionCv17WithoutLongMark()
{
    ProgrammerRig r;
    r.rig.station.setCv(29, 0x22);
    r.rig.station.setCv(17, 100);
    r.rig.station.setCv(18, 5);
    const DecoderProgrammer::Recognition recognition = r.programmer.recogniseLocoNumber();
    QCOMPARE(recognition.outcome, DecoderProgrammer::Recognition::NotFound);
    QVERIFY(!recognition.aborted);
}

void TestProgramming::recognitionStopsWithoutReply()
{
    ProgrammerRig r;
    r.observer.afterExchange = [&](int exchange) {
        if (exchange == 1)
            r.rig.station.addFault(Fault::noReply(Fault::Always));
    };
    r.rig.takeRequests();
    const DecoderProgrammer::Recognition recognition = r.programmer.recogniseLocoNumber();
    QCOMPARE(recognition.outcome, DecoderProgrammer::Recognition::NotRecognised);
    // One answered check, then the three attempts of the second.
    QCOMPARE(r.rig.takeRequests().size(), 1 + 3);
}

void TestProgramming::recognitionAbortedRead()
{
    ProgrammerRig r;
    r.observer.afterExchange = [&](int exchange) {
        if (exchange == 6) // the second bit check of CV 1
            r.programmer.requestAbort();
    };
    const DecoderProgrammer::Recognition recognition = r.programmer.recogniseLocoNumber();
    QCOMPARE(recognition.outcome, DecoderProgrammer::Recognition::NotFound);
    QVERIFY(recognition.aborted);
    QCOMPARE(r.observer.abortCount, 1);
}

void TestProgramming::longAddressDecoding_data()
{
    QTest::addColumn<int>("cv17");
    QTest::addColumn<int>("cv18");
    QTest::addColumn<int>("number"); // -1: no long address

    QTest::newRow("128") << 192 << 128 << 128;
    QTest::newRow("1000") << 195 << 232 << 1000;
    QTest::newRow("10239") << 231 << 255 << 10239;
    QTest::newRow("CV 17 191") << 191 << 0 << -1;
    QTest::newRow("CV 17 0") << 0 << 3 << -1;
}

void TestProgramming::longAddressDecoding()
{
    QFETCH(int, cv17);
    QFETCH(int, cv18);
    QFETCH(int, number);
    QCOMPARE(Addressing::decodeLongAddress(cv17, cv18).value_or(-1), number);
    if (number >= 128) {
        QCOMPARE(int(Addressing::longAddressHigh(number)), cv17);
        QCOMPARE(int(Addressing::longAddressLow(number)), cv18);
    }
}

void TestProgramming::typeSetups()
{
    const auto full = ProgFields::typeSetup(ProgType::FullCV);
    QCOMPARE(full.addressCaption, QStringLiteral("CV"));
    QCOMPARE(full.addressRule, QStringLiteral("Die CV-Adresse,Mandatory,MIN=1,MAX=1023,NUM"));
    QVERIFY(!full.bitShown);
    QCOMPARE(full.bitRule, QString());
    QCOMPARE(full.valueRule, QStringLiteral("Der CV-Wert,Mandatory,MIN=0,MAX=255,NUM"));
    QVERIFY(full.searchOffered);

    const auto bit = ProgFields::typeSetup(ProgType::CVBit);
    QVERIFY(bit.bitShown);
    QCOMPARE(bit.bitRule, QStringLiteral("Die Bitposition,Mandatory,MIN=0,MAX=7,NUM"));
    QCOMPARE(bit.valueRule, QStringLiteral("Der Bit-Wert,Mandatory,MIN=0,MAX=1,NUM"));
    QVERIFY(!bit.searchOffered);

    const auto reg = ProgFields::typeSetup(ProgType::Register);
    QCOMPARE(reg.addressCaption, QStringLiteral("Register"));
    QCOMPARE(reg.addressRule, QStringLiteral("Die Register-Adresse,Mandatory,MIN=1,MAX=8,NUM"));
    QCOMPARE(reg.valueRule, QStringLiteral("Der Register-Wert,Mandatory,MIN=0,MAX=255,NUM"));
    QVERIFY(reg.searchOffered);
}

void TestProgramming::writeQuestions_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("question");

    QTest::newRow("CV") << 0 << QStringLiteral("Möchten Sie die CV 29 auf den Wert 6 setzen ?");
    QTest::newRow("bit") << 1
                         << QStringLiteral("Möchten Sie die CV 29 Bitposition 5 auf den Wert 6 setzen ?");
    QTest::newRow("register") << 2
                              << QStringLiteral("Möchten Sie das Register 29 auf den Wert 6 setzen ?");
}

void TestProgramming::writeQuestions()
{
    QFETCH(int, type);
    QFETCH(QString, question);
    QCOMPARE(ProgFields::writeQuestion(ProgType(type), QStringLiteral("29"), QStringLiteral("5"),
                                       QStringLiteral("6")),
             question);
}

void TestProgramming::spinSteps_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("up");
    QTest::addColumn<int>("maxLength");
    QTest::addColumn<QString>("result");

    QTest::newRow("255 up") << "255" << true << 3 << "256";
    QTest::newRow("0 down stays") << "0" << false << 3 << "0";
    QTest::newRow("1024 up stays") << "1024" << true << 4 << "1024";
    QTest::newRow("1023 up") << "1023" << true << 4 << "1024";
    QTest::newRow("not a number") << "abc" << true << 3 << "1";
    QTest::newRow("empty") << "" << false << 3 << "0";
    QTest::newRow("3,7 rounded down") << "3,7" << false << 4 << "2";
    QTest::newRow("-3,7 made positive") << "-3,7" << true << 4 << "5";
    QTest::newRow("too long for the field") << "999" << true << 3 << "999";
    QTest::newRow("1.000 is one, not a thousand") << "1.000" << true << 5 << "2";
    QTest::newRow("nan is no number") << "nan" << true << 3 << "1";
}

void TestProgramming::spinSteps()
{
    QFETCH(QString, text);
    QFETCH(bool, up);
    QFETCH(int, maxLength);
    QFETCH(QString, result);
    QCOMPARE(ProgFields::spinStep(text, up, QLocale(), maxLength), result);
}

void TestProgramming::elapsedTexts_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("search");

    QTest::newRow("742") << qint64(742) << "742 ms" << "742 ms";
    QTest::newRow("2500") << qint64(2500) << "2500 ms" << "2500 ms";
    QTest::newRow("9999") << qint64(9999) << "9999 ms" << "9999 ms";
    QTest::newRow("10000") << qint64(10000) << "10000 ms" << "10,00sek.";
    QTest::newRow("10500") << qint64(10500) << "10500 ms" << "10,50sek.";
    QTest::newRow("12350") << qint64(12350) << "12350 ms" << "12,35sek.";
    QTest::newRow("no group separator") << qint64(1234560) << "1234560 ms" << "1234,56sek.";
}

void TestProgramming::elapsedTexts()
{
    QFETCH(qint64, ms);
    QFETCH(QString, plain);
    QFETCH(QString, search);
    QCOMPARE(ProgFields::elapsedMsText(ms), plain);
    QCOMPARE(ProgFields::searchElapsedText(ms), search);
    QCOMPARE(ProgFields::searchElapsedText(10500, QLocale::c()), QStringLiteral("10.50sek."));
}

KZ_TEST_MAIN(TestProgramming)
#include "test_programming.moc"
