// The one-value input dialog, driven the way a user drives it.

#include "tests/support/recordingboxes.h"
#include "tests/support/testmain.h"

#include "common/inputdialog.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace {

const QString LocoRule = QStringLiteral("Die Lok-Nummer,NUM,MIN=1,MAX=10239");

// Runs sysInputBox and acts on the open dialog once it is shown.
QString runInputBox(const QString &caption, const QString &preset, const QString &rule,
                    int maxLength, const std::function<void(sysInput *)> &act)
{
    QTimer::singleShot(0, [act] {
        auto *dialog = qobject_cast<sysInput *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        act(dialog);
        // Whatever the test did, the dialog must not stay open forever.
        if (dialog->isVisible())
            QTimer::singleShot(0, dialog, [dialog] {
                if (dialog->isVisible())
                    dialog->cancelButton()->click();
            });
    });
    return sysInputBox(caption, QStringLiteral("Welche Lok-Nummer soll angelegt werden ?"), preset,
                       rule, maxLength);
}

} // namespace

class TestInputDialog : public QObject
{
    Q_OBJECT

private slots:
    void layoutAndCaption();
    void emptyCaptionIsProgramTitle();
    void cancelPaths_data();
    void cancelPaths();
    void validation_data();
    void validation();
    void maximumLength();
    void presetSelectedOnFocus();
    void enterActsLikeOk();
    void textReturnedAsTyped();
    void emptyRuleAcceptsAnything();

private:
    // No real message box may ever block a test.
    RecordingMessageBoxes m_noRealBoxes;
};

void TestInputDialog::layoutAndCaption()
{
    bool seen = false;
    runInputBox(QStringLiteral("Lok-Nummer"), QString(), LocoRule, 5, [&](sysInput *dialog) {
        seen = true;
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Lok-Nummer"));
        QCOMPARE(dialog->infoLabel()->text(),
                 QStringLiteral("Welche Lok-Nummer soll angelegt werden ?"));
        QCOMPARE(dialog->entry()->property("Tag").toString(), LocoRule);
        QCOMPARE(dialog->entry()->accessibleName(), dialog->infoLabel()->text());
        QCOMPARE(dialog->okButton()->text(), QStringLiteral("OK"));
        QCOMPARE(dialog->cancelButton()->text(), QStringLiteral("Abbruch"));
        QVERIFY(dialog->okButton()->isDefault());
        QCOMPARE(dialog->width(), 324);
        QVERIFY(dialog->parentWidget() == nullptr);
        // Tab order: entry, OK, Abbruch.
        QCOMPARE(dialog->entry()->nextInFocusChain(), dialog->okButton());
        QCOMPARE(dialog->okButton()->nextInFocusChain(), dialog->cancelButton());
        // A picture to look at: KZ_SHOT_DIR or "shots" beside the test.
        const QString dir = qEnvironmentVariable(
            "KZ_SHOT_DIR", QCoreApplication::applicationDirPath() + QStringLiteral("/shots"));
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(dialog->grab().save(dir + QStringLiteral("/sysinput.png")));
    });
    QVERIFY(seen);
}

void TestInputDialog::emptyCaptionIsProgramTitle()
{
    runInputBox(QString(), QString(), QString(), 0, [](sysInput *dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("TALVIRO Velantor"));
    });
}

void TestInputDialog::cancelPaths_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("Abbruch") << 0;
    QTest::newRow("Esc") << 1;
    QTest::newRow("close box") << 2;
    QTest::newRow("Tab to Abbruch, Enter") << 3;
}

void TestInputDialog::cancelPaths()
{
    QFETCH(int, how);
    RecordingMessageBoxes boxes;
    const QString result =
        runInputBox(QStringLiteral("Lok-Nummer"), QString(), LocoRule, 5, [how](sysInput *dialog) {
            // A valid number is in the field; cancelling still returns nothing.
            dialog->entry()->setText(QStringLiteral("42"));
            switch (how) {
            case 0: dialog->cancelButton()->click(); break;
            case 1: QTest::keyClick(dialog->entry(), Qt::Key_Escape); break;
            case 2: dialog->close(); break;
            default:
                QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
                QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
                QCOMPARE(dialog->focusWidget(), dialog->cancelButton());
                QTest::keyClick(dialog->cancelButton(), Qt::Key_Return);
                break;
            }
            QVERIFY(!dialog->isVisible());
        });
    QCOMPARE(result, QString());
    QCOMPARE(boxes.count(), 0);
}

void TestInputDialog::validation_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("message");

    QTest::newRow("empty counts as 0")
        << "" << "Die Lok-Nummer ist nicht im gültigen Bereich (1 bis 10239) .";
    QTest::newRow("not a number") << "abc" << "Die Lok-Nummer muß numerisch sein.";
    QTest::newRow("too large") << "10240"
                               << "Die Lok-Nummer ist nicht im gültigen Bereich (1 bis 10239) .";
}

void TestInputDialog::validation()
{
    QFETCH(QString, entry);
    QFETCH(QString, message);

    RecordingMessageBoxes boxes;
    bool stayedOpen = false;
    const QString result =
        runInputBox(QStringLiteral("Lok-Nummer"), QString(), LocoRule, 5, [&](sysInput *dialog) {
            dialog->entry()->setText(entry);
            dialog->okButton()->click();
            stayedOpen = dialog->isVisible();
            // After the message the whole entry is selected for retyping.
            QCOMPARE(dialog->entry()->selectedText(), entry);
            dialog->entry()->setText(QStringLiteral("12"));
            dialog->okButton()->click();
        });
    QVERIFY(stayedOpen);
    QCOMPARE(boxes.texts(), QStringList{message});
    QCOMPARE(boxes.last().caption, QStringLiteral("TALVIRO Velantor"));
    QCOMPARE(result, QStringLiteral("12"));
}

void TestInputDialog::maximumLength()
{
    RecordingMessageBoxes boxes;
    const QString result =
        runInputBox(QStringLiteral("Lok-Nummer"), QString(), QString(), 5, [&](sysInput *dialog) {
            QTest::keyClicks(dialog->entry(), QStringLiteral("123456"));
            QCOMPARE(dialog->entry()->text(), QStringLiteral("12345"));
            dialog->okButton()->click();
        });
    QCOMPARE(result, QStringLiteral("12345"));
    QCOMPARE(boxes.count(), 0);
}

void TestInputDialog::presetSelectedOnFocus()
{
    const QString result =
        runInputBox(QStringLiteral("Lok-Nummer"), QStringLiteral("42"), LocoRule, 5,
                    [](sysInput *dialog) {
                        QCOMPARE(dialog->entry()->selectedText(), QStringLiteral("42"));
                        // Focus away and back: selected again.
                        dialog->okButton()->setFocus();
                        dialog->entry()->setCursorPosition(1);
                        dialog->entry()->setFocus(Qt::MouseFocusReason);
                        QCoreApplication::processEvents();
                        QCOMPARE(dialog->entry()->selectedText(), QStringLiteral("42"));
                        QTest::keyClicks(dialog->entry(), QStringLiteral("7"));
                        dialog->okButton()->click();
                    });
    QCOMPARE(result, QStringLiteral("7"));
}

void TestInputDialog::enterActsLikeOk()
{
    RecordingMessageBoxes boxes;
    bool stayedOpen = false;
    const QString result =
        runInputBox(QStringLiteral("Lok-Nummer"), QString(), LocoRule, 5, [&](sysInput *dialog) {
            QTest::keyClick(dialog->entry(), Qt::Key_Return);
            stayedOpen = dialog->isVisible();
            QTest::keyClicks(dialog->entry(), QStringLiteral("77"));
            QTest::keyClick(dialog->entry(), Qt::Key_Return);
        });
    QVERIFY(stayedOpen);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(result, QStringLiteral("77"));
}

void TestInputDialog::textReturnedAsTyped()
{
    const QString result =
        runInputBox(QStringLiteral("Lok-Nummer"), QString(), LocoRule, 5, [](sysInput *dialog) {
            dialog->entry()->setText(QStringLiteral(" 12 "));
            dialog->okButton()->click();
        });
    QCOMPARE(result, QStringLiteral(" 12 "));
}

void TestInputDialog::emptyRuleAcceptsAnything()
{
    RecordingMessageBoxes boxes;
    const QString result = runInputBox(QString(), QStringLiteral("abc"), QString(), 0,
                                       [](sysInput *dialog) {
                                           QCOMPARE(dialog->entry()->maxLength(), 32767);
                                           dialog->okButton()->click();
                                       });
    QCOMPARE(result, QStringLiteral("abc"));
    QCOMPARE(boxes.count(), 0);
}

KZ_TEST_MAIN(TestInputDialog)
#include "test_inputdialog.moc"
