#include "common/errors.h"
#include "common/settings.h"
#include "dashboard/kzoptions.h"
#include "link/clock.h"
#include "link/commands.h"
#include "common/lineboxes.h"
#include "link/exchange.h"
#include "link/portsession.h"
#include "link/serialport.h"
#include "locolist/decoderjobs.h"
#include "simulator/ptystation.h"

#include "../support/recordingboxes.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QElapsedTimer>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <functional>
#include <grp.h>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// Every fault the line to a controller can show, one row each, with the real
// serial port implementation against the virtual command station on a
// pseudo-terminal. Time runs 20 times faster on the program clock: the
// 2-second time-out of an attempt lasts 100 ms. The station's delays are real
// milliseconds.

namespace {

constexpr int ClockFactor = 20;
constexpr qint16 TimeoutSeconds = 2;
constexpr int AttemptRealMs = TimeoutSeconds * 1000 / ClockFactor;
constexpr qint16 Attempts = 2;
// A board that restarts when opened is silent for a time close to a whole
// attempt; the rows for it run 4 times faster than real time only, so that a
// busy machine's scheduling is small beside the gap between the restart and
// the end of the first attempt.
constexpr int RestartClockFactor = 4;

// The request of every row: loco 3 at speed 128 on controller 1. The station
// echoes it with its own number.
const CommandBuffer Request{1, Command::SetSpeed, 128, 3, 0};
const CommandBuffer Echo{1, Command::SetSpeed, 128, 3, 0};

const QString NoReply = QStringLiteral("Controller 1 antwortet nicht.");
const QString AccessError = QStringLiteral("Fehler beim Zugriff auf COM1\r\n\r\n"
                                           "Bitte überprüfen Sie den eingestellten COM-Port.");
const QString OpenError = QStringLiteral("Fehler beim Zugriff auf COM1\r\n\r\n(Fehler ");

// Runs as a child process without privileges: opens the device named in this
// variable through OpenPort and prints the box it showed.
const char PermissionProbe[] = "KZ_FAULTS_PERMISSION_PROBE";
constexpr uid_t NobodyId = 65534;

// The real port, watched: counts the waits for input (a busy loop on a dead
// device would show as thousands of them), keeps the size of every read, and
// can hold the exchange just before the n-th discard of stale input.
class WatchedPort final : public ControllerPort
{
public:
    explicit WatchedPort(SerialControllerPort *port) : m_port(port) {}

    int readWaits = 0;
    QList<int> readSizes;
    int discards = 0;
    std::function<void(int)> beforeDiscard;

    bool open(const QString &devicePath) override { return m_port->open(devicePath); }
    void close() override { m_port->close(); }
    bool isOpen() const override { return m_port->isOpen(); }
    QString devicePath() const override { return m_port->devicePath(); }
    PortError lastError() const override { return m_port->lastError(); }
    void discardInput() override
    {
        ++discards;
        if (beforeDiscard)
            beforeDiscard(discards);
        m_port->discardInput();
    }
    void discardOutput() override { m_port->discardOutput(); }
    bool write(const QByteArray &bytes) override { return m_port->write(bytes); }
    qint64 bytesToWrite() const override { return m_port->bytesToWrite(); }
    bool waitForBytesWritten(int ms) override { return m_port->waitForBytesWritten(ms); }
    qint64 bytesAvailable() const override { return m_port->bytesAvailable(); }
    bool waitForReadyRead(int ms) override
    {
        ++readWaits;
        return m_port->waitForReadyRead(ms);
    }
    QByteArray readAll() override
    {
        const QByteArray bytes = m_port->readAll();
        readSizes.append(int(bytes.size()));
        return bytes;
    }

private:
    SerialControllerPort *m_port;
};

// What happens in a row besides the faults of the station.
enum class Scenario {
    Exchange,               // one SendCommand
    LateAfterGiveUp,        // the late replies arrive after SendCommand gave up
    LateDuringRetry,        // the late reply comes while the retry waits
    LateBeforeRetryDiscard, // the late reply is in before the retry discards
    DeviceClosed,           // the device goes away while the reply is awaited
    OpenMissing,            // OpenPort for a device that does not exist
    OpenWithoutPermission,  // OpenPort for a device the user may not open
    OpenInUse,              // OpenPort for a device another program holds
    RestartAfterReplug,     // re-plugged, the board restarts on the quiet reopen
    RestartAfterOptions,    // the port chosen in the options dialog, which opens it
    BackupLosingAcks,       // a CV backup while the line misses acknowledgement pulses
};

struct Row
{
    const char *name;
    Scenario scenario;
    QList<Fault> faults;
    bool result;
    int requests;                   // frames the station received
    QStringList boxes;              // the boxes shown, each by the start of its text
    std::optional<CommandBuffer> reply; // the buffer after a valid reply
    int restartMs = 0;              // the board restarts on every open, program time
};

QList<Row> rows()
{
    using S = Scenario;
    const QStringList noReplyBox{NoReply};
    return {
        {"no reply", S::Exchange, {Fault::noReply(Fault::Always)}, false, 2, noReplyBox, {}},
        {"late reply after the exchange gave up", S::LateAfterGiveUp,
         {Fault::lateReply(AttemptRealMs * 4, Fault::Always)}, false, 2, noReplyBox, {}},
        // The protocol has no sequence numbers: a reply that comes while the
        // retry waits is taken. The retry sent the same request, so its
        // content is the same.
        {"late reply during the retry's wait", S::LateDuringRetry,
         {Fault::lateReply(AttemptRealMs * 13 / 10, 1)}, true, 2, {}, Echo},
        {"late reply before the retry's discard", S::LateBeforeRetryDiscard,
         {Fault::lateReply(AttemptRealMs * 2, 1)}, true, 2, {}, Echo},
        {"wrong checksum on every attempt", S::Exchange, {Fault::wrongChecksum(Fault::Always)},
         false, 2, noReplyBox, {}},
        {"wrong checksum on the first attempt", S::Exchange, {Fault::wrongChecksum(1)}, true, 2, {},
         Echo},
        {"refusal 255", S::Exchange, {Fault::refusal(Fault::Always)}, false, 2, noReplyBox, {}},
        {"reply in pieces 1+5", S::Exchange, {Fault::splitReply({1, 5}, 5)}, true, 1, {}, Echo},
        {"reply in pieces 3+3", S::Exchange, {Fault::splitReply({3, 3}, 5)}, true, 1, {}, Echo},
        {"reply byte by byte", S::Exchange, {Fault::splitReply({1, 1, 1, 1, 1, 1}, 3)}, true, 1,
         {}, Echo},
        // The first six bytes are judged: two stray bytes in front spoil the
        // frame, the retry gets a clean one.
        {"noise before the reply", S::Exchange, {Fault::noise("\x7E\x81", {}, 1)}, true, 2, {}, Echo},
        {"noise before every reply", S::Exchange, {Fault::noise("\x7E\x81", {}, Fault::Always)},
         false, 2, noReplyBox, {}},
        {"noise after the reply", S::Exchange, {Fault::noise({}, QByteArray("\xFF\x00\x55", 3), 1)},
         true, 1, {}, Echo},
        {"two replies at once", S::Exchange, {Fault::doubleReply(1)}, true, 1, {}, Echo},
        {"reply from another controller", S::Exchange, {Fault::otherController(7)}, true, 1, {},
         CommandBuffer{7, Command::SetSpeed, 128, 3, 0}},
        {"device closed mid-exchange", S::DeviceClosed, {Fault::noReply(Fault::Always)}, false, 1,
         {AccessError, NoReply}, {}},
        {"missing device", S::OpenMissing, {}, false, 0,
         {OpenError + QStringLiteral("8002 - Schnittstelle nicht verfügbar: ")}, {}},
        {"device without permission", S::OpenWithoutPermission, {}, false, 0,
         {OpenError + QStringLiteral("8010 - Keine Berechtigung für ")}, {}},
        {"device in use", S::OpenInUse, {}, false, 0, {OpenError + QStringLiteral("8005 - ")}, {}},
        // A board that restarts when its port is opened loses the first
        // attempt; the retry is answered, without a box.
        {"board restarting 0.5 s, re-plugged", S::RestartAfterReplug, {}, true, 1, {}, Echo, 500},
        {"board restarting 1.8 s, re-plugged", S::RestartAfterReplug, {}, true, 1, {}, Echo, 1800},
        {"board restarting 1.8 s, port chosen in the options", S::RestartAfterOptions, {}, true, 1,
         {}, Echo, 1800},
        // Every value saved is the decoder's: what no byte check confirmed
        // is left out.
        {"backup, 5 % of acknowledgements lost", S::BackupLosingAcks, {}, true, 0, {}, {}},
    };
}

QString describe(const CommandBuffer &b)
{
    return QStringLiteral("%1/%2/%3/%4/%5").arg(b.controller).arg(b.command).arg(b.p1).arg(b.p2).arg(b.p3);
}

// Waits in real time, without sleeping longer than needed, until the port has
// at least count bytes waiting.
bool waitForBytes(ControllerPort &port, qint64 count, int limitMs)
{
    QElapsedTimer timer;
    timer.start();
    while (port.bytesAvailable() < count) {
        const qint64 left = limitMs - timer.elapsed();
        if (left <= 0 || !port.waitForReadyRead(int(left)))
            return port.bytesAvailable() >= count;
    }
    return true;
}

// The box text OpenPort shows for device when run without privileges, or
// nothing when no such process can be started here.
std::optional<QString> openWithoutPrivileges(const QString &device, QString *why)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(PermissionProbe), device);
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(QDir::tempPath());
    child.setChildProcessModifier([] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(NobodyId) != 0 || ::setuid(NobodyId) != 0)
            ::_exit(90);
    });
    child.start(QCoreApplication::applicationFilePath(), {});
    if (!child.waitForFinished(20000) || child.exitStatus() != QProcess::NormalExit
        || child.exitCode() == 90 || child.exitCode() == 91) {
        *why = QStringLiteral("no unprivileged child process (exit %1): %2")
                   .arg(child.exitCode())
                   .arg(QString::fromLocal8Bit(child.readAllStandardError()));
        return std::nullopt;
    }
    return QString::fromUtf8(child.readAllStandardOutput());
}

} // namespace

class TestFaultMatrix : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    ScaledClock m_clock{ClockFactor};
    std::unique_ptr<PtyStation> m_station;
    std::unique_ptr<SerialControllerPort> m_serial;
    std::unique_ptr<WatchedPort> m_port;

    QString linkPath() const { return m_dir.filePath(QStringLiteral("ttyController")); }

    QList<CommandBuffer> takeRequests()
    {
        return m_station->withCore([](StationCore &core) {
            const QList<CommandBuffer> requests = core.receivedRequests();
            core.clearLog();
            return requests;
        });
    }

private Q_SLOTS:
    void init()
    {
        setProgramClock(&m_clock);
        m_station = std::make_unique<PtyStation>(PtyStation::Threading::OwnThread);
        QVERIFY2(m_station->open(), qPrintable(m_station->errorString()));
        QVERIFY(m_station->setLink(linkPath()));
        m_serial = std::make_unique<SerialControllerPort>();
        m_port = std::make_unique<WatchedPort>(m_serial.get());
        setControllerPort(m_port.get());
        sysSaveSetting(QStringLiteral("COM1"), linkPath(), PortsSection);
        setCurrentPortName(QStringLiteral("COM1"));
    }

    void cleanup()
    {
        ClosePort();
        setControllerPort(nullptr);
        m_port.reset();
        m_serial.reset();
        m_station.reset();
        setProgramClock(nullptr);
    }

    void fault_data()
    {
        QTest::addColumn<int>("row");
        const QList<Row> all = rows();
        for (int i = 0; i < all.size(); ++i)
            QTest::newRow(all[i].name) << i;
    }

    // Each row: the result, the boxes shown, the frames the station got, the
    // buffer; and afterwards the line is as good as before: the next request
    // gets its own reply, with nothing else shown.
    void fault()
    {
        QFETCH(int, row);
        const Row r = rows().at(row);
        RecordingMessageBoxes boxes;
        m_station->withCore([&](StationCore &core) {
            for (const Fault &f : r.faults)
                core.addFault(f);
        });

        bool result = false;
        CommandBuffer buffer = Request;
        QElapsedTimer elapsed;
        ScaledClock restartClock(RestartClockFactor);
        if (r.restartMs > 0) {
            setProgramClock(&restartClock);
            m_station->withCore([&](StationCore &core) {
                core.setResetOnOpenMs(r.restartMs / RestartClockFactor);
            });
        }
        switch (r.scenario) {
        case Scenario::Exchange:
            QVERIFY(OpenPort(QStringLiteral("COM1"), false));
            result = SendCommand(buffer, Attempts, true, TimeoutSeconds);
            break;

        case Scenario::LateAfterGiveUp:
            QVERIFY(OpenPort(QStringLiteral("COM1"), false));
            result = SendCommand(buffer, Attempts, true, TimeoutSeconds);
            // Both late replies come in now, while nothing waits for them.
            QVERIFY2(waitForBytes(*m_port, 2 * Frame::Size, 3000),
                     qPrintable(QString::number(m_port->bytesAvailable())));
            break;

        case Scenario::LateDuringRetry:
            // Every reply takes 30 ms: the first attempt's reply is due in
            // the middle of the retry's wait, the retry's own one 30 ms after.
            m_station->withCore([](StationCore &c) { c.setReplyDelayMs(AttemptRealMs * 3 / 10); });
            QVERIFY(OpenPort(QStringLiteral("COM1"), false));
            result = SendCommand(buffer, Attempts, true, TimeoutSeconds);
            // The retry's own reply is still on its way when the exchange has
            // taken the first one. Once it is in, the next request drops it;
            // should it come while the next request waits, it would be taken
            // for that request's reply, since nothing in a reply tells which
            // request it answers.
            QVERIFY(waitForBytes(*m_port, Frame::Size, 3000));
            break;

        case Scenario::LateBeforeRetryDiscard:
            QVERIFY(OpenPort(QStringLiteral("COM1"), false));
            // The program is held up between the attempts until the first
            // attempt's late reply is in; the retry must drop it and take
            // only its own reply.
            m_port->beforeDiscard = [this](int discard) {
                if (discard == 2)
                    QVERIFY(waitForBytes(*m_serial, Frame::Size, 3000));
            };
            result = SendCommand(buffer, Attempts, true, TimeoutSeconds);
            m_port->beforeDiscard = nullptr;
            QCOMPARE(m_port->readSizes, QList<int>{Frame::Size});
            break;

        case Scenario::DeviceClosed: {
            QVERIFY(OpenPort(QStringLiteral("COM1"), false));
            std::atomic<bool> done = false;
            PtyStation *station = m_station.get();
            std::thread unplugger([station, &done] {
                for (int i = 0; i < 2000 && !done; ++i) {
                    if (station->withCore([](StationCore &c) { return !c.receivedRequests().isEmpty(); })) {
                        station->unplug();
                        return;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
            m_port->readWaits = 0;
            elapsed.start();
            result = SendCommand(buffer, Attempts, true, TimeoutSeconds);
            const qint64 ms = elapsed.elapsed();
            done = true;
            unplugger.join();
            QVERIFY(!m_serial->isOpen());
            // The lost device ends the waits at once: the attempts do not run
            // out their time-outs, nor loop on waits that return straight
            // away.
            QVERIFY2(ms < Attempts * AttemptRealMs, qPrintable(QString::number(ms)));
            QVERIFY2(m_port->readWaits <= 3, qPrintable(QString::number(m_port->readWaits)));
            break;
        }

        case Scenario::OpenMissing:
            sysSaveSetting(QStringLiteral("COM1"), m_dir.filePath(QStringLiteral("nothing-here")),
                           PortsSection);
            result = OpenPort(QStringLiteral("COM1"), false);
            break;

        case Scenario::OpenWithoutPermission: {
            // COM1 names the device itself here, as in the child below: the
            // box names the path it was given.
            if (::geteuid() != 0) {
                QVERIFY(::chmod(QFile::encodeName(m_station->devicePath()).constData(), 0) == 0);
                sysSaveSetting(QStringLiteral("COM1"), m_station->devicePath(), PortsSection);
                result = OpenPort(QStringLiteral("COM1"), false);
                break;
            }
            // Root may open every device; an unprivileged child process of
            // this test shows what an ordinary user sees.
            QString why;
            const std::optional<QString> text = openWithoutPrivileges(m_station->devicePath(), &why);
            if (!text)
                QSKIP(qPrintable(why));
            // The child's one box stands for this row's boxes.
            boxes.show({BoxIcon::Warning, BoxButtons::Ok, BoxAnswer::Ok, QString(), *text});
            result = false;
            break;
        }

        case Scenario::RestartAfterReplug: {
            QVERIFY(OpenPort(QStringLiteral("COM1"), false));
            m_station->unplug();
            // The lost device is noticed and the port closes.
            CommandBuffer lost = Request;
            QVERIFY(!SendCommand(lost, 1, false, 0));
            QVERIFY(!m_serial->isOpen());
            QVERIFY(m_station->replug());
            boxes.clear();
            takeRequests();
            result = SendCommand(buffer, Attempts, true, TimeoutSeconds);
            break;
        }

        case Scenario::RestartAfterOptions: {
            setCurrentPortName(QStringLiteral("NUL"));
            kzOptions dialog;
            dialog.show();
            dialog.cmbComPort()->setCurrentIndex(1);
            dialog.btnOK()->click();
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(currentPortName(), QStringLiteral("COM1"));
            result = SendCommand(buffer, Attempts, true, TimeoutSeconds);
            break;
        }

        case Scenario::BackupLosingAcks: {
            QVERIFY(OpenPort(QStringLiteral("COM1"), false));
            m_station->withCore([](StationCore &c) { c.setLostAckShare(0.05, 1); });
            CommandBuffer programmingBuffer;
            DecoderProgrammer programmer(programmingBuffer);
            programmer.setController(1);
            DecoderJobs jobs(programmer);
            programmer.SetProgMode(true);
            const DecoderJobs::Backup backup = jobs.backup(1, 64);
            programmer.SetProgMode(false);
            const auto [state, lost] = m_station->withCore(
                [](StationCore &c) { return std::pair(c.state(), c.lostAcks()); });
            QCOMPARE(backup.outcome, DecoderJobs::Backup::Done);
            QVERIFY2(lost > 3, qPrintable(QString::number(lost)));
            for (auto it = backup.values.cbegin(); it != backup.values.cend(); ++it)
                QCOMPARE(it.value(), int(state.cvs[size_t(it.key() - 1)]));
            // Only what the decoder lacks is missing; the rest is read or
            // named as uncertain.
            for (int cv = 1; cv <= 64; ++cv) {
                const bool present = state.cvPresent.test(size_t(cv - 1));
                QVERIFY(backup.values.contains(cv) || backup.uncertain.contains(cv)
                        || backup.unreadable.contains(cv));
                if (backup.values.contains(cv) || backup.uncertain.contains(cv))
                    QVERIFY(present);
            }
            QVERIFY(backup.values.size() > 10);
            QCOMPARE(boxes.count(), 0);
            return;
        }

        case Scenario::OpenInUse: {
            SerialControllerPort other;
            QVERIFY(other.open(linkPath()));
            result = OpenPort(QStringLiteral("COM1"), false);
            QVERIFY(!m_serial->isOpen());
            other.close();
            break;
        }
        }

        setProgramClock(&m_clock);
        if (r.scenario == Scenario::OpenWithoutPermission && boxes.count() == 1) {
            // A pseudo-terminal's group may only write to it: no group is
            // named, the whole box says so on its lines.
            QCOMPARE(boxes.last().text,
                     errorBoxText(OpenError + QStringLiteral("8010 - Keine Berechtigung für ")
                                  + m_station->devicePath()
                                  + QStringLiteral(". Nur der Administrator darf dieses Gerät "
                                                   "öffnen. Bitten Sie ihn um Zugriff, oder "
                                                   "richten Sie eine udev-Regel ein, wie sie das "
                                                   "Handbuch im Abschnitt \"Geräte, die nur der "
                                                   "Administrator öffnen darf\" zeigt.)")));
        }
        if (r.restartMs > 0) {
            // The restart was in effect: what came while it ran was lost.
            const bool lost = m_station->withCore([](StationCore &c) {
                return std::any_of(c.log().begin(), c.log().end(), [](const LogEntry &e) {
                    return e.frame == std::nullopt && !e.bytes.isEmpty();
                });
            });
            QVERIFY(lost);
        }
        QCOMPARE(result, r.result);
        QStringList shown = boxes.texts();
        QCOMPARE(shown.size(), r.boxes.size());
        for (int i = 0; i < shown.size(); ++i)
            QVERIFY2(shown[i].startsWith(r.boxes[i]), qPrintable(shown[i]));

        const QList<CommandBuffer> requests = takeRequests();
        QCOMPARE(requests.size(), r.requests);
        for (const CommandBuffer &request : requests)
            QCOMPARE(describe(request), describe(Request));
        if (r.requests > 0) {
            // The station carried the request out, answered or not.
            const quint8 speed = m_station->withCore(
                [](StationCore &c) { return c.state().drives.value(3).speed; });
            QCOMPARE(speed, quint8(128));
        }
        QCOMPARE(describe(buffer), describe(r.reply ? *r.reply : Request));

        // The next request gets its own reply, whatever stale bytes the row
        // left behind. A device that went away comes back first.
        if (r.scenario == Scenario::OpenMissing || r.scenario == Scenario::OpenWithoutPermission)
            return;
        if (r.scenario == Scenario::DeviceClosed)
            QVERIFY(m_station->replug());
        m_station->withCore([](StationCore &c) {
            c.clearFaults();
            c.setFirmware(5, 2, 9);
        });
        boxes.clear();
        CommandBuffer version{1, Command::QueryController, 0, Selector::Version, 0};
        QVERIFY(SendCommand(version, Attempts, true, TimeoutSeconds));
        QCOMPARE(describe(version), describe(CommandBuffer{1, Command::QueryController, 9, 5, 2}));
        QCOMPARE(boxes.count(), 0);
        QCOMPARE(takeRequests().size(), 1);
    }
};

namespace {

int runPermissionProbe(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir configDir;
    if (!configDir.isValid())
        return 91;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir.path()));
    RecordingMessageBoxes boxes;
    SerialControllerPort port;
    setControllerPort(&port);
    sysSaveSetting(QStringLiteral("COM1"), qEnvironmentVariable(PermissionProbe), PortsSection);
    const bool opened = OpenPort(QStringLiteral("COM1"), false);
    setControllerPort(nullptr);
    if (opened || boxes.count() != 1)
        return 92;
    std::fputs(boxes.last().text.toUtf8().constData(), stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(PermissionProbe))
        return runPermissionProbe(argc, argv);
    QTemporaryDir configDir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir.path()));
    QTemporaryDir dataDir;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataDir.path()));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QApplication app(argc, argv);
    TestFaultMatrix test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_faultmatrix.moc"
