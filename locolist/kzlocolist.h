#pragma once

#include "link/frame.h"
#include "locolist/clsloco.h"
#include "locolist/decoderjobs.h"
#include "locolist/decodertab.h"
#include "locolist/operationdisplay.h"
#include "locolist/progfields.h"
#include "locolist/programmer.h"

#include <QColor>
#include <QDialog>
#include <QList>

class LedShape;
class LocoListTab;
class ProgrammingTab;
class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class SpinButtons;

// The loco configuration and programming window of one controller: the
// controller's loco list on the first tab, decoder programming on the
// programming track on the second, the decoder's identity, reset and CV
// backup on the third. The tabs only show; the window keeps
// their lifecycle (programming mode on and off), the busy gate and the
// programmer, and runs every operation. Every exchange goes to the
// controller set with setControllerID() before the window is shown.
class kzLocoList : public QDialog, private ProgrammingObserver
{
    Q_OBJECT

public:
    // The outer size the window opens with (6750 x 5850 twips); the width is
    // fixed, the height can only grow. The outer size includes the frame and
    // title bar, taken as FrameWidth and FrameHeight pixels.
    static constexpr int OuterWidth = 450;
    static constexpr int OuterHeight = 390;
    static constexpr int FrameWidth = 8;
    static constexpr int FrameHeight = 30;
    static constexpr int TabMargin = 53;     // outer height - tab height (795 twips)
    static constexpr int TreeMargin = 72;    // tab height - tree height (1080 twips)
    static constexpr int ToolBarGap = 10;    // tree bottom to tool bar (150 twips)

    static constexpr QColor Blue = OperationDisplay::Blue;
    static constexpr QColor Red = OperationDisplay::Red;
    static constexpr QColor Green = OperationDisplay::Green;

    explicit kzLocoList(QWidget *parent = nullptr);
    ~kzLocoList() override;

    void setControllerID(int id);
    int controllerID() const { return m_controllerId; }

    // The status lamps: one of them lit, or all three dark.
    using Lamp = OperationDisplay::Lamp;
    void SetLed(Lamp state);
    // Switches the controller's programming mode; the reply is not looked at.
    void SetProgMode(bool on);
    // The per-loco tool bar buttons follow controlsEnabled; "activate" is
    // enabled by activateConfig and only ever disabled by the activation.
    void ConfigButtonsEnabled(bool controlsEnabled, bool activateConfig = false);
    // Every control that can start a programming operation, and the loco list
    // tab. "Wert suchen" stays off in bit mode.
    void ProgButtonsEnabled(bool controlsEnabled);

    // The loco list tab.
    void ReadLocoList();
    void FillLocoTree();
    void SaveLocoEntry(int number, quint8 flags);
    void AddLoco();
    void DeleteLoco();
    void SetSpeedSteps(const QString &key);
    void ActivateLocoConfig();
    const QList<clsLoco> &locoList() const { return m_locoList; }

    // The decoder programmer that works through the window's command buffer.
    DecoderProgrammer &programmer() { return m_programmer; }

public slots:
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // ProgrammingObserver
    void progress(double percent) override;
    void searchRunning(bool running) override;
    void processEvents() override;
    void aborted() override;
    void stage(const QString &text) override;

    void load();
    void unload();
    void firstActivation();
    void layoutTabs();

    void toolButtonClicked(const QString &key);
    void treeNodeClicked();
    void afterLocoWrite();

    void selectProgType(int type);
    int progType() const;
    void runOperation(int operation);
    void verifyOrWriteValue(ProgFields::Operation operation);
    void searchValue();
    void setLocoNumber();
    void recogniseLocoNumber();
    void stepValue(int index, bool up);
    void saveAutoConfig(bool checked);
    void runDecoderJob(const DecoderTab::Request &request);

    void setStatus(const QColor &color, const QString &text);
    void showProgress(int percent);
    quint8 controllerByte() const { return quint8(m_controllerId); }
    qint64 startTime() const;

    int m_controllerId = 0;
    bool m_firstActivation = true;
    bool m_activated = false;
    bool m_busy = false;
    CommandBuffer m_buffer;
    DecoderProgrammer m_programmer;
    DecoderJobs m_decoderJobs;
    QList<clsLoco> m_locoList;

    QTabWidget *m_tabs = nullptr;
    LocoListTab *m_locoTab = nullptr;
    ProgrammingTab *m_progTab = nullptr;
    DecoderTab *m_decoderTab = nullptr;
    // The tab that shows the running operation's lamps, status and progress.
    OperationDisplay *m_display = nullptr;
    // Controls of the tabs that the operations read and show.
    QAction *m_btnActivateConfig = nullptr;
    QAction *m_btnAdd = nullptr;
    QCheckBox *m_autoConfig = nullptr;
    QRadioButton *m_progType[3] = {};
    QLabel *m_lblCV = nullptr;
    QLabel *m_lblBit = nullptr;
    QLineEdit *m_value[3] = {};
    SpinButtons *m_bitSpin = nullptr;
    QPushButton *m_operation[3] = {};
    QLineEdit *m_locoNumber = nullptr;
};
