#include "dashboard/locopanel.h"

#include "dashboard/dashboardlogic.h"
#include "dashboard/pictures.h"
#include "roster/roster.h"

#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

LocoNumberBox::LocoNumberBox(QWidget *parent)
    : QComboBox(parent)
{
    setEditable(true);
    // Typing a number and pressing Enter must not grow the list: it holds
    // only what the controller lists.
    setInsertPolicy(QComboBox::NoInsert);
}

void LocoNumberBox::showPopup()
{
    emit dropDown();
    QComboBox::showPopup();
}

void LocoNumberBox::focusOutEvent(QFocusEvent *event)
{
    QComboBox::focusOutEvent(event);
    // The list, a message box or another program taking the focus is no
    // leaving of the box; a query there would also run while a box is open.
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason)
        return;
    emit focusLost();
}

FunctionKeyBar::FunctionKeyBar(QWidget *parent)
    : QWidget(parent)
{
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(2);
    for (int number = 1; number <= 12; ++number) {
        const QString key = QStringLiteral("F") + QString::number(number);
        auto *button = new QToolButton(this);
        button->setObjectName(key);
        button->setText(key);
        button->setCheckable(true);
        button->setFocusPolicy(Qt::TabFocus);
        button->setMinimumWidth(34);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        grid->addWidget(button, (number - 1) / 2, (number - 1) % 2);
        // The state, not the click: the accessibility interface toggles a
        // button without clicking it.
        connect(button, &QToolButton::toggled, this, [this, key](bool pressed) {
            if (!m_restoring)
                emit buttonToggled(key, pressed);
        });
        // However the state changes, the colour follows it.
        connect(button, &QToolButton::toggled, button, [button](bool on) {
            setButtonColour(button, on ? FunctionOnColour : QColor());
        });
        m_buttons.append(button);
    }
}

QToolButton *FunctionKeyBar::button(const QString &key) const
{
    for (QToolButton *button : m_buttons) {
        if (button->objectName().compare(key, Qt::CaseInsensitive) == 0)
            return button;
    }
    return nullptr;
}

void FunctionKeyBar::restore(const QString &key, bool pressed)
{
    QToolButton *target = button(key);
    if (!target)
        return;
    const QScopedValueRollback<bool> restoring(m_restoring, true);
    target->setChecked(pressed);
}

SpeedSlider::SpeedSlider(QWidget *parent)
    : QSlider(Qt::Vertical, parent)
{
    setRange(0, 255);
}

void SpeedSlider::keyPressEvent(QKeyEvent *event)
{
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        switch (event->key()) {
        case Qt::Key_Home:
            triggerAction(SliderToMinimum);
            event->accept();
            return;
        case Qt::Key_End:
            event->accept();
            return;
        default:
            break;
        }
    }
    QSlider::keyPressEvent(event);
}

LocoPanel::LocoPanel(int index, QWidget *parent)
    : QGroupBox(QStringLiteral("Lok-Steuerung"), parent)
    , m_index(index)
{
    setObjectName(QStringLiteral("SSFrame") + QString::number(index + 1));
    const QString where = QStringLiteral(" (Lok-Steuerung %1)").arg(index + 1);

    m_sliderNo = new LocoNumberBox(this);
    m_sliderNo->setObjectName(QStringLiteral("kzSliderNo"));
    m_sliderNo->setEditText(QString::number(index + 1));
    m_sliderNo->lineEdit()->setAlignment(Qt::AlignCenter);
    m_sliderNo->setAccessibleName(QStringLiteral("Lok-Nummer") + where);
    m_sliderNo->setToolTip(QStringLiteral("Lok-Nummer"));
    m_sliderNo->setMinimumContentsLength(5);

    // Empty unless the roster knows the loco; it takes no width of its own,
    // so that a long name does not widen the panel (the tool-tip has it all).
    m_name = new QLabel(this);
    m_name->setObjectName(QStringLiteral("lblLokName"));
    m_name->setAlignment(Qt::AlignCenter);
    m_name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_name->setMinimumHeight(m_name->fontMetrics().height());

    m_speedSteps = new QLabel(QStringLiteral("Fahrstf."), this);
    m_speedSteps->setObjectName(QStringLiteral("lblFahrstufen"));
    m_speedSteps->setAlignment(Qt::AlignCenter);
    m_speedSteps->setToolTip(QStringLiteral("Fahrstufen der Lok"));

    m_stop = new QPushButton(QStringLiteral("STOP"), this);
    m_stop->setObjectName(QStringLiteral("btnStop"));
    m_stop->setAccessibleName(QStringLiteral("STOP") + where);
    QFont bold = m_stop->font();
    bold.setBold(true);
    m_stop->setFont(bold);
    setButtonColour(m_stop, StatusColour::Failure);

    m_sliderValue = new QLabel(this);
    m_sliderValue->setObjectName(QStringLiteral("lblSliderValue"));
    m_sliderValue->setAlignment(Qt::AlignCenter);
    m_sliderValue->setFont(bold);

    m_slider = new SpeedSlider(this);
    m_slider->setObjectName(QStringLiteral("kzSlider"));
    m_slider->setSingleStep(1);
    m_slider->setPageStep(16);
    // A drag reports only where the knob is let go.
    m_slider->setTracking(false);
    m_slider->setValue(SliderStop);
    m_slider->setMinimumHeight(250);
    m_slider->setAccessibleName(QStringLiteral("Geschwindigkeit") + where);

    m_light = new QPushButton(QStringLiteral("Licht"), this);
    m_light->setObjectName(QStringLiteral("chkLight"));
    m_light->setCheckable(true);
    m_light->setAccessibleName(QStringLiteral("Licht") + where);

    m_functions = new FunctionKeyBar(this);
    m_functions->setObjectName(QStringLiteral("tlbFunctionKeys"));
    for (QToolButton *button : m_functions->buttons())
        button->setAccessibleName(button->text() + where);

    m_direction = new QToolButton(this);
    m_direction->setObjectName(QStringLiteral("kzDirection"));
    m_direction->setCheckable(true);
    m_direction->setChecked(true);
    // A click takes the focus, so that leaving the loco number by it asks for
    // the speed steps before the direction is sent.
    m_direction->setFocusPolicy(Qt::StrongFocus);
    m_direction->setIconSize(QSize(24, 24));
    m_direction->setAccessibleName(QStringLiteral("Fahrtrichtung") + where);
    m_direction->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->addWidget(m_sliderNo, 0, 0);
    grid->addWidget(m_speedSteps, 0, 1);
    grid->addWidget(m_name, 1, 0, 1, 2);
    grid->addWidget(m_stop, 2, 0, 1, 2);
    grid->addWidget(m_sliderValue, 3, 0);

    auto *right = new QVBoxLayout;
    right->setSpacing(4);
    right->addWidget(m_light);
    right->addWidget(m_functions);
    right->addStretch(1);
    auto *sliderBox = new QHBoxLayout;
    sliderBox->addStretch(1);
    sliderBox->addWidget(m_slider);
    sliderBox->addStretch(1);
    grid->addLayout(sliderBox, 4, 0);
    grid->addLayout(right, 4, 1, 2, 1);
    grid->addWidget(m_direction, 5, 0);
    grid->setRowStretch(4, 1);

    setTabOrder(m_sliderNo, m_stop);
    setTabOrder(m_stop, m_slider);
    setTabOrder(m_slider, m_light);

    // The look first, then the intent: a refused intent restores the state
    // from within, and the look must end with the restored one.
    connect(m_direction, &QToolButton::toggled, this, [this](bool up) {
        showDirection(up);
        if (!m_restoring)
            emit directionToggled(up);
    });
    connect(m_light, &QPushButton::toggled, this, [this](bool on) {
        showLight(on);
        if (!m_restoring)
            emit lightToggled(on);
    });
    showDirection(true);
    showSliderValue(SliderStop);
    connect(m_sliderNo, &QComboBox::currentTextChanged, this, &LocoPanel::showRosterEntry);
}

void LocoPanel::setRoster(const Roster *roster)
{
    m_roster = roster;
    if (roster)
        connect(roster, &Roster::changed, this, &LocoPanel::showRosterEntry);
    showRosterEntry();
}

void LocoPanel::showRosterEntry()
{
    const std::optional<int> loco = locoNumberFromText(m_sliderNo->currentText());
    const RosterEntry *entry = m_roster && loco ? m_roster->forAddress(*loco) : nullptr;
    m_name->setText(entry ? entry->id : QString());
    m_name->setToolTip(m_name->text());
    auto label = [entry](int function) {
        return entry && entry->hasLabel(function) ? entry->label(function).text.trimmed() : QString();
    };
    m_light->setToolTip(label(0));
    m_light->setAccessibleDescription(label(0));
    for (int n = 1; n <= RosterEntry::MaxLabelledFunction; ++n) {
        QToolButton *button = m_functions->button(functionKey(n));
        button->setToolTip(label(n));
        button->setAccessibleDescription(label(n));
    }
}

void LocoPanel::showSliderValue(int value)
{
    const QString text = percentText(value);
    m_sliderValue->setText(text);
    m_slider->setToolTip(text);
    const bool stopped = value == SliderStop;
    m_direction->setEnabled(stopped);
    m_sliderNo->setEnabled(stopped);
}

void LocoPanel::restoreDirection(bool up)
{
    const QScopedValueRollback<bool> restoring(m_restoring, true);
    m_direction->setChecked(up);
}

void LocoPanel::restoreLight(bool on)
{
    const QScopedValueRollback<bool> restoring(m_restoring, true);
    m_light->setChecked(on);
}

void LocoPanel::showDirection(bool up)
{
    m_direction->setIcon(directionIcon(up));
    m_direction->setToolTip(up ? QStringLiteral("Fahrtrichtung 1") : QStringLiteral("Fahrtrichtung 0"));
}

void LocoPanel::showLight(bool on)
{
    setButtonColour(m_light, on ? LightOnColour : QColor());
}
