// kzsim: a virtual command station on a pseudo-terminal. The program (or a
// test script) opens the device path printed on the first line of standard
// output, or the symlink given with --link, like a real controller's port.

#include "common/translations.h"
#include "simulator/ptystation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <optional>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// "5.2.0" into its three numbers, each 0 to 255.
bool parseVersion(const QString &text, quint8 *major, quint8 *minor, quint8 *build)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 3)
        return false;
    quint8 values[3];
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const uint v = parts.at(i).toUInt(&ok);
        if (!ok || v > 255)
            return false;
        values[i] = quint8(v);
    }
    *major = values[0];
    *minor = values[1];
    *build = values[2];
    return true;
}

bool parseByte(const QString &text, quint8 *value)
{
    bool ok = false;
    const uint v = text.toUInt(&ok);
    if (!ok || v > 255)
        return false;
    *value = quint8(v);
    return true;
}

// A layout to show around: locos of every speed-step mode and a decoder on
// the programming track with the long address 1234.
void setUpDemo(StationCore &core)
{
    core.setLocos({
        {3, quint8(LocoFlags::Steps28 | LocoFlags::ForwardBit)},
        {5, LocoFlags::Steps14},
        {78, LocoFlags::Steps126},
        {1234, quint8(LocoFlags::Steps126 | LocoFlags::ForwardBit)},
        {2, LocoFlags::Steps28},
    });
    const int address = 1234;
    core.setCv(1, 3);
    core.setCv(17, quint8(192 + address / 256));
    core.setCv(18, quint8(address % 256));
    core.setCv(29, 6 | 32); // long address in use, 28/126 speed steps
}

// "9-16,20": ranges and single CVs from 1 to 1024.
std::optional<QList<int>> parseCvList(const QString &text)
{
    QList<int> cvs;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QStringList ends = part.trimmed().split(QLatin1Char('-'));
        if (ends.size() > 2)
            return std::nullopt;
        bool okFirst = false;
        bool okLast = false;
        const int first = ends.first().toInt(&okFirst);
        const int last = ends.size() == 2 ? ends.last().toInt(&okLast) : first;
        if (ends.size() == 1)
            okLast = okFirst;
        if (!okFirst || !okLast || first < 1 || last > StationCore::MaxCv || first > last)
            return std::nullopt;
        for (int cv = first; cv <= last; ++cv)
            cvs << cv;
    }
    return cvs;
}

int fail(const QString &message)
{
    QTextStream(stderr) << "kzsim: " << message << Qt::endl;
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    installGermanQtTranslations();
    QCoreApplication::setApplicationName(QStringLiteral("kzsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral("5.2"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Virtueller Controller für Velantor: beantwortet die Befehle des Programms über ein "
        "Pseudo-Terminal. Die erste Zeile der Ausgabe nennt die Schnittstelle."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption linkOption(
        QStringLiteral("link"),
        QStringLiteral("Legt unter <Pfad> eine Verknüpfung zur Schnittstelle an (eine alte "
                       "Verknüpfung wird ersetzt)."),
        QStringLiteral("Pfad"));
    const QCommandLineOption controllerOption(
        QStringLiteral("controller"), QStringLiteral("Controller-Nummer 0 bis 254 (Vorgabe 1)."),
        QStringLiteral("Nr"), QStringLiteral("1"));
    const QCommandLineOption firmwareOption(
        QStringLiteral("firmware"),
        QStringLiteral("Firmware-Version Haupt.Neben.Build (Vorgabe 5.2.0)."),
        QStringLiteral("Version"), QStringLiteral("5.2.0"));
    const QCommandLineOption layoutOption(
        QStringLiteral("layout"),
        QStringLiteral("Platinen-Layout: mega, uno oder none (Vorgabe mega)."),
        QStringLiteral("Layout"), QStringLiteral("mega"));
    const QCommandLineOption timingOption(
        QStringLiteral("realistic-timing"),
        QStringLiteral("Programmierbefehle brauchen so lange wie auf einem echten "
                       "Programmiergleis (100 bis 150 ms)."));
    const QCommandLineOption noDecoderOption(
        QStringLiteral("no-decoder"),
        QStringLiteral("Kein Decoder auf dem Programmiergleis: nichts wird quittiert."));
    const QCommandLineOption makerOption(
        QStringLiteral("decoder-maker"),
        QStringLiteral("Hersteller-Kennung des Decoders in CV 8, 0 bis 255 (Vorgabe 13)."),
        QStringLiteral("Nr"));
    const QCommandLineOption versionOption(
        QStringLiteral("decoder-version"),
        QStringLiteral("Version des Decoders in CV 7, 0 bis 255 (Vorgabe 42)."),
        QStringLiteral("Nr"));
    const QCommandLineOption demoOption(
        QStringLiteral("demo"),
        QStringLiteral("Beispiel-Loks mit 14, 28 und 126 Fahrstufen; Decoder mit der langen "
                       "Adresse 1234."));
    const QCommandLineOption resetOption(
        QStringLiteral("reset-on-open"),
        QStringLiteral("Das Board startet neu, wenn ein Programm die Schnittstelle öffnet, wie "
                       "Uno- und Mega-Boards: <ms> Millisekunden lang kommt nichts an, was "
                       "gesendet wird (0 bis 10000, Vorgabe 0)."),
        QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption loseAcksOption(
        QStringLiteral("lose-acks"),
        QStringLiteral("Ein Anteil der Quittungen des Decoders geht verloren, z. B. 0.05 für 5 % "
                       "(0 bis 1, Vorgabe 0); zufällig, aber bei jedem Start gleich."),
        QStringLiteral("Anteil"), QStringLiteral("0"));
    const QCommandLineOption withoutCvsOption(
        QStringLiteral("without-cvs"),
        QStringLiteral("CVs, die der Decoder nicht hat, z. B. 9-16,20 (Bereiche und einzelne "
                       "CVs, durch Komma getrennt)."),
        QStringLiteral("Liste"));
    const QCommandLineOption lineSpeedOption(
        QStringLiteral("line-speed"),
        QStringLiteral("Antwortet im Takt einer seriellen Leitung mit <Baud> Bit/s, z. B. 115200: "
                       "die Bytes von Befehl und Antwort brauchen ihre Zeit (0 bis 4000000, "
                       "Vorgabe 0: ohne Leitungszeit)."),
        QStringLiteral("Baud"), QStringLiteral("0"));
    const QCommandLineOption logOption(
        QStringLiteral("log"),
        QStringLiteral("Schreibt jeden empfangenen und gesendeten Rahmen hexadezimal auf die "
                       "Fehlerausgabe."));
    parser.addOptions({linkOption, controllerOption, firmwareOption, layoutOption, timingOption,
                       noDecoderOption, makerOption, versionOption, demoOption, resetOption,
                       loseAcksOption, withoutCvsOption, lineSpeedOption, logOption});
    parser.process(app);

    StationCore core;
    bool ok = false;
    const uint controller = parser.value(controllerOption).toUInt(&ok);
    if (!ok || controller > 254)
        return fail(QStringLiteral("Die Controller-Nummer muss zwischen 0 und 254 liegen."));
    core.setControllerNumber(quint8(controller));

    quint8 major = 0;
    quint8 minor = 0;
    quint8 build = 0;
    if (!parseVersion(parser.value(firmwareOption), &major, &minor, &build))
        return fail(QStringLiteral("Die Firmware-Version hat die Form 5.2.0."));
    core.setFirmware(major, minor, build);

    const QString layout = parser.value(layoutOption).toLower();
    if (layout == QLatin1String("mega"))
        core.setLayout(BoardLayout::Mega);
    else if (layout == QLatin1String("uno"))
        core.setLayout(BoardLayout::Uno);
    else if (layout == QLatin1String("none"))
        core.setLayout(BoardLayout::Unknown);
    else
        return fail(QStringLiteral("Das Layout ist mega, uno oder none."));

    const uint resetMs = parser.value(resetOption).toUInt(&ok);
    if (!ok || resetMs > 10000)
        return fail(QStringLiteral("Die Neustartzeit liegt zwischen 0 und 10000 ms."));
    core.setResetOnOpenMs(int(resetMs));

    core.setRealisticTiming(parser.isSet(timingOption));
    const uint baud = parser.value(lineSpeedOption).toUInt(&ok);
    if (!ok || baud > 4'000'000)
        return fail(QStringLiteral("Die Leitungsgeschwindigkeit liegt zwischen 0 und 4000000 Baud."));
    core.setLineSpeed(int(baud));
    if (parser.isSet(demoOption))
        setUpDemo(core);
    core.setDecoderPresent(!parser.isSet(noDecoderOption));
    quint8 maker = core.cv(8);
    quint8 version = core.cv(7);
    if (parser.isSet(makerOption) && !parseByte(parser.value(makerOption), &maker))
        return fail(QStringLiteral("Die Hersteller-Kennung liegt zwischen 0 und 255."));
    if (parser.isSet(versionOption) && !parseByte(parser.value(versionOption), &version))
        return fail(QStringLiteral("Die Decoder-Version liegt zwischen 0 und 255."));
    core.setDecoderIdentity(maker, version);
    const double lostShare = parser.value(loseAcksOption).toDouble(&ok);
    if (!ok || !(lostShare >= 0 && lostShare <= 1))
        return fail(QStringLiteral("Der Anteil verlorener Quittungen liegt zwischen 0 und 1."));
    core.setLostAckShare(lostShare);
    if (parser.isSet(withoutCvsOption)) {
        const std::optional<QList<int>> cvs = parseCvList(parser.value(withoutCvsOption));
        if (!cvs)
            return fail(QStringLiteral("Die CV-Liste hat die Form 9-16,20 (CVs 1 bis 1024)."));
        for (int cv : *cvs)
            core.removeCv(cv);
    }
    // A long-running station keeps only a recent part of its log.
    core.setLogLimit(1000);
    if (parser.isSet(logOption)) {
        // The station traces every frame in its logging category.
        qSetMessagePattern(QStringLiteral("%{message}"));
        QLoggingCategory::setFilterRules(QStringLiteral("kz.link.station.debug=true"));
    }

    PtyStation station;
    station.withCore([&core](StationCore &c) { c = core; });
    if (!station.open())
        return fail(QStringLiteral("Kein Pseudo-Terminal: ") + station.errorString());

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return fail(QStringLiteral("Keine Signalbehandlung möglich."));
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);

    // The link first: once the path is printed, everything is in place.
    if (parser.isSet(linkOption) && !station.setLink(parser.value(linkOption)))
        return fail(station.errorString());
    {
        QTextStream out(stdout);
        out << station.devicePath() << Qt::endl;
    }
    std::fflush(stdout);

    const int result = app.exec();
    station.removeLink();
    return result;
}
