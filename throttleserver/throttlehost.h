#pragma once

#include "throttleserver/throttlesession.h"

#include <QObject>

class LocoDriver;
class LocoState;
class ThrottleServer;
struct DriveIntent;
struct DriveResult;
struct LocoSnapshot;

// The phones' host in the running program: their loco intents go to the loco
// driver as remote intents (quiet exchanges, no box, each client with its
// share of the line), their track-power wish to the track-power switch
// (without waiting for the line), and every change of the shared loco state and of
// track power goes back to every session through the server. A command the
// controller refused or did not answer leaves the state as it was; the phones
// holding that loco get it back, and noReply() tells the window.
class DriverThrottleHost final : public QObject, public ThrottleHost
{
    Q_OBJECT

public:
    explicit DriverThrottleHost(LocoDriver &driver, QObject *parent = nullptr);

    // The server whose sessions hear of changes; none while it is off.
    void setServer(ThrottleServer *server) { m_server = server; }

    PhoneLoco locoState(int loco) const override;
    WiThrottle::PowerState trackPower() const override;
    bool controllerChecked() const override;
    int speedSteps(int loco) const override;
    void perform(const ThrottleIntentValue &intent) override;
    void performFor(quint64 client, const ThrottleIntentValue &intent) override;

    static PhoneLoco phoneLoco(const LocoSnapshot &snapshot);
    static WiThrottle::PowerState powerState(int trackPower);

signals:
    // A phone's command got no valid reply from the controller.
    void noReply();

private:
    void submit(const DriveIntent &intent, quint64 client);
    void driveFinished(const DriveIntent &intent, const DriveResult &result);
    void switchPower(bool on, quint64 client);
    void tellLoco(int loco);

    LocoDriver &m_driver;
    LocoState &m_state;
    ThrottleServer *m_server = nullptr;
    // A phone's switch of track power is on its way.
    bool m_switchingPower = false;
};
