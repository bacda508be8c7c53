#include "dashboard/kzoptions.h"

#include "common/program.h"
#include "common/settings.h"
#include "dashboard/dashboardlogic.h"
#include "dashboard/portchoice.h"
#include "link/portsession.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

kzOptions::kzOptions(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Einstellungen"));

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabSettings"));
    auto *page = new QWidget(m_tabs);
    m_tabs->addTab(page, QStringLiteral("&Allgemein"));

    m_frame = new QGroupBox(QStringLiteral("Serielle Schnittstelle"), page);
    m_frame->setObjectName(QStringLiteral("fraCommPorts"));
    m_info = new QLabel(m_frame);
    m_info->setObjectName(QStringLiteral("lblInfo"));
    m_ports = new QComboBox(m_frame);
    m_ports->setObjectName(QStringLiteral("cmbComPort"));
    m_ports->setAccessibleName(QStringLiteral("Serielle Schnittstelle"));
    m_ports->setMinimumContentsLength(20);
    m_info->setBuddy(m_ports);

    auto *frameLayout = new QVBoxLayout(m_frame);
    frameLayout->addWidget(m_info);
    frameLayout->addWidget(m_ports);
    frameLayout->addStretch(1);
    auto *pageLayout = new QVBoxLayout(page);
    pageLayout->addWidget(m_frame);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("btnOK"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("Abbruch"), this);
    m_cancel->setObjectName(QStringLiteral("btnCancel"));
    connect(m_ok, &QPushButton::clicked, this, &kzOptions::confirm);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addLayout(buttons);
    // A fixed size that fits the texts.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_frame->setMinimumWidth(340);
}

void kzOptions::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_firstActivation)
        fillList();
}

void kzOptions::fillList()
{
    if (!m_firstActivation)
        return;
    m_firstActivation = false;
    m_info->setText(QStringLiteral("Bitte wählen Sie hier die gewünschte serielle ") + CrLf
                    + QStringLiteral("Schnittstelle aus"));
    // A screen reader reads one sentence, not the line break.
    m_info->setAccessibleName(m_info->text().simplified());

    m_ports->clear();
    const QList<SerialDeviceInfo> present = presentSerialDevices();
    const QStringList texts = portEntryTexts();
    for (int entry = 0; entry < texts.size(); ++entry) {
        m_ports->addItem(texts.at(entry));
        const QString device = entry == SimulationEntry ? QString() : devicePathForPortNumber(entry);
        m_ports->setItemData(entry, portEntryToolTip(entry, device, present), Qt::ToolTipRole);
    }

    m_chosenPortName = sysGetSetting(PortSettingKey, QStringLiteral("NUL"), SettingsSection);
    m_ports->setCurrentIndex(initialPortEntry(currentPortName(), m_chosenPortName));
}

void kzOptions::confirm()
{
    const int entry = m_ports->currentIndex();
    if (entry >= 1 && entry < PortEntryCount) {
        m_chosenPortName = m_ports->itemText(entry);
        // The test: the port must open. OpenPort has told the user when not.
        if (!OpenPort(m_chosenPortName, false))
            return;
        ClosePort();
    } else {
        m_chosenPortName = QStringLiteral("NUL");
    }

    if (m_chosenPortName.compare(QLatin1String("NUL"), Qt::CaseInsensitive) != 0)
        OpenPort(m_chosenPortName, false);
    setCurrentPortName(m_chosenPortName);
    sysSaveSetting(PortSettingKey, m_chosenPortName, SettingsSection);
    accept();
}
