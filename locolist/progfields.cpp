#include "locolist/progfields.h"

#include "common/rules.h"
#include "link/commands.h"

#include <cmath>
#include <optional>

namespace ProgFields {

namespace {

const QString CvAddressRule = QStringLiteral("Die CV-Adresse,Mandatory,MIN=1,MAX=1023,NUM");
} // namespace

TypeSetup typeSetup(ProgType type)
{
    switch (type) {
    case ProgType::FullCV:
        return {QStringLiteral("CV"), CvAddressRule, false, QString(),
                QStringLiteral("Der CV-Wert,Mandatory,MIN=0,MAX=255,NUM"), true};
    case ProgType::CVBit:
        return {QStringLiteral("CV"), CvAddressRule, true,
                QStringLiteral("Die Bitposition,Mandatory,MIN=0,MAX=7,NUM"),
                QStringLiteral("Der Bit-Wert,Mandatory,MIN=0,MAX=1,NUM"), false};
    case ProgType::Register:
        break;
    }
    return {QStringLiteral("Register"),
            QStringLiteral("Die Register-Adresse,Mandatory,MIN=1,MAX=8,NUM"), false, QString(),
            QStringLiteral("Der Register-Wert,Mandatory,MIN=0,MAX=255,NUM"), true};
}

CommandBuffer singleFrame(Operation operation, ProgType type, int address, int bit, int value)
{
    const bool write = operation == Operation::Write;
    switch (type) {
    case ProgType::FullCV:
        return {0, write ? Command::WriteCV : Command::VerifyCV, quint8(value), lowByte(address),
                highByte(address)};
    case ProgType::CVBit:
        return {0, write ? Command::WriteCVBit : Command::VerifyCVBit, bitByte(bit, value),
                lowByte(address), highByte(address)};
    case ProgType::Register:
        break;
    }
    return {0, write ? Command::WriteRegister : Command::VerifyRegister, quint8(value),
            quint8(address), 0};
}

QString writeQuestion(ProgType type, const QString &address, const QString &bit,
                      const QString &value)
{
    switch (type) {
    case ProgType::FullCV:
        return QStringLiteral("Möchten Sie die CV ") + address + QStringLiteral(" auf den Wert ")
               + value + QStringLiteral(" setzen ?");
    case ProgType::CVBit:
        return QStringLiteral("Möchten Sie die CV ") + address + QStringLiteral(" Bitposition ")
               + bit + QStringLiteral(" auf den Wert ") + value + QStringLiteral(" setzen ?");
    case ProgType::Register:
        break;
    }
    return QStringLiteral("Möchten Sie das Register ") + address + QStringLiteral(" auf den Wert ")
           + value + QStringLiteral(" setzen ?");
}

int wholeNumber(const QString &text)
{
    return readWholeNumber(text).value_or(0);
}

bool isBitValue(const QString &text, const QLocale &locale)
{
    Q_UNUSED(locale);
    const auto value = readNumber(text);
    return value && (*value == 0.0 || *value == 1.0);
}

QString spinStep(const QString &text, bool up, const QLocale &locale, int maxLength)
{
    Q_UNUSED(locale);
    double number = std::abs(std::floor(readNumber(text).value_or(0)));
    const QString tidy = QString::number(number, 'f', 0);
    if (up) {
        if (number < 1024)
            number += 1;
    } else if (number > 0) {
        number -= 1;
    }
    const QString stepped = QString::number(number, 'f', 0);
    return maxLength > 0 && stepped.size() > maxLength ? tidy : stepped;
}

QString elapsedMsText(qint64 ms)
{
    return QString::number(qMax<qint64>(0, ms)) + QStringLiteral(" ms");
}

QString searchElapsedText(qint64 ms, const QLocale &locale)
{
    if (ms <= 9999)
        return elapsedMsText(ms);
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    return plain.toString(double(ms) / 1000.0, 'f', 2) + QStringLiteral("sek.");
}

} // namespace ProgFields
