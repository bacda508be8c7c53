#include "dashboard/kzvelantor.h"

#include "about/kzinfo.h"
#include "common/errors.h"
#include "common/messagebox.h"
#include "common/program.h"
#include "common/rules.h"
#include "common/settings.h"
#include "common/validation.h"
#include "controller/kzcontrollersettingsvl.h"
#include "dashboard/accessorypanel.h"
#include "dashboard/dashboardlogic.h"
#include "dashboard/kzoptions.h"
#include "dashboard/locopanel.h"
#include "dashboard/pictures.h"
#include "link/commands.h"
#include "link/exchange.h"
#include "link/portsession.h"
#include "link/serialport.h"
#include "locolist/kzlocolist.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// Every exchange of the window: two attempts, the failure box, 2 seconds.
constexpr qint16 Attempts = 2;
constexpr qint16 TimeoutSeconds = 2;

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
};

constexpr ToolBarButton ToolBarButtons[] = {
    {"btnOptions", "Einstellungen", "Einstellungen aufrufen"},
    {"btnHelp", "Handbuch", "Handbuch aufrufen"},
    {"btnInfo", "Info", "Programmversion und Copyright anzeigen \t"},
    {"btnClose", "Beenden", "Velantor verlassen"},
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

kzVelantor::kzVelantor(ControllerPort *port, QWidget *parent)
    : QMainWindow(parent)
    , m_modalRunner([](QDialog *dialog) { return dialog->exec(); })
    , m_documentOpener([](const QUrl &url) { return QDesktopServices::openUrl(url); })
    , m_programDirectory(QCoreApplication::applicationDirPath())
{
    if (!port) {
        m_ownedPort = std::make_unique<SerialControllerPort>();
        port = m_ownedPort.get();
    }
    setControllerPort(port);
    m_lastSliderValue.fill(SliderStop);

    setWindowTitle(Program::Title);
    buildToolBar();
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralWidget"));
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(6);
    layout->addWidget(buildControllerRow(central));
    layout->addWidget(buildControlArea(central), 1);
    setCentralWidget(central);
    buildStatusBar();
    connectPanels();
    m_controllerNr->installEventFilter(this);

    // The layout is fixed: the window neither grows nor shrinks.
    adjustSize();
    setFixedSize(sizeHint());
}

kzVelantor::~kzVelantor()
{
    if (m_ownedPort && controllerPort() == m_ownedPort.get()) {
        ClosePort();
        setControllerPort(nullptr);
    }
}

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
    m_pnlInfo->setMinimumWidth(180);
    m_pnlComPort->setMinimumWidth(90);
    m_pnlBoardLayout->setMinimumWidth(80);
    bar->addWidget(m_pnlInfo);
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
        connect(panel->kzSliderNo(), &LocoNumberBox::focusLost, this,
                [this, i] { ShowSpeedSteps(i); });

        AccessoryPanel *accessory = m_accessoryPanels[i];
        connect(accessory, &AccessoryPanel::portClicked, this,
                [this, accessory](int port, bool on) {
                    SwitchAccessoryPort(accessory->kzAccessory()->text(), port, on);
                });
    }
}

// --- start-up, activation, tool bar, closing ------------------------------

void kzVelantor::startUp(bool showSplash)
{
    m_pnlInfo->setText(programInfoText());
    ClosePort();
    setCurrentPortName(sysGetSetting(PortSettingKey, QStringLiteral("NUL"), SettingsSection));
    if (!isSimulationMode())
        OpenPort(currentPortName(), false);
    m_pnlBoardLayout->setText(QStringLiteral("unbekannt"));
    if (showSplash) {
        kzInfo splash(this);
        splash.setTimerInterval(2000);
        runModal(&splash);
    }
}

void kzVelantor::setModalRunner(ModalRunner runner)
{
    m_modalRunner = std::move(runner);
}

void kzVelantor::setDocumentOpener(DocumentOpener opener)
{
    m_documentOpener = std::move(opener);
}

void kzVelantor::setProgramDirectory(const QString &directory)
{
    m_programDirectory = directory;
}

QString kzVelantor::manualPath() const
{
    return QDir(m_programDirectory).filePath(ManualFileName);
}

int kzVelantor::runModal(QDialog *dialog)
{
    const int result = m_modalRunner(dialog);
    // Back in the main window: it is the active window again.
    refreshPortPanel();
    return result;
}

void kzVelantor::refreshPortPanel()
{
    m_pnlComPort->setText(portPanelText(currentPortName()));
}

void kzVelantor::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        refreshPortPanel();
}

void kzVelantor::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    refreshPortPanel();
}

void kzVelantor::keyPressEvent(QKeyEvent *event)
{
    // Enter works as in a dialog: a focused button is clicked, anything else
    // goes to the default button btnCheck.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        auto *focused = qobject_cast<QPushButton *>(focusWidget());
        // A check box drawn as a button ("Licht") is no command button: Space
        // switches it, Enter belongs to the default button.
        if (focused && focused->isCheckable())
            focused = nullptr;
        QPushButton *target = focused ? focused : m_check;
        if (target->isVisible() && target->isEnabled()) {
            target->click();
            event->accept();
            return;
        }
    }
    // Escape stops all locos; an open list or box takes its Escape first.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier
        && m_globalStop->isVisible() && m_globalStop->isEnabled()) {
        m_globalStop->click();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool kzVelantor::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_controllerNr && event->type() == QEvent::FocusIn) {
        // After the click that gave the focus has placed the cursor.
        QTimer::singleShot(0, m_controllerNr, &QLineEdit::selectAll);
    }
    return QMainWindow::eventFilter(watched, event);
}

QAction *kzVelantor::toolBarAction(const QString &key) const
{
    const QList<QAction *> actions = m_toolBar->actions();
    for (QAction *action : actions) {
        if (action->objectName().compare(key, Qt::CaseInsensitive) == 0)
            return action;
    }
    return nullptr;
}

QLabel *kzVelantor::statusPanel(const QString &key) const
{
    return statusBar()->findChild<QLabel *>(key);
}

void kzVelantor::dispatchToolBar(const QString &key)
{
    auto is = [&key](const char *name) {
        return key.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    };
    if (is("btnOptions"))
        showOptions();
    else if (is("btnHelp"))
        showHelp();
    else if (is("btnInfo"))
        showInfo();
    else if (is("btnClose"))
        close();
}

void kzVelantor::showOptions()
{
    {
        kzOptions options(this);
        runModal(&options);
    }
    // Whatever was done there: the controller must be checked again.
    setControlFrameVisible(false);
    m_controllerSettings->setEnabled(false);
    setStatus(StatusColour::Failure, StatusText::RecheckAfterOptions);
}

void kzVelantor::showHelp()
{
    const QString path = manualPath();
    if (!QFileInfo(path).isFile()) {
        sysShowError(ManualMissingText, false, false, QString());
        return;
    }
    m_documentOpener(QUrl::fromLocalFile(path));
}

void kzVelantor::showInfo()
{
    kzInfo info(this);
    runModal(&info);
}

void kzVelantor::showLocoList()
{
    const auto controller = controllerNumber();
    if (!controller)
        return;
    {
        kzLocoList locoList(this);
        locoList.setControllerID(*controller);
        runModal(&locoList);
    }
    GetLoadCircuitState();
}

void kzVelantor::showControllerSettings()
{
    const auto controller = controllerNumber();
    if (!controller)
        return;
    kzControllerSettingsVL settings(this);
    settings.setControllerID(*controller);
    settings.setAllowHWNotstop(false);
    runModal(&settings);
}

void kzVelantor::closeEvent(QCloseEvent *event)
{
    if (!sysDataOK(this)) {
        event->ignore();
        return;
    }
    if (queryTrackPower() == TrackPower::On) {
        const BoxAnswer answer = showMessageBox(BoxIcon::Question, BoxButtons::YesNo,
                                                BoxAnswer::Yes, Program::Title,
                                                trackPowerQuestion());
        if (answer == BoxAnswer::Yes)
            switchLoadCircuit();
    }
    savePanelSettings();
    event->accept();
    // The program ends here; nothing else gets a say.
    QCoreApplication::quit();
}

void kzVelantor::savePanelSettings()
{
    for (int i = 0; i < PanelCount; ++i)
        sysSaveSetting(locoPanelKey(i), m_locoPanels[i]->kzSliderNo()->currentText(),
                       SettingsSection);
    for (int i = 0; i < PanelCount; ++i)
        sysSaveSetting(accessoryPanelKey(i), m_accessoryPanels[i]->kzAccessory()->text(),
                       SettingsSection);
}

void kzVelantor::LoadPanelSettings()
{
    for (int i = 0; i < PanelCount; ++i) {
        m_locoPanels[i]->kzSliderNo()->setEditText(
            sysGetSetting(locoPanelKey(i), QString::number(i + 1), SettingsSection));
        ShowSpeedSteps(i);
    }
    for (int i = 0; i < PanelCount; ++i) {
        m_accessoryPanels[i]->kzAccessory()->setText(
            sysGetSetting(accessoryPanelKey(i), QString::number(i + 1), SettingsSection));
    }
}

// --- the controller check -------------------------------------------------

void kzVelantor::setStatus(const QColor &colour, const QString &text)
{
    QPalette palette = m_status->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, colour);
    m_status->setPalette(palette);
    m_status->setText(text);
    // Seen at once, also while an exchange holds the window.
    m_status->repaint();
}

void kzVelantor::setControlFrameVisible(bool visible)
{
    m_controlFrame->setVisible(visible);
    m_hint->setVisible(!visible);
}

void kzVelantor::checkController()
{
    m_pnlBoardLayout->setText(QStringLiteral("unbekannt"));
    m_controllerSettings->setEnabled(false);

    const QString text = m_controllerNr->text();
    if (!checkAcceptsControllerNumber(text)) {
        setControlFrameVisible(false);
        return;
    }
    setStatus(StatusColour::Running, StatusText::Running);

    if (isSimulationMode()) {
        WaitSeconds(1);
        setStatus(StatusColour::Success, StatusText::Simulation);
        setControlFrameVisible(true);
        return;
    }

    // 0 to 250 before rounding always fits the controller byte.
    const quint8 controller = *controllerNumberFromText(text);
    if (!exchange(controller, Command::QueryController, 0, Selector::Status, 0)) {
        ShowCommunicationError();
        return;
    }
    if (m_buffer.command == Command::QueryController) {
        setStatus(StatusColour::Failure, notFoundText(m_buffer.controller));
        setControlFrameVisible(false);
        return;
    }

    // A version query without an answer says nothing about the firmware.
    if (!exchange(controller, Command::QueryController, 0, Selector::Version, 0)) {
        ShowCommunicationError();
        return;
    }
    const int major = m_buffer.p2;
    const int minor = m_buffer.p3;
    const int build = m_buffer.p1;
    const QString okText = firmwareOkText(major, minor, build);
    if (!CheckFirmwareVersion(major, minor, build)) {
        setStatus(StatusColour::Failure, versionProblemText());
        return;
    }

    LoadPanelSettings();
    setStatus(StatusColour::Success, okText);
    GetLoadCircuitState();
    setControlFrameVisible(true);
    ShowBoardLayout();
    m_controllerSettings->setEnabled(true);
}

void kzVelantor::ShowCommunicationError()
{
    QCoreApplication::processEvents();
    setStatus(StatusColour::Failure, StatusText::CommunicationError);
}

void kzVelantor::ShowBoardLayout()
{
    const auto controller = controllerNumber();
    if (!controller)
        return;
    if (!exchange(*controller, Command::QueryController, 0, Selector::Status, 0))
        return;
    m_pnlBoardLayout->setText(boardLayoutText(m_buffer.p1));
}

bool kzVelantor::CheckFirmwareVersion(int major, int minor, int build)
{
    switch (firmwareVerdict(major, minor, build)) {
    case FirmwareVerdict::Fits:
        return true;
    case FirmwareVerdict::TooOld:
        sysShowError(firmwareTooOldMessage(major, minor, build), false, false,
                     versionCheckCaption());
        return false;
    case FirmwareVerdict::Mismatch:
        sysShowError(firmwareMismatchMessage(major, minor, build), false, false,
                     versionCheckCaption());
        return false;
    }
    return false;
}

// --- exchanges ----------------------------------------------------------

std::optional<quint8> kzVelantor::controllerNumber()
{
    const QString text = m_controllerNr->text();
    const auto controller = controllerNumberFromText(text);
    if (!controller) {
        showMessageBox(BoxIcon::Warning, BoxButtons::Ok, BoxAnswer::Ok, Program::Title,
                       controllerNumberRefusal(text));
    }
    return controller;
}

std::optional<int> kzVelantor::locoNumber(int panel)
{
    const QString text = m_locoPanels[panel]->kzSliderNo()->currentText();
    const auto loco = locoNumberFromText(text);
    if (!loco) {
        showMessageBox(BoxIcon::Warning, BoxButtons::Ok, BoxAnswer::Ok, Program::Title,
                       locoNumberRefusal(text));
    }
    return loco;
}

bool kzVelantor::exchange(quint8 controller, quint8 command, quint8 p1, quint8 p2, quint8 p3)
{
    m_buffer = {controller, command, p1, p2, p3};
    return SendCommand(m_buffer, Attempts, true, TimeoutSeconds);
}

std::optional<bool> kzVelantor::sendLocoCommand(int panel, quint8 command, quint8 p1)
{
    const auto controller = controllerNumber();
    if (!controller)
        return std::nullopt;
    const auto loco = locoNumber(panel);
    if (!loco)
        return std::nullopt;
    return exchange(*controller, command, p1, lowByte(*loco), highByte(*loco));
}

// --- loco panels --------------------------------------------------------

void kzVelantor::changeSlider(int panel, int value)
{
    QSlider *slider = m_locoPanels[panel]->kzSlider();
    if (!m_suppressSpeedCommand
        && !sendLocoCommand(panel, Command::SetSpeed, speedFromSlider(value))) {
        // Nothing was sent: the knob goes back to the speed the loco has.
        m_suppressSpeedCommand = true;
        slider->setValue(m_lastSliderValue[panel]);
        m_suppressSpeedCommand = false;
        return;
    }
    m_lastSliderValue[panel] = value;
    m_locoPanels[panel]->showSliderValue(value);
}

void kzVelantor::clickDirection(int panel, bool pressed)
{
    if (!sendLocoCommand(panel, Command::SetDirection, pressed ? 1 : 0))
        m_locoPanels[panel]->restoreDirection(!pressed);
}

void kzVelantor::clickLight(int panel, bool pressed)
{
    if (!sendLocoCommand(panel, pressed ? Command::FunctionOn : Command::FunctionOff, 0))
        m_locoPanels[panel]->restoreLight(!pressed);
}

void kzVelantor::clickFunctionKey(int panel, const QString &key, bool pressed)
{
    const int number = functionNumberFromKey(key);
    if (!sendLocoCommand(panel, pressed ? Command::FunctionOn : Command::FunctionOff,
                         quint8(number)))
        m_locoPanels[panel]->tlbFunctionKeys()->restore(key, !pressed);
}

void kzVelantor::clickStop(int panel)
{
    m_suppressSpeedCommand = true;
    sendLocoCommand(panel, Command::StopLoco, 0);
    // The panel returns to the stop position also when nothing could be
    // sent, so that its loco number can be corrected.
    m_locoPanels[panel]->kzSlider()->setValue(SliderStop);
    m_suppressSpeedCommand = false;
}

void kzVelantor::ShowSpeedSteps(int panel)
{
    QLabel *label = m_locoPanels[panel]->lblFahrstufen();
    const auto controller = controllerNumber();
    if (!controller)
        return;
    const auto loco = locoNumber(panel);
    if (!loco) {
        label->setText(QStringLiteral("Fahrstf."));
        return;
    }
    exchange(*controller, Command::ReadLocoEntry, LocoWalk::SingleLoco, lowByte(*loco),
             highByte(*loco));
    // After a failed exchange P1 is still the 0 that was sent: "Fehler".
    label->setText(speedStepText(m_buffer.p1));
}

void kzVelantor::FillLocoNumberList(int panel)
{
    LocoNumberBox *box = m_locoPanels[panel]->kzSliderNo();
    const QString text = box->currentText();
    box->clear();
    box->setEditText(text);

    const auto controller = controllerNumber();
    if (!controller)
        return;
    // The walk ends at the controller's end mark or at the first request
    // without a valid reply, keeping what was read; a controller that never
    // ends its list cannot hold the window forever.
    bool answered = exchange(*controller, Command::ReadLocoEntry, LocoWalk::First, 0, 0);
    int entries = 0;
    while (answered && m_buffer.p1 != NothingToReport && entries < MaxLocoNumber) {
        box->addItem(QString::number(joinBytes(m_buffer.p2, m_buffer.p3)));
        ++entries;
        answered = exchange(*controller, Command::ReadLocoEntry, LocoWalk::Next, 0, 0);
    }
    // Adding the first entry selects it; the typed number stays.
    box->setCurrentIndex(-1);
    box->setEditText(text);
}

// --- track power and the stop of all locos ------------------------------

kzVelantor::TrackPower kzVelantor::queryTrackPower()
{
    m_circuitOn->setColour(Qt::black);
    m_circuitOff->setColour(Qt::black);
    const auto controller = controllerNumber();
    if (!controller)
        return TrackPower::Unknown;
    if (!exchange(*controller, Command::QueryController, 0, Selector::Status, 0)) {
        // No answer, no knowledge: both lamps stay dark.
        return TrackPower::Unknown;
    }
    if (StatusFlags{m_buffer.p1}.trackPowerOn()) {
        m_circuitOn->setColour(StatusColour::Success);
        return TrackPower::On;
    }
    m_circuitOff->setColour(StatusColour::Failure);
    return TrackPower::Off;
}

bool kzVelantor::GetLoadCircuitState()
{
    return queryTrackPower() == TrackPower::On;
}

void kzVelantor::switchLoadCircuit()
{
    const TrackPower state = queryTrackPower();
    // Switching blindly could turn power on for a user who meant to cut it.
    if (state == TrackPower::Unknown)
        return;
    const auto controller = controllerNumber();
    if (!controller)
        return;
    if (state == TrackPower::On)
        exchange(*controller, Command::SetParameter, 0, Parameter::TrackOutput, TrackMode::Off);
    else
        exchange(*controller, Command::SetParameter, 1, Parameter::TrackOutput, TrackMode::PowerOn);
    queryTrackPower();
}

void kzVelantor::stopAllLocos()
{
    m_suppressSpeedCommand = true;
    if (const auto controller = controllerNumber())
        exchange(*controller, Command::StopLoco, 0, 255, 255);
    for (LocoPanel *panel : m_locoPanels)
        panel->kzSlider()->setValue(SliderStop);
    m_suppressSpeedCommand = false;
}

// --- accessories ----------------------------------------------------------

void kzVelantor::SwitchAccessoryPort(const QString &decoderIdText, int port, bool on)
{
    if (!sysDataOK(this))
        return;
    const int decoderId = decoderIdFromText(decoderIdText);
    const auto controller = controllerNumber();
    if (!controller)
        return;
    m_buffer = accessoryCommand(*controller, decoderId, port, on);
    SendCommand(m_buffer, Attempts, true, TimeoutSeconds);
}
