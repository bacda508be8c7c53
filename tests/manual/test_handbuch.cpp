#include "controller/kzcontrollersettingsvl.h"
#include "dashboard/dashboardlogic.h"
#include "link/exchange.h"
#include "link/port.h"
#include "link/portsession.h"
#include "link/serialport.h"
#include "locolist/decoderfields.h"
#include "roster/roster.h"
#include "roster/rosterdialog.h"
#include "throttleserver/phonethrottles.h"
#include "tests/support/testmain.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSet>

// The manual explains every message the program shows: each must be found in
// its text (a message of several lines by its first line), and every error
// number of the serial layer must have a row in the troubleshooting table.
class TestHandbuch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void explainsMessage_data();
    void explainsMessage();
    void explainsEveryPortErrorNumber();
    void pdfTextCanBeCopied_data();
    void pdfTextCanBeCopied();

private:
    QString m_text;        // the manual with every run of white space as one blank
    QString m_source;      // the manual as written
};

void TestHandbuch::initTestCase()
{
    QFile file(QStringLiteral(HANDBUCH_PATH));
    QVERIFY(file.open(QIODevice::ReadOnly));
    m_source = QString::fromUtf8(file.readAll());
    m_text = m_source.simplified();
}

void TestHandbuch::explainsMessage_data()
{
    QTest::addColumn<QString>("message");

    QTest::newRow("no reply") << noReplyText(0);
    QTest::newRow("no reply, all controllers") << noReplyText(255);
    QTest::newRow("checking") << StatusText::Running;
    QTest::newRow("simulation") << StatusText::Simulation;
    QTest::newRow("communication error") << StatusText::CommunicationError;
    QTest::newRow("recheck after options") << StatusText::RecheckAfterOptions;
    QTest::newRow("not found") << notFoundText(3);
    QTest::newRow("version problem") << versionProblemText();
    QTest::newRow("manual missing") << ManualMissingText;
    QTest::newRow("Esc stops all locos") << GlobalStopToolTip;
    QTest::newRow("track power at closing") << trackPowerQuestion();
    QTest::newRow("controller number refused") << controllerNumberRefusal(QStringLiteral("…"));
    QTest::newRow("loco number refused") << locoNumberRefusal(QStringLiteral("…"));
    QTest::newRow("port not available")
        << SerialControllerPort::openError(QSerialPort::DeviceNotFoundError, QString()).description;
    QTest::newRow("device missing") << missingDeviceText(QStringLiteral("/dev/ttyACM0"));
    // The sections the port's error texts point to.
    QTest::newRow("section on ModemManager") << QStringLiteral("## ") + ModemManagerSection;
    QTest::newRow("section on root-only devices") << QStringLiteral("## ") + RootOnlySection;
    QTest::newRow("settings warning") << kzControllerSettingsVL::changeWarningText();
    QTest::newRow("settings saved") << kzControllerSettingsVL::savedText();
    QTest::newRow("settings not saved") << kzControllerSettingsVL::notSavedText();
    QTest::newRow("phone without reply") << phoneNoReplyText();
    QTest::newRow("phone port in use") << phonePortInUseText(12090);
    QTest::newRow("layout unknown") << kzControllerSettingsVL::undefinedLayoutText();
    QTest::newRow("decoder identified") << DecoderFields::identifiedText();
    QTest::newRow("decoder not identified") << DecoderFields::identifyFailedText();
    QTest::newRow("reset question") << DecoderFields::resetQuestion();
    QTest::newRow("reset done") << DecoderFields::resetDoneText();
    QTest::newRow("reset not confirmed") << DecoderFields::resetFailedText();
    QTest::newRow("backup failed") << DecoderFields::backupFailedText();
    QTest::newRow("bad backup line")
        << DecoderFields::badLineText(QStringLiteral("/home/anna/CV-Sicherung.csv"), 4);
    QTest::newRow("restore question")
        << DecoderFields::restoreQuestion(28, QStringLiteral("…"), {}, {}).section(QLatin1Char('\n'), 0, 0);
    QTest::newRow("restore stopped") << DecoderFields::restoreStoppedText(12, 28, 33);
    QTest::newRow("empty track") << DecoderFields::noDecoderText();
    QTest::newRow("backup with unsicher CVs") << DecoderFields::backupDoneText(56, 197, {8, 17});
    QTest::newRow("restored") << DecoderFields::restoreDoneText(28);
    QTest::newRow("roster: a file not readable")
        << Roster::problemsText(QStringLiteral("/home/anna/.local/share/velantor"), {})
               .section(QLatin1Char('\n'), 0, 0);
    QTest::newRow("roster: not saved") << Roster::saveProblemsText({}).section(QLatin1Char('\n'), 0, 0);
    QTest::newRow("roster: a name taken") << RosterDialog::takenNameText(QStringLiteral("BR 218"));
    QTest::newRow("roster: replace on taking over")
        << RosterDialog::replaceQuestion(QStringLiteral("BR 218")).section(QLatin1Char('\n'), 0, 0);
    QTest::newRow("roster: no roster.xml")
        << RosterDialog::noRosterText(QStringLiteral("…")).section(QLatin1Char('\n'), 0, 0);
}

void TestHandbuch::explainsMessage()
{
    QFETCH(QString, message);
    const QString firstLine = message.section(QStringLiteral("\r\n"), 0, 0).simplified();
    QVERIFY2(m_text.contains(firstLine), qPrintable(firstLine));
}

void TestHandbuch::explainsEveryPortErrorNumber()
{
    QSet<int> numbers = {PortErrorNumber::NoSuchPort, PortErrorNumber::DeviceNotAvailable,
                         PortErrorNumber::PermissionDenied, PortErrorNumber::PortInUse};
    for (int error = QSerialPort::NoError; error <= QSerialPort::UnknownError; ++error) {
        const auto serialError = QSerialPort::SerialPortError(error);
        numbers.insert(SerialControllerPort::openError(serialError, QString()).number);
        numbers.insert(SerialControllerPort::ioError(serialError).number);
    }
    for (const int number : std::as_const(numbers)) {
        const QRegularExpression row(QStringLiteral("^\\| %1 \\|").arg(number),
                                     QRegularExpression::MultilineOption);
        QVERIFY2(m_source.contains(row), qPrintable(QString::number(number)));
    }
}

// What a reader copies or searches in the PDF is what the manual says: a
// line of code is one line of text, on the page of the sentence that
// introduces it; a file name is not broken; no ligature stands for letters.
void TestHandbuch::pdfTextCanBeCopied_data()
{
    QTest::addColumn<QString>("introduction"); // on the same page, before the text
    QTest::addColumn<QString>("text");         // within one line
    QTest::newRow("a word with ff") << QString() << "öffnen";
    QTest::newRow("udev rule for root-only devices")
        << "eine Datei mit dieser Zeile an"
        << R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="1234", ATTRS{idProduct}=="5678", GROUP="dialout", MODE="0660")";
    QTest::newRow("udev rule for ModemManager")
        << "eine Datei mit dieser Zeile an"
        << R"(ATTRS{idVendor}=="1234", ATTRS{idProduct}=="5678", ENV{ID_MM_DEVICE_IGNORE}="1")";
    QTest::newRow("file name in the text")
        << QString() << "sudo nano /etc/udev/rules.d/98-velantor.rules";
    QTest::newRow("error box") << "lautet die Meldung"
                               << "(Fehler 8002 - Schnittstelle nicht verfügbar: /dev/ttyACM0 ist "
                                  "nicht vorhanden. Ist der Controller eingesteckt?)";
    QTest::newRow("command without sudo") << "nach dem Passwort von"
                                          << "su - -c 'usermod -aG dialout anna'";
}

void TestHandbuch::pdfTextCanBeCopied()
{
    QFETCH(QString, introduction);
    QFETCH(QString, text);
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    QProcess process;
    process.start(pdftotext, {QStringLiteral("-enc"), QStringLiteral("UTF-8"),
                              QStringLiteral(HANDBUCH_PDF), QStringLiteral("-")});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    const QString all = QString::fromUtf8(process.readAllStandardOutput());
    QVERIFY2(!all.contains(QRegularExpression(QStringLiteral("[\\x{FB00}-\\x{FB06}]"))),
             "ligatures in the text");

    for (const QString &page : all.split(QLatin1Char('\f'))) {
        const QStringList lines = page.split(QLatin1Char('\n'));
        for (int i = 0; i < lines.size(); ++i) {
            if (!lines.at(i).contains(text))
                continue;
            const QString before = lines.mid(0, i).join(QLatin1Char(' ')).simplified();
            if (before.contains(introduction))
                return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("not on one line after its introduction: ") + text));
}

KZ_TEST_MAIN(TestHandbuch)
#include "test_handbuch.moc"
