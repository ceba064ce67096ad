// sheafline-bench web [folder]: the web-browser back-end.
//
//   web_open_ratio_median  Navigate -> first page painted by the viewer, as a
//                          ratio to a bare QPdfDocument load + render of page 1
//                          800 px wide (the viewer picks its own zoom), on the
//                          same files in this run, alternating which goes first
//   web_rss_mb_50          resident memory of the program and the engine's
//                          processes after navigating to up to 50 documents, in MB
//   web_documents_shown    how many of those documents the browser showed
//   web_step_p50_ms,       stepping through the same documents as a user does:
//   web_step_p95_ms        the selection moves onto a file (preparing it and
//                          the next one), Enter shows it through ReadPDF's
//                          logic (Enter -> first page painted), and the user
//                          looks at it until the next one is prepared (or 2 s)
//   web_rss_mb_50_prepared resident memory as above, after that walk
//   web_step_documents     how many documents the walk showed
#include "BenchSupport.h"
#include "ProcessTree.h"

#include "viewer/DocumentDisplay.h"

#include "viewer/web/TWebBrowser.h"
#include "viewer/web/TWebDocument.h"
#include "viewer/web/WebBrowserProcess.h"
#include "viewer/web/WebPdfScheme.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPdfDocument>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>

namespace {

// The engine's switches and the viewer's scheme must be in place before the
// application object exists, which bench/main.cpp creates.
const bool webPrepared = (prepareWebBrowserProcess(), true);

constexpr int documentCount = 50;
constexpr int viewWidth = 800;
constexpr int viewHeight = 900;
constexpr int timeoutMs = 30000;

// Bare engine: load and render the first page viewWidth pixels wide.
double qpdfOpenMs(const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    QPdfDocument document;
    if (document.load(path) != QPdfDocument::Error::None || document.pageCount() < 1)
        return -1;
    const QSizeF points = document.pagePointSize(0);
    if (points.isEmpty())
        return -1;
    const QSize size(viewWidth, qMax(1, int(viewWidth * points.height() / points.width())));
    const QImage image = document.render(0, size);
    if (image.isNull())
        return -1;
    return timer.nsecsElapsed() / 1e6;
}

QByteArray processType(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return "?";
    for (const QByteArray &arg : file.readAll().split('\0')) {
        if (arg.startsWith("--type="))
            return arg.mid(7);
    }
    return "browser";
}

// Proportional share of the processes' memory (shared pages split between
// the processes that map them), in kB.
qint64 pssKb(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// Resident and proportional memory per process of ours; returns the PSS total in MB.
double printProcesses(const char *when)
{
    qint64 total = 0;
    for (qint64 pid : ProcessTree::ownPids()) {
        const qint64 pss = pssKb(pid);
        total += pss;
        std::printf("web: %s: %-8s rss %6.1f MB  pss %6.1f MB\n", when, processType(pid).constData(),
                    ProcessTree::rssKb({pid}) / 1024.0, pss / 1024.0);
    }
    return total / 1024.0;
}

// show(path) -> the viewer's first painted page; -1 when it failed or timed out.
double webOpenMs(TWebBrowser &browser, const QString &path,
                 const std::function<void(const QString &)> &show)
{
    QEventLoop loop;
    bool ok = false;
    const auto connection = QObject::connect(&browser, &TWebBrowser::DocumentShown, &loop,
                                             [&](TWebDocument *, bool shown) {
                                                 ok = shown;
                                                 loop.quit();
                                             });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    show(path);
    loop.exec();
    const double ms = timer.nsecsElapsed() / 1e6;
    QObject::disconnect(connection);
    return ok ? ms : -1;
}

double webOpenMs(TWebBrowser &browser, const QString &path)
{
    return webOpenMs(browser, path, [&browser](const QString &p) { browser.Navigate(p); });
}

// The View menu at its start-up defaults.
struct DefaultMenu : ViewMenuChecks
{
    std::array<bool, 10> checks{false, true, false, false, false, false, true, false, false, true};
    bool isChecked(ViewItem item) const override { return checks[size_t(item)]; }
    void setChecked(ViewItem item, bool c) override { checks[size_t(item)] = c; }
};

struct Stepping
{
    QList<double> stepsMs;
    QList<QPair<double, QString>> slowest;
    int shown = 0;
};

// Steps through files as a user does, with the preparation that moving the
// selection starts (the file and the next one).
Stepping stepThrough(TWebBrowser &browser, const QStringList &files)
{
    DefaultMenu menu;
    DocumentDisplay::Hooks hooks;
    hooks.viewer = [&browser]() -> PdfViewer * { return &browser; };
    DocumentDisplay display(menu, hooks);

    QStringList prepared;
    const auto connection = QObject::connect(&browser, &TWebBrowser::Prepared,
                                             [&prepared](const QString &path) { prepared << path; });
    Stepping out;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString &path = files.at(i);
        QStringList ahead{path};
        if (i + 1 < files.size())
            ahead << files.at(i + 1);
        browser.prepare(ahead); // the selection moved onto path
        const double ms = webOpenMs(browser, path, [&display](const QString &p) { display.readPdf(p); }); // Enter
        if (ms > 0) {
            out.stepsMs << ms;
            out.slowest << qMakePair(ms, QFileInfo(path).fileName());
            ++out.shown;
        }
        if (i + 1 < files.size()) {
            const QString next = QFileInfo(files.at(i + 1)).absoluteFilePath();
            bench::waitUntil([&] { return prepared.contains(next); }, 2000);
            prepared.clear();
        }
    }
    QObject::disconnect(connection);
    browser.cancelPrepare();
    std::sort(out.slowest.begin(), out.slowest.end(), std::greater<>());
    out.slowest = out.slowest.mid(0, 5);
    return out;
}

int benchWeb(const QStringList &args)
{
    Q_UNUSED(webPrepared);
    const QString folder = args.value(0, bench::corpusFolder());
    if (folder.isEmpty() || !QDir(folder).exists()) {
        std::fprintf(stderr, "web: no folder of PDFs (give one, or place the corpus at ../shared/corpus/pdfjs)\n");
        return 2;
    }
    if (!WebPdfScheme::viewerAvailable()) {
        std::fprintf(stderr, "web: the pdf.js viewer (libjs-pdf) is not installed\n");
        return 2;
    }
    const QStringList files = bench::pdfFiles(folder).mid(0, documentCount);
    if (files.isEmpty()) {
        std::fprintf(stderr, "web: no PDF files in %s\n", qPrintable(folder));
        return 2;
    }

    TWebBrowser browser;
    browser.widget()->resize(viewWidth + 40, viewHeight);
    browser.widget()->show();
    // Start the engine and the viewer once; its start is not part of a step.
    webOpenMs(browser, files.first());
    qpdfOpenMs(files.first());

    const double startRssMb = ProcessTree::rssKb(ProcessTree::ownPids()) / 1024.0;
    printProcesses("after the first document");

    QList<double> ratios, webMs, baseMs;
    int failed = 0;
    int shown = 0;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString &path = files.at(i);
        // Whichever goes first reads the file from disk; take turns.
        double base = -1, web = -1;
        if (i % 2) {
            web = webOpenMs(browser, path);
            base = qpdfOpenMs(path);
        } else {
            base = qpdfOpenMs(path);
            web = webOpenMs(browser, path);
        }
        if (web > 0)
            ++shown;
        if (base <= 0 || web <= 0) {
            ++failed;
            continue;
        }
        ratios << web / base;
        webMs << web;
        baseMs << base;
    }
    const double rssMb = ProcessTree::rssKb(ProcessTree::ownPids()) / 1024.0;
    const double pssMb = printProcesses("after 50 documents");

    const Stepping stepping = stepThrough(browser, files);
    const double steppedRssMb = ProcessTree::rssKb(ProcessTree::ownPids()) / 1024.0;
    for (const auto &[ms, name] : stepping.slowest)
        std::printf("web: slow step %.1f ms %s\n", ms, qPrintable(name));
    browser.Navigate(QString());

    std::printf("web: %lld documents from %s, %d not shown by one of the two; baseline: bare QPdfDocument load + render of page 1 at %d px wide\n"
                "web: medians %.1f ms (browser) and %.1f ms (baseline); memory %.0f MB after the first document\n",
                static_cast<long long>(files.size()), qPrintable(folder), failed, viewWidth,
                bench::median(webMs), bench::median(baseMs), startRssMb);
    bench::report("web_open_ratio_median", bench::median(ratios));
    bench::report("web_rss_mb_50", rssMb);
    bench::report("web_pss_mb_50", pssMb);
    bench::report("web_documents_shown", shown);
    bench::report("web_step_p50_ms", bench::median(stepping.stepsMs));
    bench::report("web_step_p95_ms", bench::percentile(stepping.stepsMs, 95));
    bench::report("web_step_documents", stepping.shown);
    bench::report("web_rss_mb_50_prepared", steppedRssMb);
    return 0;
}

} // namespace

SHEAFLINE_BENCH("web", "web-browser back-end: open latency ratio to a bare QtPdf load, memory after 50 documents", benchWeb);
