#include "throttleserver/announcer.h"

#include "throttleserver/throttlelog.h"

#ifdef KZ_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#endif

namespace {

#ifdef KZ_HAVE_DBUS
const QString AvahiService = QStringLiteral("org.freedesktop.Avahi");
const QString AvahiServer = QStringLiteral("org.freedesktop.Avahi.Server");
const QString AvahiEntryGroup = QStringLiteral("org.freedesktop.Avahi.EntryGroup");
// Every interface and protocol the daemon serves.
constexpr int AnyInterface = -1;
constexpr int AnyProtocol = -1;
// A bus call to a daemon that hangs must not hold the window for long.
constexpr int CallTimeoutMs = 1000;
#endif

} // namespace

ServiceAnnouncer::ServiceAnnouncer(QObject *parent) : QObject(parent) {}

ServiceAnnouncer::~ServiceAnnouncer()
{
    withdraw();
}

bool ServiceAnnouncer::announce(quint16 port)
{
    withdraw();
#ifdef KZ_HAVE_DBUS
    QDBusConnection bus = QDBusConnection::systemBus();
    // Asked first, so that a missing daemon is not started or waited for.
    if (!bus.isConnected() || !bus.interface()
        || !bus.interface()->isServiceRegistered(AvahiService).value()) {
        qCInfo(kzThrottle) << "no Avahi daemon; the service is not announced";
        return false;
    }
    QDBusInterface server(AvahiService, QStringLiteral("/"), AvahiServer, bus);
    server.setTimeout(CallTimeoutMs);
    const QDBusReply<QDBusObjectPath> group = server.call(QStringLiteral("EntryGroupNew"));
    if (!group.isValid()) {
        qCInfo(kzThrottle) << "Avahi refused an entry group:" << group.error().message();
        return false;
    }
    QDBusInterface entries(AvahiService, group.value().path(), AvahiEntryGroup, bus);
    entries.setTimeout(CallTimeoutMs);
    const QDBusMessage added = entries.call(
        QStringLiteral("AddService"), AnyInterface, AnyProtocol, 0u,
        QString::fromLatin1(InstanceName), QString::fromLatin1(ServiceType), QString(), QString(),
        port, QVariant::fromValue(QList<QByteArray>{}));
    const QDBusMessage committed = added.type() == QDBusMessage::ErrorMessage
                                       ? added
                                       : entries.call(QStringLiteral("Commit"));
    if (committed.type() == QDBusMessage::ErrorMessage) {
        qCInfo(kzThrottle) << "Avahi did not announce the service:" << committed.errorMessage();
        entries.call(QStringLiteral("Free"));
        return false;
    }
    m_group = group.value().path();
    qCInfo(kzThrottle) << "announced" << ServiceType << "on port" << port;
    return true;
#else
    Q_UNUSED(port);
    return false;
#endif
}

void ServiceAnnouncer::withdraw()
{
    if (m_group.isEmpty())
        return;
#ifdef KZ_HAVE_DBUS
    QDBusInterface entries(AvahiService, m_group, AvahiEntryGroup, QDBusConnection::systemBus());
    entries.setTimeout(CallTimeoutMs);
    entries.call(QStringLiteral("Free"));
#endif
    m_group.clear();
}
