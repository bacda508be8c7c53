#pragma once

#include <QDialog>

struct ControllerSettingsData;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The dialog that shows and changes one controller's pins and hardware
// emergency stop setting, and shows its firmware version and board layout.
//
// It reads the controller once each time it is shown and writes to it only
// when the user has passed the warning of "Einstellungen ändern" and pressed
// OK. Its exchanges go through the shared module's command buffer.
class kzControllerSettingsVL : public QDialog
{
    Q_OBJECT

public:
    explicit kzControllerSettingsVL(QWidget *parent = nullptr);
    ~kzControllerSettingsVL() override;

    // The controller the dialog works on; set before the dialog is shown.
    void setControllerID(int id);
    // Whether the emergency stop check box may be offered; the dialog sets
    // it to true again whenever it is shown.
    void setAllowHWNotstop(bool allow);

    // True between Yes to the warning and the end of the dialog.
    bool isEditing() const { return m_editing; }
    // Whether the read at the last showing got every answer.
    bool lastReadSucceeded() const { return m_readSucceeded; }

    // The caption the dialog starts with.
    static QString baseCaption();
    // The warning before anything can be changed.
    static QString changeWarningText();
    static QString savedText();
    static QString notSavedText();
    static QString undefinedLayoutText();

protected:
    void showEvent(QShowEvent *event) override;
    void done(int result) override;

private slots:
    void activateFirstTime();
    void changeSettings();
    void saveSettings();

private:
    void loadDialog();
    void showData();
    // Empty fields and labels while the controller is read: what an earlier
    // opening read may belong to another controller.
    void showReading();
    void setEditing(bool editing);
    QList<QLineEdit *> pinFields() const;

    ControllerSettingsData &m_data;
    bool m_editing = false;
    bool m_readSucceeded = false;
    // The controller is being read or written.
    bool m_busy = false;

    QLabel *m_lblFirmwareVersion = nullptr;
    QLabel *m_lblControllerType = nullptr;
    QLabel *m_lblHWNotstop = nullptr;
    QCheckBox *m_chkHWNotstop = nullptr;
    QLabel *m_lblNotstopNotAvailable = nullptr;
    QLineEdit *m_txtOperationPin = nullptr;
    QLineEdit *m_txtOperationCircuit = nullptr;
    QLineEdit *m_txtSensingChannelAPin = nullptr;
    QLineEdit *m_txtProgrammingPin = nullptr;
    QLineEdit *m_txtProgrammingCircuit = nullptr;
    QLineEdit *m_txtSensingChannelBPin = nullptr;
    QPushButton *m_cmdChangeSettings = nullptr;
    QPushButton *m_cmdClose = nullptr;
    QPushButton *m_cmdOK = nullptr;
    QPushButton *m_cmdCancel = nullptr;
};
