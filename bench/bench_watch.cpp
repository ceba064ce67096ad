// sheafline-bench watch: the cost of starting the folder watcher on large
// trees, against a plain recursive directory walk of the same tree.
#include "BenchSupport.h"

#include "watch/InotifyChangeLayer.h"
#include "watch/PollingChangeLayer.h"
#include "watch/plFolderWatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <dirent.h>

namespace {

// Builds `count` folders below `root`, ten to a parent, breadth first; returns
// them children before parents (the order a tree reader finishes them).
QStringList buildTree(const QString &root, int count)
{
    QStringList made;
    QStringList queue{root};
    for (int head = 0; made.size() < count; ++head) {
        const QString parent = queue.at(head);
        for (int i = 0; i < 10 && made.size() < count; ++i) {
            const QString child = parent + QStringLiteral("/d%1").arg(i);
            QDir().mkdir(child);
            made.append(child);
            queue.append(child);
        }
    }
    std::reverse(made.begin(), made.end());
    return made;
}

// The baseline: read every folder of the tree once.
int plainWalk(const QByteArray &path)
{
    int folders = 1;
    QList<QByteArray> subs;
    if (DIR *dir = ::opendir(path.constData())) {
        while (const dirent *e = ::readdir(dir)) {
            if (e->d_type == DT_DIR && qstrcmp(e->d_name, ".") && qstrcmp(e->d_name, ".."))
                subs.append(path + '/' + e->d_name);
        }
        ::closedir(dir);
    }
    for (const QByteArray &s : std::as_const(subs))
        folders += plainWalk(s);
    return folders;
}

double ms(const QElapsedTimer &t)
{
    return t.nsecsElapsed() / 1e6;
}

struct StartFigures
{
    double walkMs;
    double startMs;        // through the program's layers (polling over inotify)
    double inotifyOnlyMs;  // on the inotify layer alone
};

// StartWatch on fresh layers against the plain walk, alternating, medians of `reps`.
StartFigures startWatchFigures(const QString &root, int reps)
{
    QList<double> walk, start, inotifyOnly;
    const QByteArray encoded = QFile::encodeName(root);
    for (int r = 0; r < reps; ++r) {
        QElapsedTimer t;
        t.start();
        plainWalk(encoded);
        walk.append(ms(t));

        {
            InotifyChangeLayer layer;
            PollingChangeLayer polling(&layer);
            TplFolderWatcher w(nullptr, &polling);
            w.setDirectory(root);
            t.start();
            const bool ok = w.StartWatch();
            start.append(ms(t));
            if (!ok)
                std::fprintf(stderr, "StartWatch failed (watch limit?)\n");
        }
        {
            InotifyChangeLayer layer;
            TplFolderWatcher w(nullptr, &layer);
            w.setDirectory(root);
            t.start();
            w.StartWatch();
            inotifyOnly.append(ms(t));
        }
    }
    return {bench::median(walk), bench::median(start), bench::median(inotifyOnly)};
}

} // namespace

static int benchWatch(const QStringList &)
{
    for (int count : {2000, 20000}) {
        QTemporaryDir tmp;
        buildTree(tmp.path(), count);
        const StartFigures f = startWatchFigures(tmp.path(), count > 5000 ? 5 : 9);
        const bool small = count == 2000;
        bench::report(small ? "startwatch_ratio_2000" : "startwatch_ratio_20000", f.startMs / f.walkMs);
        bench::report(small ? "walk_ms_2000" : "walk_ms_20000", f.walkMs);
        bench::report(small ? "startwatch_ms_2000" : "startwatch_ms_20000", f.startMs);
        bench::report(small ? "startwatch_inotify_only_ratio_2000" : "startwatch_inotify_only_ratio_20000",
                      f.inotifyOnlyMs / f.walkMs);
    }

    // A synthetic worst case of the rebuild pattern: a StartWatch for every
    // one of the 2,000 nested folders, children before parents, the root
    // last, then back to the event loop, on a watcher already watching the
    // root.  The main window restarts only for the folders its tree reads;
    // the browse bench measures that rebuild.
    QTemporaryDir tmp;
    const QStringList folders = buildTree(tmp.path(), 2000);
    InotifyChangeLayer layer;
    TplFolderWatcher w(nullptr, &layer);
    const auto rebuild = [&] {
        QElapsedTimer t;
        t.start();
        w.StopWatch();
        for (const QString &f : folders) {
            w.setDirectory(f + QLatin1Char('/'));
            w.StartWatch();
        }
        w.setDirectory(tmp.path() + QLatin1Char('/'));
        w.StartWatch();
        QCoreApplication::processEvents();
        return ms(t);
    };
    const double cold = rebuild();
    QList<double> warm;
    for (int r = 0; r < 9; ++r)
        warm.append(rebuild());
    bench::report("rebuild_ms_2000", bench::median(warm));
    bench::report("rebuild_cold_ms_2000", cold);
    bench::report("watches_after_rebuild_2000", layer.watchCount());
    return 0;
}

SHEAFLINE_BENCH("watch", "folder watcher: StartWatch against a plain walk, rebuild sequence", benchWatch);
