#pragma once

#include <QDialog>

// The dialog that shows and changes one controller's pins and hardware
// emergency stop setting, and shows its firmware version and board layout.
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
};
