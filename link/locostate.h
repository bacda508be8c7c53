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

// What every loco was last sent, whoever sent it, and the controller that
// passed the check. Windows and remote throttles observe it; only the loco
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

signals:
    // Only for a real change; before tells which parts changed, so that an
    // observer can take over just those.
    void locoChanged(int number, const LocoSnapshot &before, const LocoSnapshot &after);
    void controllerChanged();

private:
    void update(int number, const LocoSnapshot &snapshot);

    QHash<int, LocoSnapshot> m_locos;
    std::optional<quint8> m_controller;
};
