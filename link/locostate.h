#pragma once

#include <QHash>
#include <QObject>

#include <optional>

// What one loco was last sent.
struct LocoSnapshot
{
    quint8 speed = 0;      // 0 stopped to 255 full speed
    bool forward = true;
    quint16 functions = 0; // bit n is function n; function 0 is the light

    bool function(int number) const { return (functions >> number) & 1; }
    bool light() const { return function(0); }
    friend bool operator==(const LocoSnapshot &, const LocoSnapshot &) = default;
};

// Track power as last heard from the controller; Unknown when the last query
// went unanswered or nobody asked yet.
enum class TrackPower { Unknown, Off, On };

// What every loco was last sent, whoever sent it, the controller that passed
// the check and the track power last heard of. Windows and remote throttles observe it; only the loco
// driver changes the locos, and only after the controller answered.
class LocoState final : public QObject
{
    Q_OBJECT

public:
    explicit LocoState(QObject *parent = nullptr);

    // A loco never sent anything has the default snapshot.
    LocoSnapshot loco(int number) const;
    bool isKnown(int number) const { return m_locos.contains(number); }
    QList<int> knownLocos() const;

    void setSpeed(int number, quint8 speed);
    void setDirection(int number, bool forward);
    void setFunction(int number, int function, bool on);
    // Every known loco stands.
    void stopAll();

    // The controller number that passed the check; none before a check or
    // after a failed one.
    std::optional<quint8> controller() const { return m_controller; }
    void setController(std::optional<quint8> controller);

    TrackPower trackPower() const { return m_trackPower; }
    void setTrackPower(TrackPower power);

    // A loco's speed steps as the controller last reported them (14, 28 or
    // 126); 0 when not known. Only noted: nothing is sent and nothing told.
    int speedSteps(int number) const { return m_speedSteps.value(number, 0); }
    void setSpeedSteps(int number, int steps) { m_speedSteps.insert(number, steps); }

signals:
    // Only for a real change; before tells which parts changed, so that an
    // observer can take over just those.
    void locoChanged(int number, const LocoSnapshot &before, const LocoSnapshot &after);
    void controllerChanged();
    void trackPowerChanged(TrackPower power);

private:
    void update(int number, const LocoSnapshot &snapshot);

    QHash<int, LocoSnapshot> m_locos;
    QHash<int, int> m_speedSteps;
    std::optional<quint8> m_controller;
    TrackPower m_trackPower = TrackPower::Unknown;
};
