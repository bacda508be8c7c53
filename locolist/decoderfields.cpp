#include "locolist/decoderfields.h"

#include "common/program.h"
#include "locolist/addressing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <algorithm>

#include <bitset>

// A resource compiled into a static library is registered by hand, and only
// from the global namespace.
static void registerDecoderData()
{
    Q_INIT_RESOURCE(decoderdata);
}

namespace DecoderFields {

namespace {

constexpr int ShortAddressBit = Addressing::LongAddressBit;
constexpr int DirectionBit = 0;
constexpr int AnalogueBit = 2;
constexpr int RailComBit = 3;
constexpr int NamedFailures = 5;

constexpr int AccessoryBit = 7;

const QByteArray HeaderLine = QByteArrayLiteral("CV;Wert");
// DecoderPro's export writes its header as one quoted field; its import
// takes any line whose first field contains "CV" as the header.
const QByteArray DecoderProHeaderLine = QByteArrayLiteral("CV, value");

bool bitSet(int value, int bit)
{
    return (value >> bit) & 1;
}

QString onOff(bool on)
{
    return on ? QStringLiteral("ein") : QStringLiteral("aus");
}

// The table as the NMRA publishes it: comment lines, the header "id;name",
// then "id;name" lines.
QHash<int, QString> loadMakers()
{
    registerDecoderData();
    QHash<int, QString> makers;
    QFile file(QStringLiteral(":/decoder/nmra-manufacturers.csv"));
    if (!file.open(QIODevice::ReadOnly))
        return makers;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &raw : lines) {
        const QByteArrayView line = QByteArrayView(raw).trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype separator = line.indexOf(';');
        if (separator < 0)
            continue;
        bool ok = false;
        const int id = line.first(separator).trimmed().toInt(&ok);
        if (!ok)
            continue; // the header
        makers.insert(id, QString::fromUtf8(line.sliced(separator + 1).trimmed()));
    }
    return makers;
}

const QHash<int, QString> &makers()
{
    static const QHash<int, QString> table = loadMakers();
    return table;
}

// A whole number of at most maxDigits decimal digits, nothing else.
std::optional<int> digits(QByteArrayView text, int maxDigits)
{
    if (text.isEmpty() || text.size() > maxDigits)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "9-16, 20, 23"
QString rangesText(QList<int> cvs)
{
    std::sort(cvs.begin(), cvs.end());
    QStringList parts;
    for (qsizetype i = 0; i < cvs.size();) {
        qsizetype j = i;
        while (j + 1 < cvs.size() && cvs.at(j + 1) == cvs.at(j) + 1)
            ++j;
        parts << (j > i ? QStringLiteral("%1-%2").arg(cvs.at(i)).arg(cvs.at(j))
                        : QString::number(cvs.at(i)));
        i = j + 1;
    }
    return parts.join(QStringLiteral(", "));
}

QString fileText(const QString &fileName, const QString &rest)
{
    return QStringLiteral("Die Datei ") + fileName + rest;
}

// The first ';' or ',' of a line: our files separate by ';', DecoderPro's
// by ','.
qsizetype separatorOf(QByteArrayView line)
{
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line.at(i) == ';' || line.at(i) == ',')
            return i;
    }
    return -1;
}

// "CV;Wert", "CV, value" or the same in double quotes, in any case.
bool isHeader(QByteArrayView line)
{
    if (line.size() >= 2 && line.front() == '"' && line.back() == '"')
        line = line.sliced(1, line.size() - 2);
    const qsizetype separator = separatorOf(line);
    if (separator < 0)
        return false;
    const QByteArrayView cv = line.first(separator).trimmed();
    const QByteArrayView value = line.sliced(separator + 1).trimmed();
    return cv.compare("CV", Qt::CaseInsensitive) == 0
           && (value.compare("Wert", Qt::CaseInsensitive) == 0
               || value.compare("value", Qt::CaseInsensitive) == 0);
}

QString commaList(const QList<int> &cvs)
{
    QStringList parts;
    for (int cv : cvs)
        parts << QString::number(cv);
    return parts.join(QStringLiteral(", "));
}

// "Electronic Solutions Ulm GmbH (151), Version 42"; "unbekannt" for what is
// not known.
QString identityText(const CvValues &identity)
{
    const QString maker = identity.contains(MakerCv) ? makerText(identity.value(MakerCv))
                                                     : QStringLiteral("unbekannt");
    const QString version = identity.contains(VersionCv)
                                ? QString::number(identity.value(VersionCv))
                                : QStringLiteral("unbekannt");
    return maker + QStringLiteral(", Version ") + version;
}

} // namespace

// --- makers ------------------------------------------------------------------

QString makerName(int id)
{
    return makers().value(id);
}

QString makerText(int id)
{
    const QString name = makerName(id);
    return (name.isEmpty() ? QStringLiteral("unbekannt") : name) + QStringLiteral(" (")
           + QString::number(id) + QLatin1Char(')');
}

// --- identification -------------------------------------------------------------

QList<int> identityCvs()
{
    return {MakerCv, VersionCv, Addressing::ConfigurationCv};
}

QList<int> presenceCvs()
{
    return {Addressing::AddressCv, VersionCv, MakerCv};
}

QList<int> addressCvs(int cv29)
{
    if (bitSet(cv29, AccessoryBit))
        return {};
    if (bitSet(cv29, ShortAddressBit))
        return {Addressing::LongAddressHighCv, Addressing::LongAddressLowCv};
    return {Addressing::AddressCv};
}

QStringList DecoderLabels::texts() const
{
    return {maker, version, locoNumber, speedSteps, direction, analogue, railCom};
}

DecoderLabels decoderLabels(const CvValues &cvs, const QList<int> &uncertain)
{
    // A CV that answered without being confirmed says "unsicher" in every
    // text that depends on it.
    auto known = [&](int cv, QString *text) {
        if (uncertain.contains(cv))
            *text = uncertainText();
        return cvs.contains(cv);
    };
    DecoderLabels labels;
    if (known(MakerCv, &labels.maker))
        labels.maker = makerText(cvs.value(MakerCv));
    if (known(VersionCv, &labels.version))
        labels.version = QString::number(cvs.value(VersionCv));
    if (uncertain.contains(Addressing::ConfigurationCv)) {
        for (QString *text : {&labels.locoNumber, &labels.speedSteps, &labels.direction,
                              &labels.analogue, &labels.railCom})
            *text = uncertainText();
        return labels;
    }
    if (!cvs.contains(Addressing::ConfigurationCv))
        return labels;

    const int cv29 = cvs.value(Addressing::ConfigurationCv);
    labels.railCom = onOff(bitSet(cv29, RailComBit));
    // Bits 0 to 5 of an accessory decoder's CV 29 mean other things.
    if (bitSet(cv29, AccessoryBit)) {
        labels.locoNumber = QStringLiteral("Zubehördecoder");
        return labels;
    }
    labels.speedSteps = bitSet(cv29, Addressing::SpeedStepBit) ? QStringLiteral("28/126")
                                                                : QStringLiteral("14");
    labels.direction = bitSet(cv29, DirectionBit) ? QStringLiteral("umgekehrt")
                                                  : QStringLiteral("normal");
    labels.analogue = onOff(bitSet(cv29, AnalogueBit));

    const QList<int> address = addressCvs(cv29);
    for (int cv : address) {
        if (!known(cv, &labels.locoNumber))
            return labels;
    }
    if (address.size() == 1) {
        const int number = cvs.value(Addressing::AddressCv);
        labels.locoNumber = number >= 1 && Addressing::isShortAddress(number)
                                ? QString::number(number) + QStringLiteral(" (kurz)")
                                : QStringLiteral("ungültig (CV 1 = %1)").arg(number);
        return labels;
    }
    // A CV 17 without the mark of a long address holds none, and the mark
    // allows numbers up to 16383 that no loco can have.
    const int high = cvs.value(Addressing::LongAddressHighCv);
    const int low = cvs.value(Addressing::LongAddressLowCv);
    const std::optional<int> number = Addressing::decodeLongAddress(high, low);
    labels.locoNumber = number && Limits::isLocoNumber(*number)
                            ? QString::number(*number) + QStringLiteral(" (lang)")
                            : QStringLiteral("ungültig (CV 17/18 = %1/%2)").arg(high).arg(low);
    return labels;
}

QString valueAccessibleName(const QString &caption, const QString &value)
{
    return value.isEmpty() ? caption : caption + QStringLiteral(": ") + value;
}

QStringList labelCaptions()
{
    return {QStringLiteral("Hersteller:"),    QStringLiteral("Version:"),
            QStringLiteral("Lok-Nummer:"),    QStringLiteral("Fahrstufen:"),
            QStringLiteral("Fahrtrichtung:"), QStringLiteral("Analogbetrieb:"),
            QStringLiteral("RailCom:")};
}

// --- the backup file ----------------------------------------------------------------

QByteArray backupFileText(const CvValues &values, const QList<int> &unreadable,
                          const BackupHeader &header)
{
    QString text;
    text += QStringLiteral("# Programm: %1 %2.%3.%4\n")
                .arg(Program::ProductName)
                .arg(Program::VersionMajor)
                .arg(Program::VersionMinor)
                .arg(Program::VersionRevision);
    // A fixed form, so that the file reads the same whatever the locale.
    text += QStringLiteral("# Datum: ")
            + header.time.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) + QLatin1Char('\n');
    if (header.maker)
        text += QStringLiteral("# Hersteller: ") + makerText(*header.maker) + QLatin1Char('\n');
    if (header.version)
        text += QStringLiteral("# Version: ") + QString::number(*header.version)
                + QLatin1Char('\n');
    if (!header.uncertain.isEmpty())
        text += QStringLiteral("# unsicher: ") + rangesText(header.uncertain) + QLatin1Char('\n');
    text += QString::fromLatin1(HeaderLine) + QLatin1Char('\n');
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        text += QStringLiteral("%1;%2\n").arg(it.key()).arg(it.value());
    if (!unreadable.isEmpty())
        text += QStringLiteral("# nicht lesbar: ") + rangesText(unreadable) + QLatin1Char('\n');
    return text.toUtf8();
}

QByteArray decoderProFileText(const CvValues &values)
{
    QByteArray text = DecoderProHeaderLine + "\r\n";
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        text += QByteArray::number(it.key()) + ',' + QByteArray::number(it.value()) + "\r\n";
    return text;
}

QByteArray backupFileText(BackupFormat format, const CvValues &values,
                          const QList<int> &unreadable, const BackupHeader &header)
{
    return format == BackupFormat::DecoderPro ? decoderProFileText(values)
                                              : backupFileText(values, unreadable, header);
}

CvValues BackupFile::identity() const
{
    CvValues identity;
    for (const CvValue &entry : entries) {
        if (entry.cv == VersionCv || entry.cv == MakerCv)
            identity.insert(entry.cv, entry.value);
    }
    return identity;
}

QList<CvValue> BackupFile::restorePlan() const
{
    QList<CvValue> plan;
    if (!isValid())
        return plan;
    for (const CvValue &entry : entries) {
        if (entry.cv != VersionCv && entry.cv != MakerCv)
            plan << entry;
    }
    return plan;
}

BackupFile parseBackupFile(QByteArrayView bytes)
{
    static constexpr QByteArrayView Bom("\xEF\xBB\xBF");
    if (bytes.startsWith(Bom))
        bytes = bytes.sliced(Bom.size());

    BackupFile file;
    std::bitset<LastCv + 1> seen;
    int lineNumber = 0;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        const QByteArrayView line = bytes.sliced(start, end - start).trimmed();
        start = end + 1;
        ++lineNumber;

        if (line.isEmpty() || line.startsWith('#') || isHeader(line))
            continue;
        const qsizetype separator = separatorOf(line);
        const std::optional<int> cv =
            separator < 0 ? std::nullopt : digits(line.first(separator).trimmed(), 4);
        const std::optional<int> value =
            separator < 0 ? std::nullopt : digits(line.sliced(separator + 1).trimmed(), 3);
        if (!cv || !value || *cv < FirstCv || *cv > LastCv || *value > MaxValue
            || seen.test(*cv)) {
            file.badLine = lineNumber;
            file.entries.clear();
            return file;
        }
        seen.set(*cv);
        file.entries << CvValue{*cv, *value};
    }
    return file;
}

std::optional<QByteArray> readBackupFile(const QString &path, QString *errorText)
{
    const QString name = QDir::toNativeSeparators(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (errorText)
            *errorText = readFailedText(name);
        return std::nullopt;
    }
    // One byte more than allowed tells a file that is too large, also where
    // the size is not known beforehand.
    const QByteArray bytes = file.read(MaxBackupFileBytes + 1);
    if (bytes.size() > MaxBackupFileBytes) {
        if (errorText)
            *errorText = fileTooLargeText(name);
        return std::nullopt;
    }
    if (file.error() != QFileDevice::NoError) {
        if (errorText)
            *errorText = readFailedText(name);
        return std::nullopt;
    }
    return bytes;
}

bool saveBackupFile(const QString &path, const QByteArray &text, QString *errorText)
{
    QSaveFile file(path);
    const bool saved = file.open(QIODevice::WriteOnly) && file.write(text) == text.size()
                       && file.commit();
    if (!saved && errorText)
        *errorText = writeFailedText(QDir::toNativeSeparators(path));
    return saved;
}

QString defaultBackupPath()
{
    return QDir::home().filePath(QStringLiteral("CV-Sicherung.csv"));
}

QString withCsvSuffix(const QString &path)
{
    return QFileInfo(path).suffix().isEmpty() ? path + QStringLiteral(".csv") : path;
}

QStringList saveFilters()
{
    return {QStringLiteral("Velantor-CV-Sicherung (*.csv)"),
            QStringLiteral("DecoderPro-CSV (*.csv)")};
}

QString openFilters()
{
    return QStringLiteral("CV-Sicherung (*.csv);;Alle Dateien (*)");
}

// --- texts -------------------------------------------------------------------

QString firstCvRule()
{
    return QStringLiteral("Die erste CV,Mandatory,MIN=1,MAX=1024,NUM");
}

QString lastCvRule()
{
    return QStringLiteral("Die letzte CV,Mandatory,MIN=1,MAX=1024,NUM");
}

QString rangeOrderText()
{
    return QStringLiteral("Die erste CV darf nicht größer als die letzte CV sein.");
}

QString cvProgressText(int n, int count)
{
    return QStringLiteral("CV %1 von %2").arg(n).arg(count);
}

QString identifyRunningText() { return QStringLiteral("Decoder auslesen ..."); }
QString identifiedText() { return QStringLiteral("Decoder ausgelesen"); }
QString identifyFailedText() { return QStringLiteral("Decoder konnte nicht ausgelesen werden"); }
QString abortedText() { return QStringLiteral("Vorgang abgebrochen"); }

QString noDecoderText()
{
    return QStringLiteral("Kein Decoder auf dem Programmiergleis erkannt");
}

QString uncertainText() { return QStringLiteral("unsicher"); }

QString resetQuestion()
{
    return QStringLiteral("Möchten Sie den Decoder auf die Werkseinstellungen zurücksetzen ?");
}

QString resetRunningText() { return QStringLiteral("Zurücksetzen ..."); }

QString resetDoneText()
{
    return QStringLiteral("Der Decoder wurde auf die Werkseinstellungen zurückgesetzt");
}

QString resetFailedText()
{
    return QStringLiteral("Der Decoder hat das Zurücksetzen nicht bestätigt");
}

QString backupRunningText() { return QStringLiteral("CVs sichern ..."); }

QString backupDoneText(int saved, int unreadable, const QList<int> &uncertain)
{
    QString text = QStringLiteral("%1 CVs gesichert").arg(saved);
    if (unreadable > 0)
        text += QStringLiteral(", %1 nicht lesbar").arg(unreadable);
    if (!uncertain.isEmpty())
        text += QStringLiteral(", %1 CVs unsicher: ").arg(uncertain.size()) + commaList(uncertain);
    return text;
}

QString backupFailedText() { return QStringLiteral("Die CVs konnten nicht gesichert werden"); }

QString badLineText(const QString &fileName, int line)
{
    return fileText(fileName, QStringLiteral(" enthält in Zeile ") + QString::number(line)
                                  + QStringLiteral(" keinen gültigen Eintrag (CV 1 bis 1024, "
                                                   "Wert 0 bis 255)."));
}

QString readFailedText(const QString &fileName)
{
    return fileText(fileName, QStringLiteral(" kann nicht gelesen werden."));
}

QString fileTooLargeText(const QString &fileName)
{
    return fileText(fileName, QStringLiteral(" ist zu groß für eine CV-Sicherung."));
}

QString writeFailedText(const QString &fileName)
{
    return fileText(fileName, QStringLiteral(" konnte nicht geschrieben werden."));
}

QString noEntriesText(const QString &fileName)
{
    return fileText(fileName, QStringLiteral(" enthält keine CV."));
}

QString restoreQuestion(int count, const QString &fileName, const CvValues &fileIdentity,
                        const CvValues &trackIdentity)
{
    QString text = QStringLiteral("Möchten Sie ") + QString::number(count)
                   + QStringLiteral(" CVs aus der Datei ") + fileName
                   + QStringLiteral(" in den Decoder schreiben ?\n\nDatei: ")
                   + identityText(fileIdentity) + QStringLiteral("\nDecoder auf dem Gleis: ")
                   + identityText(trackIdentity);
    if (fileIdentity.contains(MakerCv) && trackIdentity.contains(MakerCv)
        && fileIdentity.value(MakerCv) != trackIdentity.value(MakerCv))
        text += QStringLiteral("\n\nDie Datei stammt von einem Decoder von ")
                + makerText(fileIdentity.value(MakerCv))
                + QStringLiteral(", auf dem Gleis steht einer von ")
                + makerText(trackIdentity.value(MakerCv)) + QLatin1Char('.');
    return text;
}

QString restoreRunningText() { return QStringLiteral("CVs zurückschreiben ..."); }

QString restoreDoneText(int count)
{
    return QString::number(count) + QStringLiteral(" CVs zurückgeschrieben");
}

QString restoreFailedText(const QList<int> &failed, int count)
{
    QStringList named;
    for (int cv : failed.first(qMin<qsizetype>(failed.size(), NamedFailures)))
        named << QString::number(cv);
    QString text = QStringLiteral("%1 von %2 CVs konnten nicht geschrieben werden")
                       .arg(failed.size())
                       .arg(count);
    if (!named.isEmpty())
        text += QStringLiteral(": CV ") + named.join(QStringLiteral(", "));
    if (failed.size() > NamedFailures)
        text += QStringLiteral(", …");
    return text;
}

QString restoreStoppedText(int written, int count, int cv)
{
    return QStringLiteral("%1 von %2 CVs geschrieben, abgebrochen bei CV %3")
        .arg(written)
        .arg(count)
        .arg(cv);
}

} // namespace DecoderFields
