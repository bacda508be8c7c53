#include "common/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool installGermanQtTranslations()
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    // qtbase holds every text the widgets and the command-line parser show;
    // the meta catalogue qt_de would also want modules the program does not
    // use, and fails to load where one of them is missing.
    if (!translator->load(QStringLiteral("qtbase_de"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
