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
    if (const auto *m = std::get_if<MomentaryFunction>(&action))
        return QStringLiteral("F%1 %2").arg(m->function).arg(m->momentary ? "momentary" : "latching");
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
    if (const auto *c = std::get_if<Select>(&*command)) {
        return QStringLiteral("select %1 %2").arg(QChar::fromLatin1(c->throttle))
            .arg(c->rosterName.isEmpty() ? QStringLiteral("%1 %2").arg(QString::fromLatin1(c->key)).arg(c->loco)
                                         : QStringLiteral("'%1'").arg(c->rosterName));
    }
    if (const auto *c = std::get_if<Deselect>(&*command))
        return QStringLiteral("deselect %1").arg(QChar::fromLatin1(c->throttle));
    if (const auto *c = std::get_if<SelectedAction>(&*command))
        return QStringLiteral("selected %1 %2").arg(QChar::fromLatin1(c->throttle), describe(c->action));
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
// The roster of the script step "roster": BR 218 (long, F2 held while
// pressed), V 60 on loco 3 (F3 held) and Köf on 12 (F2 latching).
QList<RosterEntry> scriptRoster()
{
    RosterEntry br218;
    br218.id = QStringLiteral("BR 218");
    br218.address = 218;
    br218.labels[0] = {QStringLiteral("Licht"), true};
    br218.labels[1] = {QStringLiteral("Sound"), true};
    br218.labels[2] = {QStringLiteral("Horn"), false};
    br218.labels[4] = {QStringLiteral("Kupplung"), true};
    RosterEntry v60;
    v60.id = QStringLiteral("V 60");
    v60.address = 3;
    v60.longAddress = false;
    v60.labels[3] = {QStringLiteral("Rangierpfiff"), false};
    RosterEntry koef;
    koef.id = QStringLiteral("Köf");
    koef.address = 12;
    koef.labels[2] = {QStringLiteral("Glocke"), true};
    return {br218, v60, koef};
}

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
        // M0AS3<;>F12, or an older throttle's TF12.
        const qsizetype found = line.indexOf(QLatin1String("<;>"));
        const qsizetype split = line.startsWith('M') ? found : (found < 0 ? -2 : -3);
        const bool function = split >= -2 && line.size() > split + 5
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
        QTest::newRow("declared momentary") << QByteArray("M0AS3<;>m12") << "action 0 S3=3 F2 momentary";
        QTest::newRow("declared latching") << QByteArray("M0A*<;>m028") << "action 0 *=all F28 latching";
        QTest::newRow("declared F29") << QByteArray("M0AS3<;>m129") << "ignored";
        QTest::newRow("declared without number") << QByteArray("M0AS3<;>m1") << "ignored";
        QTest::newRow("older: select long") << QByteArray("TL1234") << "select T L1234 1234";
        QTest::newRow("older: select short, second throttle") << QByteArray("SS3") << "select S S3 3";
        QTest::newRow("older: select roster entry") << QByteArray("TELok 3") << "select T 'Lok 3'";
        QTest::newRow("older: select loco 0") << QByteArray("TL0") << "ignored";
        QTest::newRow("older: select without number") << QByteArray("TS") << "ignored";
        QTest::newRow("older: release") << QByteArray("Tr") << "deselect T";
        QTest::newRow("older: dispatch") << QByteArray("Sd") << "deselect S";
        QTest::newRow("older: speed") << QByteArray("TV60") << "selected T speed 60";
        QTest::newRow("older: direction") << QByteArray("TR1") << "selected T forward";
        QTest::newRow("older: key") << QByteArray("TF10") << "selected T key F0 down";
        QTest::newRow("older: force") << QByteArray("Tf10") << "selected T force F0 on";
        QTest::newRow("older: stop") << QByteArray("TX") << "selected T stop";
        QTest::newRow("older: idle") << QByteArray("SI") << "selected S idle";
        QTest::newRow("older: query") << QByteArray("TqV") << "selected T query speed";
        QTest::newRow("older: momentary") << QByteArray("Tm12") << "selected T F2 momentary";
        QTest::newRow("older: letter alone") << QByteArray("T") << "ignored";
        QTest::newRow("older: unknown") << QByteArray("Tz") << "ignored";
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
        QCOMPARE(rosterLine(QList<int>{}), QByteArray("RL0"));
        // Names first, then the controller's locos without an entry; the
        // roster's long flag, else above 127.
        QList<RosterEntry> entries = scriptRoster();
        entries[0].longAddress = false;
        entries[1].id = QStringLiteral("V]\\[60}|{<;>\nalt");
        QCOMPARE(rosterLine(PhoneRoster{entries, {3, 5, 128, 218}}),
                 QByteArray("RL5]\\[BR 218}|{218}|{S]\\[V 60   alt}|{3}|{S]\\[Köf}|{12}|{S"
                            "]\\[Lok 5}|{5}|{S]\\[Lok 128}|{128}|{L"));
        entries[0].labels[5] = {QStringLiteral(" Pfeife]\\[2 "), true};
        QCOMPARE(labelLine('0', "L218", entries[0]),
                 QByteArray("M0LL218<;>]\\[Licht]\\[Sound]\\[Horn]\\[]\\[Kupplung]\\[Pfeife 2"
                            "]\\[]\\[]\\[]\\[]\\[]\\[]\\["));
        QCOMPARE(webPortLine(12080), QByteArray("PW12080"));
        QCOMPARE(speedStepMode(28), 2);
        QCOMPARE(speedStepMode(14), 8);
        QCOMPARE(speedStepMode(126), 1);
        QCOMPARE(speedStepMode(0), 1);
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
        // With the web throttle on, its port follows the track power.
        ThrottleSession withWeb(host, PhoneRoster{scriptRoster().mid(1, 1), {1012}}, 0, 12080);
        QCOMPARE(withWeb.takeLines(),
                 (QByteArrayList{"VN2.0", "RL2]\\[V 60}|{3}|{S]\\[Lok 1012}|{1012}|{L", "PPA2",
                                 "PW12080", "*10"}));
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
    // as they are; "+ms" lets time pass; "momentary a b" the program's list;
    // "quietly acquire n-m" throttle 0 acquires those locos, lines unread;
    // "unchecked" no controller passed the check; "loco n: speed s reverse Fk" the
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
                              "< M0AL1012<;>R1", "< M0AL1012<;>s1", "! released 3",
                              "! released 1012", "< M0-S3<;>", "< M0-L1012<;>"});
        QTest::newRow("release answers in the key form of the acquire")
            << QList<int>{3} << QStringList{"> M0+L3<;>S3", "> M0-S3<;>r", "> M0-S3<;>r", "> M0-*<;>r"}
            << QStringList{"< M0+L3<;>", "< M0AL3<;>F×29 on: ", "< M0AL3<;>V0", "< M0AL3<;>R1",
                           "< M0AL3<;>s1", "! released 3", "< M0-L3<;>"};
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
        QTest::newRow("heartbeat silence past 15 s stops, once")
            << QList<int>{3}
            << QStringList{"> HUabc", "> M0+S3<;>S3", "> *+", "+15000", "+1", "+5000", "> *",
                           "+15001"}
            << (acquire3 + QStringList{"! stop 3", "! stop 3"});
        QTest::newRow("silence of one and a half intervals is fine")
            << QList<int>{3} << QStringList{"> M0+S3<;>S3", "> *+", "+15000"} << acquire3;
        QTest::newRow("a beat 2.5 s late is fine")
            << QList<int>{3}
            << QStringList{"> HUabc", "> M0+S3<;>S3", "> *+", "+12500", "> *", "+12500", "> *",
                           "+12500"}
            << acquire3;
        QTest::newRow("silence of twice the interval stops")
            << QList<int>{3} << QStringList{"> M0+S3<;>S3", "> *+", "+9000", "> *", "+20000"}
            << (acquire3 + QStringList{"! stop 3"});
        QTest::newRow("a late line finds the silence already over")
            << QList<int>{3} << QStringList{"> M0+S3<;>S3", "> *+", "+15001", "> M0A*<;>V50"}
            << (acquire3 + QStringList{"! stop 3", "! speed 3 101"});
        QTest::newRow("without monitoring silence is fine")
            << QList<int>{3} << QStringList{"> HUabc", "> M0+S3<;>S3", "> *+", "> *-", "+60000"}
            << acquire3;
        QTest::newRow("without N or HU in 30 s the connection closes and stops")
            << QList<int>{3} << QStringList{"> M0+S3<;>S3", "+29999", "> *", "+1", "> NLate"}
            << (acquire3 + QStringList{"! stop 3", "! closed: no introduction"});
        QTest::newRow("a name in time keeps the connection")
            << QList<int>{} << QStringList{"+29999", "> NPixel", "+60000"}
            << QStringList{"< *10"};
        QTest::newRow("a silent socket is closed by time alone")
            << QList<int>{} << QStringList{"+30000"} << QStringList{"! closed: no introduction"};
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
        QTest::newRow("F2 is on while pressed; F3 latches")
            << QList<int>{3}
            << QStringList{"> M0+S3<;>S3", "> M0AS3<;>F12", "> M0AS3<;>F02", "> M0AS3<;>F13",
                           "> M0AS3<;>F03"}
            << (acquire3 + QStringList{"! function 3 F2 on", "! function 3 F2 off",
                                       "! function 3 F3 on"});
        QTest::newRow("the momentary list of the program")
            << QList<int>{3}
            << QStringList{"momentary 3 13 0", "> M0+S3<;>S3", "> M0AS3<;>F12", "> M0AS3<;>F02",
                           "> M0AS3<;>F13", "> M0AS3<;>F03", "> M0AS3<;>F10", "> M0AS3<;>F00"}
            << (acquire3 + QStringList{"! function 3 F2 on", "! function 3 F3 on",
                                       "! function 3 F3 off", "! function 3 F0 on"});
        QTest::newRow("m lines change it for the client's own loco")
            << QList<int>{3, 4}
            << QStringList{"> M0+S3<;>S3", "> M0AS3<;>m02", "> M0AS3<;>m14", "> M0AS3<;>F12",
                           "> M0AS3<;>F02", "> M0AS3<;>F14", "> M0AS3<;>F04", "quietly acquire 4",
                           "> M0AS4<;>F12", "> M0AS4<;>F02"}
            << (acquire3 + QStringList{"! function 3 F2 on", "! function 3 F4 on",
                                       "! function 3 F4 off", "! function 4 F2 on",
                                       "! function 4 F2 off"});
        QTest::newRow("an older throttle drives one loco at a time")
            << QList<int>{3, 1234}
            << QStringList{"> NHW", "> TL1234", "> TV60", "> TR0", "> TF10", "> TF00", "> TF12",
                           "> TF02", "> TqV", "> TX", "> TS3", "> TV126", "> Tr", "> TV10"}
            << QStringList{"< *10", "< TF×29 on: ", "< TV0", "< TR1", "< Ts1",
                           "! speed 1234 121", "! direction 1234 reverse",
                           "! function 1234 F0 on", "! function 1234 F2 on",
                           "! function 1234 F2 off", "< TV60", "! stop 1234",
                           "! released 1234", "< TF×29 on: ", "< TV0", "< TR1", "< Ts1",
                           "! speed 3 255", "! released 3"};
        QTest::newRow("an older throttle: nothing before a select, roster names, two letters")
            << QList<int>{3, 1234}
            << QStringList{"> TV60", "> TX", "> TELok 1234", "> SS3", "> SV126", "loco 1234: speed 255", "end"}
            << QStringList{"< TF×29 on: ", "< TV0", "< TR1", "< Ts1", "< SF×29 on: ", "< SV0",
                           "< SR1", "< Ss1", "! speed 3 255", "< TV126", "< TR1", "! stop 3",
                           "! stop 1234", "! closed: connection lost"};
        QTest::newRow("the 33rd loco is refused")
            << QList<int>{}
            << QStringList{"quietly acquire 1-32", "> M1+S33<;>S33", "> M1+S5<;>S5", "> TL33",
                           "> M0-S7<;>r", "> M1+S33<;>S33"}
            << QStringList{"< HMHöchstens 32 Loks je Handregler", "< M1+S5<;>",
                           "< M1AS5<;>F×29 on: ", "< M1AS5<;>V0", "< M1AS5<;>R1",
                           "< M1AS5<;>s1", "< HMHöchstens 32 Loks je Handregler",
                           "! released 7", "< M0-S7<;>", "< M1+S33<;>", "< M1AS33<;>F×29 on: ",
                           "< M1AS33<;>V0", "< M1AS33<;>R1", "< M1AS33<;>s1"};
        QTest::newRow("before the check: the message once, the intents all the same")
            << QList<int>{3}
            << QStringList{"unchecked", "> M0+S3<;>S3", "> M0A*<;>qV", "> M0A*<;>V50", "> PPA1",
                           "> M0AS3<;>F10"}
            << (acquire3 + QStringList{"< M0AS3<;>V0", "! speed 3 101",
                                       "< HMController nicht geprüft – bitte am PC „Prüfen“ drücken",
                                       "! power on", "! function 3 F0 on"});
        QTest::newRow("a stop of every loco keeps the connection")
            << QList<int>{3} << QStringList{"> M0+S3<;>S3", "> PXA", "> NPixel"}
            << (acquire3 + QStringList{"! stop all", "< *10"});
        // A web page can make any browser send a request to this port; its
        // body would be throttle lines. Nothing of it is acted on.
        QTest::newRow("a browser's POST: nothing in its body acts")
            << QList<int>{3}
            << QStringList{"~ POST / HTTP/1.1\r\nHost: 192.168.1.20:12090\r\n"
                           "Content-Type: text/plain\r\n\r\nNPixel\nM0+S3<;>S3\nM0A*<;>V126\n"}
            << QStringList{"! closed: spoke http"};
        QTest::newRow("a request line alone closes")
            << QList<int>{} << QStringList{"> GET /ws HTTP/1.1", "> NPixel"}
            << QStringList{"! closed: spoke http"};
        QTest::newRow("header lines after N close and stop")
            << QList<int>{3}
            << QStringList{"> NPixel", "> M0+S3<;>S3", "> Origin: http://angreifer.example",
                           "> M0A*<;>V126"}
            << (QStringList{"< *10"} + acquire3 + QStringList{"! stop 3", "! closed: spoke http"});
        QTest::newRow("a header that reads like an older throttle's line")
            << QList<int>{} << QStringList{"> HUabc", "> TE: trailers", "> TL3"}
            << QStringList{"! closed: spoke http"};
        QTest::newRow("names, ids and roster names with colons are no headers")
            << QList<int>{3}
            << QStringList{"> NPixel: 7", "> HU00:1a:2b:3c:4d:5e", "> M0+S3<;>ELok 3: Köf",
                           "> TEV200:1", "> NTab"}
            << QStringList{"< *10", "< *10"};
        const QString labels218 = QStringLiteral(
            "< M0LL218<;>]\\[Licht]\\[Sound]\\[Horn]\\[]\\[Kupplung]\\[]\\[]\\[]\\[]\\[]\\[]\\[]\\[");
        const QStringList acquire218{"< M0+L218<;>", labels218, "< M0AL218<;>F×29 on: ",
                                     "< M0AL218<;>V0", "< M0AL218<;>R1", "< M0AL218<;>s1"};
        const QString rosterList =
            QStringLiteral("< RL4]\\[BR 218}|{218}|{L]\\[V 60}|{3}|{S]\\[Köf}|{12}|{S]\\[Lok 5}|{5}|{S");
        QTest::newRow("roster: the names join the controller's locos")
            << QList<int>{3, 5, 218} << QStringList{"roster"} << QStringList{rosterList};
        // F2 is held only while pressed by the roster's flag (the server's
        // list has only F3), F1 latches.
        QTest::newRow("roster: taken by name, labels, lockable")
            << QList<int>{3, 5, 218}
            << QStringList{"roster", "momentary 3", "> M0+L218<;>EBR 218", "> M0AL218<;>F12", "> M0AL218<;>F02",
                           "> M0AL218<;>F11", "> M0AL218<;>F01", "> M0AL218<;>F11"}
            << (QStringList{rosterList} + acquire218
                + QStringList{"! function 218 F2 on", "! function 218 F2 off",
                              "! function 218 F1 on", "! function 218 F1 off"});
        // The server's list holds F2, the roster says Glocke latches; F3
        // has no label and follows the list.
        QTest::newRow("roster: a labelled function's flag before the server's list")
            << QList<int>{}
            << QStringList{"roster", "momentary 2 3", "> M0+S12<;>ESomething", "> M0+S12<;>EKöf",
                           "> M0AS12<;>F12", "> M0AS12<;>F02", "> M0AS12<;>F13", "> M0AS12<;>F03"}
            << QStringList{"< RL3]\\[BR 218}|{218}|{L]\\[V 60}|{3}|{S]\\[Köf}|{12}|{S",
                           "< M0+S12<;>",
                           "< M0LS12<;>]\\[]\\[]\\[Glocke]\\[]\\[]\\[]\\[]\\[]\\[]\\[]\\[]\\[]\\[",
                           "< M0AS12<;>F×29 on: ", "< M0AS12<;>V0", "< M0AS12<;>R1",
                           "< M0AS12<;>s1", "! function 12 F2 on", "! function 12 F3 on",
                           "! function 12 F3 off"};
        // By number a roster loco gets its labels too; an m line still wins.
        QTest::newRow("roster: taken by number, an m line over the flag")
            << QList<int>{}
            << QStringList{"roster", "> M0+S3<;>S3", "> M0AS3<;>m03", "> M0AS3<;>F13",
                           "> M0AS3<;>F03"}
            << QStringList{"< RL3]\\[BR 218}|{218}|{L]\\[V 60}|{3}|{S]\\[Köf}|{12}|{S",
                           "< M0+S3<;>",
                           "< M0LS3<;>]\\[]\\[]\\[]\\[Rangierpfiff]\\[]\\[]\\[]\\[]\\[]\\[]\\[]\\[]\\[",
                           "< M0AS3<;>F×29 on: ", "< M0AS3<;>V0", "< M0AS3<;>R1",
                           "< M0AS3<;>s1", "! function 3 F3 on"};
        QTest::newRow("roster: changed while held, the labels again")
            << QList<int>{218}
            << QStringList{"roster", "> M0+L218<;>EBR 218", "roster without F4", "roster without F4"}
            << (QStringList{"< RL3]\\[BR 218}|{218}|{L]\\[V 60}|{3}|{S]\\[Köf}|{12}|{S"} + acquire218
                + QStringList{"< RL3]\\[BR 218}|{218}|{L]\\[V 60}|{3}|{S]\\[Köf}|{12}|{S",
                              "< M0LL218<;>]\\[Licht]\\[Sound]\\[Horn]\\[]\\[]\\[]\\[]\\[]\\[]\\[]\\[]\\[]\\[",
                              "< RL3]\\[BR 218}|{218}|{L]\\[V 60}|{3}|{S]\\[Köf}|{12}|{S"});
        QTest::newRow("roster: an older client takes a loco by name, without labels")
            << QList<int>{}
            << QStringList{"roster", "> TEV 60", "> TF13", "> TF03"}
            << QStringList{"< RL3]\\[BR 218}|{218}|{L]\\[V 60}|{3}|{S]\\[Köf}|{12}|{S",
                           "< TF×29 on: ", "< TV0", "< TR1", "< Ts1", "! function 3 F3 on",
                           "! function 3 F3 off"};
        // The steps the window learnt from the controller, in JMRI's codes.
        QTest::newRow("speed steps: 28 and 14")
            << QList<int>{3, 5}
            << QStringList{"steps 3: 28", "steps 5: 14", "> M0+S3<;>S3", "> M0+S5<;>S5"}
            << (acquire3.mid(0, 4) + QStringList{"< M0AS3<;>s2", "< M0+S5<;>", "< M0AS5<;>F×29 on: ",
                                                 "< M0AS5<;>V0", "< M0AS5<;>R1", "< M0AS5<;>s8"});
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
            } else if (step.startsWith(QLatin1String("momentary "))) {
                QList<int> functions;
                for (const QString &word : step.mid(10).split(QLatin1Char(' ')))
                    functions << word.toInt();
                session.setMomentaryFunctions(functions);
            } else if (step.startsWith(QLatin1String("quietly acquire "))) {
                // Acquires on throttle 0 whose lines nobody reads.
                const QStringList range = step.mid(16).split(QLatin1Char('-'));
                for (int loco = range.first().toInt(); loco <= range.last().toInt(); ++loco)
                    session.receive(QByteArray("M0+S" + QByteArray::number(loco) + "<;>S"
                                        + QByteArray::number(loco) + '\n'), now);
                session.takeLines();
            } else if (step.startsWith(QLatin1String("roster"))) {
                QList<RosterEntry> entries = scriptRoster();
                if (step.endsWith(QLatin1String("without F4")))
                    entries[0].labels[4] = {};
                session.setPhoneRoster(PhoneRoster{entries, roster});
            } else if (step.startsWith(QLatin1String("steps "))) {
                const QStringList words = step.split(QLatin1Char(' '));
                host.speedStepsOf[words[1].chopped(1).toInt()] = words[2].toInt();
            } else if (step == QLatin1String("unchecked")) {
                host.checked = false;
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
