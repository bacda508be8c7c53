#pragma once

#include <QByteArrayList>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

// A phone that speaks only the protocol: lines in, lines out, while the
// event loop runs.
class PhoneClient
{
public:
    explicit PhoneClient(quint16 port) { m_socket.connectToHost(QHostAddress::LocalHost, port); }

    QTcpSocket &socket() { return m_socket; }
    void send(const QByteArray &lines) { m_socket.write(lines); }

    // Waits (processing events, at most 5 s) until count lines came; fewer
    // lines come back when they did not.
    QByteArrayList lines(int count)
    {
        if (!QTest::qWaitFor([&] { return countLines() >= count; }, 5000))
            count = countLines();
        QByteArrayList out;
        for (int i = 0; i < count; ++i) {
            const qsizetype end = m_buffer.indexOf('\n');
            out << m_buffer.left(end);
            m_buffer.remove(0, end + 1);
        }
        return out;
    }
    // What came and was not taken yet, without waiting.
    QByteArray unread()
    {
        countLines();
        return m_buffer;
    }
    // The last of count lines.
    QByteArray last(int count) { return lines(count).value(count - 1); }

private:
    int countLines()
    {
        m_buffer += m_socket.readAll();
        return int(m_buffer.count('\n'));
    }

    QTcpSocket m_socket;
    QByteArray m_buffer;
};
