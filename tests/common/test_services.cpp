#include "common/application.h"
#include "common/errors.h"
#include "common/program.h"
#include "common/settings.h"
#include "common/translations.h"

#include "../support/recordingboxes.h"
#include "../support/testmain.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

namespace {

QString withoutMnemonic(QString text)
{
    text = text.section(QLatin1Char('\t'), 0, 0); // the shortcut shown beside a menu entry
    return text.remove(QLatin1Char('&'));
}

// Every text a window shows: captions, labels, tool-tips, entries of lists
// and menus.
QStringList shownTexts(const QWidget &window)
{
    QStringList texts;
    for (const QLabel *label : window.findChildren<QLabel *>())
        texts << label->text();
    for (const QAbstractButton *button : window.findChildren<QAbstractButton *>())
        texts << button->text() << button->toolTip();
    for (const QComboBox *list : window.findChildren<QComboBox *>()) {
        for (int i = 0; i < list->count(); ++i)
            texts << list->itemText(i);
    }
    for (const QAction *action : window.findChildren<QAction *>())
        texts << action->text() << action->toolTip();
    for (QString &text : texts)
        text = withoutMnemonic(text);
    return texts;
}

} // namespace

// Settings, error boxes and the small text helpers.
class TestServices : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // As the programs do at start; the tests run in the C locale, so this
        // also shows that the catalogue does not follow the locale.
        QVERIFY(installGermanQtTranslations());
    }

    void settingsDefaults()
    {
        QCOMPARE(sysGetSetting(QStringLiteral("SignalOutputTo"), QStringLiteral("NUL"), SettingsSection),
                 QStringLiteral("NUL"));
        sysSaveSetting(QStringLiteral("SignalOutputTo"), QString(), SettingsSection);
        QCOMPARE(sysGetSetting(QStringLiteral("SignalOutputTo"), QStringLiteral("NUL"), SettingsSection),
                 QStringLiteral("NUL"));
        sysSaveSetting(QStringLiteral("AutoConfig"), QStringLiteral("0"), SettingsSection);
        QCOMPARE(sysGetSetting(QStringLiteral("AutoConfig"), QStringLiteral("1"), SettingsSection),
                 QStringLiteral("0"));
        sysSaveSetting(QStringLiteral("Slider02"), QStringLiteral(" 7 "), SettingsSection);
        QCOMPARE(sysGetSetting(QStringLiteral("Slider02"), QStringLiteral("3"), SettingsSection),
                 QStringLiteral(" 7 "));
    }

    void emptySectionIsProgramTitle()
    {
        sysSaveSetting(QStringLiteral("Key"), QStringLiteral("title"), QString());
        sysSaveSetting(QStringLiteral("Key"), QStringLiteral("own"), SettingsSection);
        QCOMPARE(sysGetSetting(QStringLiteral("Key"), QString(), QString()), QStringLiteral("title"));
        QSettings file(QSettings::NativeFormat, QSettings::UserScope, Program::CompanyName);
        QCOMPARE(file.value(QStringLiteral("TALVIRO Velantor/Key")).toString(), QStringLiteral("title"));
        QCOMPARE(file.value(QStringLiteral("Velantor/Key")).toString(), QStringLiteral("own"));
        QVERIFY(file.fileName().endsWith(QStringLiteral("/Brenholt EDV-Beratung.conf")));
        QVERIFY(file.fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
    }

    // Qt's X11 back end appends a display name that was set to every window
    // title ("Info — ..."): the display name must only follow the
    // application name, never be set.
    void applicationIdentityAddsNoTitleSuffix()
    {
        const QString before = QGuiApplication::applicationName();
        setUpApplicationIdentity();
        QCOMPARE(QGuiApplication::applicationName(), Program::ProductName);
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("example.talviro.Velantor"));
        QGuiApplication::setApplicationName(QStringLiteral("probe"));
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("probe"));
        QGuiApplication::setApplicationName(before);
    }

    void errorBoxes_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("start");
        QTest::newRow("dollar is a line break") << "Eins$Zwei" << "Eins\r\nZwei\r\n\r\nFür";
        QTest::newRow("two dollars give an empty line") << "Eins$$Zwei" << "Eins\r\n\r\nZwei\r\n\r\nFür";
        QTest::newRow("error number") << "53" << "Fehler 53: Datei nicht gefunden\r\n\r\nFür";
        QTest::newRow("plain text") << "Handbuch nicht vorhanden." << "Handbuch nicht vorhanden.\r\n\r\nFür";
    }
    void errorBoxes()
    {
        QFETCH(QString, message);
        QFETCH(QString, start);
        RecordingMessageBoxes recorder;
        sysShowError(message, false, false, QString());
        QCOMPARE(recorder.count(), 1);
        QVERIFY2(recorder.last().text.startsWith(start), qPrintable(recorder.last().text));
    }

    void supportParagraph()
    {
        const QString text = errorBoxText(QStringLiteral("X"));
        const QString expected = QStringLiteral(
            "X\r\n\r\nFür Rückfragen und Informationen stehen wir Ihnen gerne zur Verfügung:\r\n\r\n"
            "TALVIRO Modellbahnlösungen\r\n\r\nFon: %1\r\nFax:  %2\r\n"
            "(Supportzeiten auf unserer Homepage)\r\n\r\neMail:     %3\r\nInternet: %4")
                                     .arg(Program::SupportPhone, Program::SupportFax,
                                          Program::SupportEmail, Program::WebAddress);
        QCOMPARE(text, expected);
    }

    void errorBoxStyleAndCaption_data()
    {
        QTest::addColumn<bool>("information");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("shownCaption");
        QTest::newRow("warning, blank caption") << false << "   " << int(BoxIcon::Warning) << "TALVIRO Velantor";
        QTest::newRow("information, own caption")
            << true << " Versionskontrolle" << int(BoxIcon::Information) << " Versionskontrolle";
    }
    void errorBoxStyleAndCaption()
    {
        QFETCH(bool, information);
        QFETCH(QString, caption);
        QFETCH(int, icon);
        QFETCH(QString, shownCaption);
        RecordingMessageBoxes recorder;
        sysShowError(QStringLiteral("Text"), false, information, caption);
        QCOMPARE(int(recorder.last().icon), icon);
        QCOMPARE(recorder.last().caption, shownCaption);
        QCOMPARE(recorder.last().buttons, BoxButtons::Ok);
    }

    // The real box: German buttons, the default preselected, and the
    // clicked button comes back as the answer.
    void realBoxSpeaksGerman_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<QString>("click");
        QTest::addColumn<int>("answer");
        QTest::newRow("yes/no") << int(BoxButtons::YesNo) << QStringList{"&Ja", "&Nein"} << "&Nein"
                                << int(BoxAnswer::No);
        QTest::newRow("retry/cancel") << int(BoxButtons::RetryCancel)
                                      << QStringList{"&Wiederholen", "Abbrechen"} << "Abbrechen"
                                      << int(BoxAnswer::Cancel);
        QTest::newRow("ok") << int(BoxButtons::Ok) << QStringList{"OK"} << "OK" << int(BoxAnswer::Ok);
    }
    void realBoxSpeaksGerman()
    {
        QFETCH(int, buttons);
        QFETCH(QStringList, captions);
        QFETCH(QString, click);
        QFETCH(int, answer);
        QStringList seen;
        QString defaultCaption;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            QAbstractButton *target = nullptr;
            for (QAbstractButton *button : box->buttons()) {
                seen.append(button->text());
                if (button->text() == click)
                    target = button;
            }
            defaultCaption = box->defaultButton() ? box->defaultButton()->text() : QString();
            QVERIFY(target);
            target->click();
        });
        QtMessageBoxes boxes;
        const BoxAnswer result = boxes.show({BoxIcon::Question, BoxButtons(buttons),
                                             BoxAnswer(answer), Program::Title,
                                             QStringLiteral("Frage")});
        seen.sort();
        captions.sort();
        QCOMPARE(seen, captions);
        QCOMPARE(defaultCaption, click);
        QCOMPARE(int(result), answer);
    }

    // What Qt draws itself speaks German: its file dialog and the context
    // menu of every text field.
    void qtTextsSpeakGerman_data()
    {
        QTest::addColumn<bool>("fileDialog");
        QTest::addColumn<QString>("english");
        for (const char *text : {"Look in:", "File name:", "Files of type:", "Open", "Cancel",
                                 "Back", "Parent Directory", "Create New Folder", "Detail View"})
            QTest::addRow("file dialog: %s", text) << true << text;
        for (const char *text : {"Undo", "Redo", "Cut", "Copy", "Paste", "Delete", "Select All"})
            QTest::addRow("context menu: %s", text) << false << text;
    }
    void qtTextsSpeakGerman()
    {
        QFETCH(bool, fileDialog);
        QFETCH(QString, english);
        QStringList texts;
        if (fileDialog) {
            QFileDialog dialog;
            dialog.setOption(QFileDialog::DontUseNativeDialog);
            dialog.setFileMode(QFileDialog::ExistingFile);
            dialog.show();
            texts = shownTexts(dialog);
        } else {
            QLineEdit field(QStringLiteral("Text"));
            field.selectAll();
            const std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
            texts = shownTexts(*menu);
        }
        QVERIFY(texts.size() > 3);
        QVERIFY2(!texts.contains(english), qPrintable(texts.join(QLatin1Char('|'))));
    }

    void replaces_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<QString>("result");
        QTest::newRow("two dollars") << "a$b$c" << "$" << "XY" << "aXYbXYc";
        QTest::newRow("case blind") << "Abcabc" << "a" << "-" << "-bc-bc";
        QTest::newRow("replacement holds the search") << "aXa" << "a" << "aa" << "aaXaa";
        QTest::newRow("nothing found") << "abc" << "z" << "y" << "abc";
    }
    void replaces()
    {
        QFETCH(QString, text);
        QFETCH(QString, search);
        QFETCH(QString, replacement);
        QFETCH(QString, result);
        QCOMPARE(sysReplace(text, search, replacement), result);
    }

    void centresBelowRight_data()
    {
        QTest::addColumn<int>("screen");
        QTest::addColumn<int>("window");
        QTest::addColumn<int>("origin");
        QTest::newRow("fits") << 1024 << 324 << 356;
        QTest::newRow("odd difference") << 1025 << 324 << 357;
        QTest::newRow("larger than the screen") << 600 << 1000 << -194;
    }
    void centresBelowRight()
    {
        QFETCH(int, screen);
        QFETCH(int, window);
        QFETCH(int, origin);
        QCOMPARE(centeredOrigin(screen, window), origin);
    }
};

KZ_TEST_MAIN(TestServices)
#include "test_services.moc"
