#pragma once

#include "link/frame.h"
#include "simulator/stationcore.h"

#include <QMetaType>
#include <QtTest>

Q_DECLARE_METATYPE(CommandBuffer)
Q_DECLARE_METATYPE(LocoEntry)

// Frames in failure messages: "{controller, command, P1 .., P2 .., P3 ..}".
namespace QTest {
template<>
inline char *toString(const CommandBuffer &b)
{
    return qstrdup(QStringLiteral("{%1, %2, P1 %3, P2 %4, P3 %5}")
                       .arg(b.controller)
                       .arg(b.command)
                       .arg(b.p1)
                       .arg(b.p2)
                       .arg(b.p3)
                       .toLatin1()
                       .constData());
}
} // namespace QTest
