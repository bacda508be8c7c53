#include "throttleserver/throttlehost.h"

#include "link/controllerline.h"
#include "link/locodriver.h"
#include "link/locostate.h"
#include "link/portsession.h"
#include "link/trackpower.h"
#include "throttleserver/throttlelog.h"
#include "throttleserver/throttleserver.h"

#include <QPointer>

namespace {

// Marks the driver's intents that came from a phone, so that only their
// outcomes are answered here.
constexpr quint64 PhoneTag = 0x57495448; // "WITH"

} // namespace

DriverThrottleHost::DriverThrottleHost(LocoDriver &driver, QObject *parent)
    : QObject(parent), m_driver(driver), m_state(driver.state())
{
    connect(&m_state, &LocoState::locoChanged, this,
            [this](int number, const LocoSnapshot &, const LocoSnapshot &after) {
                if (m_server)
                    m_server->locoStateChanged(number, phoneLoco(after));
            });
    connect(&m_state, &LocoState::trackPowerChanged, this, [this](TrackPower power) {
        if (m_server)
            m_server->trackPowerChanged(powerState(int(power)));
    });
    connect(&m_driver, &LocoDriver::finished, this, &DriverThrottleHost::driveFinished);
    connect(&m_driver, &LocoDriver::noReply, this, [this](const DriveIntent &intent) {
        if (intent.tag == PhoneTag)
            emit noReply();
    });
}

PhoneLoco DriverThrottleHost::phoneLoco(const LocoSnapshot &snapshot)
{
    return PhoneLoco{snapshot.speed, snapshot.forward, snapshot.functions};
}

WiThrottle::PowerState DriverThrottleHost::powerState(int trackPower)
{
    switch (TrackPower(trackPower)) {
    case TrackPower::On:
        return WiThrottle::PowerState::On;
    case TrackPower::Off:
        return WiThrottle::PowerState::Off;
    case TrackPower::Unknown:
        break;
    }
    return WiThrottle::PowerState::Unknown;
}

PhoneLoco DriverThrottleHost::locoState(int loco) const
{
    return phoneLoco(m_state.loco(loco));
}

WiThrottle::PowerState DriverThrottleHost::trackPower() const
{
    return powerState(int(m_state.trackPower()));
}

bool DriverThrottleHost::controllerChecked() const
{
    return m_state.controller().has_value();
}

int DriverThrottleHost::speedSteps(int loco) const
{
    return m_state.speedSteps(loco);
}

void DriverThrottleHost::perform(const ThrottleIntentValue &intent)
{
    performFor(0, intent);
}

void DriverThrottleHost::performFor(quint64 client, const ThrottleIntentValue &intent)
{
    using namespace ThrottleIntent;
    if (const auto *speed = std::get_if<SetSpeed>(&intent)) {
        submit(DriveIntent::speed(speed->loco, quint8(qBound(0, speed->speed, 255))), client);
    } else if (const auto *direction = std::get_if<SetDirection>(&intent)) {
        submit(DriveIntent::direction(direction->loco, direction->forward), client);
    } else if (const auto *function = std::get_if<SetFunction>(&intent)) {
        submit(DriveIntent::function(function->loco, function->function, function->on), client);
    } else if (const auto *stop = std::get_if<Stop>(&intent)) {
        submit(DriveIntent::stop(stop->loco), client);
    } else if (std::holds_alternative<StopAll>(intent)) {
        submit(DriveIntent::stopAll(), client);
    } else if (const auto *power = std::get_if<SetTrackPower>(&intent)) {
        switchPower(power->on, client);
    } else if (const auto *closed = std::get_if<Closed>(&intent)) {
        // A client that vanished leaves nothing waiting but its stops; one
        // that said goodbye has its last commands still sent.
        if (client != 0 && closed->reason != CloseReason::Quit)
            m_driver.clientGone(client);
    }
    // Released and Quit send nothing: a released loco keeps running as it
    // was left, and the server ends the connection itself.
}

void DriverThrottleHost::submit(const DriveIntent &intent, quint64 client)
{
    m_driver.submit(intent.from(DriveSource::Remote, PhoneTag, client));
}

void DriverThrottleHost::driveFinished(const DriveIntent &intent, const DriveResult &result)
{
    if (intent.tag != PhoneTag || intent.source != DriveSource::Remote || result.done())
        return;
    // A newer command or a stop took its place: what it says comes instead.
    if (result.failure == ExchangeFailure::Superseded)
        return;
    // Nothing changed: the phones that moved their slider move it back.
    if (intent.kind != DriveIntent::Kind::StopAll && intent.kind != DriveIntent::Kind::Accessory)
        tellLoco(intent.loco);
}

void DriverThrottleHost::tellLoco(int loco)
{
    if (m_server)
        m_server->locoStateChanged(loco, locoState(loco));
}

void DriverThrottleHost::switchPower(bool on, quint64 client)
{
    const std::optional<quint8> controller = m_state.controller();
    if (controller && isSimulationMode()) {
        // Nothing is sent; the phones switch as if the controller had.
        const TrackPower before = m_state.trackPower();
        m_state.setTrackPower(on ? TrackPower::On : TrackPower::Off);
        if (m_state.trackPower() == before && m_server)
            m_server->trackPowerChanged(trackPower());
        return;
    }
    // Not while the programming track is in use (switching would end its
    // mode), and one switch at a time; otherwise the phone gets the state as
    // it is.
    if (!controller || m_driver.programmingTrackActive() || m_switchingPower) {
        if (m_server)
            m_server->trackPowerChanged(trackPower());
        return;
    }
    m_switchingPower = true;
    LineRequest pattern;
    pattern.policy = Exchange::Quiet;
    pattern.client = client != 0 ? client : ~quint64(0);
    QPointer<DriverThrottleHost> self(this);
    switchTrackPowerLater(controllerLine(), *controller, on, pattern, [self](TrackPower after) {
        if (!self)
            return;
        self->m_switchingPower = false;
        if (after == TrackPower::Unknown) {
            qCInfo(kzThrottle) << "track power: the controller does not answer";
            emit self->noReply();
        }
        const TrackPower before = self->m_state.trackPower();
        self->m_state.setTrackPower(after);
        if (self->m_state.trackPower() == before && self->m_server)
            self->m_server->trackPowerChanged(self->trackPower());
    });
}
