#include "dashboard/kzvelantor.h"

#include "common/program.h"
#include "common/windowsequence.h"
#include "dashboard/accessorypanel.h"
#include "dashboard/dashboardlogic.h"
#include "dashboard/locopanel.h"
#include "dashboard/pictures.h"

#include <QAction>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

// The main window's controls, built once by the constructor, and their
// wiring to the window's handlers.

namespace {

const QString HintText = QStringLiteral(
    "Die Bedienelemente werden sichtbar, wenn Sie auf \"Prüfen\" klicken. Knöpfe und Regler "
    "funktionieren allerdings nur, wenn Sie eine gültige Schnittstelle ausgewählt und daran "
    "einen gültigen DCC-Controller mit unserer Firmwware angeschlossen oder alternativ die "
    "Simulation ausgewählt haben.");

struct ToolBarButton
{
    const char *key;
    const char *text;
    const char *toolTip;
    QKeyCombination shortcut; // Qt::Key_unknown: none
};

constexpr ToolBarButton ToolBarButtons[] = {
    {"btnOptions", "Einstellungen", "Einstellungen aufrufen", Qt::Key_unknown},
    {"btnHelp", "Handbuch", "Handbuch aufrufen (F1)", Qt::Key_F1},
    {"btnInfo", "Info", "Programmversion und Copyright anzeigen \t", Qt::Key_unknown},
    {"btnRoster", "Fahrzeuge", "Fahrzeuge mit Namen und Funktionen (Strg+L)", Qt::CTRL | Qt::Key_L},
    {"btnThrottles", "Handregler", "Handregler-Apps (WiThrottle) verbinden", Qt::Key_unknown},
    {"btnClose", "Beenden", "Velantor verlassen (Strg+Q)", Qt::CTRL | Qt::Key_Q},
};

QLabel *statusBarPanel(QWidget *parent, const QString &key, const QString &text,
                       const QString &toolTip)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(key);
    label->setToolTip(toolTip);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setContentsMargins(4, 0, 4, 0);
    return label;
}

} // namespace

void kzVelantor::buildToolBar()
{
    m_toolBar = new QToolBar(QStringLiteral("Werkzeugleiste"), this);
    m_toolBar->setObjectName(QStringLiteral("Toolbar1"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setIconSize(QSize(32, 32));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_toolBar->toggleViewAction()->setEnabled(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    for (const ToolBarButton &button : ToolBarButtons) {
        const QString key = QLatin1String(button.key);
        QAction *action = m_toolBar->addAction(toolBarIcon(key), QString::fromUtf8(button.text));
        action->setObjectName(key);
        action->setToolTip(QString::fromUtf8(button.toolTip));
        if (button.shortcut.key() != Qt::Key_unknown)
            action->setShortcut(QKeySequence(button.shortcut));
        // Tool bar buttons take no focus by default; a keyboard user must
        // reach them with Tab like every other button.
        m_toolBar->widgetForAction(action)->setFocusPolicy(Qt::TabFocus);
    }
    connect(m_toolBar, &QToolBar::actionTriggered, this,
            [this](QAction *action) { dispatchToolBar(action->objectName()); });
    addToolBar(Qt::TopToolBarArea, m_toolBar);
}

QFrame *kzVelantor::buildControllerRow(QWidget *parent)
{
    auto *frame = new QFrame(parent);
    frame->setObjectName(QStringLiteral("Frame4"));
    frame->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);

    auto *numberLabel = new QLabel(QStringLiteral("Controller-Nr.:"), frame);
    numberLabel->setObjectName(QStringLiteral("lblControllerNr"));
    m_controllerNr = new QLineEdit(QStringLiteral("0"), frame);
    m_controllerNr->setObjectName(QStringLiteral("txtControllerNr"));
    m_controllerNr->setAlignment(Qt::AlignCenter);
    m_controllerNr->setMaxLength(3);
    m_controllerNr->setFixedWidth(48);
    m_controllerNr->setAccessibleName(QStringLiteral("Controller-Nr."));
    numberLabel->setBuddy(m_controllerNr);

    m_check = new QPushButton(QStringLiteral("&Prüfen"), frame);
    m_check->setObjectName(QStringLiteral("btnCheck"));
    // Drawn as the default button; Enter reaches it through keyPressEvent,
    // since a main window has no default button of its own.
    m_check->setDefault(true);
    m_controllerSettings = new QPushButton(QStringLiteral("&Einstellungen"), frame);
    m_controllerSettings->setObjectName(QStringLiteral("cmdControllerSettings"));
    m_controllerSettings->setEnabled(false);

    auto *statusLabel = new QLabel(QStringLiteral("Status:"), frame);
    statusLabel->setObjectName(QStringLiteral("Label2"));
    m_status = new QLabel(StatusText::Initial, frame);
    m_status->setObjectName(QStringLiteral("lblStatus"));
    m_status->setAutoFillBackground(true);
    m_status->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_status->setContentsMargins(4, 2, 4, 2);
    m_status->setMinimumWidth(360);
    QFont statusFont = m_status->font();
    statusFont.setBold(true);
    m_status->setFont(statusFont);
    statusLabel->setBuddy(m_status);
    setStatus(StatusColour::Running, StatusText::Initial);

    auto *row = new QHBoxLayout(frame);
    row->setContentsMargins(8, 6, 8, 6);
    row->addWidget(numberLabel);
    row->addWidget(m_controllerNr);
    row->addSpacing(8);
    row->addWidget(m_check);
    row->addWidget(m_controllerSettings);
    row->addSpacing(16);
    row->addWidget(statusLabel);
    row->addWidget(m_status, 1);

    connect(m_check, &QPushButton::clicked, this, &kzVelantor::checkController);
    connect(m_controllerSettings, &QPushButton::clicked, this, &kzVelantor::showControllerSettings);
    return frame;
}

QWidget *kzVelantor::buildControlArea(QWidget *parent)
{
    auto *area = new QWidget(parent);
    area->setObjectName(QStringLiteral("controlArea"));
    auto *stack = new QGridLayout(area);
    stack->setContentsMargins(0, 0, 0, 0);

    m_hint = new QLabel(HintText, area);
    m_hint->setObjectName(QStringLiteral("lblHinweis"));
    m_hint->setAlignment(Qt::AlignCenter);
    m_hint->setWordWrap(true);
    m_hint->setMargin(60);
    QPalette hintPalette = m_hint->palette();
    hintPalette.setColor(QPalette::WindowText, QColor(128, 0, 0));
    m_hint->setPalette(hintPalette);
    QFont hintFont = m_hint->font();
    hintFont.setPointSizeF(hintFont.pointSizeF() * 1.25);
    m_hint->setFont(hintFont);

    m_controlFrame = new QFrame(area);
    m_controlFrame->setObjectName(QStringLiteral("ControllerFrame"));
    m_controlFrame->setFrameStyle(QFrame::NoFrame);
    m_controlFrame->setAutoFillBackground(true);
    QSizePolicy keepSize = m_controlFrame->sizePolicy();
    keepSize.setRetainSizeWhenHidden(true);
    m_controlFrame->setSizePolicy(keepSize);

    // Top row: stop of all locos, the programming window, track power.
    m_globalStop = new QPushButton(QStringLiteral("STOP"), m_controlFrame);
    m_globalStop->setObjectName(QStringLiteral("btnGlobalStop"));
    QFont bold = m_globalStop->font();
    bold.setBold(true);
    m_globalStop->setFont(bold);
    m_globalStop->setMinimumSize(140, 32);
    m_globalStop->setToolTip(GlobalStopToolTip);
    m_globalStop->setAccessibleName(QStringLiteral("STOP (alle Loks)"));
    setButtonColour(m_globalStop, StatusColour::Failure);

    m_programmedLocos =
        new QPushButton(QStringLiteral("Lok-Konfiguration / Programmierung"), m_controlFrame);
    m_programmedLocos->setObjectName(QStringLiteral("btnProgrammedLocos"));
    m_programmedLocos->setMinimumHeight(32);

    m_loadCircuit = new QPushButton(QStringLiteral("Laststromkreis"), m_controlFrame);
    m_loadCircuit->setObjectName(QStringLiteral("btnLoadCircuit"));
    m_loadCircuit->setMinimumSize(120, 32);
    m_circuitOn = new CircuitLamp(m_controlFrame);
    m_circuitOn->setObjectName(QStringLiteral("shpCircuitOn"));
    m_circuitOn->setAccessibleName(QStringLiteral("Laststromkreis AN"));
    m_circuitOff = new CircuitLamp(m_controlFrame);
    m_circuitOff->setObjectName(QStringLiteral("shpCircuitOff"));
    m_circuitOff->setAccessibleName(QStringLiteral("Laststromkreis AUS"));
    auto *onLabel = new QLabel(QStringLiteral("AN"), m_controlFrame);
    auto *offLabel = new QLabel(QStringLiteral("AUS"), m_controlFrame);

    auto *topRow = new QHBoxLayout;
    topRow->addWidget(m_globalStop);
    topRow->addStretch(1);
    topRow->addWidget(m_programmedLocos);
    topRow->addStretch(1);
    topRow->addWidget(m_loadCircuit);
    topRow->addSpacing(8);
    topRow->addWidget(m_circuitOn);
    topRow->addWidget(onLabel);
    topRow->addSpacing(6);
    topRow->addWidget(m_circuitOff);
    topRow->addWidget(offLabel);

    auto *panels = new QHBoxLayout;
    panels->setSpacing(6);
    for (int i = 0; i < PanelCount; ++i) {
        m_locoPanels[i] = new LocoPanel(i, m_controlFrame);
        panels->addWidget(m_locoPanels[i]);
    }
    auto *accessories = new QVBoxLayout;
    accessories->setSpacing(4);
    for (int i = 0; i < PanelCount; ++i) {
        m_accessoryPanels[i] = new AccessoryPanel(i, m_controlFrame);
        accessories->addWidget(m_accessoryPanels[i]);
    }
    accessories->addStretch(1);
    panels->addLayout(accessories);

    auto *frameLayout = new QVBoxLayout(m_controlFrame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    frameLayout->addLayout(topRow);
    frameLayout->addLayout(panels, 1);

    // The frame lies over the hint: the later widget is on top.
    stack->addWidget(m_hint, 0, 0);
    stack->addWidget(m_controlFrame, 0, 0);
    setControlFrameVisible(false);

    connect(m_globalStop, &QPushButton::clicked, this, &kzVelantor::stopAllLocos);
    connect(m_programmedLocos, &QPushButton::clicked, this, &kzVelantor::showLocoList);
    connect(m_loadCircuit, &QPushButton::clicked, this, &kzVelantor::switchLoadCircuit);
    return area;
}

void kzVelantor::buildStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setFont(QFont(QStringLiteral("Arial")));
    bar->setSizeGripEnabled(false);
    const QString portTip = QStringLiteral("Zeigt die aktuell-verwendete Schnittstelle an");
    m_pnlInfo = statusBarPanel(bar, QStringLiteral("pnlInfo"), QString(),
                               QStringLiteral("Informationen zum Programm"));
    auto *blank = statusBarPanel(bar, QStringLiteral("pnlBlank"), QString(), QString());
    auto *portCaption = statusBarPanel(bar, QStringLiteral("pnlPortCaption"),
                                       QStringLiteral("Schnittstelle"), portTip);
    m_pnlComPort = statusBarPanel(bar, QStringLiteral("pnlComPort"), QString(), portTip);
    auto *blank2 = statusBarPanel(bar, QStringLiteral("pnlBlank2"), QString(), QString());
    auto *boardCaption = statusBarPanel(bar, QStringLiteral("pnlBoardCaption"),
                                        QStringLiteral("Boardlayout"), QString());
    m_pnlBoardLayout = statusBarPanel(bar, QStringLiteral("pnlBoardLayout"),
                                      QStringLiteral("unbekannt"),
                                      QStringLiteral("Zeigt das verwendete Controller-Board an"));
    // Shown only while the phone-throttle server runs.
    m_pnlThrottles = statusBarPanel(bar, QStringLiteral("pnlThrottles"), QString(),
                                    QStringLiteral("Handregler-Apps im Netzwerk"));
    m_pnlThrottles->setVisible(false);
    m_pnlInfo->setMinimumWidth(180);
    m_pnlComPort->setMinimumWidth(90);
    m_pnlBoardLayout->setMinimumWidth(80);
    bar->addWidget(m_pnlInfo);
    bar->addWidget(m_pnlThrottles);
    bar->addWidget(blank, 1);
    bar->addWidget(portCaption);
    bar->addWidget(m_pnlComPort);
    bar->addWidget(blank2);
    bar->addWidget(boardCaption);
    bar->addWidget(m_pnlBoardLayout);
}

void kzVelantor::connectPanels()
{
    for (int i = 0; i < PanelCount; ++i) {
        LocoPanel *panel = m_locoPanels[i];
        connect(panel->kzSlider(), &QSlider::valueChanged, this,
                [this, i](int value) { changeSlider(i, value); });
        connect(panel, &LocoPanel::directionToggled, this,
                [this, i](bool pressed) { clickDirection(i, pressed); });
        connect(panel, &LocoPanel::lightToggled, this,
                [this, i](bool pressed) { clickLight(i, pressed); });
        connect(panel->tlbFunctionKeys(), &FunctionKeyBar::buttonToggled, this,
                [this, i](const QString &key, bool pressed) { clickFunctionKey(i, key, pressed); });
        connect(panel->btnStop(), &QPushButton::clicked, this, [this, i] { clickStop(i); });
        connect(panel->kzSliderNo(), &LocoNumberBox::dropDown, this,
                [this, i] { FillLocoNumberList(i); });
        // A new loco number's speed steps are read when no sequence runs.
        connect(panel->kzSliderNo(), &LocoNumberBox::focusLost, this, [this, i] {
            if (!WindowSequence::isRunning())
                ShowSpeedSteps(i);
        });

        AccessoryPanel *accessory = m_accessoryPanels[i];
        connect(accessory, &AccessoryPanel::portClicked, this,
                [this, accessory](int port, bool on) {
                    SwitchAccessoryPort(accessory->kzAccessory()->text(), port, on);
                });
    }
}
