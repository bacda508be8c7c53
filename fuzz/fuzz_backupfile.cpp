// A CV backup file as the restore reads it: arbitrary bytes, perhaps edited
// by hand or not a backup at all.
//
// Input: the whole file.
//
// What must hold for every file:
// - reading never fails;
// - the first bad line is the one a plain line-by-line check names (a line
//   is blank, a comment, the header "CV;Wert" or "CV, value", quoted or not,
//   or "CV;value" or "CV,value" with a CV from 1 to 1024 not named before and
//   a value from 0 to 255), and a file with a bad line gives no entry and no
//   restore plan;
// - a restore plan never holds CV 7 or CV 8, a CV twice, or a value out of
//   range;
// - the entries, written as a backup again in either format, read back the
//   same.

#include "fuzzinput.h"

#include "locolist/decoderfields.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSet>

using namespace DecoderFields;

namespace {

// The check written the plain way: the number of the first bad line, 0 when
// there is none.
int firstBadLine(QByteArray bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    // The ASCII blanks, written out: in a pattern "\\v" would also take the
    // Latin-1 next-line character 0x85.
    static const QString blank = QStringLiteral("[ \\t\\n\\x0B\\f\\r]*");
    static const QRegularExpression entry(QStringLiteral("^") + blank + QStringLiteral("([0-9]{1,4})")
                                          + blank + QStringLiteral("[;,]") + blank
                                          + QStringLiteral("([0-9]{1,3})") + blank
                                          + QStringLiteral("\\z"));
    const QString header = blank + QStringLiteral("cv") + blank + QStringLiteral("[;,]") + blank
                           + QStringLiteral("(wert|value)") + blank;
    static const QRegularExpression ignored(
        QStringLiteral("^") + blank + QStringLiteral("(#.*|") + header + QStringLiteral("|\"")
            + header + QStringLiteral("\")?") + blank + QStringLiteral("\\z"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    QList<QByteArray> lines = bytes.split('\n');
    if (bytes.endsWith('\n') || bytes.isEmpty())
        lines.removeLast();
    QSet<int> seen;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromLatin1(lines.at(i));
        if (ignored.match(line).hasMatch())
            continue;
        const QRegularExpressionMatch m = entry.match(line);
        if (!m.hasMatch())
            return i + 1;
        const int cv = m.captured(1).toInt();
        const int value = m.captured(2).toInt();
        if (cv < FirstCv || cv > LastCv || value > MaxValue || seen.contains(cv))
            return i + 1;
        seen.insert(cv);
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    const QByteArray bytes = in.rest();
    const BackupFile file = parseBackupFile(bytes);

    FUZZ_CHECK(file.badLine == firstBadLine(bytes));
    FUZZ_CHECK(file.isValid() == (file.badLine == 0));
    const QList<CvValue> plan = file.restorePlan();
    if (!file.isValid()) {
        FUZZ_CHECK(file.entries.isEmpty());
        FUZZ_CHECK(plan.isEmpty());
        return 0;
    }

    QSet<int> seen;
    CvValues values;
    for (const CvValue &entry : file.entries) {
        FUZZ_CHECK(entry.cv >= FirstCv && entry.cv <= LastCv);
        FUZZ_CHECK(entry.value >= 0 && entry.value <= MaxValue);
        FUZZ_CHECK(!seen.contains(entry.cv));
        seen.insert(entry.cv);
        values.insert(entry.cv, entry.value);
    }
    for (const CvValue &write : plan) {
        FUZZ_CHECK(write.cv != VersionCv && write.cv != MakerCv);
        FUZZ_CHECK(file.entries.contains(write));
    }
    FUZZ_CHECK(plan.size() + int(values.contains(VersionCv)) + int(values.contains(MakerCv))
               == file.entries.size());

    BackupHeader header;
    header.time = QDateTime(QDate(2026, 1, 1), QTime(12, 0));
    if (values.contains(MakerCv))
        header.maker = values.value(MakerCv);
    header.uncertain = plan.isEmpty() ? QList<int>() : QList<int>{plan.first().cv};
    for (BackupFormat format : {BackupFormat::Velantor, BackupFormat::DecoderPro}) {
        const BackupFile again = parseBackupFile(backupFileText(format, values, {}, header));
        FUZZ_CHECK(again.isValid());
        CvValues reread;
        for (const CvValue &entry : again.entries)
            reread.insert(entry.cv, entry.value);
        FUZZ_CHECK(reread == values);
    }
    return 0;
}
