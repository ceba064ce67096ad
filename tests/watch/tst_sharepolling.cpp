// Polling where inotify cannot see: folders on a file share (changes made
// behind a real FUSE mount), and folders left unwatched at the watch limit.
#include "base/ShellChangeCodes.h"
#include "watch/ChangeNotice.h"
#include "watch/InotifyChangeLayer.h"
#include "watch/PollingChangeLayer.h"
#include "watch/plFolderWatcher.h"

#include "support/SlowShare.h"
#include "support/TestDir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

using sheafline::ChangeNotice;

namespace {

constexpr int kTestIntervalMs = 300;
// Generous: a loaded machine may be slow, the check itself is what matters.
constexpr int kSeenWithinMs = 8000;

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(contents) == contents.size();
}

// A watcher on `folder` through a polling layer over inotify, with a fixed
// answer to "what is shown".
struct PolledWatch
{
    InotifyChangeLayer inotify;
    std::unique_ptr<PollingChangeLayer> polling = std::make_unique<PollingChangeLayer>(&inotify);
    std::unique_ptr<TplFolderWatcher> watcher;
    PollingChangeLayer::ShownFolders shown;

    bool start(const QString &folder, const PollingChangeLayer::ShownFolders &onShow)
    {
        shown = onShow;
        polling->setInterval(kTestIntervalMs);
        polling->setShownFolders([this] { return shown; });
        watcher = std::make_unique<TplFolderWatcher>(nullptr, polling.get());
        watcher->setDirectory(folder);
        watcher->StartWatch();
        return watcher->isWatching();
    }
};

// Each report as "code path".
QStringList reports(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out << QStringLiteral("%1 %2").arg(args.at(0).toInt(), 0, 16).arg(args.at(1).toString());
    return out;
}

QString reportOf(qint32 code, const QString &path)
{
    return QStringLiteral("%1 %2").arg(code, 0, 16).arg(path);
}

} // namespace

class TestSharePolling : public QObject
{
    Q_OBJECT

private slots:
    void fileSystemTypes_data();
    void fileSystemTypes();
    void realFoldersAreClassified();
    void changesBehindTheShareAreReported_data();
    void changesBehindTheShareAreReported();
    void expandedFoldersAreComparedByName();
    void localFolderIsNotPolled();
    void nothingOnShowNothingRead();
    void startOnAShareDoesNotWalkIt();
    void folderUnwatchedAtTheLimitIsPolled();
    void hungShareLeavesTheUiThreadRunning();
};

void TestSharePolling::fileSystemTypes_data()
{
    QTest::addColumn<QString>("mounts");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("polled");

    const QString root = QStringLiteral("22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n");
    const auto at = [](const QString &point, const QString &type) {
        return QStringLiteral("40 22 0:50 / %1 rw,relatime shared:9 - %2 server:/export rw\n").arg(point, type);
    };
    QTest::newRow("local disk") << root << "/home/u/docs" << false;
    QTest::newRow("nfs") << root + at("/mnt/n", "nfs") << "/mnt/n/docs" << true;
    QTest::newRow("nfs4") << root + at("/mnt/n", "nfs4") << "/mnt/n" << true;
    QTest::newRow("cifs") << root + at("/mnt/s", "cifs") << "/mnt/s/a" << true;
    QTest::newRow("smb3") << root + at("/mnt/s", "smb3") << "/mnt/s/a" << true;
    QTest::newRow("smbfs") << root + at("/mnt/s", "smbfs") << "/mnt/s/a" << true;
    QTest::newRow("sshfs") << root + at("/mnt/f", "fuse.sshfs") << "/mnt/f/a" << true;
    QTest::newRow("glusterfs over fuse") << root + at("/mnt/g", "fuse.glusterfs") << "/mnt/g" << true;
    QTest::newRow("bare fuse") << root + at("/mnt/f", "fuse") << "/mnt/f" << true;
    QTest::newRow("9p") << root + at("/mnt/9", "9p") << "/mnt/9/x" << true;
    QTest::newRow("afs") << root + at("/afs", "afs") << "/afs/cell/x" << true;
    QTest::newRow("ceph") << root + at("/mnt/c", "ceph") << "/mnt/c/x" << true;
    QTest::newRow("lustre") << root + at("/mnt/l", "lustre") << "/mnt/l/x" << true;
    QTest::newRow("virtiofs") << root + at("/mnt/v", "virtiofs") << "/mnt/v/x" << true;
    QTest::newRow("ntfs-3g (fuseblk) is local") << root + at("/media/usb", "fuseblk") << "/media/usb/x" << false;
    QTest::newRow("tmpfs") << root + at("/tmp", "tmpfs") << "/tmp/x" << false;
    QTest::newRow("overlay") << root + at("/merged", "overlay") << "/merged/x" << false;
    QTest::newRow("local disk mounted inside a share")
        << root + at("/mnt/n", "nfs") + at("/mnt/n/local", "ext4") << "/mnt/n/local/x" << false;
    QTest::newRow("share's name is a prefix of a local folder's")
        << root + at("/mnt/n", "nfs") << "/mnt/nx/docs" << false;
    QTest::newRow("later mount hides the earlier one")
        << root + at("/mnt/a", "ext4") + at("/mnt/a", "cifs") << "/mnt/a/x" << true;
    QTest::newRow("space in the mount point") << root + at("/mnt/my\\040share", "cifs") << "/mnt/my share/x" << true;
    QTest::newRow("line not in the format") << root + "garbage - nfs\n" << "/home/x" << false;
}

void TestSharePolling::fileSystemTypes()
{
    QFETCH(QString, mounts);
    QFETCH(QString, path);
    QFETCH(bool, polled);
    const QString type = sheafline::fileSystemTypeOf(path, mounts);
    QVERIFY(!type.isEmpty());
    QCOMPARE(sheafline::changeNoticeForType(type) == ChangeNotice::LocalOnly, polled);
}

void TestSharePolling::realFoldersAreClassified()
{
    TestDir local;
    QCOMPARE(sheafline::changeNoticeOf(local.path()), ChangeNotice::Complete);

    SlowShare share(0);
    if (!share.mountError().isEmpty())
        QSKIP(qPrintable(share.mountError()));
    QCOMPARE(sheafline::changeNoticeOf(share.mountPoint()), ChangeNotice::LocalOnly);
    // Reached through a link from a local disk: the link is followed.
    QVERIFY(local.symlink(share.mountPoint(), QStringLiteral("link")));
    QCOMPARE(sheafline::changeNoticeOf(local.path(QStringLiteral("link"))), ChangeNotice::LocalOnly);
}

void TestSharePolling::changesBehindTheShareAreReported_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("item");
    QTest::newRow("file added") << "add" << int(ShellChange::Create) << "new.pdf";
    QTest::newRow("file removed") << "remove" << int(ShellChange::Delete) << "a.pdf";
    QTest::newRow("file rewritten, new size") << "grow" << int(ShellChange::UpdateItem) << "a.pdf";
    QTest::newRow("file rewritten, same size") << "touch" << int(ShellChange::UpdateItem) << "a.pdf";
    QTest::newRow("file renamed") << "rename" << int(ShellChange::Create) << "renamed.pdf";
    QTest::newRow("folder made") << "mkdir" << int(ShellChange::Mkdir) << "made";
}

void TestSharePolling::changesBehindTheShareAreReported()
{
    QFETCH(QString, change);
    QFETCH(int, code);
    QFETCH(QString, item);

    SlowShare share(20);
    if (!share.mountError().isEmpty())
        QSKIP(qPrintable(share.mountError()));
    const QString behind = share.backing();
    QVERIFY(writeFile(behind + "/a.pdf", "%PDF-1.4 first"));
    QVERIFY(writeFile(behind + "/b.pdf", "%PDF-1.4 other"));
    QVERIFY(QDir().mkdir(behind + "/sub"));

    PolledWatch w;
    const QString folder = share.mountPoint();
    QVERIFY(w.start(folder, {folder, {folder}}));
    QSignalSpy seen(w.watcher.get(), &TplFolderWatcher::changed);
    QSignalSpy rounds(w.polling.get(), &PollingChangeLayer::roundFinished);
    // The first state, then two quiet rounds that must report nothing.
    QTRY_VERIFY_WITH_TIMEOUT(rounds.size() >= 3, kSeenWithinMs);
    QCOMPARE(w.polling->polledFolders(), QStringList{folder});
    QCOMPARE(reports(seen), QStringList());

    if (change == "add") {
        QVERIFY(writeFile(behind + "/new.pdf", "%PDF-1.4 new"));
    } else if (change == "remove") {
        QVERIFY(QFile::remove(behind + "/a.pdf"));
    } else if (change == "grow") {
        QVERIFY(writeFile(behind + "/a.pdf", "%PDF-1.4 first, and longer"));
    } else if (change == "touch") {
        QFile f(behind + "/a.pdf");
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    } else if (change == "rename") {
        QVERIFY(QFile::rename(behind + "/b.pdf", behind + "/renamed.pdf"));
    } else if (change == "mkdir") {
        QVERIFY(QDir().mkdir(behind + "/made"));
    }
    const QString expected = reportOf(code, folder + "/" + item);
    QTRY_VERIFY_WITH_TIMEOUT(reports(seen).contains(expected), kSeenWithinMs);
    // Followed by a folder update, which the watcher never drops as a repeat.
    QTRY_VERIFY_WITH_TIMEOUT(reports(seen).contains(reportOf(ShellChange::UpdateDir, folder)), kSeenWithinMs);
    if (change == "rename")
        QVERIFY(reports(seen).contains(reportOf(ShellChange::Delete, folder + "/b.pdf")));

    // Rewritten again: seen again, though the item's report repeats.
    if (change == "grow") {
        const qsizetype before = seen.size();
        QVERIFY(writeFile(behind + "/a.pdf", "%PDF-1.4 first, and longer still"));
        QTRY_VERIFY_WITH_TIMEOUT(seen.size() > before, kSeenWithinMs);
        QCOMPARE(seen.last().at(0).toInt(), int(ShellChange::UpdateDir));
    }
}

void TestSharePolling::expandedFoldersAreComparedByName()
{
    SlowShare share(0);
    if (!share.mountError().isEmpty())
        QSKIP(qPrintable(share.mountError()));
    QVERIFY(QDir().mkpath(share.backing() + "/open/inner"));
    QVERIFY(QDir().mkpath(share.backing() + "/listed"));

    PolledWatch w;
    const QString root = share.mountPoint();
    QVERIFY(w.start(root, {root + "/listed/", {root + "/", root + "/open/"}}));
    QSignalSpy seen(w.watcher.get(), &TplFolderWatcher::changed);
    QSignalSpy rounds(w.polling.get(), &PollingChangeLayer::roundFinished);
    QTRY_VERIFY_WITH_TIMEOUT(rounds.size() >= 2, kSeenWithinMs);
    QCOMPARE(w.polling->polledFolders(), (QStringList{root + "/listed", root, root + "/open"}));

    QVERIFY(QDir().rename(share.backing() + "/open/inner", share.backing() + "/open/outer"));
    QTRY_VERIFY_WITH_TIMEOUT(reports(seen).contains(reportOf(ShellChange::Mkdir, root + "/open/outer")),
                             kSeenWithinMs);
    QVERIFY(reports(seen).contains(reportOf(ShellChange::Delete, root + "/open/inner")));

    // A folder no longer on show is no longer read.
    w.shown = {root + "/listed", {root}};
    const int before = int(rounds.size());
    QTRY_VERIFY_WITH_TIMEOUT(rounds.size() > before, kSeenWithinMs);
    QCOMPARE(w.polling->polledFolders(), (QStringList{root + "/listed", root}));
}

void TestSharePolling::localFolderIsNotPolled()
{
    TestDir local;
    local.mkdir("sub");
    PolledWatch w;
    QVERIFY(w.start(local.path(), {local.path(), {local.path(), local.path("sub")}}));
    QSignalSpy rounds(w.polling.get(), &PollingChangeLayer::roundFinished);
    QSignalSpy seen(w.watcher.get(), &TplFolderWatcher::changed);
    // One round looks the folders up, and reads none.
    QTRY_COMPARE_WITH_TIMEOUT(rounds.size(), 1, kSeenWithinMs);
    QCOMPARE(rounds.at(0).at(0).toStringList(), QStringList());
    // Later checks send nothing to a worker.
    const PollingChangeLayer::Stats after = w.polling->stats();
    QTRY_VERIFY_WITH_TIMEOUT(w.polling->stats().checks >= after.checks + 4, kSeenWithinMs);
    QCOMPARE(w.polling->stats().rounds, after.rounds);
    // inotify still tells.
    local.writeFile("sub/new.pdf", "%PDF-1.4");
    QTRY_VERIFY_WITH_TIMEOUT(reports(seen).contains(reportOf(ShellChange::Create, local.path("sub/new.pdf"))),
                             kSeenWithinMs);
    QCOMPARE(w.polling->stats().rounds, after.rounds);
}

void TestSharePolling::nothingOnShowNothingRead()
{
    SlowShare share(0);
    if (!share.mountError().isEmpty())
        QSKIP(qPrintable(share.mountError()));
    const QString root = share.mountPoint();
    PolledWatch w;
    QVERIFY(w.start(root, {root, {root}}));
    QSignalSpy seen(w.watcher.get(), &TplFolderWatcher::changed);
    QSignalSpy rounds(w.polling.get(), &PollingChangeLayer::roundFinished);
    QTRY_VERIFY_WITH_TIMEOUT(rounds.size() >= 2, kSeenWithinMs);

    // Out of sight: the share is left alone, and what changes meanwhile is
    // told once the folder is in sight again.
    w.shown.inSight = false;
    QTRY_VERIFY_WITH_TIMEOUT(!w.polling->roundRunning(), kSeenWithinMs);
    const qint64 ops = share.operationCount();
    const PollingChangeLayer::Stats before = w.polling->stats();
    QVERIFY(writeFile(share.backing() + "/meanwhile.pdf", "%PDF-1.4"));
    QTRY_VERIFY_WITH_TIMEOUT(w.polling->stats().checks >= before.checks + 4, kSeenWithinMs);
    QCOMPARE(w.polling->stats().rounds, before.rounds);
    QCOMPARE(share.operationCount(), ops);
    QCOMPARE(reports(seen), QStringList());
    w.shown.inSight = true;
    QTRY_VERIFY_WITH_TIMEOUT(reports(seen).contains(reportOf(ShellChange::Create, root + "/meanwhile.pdf")),
                             kSeenWithinMs);

    // Nothing on the share shown at all: nothing read either.
    w.shown = {};
    QTRY_VERIFY_WITH_TIMEOUT(!w.polling->roundRunning(), kSeenWithinMs);
    const qint64 opsNow = share.operationCount();
    const PollingChangeLayer::Stats now = w.polling->stats();
    QTRY_VERIFY_WITH_TIMEOUT(w.polling->stats().checks >= now.checks + 4, kSeenWithinMs);
    QCOMPARE(w.polling->stats().rounds, now.rounds);
    QCOMPARE(share.operationCount(), opsNow);
}

// A watch started on a share does not walk its sub-tree for inotify (each
// look-up is a round trip to the server); a local tree is walked whole.
void TestSharePolling::startOnAShareDoesNotWalkIt()
{
    SlowShare share(0);
    if (!share.mountError().isEmpty())
        QSKIP(qPrintable(share.mountError()));
    for (int d = 0; d < 10; ++d) {
        const QString sub = share.backing() + QStringLiteral("/sub%1").arg(d);
        QVERIFY(QDir().mkpath(sub + "/inner"));
        for (int f = 0; f < 10; ++f)
            QVERIFY(writeFile(sub + QStringLiteral("/doc%1.pdf").arg(f), "%PDF-1.4"));
    }
    const QString root = share.mountPoint();
    PolledWatch w;
    const qint64 ops = share.operationCount();
    QVERIFY(w.start(root, {root, {root}}));
    // The folder's own watch: a few look-ups, not one per entry below it.
    QVERIFY2(share.operationCount() - ops < 20,
             qPrintable(QStringLiteral("%1 operations on the share").arg(share.operationCount() - ops)));
    QVERIFY(w.inotify.isWatched(root));
    QVERIFY(!w.inotify.isWatched(root + "/sub0"));

    // This machine's change in a shown folder of it is still seen (by inotify
    // on the folder itself, or by polling).
    QSignalSpy seen(w.watcher.get(), &TplFolderWatcher::changed);
    QVERIFY(writeFile(root + "/here.pdf", "%PDF-1.4"));
    QTRY_VERIFY_WITH_TIMEOUT(reports(seen).contains(reportOf(ShellChange::Create, root + "/here.pdf")), kSeenWithinMs);

    // A local tree is walked whole, as before.
    QTemporaryDir local;
    QVERIFY(QDir().mkpath(local.path() + "/sub0/inner"));
    PolledWatch l;
    QVERIFY(l.start(local.path(), {local.path(), {local.path()}}));
    QVERIFY(l.inotify.isWatched(local.path() + "/sub0/inner"));
}

void TestSharePolling::folderUnwatchedAtTheLimitIsPolled()
{
    TestDir local;
    local.mkdir("a");
    local.mkdir("b");
    PolledWatch w;
    // The root gets the one watch there is; its sub-folders none.
    w.inotify.setWatchLimitForTesting(1);
    w.shown = {local.path("b"), {local.path()}};
    w.polling->setInterval(kTestIntervalMs);
    w.polling->setShownFolders([&w] { return w.shown; });
    w.watcher = std::make_unique<TplFolderWatcher>(nullptr, w.polling.get());
    w.watcher->setDirectory(local.path());
    QVERIFY(!w.watcher->StartWatch()); // watched only in part
    QVERIFY(w.watcher->isWatching());
    QVERIFY(!w.inotify.isWatched(local.path("b")));

    QSignalSpy seen(w.watcher.get(), &TplFolderWatcher::changed);
    QSignalSpy rounds(w.polling.get(), &PollingChangeLayer::roundFinished);
    QTRY_VERIFY_WITH_TIMEOUT(rounds.size() >= 2, kSeenWithinMs);
    // Only the unwatched folder: the root has its watch.
    QCOMPARE(w.polling->polledFolders(), QStringList{local.path("b")});

    local.writeFile("b/new.pdf", "%PDF-1.4");
    QTRY_VERIFY_WITH_TIMEOUT(reports(seen).contains(reportOf(ShellChange::Create, local.path("b/new.pdf"))),
                             kSeenWithinMs);
}

void TestSharePolling::hungShareLeavesTheUiThreadRunning()
{
    SlowShare share(20);
    if (!share.mountError().isEmpty())
        QSKIP(qPrintable(share.mountError()));
    QVERIFY(QDir().mkpath(share.backing() + "/stuck"));
    const QString folder = share.mountPoint() + "/stuck";

    // Should closing the layer wait for the stuck round, this sets the share
    // going again after a while so that the test fails rather than hangs.
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool rescued = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!done.wait_for(lock, std::chrono::seconds(30), [&] { return finished; })) {
            rescued = true;
            share.unhang();
        }
    });
    const auto stopWatchdog = qScopeGuard([&] {
        {
            const std::lock_guard lock(mutex);
            finished = true;
        }
        done.notify_all();
        watchdog.join();
    });

    // Hung once the watch is in place: the polling round is the first to
    // run into it.
    auto w = std::make_unique<PolledWatch>();
    QVERIFY(w->start(share.mountPoint(), {folder, {share.mountPoint()}}));
    share.hang("stuck");
    QTRY_VERIFY_WITH_TIMEOUT(w->polling->roundRunning(), kSeenWithinMs);

    // The event loop goes on while the round is stuck in the share, and no
    // second round piles up behind it.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    const int checks = w->polling->stats().checks;
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 20 && w->polling->stats().checks >= checks + 3, kSeenWithinMs);
    QVERIFY(w->polling->roundRunning());
    QCOMPARE(w->polling->stats().rounds, 1);

    // Going away does not wait for it.
    w.reset();
    {
        const std::lock_guard lock(mutex);
        QVERIFY(!rescued);
    }
}

QTEST_GUILESS_MAIN(TestSharePolling)
#include "tst_sharepolling.moc"
