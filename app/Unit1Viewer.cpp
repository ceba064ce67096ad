// Document display and the viewer options of the main window.  Each body
// calls into viewer/ (and viewer/web/ for mode 1); until those land they do
// nothing, and every use of AcroPDF / WebBrowser is null-guarded.
#include "app/Unit1.h"

#include "app/DocumentSurface.h"

#ifdef SHEAFLINE_HAVE_WEBENGINE
#include "viewer/web/TWebBrowser.h"
#endif

#include <QTimer>

void TForm1::CreateWebBrowser()
{
#ifdef SHEAFLINE_HAVE_WEBENGINE
    WebBrowser = new TWebBrowser(ViewerArea);
    WebBrowser->setObjectName(QStringLiteral("WebBrowser"));
    PlaceInViewerArea(WebBrowser);
    // Where the page holds the keyboard focus is the browser's document surface.
    static const int surfaceTest = registerDocumentSurfaceTest(
        [](const QWidget *widget) { return TWebBrowser::isDocumentSurface(widget); });
    Q_UNUSED(surfaceTest);
#endif
}
void TForm1::CreateViewer() {}
void TForm1::ReleaseViewer() {}

void TForm1::ReadPDF(const QString &)
{
    // Whatever happens to the load, the focus timer runs afterwards.
    Timer1->start();
}

void TForm1::ShowToolbarClick(QObject *) {}
void TForm1::ShowScrollbarsClick(QObject *) {}
void TForm1::LayoutMode1Click(QObject *) {}
void TForm1::PageMode1Click(QObject *) {}
void TForm1::DisplayInitializeClick(QObject *) {}
void TForm1::GoHelpClick(QObject *) {}
