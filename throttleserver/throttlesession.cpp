#include "throttleserver/throttlesession.h"

#include "throttleserver/netpolicy.h"

#include <algorithm>
#include <utility>

using namespace WiThrottle;

namespace {

QList<int> validRoster(const QList<int> &roster)
{
    QList<int> locos;
    for (const int loco : roster) {
        if (loco >= MinLoco && loco <= MaxLoco && !locos.contains(loco))
            locos << loco;
    }
    return locos;
}

// The prefix of throttle t's multi-throttle lines: "M0".
QByteArray multiThrottle(char throttle)
{
    QByteArray id("M");
    id.append(throttle);
    return id;
}

} // namespace

ThrottleSession::ThrottleSession(ThrottleHost &host, const QList<int> &roster, qint64 nowMs)
    : ThrottleSession(host, PhoneRoster{{}, roster}, nowMs)
{
}

ThrottleSession::ThrottleSession(ThrottleHost &host, const PhoneRoster &roster, qint64 nowMs,
                                 quint16 webPort)
    : m_host(host),
      m_roster{roster.entries, validRoster(roster.locos)},
      m_webPort(webPort),
      m_lastLineMs(nowMs),
      m_startMs(nowMs)
{
    // Some apps give up when the version has not come within a few seconds,
    // so the greeting goes out before the client said anything.
    m_out << versionLine() << rosterLine(m_roster) << powerLine(m_host.trackPower());
    if (m_webPort)
        m_out << webPortLine(m_webPort);
    m_out << heartbeatLine(HeartbeatSeconds);
}

void ThrottleSession::receive(QByteArrayView bytes, qint64 nowMs)
{
    if (m_closed)
        return;
    // A silence that ran out before these bytes came counts, even when the
    // server's timer had not looked yet.
    checkTime(nowMs);
    if (m_closed)
        return;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const char c = bytes[i++];
        if (c == '\n' && m_afterCR) {
            // The LF of a CR LF whose CR already ended the line.
            m_afterCR = false;
            continue;
        }
        m_afterCR = c == '\r';
        if (c == '\n' || c == '\r') {
            const QByteArray line = std::exchange(m_pending, {});
            handleLine(line, nowMs);
            if (m_closed)
                return;
            continue;
        }
        // The rest of the line as far as it came, in one piece.
        const qsizetype start = i - 1;
        qsizetype end = i;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r')
            ++end;
        // Checked before the line grows, so that a client without line ends
        // cannot make us hold more than this.
        if (m_pending.size() + (end - start) > MaxLineBytes) {
            close(ThrottleIntent::CloseReason::LineTooLong, true);
            return;
        }
        m_pending.append(bytes.sliced(start, end - start));
        i = end;
    }
}

void ThrottleSession::advanceTo(qint64 nowMs)
{
    if (!m_closed)
        checkTime(nowMs);
}

void ThrottleSession::connectionEnded()
{
    if (!m_closed)
        close(ThrottleIntent::CloseReason::ConnectionLost, true);
}

void ThrottleSession::setMomentaryFunctions(const QList<int> &functions)
{
    m_momentary = 0;
    for (const int function : functions) {
        if (function >= 1 && function <= MaxSwitchedFunction)
            m_momentary |= 1u << function;
    }
}

QString ThrottleSession::tooManyLocosText()
{
    return QStringLiteral("Höchstens %1 Loks je Handregler").arg(MaxLocosPerClient);
}

QString ThrottleSession::notCheckedText()
{
    return QStringLiteral("Controller nicht geprüft – bitte am PC „Prüfen“ drücken");
}

void ThrottleSession::locoStateChanged(int loco, const PhoneLoco &state)
{
    if (m_closed)
        return;
    for (auto it = m_throttles.begin(); it != m_throttles.end(); ++it) {
        for (Held &held : it.value()) {
            if (held.loco == loco)
                sendLocoState(it.key(), held, state, false);
        }
    }
}

void ThrottleSession::trackPowerChanged(PowerState state)
{
    if (!m_closed)
        m_out << powerLine(state);
}

void ThrottleSession::setRoster(const QList<int> &roster)
{
    m_roster.locos = validRoster(roster);
    if (!m_closed)
        m_out << rosterLine(m_roster);
}

void ThrottleSession::setPhoneRoster(const PhoneRoster &roster)
{
    m_roster = PhoneRoster{roster.entries, validRoster(roster.locos)};
    if (m_closed)
        return;
    m_out << rosterLine(m_roster);
    for (auto it = m_throttles.begin(); it != m_throttles.end(); ++it) {
        for (Held &held : it.value()) {
            // The entry it was taken as, by its name; else the loco's first.
            const RosterEntry *entry = nullptr;
            if (held.entry) {
                const auto named = std::find_if(m_roster.entries.cbegin(), m_roster.entries.cend(),
                                                [&](const RosterEntry &e) { return e.id == held.entry->id; });
                if (named != m_roster.entries.cend())
                    entry = &*named;
            }
            if (!entry) {
                const auto first = std::find_if(m_roster.entries.cbegin(), m_roster.entries.cend(),
                                                [&](const RosterEntry &e) { return e.address == held.loco; });
                if (first != m_roster.entries.cend())
                    entry = &*first;
            }
            const bool labelsChanged = entry ? !held.entry || held.entry->labels != entry->labels
                                             : held.entry.has_value();
            held.entry = entry ? std::optional<RosterEntry>(*entry) : std::nullopt;
            if (labelsChanged)
                sendLabels(it.key(), held);
        }
    }
}

void ThrottleSession::setWebPort(quint16 port)
{
    m_webPort = port;
    if (!m_closed && port)
        m_out << webPortLine(port);
}

QByteArrayList ThrottleSession::takeLines()
{
    return std::exchange(m_out, {});
}

QList<int> ThrottleSession::heldLocos() const
{
    QList<int> locos;
    for (const QList<Held> &throttle : m_throttles) {
        for (const Held &held : throttle) {
            if (!locos.contains(held.loco))
                locos << held.loco;
        }
    }
    std::sort(locos.begin(), locos.end());
    return locos;
}

void ThrottleSession::handleLine(QByteArrayView line, qint64 nowMs)
{
    m_lastLineMs = nowMs;
    m_silenceHandled = false;
    if (!countLine(nowMs)) {
        close(ThrottleIntent::CloseReason::TooManyLines, true);
        return;
    }
    // HTTP here is a web page in some browser sending us a request whose body
    // would be read as throttle lines: neither the line nor anything after it
    // is acted on.
    if ((!m_heardLine && isHttpRequestLine(line)) || isHttpHeaderLine(line)) {
        close(ThrottleIntent::CloseReason::SpokeHttp, true);
        return;
    }
    m_heardLine = true;
    if (const std::optional<ClientCommand> command = parseLine(line))
        handle(*command);
}

void ThrottleSession::handle(const ClientCommand &command)
{
    if (const auto *name = std::get_if<SetName>(&command)) {
        m_name = name->name;
        m_introduced = true;
        m_out << heartbeatLine(HeartbeatSeconds);
    } else if (const auto *id = std::get_if<HardwareId>(&command)) {
        m_hardwareId = id->id;
        m_introduced = true;
    } else if (const auto *beat = std::get_if<Heartbeat>(&command)) {
        if (beat->kind == Heartbeat::MonitorOn)
            m_monitored = true;
        else if (beat->kind == Heartbeat::MonitorOff)
            m_monitored = false;
    } else if (const auto *power = std::get_if<SetPower>(&command)) {
        // The answer comes with trackPowerChanged once the switch is done,
        // to every client alike.
        drive(ThrottleIntent::SetTrackPower{power->on});
    } else if (std::holds_alternative<WiThrottle::StopAll>(command)) {
        drive(ThrottleIntent::StopAll{});
    } else if (std::holds_alternative<WiThrottle::Quit>(command)) {
        emitIntent(ThrottleIntent::Quit{});
        close(ThrottleIntent::CloseReason::Quit, false);
    } else if (const auto *acquired = std::get_if<Acquire>(&command)) {
        acquire(multiThrottle(acquired->throttle), acquired->key, acquired->loco,
                acquired->rosterName);
    } else if (const auto *released = std::get_if<Release>(&command)) {
        release(multiThrottle(released->throttle), released->loco, true);
    } else if (const auto *action = std::get_if<LocoAction>(&command)) {
        handleAction(*action);
    } else if (const auto *select = std::get_if<Select>(&command)) {
        // One loco per throttle: the one it had is let go first.
        const ThrottleId throttle(1, select->throttle);
        release(throttle, std::nullopt, false);
        acquire(throttle, select->key, select->loco, select->rosterName);
    } else if (const auto *deselect = std::get_if<Deselect>(&command)) {
        release(ThrottleId(1, deselect->throttle), std::nullopt, false);
    } else if (const auto *selected = std::get_if<SelectedAction>(&command)) {
        // Lines before a loco is selected do nothing.
        const ThrottleId throttle(1, selected->throttle);
        const auto it = m_throttles.find(throttle);
        if (it != m_throttles.end() && !it.value().isEmpty())
            actOn(throttle, it.value().first(), selected->action);
    }
}

void ThrottleSession::acquire(const ThrottleId &throttle, const QByteArray &key, int loco,
                              const QString &rosterName)
{
    const RosterEntry *rosterEntry = nullptr;
    if (!rosterName.isEmpty()) {
        const QList<RosterItem> items = rosterItems(m_roster);
        const auto item = std::find_if(items.cbegin(), items.cend(),
                                       [&](const RosterItem &i) { return i.name == rosterName; });
        if (item == items.cend())
            return;
        loco = item->loco;
        rosterEntry = item->entry;
    } else {
        const auto first = std::find_if(m_roster.entries.cbegin(), m_roster.entries.cend(),
                                        [&](const RosterEntry &e) { return e.address == loco; });
        if (first != m_roster.entries.cend())
            rosterEntry = &*first;
    }
    const QList<int> held = heldLocos();
    if (!held.contains(loco) && held.size() >= MaxLocosPerClient) {
        m_out << messageLine(tooManyLocosText());
        return;
    }
    QList<Held> &locos = m_throttles[throttle];
    auto entry = std::find_if(locos.begin(), locos.end(),
                              [&](const Held &h) { return h.loco == loco; });
    const QByteArray form = key.isEmpty() ? addressKey(loco) : key;
    if (entry == locos.end())
        entry = locos.insert(locos.end(), Held{loco, form, {}, {}});
    else
        entry->key = form;
    entry->entry = rosterEntry ? std::optional<RosterEntry>(*rosterEntry) : std::nullopt;
    if (throttle.size() == 2)
        m_out << acquiredLine(throttle[1], entry->key);
    sendLabels(throttle, *entry);
    sendLocoState(throttle, *entry, m_host.locoState(loco), true);
    // The loco's own steps, as the window shows them; speeds travel on the
    // 0-126 scale whatever they are.
    m_out << stateLine(throttle, *entry,
                       stepModeAction(speedStepMode(m_host.speedSteps(loco))));
}

void ThrottleSession::sendLabels(const ThrottleId &throttle, const Held &held)
{
    // The older single-throttle clients have no label line.
    if (throttle.size() == 2 && held.entry)
        m_out << labelLine(throttle[1], held.key, *held.entry);
}

void ThrottleSession::release(const ThrottleId &throttle, const std::optional<int> &loco,
                              bool answer)
{
    const auto it = m_throttles.find(throttle);
    if (it == m_throttles.end())
        return;
    QList<int> released;
    QList<Held> &locos = it.value();
    for (qsizetype i = 0; i < locos.size();) {
        if (loco && locos[i].loco != *loco) {
            ++i;
            continue;
        }
        released << locos[i].loco;
        // The app drops the loco from its throttle when it reads the key it
        // acquired the loco under.
        if (answer)
            m_out << releasedLine(throttle[1], locos[i].key);
        locos.removeAt(i);
    }
    if (locos.isEmpty())
        m_throttles.erase(it);
    // Told only when no other throttle of this client still holds it.
    const QList<int> stillHeld = heldLocos();
    for (const int number : released) {
        if (!stillHeld.contains(number)) {
            m_momentaryByLoco.remove(number);
            emitIntent(ThrottleIntent::Released{number});
        }
    }
}

void ThrottleSession::handleAction(const LocoAction &action)
{
    const ThrottleId throttle = multiThrottle(action.throttle);
    const auto it = m_throttles.find(throttle);
    if (it == m_throttles.end())
        return;
    // A throttle drives only the locos it acquired. Index access, because an
    // intent must not be able to invalidate the walk.
    QList<Held> &locos = it.value();
    for (qsizetype i = 0; i < locos.size(); ++i) {
        if (!action.loco || locos[i].loco == *action.loco)
            actOn(throttle, locos[i], action.action);
    }
}

void ThrottleSession::actOn(const ThrottleId &throttle, Held &held, const Action &action)
{
    const int loco = held.loco;
    if (const auto *speed = std::get_if<Speed>(&action)) {
        drive(ThrottleIntent::SetSpeed{loco, controllerSpeed(speed->value)});
    } else if (const auto *direction = std::get_if<Direction>(&action)) {
        drive(ThrottleIntent::SetDirection{loco, direction->forward});
    } else if (const auto *key = std::get_if<FunctionKey>(&action)) {
        if (key->function > MaxSwitchedFunction) {
            if (key->pressed)
                m_out << stateLine(throttle, held, functionAction(key->function, false));
            return;
        }
        // Apps send press and release and leave the meaning to us: a
        // momentary function is on while pressed; a latching one toggles on
        // the press and ignores the release.
        if (isMomentary(held, key->function)) {
            drive(ThrottleIntent::SetFunction{loco, key->function, key->pressed});
        } else if (key->pressed) {
            const bool on = m_host.locoState(loco).function(key->function);
            drive(ThrottleIntent::SetFunction{loco, key->function, !on});
        }
    } else if (const auto *force = std::get_if<ForceFunction>(&action)) {
        if (force->function > MaxSwitchedFunction) {
            m_out << stateLine(throttle, held, functionAction(force->function, false));
            return;
        }
        drive(ThrottleIntent::SetFunction{loco, force->function, force->on});
    } else if (const auto *momentary = std::get_if<MomentaryFunction>(&action)) {
        auto entry = m_momentaryByLoco.find(loco);
        if (entry == m_momentaryByLoco.end())
            entry = m_momentaryByLoco.insert(loco, defaultMomentary(held));
        quint32 &bits = entry.value();
        const quint32 bit = 1u << momentary->function;
        bits = momentary->momentary ? bits | bit : bits & ~bit;
    } else if (std::holds_alternative<EmergencyStop>(action)) {
        drive(ThrottleIntent::Stop{loco});
    } else if (std::holds_alternative<Idle>(action)) {
        drive(ThrottleIntent::SetSpeed{loco, 0});
    } else if (std::holds_alternative<QuerySpeed>(action)) {
        m_out << stateLine(throttle, held, speedAction(appSpeed(m_host.locoState(loco).speed)));
    } else if (std::holds_alternative<QueryDirection>(action)) {
        m_out << stateLine(throttle, held, directionAction(m_host.locoState(loco).forward));
    }
    // SpeedStepMode: we keep the 0-126 scale we announced; nothing to do.
}

void ThrottleSession::drive(const ThrottleIntentValue &intent)
{
    // Before the check the program sends nothing and the app gets the state
    // back unchanged; once per connection it is told why.
    if (!m_toldNotChecked && !m_host.controllerChecked()) {
        m_toldNotChecked = true;
        m_out << messageLine(notCheckedText());
    }
    emitIntent(intent);
}

bool ThrottleSession::isMomentary(const Held &held, int function) const
{
    const auto own = m_momentaryByLoco.constFind(held.loco);
    const quint32 bits = own != m_momentaryByLoco.constEnd() ? *own : defaultMomentary(held);
    return (bits >> function) & 1u;
}

quint32 ThrottleSession::defaultMomentary(const Held &held) const
{
    quint32 bits = m_momentary;
    if (!held.entry)
        return bits;
    for (int n = 0; n <= RosterEntry::MaxLabelledFunction; ++n) {
        if (!held.entry->hasLabel(n))
            continue;
        if (held.entry->isMomentary(n))
            bits |= 1u << n;
        else
            bits &= ~(1u << n);
    }
    return bits;
}

QByteArray ThrottleSession::stateLine(const ThrottleId &throttle, const Held &held,
                                      QByteArrayView action) const
{
    if (throttle.size() == 2)
        return actionLine(throttle[1], held.key, action);
    // An older client's throttle: its letter and the action (TV50, TF12).
    return throttle + action;
}

void ThrottleSession::sendLocoState(const ThrottleId &throttle, Held &held,
                                    const PhoneLoco &state, bool everything)
{
    // Functions only when they changed (fifteen lines per speed step would be
    // noise); speed and direction always, because a command the controller
    // did not answer comes back as an unchanged state, and the app must then
    // move its slider back.
    for (int n = 0; n <= MaxFunction; ++n) {
        const bool on = n <= MaxSwitchedFunction && state.function(n);
        const bool was = n <= MaxSwitchedFunction && held.reported.function(n);
        if (everything || on != was)
            m_out << stateLine(throttle, held, functionAction(n, on));
    }
    m_out << stateLine(throttle, held, speedAction(appSpeed(state.speed)))
          << stateLine(throttle, held, directionAction(state.forward));
    held.reported = state;
}

void ThrottleSession::checkTime(qint64 nowMs)
{
    if (!m_introduced && nowMs - m_startMs >= IntroductionMs) {
        close(ThrottleIntent::CloseReason::NoIntroduction, true);
        return;
    }
    if (!m_monitored || m_silenceHandled || nowMs - m_lastLineMs <= HeartbeatToleranceMs)
        return;
    // Once per silence: the stop stands until the client is heard again.
    m_silenceHandled = true;
    for (const int loco : heldLocos())
        emitIntent(ThrottleIntent::Stop{loco});
}

bool ThrottleSession::countLine(qint64 nowMs)
{
    const qint64 second = qMax<qint64>(0, nowMs - m_startMs) / 1000;
    if (second == m_rateSecond + 1) {
        m_linesSecondBefore = m_linesThisSecond;
        m_linesThisSecond = 0;
    } else if (second > m_rateSecond + 1) {
        m_linesSecondBefore = 0;
        m_linesThisSecond = 0;
    }
    m_rateSecond = qMax(m_rateSecond, second);
    ++m_linesThisSecond;
    return m_linesThisSecond <= MaxLinesPerSecond || m_linesSecondBefore <= MaxLinesPerSecond;
}

void ThrottleSession::close(ThrottleIntent::CloseReason reason, bool stopLocos)
{
    // A throttle that vanished must not leave a train running; one that said
    // goodbye leaves its locos as they are.
    if (stopLocos) {
        for (const int loco : heldLocos())
            emitIntent(ThrottleIntent::Stop{loco});
    }
    m_closed = true;
    m_closeReason = reason;
    m_pending.clear();
    m_throttles.clear();
    m_momentaryByLoco.clear();
    emitIntent(ThrottleIntent::Closed{reason});
}
