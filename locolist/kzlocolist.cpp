#include "locolist/kzlocolist.h"

#include "common/flagscope.h"
#include "common/inputdialog.h"
#include "common/messagebox.h"
#include "common/program.h"
#include "common/rules.h"
#include "common/settings.h"
#include "common/validation.h"
#include "common/windowsequence.h"
#include "link/clock.h"
#include "link/commands.h"
#include "link/exchange.h"
#include "link/locodriver.h"
#include "locolist/addressing.h"
#include "locolist/decodertab.h"
#include "locolist/ledshape.h"
#include "locolist/locolisttab.h"
#include "locolist/lococonfig.h"
#include "locolist/programmingtab.h"
#include "locolist/progfields.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QTabWidget>

using ProgFields::ProgType;

namespace {

// Busy for the length of an operation, so that a click that comes through
// while it waits for the line cannot start a second one; the cursor shows
// that the program is busy.
class OperationScope
{
public:
    explicit OperationScope(bool &busy) : m_flag(busy) {}

private:
    FlagScope m_flag;
    WindowSequence m_sequence;
};

const QString Caption = QStringLiteral("Lok-Konfiguration / Programmierung");
const QString AutoConfigKey = QStringLiteral("AutoConfig");
const QString LocoNumberRule = numberRangeRule(QStringLiteral("Die Lok-Nummer"),
                                               Limits::MinLocoNumber, Limits::MaxLocoNumber);
constexpr int Margin = 8;

} // namespace

kzLocoList::kzLocoList(QWidget *parent)
    : QDialog(parent)
    , m_programmer(m_buffer)
    , m_decoderJobs(m_programmer, this)
{
    setObjectName(QStringLiteral("kzLocoList"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    m_programmer.setObserver(this);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabProgramming"));
    m_locoTab = new LocoListTab;
    m_tabs->addTab(m_locoTab, QStringLiteral("&Lok-Konfiguration"));
    connect(m_locoTab, &LocoListTab::toolClicked, this, &kzLocoList::toolButtonClicked);
    connect(m_locoTab, &LocoListTab::nodeClicked, this, &kzLocoList::treeNodeClicked);
    m_btnActivateConfig = m_locoTab->action(QStringLiteral("btnActivateConfig"));
    m_btnAdd = m_locoTab->action(QStringLiteral("btnAdd"));

    m_progTab = new ProgrammingTab(LocoNumberRule);
    m_tabs->addTab(m_progTab, QStringLiteral("Pro&grammierung"));
    connect(m_progTab, &ProgrammingTab::breakClicked, this,
            [this] { m_programmer.requestAbort(); });
    connect(m_progTab, &ProgrammingTab::autoConfigToggled, this, &kzLocoList::saveAutoConfig);
    connect(m_progTab, &ProgrammingTab::typeChosen, this, &kzLocoList::selectProgType);
    connect(m_progTab, &ProgrammingTab::stepClicked, this, &kzLocoList::stepValue);
    connect(m_progTab, &ProgrammingTab::operationClicked, this, &kzLocoList::runOperation);
    connect(m_progTab, &ProgrammingTab::setLocoNumberClicked, this, &kzLocoList::setLocoNumber);
    connect(m_progTab, &ProgrammingTab::recogniseClicked, this, &kzLocoList::recogniseLocoNumber);
    m_decoderTab = new DecoderTab;
    m_tabs->addTab(m_decoderTab, QStringLiteral("&Decoder"));
    connect(m_decoderTab, &DecoderTab::breakClicked, this, [this] { m_decoderJobs.requestAbort(); });
    connect(m_decoderTab, &DecoderTab::operationRequested, this, &kzLocoList::runDecoderJob);
    m_display = m_progTab->display();
    // The controls the operations read and show.
    for (int i = 0; i < 3; ++i) {
        m_progType[i] = m_progTab->progType(i);
        m_value[i] = m_progTab->value(i);
        m_operation[i] = m_progTab->operation(i);
    }
    m_autoConfig = m_progTab->autoConfig();
    m_lblCV = m_progTab->lblCV();
    m_lblBit = m_progTab->lblBit();
    m_bitSpin = m_progTab->spin(1);
    m_locoNumber = m_progTab->locoNumber();

    setFixedWidth(OuterWidth - FrameWidth);
    setMinimumHeight(OuterHeight - FrameHeight);
    load();
}

kzLocoList::~kzLocoList()
{
    // A window that goes away without being closed still leaves the
    // programming track switched off.
    if (m_activated)
        unload();
}

void kzLocoList::setControllerID(int id)
{
    m_controllerId = id;
    m_programmer.setController(controllerByte());
}

// --- lifecycle -----------------------------------------------------------------

void kzLocoList::load()
{
    m_firstActivation = true;
    m_activated = false;
    setWindowTitle(Caption);
    resize(OuterWidth - FrameWidth, OuterHeight - FrameHeight);
    m_tabs->setCurrentIndex(0);
    m_tabs->setTabEnabled(0, true);
    m_btnAdd->setEnabled(true);
    m_btnActivateConfig->setEnabled(false);
    ConfigButtonsEnabled(false);
    layoutTabs();
}

void kzLocoList::unload()
{
    m_locoList.clear();
    m_activated = false;
    SetProgMode(false);
}

void kzLocoList::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The first activation reads from the controller; it runs once the window
    // is on the screen, not while it is being shown.
    if (m_firstActivation)
        QMetaObject::invokeMethod(this, &kzLocoList::firstActivation, Qt::QueuedConnection);
}

void kzLocoList::firstActivation()
{
    if (!m_firstActivation || !isVisible())
        return;
    m_firstActivation = false;
    const OperationScope busy(m_busy);
    m_activated = true;
    ReadLocoList();
    FillLocoTree();
    setWindowTitle(Caption + QStringLiteral(" (Controller ") + QString::number(m_controllerId)
                   + QLatin1Char(')'));
    m_progType[0]->setChecked(true);
    selectProgType(0);
    bool ok = false;
    const int autoConfig =
        sysGetSetting(AutoConfigKey, QStringLiteral("1"), SettingsSection).trimmed().toInt(&ok);
    // Only "0" and "1" are ever written; anything else keeps the default.
    // Showing the stored value is no change of it.
    const QSignalBlocker quiet(m_autoConfig);
    m_autoConfig->setChecked(!ok || autoConfig != 0);
    SetProgMode(false);
}

void kzLocoList::done(int result)
{
    // A running operation shares the command buffer and the controller's
    // programming mode with the window: it has to end first.
    if (m_busy || !m_display->breakButton()->isHidden())
        return;
    if (m_activated) {
        // Switching the programming track off is an exchange too.
        const OperationScope busy(m_busy);
        unload();
    }
    QDialog::done(result);
    load();
}

void kzLocoList::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    layoutTabs();
}

void kzLocoList::layoutTabs()
{
    const int outerHeight = height() + FrameHeight;
    const int tabHeight = outerHeight - TabMargin;
    m_tabs->setGeometry(Margin, Margin, width() - 2 * Margin, tabHeight);
    const int pageWidth = width() - 2 * Margin - 4;
    m_locoTab->layoutPage(pageWidth, tabHeight - TreeMargin, ToolBarGap);
}

// --- shared displays -----------------------------------------------------------

void kzLocoList::SetLed(Lamp state)
{
    m_display->light(state);
}

void kzLocoList::SetProgMode(bool on)
{
    LocoDriver *driver = locoDriver();
    // Drive intents of other sources wait while the programming track is
    // in use, from before it is switched on until after it is off.
    if (driver && on)
        driver->setProgrammingTrackActive(true);
    m_programmer.setController(controllerByte());
    m_programmer.SetProgMode(on);
    if (driver && !on)
        driver->setProgrammingTrackActive(false);
}

void kzLocoList::ConfigButtonsEnabled(bool controlsEnabled, bool activateConfig)
{
    m_locoTab->setConfigButtonsEnabled(controlsEnabled, activateConfig);
}

void kzLocoList::ProgButtonsEnabled(bool controlsEnabled)
{
    m_progTab->setControlsEnabled(controlsEnabled);
    m_decoderTab->setControlsEnabled(controlsEnabled);
    m_tabs->setTabEnabled(0, controlsEnabled);
}

void kzLocoList::setStatus(const QColor &color, const QString &text)
{
    m_display->setStatus(color, text);
}

void kzLocoList::showProgress(int percent)
{
    m_display->showProgress(percent);
}

qint64 kzLocoList::startTime() const
{
    return programClock().nowMs();
}

void kzLocoList::progress(double percent)
{
    showProgress(qRound(percent));
}

void kzLocoList::searchRunning(bool running)
{
    m_display->breakButton()->setVisible(running);
}

void kzLocoList::processEvents()
{
    QCoreApplication::processEvents();
}

void kzLocoList::aborted()
{
    SetLed(Lamp::Failed);
    setStatus(Red, QStringLiteral("Vorgang abgebrochen"));
    showProgress(0);
}

void kzLocoList::stage(const QString &text)
{
    m_display->setStatusText(text);
}

// --- the loco list -------------------------------------------------------------

void kzLocoList::ReadLocoList()
{
    m_locoList = LocoConfig::readLocoList(controllerByte()).locos;
}

void kzLocoList::FillLocoTree()
{
    m_locoTab->showLocos(m_locoList);
}

void kzLocoList::treeNodeClicked()
{
    ConfigButtonsEnabled(true, false);
}

void kzLocoList::toolButtonClicked(const QString &key)
{
    if (m_busy)
        return;
    const OperationScope busy(m_busy);
    if (key.compare(QLatin1String("btnAdd"), Qt::CaseInsensitive) == 0)
        AddLoco();
    else if (key.compare(QLatin1String("btnDelete"), Qt::CaseInsensitive) == 0)
        DeleteLoco();
    else if (key.compare(QLatin1String("btn14"), Qt::CaseInsensitive) == 0
             || key.compare(QLatin1String("btn28"), Qt::CaseInsensitive) == 0
             || key.compare(QLatin1String("btn126"), Qt::CaseInsensitive) == 0)
        SetSpeedSteps(key);
    else if (key.compare(QLatin1String("btnActivateConfig"), Qt::CaseInsensitive) == 0)
        ActivateLocoConfig();
}

void kzLocoList::afterLocoWrite()
{
    WaitSeconds(1);
    ReadLocoList();
    FillLocoTree();
    ConfigButtonsEnabled(false, true);
}

void kzLocoList::SaveLocoEntry(int number, quint8 flags)
{
    // A number that is no loco number is never written.
    if (!LocoConfig::isLocoNumber(number))
        return;
    LocoConfig::writeLocoEntry(controllerByte(), number, flags);
    afterLocoWrite();
}

void kzLocoList::AddLoco()
{
    const QString answer = sysInputBox(QStringLiteral("Lok-Nummer"),
                                       QStringLiteral("Welche Lok-Nummer soll angelegt werden ?"),
                                       QString(), LocoNumberRule, 5);
    if (answer.isEmpty())
        return;
    SaveLocoEntry(ProgFields::wholeNumber(answer), LocoFlags::Steps28);
}

void kzLocoList::DeleteLoco()
{
    const int number = m_locoTab->selectedLocoNumber();
    if (!LocoConfig::isLocoNumber(number))
        return;
    const QString n = QString::number(number);
    if (showMessageBox(BoxIcon::Question, BoxButtons::YesNo, BoxAnswer::No,
                       QStringLiteral("Lok ") + n,
                       QStringLiteral("Möchten Sie Lok-Nummer ") + n
                           + QStringLiteral(" aus der Konfiguration löschen ?"))
        != BoxAnswer::Yes)
        return;
    LocoConfig::writeLocoEntry(controllerByte(), number, 0);
    afterLocoWrite();
}

void kzLocoList::SetSpeedSteps(const QString &key)
{
    const QString steps = LocoConfig::speedStepsOfKey(key);
    const int number = m_locoTab->selectedLocoNumber();
    if (!LocoConfig::isLocoNumber(number))
        return;
    if (showMessageBox(BoxIcon::Question, BoxButtons::YesNo, BoxAnswer::No,
                       QStringLiteral("Lok ") + QString::number(number),
                       QStringLiteral("Geschwindigkeit auf ") + steps
                           + QStringLiteral(" Fahrstufen anpassen ?"))
        != BoxAnswer::Yes)
        return;
    LocoConfig::writeLocoEntry(controllerByte(), number,
                               LocoConfig::speedStepCodeOfKey(key));
    afterLocoWrite();
}

void kzLocoList::ActivateLocoConfig()
{
    if (showMessageBox(BoxIcon::Question, BoxButtons::YesNo, BoxAnswer::No,
                       QStringLiteral("Controller-Neustart"),
                       QStringLiteral("Möchten Sie zur Aktivierung der neuen Lok-Einstellungen ")
                           + QStringLiteral("den Controller neu starten ?"))
        != BoxAnswer::Yes)
        return;
    // Without an answer nobody knows whether the controller restarted: the
    // button stays, so that the user can try again.
    if (LocoConfig::restartController(controllerByte()))
        m_btnActivateConfig->setEnabled(false);
}

// --- CV programming --------------------------------------------------------------

int kzLocoList::progType() const
{
    for (int i = 0; i < 3; ++i) {
        if (m_progType[i]->isChecked())
            return i;
    }
    return 0;
}

void kzLocoList::selectProgType(int type)
{
    const ProgFields::TypeSetup setup = ProgFields::typeSetup(ProgType(type));
    m_lblCV->setText(setup.addressCaption);
    m_value[0]->setAccessibleName(setup.addressCaption);
    m_progTab->spin(0)->setFieldName(setup.addressCaption);
    m_lblBit->setVisible(setup.bitShown);
    m_value[1]->setVisible(setup.bitShown);
    m_bitSpin->setVisible(setup.bitShown);
    setRule(m_value[0], setup.addressRule);
    setRule(m_value[1], setup.bitRule);
    setRule(m_value[2], setup.valueRule);
    m_operation[2]->setEnabled(setup.searchOffered);
    if (ProgType(type) == ProgType::CVBit && !ProgFields::isBitValue(m_value[2]->text()))
        m_value[2]->setText(QStringLiteral("0"));
}

void kzLocoList::stepValue(int index, bool up)
{
    QLineEdit *field = m_value[index];
    field->setText(ProgFields::spinStep(field->text(), up, QLocale(), field->maxLength()));
}

void kzLocoList::runOperation(int operation)
{
    if (m_busy)
        return;
    if (ProgFields::Operation(operation) == ProgFields::Operation::Search
        && ProgType(progType()) == ProgType::CVBit)
        return;
    if (!sysDataOK(this))
        return;
    const OperationScope busy(m_busy);
    SetProgMode(true);
    switch (ProgFields::Operation(operation)) {
    case ProgFields::Operation::Verify:
    case ProgFields::Operation::Write: verifyOrWriteValue(ProgFields::Operation(operation)); break;
    case ProgFields::Operation::Search: searchValue(); break;
    }
    SetProgMode(false);
}

void kzLocoList::verifyOrWriteValue(ProgFields::Operation operation)
{
    const bool write = operation == ProgFields::Operation::Write;
    setStatus(Blue, write ? QStringLiteral("Schreiben ...") : QStringLiteral("Prüfen ..."));
    const ProgType type = ProgType(progType());
    const CommandBuffer frame = ProgFields::singleFrame(
        operation, type, ProgFields::wholeNumber(m_value[0]->text()),
        ProgFields::wholeNumber(m_value[1]->text()), ProgFields::wholeNumber(m_value[2]->text()));
    if (write) {
        const QString question = ProgFields::writeQuestion(type, m_value[0]->text(),
                                                           m_value[1]->text(), m_value[2]->text());
        if (showMessageBox(BoxIcon::Question, BoxButtons::YesNo, BoxAnswer::No, Program::Title,
                           question)
            != BoxAnswer::Yes)
            return;
    }
    SetLed(Lamp::Running);
    WaitSeconds(1);
    const qint64 start = startTime();
    if (m_programmer.singleExchange(frame) == DecoderReply::Acknowledged) {
        SetLed(Lamp::Done);
        setStatus(Green, write ? QStringLiteral("Der Wert wurde erfolgreich gesetzt")
                               : QStringLiteral("Der Inhalt entspricht dem gesuchten Wert"));
    } else {
        SetLed(Lamp::Failed);
        setStatus(Red, write ? QStringLiteral("Der Wert konnte nicht gesetzt werden")
                             : QStringLiteral("Der Inhalt entspricht nicht dem gesuchten Wert"));
    }
    m_display->elapsed()->setText(ProgFields::elapsedMsText(startTime() - start));
}

void kzLocoList::searchValue()
{
    const ProgType type = ProgType(progType());
    ProgButtonsEnabled(false);
    setStatus(Blue, QStringLiteral("Wert suchen ...."));
    SetLed(Lamp::Running);
    WaitSeconds(1);
    const qint64 start = startTime();
    const int address = ProgFields::wholeNumber(m_value[0]->text());
    const int result = type == ProgType::FullCV ? m_programmer.ReadCVBits(address)
                                                  : m_programmer.FindValue(address, 0, 255);
    const QString what = QStringLiteral("Wert für ")
                         + (type == ProgType::FullCV ? QStringLiteral("CV")
                                                     : QStringLiteral("Register"))
                         + QLatin1Char(' ') + m_value[0]->text();
    if (result >= 0) {
        SetLed(Lamp::Done);
        setStatus(Green, what + QStringLiteral(" ist ") + QString::number(result));
        m_value[2]->setText(QString::number(result));
    } else if (result == DecoderProgrammer::NotFound) {
        SetLed(Lamp::Failed);
        setStatus(Red, what + QStringLiteral(" konnte nicht ermittelt werden"));
    }
    m_display->elapsed()->setText(ProgFields::searchElapsedText(startTime() - start));
    ProgButtonsEnabled(true);
}

// --- loco number ---------------------------------------------------------------

void kzLocoList::setLocoNumber()
{
    if (m_busy || !sysDataOK(this))
        return;
    const OperationScope busy(m_busy);
    const int number = ProgFields::wholeNumber(m_locoNumber->text());
    const QString n = QString::number(number);
    if (showMessageBox(BoxIcon::Question, BoxButtons::YesNo, BoxAnswer::No, Program::Title,
                       QStringLiteral("Möchten Sie die Lok auf die Nummer ") + n
                           + QStringLiteral(" einstellen ?"))
        != BoxAnswer::Yes)
        return;
    SetLed(Lamp::Running);
    setStatus(Blue, m_progTab->display()->status()->text());
    SetProgMode(true);
    setStatus(Blue, (Addressing::isShortAddress(number) ? QStringLiteral("Niedrige Lok-Nummer ")
                                                         : QStringLiteral("Hohe Lok-Nummer "))
                        + n + QStringLiteral(" setzen ..."));
    WaitSeconds(1);
    const qint64 start = startTime();
    if (m_programmer.setLocoNumber(number) == DecoderProgrammer::SetResult::Done) {
        SetLed(Lamp::Done);
        setStatus(Green, QStringLiteral("Lok-Nummer ") + n + QStringLiteral(" wurde erfolgreich gesetzt"));
    } else {
        SetLed(Lamp::Failed);
        setStatus(Red, QStringLiteral("Lok-Nummer konnte nicht gesetzt werden"));
    }
    m_display->elapsed()->setText(ProgFields::elapsedMsText(startTime() - start));
    SetProgMode(false);
}

void kzLocoList::recogniseLocoNumber()
{
    if (m_busy)
        return;
    const OperationScope busy(m_busy);
    ProgButtonsEnabled(false);
    SetLed(Lamp::Running);
    setStatus(Blue, QStringLiteral("Lok-Nummern-Erkennung ..."));
    const qint64 start = startTime();
    SetProgMode(true);

    const DecoderProgrammer::Recognition recognition = m_programmer.recogniseLocoNumber();
    switch (recognition.outcome) {
    case DecoderProgrammer::Recognition::Recognised:
        SetLed(Lamp::Done);
        setStatus(Green, QStringLiteral("Erkannte Lok-Nummer ") + QString::number(recognition.number)
                             + recognition.suffix);
        QCoreApplication::processEvents();
        if (m_autoConfig->isChecked())
            SaveLocoEntry(recognition.number,
                          recognition.fourteenSteps ? LocoFlags::Steps14 : LocoFlags::Steps28);
        break;
    case DecoderProgrammer::Recognition::NotFound:
        SetLed(Lamp::Failed);
        setStatus(Red, QStringLiteral("Lok-Nummer nicht gefunden"));
        break;
    case DecoderProgrammer::Recognition::NotRecognised:
        SetLed(Lamp::Failed);
        setStatus(Red, QStringLiteral("Lok-Nummer konnte nicht erkannt werden"));
        break;
    }

    SetProgMode(false);
    m_display->elapsed()->setText(ProgFields::elapsedMsText(startTime() - start));
    ProgButtonsEnabled(true);
}

void kzLocoList::saveAutoConfig(bool checked)
{
    sysSaveSetting(AutoConfigKey, checked ? QStringLiteral("1") : QStringLiteral("0"),
                   SettingsSection);
}

// --- the decoder tab -------------------------------------------------------------

void kzLocoList::runDecoderJob(const DecoderTab::Request &request)
{
    if (m_busy)
        return;
    const OperationScope busy(m_busy);
    // The job shows its lamps, progress and abort on the decoder tab.
    m_display = m_decoderTab->display();
    ProgButtonsEnabled(false);
    m_decoderTab->jobStarts(request);
    SetProgMode(true);
    WaitSeconds(1);
    const qint64 start = startTime();
    const DecoderJobs::Outcome outcome = m_decoderJobs.run(request.job);
    SetProgMode(false);
    m_display->elapsed()->setText(ProgFields::searchElapsedText(startTime() - start));
    // The outcome once the track is off: a backup is saved only now.
    m_decoderTab->showOutcome(outcome, request);
    ProgButtonsEnabled(true);
    m_display = m_progTab->display();
}
