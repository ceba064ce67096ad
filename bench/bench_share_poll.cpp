// sheafline-bench share (polling): how soon a PDF another machine adds to a
// share is reported, and how busy polling keeps the share, on a FUSE share
// that answers each operation after 20 ms (tests/support/slowfs.py).
#include "BenchSupport.h"

#include "SlowShare.h"

#include "base/ShellChangeCodes.h"
#include "watch/InotifyChangeLayer.h"
#include "watch/PollingChangeLayer.h"
#include "watch/plFolderWatcher.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

namespace {

constexpr int kDelayMs = 20;

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(contents) == contents.size();
}

// `folders` folders of `perFolder` small PDFs each, behind the mount.
void fill(const QString &backing, int folders, int perFolder)
{
    for (int d = 0; d < folders; ++d) {
        const QString folder = backing + QStringLiteral("/f%1").arg(d, 2, 10, QLatin1Char('0'));
        QDir().mkpath(folder);
        for (int i = 0; i < perFolder; ++i)
            writeFile(folder + QStringLiteral("/doc%1.pdf").arg(i, 3, 10, QLatin1Char('0')), "%PDF-1.4\n%%EOF\n");
    }
}

// The program's layers on the share's root, showing `current` in the list
// and the root in the tree.
struct Watch
{
    InotifyChangeLayer inotify;
    PollingChangeLayer polling{&inotify};
    TplFolderWatcher watcher{nullptr, &polling};

    Watch(const QString &root, const QString &current, int intervalMs)
    {
        polling.setInterval(intervalMs);
        polling.setShownFolders([root, current] { return PollingChangeLayer::ShownFolders{current, {root}}; });
        watcher.setDirectory(root);
        watcher.StartWatch();
    }
    // Runs the event loop until `count` more rounds have finished.
    bool waitRounds(int count, int timeoutMs)
    {
        const int target = polling.stats().rounds + count;
        return bench::waitUntil([&] { return polling.stats().rounds >= target && !polling.roundRunning(); },
                                timeoutMs);
    }
};

// Share busy time from polling alone: operations served in a quiet stretch
// of `wallMs`, each costing the delay, over the stretch.
double busyFraction(SlowShare &share, Watch &w, int wallMs)
{
    w.waitRounds(2, 60000); // first states taken
    const qint64 before = share.operationCount();
    QElapsedTimer clock;
    clock.start();
    bench::waitUntil([] { return false; }, wallMs);
    const qint64 ops = share.operationCount() - before;
    return double(ops) * kDelayMs / double(clock.elapsed());
}

} // namespace

// Callable by the share area; prints the polling figures.
int benchSharePoll(const QStringList &)
{
    const int interval = PollingChangeLayer::defaultIntervalMs;
    {
        SlowShare share(kDelayMs);
        if (!share.mountError().isEmpty()) {
            std::fprintf(stderr, "share: %s\n", qPrintable(share.mountError()));
            return 1;
        }
        fill(share.backing(), 30, 20);
        const QString root = share.mountPoint();
        Watch w(root, root + QStringLiteral("/f00"), interval);
        bench::report("share_poll_busy_fraction", busyFraction(share, w, 20000));

        // A PDF added just after a round: the longest wait there is.
        QList<double> seen;
        for (int r = 0; r < 3; ++r) {
            w.waitRounds(1, 60000);
            const QString name = QStringLiteral("added%1.pdf").arg(r);
            const QString expected = root + QStringLiteral("/f00/") + name;
            bool reported = false;
            const auto connection = QObject::connect(&w.watcher, &TplFolderWatcher::changed,
                                                     [&](qint32 code, const QString &first) {
                                                         if (code == ShellChange::Create && first == expected)
                                                             reported = true;
                                                     });
            QElapsedTimer clock;
            clock.start();
            writeFile(share.backing() + QStringLiteral("/f00/") + name, "%PDF-1.4\n%%EOF\n");
            if (!bench::waitUntil([&] { return reported; }, 60000))
                std::fprintf(stderr, "share: %s never reported\n", qPrintable(name));
            seen.append(double(clock.elapsed()));
            QObject::disconnect(connection);
        }
        bench::report("share_change_seen_ms", bench::median(seen));
        bench::report("share_poll_interval_ms", interval);
    }
    {
        // A listed folder far larger than a round's share of time: its sizes
        // and dates are read over several rounds, and the share stays as idle.
        SlowShare share(kDelayMs);
        if (!share.mountError().isEmpty())
            return 1;
        fill(share.backing(), 1, 600);
        const QString root = share.mountPoint();
        Watch w(root, root + QStringLiteral("/f00"), interval);
        bench::report("share_poll_busy_fraction_600_in_one_folder", busyFraction(share, w, 20000));
    }
    return 0;
}
