#include "dashboard/kzvelantor.h"

#include "common/messagebox.h"
#include "common/program.h"
#include "common/settings.h"
#include "dashboard/throttledialog.h"
#include "link/locostate.h"
#include "locolist/lococonfig.h"
#include "throttleserver/phonethrottles.h"

#include <QLabel>

// The main window's side of the phone throttles: the "Handregler" dialog,
// the saved settings, the roster and the status bar field.

namespace {

const QString ThrottleSection = QStringLiteral("Handregler");
const QString ThrottleEnabledKey = QStringLiteral("Enabled");
const QString ThrottlePortKey = QStringLiteral("Port");
const QString WebEnabledKey = QStringLiteral("WebEnabled");
const QString WebPortKey = QStringLiteral("WebPort");
const QString ThrottleMomentaryKey = QStringLiteral("Momentary");
const QString AllNetworksKey = QStringLiteral("AlleNetze");
// An empty setting reads as its default, so "none" is saved as a word.
const QString NoMomentaryFunctions = QStringLiteral("keine");

// The saved port, or the default when the saved text is no usable port.
quint16 portSetting(const QString &key, quint16 fallback)
{
    bool ok = false;
    const int port = sysGetSetting(key, QString::number(fallback), ThrottleSection).toInt(&ok);
    if (!ok || port < PhoneThrottles::MinPort || port > PhoneThrottles::MaxPort)
        return fallback;
    return quint16(port);
}

quint16 throttlePortSetting()
{
    return portSetting(ThrottlePortKey, PhoneThrottles::DefaultPort);
}

quint16 webPortSetting()
{
    return portSetting(WebPortKey, PhoneThrottles::DefaultWebPort);
}

bool switchedOn(const QString &key)
{
    return sysGetSetting(key, QStringLiteral("0"), ThrottleSection) == QLatin1String("1");
}

// The box for a server that did not start; true when it did.
bool reportStart(PhoneThrottles::StartResult result, quint16 port, const QString &error)
{
    switch (result) {
    case PhoneThrottles::StartResult::Started:
        return true;
    case PhoneThrottles::StartResult::PortInUse:
        showMessageBox(BoxIcon::Warning, BoxButtons::Ok, BoxAnswer::Ok, Program::Title,
                       phonePortInUseText(port));
        return false;
    case PhoneThrottles::StartResult::Failed:
        showMessageBox(BoxIcon::Warning, BoxButtons::Ok, BoxAnswer::Ok, Program::Title,
                       phoneListenFailedText(port, error));
        return false;
    }
    return false;
}

// The saved momentary functions; the default (F2) when the saved text is
// none of ours.
QList<int> momentarySetting()
{
    const QString text = sysGetSetting(ThrottleMomentaryKey, QStringLiteral("2"), ThrottleSection);
    if (text.trimmed().compare(NoMomentaryFunctions, Qt::CaseInsensitive) == 0)
        return {};
    return momentaryFunctions(text).value_or(PhoneThrottleSettings().momentary);
}

} // namespace

void kzVelantor::startSavedPhoneThrottles()
{
    m_phones->setMomentaryFunctions(momentarySetting());
    m_phones->setAllNetworks(switchedOn(AllNetworksKey));
    if (switchedOn(ThrottleEnabledKey))
        startPhoneThrottles(throttlePortSetting());
    if (switchedOn(WebEnabledKey))
        startWebThrottle(webPortSetting());
}

void kzVelantor::showThrottles()
{
    PhoneThrottleSettings current;
    current.enabled = m_phones->isRunning();
    current.port = m_phones->isRunning() ? m_phones->port() : throttlePortSetting();
    current.webEnabled = m_phones->isWebRunning();
    current.webPort = m_phones->isWebRunning() ? m_phones->webPort() : webPortSetting();
    current.momentary = momentarySetting();
    current.allNetworks = m_phones->allNetworks();
    ThrottleDialog dialog(current, localAddresses(), this);
    auto showDevices = [this, &dialog] {
        QList<PhoneDevice> devices;
        for (const ThrottleServer::Client &client : m_phones->clients())
            devices << PhoneDevice{client.name, client.address};
        dialog.setDevices(devices);
    };
    showDevices();
    connect(&dialog, &ThrottleDialog::disconnectAllRequested, m_phones,
            &PhoneThrottles::disconnectAll);
    connect(m_phones, &PhoneThrottles::statusChanged, &dialog, showDevices);
    if (runModal(&dialog) != QDialog::Accepted)
        return;
    const PhoneThrottleSettings wanted = dialog.settings();
    auto flag = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
    sysSaveSetting(ThrottlePortKey, QString::number(wanted.port), ThrottleSection);
    sysSaveSetting(ThrottleEnabledKey, flag(wanted.enabled), ThrottleSection);
    sysSaveSetting(WebPortKey, QString::number(wanted.webPort), ThrottleSection);
    sysSaveSetting(WebEnabledKey, flag(wanted.webEnabled), ThrottleSection);
    sysSaveSetting(ThrottleMomentaryKey,
                   wanted.momentary.isEmpty() ? NoMomentaryFunctions
                                              : momentaryFunctionsText(wanted.momentary),
                   ThrottleSection);
    sysSaveSetting(AllNetworksKey, flag(wanted.allNetworks), ThrottleSection);
    m_phones->setMomentaryFunctions(wanted.momentary);
    m_phones->setAllNetworks(wanted.allNetworks);
    bool started = false;
    if (!wanted.enabled)
        m_phones->stop();
    else if (!m_phones->isRunning() || m_phones->port() != wanted.port)
        started |= startPhoneThrottles(wanted.port);
    if (!wanted.webEnabled)
        m_phones->stopWeb();
    else if (!m_phones->isWebRunning() || m_phones->webPort() != wanted.webPort)
        started |= startWebThrottle(wanted.webPort);
    if (started && m_state->controller())
        readPhoneRoster();
}

bool kzVelantor::startPhoneThrottles(quint16 port)
{
    return reportStart(m_phones->start(port), port, m_phones->errorString());
}

bool kzVelantor::startWebThrottle(quint16 port)
{
    return reportStart(m_phones->startWeb(port), port, m_phones->errorString());
}

void kzVelantor::readPhoneRoster()
{
    const std::optional<quint8> controller = m_state->controller();
    if (!controller || (!m_phones->isRunning() && !m_phones->isWebRunning()))
        return;
    QList<int> roster;
    // What was read before a request went unanswered is offered all the same.
    LocoConfig::walkLocoList(*controller, [this, &roster](int number, quint8 flags) {
        roster << number;
        m_state->setSpeedSteps(number, LocoFlags::speedSteps(flags));
    });
    m_phones->setRoster(roster);
}

void kzVelantor::refreshThrottleStatus()
{
    const QString text = m_phones->statusText();
    m_pnlThrottles->setText(text);
    m_pnlThrottles->setVisible(!text.isEmpty());
}
