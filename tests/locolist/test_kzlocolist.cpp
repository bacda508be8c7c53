// The loco configuration and programming window against the virtual command
// station, driven through its controls.

#include "tests/support/stationrig.h"
#include "tests/support/testmain.h"
#include "printing.h"

#include "common/inputdialog.h"
#include "common/settings.h"
#include "link/commands.h"
#include "link/portsession.h"
#include "locolist/decoderfields.h"
#include "locolist/decodertab.h"
#include "locolist/kzlocolist.h"
#include "locolist/ledshape.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

#include <functional>
#include <memory>

namespace {

const CommandBuffer ProgOn{1, Command::SetParameter, 0, 10, 2};
const CommandBuffer ProgOff{1, Command::SetParameter, 0, 10, 0};

// A window for controller 1 on the virtual station, opened and activated.
class WindowRig
{
public:
    explicit WindowRig(QList<LocoEntry> locos = {}, int controller = 1)
    {
        rig.station.setLocos(locos);
        rig.station.setControllerNumber(quint8(controller));
        window = std::make_unique<kzLocoList>();
        window->setControllerID(controller);
    }

    void open()
    {
        window->show();
        QCoreApplication::processEvents();
        rig.takeRequests();
    }

    template<typename T>
    T *child(const QString &name) const
    {
        T *found = window->findChild<T *>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }
    QLineEdit *field(const QString &name) const { return child<QLineEdit>(name); }
    QAbstractButton *button(const QString &name) const { return child<QAbstractButton>(name); }
    QAction *tool(const QString &key) const { return child<QAction>(key); }
    QLabel *status() const { return child<QLabel>(QStringLiteral("lblStatus")); }
    QColor statusColor() const { return status()->palette().color(QPalette::WindowText); }
    QTreeWidget *tree() const { return child<QTreeWidget>(QStringLiteral("tvLocoList")); }
    QPushButton *breakButton() const { return child<QPushButton>(QStringLiteral("cmdBreak")); }
    QProgressBar *progress() const { return child<QProgressBar>(QStringLiteral("sspProgressPanel")); }
    QString elapsed() const { return child<QLabel>(QStringLiteral("lblElapsedTime"))->text(); }
    QCheckBox *autoConfig() const { return child<QCheckBox>(QStringLiteral("chkAutoConfig")); }
    QTabWidget *tabs() const { return child<QTabWidget>(QStringLiteral("tabProgramming")); }

    // Index of the lit lamp, or -1 when all are dark.
    int litLamp() const
    {
        int lit = -1;
        for (int i = 0; i < 3; ++i) {
            if (child<LedShape>(QStringLiteral("led%1").arg(i))->color() != QColor(Qt::black))
                lit = i;
        }
        return lit;
    }

    QStringList treeTexts() const
    {
        QStringList texts;
        for (int i = 0; i < tree()->topLevelItemCount(); ++i) {
            QTreeWidgetItem *item = tree()->topLevelItem(i);
            texts << item->text(0);
            for (int c = 0; c < item->childCount(); ++c)
                texts << QStringLiteral("  ") + item->child(c)->text(0);
        }
        return texts;
    }

    // A click, or the toggle of the accessibility interface (as screen
    // readers and switch control press).
    void selectType(int type, bool accessible = false)
    {
        press(button(QStringLiteral("optProgType%1").arg(type)), accessible);
    }
    static void press(QAbstractButton *button, bool accessible)
    {
        if (!accessible) {
            button->click();
            return;
        }
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(button);
        QVERIFY(face && face->actionInterface());
        face->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    }
    void operate(int operation) { button(QStringLiteral("cmdOperation%1").arg(operation))->click(); }
    void setFields(const QString &address, const QString &bit, const QString &value)
    {
        field(QStringLiteral("txtValue0"))->setText(address);
        field(QStringLiteral("txtValue1"))->setText(bit);
        field(QStringLiteral("txtValue2"))->setText(value);
    }

    // Calls act on the station's thread of events when the n-th programming
    // request (commands 30 to 35) arrives, through the event queue, as a click
    // would come.
    void atProgrammingRequest(int n, std::function<void()> act)
    {
        auto seen = std::make_shared<int>(0);
        rig.station.setLogObserver([this, seen, n, act](const LogEntry &entry) {
            if (entry.direction != LogEntry::Received || !entry.frame
                || entry.frame->command < Command::WriteCV)
                return;
            if (++*seen == n)
                QMetaObject::invokeMethod(window.get(), act, Qt::QueuedConnection);
        });
    }

    StationRig rig;
    std::unique_ptr<kzLocoList> window;
};

bool hasMnemonic(const QString &text)
{
    return text.contains(QLatin1Char('&'));
}

QChar mnemonicOf(const QString &text)
{
    const qsizetype at = text.indexOf(QLatin1Char('&'));
    return at >= 0 && at + 1 < text.size() ? text.at(at + 1).toLower() : QChar();
}

} // namespace

class TestKzLocoList : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void firstActivation();
    void captionOnSecondOpening();
    void closingSwitchesProgrammingOff();
    void autoConfigPersistence_data();
    void autoConfigPersistence();
    void resizeRules();

    void listSortedAndShown();
    void toolBarEnablingRules();
    void toolBarButtons();
    void addLoco_data();
    void addLoco();
    void addLocoCancelled();
    void deleteLoco_data();
    void deleteLoco();
    void speedStepsOfSelectedLoco();
    void activateConfig_data();
    void activateConfig();

    void typeSwitching_data();
    void typeSwitching();
    void progButtonsEnabled();
    void operationFrames_data();
    void operationFrames();
    void writeAnsweredNo();
    void verifyWithoutReply();
    void simulationModeEndsRed();
    void validationStopsOperations_data();
    void validationStopsOperations();
    void spinButtons();
    void searchCv();
    void searchRegisterElapsedSeconds();
    void abortSearchAndRefuseClosing();
    void controllerStopsAnsweringMidSearch();

    void setLocoNumber_data();
    void setLocoNumber();
    void setLocoNumberWithoutReply();
    void recognition_data();
    void recognition();

    void decoderTab_data();
    void decoderTab();

    void mnemonicsAndNames();
    void renderTabs();
};

void TestKzLocoList::init()
{
    sysSaveSetting(QStringLiteral("AutoConfig"), QString(), SettingsSection);
}

// --- lifecycle -----------------------------------------------------------------

void TestKzLocoList::firstActivation()
{
    WindowRig w({{7, 2}});
    QCOMPARE(w.window->windowTitle(), QStringLiteral("Lok-Konfiguration / Programmierung"));
    w.window->show();
    QCoreApplication::processEvents();

    // The list read, then the programming mode switched off.
    const QList<CommandBuffer> requests = w.rig.takeRequests();
    QCOMPARE(requests,
             (QList<CommandBuffer>{{1, Command::ReadLocoEntry, 255, 0, 0},
                                   {1, Command::ReadLocoEntry, 254, 0, 0},
                                   ProgOff}));
    QCOMPARE(w.tree()->topLevelItemCount(), 1);
    QCOMPARE(w.tabs()->currentIndex(), 0);
    QVERIFY(w.button(QStringLiteral("optProgType0"))->isChecked());
    QVERIFY(w.autoConfig()->isChecked());
    QVERIFY(w.child<QLabel>(QStringLiteral("lblBit"))->isHidden());
    QVERIFY(w.button(QStringLiteral("cmdOperation2"))->isEnabled());
    QVERIFY(w.breakButton()->isHidden());
    QCOMPARE(w.status()->text(), QStringLiteral("Zur Programmierung das Programmiergleis verwenden"));
    QCOMPARE(w.elapsed(), QStringLiteral("0 ms"));
    QCOMPARE(w.field(QStringLiteral("txtLocoNumber"))->text(), QStringLiteral("1"));

    // Later activations do nothing.
    w.window->hide();
    w.window->show();
    QCoreApplication::processEvents();
    QVERIFY(w.rig.takeRequests().isEmpty());
}

void TestKzLocoList::captionOnSecondOpening()
{
    WindowRig w({}, 12);
    w.open();
    QCOMPARE(w.window->windowTitle(),
             QStringLiteral("Lok-Konfiguration / Programmierung (Controller 12)"));
    w.window->reject();

    // Opened again, for another controller: one suffix, the new number.
    w.rig.station.setControllerNumber(5);
    w.window->setControllerID(5);
    w.open();
    QCOMPARE(w.window->windowTitle(),
             QStringLiteral("Lok-Konfiguration / Programmierung (Controller 5)"));
    w.window->reject();

    // A fresh window likewise.
    kzLocoList fresh;
    fresh.setControllerID(5);
    fresh.show();
    QCoreApplication::processEvents();
    QCOMPARE(fresh.windowTitle(), QStringLiteral("Lok-Konfiguration / Programmierung (Controller 5)"));
    fresh.reject();
}

void TestKzLocoList::closingSwitchesProgrammingOff()
{
    WindowRig w({{3, 2}});
    w.open();
    w.tree()->setCurrentItem(w.tree()->topLevelItem(0));
    QVERIFY(w.tool(QStringLiteral("btnDelete"))->isEnabled());
    w.window->reject();
    QVERIFY(!w.window->isVisible());
    QCOMPARE(w.rig.takeRequests(), QList<CommandBuffer>{ProgOff});
    QVERIFY(w.window->locoList().isEmpty());
    // The next opening starts with the per-loco buttons off.
    QVERIFY(!w.tool(QStringLiteral("btnDelete"))->isEnabled());
}

void TestKzLocoList::autoConfigPersistence_data()
{
    QTest::addColumn<bool>("accessible");
    QTest::newRow("clicked") << false;
    QTest::newRow("toggled through the accessibility interface") << true;
}

void TestKzLocoList::autoConfigPersistence()
{
    QFETCH(bool, accessible);
    {
        WindowRig w;
        w.open();
        QVERIFY(w.autoConfig()->isChecked()); // nothing stored: checked
        WindowRig::press(w.autoConfig(), accessible);
        QCOMPARE(sysGetSetting(QStringLiteral("AutoConfig"), QString(), SettingsSection),
                 QStringLiteral("0"));
        w.window->reject();
    }
    {
        WindowRig w;
        w.open();
        QVERIFY(!w.autoConfig()->isChecked());
        WindowRig::press(w.autoConfig(), accessible);
        QCOMPARE(sysGetSetting(QStringLiteral("AutoConfig"), QString(), SettingsSection),
                 QStringLiteral("1"));
        w.window->reject();
    }
    // A value edited by hand that is no whole number keeps the default.
    sysSaveSetting(QStringLiteral("AutoConfig"), QStringLiteral("ja"), SettingsSection);
    WindowRig w;
    w.open();
    QVERIFY(w.autoConfig()->isChecked());
    QCOMPARE(sysGetSetting(QStringLiteral("AutoConfig"), QString(), SettingsSection),
             QStringLiteral("ja"));
}

void TestKzLocoList::resizeRules()
{
    WindowRig w;
    w.open();
    const int width = kzLocoList::OuterWidth - kzLocoList::FrameWidth;
    const int minHeight = kzLocoList::OuterHeight - kzLocoList::FrameHeight;
    QCOMPARE(w.window->size(), QSize(width, minHeight));

    w.window->resize(300, 200);
    QCOMPARE(w.window->size(), QSize(width, minHeight));
    w.window->resize(700, 600);
    QCOMPARE(w.window->size(), QSize(width, 600));

    const int outerHeight = 600 + kzLocoList::FrameHeight;
    QCOMPARE(w.tabs()->height(), outerHeight - 53);
    QCOMPARE(w.tree()->height(), w.tabs()->height() - 72);
    auto *toolBar = w.child<QToolBar>(QStringLiteral("tlbLocoList"));
    QCOMPARE(toolBar->y(), w.tree()->y() + w.tree()->height() + 10);
}

// --- loco list -----------------------------------------------------------------

void TestKzLocoList::listSortedAndShown()
{
    WindowRig w({{12, 0x83}, {3, 0x00}, {7, 0x02}});
    w.open();
    QCOMPARE(w.treeTexts(),
             (QStringList{"3", "  undef. Fahrstufen", "  Fahrtrichtung: rückwärts",
                          "7", "  28 Fahrstufen", "  Fahrtrichtung: rückwärts",
                          "12", "  126 Fahrstufen", "  Fahrtrichtung: vorwärts"}));
    QTreeWidgetItem *first = w.tree()->topLevelItem(0);
    QCOMPARE(first->data(0, Qt::UserRole).toString(), QStringLiteral("3#"));
    QCOMPARE(first->child(0)->data(0, Qt::UserRole).toString(), QStringLiteral("3#fs"));
    QCOMPARE(first->child(1)->data(0, Qt::UserRole).toString(), QStringLiteral("3#fr"));
    QVERIFY(first->font(0).bold());
    QVERIFY(first->isExpanded());
    QVERIFY(w.tree()->selectedItems().isEmpty());
    QCOMPARE(w.window->locoList().size(), 3);
}

void TestKzLocoList::toolBarEnablingRules()
{
    WindowRig w;
    w.open();
    const QStringList perLoco{"btnDelete", "btn14", "btn28", "btn126"};
    auto enabled = [&](const QString &key) { return w.tool(key)->isEnabled(); };

    for (const QString &key : perLoco)
        QVERIFY(!enabled(key));
    QVERIFY(enabled(QStringLiteral("btnAdd")));
    QVERIFY(!enabled(QStringLiteral("btnActivateConfig")));

    w.window->ConfigButtonsEnabled(true);
    for (const QString &key : perLoco)
        QVERIFY(enabled(key));
    QVERIFY(!enabled(QStringLiteral("btnActivateConfig")));

    w.window->ConfigButtonsEnabled(false, true);
    for (const QString &key : perLoco)
        QVERIFY(!enabled(key));
    QVERIFY(enabled(QStringLiteral("btnActivateConfig")));

    // Once enabled, "activate" stays until the activation itself.
    w.window->ConfigButtonsEnabled(true, false);
    QVERIFY(enabled(QStringLiteral("btnActivateConfig")));
    w.window->ConfigButtonsEnabled(false, false);
    QVERIFY(enabled(QStringLiteral("btnActivateConfig")));
    QVERIFY(enabled(QStringLiteral("btnAdd")));
}

void TestKzLocoList::toolBarButtons()
{
    WindowRig w;
    auto *toolBar = w.child<QToolBar>(QStringLiteral("tlbLocoList"));
    QStringList keys;
    QStringList tips;
    for (QAction *action : toolBar->actions()) {
        if (action->isSeparator())
            continue;
        keys << action->objectName();
        tips << action->toolTip();
        QVERIFY(!action->icon().isNull());
    }
    QCOMPARE(keys, (QStringList{"btnActivateConfig", "btnAdd", "btnDelete", "btn14", "btn28",
                                "btn126"}));
    QCOMPARE(tips, (QStringList{"Neue Lok-Einstellungen aktivieren", "Lokeintrag hinzufügen",
                                "Lokeintrag löschen", "Lok auf 14 FS einstellen",
                                "Lok auf 28 FS einstellen", "Lok auf 126 FS einstellen"}));
}

void TestKzLocoList::addLoco_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("number");
    QTest::newRow("5") << "5" << 5;
    QTest::newRow("4,5 half to even") << "4,5" << 4;
    QTest::newRow("5.5 half to even") << "5.5" << 6;
    QTest::newRow("4,7 rounded") << "4,7" << 5;
}

void TestKzLocoList::addLoco()
{
    QFETCH(QString, typed);
    QFETCH(int, number);
    WindowRig w({{12, 2}});
    w.open();
    w.tree()->setCurrentItem(w.tree()->topLevelItem(0));
    QTimer::singleShot(0, [typed] {
        auto *dialog = qobject_cast<sysInput *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Lok-Nummer"));
        QCOMPARE(dialog->infoLabel()->text(),
                 QStringLiteral("Welche Lok-Nummer soll angelegt werden ?"));
        QCOMPARE(dialog->entry()->maxLength(), 5);
        QCOMPARE(dialog->entry()->text(), QString());
        dialog->entry()->setText(typed);
        dialog->okButton()->click();
    });
    w.tool(QStringLiteral("btnAdd"))->trigger();

    const QList<CommandBuffer> requests = w.rig.takeRequests();
    QCOMPARE(requests.first(), (CommandBuffer{1, Command::WriteLocoEntry, 2, quint8(number), 0}));
    QCOMPARE(requests.at(1), (CommandBuffer{1, Command::ReadLocoEntry, 255, 0, 0}));
    QCOMPARE(w.treeTexts().first(), QString::number(number));
    QVERIFY(w.tool(QStringLiteral("btnActivateConfig"))->isEnabled());
    QVERIFY(!w.tool(QStringLiteral("btnDelete"))->isEnabled());
    QVERIFY(w.tree()->selectedItems().isEmpty());

    // A click on the child node "28 Fahrstufen" selects the new loco again.
    QTreeWidgetItem *steps = w.tree()->topLevelItem(0)->child(0);
    QCOMPARE(steps->text(0), QStringLiteral("28 Fahrstufen"));
    w.tree()->setCurrentItem(steps);
    QVERIFY(w.tool(QStringLiteral("btnDelete"))->isEnabled());
}

void TestKzLocoList::addLocoCancelled()
{
    WindowRig w;
    w.open();
    QTimer::singleShot(0, [] {
        auto *dialog = qobject_cast<sysInput *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        dialog->entry()->setText(QStringLiteral("5"));
        dialog->cancelButton()->click();
    });
    w.tool(QStringLiteral("btnAdd"))->trigger();
    QVERIFY(w.rig.takeRequests().isEmpty());
    QVERIFY(!w.tool(QStringLiteral("btnActivateConfig"))->isEnabled());
}

void TestKzLocoList::deleteLoco_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("Yes") << true;
    QTest::newRow("No") << false;
}

void TestKzLocoList::deleteLoco()
{
    QFETCH(bool, yes);
    WindowRig w({{5, 2}, {9, 2}});
    w.open();
    w.tree()->setCurrentItem(w.tree()->topLevelItem(0)->child(1));
    w.rig.boxes.script({yes ? BoxAnswer::Yes : BoxAnswer::No});
    w.tool(QStringLiteral("btnDelete"))->trigger();

    QCOMPARE(w.rig.boxes.count(), 1);
    const MessageBoxRequest &box = w.rig.boxes.last();
    QCOMPARE(box.text, QStringLiteral("Möchten Sie Lok-Nummer 5 aus der Konfiguration löschen ?"));
    QCOMPARE(box.caption, QStringLiteral("Lok 5"));
    QCOMPARE(box.icon, BoxIcon::Question);
    QCOMPARE(box.buttons, BoxButtons::YesNo);
    QCOMPARE(box.defaultAnswer, BoxAnswer::No);

    const QList<CommandBuffer> requests = w.rig.takeRequests();
    if (!yes) {
        QVERIFY(requests.isEmpty());
        return;
    }
    QCOMPARE(requests.first(), (CommandBuffer{1, Command::WriteLocoEntry, 0, 5, 0}));
    QCOMPARE(w.treeTexts().first(), QStringLiteral("9"));
    QVERIFY(w.tool(QStringLiteral("btnActivateConfig"))->isEnabled());
}

void TestKzLocoList::speedStepsOfSelectedLoco()
{
    // Loco 5 drives forward on 14 steps; the change writes the code alone.
    WindowRig w({{5, 0x81}});
    w.open();
    w.tree()->setCurrentItem(w.tree()->topLevelItem(0));
    w.rig.boxes.script({BoxAnswer::Yes});
    w.tool(QStringLiteral("btn28"))->trigger();
    QCOMPARE(w.rig.boxes.last().text, QStringLiteral("Geschwindigkeit auf 28 Fahrstufen anpassen ?"));
    QCOMPARE(w.rig.boxes.last().caption, QStringLiteral("Lok 5"));
    QCOMPARE(w.rig.takeRequests().first(), (CommandBuffer{1, Command::WriteLocoEntry, 2, 5, 0}));
    QCOMPARE(w.treeTexts().at(1), QStringLiteral("  28 Fahrstufen"));

    w.tree()->setCurrentItem(w.tree()->topLevelItem(0));
    w.rig.boxes.script({BoxAnswer::Yes});
    w.tool(QStringLiteral("btn126"))->trigger();
    QCOMPARE(w.rig.takeRequests().first(), (CommandBuffer{1, Command::WriteLocoEntry, 3, 5, 0}));
}

void TestKzLocoList::activateConfig_data()
{
    QTest::addColumn<bool>("answering");
    QTest::newRow("restarted") << true;
    QTest::newRow("no reply") << false;
}

void TestKzLocoList::activateConfig()
{
    QFETCH(bool, answering);
    WindowRig w;
    w.open();
    w.window->ConfigButtonsEnabled(false, true);

    w.rig.boxes.script({BoxAnswer::No});
    w.tool(QStringLiteral("btnActivateConfig"))->trigger();
    QCOMPARE(w.rig.boxes.last().text,
             QStringLiteral("Möchten Sie zur Aktivierung der neuen Lok-Einstellungen den "
                            "Controller neu starten ?"));
    QCOMPARE(w.rig.boxes.last().caption, QStringLiteral("Controller-Neustart"));
    QVERIFY(w.rig.takeRequests().isEmpty());

    if (!answering)
        w.rig.station.addFault(Fault::noReply(Fault::Always));
    w.rig.boxes.script({BoxAnswer::Yes});
    w.tool(QStringLiteral("btnActivateConfig"))->trigger();
    QCOMPARE(w.rig.takeRequests().first(), (CommandBuffer{1, Command::SetParameter, 0, 3, 0}));
    // Without an answer the user can try again.
    QCOMPARE(w.tool(QStringLiteral("btnActivateConfig"))->isEnabled(), !answering);
    if (!answering)
        QCOMPARE(w.rig.boxes.last().text, QStringLiteral("Controller 1 antwortet nicht."));
}

// --- CV programming ----------------------------------------------------------------

void TestKzLocoList::typeSwitching_data()
{
    QTest::addColumn<bool>("accessible");
    QTest::newRow("clicked") << false;
    QTest::newRow("toggled through the accessibility interface") << true;
}

void TestKzLocoList::typeSwitching()
{
    QFETCH(bool, accessible);
    WindowRig w;
    w.open();
    auto *lblCV = w.child<QLabel>(QStringLiteral("lblCV"));
    QLineEdit *value = w.field(QStringLiteral("txtValue2"));

    value->setText(QStringLiteral("200"));
    w.selectType(1, accessible);
    QCOMPARE(value->text(), QStringLiteral("0"));
    QVERIFY(!w.child<QLabel>(QStringLiteral("lblBit"))->isHidden());
    QVERIFY(!w.field(QStringLiteral("txtValue1"))->isHidden());
    QVERIFY(!w.button(QStringLiteral("cmdOperation2"))->isEnabled());
    QCOMPARE(w.field(QStringLiteral("txtValue1"))->property("Tag").toString(),
             QStringLiteral("Die Bitposition,Mandatory,MIN=0,MAX=7,NUM"));

    w.selectType(2, accessible);
    QCOMPARE(lblCV->text(), QStringLiteral("Register"));
    // What a screen reader announces follows the labels.
    const auto announced = [&w](int field) {
        auto *spin = w.child<SpinButtons>(QStringLiteral("spnValue%1").arg(field));
        return QStringList{w.field(QStringLiteral("txtValue%1").arg(field))->accessibleName(),
                           spin->findChild<QAbstractButton *>(QStringLiteral("up"))->accessibleName(),
                           spin->findChild<QAbstractButton *>(QStringLiteral("down"))->accessibleName()};
    };
    QCOMPARE(announced(0), (QStringList{QStringLiteral("Register"), QStringLiteral("Register erhöhen"),
                                        QStringLiteral("Register verringern")}));
    QVERIFY(w.child<QLabel>(QStringLiteral("lblBit"))->isHidden());
    QCOMPARE(w.field(QStringLiteral("txtValue1"))->property("Tag").toString(), QString());
    QVERIFY(w.button(QStringLiteral("cmdOperation2"))->isEnabled());

    value->setText(QStringLiteral("1"));
    w.selectType(1, accessible);
    QCOMPARE(value->text(), QStringLiteral("1"));
    QCOMPARE(lblCV->text(), QStringLiteral("CV"));
    QCOMPARE(announced(0), (QStringList{QStringLiteral("CV"), QStringLiteral("CV erhöhen"),
                                        QStringLiteral("CV verringern")}));
    QCOMPARE(announced(1), (QStringList{QStringLiteral("Bit"), QStringLiteral("Bit erhöhen"),
                                        QStringLiteral("Bit verringern")}));
}

void TestKzLocoList::progButtonsEnabled()
{
    WindowRig w;
    w.open();
    w.window->ProgButtonsEnabled(false);
    QVERIFY(!w.tabs()->isTabEnabled(0));
    QVERIFY(!w.autoConfig()->isEnabled());
    QVERIFY(!w.button(QStringLiteral("cmdLocoRecognition"))->isEnabled());
    QVERIFY(!w.field(QStringLiteral("txtValue0"))->isEnabled());

    w.window->ProgButtonsEnabled(true);
    QVERIFY(w.tabs()->isTabEnabled(0));
    QVERIFY(w.button(QStringLiteral("cmdOperation2"))->isEnabled());

    w.selectType(1);
    w.window->ProgButtonsEnabled(false);
    w.window->ProgButtonsEnabled(true);
    QVERIFY(!w.button(QStringLiteral("cmdOperation2"))->isEnabled());
    QVERIFY(w.button(QStringLiteral("cmdOperation1"))->isEnabled());
    w.selectType(2);
    w.window->ProgButtonsEnabled(true);
    QVERIFY(w.button(QStringLiteral("cmdOperation2"))->isEnabled());
}

void TestKzLocoList::operationFrames_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("operation");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<CommandBuffer>("frame");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("outcome");

    QTest::newRow("CV 29 value 6 write")
        << 0 << 1 << QStringList{"29", "0", "6"} << CommandBuffer{1, Command::WriteCV, 6, 29, 0}
        << "Möchten Sie die CV 29 auf den Wert 6 setzen ?" << "Der Wert wurde erfolgreich gesetzt";
    QTest::newRow("CV 1023 bit 5 verify")
        << 1 << 0 << QStringList{"1023", "5", "1"}
        << CommandBuffer{1, Command::VerifyCVBit, 13, 255, 3} << QString()
        << "Der Inhalt entspricht dem gesuchten Wert";
    QTest::newRow("CV 1023 bit 5 = 0 verify fails")
        << 1 << 0 << QStringList{"1023", "5", "0"}
        << CommandBuffer{1, Command::VerifyCVBit, 5, 255, 3} << QString()
        << "Der Inhalt entspricht nicht dem gesuchten Wert";
    QTest::newRow("CV 29 bit 1 = 0 write")
        << 1 << 1 << QStringList{"29", "1", "0"} << CommandBuffer{1, Command::WriteCVBit, 1, 29, 0}
        << "Möchten Sie die CV 29 Bitposition 1 auf den Wert 0 setzen ?"
        << "Der Wert wurde erfolgreich gesetzt";
    QTest::newRow("register 8 value 255 write")
        << 2 << 1 << QStringList{"8", "0", "255"}
        << CommandBuffer{1, Command::WriteRegister, 255, 8, 0}
        << "Möchten Sie das Register 8 auf den Wert 255 setzen ?"
        << "Der Wert wurde erfolgreich gesetzt";
    // Fields are sent as the rule check read them: comma or point, halves to
    // the even number; the question shows them as typed.
    QTest::newRow("CV 28,5 value 5,5 write is CV 28 value 6")
        << 0 << 1 << QStringList{"28,5", "0", "5,5"} << CommandBuffer{1, Command::WriteCV, 6, 28, 0}
        << "Möchten Sie die CV 28,5 auf den Wert 5,5 setzen ?" << "Der Wert wurde erfolgreich gesetzt";
    QTest::newRow("register 7,6 value 2.5 write is register 8 value 2")
        << 2 << 1 << QStringList{"7,6", "0", "2.5"}
        << CommandBuffer{1, Command::WriteRegister, 2, 8, 0}
        << "Möchten Sie das Register 7,6 auf den Wert 2.5 setzen ?"
        << "Der Wert wurde erfolgreich gesetzt";
}

void TestKzLocoList::operationFrames()
{
    QFETCH(int, type);
    QFETCH(int, operation);
    QFETCH(QStringList, fields);
    QFETCH(CommandBuffer, frame);
    QFETCH(QString, question);
    QFETCH(QString, outcome);

    WindowRig w;
    w.rig.station.setCv(1023, 0x20);
    w.open();
    w.selectType(type);
    w.setFields(fields.at(0), fields.at(1), fields.at(2));
    QString statusWhileAsked;
    w.rig.boxes.onShow = [&](const MessageBoxRequest &) { statusWhileAsked = w.status()->text(); };
    w.rig.boxes.script({BoxAnswer::Yes});
    w.operate(operation);

    QCOMPARE(w.rig.takeRequests(), (QList<CommandBuffer>{ProgOn, frame, ProgOff}));
    if (!question.isEmpty()) {
        QCOMPARE(w.rig.boxes.last().text, question);
        QCOMPARE(w.rig.boxes.last().caption, QStringLiteral("TALVIRO Velantor"));
        QCOMPARE(w.rig.boxes.last().defaultAnswer, BoxAnswer::No);
        QCOMPARE(statusWhileAsked, QStringLiteral("Schreiben ..."));
    } else {
        QCOMPARE(w.rig.boxes.count(), 0);
    }
    const bool success = !outcome.contains(QStringLiteral("nicht"));
    QCOMPARE(w.status()->text(), outcome);
    QCOMPARE(w.statusColor(), success ? kzLocoList::Green : kzLocoList::Red);
    QCOMPARE(w.litLamp(), success ? 2 : 1);
    QVERIFY(w.elapsed().endsWith(QStringLiteral(" ms")));
    QVERIFY(w.rig.station.state().track == TrackOutput::Off);
}

void TestKzLocoList::writeAnsweredNo()
{
    WindowRig w;
    w.open();
    w.setFields(QStringLiteral("29"), QStringLiteral("0"), QStringLiteral("6"));
    w.rig.boxes.script({BoxAnswer::No});
    w.operate(1);
    QCOMPARE(w.rig.takeRequests(), (QList<CommandBuffer>{ProgOn, ProgOff}));
    QCOMPARE(w.status()->text(), QStringLiteral("Schreiben ..."));
    QCOMPARE(w.statusColor(), kzLocoList::Blue);
    QCOMPARE(w.rig.station.cv(29), quint8(6)); // untouched default
}

void TestKzLocoList::verifyWithoutReply()
{
    WindowRig w;
    w.open();
    w.setFields(QStringLiteral("29"), QStringLiteral("0"), QStringLiteral("6"));
    w.rig.station.addFault(Fault::noReply(Fault::Always));
    w.operate(0);
    // The request left in the buffer is not the decoder's acknowledgement.
    QCOMPARE(w.status()->text(), QStringLiteral("Der Inhalt entspricht nicht dem gesuchten Wert"));
    QCOMPARE(w.statusColor(), kzLocoList::Red);
    QCOMPARE(w.litLamp(), 1);
    QCOMPARE(w.rig.boxes.texts(), QStringList{QStringLiteral("Controller 1 antwortet nicht.")});
    QCOMPARE(w.elapsed(), QStringLiteral("4000 ms"));
}

void TestKzLocoList::simulationModeEndsRed()
{
    WindowRig w;
    w.open();
    setCurrentPortName(QStringLiteral("NUL"));
    w.setFields(QStringLiteral("29"), QStringLiteral("0"), QStringLiteral("6"));
    w.rig.boxes.script({BoxAnswer::Yes});
    w.operate(1);
    QCOMPARE(w.status()->text(), QStringLiteral("Der Wert konnte nicht gesetzt werden"));
    w.operate(2);
    QCOMPARE(w.status()->text(), QStringLiteral("Wert für CV 29 konnte nicht ermittelt werden"));
    w.button(QStringLiteral("cmdLocoRecognition"))->click();
    QCOMPARE(w.status()->text(), QStringLiteral("Lok-Nummer konnte nicht erkannt werden"));
    QCOMPARE(w.litLamp(), 1);
    QVERIFY(w.rig.takeRequests().isEmpty());
}

void TestKzLocoList::validationStopsOperations_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("locoNumber");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("byEnter"); // the button focused, then Enter

    QTest::newRow("loco number not numeric")
        << 0 << QStringList{"29", "0", "6"} << "abc" << "cmdOperation0"
        << "Die Lok-Nummer muß numerisch sein." << false;
    QTest::newRow("register 9 stops set")
        << 2 << QStringList{"9", "0", "6"} << "3" << "cmdLocoNumberSet"
        << "Die Register-Adresse ist nicht im gültigen Bereich (1 bis 8) ." << false;
    QTest::newRow("empty CV")
        << 0 << QStringList{" ", "0", "6"} << "3" << "cmdOperation2"
        << "Die CV-Adresse muß eingegeben werden." << false;
    QTest::newRow("bit value 2")
        << 1 << QStringList{"29", "3", "1"} << "3" << "cmdOperation1" << QString() << false;
    QTest::newRow("empty CV, Enter on Wert suchen")
        << 0 << QStringList{" ", "0", "6"} << "3" << "cmdOperation2"
        << "Die CV-Adresse muß eingegeben werden." << true;
    QTest::newRow("bit value 2, Enter on Wert setzen")
        << 1 << QStringList{"29", "3", "1"} << "3" << "cmdOperation1" << QString() << true;
    QTest::newRow("value nan is no number")
        << 0 << QStringList{"1", "0", "nan"} << "3" << "cmdOperation1"
        << "Der CV-Wert muß numerisch sein." << false;
}

void TestKzLocoList::validationStopsOperations()
{
    QFETCH(int, type);
    QFETCH(QStringList, fields);
    QFETCH(QString, locoNumber);
    QFETCH(QString, button);
    QFETCH(QString, message);
    QFETCH(bool, byEnter);

    WindowRig w;
    w.open();
    w.selectType(type);
    w.setFields(fields.at(0), fields.at(1), fields.at(2));
    w.field(QStringLiteral("txtLocoNumber"))->setText(locoNumber);
    QAbstractButton *pressed = w.button(button);
    const auto press = [pressed, byEnter, tabs = w.tabs()] {
        if (!byEnter) {
            pressed->click();
            return;
        }
        // A keyboard user has the programming tab open.
        tabs->setCurrentIndex(1);
        pressed->setFocus(Qt::TabFocusReason);
        QTest::keyClick(pressed, Qt::Key_Return);
    };
    if (message.isEmpty()) {
        // A valid bit: the write goes ahead to its question.
        w.rig.boxes.script({BoxAnswer::No});
        press();
        QCOMPARE(w.rig.boxes.count(), 1);
        QCOMPARE(w.rig.boxes.last().text,
                 QStringLiteral("Möchten Sie die CV 29 Bitposition 3 auf den Wert 1 setzen ?"));
        return;
    }
    press();
    QCOMPARE(w.rig.boxes.texts(), QStringList{message});
    QVERIFY(w.rig.takeRequests().isEmpty());
}

void TestKzLocoList::spinButtons()
{
    WindowRig w;
    w.open();
    auto *spin = w.child<SpinButtons>(QStringLiteral("spnValue2"));
    auto *up = spin->findChild<QAbstractButton *>(QStringLiteral("up"));
    auto *down = spin->findChild<QAbstractButton *>(QStringLiteral("down"));
    QLineEdit *value = w.field(QStringLiteral("txtValue2"));

    value->setText(QStringLiteral("255"));
    up->click();
    QCOMPARE(value->text(), QStringLiteral("256"));
    // The field rule is checked only when an operation starts.
    w.operate(1);
    QCOMPARE(w.rig.boxes.texts(),
             QStringList{QStringLiteral("Der CV-Wert ist nicht im gültigen Bereich (0 bis 255) .")});
    QVERIFY(w.rig.takeRequests().isEmpty());

    value->setText(QStringLiteral("0"));
    down->click();
    QCOMPARE(value->text(), QStringLiteral("0"));
    QLineEdit *address = w.field(QStringLiteral("txtValue0"));
    address->setText(QStringLiteral("1023"));
    w.child<SpinButtons>(QStringLiteral("spnValue0"))
        ->findChild<QAbstractButton *>(QStringLiteral("up"))
        ->click();
    QCOMPARE(address->text(), QStringLiteral("1024"));
}

void TestKzLocoList::searchCv()
{
    WindowRig w;
    w.rig.station.setCv(29, 6);
    w.open();
    w.setFields(QStringLiteral("29"), QStringLiteral("0"), QStringLiteral("0"));
    bool controlsOffDuring = false;
    bool breakShownDuring = false;
    w.atProgrammingRequest(4, [&] {
        controlsOffDuring = !w.button(QStringLiteral("cmdOperation0"))->isEnabled()
                            && !w.tabs()->isTabEnabled(0);
        breakShownDuring = !w.breakButton()->isHidden();
    });
    w.operate(2);

    QVERIFY(controlsOffDuring);
    QVERIFY(breakShownDuring);
    QCOMPARE(w.status()->text(), QStringLiteral("Wert für CV 29 ist 6"));
    QCOMPARE(w.statusColor(), kzLocoList::Green);
    QCOMPARE(w.litLamp(), 2);
    QCOMPARE(w.field(QStringLiteral("txtValue2"))->text(), QStringLiteral("6"));
    QCOMPARE(w.progress()->value(), 100);
    QVERIFY(w.breakButton()->isHidden());
    QVERIFY(w.button(QStringLiteral("cmdOperation0"))->isEnabled());
    QVERIFY(w.tabs()->isTabEnabled(0));
    const QList<CommandBuffer> requests = w.rig.takeRequests();
    QCOMPARE(requests.size(), 1 + 8 + 1);
    QCOMPARE(requests.first(), ProgOn);
    QCOMPARE(requests.last(), ProgOff);
    QCOMPARE(w.elapsed(), QStringLiteral("8 ms")); // 1 ms per reply on the station
}

void TestKzLocoList::searchRegisterElapsedSeconds()
{
    WindowRig w;
    w.rig.station.setCv(3, 17);
    w.rig.station.setReplyDelayMs(600);
    w.open();
    w.selectType(2);
    w.setFields(QStringLiteral("3"), QStringLiteral("0"), QStringLiteral("0"));
    w.operate(2);
    QCOMPARE(w.status()->text(), QStringLiteral("Wert für Register 3 ist 17"));
    QCOMPARE(w.progress()->value(), 100);
    // 18 checks of 600 ms each.
    QCOMPARE(w.elapsed(), QStringLiteral("10,80sek."));
    QCOMPARE(w.rig.takeRequests().size(), 1 + 18 + 1);
}

void TestKzLocoList::abortSearchAndRefuseClosing()
{
    WindowRig w;
    w.rig.station.setCv(29, 6);
    w.open();
    w.setFields(QStringLiteral("29"), QStringLiteral("0"), QStringLiteral("33"));
    bool stayedOpen = false;
    w.atProgrammingRequest(3, [&] {
        w.window->close();
        stayedOpen = w.window->isVisible();
        w.breakButton()->click();
    });
    w.operate(2);

    QVERIFY(stayedOpen);
    QCOMPARE(w.status()->text(), QStringLiteral("Vorgang abgebrochen"));
    QCOMPARE(w.statusColor(), kzLocoList::Red);
    QCOMPARE(w.litLamp(), 1);
    QCOMPARE(w.progress()->value(), 0);
    QVERIFY(w.breakButton()->isHidden());
    QCOMPARE(w.field(QStringLiteral("txtValue2"))->text(), QStringLiteral("33"));
    // The exchange in progress completed; then the programming mode went off.
    QCOMPARE(w.rig.takeRequests().size(), 1 + 3 + 1);
    QVERIFY(w.button(QStringLiteral("cmdOperation2"))->isEnabled());

    // Now the window can be closed.
    w.window->close();
    QVERIFY(!w.window->isVisible());
}

void TestKzLocoList::controllerStopsAnsweringMidSearch()
{
    WindowRig w;
    w.rig.station.setCv(29, 6);
    w.open();
    w.setFields(QStringLiteral("29"), QStringLiteral("0"), QStringLiteral("0"));
    int seen = 0;
    w.rig.station.setLogObserver([&](const LogEntry &entry) {
        if (entry.direction == LogEntry::Received && entry.frame
            && entry.frame->command == Command::VerifyCVBit && ++seen == 2)
            w.rig.station.addFault(Fault::noReply(Fault::Always));
    });
    w.operate(2);
    QCOMPARE(w.status()->text(), QStringLiteral("Wert für CV 29 konnte nicht ermittelt werden"));
    QCOMPARE(w.statusColor(), kzLocoList::Red);
    QCOMPARE(w.litLamp(), 1);
    QCOMPARE(w.field(QStringLiteral("txtValue2"))->text(), QStringLiteral("0"));
    QVERIFY(w.button(QStringLiteral("cmdOperation2"))->isEnabled());
    // ProgOn, two answered checks, three attempts of the third, then the three
    // attempts to switch the programming mode off: no further check.
    QCOMPARE(w.rig.takeRequests().size(), 1 + 2 + 3 + 3);
    QCOMPARE(w.rig.boxes.count(), 0);
}

// --- loco number -----------------------------------------------------------------

void TestKzLocoList::setLocoNumber_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("running");
    QTest::addColumn<int>("writes");

    QTest::newRow("3") << "3" << "Niedrige Lok-Nummer 3 setzen ..." << 2;
    QTest::newRow("127") << "127" << "Niedrige Lok-Nummer 127 setzen ..." << 2;
    QTest::newRow("128") << "128" << "Hohe Lok-Nummer 128 setzen ..." << 3;
    QTest::newRow("1000") << "1000" << "Hohe Lok-Nummer 1000 setzen ..." << 3;
    QTest::newRow("10239") << "10239" << "Hohe Lok-Nummer 10239 setzen ..." << 3;
}

void TestKzLocoList::setLocoNumber()
{
    QFETCH(QString, number);
    QFETCH(QString, running);
    QFETCH(int, writes);

    WindowRig w;
    w.open();
    w.field(QStringLiteral("txtLocoNumber"))->setText(number);
    QString statusWhileWriting;
    QColor colourWhileWriting;
    w.rig.station.setLogObserver([&](const LogEntry &entry) {
        if (entry.direction == LogEntry::Received && entry.frame
            && entry.frame->command == Command::WriteCVBit) {
            statusWhileWriting = w.status()->text();
            colourWhileWriting = w.statusColor();
        }
    });
    w.rig.boxes.script({BoxAnswer::Yes});
    w.button(QStringLiteral("cmdLocoNumberSet"))->click();

    QCOMPARE(w.rig.boxes.last().text,
             QStringLiteral("Möchten Sie die Lok auf die Nummer ") + number
                 + QStringLiteral(" einstellen ?"));
    QCOMPARE(statusWhileWriting, running);
    QCOMPARE(colourWhileWriting, kzLocoList::Blue);
    QCOMPARE(w.status()->text(),
             QStringLiteral("Lok-Nummer ") + number + QStringLiteral(" wurde erfolgreich gesetzt"));
    QCOMPARE(w.statusColor(), kzLocoList::Green);
    QCOMPARE(w.litLamp(), 2);
    QCOMPARE(w.rig.takeRequests().size(), 1 + writes + 1);

    // Recognised back, with the suffix and the automatic entry into the list.
    w.button(QStringLiteral("cmdLocoRecognition"))->click();
    QCOMPARE(w.status()->text(),
             QStringLiteral("Erkannte Lok-Nummer ") + number + QStringLiteral("  (28/126 FS)"));
    QCOMPARE(w.treeTexts().first(), number);
    QCOMPARE(w.rig.station.state().storedLocos,
             QList<LocoEntry>{(LocoEntry{number.toInt(), LocoFlags::Steps28})});
    QVERIFY(w.tool(QStringLiteral("btnActivateConfig"))->isEnabled());
    QVERIFY(w.elapsed().endsWith(QStringLiteral(" ms")));
}

void TestKzLocoList::setLocoNumberWithoutReply()
{
    WindowRig w;
    w.open();
    w.field(QStringLiteral("txtLocoNumber"))->setText(QStringLiteral("1000"));
    w.rig.station.addFault(Fault::noReply(Fault::Always));
    w.rig.boxes.script({BoxAnswer::Yes});
    w.button(QStringLiteral("cmdLocoNumberSet"))->click();
    QCOMPARE(w.status()->text(), QStringLiteral("Lok-Nummer konnte nicht gesetzt werden"));
    QCOMPARE(w.litLamp(), 1);
    // Three attempts each: programming mode on, the first write, mode off.
    QCOMPARE(w.rig.takeRequests().size(), 3 + 3 + 3);
    QCOMPARE(w.rig.boxes.count(), 1); // only the question
}

void TestKzLocoList::recognition_data()
{
    QTest::addColumn<bool>("decoder");
    QTest::addColumn<int>("cv29");
    QTest::addColumn<int>("cv17");
    QTest::addColumn<int>("cv1");
    QTest::addColumn<bool>("autoConfig");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QList<LocoEntry>>("list");

    QTest::newRow("short, 28 steps")
        << true << 0x02 << 192 << 3 << true << "Erkannte Lok-Nummer 3  (28/126 FS)"
        << QList<LocoEntry>{{3, 2}};
    QTest::newRow("short, 14 steps")
        << true << 0x00 << 192 << 3 << true << "Erkannte Lok-Nummer 3  (14 FS)"
        << QList<LocoEntry>{{3, 1}};
    QTest::newRow("no automatic entry")
        << true << 0x02 << 192 << 3 << false << "Erkannte Lok-Nummer 3  (28/126 FS)"
        << QList<LocoEntry>{};
    QTest::newRow("CV 17 without long mark")
        << true << 0x22 << 100 << 3 << true << "Lok-Nummer nicht gefunden" << QList<LocoEntry>{};
    // CV 1 holds 0, which no loco carries: shown, but not entered in the list.
    QTest::newRow("short address 0")
        << true << 0x02 << 192 << 0 << true << "Erkannte Lok-Nummer 0  (28/126 FS)"
        << QList<LocoEntry>{};
    QTest::newRow("no decoder") << false << 0x02 << 192 << 3 << true
                                << "Lok-Nummer konnte nicht erkannt werden" << QList<LocoEntry>{};
}

void TestKzLocoList::recognition()
{
    QFETCH(bool, decoder);
    QFETCH(int, cv29);
    QFETCH(int, cv17);
    QFETCH(int, cv1);
    QFETCH(bool, autoConfig);
    QFETCH(QString, status);
    QFETCH(QList<LocoEntry>, list);

    WindowRig w;
    w.rig.station.setDecoderPresent(decoder);
    w.rig.station.setCv(29, quint8(cv29));
    w.rig.station.setCv(1, quint8(cv1));
    w.rig.station.setCv(17, quint8(cv17));
    w.open();
    if (w.autoConfig()->isChecked() != autoConfig)
        w.autoConfig()->click();
    bool controlsOffDuring = false;
    w.atProgrammingRequest(2, [&] {
        controlsOffDuring = !w.button(QStringLiteral("cmdLocoNumberSet"))->isEnabled();
    });
    w.button(QStringLiteral("cmdLocoRecognition"))->click();

    QVERIFY(controlsOffDuring);
    QCOMPARE(w.status()->text(), status);
    const bool success = status.startsWith(QStringLiteral("Erkannte"));
    QCOMPARE(w.statusColor(), success ? kzLocoList::Green : kzLocoList::Red);
    QCOMPARE(w.litLamp(), success ? 2 : 1);
    QCOMPARE(w.rig.station.state().storedLocos, list);
    QCOMPARE(w.tool(QStringLiteral("btnActivateConfig"))->isEnabled(), !list.isEmpty());
    QCOMPARE(w.window->locoList().size(), list.size());
    QVERIFY(w.button(QStringLiteral("cmdLocoNumberSet"))->isEnabled());
    QVERIFY(w.rig.station.state().track == TrackOutput::Off);
}

// --- the decoder tab ---------------------------------------------------------------

void TestKzLocoList::decoderTab_data()
{
    QTest::addColumn<QString>("action");     // identify, reset, backup, restore
    QTest::addColumn<QByteArray>("file");    // restore: the file chosen
    QTest::addColumn<int>("abortAt");        // the programming request to abort after, 0: none
    QTest::addColumn<QStringList>("boxes");  // %1: the file's path
    QTest::addColumn<QString>("status");
    QTest::addColumn<QList<CommandBuffer>>("writes");
    QTest::addColumn<QString>("typed");      // backup: the name typed in the save dialog
    QTest::addColumn<int>("saveAs");         // backup: the file type chosen

    const int velantor = int(DecoderFields::BackupFormat::Velantor);
    const QString name = QStringLiteral("CV-Sicherung.csv");
    // The station's decoder: maker 151, version 42, CV 1 = 3, CV 29 = 6.
    const QString sameDecoder = QStringLiteral(
        "\n\nDatei: Electronic Solutions Ulm GmbH (151), Version %1\nDecoder auf dem Gleis: "
        "Electronic Solutions Ulm GmbH (151), Version 42");
    QTest::newRow("identify") << "identify" << QByteArray() << 0 << QStringList()
                              << "Decoder ausgelesen" << QList<CommandBuffer>() << name << velantor;
    QTest::newRow("empty track") << "identify, no decoder" << QByteArray() << 0 << QStringList()
                                 << "Kein Decoder auf dem Programmiergleis erkannt"
                                 << QList<CommandBuffer>() << name << velantor;
    // Identified first: the reset clears what was shown.
    QTest::newRow("factory reset")
        << "reset" << QByteArray() << 0
        << QStringList{"Möchten Sie den Decoder auf die Werkseinstellungen zurücksetzen ?"}
        << "Der Decoder wurde auf die Werkseinstellungen zurückgesetzt"
        << QList<CommandBuffer>{{1, Command::WriteCV, 8, 8, 0}} << name << velantor;
    QTest::newRow("factory reset by Enter")
        << "reset by Enter" << QByteArray() << 0
        << QStringList{"Möchten Sie den Decoder auf die Werkseinstellungen zurücksetzen ?"}
        << "Der Decoder wurde auf die Werkseinstellungen zurückgesetzt"
        << QList<CommandBuffer>{{1, Command::WriteCV, 8, 8, 0}} << name << velantor;
    // Backed up, then written back from the file: the same values, without
    // CV 7 and CV 8; question, status and writes follow the station's CVs.
    QTest::newRow("backup and restore") << "backup" << QByteArray() << 0 << QStringList()
                                        << QString() << QList<CommandBuffer>() << name << velantor;
    // A name typed without suffix gets ".csv"; DecoderPro's type reads back.
    QTest::newRow("backup as DecoderPro-CSV, no suffix")
        << "backup" << QByteArray() << 0 << QStringList() << QString() << QList<CommandBuffer>()
        << "Lok 3" << int(DecoderFields::BackupFormat::DecoderPro);
    // The first file cannot be written: it stays as it was, the read is
    // saved into the next file chosen.
    QTest::newRow("backup, save fails")
        << "backup" << QByteArray("CV;Wert\n1;5\n") << 0
        << QStringList{"Die Datei %2 konnte nicht geschrieben werden."} << QString()
        << QList<CommandBuffer>() << QString(251, QLatin1Char('a')) + QStringLiteral(".csv")
        << velantor;
    // The program's own dialog, not the desktop's, so that Qt's German
    // translation reaches it; cancelled, nothing happens.
    QTest::newRow("save dialog") << "save dialog" << QByteArray() << 0 << QStringList()
                                 << "Zur Programmierung das Programmiergleis verwenden"
                                 << QList<CommandBuffer>() << name << velantor;
    QTest::newRow("bad line")
        << "restore" << QByteArray("# Sicherung\nCV;Wert\n1;3\n2;300\n") << 0
        << QStringList{"Die Datei %1 enthält in Zeile 4 keinen gültigen Eintrag (CV 1 bis 1024, "
                       "Wert 0 bis 255)."}
        << "Zur Programmierung das Programmiergleis verwenden" << QList<CommandBuffer>() << name
        << velantor;
    QTest::newRow("CV twice") << "restore" << QByteArray("CV;Wert\n1;3\n1;4\n") << 0
                              << QStringList{"Die Datei %1 enthält in Zeile 3 keinen gültigen "
                                             "Eintrag (CV 1 bis 1024, Wert 0 bis 255)."}
                              << "Zur Programmierung das Programmiergleis verwenden"
                              << QList<CommandBuffer>() << name << velantor;
    QTest::newRow("only CV 7 and 8") << "restore" << QByteArray("CV;Wert\n7;1\n8;151\n") << 0
                                     << QStringList{"Die Datei %1 enthält keine CV."}
                                     << "Zur Programmierung das Programmiergleis verwenden"
                                     << QList<CommandBuffer>() << name << velantor;
    QTest::newRow("restore") << "restore" << QByteArray("CV;Wert\n8;151\n3;10\n29;6\n") << 0
                             << QStringList{"Möchten Sie 2 CVs aus der Datei %1 in den Decoder "
                                            "schreiben ?" + sameDecoder.arg("unbekannt")}
                             << "2 CVs zurückgeschrieben"
                             << QList<CommandBuffer>{{1, Command::WriteCV, 10, 3, 0},
                                                     {1, Command::WriteCV, 6, 29, 0}}
                             << name << velantor;
    QTest::newRow("DecoderPro export")
        << "restore" << QByteArray("\"CV, value\"\r\n1,3\r\n7,42\r\n8,151\r\n29,6\r\n") << 0
        << QStringList{"Möchten Sie 2 CVs aus der Datei %1 in den Decoder schreiben ?"
                       + sameDecoder.arg(42)}
        << "2 CVs zurückgeschrieben"
        << QList<CommandBuffer>{{1, Command::WriteCV, 3, 1, 0}, {1, Command::WriteCV, 6, 29, 0}}
        << name << velantor;
    // After the look at CV 1 (1 check), CV 8 (9) and CV 7 (10): the write and
    // verify of CV 3, then the write of CV 29.
    QTest::newRow("restore aborted")
        << "restore" << QByteArray("CV;Wert\n3;10\n29;6\n") << 23
        << QStringList{"Möchten Sie 2 CVs aus der Datei %1 in den Decoder schreiben ?\n\nDatei: "
                       "unbekannt, Version unbekannt\nDecoder auf dem Gleis: Electronic "
                       "Solutions Ulm GmbH (151), Version 42"}
        << "1 von 2 CVs geschrieben, abgebrochen bei CV 29"
        << QList<CommandBuffer>{{1, Command::WriteCV, 10, 3, 0}, {1, Command::WriteCV, 6, 29, 0}}
        << name << velantor;
    QTest::newRow("backup aborted") << "backup" << QByteArray() << 12 << QStringList()
                                    << "Vorgang abgebrochen" << QList<CommandBuffer>() << name
                                    << velantor;
}

void TestKzLocoList::decoderTab()
{
    QFETCH(QString, action);
    QFETCH(QByteArray, file);
    QFETCH(int, abortAt);
    QFETCH(QStringList, boxes);
    QFETCH(QString, status);
    QFETCH(QList<CommandBuffer>, writes);
    QFETCH(QString, typed);
    QFETCH(int, saveAs);

    WindowRig w;
    w.rig.station.setDecoderIdentity(151, 42);
    w.rig.station.setCv(29, 6);
    w.rig.station.setCv(1, 3);
    w.rig.station.setDecoderPresent(action != QLatin1String("identify, no decoder"));
    w.open();
    auto *tab = w.window->findChild<DecoderTab *>();
    QVERIFY(tab);
    QTemporaryDir dir;
    const bool backup = action == QLatin1String("backup");
    const QString path = dir.filePath(backup ? typed : QStringLiteral("CV-Sicherung.csv"));
    // Where the backup lands: the name typed, with ".csv" when it has no
    // suffix; after a failed save, the second file chosen.
    const bool saveFails = backup && !file.isEmpty();
    const QString second = dir.filePath(QStringLiteral("Zweiter Versuch.csv"));
    const QString saved = saveFails ? second : DecoderFields::withCsvSuffix(path);
    QStringList suggested;
    if (action == QLatin1String("save dialog")) {
        QStringList seen;
        QTimer::singleShot(0, [&seen] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            seen << dialog->windowTitle() << dialog->nameFilters()
                 << dialog->labelText(QFileDialog::Accept) << dialog->labelText(QFileDialog::Reject)
                 << dialog->defaultSuffix() << dialog->selectedFiles().value(0);
            QVERIFY(dialog->testOption(QFileDialog::DontUseNativeDialog));
            dialog->reject();
        });
        w.button(QStringLiteral("cmdBackup"))->click();
        QCOMPARE(seen, (QStringList{"CVs sichern", "Velantor-CV-Sicherung (*.csv)",
                                    "DecoderPro-CSV (*.csv)", "Speichern", "Abbrechen", "csv",
                                    QDir::home().filePath(QStringLiteral("CV-Sicherung.csv"))}));
    }
    tab->setFileChooser([&](bool save, const QString &offered, DecoderFields::BackupFormat *format) {
        suggested << offered;
        if (save)
            *format = DecoderFields::BackupFormat(saveAs);
        else
            return saved;
        return suggested.size() == 1 ? path : second;
    });
    if (!file.isEmpty()) {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file);
    }
    QLabel *decoderStatus = w.child<QLabel>(QStringLiteral("lblDecoderStatus"));
    QPushButton *decoderBreak = w.child<QPushButton>(QStringLiteral("cmdDecoderBreak"));
    auto labels = [tab] {
        QStringList texts;
        for (int i = 0; i < 7; ++i)
            texts << tab->valueLabel(i)->text() << tab->valueLabel(i)->accessibleName();
        return texts;
    };
    const QStringList identified{
        "Electronic Solutions Ulm GmbH (151)", "Hersteller: Electronic Solutions Ulm GmbH (151)",
        "42", "Version: 42", "3 (kurz)", "Lok-Nummer: 3 (kurz)", "28/126", "Fahrstufen: 28/126",
        "normal", "Fahrtrichtung: normal", "ein", "Analogbetrieb: ein", "aus", "RailCom: aus"};
    if (action.startsWith(QLatin1String("reset"))) {
        w.button(QStringLiteral("cmdIdentify"))->click();
        QCOMPARE(labels(), identified);
    }
    bool gated = false;
    w.atProgrammingRequest(abortAt ? abortAt : 2, [&] {
        // While the job runs: nothing else starts, the window stays open.
        w.window->close();
        gated = w.window->isVisible() && !w.button(QStringLiteral("cmdOperation0"))->isEnabled()
                && !w.button(QStringLiteral("cmdBackup"))->isEnabled()
                && !w.tabs()->isTabEnabled(0) && !decoderBreak->isHidden();
        if (abortAt)
            decoderBreak->click();
    });
    w.rig.boxes.script({BoxAnswer::Yes, BoxAnswer::Yes});

    if (action.startsWith(QLatin1String("identify")))
        w.button(QStringLiteral("cmdIdentify"))->click();
    else if (action == QLatin1String("reset"))
        w.button(QStringLiteral("cmdFactoryReset"))->click();
    else if (action == QLatin1String("reset by Enter")) {
        // A keyboard user on the decoder tab.
        QAbstractButton *reset = w.button(QStringLiteral("cmdFactoryReset"));
        w.tabs()->setCurrentIndex(2);
        reset->setFocus(Qt::TabFocusReason);
        QTest::keyClick(reset, Qt::Key_Return);
    }
    if (backup) {
        w.field(QStringLiteral("txtLastCv"))->setText(QStringLiteral("10"));
        w.button(QStringLiteral("cmdBackup"))->click();
        QCOMPARE(suggested.first(), QDir::home().filePath(QStringLiteral("CV-Sicherung.csv")));
        if (abortAt) {
            QVERIFY(!QFile::exists(saved)); // an aborted backup writes nothing
        } else {
            // The CVs the decoder lacks are listed, not saved.
            int readable = 0;
            for (int cv = 1; cv <= 10; ++cv) {
                if (!w.rig.station.hasCv(cv))
                    continue;
                ++readable;
                if (cv != 7 && cv != 8)
                    writes << CommandBuffer{1, Command::WriteCV,
                                            w.rig.station.state().cvs[size_t(cv - 1)], quint8(cv), 0};
            }
            QCOMPARE(decoderStatus->text(), DecoderFields::backupDoneText(readable, 10 - readable));
            QFile in(saved);
            QVERIFY(in.open(QIODevice::ReadOnly));
            const QByteArray text = in.readAll();
            if (saveAs == int(DecoderFields::BackupFormat::DecoderPro))
                QVERIFY(text.startsWith("CV, value\r\n1,3\r\n"));
            else
                QVERIFY(text.contains("\n# Hersteller: Electronic Solutions Ulm GmbH (151)\n# Version: 42\nCV;Wert\n"));
            if (saveFails) {
                // The file that could not be replaced is as it was.
                QFile old(path);
                QVERIFY(old.open(QIODevice::ReadOnly));
                QCOMPARE(old.readAll(), file);
                QCOMPARE(suggested.size(), 2);
            }
            // Both types hold CV 7 and CV 8 as values.
            boxes << QStringLiteral("Möchten Sie %1 CVs aus der Datei %3 in den Decoder "
                                    "schreiben ?\n\nDatei: Electronic Solutions Ulm GmbH "
                                    "(151), Version %2\nDecoder auf dem Gleis: Electronic "
                                    "Solutions Ulm GmbH (151), Version 42")
                         .arg(writes.size())
                         .arg(42);
            status = DecoderFields::restoreDoneText(int(writes.size()));
            // What the file holds is written back: change the decoder first.
            w.rig.station.setCv(1, 99);
            w.rig.takeRequests();
        }
    }
    if (action == QLatin1String("restore") || (backup && !abortAt)) {
        if (!abortAt)
            w.atProgrammingRequest(2, [] {});
        w.button(QStringLiteral("cmdRestore"))->click();
    }

    for (QString &box : boxes) {
        box.replace(QStringLiteral("%1"), QDir::toNativeSeparators(path));
        box.replace(QStringLiteral("%2"), QDir::toNativeSeparators(path));
        box.replace(QStringLiteral("%3"), QDir::toNativeSeparators(saved));
    }
    QCOMPARE(w.rig.boxes.texts(), boxes);
    for (const MessageBoxRequest &box : w.rig.boxes.boxes()) {
        QCOMPARE(box.caption, QStringLiteral("TALVIRO Velantor"));
        if (box.buttons == BoxButtons::YesNo) {
            QCOMPARE(box.icon, BoxIcon::Question);
            QCOMPARE(box.defaultAnswer, BoxAnswer::No);
        }
    }
    QCOMPARE(decoderStatus->text(), status);
    QList<CommandBuffer> sent = w.rig.takeRequests();
    sent.removeIf([](const CommandBuffer &f) { return f.command != Command::WriteCV; });
    QCOMPARE(sent, writes);
    const bool jobRan =
        decoderStatus->text() != QLatin1String("Zur Programmierung das Programmiergleis verwenden");
    if (jobRan && (boxes.isEmpty() || boxes.first().startsWith(QLatin1String("Möchten"))))
        QVERIFY(gated);
    QVERIFY(decoderBreak->isHidden());
    QVERIFY(w.button(QStringLiteral("cmdOperation0"))->isEnabled());
    QVERIFY(w.rig.station.state().track == TrackOutput::Off);
    if (action == QLatin1String("identify"))
        QCOMPARE(labels(), identified);
    if (action.startsWith(QLatin1String("reset"))) {
        // Nothing shown of the decoder before the reset; the names are the
        // captions alone.
        QCOMPARE(labels(), (QStringList{"", "Hersteller", "", "Version", "", "Lok-Nummer", "",
                                        "Fahrstufen", "", "Fahrtrichtung", "", "Analogbetrieb",
                                        "", "RailCom"}));
    }
    QLabel *elapsed = w.child<QLabel>(QStringLiteral("lblDecoderElapsedTime"));
    if (jobRan)
        QCOMPARE(elapsed->accessibleName(), QStringLiteral("Dauer: ") + elapsed->text());
}

// --- accessibility and looks ---------------------------------------------------------

void TestKzLocoList::mnemonicsAndNames()
{
    WindowRig w;
    w.open();
    QTabWidget *tabs = w.tabs();
    QSet<QChar> tabKeys;
    for (int i = 0; i < tabs->count(); ++i)
        tabKeys << mnemonicOf(tabs->tabText(i));
    QCOMPARE(tabKeys.size(), tabs->count());

    for (int i = 0; i < tabs->count(); ++i) {
        QSet<QChar> keys = tabKeys;
        const QList<QWidget *> widgets = tabs->widget(i)->findChildren<QWidget *>();
        for (QWidget *widget : widgets) {
            if (auto *button = qobject_cast<QAbstractButton *>(widget);
                button && hasMnemonic(button->text())) {
                const QChar key = mnemonicOf(button->text());
                QVERIFY2(!keys.contains(key), qPrintable(button->text()));
                keys << key;
            }
            // Qt's own helpers (the tool bar's overflow button) are not ours.
            if (widget->objectName().startsWith(QLatin1String("qt_")))
                continue;
            if (qobject_cast<QLineEdit *>(widget) || qobject_cast<QAbstractButton *>(widget)) {
                const auto *button = qobject_cast<QAbstractButton *>(widget);
                const bool named = !widget->accessibleName().isEmpty()
                                   || (button && !button->text().isEmpty());
                QVERIFY2(named, qPrintable(widget->objectName()));
            }
        }
    }
}

void TestKzLocoList::renderTabs()
{
    WindowRig w({{3, 0x82}, {7, 0x01}, {1000, 0x83}});
    w.open();
    w.tree()->setCurrentItem(w.tree()->topLevelItem(1));
    const QString dir = qEnvironmentVariable("KZ_SHOT_DIR",
                                             QCoreApplication::applicationDirPath()
                                                 + QStringLiteral("/shots"));
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(w.window->grab().save(dir + QStringLiteral("/kzlocolist-tab0.png")));

    w.rig.station.setCv(29, 6);
    w.tabs()->setCurrentIndex(1);
    w.setFields(QStringLiteral("29"), QStringLiteral("0"), QStringLiteral("0"));
    w.operate(2);
    QVERIFY(w.window->grab().save(dir + QStringLiteral("/kzlocolist-tab1.png")));

    // A register search caught in the middle, with "Abbruch" shown.
    w.rig.station.setCv(3, 17);
    w.selectType(2);
    w.setFields(QStringLiteral("3"), QStringLiteral("0"), QStringLiteral("0"));
    bool saved = false;
    w.atProgrammingRequest(8, [&] {
        saved = w.window->grab().save(dir + QStringLiteral("/kzlocolist-tab1-busy.png"));
    });
    w.operate(2);
    QVERIFY(saved);

    // The decoder tab after an identification.
    w.rig.station.setDecoderIdentity(151, 42);
    w.rig.station.setCv(1, 3);
    w.tabs()->setCurrentIndex(2);
    w.button(QStringLiteral("cmdIdentify"))->click();
    QVERIFY(w.window->grab().save(dir + QStringLiteral("/kzlocolist-tab2.png")));
}

KZ_TEST_MAIN(TestKzLocoList)
#include "test_kzlocolist.moc"
