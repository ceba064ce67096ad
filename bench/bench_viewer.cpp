// sheafline-bench viewer [folder] [repeated-opens]
//
// 1. open latency: ReadPDF -> first page painted, per document, against the
//    bare engine doing the same visible work in the same run: QPdfDocument
//    load, render of page 1 at the same pixel size and one paint of that image
//    into a widget of the same size.  Each side is timed three times
//    (alternating which goes first) and its median kept;
// 2. stepping latency: Enter -> first page painted while stepping through the
//    folder in name order, with the background preparation that moving the
//    selection starts (the current file and the next one);
// 3. peak RSS after stepping through the whole folder, and RSS growth per
//    document over the last three quarters of the walk (RSS always of this
//    process and the processes it started, such as the render helper);
// 4. the long walk: 40 of the folder's documents copied 16 times into a
//    temporary folder and stepped through, round after round, until at least
//    `repeated-opens` documents (5,000 unless given; 0 skips it) have been
//    shown.  RSS growth per document after the first round, when the page
//    cache is long full, with the same content over and over; the growth of
//    the heap in use beside it tells a leak from a heap that only spreads.
#include "BenchSupport.h"

#include "viewer/DocumentDisplay.h"
#include "viewer/PdfPageView.h"
#include "viewer/TAcroPDF.h"
#include "viewer/isolated/PdfEngines.h"
#include "viewer/isolated/RenderHelper.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfDocumentRenderOptions>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <functional>

namespace {

struct DefaultMenu : ViewMenuChecks
{
    std::array<bool, 10> checks{false, true, false, false, false, false, true, false, false, true};
    bool isChecked(ViewItem item) const override { return checks[size_t(item)]; }
    void setChecked(ViewItem item, bool c) override { checks[size_t(item)] = c; }
};

// Counts a signal's emissions (the benchmark does not link Qt Test).
struct Counter
{
    int count = 0;
    QStringList args;
    bool isEmpty() const { return count == 0; }
    void clear() { count = 0; args.clear(); }
};

// Waits for the control to show the current document; false on a 30 s timeout.
bool waitShown(Counter &shown)
{
    return bench::waitUntil([&shown] { return !shown.isEmpty(); }, 30000);
}

// A widget that paints one image over its whole area, as the view paints a page.
class ImagePane : public QWidget
{
public:
    QImage image;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.drawImage(rect(), image);
    }
};

// The bare engine's open: load, render page 1 at the view's pixel size (with
// the annotations the view shows too) and paint it once into a widget of
// that size.
double bareOpenMs(const QString &path, const QSize &pixelSize, qreal dpr, ImagePane &pane)
{
    QElapsedTimer t;
    t.start();
    QPdfDocument doc;
    if (doc.load(path) != QPdfDocument::Error::None || doc.pageCount() < 1)
        return -1;
    QPdfDocumentRenderOptions options;
    options.setRenderFlags(QPdfDocumentRenderOptions::RenderFlag::Annotations);
    QImage img = doc.render(0, pixelSize, options);
    if (img.isNull())
        return -1;
    img.setDevicePixelRatio(dpr);
    pane.image = img;
    pane.repaint();
    return t.nsecsElapsed() / 1e6;
}

// CPU time of the whole process (every thread), in milliseconds.
double processCpuMs()
{
    timespec ts;
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// The least an answer from a worker thread costs: a call queued to another
// thread that queues its answer back, as an open does (request out, page
// back), timed over `rounds` round trips; the median in milliseconds.
double threadRoundTripMs(int rounds)
{
    QThread thread;
    QObject worker;
    worker.moveToThread(&thread);
    thread.start();
    QObject home;
    QList<double> trips;
    for (int i = 0; i < rounds; ++i) {
        bool back = false;
        QElapsedTimer t;
        t.start();
        QMetaObject::invokeMethod(&worker, [&home, &back] {
            QMetaObject::invokeMethod(&home, [&back] { back = true; }, Qt::QueuedConnection);
        }, Qt::QueuedConnection);
        if (bench::waitUntil([&back] { return back; }, 5000))
            trips << t.nsecsElapsed() / 1e6;
    }
    thread.quit();
    thread.wait();
    return bench::median(trips);
}

// Bytes the allocator hands out now (all arenas, mapped blocks included).
qint64 heapInUseKb()
{
    const struct mallinfo2 mi = ::mallinfo2();
    return qint64((mi.uordblks + mi.hblkhd) / 1024);
}

struct OpenSample
{
    QString file;
    double ours = 0;
    double bare = 0;
    double oursCpu = 0;
    double bareCpu = 0;
};

int run(const QStringList &args)
{
    const QString folder = args.isEmpty() || args.first().isEmpty() ? bench::corpusFolder() : args.first();
    const int repeatedOpens = args.size() > 1 ? qMax(0, args.at(1).toInt()) : 5000;
    if (folder.isEmpty() || !QDir(folder).exists()) {
        QTextStream(stderr) << "usage: sheafline-bench viewer [folder] [repeated-opens]  (no corpus found)\n";
        return 2;
    }
    auto pdfFiles = [](const QString &in) {
        QStringList out;
        const QDir dir(in);
        for (const QString &name : dir.entryList({QStringLiteral("*.pdf"), QStringLiteral("*.PDF")}, QDir::Files, QDir::Name))
            out << dir.filePath(name);
        return out;
    };
    const QStringList files = pdfFiles(folder);
    if (files.isEmpty()) {
        QTextStream(stderr) << "no PDF files in " << folder << "\n";
        return 2;
    }
    const bool verbose = qEnvironmentVariableIsSet("SHEAFLINE_BENCH_VERBOSE");

    PdfEngines engines(PdfEngines::kindFromEnvironment());
    QWidget window;
    auto *acro = new TAcroPDF(&window, TAcroPDF::defaultCacheBytes, engines.factory(),
                              [&engines](int ms) { engines.shortenWait(ms); });
    acro->resize(800, 600);
    window.resize(800, 600);
    window.show();
    ImagePane pane;
    pane.setAttribute(Qt::WA_OpaquePaintEvent);
    QCoreApplication::processEvents();

    DefaultMenu menu;
    DocumentDisplay::Hooks hooks;
    hooks.viewer = [acro]() -> PdfViewer * { return acro; };
    DocumentDisplay display(menu, hooks);
    Counter shown;
    QObject::connect(acro, &TAcroPDF::documentShown, [&shown] { ++shown.count; });
    PdfRenderService *service = acro->renderService();
    PdfPageView *view = acro->pageView();
    const qreal dpr = view->devicePixelRatioForPages();

    // Pass 0: first page size of each openable file (and a warm file cache).
    QList<QPair<QString, QSize>> openable;
    for (const QString &f : files) {
        shown.clear();
        display.readPdf(f);
        if (!waitShown(shown) || acro->showsMessage())
            continue;
        openable << qMakePair(f, PageLayout::pixelSize(view->pageRectInViewport(0).size(), dpr));
    }

    // 1. Open latency against the bare engine.
    QList<OpenSample> samples;
    QList<double> ratios, cpuRatios, excess, oursMs, bareMs;
    for (int i = 0; i < openable.size(); ++i) {
        const QString &f = openable.at(i).first;
        const QSize px = openable.at(i).second;
        pane.resize(PageLayout::pixelSize(px, 1 / dpr));
        pane.show();
        QList<double> ours, bare, oursCpu, bareCpu;
        auto measureOurs = [&] {
            acro->setSrc(QString());
            service->cache().clear();
            QCoreApplication::processEvents();
            shown.clear();
            const double cpu = processCpuMs();
            QElapsedTimer t;
            t.start();
            display.readPdf(f);
            if (waitShown(shown)) {
                ours << t.nsecsElapsed() / 1e6;
                oursCpu << processCpuMs() - cpu;
            }
        };
        auto measureBare = [&] {
            const double cpu = processCpuMs();
            const double ms = bareOpenMs(f, px, dpr, pane);
            if (ms > 0) {
                bare << ms;
                bareCpu << processCpuMs() - cpu;
            }
        };
        for (int round = 0; round < 3; ++round) {
            if ((i + round) % 2) {
                measureOurs();
                measureBare();
            } else {
                measureBare();
                measureOurs();
            }
        }
        pane.hide();
        if (bare.size() == 3 && ours.size() == 3) {
            const OpenSample s{QFileInfo(f).fileName(), bench::median(ours), bench::median(bare),
                               bench::median(oursCpu), bench::median(bareCpu)};
            samples << s;
            if (s.bareCpu > 0)
                cpuRatios << s.oursCpu / s.bareCpu;
            ratios << s.ours / s.bare;
            excess << s.ours - s.bare;
            oursMs << s.ours;
            bareMs << s.bare;
            if (verbose)
                QTextStream(stderr) << "open " << s.file << " ours " << s.ours << " bare " << s.bare << "\n";
        }
    }

    // Stepping as a user does: the selection moves (preparing this file and
    // the next), Enter shows it, the user looks at it while the next one is
    // prepared.  `atStep` runs before each step with the number of documents
    // shown so far.
    Counter prepared;
    QObject::connect(service, &PdfRenderService::prepared, [&prepared](const QString &path) {
        ++prepared.count;
        prepared.args << path;
    });
    QList<double> steps;
    auto walk = [&](const QStringList &list, int opens, const std::function<void(int)> &atStep) {
        acro->setSrc(QString());
        service->cache().clear();
        for (int n = 0; n < opens; ++n) {
            atStep(n);
            const QString &f = list.at(n % list.size());
            const QString &next = list.at((n + 1) % list.size());
            const bool last = n + 1 == opens;
            QStringList ahead{f};
            if (!last)
                ahead << next;
            acro->prepare(ahead); // the selection moved onto f
            shown.clear();
            QElapsedTimer t;
            t.start();
            display.readPdf(f); // Enter
            if (waitShown(shown))
                steps << t.nsecsElapsed() / 1e6;
            // Dwell until the next file is ready (or 2 s).
            if (!last) {
                bench::waitUntil([&] { return prepared.args.contains(next); }, 2000);
                prepared.clear();
            }
        }
        acro->setSrc(QString());
    };

    // 2 and 3. The folder once.
    const int quarterIndex = int(files.size()) / 4;
    qint64 rssQuarter = 0, heapQuarter = 0;
    walk(files, int(files.size()), [&](int n) {
        if (n == quarterIndex) {
            rssQuarter = bench::treeRssKb();
            heapQuarter = heapInUseKb();
        }
    });
    const qint64 rssEnd = bench::treeRssKb();
    const qint64 heapEnd = heapInUseKb();
    const QList<double> corpusSteps = steps;

    // 4. The long walk over repeated content.
    double repeatedGrowth = 0, repeatedHeapGrowth = 0;
    int repeatedCounted = 0, repeatedShown = 0;
    if (repeatedOpens > 0 && !openable.isEmpty()) {
        // 40 documents spread over the folder, leaving out the slowest
        // quarter so that the walk takes minutes, not hours.
        QList<QPair<double, QString>> bySpeed;
        for (const OpenSample &s : samples)
            bySpeed << qMakePair(s.ours, s.file);
        std::sort(bySpeed.begin(), bySpeed.end());
        QStringList quick;
        for (int i = 0; i < bySpeed.size() * 3 / 4; ++i)
            quick << bySpeed.at(i).second;
        quick.sort();
        QStringList chosen;
        const int want = qMin(40, int(quick.size()));
        for (int i = 0; i < want; ++i)
            chosen << quick.at(i * quick.size() / want);
        QTemporaryDir temp(QDir::tempPath() + QStringLiteral("/sheafline-bench-XXXXXX"));
        QStringList copies;
        for (int c = 0; c < 16 && temp.isValid(); ++c) {
            for (const QString &name : chosen) {
                const QString copy = temp.filePath(QStringLiteral("%1 %2").arg(c, 2, 10, QLatin1Char('0')).arg(name));
                if (QFile::copy(QDir(folder).filePath(name), copy))
                    copies << copy;
            }
        }
        copies.sort();
        if (!copies.isEmpty()) {
            const int opens = qMax(repeatedOpens, int(copies.size()) * 2);
            const int from = int(copies.size());
            qint64 rssFrom = 0, heapFrom = 0;
            walk(copies, opens, [&](int n) {
                if (verbose && n % 640 == 0)
                    QTextStream(stderr) << "after " << n << " documents: rss " << bench::treeRssKb() << " kB, heap in use "
                                        << heapInUseKb() << " kB\n";
                if (n == from) {
                    rssFrom = bench::treeRssKb();
                    heapFrom = heapInUseKb();
                }
            });
            repeatedShown = opens;
            repeatedCounted = opens - from;
            repeatedGrowth = double(bench::treeRssKb() - rssFrom) / repeatedCounted;
            repeatedHeapGrowth = double(heapInUseKb() - heapFrom) / repeatedCounted;
        }
    }

    bench::report("open_ratio_median", bench::median(ratios));
    bench::report("open_ratio_p95", bench::percentile(ratios, 95));
    bench::report("open_excess_ms_p50", bench::median(excess));
    bench::report("open_excess_ms_p95", bench::percentile(excess, 95));
    bench::report("open_excess_ms_max", excess.isEmpty() ? 0 : *std::max_element(excess.begin(), excess.end()));
    if (!samples.isEmpty()) {
        const auto worst = std::max_element(samples.begin(), samples.end(), [](const OpenSample &a, const OpenSample &b) {
            return a.ours / a.bare < b.ours / b.bare;
        });
        bench::reportText("open_worst_ratio_file", QStringLiteral("%1 %2 (%3 ms vs %4 ms)")
                                                       .arg(worst->file)
                                                       .arg(worst->ours / worst->bare, 0, 'f', 2)
                                                       .arg(worst->ours, 0, 'f', 1)
                                                       .arg(worst->bare, 0, 'f', 1));
    }
    // Documents slower than 1.5 times the bare engine plus 5 ms.
    bench::report("open_files_over_limit", std::count_if(samples.begin(), samples.end(), [](const OpenSample &s) {
                      return s.ours > 1.5 * s.bare + 5;
                  }));
    // The same comparison in CPU time of all threads, steadier on a busy
    // machine, and the least a round trip to a worker thread costs here: the
    // part of an open that is waiting for a core, not work.
    bench::report("open_cpu_ratio_median", bench::median(cpuRatios));
    bench::report("thread_round_trip_ms_p50", threadRoundTripMs(200));
    // The same for a request to the render helper, which an open makes twice.
    if (RenderHelper *helper = engines.helper())
        bench::report("helper_round_trip_ms_p50", helper->roundTripMs(200));
    bench::report("open_ms_median", bench::median(oursMs));
    bench::report("bare_open_ms_median", bench::median(bareMs));
    bench::report("step_p50_ms", bench::median(corpusSteps));
    bench::report("step_p95_ms", bench::percentile(corpusSteps, 95));
    bench::report("peak_rss_mb", bench::treePeakRssKb() / 1024.0);
    bench::report("peak_rss_mb_program_alone", bench::peakRssKb() / 1024.0);
    const int counted = int(files.size()) - quarterIndex;
    bench::report("rss_growth_kb_per_doc", counted > 0 ? double(rssEnd - rssQuarter) / counted : 0.0);
    bench::report("heap_growth_kb_per_doc", counted > 0 ? double(heapEnd - heapQuarter) / counted : 0.0);
    if (repeatedCounted > 0) {
        bench::report("rss_growth_kb_per_doc_repeated", repeatedGrowth);
        bench::report("heap_growth_kb_per_doc_repeated", repeatedHeapGrowth);
        bench::report("documents_repeated", repeatedShown);
    }
    bench::report("cache_budget_mb", service->cache().budgetBytes() / 1048576.0);
    bench::report("documents", files.size());
    bench::report("documents_compared", ratios.size());
    return 0;
}

} // namespace

SHEAFLINE_BENCH("viewer", "[folder] [repeated-opens]  open latency ratio, stepping latency, memory (with a long walk of repeated content)", run);
