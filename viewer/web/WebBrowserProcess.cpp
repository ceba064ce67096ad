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
    const bool sandboxed = ::geteuid() != 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX");
    if (!sandboxed) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        // The zygote exists to start renderers inside the sandbox; without
        // one it would only start the view's single renderer a little
        // sooner, and it holds 50 MB resident (22 MB proportional) for that.
        addChromiumFlag("--no-zygote");
    }

    // Without a render node (headless servers, Xvfb) the GPU process can only
    // fail and retry; software compositing is what would be used anyway.
    if (QDir(QStringLiteral("/dev/dri")).entryList({QStringLiteral("renderD*")}, QDir::System).isEmpty())
        addChromiumFlag("--disable-gpu");

    // What the view does not need, measured with `sheafline-bench web`:
    // - the unsandboxed zygote only starts GPU and utility processes, which
    //   this engine runs inside the browser process (51 MB resident);
    // - low-end device mode keeps the renderer's caches and V8 heaps small
    //   (45 MB less in the renderer after 50 documents, no slower);
    // - the viewer collects its garbage when idle after showing a document
    //   (30-40 MB less in the renderer), which needs gc() in the page.
    addChromiumFlag("--no-unsandboxed-zygote");
    addChromiumFlag("--enable-low-end-device-mode");
    addChromiumFlag("--js-flags=--expose-gc");

    if (!QCoreApplication::instance())
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    WebPdfScheme::registerScheme();
}
