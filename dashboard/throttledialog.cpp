#include "dashboard/throttledialog.h"

#include "common/rules.h"
#include "common/validation.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include <algorithm>

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

ThrottleDialog::ThrottleDialog(const PhoneThrottleSettings &settings,
                               const QStringList &addressLines, QWidget *parent)
    : QDialog(parent)
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
    // Without a network the app has nothing to connect to; say so rather
    // than show an empty space.
    m_addresses->setText(addressLines.isEmpty()
                             ? QStringLiteral("Kein Netzwerk gefunden.")
                             : addressLines.join(QLatin1Char('\n')));
    layout->addWidget(new QLabel(QStringLiteral("In der App eingeben:"), this));
    layout->addWidget(m_addresses);

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
    result.port = quint16(m_port->text().trimmed().toUInt());
    result.momentary = momentaryFunctions(m_momentary->text()).value_or(QList<int>{});
    return result;
}

void ThrottleDialog::accept()
{
    // A broken port is reported and gets the focus; the dialog stays.
    if (!sysDataOK(this))
        return;
    QDialog::accept();
}
