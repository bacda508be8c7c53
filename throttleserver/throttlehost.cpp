#include "throttleserver/throttlehost.h"

#include "link/locodriver.h"
#include "link/locostate.h"
#include "link/portsession.h"
#include "link/trackpower.h"
#include "throttleserver/throttlelog.h"
#include "throttleserver/throttleserver.h"

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
    using namespace ThrottleIntent;
    if (const auto *speed = std::get_if<SetSpeed>(&intent)) {
        submit(DriveIntent::speed(speed->loco, quint8(qBound(0, speed->speed, 255))));
    } else if (const auto *direction = std::get_if<SetDirection>(&intent)) {
        submit(DriveIntent::direction(direction->loco, direction->forward));
    } else if (const auto *function = std::get_if<SetFunction>(&intent)) {
        submit(DriveIntent::function(function->loco, function->function, function->on));
    } else if (const auto *stop = std::get_if<Stop>(&intent)) {
        submit(DriveIntent::stop(stop->loco));
    } else if (std::holds_alternative<StopAll>(intent)) {
        submit(DriveIntent::stopAll());
    } else if (const auto *power = std::get_if<SetTrackPower>(&intent)) {
        switchPower(power->on);
    }
    // Released, Quit and Closed send nothing: a released loco keeps running
    // as it was left, and the server ends the connection itself.
}

void DriverThrottleHost::submit(const DriveIntent &intent)
{
    m_driver.submit(intent.from(DriveSource::Remote, PhoneTag));
}

void DriverThrottleHost::driveFinished(const DriveIntent &intent, const DriveResult &result)
{
    if (intent.tag != PhoneTag || intent.source != DriveSource::Remote || result.done())
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

void DriverThrottleHost::switchPower(bool on)
{
    const TrackPower before = m_state.trackPower();
    const std::optional<quint8> controller = m_state.controller();
    // Track power is switched only between the driver's exchanges and not
    // while the programming track is in use; otherwise the phone gets the
    // state as it is.
    if (controller && isSimulationMode()) {
        // Nothing is sent; the phones switch as if the controller had.
        m_state.setTrackPower(on ? TrackPower::On : TrackPower::Off);
    } else if (controller && !m_driver.isBusy() && !m_driver.programmingTrackActive()) {
        const TrackPower after = switchTrackPower(*controller, on, Exchange::Quiet);
        if (after == TrackPower::Unknown) {
            qCInfo(kzThrottle) << "track power: the controller does not answer";
            emit noReply();
        }
        m_state.setTrackPower(after);
    }
    if (m_state.trackPower() == before && m_server)
        m_server->trackPowerChanged(trackPower());
}
