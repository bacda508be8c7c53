#include "throttlehostrecorder.h"

#include "throttleserver/throttlesession.h"
#include "throttleserver/withrottle.h"

#include "../support/testmain.h"

using namespace WiThrottle;

namespace {

QString key(const QByteArray &key, const std::optional<int> &loco)
{
    return QString::fromLatin1(key) + QStringLiteral("=")
           + (loco ? QString::number(*loco) : QStringLiteral("all"));
}

QString describe(const Action &action)
{
    if (const auto *speed = std::get_if<Speed>(&action))
        return QStringLiteral("speed %1").arg(speed->value);
    if (const auto *direction = std::get_if<Direction>(&action))
        return direction->forward ? QStringLiteral("forward") : QStringLiteral("reverse");
    if (const auto *f = std::get_if<FunctionKey>(&action))
        return QStringLiteral("key F%1 %2").arg(f->function).arg(f->pressed ? "down" : "up");
    if (const auto *f = std::get_if<ForceFunction>(&action))
        return QStringLiteral("force F%1 %2").arg(f->function).arg(f->on ? "on" : "off");
    if (std::holds_alternative<EmergencyStop>(action))
        return QStringLiteral("stop");
    if (std::holds_alternative<Idle>(action))
        return QStringLiteral("idle");
    if (std::holds_alternative<QuerySpeed>(action))
        return QStringLiteral("query speed");
    if (std::holds_alternative<QueryDirection>(action))
        return QStringLiteral("query direction");
    return QStringLiteral("steps %1").arg(std::get<SpeedStepMode>(action).mode);
}

// One readable text per command, so that a table row shows the whole value.
QString describe(const std::optional<ClientCommand> &command)
{
    if (!command)
        return QStringLiteral("ignored");
    if (const auto *c = std::get_if<SetName>(&*command))
        return QStringLiteral("name '%1'").arg(c->name);
    if (const auto *c = std::get_if<HardwareId>(&*command))
        return QStringLiteral("id '%1'").arg(c->id);
    if (const auto *c = std::get_if<Heartbeat>(&*command)) {
        static const char *const kinds[] = {"beat", "monitor on", "monitor off"};
        return QStringLiteral("heartbeat ") + QLatin1String(kinds[c->kind]);
    }
    if (const auto *c = std::get_if<SetPower>(&*command))
        return QStringLiteral("power %1").arg(c->on ? "on" : "off");
    if (std::holds_alternative<Quit>(*command))
        return QStringLiteral("quit");
    if (std::holds_alternative<StopAll>(*command))
        return QStringLiteral("stop all");
    if (const auto *c = std::get_if<Acquire>(&*command)) {
        return QStringLiteral("acquire %1 %2 %3")
            .arg(QChar::fromLatin1(c->throttle))
            .arg(QString::fromLatin1(c->key))
            .arg(c->rosterName.isEmpty() ? QString::number(c->loco)
                                         : QStringLiteral("'%1'").arg(c->rosterName));
    }
    if (const auto *c = std::get_if<Release>(&*command))
        return QStringLiteral("release %1 %2").arg(QChar::fromLatin1(c->throttle), key(c->key, c->loco));
    const auto &a = std::get<LocoAction>(*command);
    return QStringLiteral("action %1 %2 %3")
        .arg(QChar::fromLatin1(a.throttle), key(a.key, a.loco), describe(a.action));
}

PhoneLoco parseSnapshot(const QStringList &words)
{
    PhoneLoco state;
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (words[i] == QLatin1String("speed"))
            state.speed = words.value(++i).toInt();
        else if (words[i] == QLatin1String("reverse"))
            state.forward = false;
        else if (words[i].startsWith(QLatin1Char('F')))
            state.functions |= 1u << words[i].mid(1).toInt();
    }
    return state;
}

// Consecutive function lines of one loco become one entry naming the
// functions that are on, so that an acquire does not fill 29 rows; a lone
// function line stays as it is.
QStringList condense(const QByteArrayList &lines)
{
    QStringList out;
    QString runPrefix;
    QString runFirst;
    QStringList runOn;
    int runLength = 0;
    auto flush = [&] {
        if (runLength == 1)
            out << QStringLiteral("< ") + runFirst;
        else if (runLength > 1)
            out << QStringLiteral("< %1F×%2 on: %3").arg(runPrefix).arg(runLength).arg(runOn.join(' '));
        runLength = 0;
        runOn.clear();
    };
    for (const QByteArray &raw : lines) {
        const QString line = QString::fromUtf8(raw);
        const qsizetype split = line.indexOf(QLatin1String("<;>"));
        const bool function = line.startsWith('M') && split > 0 && line.size() > split + 5
                              && line.at(split + 3) == QLatin1Char('F');
        if (!function) {
            flush();
            out << QStringLiteral("< ") + line;
            continue;
        }
        const QString prefix = line.left(split + 3);
        if (runLength > 0 && prefix != runPrefix)
            flush();
        if (runLength == 0) {
            runPrefix = prefix;
            runFirst = line;
        }
        if (line.at(split + 4) == QLatin1Char('1'))
            runOn << line.mid(split + 5);
        ++runLength;
    }
    flush();
    return out;
}

} // namespace

// The protocol as plain values, and one client's conversation scripted line by
// line and millisecond by millisecond.
class TestWiThrottle : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parsesClientLines_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("command");
        QTest::newRow("name") << QByteArray("NPixel 7") << "name 'Pixel 7'";
        QTest::newRow("name, blanks only") << QByteArray("N  ") << "ignored";
        QTest::newRow("hardware id") << QByteArray("HUa1b2c3") << "id 'a1b2c3'";
        QTest::newRow("hardware id, empty") << QByteArray("HU") << "ignored";
        QTest::newRow("control characters in a name")
            << QByteArray("N\x1b[2JPix\tel\x7f") << "name '[2JPix el'";
        QTest::newRow("id of control characters only") << QByteArray("HU\x01\x02") << "ignored";
        QTest::newRow("heartbeat") << QByteArray("*") << "heartbeat beat";
        QTest::newRow("monitoring on") << QByteArray("*+") << "heartbeat monitor on";
        QTest::newRow("monitoring off") << QByteArray("*-") << "heartbeat monitor off";
        QTest::newRow("heartbeat with trailing text") << QByteArray("*x") << "ignored";
        QTest::newRow("power on") << QByteArray("PPA1") << "power on";
        QTest::newRow("power off") << QByteArray("PPA0") << "power off";
        QTest::newRow("power unknown is no request") << QByteArray("PPA2") << "ignored";
        QTest::newRow("stop of every loco") << QByteArray("PXA") << "stop all";
        QTest::newRow("stop of every loco with more") << QByteArray("PXA1") << "ignored";
        QTest::newRow("quit") << QByteArray("Q") << "quit";
        QTest::newRow("quit with text") << QByteArray("Qx") << "ignored";
        QTest::newRow("acquire short") << QByteArray("M0+S3<;>S3") << "acquire 0 S3 3";
        QTest::newRow("acquire long") << QByteArray("MT+L1012<;>L1012") << "acquire T L1012 1012";
        QTest::newRow("long form of a short number")
            << QByteArray("M0+L3<;>L3") << "acquire 0 L3 3";
        QTest::newRow("acquire by roster name")
            << QByteArray("M0+L1012<;>ELok 1012") << "acquire 0 L1012 'Lok 1012'";
        QTest::newRow("acquire by empty name") << QByteArray("M0+L1012<;>E") << "ignored";
        QTest::newRow("highest loco") << QByteArray("M0+L10239<;>L10239") << "acquire 0 L10239 10239";
        QTest::newRow("loco 0 refused") << QByteArray("M0+S0<;>S0") << "ignored";
        QTest::newRow("loco 10240 refused") << QByteArray("M0+L10240<;>L10240") << "ignored";
        QTest::newRow("huge number refused") << QByteArray("M0+L99999999999<;>L99999999999")
                                             << "ignored";
        QTest::newRow("key not an address") << QByteArray("M0+X3<;>S3") << "ignored";
        QTest::newRow("all-locos key cannot acquire") << QByteArray("M0+*<;>S3") << "ignored";
        QTest::newRow("signed number") << QByteArray("M0+S+3<;>S+3") << "ignored";
        QTest::newRow("no delimiter") << QByteArray("M0+S3S3") << "ignored";
        QTest::newRow("blank throttle") << QByteArray("M +S3<;>S3") << "ignored";
        QTest::newRow("release one") << QByteArray("M0-S3<;>r") << "release 0 S3=3";
        QTest::newRow("release all (dispatch)") << QByteArray("M0-*<;>d") << "release 0 *=all";
        QTest::newRow("release, other word") << QByteArray("M0-S3<;>x") << "ignored";
        QTest::newRow("speed") << QByteArray("M0A*<;>V50") << "action 0 *=all speed 50";
        QTest::newRow("full speed") << QByteArray("M0AS3<;>V126") << "action 0 S3=3 speed 126";
        QTest::newRow("speed above full") << QByteArray("M0AS3<;>V127") << "ignored";
        QTest::newRow("negative speed stops") << QByteArray("M0A*<;>V-1") << "action 0 *=all stop";
        QTest::newRow("lone minus") << QByteArray("M0A*<;>V-") << "ignored";
        QTest::newRow("speed without number") << QByteArray("M0A*<;>V") << "ignored";
        QTest::newRow("forward") << QByteArray("M0AL1012<;>R1") << "action 0 L1012=1012 forward";
        QTest::newRow("reverse") << QByteArray("M0AL1012<;>R0") << "action 0 L1012=1012 reverse";
        QTest::newRow("direction 2 is forward") << QByteArray("M0AS3<;>R2") << "action 0 S3=3 forward";
        QTest::newRow("key down") << QByteArray("M0AS3<;>F13") << "action 0 S3=3 key F3 down";
        QTest::newRow("key up") << QByteArray("M0AS3<;>F03") << "action 0 S3=3 key F3 up";
        QTest::newRow("key F28") << QByteArray("M0AS3<;>F128") << "action 0 S3=3 key F28 down";
        QTest::newRow("key F29") << QByteArray("M0AS3<;>F129") << "ignored";
        QTest::newRow("key 2 is no state") << QByteArray("M0AS3<;>F23") << "ignored";
        QTest::newRow("force on") << QByteArray("M0AS3<;>f10") << "action 0 S3=3 force F0 on";
        QTest::newRow("emergency stop") << QByteArray("M0A*<;>X") << "action 0 *=all stop";
        QTest::newRow("idle") << QByteArray("M0AS3<;>I") << "action 0 S3=3 idle";
        QTest::newRow("query speed") << QByteArray("M0A*<;>qV") << "action 0 *=all query speed";
        QTest::newRow("query direction") << QByteArray("M0AS3<;>qR") << "action 0 S3=3 query direction";
        QTest::newRow("step mode") << QByteArray("M0AS3<;>s1") << "action 0 S3=3 steps 1";
        QTest::newRow("action on loco 0") << QByteArray("M0AS0<;>V5") << "ignored";
        QTest::newRow("unknown action") << QByteArray("M0AS3<;>Z") << "ignored";
        QTest::newRow("unknown throttle op") << QByteArray("M0LS3<;>]\\[F0") << "ignored";
        QTest::newRow("turnout list request") << QByteArray("PTA2LT12") << "ignored";
        QTest::newRow("empty") << QByteArray() << "ignored";
    }
    void parsesClientLines()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, command);
        QCOMPARE(describe(parseLine(line)), command);
    }

    void writesServerLines()
    {
        QCOMPARE(rosterLine({3, 127, 128, 1012}),
                 QByteArray("RL4]\\[Lok 3}|{3}|{S]\\[Lok 127}|{127}|{S]\\[Lok 128}|{128}|{L"
                            "]\\[Lok 1012}|{1012}|{L"));
        QCOMPARE(rosterLine({}), QByteArray("RL0"));
        QCOMPARE(powerLine(PowerState::Unknown), QByteArray("PPA2"));
        QCOMPARE(actionLine('0', "L1012", functionAction(12, true)), QByteArray("M0AL1012<;>F112"));
        QCOMPARE(releasedLine('T', "*"), QByteArray("MT-*<;>"));
    }

    void mapsSpeeds_data()
    {
        QTest::addColumn<int>("app");
        QTest::addColumn<int>("controller");
        QTest::addColumn<int>("back");
        QTest::newRow("stand") << 0 << 0 << 0;
        QTest::newRow("lowest step") << 1 << 2 << 1;
        QTest::newRow("half rounds up") << 63 << 128 << 63;
        QTest::newRow("step 50") << 50 << 101 << 50;
        QTest::newRow("full") << 126 << 255 << 126;
        QTest::newRow("above full is full") << 200 << 255 << 126;
        QTest::newRow("below stand is stand") << -5 << 0 << 0;
    }
    void mapsSpeeds()
    {
        QFETCH(int, app);
        QFETCH(int, controller);
        QFETCH(int, back);
        QCOMPARE(controllerSpeed(app), controller);
        QCOMPARE(appSpeed(controller), back);
    }

    void mapsEveryControllerSpeedToTheNearestStep()
    {
        for (int s = 0; s <= 255; ++s)
            QCOMPARE(appSpeed(s), qRound(s * 126.0 / 255.0));
        for (int n = 0; n <= 126; ++n)
            QCOMPARE(appSpeed(controllerSpeed(n)), n);
    }

    void greetsAtOnce()
    {
        ThrottleHostRecorder host;
        host.power = PowerState::Unknown;
        ThrottleSession session(host, {3, 0, 1012, 3, 10240}, 0);
        QCOMPARE(session.takeLines(),
                 (QByteArrayList{"VN2.0", "RL2]\\[Lok 3}|{3}|{S]\\[Lok 1012}|{1012}|{L", "PPA2",
                                 "*10"}));
    }

    void acquireSendsTheWholeState()
    {
        ThrottleHostRecorder host;
        host.states[3] = {101, false, (1u << 0) | (1u << 3) | (1u << 20)};
        ThrottleSession session(host, {3}, 0);
        session.takeLines();
        session.receive("M0+S3<;>S3\n", 10);
        QByteArrayList expected{"M0+S3<;>"};
        for (int n = 0; n <= 28; ++n)
            expected << "M0AS3<;>F" + QByteArray(n == 0 || n == 3 ? "1" : "0") + QByteArray::number(n);
        expected << "M0AS3<;>V50" << "M0AS3<;>R0" << "M0AS3<;>s1";
        QCOMPARE(session.takeLines(), expected);
        QVERIFY(host.transcript.isEmpty());
    }

    // Steps: "> text" the client sends text and LF; "~ bytes" sends the bytes
    // as they are; "+ms" lets time pass; "loco n: speed s reverse Fk" the
    // shared state changed; "power on|off"; "end" the connection ended;
    // "burst n over ms" n heartbeats spread evenly over ms; "long n" n bytes
    // without a line end. The transcript holds, per step, the intents ("!")
    // and then the lines sent ("<"); a run of function lines of one loco is
    // one entry listing those that are on.
    void runsScripts_data()
    {
        QTest::addColumn<QList<int>>("roster");
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QStringList>("transcript");

        const QStringList acquire3{"< M0+S3<;>", "< M0AS3<;>F×29 on: ", "< M0AS3<;>V0",
                                   "< M0AS3<;>R1", "< M0AS3<;>s1"};

        QTest::newRow("name is answered with the interval")
            << QList<int>{3} << QStringList{"> NPixel", "> HUabc"}
            << QStringList{"< *10"};
        QTest::newRow("drive loco 3")
            << QList<int>{3}
            << QStringList{"> M0+S3<;>S3", "> M0A*<;>V50", "> M0AS3<;>R0", "> M0AS3<;>F10",
                           "> M0AS3<;>F00", "> M0AS3<;>F13", "> M0AS3<;>F03", "> M0AS3<;>F13",
                           "> M0A*<;>X", "> M0AS3<;>I"}
            << (acquire3
                + QStringList{"! speed 3 101", "! direction 3 reverse", "! function 3 F0 on",
                              "! function 3 F3 on", "! function 3 F3 off", "! stop 3",
                              "! speed 3 0"});
        QTest::newRow("the long form drives the same loco")
            << QList<int>{3} << QStringList{"> M0+S3<;>S3", "> M0AL3<;>V126"}
            << (acquire3 + QStringList{"! speed 3 255"});
        QTest::newRow("acquire by roster name")
            << QList<int>{1012} << QStringList{"> M0+L1012<;>ELok 1012", "> M0+L7<;>ELok 7"}
            << QStringList{"< M0+L1012<;>", "< M0AL1012<;>F×29 on: ", "< M0AL1012<;>V0",
                           "< M0AL1012<;>R1", "< M0AL1012<;>s1"};
        QTest::newRow("negative speed is an emergency stop")
            << QList<int>{3} << QStringList{"> M0+S3<;>S3", "> M0A*<;>V-1"}
            << (acquire3 + QStringList{"! stop 3"});
        QTest::newRow("functions above F12 are ignored and reported off")
            << QList<int>{3} << QStringList{"> M0+S3<;>S3", "> M0AS3<;>F113", "> M0AS3<;>f128"}
            << (acquire3 + QStringList{"< M0AS3<;>F013", "< M0AS3<;>F028"});
        QTest::newRow("force a function")
            << QList<int>{3} << QStringList{"> M0+S3<;>S3", "> M0AS3<;>f12", "> M0AS3<;>f02"}
            << (acquire3 + QStringList{"! function 3 F2 on", "! function 3 F2 off"});
        QTest::newRow("queries answer from the shared state")
            << QList<int>{3}
            << QStringList{"> M0+S3<;>S3", "loco 3: speed 128 reverse", "> M0A*<;>qV",
                           "> M0AS3<;>qR"}
            << (acquire3
                + QStringList{"< M0AS3<;>V63", "< M0AS3<;>R0", "< M0AS3<;>V63", "< M0AS3<;>R0"});
        QTest::newRow("a loco not acquired is not driven")
            << QList<int>{3, 4} << QStringList{"> M0+S3<;>S3", "> M0AS4<;>V50", "> M1A*<;>V50"}
            << acquire3;
        QTest::newRow("malformed and unknown lines change nothing")
            << QList<int>{3}
            << QStringList{"> M0+S3<;>S3", "> M0AS3<;>V999", "> M0AS0<;>X", "> garbage",
                           "> PTA2LT12", "> M0AS3<;>", "> M0AS3V50"}
            << acquire3;
        QTest::newRow("state changes reach the holder, functions only when changed")
            << QList<int>{3}
            << QStringList{"> M0+S3<;>S3", "loco 3: speed 101 F0", "loco 3: speed 128 F0",
                           "loco 4: speed 50"}
            << (acquire3
                + QStringList{"< M0AS3<;>F10", "< M0AS3<;>V50", "< M0AS3<;>R1", "< M0AS3<;>V63",
                              "< M0AS3<;>R1"});
        QTest::newRow("two throttles holding one loco both hear")
            << QList<int>{3}
            << QStringList{"> M0+S3<;>S3", "> M1+L3<;>S3", "loco 3: reverse"}
            << (acquire3
                + QStringList{"< M1+L3<;>", "< M1AL3<;>F×29 on: ", "< M1AL3<;>V0",
                              "< M1AL3<;>R1", "< M1AL3<;>s1", "< M0AS3<;>V0", "< M0AS3<;>R0",
                              "< M1AL3<;>V0", "< M1AL3<;>R0"});
        QTest::newRow("release leaves the loco running and stops the lines")
            << QList<int>{3}
            << QStringList{"> M0+S3<;>S3", "> M0A*<;>V50", "> M0-S3<;>r", "> M0A*<;>V10",
                           "loco 3: speed 5", "end"}
            << (acquire3
                + QStringList{"! speed 3 101", "! released 3", "< M0-S3<;>",
                              "! closed: connection lost"});
        QTest::newRow("a loco another throttle holds is not released")
            << QList<int>{3}
            << QStringList{"> M0+S3<;>S3", "> M1+S3<;>S3", "> M1-S3<;>r", "end"}
            << (acquire3
                + QStringList{"< M1+S3<;>", "< M1AS3<;>F×29 on: ", "< M1AS3<;>V0",
                              "< M1AS3<;>R1", "< M1AS3<;>s1", "< M1-S3<;>", "! stop 3",
                              "! closed: connection lost"});
        QTest::newRow("release all of a throttle")
            << QList<int>{3, 1012}
            << QStringList{"> M0+S3<;>S3", "> M0+L1012<;>L1012", "> M0-*<;>r"}
            << (acquire3
                + QStringList{"< M0+L1012<;>", "< M0AL1012<;>F×29 on: ", "< M0AL1012<;>V0",
                              "< M0AL1012<;>R1", "< M0AL1012<;>s1", "! released 1012",
                              "! released 3", "< M0-*<;>"});
        QTest::newRow("quit leaves the locos as they are")
            << QList<int>{3}
            << QStringList{"> M0+S3<;>S3", "> M0A*<;>V50", "> Q", "> M0A*<;>V0", "end"}
            << (acquire3 + QStringList{"! speed 3 101", "! quit", "! closed: quit"});
        QTest::newRow("a dropped connection stops its locos")
            << QList<int>{3, 1012}
            << QStringList{"> M0+S3<;>S3", "> M1+L1012<;>L1012", "end"}
            << (acquire3
                + QStringList{"< M1+L1012<;>", "< M1AL1012<;>F×29 on: ", "< M1AL1012<;>V0",
                              "< M1AL1012<;>R1", "< M1AL1012<;>s1", "! stop 3", "! stop 1012",
                              "! closed: connection lost"});
        QTest::newRow("heartbeat silence past 10 s stops, once")
            << QList<int>{3}
            << QStringList{"> M0+S3<;>S3", "> *+", "+10000", "+1", "+5000", "> *", "+10001"}
            << (acquire3 + QStringList{"! stop 3", "! stop 3"});
        QTest::newRow("silence of exactly the interval is fine")
            << QList<int>{3} << QStringList{"> M0+S3<;>S3", "> *+", "+10000"} << acquire3;
        QTest::newRow("a heartbeat keeps the locos running")
            << QList<int>{3}
            << QStringList{"> M0+S3<;>S3", "> *+", "+9000", "> *", "+9000", "> *", "+9000"}
            << acquire3;
        QTest::newRow("a late line finds the silence already over")
            << QList<int>{3} << QStringList{"> M0+S3<;>S3", "> *+", "+10001", "> M0A*<;>V50"}
            << (acquire3 + QStringList{"! stop 3", "! speed 3 101"});
        QTest::newRow("without monitoring silence is fine")
            << QList<int>{3} << QStringList{"> M0+S3<;>S3", "> *+", "> *-", "+60000"}
            << acquire3;
        QTest::newRow("CR, LF and CR LF all end a line, in any pieces")
            << QList<int>{3}
            << QStringList{"~ M0+S3<;>S3\r", "~ \nM0A*<;>V5\rM0A*", "~ <;>V6\r\n\nM0A*<;>V7\n"}
            << (acquire3 + QStringList{"! speed 3 10", "! speed 3 12", "! speed 3 14"});
        QTest::newRow("a line of 1 KiB is fine")
            << QList<int>{} << QStringList{"long 1024", "~ \n", "> NPixel"}
            << QStringList{"< *10"};
        QTest::newRow("a line longer than 1 KiB closes and stops")
            << QList<int>{3} << QStringList{"> M0+S3<;>S3", "long 1025", "> NPixel"}
            << (acquire3 + QStringList{"! stop 3", "! closed: line too long"});
        QTest::newRow("a line in pieces counts whole")
            << QList<int>{3}
            << QStringList{"> M0+S3<;>S3", "long 1000", "long 24", "~ \n", "long 1000", "long 25",
                           "> NPixel"}
            << (acquire3 + QStringList{"! stop 3", "! closed: line too long"});
        QTest::newRow("50 lines a second is fine")
            << QList<int>{} << QStringList{"burst 50 over 1000", "burst 50 over 1000",
                                           "burst 50 over 1000"}
            << QStringList{};
        QTest::newRow("a short burst is fine")
            << QList<int>{} << QStringList{"burst 300 over 900", "+200", "burst 20 over 900"}
            << QStringList{};
        QTest::newRow("more than 50 a second for 2 s closes")
            << QList<int>{3}
            << QStringList{"> M0+S3<;>S3", "burst 60 over 1000", "burst 60 over 1000", "> NPixel"}
            << (acquire3 + QStringList{"! stop 3", "! closed: too many lines"});
        QTest::newRow("a stop of every loco keeps the connection")
            << QList<int>{3} << QStringList{"> M0+S3<;>S3", "> PXA", "> NPixel"}
            << (acquire3 + QStringList{"! stop all", "< *10"});
        QTest::newRow("power request and the answer")
            << QList<int>{} << QStringList{"> PPA1", "power on", "> PPA0", "power off"}
            << QStringList{"! power on", "< PPA1", "! power off", "< PPA0"};
    }
    void runsScripts()
    {
        QFETCH(QList<int>, roster);
        QFETCH(QStringList, script);
        QFETCH(QStringList, transcript);

        ThrottleHostRecorder host;
        qint64 now = 5'000'000;
        ThrottleSession session(host, roster, now);
        session.takeLines();
        for (const QString &step : script) {
            if (step.startsWith(QLatin1String("> "))) {
                session.receive(QByteArray(step.mid(2).toUtf8() + '\n'), now);
            } else if (step.startsWith(QLatin1String("~ "))) {
                session.receive(step.mid(2).toUtf8(), now);
            } else if (step.startsWith(QLatin1Char('+'))) {
                now += step.mid(1).toLongLong();
                session.advanceTo(now);
            } else if (step.startsWith(QLatin1String("loco "))) {
                const QStringList words = step.split(QLatin1Char(' '), Qt::SkipEmptyParts);
                const int loco = words[1].chopped(1).toInt();
                host.states[loco] = parseSnapshot(words.mid(2));
                session.locoStateChanged(loco, host.states[loco]);
            } else if (step.startsWith(QLatin1String("power "))) {
                host.power = step.endsWith(QLatin1String("on")) ? PowerState::On : PowerState::Off;
                session.trackPowerChanged(host.power);
            } else if (step == QLatin1String("end")) {
                session.connectionEnded();
            } else if (step.startsWith(QLatin1String("burst "))) {
                const QStringList words = step.split(QLatin1Char(' '));
                const int count = words[1].toInt();
                const qint64 span = words[3].toLongLong();
                for (int i = 0; i < count; ++i) {
                    session.receive("*\n", now + span * i / count);
                }
                now += span;
            } else if (step.startsWith(QLatin1String("long "))) {
                session.receive(QByteArray(step.mid(5).toInt(), 'A'), now);
            } else {
                QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
            }
            host.transcript << condense(session.takeLines());
        }
        QCOMPARE(host.transcript, transcript);
        QCOMPARE(session.isClosed(),
                 !transcript.isEmpty() && transcript.last().startsWith(QLatin1String("! closed")));
    }
};

KZ_TEST_MAIN(TestWiThrottle)
#include "test_withrottle.moc"
