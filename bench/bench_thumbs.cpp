// sheafline-bench thumbs [folder]
//
// The file list's thumbnail style on a real folder (default: the corpus),
// with a cache folder of its own (never the user's):
// 1. cold: switch to the style on an empty cache until every thumbnail of
//    the first screenful is painted, against a bare serial load + render of
//    the same first pages at the same size, measured in the same run;
// 2. warm: the same with the cache filled and nothing in memory, against a
//    bare read + decode of the same PNG files;
// 3. stepping (Enter -> first page painted, the next file prepared while the
//    user looks) while the whole folder's thumbnails are being made, and the
//    same stepping without thumbnails, in the same run.
#include "BenchSupport.h"

#include "base/ImageFit.h"

#include "browse/FileListModel.h"
#include "browse/FileListView.h"
#include "browse/ThumbnailCache.h"
#include "browse/ThumbnailListView.h"
#include "browse/ThumbnailPng.h"
#include "browse/ThumbnailProvider.h"
#include "viewer/TAcroPDF.h"
#include "viewer/isolated/PdfEngines.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QFile>
#include <QPdfDocument>
#include <QTemporaryDir>
#include <QTextStream>

#include <functional>
#include <memory>

namespace {

constexpr int rounds = 5;

double msSince(const QElapsedTimer &t)
{
    return t.nsecsElapsed() / 1e6;
}


double bareRenderMs(const QStringList &paths, int box)
{
    QElapsedTimer t;
    t.start();
    for (const QString &path : paths) {
        QPdfDocument doc;
        if (doc.load(path) != QPdfDocument::Error::None || doc.pageCount() < 1)
            continue;
        const QImage image = doc.render(0, sheafline::fitInSquare(doc.pagePointSize(0), box));
        Q_UNUSED(image);
    }
    return msSince(t);
}

// The same through the engine the render service makes file pictures with (the
// confined render helper when it is there; it draws annotations and lays the
// page on white), serially on this thread: how much of the cold time is the
// engine's.
double engineRenderMs(PdfEngines &engines, const QStringList &paths, int box)
{
    QElapsedTimer t;
    t.start();
    for (const QString &path : paths) {
        const std::unique_ptr<PdfEngine> engine = engines.create();
        if (engine->open(path, QString()) != PdfOpenStatus::Ok)
            continue;
        const QImage image = engine->render(0, sheafline::fitInSquare(engine->pageSize(0), box), 0);
        Q_UNUSED(image);
        engine->close();
    }
    return msSince(t);
}

// Reads and decodes each file in turn; the whole time.
double decodeMs(const QStringList &files, const std::function<QImage(const QByteArray &)> &decode)
{
    QElapsedTimer t;
    t.start();
    for (const QString &file : files) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QImage image = decode(f.readAll());
        Q_UNUSED(image);
    }
    return msSince(t);
}

// The bare baseline: Qt's PNG reader.
double bareDecodeMs(const QStringList &files)
{
    return decodeMs(files, [](const QByteArray &png) { return QImage::fromData(png, "png"); });
}

// The same with the program's own PNG decoder: how much of the warm time is
// the decoding itself.
double ownDecodeMs(const QStringList &files)
{
    return decodeMs(files, &ThumbnailPng::decode);
}

// When the window's paint pass ends: the window repaints its changed widgets
// in one pass on an update request and hands the result to the window system
// at its end.  The view says that its screen is complete from inside that
// pass; the screen is shown once the pass is over.  (The event loop may go on
// with other work in the same turn, such as taking up the rest of the folder:
// that comes after the screen is shown.)
class PaintPassWatch : public QObject
{
public:
    explicit PaintPassWatch(QWidget *window) : m_window(window) { window->installEventFilter(this); }
    // Calls ended() once, at the end of the first pass after which done().
    void arm(std::function<bool()> done, std::function<void()> ended)
    {
        m_done = std::move(done);
        m_ended = std::move(ended);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_window || event->type() != QEvent::UpdateRequest || m_inside)
            return false;
        m_inside = true;
        static_cast<QObject *>(m_window)->event(event);
        m_inside = false;
        if (m_ended && m_done())
            std::exchange(m_ended, {})();
        return true;
    }

private:
    QWidget *m_window;
    std::function<bool()> m_done;
    std::function<void()> m_ended;
    bool m_inside = false;
};

// The window the user sees: the list on the left, the viewer on the right.
struct Window
{
    PdfEngines engines{PdfEngines::kindFromEnvironment()};
    QWidget widget;
    FileListView *list;
    TAcroPDF *acro;
    QString folder;
    std::unique_ptr<ThumbnailProvider> provider;
    PaintPassWatch watch{&widget};

    explicit Window(const QString &dir) : folder(dir + QLatin1Char('/'))
    {
        auto *layout = new QHBoxLayout(&widget);
        list = new FileListView(&widget);
        acro = new TAcroPDF(&widget, TAcroPDF::defaultCacheBytes, engines.factory(),
                            [this](int ms) { engines.shortenWait(ms); });
        layout->addWidget(list);
        layout->addWidget(acro);
        list->setFixedSize(800, 600);
        acro->setMinimumSize(600, 600);
        widget.show();
        list->model()->fillFromFolder(folder, QLocale());
        QCoreApplication::processEvents();
    }
    // A fresh provider: nothing in memory.
    void newProvider()
    {
        list->setViewStyle(FileListView::ViewStyle::Report);
        list->setThumbnailProvider(nullptr);
        provider = std::make_unique<ThumbnailProvider>(*acro->renderService(), ThumbnailCache::defaultEnvironment());
        list->setThumbnailProvider(provider.get());
        QCoreApplication::processEvents();
    }
    // Switches to the thumbnail style: the time until the screen is complete
    // and shown (the paint pass that completed it has ended), and the time
    // until the event loop came round after it; -1 when it never was.
    struct Shown
    {
        double ms = -1;
        double loopMs = -1;
    };
    Shown showThumbnails()
    {
        bool complete = false;
        const auto c = QObject::connect(list->thumbnailView(), &ThumbnailListView::screenComplete,
                                        [&complete] { complete = true; });
        QElapsedTimer t;
        Shown shown;
        watch.arm([&complete] { return complete; }, [&] { shown.ms = msSince(t); });
        t.start();
        list->setViewStyle(FileListView::ViewStyle::Thumbnail);
        const bool ok = bench::waitUntil([&] { return complete; }, 60000);
        const double ms = msSince(t);
        QObject::disconnect(c);
        watch.arm({}, {});
        if (!ok)
            return {};
        shown.loopMs = ms;
        if (shown.ms < 0) // completed outside a paint pass of the window
            shown.ms = ms;
        return shown;
    }
    // Drops the rest of the folder's work and lets the thumbnail under way
    // end: the next measurement starts on an idle render service.
    void settle()
    {
        provider->cancel();
        bench::waitUntil([&] { return !provider->isBusy(); }, 60000);
        provider->waitForWrites();
    }
    QStringList visiblePaths() const
    {
        QStringList paths;
        for (int row : list->thumbnailView()->visibleRows())
            if (!list->model()->entry(row).isDir)
                paths << list->thumbnailView()->pathOf(row);
        return paths;
    }
};

// Steps through `files` as a user does: the selection moves (preparing this
// file and the next), Enter shows it, the user looks at it until the next
// one is ready.  Returns each step's Enter -> shown time.
QList<double> step(Window &w, const QStringList &files, const std::function<bool()> &keepGoing)
{
    int shown = 0;
    QStringList prepared;
    const auto c1 = QObject::connect(w.acro, &TAcroPDF::documentShown, [&shown] { ++shown; });
    const auto c2 = QObject::connect(w.acro->renderService(), &PdfRenderService::prepared,
                                     [&prepared](const QString &path) { prepared << path; });
    QList<double> steps;
    for (int i = 0; i < files.size() && keepGoing(); ++i) {
        QStringList ahead{files.at(i)};
        if (i + 1 < files.size())
            ahead << files.at(i + 1);
        w.list->selectRow(i);
        w.acro->prepare(ahead);
        shown = 0;
        QElapsedTimer t;
        t.start();
        w.acro->LoadFile(files.at(i));
        if (bench::waitUntil([&] { return shown > 0; }, 60000))
            steps << msSince(t);
        if (i + 1 < files.size()) {
            bench::waitUntil([&] { return prepared.contains(files.at(i + 1)); }, 2000);
            prepared.clear();
        }
    }
    QObject::disconnect(c1);
    QObject::disconnect(c2);
    w.acro->setSrc(QString());
    return steps;
}

int run(const QStringList &args)
{
    const QString folder = args.isEmpty() ? bench::corpusFolder() : args.first();
    if (folder.isEmpty() || !QDir(folder).exists()) {
        QTextStream(stderr) << "usage: sheafline-bench thumbs [folder]  (no corpus found)\n";
        return 2;
    }
    // Never the user's own thumbnails.
    QTemporaryDir cacheHome;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheHome.path()));
    const QString thumbnails = cacheHome.path() + QStringLiteral("/thumbnails");
    auto emptyCache = [&] { QDir(thumbnails).removeRecursively(); };

    Window w(QDir(folder).absolutePath());
    if (w.list->model()->rowCount() == 0) {
        QTextStream(stderr) << "no PDF files in " << folder << "\n";
        return 2;
    }
    QStringList files;
    for (const FileEntry &e : w.list->model()->entries())
        if (!e.isDir)
            files << w.folder + e.name;

    // The first screenful, and the files read once so that both sides find
    // them in the system's file cache.
    w.newProvider();
    w.showThumbnails();
    const QStringList screen = w.visiblePaths();
    const int box = ThumbnailCache::flavorPixels(w.provider->flavor());
    for (const QString &path : screen) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            f.readAll();
    }
    w.provider->waitForWrites();

    // 1 and 2: cold and warm, alternating which side goes first.
    QList<Window::Shown> cold, warm;
    QList<double> bareCold, bareWarm, ownWarm;
    const ThumbnailCache cache(ThumbnailCache::defaultEnvironment());
    QStringList pngs;
    for (const QString &path : screen)
        pngs << cache.thumbnailPath(ThumbnailCache::flavorFor(box), ThumbnailCache::sourceOf(path));
    for (int r = 0; r < rounds; ++r) {
        emptyCache();
        w.newProvider();
        // The service has been idle since the last round: thumbnails start at once.
        if (r % 2)
            bareCold << bareRenderMs(screen, box);
        cold << w.showThumbnails();
        if (!(r % 2))
            bareCold << bareRenderMs(screen, box);
        w.settle();

        w.newProvider();
        const auto decodeBare = [&] {
            bareWarm << bareDecodeMs(pngs);
            ownWarm << ownDecodeMs(pngs);
        };
        if (r % 2)
            decodeBare();
        warm << w.showThumbnails();
        if (!(r % 2))
            decodeBare();
        w.settle();
    }

    // The render service alone, the same files queued at once: how much of
    // the cold time is the worker's rendering itself.
    QList<double> serviceMs;
    for (int r = 0; r < rounds; ++r) {
        int answered = 0;
        const auto c = QObject::connect(w.acro->renderService(), &PdfRenderService::filePictureRendered, w.list,
                                        [&answered] { ++answered; });
        QElapsedTimer t;
        t.start();
        w.acro->renderService()->queueFilePictures(screen, box);
        if (bench::waitUntil([&] { return answered >= screen.size(); }, 60000))
            serviceMs << msSince(t);
        QObject::disconnect(c);
    }

    // The floor: the switch with every picture in memory already.
    QList<Window::Shown> hot;
    QList<double> engine;
    for (int r = 0; r < rounds; ++r) {
        w.list->setViewStyle(FileListView::ViewStyle::Report);
        QCoreApplication::processEvents();
        hot << w.showThumbnails();
        w.settle();
        engine << engineRenderMs(w.engines, screen, box);
    }

    // 3. Stepping without thumbnails, then while the whole folder's are made.
    const int stepCount = qMin<int>(int(files.size()), 200);
    w.newProvider();
    const QList<double> plain = step(w, files.mid(0, stepCount), [] { return true; });
    emptyCache();
    w.newProvider();
    w.list->setViewStyle(FileListView::ViewStyle::Thumbnail);
    QCoreApplication::processEvents();
    const QList<double> during = step(w, files.mid(0, stepCount), [&] { return w.provider->isBusy(); });
    const int writtenWhileStepping = w.provider->counters().written;
    const bool folderDone = bench::waitUntil([&] { return !w.provider->isBusy(); }, 900000);
    w.provider->waitForWrites();

    auto shownMs = [](const QList<Window::Shown> &runs, double Window::Shown::*which) {
        QList<double> ms;
        for (const Window::Shown &s : runs)
            ms << s.*which;
        return ms;
    };
    // Each round's time against the bare work of the same round.
    auto ratios = [](const QList<double> &ms, const QList<double> &bare) {
        QList<double> r;
        for (int i = 0; i < ms.size() && i < bare.size(); ++i)
            if (ms.at(i) > 0 && bare.at(i) > 0)
                r << ms.at(i) / bare.at(i);
        return bench::median(r);
    };
    const QList<double> coldMs = shownMs(cold, &Window::Shown::ms);
    const QList<double> warmMs = shownMs(warm, &Window::Shown::ms);
    const QList<double> hotMs = shownMs(hot, &Window::Shown::ms);
    const QList<double> coldLoopMs = shownMs(cold, &Window::Shown::loopMs);
    const QList<double> warmLoopMs = shownMs(warm, &Window::Shown::loopMs);
    const QList<double> hotLoopMs = shownMs(hot, &Window::Shown::loopMs);
    bench::report("thumbs_screen_ms_cold", bench::median(coldMs));
    bench::report("thumbs_ratio_cold", ratios(coldMs, bareCold));
    bench::report("thumbs_screen_ms_warm", bench::median(warmMs));
    bench::report("thumbs_ratio_warm", ratios(warmMs, bareWarm));
    bench::report("step_p95_ms_during_thumbs", bench::percentile(during, 95));
    bench::report("thumbs_written", w.provider->counters().written);
    bench::report("thumbs_failures_written", w.provider->counters().failuresWritten);
    bench::report("thumbs_folder_done", folderDone ? 1 : 0);
    bench::report("thumbs_screen_items", screen.size());
    bench::report("thumbs_box_px", box);
    bench::report("thumbs_bare_render_ms_cold", bench::median(bareCold));
    bench::report("thumbs_bare_decode_ms_warm", bench::median(bareWarm));
    // The warm switch against the program's own decoder read serially.
    bench::report("thumbs_own_decode_ms_warm", bench::median(ownWarm));
    bench::report("thumbs_ratio_warm_own", ratios(warmMs, ownWarm));
    bench::report("thumbs_screen_ms_hot", bench::median(hotMs));
    // The switch alone against the bare decode: the floor under the warm ratio.
    bench::report("thumbs_ratio_hot", bench::median(hotMs) / bench::median(bareWarm));
    // The same times taken when the event loop came round after the paint
    // pass, with whatever else the program did in that turn.
    bench::report("thumbs_screen_ms_cold_loop", bench::median(coldLoopMs));
    bench::report("thumbs_ratio_cold_loop", ratios(coldLoopMs, bareCold));
    bench::report("thumbs_screen_ms_warm_loop", bench::median(warmLoopMs));
    bench::report("thumbs_ratio_warm_loop", ratios(warmLoopMs, bareWarm));
    bench::report("thumbs_screen_ms_hot_loop", bench::median(hotLoopMs));
    bench::report("thumbs_ratio_hot_loop", bench::median(hotLoopMs) / bench::median(bareWarm));
    bench::report("thumbs_engine_isolated", w.engines.kind() == PdfEngines::Kind::Isolated ? 1 : 0);
    bench::report("thumbs_engine_render_ms_cold", bench::median(engine));
    bench::report("thumbs_service_render_ms_cold", bench::median(serviceMs));
    bench::report("step_p50_ms_during_thumbs", bench::median(during));
    bench::report("steps_during_thumbs", during.size());
    bench::report("thumbs_written_while_stepping", writtenWhileStepping);
    bench::report("step_p95_ms_without_thumbs", bench::percentile(plain, 95));
    bench::report("step_p50_ms_without_thumbs", bench::median(plain));
    bench::report("documents", files.size());
    return 0;
}

} // namespace

SHEAFLINE_BENCH("thumbs", "[folder]  thumbnail style: first screen cold and warm, stepping while thumbnails are made",
                run);
