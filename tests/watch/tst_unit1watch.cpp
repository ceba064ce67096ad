// The main window's watcher: created at start-up with its change bound to
// plFolderWatcher1Change, the refresh in its order, freed at shutdown.
#include "app/Unit1.h"
#include "watch/plFolderWatcher.h"

#include "ScriptedLayer.h"
#include "support/TestDir.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class TestUnit1Watch : public QObject
{
    Q_OBJECT
private slots:
    void createdAtStartUpWithDefaults()
    {
        TestDir root;
        TForm1 form(QStringList{root.path()});
        TplFolderWatcher *w = form.plFolderWatcher;
        QVERIFY(w);
        QCOMPARE(w->parent(), &form); // owned by the window
        QVERIFY(w->OnChange());
        QVERIFY(w->Recursive());
        QCOMPARE(w->Options().bits(), quint32(0x2301F));
    }

    void everyReportRefreshes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("file created") << 0x2 << "new.pdf" << "";
        QTest::newRow("file deleted") << 0x4 << "old.pdf" << "";
        QTest::newRow("renamed") << 0x1 << "a.pdf" << "b.pdf";
        QTest::newRow("folder update") << 0x1000 << "" << "";
        QTest::newRow("folder made below") << 0x8 << "sub/made" << "";
    }
    void everyReportRefreshes()
    {
        QFETCH(int, code);
        QFETCH(QString, first);
        QFETCH(QString, second);
        TestDir root;
        root.mkdir("sub");
        ScriptedLayer layer; // outlives the window
        TForm1 form(QStringList{root.path()});
        TplFolderWatcher *w = form.plFolderWatcher;
        w->setLayer(&layer);
        // As a rebuild leaves it: watching the root folder.
        w->setDirectory(form.FRootFolder);
        QVERIFY(w->StartWatch());
        const QString document = root.path("shown.pdf");
        form.SetStatusPanelText(1, document);
        form.Timer1->stop();
        layer.log.clear();

        layer.post(code, first.isEmpty() ? root.path() : root.path(first),
                   second.isEmpty() ? QString() : root.path(second));
        QTRY_VERIFY(!layer.log.isEmpty());
        QCoreApplication::sendPostedEvents();
        // Stopped first, started last, on the root folder; one registration left.
        QCOMPARE(layer.log.first(), QStringLiteral("deregister %1").arg(root.path()));
        QCOMPARE(layer.log.last(), QStringLiteral("register %1").arg(root.path()));
        QCOMPARE(layer.entries.size(), size_t(1));
        QVERIFY(layer.only().recursive);
        QCOMPARE(layer.only().mask, quint32(0x2301F));
        // The viewer is untouched: no load, the shown document stays.
        QCOMPARE(form.StatusPanelText(1), document);
        QVERIFY(!form.Timer1->isActive());
    }

    void repeatsAndFolderUpdates()
    {
        TestDir root;
        ScriptedLayer layer; // outlives the window
        TForm1 form(QStringList{root.path()});
        TplFolderWatcher *w = form.plFolderWatcher;
        w->setLayer(&layer);
        w->setDirectory(form.FRootFolder);
        QVERIFY(w->StartWatch());
        const auto refreshes = [&] { return layer.registerCalls - 1; };
        // Each report is posted after the previous refresh, as the system would.
        layer.post(0x1000, root.path());
        QTRY_COMPARE(refreshes(), 1);
        layer.post(0x1000, root.path());
        QTRY_COMPARE(refreshes(), 2);
        layer.post(0x2, root.path("a.pdf"));
        QTRY_COMPARE(refreshes(), 3);
        layer.post(0x2, root.path("a.pdf")); // an immediate repeat: dropped
        layer.post(0x4, root.path("a.pdf"));
        QTRY_COMPARE(refreshes(), 4);
        // A report queued behind one that refreshes is lost with the old registration.
        layer.post(0x8, root.path("d"));
        layer.post(0x10, root.path("d"));
        QTRY_COMPARE(refreshes(), 5);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(refreshes(), 5);
        QCOMPARE(layer.entries.size(), size_t(1));
    }

    void refreshOnRealChanges()
    {
        TestDir root;
        TForm1 form(QStringList{root.path()});
        TplFolderWatcher *w = form.plFolderWatcher;
        w->setDirectory(form.FRootFolder);
        QVERIFY(w->StartWatch());
        QSignalSpy spy(w, &TplFolderWatcher::changed);
        root.writeFile("one.pdf");
        QTRY_VERIFY(spy.size() >= 1);
        QTRY_VERIFY(w->isWatching()); // restarted from inside the report
        const qsizetype before = spy.size();
        root.mkdir("later");
        QTRY_VERIFY(spy.size() > before);
        QVERIFY(w->isWatching());
    }

    void freedAtShutdown()
    {
        TestDir root;
        ScriptedLayer layer;
        QPointer<TplFolderWatcher> w;
        {
            TForm1 form(QStringList{root.path()});
            w = form.plFolderWatcher;
            w->setLayer(&layer);
            w->setDirectory(form.FRootFolder);
            QVERIFY(w->StartWatch());
            QCOMPARE(layer.entries.size(), size_t(1));
        }
        QVERIFY(w.isNull());
        QVERIFY(layer.entries.empty()); // its registration ended with it
    }
};

QTEST_MAIN(TestUnit1Watch)
#include "tst_unit1watch.moc"
