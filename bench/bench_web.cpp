// sheafline-bench web [folder]: the web-browser back-end.
//
//   web_open_ratio_median  Navigate -> first page painted by the viewer, as a
//                          ratio to a bare QPdfDocument load + render of page 1
//                          800 px wide (the viewer picks its own zoom), on the
//                          same files in this run, alternating which goes first
//   web_rss_mb_50          resident memory of the program and the engine's
//                          processes after navigating to up to 50 documents, in MB
//   web_documents_shown    how many of those documents the browser showed
#include "BenchSupport.h"
#include "ProcessTree.h"

#include "viewer/web/TWebBrowser.h"
#include "viewer/web/TWebDocument.h"
#include "viewer/web/WebBrowserProcess.h"
#include "viewer/web/WebPdfScheme.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPdfDocument>
#include <QTimer>

#include <cstdio>

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

// Navigate -> the viewer's first painted page; -1 when it failed or timed out.
double webOpenMs(TWebBrowser &browser, const QString &path)
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
    browser.Navigate(path);
    loop.exec();
    const double ms = timer.nsecsElapsed() / 1e6;
    QObject::disconnect(connection);
    return ok ? ms : -1;
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
    browser.resize(viewWidth + 40, viewHeight);
    browser.show();
    // Start the engine and the viewer once; its start is not part of a step.
    webOpenMs(browser, files.first());
    qpdfOpenMs(files.first());

    const double startRssMb = ProcessTree::rssKb(ProcessTree::ownPids()) / 1024.0;

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
    browser.Navigate(QString());

    std::printf("web: %lld documents from %s, %d not shown by one of the two; baseline: bare QPdfDocument load + render of page 1 at %d px wide\n"
                "web: medians %.1f ms (browser) and %.1f ms (baseline); memory %.0f MB after the first document\n",
                static_cast<long long>(files.size()), qPrintable(folder), failed, viewWidth,
                bench::median(webMs), bench::median(baseMs), startRssMb);
    bench::report("web_open_ratio_median", bench::median(ratios));
    bench::report("web_rss_mb_50", rssMb);
    bench::report("web_documents_shown", shown);
    return 0;
}

} // namespace

SHEAFLINE_BENCH("web", "web-browser back-end: open latency ratio to a bare QtPdf load, memory after 50 documents", benchWeb);
