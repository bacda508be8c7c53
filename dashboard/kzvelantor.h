#pragma once

#include "link/frame.h"
#include "link/locostate.h"

#include <QMainWindow>
#include <QSet>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class AccessoryPanel;
class LocoDriver;
class LocoState;
struct DriveIntent;
struct DriveResult;
struct LocoSnapshot;
class CircuitLamp;
class ControllerPort;
class LocoPanel;
class PhoneThrottles;
class QAction;
class QDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolBar;
class QUrl;
class Roster;

// The main window: the controller row, the control frame with four loco
// panels, four accessory panels and track power, the tool bar and the status
// bar.
class kzVelantor final : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int PanelCount = 4;

    // Installs port as the controller port; without one the window creates
    // (and owns) a serial port.
    explicit kzVelantor(ControllerPort *port = nullptr, QWidget *parent = nullptr);
    ~kzVelantor() override;

    // Everything before the window is first shown: the status bar, the port
    // from the settings (opened unless "NUL") and, when showSplash, the about
    // window for two seconds.
    void startUp(bool showSplash = true);

    // How the window shows its modal dialogs; tests replace the exec().
    using ModalRunner = std::function<int(QDialog *)>;
    void setModalRunner(ModalRunner runner);
    // How the manual is handed to the desktop; tests replace it.
    using DocumentOpener = std::function<bool(const QUrl &)>;
    void setDocumentOpener(DocumentOpener opener);
    // How the desktop is asked for its application for PDF files (see
    // desktopPdfApplication); tests replace it.
    using PdfApplicationQuery = std::function<std::optional<QString>()>;
    void setPdfApplicationQuery(PdfApplicationQuery query);
    // The directory searched for the manual (the program's own by default).
    void setProgramDirectory(const QString &directory);
    QString manualPath() const;

    // Fills the loco and decoder-id boxes of all panels from the settings and
    // shows each loco's speed steps.
    void LoadPanelSettings();
    // Asks the controller for the speed steps of panel's loco.
    void ShowSpeedSteps(int panel);
    // Fills panel's loco number list from the controller's loco list.
    void FillLocoNumberList(int panel);
    // Asks for track power and shows it in the lamps; true when it is on.
    // Without an answer both lamps go dark and the answer is false.
    bool GetLoadCircuitState();
    void ShowCommunicationError();
    void ShowBoardLayout();
    bool CheckFirmwareVersion(int major, int minor, int build);
    void SwitchAccessoryPort(const QString &decoderIdText, int port, bool on);

    // Controls, for the tests and the picture tool.
    QToolBar *Toolbar1() const { return m_toolBar; }
    QAction *toolBarAction(const QString &key) const;
    QLineEdit *txtControllerNr() const { return m_controllerNr; }
    QPushButton *btnCheck() const { return m_check; }
    QPushButton *cmdControllerSettings() const { return m_controllerSettings; }
    QLabel *lblStatus() const { return m_status; }
    QFrame *ControllerFrame() const { return m_controlFrame; }
    QLabel *lblHinweis() const { return m_hint; }
    QPushButton *btnGlobalStop() const { return m_globalStop; }
    QPushButton *btnProgrammedLocos() const { return m_programmedLocos; }
    QPushButton *btnLoadCircuit() const { return m_loadCircuit; }
    CircuitLamp *shpCircuitOn() const { return m_circuitOn; }
    CircuitLamp *shpCircuitOff() const { return m_circuitOff; }
    LocoPanel *locoPanel(int index) const { return m_locoPanels.at(index); }
    AccessoryPanel *accessoryPanel(int index) const { return m_accessoryPanels.at(index); }
    QLabel *statusPanel(const QString &key) const;
    bool suppressSpeedCommand() const { return m_suppressSpeedCommand; }
    LocoState &locoState() const { return *m_state; }
    LocoDriver &driver() const { return *m_driver; }
    PhoneThrottles &phoneThrottles() const { return *m_phones; }
    Roster &roster() const { return *m_roster; }
    QLabel *pnlThrottles() const { return m_pnlThrottles; }

public slots:
    void checkController();
    void switchLoadCircuit();
    void stopAllLocos();
    void showOptions();
    void showHelp();
    void showInfo();
    void showLocoList();
    void showControllerSettings();
    // The dialog "Handregler"; what it decides is saved and done.
    void showThrottles();
    // The dialog "Fahrzeuge"; what it changed is saved into the roster.
    void showRoster();
    // The port panel names the current port, or "Simulation".
    void refreshPortPanel();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildToolBar();
    QFrame *buildControllerRow(QWidget *parent);
    QWidget *buildControlArea(QWidget *parent);
    void buildStatusBar();
    void connectPanels();

    void dispatchToolBar(const QString &key);
    int runModal(QDialog *dialog);
    void setStatus(const QColor &colour, const QString &text);
    void setControlFrameVisible(bool visible);
    void savePanelSettings();
    // Starts the phone-throttle server; a port that cannot be had gives a
    // box, and the server stays off.
    void startSavedPhoneThrottles();
    bool startPhoneThrottles(quint16 port);
    bool startWebThrottle(quint16 port);
    // The phones' roster from the controller's loco list.
    void readPhoneRoster();
    // The roster for panels and phones; read from its folder by loadRoster.
    void setUpRoster();
    void loadRoster();
    void refreshThrottleStatus();
    TrackPower queryTrackPower();
    // Lights the lamps for power and tells the loco state.
    void showTrackPower(TrackPower power);
    // Lights the lamp for power; both dark when it is unknown.
    void showLamps(TrackPower power);

    // The controller byte from the controller number box; refused with a
    // message (and nothing) when it does not fit.
    std::optional<quint8> controllerNumber();
    std::optional<int> locoNumber(int panel);
    // A window exchange; the reply when a valid one came.
    std::optional<CommandBuffer> exchange(quint8 controller, quint8 command, quint8 p1, quint8 p2,
                                          quint8 p3);
    // Drives panel's loco through the loco driver (intent's loco number is
    // the panel's); nothing when the numbers are refused, else whether the
    // intent went on its way (sent, or waiting for the line).
    std::optional<bool> driveLoco(int panel, DriveIntent intent);
    // Hands a window's intent to the driver; when the line reports a
    // failure, now or later, the window shows its boxes.
    DriveResult submitFromWindow(DriveIntent intent);
    void windowDriveFinished(const DriveIntent &intent, const DriveResult &result);
    // A loco changed in the loco state, by whatever source: the panels that
    // show it follow, sending nothing.
    void followLocoState(int number, const LocoSnapshot &before, const LocoSnapshot &after);

    void changeSlider(int panel, int value);
    void clickDirection(int panel, bool pressed);
    void clickLight(int panel, bool pressed);
    void clickFunctionKey(int panel, const QString &key, bool pressed);
    void clickStop(int panel);

    std::unique_ptr<ControllerPort> m_ownedPort;
    // What every loco was last sent, and the one way to send it.
    LocoState *m_state = nullptr;
    LocoDriver *m_driver = nullptr;
    PhoneThrottles *m_phones = nullptr;
    Roster *m_roster = nullptr;
    bool m_suppressSpeedCommand = false;
    // The window's intents still waiting for the line, by their tags.
    QSet<quint64> m_pendingDrives;
    quint64 m_driveSerial = 0;
    std::array<int, PanelCount> m_lastSliderValue{};
    ModalRunner m_modalRunner;
    DocumentOpener m_documentOpener;
    PdfApplicationQuery m_pdfApplicationQuery;
    QString m_programDirectory;

    QToolBar *m_toolBar = nullptr;
    QLineEdit *m_controllerNr = nullptr;
    QPushButton *m_check = nullptr;
    QPushButton *m_controllerSettings = nullptr;
    QLabel *m_status = nullptr;
    QFrame *m_controlFrame = nullptr;
    QLabel *m_hint = nullptr;
    QPushButton *m_globalStop = nullptr;
    QPushButton *m_programmedLocos = nullptr;
    QPushButton *m_loadCircuit = nullptr;
    CircuitLamp *m_circuitOn = nullptr;
    CircuitLamp *m_circuitOff = nullptr;
    std::array<LocoPanel *, PanelCount> m_locoPanels{};
    std::array<AccessoryPanel *, PanelCount> m_accessoryPanels{};
    QLabel *m_pnlInfo = nullptr;
    QLabel *m_pnlComPort = nullptr;
    QLabel *m_pnlBoardLayout = nullptr;
    QLabel *m_pnlThrottles = nullptr;
};
