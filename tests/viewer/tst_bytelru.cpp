// The byte-bounded store behind the page cache and the file list's pictures
// in memory: budget, eviction order, replacing, oversize entries, byte counts.
#include "base/ByteLru.h"

#include <QtTest>

using Lru = sheafline::ByteLru<QString, int>;

class TestByteLru : public QObject
{
    Q_OBJECT
private slots:
    // Steps: "a:40" puts a in with 40 bytes, "!a:40" the same only if it fits
    // without evicting, "?a" finds a, "=a" peeks at it, "-a" removes it.
    void steps_data()
    {
        QTest::addColumn<int>("budget");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("keys"); // most recent first
        QTest::addColumn<int>("used");
        QTest::addColumn<QString>("refused"); // keys whose insertion was refused
        QTest::newRow("within the budget all stay") << 100 << "a:30 b:30 c:30" << "c b a" << 90 << "";
        QTest::newRow("the least recent goes first") << 100 << "a:40 b:40 c:40" << "c b" << 80 << "";
        QTest::newRow("as many go as needed") << 100 << "a:30 b:30 c:30 d:80" << "d" << 80 << "";
        QTest::newRow("a look-up makes an entry recent") << 100 << "a:40 b:40 ?a c:40" << "c a" << 80 << "";
        QTest::newRow("a peek leaves the order") << 100 << "a:40 b:40 =a c:40" << "c b" << 80 << "";
        QTest::newRow("re-insert replaces and counts once") << 100 << "a:40 b:40 a:50" << "a b" << 90 << "";
        QTest::newRow("re-insert larger evicts the others") << 100 << "a:40 b:40 a:70" << "a" << 70 << "";
        QTest::newRow("exactly the budget fits") << 100 << "a:40 b:100" << "b" << 100 << "";
        QTest::newRow("oversize is not kept, the old entry goes") << 100 << "a:40 b:20 a:101" << "b" << 20 << "a";
        QTest::newRow("only-if-free refuses rather than evict") << 100 << "a:40 b:40 !c:40" << "b a" << 80 << "c";
        QTest::newRow("only-if-free takes what fits") << 100 << "a:40 !c:60" << "c a" << 100 << "";
        QTest::newRow("removing gives the bytes back") << 100 << "a:40 b:40 -a c:40" << "c b" << 80 << "";
        QTest::newRow("a zero budget keeps nothing") << 0 << "a:1" << "" << 0 << "a";
        QTest::newRow("a negative budget is zero") << -5 << "a:1" << "" << 0 << "a";
    }
    void steps()
    {
        QFETCH(int, budget);
        QFETCH(QString, steps);
        QFETCH(QString, keys);
        QFETCH(int, used);
        QFETCH(QString, refused);
        Lru lru(budget);
        QStringList refusals;
        int value = 0;
        for (const QString &step : steps.split(' ')) {
            const QChar op = step.at(0);
            if (op == '?' || op == '=' || op == '-') {
                const QString key = step.mid(1);
                if (op == '?')
                    QVERIFY(lru.find(key));
                else if (op == '=')
                    QVERIFY(lru.peek(key));
                else
                    QVERIFY(lru.remove(key));
                continue;
            }
            const bool onlyIfFree = op == '!';
            const QStringList parts = step.mid(onlyIfFree ? 1 : 0).split(':');
            const bool kept = lru.insert(parts.at(0), ++value, parts.at(1).toInt(),
                                         onlyIfFree ? Lru::Room::OnlyIfFree : Lru::Room::Evict);
            QCOMPARE(kept, lru.contains(parts.at(0)));
            if (!kept)
                refusals << parts.at(0);
        }
        QCOMPARE(QStringList(lru.keys().cbegin(), lru.keys().cend()).join(' '), keys);
        QCOMPARE(lru.usedBytes(), qint64(used));
        QCOMPARE(lru.count(), keys.isEmpty() ? 0 : int(keys.split(' ').size()));
        QCOMPARE(refusals.join(' '), refused);
        QVERIFY(lru.usedBytes() <= lru.budgetBytes());
    }

    void valuesAndClear()
    {
        Lru lru(100);
        lru.insert("a", 1, 10);
        lru.insert("b", 2, 10);
        lru.insert("a", 3, 10); // replaced
        QCOMPARE(*lru.find("a"), 3);
        QCOMPARE(*lru.peek("b"), 2);
        QVERIFY(!lru.find("c"));
        QVERIFY(!lru.remove("c"));
        QVERIFY(lru.anyKey([](const QString &k) { return k == "b"; }));
        QVERIFY(!lru.anyKey([](const QString &k) { return k == "c"; }));
        lru.clear();
        QCOMPARE(lru.count(), 0);
        QCOMPARE(lru.usedBytes(), 0);
        QVERIFY(!lru.find("a"));
        // Usable again after clearing.
        QVERIFY(lru.insert("a", 4, 100));
        QCOMPARE(lru.usedBytes(), 100);
    }
};

QTEST_MAIN(TestByteLru)
#include "tst_bytelru.moc"
