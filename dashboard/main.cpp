#include "dashboard/kzvelantor.h"

#include "common/application.h"
#include "common/translations.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    setUpApplicationIdentity();
    installGermanQtTranslations();

    kzVelantor window;
    window.startUp();
    window.show();
    return app.exec();
}
