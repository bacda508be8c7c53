#pragma once

#include "link/clock.h"
#include "link/port.h"

#include <QList>

// A port whose replies a test scripts exactly: for every request written,
// the next response's pieces arrive at the given offsets on the program
// clock (a ManualClock).
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
                m_pending.append({now + piece.afterMs, piece.bytes});
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
    bool waitForReadyRead(int ms) override
    {
        auto &clock = static_cast<ManualClock &>(programClock());
        const qint64 limit = clock.nowMs() + ms;
        qint64 next = -1;
        for (const Piece &piece : m_pending) {
            if (piece.afterMs <= limit && (next < 0 || piece.afterMs < next))
                next = piece.afterMs;
        }
        if (next < 0) {
            clock.advanceTo(limit);
            return false;
        }
        clock.advanceTo(next);
        deliverDue();
        return true;
    }
    QByteArray readAll() override
    {
        deliverDue();
        return std::exchange(m_input, QByteArray());
    }

private:
    // Pieces whose time has come move to the input buffer (afterMs holds the
    // absolute due time once scheduled).
    void deliverDue()
    {
        const qint64 now = programClock().nowMs();
        for (qsizetype i = 0; i < m_pending.size();) {
            if (m_pending[i].afterMs <= now) {
                m_input.append(m_pending[i].bytes);
                m_pending.removeAt(i);
            } else {
                ++i;
            }
        }
    }

    QList<Piece> m_pending;
    QByteArray m_input;
    PortError m_error;
};
