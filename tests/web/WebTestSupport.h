#pragma once

// Helpers shared by the browser back-end's tests: running scripts in the
// page, reading the viewer's state back, and the file descriptors our
// processes (the engine's included) hold.

#include "support/ProcessTree.h"
#include "viewer/web/TWebBrowser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QVariant>
#include <QWebEnginePage>

#include <memory>

namespace WebTest {

// Runs a script in the page and waits for its result (invalid on timeout).
inline QVariant js(TWebBrowser &browser, const QString &script)
{
    auto result = std::make_shared<std::pair<bool, QVariant>>(false, QVariant());
    browser.page()->runJavaScript(script, [result](const QVariant &v) { *result = {true, v}; });
    QElapsedTimer timer;
    timer.start();
    while (!result->first && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return result->second;
}

// The page count once the viewer shows a document with its first page painted; 0 before.
inline const QString probeShown = QStringLiteral(
    "(function(){ const a = window.PDFViewerApplication;"
    " return !!(a && a.pdfDocument && a.isInitialViewSet && window.sheafline.status().firstPageRendered)"
    "   ? a.pdfDocument.numPages : 0; })()");

// The documents the page holds prepared and ready to show, sorted and
// separated by spaces.
inline const QString probeReadyFiles = QStringLiteral(
    "Object.entries(window.sheafline.preparedFiles()).filter(e => e[1]).map(e => e[0]).sort().join(' ')");

// Pids of this process and of every process it started (the engine's
// zygote, renderers and utilities).
inline QList<qint64> ownProcessTree()
{
    return ProcessTree::ownPids();
}

// Descriptors of our process tree that refer to path.
inline QStringList openDescriptors(const QString &path)
{
    return ProcessTree::openDescriptors(path, ownProcessTree());
}

} // namespace WebTest
