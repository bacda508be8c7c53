// The phone-throttle line parser and one client's session with arbitrary
// bytes, arbitrary pieces and arbitrary time.
//
// Input: a sequence of steps, each one byte choosing the step and then its
// data: a piece of bytes up to a zero byte (sent line by line, or as it is),
// a pause, or a changed loco state.
//
// What must hold for every input:
// - a line the parser does not accept produces no intent (a line that breaks
//   an abuse limit may only stop the client's locos and close);
// - every intent names a loco of the DCC range, a speed 0-255 and a function 0-12;
// - time alone, a changed state and the end of the connection produce
//   nothing but stops of the locos the client holds (and the close);
// - a client holds at most 32 locos;
// - a line of HTTP (a request line first, a header line at any time) closes
//   the session at once, with nothing but stops of the locos it held: a web
//   page's request cannot drive through its body;
// - no line we send carries a line end of its own (a client cannot inject
//   lines to itself through a key or a name, nor a roster through its names
//   and labels).

#include "fuzzinput.h"

#include "throttleserver/netpolicy.h"
#include "throttleserver/throttlesession.h"
#include "throttleserver/withrottle.h"

#include <QMap>

#include <memory>

namespace {

using namespace WiThrottle;

class FuzzHost final : public ThrottleHost
{
public:
    QMap<int, PhoneLoco> states;
    QList<ThrottleIntentValue> intents;
    bool checked = true;

    PhoneLoco locoState(int loco) const override { return states.value(loco); }
    PowerState trackPower() const override { return PowerState::Unknown; }
    bool controllerChecked() const override { return checked; }

    void perform(const ThrottleIntentValue &intent) override
    {
        using namespace ThrottleIntent;
        intents << intent;
        if (const auto *speed = std::get_if<SetSpeed>(&intent)) {
            FUZZ_CHECK(validLoco(speed->loco));
            FUZZ_CHECK(speed->speed >= 0 && speed->speed <= MaxControllerSpeed);
            states[speed->loco].speed = speed->speed;
        } else if (const auto *direction = std::get_if<SetDirection>(&intent)) {
            FUZZ_CHECK(validLoco(direction->loco));
            states[direction->loco].forward = direction->forward;
        } else if (const auto *function = std::get_if<SetFunction>(&intent)) {
            FUZZ_CHECK(validLoco(function->loco));
            FUZZ_CHECK(function->function >= 0
                       && function->function <= ThrottleSession::MaxSwitchedFunction);
            const quint32 bit = 1u << function->function;
            quint32 &functions = states[function->loco].functions;
            functions = function->on ? functions | bit : functions & ~bit;
        } else if (const auto *stop = std::get_if<Stop>(&intent)) {
            FUZZ_CHECK(validLoco(stop->loco));
        } else if (const auto *released = std::get_if<Released>(&intent)) {
            FUZZ_CHECK(validLoco(released->loco));
        }
    }

    static bool validLoco(int loco) { return loco >= MinLoco && loco <= MaxLoco; }
};

// Since `from`, only stops of locos in `held` and at most a close.
void checkOnlyStops(const FuzzHost &host, qsizetype from, const QList<int> &held)
{
    for (qsizetype i = from; i < host.intents.size(); ++i) {
        const ThrottleIntentValue &intent = host.intents[i];
        if (const auto *stop = std::get_if<ThrottleIntent::Stop>(&intent))
            FUZZ_CHECK(held.contains(stop->loco));
        else
            FUZZ_CHECK(std::holds_alternative<ThrottleIntent::Closed>(intent));
    }
}

// Roster entries beside the controller's locos: one on a controller loco, one
// of its own, with names and labels that hold line ends and delimiters.
QList<RosterEntry> rosterEntries()
{
    RosterEntry v60;
    v60.id = QStringLiteral("V 60");
    v60.address = 3;
    v60.labels[2] = FunctionLabel{QStringLiteral("Horn\r\nM0A*<;>V126"), false};
    RosterEntry br218;
    br218.id = QStringLiteral("BR 218\n]\\[}|{");
    br218.address = 218;
    br218.labels[0] = FunctionLabel{QStringLiteral("Licht"), true};
    br218.labels[1] = FunctionLabel{QStringLiteral("Sound"), false};
    return {v60, br218};
}

void checkLines(ThrottleSession &session)
{
    for (const QByteArray &line : session.takeLines())
        FUZZ_CHECK(!line.contains('\n') && !line.contains('\r'));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    FuzzHost host;
    qint64 now = 1'000'000;
    const QList<int> roster{3, 127, 128, 1012, WiThrottle::MaxLoco};
    const PhoneRoster phones{rosterEntries(), roster};
    auto session = std::make_unique<ThrottleSession>(host, phones, now);
    // Whether the session has had no line yet.
    bool firstLine = true;

    while (!in.atEnd()) {
        if (session->isClosed()) {
            session = std::make_unique<ThrottleSession>(host, phones, now);
            firstLine = true;
        }
        const quint8 step = in.byte();
        switch (step % 4) {
        case 0: {
            // Line by line, each judged on its own.
            const QByteArray piece = in.untilZero();
            const QByteArrayView text(piece);
            qsizetype start = 0;
            while (start <= text.size() && !session->isClosed()) {
                qsizetype end = start;
                while (end < text.size() && text[end] != '\n' && text[end] != '\r')
                    ++end;
                const QByteArrayView line = text.sliced(start, end - start);
                // What the client held matters only for a line that must
                // not act: it may then stop those locos and nothing else.
                const bool http = (firstLine && isHttpRequestLine(line)) || isHttpHeaderLine(line);
                const bool parsed = parseLine(line).has_value();
                const QList<int> held = parsed && !http ? QList<int>() : session->heldLocos();
                const qsizetype before = host.intents.size();
                session->receive(line, now);
                session->receive("\n", now);
                firstLine = false;
                if (http) {
                    // Closed for it, or for a limit it broke first.
                    FUZZ_CHECK(session->isClosed());
                    checkOnlyStops(host, before, held);
                } else if (!parsed) {
                    if (session->isClosed())
                        checkOnlyStops(host, before, held);
                    else
                        FUZZ_CHECK(host.intents.size() == before);
                }
                checkLines(*session);
                start = end + 1;
            }
            const QList<int> held = session->heldLocos();
            FUZZ_CHECK(held.size() <= ThrottleSession::MaxLocosPerClient);
            for (const int loco : held)
                FUZZ_CHECK(FuzzHost::validLoco(loco));
            break;
        }
        case 1:
            // As it comes, in one piece: line ends of every kind, anywhere.
            // The final LF ends what was sent, so that the next step's lines
            // are judged on their own.
            session->receive(QByteArray(in.untilZero() + '\n'), now);
            firstLine = false;
            checkLines(*session);
            break;
        case 2: {
            // A pause of up to 25.5 s.
            now += qint64(in.byte()) * 100;
            const QList<int> held = session->heldLocos();
            const qsizetype before = host.intents.size();
            session->advanceTo(now);
            checkOnlyStops(host, before, held);
            checkLines(*session);
            break;
        }
        default: {
            // The shared state of a loco changed, held or not.
            const QList<int> held = session->heldLocos();
            const quint8 choice = in.byte();
            const int loco = held.isEmpty() ? roster[choice % roster.size()]
                                            : held[choice % held.size()];
            PhoneLoco state;
            state.speed = in.byte();
            state.forward = step & 0x80;
            state.functions = quint32(in.byte()) << 5 | in.byte();
            const qsizetype before = host.intents.size();
            host.states[loco] = state;
            session->locoStateChanged(loco, state);
            if (step & 0x40)
                session->trackPowerChanged(step & 0x20 ? PowerState::On : PowerState::Off);
            // Whether a controller passed the check changes what a drive
            // line is answered with, never what it may do.
            host.checked = !(step & 0x10);
            FUZZ_CHECK(host.intents.size() == before);
            checkLines(*session);
            break;
        }
        }
    }

    const QList<int> held = session->heldLocos();
    const qsizetype before = host.intents.size();
    session->connectionEnded();
    checkOnlyStops(host, before, held);
    FUZZ_CHECK(session->isClosed());
    return 0;
}
