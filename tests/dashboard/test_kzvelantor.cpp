#include "about/kzinfo.h"
#include "common/errors.h"
#include "common/program.h"
#include "common/rules.h"
#include "common/settings.h"
#include "controller/kzcontrollersettingsvl.h"
#include "dashboard/accessorypanel.h"
#include "dashboard/dashboardlogic.h"
#include "dashboard/kzoptions.h"
#include "dashboard/kzvelantor.h"
#include "dashboard/locopanel.h"
#include "dashboard/pictures.h"
#include "dashboard/throttledialog.h"
#include "common/windowsequence.h"
#include "link/commands.h"
#include "link/controllerline.h"
#include "link/locodriver.h"
#include "locolist/kzlocolist.h"
#include "roster/roster.h"
#include "roster/rosterdialog.h"
#include "throttleserver/phonethrottles.h"
#include "tests/support/copyfolder.h"
#include "tests/support/phoneclient.h"
#include "tests/support/stationrig.h"
#include "tests/support/testmain.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QListWidget>
#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QRegularExpression>
#include <QTcpServer>
#include <QWebSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QWheelEvent>

#include <cmath>

using Requests = QList<CommandBuffer>;
Q_DECLARE_METATYPE(DriveIntent)

namespace {

CommandBuffer frame(quint8 controller, quint8 command, quint8 p1, quint8 p2, quint8 p3)
{
    return {controller, command, p1, p2, p3};
}

CommandBuffer statusQuery(quint8 controller = 1)
{
    return frame(controller, Command::QueryController, 0, Selector::Status, 0);
}

// A successful check's frames: status, version, the four panels' loco
// entries, track power, board layout.
Requests checkFrames()
{
    return {
        statusQuery(),
        frame(1, Command::QueryController, 0, Selector::Version, 0),
        frame(1, Command::ReadLocoEntry, 0, 1, 0),
        frame(1, Command::ReadLocoEntry, 0, 2, 0),
        frame(1, Command::ReadLocoEntry, 0, 3, 0),
        frame(1, Command::ReadLocoEntry, 0, 4, 0),
        statusQuery(),
        statusQuery(),
    };
}

QColor textColour(const QLabel *label)
{
    return label->palette().color(QPalette::WindowText);
}

// Presses a control the way a screen reader or switch control does.
void accessibleAction(QWidget *control, const QString &action)
{
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(control);
    QVERIFY(face);
    QAccessibleActionInterface *actions = face->actionInterface();
    QVERIFY(actions);
    QVERIFY2(actions->actionNames().contains(action), qPrintable(actions->actionNames().join(',')));
    actions->doAction(action);
}

// A click, or the accessibility interface's toggle.
void press(QAbstractButton *button, bool accessible)
{
    if (accessible)
        accessibleAction(button, QAccessibleActionInterface::toggleAction());
    else
        button->click();
}

// The contrast of two colours as the accessibility guidelines (WCAG) define
// it: (L1 + 0.05) / (L2 + 0.05) of their relative luminances.
double contrastRatio(const QColor &a, const QColor &b)
{
    auto luminance = [](const QColor &c) {
        auto channel = [](int value) {
            const double v = value / 255.0;
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green())
               + 0.0722 * channel(c.blue());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

// The main window against the virtual command station in memory.
class TestKzVelantor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void successfulCheckSendsItsFramesInOrder();
    void checkLoadsThePanelSettings();
    void controllerNotFound();
    void versionMismatch_data();
    void versionMismatch();
    void versionQueryWithoutReplyIsACommunicationError();
    void statusQueryWithoutReply();
    void checkNumberRange_data();
    void checkNumberRange();
    void checkInSimulationMode();

    void sliderSendsSpeed_data();
    void sliderSendsSpeed();
    void dragSendsOnlyWhereTheKnobIsLetGo();
    void sliderKeys_data();
    void sliderKeys();
    void panelStopSendsOneCommand();
    void globalStopSendsOneCommand();
    void stopGoesOutWhileACheckWaits();
    void lightAndFunctionKeys();
    void directionToggle();
    void everyToggleSendsWhatItShows_data();
    void everyToggleSendsWhatItShows();
    void panelsFollowTheLocoState_data();
    void panelsFollowTheLocoState();
    void refusedNumbersSendNothing_data();
    void refusedNumbersSendNothing();
    void speedStepsOnLeavingTheLocoNumber_data();
    void speedStepsOnLeavingTheLocoNumber();
    void locoListWalk();
    void locoListWalkEndsWithoutReply();

    void accessoryPorts_data();
    void accessoryPorts();
    void accessoryValidationChecksEveryPanel();

    void trackPowerSwitch_data();
    void trackPowerSwitch();
    void trackPowerWithoutReplySwitchesNothing();

    void closingAsksAboutTrackPower_data();
    void closingAsksAboutTrackPower();
    void closingInSimulationMode();
    void closingRefusedByInvalidDecoderId();

    void startUp_data();
    void startUp();
    void splashAndAboutBox();
    void optionsAskForANewCheck();
    void helpWithoutManual();
    void helpOpensTheManual_data();
    void helpOpensTheManual();
    void otherWindowsGetTheControllerNumber();
    void enterAndMnemonicsStartTheCheck();
    void keysInTheControlFrame_data();
    void keysInTheControlFrame();
    void everyInputHasAnAccessibleName();
    void toolBarReachedByKeyboard();
    void phoneDrivesALocoThePanelShows();
    void aFloodOfSpeedLinesIsMergedPerLoco();
    void phoneServerOnAPortInUse();
    void throttleDialogSwitchesTheServer();
    void throttleDialogShowsTheWebAddress();
    void panelsNameTheRosterLoco_data();
    void panelsNameTheRosterLoco();
    void rosterDialogFromTheToolBar();

private:
    // A window shown offscreen, with controller number 1 typed in.
    kzVelantor &window();
    // The window after a successful check, with the log cleared.
    kzVelantor &checkedWindow();
    void closeWindow();

    std::unique_ptr<StationRig> m_rig;
    std::unique_ptr<kzVelantor> m_window;
    QList<QDialog *> m_dialogs;
    QStringList m_dialogTypes;
};

void TestKzVelantor::init()
{
    m_rig = std::make_unique<StationRig>(1);
    m_dialogTypes.clear();
    for (int i = 0; i < 4; ++i) {
        sysSaveSetting(locoPanelKey(i), QString(), SettingsSection);
        sysSaveSetting(accessoryPanelKey(i), QString(), SettingsSection);
    }
    sysSaveSetting(PortSettingKey, QString(), SettingsSection);
    sysSaveSetting(QStringLiteral("Enabled"), QStringLiteral("0"), QStringLiteral("Handregler"));
    sysSaveSetting(QStringLiteral("Port"), QString(), QStringLiteral("Handregler"));
    sysSaveSetting(QStringLiteral("Momentary"), QString(), QStringLiteral("Handregler"));
    sysSaveSetting(QStringLiteral("Ordner"), QString(), QStringLiteral("Fahrzeuge"));
}

void TestKzVelantor::cleanup()
{
    m_window.reset();
    m_rig.reset();
}

kzVelantor &TestKzVelantor::window()
{
    if (!m_window) {
        m_window = std::make_unique<kzVelantor>(&m_rig->port);
        m_window->setModalRunner([this](QDialog *dialog) {
            m_dialogTypes.append(QString::fromLatin1(dialog->metaObject()->className()));
            return int(QDialog::Rejected);
        });
        m_window->setDocumentOpener([](const QUrl &) { return true; });
        m_window->setPdfApplicationQuery(
            [] { return std::optional<QString>(QStringLiteral("betrachter.desktop")); });
        m_window->txtControllerNr()->setText(QStringLiteral("1"));
        m_window->show();
    }
    return *m_window;
}

kzVelantor &TestKzVelantor::checkedWindow()
{
    kzVelantor &w = window();
    w.btnCheck()->click();
    [&] { QVERIFY(w.ControllerFrame()->isVisible()); }();
    m_rig->takeRequests();
    m_rig->boxes.clear();
    return w;
}

void TestKzVelantor::closeWindow()
{
    QVERIFY(m_window->close());
}

// --- the controller check --------------------------------------------------

void TestKzVelantor::successfulCheckSendsItsFramesInOrder()
{
    m_rig->station.setFirmware(5, 2, 3);
    m_rig->station.setLayout(BoardLayout::Uno);
    m_rig->station.setTrackOutput(TrackOutput::PowerOn);
    kzVelantor &w = window();
    QVERIFY(!w.ControllerFrame()->isVisible());
    QVERIFY(w.lblHinweis()->isVisible());

    w.btnCheck()->click();

    QCOMPARE(m_rig->takeRequests(), checkFrames());
    QCOMPARE(w.lblStatus()->text(), QStringLiteral("OK (Firmware 5.2.3) "));
    QCOMPARE(textColour(w.lblStatus()), StatusColour::Success);
    QVERIFY(w.ControllerFrame()->isVisible());
    QVERIFY(!w.lblHinweis()->isVisible());
    QVERIFY(w.cmdControllerSettings()->isEnabled());
    QCOMPARE(w.statusPanel(QStringLiteral("pnlBoardLayout"))->text(), QStringLiteral("Uno"));
    QCOMPARE(w.shpCircuitOn()->colour(), StatusColour::Success);
    QCOMPARE(w.shpCircuitOff()->colour(), QColor(Qt::black));
    QCOMPARE(m_rig->boxes.count(), 0);
}

void TestKzVelantor::checkLoadsThePanelSettings()
{
    m_rig->station.setLocos({{300, LocoFlags::Steps126}, {10239, LocoFlags::Steps14}});
    sysSaveSetting(locoPanelKey(0), QStringLiteral("300"), SettingsSection);
    sysSaveSetting(locoPanelKey(1), QStringLiteral("10239"), SettingsSection);
    sysSaveSetting(accessoryPanelKey(3), QStringLiteral("511"), SettingsSection);
    kzVelantor &w = window();

    w.btnCheck()->click();

    const Requests requests = m_rig->takeRequests();
    QCOMPARE(requests.at(2), frame(1, Command::ReadLocoEntry, 0, 44, 1));
    QCOMPARE(requests.at(3), frame(1, Command::ReadLocoEntry, 0, 255, 39));
    QCOMPARE(w.locoPanel(0)->kzSliderNo()->currentText(), QStringLiteral("300"));
    QCOMPARE(w.locoPanel(0)->lblFahrstufen()->text(), QStringLiteral("126 FS"));
    QCOMPARE(w.locoPanel(1)->lblFahrstufen()->text(), QStringLiteral("14 FS"));
    QCOMPARE(w.locoPanel(2)->lblFahrstufen()->text(), QStringLiteral("n.v."));
    QCOMPARE(w.locoPanel(3)->kzSliderNo()->currentText(), QStringLiteral("4"));
    QCOMPARE(w.accessoryPanel(3)->kzAccessory()->text(), QStringLiteral("511"));
    QCOMPARE(w.accessoryPanel(0)->kzAccessory()->text(), QStringLiteral("1"));
}

void TestKzVelantor::controllerNotFound()
{
    kzVelantor &w = checkedWindow();
    w.txtControllerNr()->setText(QStringLiteral("7"));

    w.btnCheck()->click();

    // The station sends a status query for another number back unchanged.
    QCOMPARE(m_rig->takeRequests(), Requests{statusQuery(7)});
    QCOMPARE(w.lblStatus()->text(), QStringLiteral("Controller 7 nicht gefunden"));
    QCOMPARE(textColour(w.lblStatus()), StatusColour::Failure);
    QVERIFY(!w.ControllerFrame()->isVisible());
    QVERIFY(!w.cmdControllerSettings()->isEnabled());
}

void TestKzVelantor::versionMismatch_data()
{
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("build");
    QTest::addColumn<QString>("lastLine");
    QTest::newRow("older firmware") << 1 << 20
                                    << "Bitte aktualisieren Sie die Firmware des Controllers.";
    QTest::newRow("newer firmware") << 3 << 0 << "Bitte aktualisieren Sie die Velantor-Software";
}

void TestKzVelantor::versionMismatch()
{
    QFETCH(int, minor);
    QFETCH(int, build);
    QFETCH(QString, lastLine);
    kzVelantor &w = checkedWindow();
    m_rig->station.setFirmware(5, quint8(minor), quint8(build));

    w.btnCheck()->click();

    QCOMPARE(m_rig->takeRequests().size(), 2);
    QCOMPARE(m_rig->boxes.count(), 1);
    const MessageBoxRequest &box = m_rig->boxes.last();
    QCOMPARE(box.caption, QStringLiteral("TALVIRO Velantor Versionskontrolle"));
    QCOMPARE(box.icon, BoxIcon::Warning);
    QVERIFY(box.text.startsWith(QStringLiteral("Version Velantor: \t5.2.16\r\nVersion Firmware: \t\t5.")
                                + QString::number(minor) + u'.' + QString::number(build)
                                + QStringLiteral("\r\n\r\n") + lastLine + QStringLiteral("\r\n")));
    QCOMPARE(w.lblStatus()->text(), versionProblemText());
    QCOMPARE(textColour(w.lblStatus()), StatusColour::Failure);
    // The frame keeps what it had; the settings button stays off.
    QVERIFY(w.ControllerFrame()->isVisible());
    QVERIFY(!w.cmdControllerSettings()->isEnabled());
    QCOMPARE(w.statusPanel(QStringLiteral("pnlBoardLayout"))->text(), QStringLiteral("unbekannt"));
}

void TestKzVelantor::versionQueryWithoutReplyIsACommunicationError()
{
    kzVelantor &w = window();
    // The status query is answered; from the version query on nothing is.
    m_rig->station.setLogObserver([this](const LogEntry &entry) {
        if (entry.direction == LogEntry::Sent && m_rig->station.faults().isEmpty())
            m_rig->station.addFault(Fault::noReply(Fault::Always));
    });

    w.btnCheck()->click();

    const Requests requests = m_rig->takeRequests();
    QCOMPARE(requests.size(), 3); // status, version twice
    QCOMPARE(m_rig->boxes.texts(), QStringList{QStringLiteral("Controller 1 antwortet nicht.")});
    QCOMPARE(w.lblStatus()->text(), StatusText::CommunicationError);
    QCOMPARE(textColour(w.lblStatus()), StatusColour::Failure);
    QVERIFY(!w.ControllerFrame()->isVisible());
    QVERIFY(!w.cmdControllerSettings()->isEnabled());
}

void TestKzVelantor::statusQueryWithoutReply()
{
    kzVelantor &w = checkedWindow();
    m_rig->station.addFault(Fault::noReply(Fault::Always));

    w.btnCheck()->click();

    QCOMPARE(m_rig->takeRequests(), (Requests{statusQuery(), statusQuery()}));
    QCOMPARE(m_rig->boxes.count(), 1);
    QCOMPARE(m_rig->boxes.last().buttons, BoxButtons::RetryCancel);
    QCOMPARE(w.lblStatus()->text(), StatusText::CommunicationError);
    QVERIFY(w.ControllerFrame()->isVisible()); // unchanged
    QVERIFY(!w.cmdControllerSettings()->isEnabled());
}

void TestKzVelantor::checkNumberRange_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("controller"); // -1: refused without an exchange
    // The box takes three characters; longer texts are the plain logic's.
    QTest::newRow("251") << "251" << -1;
    QTest::newRow("-1") << "-1" << -1;
    QTest::newRow("250") << "250" << 250;
    QTest::newRow("letters check 0") << "ab" << 0;
    QTest::newRow(".4 checks 0") << ".4" << 0;
    QTest::newRow("2.5 checks 2") << "2.5" << 2;
}

void TestKzVelantor::checkNumberRange()
{
    QFETCH(QString, text);
    QFETCH(int, controller);
    kzVelantor &w = checkedWindow();
    if (controller >= 0)
        m_rig->station.setControllerNumber(quint8(controller));
    w.statusPanel(QStringLiteral("pnlBoardLayout"))->setText(QStringLiteral("Mega"));
    const QString statusBefore = w.lblStatus()->text();
    w.txtControllerNr()->setText(text);

    w.btnCheck()->click();

    const Requests requests = m_rig->takeRequests();
    QCOMPARE(w.statusPanel(QStringLiteral("pnlBoardLayout"))->text(),
             controller < 0 ? QStringLiteral("unbekannt") : QStringLiteral("Mega"));
    if (controller < 0) {
        QVERIFY(requests.isEmpty());
        QVERIFY(!w.ControllerFrame()->isVisible());
        QCOMPARE(w.lblStatus()->text(), statusBefore);
        QVERIFY(!w.cmdControllerSettings()->isEnabled());
    } else {
        QCOMPARE(requests.first(), statusQuery(quint8(controller)));
        QCOMPARE(requests.size(), 8);
        QVERIFY(w.ControllerFrame()->isVisible());
    }
    QCOMPARE(m_rig->boxes.count(), 0);
}

void TestKzVelantor::checkInSimulationMode()
{
    setCurrentPortName(QStringLiteral("NUL"));
    kzVelantor &w = window();
    const qint64 before = m_rig->clock.nowMs();

    w.btnCheck()->click();

    QVERIFY(m_rig->clock.nowMs() - before >= 1000);
    QVERIFY(m_rig->takeRequests().isEmpty());
    QCOMPARE(w.lblStatus()->text(), StatusText::Simulation);
    QCOMPARE(textColour(w.lblStatus()), StatusColour::Success);
    QVERIFY(w.ControllerFrame()->isVisible());
    QVERIFY(!w.cmdControllerSettings()->isEnabled());
    QCOMPARE(w.statusPanel(QStringLiteral("pnlBoardLayout"))->text(), QStringLiteral("unbekannt"));
    QCOMPARE(w.shpCircuitOn()->colour(), QColor(Qt::black));
    QCOMPARE(w.shpCircuitOff()->colour(), QColor(Qt::black));

    // Nothing is sent, the controls still react.
    w.locoPanel(0)->kzSlider()->setValue(127);
    QCOMPARE(w.locoPanel(0)->lblSliderValue()->text(), QStringLiteral("49 %"));
    w.locoPanel(0)->kzSliderNo()->showPopup();
    QCOMPARE(w.locoPanel(0)->kzSliderNo()->count(), 0);
    w.locoPanel(0)->kzSliderNo()->hidePopup();
    w.ShowSpeedSteps(1);
    QCOMPARE(w.locoPanel(1)->lblFahrstufen()->text(), QStringLiteral("Fehler"));
    w.btnLoadCircuit()->click();
    QCOMPARE(w.shpCircuitOff()->colour(), QColor(Qt::black));
    QVERIFY(m_rig->takeRequests().isEmpty());
    QCOMPARE(m_rig->boxes.count(), 0);
}

// --- loco panels ------------------------------------------------------------

void TestKzVelantor::sliderSendsSpeed_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("speed");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("changeable");
    // The value is the speed: 0 at the bottom, 255 at the top.
    QTest::newRow("127") << 127 << 127 << "49 %" << false;
    QTest::newRow("1") << 1 << 1 << "0 %" << false;
    QTest::newRow("255") << 255 << 255 << "100 %" << false;
}

void TestKzVelantor::sliderSendsSpeed()
{
    QFETCH(int, value);
    QFETCH(int, speed);
    QFETCH(QString, label);
    QFETCH(bool, changeable);
    kzVelantor &w = checkedWindow();
    LocoPanel *panel = w.locoPanel(1);
    panel->kzSliderNo()->setEditText(QStringLiteral("300"));

    panel->kzSlider()->setValue(value);

    QCOMPARE(m_rig->takeRequests(), Requests{frame(1, Command::SetSpeed, quint8(speed), 44, 1)});
    QCOMPARE(panel->lblSliderValue()->text(), label);
    QCOMPARE(panel->kzSlider()->toolTip(), label);
    QCOMPARE(panel->kzDirection()->isEnabled(), changeable);
    QCOMPARE(panel->kzSliderNo()->isEnabled(), changeable);
    QCOMPARE(m_rig->station.state().drives.value(300).speed, quint8(speed));
    // A screen reader announces the speed.
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(panel->kzSlider());
    QVERIFY(accessible && accessible->valueInterface());
    QCOMPARE(accessible->valueInterface()->currentValue().toInt(), speed);

    // Back at the stop position the loco and direction can change again.
    panel->kzSlider()->triggerAction(QAbstractSlider::SliderToMinimum);
    QCOMPARE(m_rig->takeRequests(), Requests{frame(1, Command::SetSpeed, 0, 44, 1)});
    QVERIFY(panel->kzDirection()->isEnabled());
    QVERIFY(panel->kzSliderNo()->isEnabled());
}

void TestKzVelantor::dragSendsOnlyWhereTheKnobIsLetGo()
{
    kzVelantor &w = checkedWindow();
    QSlider *slider = w.locoPanel(0)->kzSlider();
    slider->setSliderDown(true);
    for (int position : {5, 55, 105, 155})
        slider->setSliderPosition(position);
    QVERIFY(m_rig->takeRequests().isEmpty());
    slider->setSliderDown(false);
    QCOMPARE(m_rig->takeRequests(), Requests{frame(1, Command::SetSpeed, 155, 1, 0)});

    // A keyboard step is sent at once.
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Up);
    QCOMPARE(m_rig->takeRequests(), Requests{frame(1, Command::SetSpeed, 156, 1, 0)});
}

void TestKzVelantor::sliderKeys_data()
{
    QTest::addColumn<int>("key"); // 0: the wheel turned up one notch
    QTest::addColumn<int>("speed"); // sent and shown; -1: nothing is sent
    QTest::newRow("Home stops") << int(Qt::Key_Home) << 0;
    QTest::newRow("End does nothing") << int(Qt::Key_End) << -1;
    QTest::newRow("Up") << int(Qt::Key_Up) << 101;
    QTest::newRow("Down") << int(Qt::Key_Down) << 99;
    QTest::newRow("Page up") << int(Qt::Key_PageUp) << 116;
    QTest::newRow("Page down") << int(Qt::Key_PageDown) << 84;
    QTest::newRow("wheel up") << 0 << 103;
}

void TestKzVelantor::sliderKeys()
{
    QFETCH(int, key);
    QFETCH(int, speed);
    kzVelantor &w = checkedWindow();
    QSlider *slider = w.locoPanel(0)->kzSlider();
    slider->setValue(100);
    m_rig->takeRequests();

    if (key) {
        QTest::keyClick(slider, Qt::Key(key));
    } else {
        const QPointF centre = QRectF(slider->rect()).center();
        QWheelEvent wheel(centre, slider->mapToGlobal(centre), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(slider, &wheel);
    }

    if (speed < 0) {
        QVERIFY(m_rig->takeRequests().isEmpty());
        QCOMPARE(slider->value(), 100);
    } else {
        QCOMPARE(m_rig->takeRequests(),
                 Requests{frame(1, Command::SetSpeed, quint8(speed), 1, 0)});
        QCOMPARE(slider->value(), speed);
        QCOMPARE(w.locoPanel(0)->lblSliderValue()->text(), percentText(speed));
    }
}

void TestKzVelantor::panelStopSendsOneCommand()
{
    kzVelantor &w = checkedWindow();
    LocoPanel *panel = w.locoPanel(2);
    panel->kzSlider()->setValue(100);
    m_rig->takeRequests();

    panel->btnStop()->click();

    QCOMPARE(m_rig->takeRequests(), Requests{frame(1, Command::StopLoco, 0, 3, 0)});
    QCOMPARE(panel->kzSlider()->value(), SliderStop);
    QCOMPARE(panel->lblSliderValue()->text(), QStringLiteral("0 %"));
    QVERIFY(panel->kzDirection()->isEnabled());
    QVERIFY(!w.suppressSpeedCommand());
}

void TestKzVelantor::globalStopSendsOneCommand()
{
    kzVelantor &w = checkedWindow();
    const int values[] = {255, 155, 55, 0};
    for (int i = 0; i < 4; ++i)
        w.locoPanel(i)->kzSlider()->setValue(values[i]);
    m_rig->takeRequests();

    w.btnGlobalStop()->click();

    QCOMPARE(m_rig->takeRequests(), Requests{frame(1, Command::StopLoco, 0, 255, 255)});
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(w.locoPanel(i)->kzSlider()->value(), SliderStop);
        QCOMPARE(w.locoPanel(i)->lblSliderValue()->text(), QStringLiteral("0 %"));
        QVERIFY(w.locoPanel(i)->kzSliderNo()->isEnabled());
    }
    QVERIFY(!w.suppressSpeedCommand());
}

// The program's line on its worker thread: while the check waits for a
// controller that does not answer, the window takes input. A second check
// is refused, Escape's stop of all goes out between the check's two
// attempts, and the check then goes on as if nothing had happened.
void TestKzVelantor::stopGoesOutWhileACheckWaits()
{
    // Two seconds of the exchange's time-out pass in 500 ms.
    ScaledClock scaled(4);
    setProgramClock(&scaled);
    ControllerLine line(ControllerLine::Mode::Threaded);
    setControllerLine(&line);
    {
        kzVelantor &w = checkedWindow();
        m_rig->station.addFault(Fault::noReply(1));
        bool answeredDuringTheCheck = false;
        QTimer::singleShot(10, &w, [&] {
            answeredDuringTheCheck = WindowSequence::isRunning();
            w.btnCheck()->click();
            QTest::keyClick(&w, Qt::Key_Escape);
        });

        w.btnCheck()->click();

        QVERIFY(answeredDuringTheCheck);
        // The first attempt's status query, the stop, then the check.
        QCOMPARE(m_rig->takeRequests(),
                 (Requests{statusQuery(), frame(1, Command::StopLoco, 0, 255, 255)}
                  + checkFrames()));
        QCOMPARE(w.lblStatus()->text(), QStringLiteral("OK (Firmware 5.2.0) "));
        QCOMPARE(m_rig->boxes.count(), 0);
        QVERIFY(!WindowSequence::isRunning());
    }
    m_window.reset();
    setControllerLine(nullptr);
    setProgramClock(&m_rig->clock);
}

void TestKzVelantor::lightAndFunctionKeys()
{
    kzVelantor &w = checkedWindow();
    LocoPanel *panel = w.locoPanel(0);
    const QColor face = buttonColour(panel->chkLight());

    QToolButton *f12 = panel->tlbFunctionKeys()->button(QStringLiteral("F12"));
    const QColor keyFace = buttonColour(f12);
    f12->click();
    // On shows a colour of its own, readable against the key's text.
    QCOMPARE(buttonColour(f12), FunctionOnColour);
    QVERIFY(buttonColour(f12) != QColor(255, 255, 0));
    QVERIFY2(contrastRatio(f12->palette().color(QPalette::ButtonText), buttonColour(f12)) >= 4.5,
             "WCAG AA");
    f12->click();
    QCOMPARE(buttonColour(f12), keyFace);
    QCOMPARE(m_rig->takeRequests(), (Requests{frame(1, Command::FunctionOn, 12, 1, 0),
                                              frame(1, Command::FunctionOff, 12, 1, 0)}));

    panel->chkLight()->click();
    QCOMPARE(m_rig->takeRequests(), Requests{frame(1, Command::FunctionOn, 0, 1, 0)});
    QCOMPARE(buttonColour(panel->chkLight()), QColor(255, 255, 0));
    QCOMPARE(m_rig->station.state().drives.value(1).functions, quint16(1));
    panel->chkLight()->click();
    QCOMPARE(m_rig->takeRequests(), Requests{frame(1, Command::FunctionOff, 0, 1, 0)});
    QCOMPARE(buttonColour(panel->chkLight()), face);
}

void TestKzVelantor::directionToggle()
{
    kzVelantor &w = checkedWindow();
    QToolButton *direction = w.locoPanel(3)->kzDirection();
    QVERIFY(direction->isChecked());
    const QImage up = direction->icon().pixmap(24, 24).toImage();

    direction->click();
    QCOMPARE(m_rig->takeRequests(), Requests{frame(1, Command::SetDirection, 0, 4, 0)});
    QVERIFY(direction->icon().pixmap(24, 24).toImage() != up);
    direction->click();
    QCOMPARE(m_rig->takeRequests(), Requests{frame(1, Command::SetDirection, 1, 4, 0)});
    QCOMPARE(direction->icon().pixmap(24, 24).toImage(), up);
    // The disabled look shows the same arrow.
    QCOMPARE(direction->icon().pixmap(QSize(24, 24), QIcon::Disabled).toImage(), up);
}

void TestKzVelantor::everyToggleSendsWhatItShows_data()
{
    QTest::addColumn<QString>("control"); // a function key, "Licht" or "Richtung"
    QTest::addColumn<bool>("accessible");
    QTest::addColumn<CommandBuffer>("first");
    QTest::addColumn<CommandBuffer>("second");
    for (int number = 1; number <= 12; ++number) {
        const QString key = QStringLiteral("F%1").arg(number);
        QTest::addRow("%s toggled", qPrintable(key))
            << key << true << frame(1, Command::FunctionOn, quint8(number), 2, 0)
            << frame(1, Command::FunctionOff, quint8(number), 2, 0);
    }
    QTest::newRow("F7 clicked") << "F7" << false << frame(1, Command::FunctionOn, 7, 2, 0)
                                << frame(1, Command::FunctionOff, 7, 2, 0);
    QTest::newRow("Licht toggled") << "Licht" << true << frame(1, Command::FunctionOn, 0, 2, 0)
                                   << frame(1, Command::FunctionOff, 0, 2, 0);
    QTest::newRow("Licht clicked") << "Licht" << false << frame(1, Command::FunctionOn, 0, 2, 0)
                                   << frame(1, Command::FunctionOff, 0, 2, 0);
    QTest::newRow("Richtung toggled") << "Richtung" << true
                                      << frame(1, Command::SetDirection, 0, 2, 0)
                                      << frame(1, Command::SetDirection, 1, 2, 0);
    QTest::newRow("Richtung clicked") << "Richtung" << false
                                      << frame(1, Command::SetDirection, 0, 2, 0)
                                      << frame(1, Command::SetDirection, 1, 2, 0);
}

void TestKzVelantor::everyToggleSendsWhatItShows()
{
    QFETCH(QString, control);
    QFETCH(bool, accessible);
    QFETCH(CommandBuffer, first);
    QFETCH(CommandBuffer, second);
    kzVelantor &w = checkedWindow();
    LocoPanel *panel = w.locoPanel(1);
    QAbstractButton *button = control == QLatin1String("Licht") ? panel->chkLight()
                              : control == QLatin1String("Richtung")
                                  ? static_cast<QAbstractButton *>(panel->kzDirection())
                                  : panel->tlbFunctionKeys()->button(control);
    const bool pressedAtStart = button->isChecked();

    press(button, accessible);
    QCOMPARE(button->isChecked(), !pressedAtStart);
    QCOMPARE(m_rig->takeRequests(), Requests{first});
    press(button, accessible);
    QCOMPARE(button->isChecked(), pressedAtStart);
    QCOMPARE(m_rig->takeRequests(), Requests{second});
}

// A loco driven by another source: the panel that shows it follows and
// sends nothing itself.
void TestKzVelantor::panelsFollowTheLocoState_data()
{
    QTest::addColumn<DriveIntent>("intent");
    QTest::addColumn<int>("slider");
    QTest::addColumn<bool>("forward");
    QTest::addColumn<bool>("light");
    QTest::addColumn<bool>("f5");
    QTest::newRow("speed") << DriveIntent::speed(2, 100) << 100 << true << false << false;
    QTest::newRow("direction") << DriveIntent::direction(2, false) << SliderStop << false << false
                               << false;
    QTest::newRow("light") << DriveIntent::function(2, 0, true) << SliderStop << true << true
                           << false;
    QTest::newRow("F5") << DriveIntent::function(2, 5, true) << SliderStop << true << false << true;
    QTest::newRow("a loco no panel shows")
        << DriveIntent::speed(7, 100) << SliderStop << true << false << false;
}

void TestKzVelantor::panelsFollowTheLocoState()
{
    QFETCH(DriveIntent, intent);
    QFETCH(int, slider);
    QFETCH(bool, forward);
    QFETCH(bool, light);
    QFETCH(bool, f5);
    kzVelantor &w = checkedWindow();
    LocoPanel *panel = w.locoPanel(1);
    QCOMPARE(panel->kzSliderNo()->currentText(), QStringLiteral("2"));

    QVERIFY(w.driver().submit(intent.from(DriveSource::Remote)).done());

    QCOMPARE(m_rig->takeRequests().size(), 1);
    QCOMPARE(panel->kzSlider()->value(), slider);
    QCOMPARE(panel->kzDirection()->isChecked(), forward);
    QCOMPARE(panel->chkLight()->isChecked(), light);
    QCOMPARE(panel->tlbFunctionKeys()->button(QStringLiteral("F5"))->isChecked(), f5);
    QVERIFY(!w.suppressSpeedCommand());
    QCOMPARE(m_rig->boxes.count(), 0);
}

void TestKzVelantor::refusedNumbersSendNothing_data()
{
    QTest::addColumn<QString>("controller");
    QTest::addColumn<QString>("loco");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("accessible"); // toggled through the accessibility interface
    QTest::newRow("loco letters") << "1" << "abc" << locoNumberRefusal(QStringLiteral("abc")) << false;
    QTest::newRow("loco above the list") << "1" << "10240" << locoNumberRefusal(QStringLiteral("10240")) << false;
    QTest::newRow("loco empty") << "1" << "" << locoNumberRefusal(QString()) << false;
    QTest::newRow("controller 300") << "300" << "3" << controllerNumberRefusal(QStringLiteral("300")) << false;
    QTest::newRow("loco letters, accessibility")
        << "1" << "abc" << locoNumberRefusal(QStringLiteral("abc")) << true;
    QTest::newRow("controller 300, accessibility")
        << "300" << "3" << controllerNumberRefusal(QStringLiteral("300")) << true;
}

void TestKzVelantor::refusedNumbersSendNothing()
{
    QFETCH(QString, controller);
    QFETCH(QString, loco);
    QFETCH(QString, message);
    QFETCH(bool, accessible);
    kzVelantor &w = checkedWindow();
    LocoPanel *panel = w.locoPanel(0);
    w.txtControllerNr()->setText(controller);
    panel->kzSliderNo()->setEditText(loco);
    const QColor face = buttonColour(panel->chkLight());

    // Nothing sent, so nothing shown: each control is back in its state.
    press(panel->chkLight(), accessible);
    QVERIFY(!panel->chkLight()->isChecked());
    QCOMPARE(buttonColour(panel->chkLight()), face);
    press(panel->tlbFunctionKeys()->button(QStringLiteral("F3")), accessible);
    QVERIFY(!panel->tlbFunctionKeys()->button(QStringLiteral("F3"))->isChecked());
    press(panel->kzDirection(), accessible);
    QVERIFY(panel->kzDirection()->isChecked());
    QCOMPARE(panel->kzDirection()->toolTip(), QStringLiteral("Fahrtrichtung 1"));
    panel->kzSlider()->setValue(100);
    QCOMPARE(panel->kzSlider()->value(), SliderStop);
    QCOMPARE(panel->lblSliderValue()->text(), QStringLiteral("0 %"));

    QVERIFY(m_rig->takeRequests().isEmpty());
    QCOMPARE(m_rig->boxes.count(), 4);
    for (const MessageBoxRequest &box : m_rig->boxes.boxes()) {
        QCOMPARE(box.text, message);
        QCOMPARE(box.icon, BoxIcon::Warning);
    }
}

void TestKzVelantor::speedStepsOnLeavingTheLocoNumber_data()
{
    QTest::addColumn<QString>("leaveBy");
    QTest::addColumn<Requests>("requests"); // after the speed-step query
    QTest::newRow("Tab to STOP") << "Tab to STOP" << Requests{};
    QTest::newRow("click on ON")
        << "click on ON" << Requests{frame(1, Command::AccessoryOn, 1, 1, 0)};
    QTest::newRow("click on the direction")
        << "click on the direction" << Requests{frame(1, Command::SetDirection, 0, 5, 0)};
}

void TestKzVelantor::speedStepsOnLeavingTheLocoNumber()
{
    QFETCH(QString, leaveBy);
    QFETCH(Requests, requests);
    m_rig->station.setLocos({{5, LocoFlags::Steps28}});
    kzVelantor &w = checkedWindow();
    LocoPanel *panel = w.locoPanel(0);
    QApplication::setActiveWindow(&w);
    panel->kzSliderNo()->setFocus();
    panel->kzSliderNo()->setEditText(QStringLiteral("5"));

    if (leaveBy == QLatin1String("Tab to STOP"))
        panel->btnStop()->setFocus(Qt::TabFocusReason);
    else if (leaveBy == QLatin1String("click on ON"))
        QTest::mouseClick(w.accessoryPanel(0)->onButton(1), Qt::LeftButton);
    else
        QTest::mouseClick(panel->kzDirection(), Qt::LeftButton);

    requests.prepend(frame(1, Command::ReadLocoEntry, 0, 5, 0));
    QCOMPARE(m_rig->takeRequests(), requests);
    QCOMPARE(panel->lblFahrstufen()->text(), QStringLiteral("28 FS"));
}

void TestKzVelantor::locoListWalk()
{
    m_rig->station.setLocos({{3, 1}, {300, 2}, {10239, 3}});
    kzVelantor &w = checkedWindow();
    LocoNumberBox *box = w.locoPanel(1)->kzSliderNo();
    box->setEditText(QStringLiteral("42"));

    w.FillLocoNumberList(1);

    const Requests walk{frame(1, Command::ReadLocoEntry, LocoWalk::First, 0, 0),
                        frame(1, Command::ReadLocoEntry, LocoWalk::Next, 0, 0),
                        frame(1, Command::ReadLocoEntry, LocoWalk::Next, 0, 0),
                        frame(1, Command::ReadLocoEntry, LocoWalk::Next, 0, 0)};
    QCOMPARE(m_rig->takeRequests(), walk);
    QCOMPARE(box->count(), 3);
    QCOMPARE(box->itemText(0), QStringLiteral("3"));
    QCOMPARE(box->itemText(1), QStringLiteral("300"));
    QCOMPARE(box->itemText(2), QStringLiteral("10239"));
    QCOMPARE(box->currentText(), QStringLiteral("42"));

    // Opening again lists afresh instead of adding to the old list.
    w.FillLocoNumberList(1);
    QCOMPARE(box->count(), 3);
}

void TestKzVelantor::locoListWalkEndsWithoutReply()
{
    m_rig->station.setLocos({{3, 1}, {300, 2}, {10239, 3}});
    kzVelantor &w = checkedWindow();
    // The first entry is answered, nothing after it.
    m_rig->station.setLogObserver([this](const LogEntry &entry) {
        if (entry.direction == LogEntry::Sent && m_rig->station.faults().isEmpty())
            m_rig->station.addFault(Fault::noReply(Fault::Always));
    });

    w.FillLocoNumberList(0);

    QCOMPARE(m_rig->takeRequests().size(), 3); // first entry, next entry twice
    QCOMPARE(w.locoPanel(0)->kzSliderNo()->count(), 1);
    QCOMPARE(w.locoPanel(0)->kzSliderNo()->itemText(0), QStringLiteral("3"));
    QCOMPARE(m_rig->boxes.count(), 1);
}

// --- accessories ----------------------------------------------------------

void TestKzVelantor::accessoryPorts_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("on");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::newRow("300 Port 4 ON") << "300" << 3 << true << 25 << 44 << 1;
    QTest::newRow("511 Port 1 OFF") << "511" << 0 << false << 26 << 255 << 1;
    QTest::newRow("1 Port 3 OFF") << "1" << 2 << false << 26 << 1 << 0;
    QTest::newRow("comma 299,5 is sent as 300") << "299,5" << 3 << true << 25 << 44 << 1;
}

void TestKzVelantor::accessoryPorts()
{
    QFETCH(QString, id);
    QFETCH(int, port);
    QFETCH(bool, on);
    QFETCH(int, command);
    QFETCH(int, low);
    QFETCH(int, high);
    kzVelantor &w = checkedWindow();
    AccessoryPanel *panel = w.accessoryPanel(2);
    panel->kzAccessory()->setText(id);

    (on ? panel->onButton(port) : panel->offButton(port))->click();

    QCOMPARE(m_rig->takeRequests(),
             Requests{frame(1, quint8(command), quint8(port), quint8(low), quint8(high))});
    QCOMPARE(m_rig->boxes.count(), 0);
}

void TestKzVelantor::accessoryValidationChecksEveryPanel()
{
    kzVelantor &w = checkedWindow();
    QApplication::setActiveWindow(&w);
    w.accessoryPanel(0)->kzAccessory()->setText(QStringLiteral("1"));
    w.accessoryPanel(3)->kzAccessory()->setText(QStringLiteral("0"));

    w.accessoryPanel(0)->onButton(0)->click();

    QVERIFY(m_rig->takeRequests().isEmpty());
    QCOMPARE(m_rig->boxes.count(), 1);
    QVERIFY(m_rig->boxes.last().text.startsWith(QLatin1String("Die Decoder-ID ")));
    QCOMPARE(QApplication::focusWidget(), w.accessoryPanel(3)->kzAccessory());
}

// --- track power ------------------------------------------------------------

void TestKzVelantor::trackPowerSwitch_data()
{
    QTest::addColumn<bool>("powerOn");
    QTest::newRow("power on: switched off") << true;
    QTest::newRow("power off: switched on") << false;
}

void TestKzVelantor::trackPowerSwitch()
{
    QFETCH(bool, powerOn);
    m_rig->station.setTrackOutput(powerOn ? TrackOutput::PowerOn : TrackOutput::Off);
    kzVelantor &w = checkedWindow();

    w.btnLoadCircuit()->click();

    const CommandBuffer switching = powerOn
        ? frame(1, Command::SetParameter, 0, Parameter::TrackOutput, TrackMode::Off)
        : frame(1, Command::SetParameter, 1, Parameter::TrackOutput, TrackMode::PowerOn);
    QCOMPARE(m_rig->takeRequests(), (Requests{statusQuery(), switching, statusQuery()}));
    QCOMPARE(w.shpCircuitOn()->colour(), powerOn ? QColor(Qt::black) : StatusColour::Success);
    QCOMPARE(w.shpCircuitOff()->colour(), powerOn ? StatusColour::Failure : QColor(Qt::black));
}

void TestKzVelantor::trackPowerWithoutReplySwitchesNothing()
{
    m_rig->station.setTrackOutput(TrackOutput::PowerOn);
    kzVelantor &w = checkedWindow();
    QCOMPARE(w.shpCircuitOn()->colour(), StatusColour::Success);
    m_rig->station.addFault(Fault::noReply(Fault::Always));

    w.btnLoadCircuit()->click();

    QCOMPARE(m_rig->takeRequests(), (Requests{statusQuery(), statusQuery()}));
    QCOMPARE(m_rig->station.state().track, TrackOutput::PowerOn);
    QCOMPARE(w.shpCircuitOn()->colour(), QColor(Qt::black));
    QCOMPARE(w.shpCircuitOff()->colour(), QColor(Qt::black));
    QVERIFY(!w.GetLoadCircuitState());
}

// --- closing ------------------------------------------------------------------

void TestKzVelantor::closingAsksAboutTrackPower_data()
{
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<bool>("byKey"); // Ctrl+Q instead of the close
    QTest::newRow("Yes switches off") << true << false;
    QTest::newRow("No leaves it on") << false << false;
    QTest::newRow("Ctrl+Q closes the same way") << true << true;
}

void TestKzVelantor::closingAsksAboutTrackPower()
{
    QFETCH(bool, answerYes);
    QFETCH(bool, byKey);
    m_rig->station.setTrackOutput(TrackOutput::PowerOn);
    kzVelantor &w = checkedWindow();
    w.locoPanel(2)->kzSliderNo()->setEditText(QStringLiteral("300"));
    w.accessoryPanel(1)->kzAccessory()->setText(QStringLiteral("77"));
    m_rig->boxes.script({answerYes ? BoxAnswer::Yes : BoxAnswer::No});

    if (byKey) {
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
    } else {
        closeWindow();
    }

    QCOMPARE(m_rig->boxes.count(), 1);
    const MessageBoxRequest &box = m_rig->boxes.last();
    QCOMPARE(box.icon, BoxIcon::Question);
    QCOMPARE(box.buttons, BoxButtons::YesNo);
    QCOMPARE(box.defaultAnswer, BoxAnswer::Yes);
    QCOMPARE(box.caption, Program::Title);
    QCOMPARE(box.text, QStringLiteral("Laststromkreis ist noch aufgeregelt.\r\n\r\nAbregeln ?"));
    QCOMPARE(m_rig->station.state().track, answerYes ? TrackOutput::Off : TrackOutput::PowerOn);
    QCOMPARE(m_rig->takeRequests().size(), answerYes ? 4 : 1);
    QVERIFY(!w.isVisible());

    const QStringList loco{"1", "2", "300", "4"};
    const QStringList accessory{"1", "77", "3", "4"};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(sysGetSetting(QStringLiteral("Slider0") + QString::number(i), QString(),
                               QStringLiteral("Velantor")),
                 loco.at(i));
        QCOMPARE(sysGetSetting(QStringLiteral("AccessoryAdress0") + QString::number(i),
                               QString(), QStringLiteral("Velantor")),
                 accessory.at(i));
    }
}

void TestKzVelantor::closingInSimulationMode()
{
    setCurrentPortName(QStringLiteral("NUL"));
    m_rig->station.setTrackOutput(TrackOutput::PowerOn);
    kzVelantor &w = window();

    closeWindow();

    QCOMPARE(m_rig->boxes.count(), 0);
    QVERIFY(m_rig->takeRequests().isEmpty());
    QVERIFY(!w.isVisible());
    // Before any check the start values are saved.
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(sysGetSetting(locoPanelKey(i), QString(), SettingsSection), QString::number(i + 1));
        QCOMPARE(sysGetSetting(accessoryPanelKey(i), QString(), SettingsSection),
                 QString::number(i + 1));
    }
}

void TestKzVelantor::closingRefusedByInvalidDecoderId()
{
    kzVelantor &w = checkedWindow();
    QApplication::setActiveWindow(&w);
    w.accessoryPanel(2)->kzAccessory()->setText(QStringLiteral("600"));
    sysSaveSetting(accessoryPanelKey(2), QStringLiteral("9"), SettingsSection);

    QVERIFY(!w.close());

    QVERIFY(w.isVisible());
    QVERIFY(m_rig->takeRequests().isEmpty());
    QCOMPARE(m_rig->boxes.count(), 1);
    QVERIFY(m_rig->boxes.last().text.startsWith(QLatin1String("Die Decoder-ID ")));
    QCOMPARE(QApplication::focusWidget(), w.accessoryPanel(2)->kzAccessory());
    QCOMPARE(sysGetSetting(accessoryPanelKey(2), QString(), SettingsSection), QStringLiteral("9"));
}

// --- start-up and the other windows ---------------------------------------

void TestKzVelantor::startUp_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("panel");
    QTest::addColumn<bool>("opened");
    QTest::newRow("first start") << "" << "Simulation" << false;
    QTest::newRow("nul") << "nul" << "Simulation" << false;
    QTest::newRow("COM3") << "COM3" << "COM3" << true;
}

void TestKzVelantor::startUp()
{
    QFETCH(QString, setting);
    QFETCH(QString, panel);
    QFETCH(bool, opened);
    sysSaveSetting(PortSettingKey, setting, SettingsSection);
    m_rig->port.close();
    const int opens = m_rig->port.openCount();
    kzVelantor w(&m_rig->port);

    w.startUp(false);
    w.show();

    QCOMPARE(w.statusPanel(QStringLiteral("pnlInfo"))->text(), QStringLiteral("Velantor V5.2 (build 16)"));
    QCOMPARE(w.statusPanel(QStringLiteral("pnlComPort"))->text(), panel);
    QCOMPARE(w.statusPanel(QStringLiteral("pnlBoardLayout"))->text(), QStringLiteral("unbekannt"));
    QCOMPARE(m_rig->port.openCount() - opens, opened ? 1 : 0);
    QCOMPARE(m_rig->port.isOpen(), opened);
    if (opened)
        QCOMPARE(m_rig->port.devicePath(), QStringLiteral("/dev/ttyACM2"));
    QVERIFY(!w.ControllerFrame()->isVisible());
    QVERIFY(!w.cmdControllerSettings()->isEnabled());
    QCOMPARE(w.lblStatus()->text(), QStringLiteral("---"));
    QCOMPARE(w.txtControllerNr()->text(), QStringLiteral("0"));
    QCOMPARE(m_rig->boxes.count(), 0);
}

void TestKzVelantor::splashAndAboutBox()
{
    kzVelantor w(&m_rig->port);
    QList<int> intervals;
    bool builtBeforeTheSplash = false;
    w.setModalRunner([&](QDialog *dialog) {
        auto *info = qobject_cast<kzInfo *>(dialog);
        intervals.append(info ? info->timerInterval() : -1);
        // The main window is built and its status bar filled before the
        // splash shows; the window itself appears only afterwards.
        if (intervals.size() == 1)
            builtBeforeTheSplash = w.statusPanel(QStringLiteral("pnlInfo"))->text() == programInfoText()
                                   && w.locoPanel(3) && w.accessoryPanel(3) && !w.isVisible();
        return 0;
    });
    w.startUp(true);
    w.toolBarAction(QStringLiteral("btnInfo"))->trigger();
    QCOMPARE(intervals, (QList<int>{2000, 0}));
    QVERIFY(builtBeforeTheSplash);
}

void TestKzVelantor::optionsAskForANewCheck()
{
    kzVelantor &w = checkedWindow();

    w.toolBarAction(QStringLiteral("btnOptions"))->trigger();

    QCOMPARE(m_dialogTypes, QStringList{QStringLiteral("kzOptions")});
    QVERIFY(!w.ControllerFrame()->isVisible());
    QVERIFY(w.lblHinweis()->isVisible());
    QVERIFY(!w.cmdControllerSettings()->isEnabled());
    QCOMPARE(w.lblStatus()->text(),
             QStringLiteral("Nach Änderung der Einstellungen bitte Controller erneut prüfen"));
    QCOMPARE(textColour(w.lblStatus()), StatusColour::Failure);
}

void TestKzVelantor::helpWithoutManual()
{
    QTemporaryDir empty;
    kzVelantor &w = window();
    w.setProgramDirectory(empty.path());

    w.toolBarAction(QStringLiteral("btnHelp"))->trigger();

    QCOMPARE(m_rig->boxes.count(), 1);
    QCOMPARE(m_rig->boxes.last().icon, BoxIcon::Warning);
    QCOMPARE(m_rig->boxes.last().caption, Program::Title);
    QVERIFY(m_rig->boxes.last().text.startsWith(QLatin1String("Handbuch nicht vorhanden.\r\n")));
}

void TestKzVelantor::helpOpensTheManual_data()
{
    QTest::addColumn<bool>("byKey"); // F1 instead of the tool bar button
    QTest::addColumn<bool>("asked"); // whether the desktop could be asked
    QTest::addColumn<QString>("application"); // its PDF application
    QTest::addColumn<bool>("openerWorks");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("warning"); // %1: the manual's path; empty: no box
    const QString where = QStringLiteral("\r\n\r\nSie finden das Handbuch hier:\r\n%1");
    QTest::newRow("tool bar") << false << true << "betrachter.desktop" << true << true << QString();
    QTest::newRow("F1") << true << true << "betrachter.desktop" << true << true << QString();
    QTest::newRow("no PDF application")
        << false << true << "" << true << false
        << QStringLiteral("Das Handbuch kann nicht angezeigt werden: Auf diesem Rechner ist kein "
                          "Programm für PDF-Dateien eingerichtet.")
               + where;
    QTest::newRow("opener fails") << true << true << "betrachter.desktop" << false << true
                                  << QStringLiteral("Das Handbuch konnte nicht geöffnet werden.")
                                         + where;
    QTest::newRow("desktop not asked: the opener decides")
        << false << false << "" << true << true << QString();
}

void TestKzVelantor::helpOpensTheManual()
{
    QFETCH(bool, byKey);
    QFETCH(bool, asked);
    QFETCH(QString, application);
    QFETCH(bool, openerWorks);
    QFETCH(bool, opens);
    QFETCH(QString, warning);
    QTemporaryDir dir;
    QFile manual(dir.filePath(QStringLiteral("Handbuch_Velantor.pdf")));
    QVERIFY(manual.open(QIODevice::WriteOnly));
    manual.close();
    kzVelantor &w = window();
    w.setProgramDirectory(dir.path());
    QList<QUrl> opened;
    w.setDocumentOpener([&](const QUrl &url) {
        opened.append(url);
        return openerWorks;
    });
    w.setPdfApplicationQuery([=] {
        return asked ? std::optional<QString>(application) : std::nullopt;
    });

    if (byKey) {
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_F1);
    } else {
        w.toolBarAction(QStringLiteral("btnHelp"))->trigger();
    }

    QCOMPARE(opened, opens ? QList<QUrl>{QUrl::fromLocalFile(manual.fileName())} : QList<QUrl>{});
    if (warning.isEmpty()) {
        QCOMPARE(m_rig->boxes.count(), 0);
        return;
    }
    QCOMPARE(m_rig->boxes.count(), 1);
    QCOMPARE(m_rig->boxes.last().icon, BoxIcon::Warning);
    QCOMPARE(m_rig->boxes.last().caption, Program::Title);
    QCOMPARE(m_rig->boxes.last().text, errorBoxText(warning.arg(manual.fileName())));
}

void TestKzVelantor::otherWindowsGetTheControllerNumber()
{
    kzVelantor &w = checkedWindow();
    w.btnProgrammedLocos()->click();
    // Back from the programming window the lamps are refreshed.
    QCOMPARE(m_rig->takeRequests(), Requests{statusQuery()});
    w.cmdControllerSettings()->click();
    QCOMPARE(m_dialogTypes,
             (QStringList{QStringLiteral("kzLocoList"), QStringLiteral("kzControllerSettingsVL")}));

    // A number that does not fit opens nothing.
    w.txtControllerNr()->setText(QStringLiteral("999"));
    w.btnProgrammedLocos()->click();
    QCOMPARE(m_dialogTypes.size(), 2);
    QCOMPARE(m_rig->boxes.texts(), QStringList{controllerNumberRefusal(QStringLiteral("999"))});
}

void TestKzVelantor::enterAndMnemonicsStartTheCheck()
{
    setCurrentPortName(QStringLiteral("NUL"));
    kzVelantor &w = window();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));

    w.txtControllerNr()->setFocus();
    QTRY_COMPARE(w.txtControllerNr()->selectedText(), QStringLiteral("1"));
    QTest::keyClick(w.txtControllerNr(), Qt::Key_Return);
    QCOMPARE(w.lblStatus()->text(), StatusText::Simulation);

    // Enter on a focused tool-bar button presses that button, not btnCheck.
    w.setModalRunner([](QDialog *) { return 0; });
    QAction *options = w.toolBarAction(QStringLiteral("btnOptions"));
    QWidget *optionsButton = w.findChild<QToolBar *>()->widgetForAction(options);
    optionsButton->setFocus(Qt::TabFocusReason);
    QTest::keyClick(optionsButton, Qt::Key_Return);
    QCOMPARE(w.lblStatus()->text(), StatusText::RecheckAfterOptions);
    // A mnemonic clicks its button the animated way, a moment later.
    QTest::keyClick(&w, Qt::Key_P, Qt::AltModifier);
    QTRY_COMPARE(w.lblStatus()->text(), StatusText::Simulation);
}

void TestKzVelantor::keysInTheControlFrame_data()
{
    QTest::addColumn<QString>("focus"); // the focused control of loco and accessory panel 1
    QTest::addColumn<int>("key");
    QTest::addColumn<CommandBuffer>("firstFrame");
    QTest::addColumn<bool>("lightOn");
    QTest::newRow("Enter on Licht checks the controller")
        << "Licht" << int(Qt::Key_Return) << statusQuery() << false;
    QTest::newRow("Space on Licht switches the light")
        << "Licht" << int(Qt::Key_Space) << frame(1, Command::FunctionOn, 0, 1, 0) << true;
    QTest::newRow("Enter on ON presses it")
        << "ON" << int(Qt::Key_Return) << frame(1, Command::AccessoryOn, 0, 1, 0) << false;
    const CommandBuffer stopAll = frame(1, Command::StopLoco, 0, 255, 255);
    QTest::newRow("Esc on the slider stops all locos") << "Regler" << int(Qt::Key_Escape) << stopAll << false;
    QTest::newRow("Esc in the loco number stops all locos")
        << "Lok-Nummer" << int(Qt::Key_Escape) << stopAll << false;
    QTest::newRow("Esc on Licht stops all locos") << "Licht" << int(Qt::Key_Escape) << stopAll << false;
}

void TestKzVelantor::keysInTheControlFrame()
{
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(CommandBuffer, firstFrame);
    QFETCH(bool, lightOn);
    kzVelantor &w = checkedWindow();
    QApplication::setActiveWindow(&w);
    LocoPanel *panel = w.locoPanel(0);
    const QHash<QString, QWidget *> controls{
        {QStringLiteral("Licht"), panel->chkLight()},
        {QStringLiteral("ON"), w.accessoryPanel(0)->onButton(0)},
        {QStringLiteral("Lok-Nummer"), panel->kzSliderNo()},
        {QStringLiteral("Regler"), panel->kzSlider()},
    };
    QWidget *control = controls.value(focus);
    QVERIFY(control);
    control->setFocus(Qt::TabFocusReason);
    m_rig->takeRequests();

    QTest::keyClick(control, Qt::Key(key));

    QCOMPARE(m_rig->takeRequests().value(0), firstFrame);
    QCOMPARE(panel->chkLight()->isChecked(), lightOn);
}

void TestKzVelantor::everyInputHasAnAccessibleName()
{
    kzVelantor &w = window();
    const QList<QWidget *> widgets = w.findChildren<QWidget *>();
    int inputs = 0;
    for (QWidget *widget : widgets) {
        const bool isInput = qobject_cast<QLineEdit *>(widget) || qobject_cast<QComboBox *>(widget)
                             || qobject_cast<QAbstractSlider *>(widget)
                             || qobject_cast<QAbstractButton *>(widget);
        // Qt's own parts (tool bar extension, list popups) are not ours.
        if (!isInput || widget->window() != &w
            || widget->objectName().startsWith(QLatin1String("qt_")))
            continue;
        if (qobject_cast<QLineEdit *>(widget) && qobject_cast<QComboBox *>(widget->parentWidget()))
            continue; // the edit part of a combo box speaks for the box
        const auto *button = qobject_cast<QAbstractButton *>(widget);
        const bool named = !widget->accessibleName().isEmpty() || (button && !button->text().isEmpty());
        QVERIFY2(named, qPrintable(widget->objectName()));
        ++inputs;
    }
    QVERIFY(inputs > 4 * 18);
    for (const char *key : {"btnOptions", "btnHelp", "btnInfo", "btnRoster", "btnThrottles", "btnClose"}) {
        QAction *action = w.toolBarAction(QLatin1String(key));
        QVERIFY(!action->text().isEmpty());
        QVERIFY(!action->icon().isNull());
    }
    QCOMPARE(w.toolBarAction(QStringLiteral("btnInfo"))->toolTip(),
             QStringLiteral("Programmversion und Copyright anzeigen \t"));
    QCOMPARE(w.btnGlobalStop()->toolTip(), QStringLiteral("Alle Loks anhalten (Taste Esc)"));
}

// Tab walks through the tool bar buttons as through any other button, and
// the tool-tips name the keys.
void TestKzVelantor::toolBarReachedByKeyboard()
{
    kzVelantor &w = window();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QList<QWidget *> buttons;
    for (const char *key : {"btnOptions", "btnHelp", "btnInfo", "btnRoster", "btnThrottles", "btnClose"})
        buttons.append(w.Toolbar1()->widgetForAction(w.toolBarAction(QLatin1String(key))));
    buttons.append(w.txtControllerNr());

    buttons.first()->setFocus(Qt::TabFocusReason);
    QCOMPARE(QApplication::focusWidget(), buttons.first());
    for (int i = 1; i < buttons.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), buttons.at(i));
    }
    QCOMPARE(w.toolBarAction(QStringLiteral("btnHelp"))->toolTip(),
             QStringLiteral("Handbuch aufrufen (F1)"));
    QCOMPARE(w.toolBarAction(QStringLiteral("btnClose"))->toolTip(),
             QStringLiteral("Velantor verlassen (Strg+Q)"));
    QCOMPARE(w.toolBarAction(QStringLiteral("btnOptions"))->toolTip(),
             QStringLiteral("Einstellungen aufrufen"));

    // Space on a focused tool bar button presses it.
    buttons.at(2)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(buttons.at(2), Qt::Key_Space);
    QCOMPARE(m_dialogTypes, QStringList{QStringLiteral("kzInfo")});
}

// A phone that knows only the protocol drives loco 3 over TCP: the frames
// are the panel's, the panel showing loco 3 follows, and what the window
// changes reaches the phone.
// A phone holding 32 locos writes 1,600 speed lines in one go, on the
// program's threaded line: a few frames per loco reach the station, each
// loco ends at the last speed, and the line is idle again.
void TestKzVelantor::aFloodOfSpeedLinesIsMergedPerLoco()
{
    setProgramClock(nullptr);
    ControllerLine line(ControllerLine::Mode::Threaded);
    setControllerLine(&line);
    {
        kzVelantor &w = window();
        QCOMPARE(w.phoneThrottles().start(0), PhoneThrottles::StartResult::Started);
        checkedWindow();
        PhoneClient phone(w.phoneThrottles().port());
        QByteArray hello("NFlut\n");
        for (int loco = 1; loco <= 32; ++loco)
            hello += "M0+S" + QByteArray::number(loco) + "<;>S" + QByteArray::number(loco) + '\n';
        phone.send(hello);
        QTRY_VERIFY(phone.unread().contains("M0+S32<;>"));
        m_rig->takeRequests();

        // Full speed comes only with the last line.
        QByteArray flood;
        for (int i = 0; i < 1599; ++i)
            flood += "M0A*<;>V" + QByteArray::number(20 + i % 100) + '\n';
        flood += "M0A*<;>V126\n";
        QElapsedTimer elapsed;
        elapsed.start();
        phone.send(flood);
        const auto settled = [&] {
            for (int loco = 1; loco <= 32; ++loco) {
                if (w.locoState().loco(loco).speed != 255)
                    return false;
            }
            return line.isIdle();
        };
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 10000);

        // Never more than the phone's budget allows for the time it took
        // (a few frames per loco on any machine), never fewer than one a loco.
        const qint64 budget = LineQueue::ClientBurstFrames
                              + elapsed.elapsed() * LineQueue::ClientFramesPerSecond / 1000 + 1;
        const Requests requests = m_rig->takeRequests();
        QVERIFY2(requests.size() >= 32 && requests.size() <= budget,
                 qPrintable(QStringLiteral("%1 frames, budget %2").arg(requests.size()).arg(budget)));
        QHash<int, quint8> last;
        for (const CommandBuffer &request : requests) {
            QCOMPARE(request.command, Command::SetSpeed);
            last[request.p2] = request.p1;
        }
        QCOMPARE(last.size(), 32);
        QCOMPARE(QSet<quint8>(last.cbegin(), last.cend()), QSet<quint8>{255});
    }
    m_window.reset();
    setControllerLine(nullptr);
    setProgramClock(&m_rig->clock);
}

void TestKzVelantor::phoneDrivesALocoThePanelShows()
{
    // Loco 3 has 28 steps in the controller's list, as the panel shows.
    m_rig->station.setLocos({{3, LocoFlags::Steps28}, {1012, 0}});
    m_rig->station.setTrackOutput(TrackOutput::PowerOn);
    kzVelantor &w = window();
    QCOMPARE(w.phoneThrottles().start(0), PhoneThrottles::StartResult::Started);
    QCOMPARE(w.pnlThrottles()->text(), QStringLiteral("Handregler: 0 verbunden"));
    checkedWindow();
    LocoPanel *panel = w.locoPanel(2);
    QCOMPARE(panel->kzSliderNo()->currentText(), QStringLiteral("3"));

    PhoneClient phone(w.phoneThrottles().port());
    QCOMPARE(phone.lines(4),
             (QByteArrayList{"VN2.0", "RL2]\\[Lok 3}|{3}|{S]\\[Lok 1012}|{1012}|{L", "PPA1",
                             "*10"}));
    QTRY_COMPARE(w.pnlThrottles()->text(), QStringLiteral("Handregler: 1 verbunden"));
    phone.send("NTest\nM0+S3<;>S3\n");
    QCOMPARE(phone.lines(2), (QByteArrayList{"*10", "M0+S3<;>"}));
    QCOMPARE(phone.last(29 + 3), QByteArray("M0AS3<;>s2"));
    QCOMPARE(panel->lblFahrstufen()->text(), QStringLiteral("28 FS"));

    // Speed, light, F3 and direction: the panel's frames, the panel follows.
    phone.send("M0A*<;>V63\n");
    QCOMPARE(phone.lines(2), (QByteArrayList{"M0AS3<;>V63", "M0AS3<;>R1"}));
    phone.send("M0AS3<;>F10\nM0AS3<;>F00\nM0AS3<;>F13\nM0AS3<;>F03\nM0AS3<;>R0\n");
    QCOMPARE(phone.last(3 + 3 + 2), QByteArray("M0AS3<;>R0"));
    QCOMPARE(m_rig->takeRequests(),
             (Requests{frame(1, Command::SetSpeed, 128, 3, 0), frame(1, 27, 0, 3, 0),
                       frame(1, 27, 3, 3, 0), frame(1, Command::SetDirection, 0, 3, 0)}));
    QCOMPARE(panel->kzSlider()->value(), sliderFromSpeed(128));
    QVERIFY(panel->chkLight()->isChecked());
    QVERIFY(panel->tlbFunctionKeys()->button(functionKey(3))->isChecked());
    QVERIFY(!panel->tlbFunctionKeys()->button(functionKey(2))->isChecked());
    QVERIFY(!panel->kzDirection()->isChecked());
    QVERIFY(m_rig->boxes.texts().isEmpty());

    // The window's STOP reaches the phone.
    w.btnGlobalStop()->click();
    QCOMPARE(phone.lines(2), (QByteArrayList{"M0AS3<;>V0", "M0AS3<;>R0"}));
    m_rig->takeRequests();

    // The horn: on while pressed, off on release; the phone hears both.
    phone.send("M0AS3<;>F12\n");
    QCOMPARE(phone.lines(3), (QByteArrayList{"M0AS3<;>F12", "M0AS3<;>V0", "M0AS3<;>R0"}));
    phone.send("M0AS3<;>F02\n");
    QCOMPARE(phone.lines(3), (QByteArrayList{"M0AS3<;>F02", "M0AS3<;>V0", "M0AS3<;>R0"}));
    QCOMPARE(m_rig->takeRequests(), (Requests{frame(1, 27, 2, 3, 0), frame(1, 28, 2, 3, 0)}));

    // Track power through the switch that asks first; every phone hears,
    // and the window's lamps follow without a request of their own.
    phone.send("PPA0\n");
    QCOMPARE(phone.lines(1), QByteArrayList{"PPA0"});
    QCOMPARE(m_rig->takeRequests(),
             (Requests{statusQuery(), frame(1, Command::SetParameter, 0, Parameter::TrackOutput,
                                            TrackMode::Off),
                       statusQuery()}));
    QCOMPARE(w.shpCircuitOn()->colour(), QColor(Qt::black));
    QCOMPARE(w.shpCircuitOff()->colour(), StatusColour::Failure);
    phone.send("PPA1\n");
    QCOMPARE(phone.lines(1), QByteArrayList{"PPA1"});
    QCOMPARE(m_rig->takeRequests().size(), 3);
    QCOMPARE(w.shpCircuitOn()->colour(), StatusColour::Success);
    QCOMPARE(w.shpCircuitOff()->colour(), QColor(Qt::black));

    // Unanswered: no box, the phone gets the state back, the status bar says so.
    m_rig->station.addFault(Fault::noReply(Fault::Always));
    phone.send("M0A*<;>V126\n");
    QCOMPARE(phone.lines(2), (QByteArrayList{"M0AS3<;>V0", "M0AS3<;>R0"}));
    QCOMPARE(w.pnlThrottles()->text(), QStringLiteral("Handregler: Controller antwortet nicht"));
    QVERIFY(m_rig->boxes.texts().isEmpty());
    QCOMPARE(panel->kzSlider()->value(), SliderStop);
    m_rig->station.clearFaults();
    m_rig->takeRequests();

    // Released: no frame; the loco stays as it was.
    phone.send("M0-*<;>r\nQ\n");
    QCOMPARE(phone.lines(1), QByteArrayList{"M0-S3<;>"});
    QTRY_COMPARE(w.phoneThrottles().clientCount(), 0);
    QVERIFY(m_rig->takeRequests().isEmpty());
}

void TestKzVelantor::phoneServerOnAPortInUse()
{
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::Any, 0));
    sysSaveSetting(QStringLiteral("Enabled"), QStringLiteral("1"), QStringLiteral("Handregler"));
    sysSaveSetting(QStringLiteral("Port"), QString::number(other.serverPort()),
                   QStringLiteral("Handregler"));
    kzVelantor &w = window();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot listen on port"));
    w.startUp(false);
    sysSaveSetting(QStringLiteral("Enabled"), QStringLiteral("0"), QStringLiteral("Handregler"));
    QCOMPARE(m_rig->boxes.texts(),
             QStringList{QStringLiteral("Der Handregler-Server kann nicht starten: Port %1 wird "
                                        "schon von einem anderen Programm benutzt.\n\nBitte "
                                        "wählen Sie unter \"Handregler\" einen anderen Port.")
                             .arg(other.serverPort())});
    QVERIFY(!w.phoneThrottles().isRunning());
    QVERIFY(!w.pnlThrottles()->isVisible());
}

// The dialog returns what it decided; the window saves and does it. A port
// outside 1024-65535 is refused by the rule check and the dialog stays.
void TestKzVelantor::throttleDialogSwitchesTheServer()
{
    quint16 freePort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::Any, 0));
        freePort = probe.serverPort();
    }
    quint16 freeWebPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::Any, 0));
        freeWebPort = probe.serverPort();
    }
    kzVelantor &w = window();
    QString portText;
    QString webPortText = QStringLiteral("12080");
    QString momentaryText = QStringLiteral("2");
    bool enable = true;
    bool enableWeb = false;
    bool allNetworks = false;
    QStringList shown;
    w.setModalRunner([&](QDialog *dialog) {
        auto *throttles = qobject_cast<ThrottleDialog *>(dialog);
        [&] { QVERIFY(throttles); }();
        shown << throttles->txtPort()->text() + QStringLiteral(" / ")
                     + throttles->txtWebPort()->text() + QStringLiteral(" / ")
                     + throttles->txtMomentary()->text()
                     + (throttles->chkAllNetworks()->isChecked() ? QStringLiteral(" / alle Netze")
                                                                 : QString());
        throttles->chkAllNetworks()->setChecked(allNetworks);
        throttles->chkEnabled()->setChecked(enable);
        throttles->txtPort()->setText(portText);
        throttles->chkWebEnabled()->setChecked(enableWeb);
        throttles->txtWebPort()->setText(webPortText);
        throttles->txtMomentary()->setText(momentaryText);
        throttles->btnOk()->click();
        return dialog->result();
    });
    const QString section = QStringLiteral("Handregler");

    portText = QStringLiteral("80");
    w.toolBarAction(QStringLiteral("btnThrottles"))->trigger();
    QCOMPARE(m_rig->boxes.texts(), QStringList{*checkRule(phonePortRule(), portText)});
    QVERIFY(!w.phoneThrottles().isRunning());

    // Function numbers 1-12 only.
    portText = QString::number(freePort);
    momentaryText = QStringLiteral("2, 13");
    w.toolBarAction(QStringLiteral("btnThrottles"))->trigger();
    QCOMPARE(m_rig->boxes.texts().last(),
             QStringLiteral("Die Tastfunktion ist nicht im gültigen Bereich (1 bis 12) ."));
    QVERIFY(!w.phoneThrottles().isRunning());

    momentaryText = QStringLiteral("3 2;3");
    w.toolBarAction(QStringLiteral("btnThrottles"))->trigger();
    QVERIFY(w.phoneThrottles().isRunning());
    QCOMPARE(w.phoneThrottles().port(), freePort);
    QCOMPARE(sysGetSetting(QStringLiteral("Enabled"), QString(), section), QStringLiteral("1"));
    QCOMPARE(sysGetSetting(QStringLiteral("Port"), QString(), section), portText);
    QCOMPARE(sysGetSetting(QStringLiteral("Momentary"), QString(), section), QStringLiteral("2, 3"));
    QCOMPARE(w.phoneThrottles().momentaryFunctions(), (QList<int>{2, 3}));
    QCOMPARE(w.pnlThrottles()->text(), QStringLiteral("Handregler: 0 verbunden"));

    // Before the check a phone is told why nothing moves.
    PhoneClient phone(freePort);
    QCOMPARE(phone.lines(4).size(), 4);
    phone.send("NPixel\nM0+S3<;>S3\nM0A*<;>V50\n");
    QCOMPARE(phone.last(1 + 33 + 1),
             QByteArray("HMController nicht geprüft – bitte am PC „Prüfen“ drücken"));

    // The web throttle beside it, on its own port; a browser counts in the
    // status bar with the phones. Both take other networks too from now on.
    enableWeb = true;
    allNetworks = true;
    webPortText = QString::number(freeWebPort) + QStringLiteral(",0");
    w.toolBarAction(QStringLiteral("btnThrottles"))->trigger();
    QVERIFY(w.phoneThrottles().isRunning());
    QVERIFY(w.phoneThrottles().isWebRunning());
    QCOMPARE(w.phoneThrottles().webPort(), freeWebPort);
    QCOMPARE(sysGetSetting(QStringLiteral("WebEnabled"), QString(), section), QStringLiteral("1"));
    QCOMPARE(sysGetSetting(QStringLiteral("WebPort"), QString(), section),
             QString::number(freeWebPort));
    QCOMPARE(sysGetSetting(QStringLiteral("AlleNetze"), QString(), section), QStringLiteral("1"));
    QVERIFY(w.phoneThrottles().allNetworks());
    QWebSocket browser(QStringLiteral("http://127.0.0.1:%1").arg(freeWebPort));
    browser.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(freeWebPort)));
    QTRY_COMPARE(w.pnlThrottles()->text(), QStringLiteral("Handregler: 2 verbunden"));

    // None at all is kept as such; the browser stays while the apps' server
    // is off, the phone goes.
    enable = false;
    momentaryText = QString();
    w.toolBarAction(QStringLiteral("btnThrottles"))->trigger();
    QVERIFY(!w.phoneThrottles().isRunning());
    QCOMPARE(w.pnlThrottles()->text(), QStringLiteral("Handregler: 1 verbunden"));
    QCOMPARE(sysGetSetting(QStringLiteral("Enabled"), QString(), section), QStringLiteral("0"));
    QCOMPARE(sysGetSetting(QStringLiteral("Momentary"), QString(), section), QStringLiteral("keine"));
    QVERIFY(w.phoneThrottles().momentaryFunctions().isEmpty());

    enableWeb = false;
    allNetworks = false;
    w.toolBarAction(QStringLiteral("btnThrottles"))->trigger();
    QVERIFY(!w.phoneThrottles().isWebRunning());
    QCOMPARE(sysGetSetting(QStringLiteral("AlleNetze"), QString(), section), QStringLiteral("0"));
    QVERIFY(!w.phoneThrottles().allNetworks());
    QVERIFY(!w.pnlThrottles()->isVisible());
    QTRY_COMPARE(browser.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(sysGetSetting(QStringLiteral("WebEnabled"), QString(), section), QStringLiteral("0"));
    const QString port = QString::number(freePort);
    const QString web = QString::number(freeWebPort);
    QCOMPARE(shown, (QStringList{"12090 / 12080 / 2", "12090 / 12080 / 2", "12090 / 12080 / 2",
                                 port + " / 12080 / 2, 3", port + " / " + web + " / 2, 3 / alle Netze",
                                 port + " / " + web + " / " + " / alle Netze"}));
}

// The page's address for every address of this machine, following the port
// as it is typed, and its QR code for the first.
void TestKzVelantor::throttleDialogShowsTheWebAddress()
{
    PhoneThrottleSettings settings;
    ThrottleDialog dialog(settings, {QStringLiteral("192.168.1.20"), QStringLiteral("10.0.0.5")});
    QCOMPARE(dialog.lblWebAddresses()->text(),
             QStringLiteral("http://192.168.1.20:12080/\nhttp://10.0.0.5:12080/"));
    QCOMPARE(dialog.lblAddresses()->text(),
             QStringLiteral("Adresse: 192.168.1.20  Port: 12090\nAdresse: 10.0.0.5  Port: 12090"));
    QCOMPARE(dialog.picQrCode()->accessibleDescription(), QStringLiteral("http://192.168.1.20:12080/"));
    const QImage code = dialog.picQrCode()->pixmap().toImage();
    // A QR code of version 2 (25 modules) and its quiet zone, 4 pixels a
    // module; its finder pattern's corner is dark, the quiet zone light.
    QCOMPARE(code.size(), QSize((25 + 8) * 4, (25 + 8) * 4));
    QCOMPARE(QColor(code.pixel(4 * 4, 4 * 4)), QColor(Qt::black));
    QCOMPARE(QColor(code.pixel(4 * 4 - 1, 4 * 4 - 1)), QColor(Qt::white));
    dialog.txtWebPort()->setText(QStringLiteral("12081"));
    QCOMPARE(dialog.picQrCode()->accessibleDescription(), QStringLiteral("http://192.168.1.20:12081/"));
    QVERIFY(dialog.picQrCode()->pixmap().toImage() != code);

    // One port for both is refused; the dialog stays.
    dialog.txtWebPort()->setText(QStringLiteral("12090"));
    dialog.btnOk()->click();
    QCOMPARE(m_rig->boxes.texts(), QStringList{samePortsText()});
    QVERIFY(dialog.result() != QDialog::Accepted);

    ThrottleDialog offline(settings, {});
    QCOMPARE(offline.lblWebAddresses()->text(), QStringLiteral("Kein Netzwerk gefunden."));
    QVERIFY(offline.picQrCode()->pixmap().isNull());
}

namespace {

// A copy of the JMRI-shaped roster the roster's tests read, in folder.
void copyRoster(const QString &folder)
{
    QVERIFY(copyFolder(QStringLiteral(ROSTER_TEST_DATA "/decoderpro"), folder));
}

} // namespace

// A panel driving a roster loco names it; its keys keep their captions and
// carry the labels as tool-tip and accessible description. The roster comes
// from the folder the settings name, read at the start; a damaged one is
// named in a box and the rest still shows.
void TestKzVelantor::panelsNameTheRosterLoco_data()
{
    QTest::addColumn<QByteArray>("damage");
    QTest::addColumn<QString>("loco");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("labels");   // Licht, F1, F2, F3
    QTest::addColumn<QStringList>("boxes");

    QTest::newRow("a roster loco") << QByteArray() << "218" << "BR 218"
                                   << QStringList{"Licht", "Sound", "Horn", ""} << QStringList{};
    QTest::newRow("another") << QByteArray() << "3" << "V 60"
                             << QStringList{"Spitzenlicht", "", "", "Rangierpfiff"} << QStringList{};
    QTest::newRow("a loco the roster does not know") << QByteArray() << "5" << ""
                                                     << QStringList{"", "", "", ""} << QStringList{};
    QTest::newRow("a damaged entry")
        << QByteArray("dccAddress=\"218\"") << "3" << "V 60"
        << QStringList{"Spitzenlicht", "", "", "Rangierpfiff"}
        << QStringList{"roster.xml, Zeile 5: Das Fahrzeug „BR 218“ hat die Lok-Nummer „zwei“; "
                       "erlaubt sind 1 bis 10239. Es wird übergangen."};
}

void TestKzVelantor::panelsNameTheRosterLoco()
{
    QFETCH(QByteArray, damage);
    QFETCH(QString, loco);
    QFETCH(QString, name);
    QFETCH(QStringList, labels);
    QFETCH(QStringList, boxes);
    QTemporaryDir dir;
    copyRoster(dir.path());
    if (!damage.isEmpty()) {
        QFile index(dir.filePath(QStringLiteral("roster.xml")));
        QVERIFY(index.open(QIODevice::ReadOnly));
        QByteArray bytes = index.readAll();
        index.close();
        bytes.replace("<number>218</number>", "<number>zwei</number>");
        QVERIFY(index.open(QIODevice::WriteOnly | QIODevice::Truncate));
        index.write(bytes);
    }
    sysSaveSetting(QStringLiteral("Ordner"), dir.path(), QStringLiteral("Fahrzeuge"));
    kzVelantor &w = window();
    w.startUp(false);
    QCOMPARE(w.roster().folder(), dir.path());
    LocoPanel *panel = w.locoPanel(1);
    panel->kzSliderNo()->setEditText(loco);
    QCOMPARE(panel->lblLokName()->text(), name);
    QStringList shown{panel->chkLight()->toolTip()};
    for (const char *key : {"F1", "F2", "F3"}) {
        QToolButton *button = panel->tlbFunctionKeys()->button(QLatin1String(key));
        QCOMPARE(button->text(), QLatin1String(key));
        QCOMPARE(button->accessibleDescription(), button->toolTip());
        shown << button->toolTip();
    }
    QCOMPARE(shown, labels);
    QCOMPARE(m_rig->boxes.texts().size(), boxes.size());
    for (qsizetype i = 0; i < boxes.size(); ++i)
        QVERIFY2(m_rig->boxes.texts().at(i).contains(boxes.at(i)), qPrintable(m_rig->boxes.texts().at(i)));
    // A panel on loco 4 shows no name.
    QCOMPARE(w.locoPanel(3)->kzSliderNo()->currentText(), QStringLiteral("4"));
    QCOMPARE(w.locoPanel(3)->lblLokName()->text(), QString());
}

// The tool-bar button (Strg+L) opens "Fahrzeuge"; what the dialog changed is
// written, and the panels follow.
void TestKzVelantor::rosterDialogFromTheToolBar()
{
    QTemporaryDir dir;
    copyRoster(dir.path());
    sysSaveSetting(QStringLiteral("Ordner"), dir.path(), QStringLiteral("Fahrzeuge"));
    kzVelantor &w = window();
    w.startUp(false);
    QAction *action = w.toolBarAction(QStringLiteral("btnRoster"));
    QCOMPARE(action->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    w.locoPanel(0)->kzSliderNo()->setEditText(QStringLiteral("218"));
    QStringList seen;
    w.setModalRunner([&](QDialog *dialog) {
        auto *roster = qobject_cast<RosterDialog *>(dialog);
        [&] { QVERIFY(roster); }();
        for (int i = 0; i < roster->lstEntries()->count(); ++i)
            seen << roster->lstEntries()->item(i)->text();
        roster->txtLabel(1)->setText(QStringLiteral("Fahrgeräusch"));
        roster->chkMomentary(1)->setChecked(true);
        roster->accept();
        return dialog->result();
    });
    action->trigger();
    QCOMPARE(seen, (QStringList{"BR 218 (218)", "V 60 (3)"}));
    QCOMPARE(m_rig->boxes.texts(), QStringList{});
    QCOMPARE(w.locoPanel(0)->tlbFunctionKeys()->button(QStringLiteral("F1"))->toolTip(),
             QStringLiteral("Fahrgeräusch"));
    const RosterFiles::LocoFileRead file = RosterFiles::readLocoFile(
        [&] {
            QFile f(dir.filePath(QStringLiteral("roster/BR_218.xml")));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }(),
        QStringLiteral("BR_218.xml"));
    QVERIFY(file.entry);
    QCOMPARE(file.entry->label(1), (FunctionLabel{QStringLiteral("Fahrgeräusch"), false}));
}

KZ_TEST_MAIN(TestKzVelantor)
#include "test_kzvelantor.moc"
