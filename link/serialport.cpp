#include "link/serialport.h"

#include "common/program.h"
#include "link/linklog.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool isShellWord(const QString &name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'.' && c != u'_' && c != u'-')
            return false;
    }
    return true;
}

// The login name as it can be typed into a shell. The error box takes a "$"
// for a line break, so "$USER" cannot be written; a name that is no plain
// word is left to the shell to find.
QString loginNameForShell()
{
    QString name;
    if (const passwd *entry = ::getpwuid(::geteuid()))
        name = QString::fromLocal8Bit(entry->pw_name);
    return isShellWord(name) ? name : QStringLiteral("`whoami`");
}

// The groups the user database lists for this user, the login's own group
// included.
std::vector<gid_t> listedGroups(const passwd &user)
{
    const QByteArray name(user.pw_name);
    std::vector<gid_t> groups(64);
    int listed = int(groups.size());
    if (::getgrouplist(name.constData(), user.pw_gid, groups.data(), &listed) < 0) {
        groups.resize(size_t(listed));
        if (::getgrouplist(name.constData(), user.pw_gid, groups.data(), &listed) < 0)
            return {};
    }
    groups.resize(size_t(listed));
    return groups;
}

// The user is listed as a member of the group gid, but this process, started before
// the user was added, does not have it.
bool groupPendingForThisLogin(gid_t gid)
{
    const int count = ::getgroups(0, nullptr);
    if (count >= 0) {
        std::vector<gid_t> current(size_t(count) + 1);
        const int got = ::getgroups(count, current.data());
        for (int i = 0; i < got; ++i) {
            if (current[size_t(i)] == gid)
                return false;
        }
    }
    if (::getegid() == gid)
        return false;
    const passwd *user = ::getpwuid(::geteuid());
    if (!user)
        return false;
    const std::vector<gid_t> groups = listedGroups(*user);
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// sudo is installed and the user is in a group that the distributions' own
// sudo set-up lets use it. A Debian installed with a root password has no
// such user, and often no sudo at all.
bool userMayUseSudo()
{
    if (QStandardPaths::findExecutable(QStringLiteral("sudo")).isEmpty())
        return false;
    const passwd *user = ::getpwuid(::geteuid());
    if (!user)
        return false;
    const std::vector<gid_t> groups = listedGroups(*user);
    for (const char *name : {"sudo", "wheel", "admin"}) {
        const struct group *entry = ::getgrnam(name);
        if (entry && std::find(groups.begin(), groups.end(), entry->gr_gid) != groups.end())
            return true;
    }
    return false;
}

// ModemManager opens every new ttyACM device for a while to look for a modem.
bool isModemManagerRunning()
{
    const QDir proc(QStringLiteral("/proc"));
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (!entry.front().isDigit())
            continue;
        QFile comm(proc.filePath(entry + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "ModemManager")
            return true;
    }
    return false;
}

// Counts the nesting of our own calls into QSerialPort, so that an error
// reported from inside one of them closes the port after it has returned.
class CallGuard
{
public:
    explicit CallGuard(int &depth) : m_depth(depth) { ++m_depth; }
    ~CallGuard() { --m_depth; }

private:
    int &m_depth;
};

} // namespace

SerialControllerPort::SerialControllerPort(QObject *parent)
    : QObject(parent)
{
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialControllerPort::handleError);
}

SerialControllerPort::~SerialControllerPort() = default;

void SerialControllerPort::setThread(QThread *thread)
{
    // QSerialPort's notifiers belong to the thread that waits on the device.
    moveToThread(thread);
    m_port.moveToThread(thread);
}

DeviceAccess DeviceAccess::of(const QString &devicePath)
{
    DeviceAccess access;
    const QByteArray path = QFile::encodeName(devicePath);
    struct stat info {};
    access.exists = ::stat(path.constData(), &info) == 0;
    access.userMayOpen = ::access(path.constData(), R_OK | W_OK) == 0;
    if (access.exists) {
        const struct group *entry = ::getgrgid(info.st_gid);
        access.group = entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(info.st_gid);
        access.groupMayReadWrite = info.st_gid != 0 && (info.st_mode & S_IRGRP)
                                   && (info.st_mode & S_IWGRP) && isShellWord(access.group);
        access.groupPending = access.groupMayReadWrite && groupPendingForThisLogin(info.st_gid);
    }
    access.loginName = loginNameForShell();
    access.sudoUsable = userMayUseSudo();
    access.modemManagerRunning = isModemManagerRunning();
    return access;
}

PortError SerialControllerPort::openError(QSerialPort::SerialPortError error,
                                          const QString &devicePath)
{
    return openError(error, devicePath, DeviceAccess::of(devicePath));
}

PortError SerialControllerPort::openError(QSerialPort::SerialPortError error,
                                          const QString &devicePath, const DeviceAccess &access)
{
    using namespace PortErrorNumber;
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return {NoSuchPort, QStringLiteral("Schnittstelle nicht verfügbar")};
    case QSerialPort::PermissionError: {
        if (access.exists && !access.userMayOpen) {
            const QString denied = QStringLiteral("Keine Berechtigung für %1. ").arg(devicePath);
            // A group is named only when joining it lets the user in; root's
            // group never is.
            if (!access.groupMayReadWrite) {
                return {PermissionDenied,
                        denied
                            + QStringLiteral("Nur der Administrator darf dieses Gerät öffnen. "
                                             "Bitten Sie ihn um Zugriff, oder richten Sie eine "
                                             "udev-Regel ein, wie sie das Handbuch im Abschnitt "
                                             "\"%1\" zeigt.")
                                  .arg(RootOnlySection)};
            }
            if (access.groupPending) {
                return {PermissionDenied,
                        denied
                            + QStringLiteral("Ihr Benutzer ist Mitglied der Gruppe \"%1\", doch "
                                             "das gilt erst nach einer neuen Anmeldung. Melden "
                                             "Sie sich ab und wieder an.")
                                  .arg(access.group)};
            }
            // The command stands on a line of its own, so that the box never
            // breaks it. Without sudo, root's password does it through su,
            // with root's login environment ("su -"): a user's PATH on Debian
            // has no /usr/sbin, and plain su keeps it, so usermod would not
            // be found. A login name that the user's shell must find out is
            // put in double quotes, so that it is not root's shell that does.
            const QString usermod =
                QStringLiteral("usermod -aG %1 %2").arg(access.group, access.loginName);
            const QString member =
                QStringLiteral("Ihr Benutzer muss Mitglied der Gruppe \"%1\" sein. ").arg(access.group);
            QString command;
            if (access.sudoUsable) {
                command = QStringLiteral("Geben Sie dazu im Terminal ein:") + CrLf
                          + QStringLiteral("sudo ") + usermod;
            } else {
                const QChar quote = isShellWord(access.loginName) ? u'\'' : u'"';
                command = QStringLiteral("Geben Sie dazu im Terminal ein (su fragt nach dem "
                                         "Passwort des Administrators root):")
                          + CrLf + QStringLiteral("su - -c ") + quote + usermod + quote;
            }
            return {PermissionDenied,
                    denied + member + command + CrLf
                        + QStringLiteral("Melden Sie sich danach ab und wieder an.")};
        }
        QString busy = QStringLiteral("%1 wird bereits von einem anderen Programm verwendet").arg(devicePath);
        if (access.modemManagerRunning) {
            busy += QStringLiteral(". ModemManager läuft und prüft womöglich gerade, ob hinter "
                                   "dem Board ein Modem steckt. Warten Sie einige Sekunden und "
                                   "versuchen Sie es erneut; wie Sie das auf Dauer abstellen, "
                                   "steht im Handbuch im Abschnitt \"%1\".")
                        .arg(ModemManagerSection);
        }
        return {PortInUse, busy};
    }
    case QSerialPort::OpenError:
        return {PortInUse, QStringLiteral("%1 ist bereits geöffnet").arg(devicePath)};
    case QSerialPort::UnsupportedOperationError:
        return {LineSettings,
                QStringLiteral("Die Einstellungen 115200,n,8,1 konnten für %1 nicht gesetzt werden")
                    .arg(devicePath)};
    default:
        return {DeviceNotAvailable, QStringLiteral("Schnittstelle nicht verfügbar")};
    }
}

PortError SerialControllerPort::ioError(QSerialPort::SerialPortError error)
{
    using namespace PortErrorNumber;
    switch (error) {
    case QSerialPort::WriteError:
        return {WriteFailed, QStringLiteral("Fehler beim Schreiben auf die Schnittstelle")};
    case QSerialPort::ReadError:
        return {ReadFailed, QStringLiteral("Fehler beim Lesen von der Schnittstelle. Ist das Gerät noch angeschlossen?")};
    case QSerialPort::ResourceError:
        return {DeviceLost, QStringLiteral("Das Gerät ist nicht mehr erreichbar (Kabel gezogen?)")};
    case QSerialPort::NotOpenError:
        return {PortNotOpen, QStringLiteral("Die Schnittstelle ist nicht geöffnet.")};
    default:
        return {DeviceNotAvailable, QStringLiteral("Schnittstelle nicht verfügbar")};
    }
}

bool SerialControllerPort::open(const QString &devicePath)
{
    close();
    m_devicePath = devicePath;
    m_lastError = {};
    m_failed = false;
    if (!QFileInfo::exists(devicePath)) {
        m_lastError = openError(QSerialPort::DeviceNotFoundError, devicePath);
        return false;
    }
    m_port.setPortName(devicePath);
    m_port.setBaudRate(QSerialPort::Baud115200);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    {
        CallGuard guard(m_callDepth);
        if (!m_port.open(QIODevice::ReadWrite)) {
            m_lastError = openError(m_port.error(), devicePath);
            m_port.clearError();
            m_failed = false;
            qCDebug(kzLink) << "open failed" << devicePath << m_lastError.number;
            return false;
        }
        m_port.clear();
    }
    closeIfFailed();
    return m_port.isOpen();
}

void SerialControllerPort::close()
{
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
}

bool SerialControllerPort::isOpen() const
{
    return m_port.isOpen();
}

QString SerialControllerPort::devicePath() const
{
    return m_devicePath;
}

PortError SerialControllerPort::lastError() const
{
    return m_lastError;
}

void SerialControllerPort::discardInput()
{
    if (!m_port.isOpen())
        return;
    CallGuard guard(m_callDepth);
    m_port.clear(QSerialPort::Input);
    m_port.readAll();
}

void SerialControllerPort::discardOutput()
{
    if (!m_port.isOpen())
        return;
    {
        CallGuard guard(m_callDepth);
        m_port.clear(QSerialPort::Output);
    }
    closeIfFailed();
}

bool SerialControllerPort::write(const QByteArray &bytes)
{
    if (!m_port.isOpen()) {
        m_lastError = ioError(QSerialPort::NotOpenError);
        return false;
    }
    qint64 written = 0;
    {
        CallGuard guard(m_callDepth);
        written = m_port.write(bytes);
    }
    closeIfFailed();
    if (written != bytes.size()) {
        if (m_lastError.number == PortErrorNumber::None)
            m_lastError = ioError(QSerialPort::WriteError);
        return false;
    }
    return m_port.isOpen();
}

qint64 SerialControllerPort::bytesToWrite() const
{
    return m_port.isOpen() ? m_port.bytesToWrite() : 0;
}

bool SerialControllerPort::waitForBytesWritten(int ms)
{
    if (!m_port.isOpen())
        return false;
    bool written = false;
    {
        CallGuard guard(m_callDepth);
        written = m_port.waitForBytesWritten(ms);
    }
    closeIfFailed();
    return written && m_port.isOpen();
}

qint64 SerialControllerPort::bytesAvailable() const
{
    return m_port.isOpen() ? m_port.bytesAvailable() : 0;
}

bool SerialControllerPort::waitForReadyRead(int ms)
{
    if (!m_port.isOpen())
        return false;
    bool ready = false;
    {
        CallGuard guard(m_callDepth);
        ready = m_port.waitForReadyRead(ms);
    }
    closeIfFailed();
    return ready && m_port.isOpen();
}

QByteArray SerialControllerPort::readAll()
{
    if (!m_port.isOpen())
        return {};
    QByteArray bytes;
    {
        CallGuard guard(m_callDepth);
        bytes = m_port.readAll();
    }
    closeIfFailed();
    return bytes;
}

void SerialControllerPort::handleError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::WriteError
        && error != QSerialPort::ResourceError)
        return;
    if (m_failed)
        return;
    m_failed = true;
    m_lastError = ioError(error);
    qCWarning(kzLink) << "port error" << m_devicePath << m_lastError.number;
    if (m_callDepth == 0) {
        // Reported from the event loop, inside QSerialPort's own notifier:
        // close as soon as control is back with us.
        QMetaObject::invokeMethod(this, &SerialControllerPort::closeIfFailed, Qt::QueuedConnection);
    }
}

void SerialControllerPort::closeIfFailed()
{
    if (!m_failed)
        return;
    m_failed = false;
    close();
}
