#include "link/locodriver.h"

#include "common/flagscope.h"
#include "link/commands.h"
#include "link/linklog.h"
#include "link/locoframes.h"
#include "link/locostate.h"

namespace {

LocoDriver *g_driver = nullptr;

DriveIntent make(DriveIntent::Kind kind, int loco, int value, bool on)
{
    DriveIntent intent;
    intent.kind = kind;
    intent.loco = loco;
    intent.value = value;
    intent.on = on;
    return intent;
}

bool inRange(const DriveIntent &intent)
{
    switch (intent.kind) {
    case DriveIntent::Kind::StopAll:
        return true;
    case DriveIntent::Kind::Accessory:
        return Limits::isDecoderId(intent.loco) && intent.value >= 0 && intent.value <= 255;
    case DriveIntent::Kind::Speed:
        return Limits::isLocoNumber(intent.loco) && intent.value >= 0 && intent.value <= 255;
    case DriveIntent::Kind::Function:
        return Limits::isLocoNumber(intent.loco) && Limits::isFunction(intent.value);
    case DriveIntent::Kind::Direction:
    case DriveIntent::Kind::Stop:
        return Limits::isLocoNumber(intent.loco);
    }
    return false;
}

CommandBuffer frameOf(const DriveIntent &intent, quint8 controller)
{
    switch (intent.kind) {
    case DriveIntent::Kind::Speed:
        return LocoFrames::speed(controller, intent.loco, quint8(intent.value));
    case DriveIntent::Kind::Direction:
        return LocoFrames::direction(controller, intent.loco, intent.on);
    case DriveIntent::Kind::Function:
        return LocoFrames::function(controller, intent.loco, intent.value, intent.on);
    case DriveIntent::Kind::Stop:
        return LocoFrames::stop(controller, intent.loco);
    case DriveIntent::Kind::StopAll:
        return LocoFrames::stopAll(controller);
    case DriveIntent::Kind::Accessory:
        return LocoFrames::accessory(controller, intent.loco, intent.value, intent.on);
    }
    return {};
}

} // namespace

DriveIntent DriveIntent::speed(int loco, quint8 speed)
{
    return make(Kind::Speed, loco, speed, false);
}

DriveIntent DriveIntent::direction(int loco, bool forward)
{
    return make(Kind::Direction, loco, 0, forward);
}

DriveIntent DriveIntent::function(int loco, int function, bool on)
{
    return make(Kind::Function, loco, function, on);
}

DriveIntent DriveIntent::stop(int loco)
{
    return make(Kind::Stop, loco, 0, false);
}

DriveIntent DriveIntent::stopAll()
{
    return make(Kind::StopAll, 0, 0, false);
}

DriveIntent DriveIntent::accessory(int decoderId, int port, bool on)
{
    return make(Kind::Accessory, decoderId, port, on);
}

DriveIntent DriveIntent::from(DriveSource from, quint64 mark) const
{
    DriveIntent intent = *this;
    intent.source = from;
    intent.tag = mark;
    return intent;
}

DriveIntent DriveIntent::to(quint8 number) const
{
    DriveIntent intent = *this;
    intent.controller = number;
    return intent;
}

LocoDriver::LocoDriver(LocoState &state, QObject *parent)
    : QObject(parent)
    , m_state(state)
{
}

DriveResult LocoDriver::submit(const DriveIntent &intent)
{
    if (intent.source != DriveSource::Window && (m_running || m_programming)) {
        if (intent.isEmergencyStop()) {
            // Behind earlier emergency stops, before everything else.
            qsizetype at = 0;
            while (at < m_queue.size() && m_queue.at(at).isEmergencyStop())
                ++at;
            m_queue.insert(at, intent);
        } else {
            m_queue.append(intent);
        }
        return {DriveResult::Status::Queued, ExchangeFailure::None};
    }
    const DriveResult result = run(intent);
    runQueue();
    return result;
}

void LocoDriver::setProgrammingTrackActive(bool active)
{
    m_programming = active;
    if (!active)
        runQueue();
}

DriveResult LocoDriver::run(const DriveIntent &intent)
{
    DriveResult result;
    const std::optional<quint8> controller = intent.controller ? intent.controller
                                                               : m_state.controller();
    if (!controller || !inRange(intent)) {
        result.status = DriveResult::Status::NotSent;
        emit finished(intent, result);
        return result;
    }
    const ExchangePolicy policy =
        intent.source == DriveSource::Window ? Exchange::Window : Exchange::Quiet;
    // Until the outcome is told, whatever another source submits (from a
    // box's event loop or from a slot of these signals) waits its turn.
    const FlagScope running(m_running);
    const ExchangeResult exchange = RunExchange(frameOf(intent, *controller), policy);
    result.failure = exchange.failure;
    if (exchange.reply) {
        result.status = DriveResult::Status::Done;
        applyToState(intent);
    } else {
        result.status = DriveResult::Status::Failed;
        if (intent.source != DriveSource::Window)
            emit noReply(intent, exchange.failure);
    }
    emit finished(intent, result);
    return result;
}

void LocoDriver::runQueue()
{
    // A slot of finished() may submit again; the loop takes that in turn.
    while (!m_running && !m_programming && !m_queue.isEmpty())
        run(m_queue.takeFirst());
}

void LocoDriver::applyToState(const DriveIntent &intent)
{
    switch (intent.kind) {
    case DriveIntent::Kind::Speed:
        m_state.setSpeed(intent.loco, quint8(intent.value));
        break;
    case DriveIntent::Kind::Direction:
        m_state.setDirection(intent.loco, intent.on);
        break;
    case DriveIntent::Kind::Function:
        m_state.setFunction(intent.loco, intent.value, intent.on);
        break;
    case DriveIntent::Kind::Stop:
        m_state.setSpeed(intent.loco, 0);
        break;
    case DriveIntent::Kind::StopAll:
        m_state.stopAll();
        break;
    case DriveIntent::Kind::Accessory:
        break;
    }
}

LocoDriver *locoDriver()
{
    return g_driver;
}

void setLocoDriver(LocoDriver *driver)
{
    g_driver = driver;
}
