#include "controller/kzcontrollersettingsvl.h"

#include "common/commandbutton.h"
#include "common/flagscope.h"
#include "common/messagebox.h"
#include "common/program.h"
#include "common/validation.h"
#include "common/windowsequence.h"
#include "controller/controllersettings.h"
#include "controller/modulebuffer.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {

const QString MonitoringValues = QStringLiteral(
    "VALID=A0;A1;A2;A3;A4;A5;A6;A7;A8;A9;A10;A11;A12;A13;A14;A15");

QLabel *boldLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

// The accessible name of a field: its label's caption without mnemonic and
// colon.
QString nameFromCaption(QString caption)
{
    caption.remove(QLatin1Char('&'));
    if (caption.endsWith(QLatin1Char(':')))
        caption.chop(1);
    return caption;
}

} // namespace

kzControllerSettingsVL::kzControllerSettingsVL(QWidget *parent)
    : QDialog(parent)
    , m_data(controllerSettingsData())
{
    setObjectName(QStringLiteral("kzControllerSettingsVL"));
    setWindowTitle(baseCaption());

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    grid->setColumnStretch(1, 1);
    int row = 0;

    auto addRow = [&](const QString &caption, QWidget *value) {
        auto *label = new QLabel(caption, this);
        grid->addWidget(label, row, 0);
        grid->addWidget(value, row, 1);
        ++row;
        return label;
    };

    m_lblFirmwareVersion = boldLabel(QString(), this);
    m_lblFirmwareVersion->setObjectName(QStringLiteral("lblFirmwareVersion"));
    addRow(QStringLiteral("Firmware-Version:"), m_lblFirmwareVersion);

    m_lblControllerType = boldLabel(QString(), this);
    m_lblControllerType->setObjectName(QStringLiteral("lblControllerType"));
    addRow(QStringLiteral("Controller-Layout:"), m_lblControllerType);

    // The check box and "n/v" share one place; only one of them is shown.
    auto *notstopCell = new QWidget(this);
    auto *notstopLayout = new QHBoxLayout(notstopCell);
    notstopLayout->setContentsMargins(0, 0, 0, 0);
    m_chkHWNotstop = new QCheckBox(notstopCell);
    m_chkHWNotstop->setObjectName(QStringLiteral("chkHWNotstop"));
    m_chkHWNotstop->setAccessibleName(QStringLiteral("Hardware-Notstopp"));
    m_lblNotstopNotAvailable = boldLabel(QStringLiteral("n/v"), notstopCell);
    m_lblNotstopNotAvailable->setObjectName(QStringLiteral("lblNotstopNotAvailable"));
    notstopLayout->addWidget(m_chkHWNotstop);
    notstopLayout->addWidget(m_lblNotstopNotAvailable);
    notstopLayout->addStretch(1);
    m_lblHWNotstop = addRow(QStringLiteral("Hardware-Notstopp:"), notstopCell);
    m_lblHWNotstop->setObjectName(QStringLiteral("lblHWNotstop"));

    auto addPinField = [&](const char *name, const QString &caption, const QString &rule) {
        auto *field = new QLineEdit(this);
        field->setObjectName(QLatin1String(name));
        setRule(field, rule);
        field->setAccessibleName(nameFromCaption(caption));
        QLabel *label = addRow(caption, field);
        label->setBuddy(field);
        return field;
    };
    m_txtOperationPin = addPinField(
        "txtOperationPin", QStringLiteral("Ausgangsport &Fahrmodus:"),
        QStringLiteral("Der Ausgangsport für den Fahrmodus,MANDATORY,INTEGER,NUM,MIN=2,MAX=53"));
    m_txtOperationCircuit = addPinField(
        "txtOperationCircuit", QStringLiteral("Port &Laststrom Fahrmodus:"),
        QStringLiteral(
            "Der Port für den Laststrom im Fahrmodus,MANDATORY,INTEGER,NUM,MIN=2,MAX=53"));
    m_txtSensingChannelAPin = addPinField(
        "txtSensingChannelAPin", QStringLiteral("Port &Kurzschlussschutz:"),
        QStringLiteral("Der Port für die Überwachung im Fahrmodus,MANDATORY,")
            + MonitoringValues);
    m_txtProgrammingPin = addPinField(
        "txtProgrammingPin", QStringLiteral("Ausgangsport &Programmiermodus:"),
        QStringLiteral(
            "Der Ausgangsport für den Programmiermodus,MANDATORY,INTEGER,NUM,MIN=2,MAX=53"));
    m_txtProgrammingCircuit = addPinField(
        "txtProgrammingCircuit", QStringLiteral("Port Laststrom P&rogrammiermodus:"),
        QStringLiteral(
            "Der Port für den Laststrom im Programmiermodus,MANDATORY,INTEGER,NUM,MIN=2,MAX=53"));
    m_txtSensingChannelBPin = addPinField(
        "txtSensingChannelBPin", QStringLiteral("Port &Überwachung Programmiermodus:"),
        QStringLiteral("Der Port für die Überwachung im Programmiermodus,MANDATORY,")
            + MonitoringValues);

    // Each pair of buttons takes the other's place: the left one of each pair
    // shares the left cell, the right one the right cell.
    m_cmdChangeSettings = new QPushButton(QStringLiteral("&Einstellungen ändern"), this);
    m_cmdChangeSettings->setObjectName(QStringLiteral("cmdChangeSettings"));
    m_cmdClose = new QPushButton(QStringLiteral("&Schliessen"), this);
    m_cmdClose->setObjectName(QStringLiteral("cmdClose"));
    m_cmdOK = new QPushButton(QStringLiteral("OK"), this);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdCancel = new QPushButton(QStringLiteral("&Abbruch"), this);
    m_cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    // Enter presses the focused button; elsewhere it presses OK while editing.
    for (QPushButton *button : {m_cmdChangeSettings, m_cmdClose, m_cmdOK, m_cmdCancel}) {
        button->setAutoDefault(false);
        pressOnEnter(button);
    }
    m_cmdOK->setDefault(true);

    auto *buttons = new QGridLayout;
    buttons->setHorizontalSpacing(12);
    buttons->addWidget(m_cmdChangeSettings, 0, 0);
    buttons->addWidget(m_cmdOK, 0, 0);
    buttons->addWidget(m_cmdClose, 0, 1);
    buttons->addWidget(m_cmdCancel, 0, 1);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(16, 16, 16, 12);
    outer->setSpacing(14);
    outer->addLayout(grid);
    outer->addLayout(buttons);
    outer->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_cmdChangeSettings, &QPushButton::clicked, this,
            &kzControllerSettingsVL::changeSettings);
    connect(m_cmdClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_cmdOK, &QPushButton::clicked, this, &kzControllerSettingsVL::saveSettings);
    connect(m_cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    setEditing(false);
    showData();
}

kzControllerSettingsVL::~kzControllerSettingsVL() = default;

QString kzControllerSettingsVL::baseCaption()
{
    return QStringLiteral("Controller-Einstellungen");
}

QString kzControllerSettingsVL::changeWarningText()
{
    return QStringLiteral("Eine Anpassung dieser Einstellungen ändert massiv die Funktionsweise "
                          "Ihres Controllers.")
           + CrLf + CrLf
           + QStringLiteral("Bitte nehmen Sie diese daher nur nach ausdrücklicher Rücksprache "
                            "mit unserem Support vor.")
           + CrLf + CrLf + QStringLiteral("Möchten Sie fortfahren ?");
}

QString kzControllerSettingsVL::savedText()
{
    return QStringLiteral("Neue Einstellungen wurden im Controller gespeichert");
}

QString kzControllerSettingsVL::notSavedText()
{
    return QStringLiteral("Die neuen Einstellungen konnten nicht (vollständig) im Controller "
                          "gespeichert werden.")
           + CrLf + CrLf
           + QStringLiteral("Bitte prüfen Sie die Verbindung zum Controller und versuchen Sie "
                            "es erneut, oder verlassen Sie den Dialog mit \"Abbruch\".");
}

QString kzControllerSettingsVL::undefinedLayoutText()
{
    return QStringLiteral("Das Layout des Controllers ist nicht bekannt. Ohne bekanntes Layout "
                          "können die Ports für die Überwachung nicht gespeichert werden.")
           + CrLf + CrLf
           + QStringLiteral("Es wurden keine Einstellungen an den Controller gesendet.");
}

void kzControllerSettingsVL::setControllerID(int id)
{
    m_data.ControllerID = id;
}

void kzControllerSettingsVL::setAllowHWNotstop(bool allow)
{
    m_data.AllowHWNotstop = allow;
}

void kzControllerSettingsVL::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    loadDialog();
    // The controller is read once the dialog stands on the screen, so that
    // the user sees what the wait (and any failure box) belongs to.
    QMetaObject::invokeMethod(this, &kzControllerSettingsVL::activateFirstTime,
                              Qt::QueuedConnection);
}

void kzControllerSettingsVL::loadDialog()
{
    m_data.FirstActivation = true;
    m_data.AllowHWNotstop = true;
    m_readSucceeded = false;
    setWindowTitle(baseCaption());
    setEditing(false);
    m_cmdChangeSettings->setEnabled(false);
    showReading();
}

void kzControllerSettingsVL::showReading()
{
    m_lblFirmwareVersion->clear();
    m_lblControllerType->clear();
    m_chkHWNotstop->hide();
    m_chkHWNotstop->setChecked(false);
    m_lblNotstopNotAvailable->hide();
    for (QLineEdit *field : pinFields())
        field->clear();
}

void kzControllerSettingsVL::activateFirstTime()
{
    if (!m_data.FirstActivation || !isVisible())
        return;
    m_data.FirstActivation = false;
    setWindowTitle(windowTitle() + QStringLiteral(" (Controller ")
                   + QString::number(m_data.ControllerID) + QLatin1Char(')'));
    const FlagScope busy(m_busy);
    const WindowSequence sequence;
    m_readSucceeded = GetControllerSettings(m_data, moduleCommandBuffer());
    showData();
    // Values a failed read did not reach may belong to an earlier opening,
    // even to another controller: they are shown, but never written back.
    m_cmdChangeSettings->setEnabled(m_readSucceeded);
}

void kzControllerSettingsVL::showData()
{
    m_lblFirmwareVersion->setText(GetFirmwareVersion(m_data));
    m_lblControllerType->setText(controllerTypeText(m_data.ControllerType));

    const bool offerCheckBox = offersHWNotstopCheckBox(m_data);
    m_chkHWNotstop->setVisible(offerCheckBox);
    m_lblNotstopNotAvailable->setVisible(!offerCheckBox);
    m_chkHWNotstop->setChecked(offerCheckBox && m_data.HWNotstopOn);

    const qint32 layout = m_data.ControllerType;
    m_txtOperationPin->setText(NumberToPINFormat(m_data.OperationPin, layout));
    m_txtOperationCircuit->setText(NumberToPINFormat(m_data.OperationCircuit, layout));
    m_txtSensingChannelAPin->setText(NumberToPINFormat(m_data.SensingChannelAPin, layout));
    m_txtProgrammingPin->setText(NumberToPINFormat(m_data.ProgrammingPin, layout));
    m_txtProgrammingCircuit->setText(NumberToPINFormat(m_data.ProgrammingCircuit, layout));
    m_txtSensingChannelBPin->setText(NumberToPINFormat(m_data.SensingChannelBPin, layout));
}

QList<QLineEdit *> kzControllerSettingsVL::pinFields() const
{
    return {m_txtOperationPin,   m_txtOperationCircuit,   m_txtSensingChannelAPin,
            m_txtProgrammingPin, m_txtProgrammingCircuit, m_txtSensingChannelBPin};
}

void kzControllerSettingsVL::setEditing(bool editing)
{
    m_editing = editing;
    m_cmdChangeSettings->setVisible(!editing);
    m_cmdClose->setVisible(!editing);
    m_cmdOK->setVisible(editing);
    m_cmdCancel->setVisible(editing);
    m_chkHWNotstop->setEnabled(editing);
    for (QLineEdit *field : pinFields())
        field->setEnabled(editing);
    if (editing)
        sysSetFocus(m_txtOperationPin);
}

void kzControllerSettingsVL::done(int result)
{
    // The dialog stays while the controller is read or written.
    if (m_busy)
        return;
    QDialog::done(result);
}

void kzControllerSettingsVL::changeSettings()
{
    if (!m_readSucceeded || m_busy)
        return;
    const BoxAnswer answer = showMessageBox(BoxIcon::Critical, BoxButtons::YesNo, BoxAnswer::No,
                                            Program::Title, changeWarningText());
    if (answer != BoxAnswer::Yes)
        return;
    setEditing(true);
}

void kzControllerSettingsVL::saveSettings()
{
    if (!m_editing || m_busy)
        return;
    // Without a known layout every monitoring text would become pin 0.
    if (m_data.ControllerType != ControllerLayout::Mega
        && m_data.ControllerType != ControllerLayout::Uno) {
        showMessageBox(BoxIcon::Warning, BoxButtons::Ok, BoxAnswer::Ok, Program::Title,
                       undefinedLayoutText());
        return;
    }
    if (!sysDataOK(this))
        return;

    ControllerSettingsData changed = m_data;
    changed.OperationPin = pinFieldNumber(m_txtOperationPin->text());
    changed.OperationCircuit = pinFieldNumber(m_txtOperationCircuit->text());
    changed.ProgrammingPin = pinFieldNumber(m_txtProgrammingPin->text());
    changed.ProgrammingCircuit = pinFieldNumber(m_txtProgrammingCircuit->text());
    changed.SensingChannelAPin =
        PINFormatToNumber(m_txtSensingChannelAPin->text(), changed.ControllerType);
    changed.SensingChannelBPin =
        PINFormatToNumber(m_txtSensingChannelBPin->text(), changed.ControllerType);
    // With "n/v" shown the setting read from the controller is sent back.
    if (!m_chkHWNotstop->isHidden())
        changed.HWNotstopOn = m_chkHWNotstop->isChecked();

    bool saved = false;
    {
        const FlagScope busy(m_busy);
        const WindowSequence sequence;
        saved = SetControllerSettings(changed, moduleCommandBuffer());
    }
    if (!saved) {
        showMessageBox(BoxIcon::Warning, BoxButtons::Ok, BoxAnswer::Ok, Program::Title,
                       notSavedText());
        return;
    }
    m_data = changed;
    showMessageBox(BoxIcon::Information, BoxButtons::Ok, BoxAnswer::Ok, Program::Title,
                   savedText());
    accept();
}
