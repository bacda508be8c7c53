#include "locolist/addressing.h"

namespace Addressing {

std::optional<int> decodeLongAddress(int cv17, int cv18)
{
    if (cv17 < LongAddressMark)
        return std::nullopt;
    return (cv17 - LongAddressMark) * 256 + cv18;
}

QList<CommandBuffer> addressWrites(int number)
{
    QList<CommandBuffer> writes;
    if (isShortAddress(number)) {
        writes << CommandBuffer{0, Command::WriteCVBit, bitByte(LongAddressBit, 0),
                                ConfigurationCv, 0};
        writes << CommandBuffer{0, Command::WriteCV, quint8(number), AddressCv, 0};
    } else {
        writes << CommandBuffer{0, Command::WriteCVBit, bitByte(LongAddressBit, 1),
                                ConfigurationCv, 0};
        writes << CommandBuffer{0, Command::WriteCV, longAddressHigh(number), LongAddressHighCv, 0};
        writes << CommandBuffer{0, Command::WriteCV, longAddressLow(number), LongAddressLowCv, 0};
    }
    return writes;
}

CommandBuffer checkFrame(int check)
{
    quint8 bits = 0;
    switch (check) {
    case ShortAddressCheck: bits = bitByte(LongAddressBit, 0); break;
    case LongAddressCheck: bits = bitByte(LongAddressBit, 1); break;
    case FourteenStepsCheck: bits = bitByte(SpeedStepBit, 0); break;
    default: bits = bitByte(SpeedStepBit, 1); break;
    }
    return CommandBuffer{0, Command::VerifyCVBit, bits, ConfigurationCv, 0};
}

QString speedStepSuffix(bool fourteenConfirmed, bool manyStepsConfirmed)
{
    if (fourteenConfirmed && !manyStepsConfirmed)
        return QStringLiteral("  (14 FS)");
    if (manyStepsConfirmed && !fourteenConfirmed)
        return QStringLiteral("  (28/126 FS)");
    return QString();
}

} // namespace Addressing
