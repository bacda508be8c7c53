#include "dashboard/throttledialog.h"

#include "common/messagebox.h"
#include "common/program.h"
#include "common/rules.h"
#include "common/validation.h"
#include "dashboard/qrcode.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

QString phoneDeviceText(const PhoneDevice &device)
{
    if (device.name.isEmpty())
        return device.address;
    return QStringLiteral("%1 (%2)").arg(device.name, device.address);
}

QString phonePortRule()
{
    return numberRangeRule(QStringLiteral("Der Port"), 1024, 65535);
}

QString momentaryFunctionsRule()
{
    return QStringLiteral("Die Tastfunktion,LIST,NUM,MIN=1,MAX=12");
}

std::optional<QList<int>> momentaryFunctions(const QString &text)
{
    if (checkRule(momentaryFunctionsRule(), text))
        return std::nullopt;
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    QList<int> functions;
    for (const QString &entry : text.split(separators, Qt::SkipEmptyParts)) {
        const std::optional<int> function = readWholeNumber(entry);
        if (function && !functions.contains(*function))
            functions << *function;
    }
    std::sort(functions.begin(), functions.end());
    return functions;
}

QString momentaryFunctionsText(const QList<int> &functions)
{
    QStringList numbers;
    for (const int function : functions)
        numbers << QString::number(function);
    return numbers.join(QStringLiteral(", "));
}

QString webPortRule()
{
    return numberRangeRule(QStringLiteral("Der Web-Port"), 1024, 65535);
}

QStringList appAddressLines(const QStringList &hosts, quint16 port)
{
    QStringList lines;
    for (const QString &host : hosts)
        lines << QStringLiteral("Adresse: %1  Port: %2").arg(host).arg(port);
    return lines;
}

QStringList webAddressLines(const QStringList &hosts, quint16 port)
{
    QStringList lines;
    for (const QString &host : hosts)
        lines << QStringLiteral("http://%1:%2/").arg(host).arg(port);
    return lines;
}

namespace {

// Pixels per module: a camera reads it from an arm's length on any screen.
constexpr int QrModulePixels = 4;

// A port field's port while it holds one, nullopt while it does not (yet).
// Read as the rule check reads it, so that "12090,0" is 12090 and not 0.
std::optional<quint16> portOf(const QLineEdit *field)
{
    const std::optional<int> port = readWholeNumber(field->text());
    if (!port || *port < 1024 || *port > 65535)
        return std::nullopt;
    return quint16(*port);
}

} // namespace

ThrottleDialog::ThrottleDialog(const PhoneThrottleSettings &settings,
                               const QStringList &hostAddresses, QWidget *parent)
    : QDialog(parent), m_hosts(hostAddresses)
{
    setWindowTitle(QStringLiteral("Handregler"));
    auto *layout = new QVBoxLayout(this);

    m_enabled = new QCheckBox(QStringLiteral("Handregler-Server einschalten"), this);
    m_enabled->setObjectName(QStringLiteral("chkEnabled"));
    m_enabled->setChecked(settings.enabled);
    layout->addWidget(m_enabled);

    auto *form = new QFormLayout;
    m_port = new QLineEdit(QString::number(settings.port), this);
    m_port->setObjectName(QStringLiteral("txtPort"));
    setRule(m_port, phonePortRule());
    form->addRow(QStringLiteral("Port:"), m_port);
    m_momentary = new QLineEdit(momentaryFunctionsText(settings.momentary), this);
    m_momentary->setObjectName(QStringLiteral("txtMomentary"));
    m_momentary->setAccessibleName(QStringLiteral("Tastfunktionen (nur solange gedrückt)"));
    m_momentary->setToolTip(QStringLiteral("Funktionsnummern 1–12, z. B. „2, 3“; leer: keine"));
    setRule(m_momentary, momentaryFunctionsRule());
    form->addRow(QStringLiteral("Tastfunktionen (nur solange gedrückt):"), m_momentary);
    layout->addLayout(form);

    m_addresses = new QLabel(this);
    m_addresses->setObjectName(QStringLiteral("lblAddresses"));
    m_addresses->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(new QLabel(QStringLiteral("In der App eingeben:"), this));
    layout->addWidget(m_addresses);

    m_webEnabled = new QCheckBox(QStringLiteral("Web-Handregler (im Browser)"), this);
    m_webEnabled->setObjectName(QStringLiteral("chkWebEnabled"));
    m_webEnabled->setChecked(settings.webEnabled);
    layout->addWidget(m_webEnabled);

    auto *webForm = new QFormLayout;
    m_webPort = new QLineEdit(QString::number(settings.webPort), this);
    m_webPort->setObjectName(QStringLiteral("txtWebPort"));
    setRule(m_webPort, webPortRule());
    webForm->addRow(QStringLiteral("Web-Port:"), m_webPort);
    layout->addLayout(webForm);

    auto *web = new QHBoxLayout;
    auto *webText = new QVBoxLayout;
    webText->addWidget(new QLabel(QStringLiteral("Im Browser öffnen:"), this));
    m_webAddresses = new QLabel(this);
    m_webAddresses->setObjectName(QStringLiteral("lblWebAddresses"));
    m_webAddresses->setTextInteractionFlags(Qt::TextSelectableByMouse);
    webText->addWidget(m_webAddresses);
    webText->addStretch();
    web->addLayout(webText);
    m_qrCode = new QLabel(this);
    m_qrCode->setObjectName(QStringLiteral("picQrCode"));
    m_qrCode->setAccessibleName(QStringLiteral("QR-Code der Web-Adresse"));
    web->addWidget(m_qrCode);
    layout->addLayout(web);

    // The addresses follow the ports as they are typed.
    connect(m_port, &QLineEdit::textChanged, this, &ThrottleDialog::showAddresses);
    connect(m_webPort, &QLineEdit::textChanged, this, &ThrottleDialog::showAddresses);
    showAddresses();

    // Both ports take only the home network unless this is set.
    const QString allNetworks = QStringLiteral("Auch Verbindungen aus anderen Netzen annehmen");
    m_allNetworks = new QCheckBox(allNetworks, this);
    m_allNetworks->setObjectName(QStringLiteral("chkAllNetworks"));
    m_allNetworks->setAccessibleName(allNetworks);
    m_allNetworks->setToolTip(QStringLiteral("Ohne Haken nehmen Handregler-Server und "
                                             "Web-Handregler nur Geräte aus dem Heimnetz an."));
    m_allNetworks->setChecked(settings.allNetworks);
    layout->addWidget(m_allNetworks);

    layout->addWidget(new QLabel(QStringLiteral("Verbundene Geräte:"), this));
    m_devices = new QListWidget(this);
    m_devices->setObjectName(QStringLiteral("lstDevices"));
    layout->addWidget(m_devices);
    m_disconnectAll = new QPushButton(QStringLiteral("Alle trennen"), this);
    m_disconnectAll->setObjectName(QStringLiteral("btnDisconnectAll"));
    m_disconnectAll->setEnabled(false);
    connect(m_disconnectAll, &QPushButton::clicked, this,
            &ThrottleDialog::disconnectAllRequested);
    layout->addWidget(m_disconnectAll);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Abbrechen"));
    connect(buttons, &QDialogButtonBox::accepted, this, &ThrottleDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ThrottleDialog::reject);
    layout->addWidget(buttons);
}

void ThrottleDialog::showAddresses()
{
    // Without a network nothing can connect; say so rather than show an
    // empty space.
    const QString none = QStringLiteral("Kein Netzwerk gefunden.");
    const std::optional<quint16> port = portOf(m_port);
    const std::optional<quint16> webPort = portOf(m_webPort);
    const QStringList app = port ? appAddressLines(m_hosts, *port) : QStringList();
    const QStringList web = webPort ? webAddressLines(m_hosts, *webPort) : QStringList();
    m_addresses->setText(m_hosts.isEmpty() ? none : app.join(QLatin1Char('\n')));
    m_webAddresses->setText(m_hosts.isEmpty() ? none : web.join(QLatin1Char('\n')));
    const QImage code = web.isEmpty() ? QImage() : qrCodeImage(web.first(), QrModulePixels);
    m_qrCode->setPixmap(QPixmap::fromImage(code));
    m_qrCode->setVisible(!code.isNull());
    m_qrCode->setAccessibleDescription(code.isNull() ? QString() : web.first());
}

void ThrottleDialog::setDevices(const QList<PhoneDevice> &devices)
{
    m_devices->clear();
    for (const PhoneDevice &device : devices)
        m_devices->addItem(phoneDeviceText(device));
    m_disconnectAll->setEnabled(!devices.isEmpty());
}

PhoneThrottleSettings ThrottleDialog::settings() const
{
    PhoneThrottleSettings result;
    result.enabled = m_enabled->isChecked();
    result.port = portOf(m_port).value_or(0);
    result.webEnabled = m_webEnabled->isChecked();
    result.webPort = portOf(m_webPort).value_or(0);
    result.momentary = momentaryFunctions(m_momentary->text()).value_or(QList<int>{});
    result.allNetworks = m_allNetworks->isChecked();
    return result;
}

void ThrottleDialog::accept()
{
    // A broken port is reported and gets the focus; the dialog stays.
    if (!sysDataOK(this))
        return;
    // One port cannot serve both; the second server would fail to start with
    // a box blaming "another program".
    if (portOf(m_port) == portOf(m_webPort)) {
        showMessageBox(BoxIcon::Warning, BoxButtons::Ok, BoxAnswer::Ok, Program::Title,
                       samePortsText());
        sysSetFocus(m_webPort);
        return;
    }
    QDialog::accept();
}

QString samePortsText()
{
    return QStringLiteral("Der Web-Port muss sich vom Port der Handregler-Apps unterscheiden.");
}
