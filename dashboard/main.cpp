#include "dashboard/kzvelantor.h"

#include "common/application.h"
#include "common/translations.h"
#include "link/controllerline.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    setUpApplicationIdentity();
    installGermanQtTranslations();

    // The serial line runs on a thread of its own: the window never waits on
    // the device, and a stop goes out while a sequence waits for a reply.
    ControllerLine line(ControllerLine::Mode::Threaded);
    setControllerLine(&line);

    int result = 0;
    {
        kzVelantor window;
        window.startUp();
        window.show();
        result = app.exec();
    }
    setControllerLine(nullptr);
    return result;
}
