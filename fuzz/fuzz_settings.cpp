// The settings read back from a store that was edited by hand: arbitrary
// bytes as the settings file, then every key the program reads, and the port
// name and device mapping built on them.
//
// Input: the whole file. It is written and read once per input, by the
// parser the program's store uses (the native format is this one), into one
// store that the program's reads then go to; opening the file again for
// every key read made the checks a small part of the time.
//
// What must hold for every file:
// - reading never fails and a missing or empty value gives the default;
// - a port name gives a port number from 0 to 99, and the port selection
//   preselects simulation mode, no entry, or the entry of that very name;
// - a loco number read back is a loco number, and a decoder id that passes
//   its field's rule is a decoder id (the ranges of link/commands.h);
// - every port number from 1 to 24 stands for a device, either the mapped
//   one (trimmed) or the default one; other numbers stand for none.

#include "fuzzinput.h"

#include "common/rules.h"
#include "common/settings.h"
#include "dashboard/accessorypanel.h"
#include "dashboard/dashboardlogic.h"
#include "dashboard/portchoice.h"
#include "link/commands.h"
#include "link/portsession.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

QString settingsFile;
// The one store the program's reads go to; it rereads the file when asked to
// sync and the file has changed.
QSettings *store = nullptr;

// The store notices a changed file by its time stamp and size; every input
// gets a time stamp of its own, so that the last file is always the one read.
void writeSettingsFile(const QByteArray &content)
{
    static qint64 stamp = 1'000'000'000;
    QFile file(settingsFile);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    file.close();
    ++stamp;
    const timespec times[2] = {{stamp, 0}, {stamp, 0}};
    FUZZ_CHECK(::utimensat(AT_FDCWD, QFile::encodeName(settingsFile).constData(), times, 0) == 0);
}

void checkPortName(const QString &name)
{
    const int number = portNumberFromName(name);
    FUZZ_CHECK(number >= 0 && number <= 99);
    const QString device = devicePathForPortNumber(number);
    if (number < 1)
        FUZZ_CHECK(device.isEmpty());
    else if (number <= 24)
        FUZZ_CHECK(!device.isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // In memory where there is a memory file system: a file on a disk
    // spends more time in the file system's journal than in the checks.
    static QTemporaryDir configDir(QDir(QStringLiteral("/dev/shm")).exists()
                                       ? QStringLiteral("/dev/shm/velantor-fuzz-XXXXXX")
                                       : QDir::tempPath() + QStringLiteral("/velantor-fuzz-XXXXXX"));
    FUZZ_CHECK(configDir.isValid());
    // A zone named in TZ is loaded once; without it the C library reloads the
    // system zone whenever the store looks at the file's time stamp.
    qputenv("TZ", "Europe/Berlin");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir.path()));
    static QCoreApplication app(*argc, *argv);
    settingsFile = QDir(configDir.path()).filePath(QStringLiteral("Brenholt EDV-Beratung.conf"));

    // The store must read each new file, not a cached earlier one.
    writeSettingsFile("[Velantor]\nSignalOutputTo=COM3\n");
    FUZZ_CHECK(sysGetSetting(QStringLiteral("SignalOutputTo"), QString(), SettingsSection)
               == QStringLiteral("COM3"));
    writeSettingsFile("[Velantor]\nSignalOutputTo=COM4\n");
    FUZZ_CHECK(sysGetSetting(QStringLiteral("SignalOutputTo"), QString(), SettingsSection)
               == QStringLiteral("COM4"));
    static QSettings fileStore(settingsFile, QSettings::IniFormat);
    store = &fileStore;
    setSettingsStore(store);
    writeSettingsFile("[Velantor]\nSignalOutputTo=COM5\n");
    store->sync();
    FUZZ_CHECK(sysGetSetting(QStringLiteral("SignalOutputTo"), QString(), SettingsSection)
               == QStringLiteral("COM5"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    writeSettingsFile(in.rest());
    store->sync();

    const QString portName =
        sysGetSetting(QStringLiteral("SignalOutputTo"), QStringLiteral("NUL"), SettingsSection);
    FUZZ_CHECK(!portName.isEmpty());
    checkPortName(portName);
    checkPortName(portName.trimmed());
    for (const QString &current : {portName, QStringLiteral("NUL"), QStringLiteral("COM99")}) {
        const int entry = initialPortEntry(current, portName);
        FUZZ_CHECK(entry >= NoEntry && entry < PortEntryCount);
        if (entry > SimulationEntry)
            FUZZ_CHECK(portEntryTexts().at(entry).compare(portName, Qt::CaseInsensitive) == 0);
    }

    for (int panel = 0; panel < 4; ++panel) {
        const QString suffix = QStringLiteral("0") + QString::number(panel);
        const QString loco =
            sysGetSetting(QStringLiteral("Slider") + suffix, QStringLiteral("x"), SettingsSection);
        FUZZ_CHECK(!loco.isEmpty());
        FUZZ_CHECK(locoPanelKey(panel) == QStringLiteral("Slider") + suffix);
        if (const std::optional<int> number = locoNumberFromText(loco))
            FUZZ_CHECK(*number >= 1 && *number <= Limits::MaxLocoNumber);
        const QString decoder = sysGetSetting(QStringLiteral("AccessoryAdress") + suffix,
                                              QStringLiteral("x"), SettingsSection);
        FUZZ_CHECK(!decoder.isEmpty());
        FUZZ_CHECK(accessoryPanelKey(panel) == QStringLiteral("AccessoryAdress") + suffix);
        if (!checkRule(AccessoryPanel::DecoderIdRule, decoder)) {
            const int id = decoderIdFromText(decoder);
            FUZZ_CHECK(Limits::isDecoderId(id));
        }
    }
    const QString autoConfig =
        sysGetSetting(QStringLiteral("AutoConfig"), QStringLiteral("1"), SettingsSection);
    FUZZ_CHECK(!autoConfig.isEmpty());

    for (int number = 0; number <= 25; ++number) {
        const QString device = devicePathForPortNumber(number);
        if (number < 1) {
            FUZZ_CHECK(device.isEmpty());
            continue;
        }
        const QString mapped =
            sysGetSetting(QStringLiteral("COM") + QString::number(number), QString(), PortsSection)
                .trimmed();
        FUZZ_CHECK(device == (mapped.isEmpty() ? defaultDevicePath(number) : mapped));
        FUZZ_CHECK(number > 24 || !device.isEmpty());
    }
    return 0;
}
