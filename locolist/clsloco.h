#pragma once

#include <QString>
#include <QtGlobal>

// One entry of a controller's loco list. The field names and start values are
// those every part of the program uses for a loco entry.
class clsLoco
{
public:
    // "L" and the loco number in five digits, e.g. "L00003".
    QString Key = QStringLiteral("00000");
    // Loco number (decoder address), a number of the range Limits::isLocoNumber accepts.
    qint16 Number = 0;
    // 1 = 14 speed steps, 2 = 28, 3 = 126, 0 = undefined.
    qint32 SpeedStepMode = 1;
    // 1 = forward, 0 = backward.
    qint32 Direction = 1;

    static QString keyFor(int number);
    // The entry a list walk reply describes: flags in P1, number in P2/P3.
    static clsLoco fromFlags(int number, quint8 flags);

    friend bool operator==(const clsLoco &, const clsLoco &) = default;
};
