// Program entry and composition root: the hand-over to a program that runs
// already, the application object, the objects the program is made of, the
// main window, the message loop.
#include "app/ProgramServices.h"
#include "app/SheaflineApplication.h"
#include "app/SingleInstance.h"
#include "app/Unit1.h"
#include "viewer/PdfViewer.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <memory>
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

} // namespace

int main(int argc, char **argv)
{
#ifdef SHEAFLINE_HAVE_WEBENGINE
    // The browser control's scheme and engine switches go in before the application object.
    prepareWebBrowserProcess();
#endif
    // One program per user session: when one runs already, it takes this
    // start's file or folder and this one ends here, before the window
    // system, the settings or the render helper are touched.
    const SingleInstance::Options instanceOptions = SingleInstance::defaultOptions();
    SingleInstance::Request request;
    {
        QCoreApplication probe(argc, argv);
        request = SingleInstance::requestFromArguments(QCoreApplication::arguments().mid(1));
        if (SingleInstance(instanceOptions).handOver(request))
            return 0;
    }

    SheaflineApplication app(argc, argv);
    SheaflineApplication::setUp();
    // Two starts at once: the one that takes the name goes on, the other
    // hands over now.  Nothing has written the settings yet.
    SingleInstance instance(instanceOptions);
    if (instance.claim(request) == SingleInstance::Claim::HandedOver)
        return 0;

    // Everything the window works with is made here, once, and handed to it.
    ProgramServices services(ProgramServices::fromEnvironment());

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
    return rc;
}
