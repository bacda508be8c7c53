#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

// The five bytes a window hands to SendCommand. P1 to P3 are named in the
// callers' order; only the frame layer puts them into wire order.
struct CommandBuffer
{
    quint8 controller = 0;
    quint8 command = 0;
    quint8 p1 = 0;
    quint8 p2 = 0;
    quint8 p3 = 0;

    friend bool operator==(const CommandBuffer &, const CommandBuffer &) = default;
};

// A frame on the wire is six raw bytes: controller, command, P2, P3, P1 and
// the exclusive or of those five. Requests and replies share the layout; there
// is no start mark, so every byte value may occur anywhere.
namespace Frame {

constexpr int Size = 6;
// A reply command byte of 255 is the controller's refusal.
constexpr quint8 RefusalCommand = 255;

quint8 checksum(const CommandBuffer &buffer);
QByteArray encode(const CommandBuffer &buffer);

// Reads the first six bytes of bytes (which must hold at least six) into a
// buffer, without judging them.
CommandBuffer decode(QByteArrayView bytes);

// True when the six bytes carry a correct checksum and are no refusal.
bool isValidReply(QByteArrayView bytes);

} // namespace Frame
