// The retrying exchange fed arbitrary reply bytes in arbitrary pieces at
// arbitrary times, on the scripted in-memory port of the exchange tests and a
// ManualClock.
//
// Input: one byte of options (attempts in bits 0-1, failure box in bit 2,
// time-out 0-3 s in bits 3-4, writes failing in bit 5), the five request
// bytes, then pieces: a header byte (bits 0-1: the attempt whose write the
// piece follows; bits 2-7: its delay in 100 ms steps), a length byte and the
// piece's bytes.
//
// What must hold whatever the controller sends:
// - a failed exchange leaves the caller's buffer exactly as it was;
// - a successful one holds a reply that came over the line, with its checksum
//   right and no refusal;
// - every frame written is the caller's request, one per attempt at most;
// - the failure box comes once, and only when asked for and nothing worked;
// - no attempt waits longer than its time-out.

#include "fuzzinput.h"

#include "common/program.h"
#include "link/clock.h"
#include "common/lineboxes.h"
#include "link/exchange.h"
#include "link/frame.h"
#include "link/port.h"
#include "link/portsession.h"
#include "tests/link/scriptedport.h"
#include "tests/support/recordingboxes.h"

#include <QCoreApplication>
#include <QList>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    setCurrentPortName(QStringLiteral("COM1"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    const quint8 options = in.byte();
    const int attemptsArgument = options & 0x03;
    const int attempts = attemptsArgument == 0 ? 3 : attemptsArgument;
    const bool showFailure = options & 0x04;
    const qint16 timeoutSeconds = (options >> 3) & 0x03;
    const bool failWrites = options & 0x20;

    CommandBuffer request;
    request.controller = in.byte();
    request.command = in.byte();
    request.p1 = in.byte();
    request.p2 = in.byte();
    request.p3 = in.byte();

    ScriptedPort port;
    port.opened = true;
    port.openedPath = QStringLiteral("/dev/fuzz");
    port.failWrites = failWrites;
    port.responses = QList<ScriptedPort::Response>(3);
    while (!in.atEnd()) {
        const quint8 header = in.byte();
        const int attempt = header & 0x03;
        const qint64 afterMs = qint64(header >> 2) * 100;
        const QByteArray bytes = in.bytes(in.byte());
        if (attempt < 3)
            port.responses[attempt].append({afterMs, bytes});
    }

    ManualClock clock;
    setProgramClock(&clock);
    setControllerPort(&port);
    RecordingMessageBoxes boxes;

    const qint64 start = clock.nowMs();
    CommandBuffer buffer = request;
    const bool result = SendCommand(buffer, qint16(attemptsArgument), showFailure, timeoutSeconds);
    const qint64 elapsed = clock.nowMs() - start;

    setControllerPort(nullptr);
    setProgramClock(nullptr);

    if (result) {
        FUZZ_CHECK(buffer.command != Frame::RefusalCommand);
        FUZZ_CHECK(port.arrived.contains(Frame::encode(buffer)));
    } else {
        FUZZ_CHECK(buffer == request);
        if (!failWrites)
            FUZZ_CHECK(port.writes.size() == attempts);
    }

    FUZZ_CHECK(port.writes.size() <= attempts);
    for (const QByteArray &frame : std::as_const(port.writes))
        FUZZ_CHECK(frame == Frame::encode(request));

    int failureBoxes = 0;
    int accessBoxes = 0;
    for (const MessageBoxRequest &box : boxes.boxes()) {
        if (box.buttons == BoxButtons::RetryCancel) {
            ++failureBoxes;
            FUZZ_CHECK(box.text == noReplyText(request.controller));
        } else {
            ++accessBoxes;
            FUZZ_CHECK(box.text.startsWith(QStringLiteral("Fehler beim Zugriff auf COM1")));
        }
    }
    FUZZ_CHECK(failureBoxes == (!result && showFailure ? 1 : 0));
    FUZZ_CHECK(accessBoxes == (failWrites ? attempts : 0));
    FUZZ_CHECK(elapsed <= qint64(attempts) * timeoutSeconds * 1000);
    return 0;
}
