#include "viewer/web/WebBrowserProcess.h"

#include "viewer/web/WebPdfScheme.h"

#include <QCoreApplication>
#include <QDir>
#include <QString>

#include <unistd.h>

namespace {

void addChromiumFlag(const QByteArray &flag)
{
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (flags.split(' ').contains(flag))
        return;
    if (!flags.isEmpty())
        flags += ' ';
    flags += flag;
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
}

} // namespace

void prepareWebBrowserProcess()
{
    // Chromium refuses to start its sandboxed renderers as root (it would
    // abort with "Running as root without --no-sandbox is not supported").
    // Root only happens in containers and CI here, so the sandbox goes off
    // for that case alone; an ordinary user always keeps it.
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");

    // Without a render node (headless servers, Xvfb) the GPU process can only
    // fail and retry; software compositing is what would be used anyway.
    if (QDir(QStringLiteral("/dev/dri")).entryList({QStringLiteral("renderD*")}, QDir::System).isEmpty())
        addChromiumFlag("--disable-gpu");

    if (!QCoreApplication::instance())
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    WebPdfScheme::registerScheme();
}
