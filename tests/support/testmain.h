#pragma once

#include <QApplication>
#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>

// Every test program runs with a settings store and a data folder (the
// roster's) of its own, never the user's, the German locale and, for
// widgets, the offscreen platform.
#define KZ_TEST_MAIN(TestObject)                                                   \
    int main(int argc, char *argv[])                                               \
    {                                                                              \
        QTemporaryDir configDir;                                                   \
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir.path()));           \
        QTemporaryDir dataDir;                                                     \
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataDir.path()));               \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                        \
            qputenv("QT_QPA_PLATFORM", "offscreen");                               \
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));           \
        QApplication app(argc, argv);                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                   \
        TestObject test;                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                 \
        return QTest::qExec(&test, argc, argv);                                    \
    }
