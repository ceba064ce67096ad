// The main window's watcher: created at start-up with its change bound to
// plFolderWatcher1Change, the refresh in its order, freed at shutdown.
#include "app/ProgramServices.h"
#include "app/Unit1.h"
#include "base/SettingsStore.h"
#include "watch/PollingChangeLayer.h"
#include "watch/plFolderWatcher.h"

#include "ScriptedLayer.h"
#include "support/MainWindowFixture.h"
#include "support/SlowShare.h"

#include "browse/FileEntry.h"
#include "browse/FileListModel.h"
#include "browse/FileListView.h"

#include <QDir>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

// Points the window's watcher at the scripted layer, watching the root
// folder as a rebuild leaves it.
static bool watchRootOn(TForm1 &form, ScriptedLayer &layer)
{
    TplFolderWatcher *w = form.plFolderWatcher;
    w->setLayer(&layer);
    w->setDirectory(form.FRootFolder);
    return w->StartWatch();
}

class TestUnit1Watch : public QObject
{
    Q_OBJECT
    MainWindowFixture m_main;
    std::unique_ptr<ScriptedLayer> m_layer; // outlives the window

private slots:
    void init()
    {
        m_main.reset();
        m_layer = std::make_unique<ScriptedLayer>();
    }
    void cleanup()
    {
        m_main.close();
        m_layer.reset();
    }

    void createdAtStartUpWithDefaults()
    {
        TestDir &root = m_main.dir();
        TForm1 &form = *m_main.create({root.path()});
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
        TestDir &root = m_main.dir();
        root.mkdir("sub");
        ScriptedLayer &layer = *m_layer;
        TForm1 &form = *m_main.create({root.path()});
        QVERIFY(watchRootOn(form, layer));
        const QString document = root.path("shown.pdf");
        form.SetCurrentDocument(document);
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
        TestDir &root = m_main.dir();
        ScriptedLayer &layer = *m_layer;
        TForm1 &form = *m_main.create({root.path()});
        QVERIFY(watchRootOn(form, layer));
        TplFolderWatcher *w = form.plFolderWatcher;
        // Each delivered report is one refresh (a stop and a start at least).
        QSignalSpy refreshes(w, &TplFolderWatcher::changed);
        int stops = 0;
        const auto stopsNow = [&] { return int(layer.log.filter(QStringLiteral("deregister")).size()); };
        // Each report is posted after the previous refresh, as the system would.
        layer.post(0x1000, root.path());
        QTRY_COMPARE(refreshes.size(), 1);
        layer.post(0x1000, root.path());
        QTRY_COMPARE(refreshes.size(), 2);
        layer.post(0x2, root.path("a.pdf"));
        QTRY_COMPARE(refreshes.size(), 3);
        stops = stopsNow();
        layer.post(0x2, root.path("a.pdf")); // an immediate repeat: dropped
        layer.post(0x4, root.path("a.pdf"));
        QTRY_COMPARE(refreshes.size(), 4);
        QCOMPARE(refreshes.last().at(0).toInt(), 0x4);
        QVERIFY(stopsNow() > stops);
        // A report queued behind one that refreshes is lost with the old registration.
        layer.post(0x8, root.path("d"));
        layer.post(0x10, root.path("d"));
        QTRY_COMPARE(refreshes.size(), 5);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(refreshes.size(), 5);
        QCOMPARE(layer.entries.size(), size_t(1));
        QCOMPARE(layer.only().folder, root.path());
    }

    void refreshOnRealChanges()
    {
        TestDir &root = m_main.dir();
        root.mkdir("sub/deep");
        TForm1 &form = *m_main.create({root.path()});
        TplFolderWatcher *w = form.plFolderWatcher;
        w->setDirectory(form.FRootFolder);
        QVERIFY(w->StartWatch());
        QSignalSpy spy(w, &TplFolderWatcher::changed);
        root.writeFile("one.pdf");
        QTRY_VERIFY(spy.size() >= 1);
        // Restarted from inside the report, on the root folder and its whole tree.
        QTRY_VERIFY(w->isWatching());
        QCOMPARE(w->Directory(), form.FRootFolder);
        const qsizetype before = spy.size();
        root.writeFile("sub/deep/two.pdf");
        QTRY_VERIFY(spy.size() > before);
        QCOMPARE(spy.at(before).at(1).toString(), root.path("sub/deep/two.pdf"));
        QTRY_VERIFY(w->isWatching());
    }

    void changesOnDiskShowInTreeAndList()
    {
        const auto listed = [](TForm1 *f) {
            QStringList names;
            for (const FileEntry &e : f->ListView1->model()->entries())
                names << e.name;
            return names;
        };
        const auto topLevel = [](TForm1 *f) {
            QStringList names;
            for (int i = 0; i < f->TreeView1->topLevelItemCount(); ++i)
                names << f->TreeView1->topLevelItem(i)->text(0);
            return names;
        };
        TestDir &root = m_main.dir();
        root.mkdir("sub/deep");
        root.writeFile("a.pdf", "x");
        TForm1 &form = *m_main.create({root.path()});
        QVERIFY(form.plFolderWatcher->isWatching()); // the start-up rebuild started it
        QCOMPARE(listed(&form), QStringList{"a.pdf"});
        root.writeFile("c.pdf", "x");
        QTRY_COMPARE(listed(&form), (QStringList{"a.pdf", "c.pdf"}));
        QVERIFY(QFile::rename(root.path("a.pdf"), root.path("b.pdf")));
        QTRY_COMPARE(listed(&form), (QStringList{"b.pdf", "c.pdf"}));
        QVERIFY(QDir().mkdir(root.path("new")));
        QTRY_COMPARE(topLevel(&form), (QStringList{"new", "sub"}));
        root.writeFile("sub/deep/x.pdf", "x"); // deep below the root: a refresh too
        QVERIFY(QFile::remove(root.path("c.pdf")));
        QTRY_COMPARE(listed(&form), QStringList{"b.pdf"});
        QVERIFY(form.plFolderWatcher->isWatching());
        QCOMPARE(form.plFolderWatcher->Directory(), form.FRootFolder);
    }

    // After a node has been expanded, changes anywhere under the root still
    // reach the list: here the root's own files while a sub-folder's tree
    // node is open, so that a deleted file does not stay listed.
    void changesSeenAfterExpanding()
    {
        const auto listed = [](TForm1 *f) {
            QStringList names;
            for (const FileEntry &e : f->ListView1->model()->entries())
                names << e.name;
            return names;
        };
        TestDir &root = m_main.dir();
        root.mkdir("sub/deep");
        root.mkdir("other");
        root.writeFile("a.pdf", "x");
        root.writeFile("b.pdf", "x");
        TForm1 &form = *m_main.create({root.path()});
        QTRY_VERIFY_WITH_TIMEOUT(!form.TreeView1->findItems("sub", Qt::MatchExactly).isEmpty(), 10000);
        QTreeWidgetItem *sub = form.TreeView1->findItems("sub", Qt::MatchExactly).value(0);
        form.TreeView1->expandItem(sub);
        QCOMPARE(sub->childCount(), 1);

        QVERIFY(QFile::remove(root.path("a.pdf")));
        QTRY_COMPARE(listed(&form), QStringList{"b.pdf"});
        root.writeFile("other/c.pdf", "x"); // beside the expanded node: a refresh too
        root.writeFile("c.pdf", "x");
        QTRY_COMPARE(listed(&form), (QStringList{"b.pdf", "c.pdf"}));
        QCOMPARE(form.plFolderWatcher->Directory(), form.FRootFolder);
    }

    // The settings the window writes on every resize lie under the root
    // folder here (the root is the home folder): writing them rebuilds
    // nothing, while another program's file beside them is still seen.
    void ownSettingsWritesCauseNoRefresh()
    {
        TestDir &root = m_main.dir();
        root.mkdir("docs");
        root.writeFile("docs/a.pdf", "x");
        const QString conf = root.path(".config/MOSSGATE/Sheafline.conf");
        ProgramServices::Options options = ProgramServices::fromEnvironment();
        options.store = SettingsStore(conf);
        options.updater = &m_main.offlineUpdater();
        ProgramServices services(std::move(options));
        TForm1 form({root.path()}, services);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QStringList reported;
        connect(form.plFolderWatcher, &TplFolderWatcher::changed, &form,
                [&](qint32 event, const QString &before) { reported << QStringLiteral("0x%1 %2").arg(event, 0, 16).arg(before); });

        for (const int width : {700, 760, 820}) {
            form.resize(width, form.height());
            QTRY_COMPARE(SettingsStore(conf).readInteger("WinWidth", 0), width);
        }
        root.writeFile("docs/b.pdf", "x");
        QTRY_VERIFY2(reported.contains("0x1000 " + root.path("docs")), qPrintable(reported.join('\n')));
        for (const QString &r : std::as_const(reported))
            QVERIFY2(!r.contains("/.config"), qPrintable(reported.join('\n')));
    }

    void fileWrittenInStagesShowsItsFinalSize()
    {
        // A file rewritten in place, as a download or a copy in parts does:
        // after each stage the list shows its size and date as they are now.
        const auto shown = [](TForm1 *f, const QString &name) {
            for (const FileEntry &e : f->ListView1->model()->entries()) {
                if (e.name == name)
                    return e;
            }
            return FileEntry();
        };
        TestDir &root = m_main.dir();
        root.writeFile("a.pdf", "x");
        TForm1 &form = *m_main.create({root.path()});
        QVERIFY(form.plFolderWatcher->isWatching());
        qint64 written = 0;
        for (const int bytes : {3000, 5000, 12000}) {
            QFile f(root.path("grow.pdf"));
            QVERIFY(f.open(QIODevice::Append));
            QCOMPARE(f.write(QByteArray(bytes, 'x')), qint64(bytes));
            f.close();
            written += bytes;
            const QString size = QStringLiteral("%1kb").arg((written + 1023) / 1024);
            QTRY_COMPARE(shown(&form, "grow.pdf").sizeText, size);
            if (written == 3000) {
                // An old date, which the next write must replace in the list.
                QVERIFY(root.setModified("grow.pdf", QDateTime(QDate(2020, 1, 2), QTime(9, 0))));
                form.ListPdfFiles(form.FRootFolder);
                QVERIFY(shown(&form, "grow.pdf").dateText.startsWith("2020"));
            }
        }
        QCOMPARE(shown(&form, "grow.pdf").sizeText, QStringLiteral("20kb"));
        QTRY_VERIFY(!shown(&form, "grow.pdf").dateText.startsWith("2020"));
        QVERIFY(form.plFolderWatcher->isWatching());
        QCOMPARE(form.plFolderWatcher->Directory(), form.FRootFolder);
    }

    // The poll interval is a setting in seconds, stored with its default.
    void pollIntervalSetting_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("intervalMs");
        QTest::newRow("missing: five seconds") << QString() << 5000;
        QTest::newRow("seven") << "7" << 7000;
        QTest::newRow("zero: one second") << "0" << 1000;
    }
    void pollIntervalSetting()
    {
        QFETCH(QString, stored);
        QFETCH(int, intervalMs);
        if (!stored.isNull())
            m_main.store().writeString("PollInterval", stored);
        m_main.create({m_main.dir().path()});
        QCOMPARE(m_main.services().pollingLayer().interval(), intervalMs);
        QCOMPARE(m_main.store().readInteger("PollInterval", -1), stored.isNull() ? 5 : stored.toInt());
    }

    // Another machine's changes to a share: a file added to the listed
    // folder shows in the list, a folder made in an open tree node is told.
    void changesBehindAShareShow()
    {
        const auto listed = [](TForm1 *f) {
            QStringList names;
            for (const FileEntry &e : f->ListView1->model()->entries())
                names << e.name;
            return names;
        };
        SlowShare share(20);
        if (!share.mountError().isEmpty())
            QSKIP(qPrintable(share.mountError()));
        QVERIFY(QDir().mkpath(share.backing() + "/sub/inner"));
        QFile a(share.backing() + "/a.pdf");
        QVERIFY(a.open(QIODevice::WriteOnly) && a.write("x") == 1);
        a.close();

        TForm1 &form = *m_main.create({share.mountPoint()});
        PollingChangeLayer &polling = m_main.services().pollingLayer();
        polling.setInterval(300);
        // The share is read on workers: its list comes in a little later.
        QTRY_COMPARE_WITH_TIMEOUT(listed(&form), QStringList{"a.pdf"}, 10000);
        QSignalSpy rounds(&polling, &PollingChangeLayer::roundFinished);
        QTRY_VERIFY_WITH_TIMEOUT(rounds.size() >= 2, 10000); // its first state is taken

        QFile b(share.backing() + "/b.pdf");
        QVERIFY(b.open(QIODevice::WriteOnly) && b.write("x") == 1);
        b.close();
        QTRY_COMPARE_WITH_TIMEOUT(listed(&form), (QStringList{"a.pdf", "b.pdf"}), 10000);

        QTRY_VERIFY_WITH_TIMEOUT(!form.TreeView1->findItems("sub", Qt::MatchExactly).isEmpty(), 10000);
        QTreeWidgetItem *sub = form.TreeView1->findItems("sub", Qt::MatchExactly).value(0);
        form.TreeView1->expandItem(sub);
        QSignalSpy seen(form.plFolderWatcher, &TplFolderWatcher::changed);
        const int before = int(rounds.size());
        QTRY_VERIFY_WITH_TIMEOUT(rounds.size() >= before + 2, 10000);
        QVERIFY(rounds.last().at(0).toStringList().contains(QDir::cleanPath(share.mountPoint() + "/sub")));
        QVERIFY(QDir().mkdir(share.backing() + "/sub/made"));
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QList<QVariant> &args : seen) {
                    if (args.at(0).toInt() == 0x8 && args.at(1).toString().endsWith("/sub/made"))
                        return true;
                }
                return false;
            }(),
            10000);
    }

    void freedAtShutdown()
    {
        TestDir &root = m_main.dir();
        ScriptedLayer &layer = *m_layer;
        QPointer<TplFolderWatcher> w;
        {
            TForm1 &form = *m_main.create({root.path()});
            w = form.plFolderWatcher;
            QVERIFY(watchRootOn(form, layer));
            QCOMPARE(layer.entries.size(), size_t(1));
        }
        m_main.close();
        QVERIFY(w.isNull());
        QVERIFY(layer.entries.empty()); // its registration ended with it
    }
};

QTEST_MAIN(TestUnit1Watch)
#include "tst_unit1watch.moc"
