// Document display and the viewer options of the main window.  The logic
// lives in viewer/ (DocumentDisplay, and the two back-ends behind PdfViewer);
// these bodies only hand it the window's controls.
#include "app/Unit1.h"

#include "app/ProgramServices.h"
#include "browse/FileListModel.h"
#include "browse/FileListView.h"
#include "viewer/DocumentDisplay.h"
#include "viewer/DocumentPrinter.h"
#include "viewer/isolated/PdfEngines.h"
#include "viewer/Prefetch.h"
#include "viewer/TAcroPDF.h"
#ifdef SHEAFLINE_HAVE_WEBENGINE
#include "viewer/web/TWebBrowser.h"
#endif

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>

// The View menu's actions and the window's viewer as the display logic sees
// them.  The viewer is read when a hook runs, so one made or released later
// is seen as it is then.
struct FormDisplay
{
    ActionViewMenuChecks menu;
    std::unique_ptr<DocumentDisplay> display;

    explicit FormDisplay(TForm1 *form)
    {
        menu.bind(ViewItem::ShowToolbar, form->ShowToolbar);
        menu.bind(ViewItem::LayoutMode1, form->LayoutMode1);
        menu.bind(ViewItem::LayoutMode2, form->LayoutMode2);
        menu.bind(ViewItem::LayoutMode3, form->LayoutMode3);
        menu.bind(ViewItem::LayoutMode4, form->LayoutMode4);
        menu.bind(ViewItem::LayoutMode5, form->LayoutMode5);
        menu.bind(ViewItem::PageMode1, form->PageMode1);
        menu.bind(ViewItem::PageMode2, form->PageMode2);
        menu.bind(ViewItem::PageMode3, form->PageMode3);
        menu.bind(ViewItem::ShowScrollbars, form->ShowScrollbars);
        DocumentDisplay::Hooks hooks;
        hooks.viewer = [form] { return form->Viewer; };
        hooks.repaint = [form] { form->update(); };
        hooks.enableFocusTimer = [form] { form->Timer1->start(); };
        display = std::make_unique<DocumentDisplay>(menu, std::move(hooks));
    }
};

void TForm1::FormDisplayDeleter::operator()(FormDisplay *display) const
{
    delete display;
}

DocumentDisplay &TForm1::Display()
{
    // Start-up makes it in CreateViewer; when start-up ended before that, the
    // first command makes it, without a viewer.
    if (!m_formDisplay)
        m_formDisplay.reset(new FormDisplay(this));
    return *m_formDisplay->display;
}

void TForm1::CreateViewer()
{
    // PDFmode is settled by now; the back-end is chosen here, once.
#ifdef SHEAFLINE_HAVE_WEBENGINE
    if (PDFmode == 1) {
        WebBrowser = new TWebBrowser(ViewerArea);
        WebBrowser->setObjectName(QStringLiteral("WebBrowser"));
        Viewer = WebBrowser;
    }
#endif
    if (!Viewer) {
        AcroPDF = new TAcroPDF(m_services.renderService(), ViewerArea);
        AcroPDF->setObjectName(QStringLiteral("AcroPDF"));
        Viewer = AcroPDF;
    }
    PdfViewer *viewer = Viewer;
    PlaceInViewerArea(viewer->widget(), [viewer](const QWidget *widget) { return viewer->ownsDocumentSurface(widget); });
    connect(&viewer->events(), &PdfViewerEvents::entered, this, [this] {
        if (AcroPDF)
            AcroPDFEnter(AcroPDF);
        else
            WebBrowserEnter(WebBrowser);
    });
    // Moving through the list prepares the current file and the next one,
    // so that Enter shows it at once.
    connect(ListView1, &FileListView::currentRowChanged, this, [this](int current, int previous) {
        if (!Viewer || !ListView1->isVisible())
            return;
        const QStringList paths = prefetchPaths(previous, current, ListView1->model()->rowCount(), [this](int row) {
            const QString path = ListView1->model()->filePath(row);
            return QFileInfo(path).isFile() ? path : QString();
        });
        Viewer->prepare(paths);
    });
    m_formDisplay.reset(new FormDisplay(this));
    connect(&viewer->events(), &PdfViewerEvents::printRequested, this, [this] { guarded([&] { Print1Click(this); }); });
}

DocumentPrinter &TForm1::Printer()
{
    if (!m_printer)
        m_printer = new DocumentPrinter(m_services.engines().factory(), this);
    return *m_printer;
}

void TForm1::Print1Click(QObject *)
{
    Printer().print(Viewer ? Viewer->printSource() : PrintSource{});
}

void TForm1::UnloadDocument()
{
    if (Viewer)
        Viewer->close();
}

void TForm1::ReleaseViewer()
{
    // Let go of the file; from here on the window no longer uses the
    // control, which goes with the window's other controls.
    UnloadDocument();
    Viewer = nullptr;
    AcroPDF = nullptr;
    WebBrowser = nullptr;
}

void TForm1::ReadPDF(const QString &path)
{
    Display().readPdf(path);
}

void TForm1::ShowToolbarClick(QObject *Sender)
{
    Display().showToolbarClick(callModeOf(Sender));
}

void TForm1::ShowScrollbarsClick(QObject *Sender)
{
    Display().showScrollbarsClick(callModeOf(Sender));
}

void TForm1::LayoutMode1Click(QObject *Sender)
{
    Display().layoutModeClick(menuTagOf(Sender));
}

void TForm1::PageMode1Click(QObject *Sender)
{
    Display().pageModeClick(menuTagOf(Sender));
}

void TForm1::DisplayInitializeClick(QObject *)
{
    DocumentDisplay::InitializeSteps steps;
    steps.applyDefaultGeometry = [this] {
        m_formResizeAttached = false;
        struct Reattach {
            bool &flag;
            ~Reattach() { flag = true; }
        } reattach{m_formResizeAttached};
        resize(800, 640);
        TreeView1->setFixedHeight(240);
        Panel1->setFixedWidth(270);
        const QScreen *screen = QGuiApplication::primaryScreen();
        if (screen)
            move(centredOnDesktop(frameGeometry().size(), screen->virtualGeometry()));
    };
    steps.currentDocumentPath = [this] { return CurrentDocument; };
    steps.listRootFolder = [this] { ListPdfFiles(FRootFolder); };
    Display().displayInitialize(steps);
}

void TForm1::GoHelpClick(QObject *)
{
    Display().goHelp(QCoreApplication::applicationDirPath() + QStringLiteral("/"));
}
