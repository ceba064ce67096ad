// Program entry and composition root: the hand-over to a program that runs
// already, the application object, the objects the program is made of, the
// main window, the message loop.
#include "app/CommandLine.h"
#include "app/ProgramServices.h"
#include "app/SheaflineApplication.h"
#include "app/SingleInstance.h"
#include "app/Unit1.h"
#include "viewer/PdfViewer.h"
#include "viewer/isolated/PdfEngines.h"
#include "viewer/isolated/RenderHelper.h"

#include <QApplication>
#include <QMutexLocker>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <thread>
#include <time.h>

#ifdef SHEAFLINE_HAVE_WEBENGINE
#include "viewer/web/WebBrowserProcess.h"
#endif

namespace {

// $SHEAFLINE_REPORT_SHOWN: one line on standard output each time a document
// is on screen, "shown <CLOCK_MONOTONIC ns> <path>", for the start-up
// benchmark, which times whole processes.
void reportShownDocuments(TForm1 &form)
{
    if (qEnvironmentVariableIsEmpty("SHEAFLINE_REPORT_SHOWN") || !form.Viewer)
        return;
    QObject::connect(&form.Viewer->events(), &PdfViewerEvents::documentShown, &form, [&form] {
        timespec now = {};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        std::printf("shown %lld %s\n", qint64(now.tv_sec) * 1000000000 + now.tv_nsec,
                    form.CurrentDocument.toLocal8Bit().constData());
        std::fflush(stdout);
    });
}

#ifdef SHEAFLINE_HAVE_WEBENGINE
QtMessageHandler s_previousMessageHandler = nullptr;

// While the application object is made without OpenGL: the window system's
// one note that it cannot make the web engine's context says nothing.
void dropGlWarning(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("QXcbIntegration: Cannot create platform OpenGL context")))
        return;
    if (s_previousMessageHandler)
        s_previousMessageHandler(type, context, message);
}
#endif

} // namespace

int main(int argc, char **argv)
{
#ifdef SHEAFLINE_HAVE_WEBENGINE
    // The browser control's scheme and engine switches go in before the
    // application object, for a run in the web view ("-b") only: they ask
    // for an OpenGL context shared by the whole program.
    bool webView = false;
    for (int i = 1; i < argc; ++i)
        webView = webView || isWebViewSwitch(QString::fromLocal8Bit(argv[i]));
    if (webView)
        prepareWebBrowserProcess();
    // The web engine, linked in for "-b", makes an OpenGL context for the
    // whole program as soon as the application object exists.  Without the
    // web view nothing here draws with OpenGL, and loading the system's GL
    // drivers for it is the slowest part of start-up: X's GL integration
    // stays off for such a run (programs it starts choose for themselves).
    const bool glOff = !webView && !qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION");
    if (glOff) {
        qputenv("QT_XCB_GL_INTEGRATION", "none");
        s_previousMessageHandler = qInstallMessageHandler(dropGlWarning);
    }
#endif
    SheaflineApplication app(argc, argv);
#ifdef SHEAFLINE_HAVE_WEBENGINE
    if (glOff) {
        qunsetenv("QT_XCB_GL_INTEGRATION");
        qInstallMessageHandler(s_previousMessageHandler);
    }
#endif
    // One program per user session: when one runs already, it takes this
    // start's file or folder and this one ends here, before the settings,
    // the render helper or the window are touched.  Of two starts at once,
    // the one that takes the name goes on and the other hands over.
    SingleInstance instance(SingleInstance::defaultOptions());
    const SingleInstance::Request request =
        SingleInstance::requestFromArguments(QCoreApplication::arguments().mid(1));
    if (instance.handOver(request) || instance.claim(request) == SingleInstance::Claim::HandedOver)
        return 0;
    SheaflineApplication::setUp();

    // Everything the window works with is made here, once, and handed to it.
    ProgramServices services(ProgramServices::fromEnvironment());
    // The render helper starts while the window is made, so that the first
    // document does not wait for it as well.
    std::thread helperStart;
    if (RenderHelper *helper = services.engines().helper()) {
        // Filled here, read there: the helper's place is found beside the program.
        QCoreApplication::applicationDirPath();
        helperStart = std::thread([helper] {
            const QMutexLocker lock(&helper->mutex());
            helper->ensureRunning();
        });
    }

    // Creation runs the start-up sequence; the window shows when it is done.
    auto Form1 = std::make_unique<TForm1>(QCoreApplication::arguments().mid(1), services);
    reportShownDocuments(*Form1);
    // Later starts' files and folders go to the window from here on.
    instance.setHandler([form = Form1.get()](const SingleInstance::Request &handed) {
        TForm1::Guarded([&] { form->OpenHandedOver(handed.paths); });
    });
    // Opens centred on the screen.
    if (QScreen *screen = QGuiApplication::primaryScreen())
        Form1->move(screen->availableGeometry().center() - Form1->rect().center());
    Form1->show();
    if (!Form1->UnusableArgument.isEmpty()) {
        QTimer::singleShot(0, Form1.get(), [form = Form1.get()] { form->ShowUnusablePath(form->UnusableArgument); });
    }
    const int rc = app.exec();
    instance.setHandler(nullptr);
    // Destruction runs the shutdown, before the services go.
    Form1.reset();
    if (helperStart.joinable())
        helperStart.join();
    return rc;
}
