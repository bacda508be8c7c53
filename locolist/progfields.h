#pragma once

#include "link/frame.h"

#include <QLocale>
#include <QString>

// What the programming tab's three fields mean for each programming type,
// the frames built from them, and the texts shown around the operations.
namespace ProgFields {

enum class ProgType { FullCV = 0, CVBit = 1, Register = 2 };
enum class Operation { Verify = 0, Write = 1, Search = 2 };

struct TypeSetup
{
    QString addressCaption; // "CV" or "Register"
    QString addressRule;
    bool bitShown = false;
    QString bitRule;        // empty: the bit field is not validated
    QString valueRule;
    bool searchOffered = true;
};
TypeSetup typeSetup(ProgType type);

// The frame of a single verify or write (controller byte 0). address is the
// CV number (1 to 1023) or the register number.
CommandBuffer singleFrame(Operation operation, ProgType type, int address, int bit, int value);

// The question before a write; the field texts are inserted as typed.
QString writeQuestion(ProgType type, const QString &address, const QString &bit,
                      const QString &value);

// The number of a field as it is sent: read as the rule check reads it
// (comma or point) and rounded, halves to even ("2.5" gives 2, "3,5" gives
// 4); 0 for a text that is no number. The fields have passed their rules
// before they are read.
int wholeNumber(const QString &text);

// Whether the text is the number 0 or 1 (kept when switching to bit values),
// read as the rule check reads it.
bool isBitValue(const QString &text, const QLocale &locale = QLocale());

// One step of a spin button: a text that is no number (read as the rule
// check reads it) becomes "0", the
// number is rounded down and made positive, then lowered (above 0) or raised
// (below 1024) by one. A step whose result would not fit a field of
// maxLength characters (0: no limit) only tidies the number.
QString spinStep(const QString &text, bool up, const QLocale &locale = QLocale(),
                 int maxLength = 0);

// Elapsed time of an operation: whole milliseconds and " ms".
QString elapsedMsText(qint64 ms);
// Elapsed time of a search: the " ms" form up to 9999 ms, beyond that the
// seconds with two decimals in the locale's format followed by "sek.".
QString searchElapsedText(qint64 ms, const QLocale &locale = QLocale());

} // namespace ProgFields
