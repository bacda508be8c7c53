#include "simulator/ptystation.h"

#include "link/clock.h"
#include "link/exchange.h"
#include "link/serialport.h"

#include "../support/testmain.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QByteArray StatusRequest = QByteArray::fromHex("010200000003");
const QByteArray StatusReply = QByteArray::fromHex("010000001110");

// Reads from a serial port until count bytes are there or the time is over.
QByteArray readSome(QSerialPort &port, int count, int ms = 1000)
{
    QByteArray bytes;
    QDeadlineTimer deadline(ms);
    while (bytes.size() < count && !deadline.hasExpired()) {
        if (port.bytesAvailable() > 0 || port.waitForReadyRead(int(deadline.remainingTime())))
            bytes += port.readAll();
    }
    return bytes;
}

bool openSerial(QSerialPort &port, const QString &path)
{
    port.setPortName(path);
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.setBaudRate(115200);
    return true;
}

} // namespace

// The station served on a pseudo-terminal: the program's serial port talks to
// it like to a controller's device.
class TestPtyStation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answersASerialPort()
    {
        PtyStation station(PtyStation::Threading::OwnThread);
        QVERIFY2(station.open(), qPrintable(station.errorString()));
        QVERIFY(station.devicePath().startsWith(QStringLiteral("/dev/pts/")));

        QSerialPort port;
        QVERIFY(openSerial(port, station.devicePath()));
        // A request in two pieces, then a second one right behind the first.
        port.write(StatusRequest.left(4));
        port.waitForBytesWritten(100);
        port.write(StatusRequest.mid(4) + QByteArray::fromHex("0102fd0000fe"));
        QCOMPARE(readSome(port, 12), StatusReply + QByteArray::fromHex("010205020004"));

        // Closing and opening again: the station keeps serving.
        port.close();
        QVERIFY(openSerial(port, station.devicePath()));
        station.withCore([](StationCore &core) { core.addFault(Fault::refusal()); });
        port.write(StatusRequest);
        QCOMPARE(readSome(port, 6), QByteArray::fromHex("01ff000011ef"));
        QCOMPARE(station.withCore([](StationCore &core) { return core.receivedRequests().size(); }), 3);
    }

    // The station on the caller's own event loop, as kzsim runs it.
    void servesOnTheCallersThread()
    {
        PtyStation station;
        QVERIFY(station.open());
        const int fd = ::open(QFile::encodeName(station.devicePath()).constData(),
                              O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        termios raw;
        ::tcgetattr(fd, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(fd, TCSANOW, &raw);
        QCOMPARE(::write(fd, StatusRequest.constData(), 6), 6);

        QByteArray reply;
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                     char buffer[32];
                                     const ssize_t n = ::read(fd, buffer, sizeof buffer);
                                     if (n > 0)
                                         reply.append(buffer, int(n));
                                     return reply.size() >= 6;
                                 }()),
                                 1000);
        QCOMPARE(reply, StatusReply);
        ::close(fd);
    }

    void symlinks()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("controller"));
        const QString file = dir.filePath(QStringLiteral("file"));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), link)); // an old link
        QFile plain(file);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();

        {
            PtyStation station(PtyStation::Threading::OwnThread);
            QVERIFY(!station.setLink(link)); // nothing to point at yet
            QVERIFY(station.open());
            QVERIFY(station.setLink(link));
            QCOMPARE(QFileInfo(link).symLinkTarget(), station.devicePath());
            QCOMPARE(station.linkPath(), link);
            QVERIFY(!station.setLink(file));
            QVERIFY(QFileInfo(file).isFile());
            QVERIFY(!station.errorString().isEmpty());
        }
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(QFileInfo::exists(file));
    }

    void unplugAndReplug()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("controller"));
        PtyStation station(PtyStation::Threading::OwnThread);
        QVERIFY(station.open());
        QVERIFY(station.setLink(link));

        QSerialPort port;
        QVERIFY(openSerial(port, link));
        port.write(StatusRequest);
        QCOMPARE(readSome(port, 6), StatusReply);

        station.unplug();
        QVERIFY(!station.isOpen());
        QVERIFY(station.devicePath().isEmpty());
        // The device is gone: the port reports an error instead of data.
        port.write(StatusRequest);
        port.waitForBytesWritten(200);
        QVERIFY(readSome(port, 6, 100).isEmpty());
        QVERIFY(port.error() != QSerialPort::NoError);
        port.close();

        QVERIFY(station.replug());
        QCOMPARE(QFileInfo(link).symLinkTarget(), station.devicePath());
        QVERIFY(openSerial(port, link));
        port.write(StatusRequest);
        QCOMPARE(readSome(port, 6), StatusReply);
    }

    // The program's own port and exchange, blocking the test's thread while
    // the station answers from its own.
    void programExchange()
    {
        PtyStation station(PtyStation::Threading::OwnThread);
        QVERIFY(station.open());
        station.withCore([](StationCore &core) {
            core.setRealisticTiming(true);
            core.setTrackOutput(TrackOutput::Programming);
        });
        SerialControllerPort port;
        QVERIFY(port.open(station.devicePath()));
        CommandBuffer verify{1, Command::VerifyCV, 3, 1, 0};
        QVERIFY(ExchangeFrame(port, verify, 2));
        QCOMPARE(verify, (CommandBuffer{1, 33, 1, 0, 0}));
    }

    void kzsimProgram()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("station"));
        QProcess kzsim;
        kzsim.start(QStringLiteral(KZSIM_PATH),
                    {QStringLiteral("--link"), link, QStringLiteral("--controller"), QStringLiteral("4"),
                     QStringLiteral("--firmware"), QStringLiteral("5.1.8"), QStringLiteral("--layout"),
                     QStringLiteral("uno"), QStringLiteral("--demo"), QStringLiteral("--log")});
        QVERIFY(kzsim.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(kzsim.canReadLine(), 5000);
        const QString device = QString::fromLocal8Bit(kzsim.readLine()).trimmed();
        QVERIFY(device.startsWith(QStringLiteral("/dev/pts/")));
        QCOMPARE(QFileInfo(link).symLinkTarget(), device);

        QSerialPort port;
        QVERIFY(openSerial(port, link));
        port.write(QByteArray::fromHex("040200000006")); // status
        port.write(QByteArray::fromHex("0402fd0000fb")); // version
        port.write(QByteArray::fromHex("04140000ffef")); // first loco
        QCOMPARE(readSome(port, 18), QByteArray::fromHex("04000000090d" "04020501080a" "041403008291"));
        port.close();

        ::kill(pid_t(kzsim.processId()), SIGTERM);
        QVERIFY(kzsim.waitForFinished(5000));
        QCOMPARE(kzsim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(kzsim.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(kzsim.readAllStandardError().contains("RX 04 02 FD 00 00 FB"));
    }

    void kzsimRefusesBadOptions()
    {
        QProcess kzsim;
        kzsim.start(QStringLiteral(KZSIM_PATH), {QStringLiteral("--firmware"), QStringLiteral("5.2")});
        QVERIFY(kzsim.waitForFinished(5000));
        QCOMPARE(kzsim.exitCode(), 2);
        QVERIFY(kzsim.readAllStandardOutput().isEmpty());
    }

    // Qt's own part of the help is German too, in any locale.
    void kzsimHelpSpeaksGerman()
    {
        QProcess kzsim;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
        kzsim.setProcessEnvironment(environment);
        kzsim.start(QStringLiteral(KZSIM_PATH), {QStringLiteral("--help")});
        QVERIFY(kzsim.waitForFinished(5000));
        const QString help = QString::fromUtf8(kzsim.readAllStandardOutput());
        QVERIFY2(help.contains(QStringLiteral("Optionen:")) && !help.contains(QStringLiteral("Usage:")),
                 qPrintable(help));
    }
};

KZ_TEST_MAIN(TestPtyStation)
#include "test_ptystation.moc"
