#pragma once

#include <QComboBox>
#include <QGroupBox>
#include <QList>
#include <QSlider>

class QLabel;
class QPushButton;
class QToolButton;
class Roster;

// The loco number box: an editable combo box that tells when its list is
// about to open and when the user leaves it.
class LocoNumberBox final : public QComboBox
{
    Q_OBJECT

public:
    explicit LocoNumberBox(QWidget *parent = nullptr);

    void showPopup() override;

signals:
    // Before the list opens, so that it can still be filled.
    void dropDown();
    // The focus went to another control of the window (not to the list, a
    // message box or another program).
    void focusLost();

protected:
    void focusOutEvent(QFocusEvent *event) override;
};

// The twelve function keys "F1" to "F12" as toggle buttons; each button's
// key is its caption.
class FunctionKeyBar final : public QWidget
{
    Q_OBJECT

public:
    explicit FunctionKeyBar(QWidget *parent = nullptr);

    QToolButton *button(const QString &key) const;
    const QList<QToolButton *> &buttons() const { return m_buttons; }

    // Puts a key back into a state the controller has, without telling.
    void restore(const QString &key, bool pressed);

signals:
    // A key changed its state, however it was pressed (mouse, keyboard or the
    // accessibility interface); pressed is its new state.
    void buttonToggled(const QString &key, bool pressed);

private:
    QList<QToolButton *> m_buttons;
    bool m_restoring = false;
};

// The speed slider, vertical, its value the speed: 0 (stopped) at the bottom,
// 255 at the top. Arrows, Page keys and the wheel step as in any slider; Home
// stops the loco, and End does nothing: no single key gives full speed.
class SpeedSlider final : public QSlider
{
    Q_OBJECT

public:
    explicit SpeedSlider(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// One loco panel ("Lok-Steuerung"). It only shows; the main window sends.
class LocoPanel final : public QGroupBox
{
    Q_OBJECT

public:
    LocoPanel(int index, QWidget *parent = nullptr);

    int index() const { return m_index; }

    LocoNumberBox *kzSliderNo() const { return m_sliderNo; }
    // The roster's name of the loco the panel drives; empty for a loco the
    // roster does not know.
    QLabel *lblLokName() const { return m_name; }
    QLabel *lblFahrstufen() const { return m_speedSteps; }
    QPushButton *btnStop() const { return m_stop; }
    QLabel *lblSliderValue() const { return m_sliderValue; }
    QSlider *kzSlider() const { return m_slider; }
    QPushButton *chkLight() const { return m_light; }
    FunctionKeyBar *tlbFunctionKeys() const { return m_functions; }
    QToolButton *kzDirection() const { return m_direction; }

    // Percentage label and tool-tip for the slider value; the direction and
    // loco number can be changed only at the stop position.
    void showSliderValue(int value);

    // Put the direction or the light back into a state the controller has,
    // without telling: nothing is to be sent for it.
    void restoreDirection(bool up);
    void restoreLight(bool on);

    // The roster whose names and labels the panel shows for its loco: the
    // name under the number, the labels as the keys' tool-tips and
    // accessible descriptions (the captions stay F1 to F12).
    void setRoster(const Roster *roster);

signals:
    // The direction or the light changed, however the button was pressed
    // (mouse, keyboard or the accessibility interface).
    void directionToggled(bool up);
    void lightToggled(bool on);

private:
    void showDirection(bool up);
    void showLight(bool on);
    void showRosterEntry();

    int m_index;
    const Roster *m_roster = nullptr;
    LocoNumberBox *m_sliderNo;
    QLabel *m_name;
    QLabel *m_speedSteps;
    QPushButton *m_stop;
    QLabel *m_sliderValue;
    QSlider *m_slider;
    QPushButton *m_light;
    FunctionKeyBar *m_functions;
    QToolButton *m_direction;
    bool m_restoring = false;
};
