#include "dashboard/kzvelantor.h"

#include "common/application.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    setUpApplicationIdentity();

    kzVelantor window;
    window.startUp();
    window.show();
    return app.exec();
}
