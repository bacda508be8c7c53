#include "dashboard/kzvelantor.h"

#include "common/program.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(Program::ProductName);
    QApplication::setApplicationDisplayName(Program::Title);

    kzVelantor window;
    window.startUp();
    window.show();
    return app.exec();
}
