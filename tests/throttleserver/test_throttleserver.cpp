#include "throttlehostrecorder.h"

#include "link/clock.h"
#include "throttleserver/throttleserver.h"

#include "../support/phoneclient.h"
#include "../support/testmain.h"

#include <QRegularExpression>

#include <algorithm>
#include <memory>

// The server over a real TCP connection on 127.0.0.1: bytes reach the
// session, lines reach the client, connections end as they should.
class TestThrottleServer : public QObject
{
    Q_OBJECT

    ThrottleHostRecorder m_host;
    ManualClock m_clock;

private Q_SLOTS:
    void drivesOverTcp()
    {
        ThrottleServer server(m_host, m_clock);
        server.setRoster({3});
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));

        PhoneClient phone(server.serverPort());
        QCOMPARE(phone.lines(4),
                 (QByteArrayList{"VN2.0", "RL1]\\[Lok 3}|{3}|{S", "PPA1", "*10"}));
        phone.send("NPixel\r\nM0+S3<;>S3\nM0A*<;>V63\n");
        QCOMPARE(phone.lines(1), QByteArrayList{"*10"});
        QCOMPARE(phone.lines(33).first(), QByteArray("M0+S3<;>"));
        QTRY_COMPARE(m_host.transcript, QStringList{"! speed 3 128"});
        QCOMPARE(server.clients().size(), 1);
        QCOMPARE(server.clients().first().name, QStringLiteral("Pixel"));
        QCOMPARE(server.clients().first().address, QStringLiteral("127.0.0.1"));
        QCOMPARE(server.clients().first().locos, QList<int>{3});

        // What the program changes reaches the phone.
        server.locoStateChanged(3, {128, false, 1});
        QCOMPARE(phone.lines(3),
                 (QByteArrayList{"M0AS3<;>F10", "M0AS3<;>V63", "M0AS3<;>R0"}));

        // Heartbeat silence, on the server's clock.
        // (the query's answer shows that the server has read the line before)
        phone.send("*+\nM0A*<;>qV\n");
        QCOMPARE(phone.lines(1), QByteArrayList{"M0AS3<;>V63"});
        m_clock.advance(15'001);
        server.checkHeartbeats();
        QCOMPARE(m_host.transcript.last(), QStringLiteral("! stop 3"));

        // The connection drops without Q: the loco is stopped.
        m_host.transcript.clear();
        phone.socket().abort();
        QTRY_COMPARE(server.clientCount(), 0);
        QCOMPARE(m_host.transcript,
                 (QStringList{"! stop 3", "! closed: connection lost"}));
    }

    void quitLeavesTheLocosAndCloses()
    {
        m_host.transcript.clear();
        ThrottleServer server(m_host, m_clock);
        server.setRoster({3});
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        PhoneClient phone(server.serverPort());
        phone.lines(4);
        phone.send("M0+S3<;>S3\nQ\n");
        QTRY_COMPARE(phone.socket().state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(server.clientCount(), 0);
        QCOMPARE(m_host.transcript, (QStringList{"! quit", "! closed: quit"}));
    }

    void closesTheNinthClientAndAnAbuser()
    {
        m_host.transcript.clear();
        ThrottleServer server(m_host, m_clock);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        std::vector<std::unique_ptr<PhoneClient>> phones;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused a client beyond 8"));
        for (int i = 0; i < ThrottleServer::MaxClients + 1; ++i)
            phones.push_back(std::make_unique<PhoneClient>(server.serverPort()));
        // Which of the nine comes last is the network's business.
        auto closedPhones = [&] {
            return std::count_if(phones.begin(), phones.end(), [](const auto &phone) {
                return phone->socket().state() == QAbstractSocket::UnconnectedState;
            });
        };
        QTRY_COMPARE(closedPhones(), 1);
        QCOMPARE(server.clientCount(), ThrottleServer::MaxClients);
        std::erase_if(phones, [](const auto &phone) {
            return phone->socket().state() == QAbstractSocket::UnconnectedState;
        });
        for (const auto &phone : phones)
            QCOMPARE(phone->lines(4).first(), QByteArray("VN2.0"));

        // A line past 1 KiB ends that client only.
        phones[0]->send(QByteArray(1025, 'A'));
        QTRY_COMPARE(phones[0]->socket().state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(server.clientCount(), ThrottleServer::MaxClients - 1);
        QCOMPARE(m_host.transcript, QStringList{"! closed: line too long"});
        phones[1]->send("NStill here\n");
        QCOMPARE(phones[1]->lines(1), QByteArrayList{"*10"});
    }

    void aPortInUseIsRefused()
    {
        ThrottleServer first(m_host, m_clock);
        QVERIFY(first.listen(QHostAddress::LocalHost, 0));
        ThrottleServer second(m_host, m_clock);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot listen on port"));
        QVERIFY(!second.listen(QHostAddress::LocalHost, first.serverPort()));
        QCOMPARE(second.serverError(), QAbstractSocket::AddressInUseError);
        QVERIFY(!second.isListening());
    }
};

KZ_TEST_MAIN(TestThrottleServer)
#include "test_throttleserver.moc"
