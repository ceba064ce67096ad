// The watcher's own logic over a scripted change layer: properties, what a
// registration asks for, the repeat test and restarts.
#include "watch/plFolderWatcher.h"

#include "ScriptedLayer.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <stdexcept>


namespace {

struct Report
{
    qint32 event;
    QString before;
    QString after;
};

} // namespace

Q_DECLARE_METATYPE(QList<int>)

class TestPlFolderWatcher : public QObject
{
    Q_OBJECT
private slots:
    void valuesAfterCreate()
    {
        auto *owner = new QObject;
        auto *w = new TplFolderWatcher(owner);
        QCOMPARE(w->AboutVCL(), QStringLiteral("Version 1.05"));
        QCOMPARE(w->Directory(), QString());
        QVERIFY(w->Recursive());
        QCOMPARE(w->Options().bits(), quint32(0x2301F));
        QCOMPARE(w->eventMask(), quint32(0x2301F));
        QVERIFY(!w->OnChange());
        QVERIFY(!w->isWatching());
        QPointer<TplFolderWatcher> guard(w);
        delete owner; // the owner frees it
        QVERIFY(guard.isNull());
    }

    void registrationFollowsProperties_data()
    {
        QTest::addColumn<QString>("directory");
        QTest::addColumn<bool>("recursive");
        QTest::addColumn<TplFolderEventOptions>("options");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<quint32>("sources");
        QTest::addColumn<quint32>("mask");
        const TplFolderEventOptions defaults{evt_RENAMEITEM, evt_CREATE, evt_DELETE, evt_MKDIR,
                                             evt_RMDIR, evt_UPDATEDIR, evt_UPDATEITEM, evt_RENAMEFOLDER};
        QTest::newRow("defaults, trailing delimiter") << "/data/docs/" << true << defaults << "/data/docs"
                                                      << quint32(0x1003) << quint32(0x2301F);
        QTest::newRow("not recursive") << "/data/docs" << false << defaults << "/data/docs" << quint32(0x0003)
                                       << quint32(0x2301F);
        QTest::newRow("all events") << "/data" << true << TplFolderEventOptions{evt_ALLEVENTS} << "/data"
                                    << quint32(0x1003) << quint32(0x7FFFFFFF);
        QTest::newRow("no events") << "/data" << true << TplFolderEventOptions{} << "/data" << quint32(0x1003)
                                   << quint32(0);
        QTest::newRow("root") << "/" << true << defaults << "/" << quint32(0x1003) << quint32(0x2301F);
        QTest::newRow("empty is the desktop") << "" << true << defaults << "/home/u/Desktop" << quint32(0x1003)
                                              << quint32(0x2301F);
    }
    void registrationFollowsProperties()
    {
        QFETCH(QString, directory);
        QFETCH(bool, recursive);
        QFETCH(TplFolderEventOptions, options);
        QFETCH(QString, folder);
        QFETCH(quint32, sources);
        QFETCH(quint32, mask);
        ScriptedLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDesktopFolder(QStringLiteral("/home/u/Desktop"));
        w.setDirectory(directory);
        w.setRecursive(recursive);
        w.setOptions(options);
        QVERIFY(w.StartWatch());
        QCOMPARE(layer.entries.size(), size_t(1));
        const auto &e = layer.only();
        QCOMPARE(e.folder, folder);
        QCOMPARE(e.recursive, recursive);
        QCOMPARE(e.sources, sources);
        QCOMPARE(quint32(w.sources()), sources);
        QCOMPARE(e.mask, mask);
        QCOMPARE(e.eventType, changeNotifyEventType());
    }

    void propertiesTakeEffectAtNextStart()
    {
        ScriptedLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(QStringLiteral("/one"));
        QVERIFY(w.StartWatch());
        w.setDirectory(QStringLiteral("/two"));
        w.setRecursive(false);
        w.setOptions({evt_CREATE});
        QCOMPARE(layer.registerCalls, 1);
        QCOMPARE(layer.only().folder, QStringLiteral("/one"));
        QVERIFY(layer.only().recursive);
        QVERIFY(w.StartWatch());
        QCOMPARE(layer.entries.size(), size_t(1)); // twice started, one registration
        QCOMPARE(layer.only().folder, QStringLiteral("/two"));
        QVERIFY(!layer.only().recursive);
        QCOMPARE(layer.only().mask, quint32(0x2));
    }

    void stopAndStartStates()
    {
        ScriptedLayer layer;
        auto *w = new TplFolderWatcher(nullptr, &layer);
        w->StopWatch(); // idle: harmless
        w->StopWatch();
        QCOMPARE(layer.deregisterCalls, 0);
        w->setDirectory(QStringLiteral("/x"));
        QVERIFY(w->StartWatch());
        QVERIFY(w->isWatching());
        w->StopWatch();
        QVERIFY(!w->isWatching());
        QVERIFY(layer.entries.empty());
        // A refused registration: false, and nothing is held.
        layer.refuse = true;
        QVERIFY(!w->StartWatch());
        QVERIFY(!w->isWatching());
        // Part of the tree left unwatched (watch limit): false, but it watches.
        layer.refuse = false;
        layer.partial = true;
        QVERIFY(!w->StartWatch());
        QVERIFY(w->isWatching());
        QCOMPARE(layer.entries.size(), size_t(1));
        // Destroying a watching watcher ends its registration.
        delete w;
        QVERIFY(layer.entries.empty());
    }

    void repeatTest_data()
    {
        // Each report: event code, first path, second path.  `delivered` lists
        // the indexes of the reports that reach OnChange.
        QTest::addColumn<QList<int>>("events");
        QTest::addColumn<QStringList>("befores");
        QTest::addColumn<QStringList>("afters");
        QTest::addColumn<QList<int>>("delivered");
        const QString a = "/r/a.pdf", b = "/r/b.pdf";
        QTest::newRow("identical twice: once") << QList<int>{2, 2} << QStringList{a, a} << QStringList{"", ""}
                                               << QList<int>{0};
        QTest::newRow("identical three times: once")
            << QList<int>{4, 4, 4} << QStringList{a, a, a} << QStringList{"", "", ""} << QList<int>{0};
        QTest::newRow("same event, other path") << QList<int>{2, 2} << QStringList{a, b} << QStringList{"", ""}
                                                << QList<int>{0, 1};
        QTest::newRow("other event, same path") << QList<int>{2, 0x2000} << QStringList{a, a}
                                                << QStringList{"", ""} << QList<int>{0, 1};
        QTest::newRow("same first, other second") << QList<int>{1, 1} << QStringList{a, a} << QStringList{b, "/r/c"}
                                                  << QList<int>{0, 1};
        QTest::newRow("folder update twice: twice")
            << QList<int>{0x1000, 0x1000} << QStringList{"/r", "/r"} << QStringList{"", ""} << QList<int>{0, 1};
        QTest::newRow("A B A: three times") << QList<int>{2, 4, 2} << QStringList{a, a, a}
                                            << QStringList{"", "", ""} << QList<int>{0, 1, 2};
        QTest::newRow("case differs: both") << QList<int>{2, 2} << QStringList{a, "/r/A.pdf"}
                                            << QStringList{"", ""} << QList<int>{0, 1};
        QTest::newRow("update between identical reports")
            << QList<int>{2, 0x1000, 2} << QStringList{a, "/r", a} << QStringList{"", "", ""}
            << QList<int>{0, 1, 2};
    }
    void repeatTest()
    {
        QFETCH(QList<int>, events);
        QFETCH(QStringList, befores);
        QFETCH(QStringList, afters);
        QFETCH(QList<int>, delivered);
        ScriptedLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(QStringLiteral("/r"));
        QList<Report> got;
        w.setOnChange([&](QObject *sender, qint32 e, QString bf, QString bn, QString af, QString an) {
            Q_UNUSED(bn);
            Q_UNUSED(an);
            QCOMPARE(sender, &w);
            got.append({e, bf, af});
        });
        QVERIFY(w.StartWatch());
        for (int i = 0; i < events.size(); ++i)
            layer.post(events[i], befores[i], afters[i]);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(got.size(), delivered.size());
        for (int i = 0; i < delivered.size(); ++i) {
            QCOMPARE(got[i].event, events[delivered[i]]);
            QCOMPARE(got[i].before, befores[delivered[i]]);
            QCOMPARE(got[i].after, afters[delivered[i]]);
        }
    }

    void itemsAndNames()
    {
        ScriptedLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(QStringLiteral("/r"));
        QSignalSpy spy(&w, &TplFolderWatcher::changed);
        QList<QStringList> handled;
        w.setOnChange([&](QObject *, qint32, QString bf, QString bn, QString af, QString an) {
            handled.append({bf, bn, af, an});
        });
        QVERIFY(w.StartWatch());
        layer.post(0x2, QStringLiteral("/r/one.pdf"));
        layer.post(0x1, QStringLiteral("/r/old.pdf"), QStringLiteral("/r/sub/new.pdf"));
        QTRY_COMPARE(spy.size(), 2);
        QCOMPARE(spy[0], (QVariantList{0x2, "/r/one.pdf", "one.pdf", "", ""}));
        QCOMPARE(spy[1], (QVariantList{0x1, "/r/old.pdf", "old.pdf", "/r/sub/new.pdf", "new.pdf"}));
        // The handler gets the same names as the signal.
        QCOMPARE(handled, (QList<QStringList>{{"/r/one.pdf", "one.pdf", "", ""},
                                              {"/r/old.pdf", "old.pdf", "/r/sub/new.pdf", "new.pdf"}}));
    }

    void throwingHandlerLeavesWatcherUsable()
    {
        ScriptedLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(QStringLiteral("/r"));
        bool fail = true;
        int calls = 0;
        w.setOnChange([&](QObject *, qint32, QString, QString, QString, QString) {
            ++calls;
            if (fail)
                throw std::runtime_error("handler failed");
        });
        QVERIFY(w.StartWatch());
        QPointer<QObject> receiver = layer.only().receiver;
        layer.post(0x2, QStringLiteral("/r/a.pdf"));
        bool thrown = false;
        try {
            QCoreApplication::sendPostedEvents();
        } catch (const std::runtime_error &) {
            thrown = true;
        }
        QVERIFY(thrown);
        QCOMPARE(calls, 1);
        // No report is being handled any more: stopping drops the receiver
        // at once instead of leaving it for later.
        w.StopWatch();
        QVERIFY(receiver.isNull());
        fail = false;
        QVERIFY(w.StartWatch());
        layer.post(0x4, QStringLiteral("/r/a.pdf"));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(calls, 2);
    }

    void memoryWithoutHandlerAndAcrossRestarts()
    {
        ScriptedLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(QStringLiteral("/r"));
        QSignalSpy spy(&w, &TplFolderWatcher::changed);
        QVERIFY(w.StartWatch());
        // No handler assigned: the report is still remembered.
        layer.post(0x2, QStringLiteral("/r/a"));
        QTRY_COMPARE(spy.size(), 1);
        w.StopWatch();
        w.setDirectory(QStringLiteral("/elsewhere"));
        QVERIFY(w.StartWatch());
        int calls = 0;
        w.setOnChange([&](QObject *, qint32, QString, QString, QString, QString) { ++calls; });
        layer.post(0x2, QStringLiteral("/r/a")); // the same report as before the restart
        layer.post(0x4, QStringLiteral("/r/a"));
        QTRY_COMPARE(spy.size(), 2);
        QCOMPARE(spy.last().at(0).toInt(), 0x4);
        QCOMPARE(calls, 1);
    }

    void reportsWhileStoppedAreLost()
    {
        ScriptedLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(QStringLiteral("/r"));
        QSignalSpy spy(&w, &TplFolderWatcher::changed);
        QVERIFY(w.StartWatch());
        layer.post(0x2, QStringLiteral("/r/queued")); // posted, not yet handled
        w.StopWatch();
        QVERIFY(w.StartWatch());
        layer.post(0x2, QStringLiteral("/r/after"));
        QTRY_COMPARE(spy.size(), 1);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy[0].at(1).toString(), QStringLiteral("/r/after"));
    }

    void restartFromInsideOnChange()
    {
        ScriptedLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(QStringLiteral("/r"));
        QList<Report> got;
        bool restartedOk = true;
        w.setOnChange([&](QObject *, qint32 e, QString bf, QString, QString af, QString) {
            got.append({e, bf, af});
            // What the main window does on every report.
            w.StopWatch();
            w.setDirectory(QStringLiteral("/r/sub"));
            w.setDirectory(QStringLiteral("/r"));
            restartedOk = w.StartWatch() && restartedOk;
        });
        QVERIFY(w.StartWatch());
        layer.post(0x2, QStringLiteral("/r/a"));
        QTRY_COMPARE(got.size(), 1);
        QVERIFY(restartedOk);
        QCOMPARE(layer.entries.size(), size_t(1));
        // Later reports arrive, and the repeat test compares with the report
        // delivered before the restart.
        layer.post(0x2, QStringLiteral("/r/a"));
        layer.post(0x8, QStringLiteral("/r/new"));
        QTRY_COMPARE(got.size(), 2);
        QCOMPARE(got[1].event, 0x8);
        // A report queued behind the one that restarts is lost with the old
        // registration; one posted after the restart arrives.
        layer.post(0x1000, QStringLiteral("/r"));
        layer.post(0x2, QStringLiteral("/r/lost"));
        QTRY_COMPARE(got.size(), 3);
        layer.post(0x1000, QStringLiteral("/r"));
        QTRY_COMPARE(got.size(), 4);
        QCOMPARE(got[3].event, 0x1000); // an update after an update is no repeat
        QCOMPARE(layer.entries.size(), size_t(1));
        QCOMPARE(layer.registerCalls - layer.deregisterCalls, 1);
    }

    void stopInsideOnChangeEndsDelivery()
    {
        ScriptedLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(QStringLiteral("/r"));
        int calls = 0;
        w.setOnChange([&](QObject *, qint32, QString, QString, QString, QString) {
            ++calls;
            w.StopWatch();
        });
        QSignalSpy spy(&w, &TplFolderWatcher::changed);
        QVERIFY(w.StartWatch());
        layer.post(0x2, QStringLiteral("/r/a"));
        layer.post(0x2, QStringLiteral("/r/b")); // queued behind the first
        QTRY_COMPARE(calls, 1);
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(calls, 1);
        QVERIFY(layer.entries.empty());
    }

    void watchersSideBySide()
    {
        ScriptedLayer layer;
        TplFolderWatcher one(nullptr, &layer), two(nullptr, &layer);
        one.setDirectory(QStringLiteral("/a"));
        two.setDirectory(QStringLiteral("/b"));
        QSignalSpy spyOne(&one, &TplFolderWatcher::changed), spyTwo(&two, &TplFolderWatcher::changed);
        QVERIFY(one.StartWatch());
        QVERIFY(two.StartWatch());
        one.StopWatch();
        layer.post(0x2, QStringLiteral("/b/x")); // only `two` is registered now
        QTRY_COMPARE(spyTwo.size(), 1);
        QCOMPARE(spyOne.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestPlFolderWatcher)
#include "tst_plfolderwatcher.moc"
