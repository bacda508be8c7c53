#include "common/rules.h"

#include <QCollator>
#include <QRegularExpression>

#include <cmath>
#include <limits>
#include <variant>

int sysListNumEntries(const QString &hElementList, const QString &hSeparator)
{
    if (hSeparator.isEmpty())
        return 1;
    int count = 0;
    qsizetype position = hElementList.indexOf(hSeparator, 0, Qt::CaseInsensitive);
    while (position >= 0) {
        ++count;
        position = hElementList.indexOf(hSeparator, position + 1, Qt::CaseInsensitive);
    }
    return count + 1;
}

QString sysListEntry(int hElementNo, const QString &hElementList, const QString &hSeparator)
{
    if (hElementNo < 1 || hSeparator.isEmpty())
        return hElementNo == 1 ? hElementList : QString();
    // Walks to the entry without copying the list: rules walk theirs often.
    qsizetype start = 0;
    for (int number = 1; number < hElementNo; ++number) {
        const qsizetype end = hElementList.indexOf(hSeparator, start, Qt::CaseInsensitive);
        if (end < 0)
            return QString();
        start = end + hSeparator.size();
    }
    const qsizetype end = hElementList.indexOf(hSeparator, start, Qt::CaseInsensitive);
    return hElementList.mid(start, end < 0 ? -1 : end - start);
}

int sysListLookUp(const QString &hSearchElement, const QString &hElementList,
                  const QString &hSeparator)
{
    if (hSeparator.isEmpty())
        return hElementList.compare(hSearchElement, Qt::CaseInsensitive) == 0 ? 1 : 0;
    // Compares each entry where it stands: one pass, no entry copied.
    const QStringView list(hElementList);
    qsizetype start = 0;
    for (int number = 1;; ++number) {
        const qsizetype end = list.indexOf(hSeparator, start, Qt::CaseInsensitive);
        const QStringView entry = list.sliced(start, (end < 0 ? list.size() : end) - start);
        if (entry.compare(hSearchElement, Qt::CaseInsensitive) == 0)
            return number;
        if (end < 0)
            return 0;
        start = end + hSeparator.size();
    }
}

double leadingNumber(const QString &text)
{
    QString digits;
    for (const QChar c : text) {
        if (c != u' ' && c != u'\t' && c != u'\n' && c != u'\r')
            digits.append(c);
    }
    qsizetype i = 0;
    const qsizetype n = digits.size();
    QString number;
    if (i < n && (digits[i] == u'+' || digits[i] == u'-'))
        number.append(digits[i++]);
    bool seenDigit = false;
    while (i < n && digits[i].isDigit() && digits[i].unicode() < 128) {
        number.append(digits[i++]);
        seenDigit = true;
    }
    if (i < n && digits[i] == u'.') {
        number.append(digits[i++]);
        while (i < n && digits[i].isDigit() && digits[i].unicode() < 128) {
            number.append(digits[i++]);
            seenDigit = true;
        }
    }
    if (!seenDigit)
        return 0.0;
    // An exponent counts only when digits follow it.
    if (i < n && (digits[i] == u'e' || digits[i] == u'E')) {
        qsizetype j = i + 1;
        QString exponent = QStringLiteral("e");
        if (j < n && (digits[j] == u'+' || digits[j] == u'-'))
            exponent.append(digits[j++]);
        bool exponentDigits = false;
        while (j < n && digits[j].isDigit() && digits[j].unicode() < 128) {
            exponent.append(digits[j++]);
            exponentDigits = true;
        }
        if (exponentDigits)
            number.append(exponent);
    }
    bool ok = false;
    const double value = QLocale::c().toDouble(number, &ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

std::optional<double> readNumber(const QString &text)
{
    const QString trimmed = text.trimmed();
    QString plain;
    plain.reserve(trimmed.size());
    bool seenDigit = false;
    bool seenSeparator = false;
    for (qsizetype i = 0; i < trimmed.size(); ++i) {
        const QChar c = trimmed.at(i);
        if (c >= u'0' && c <= u'9') {
            seenDigit = true;
            plain.append(c);
        } else if ((c == u'.' || c == u',') && !seenSeparator) {
            seenSeparator = true;
            plain.append(u'.');
        } else if ((c == u'+' || c == u'-') && i == 0) {
            plain.append(c);
        } else {
            return std::nullopt;
        }
    }
    if (!seenDigit)
        return std::nullopt;
    bool ok = false;
    const double value = QLocale::c().toDouble(plain, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

double roundHalfEven(double value)
{
    // std::nearbyint would follow the floating-point rounding mode, which a
    // library may change; this does not.
    const double lower = std::floor(value);
    const double fraction = value - lower;
    if (fraction < 0.5)
        return lower;
    if (fraction > 0.5)
        return lower + 1.0;
    return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

std::optional<int> readWholeNumber(const QString &text)
{
    const std::optional<double> number = readNumber(text);
    if (!number)
        return std::nullopt;
    const double whole = roundHalfEven(*number);
    if (whole < double(std::numeric_limits<int>::min())
        || whole > double(std::numeric_limits<int>::max()))
        return std::nullopt;
    return int(whole);
}

bool readsAsNumber(const QString &text, const QLocale &locale)
{
    Q_UNUSED(locale);
    return readNumber(text).has_value();
}

namespace {

std::optional<QDateTime> readDate(const QString &text, const QLocale &locale)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    for (const QLocale::FormatType format : {QLocale::ShortFormat, QLocale::LongFormat}) {
        const QDateTime dateTime = locale.toDateTime(trimmed, format);
        if (dateTime.isValid())
            return dateTime;
        const QDate date = locale.toDate(trimmed, format);
        if (date.isValid())
            return QDateTime(date, QTime(0, 0));
    }
    for (const QString &pattern : {QStringLiteral("d.M.yyyy"), QStringLiteral("d.M.yy"),
                                   QStringLiteral("yyyy-MM-dd"), QStringLiteral("d/M/yyyy")}) {
        const QDate date = QDate::fromString(trimmed, pattern);
        if (date.isValid())
            return QDateTime(date, QTime(0, 0));
    }
    return std::nullopt;
}

enum class ValueClass { Date, Number, Text };

// A bound or value of one of the three classes; a date field without a date
// holds monostate, which is never out of range.
using Value = std::variant<std::monostate, QDateTime, double, QString>;

Value readValue(ValueClass valueClass, const QString &text, const QLocale &locale)
{
    switch (valueClass) {
    case ValueClass::Date:
        if (const auto date = readDate(text, locale))
            return *date;
        return std::monostate{};
    case ValueClass::Number:
        return leadingNumber(text);
    case ValueClass::Text:
        return text;
    }
    return std::monostate{};
}

// Negative, zero or positive as a is below, equal to or above b; nullopt
// when either has no value.
std::optional<int> compareValues(const Value &a, const Value &b, const QLocale &locale)
{
    if (const auto *x = std::get_if<QDateTime>(&a)) {
        if (const auto *y = std::get_if<QDateTime>(&b))
            return *x < *y ? -1 : (*y < *x ? 1 : 0);
        return std::nullopt;
    }
    if (const auto *x = std::get_if<double>(&a)) {
        if (const auto *y = std::get_if<double>(&b))
            return *x < *y ? -1 : (*y < *x ? 1 : 0);
        return std::nullopt;
    }
    if (const auto *x = std::get_if<QString>(&a)) {
        if (const auto *y = std::get_if<QString>(&b)) {
            QCollator collator(locale);
            collator.setCaseSensitivity(Qt::CaseInsensitive);
            return collator.compare(*x, *y);
        }
    }
    return std::nullopt;
}

QString displayValue(const Value &value, const QLocale &locale)
{
    if (const auto *date = std::get_if<QDateTime>(&value)) {
        if (date->time() == QTime(0, 0))
            return locale.toString(date->date(), QLocale::ShortFormat);
        return locale.toString(*date, QLocale::ShortFormat);
    }
    if (const auto *number = std::get_if<double>(&value)) {
        QLocale plain = locale;
        plain.setNumberOptions(QLocale::OmitGroupSeparator);
        QString text = plain.toString(*number, 'g', 15);
        // The general number format writes exponents as "1E+99".
        text.replace(u'e', u'E');
        return text;
    }
    if (const auto *text = std::get_if<QString>(&value))
        return *text;
    return QString();
}

bool hasFlag(const QString &rule, const char *keyword)
{
    return sysListLookUp(QLatin1String(keyword), rule, QStringLiteral(",")) > 0;
}

} // namespace

std::optional<QString> checkRule(const QString &rule, const QString &fieldText,
                                 const QLocale &locale, const QDateTime &now)
{
    if (rule.isEmpty())
        return std::nullopt;
    const QString comma = QStringLiteral(",");
    const QString name = sysListEntry(1, rule, comma);
    const bool mandatory = hasFlag(rule, "Mandatory");

    // A list field holds entries divided by commas, semicolons or blanks;
    // each must pass the rest of the rule. An empty list needs Mandatory to
    // fail.
    if (hasFlag(rule, "List")) {
        QStringList items;
        for (int number = 1; number <= sysListNumEntries(rule, comma); ++number) {
            const QString item = sysListEntry(number, rule, comma);
            if (item.compare(QLatin1String("List"), Qt::CaseInsensitive) != 0)
                items << item;
        }
        const QString entryRule = items.join(comma);
        static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
        const QStringList entries = fieldText.split(separators, Qt::SkipEmptyParts);
        if (entries.isEmpty())
            return mandatory ? checkRule(entryRule, QString(), locale, now) : std::nullopt;
        for (const QString &entry : entries) {
            if (auto message = checkRule(entryRule, entry, locale, now))
                return message;
        }
        return std::nullopt;
    }
    const bool numeric = hasFlag(rule, "Num");
    const bool birthday = hasFlag(rule, "Birthday");
    const bool date = hasFlag(rule, "Date") || birthday;

    ValueClass valueClass = ValueClass::Text;
    Value lower;
    Value upper;
    if (date) {
        valueClass = ValueClass::Date;
        if (hasFlag(rule, "Date")) {
            lower = QDateTime(QDate(100, 1, 1), QTime(0, 0));
            upper = QDateTime(QDate(9999, 12, 31), QTime(0, 0));
        } else {
            lower = now.addYears(-129);
            upper = QDateTime(now.date(), QTime(0, 0));
        }
    } else if (numeric) {
        valueClass = ValueClass::Number;
        lower = -1e99;
        upper = 1e99;
    } else {
        lower = QString();
        upper = QString(255, QChar(255));
    }

    const QString trimmed = fieldText.trimmed();
    if (mandatory && trimmed.isEmpty())
        return name + QStringLiteral(" muß eingegeben werden.");
    if (date && !fieldText.isEmpty() && !readDate(fieldText, locale))
        return name + QStringLiteral(" muß ein gültiges Datum sein.");
    if (numeric && !trimmed.isEmpty() && !readsAsNumber(fieldText, locale))
        return name + QStringLiteral(" muß numerisch sein.");

    // A number field is read as every caller reads it before sending it
    // (an empty field counts as 0); the bounds come from the rule text.
    const Value value = valueClass == ValueClass::Number
                            ? Value(readNumber(fieldText).value_or(0.0))
                            : readValue(valueClass,
                                        valueClass == ValueClass::Text ? trimmed : fieldText,
                                        locale);

    const int itemCount = sysListNumEntries(rule, comma);
    bool hasValidList = false;
    bool passesList = false;
    bool hasRange = false;
    for (int number = 2; number <= itemCount; ++number) {
        const QString item = sysListEntry(number, rule, comma);
        if (!hasValidList && item.startsWith(QLatin1String("Valid="), Qt::CaseInsensitive)) {
            hasValidList = true;
            passesList = sysListLookUp(trimmed, item.mid(6), QStringLiteral(";")) > 0;
        } else if (item.startsWith(QLatin1String("Min="), Qt::CaseInsensitive)) {
            lower = readValue(valueClass, item.mid(4), locale);
            hasRange = true;
        } else if (item.startsWith(QLatin1String("Max="), Qt::CaseInsensitive)) {
            upper = readValue(valueClass, item.mid(4), locale);
            hasRange = true;
        }
    }

    const auto belowLower = compareValues(value, lower, locale);
    const auto aboveUpper = compareValues(value, upper, locale);
    const bool outOfRange = (belowLower && *belowLower < 0) || (aboveUpper && *aboveUpper > 0);
    const bool fails = hasValidList ? (!passesList && (!hasRange || outOfRange))
                                    : (hasRange && outOfRange);
    if (fails) {
        return name + QStringLiteral(" ist nicht im gültigen Bereich (") + displayValue(lower, locale)
               + QStringLiteral(" bis ") + displayValue(upper, locale) + QStringLiteral(") .");
    }
    return std::nullopt;
}

QString numberRangeRule(const QString &name, int min, int max)
{
    return name + QStringLiteral(",NUM,MIN=") + QString::number(min) + QStringLiteral(",MAX=")
           + QString::number(max);
}
