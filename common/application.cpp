#include "common/application.h"

#include "common/program.h"

#include <QGuiApplication>

void setUpApplicationIdentity()
{
    QGuiApplication::setApplicationName(Program::ProductName);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(DesktopFileName));
}
