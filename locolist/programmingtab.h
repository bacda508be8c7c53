#pragma once

#include <QWidget>

class OperationDisplay;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class SpinButtons;

// The "Programmierung" tab: status lamps and text, progress, the CV,
// bit and register fields with their three operations, and the loco number.
// It only shows and reports clicks; the window runs the operations with its
// programmer.
class ProgrammingTab final : public QWidget
{
    Q_OBJECT

public:
    // locoNumberRule is the rule of the loco number field.
    explicit ProgrammingTab(const QString &locoNumberRule, QWidget *parent = nullptr);

    // Every control that can start an operation; "Wert suchen" stays off in
    // bit mode.
    void setControlsEnabled(bool enabled);

    // Lamps, status, progress, elapsed time and abort of its operations.
    OperationDisplay *display() const { return m_display; }
    QCheckBox *autoConfig() const { return m_autoConfig; }
    QRadioButton *progType(int index) const { return m_progType[index]; }
    QLabel *lblCV() const { return m_lblCV; }
    QLabel *lblBit() const { return m_lblBit; }
    QLabel *lblValue() const { return m_lblValue; }
    QLineEdit *value(int index) const { return m_value[index]; }
    SpinButtons *spin(int index) const { return m_spin[index]; }
    QPushButton *operation(int index) const { return m_operation[index]; }
    QLabel *lblLocoNumber() const { return m_lblLocoNumber; }
    QLineEdit *locoNumber() const { return m_locoNumber; }
    QPushButton *locoNumberSet() const { return m_locoNumberSet; }
    QPushButton *locoRecognition() const { return m_locoRecognition; }

signals:
    void breakClicked();
    void autoConfigToggled(bool checked);
    void typeChosen(int type);
    void stepClicked(int index, bool up);
    void operationClicked(int operation);
    void setLocoNumberClicked();
    void recogniseClicked();

private:
    OperationDisplay *m_display = nullptr;
    QCheckBox *m_autoConfig = nullptr;
    QRadioButton *m_progType[3] = {};
    QLabel *m_lblCV = nullptr;
    QLabel *m_lblBit = nullptr;
    QLabel *m_lblValue = nullptr;
    QLineEdit *m_value[3] = {};
    SpinButtons *m_spin[3] = {};
    QPushButton *m_operation[3] = {};
    QLabel *m_lblLocoNumber = nullptr;
    QLineEdit *m_locoNumber = nullptr;
    QPushButton *m_locoNumberSet = nullptr;
    QPushButton *m_locoRecognition = nullptr;
};
