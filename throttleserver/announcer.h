#pragma once

#include <QObject>
#include <QString>

// Announces the phone-throttle server in the local network (DNS-SD service
// _withrottle._tcp) through the Avahi daemon on the system bus, so that the
// apps list it by itself. Where no daemon runs, or the program was built
// without D-Bus, it quietly does nothing: the user can still type the
// address.
class ServiceAnnouncer final : public QObject
{
    Q_OBJECT

public:
    static constexpr char ServiceType[] = "_withrottle._tcp";
    static constexpr char InstanceName[] = "Velantor";

    explicit ServiceAnnouncer(QObject *parent = nullptr);
    ~ServiceAnnouncer() override;

    // Announces the service on port, replacing an earlier announcement.
    // False when nothing could be announced.
    bool announce(quint16 port);
    void withdraw();
    bool isAnnounced() const { return !m_group.isEmpty(); }

private:
    QString m_group; // the daemon's entry group object path
};
