#include "controller/kzcontrollersettingsvl.h"
#include "dashboard/dashboardlogic.h"
#include "link/exchange.h"
#include "link/port.h"
#include "link/serialport.h"
#include "locolist/decoderfields.h"
#include "throttleserver/phonethrottles.h"
#include "tests/support/testmain.h"

#include <QRegularExpression>
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

KZ_TEST_MAIN(TestHandbuch)
#include "test_handbuch.moc"
