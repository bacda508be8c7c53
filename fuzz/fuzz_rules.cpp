// The rule check of every input field with arbitrary rule and field texts.
//
// Input: one byte choosing the locale, then the rule text and the field text
// (UTF-8), divided by a zero byte.
//
// What must hold for every rule and every text:
// - a failing field's message starts with the rule's display name (item 1)
//   and is one of the four messages a field can get;
// - the list procedures agree with each other: as many entries as
//   separators plus one, the entries joined again give the list, and looking
//   an entry up finds it (or an equal one before it).

#include "fuzzinput.h"

#include "common/rules.h"

#include <QCoreApplication>

namespace {

const QLocale &localeFor(quint8 choice)
{
    static const QLocale german(QLocale::German, QLocale::Germany);
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    static const QLocale c = QLocale::c();
    switch (choice % 3) {
    case 0: return german;
    case 1: return english;
    default: return c;
    }
}

void checkLists(const QString &list, const QString &separator)
{
    const int count = sysListNumEntries(list, separator);
    FUZZ_CHECK(count == list.count(separator, Qt::CaseInsensitive) + 1);
    FUZZ_CHECK(sysListEntry(0, list, separator).isEmpty());
    FUZZ_CHECK(sysListEntry(count + 1, list, separator).isEmpty());
    // Walking a long list is quadratic by design; a few dozen entries say
    // everything there is to say.
    if (count > 40)
        return;
    QStringList entries;
    for (int number = 1; number <= count; ++number)
        entries << sysListEntry(number, list, separator);
    FUZZ_CHECK(entries.join(separator) == list);
    for (int number = 1; number <= count; ++number) {
        const int found = sysListLookUp(entries[number - 1], list, separator);
        FUZZ_CHECK(found >= 1 && found <= number);
        FUZZ_CHECK(entries[found - 1].compare(entries[number - 1], Qt::CaseInsensitive) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Dates are read in the zone of the program's users, daylight saving
    // gaps included. A zone named in TZ is loaded once; without it the C
    // library reloads the system zone on every date conversion.
    qputenv("TZ", "Europe/Berlin");
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    const QLocale &locale = localeFor(in.byte());
    const QString rule = QString::fromUtf8(in.untilZero());
    const QString field = QString::fromUtf8(in.rest());
    static const QDateTime now(QDate(2026, 12, 9), QTime(10, 30));

    const std::optional<QString> message = checkRule(rule, field, locale, now);
    if (message) {
        const QString name = sysListEntry(1, rule, QStringLiteral(","));
        FUZZ_CHECK(message->startsWith(name));
        const QString rest = message->mid(name.size());
        FUZZ_CHECK(rest == QStringLiteral(" muß eingegeben werden.")
                   || rest == QStringLiteral(" muß ein gültiges Datum sein.")
                   || rest == QStringLiteral(" muß numerisch sein.")
                   || (rest.startsWith(QStringLiteral(" ist nicht im gültigen Bereich ("))
                       && rest.endsWith(QStringLiteral(") ."))));
    }
    if (rule.isEmpty())
        FUZZ_CHECK(!message);

    checkLists(rule, QStringLiteral(","));
    checkLists(field, QStringLiteral(";"));
    (void)leadingNumber(field);
    (void)readsAsNumber(field, locale);
    return 0;
}
