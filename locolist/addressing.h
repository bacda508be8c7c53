#pragma once

#include "link/commands.h"
#include "link/frame.h"

#include <QList>
#include <QString>

#include <optional>

// A decoder's loco number lives in its configuration variables: a short
// address (1 to 127) in CV 1, a long one (128 up to the highest loco number)
// in CV 17 and CV 18; bit 5 of CV 29 says which of the two the decoder uses, bit 1 of CV 29
// selects 28/126 speed steps instead of 14.
namespace Addressing {

constexpr int AddressCv = 1;
constexpr int LongAddressHighCv = 17;
constexpr int LongAddressLowCv = 18;
constexpr int ConfigurationCv = 29;
constexpr int LongAddressBit = 5;
constexpr int SpeedStepBit = 1;
constexpr int MaxShortAddress = 127;
// CV 17 of a long address carries the two top bits set.
constexpr int LongAddressMark = 192;

constexpr bool isShortAddress(int number) { return number <= MaxShortAddress; }
constexpr quint8 longAddressHigh(int number) { return quint8(LongAddressMark + number / 256); }
constexpr quint8 longAddressLow(int number) { return quint8(number % 256); }

// The long address CV 17 and CV 18 hold; nothing when CV 17 lacks the mark of
// a long address (below 192).
std::optional<int> decodeLongAddress(int cv17, int cv18);

// The writes that give a decoder the loco number, in order (controller byte
// 0): CV 29 bit 5, then CV 1 for a short address or CV 17 and CV 18 for a
// long one.
QList<CommandBuffer> addressWrites(int number);

// The four checks of CV 29 that tell how a decoder is set up, numbered as the
// recognition uses them.
enum Check {
    ShortAddressCheck = 1, // bit 5 is 0
    LongAddressCheck = 2,  // bit 5 is 1
    FourteenStepsCheck = 3, // bit 1 is 0
    ManyStepsCheck = 4,     // bit 1 is 1
};
// The check's frame (command 34 on CV 29, controller byte 0).
CommandBuffer checkFrame(int check);

// "  (14 FS)" when only the 14-step check was confirmed, "  (28/126 FS)" when
// only the other one was, else nothing.
QString speedStepSuffix(bool fourteenConfirmed, bool manyStepsConfirmed);

} // namespace Addressing
