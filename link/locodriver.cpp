#include "link/locodriver.h"

#include "link/commands.h"
#include "link/controllerline.h"
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

LineKind kindOf(DriveIntent::Kind kind)
{
    switch (kind) {
    case DriveIntent::Kind::Speed:
        return LineKind::Speed;
    case DriveIntent::Kind::Direction:
        return LineKind::Direction;
    case DriveIntent::Kind::Function:
        return LineKind::Function;
    case DriveIntent::Kind::Stop:
        return LineKind::Stop;
    case DriveIntent::Kind::StopAll:
        return LineKind::StopAll;
    case DriveIntent::Kind::Accessory:
        return LineKind::Accessory;
    }
    return LineKind::Exchange;
}

// A remote source that names no client still gets a share of its own, apart
// from the windows'.
constexpr quint64 UnnamedClient = ~quint64(0);

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

DriveIntent DriveIntent::from(DriveSource from, quint64 mark, quint64 client) const
{
    DriveIntent intent = *this;
    intent.source = from;
    intent.tag = mark;
    intent.client = client;
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
    const std::optional<quint8> controller = intent.controller ? intent.controller
                                                               : m_state.controller();
    if (!controller || !inRange(intent)) {
        const DriveResult refused{DriveResult::Status::NotSent, ExchangeFailure::None, {}, {}};
        emit finished(intent, refused);
        return refused;
    }
    LineRequest request;
    request.frame = frameOf(intent, *controller);
    request.kind = kindOf(intent.kind);
    request.loco = intent.loco;
    if (intent.source == DriveSource::Window) {
        request.policy = Exchange::Window;
    } else {
        request.policy = Exchange::Quiet;
        request.client = intent.client != LineRequest::WindowClient ? intent.client : UnnamedClient;
    }

    // The outcome may come inside submit (an idle inline line, simulation
    // mode, a frame refused at once); then it is this call's answer too.
    const quint64 call = ++m_submitSerial;
    const quint64 outer = m_submitting;
    std::optional<DriveResult> outerImmediate = std::move(m_immediate);
    m_submitting = call;
    m_immediate.reset();
    const CommandBuffer frame = request.frame;
    controllerLine().submit(request, [this, intent, frame, call](const ExchangeResult &exchange) {
        DriveResult result;
        result.failure = exchange.failure;
        result.frame = frame;
        result.exchange = exchange;
        // In simulation mode nothing is sent, and every throttle drives as
        // if the controller had answered: the state follows, so panels and
        // phones showing the same loco agree.
        if (exchange.reply || exchange.failure == ExchangeFailure::Simulation)
            result.status = DriveResult::Status::Done;
        else if (exchange.failure == ExchangeFailure::Superseded
                 || exchange.failure == ExchangeFailure::QueueFull)
            result.status = DriveResult::Status::NotSent;
        else
            result.status = DriveResult::Status::Failed;
        if (m_submitting == call)
            m_immediate = result;
        complete(intent, result);
    });
    const std::optional<DriveResult> immediate = std::move(m_immediate);
    m_submitting = outer;
    m_immediate = std::move(outerImmediate);
    if (immediate)
        return *immediate;
    return {DriveResult::Status::Queued, ExchangeFailure::None, frame, {}};
}

void LocoDriver::complete(const DriveIntent &intent, const DriveResult &result)
{
    if (result.done())
        applyToState(intent);
    else if (result.status == DriveResult::Status::Failed && intent.source != DriveSource::Window)
        emit noReply(intent, result.failure);
    emit finished(intent, result);
}

void LocoDriver::setProgrammingTrackActive(bool active)
{
    m_programming = active;
    controllerLine().setClientsHeld(active);
}

void LocoDriver::clientGone(quint64 client)
{
    controllerLine().dropClient(client);
}

int LocoDriver::queuedCount() const
{
    return controllerLine().waitingCount();
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
