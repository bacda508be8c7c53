#include "throttleserver/phonethrottles.h"

#include "link/clock.h"
#include "throttleserver/announcer.h"
#include "throttleserver/throttlehost.h"

#include <QHostAddress>
#include <QNetworkInterface>

PhoneThrottles::PhoneThrottles(LocoDriver &driver, QObject *parent)
    : QObject(parent),
      m_host(new DriverThrottleHost(driver, this)),
      m_announcer(new ServiceAnnouncer(this))
{
    connect(m_host, &DriverThrottleHost::noReply, this, &PhoneThrottles::noReply);
}

PhoneThrottles::~PhoneThrottles()
{
    m_host->setServer(nullptr);
}

PhoneThrottles::StartResult PhoneThrottles::start(quint16 port)
{
    stop();
    m_error.clear();
    auto server = std::make_unique<ThrottleServer>(*m_host, programClock());
    server->setRoster(m_roster);
    server->setMomentaryFunctions(m_momentary);
    if (!server->listen(QHostAddress::Any, port)) {
        m_error = server->errorString();
        const bool inUse = server->serverError() == QAbstractSocket::AddressInUseError;
        emit statusChanged();
        return inUse ? StartResult::PortInUse : StartResult::Failed;
    }
    connect(server.get(), &ThrottleServer::clientsChanged, this, &PhoneThrottles::statusChanged);
    m_server = std::move(server);
    m_host->setServer(m_server.get());
    m_announcer->announce(m_server->serverPort());
    emit statusChanged();
    return StartResult::Started;
}

void PhoneThrottles::stop()
{
    if (!m_server)
        return;
    // Still bound while the sessions end, so their stops reach the driver
    // and the remaining phones hear of them.
    m_announcer->withdraw();
    m_server->close();
    m_host->setServer(nullptr);
    m_server.reset();
    emit statusChanged();
}

bool PhoneThrottles::isRunning() const
{
    return m_server && m_server->isListening();
}

quint16 PhoneThrottles::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

QList<ThrottleServer::Client> PhoneThrottles::clients() const
{
    return m_server ? m_server->clients() : QList<ThrottleServer::Client>{};
}

int PhoneThrottles::clientCount() const
{
    return m_server ? m_server->clientCount() : 0;
}

void PhoneThrottles::disconnectAll()
{
    if (m_server)
        m_server->disconnectAll();
}

void PhoneThrottles::setRoster(const QList<int> &locos)
{
    m_roster = locos;
    if (m_server)
        m_server->setRoster(locos);
}

void PhoneThrottles::setMomentaryFunctions(const QList<int> &functions)
{
    m_momentary = functions;
    if (m_server)
        m_server->setMomentaryFunctions(functions);
}

QString PhoneThrottles::statusText() const
{
    if (!isRunning())
        return QString();
    return QStringLiteral("Handregler: %1 verbunden").arg(clientCount());
}

QString phoneNoReplyText()
{
    return QStringLiteral("Handregler: Controller antwortet nicht");
}

QString phonePortInUseText(quint16 port)
{
    return QStringLiteral("Der Handregler-Server kann nicht starten: Port %1 wird schon von "
                          "einem anderen Programm benutzt.\n\nBitte wählen Sie unter "
                          "\"Handregler\" einen anderen Port.")
        .arg(port);
}

QString phoneListenFailedText(quint16 port, const QString &reason)
{
    return QStringLiteral("Der Handregler-Server kann Port %1 nicht öffnen (%2).")
        .arg(port)
        .arg(reason);
}

QStringList phoneAddressLines(quint16 port)
{
    QStringList lines;
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses) {
        if (address.protocol() != QAbstractSocket::IPv4Protocol || address.isLoopback())
            continue;
        lines << QStringLiteral("Adresse: %1  Port: %2").arg(address.toString()).arg(port);
    }
    return lines;
}
