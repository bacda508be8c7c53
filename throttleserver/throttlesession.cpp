#include "throttleserver/throttlesession.h"

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

} // namespace

ThrottleSession::ThrottleSession(ThrottleHost &host, const QList<int> &roster, qint64 nowMs)
    : m_host(host),
      m_roster(validRoster(roster)),
      m_lastLineMs(nowMs),
      m_startMs(nowMs)
{
    // Some apps give up when the version has not come within a few seconds,
    // so the greeting goes out before the client said anything.
    m_out << versionLine() << rosterLine(m_roster) << powerLine(m_host.trackPower())
          << heartbeatLine(HeartbeatSeconds);
}

void ThrottleSession::receive(QByteArrayView bytes, qint64 nowMs)
{
    if (m_closed)
        return;
    // A silence that ran out before these bytes came counts, even when the
    // server's timer had not looked yet.
    checkHeartbeat(nowMs);
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
        checkHeartbeat(nowMs);
}

void ThrottleSession::connectionEnded()
{
    if (!m_closed)
        close(ThrottleIntent::CloseReason::ConnectionLost, true);
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
    m_roster = validRoster(roster);
    if (!m_closed)
        m_out << rosterLine(m_roster);
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
    if (const std::optional<ClientCommand> command = parseLine(line))
        handle(*command);
}

void ThrottleSession::handle(const ClientCommand &command)
{
    if (const auto *name = std::get_if<SetName>(&command)) {
        m_name = name->name;
        m_out << heartbeatLine(HeartbeatSeconds);
    } else if (const auto *id = std::get_if<HardwareId>(&command)) {
        m_hardwareId = id->id;
    } else if (const auto *beat = std::get_if<Heartbeat>(&command)) {
        if (beat->kind == Heartbeat::MonitorOn)
            m_monitored = true;
        else if (beat->kind == Heartbeat::MonitorOff)
            m_monitored = false;
    } else if (const auto *power = std::get_if<SetPower>(&command)) {
        // The answer comes with trackPowerChanged once the switch is done,
        // to every client alike.
        emitIntent(ThrottleIntent::SetTrackPower{power->on});
    } else if (std::holds_alternative<WiThrottle::StopAll>(command)) {
        emitIntent(ThrottleIntent::StopAll{});
    } else if (std::holds_alternative<WiThrottle::Quit>(command)) {
        emitIntent(ThrottleIntent::Quit{});
        close(ThrottleIntent::CloseReason::Quit, false);
    } else if (const auto *acquire = std::get_if<Acquire>(&command)) {
        int loco = acquire->loco;
        if (!acquire->rosterName.isEmpty()) {
            const auto entry = std::find_if(m_roster.cbegin(), m_roster.cend(), [&](int number) {
                return rosterName(number) == acquire->rosterName;
            });
            if (entry == m_roster.cend())
                return;
            loco = *entry;
        }
        QList<Held> &throttle = m_throttles[acquire->throttle];
        auto held = std::find_if(throttle.begin(), throttle.end(),
                                 [&](const Held &h) { return h.loco == loco; });
        if (held == throttle.end())
            held = throttle.insert(throttle.end(), Held{loco, acquire->key, {}});
        else
            held->key = acquire->key;
        m_out << acquiredLine(acquire->throttle, held->key);
        sendLocoState(acquire->throttle, *held, m_host.locoState(loco), true);
        // Speeds travel on the 0-126 scale whatever the loco's steps; "128
        // steps" tells the app to use that scale.
        m_out << actionLine(acquire->throttle, held->key, stepModeAction(1));
    } else if (const auto *release = std::get_if<Release>(&command)) {
        const auto it = m_throttles.find(release->throttle);
        if (it != m_throttles.end()) {
            QList<Held> &throttle = it.value();
            QList<int> released;
            for (qsizetype i = throttle.size() - 1; i >= 0; --i) {
                if (!release->loco || throttle[i].loco == *release->loco) {
                    released << throttle[i].loco;
                    throttle.removeAt(i);
                }
            }
            if (throttle.isEmpty())
                m_throttles.erase(it);
            // Told only when no other throttle of this client still holds it.
            const QList<int> stillHeld = heldLocos();
            for (const int loco : released) {
                if (!stillHeld.contains(loco))
                    emitIntent(ThrottleIntent::Released{loco});
            }
        }
        // Confirmed even for a loco the throttle did not hold: the app waits
        // for it to free its throttle.
        m_out << releasedLine(release->throttle, release->key);
    } else if (const auto *action = std::get_if<LocoAction>(&command)) {
        handleAction(*action);
    }
}

void ThrottleSession::handleAction(const LocoAction &action)
{
    const auto it = m_throttles.find(action.throttle);
    if (it == m_throttles.end())
        return;
    // A throttle drives only the locos it acquired. Index access, because an
    // intent must not be able to invalidate the walk.
    QList<Held> &throttle = it.value();
    for (qsizetype i = 0; i < throttle.size(); ++i) {
        if (!action.loco || throttle[i].loco == *action.loco)
            actOn(action.throttle, throttle[i], action.action);
    }
}

void ThrottleSession::actOn(char throttle, Held &held, const Action &action)
{
    const int loco = held.loco;
    if (const auto *speed = std::get_if<Speed>(&action)) {
        emitIntent(ThrottleIntent::SetSpeed{loco, controllerSpeed(speed->value)});
    } else if (const auto *direction = std::get_if<Direction>(&action)) {
        emitIntent(ThrottleIntent::SetDirection{loco, direction->forward});
    } else if (const auto *key = std::get_if<FunctionKey>(&action)) {
        // Apps send press and release; every function we switch latches, so
        // the press toggles and the release does nothing.
        if (!key->pressed)
            return;
        if (key->function > MaxSwitchedFunction) {
            m_out << actionLine(throttle, held.key, functionAction(key->function, false));
            return;
        }
        const bool on = m_host.locoState(loco).function(key->function);
        emitIntent(ThrottleIntent::SetFunction{loco, key->function, !on});
    } else if (const auto *force = std::get_if<ForceFunction>(&action)) {
        if (force->function > MaxSwitchedFunction) {
            m_out << actionLine(throttle, held.key, functionAction(force->function, false));
            return;
        }
        emitIntent(ThrottleIntent::SetFunction{loco, force->function, force->on});
    } else if (std::holds_alternative<EmergencyStop>(action)) {
        emitIntent(ThrottleIntent::Stop{loco});
    } else if (std::holds_alternative<Idle>(action)) {
        emitIntent(ThrottleIntent::SetSpeed{loco, 0});
    } else if (std::holds_alternative<QuerySpeed>(action)) {
        m_out << actionLine(throttle, held.key, speedAction(appSpeed(m_host.locoState(loco).speed)));
    } else if (std::holds_alternative<QueryDirection>(action)) {
        m_out << actionLine(throttle, held.key, directionAction(m_host.locoState(loco).forward));
    }
    // SpeedStepMode: we keep the 0-126 scale we announced; nothing to do.
}

void ThrottleSession::sendLocoState(char throttle, Held &held, const PhoneLoco &state,
                                    bool everything)
{
    // Functions only when they changed (fifteen lines per speed step would be
    // noise); speed and direction always, because a command the controller
    // did not answer comes back as an unchanged state, and the app must then
    // move its slider back.
    for (int n = 0; n <= MaxFunction; ++n) {
        const bool on = n <= MaxSwitchedFunction && state.function(n);
        const bool was = n <= MaxSwitchedFunction && held.reported.function(n);
        if (everything || on != was)
            m_out << actionLine(throttle, held.key, functionAction(n, on));
    }
    m_out << actionLine(throttle, held.key, speedAction(appSpeed(state.speed)))
          << actionLine(throttle, held.key, directionAction(state.forward));
    held.reported = state;
}

void ThrottleSession::checkHeartbeat(qint64 nowMs)
{
    if (!m_monitored || m_silenceHandled || nowMs - m_lastLineMs <= HeartbeatSeconds * 1000)
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
    m_pending.clear();
    m_throttles.clear();
    emitIntent(ThrottleIntent::Closed{reason});
}
