// Document display and the viewer options of the main window.  The logic
// lives in viewer/ (DocumentDisplay, TAcroPDF); these bodies only hand it the
// window's controls.  Mode 1 (the web back-end in viewer/web/) plugs into the
// two browser hooks below.
#include "app/Unit1.h"

#include "browse/FileListView.h"
#include "viewer/DocumentDisplay.h"
#include "viewer/Prefetch.h"
#include "viewer/TAcroPDF.h"
#include "viewer/isolated/PdfEngines.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QScreen>
#ifdef SHEAFLINE_HAVE_WEBENGINE
#include "viewer/web/TWebBrowser.h"
#include "viewer/web/TWebDocument.h"
#endif

#include <QTimer>
#include <QTreeWidget>

#include <functional>

// The View menu's actions and the window's controls as the display logic
// sees them.  Built once PDFmode is settled; the hooks read the controls
// when they run, so a control made or released later is seen as it is then.
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
        hooks.pdfMode = form->PDFmode;
        hooks.acroPdf = [form]() -> IAcroAXDocShim * { return form->AcroPDF; };
        // The control's own visibility, not the window's: the help document
        // gets its options during start-up, before the window is shown.
        hooks.acroPdfVisible = [form] { return form->AcroPDF && form->AcroPDF->isVisibleTo(form); };
        // The web back-end: Navigate(url) on WebBrowser, and its Document
        // queried for the view control (null without a document, AppError
        // with interfaceNotSupportedMessage() when it offers none).
#ifdef SHEAFLINE_HAVE_WEBENGINE
        hooks.navigate = [form](const QString &url) {
            if (form->WebBrowser)
                form->WebBrowser->Navigate(url);
        };
        hooks.browserDocument = [form]() -> IAcroAXDocShim * {
            return form->WebBrowser ? form->WebBrowser->ViewControl() : nullptr;
        };
#else
        hooks.navigate = [](const QString &) {};
        hooks.browserDocument = []() -> IAcroAXDocShim * { return nullptr; };
#endif
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
    // first command makes it with the mode as it stands.
    if (!m_formDisplay)
        m_formDisplay.reset(new FormDisplay(this));
    return *m_formDisplay->display;
}

void TForm1::CreateWebBrowser()
{
#ifdef SHEAFLINE_HAVE_WEBENGINE
    WebBrowser = new TWebBrowser(ViewerArea);
    WebBrowser->setObjectName(QStringLiteral("WebBrowser"));
    // Where the page holds the keyboard focus is the browser's document surface.
    PlaceInViewerArea(WebBrowser, [](const QWidget *widget) { return TWebBrowser::isDocumentSurface(widget); });
#endif
}

namespace {

// Moving through the list prepares the selected file and the next one, so
// that Enter shows it at once.  Every view of the list (report, icons) shows
// the same rows.
void prepareOnSelection(TForm1 *form, const std::function<void(const QStringList &)> &prepare)
{
    for (QAbstractItemView *view : form->ListView1->findChildren<QAbstractItemView *>()) {
        if (!view->selectionModel())
            continue;
        QObject::connect(view->selectionModel(), &QItemSelectionModel::currentChanged, form,
                         [form, view, prepare](const QModelIndex &current, const QModelIndex &previous) {
                             if (!view->isVisible())
                                 return;
                             const QString folder = form->CurrentFolder;
                             const QAbstractItemModel *model = view->model();
                             const QStringList paths = prefetchPaths(
                                 previous.row(), current.row(), model->rowCount(), [&](int row) {
                                     const QString path = folder + model->index(row, 0).data(Qt::DisplayRole).toString();
                                     return QFileInfo(path).isFile() ? path : QString();
                                 });
                             prepare(paths);
                         });
    }
}

} // namespace

void TForm1::CreateViewer()
{
    // PDFmode is settled by now.
    m_formDisplay.reset(new FormDisplay(this));
#ifdef SHEAFLINE_HAVE_WEBENGINE
    if (PDFmode == 1) {
        if (!WebBrowser)
            return;
        connect(WebBrowser, &TWebBrowser::Enter, this, [this] { WebBrowserEnter(WebBrowser); });
        prepareOnSelection(this, [this](const QStringList &paths) {
            if (WebBrowser)
                WebBrowser->prepare(paths);
        });
        return;
    }
    if (WebBrowser)
        WebBrowser->setVisible(false);
#endif
    if (PDFmode != 0)
        return;
    m_engines = std::make_unique<PdfEngines>(PdfEngines::kindFromEnvironment());
    AcroPDF = new TAcroPDF(ViewerArea, TAcroPDF::defaultCacheBytes, m_engines->factory(),
                           [engines = m_engines.get()](int ms) { engines->shortenWait(ms); });
    AcroPDF->setObjectName(QStringLiteral("AcroPDF"));
    PlaceInViewerArea(AcroPDF, &TAcroPDF::isDocumentSurface);
    connect(AcroPDF, &TAcroPDF::entered, this, [this] { AcroPDFEnter(AcroPDF); });
    prepareOnSelection(this, [this](const QStringList &paths) {
        if (AcroPDF)
            AcroPDF->prepare(paths);
    });
}

void TForm1::UnloadDocument()
{
#ifdef SHEAFLINE_HAVE_WEBENGINE
    if (PDFmode == 1 && WebBrowser)
        WebBrowser->Navigate(QString());
#endif
    if (PDFmode == 0 && AcroPDF)
        AcroPDF->setSrc(QString());
}

void TForm1::ReleaseViewer()
{
    // Let go of the file first, then the control.
    UnloadDocument();
    if (PDFmode != 0 || !AcroPDF)
        return;
    delete AcroPDF;
    AcroPDF = nullptr;
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
