#include "scriptedport.h"

#include "common/settings.h"
#include "link/portsession.h"
#include "link/serialport.h"

#include "../support/recordingboxes.h"
#include "../support/testmain.h"

#include <QProcess>
#include <QScopeGuard>

#include <unistd.h>

Q_DECLARE_METATYPE(QSerialPort::SerialPortError)

namespace {

const QString SupportParagraph = QStringLiteral(
    "\r\n\r\nFür Rückfragen und Informationen stehen wir Ihnen gerne zur Verfügung:\r\n\r\n"
    "TALVIRO Modellbahnlösungen\r\n\r\nFon: +49 (0)0000 555 01 23\r\n"
    "Fax:  +49 (0)0000 555 01 29\r\n(Supportzeiten auf unserer Homepage)\r\n\r\n"
    "eMail:     support@talviro.example\r\nInternet: https://www.talviro.example");

// What a normal user's shell has as PATH on Debian (/etc/profile): no sbin.
const QString DebianUserPath = QStringLiteral("/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games");

// Runs a program to its end (at most 20 s, no input); its exit code, or -1.
int run(const QString &program, const QStringList &arguments,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
        QByteArray *output = nullptr)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.closeWriteChannel();
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (output)
        *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

// Opening and closing the one port, and which device a "COM" name means.
class TestPortSession : public QObject
{
    Q_OBJECT

    ManualClock m_clock;
    ScriptedPort m_port;

private Q_SLOTS:
    void init()
    {
        setProgramClock(&m_clock);
        m_port = ScriptedPort();
        setControllerPort(&m_port);
    }
    void cleanup()
    {
        setControllerPort(nullptr);
        setProgramClock(nullptr);
    }

    void readsPortNumber_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("number");
        QTest::newRow("COM7") << "COM7" << 7;
        QTest::newRow("COM12") << "COM12" << 12;
        QTest::newRow("third digit not read") << "COM123" << 12;
        QTest::newRow("leading zero") << "COM03" << 3;
        QTest::newRow("no digits") << "NUL" << 0;
        QTest::newRow("digit then letter") << "COM1x" << 1;
    }
    void readsPortNumber()
    {
        QFETCH(QString, name);
        QFETCH(int, number);
        QCOMPARE(portNumberFromName(name), number);
    }

    void mapsNumbersToDevices_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("device");
        QTest::newRow("COM1") << 1 << "/dev/ttyACM0";
        QTest::newRow("COM8") << 8 << "/dev/ttyACM7";
        QTest::newRow("COM9") << 9 << "/dev/ttyUSB0";
        QTest::newRow("COM12") << 12 << "/dev/ttyUSB3";
        QTest::newRow("COM16") << 16 << "/dev/ttyUSB7";
        QTest::newRow("COM17") << 17 << "/dev/ttyS0";
        QTest::newRow("COM24") << 24 << "/dev/ttyS7";
        QTest::newRow("COM25") << 25 << "";
        QTest::newRow("COM0") << 0 << "";
    }
    void mapsNumbersToDevices()
    {
        QFETCH(int, number);
        QFETCH(QString, device);
        QCOMPARE(devicePathForPortNumber(number), device);
    }

    void settingOverridesMapping()
    {
        sysSaveSetting(QStringLiteral("COM3"), QStringLiteral("/dev/serial/by-id/usb-board-if00"),
                       PortsSection);
        sysSaveSetting(QStringLiteral("COM30"), QStringLiteral("/dev/pts/7"), PortsSection);
        QCOMPARE(devicePathForPortNumber(3), QStringLiteral("/dev/serial/by-id/usb-board-if00"));
        QCOMPARE(devicePathForPortNumber(4), QStringLiteral("/dev/ttyACM3"));
        QCOMPARE(devicePathForPortNumber(30), QStringLiteral("/dev/pts/7"));
        sysSaveSetting(QStringLiteral("COM3"), QString(), PortsSection);
        sysSaveSetting(QStringLiteral("COM30"), QString(), PortsSection);
    }

    void opensMappedDevice()
    {
        RecordingMessageBoxes recorder;
        QVERIFY(OpenPort(QStringLiteral("COM123"), false));
        QCOMPARE(m_port.openedPath, QStringLiteral("/dev/ttyUSB3"));
        QVERIFY(m_port.isOpen());
        QCOMPARE(recorder.count(), 0);
    }

    void reportsOpenFailures_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("lastLine");
        QTest::newRow("no such port")
            << 8002 << "irrelevant"
            << "(Fehler 8002 - Schnittstelle nicht verfügbar: /dev/ttyACM2 ist nicht vorhanden. "
               "Ist der Controller eingesteckt?)";
        QTest::newRow("not available")
            << 68 << "irrelevant" << "(Fehler 68 - Schnittstelle nicht verfügbar)";
        QTest::newRow("other failure")
            << 8005 << "/dev/ttyACM2 wird bereits von einem anderen Programm verwendet"
            << "(Fehler 8005 - /dev/ttyACM2 wird bereits von einem anderen Programm verwendet)";
    }
    void reportsOpenFailures()
    {
        QFETCH(int, number);
        QFETCH(QString, description);
        QFETCH(QString, lastLine);
        RecordingMessageBoxes recorder;
        m_port.openResult = false;
        m_port.openFailure = {number, description};
        QVERIFY(!OpenPort(QStringLiteral("COM3"), false));
        QVERIFY(!m_port.isOpen());
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().icon, BoxIcon::Warning);
        QVERIFY(recorder.last().text.startsWith(QStringLiteral("Fehler beim Zugriff auf COM3\r\n\r\n")
                                                + lastLine + QStringLiteral("\r\n\r\nFür")));

        recorder.clear();
        QVERIFY(!OpenPort(QStringLiteral("COM3"), true));
        QCOMPARE(recorder.count(), 0);
    }

    // The advice for a device the user may not open or that another program
    // holds, as the whole box shows it: a command on a line of its own, a
    // group only when joining it helps, never root's.
    void explainsOpenFailures_data()
    {
        QTest::addColumn<QSerialPort::SerialPortError>("error");
        QTest::addColumn<QString>("group");
        QTest::addColumn<bool>("groupMayReadWrite");
        QTest::addColumn<bool>("groupPending");
        QTest::addColumn<bool>("userMayOpen");
        QTest::addColumn<bool>("modemManager");
        QTest::addColumn<bool>("sudo");
        QTest::addColumn<QString>("login");
        QTest::addColumn<QString>("box");
        const QString head = QStringLiteral("Fehler beim Zugriff auf COM1\r\n\r\n(Fehler ");
        const QString rootOnly = head
            + "8010 - Keine Berechtigung für /dev/ttyACM0. Nur der Administrator darf dieses Gerät "
              "öffnen. Bitten Sie ihn um Zugriff, oder richten Sie eine udev-Regel ein, wie sie das "
              "Handbuch im Abschnitt \"Geräte, die nur der Administrator öffnen darf\" zeigt.)"
            + SupportParagraph;
        const QString busy = head + "8005 - /dev/ttyACM0 wird bereits von einem anderen Programm verwendet";
        QTest::newRow("group may read and write")
            << QSerialPort::PermissionError << "dialout" << true << false << false << false << true
            << "anna"
            << head + "8010 - Keine Berechtigung für /dev/ttyACM0. Ihr Benutzer muss Mitglied der "
                      "Gruppe \"dialout\" sein. Geben Sie dazu im Terminal ein:\r\n"
                      "sudo usermod -aG dialout anna\r\n"
                      "Melden Sie sich danach ab und wieder an.)" + SupportParagraph;
        // Without sudo root's password does it, and the name is filled in by
        // the user's shell, never by root's.
        const QString withSu = head
            + "8010 - Keine Berechtigung für /dev/ttyACM0. Ihr Benutzer muss Mitglied der Gruppe "
              "\"dialout\" sein. Geben Sie dazu im Terminal ein (su fragt nach dem Passwort des "
              "Administrators root):\r\nsu - -c %1usermod -aG dialout %2%1\r\n"
              "Melden Sie sich danach ab und wieder an.)" + SupportParagraph;
        QTest::newRow("group may read and write, no sudo")
            << QSerialPort::PermissionError << "dialout" << true << false << false << false << false
            << "anna" << withSu.arg(QStringLiteral("'"), QStringLiteral("anna"));
        QTest::newRow("no sudo, name found by the shell")
            << QSerialPort::PermissionError << "dialout" << true << false << false << false << false
            << "`whoami`" << withSu.arg(QStringLiteral("\""), QStringLiteral("`whoami`"));
        QTest::newRow("member, not yet in this login")
            << QSerialPort::PermissionError << "dialout" << true << true << false << false << true
            << "anna" << head + "8010 - Keine Berechtigung für /dev/ttyACM0. Ihr Benutzer ist Mitglied der "
                      "Gruppe \"dialout\", doch das gilt erst nach einer neuen Anmeldung. Melden "
                      "Sie sich ab und wieder an.)" + SupportParagraph;
        QTest::newRow("only root may open") << QSerialPort::PermissionError << "root" << false
                                            << false << false << false << true << "anna" << rootOnly;
        QTest::newRow("group may only write") << QSerialPort::PermissionError << "tty" << false
                                              << false << false << false << true << "anna" << rootOnly;
        QTest::newRow("busy") << QSerialPort::PermissionError << "dialout" << true << false << true
                              << false << true << "anna" << busy + ")" + SupportParagraph;
        QTest::newRow("busy while ModemManager runs")
            << QSerialPort::PermissionError << "dialout" << true << false << true << true << true
            << "anna" << busy + ". ModemManager läuft und prüft womöglich gerade, ob hinter dem Board ein "
                      "Modem steckt. Warten Sie einige Sekunden und versuchen Sie es erneut; wie Sie "
                      "das auf Dauer abstellen, steht im Handbuch im Abschnitt \"ModemManager: wenn "
                      "ein anderes Programm die Schnittstelle belegt\".)" + SupportParagraph;
    }
    void explainsOpenFailures()
    {
        QFETCH(QSerialPort::SerialPortError, error);
        QFETCH(QString, group);
        QFETCH(bool, groupMayReadWrite);
        QFETCH(bool, groupPending);
        QFETCH(bool, userMayOpen);
        QFETCH(bool, modemManager);
        QFETCH(bool, sudo);
        QFETCH(QString, login);
        QFETCH(QString, box);
        DeviceAccess access;
        access.exists = true;
        access.userMayOpen = userMayOpen;
        access.group = group;
        access.groupMayReadWrite = groupMayReadWrite;
        access.groupPending = groupPending;
        access.loginName = login;
        access.sudoUsable = sudo;
        access.modemManagerRunning = modemManager;
        RecordingMessageBoxes recorder;
        m_port.openResult = false;
        m_port.openFailure =
            SerialControllerPort::openError(error, QStringLiteral("/dev/ttyACM0"), access);
        QVERIFY(!OpenPort(QStringLiteral("COM1"), false));
        QCOMPARE(recorder.count(), 1);
        QCOMPARE(recorder.last().text, box);
    }

    // The su form of the advice works as typed: the box's line, run by a
    // shell with a normal Debian user's PATH the way su runs it for root's
    // password (root itself is asked none), adds the group. Only as root,
    // and only for a throwaway user the test creates and removes.
    void suAdviceWorksAsTyped()
    {
        if (::geteuid() != 0)
            QSKIP("needs root: runs the box's su command for a throwaway user it creates");
        if (run(QStringLiteral("getent"), {QStringLiteral("group"), QStringLiteral("dialout")}) != 0)
            QSKIP("this system has no group dialout");
        const QString user = QStringLiteral("kzsu%1").arg(QCoreApplication::applicationPid());
        QCOMPARE(run(QStringLiteral("/usr/sbin/useradd"),
                     {QStringLiteral("--no-create-home"), QStringLiteral("--shell"),
                      QStringLiteral("/usr/sbin/nologin"), user}),
                 0);
        const auto removeUser = qScopeGuard([&] { run(QStringLiteral("/usr/sbin/userdel"), {user}); });

        DeviceAccess access;
        access.exists = true;
        access.group = QStringLiteral("dialout");
        access.groupMayReadWrite = true;
        access.loginName = user;
        const QString box = SerialControllerPort::openError(QSerialPort::PermissionError,
                                                            QStringLiteral("/dev/ttyACM0"), access)
                                .description;
        QStringList commands;
        for (const QString &line : box.split(QStringLiteral("\r\n"))) {
            if (line.startsWith(QLatin1String("su ")))
                commands << line;
        }
        QCOMPARE(commands.size(), 1);

        QProcessEnvironment userShell;
        userShell.insert(QStringLiteral("PATH"), DebianUserPath);
        QByteArray said;
        QCOMPARE(run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), commands.first()}, userShell,
                     &said),
                 0);
        QVERIFY2(!said.contains("not found"), said.constData());
        QByteArray groups;
        QCOMPARE(run(QStringLiteral("id"), {QStringLiteral("-nG"), user},
                     QProcessEnvironment::systemEnvironment(), &groups),
                 0);
        QVERIFY2(groups.trimmed().split(' ').contains("dialout"), groups.constData());
    }

    void nameWithoutDeviceIsNoSuchPort()
    {
        RecordingMessageBoxes recorder;
        QVERIFY(!OpenPort(QStringLiteral("COM25"), false));
        QCOMPARE(m_port.openCount, 0);
        QVERIFY(recorder.last().text.contains(QStringLiteral("(Fehler 8002 - Schnittstelle nicht verfügbar)")));
    }

    void closePortIsQuiet()
    {
        RecordingMessageBoxes recorder;
        ClosePort();
        QVERIFY(OpenPort(QStringLiteral("COM1"), false));
        ClosePort();
        QVERIFY(!m_port.isOpen());
        ClosePort();
        setControllerPort(nullptr);
        ClosePort();
        QCOMPARE(recorder.count(), 0);
    }

    void simulationModeIgnoresCase()
    {
        for (const char *name : {"NUL", "nul", "Nul"}) {
            setCurrentPortName(QLatin1String(name));
            QVERIFY(isSimulationMode());
        }
        setCurrentPortName(QStringLiteral("COM1"));
        QVERIFY(!isSimulationMode());
    }
};

KZ_TEST_MAIN(TestPortSession)
#include "test_portsession.moc"
