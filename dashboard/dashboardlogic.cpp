#include "dashboard/dashboardlogic.h"

#include "common/program.h"
#include "common/rules.h"
#include "link/commands.h"

#include <cmath>

namespace {

const QString Tab = QStringLiteral("\t");

QString versionText(int major, int minor, int build)
{
    return QString::number(major) + u'.' + QString::number(minor) + u'.' + QString::number(build);
}

QString twoDigits(int panel)
{
    return QStringLiteral("%1").arg(panel, 2, 10, QLatin1Char('0'));
}

} // namespace

QString notFoundText(quint8 controller)
{
    return QStringLiteral("Controller ") + QString::number(controller)
           + QStringLiteral(" nicht gefunden");
}

QString firmwareOkText(int major, int minor, int build)
{
    return QStringLiteral("OK (Firmware ") + versionText(major, minor, build) + QStringLiteral(") ");
}

QString versionProblemText()
{
    return QStringLiteral("Versionsprobleme zwischen ") + Program::ProductName
           + QStringLiteral(" und Firmware");
}

QString programInfoText()
{
    return Program::ProductName + QStringLiteral(" V") + QString::number(Program::VersionMajor)
           + u'.' + QString::number(Program::VersionMinor) + QStringLiteral(" (build ")
           + QString::number(Program::VersionRevision) + u')';
}

QString portPanelText(const QString &portName)
{
    if (portName.compare(QLatin1String("NUL"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("Simulation");
    return portName;
}

bool checkAcceptsControllerNumber(const QString &text)
{
    const double number = leadingNumber(text);
    return number >= 0.0 && number <= 250.0;
}

std::optional<quint8> controllerNumberFromText(const QString &text)
{
    const double number = roundHalfEven(leadingNumber(text));
    if (!std::isfinite(number) || number < 0.0 || number > 255.0)
        return std::nullopt;
    return quint8(number);
}

QString controllerNumberRefusal(const QString &text)
{
    return QStringLiteral("Die Controller-Nr. \"") + text
           + QStringLiteral("\" ist ungültig.") + CrLf
           + QStringLiteral("Bitte geben Sie eine Zahl von 0 bis 255 ein.");
}

std::optional<int> locoNumberFromText(const QString &text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > 5)
        return std::nullopt;
    int number = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        number = number * 10 + (c.unicode() - u'0');
    }
    if (!Limits::isLocoNumber(number))
        return std::nullopt;
    return number;
}

QString locoNumberRefusal(const QString &text)
{
    return QStringLiteral("Die Lok-Nummer \"") + text + QStringLiteral("\" ist ungültig.") + CrLf
           + QStringLiteral("Bitte geben Sie eine ganze Zahl von ")
           + QString::number(Limits::MinLocoNumber) + QStringLiteral(" bis ")
           + QString::number(Limits::MaxLocoNumber) + QStringLiteral(" ein.");
}

FirmwareVerdict firmwareVerdict(int major, int minor, int build)
{
    if (major != Program::VersionMajor || minor != Program::VersionMinor)
        return FirmwareVerdict::Mismatch;
    return major * 10000 + minor * 100 + build >= MinimumFirmware ? FirmwareVerdict::Fits
                                                                   : FirmwareVerdict::TooOld;
}

QString firmwareTooOldMessage(int major, int minor, int build)
{
    return QStringLiteral("Version Firmware: ") + Tab + Tab + versionText(major, minor, build) + CrLf
           + QStringLiteral("Mindestversion: ") + Tab + Tab + QStringLiteral("5.1.8") + CrLf + CrLf
           + QStringLiteral("Die Firmware ist zu alt für diese Version") + CrLf
           + QStringLiteral("von ") + Program::ProductName + u'.' + CrLf + CrLf
           + QStringLiteral("Bitte aktualisieren Sie die Firmware.");
}

QString firmwareMismatchMessage(int major, int minor, int build)
{
    const bool programIsNewer =
        Program::VersionMajor * 100 + Program::VersionMinor > major * 100 + minor;
    return QStringLiteral("Version ") + Program::ProductName + QStringLiteral(": ") + Tab
           + versionText(Program::VersionMajor, Program::VersionMinor, Program::VersionRevision)
           + CrLf + QStringLiteral("Version Firmware: ") + Tab + Tab
           + versionText(major, minor, build) + CrLf + CrLf
           + QStringLiteral("Bitte aktualisieren Sie ")
           + (programIsNewer ? QStringLiteral("die Firmware des Controllers.")
                             : QStringLiteral("die ") + Program::ProductName
                                   + QStringLiteral("-Software"));
}

QString versionCheckCaption()
{
    return Program::Title + QStringLiteral(" Versionskontrolle");
}

QString boardLayoutText(quint8 statusFlags)
{
    switch (StatusFlags{statusFlags}.layout()) {
    case BoardLayout::Uno: return QStringLiteral("Uno");
    case BoardLayout::Mega: return QStringLiteral("Mega");
    case BoardLayout::Unknown: break;
    }
    return QStringLiteral("unbekannt");
}

QString speedStepText(quint8 replyP1)
{
    if (replyP1 == NothingToReport)
        return QStringLiteral("n.v.");
    switch (LocoFlags::speedStepCode(replyP1)) {
    case LocoFlags::Steps14: return QStringLiteral("14 FS");
    case LocoFlags::Steps28: return QStringLiteral("28 FS");
    case LocoFlags::Steps126: return QStringLiteral("126 FS");
    default: return QStringLiteral("Fehler");
    }
}

int speedPercent(int sliderValue)
{
    // Whole numbers throughout: speed / 255 * 100 rounded down exactly.
    return int(speedFromSlider(sliderValue)) * 100 / 255;
}

QString percentText(int sliderValue)
{
    return QString::number(speedPercent(sliderValue)) + QStringLiteral(" %");
}

int functionNumberFromKey(const QString &key)
{
    bool ok = false;
    const int number = key.mid(1).toInt(&ok);
    return ok ? number : 0;
}

QString functionKey(int number)
{
    return QStringLiteral("F") + QString::number(number);
}

int decoderIdFromText(const QString &text)
{
    return readWholeNumber(text).value_or(0);
}

QString locoPanelKey(int panel)
{
    return QStringLiteral("Slider") + twoDigits(panel);
}

QString accessoryPanelKey(int panel)
{
    return QStringLiteral("AccessoryAdress") + twoDigits(panel);
}

QString trackPowerQuestion()
{
    return QStringLiteral("Laststromkreis ist noch aufgeregelt.") + CrLf + CrLf
           + QStringLiteral("Abregeln ?");
}

namespace {

QString manualPathParagraph(const QString &path)
{
    return CrLf + CrLf + QStringLiteral("Sie finden das Handbuch hier:") + CrLf + path;
}

} // namespace

QString manualNoPdfApplicationText(const QString &path)
{
    return QStringLiteral("Das Handbuch kann nicht angezeigt werden: Auf diesem Rechner ist kein ")
           + QStringLiteral("Programm für PDF-Dateien eingerichtet.") + manualPathParagraph(path);
}

QString manualNotOpenedText(const QString &path)
{
    return QStringLiteral("Das Handbuch konnte nicht geöffnet werden.") + manualPathParagraph(path);
}
