#include "controller/kzcontrollersettingsvl.h"

kzControllerSettingsVL::kzControllerSettingsVL(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Controller-Einstellungen"));
}

kzControllerSettingsVL::~kzControllerSettingsVL() = default;

void kzControllerSettingsVL::setControllerID(int id)
{
    Q_UNUSED(id);
}

void kzControllerSettingsVL::setAllowHWNotstop(bool allow)
{
    Q_UNUSED(allow);
}
