// The watcher on real inotify: real file operations in temporary folders.
#include "watch/InotifyChangeLayer.h"
#include "watch/OwnWrites.h"
#include "watch/plFolderWatcher.h"

#include "support/TestDir.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Report
{
    qint32 event;
    QString before;
    QString after;
};

// Collects what a watcher delivers.
class Recorder
{
public:
    explicit Recorder(TplFolderWatcher *w)
    {
        QObject::connect(w, &TplFolderWatcher::changed, w,
                         [this](qint32 e, const QString &b, const QString &, const QString &a, const QString &) {
                             reports.append({e, b, a});
                         });
    }
    bool has(qint32 event, const QString &before, const QString &after = {}) const
    {
        for (const Report &r : reports) {
            if (r.event == event && r.before == before && r.after == after)
                return true;
        }
        return false;
    }
    bool hasPath(const QString &path) const
    {
        for (const Report &r : reports) {
            if (r.before == path || r.after == path)
                return true;
        }
        return false;
    }
    QString dump() const
    {
        QStringList lines;
        for (const Report &r : reports)
            lines << QStringLiteral("0x%1 %2 %3").arg(r.event, 0, 16).arg(r.before, r.after);
        return lines.join(QLatin1Char('\n'));
    }
    QList<Report> reports;
};

// Watches in the descriptor's fdinfo, as the kernel sees them.
int kernelWatchCount(int fd)
{
    QFile f(QStringLiteral("/proc/self/fdinfo/%1").arg(fd));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    return int(f.readAll().count("inotify wd:"));
}

bool isInotifyDescriptor(int fd)
{
    return QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd)).contains(QLatin1String("inotify"));
}

bool renamePath(const QString &from, const QString &to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace

class TestInotifyWatch : public QObject
{
    Q_OBJECT
private slots:
    void eventKinds_data()
    {
        // op: what is done; a, b: paths relative to the watched root ("@" =
        // the outside folder); expected report as code, first, second.
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("allEvents");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("file created") << "write" << "new.pdf" << "" << false << 0x2 << "new.pdf" << "";
        QTest::newRow("file created in a sub-folder") << "write" << "sub/deep/x.pdf" << "" << false << 0x2
                                                      << "sub/deep/x.pdf" << "";
        QTest::newRow("folder made") << "mkdir" << "made" << "" << false << 0x8 << "made" << "";
        QTest::newRow("file deleted") << "remove" << "old.pdf" << "" << false << 0x4 << "old.pdf" << "";
        QTest::newRow("folder removed") << "rmdir" << "sub/empty" << "" << false << 0x10 << "sub/empty" << "";
        QTest::newRow("file renamed") << "rename" << "old.pdf" << "renamed.pdf" << false << 0x1 << "old.pdf"
                                      << "renamed.pdf";
        QTest::newRow("file moved to a sub-folder") << "rename" << "old.pdf" << "sub/old.pdf" << false << 0x1
                                                    << "old.pdf" << "sub/old.pdf";
        QTest::newRow("folder renamed") << "rename" << "sub" << "sub2" << false << 0x20000 << "sub" << "sub2";
        QTest::newRow("file written") << "append" << "old.pdf" << "" << false << 0x2000 << "old.pdf" << "";
        QTest::newRow("file moved in") << "rename" << "@/in.pdf" << "in.pdf" << false << 0x2 << "in.pdf" << "";
        QTest::newRow("folder moved in") << "rename" << "@/infolder" << "infolder" << false << 0x8 << "infolder"
                                         << "";
        QTest::newRow("file moved out") << "rename" << "old.pdf" << "@/old.pdf" << false << 0x4 << "old.pdf"
                                        << "";
        QTest::newRow("folder moved out") << "rename" << "sub" << "@/sub" << false << 0x10 << "sub" << "";
        QTest::newRow("attributes (all events)") << "chmod" << "old.pdf" << "" << true << 0x800 << "old.pdf"
                                                 << "";
    }
    void eventKinds()
    {
        QFETCH(QString, op);
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, allEvents);
        QFETCH(int, code);
        QFETCH(QString, first);
        QFETCH(QString, second);
        TestDir dir, outside;
        dir.writeFile("old.pdf", "x");
        dir.mkdir("sub/deep");
        dir.mkdir("sub/empty");
        outside.writeFile("in.pdf", "x");
        outside.mkdir("infolder/inner");
        const auto abs = [&](const QString &rel) {
            if (rel.isEmpty())
                return QString();
            return rel.startsWith('@') ? outside.path(rel.mid(2)) : dir.path(rel);
        };

        InotifyChangeLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        if (allEvents)
            w.setOptions({evt_ALLEVENTS});
        w.setDirectory(dir.path() + '/');
        Recorder rec(&w);
        QVERIFY(w.StartWatch());

        if (op == "write")
            dir.writeFile(a, "new");
        else if (op == "mkdir")
            QVERIFY(QDir().mkdir(abs(a)));
        else if (op == "remove")
            QVERIFY(QFile::remove(abs(a)));
        else if (op == "rmdir")
            QVERIFY(QDir().rmdir(abs(a)));
        else if (op == "rename")
            QVERIFY(renamePath(abs(a), abs(b)));
        else if (op == "append") {
            QFile f(abs(a));
            QVERIFY(f.open(QIODevice::Append));
            f.write("more");
        } else if (op == "chmod")
            QVERIFY(::chmod(QFile::encodeName(abs(a)).constData(), 0600) == 0);

        QTRY_VERIFY2(rec.has(code, abs(first), abs(second)), qPrintable(rec.dump()));
        // Only codes of the registration's mask are delivered.
        for (const Report &r : rec.reports)
            QVERIFY2(quint32(r.event) & w.eventMask(), qPrintable(rec.dump()));
    }

    void renamedFolderKeepsReporting()
    {
        TestDir dir;
        dir.mkdir("sub/deep");
        InotifyChangeLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(dir.path());
        Recorder rec(&w);
        QVERIFY(w.StartWatch());
        QVERIFY(renamePath(dir.path("sub"), dir.path("moved")));
        QTRY_VERIFY(rec.has(0x20000, dir.path("sub"), dir.path("moved")));
        dir.writeFile("moved/deep/after.pdf");
        QTRY_VERIFY2(rec.has(0x2, dir.path("moved/deep/after.pdf")), qPrintable(rec.dump()));
        QVERIFY(!rec.hasPath(dir.path("sub/deep/after.pdf")));
    }

    void recursion_data()
    {
        QTest::addColumn<bool>("recursive");
        QTest::newRow("recursive") << true;
        QTest::newRow("this folder only") << false;
    }
    void recursion()
    {
        QFETCH(bool, recursive);
        TestDir dir;
        dir.mkdir("sub/deep");
        InotifyChangeLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(dir.path());
        w.setRecursive(recursive);
        Recorder rec(&w);
        QVERIFY(w.StartWatch());
        QCOMPARE(layer.watchCount(), recursive ? 3 : 1);
        dir.writeFile("sub/deep/below.pdf");
        dir.writeFile("top.pdf"); // processed after the one below
        QTRY_VERIFY(rec.has(0x2, dir.path("top.pdf")));
        QCOMPARE(rec.has(0x2, dir.path("sub/deep/below.pdf")), recursive);
        // A folder made in the root is watched only when recursive.
        QDir().mkdir(dir.path("later"));
        QTRY_VERIFY(rec.has(0x8, dir.path("later")));
        dir.writeFile("later/inside.pdf");
        dir.writeFile("top2.pdf");
        QTRY_VERIFY(rec.has(0x2, dir.path("top2.pdf")));
        QCOMPARE(rec.has(0x2, dir.path("later/inside.pdf")), recursive);
    }

    void newFolderFilledAtOnce()
    {
        // The folder and its files exist before its watch can: its scan reports them.
        TestDir dir;
        InotifyChangeLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(dir.path());
        Recorder rec(&w);
        QVERIFY(w.StartWatch());
        QStringList files;
        dir.mkdir("burst/nested");
        for (int i = 0; i < 1000; ++i)
            files << dir.writeFile(QStringLiteral("burst/f%1.pdf").arg(i));
        files << dir.writeFile("burst/nested/n.pdf");
        QTRY_VERIFY(rec.has(0x8, dir.path("burst")));
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(files.cbegin(), files.cend(),
                                             [&](const QString &f) { return rec.has(0x2, f); }),
                                 20000);
        // And the new folders are watched from now on.
        dir.writeFile("burst/nested/later.pdf");
        QTRY_VERIFY(rec.has(0x2, dir.path("burst/nested/later.pdf")));
    }

    void burstUnderARefreshingHandler()
    {
        // The main window's reaction restarts the watcher on every report;
        // what was queued before the restart is not delivered one by one.
        TestDir dir;
        InotifyChangeLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(dir.path());
        int calls = 0;
        w.setOnChange([&](QObject *, qint32, QString, QString, QString, QString) {
            ++calls;
            w.StopWatch();
            w.StartWatch();
        });
        Recorder rec(&w);
        QVERIFY(w.StartWatch());
        for (int i = 0; i < 10000; ++i)
            dir.writeFile(QStringLiteral("b%1.pdf").arg(i));
        QTRY_VERIFY(calls >= 1);
        dir.writeFile("marker.pdf");
        QTRY_VERIFY(rec.has(0x2, dir.path("marker.pdf")));
        QVERIFY(w.isWatching());
        QVERIFY2(calls < 100, qPrintable(QString::number(calls)));
    }

    void closedWritesUpdateTheirFolder()
    {
        TestDir dir;
        dir.mkdir("sub");
        dir.mkdir("other");
        InotifyChangeLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(dir.path());
        Recorder rec(&w);
        QVERIFY(w.StartWatch());
        const auto updatesOf = [&](const QString &folder) {
            return std::count_if(rec.reports.cbegin(), rec.reports.cend(),
                                 [&](const Report &r) { return r.event == 0x1000 && r.before == folder; });
        };

        // A file written in stages: every stage ends in a folder update, which
        // is never taken for a repeat (the item updates are, after the first).
        for (int stage = 1; stage <= 3; ++stage) {
            QFile f(dir.path("sub/grow.pdf"));
            QVERIFY(f.open(QIODevice::Append));
            QVERIFY(f.write(QByteArray(4096, 'x')) == 4096);
            f.close();
            QTRY_VERIFY2(updatesOf(dir.path("sub")) == stage, qPrintable(rec.dump()));
        }
        QCOMPARE(updatesOf(dir.path()), 0);

        // A burst of writes read at once is one update per folder.
        layer.setReadingEnabled(false);
        for (int i = 0; i < 200; ++i) {
            dir.writeFile(QStringLiteral("b%1.pdf").arg(i), "x");
            dir.writeFile(QStringLiteral("sub/b%1.pdf").arg(i), "x");
        }
        layer.setReadingEnabled(true);
        QTRY_VERIFY2(updatesOf(dir.path()) == 1 && updatesOf(dir.path("sub")) == 4, qPrintable(rec.dump()));
        // Nothing more of that burst is on its way: a later write elsewhere
        // is reported after anything still pending.
        dir.writeFile("other/late.pdf", "x");
        QTRY_COMPARE(updatesOf(dir.path("other")), 1);
        QCOMPARE(updatesOf(dir.path()), 1);
        QCOMPARE(updatesOf(dir.path("sub")), 4);
    }

    // Paths the program announced as its own writes are not reported, nor
    // counted as an update of their folder; the same kinds of change by
    // anyone else still are.  The writes mimic the picture cache: a folder
    // made, a temporary file written, closed and renamed into place.
    void announcedOwnWritesAreNotReported()
    {
        TestDir dir;
        dir.mkdir("cache");
        InotifyChangeLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(dir.path());
        Recorder rec(&w);
        QVERIFY(w.StartWatch());
        OwnWrites &own = *layer.ownWrites();

        for (const QString &rel : {"cache/normal", "cache/normal/.a.png.1.tmp", "cache/normal/a.png"})
            own.announce(dir.path(rel));
        const int watched = layer.watchCount();
        dir.mkdir("cache/normal");
        QTRY_COMPARE(layer.watchCount(), watched + 1); // the new folder is watched too
        dir.writeFile("cache/normal/.a.png.1.tmp", QByteArray(2048, 'p'));
        QVERIFY(renamePath(dir.path("cache/normal/.a.png.1.tmp"), dir.path("cache/normal/a.png")));

        // Another writer beside them, last: once its folder update is in,
        // everything before it has been read and sent.
        dir.writeFile("cache/normal/b.png", "other program");
        QTRY_VERIFY2(rec.has(0x1000, dir.path("cache/normal")), qPrintable(rec.dump()));
        QVERIFY2(rec.has(0x2, dir.path("cache/normal/b.png")), qPrintable(rec.dump()));
        QVERIFY2(!rec.hasPath(dir.path("cache/normal/a.png")), qPrintable(rec.dump()));
        QVERIFY2(!rec.hasPath(dir.path("cache/normal/.a.png.1.tmp")), qPrintable(rec.dump()));
        QVERIFY2(!rec.has(0x8, dir.path("cache/normal")), qPrintable(rec.dump()));
        const auto folderUpdates = std::count_if(rec.reports.cbegin(), rec.reports.cend(), [&](const Report &r) {
            return r.event == 0x1000 && r.before == dir.path("cache/normal");
        });
        QCOMPARE(folderUpdates, 1); // the other program's write only

        // An unannounced change of an announced neighbour's folder is news.
        dir.writeFile("cache/normal/a.png", "rewritten by someone else");
        QVERIFY(QFile::remove(dir.path("cache/normal/b.png")));
        QTRY_VERIFY2(rec.has(0x4, dir.path("cache/normal/b.png")), qPrintable(rec.dump()));
        QVERIFY2(!rec.hasPath(dir.path("cache/normal/a.png")), qPrintable(rec.dump())); // still announced
    }

    // An announcement holds for its while, renewed by a later one, and is
    // then forgotten; a claim holds for good.
    void ownWritesAreForgottenAfterAWhile()
    {
        qint64 now = 1000;
        OwnWrites own(500, [&now] { return now; });
        own.announce("/a");
        QVERIFY(own.isOwn("/a"));
        QVERIFY(!own.isOwn("/b"));
        now = 1400;
        own.announce("/a"); // renewed until 1900
        own.announce("/b");
        now = 1600;
        QVERIFY(own.isOwn("/a"));
        QCOMPARE(own.count(), 2);
        now = 1900;
        QVERIFY(!own.isOwn("/a"));
        QVERIFY(!own.isOwn("/b"));
        QCOMPARE(own.count(), 0);

        // Claimed paths are the program's own for good, with what a folder
        // holds and the lock and temporary files beside a file.
        own.claim("/home/u/.config/M/S.conf");
        own.claim("/run/user/sheafline");
        now = 1000000;
        for (const char *path : {"/home/u/.config/M/S.conf", "/home/u/.config/M/S.conf.lock",
                                 "/home/u/.config/M/S.conf.Ab12Cd", "/run/user/sheafline/lastupdate",
                                 "/run/user/sheafline"})
            QVERIFY2(own.isOwn(path), path);
        for (const char *path : {"/home/u/.config/M/S.confx", "/home/u/.config/M", "/home/u/.config/M/T.conf",
                                 "/run/user/sheafline2/x", "/run/user"})
            QVERIFY2(!own.isOwn(path), path);
    }

    void overflowAsksForAFullRefresh()
    {
        TestDir dir;
        InotifyChangeLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(dir.path());
        Recorder rec(&w);
        QVERIFY(w.StartWatch());
        layer.setReadingEnabled(false);
        for (int i = 0; i < 20000; ++i)
            dir.writeFile(QStringLiteral("f%1").arg(i));
        dir.mkdir("after/overflow");
        layer.setReadingEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(rec.has(0x1000, dir.path()), 60000);
        // The lost events may have held new folders: they are watched again.
        dir.writeFile("after/overflow/x.pdf");
        QTRY_VERIFY_WITH_TIMEOUT(rec.has(0x2, dir.path("after/overflow/x.pdf")), 60000);
    }

    void watchedFolderGoes_data()
    {
        QTest::addColumn<bool>("moveAway");
        QTest::newRow("removed") << false;
        QTest::newRow("moved away") << true;
    }
    void watchedFolderGoes()
    {
        QFETCH(bool, moveAway);
        TestDir dir, outside;
        dir.mkdir("root/a/b");
        dir.writeFile("root/a/b/f.pdf");
        InotifyChangeLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(dir.path("root"));
        Recorder rec(&w);
        QVERIFY(w.StartWatch());
        if (moveAway)
            QVERIFY(renamePath(dir.path("root"), outside.path("root")));
        else
            QVERIFY(QDir(dir.path("root")).removeRecursively());
        QTRY_VERIFY2(rec.has(0x10, dir.path("root")), qPrintable(rec.dump()));
        // The registration ends cleanly: no watch stays behind, and nothing
        // is reported from where the folder went.
        QTRY_COMPARE(layer.watchCount(), 0);
        QTRY_COMPARE(kernelWatchCount(layer.descriptor()), 0);
        const int before = rec.reports.size();
        if (moveAway) {
            outside.writeFile("root/a/b/g.pdf");
            QDir().mkdir(dir.path("root"));
        }
        // A new root folder of the same name is watched by the next start.
        dir.mkdir("root");
        QVERIFY(w.StartWatch());
        dir.writeFile("root/new.pdf");
        QTRY_VERIFY(rec.has(0x2, dir.path("root/new.pdf")));
        for (int i = before; i < rec.reports.size(); ++i)
            QVERIFY2(!rec.reports[i].before.contains("g.pdf"), qPrintable(rec.dump()));
    }

    void startRefusedOrPartial()
    {
        TestDir dir;
        dir.writeFile("file.pdf");
        dir.mkdir("t/a/b");
        dir.mkdir("t/c/d");
        InotifyChangeLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(dir.path("missing"));
        QVERIFY(!w.StartWatch());
        w.setDirectory(dir.path("file.pdf"));
        QVERIFY(!w.StartWatch());

        // At the watch limit: what is watched keeps reporting, the start says false.
        layer.setWatchLimitForTesting(3);
        w.setDirectory(dir.path("t"));
        Recorder rec(&w);
        QVERIFY(!w.StartWatch());
        QVERIFY(w.isWatching());
        QCOMPARE(layer.watchCount(), 3);
        dir.writeFile("t/top.pdf");
        QTRY_VERIFY(rec.has(0x2, dir.path("t/top.pdf")));
        // With room again the next start covers everything.
        layer.setWatchLimitForTesting(-1);
        QVERIFY(w.StartWatch());
        QCOMPARE(layer.watchCount(), 5);
        dir.writeFile("t/c/d/deep.pdf");
        QTRY_VERIFY(rec.has(0x2, dir.path("t/c/d/deep.pdf")));
    }

    void linksAndUnreadableFolders()
    {
        TestDir dir;
        dir.mkdir("root/sub");
        dir.mkdir("root/locked/inner");
        QVERIFY(dir.symlink(dir.path("root"), "root/sub/loop"));      // a loop back to the root
        QVERIFY(dir.symlink("..", "root/sub/up"));                     // another loop
        QVERIFY(dir.symlink(dir.path("nowhere"), "root/dangling"));    // points at nothing
        QVERIFY(::chmod(QFile::encodeName(dir.path("root/locked")).constData(), 0) == 0);
        InotifyChangeLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        w.setDirectory(dir.path("root"));
        Recorder rec(&w);
        QVERIFY(w.StartWatch());
        // Links are not followed: root, sub, locked and perhaps inner (when
        // permissions do not apply to this user).
        QVERIFY2(layer.watchCount() >= 3 && layer.watchCount() <= 4, qPrintable(QString::number(layer.watchCount())));
        dir.writeFile("root/sub/x.pdf");
        QTRY_VERIFY(rec.has(0x2, dir.path("root/sub/x.pdf")));
        QVERIFY(!rec.hasPath(dir.path("root/sub/loop/sub/x.pdf")));
        ::chmod(QFile::encodeName(dir.path("root/locked")).constData(), 0700);
    }

    void optionsDecideWhatIsDelivered()
    {
        TestDir dir;
        InotifyChangeLayer layer;
        TplFolderWatcher none(nullptr, &layer), all(nullptr, &layer);
        none.setOptions({});
        all.setOptions({evt_ALLEVENTS});
        none.setDirectory(dir.path());
        all.setDirectory(dir.path());
        Recorder recNone(&none), recAll(&all);
        QVERIFY(none.StartWatch());
        QVERIFY(all.StartWatch());
        const QString f = dir.writeFile("a.pdf", "x");
        QVERIFY(::chmod(QFile::encodeName(f).constData(), 0600) == 0);
        QDir().mkdir(dir.path("d"));
        QTRY_VERIFY(recAll.has(0x2, f));
        QTRY_VERIFY(recAll.has(0x800, f));
        QTRY_VERIFY(recAll.has(0x8, dir.path("d")));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(recNone.reports.size(), 0);
    }

    void rebuildSequenceCoversTheTree()
    {
        // One start per folder read, sub-folders first and the root last.
        TestDir dir;
        const QStringList folders{"a", "a/x", "a/x/y", "b", "c"};
        for (const QString &f : folders)
            dir.mkdir(f);
        InotifyChangeLayer layer;
        TplFolderWatcher w(nullptr, &layer);
        Recorder rec(&w);
        for (int round = 0; round < 3; ++round) {
            for (const QString &f : {"a", "b", "c"}) {
                w.setDirectory(dir.path(f) + '/');
                w.StartWatch();
            }
            w.setDirectory(dir.path() + '/');
            QVERIFY(w.StartWatch());
            QTRY_VERIFY(!layer.hasPendingCleanup());
            QCOMPARE(layer.watchCount(), folders.size() + 1);
            QCOMPARE(kernelWatchCount(layer.descriptor()), folders.size() + 1);
        }
        dir.writeFile("a/x/y/deep.pdf");
        QTRY_VERIFY(rec.has(0x2, dir.path("a/x/y/deep.pdf")));
        // Narrowing to one folder drops the other watches.
        w.setDirectory(dir.path("a"));
        QVERIFY(w.StartWatch());
        QTRY_COMPARE(layer.watchCount(), 3);
        QCOMPARE(kernelWatchCount(layer.descriptor()), 3);
        dir.writeFile("b/elsewhere.pdf");
        dir.writeFile("a/here.pdf");
        QTRY_VERIFY(rec.has(0x2, dir.path("a/here.pdf")));
        QVERIFY(!rec.hasPath(dir.path("b/elsewhere.pdf")));
    }

    void nothingLeaks()
    {
        TestDir one, two;
        one.mkdir("a/b");
        one.mkdir("c");
        two.mkdir("z");
        InotifyChangeLayer layer;
        auto *first = new TplFolderWatcher(nullptr, &layer);
        auto *second = new TplFolderWatcher(nullptr, &layer);
        first->setDirectory(one.path());
        second->setDirectory(two.path());
        for (int i = 0; i < 100; ++i) {
            QVERIFY(first->StartWatch());
            QVERIFY(second->StartWatch());
            if (i % 10 == 0)
                QCoreApplication::processEvents();
        }
        const int fd = layer.descriptor();
        QVERIFY(isInotifyDescriptor(fd));
        QTRY_VERIFY(!layer.hasPendingCleanup());
        QCOMPARE(kernelWatchCount(fd), 4 + 2);
        first->StopWatch();
        QTRY_COMPARE(kernelWatchCount(fd), 2);
        QCOMPARE(layer.watchCount(), 2);
        delete first;
        delete second; // the last registration: the descriptor goes too
        QTRY_COMPARE(layer.descriptor(), -1);
        QVERIFY(!isInotifyDescriptor(fd));
    }
};

QTEST_GUILESS_MAIN(TestInotifyWatch)
#include "tst_inotifywatch.moc"
