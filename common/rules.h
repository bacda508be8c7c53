#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>

// Separated lists: entries divided by a one-character separator, numbered
// from 1 and taken exactly as they stand. An empty list text holds one empty
// entry.
int sysListNumEntries(const QString &hElementList, const QString &hSeparator);
QString sysListEntry(int hElementNo, const QString &hElementList, const QString &hSeparator);
// Number of the first entry equal to hSearchElement without regard to case,
// or 0.
int sysListLookUp(const QString &hSearchElement, const QString &hElementList,
                  const QString &hSeparator);

// A rule text says what an input field must hold, for example
// "Die Decoder-ID,NUM,MIN=1,MAX=511": item 1 is the field's display name,
// the keywords Mandatory, Num, Date and Birthday are flags, and Min=, Max=
// and Valid= give bounds and allowed texts. With the flag List the field
// holds entries divided by commas, semicolons or blanks, each checked alone.
//
// Checks fieldText against rule and returns the message for the first check
// that fails, or nothing when the field passes. Numbers and dates are read
// in locale; now is the moment "Birthday" bounds count from.
std::optional<QString> checkRule(const QString &rule, const QString &fieldText,
                                 const QLocale &locale = QLocale(),
                                 const QDateTime &now = QDateTime::currentDateTime());

// The rule of a number field from min to max: "<name>,NUM,MIN=<min>,MAX=<max>".
QString numberRangeRule(const QString &name, int min, int max);

// The leading decimal number of text, read with "." as the decimal point;
// blanks are skipped and a text without digits gives 0. Used for the bounds
// of rule texts, which the program writes itself.
double leadingNumber(const QString &text);

// The one reading of a number the user typed, used by the rule check and by
// every caller that sends the value: blanks around it, an optional sign, and
// decimal digits with at most one decimal comma or point ("3,7" and "3.7"
// alike, in every locale). Anything else is no number: exponents, group
// separators, "nan", "inf", and digits too many for a finite double.
std::optional<double> readNumber(const QString &text);

// Rounds to the nearest whole number, halves to the even neighbour: 2.5
// gives 2, 3.5 gives 4, -2.5 gives -2.
double roundHalfEven(double value);

// The typed number rounded to a whole number, halves to even ("2.5" gives 2,
// "3,5" gives 4); nothing when the text is no number or does not fit an int.
std::optional<int> readWholeNumber(const QString &text);

// Whether text is a number by readNumber. The reading is the same in every
// locale, so that the check and the value sent never differ; the parameter
// stays for the callers that pass theirs.
bool readsAsNumber(const QString &text, const QLocale &locale = QLocale());
