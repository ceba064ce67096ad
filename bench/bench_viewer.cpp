// sheafline-bench viewer [folder]
//
// 1. open latency: ReadPDF -> first page painted, as a ratio to a bare
//    QPdfDocument load + render of page 1 at the same pixel size, measured in
//    the same run (alternating which goes first);
// 2. stepping latency: Enter -> first page painted while stepping through the
//    folder in name order, with the background preparation that moving the
//    selection starts (the current file and the next one);
// 3. peak RSS after stepping through the whole folder, and RSS growth per
//    document over the last three quarters of the walk.
#include "BenchSupport.h"

#include "viewer/DocumentDisplay.h"
#include "viewer/PdfPageView.h"
#include "viewer/TAcroPDF.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPdfDocument>
#include <QTextStream>

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
    QElapsedTimer t;
    t.start();
    while (shown.isEmpty() && t.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return !shown.isEmpty();
}

double bareOpenMs(const QString &path, const QSize &pixelSize)
{
    QElapsedTimer t;
    t.start();
    QPdfDocument doc;
    if (doc.load(path) != QPdfDocument::Error::None || doc.pageCount() < 1)
        return -1;
    const QImage img = doc.render(0, pixelSize);
    const double ms = t.nsecsElapsed() / 1e6;
    return img.isNull() ? -1 : ms;
}

int run(const QStringList &args)
{
    const QString folder = args.isEmpty() ? bench::corpusFolder() : args.first();
    if (folder.isEmpty() || !QDir(folder).exists()) {
        QTextStream(stderr) << "usage: sheafline-bench viewer [folder]  (no corpus found)\n";
        return 2;
    }
    QStringList files;
    const QDir dir(folder);
    for (const QString &name : dir.entryList({QStringLiteral("*.pdf"), QStringLiteral("*.PDF")}, QDir::Files, QDir::Name))
        files << dir.filePath(name);
    if (files.isEmpty()) {
        QTextStream(stderr) << "no PDF files in " << folder << "\n";
        return 2;
    }

    QWidget window;
    auto *acro = new TAcroPDF(&window);
    acro->resize(800, 600);
    window.resize(800, 600);
    window.show();
    QCoreApplication::processEvents();

    DefaultMenu menu;
    DocumentDisplay::Hooks hooks;
    hooks.acroPdf = [acro]() -> IAcroAXDocShim * { return acro; };
    hooks.acroPdfVisible = [acro, &window] { return acro->isVisibleTo(&window); };
    DocumentDisplay display(menu, hooks);
    Counter shown;
    QObject::connect(acro, &TAcroPDF::documentShown, [&shown] { ++shown.count; });
    PdfRenderService *service = acro->renderService();

    // Pass 0: first page size of each openable file (and a warm file cache).
    QList<QPair<QString, QSize>> openable;
    for (const QString &f : files) {
        shown.clear();
        display.readPdf(f);
        if (!waitShown(shown) || acro->showsMessage())
            continue;
        PdfPageView *view = acro->pageView();
        openable << qMakePair(f, PageLayout::pixelSize(view->pageRectInViewport(0).size(), view->devicePixelRatioForPages()));
    }

    // 1. Open latency against the bare engine.
    QList<double> ratios, oursMs, bareMs;
    for (int i = 0; i < openable.size(); ++i) {
        const QString &f = openable.at(i).first;
        double bare = -1, ours = -1;
        auto measureOurs = [&] {
            acro->setSrc(QString());
            service->cache().clear();
            shown.clear();
            QElapsedTimer t;
            t.start();
            display.readPdf(f);
            if (waitShown(shown))
                ours = t.nsecsElapsed() / 1e6;
        };
        if (i % 2) {
            measureOurs();
            bare = bareOpenMs(f, openable.at(i).second);
        } else {
            bare = bareOpenMs(f, openable.at(i).second);
            measureOurs();
        }
        if (bare > 0 && ours > 0) {
            ratios << ours / bare;
            oursMs << ours;
            bareMs << bare;
        }
    }

    // 2 and 3. Step through the folder as a user does: the selection moves
    // (preparing this file and the next), Enter shows it, the user looks at it
    // while the next one is prepared.
    acro->setSrc(QString());
    service->cache().clear();
    QList<double> steps;
    qint64 rssQuarter = 0;
    int quarterIndex = files.size() / 4;
    Counter prepared;
    QObject::connect(service, &PdfRenderService::prepared, [&prepared](const QString &path) {
        ++prepared.count;
        prepared.args << path;
    });
    for (int i = 0; i < files.size(); ++i) {
        if (i == quarterIndex)
            rssQuarter = bench::currentRssKb();
        const QString &f = files.at(i);
        QStringList ahead{f};
        if (i + 1 < files.size())
            ahead << files.at(i + 1);
        acro->prepare(ahead); // the selection moved onto f
        shown.clear();
        QElapsedTimer t;
        t.start();
        display.readPdf(f); // Enter
        if (waitShown(shown))
            steps << t.nsecsElapsed() / 1e6;
        // Dwell until the next file is ready (or 2 s).
        if (i + 1 < files.size()) {
            QElapsedTimer dwell;
            dwell.start();
            auto ready = [&] {
                return prepared.args.contains(files.at(i + 1));
            };
            while (!ready() && dwell.elapsed() < 2000)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            prepared.clear();
        }
    }
    const qint64 rssEnd = bench::currentRssKb();
    acro->setSrc(QString());

    bench::report("open_ratio_median", bench::median(ratios));
    bench::report("open_ratio_p95", bench::percentile(ratios, 95));
    bench::report("open_ms_median", bench::median(oursMs));
    bench::report("bare_open_ms_median", bench::median(bareMs));
    bench::report("step_p50_ms", bench::median(steps));
    bench::report("step_p95_ms", bench::percentile(steps, 95));
    bench::report("peak_rss_mb", bench::peakRssKb() / 1024.0);
    const int counted = files.size() - quarterIndex;
    bench::report("rss_growth_kb_per_doc", counted > 0 ? double(rssEnd - rssQuarter) / counted : 0.0);
    bench::report("cache_budget_mb", service->cache().budgetBytes() / 1048576.0);
    bench::report("documents", files.size());
    bench::report("documents_compared", ratios.size());
    return 0;
}

} // namespace

SHEAFLINE_BENCH("viewer", "[folder]  open latency ratio, stepping latency, memory", run);
