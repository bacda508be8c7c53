#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// What a decoder's CVs say about it, the file that keeps a copy of its CVs,
// and the texts of the decoder tab. No window and no exchange: the loops that
// read and write the CVs are in decoderjobs.h.
namespace DecoderFields {

constexpr int FirstCv = 1;
constexpr int LastCv = 1024;
constexpr int MaxValue = 255;
constexpr int VersionCv = 7;
constexpr int MakerCv = 8;
// Written to CV 8, it resets the decoder to its factory settings.
constexpr int ResetValue = 8;
// The range a backup offers first.
constexpr int DefaultFirstCv = 1;
constexpr int DefaultLastCv = 255;

// CV numbers and values as the decoder holds them.
using CvValues = QMap<int, int>;

struct CvValue
{
    int cv = 0;
    int value = 0;

    friend bool operator==(const CvValue &, const CvValue &) = default;
};

// --- makers ------------------------------------------------------------------

// The maker the NMRA lists for a CV 8 value; empty when the id is unassigned.
QString makerName(int id);
// "Electronic Solutions Ulm GmbH (151)", or "unbekannt (199)".
QString makerText(int id);

// --- identification -------------------------------------------------------------

// The CVs an identification reads first, in order: maker, version,
// configuration (CV 8, CV 7, CV 29).
QList<int> identityCvs();
// The address CVs that CV 29 points to, in reading order: CV 1 when bit 5
// is 0 (short address), CV 17 and CV 18 when it is 1.
QList<int> addressCvs(int cv29);

// The value texts beside the captions of the tab, in the order of
// labelCaptions(). A text stays empty while the CVs it needs are not read.
struct DecoderLabels
{
    QString maker;      // "Electronic Solutions Ulm GmbH (151)"
    QString version;    // "42"
    QString locoNumber; // "3 (kurz)", "1000 (lang)"; "unbekannt" when CV 17 holds no long address
    QString speedSteps; // "14" or "28/128"
    QString direction;  // "normal" or "umgekehrt"
    QString analogue;   // "ein" or "aus"
    QString railCom;    // "ein" or "aus"

    QStringList texts() const;
    friend bool operator==(const DecoderLabels &, const DecoderLabels &) = default;
};
DecoderLabels decoderLabels(const CvValues &cvs);
// "Hersteller:", "Version:", "Lok-Nummer:", "Fahrstufen:", "Fahrtrichtung:",
// "Analogbetrieb:", "RailCom:".
QStringList labelCaptions();

// --- the backup file ----------------------------------------------------------------

// What the comment lines at the top of a backup say besides program and date.
struct BackupHeader
{
    QDateTime time;
    std::optional<int> maker;   // CV 8, when known
    std::optional<int> version; // CV 7, when known
};

// The backup file, UTF-8 with line feeds: comment lines with program, date,
// maker and version (the last two when known), the header "CV;Wert", one
// "CV;value" line per CV read in rising order, and a comment line
// "# nicht lesbar: 9-16, 20" naming the CVs that could not be read, if any.
QByteArray backupFileText(const CvValues &values, const QList<int> &unreadable,
                          const BackupHeader &header);

// A backup file as read back. Every line is checked before anything counts:
// blank lines, comment lines (starting with "#", after blanks) and the
// header "CV;Wert" are allowed; every other line must be "CV;value" with a CV
// from 1 to 1024 that no earlier line named and a value from 0 to 255
// (decimal digits, blanks around them allowed). A UTF-8 byte order mark and
// carriage returns at line ends are accepted.
struct BackupFile
{
    // The number of the first line that is no valid entry (from 1); 0 when
    // every line is valid.
    int badLine = 0;
    // Every entry in file order; empty when a line is bad.
    QList<CvValue> entries;

    bool isValid() const { return badLine == 0; }
    // What a restore writes: the entries without CV 7 and CV 8 (writing CV 8
    // would reset the decoder); nothing at all from a file with a bad line.
    QList<CvValue> restorePlan() const;
};
BackupFile parseBackupFile(QByteArrayView bytes);

// Files beyond this size are no backup (one of 1024 CVs is about 10 KB).
constexpr qint64 MaxBackupFileBytes = 1 << 20;

// Reads a file of at most MaxBackupFileBytes; nothing when it cannot be
// opened or is larger, with the message for the user in errorText.
std::optional<QByteArray> readBackupFile(const QString &path, QString *errorText = nullptr);
// Writes the file whole or not at all (a temporary file renamed over the
// target); false with the message for the user in errorText.
bool saveBackupFile(const QString &path, const QByteArray &text, QString *errorText = nullptr);

// "CV-Sicherung.csv" in the home folder.
QString defaultBackupPath();

// --- texts -------------------------------------------------------------------

// Rules of the fields "von CV" and "bis CV".
QString firstCvRule();
QString lastCvRule();
// "Die erste CV darf nicht größer als die letzte CV sein."
QString rangeOrderText();

// "CV 5 von 255": how far a backup or restore has come.
QString cvProgressText(int n, int count);

QString identifyRunningText();  // "Decoder auslesen ..."
QString identifiedText();       // "Decoder ausgelesen"
QString identifyFailedText();   // "Decoder konnte nicht ausgelesen werden"
QString abortedText();          // "Vorgang abgebrochen"
QString resetQuestion();        // "Möchten Sie den Decoder auf die Werkseinstellungen zurücksetzen ?"
QString resetRunningText();     // "Zurücksetzen ..."
QString resetDoneText();        // "Der Decoder wurde auf die Werkseinstellungen zurückgesetzt"
QString resetFailedText();      // "Der Decoder hat das Zurücksetzen nicht bestätigt"

// "CVs sichern ..." status while it runs, and its outcomes: "255 CVs
// gesichert", with ", 3 nicht lesbar" when some could not be read; nothing
// read or the controller silent: "Die CVs konnten nicht gesichert werden".
QString backupRunningText();
QString backupDoneText(int saved, int unreadable);
QString backupFailedText();

// "Die Datei " + name + " enthält in Zeile " + n + " keinen gültigen Eintrag
// (CV 1 bis 1024, Wert 0 bis 255)."
QString badLineText(const QString &fileName, int line);
// "Die Datei " + name + " kann nicht gelesen werden." and " ist zu groß für
// eine CV-Sicherung."; "Die Datei " + name + " konnte nicht geschrieben werden."
QString readFailedText(const QString &fileName);
QString fileTooLargeText(const QString &fileName);
QString writeFailedText(const QString &fileName);
// "Die Datei " + name + " enthält keine CV." (a file with nothing to write)
QString noEntriesText(const QString &fileName);

// "Möchten Sie " + n + " CVs in den Decoder schreiben ?"
QString restoreQuestion(int count);
QString restoreRunningText();   // "CVs zurückschreiben ..."
// n + " CVs zurückgeschrieben"
QString restoreDoneText(int count);
// k + " von " + n + " CVs konnten nicht geschrieben werden" + ": CV 3, 17, 29"
// naming the first five, then ", …".
QString restoreFailedText(const QList<int> &failed, int count);

} // namespace DecoderFields
