// Figures of a folder on a slow file share: a FUSE passthrough (the tests'
// SlowShare fixture) that makes every file-system operation wait 20 ms, over
// a folder of 600 PDFs and 30 sub-folders.  The window must show and answer
// at once, and the listing must cost little more than the operations it
// cannot avoid.
//
// Figures of the same area that come later go at the end of runShare(), each
// in a function of its own like measureWindow() and measureListing().
#include "BenchSupport.h"

#include "SlowShare.h"

#include "app/ProgramServices.h"
#include "app/Unit1.h"
#include "base/SettingsStore.h"
#include "browse/FileListModel.h"
#include "browse/FileListView.h"

#include "OfflineUpdater.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

// In bench_share_poll.cpp: the polling figures of the same share area.
int benchSharePoll(const QStringList &args);

namespace {

constexpr int kDelayMs = 20;
constexpr int kPdfs = 600;
constexpr int kFolders = 30;

const QByteArray kSmallPdf =
    "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
    "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
    "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 200 200]>>endobj\n"
    "trailer<</Root 1 0 R>>\n%%EOF\n";

// The office folder, written behind the mount: 600 PDFs, and 30 folders
// with two PDFs each, every third with a folder of its own.
bool writeShare(const QString &backing)
{
    for (int i = 0; i < kPdfs; ++i) {
        QFile f(QStringLiteral("%1/Invoice %2.pdf").arg(backing).arg(i, 4, 10, QLatin1Char('0')));
        if (!f.open(QIODevice::WriteOnly) || f.write(kSmallPdf) != kSmallPdf.size())
            return false;
    }
    for (int i = 0; i < kFolders; ++i) {
        const QString folder = QStringLiteral("%1/Client %2").arg(backing).arg(i, 2, 10, QLatin1Char('0'));
        if (!QDir().mkpath(i % 3 == 0 ? folder + QStringLiteral("/Archive") : folder))
            return false;
        for (int j = 0; j < 2; ++j) {
            QFile f(QStringLiteral("%1/Letter %2.pdf").arg(folder).arg(j));
            if (!f.open(QIODevice::WriteOnly) || f.write(kSmallPdf) != kSmallPdf.size())
                return false;
        }
    }
    return true;
}

// What no listing of the folder can avoid: open and read the folder, and
// look up each "*.pdf" entry once (the share tells no kinds, and the row
// shows size and date), one after the other.
int bareListing(const QByteArray &folder)
{
    int found = 0;
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return 0;
    while (const dirent *d = ::readdir(dir)) {
        const size_t len = std::strlen(d->d_name);
        if (len < 4 || ::strcasecmp(d->d_name + len - 4, ".pdf") != 0)
            continue;
        struct stat st;
        if (::fstatat(::dirfd(dir), d->d_name, &st, 0) == 0)
            ++found;
    }
    ::closedir(dir);
    return found;
}

// Start to shown window, with the share as the folder named on the command
// line; then the gaps between the ticks of a 10 ms timer while the window
// reads the folder, until its list is complete.
bool measureWindow(const QString &root, ProgramServices &services, QList<double> &windowMs, QList<double> &gaps)
{
    QElapsedTimer t;
    t.start();
    TForm1 form{QStringList{root}, services};
    form.show();
    if (!bench::waitUntil([&] { return form.windowHandle() && form.windowHandle()->isExposed(); }, 60000))
        return false;
    windowMs << t.nsecsElapsed() / 1e6;

    FileListModel *model = form.ListView1->model();
    QElapsedTimer sinceTick;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        gaps << sinceTick.nsecsElapsed() / 1e6;
        sinceTick.restart();
    });
    sinceTick.start();
    probe.start();
    const bool done = bench::waitUntil([&] { return !model->isReading(); }, 120000);
    probe.stop();
    if (!done || model->rowCount() != kPdfs) {
        std::fprintf(stderr, "the window's list: %d rows, %s\n", model->rowCount(), done ? "done" : "still reading");
        return false;
    }
    return true;
}

// The list's own read of the folder, call to complete, and the floor.
bool measureListing(const QString &root, QList<double> &completeMs, QList<double> &floorMs)
{
    QElapsedTimer t;
    t.start();
    if (bareListing(QFile::encodeName(root)) != kPdfs)
        return false;
    floorMs << t.nsecsElapsed() / 1e6;

    FileListModel model;
    t.restart();
    model.readFolder(root + QLatin1Char('/'), QLocale::system());
    if (!bench::waitUntil([&] { return !model.isReading(); }, 120000) || model.rowCount() != kPdfs)
        return false;
    completeMs << t.nsecsElapsed() / 1e6;
    return true;
}

int runShare(const QStringList &args)
{
    const int rounds = !args.isEmpty() ? qMax(1, args.first().toInt()) : 3;
    SlowShare share(kDelayMs);
    if (!share.mountError().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(share.mountError()));
        return 1;
    }
    if (!writeShare(share.backing())) {
        std::fprintf(stderr, "cannot write the share's files\n");
        return 1;
    }
    const QString root = share.mountPoint();

    // A store of its own and an updater that stays off the network: what is
    // timed is the window and the share.
    QTemporaryDir settingsDir;
    OfflineUpdater offline;
    ProgramServices::Options options = ProgramServices::fromEnvironment();
    options.store = SettingsStore(settingsDir.filePath(QStringLiteral("settings.ini")));
    options.updater = &offline;
    ProgramServices services(std::move(options));

    QList<double> windowMs, gaps, completeMs, floorMs;
    for (int r = 0; r < rounds; ++r) {
        if (!measureWindow(root, services, windowMs, gaps) || !measureListing(root, completeMs, floorMs)) {
            std::fprintf(stderr, "round %d failed\n", r + 1);
            return 1;
        }
    }
    bench::report("share_window_ms", bench::median(windowMs));
    bench::report("share_ui_answer_ms_p99", bench::percentile(gaps, 99));
    bench::report("share_list_complete_ms", bench::median(completeMs));
    bench::report("share_list_floor_ms", bench::median(floorMs));
    bench::report("share_list_complete_ratio", bench::median(completeMs) / bench::median(floorMs));

    // How soon a change another machine makes is seen, and the share's load from polling.
    return benchSharePoll({});
}

} // namespace

SHEAFLINE_BENCH("share", "a 600-PDF folder on a FUSE share with 20 ms per operation: window, answer, listing, changes seen, polling load [rounds]",
                runShare);
