#pragma once

#include "throttleserver/throttleserver.h"

#include <QObject>
#include <QString>
#include <QStringList>

class DriverThrottleHost;
class Roster;
class ServiceAnnouncer;
class LocoDriver;
class WebThrottle;

// The phone and browser throttles as the program runs them: one server of
// sessions bound to the loco driver, with two ways in that are switched on
// and off each on its own: TCP for the apps, the web throttle for browsers.
// It shows nothing; the window shows statusText() and the boxes.
class PhoneThrottles final : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 DefaultPort = 12090;
    static constexpr quint16 DefaultWebPort = 12080;
    static constexpr int MinPort = 1024;
    static constexpr int MaxPort = 65535;

    enum class StartResult { Started, PortInUse, Failed };

    explicit PhoneThrottles(LocoDriver &driver, QObject *parent = nullptr);
    ~PhoneThrottles() override;

    // Listens on every address at port and announces the service in the
    // local network; a running server is stopped first. Off again when the
    // port cannot be had.
    StartResult start(quint16 port);
    // Stops listening; the phones' locos are stopped as for a lost connection.
    void stop();
    bool isRunning() const;
    quint16 port() const;
    QString errorString() const { return m_error; }

    // The same for the web throttle (the page and its WebSockets); browsers
    // and apps share the eight places.
    StartResult startWeb(quint16 port);
    void stopWeb();
    bool isWebRunning() const;
    quint16 webPort() const;

    // Whether apps and browsers may connect from outside the home network
    // (loopback, private and link-local addresses); off by default.
    void setAllNetworks(bool all);
    bool allNetworks() const { return m_allNetworks; }

    QList<ThrottleServer::Client> clients() const;
    int clientCount() const;
    void disconnectAll();
    // The roster for every phone, from the controller's loco list.
    void setRoster(const QList<int> &locos);
    // The roster's names and labels for every phone and browser, and the
    // list the apps download from the web throttle; followed as it changes.
    void attachRoster(const Roster *roster);
    // The functions on only while pressed, for every client, app or browser.
    void setMomentaryFunctions(const QList<int> &functions);
    QList<int> momentaryFunctions() const { return m_momentary; }
    ThrottleServer *server() const { return m_server; }

    // "Handregler: n verbunden" (apps and browsers) while either runs, empty
    // while both are off.
    QString statusText() const;

signals:
    // Clients came or went, or the server was switched.
    void statusChanged();
    // A phone's command got no valid reply from the controller.
    void noReply();

private:
    DriverThrottleHost *m_host;
    ServiceAnnouncer *m_announcer;
    ThrottleServer *m_server;
    WebThrottle *m_web;
    QList<int> m_momentary{ThrottleSession::DefaultMomentaryFunction};
    bool m_allNetworks = false;
    QString m_error;
};

// The status-bar text after a phone's command went unanswered.
QString phoneNoReplyText();
// The box text when port is taken by another program.
QString phonePortInUseText(quint16 port);
// The box text for any other reason the server cannot listen.
QString phoneListenFailedText(quint16 port, const QString &reason);
// Every non-loopback IPv4 address of this machine, in the order the system
// lists them: where the apps and browsers reach us.
QStringList localAddresses();
