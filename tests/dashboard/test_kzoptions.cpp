#include "common/settings.h"
#include "dashboard/kzoptions.h"
#include "link/portsession.h"
#include "tests/support/stationrig.h"
#include "tests/support/testmain.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>

// The port selection dialog with the in-memory port.
class TestKzOptions : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void selectionWhenOpened_data();
    void selectionWhenOpened();
    void listAndToolTips();
    void okWithSimulation();
    void okWithMissingPortStaysOpen();
    void okWithWorkingPort();
    void cancelChangesNothing();

private:
    // Stores name as the choice and makes it the current port, as start-up
    // does.
    void startWith(const QString &name);

    std::unique_ptr<StationRig> m_rig;
};

void TestKzOptions::init()
{
    m_rig = std::make_unique<StationRig>();
}

void TestKzOptions::cleanup()
{
    m_rig.reset();
}

void TestKzOptions::startWith(const QString &name)
{
    sysSaveSetting(QStringLiteral("SignalOutputTo"), name, QStringLiteral("Velantor"));
    setCurrentPortName(name.isEmpty() ? QStringLiteral("NUL") : name);
}

void TestKzOptions::selectionWhenOpened_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<int>("entry");
    QTest::newRow("COM3") << "COM3" << 3;
    QTest::newRow("com3") << "com3" << 3;
    QTest::newRow("COM25") << "COM25" << 0;
    QTest::newRow("COM03") << "COM03" << -1;
    QTest::newRow("no setting") << "" << 0;
    QTest::newRow("NUL") << "NUL" << 0;
}

void TestKzOptions::selectionWhenOpened()
{
    QFETCH(QString, setting);
    QFETCH(int, entry);
    startWith(setting);
    kzOptions dialog;
    dialog.show();
    QCOMPARE(dialog.cmbComPort()->currentIndex(), entry);
    QCOMPARE(dialog.chosenPortName(), setting.isEmpty() ? QStringLiteral("NUL") : setting);
}

void TestKzOptions::listAndToolTips()
{
    startWith(QStringLiteral("COM1"));
    sysSaveSetting(QStringLiteral("COM2"), QStringLiteral("/dev/pts/77"), QStringLiteral("Ports"));
    kzOptions dialog;
    dialog.show();
    QComboBox *list = dialog.cmbComPort();
    QCOMPARE(list->count(), 25);
    QCOMPARE(list->itemText(0), QStringLiteral("<Simulationsmodus>"));
    QCOMPARE(list->itemText(24), QStringLiteral("COM24"));
    QVERIFY(list->itemData(1, Qt::ToolTipRole).toString().startsWith(QStringLiteral("Gerät: /dev/ttyACM0")));
    QVERIFY(list->itemData(2, Qt::ToolTipRole).toString().startsWith(QStringLiteral("Gerät: /dev/pts/77")));
    QVERIFY(list->itemData(24, Qt::ToolTipRole).toString().startsWith(QStringLiteral("Gerät: /dev/ttyS7")));
    QCOMPARE(dialog.lblInfo()->text(),
             QStringLiteral("Bitte wählen Sie hier die gewünschte serielle \r\nSchnittstelle aus"));
    QCOMPARE(QAccessible::queryAccessibleInterface(dialog.lblInfo())->text(QAccessible::Name),
             QStringLiteral("Bitte wählen Sie hier die gewünschte serielle Schnittstelle aus"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Einstellungen"));
    QCOMPARE(dialog.tabSettings()->tabText(0), QStringLiteral("&Allgemein"));
    QVERIFY(!list->accessibleName().isEmpty());

    // Filled once: a second showing keeps the user's selection.
    list->setCurrentIndex(7);
    dialog.hide();
    dialog.show();
    QCOMPARE(list->currentIndex(), 7);
}

void TestKzOptions::okWithSimulation()
{
    startWith(QStringLiteral("COM1"));
    const int opens = m_rig->port.openCount();
    kzOptions dialog;
    dialog.show();
    dialog.cmbComPort()->setCurrentIndex(0);

    dialog.btnOK()->click();

    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(m_rig->port.openCount(), opens);
    // The port that was open stays so; nothing is sent in simulation mode.
    QVERIFY(m_rig->port.isOpen());
    QCOMPARE(currentPortName(), QStringLiteral("NUL"));
    QCOMPARE(sysGetSetting(QStringLiteral("SignalOutputTo"), QString(), QStringLiteral("Velantor")),
             QStringLiteral("NUL"));
    QCOMPARE(m_rig->boxes.count(), 0);
}

void TestKzOptions::okWithMissingPortStaysOpen()
{
    startWith(QStringLiteral("COM1"));
    m_rig->port.setPresentDevices({QStringLiteral("/dev/ttyACM0")});
    kzOptions dialog;
    dialog.show();
    dialog.cmbComPort()->setCurrentIndex(5);

    dialog.btnOK()->click();

    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.cmbComPort()->currentIndex(), 5);
    QCOMPARE(m_rig->boxes.count(), 1);
    QVERIFY(m_rig->boxes.last().text.startsWith(
        QStringLiteral("Fehler beim Zugriff auf COM5\r\n\r\n(Fehler 8002 - Schnittstelle nicht verfügbar: "
                       "/dev/ttyACM4 ist nicht vorhanden. Ist der Controller eingesteckt?)")));
    QVERIFY(!m_rig->port.isOpen()); // the test closed the port that was open

    dialog.btnCancel()->click();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(currentPortName(), QStringLiteral("COM1"));
    QCOMPARE(sysGetSetting(QStringLiteral("SignalOutputTo"), QString(), QStringLiteral("Velantor")),
             QStringLiteral("COM1"));
}

void TestKzOptions::okWithWorkingPort()
{
    startWith(QStringLiteral("NUL"));
    const int opens = m_rig->port.openCount();
    kzOptions dialog;
    dialog.show();
    dialog.cmbComPort()->setCurrentIndex(10);

    dialog.btnOK()->click();

    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(m_rig->port.openCount() - opens, 2); // the test, then for use
    QVERIFY(m_rig->port.isOpen());
    QCOMPARE(m_rig->port.devicePath(), QStringLiteral("/dev/ttyUSB1"));
    QCOMPARE(currentPortName(), QStringLiteral("COM10"));
    QCOMPARE(sysGetSetting(QStringLiteral("SignalOutputTo"), QString(), QStringLiteral("Velantor")),
             QStringLiteral("COM10"));
}

void TestKzOptions::cancelChangesNothing()
{
    startWith(QStringLiteral("COM03"));
    kzOptions dialog;
    dialog.show();
    QCOMPARE(dialog.cmbComPort()->currentIndex(), -1);
    dialog.btnCancel()->click();
    QCOMPARE(currentPortName(), QStringLiteral("COM03"));

    // With nothing selected OK chooses simulation mode.
    kzOptions again;
    again.show();
    again.btnOK()->click();
    QCOMPARE(currentPortName(), QStringLiteral("NUL"));
}

KZ_TEST_MAIN(TestKzOptions)
#include "test_kzoptions.moc"
