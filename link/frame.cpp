#include "link/frame.h"

namespace Frame {

quint8 checksum(const CommandBuffer &buffer)
{
    return buffer.controller ^ buffer.command ^ buffer.p1 ^ buffer.p2 ^ buffer.p3;
}

QByteArray encode(const CommandBuffer &buffer)
{
    const char bytes[Size] = {
        char(buffer.controller), char(buffer.command), char(buffer.p2),
        char(buffer.p3),         char(buffer.p1),      char(checksum(buffer)),
    };
    return QByteArray(bytes, Size);
}

CommandBuffer decode(QByteArrayView bytes)
{
    Q_ASSERT(bytes.size() >= Size);
    CommandBuffer buffer;
    buffer.controller = quint8(bytes[0]);
    buffer.command = quint8(bytes[1]);
    buffer.p2 = quint8(bytes[2]);
    buffer.p3 = quint8(bytes[3]);
    buffer.p1 = quint8(bytes[4]);
    return buffer;
}

bool isValidReply(QByteArrayView bytes)
{
    if (bytes.size() < Size)
        return false;
    const CommandBuffer reply = decode(bytes);
    return quint8(bytes[5]) == checksum(reply) && reply.command != RefusalCommand;
}

} // namespace Frame
