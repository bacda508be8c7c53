#pragma once

#include <QDialog>

// The loco configuration and programming window of one controller.
class kzLocoList : public QDialog
{
    Q_OBJECT

public:
    explicit kzLocoList(QWidget *parent = nullptr);
    ~kzLocoList() override;

    // The controller every exchange of the window goes to. Set before the
    // window is shown.
    void setControllerID(int id);

private:
    int m_controllerId = 0;
};
