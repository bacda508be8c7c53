#include "link/exchange.h"

#include "common/errors.h"
#include "common/program.h"
#include "link/clock.h"
#include "link/controllerline.h"
#include "link/linklog.h"
#include "link/port.h"
#include "link/portsession.h"

#include <cmath>

namespace {

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace

QString accessErrorText(const QString &portName, const PortAccessError &failure)
{
    return QStringLiteral("Fehler beim Zugriff auf ") + portName + CrLf + CrLf
           + QStringLiteral("Bitte überprüfen Sie den eingestellten COM-Port.") + CrLf + CrLf
           + QStringLiteral("(Fehler ") + QString::number(failure.error.number)
           + QStringLiteral(" - ") + portErrorDescription(failure.error, failure.device)
           + QStringLiteral(")");
}

QString noReplyText(quint8 controller)
{
    if (controller == 255)
        return QStringLiteral("Kommunikation zu den TALVIRO Controllern unterbrochen");
    return QStringLiteral("Controller ") + QString::number(controller)
           + QStringLiteral(" antwortet nicht.");
}

ExchangeFailure attemptExchange(ControllerPort &port, const CommandBuffer &request,
                                qint16 timeoutSeconds, CommandBuffer &received,
                                PortError *writeError)
{
    // Whatever waits from an earlier exchange, a late reply above all, must
    // never be taken for the answer to this request.
    port.discardInput();
    port.discardOutput();

    const QByteArray frame = Frame::encode(request);
    qCDebug(kzLink).noquote() << "send" << hex(frame);
    if (!port.isOpen() || !port.write(frame)) {
        // A port that closed on a lost device still tells why.
        PortError error = port.lastError();
        if (error.number == PortErrorNumber::None)
            error = portNotOpenError();
        if (writeError)
            *writeError = error;
        // Nothing written, nothing to wait for.
        return ExchangeFailure::PortError;
    }

    const Clock &time = programClock();
    const qint64 start = time.nowMs();
    const qint64 deadline = start + qint64(timeoutSeconds) * 1000;

    // At 115200 baud six bytes leave in about half a millisecond; the drain
    // wait shares the reply's time-out so that a stuck line cannot hang us.
    while (port.isOpen() && port.bytesToWrite() > 0) {
        const qint64 remaining = deadline - time.nowMs();
        if (remaining <= 0 || !port.waitForBytesWritten(int(time.portWaitMs(remaining))))
            break;
    }

    // A wait that ends without new bytes has either used up the time or
    // found the device gone; either way the attempt is over.
    while (port.isOpen() && port.bytesAvailable() < Frame::Size) {
        const qint64 remaining = deadline - time.nowMs();
        if (remaining <= 0 || !port.waitForReadyRead(int(time.portWaitMs(remaining))))
            break;
    }

    if (!port.isOpen() || port.bytesAvailable() < 1) {
        qCDebug(kzLink) << "no reply";
        return ExchangeFailure::NoReply;
    }
    const QByteArray reply = port.readAll();
    qCDebug(kzLink).noquote() << "recv" << hex(reply);
    if (reply.size() < Frame::Size)
        return ExchangeFailure::NoReply;
    // Bytes beyond the first six belong to no request of ours.
    received = Frame::decode(reply);
    if (Frame::isValidReply(reply.first(Frame::Size)))
        return ExchangeFailure::None;
    return received.command == Frame::RefusalCommand
                   && Frame::checksum(received) == quint8(reply.at(Frame::Size - 1))
               ? ExchangeFailure::Refused
               : ExchangeFailure::NoReply;
}

bool ExchangeFrame(ControllerPort &port, CommandBuffer &buffer, qint16 timeoutSeconds)
{
    const CommandBuffer request = buffer;
    return attemptExchange(port, request, timeoutSeconds, buffer) == ExchangeFailure::None;
}

ExchangeResult RunExchange(const CommandBuffer &request, const ExchangePolicy &policy)
{
    LineRequest line;
    line.frame = request;
    line.policy = policy;
    return controllerLine().exchange(line);
}

void WaitSeconds(float seconds)
{
    if (!(seconds > 0))
        return;
    Clock &time = programClock();
    const qint64 end = time.nowMs() + qint64(std::ceil(double(seconds) * 1000.0));
    for (qint64 now = time.nowMs(); now < end; now = time.nowMs())
        time.waitProcessingEvents(end - now);
}
