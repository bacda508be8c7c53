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
// The CVs every decoder has, looked at before a job to tell an empty track:
// CV 1, CV 7, CV 8.
QList<int> presenceCvs();
// The address CVs that CV 29 points to, in reading order: CV 1 when bit 5
// is 0 (short address), CV 17 and CV 18 when it is 1; none for an accessory
// decoder (bit 7), whose address CVs mean something else.
QList<int> addressCvs(int cv29);

// The value texts beside the captions of the tab, in the order of
// labelCaptions(). A text stays empty while the CVs it needs are not read.
struct DecoderLabels
{
    QString maker;      // "Electronic Solutions Ulm GmbH (151)"
    QString version;    // "42"
    // "3 (kurz)", "1000 (lang)"; "ungültig (CV 1 = 0)" or "ungültig (CV 17/18 =
    // 255/255)" for an address no loco can have; "Zubehördecoder".
    QString locoNumber;
    QString speedSteps; // "14" or "28/126"
    QString direction;  // "normal" or "umgekehrt"
    QString analogue;   // "ein" or "aus"
    QString railCom;    // "ein" or "aus"

    QStringList texts() const;
    friend bool operator==(const DecoderLabels &, const DecoderLabels &) = default;
};
// Texts of the confirmed values cvs; a text whose CVs were read but not
// confirmed (uncertain) is "unsicher".
DecoderLabels decoderLabels(const CvValues &cvs, const QList<int> &uncertain = {});
// What a screen reader says for a value label: "Hersteller: Electronic
// Solutions Ulm GmbH (151)"; the caption alone while the value is empty.
QString valueAccessibleName(const QString &caption, const QString &value);
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
    QList<int> uncertain;       // CVs read but never confirmed
};

// The two kinds of file a backup can be saved as.
enum class BackupFormat {
    Velantor,   // comment lines, "CV;Wert", "cv;value"
    DecoderPro, // "CV, value", "cv,value" with CR LF, nothing else
};

// The backup file, UTF-8 with line feeds: comment lines with program, date,
// maker and version (the last two when known) and "# unsicher: 8, 17" naming
// the CVs that answered but were never confirmed, if any; the header
// "CV;Wert", one "CV;value" line per CV read in rising order, and a comment
// line "# nicht lesbar: 9-16, 20" naming the CVs that could not be read, if
// any.
QByteArray backupFileText(const CvValues &values, const QList<int> &unreadable,
                          const BackupHeader &header);
// The same values as DecoderPro's CSV import reads them: the header
// "CV, value", one "cv,value" line per CV, CR LF line ends, no comment and no
// blank line (its importer stops at a line without a comma).
QByteArray decoderProFileText(const CvValues &values);
QByteArray backupFileText(BackupFormat format, const CvValues &values,
                          const QList<int> &unreadable, const BackupHeader &header);

// A backup file as read back, ours or DecoderPro's CSV export. Every line is
// checked before anything counts: blank lines, comment lines (starting with
// "#", after blanks) and a header are allowed: "CV;Wert" or DecoderPro's
// "CV, value", quoted or not; every other line must be "CV;value" or
// "CV,value" with a CV from 1 to 1024 that no earlier line named and a value
// from 0 to 255 (decimal digits, blanks around them allowed). DecoderPro's
// indexed CV names ("16.2.257") are no CV of ours: their line is bad. A UTF-8
// byte order mark and carriage returns at line ends are accepted.
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
    // CV 7 and CV 8 as the file holds them (none when it holds neither).
    CvValues identity() const;
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
// The path with ".csv" added when its file name has no suffix.
QString withCsvSuffix(const QString &path);
// The file types of the save dialog, the first the default, and of the open
// dialog.
QStringList saveFilters();
QString openFilters();

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
QString noDecoderText();        // "Kein Decoder auf dem Programmiergleis erkannt"
QString uncertainText();        // "unsicher"
QString resetQuestion();        // "Möchten Sie den Decoder auf die Werkseinstellungen zurücksetzen ?"
QString resetRunningText();     // "Zurücksetzen ..."
QString resetDoneText();        // "Der Decoder wurde auf die Werkseinstellungen zurückgesetzt"
QString resetFailedText();      // "Der Decoder hat das Zurücksetzen nicht bestätigt"

// "CVs sichern ..." status while it runs, and its outcomes: "255 CVs
// gesichert", with ", 3 nicht lesbar" when some could not be read and ", 2
// CVs unsicher: 8, 17" when some were never confirmed; nothing read or the
// controller silent: "Die CVs konnten nicht gesichert werden".
QString backupRunningText();
QString backupDoneText(int saved, int unreadable, const QList<int> &uncertain = {});
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

// "Möchten Sie " + n + " CVs aus der Datei " + name + " in den Decoder
// schreiben ?", then the maker and version the file holds and those of the
// decoder on the track ("unbekannt" where not known), and a plain sentence
// when the two makers differ.
QString restoreQuestion(int count, const QString &fileName, const CvValues &fileIdentity,
                        const CvValues &trackIdentity);
QString restoreRunningText();   // "CVs zurückschreiben ..."
// n + " CVs zurückgeschrieben"
QString restoreDoneText(int count);
// k + " von " + n + " CVs konnten nicht geschrieben werden" + ": CV 3, 17, 29"
// naming the first five, then ", …".
QString restoreFailedText(const QList<int> &failed, int count);
// k + " von " + n + " CVs geschrieben, abgebrochen bei CV " + m: a restore
// the user aborted or the controller left.
QString restoreStoppedText(int written, int count, int cv);

} // namespace DecoderFields
