#include "locolist/kzlocolist.h"

kzLocoList::kzLocoList(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Lok-Konfiguration / Programmierung"));
}

kzLocoList::~kzLocoList() = default;

void kzLocoList::setControllerID(int id)
{
    m_controllerId = id;
}
