#include "dashboard/kzvelantor.h"

#include "about/kzinfo.h"
#include "common/errors.h"
#include "common/flagscope.h"
#include "common/messagebox.h"
#include "common/program.h"
#include "common/rules.h"
#include "common/settings.h"
#include "common/validation.h"
#include "common/windowsequence.h"
#include "controller/kzcontrollersettingsvl.h"
#include "dashboard/accessorypanel.h"
#include "dashboard/dashboardlogic.h"
#include "dashboard/kzoptions.h"
#include "dashboard/locopanel.h"
#include "dashboard/pdfapplication.h"
#include "dashboard/pictures.h"
#include "common/lineboxes.h"
#include "link/commands.h"
#include "link/exchange.h"
#include "link/locodriver.h"
#include "link/locoframes.h"
#include "link/locostate.h"
#include "link/portsession.h"
#include "link/serialport.h"
#include "link/trackpower.h"
#include "locolist/kzlocolist.h"
#include "locolist/lococonfig.h"
#include "throttleserver/phonethrottles.h"

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


kzVelantor::kzVelantor(ControllerPort *port, QWidget *parent)
    : QMainWindow(parent)
    , m_modalRunner([](QDialog *dialog) { return dialog->exec(); })
    , m_documentOpener([](const QUrl &url) { return QDesktopServices::openUrl(url); })
    , m_pdfApplicationQuery(desktopPdfApplication)
    , m_programDirectory(QCoreApplication::applicationDirPath())
{
    if (!port) {
        m_ownedPort = std::make_unique<SerialControllerPort>();
        port = m_ownedPort.get();
    }
    setControllerPort(port);
    m_lastSliderValue.fill(SliderStop);
    m_state = new LocoState(this);
    m_driver = new LocoDriver(*m_state, this);
    setLocoDriver(m_driver);
    connect(m_state, &LocoState::locoChanged, this, &kzVelantor::followLocoState);
    connect(m_driver, &LocoDriver::finished, this, &kzVelantor::windowDriveFinished);
    // Whoever switched track power (a phone too), the lamps show what the
    // program last heard; nothing is sent for it.
    connect(m_state, &LocoState::trackPowerChanged, this, &kzVelantor::showLamps);
    m_phones = new PhoneThrottles(*m_driver, this);

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
    setUpRoster();
    m_controllerNr->installEventFilter(this);
    connect(m_phones, &PhoneThrottles::statusChanged, this, &kzVelantor::refreshThrottleStatus);
    connect(m_phones, &PhoneThrottles::noReply, this, [this] {
        // Nobody at the desktop asked for it: a line in the status bar, no box.
        m_pnlThrottles->setText(phoneNoReplyText());
        m_pnlThrottles->setVisible(true);
    });

    // The layout is fixed: the window neither grows nor shrinks.
    adjustSize();
    setFixedSize(sizeHint());
}

kzVelantor::~kzVelantor()
{
    if (locoDriver() == m_driver)
        setLocoDriver(nullptr);
    if (m_ownedPort && controllerPort() == m_ownedPort.get()) {
        ClosePort();
        setControllerPort(nullptr);
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
    loadRoster();
    startSavedPhoneThrottles();
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

void kzVelantor::setPdfApplicationQuery(PdfApplicationQuery query)
{
    m_pdfApplicationQuery = std::move(query);
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
        // Tool-bar buttons count as command buttons too.
        auto *focused = qobject_cast<QAbstractButton *>(focusWidget());
        // A check box drawn as a button ("Licht") is no command button: Space
        // switches it, Enter belongs to the default button.
        if (focused && focused->isCheckable())
            focused = nullptr;
        QAbstractButton *target = focused ? focused : m_check;
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
    else if (is("btnThrottles"))
        showThrottles();
    else if (is("btnRoster"))
        showRoster();
    else if (is("btnClose"))
        close();
}

void kzVelantor::showOptions()
{
    // The port must not change under a running sequence.
    if (WindowSequence::refuses())
        return;
    {
        kzOptions options(this);
        runModal(&options);
    }
    // Whatever was done there: the controller must be checked again.
    m_state->setController(std::nullopt);
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
    // The opener only reports whether it could be started, not whether a
    // program shows the file: without a PDF application the user would see
    // nothing at all.
    const std::optional<QString> application = m_pdfApplicationQuery();
    if (application && application->isEmpty()) {
        sysShowError(manualNoPdfApplicationText(path), false, false, QString());
        return;
    }
    if (!m_documentOpener(QUrl::fromLocalFile(path)))
        sysShowError(manualNotOpenedText(path), false, false, QString());
}

void kzVelantor::showInfo()
{
    kzInfo info(this);
    runModal(&info);
}

void kzVelantor::showLocoList()
{
    if (WindowSequence::refuses())
        return;
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
    if (WindowSequence::refuses())
        return;
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
    // Closing asks the controller too; the running sequence ends first.
    if (WindowSequence::refuses()) {
        event->ignore();
        return;
    }
    const WindowSequence sequence;
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
    if (WindowSequence::refuses())
        return;
    const WindowSequence sequence;
    m_pnlBoardLayout->setText(QStringLiteral("unbekannt"));
    m_controllerSettings->setEnabled(false);
    m_state->setController(std::nullopt);

    const QString text = m_controllerNr->text();
    if (!checkAcceptsControllerNumber(text)) {
        setControlFrameVisible(false);
        return;
    }
    setStatus(StatusColour::Running, StatusText::Running);
    // 0 to 250 before rounding always fits the controller byte.
    const quint8 controller = *controllerNumberFromText(text);

    if (isSimulationMode()) {
        WaitSeconds(1);
        setStatus(StatusColour::Success, StatusText::Simulation);
        setControlFrameVisible(true);
        m_state->setController(controller);
        return;
    }

    const auto status = exchange(controller, Command::QueryController, 0, Selector::Status, 0);
    if (!status) {
        ShowCommunicationError();
        return;
    }
    if (status->command == Command::QueryController) {
        setStatus(StatusColour::Failure, notFoundText(status->controller));
        setControlFrameVisible(false);
        return;
    }

    // A version query without an answer says nothing about the firmware.
    const auto version = exchange(controller, Command::QueryController, 0, Selector::Version, 0);
    if (!version) {
        ShowCommunicationError();
        return;
    }
    const int major = version->p2;
    const int minor = version->p3;
    const int build = version->p1;
    const QString okText = firmwareOkText(major, minor, build);
    if (!CheckFirmwareVersion(major, minor, build)) {
        setStatus(StatusColour::Failure, versionProblemText());
        return;
    }

    LoadPanelSettings();
    setStatus(StatusColour::Success, okText);
    m_state->setController(controller);
    GetLoadCircuitState();
    readPhoneRoster();
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
    const auto status = exchange(*controller, Command::QueryController, 0, Selector::Status, 0);
    if (!status)
        return;
    m_pnlBoardLayout->setText(boardLayoutText(status->p1));
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

std::optional<CommandBuffer> kzVelantor::exchange(quint8 controller, quint8 command, quint8 p1,
                                                  quint8 p2, quint8 p3)
{
    return RunWindowExchange(CommandBuffer{controller, command, p1, p2, p3}, Exchange::Window).reply;
}

// --- track power and the stop of all locos ------------------------------

namespace {

void showWindowExchangeBoxes(const CommandBuffer &frame, const ExchangeResult &result)
{
    showExchangeBoxes(frame, Exchange::Window, result);
}

} // namespace

TrackPower kzVelantor::queryTrackPower()
{
    m_circuitOn->setColour(Qt::black);
    m_circuitOff->setColour(Qt::black);
    const auto controller = controllerNumber();
    if (!controller)
        return TrackPower::Unknown;
    showTrackPower(::queryTrackPower(*controller, Exchange::Window, showWindowExchangeBoxes));
    return m_state->trackPower();
}

void kzVelantor::showTrackPower(TrackPower power)
{
    showLamps(power);
    m_state->setTrackPower(power);
}

void kzVelantor::showLamps(TrackPower power)
{
    // No answer, no knowledge: both lamps stay dark.
    m_circuitOn->setColour(power == TrackPower::On ? StatusColour::Success : QColor(Qt::black));
    m_circuitOff->setColour(power == TrackPower::Off ? StatusColour::Failure : QColor(Qt::black));
}

bool kzVelantor::GetLoadCircuitState()
{
    return queryTrackPower() == TrackPower::On;
}

void kzVelantor::switchLoadCircuit()
{
    // Switching off always acts; switching on waits for the running
    // sequence.
    if (m_state->trackPower() != TrackPower::On && WindowSequence::refuses())
        return;
    const WindowSequence sequence;
    m_circuitOn->setColour(Qt::black);
    m_circuitOff->setColour(Qt::black);
    const auto controller = controllerNumber();
    if (!controller)
        return;
    showTrackPower(
        switchTrackPower(*controller, std::nullopt, Exchange::Window, showWindowExchangeBoxes));
}

void kzVelantor::stopAllLocos()
{
    const FlagScope quiet(m_suppressSpeedCommand);
    if (const auto controller = controllerNumber())
        submitFromWindow(DriveIntent::stopAll().to(*controller));
    for (LocoPanel *panel : m_locoPanels)
        panel->kzSlider()->setValue(SliderStop);
}
