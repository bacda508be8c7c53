#include "dashboard/kzvelantor.h"

#include "common/flagscope.h"
#include "common/lineboxes.h"
#include "common/validation.h"
#include "common/windowsequence.h"
#include "dashboard/accessorypanel.h"
#include "dashboard/dashboardlogic.h"
#include "dashboard/locopanel.h"
#include "link/commands.h"
#include "link/exchange.h"
#include "link/locodriver.h"
#include "link/locoframes.h"
#include "link/locostate.h"
#include "locolist/lococonfig.h"

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>

// The main window's four loco panels and four accessory panels, mapped onto
// the loco driver: a panel's control becomes a drive intent, and a panel
// shows what the loco state says about its loco.

std::optional<bool> kzVelantor::driveLoco(int panel, DriveIntent intent)
{
    const auto controller = controllerNumber();
    if (!controller)
        return std::nullopt;
    const auto loco = locoNumber(panel);
    if (!loco)
        return std::nullopt;
    intent.loco = *loco;
    return submitFromWindow(intent.to(*controller)).status != DriveResult::Status::Failed;
}

DriveResult kzVelantor::submitFromWindow(DriveIntent intent)
{
    intent.tag = ++m_driveSerial;
    const DriveResult result = m_driver->submit(intent);
    if (result.status == DriveResult::Status::Queued)
        m_pendingDrives.insert(intent.tag);
    else if (result.status == DriveResult::Status::Failed)
        showExchangeBoxes(result.frame, Exchange::Window, result.exchange);
    return result;
}

void kzVelantor::windowDriveFinished(const DriveIntent &intent, const DriveResult &result)
{
    if (intent.source != DriveSource::Window || !m_pendingDrives.remove(intent.tag))
        return;
    // The panel keeps what it shows, as for an answer that did not come at
    // once; the user hears of it as for any window exchange.
    if (result.status == DriveResult::Status::Failed)
        showExchangeBoxes(result.frame, Exchange::Window, result.exchange);
}

void kzVelantor::followLocoState(int number, const LocoSnapshot &before, const LocoSnapshot &after)
{
    // Only what changed is taken over: a panel keeps whatever else it shows,
    // as it always has when its loco number was changed.
    for (LocoPanel *panel : m_locoPanels) {
        if (locoNumberFromText(panel->kzSliderNo()->currentText()) != number)
            continue;
        if (before.speed != after.speed) {
            const FlagScope quiet(m_suppressSpeedCommand);
            panel->kzSlider()->setValue(sliderFromSpeed(after.speed));
        }
        // The buttons are set without their toggled signals: the loco has
        // this state already, and nothing is to be sent for it.
        if (before.forward != after.forward)
            panel->restoreDirection(after.forward);
        if (before.light() != after.light())
            panel->restoreLight(after.light());
        for (int function = 1; function <= Limits::MaxFunction; ++function) {
            if (before.function(function) != after.function(function))
                panel->tlbFunctionKeys()->restore(functionKey(function), after.function(function));
        }
    }
}

// --- loco panels --------------------------------------------------------

void kzVelantor::changeSlider(int panel, int value)
{
    QSlider *slider = m_locoPanels[panel]->kzSlider();
    if (!m_suppressSpeedCommand
        && !driveLoco(panel, DriveIntent::speed(0, speedFromSlider(value)))) {
        // Nothing was sent: the knob goes back to the speed the loco has.
        const FlagScope quiet(m_suppressSpeedCommand);
        slider->setValue(m_lastSliderValue[panel]);
        return;
    }
    m_lastSliderValue[panel] = value;
    m_locoPanels[panel]->showSliderValue(value);
}

void kzVelantor::clickDirection(int panel, bool pressed)
{
    if (!driveLoco(panel, DriveIntent::direction(0, pressed)))
        m_locoPanels[panel]->restoreDirection(!pressed);
}

void kzVelantor::clickLight(int panel, bool pressed)
{
    if (!driveLoco(panel, DriveIntent::function(0, 0, pressed)))
        m_locoPanels[panel]->restoreLight(!pressed);
}

void kzVelantor::clickFunctionKey(int panel, const QString &key, bool pressed)
{
    const int number = functionNumberFromKey(key);
    if (!driveLoco(panel, DriveIntent::function(0, number, pressed)))
        m_locoPanels[panel]->tlbFunctionKeys()->restore(key, !pressed);
}

void kzVelantor::clickStop(int panel)
{
    const FlagScope quiet(m_suppressSpeedCommand);
    driveLoco(panel, DriveIntent::stop(0));
    // The panel returns to the stop position also when nothing could be
    // sent, so that its loco number can be corrected.
    m_locoPanels[panel]->kzSlider()->setValue(SliderStop);
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
    const auto entry =
        RunWindowExchange(LocoFrames::locoEntry(*controller, *loco), Exchange::Window).reply;
    // Without a reply the speed steps are unknown: "Fehler", as for the
    // undefined code 0.
    label->setText(speedStepText(entry ? entry->p1 : LocoFlags::StepsUndefined));
    // The phones say the same steps.
    m_state->setSpeedSteps(*loco, entry && entry->p1 != NothingToReport
                                      ? LocoFlags::speedSteps(entry->p1) : 0);
}

void kzVelantor::FillLocoNumberList(int panel)
{
    if (WindowSequence::refuses())
        return;
    const WindowSequence sequence;
    LocoNumberBox *box = m_locoPanels[panel]->kzSliderNo();
    const QString text = box->currentText();
    box->clear();
    box->setEditText(text);

    const auto controller = controllerNumber();
    if (!controller)
        return;
    // The numbers in the controller's order; what was read before a request
    // went unanswered stays.
    LocoConfig::walkLocoList(*controller, [box](int number, quint8) {
        box->addItem(QString::number(number));
    });
    // Adding the first entry selects it; the typed number stays.
    box->setCurrentIndex(-1);
    box->setEditText(text);
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
    submitFromWindow(DriveIntent::accessory(decoderId, port, on).to(*controller));
}
