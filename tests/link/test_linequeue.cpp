#include "link/linequeue.h"

#include "../support/testmain.h"

#include <algorithm>

namespace {

// "S3/1" a speed for loco 3 from client 1 (client 0: the windows), "D" a
// direction, "F" a function, "X" a stop, "XA" a stop of all, "E" a window's
// exchange; "*n" pushes it n times.
LineRequest requestOf(const QString &word)
{
    const QStringList parts = word.split(QLatin1Char('/'));
    const QString what = parts.value(0);
    LineRequest request;
    request.client = parts.value(1).toULongLong();
    request.frame.controller = 1;
    if (what == QLatin1String("XA")) {
        request.kind = LineKind::StopAll;
        return request;
    }
    request.loco = what.mid(1).toInt();
    switch (what.at(0).toLatin1()) {
    case 'S': request.kind = LineKind::Speed; break;
    case 'D': request.kind = LineKind::Direction; break;
    case 'F': request.kind = LineKind::Function; break;
    case 'X': request.kind = LineKind::Stop; break;
    default: request.kind = LineKind::Exchange; break;
    }
    return request;
}

// "4 2 3", "1-64 70": ticket numbers.
QList<quint64> ticketsOf(const QStringList &words)
{
    QList<quint64> tickets;
    for (const QString &word : words) {
        const QStringList range = word.split(QLatin1Char('-'));
        for (quint64 t = range.first().toULongLong(); t <= range.last().toULongLong(); ++t)
            tickets.append(t);
    }
    return tickets;
}

} // namespace

// The order of the line as a table of scripts. Tickets count from 1 in the
// order of the pushes. "push …" pushes; "take …" takes until nothing may go
// and expects exactly these tickets; "dropped …" / "refused …" the tickets
// dropped as superseded / refused since the last look; "at ms" moves the
// time; "hold", "release" the programming track; "gone n" client n left.
class TestLineQueue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void order_data()
    {
        QTest::addColumn<QStringList>("script");

        QTest::newRow("a stop goes first and drops its loco's waiting speed")
            << QStringList{"push S3/1 F3/1 S4/1 X3/2", "take 4 2 3", "dropped 1"};
        QTest::newRow("a stop of all drops every speed and direction, not functions")
            << QStringList{"push S3/1 D4/2 F4/2 S5/0 XA/0", "take 5 3", "dropped 1 2 4"};
        QTest::newRow("stops keep their order, the same stop waits once")
            << QStringList{"push X3/1 X4/2 X3/2", "take 3 2", "dropped 1"};
        QTest::newRow("a newer speed replaces the waiting one in its place")
            << QStringList{"push S3/1 F3/1 S3/1", "take 3 2", "dropped 1"};
        QTest::newRow("speed and direction are replaced each by its own kind")
            << QStringList{"push D3/1 S3/1 D3/1 S4/1", "take 3 2 4", "dropped 1"};
        QTest::newRow("functions and accessories keep their order")
            << QStringList{"push F3/1 F3/1 F3/1", "take 1 2 3", "dropped"};
        QTest::newRow("another client's newer speed replaces the waiting one")
            << QStringList{"push S3/1 S3/2", "take 2", "dropped 1"};
        QTest::newRow("the windows go before the clients")
            << QStringList{"push S3/1 E/0 S4/0", "take 2 3 1"};
        QTest::newRow("clients take turns")
            << QStringList{"push S3/1 S4/1 S5/1 S6/2 S7/2", "take 1 4 2 5 3"};
        QTest::newRow("a client over its budget waits, merged per loco")
            << QStringList{"push F3/1*64 S3/1 S3/1 F4/2", "take 1 67 2-64", "dropped 65",
                           "at 5", "take", "at 10", "take 66"};
        QTest::newRow("the budget refills at its rate, up to the burst")
            << QStringList{"push F3/1*64", "take 1-64", "at 100000", "push F3/1*70",
                           "take 65-128", "at 100050", "take 129-133"};
        QTest::newRow("a client with too much waiting is refused what cannot merge")
            << QStringList{"push F3/1*130", "refused 129 130", "push S3/1 S3/1",
                           "refused 131 132", "dropped"};
        QTest::newRow("the programming track holds the clients, not stops or windows")
            << QStringList{"hold", "push S3/1 X4/1 E/0", "take 2 3", "release", "take 1"};
        QTest::newRow("a gone client's frames are dropped, its stops go")
            << QStringList{"push S3/1 F3/1 S4/2 X3/1", "dropped 1", "gone 1", "dropped 2",
                           "take 4 3"};
    }
    void order()
    {
        QFETCH(QStringList, script);
        LineQueue queue;
        qint64 now = 0;
        quint64 ticket = 0;
        QList<quint64> dropped;
        QList<quint64> refused;
        for (const QString &step : std::as_const(script)) {
            QStringList words = step.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            const QString verb = words.takeFirst();
            if (verb == QLatin1String("push")) {
                for (const QString &word : std::as_const(words)) {
                    const QStringList repeat = word.split(QLatin1Char('*'));
                    for (int n = 0; n < repeat.value(1, QStringLiteral("1")).toInt(); ++n) {
                        for (const LineQueue::Dropped &gone :
                             queue.push(++ticket, requestOf(repeat.first()), now))
                            (gone.why == ExchangeFailure::QueueFull ? refused : dropped)
                                .append(gone.ticket);
                    }
                }
            } else if (verb == QLatin1String("take")) {
                QList<quint64> taken;
                while (const auto entry = queue.takeNext(now))
                    taken.append(entry->ticket);
                QCOMPARE(taken, ticketsOf(words));
            } else if (verb == QLatin1String("dropped")) {
                QList<quint64> got = std::exchange(dropped, {});
                std::sort(got.begin(), got.end());
                QCOMPARE(got, ticketsOf(words));
            } else if (verb == QLatin1String("refused")) {
                QCOMPARE(std::exchange(refused, {}), ticketsOf(words));
            } else if (verb == QLatin1String("at")) {
                now = words.first().toLongLong();
            } else if (verb == QLatin1String("hold") || verb == QLatin1String("release")) {
                queue.setClientsHeld(verb == QLatin1String("hold"));
            } else if (verb == QLatin1String("gone")) {
                dropped += queue.dropClient(words.first().toULongLong());
            } else {
                QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
            }
        }
    }
};

KZ_TEST_MAIN(TestLineQueue)
#include "test_linequeue.moc"
