#include "throttleserver/phonethrottles.h"

#include "link/clock.h"
#include "roster/roster.h"
#include "throttleserver/announcer.h"
#include "throttleserver/throttlehost.h"
#include "throttleserver/webthrottle.h"

#include <QHostAddress>
#include <QNetworkInterface>

namespace {

// Listens on every address; on failure the reason goes to error, and a port
// taken by another program is told apart from any other failure. The app
// server and the web throttle answer alike.
template<typename Server>
PhoneThrottles::StartResult listenOn(Server &server, quint16 port, QString &error)
{
    error.clear();
    if (server.listen(QHostAddress::Any, port))
        return PhoneThrottles::StartResult::Started;
    error = server.errorString();
    return server.serverError() == QAbstractSocket::AddressInUseError
               ? PhoneThrottles::StartResult::PortInUse
               : PhoneThrottles::StartResult::Failed;
}

} // namespace

PhoneThrottles::PhoneThrottles(LocoDriver &driver, QObject *parent)
    : QObject(parent),
      m_host(new DriverThrottleHost(driver, this)),
      m_announcer(new ServiceAnnouncer(this)),
      m_server(new ThrottleServer(*m_host, programClock(), this)),
      m_web(new WebThrottle(*m_server, this))
{
    m_host->setServer(m_server);
    connect(m_host, &DriverThrottleHost::noReply, this, &PhoneThrottles::noReply);
    connect(m_server, &ThrottleServer::clientsChanged, this, &PhoneThrottles::statusChanged);
}

PhoneThrottles::~PhoneThrottles()
{
    // The web throttle before the server it hands its browsers to; the
    // connections end without stop intents (see ~ThrottleServer).
    m_host->setServer(nullptr);
    delete m_web;
    delete m_server;
}

PhoneThrottles::StartResult PhoneThrottles::start(quint16 port)
{
    stop();
    const StartResult result = listenOn(*m_server, port, m_error);
    if (result == StartResult::Started)
        m_announcer->announce(m_server->serverPort());
    emit statusChanged();
    return result;
}

void PhoneThrottles::stop()
{
    if (!m_server->isListening())
        return;
    m_announcer->withdraw();
    m_server->close();
    emit statusChanged();
}

bool PhoneThrottles::isRunning() const
{
    return m_server->isListening();
}

quint16 PhoneThrottles::port() const
{
    return isRunning() ? m_server->serverPort() : 0;
}

PhoneThrottles::StartResult PhoneThrottles::startWeb(quint16 port)
{
    stopWeb();
    const StartResult result = listenOn(*m_web, port, m_error);
    // The apps fetch the roster from there.
    m_server->setWebPort(m_web->serverPort());
    emit statusChanged();
    return result;
}

void PhoneThrottles::stopWeb()
{
    if (!m_web->isListening())
        return;
    m_web->close();
    m_server->setWebPort(0);
    emit statusChanged();
}

bool PhoneThrottles::isWebRunning() const
{
    return m_web->isListening();
}

quint16 PhoneThrottles::webPort() const
{
    return m_web->serverPort();
}

void PhoneThrottles::setAllNetworks(bool all)
{
    m_allNetworks = all;
    PeerRule rule;
    rule.allNetworks = all;
    m_server->setPeerRule(rule);
    m_web->setPeerRule(rule);
}

QList<ThrottleServer::Client> PhoneThrottles::clients() const
{
    return m_server->clients();
}

int PhoneThrottles::clientCount() const
{
    return m_server->clientCount();
}

void PhoneThrottles::disconnectAll()
{
    m_server->disconnectAll();
}

void PhoneThrottles::setRoster(const QList<int> &locos)
{
    m_server->setRoster(locos);
}

void PhoneThrottles::attachRoster(const Roster *roster)
{
    m_web->setRoster(roster);
    if (!roster)
        return;
    m_server->setRosterEntries(roster->entries());
    connect(roster, &Roster::changed, this,
            [this, roster] { m_server->setRosterEntries(roster->entries()); });
}

void PhoneThrottles::setMomentaryFunctions(const QList<int> &functions)
{
    m_momentary = functions;
    m_server->setMomentaryFunctions(functions);
}

QString PhoneThrottles::statusText() const
{
    if (!isRunning() && !isWebRunning())
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

QStringList localAddresses()
{
    QStringList hosts;
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses) {
        if (address.protocol() != QAbstractSocket::IPv4Protocol || address.isLoopback())
            continue;
        hosts << address.toString();
    }
    return hosts;
}
