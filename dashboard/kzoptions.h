#pragma once

#include <QDialog>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTabWidget;

// The port selection dialog ("Einstellungen"): simulation mode or COM1 to
// COM24. OK tests a chosen port by opening it, then makes the choice the
// current port and saves it; Cancel changes nothing.
class kzOptions final : public QDialog
{
    Q_OBJECT

public:
    explicit kzOptions(QWidget *parent = nullptr);

    QTabWidget *tabSettings() const { return m_tabs; }
    QGroupBox *fraCommPorts() const { return m_frame; }
    QLabel *lblInfo() const { return m_info; }
    QComboBox *cmbComPort() const { return m_ports; }
    QPushButton *btnOK() const { return m_ok; }
    QPushButton *btnCancel() const { return m_cancel; }
    // The port name chosen: from the settings when the list is filled, then
    // the one OK tested.
    QString chosenPortName() const { return m_chosenPortName; }

    // Fills the list and selects the saved choice; runs once, at the first
    // showing.
    void fillList();

public slots:
    void confirm();

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool m_firstActivation = true;
    QString m_chosenPortName;
    QTabWidget *m_tabs;
    QGroupBox *m_frame;
    QLabel *m_info;
    QComboBox *m_ports;
    QPushButton *m_ok;
    QPushButton *m_cancel;
};
