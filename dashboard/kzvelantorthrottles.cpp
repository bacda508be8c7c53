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
const QString ThrottleMomentaryKey = QStringLiteral("Momentary");
// An empty setting reads as its default, so "none" is saved as a word.
const QString NoMomentaryFunctions = QStringLiteral("keine");

// The saved port, or the default when the saved text is no usable port.
quint16 throttlePortSetting()
{
    bool ok = false;
    const int port = sysGetSetting(ThrottlePortKey, QString::number(PhoneThrottles::DefaultPort),
                                   ThrottleSection)
                         .toInt(&ok);
    if (!ok || port < PhoneThrottles::MinPort || port > PhoneThrottles::MaxPort)
        return PhoneThrottles::DefaultPort;
    return quint16(port);
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
    if (sysGetSetting(ThrottleEnabledKey, QStringLiteral("0"), ThrottleSection)
        == QLatin1String("1")) {
        startPhoneThrottles(throttlePortSetting());
    }
}

void kzVelantor::showThrottles()
{
    PhoneThrottleSettings current;
    current.enabled = m_phones->isRunning();
    current.port = m_phones->isRunning() ? m_phones->port() : throttlePortSetting();
    current.momentary = momentarySetting();
    ThrottleDialog dialog(current, phoneAddressLines(current.port), this);
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
    sysSaveSetting(ThrottlePortKey, QString::number(wanted.port), ThrottleSection);
    sysSaveSetting(ThrottleEnabledKey, wanted.enabled ? QStringLiteral("1") : QStringLiteral("0"),
                   ThrottleSection);
    sysSaveSetting(ThrottleMomentaryKey,
                   wanted.momentary.isEmpty() ? NoMomentaryFunctions
                                              : momentaryFunctionsText(wanted.momentary),
                   ThrottleSection);
    m_phones->setMomentaryFunctions(wanted.momentary);
    if (!wanted.enabled) {
        m_phones->stop();
        return;
    }
    if (m_phones->isRunning() && m_phones->port() == wanted.port)
        return;
    if (startPhoneThrottles(wanted.port) && m_state->controller())
        readPhoneRoster();
}

bool kzVelantor::startPhoneThrottles(quint16 port)
{
    switch (m_phones->start(port)) {
    case PhoneThrottles::StartResult::Started:
        return true;
    case PhoneThrottles::StartResult::PortInUse:
        showMessageBox(BoxIcon::Warning, BoxButtons::Ok, BoxAnswer::Ok, Program::Title,
                       phonePortInUseText(port));
        return false;
    case PhoneThrottles::StartResult::Failed:
        showMessageBox(BoxIcon::Warning, BoxButtons::Ok, BoxAnswer::Ok, Program::Title,
                       phoneListenFailedText(port, m_phones->errorString()));
        return false;
    }
    return false;
}

void kzVelantor::readPhoneRoster()
{
    const std::optional<quint8> controller = m_state->controller();
    if (!controller || !m_phones->isRunning())
        return;
    QList<int> roster;
    // What was read before a request went unanswered is offered all the same.
    LocoConfig::walkLocoList(*controller, [&roster](int number, quint8) { roster << number; });
    m_phones->setRoster(roster);
}

void kzVelantor::refreshThrottleStatus()
{
    const QString text = m_phones->statusText();
    m_pnlThrottles->setText(text);
    m_pnlThrottles->setVisible(!text.isEmpty());
}
