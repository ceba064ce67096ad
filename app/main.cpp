// Program entry and composition root: the application object, the objects
// the program is made of, the main window, the message loop.
#include "app/ProgramServices.h"
#include "app/SheaflineApplication.h"
#include "app/Unit1.h"

#include <QApplication>
#include <QScreen>

#include <memory>

#ifdef SHEAFLINE_HAVE_WEBENGINE
#include "viewer/web/WebBrowserProcess.h"
#endif

int main(int argc, char **argv)
{
#ifdef SHEAFLINE_HAVE_WEBENGINE
    // The browser control's scheme and engine switches go in before the application object.
    prepareWebBrowserProcess();
#endif
    SheaflineApplication app(argc, argv);
    SheaflineApplication::setUp();

    // Everything the window works with is made here, once, and handed to it.
    ProgramServices services(ProgramServices::fromEnvironment());

    // Creation runs the start-up sequence; the window shows when it is done.
    auto Form1 = std::make_unique<TForm1>(QCoreApplication::arguments().mid(1), services);
    // Opens centred on the screen.
    if (QScreen *screen = QGuiApplication::primaryScreen())
        Form1->move(screen->availableGeometry().center() - Form1->rect().center());
    Form1->show();
    const int rc = app.exec();
    // Destruction runs the shutdown, before the services go.
    Form1.reset();
    return rc;
}
