#pragma once

#include "link/clock.h"
#include "link/port.h"

#include <QList>

// A port whose replies a test or a fuzzer scripts exactly: for every request
// written, the next response's pieces arrive at the given offsets on the
// program clock (a ManualClock), in the order of their arrival times.
class ScriptedPort final : public ControllerPort
{
public:
    struct Piece
    {
        qint64 afterMs;
        QByteArray bytes;
    };
    using Response = QList<Piece>;

    QList<Response> responses;   // one per write, taken in order
    QList<QByteArray> writes;    // every frame written
    QByteArray arrived;          // every byte that arrived, in order
    bool openResult = true;
    PortError openFailure;
    bool failWrites = false;
    bool opened = false;
    QString openedPath;
    int openCount = 0;

    bool open(const QString &devicePath) override
    {
        ++openCount;
        openedPath = devicePath;
        opened = openResult;
        m_error = openResult ? PortError{} : openFailure;
        return opened;
    }
    void close() override { opened = false; }
    bool isOpen() const override { return opened; }
    QString devicePath() const override { return openedPath; }
    PortError lastError() const override { return m_error; }

    void discardInput() override
    {
        deliverDue();
        m_input.clear();
    }
    void discardOutput() override {}
    bool write(const QByteArray &bytes) override
    {
        if (failWrites) {
            m_error = {PortErrorNumber::WriteFailed, QStringLiteral("Schreibfehler")};
            return false;
        }
        writes.append(bytes);
        const qint64 now = programClock().nowMs();
        if (!responses.isEmpty()) {
            for (const Piece &piece : responses.takeFirst())
                schedule({now + piece.afterMs, piece.bytes});
        }
        return true;
    }
    qint64 bytesToWrite() const override { return 0; }
    bool waitForBytesWritten(int) override { return true; }
    qint64 bytesAvailable() const override
    {
        const_cast<ScriptedPort *>(this)->deliverDue();
        return m_input.size();
    }
    // Like a serial line: waits until bytes arrive or the time is up; a piece
    // without bytes wakes nobody.
    bool waitForReadyRead(int ms) override
    {
        auto &clock = static_cast<ManualClock &>(programClock());
        const qint64 limit = clock.nowMs() + qMax(0, ms);
        while (!m_pending.isEmpty() && m_pending.first().afterMs <= limit) {
            clock.advanceTo(m_pending.first().afterMs);
            if (deliverDue())
                return true;
        }
        clock.advanceTo(limit);
        return false;
    }
    QByteArray readAll() override
    {
        deliverDue();
        return std::exchange(m_input, QByteArray());
    }

private:
    // Pending pieces stay ordered by due time (afterMs holds the absolute
    // time once scheduled); pieces due at the same time keep their order.
    void schedule(const Piece &piece)
    {
        qsizetype i = m_pending.size();
        while (i > 0 && m_pending[i - 1].afterMs > piece.afterMs)
            --i;
        m_pending.insert(i, piece);
    }

    // Moves the pieces whose time has come to the input; whether any bytes
    // came.
    bool deliverDue()
    {
        const qint64 now = programClock().nowMs();
        bool any = false;
        while (!m_pending.isEmpty() && m_pending.first().afterMs <= now) {
            const Piece piece = m_pending.takeFirst();
            m_input += piece.bytes;
            arrived += piece.bytes;
            any = any || !piece.bytes.isEmpty();
        }
        return any;
    }

    QList<Piece> m_pending;
    QByteArray m_input;
    PortError m_error;
};
