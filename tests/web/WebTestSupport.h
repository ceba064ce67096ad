#pragma once

// Helpers shared by the browser back-end's tests: running scripts in the
// page, reading the viewer's state back, and the file descriptors our
// processes (the engine's included) hold.

#include "viewer/web/TWebBrowser.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QVariant>
#include <QWebEnginePage>

#include <memory>

#include <unistd.h>

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

// Pids of this process and of every process it started (the engine's
// zygote, renderers and utilities).
inline QList<qint64> ownProcessTree()
{
    QHash<qint64, qint64> parentOf;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            parentOf.insert(pid, fields.at(1).toLongLong());
    }
    QList<qint64> tree{::getpid()};
    for (qsizetype i = 0; i < tree.size(); ++i) {
        for (auto it = parentOf.cbegin(); it != parentOf.cend(); ++it) {
            if (it.value() == tree.at(i) && !tree.contains(it.key()))
                tree.append(it.key());
        }
    }
    return tree;
}

// Descriptors of our process tree that refer to path.
inline QStringList openDescriptors(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    QStringList found;
    for (qint64 pid : ownProcessTree()) {
        const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
        const QStringList fds = QDir(fdDir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : fds) {
            if (QFile::symLinkTarget(fdDir + QLatin1Char('/') + fd) == target)
                found << fdDir + QLatin1Char('/') + fd;
        }
    }
    return found;
}

} // namespace WebTest
