// Program entry: the application object, the main window, the message loop.
#include "app/SheaflineApplication.h"
#include "app/Unit1.h"

#include <QApplication>
#include <QScreen>

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

    // Creation runs the start-up sequence; the window shows when it is done.
    auto *form = new TForm1();
    Form1 = form;
    // Opens centred on the screen.
    if (QScreen *screen = QGuiApplication::primaryScreen())
        form->move(screen->availableGeometry().center() - form->rect().center());
    form->show();
    const int rc = app.exec();
    // Destruction runs the shutdown.
    delete form;
    return rc;
}
