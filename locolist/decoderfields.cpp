#include "locolist/decoderfields.h"

#include "common/program.h"
#include "locolist/addressing.h"

#include <QDir>
#include <QFile>
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

const QByteArray HeaderLine = QByteArrayLiteral("CV;Wert");

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

QList<int> addressCvs(int cv29)
{
    if (bitSet(cv29, ShortAddressBit))
        return {Addressing::LongAddressHighCv, Addressing::LongAddressLowCv};
    return {Addressing::AddressCv};
}

QStringList DecoderLabels::texts() const
{
    return {maker, version, locoNumber, speedSteps, direction, analogue, railCom};
}

DecoderLabels decoderLabels(const CvValues &cvs)
{
    DecoderLabels labels;
    if (cvs.contains(MakerCv))
        labels.maker = makerText(cvs.value(MakerCv));
    if (cvs.contains(VersionCv))
        labels.version = QString::number(cvs.value(VersionCv));
    if (!cvs.contains(Addressing::ConfigurationCv))
        return labels;

    const int cv29 = cvs.value(Addressing::ConfigurationCv);
    labels.speedSteps = bitSet(cv29, Addressing::SpeedStepBit) ? QStringLiteral("28/128")
                                                                : QStringLiteral("14");
    labels.direction = bitSet(cv29, DirectionBit) ? QStringLiteral("umgekehrt")
                                                  : QStringLiteral("normal");
    labels.analogue = onOff(bitSet(cv29, AnalogueBit));
    labels.railCom = onOff(bitSet(cv29, RailComBit));

    const QList<int> address = addressCvs(cv29);
    for (int cv : address) {
        if (!cvs.contains(cv))
            return labels;
    }
    if (address.size() == 1) {
        labels.locoNumber = QString::number(cvs.value(Addressing::AddressCv))
                            + QStringLiteral(" (kurz)");
        return labels;
    }
    // A CV 17 without the mark of a long address holds none; the formula
    // would give a negative number.
    const std::optional<int> number = Addressing::decodeLongAddress(
        cvs.value(Addressing::LongAddressHighCv), cvs.value(Addressing::LongAddressLowCv));
    labels.locoNumber = number ? QString::number(*number) + QStringLiteral(" (lang)")
                               : QStringLiteral("unbekannt");
    return labels;
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
    text += QString::fromLatin1(HeaderLine) + QLatin1Char('\n');
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        text += QStringLiteral("%1;%2\n").arg(it.key()).arg(it.value());
    if (!unreadable.isEmpty())
        text += QStringLiteral("# nicht lesbar: ") + rangesText(unreadable) + QLatin1Char('\n');
    return text.toUtf8();
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

        if (line.isEmpty() || line.startsWith('#')
            || line.compare(HeaderLine, Qt::CaseInsensitive) == 0)
            continue;
        const qsizetype separator = line.indexOf(';');
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

QString backupDoneText(int saved, int unreadable)
{
    QString text = QStringLiteral("%1 CVs gesichert").arg(saved);
    if (unreadable > 0)
        text += QStringLiteral(", %1 nicht lesbar").arg(unreadable);
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

QString restoreQuestion(int count)
{
    return QStringLiteral("Möchten Sie ") + QString::number(count)
           + QStringLiteral(" CVs in den Decoder schreiben ?");
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

} // namespace DecoderFields
