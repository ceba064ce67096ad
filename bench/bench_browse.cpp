// Browsing figures: filling the file list from a folder of 10,000 PDFs and
// rebuilding the folder tree over 2,000 folders, each as a ratio to the bare
// file-system work of the same folder measured in the same run.
#include "BenchSupport.h"

#include "browse/FileListModel.h"
#include "browse/FileListView.h"
#include "browse/FolderTree.h"
#include "watch/InotifyChangeLayer.h"
#include "watch/plFolderWatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>

namespace {

// A tiny but complete one-page PDF.
const QByteArray kSmallPdf =
    "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
    "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
    "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 200 200]>>endobj\n"
    "trailer<</Root 1 0 R>>\n%%EOF\n";

double msSince(const QElapsedTimer &t)
{
    return t.nsecsElapsed() / 1e6;
}

// CPU time of this thread, user and system: what the work itself costs,
// whatever else the machine's cores are busy with.
double cpuMs()
{
    timespec ts;
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Wall and CPU time of one run of `work`.
template <typename F> void measure(QList<double> &wall, QList<double> &cpu, F &&work)
{
    QElapsedTimer t;
    const double c0 = cpuMs();
    t.start();
    work();
    wall << msSince(t);
    cpu << cpuMs() - c0;
}

// The floor any listing pays: read every entry of the folder and stat it.
qint64 plainReaddirStat(const QByteArray &folder)
{
    qint64 total = 0;
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return 0;
    while (const dirent *d = ::readdir(dir)) {
        struct stat st;
        if (::fstatat(::dirfd(dir), d->d_name, &st, 0) == 0)
            total += st.st_size + st.st_mtim.tv_sec;
    }
    ::closedir(dir);
    return total;
}

// The floor of a tree rebuild: list the root's folders and open each to find its first sub-folder.
int plainScanAndProbe(const QByteArray &root)
{
    int withChildren = 0;
    DIR *dir = ::opendir(root.constData());
    if (!dir)
        return 0;
    while (const dirent *d = ::readdir(dir)) {
        if (d->d_type != DT_DIR || d->d_name[0] == '.')
            continue;
        DIR *sub = ::opendir((root + '/' + d->d_name).constData());
        if (!sub)
            continue;
        while (const dirent *s = ::readdir(sub)) {
            if (s->d_type == DT_DIR && s->d_name[0] != '.') {
                ++withChildren;
                break;
            }
        }
        ::closedir(sub);
    }
    ::closedir(dir);
    return withChildren;
}

int runBrowse(const QStringList &args)
{
    const int rounds = args.size() > 1 ? qMax(1, args.at(1).toInt()) : 31;
    QTemporaryDir temp(args.isEmpty() ? QDir::tempPath() + "/sheafline-bench-XXXXXX"
                                      : args.first() + "/sheafline-bench-XXXXXX");
    if (!temp.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        return 1;
    }

    // 10,000 small PDFs in one folder.
    const QString listDir = temp.filePath("list");
    QDir().mkpath(listDir);
    for (int i = 0; i < 10000; ++i) {
        QFile f(QStringLiteral("%1/Document %2.pdf").arg(listDir).arg(i, 5, 10, QLatin1Char('0')));
        if (!f.open(QIODevice::WriteOnly) || f.write(kSmallPdf) != kSmallPdf.size()) {
            std::fprintf(stderr, "cannot write the PDF folder\n");
            return 1;
        }
    }
    // 2,000 folders, each with one sub-folder.
    const QString treeDir = temp.filePath("tree");
    for (int i = 0; i < 2000; ++i)
        QDir().mkpath(QStringLiteral("%1/Folder %2/inner").arg(treeDir).arg(i, 4, 10, QLatin1Char('0')));

    const QLocale locale = QLocale::system();
    FileListView list;
    list.resize(271, 400);
    // Laid out as the window lays it out: each fill then also finds the
    // widest name for the name column.
    list.fitColumns(271, 60, 85, 21);
    list.show();
    QTreeWidget treeWidget;
    treeWidget.resize(271, 240);
    treeWidget.show();
    FolderTree tree(&treeWidget);
    // The main window's folder watcher, pointed at the root by each rebuild.
    InotifyChangeLayer layer;
    TplFolderWatcher watcher(nullptr, &layer);
    FileListView rootList;
    rootList.show();

    const QByteArray listBytes = QFile::encodeName(listDir);
    const QByteArray treeBytes = QFile::encodeName(treeDir);
    const QString listFolder = listDir + '/';
    const QString treeFolder = treeDir + '/';

    // Reads run on workers: a fill or a rebuild is over when its results
    // are in, as the user sees it.
    const auto waitForReads = [&] {
        while (list.model()->isReading() || rootList.model()->isReading() || tree.isReading())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    const auto fillList = [&] {
        list.model()->readFolder(listFolder, locale);
        waitForReads();
    };

    // Warm the caches of both sides once.
    plainReaddirStat(listBytes);
    fillList();
    plainScanAndProbe(treeBytes);
    tree.showRoot(treeFolder);
    waitForReads();

    QList<double> listBase, listOurs, treeBase, treeOurs;
    QList<double> listBaseCpu, listOursCpu, treeBaseCpu, treeOursCpu;
    for (int r = 0; r < rounds; ++r) {
        measure(listBase, listBaseCpu, [&] { plainReaddirStat(listBytes); });
        measure(listOurs, listOursCpu, fillList);
        measure(treeBase, treeBaseCpu, [&] { plainScanAndProbe(treeBytes); });
        // The rebuild as the main window's change reaction runs it: watcher
        // stopped, the tree, the watcher pointed at the root, the root's
        // list, the watcher restarted, then back to the event loop.
        measure(treeOurs, treeOursCpu, [&] {
            watcher.StopWatch();
            tree.showRoot(treeFolder);
            watcher.setDirectory(treeFolder);
            watcher.StartWatch();
            rootList.model()->readFolder(treeFolder, locale);
            watcher.StartWatch();
            waitForReads();
            QCoreApplication::processEvents();
        });
    }
    if (list.model()->rowCount() != 10000 || treeWidget.topLevelItemCount() != 2000) {
        std::fprintf(stderr, "unexpected result: %d rows, %d nodes\n", list.model()->rowCount(),
                     treeWidget.topLevelItemCount());
        return 1;
    }

    bench::report("list_fill_ms_10000", bench::median(listOurs));
    bench::report("list_readdir_stat_ms_10000", bench::median(listBase));
    bench::report("list_fill_ratio_10000", bench::median(listOurs) / bench::median(listBase));
    bench::report("tree_rebuild_ms_2000", bench::median(treeOurs));
    bench::report("tree_scan_probe_ms_2000", bench::median(treeBase));
    bench::report("tree_rebuild_ratio_2000", bench::median(treeOurs) / bench::median(treeBase));
    // The same ratios in CPU time, steadier on a shared machine.
    bench::report("list_fill_cpu_ratio_10000", bench::median(listOursCpu) / bench::median(listBaseCpu));
    bench::report("tree_rebuild_cpu_ratio_2000", bench::median(treeOursCpu) / bench::median(treeBaseCpu));
    return 0;
}

} // namespace

SHEAFLINE_BENCH("browse", "file list fill (10,000 PDFs) and tree rebuild (2,000 folders) as ratios to readdir+stat [tmpdir] [rounds]", runBrowse);
