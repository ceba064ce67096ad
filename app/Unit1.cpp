// The main window: controls, menus, event bindings, start-up and shutdown,
// layout saving and the focus rule.
#include "app/Unit1.h"

#include "about/About.h"
#include "app/CommandLine.h"
#include "app/ErrorBox.h"
#include "app/FocusRule.h"
#include "app/Fonts.h"
#include "app/MessageBoxes.h"
#include "app/SplitterBar.h"
#include "app/ProgramServices.h"
#include "app/SysUpdate.h"
#include "base/Errors.h"
#include "base/ProgramName.h"
#include "base/ProgramPaths.h"
#include "base/VersionInfo.h"
#include "browse/FileListModel.h"
#include "browse/FileListView.h"
#include "browse/FolderTree.h"
#include "update/UpdateUi.h"
#include "update/WidgetUpdateUi.h"
#include "watch/plFolderWatcher.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QResizeEvent>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <optional>

namespace {

// Designed sizes, in pixels.
constexpr int kClientWidth = 784;
constexpr int kClientHeight = 581; // below the menu bar, status bar included
constexpr int kStatusHeight = 19;
constexpr int kPanelWidth = 273;
constexpr int kTreeHeight = 240;
constexpr int kColumn1 = 60;
constexpr int kColumn2 = 85;
constexpr int kColumnSlack = 21; // room for the vertical scroll bar and the borders

const char kTagProperty[] = "Tag";

using sheafline::Setting;

} // namespace

int Tag(const QObject *object)
{
    return object ? object->property(kTagProperty).toInt() : 0;
}

void SetTag(QObject *object, int tag)
{
    if (object)
        object->setProperty(kTagProperty, tag);
}

TForm1::TForm1(const QStringList &args, ProgramServices &services, QWidget *parent)
    : QMainWindow(parent), m_args(args), m_services(services)
{
    // Here rather than in main(), so every window created (tests too) gets them.
    installFontSubstitutions();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf16(sheafline::kApplicationName));
    // Folders and PDFs dropped from a file manager (Unit1Open.cpp).
    setAcceptDrops(true);
    QFont designFont(QStringLiteral("ＭＳ Ｐゴシック"));
    designFont.setPixelSize(12);
    setFont(designFont);

    // The whole wiring of the window, in order: controls, menus, the
    // handlers bound to their events, the tree logic and the updater's
    // dialogs.  The view control and the folder watcher follow in the
    // start-up sequence, once the command line has chosen the back-end.
    CreateControls();
    CreateMenus();
    BindEvents();
    BindFolderTree();
    // The update check runs in the widget-free core and shows its download
    // progress and restart notice through this; start-up step 1 hands it to
    // the settings store's update operations.
    m_updateUi = std::make_unique<WidgetUpdateUi>();

    // The designed client area lies below the menu bar.
    resize(kClientWidth, kClientHeight + MainMenu1->sizeHint().height());
    if (layout())
        layout()->activate();

    FormCreate(this);
}

TForm1::~TForm1()
{
    if (!m_destroyed)
        FormDestroy(this);
    // A shutdown that stopped early leaves the view control: it goes before
    // the engines it draws with.
    if (AcroPDF)
        ReleaseViewer();
    // Another window may have installed its own since.
}

void TForm1::BindFolderTree()
{
    // The tree's reads leave the watcher alone: it covers the root folder's
    // whole sub-tree whatever is expanded (ShowRootFolder points it there).
    m_folderTree = new FolderTree(TreeView1, TreeView1);
}

void TForm1::CreateControls()
{
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(central);

    // Stored sizes are used as they are; explicit minimums keep a tree or
    // panel larger than the window from enlarging the window itself.
    central->setMinimumSize(1, 1);
    Panel1 = new QWidget(central);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedWidth(kPanelWidth);
    Panel1->setMinimumHeight(1);

    TreeView1 = new QTreeWidget(Panel1);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setHeaderHidden(true);
    TreeView1->setIndentation(19);
    TreeView1->setFixedHeight(kTreeHeight);

    ListView1 = new FileListView(Panel1);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setColumnWidth(0, 90);
    ListView1->setColumnWidth(1, kColumn1);
    ListView1->setColumnWidth(2, kColumn2);

    Splitter2 = new SplitterBar(Qt::Vertical, TreeView1, Panel1);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    auto *left = new QVBoxLayout(Panel1);
    // The panel's one-pixel bevel: tree and list are 271 wide in a 273 panel.
    left->setContentsMargins(1, 1, 1, 1);
    left->setSpacing(0);
    left->addWidget(TreeView1);
    left->addWidget(Splitter2);
    left->addWidget(ListView1, 1);

    Splitter1 = new SplitterBar(Qt::Horizontal, Panel1, central);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));

    ViewerArea = new QWidget(central);
    ViewerArea->setObjectName(QStringLiteral("ViewerArea"));
    auto *viewerLayout = new QGridLayout(ViewerArea);
    viewerLayout->setContentsMargins(0, 0, 0, 0);
    viewerLayout->setSpacing(0);

    auto *row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(Panel1);
    row->addWidget(Splitter1);
    row->addWidget(ViewerArea, 1);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(kStatusHeight);
    StatusBar1->setSizeGripEnabled(true);
    for (int i = 0; i < 3; ++i) {
        m_panels[i] = new QLabel(StatusBar1);
        m_panels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    }
    m_panels[0]->setFixedWidth(200);
    m_panels[1]->setFixedWidth(0);
    // A long folder path must not widen the window.
    m_panels[2]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    StatusBar1->addWidget(m_panels[0]);
    StatusBar1->addWidget(m_panels[1]);
    StatusBar1->addWidget(m_panels[2], 1);
    setStatusBar(StatusBar1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(10);

    // The list first, then the tree; the left panel before the viewer.
    setTabOrder(ListView1, TreeView1);
    setTabOrder(TreeView1, ViewerArea);
}

void TForm1::CreateMenus()
{
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));

    auto item = [](QMenu *menu, const char *name, const QString &caption, int tag = 0) {
        QAction *a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        SetTag(a, tag);
        return a;
    };
    auto separator = [](QMenu *menu, const char *name) {
        QAction *a = menu->addSeparator();
        a->setObjectName(QString::fromLatin1(name));
        SetTag(a, 0);
        return a;
    };
    auto submenu = [](QWidget *owner, QMenu *into, QMenuBar *bar, const char *name,
                      const QString &caption) {
        auto *menu = new QMenu(caption, owner);
        menu->setObjectName(QString::fromLatin1(name) + QStringLiteral("Menu"));
        QAction *a = into ? into->addMenu(menu) : bar->addMenu(menu);
        a->setObjectName(QString::fromLatin1(name));
        SetTag(a, 0);
        return a;
    };
    auto checkable = [](QAction *a, bool checked) {
        a->setCheckable(true);
        a->setChecked(checked);
        return a;
    };

    N12 = submenu(this, nullptr, MainMenu1, "N12", QStringLiteral("ファイル"));
    QMenu *file = N12->menu<QMenu *>();
    N13 = item(file, "N13", QStringLiteral("開く"));
    Print1 = item(file, "Print1", QStringLiteral("印刷…"));
    Print1->setShortcut(QKeySequence::Print);
    N14 = separator(file, "N14");
    N15 = item(file, "N15", QStringLiteral("終了"));

    N22 = submenu(this, nullptr, MainMenu1, "N22", QStringLiteral("表示"));
    QMenu *view = N22->menu<QMenu *>();
    DisplayInitialize = item(view, "DisplayInitialize", QStringLiteral("表示初期化"));
    N23 = separator(view, "N23");
    ShowToolbar = checkable(item(view, "ShowToolbar", QStringLiteral("ツールバー")), false);
    LayoutMode = submenu(this, view, nullptr, "LayoutMode", QStringLiteral("レイアウトモード"));
    QMenu *layoutMenu = LayoutMode->menu<QMenu *>();
    LayoutMode1 = checkable(item(layoutMenu, "LayoutMode1", QStringLiteral("標準"), 1), true);
    LayoutMode2 = checkable(item(layoutMenu, "LayoutMode2", QStringLiteral("1ページモード"), 2), false);
    LayoutMode3 = checkable(item(layoutMenu, "LayoutMode3", QStringLiteral("1コラムの連続表示モード"), 3), false);
    LayoutMode4 = checkable(item(layoutMenu, "LayoutMode4",
                                 QStringLiteral("左の最初のページと共に2コラムの連続表示モード"), 4), false);
    LayoutMode5 = checkable(item(layoutMenu, "LayoutMode5",
                                 QStringLiteral("右の最初のページと共に2コラムの連続表示モード"), 5), false);
    PageMode = submenu(this, view, nullptr, "PageMode", QStringLiteral("表示モード"));
    QMenu *pageMenu = PageMode->menu<QMenu *>();
    PageMode1 = checkable(item(pageMenu, "PageMode1", QStringLiteral("PDFドキュメントのみ"), 1), true);
    PageMode2 = checkable(item(pageMenu, "PageMode2", QStringLiteral("「しおり」とPDFドキュメント"), 2), false);
    PageMode3 = checkable(item(pageMenu, "PageMode3",
                               QStringLiteral("「ページのサムネール」とPDFドキュメント"), 3), false);
    ShowScrollbars = checkable(item(view, "ShowScrollbars", QStringLiteral("スクロールバー")), true);

    N16 = submenu(this, nullptr, MainMenu1, "N16", QStringLiteral("ヘルプ"));
    QMenu *help = N16->menu<QMenu *>();
    GoHelp = item(help, "GoHelp", QStringLiteral("ヘルプ"));
    N18 = separator(help, "N18");
    N19 = item(help, "N19", QStringLiteral("アップデート"));
    N20 = separator(help, "N20");
    N21 = item(help, "N21", QStringLiteral("バージョン情報"));

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    N1 = submenu(this, PopupMenu1, nullptr, "N1", QStringLiteral("ソート"));
    QMenu *sort = N1->menu<QMenu *>();
    sort->addAction(QStringLiteral("ファイル名"));
    sort->addAction(QStringLiteral("サイズ"));
    sort->addAction(QStringLiteral("日付"));
    sort->addSeparator();
    sort->addAction(QStringLiteral("降順"));
    N6 = separator(PopupMenu1, "N6");
    N7 = submenu(this, PopupMenu1, nullptr, "N7", QStringLiteral("表示"));
    QMenu *style = N7->menu<QMenu *>();
    N8 = item(style, "N8", QStringLiteral("縮小"));
    N10 = item(style, "N10", QStringLiteral("一覧"));
    N11 = item(style, "N11", QStringLiteral("アイコン"));
    N27 = item(style, "N27", QStringLiteral("サムネイル"));
    N25 = separator(PopupMenu1, "N25");
    N26 = item(PopupMenu1, "N26", QStringLiteral("名前の変更"));
    N17 = separator(PopupMenu1, "N17");
    N24 = item(PopupMenu1, "N24", QStringLiteral("関連付けアプリで開く"));
    N17->setVisible(false);
    N24->setVisible(false);
}

void TForm1::bindAction(QAction *action, void (TForm1::*handler)(QObject *))
{
    connect(action, &QAction::triggered, this, [this, action, handler] {
        // The handlers set check marks themselves: undo Qt's own toggle first.
        if (action->isCheckable()) {
            const QSignalBlocker block(action);
            action->setChecked(!action->isChecked());
        }
        guarded([&] { (this->*handler)(action); });
    });
}

void TForm1::BindEvents()
{
    bindAction(N13, &TForm1::N13Click);
    bindAction(N15, &TForm1::N15Click);
    bindAction(Print1, &TForm1::Print1Click);
    bindAction(DisplayInitialize, &TForm1::DisplayInitializeClick);
    bindAction(ShowToolbar, &TForm1::ShowToolbarClick);
    for (QAction *a : {LayoutMode1, LayoutMode2, LayoutMode3, LayoutMode4, LayoutMode5})
        bindAction(a, &TForm1::LayoutMode1Click);
    for (QAction *a : {PageMode1, PageMode2, PageMode3})
        bindAction(a, &TForm1::PageMode1Click);
    bindAction(ShowScrollbars, &TForm1::ShowScrollbarsClick);
    bindAction(GoHelp, &TForm1::GoHelpClick);
    bindAction(N19, &TForm1::N19Click);
    bindAction(N21, &TForm1::N21Click);
    bindAction(N8, &TForm1::N8Click);
    bindAction(N10, &TForm1::N10Click);
    bindAction(N11, &TForm1::N11Click);
    bindAction(N27, &TForm1::N27Click);
    bindAction(N26, &TForm1::N26Click);
    bindAction(N24, &TForm1::N24Click);

    connect(PopupMenu1, &QMenu::aboutToShow, this, [this] { guarded([&] { PopupMenu1Popup(PopupMenu1); }); });
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopupMenu1->popup(ListView1->mapToGlobal(pos)); });

    connect(Timer1, &QTimer::timeout, this, [this] { guarded([&] { Timer1Timer(Timer1); }); });
    connect(ListView1, &FileListView::resized, this, [this] { guarded([&] { ListView1Resize(ListView1); }); });
    connect(ListView1, &FileListView::columnClicked, this,
            [this](int column) { guarded([&] { ListView1ColumnClick(ListView1, column); }); });
    connect(ListView1, &FileListView::doubleClicked, this, [this] { guarded([&] { ListView1Click(ListView1); }); });
    connect(ListView1, &FileListView::keyPressed, this, [this](int key, Qt::KeyboardModifiers mods) {
        guarded([&] {
            int k = key;
            ListView1KeyDown(ListView1, k, mods);
        });
    });
    connect(ListView1->model(), &FileListModel::readProgress, this, [this](int rows) { ShowReadProgress(rows); });
    connect(ListView1->model(), &FileListModel::readFinished, this, [this] { ClearReadProgress(); });
    connect(ListView1->model(), &FileListModel::readCancelled, this, [this] { ClearReadProgress(); });
    connect(TreeView1, &QTreeWidget::itemDoubleClicked, this,
            [this] { guarded([&] { TreeView1DblClick(TreeView1); }); });
    // Qt tells of an expansion as it happens; a refusal collapses the node again.
    connect(TreeView1, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem *node) {
        guarded([&] {
            bool allow = true;
            TreeView1Expanding(TreeView1, node, allow);
            if (!allow)
                node->setExpanded(false);
        });
    });
}

QLabel *TForm1::StatusPanel(int index) const
{
    return index >= 0 && index < 3 ? m_panels[index] : nullptr;
}

QString TForm1::StatusPanelText(int index) const
{
    const QLabel *panel = StatusPanel(index);
    return panel ? panel->text() : QString();
}

void TForm1::SetStatusPanelText(int index, const QString &text)
{
    if (QLabel *panel = StatusPanel(index))
        panel->setText(text);
}

void TForm1::SetCurrentFolder(const QString &folder)
{
    CurrentFolder = folder;
    SetStatusPanelText(2, folder);
}

void TForm1::SetCurrentDocument(const QString &path)
{
    CurrentDocument = path;
    SetStatusPanelText(1, path);
}

void TForm1::PlaceInViewerArea(QWidget *control, DocumentSurfaceTest isSurface)
{
    if (!control)
        return;
    control->setParent(ViewerArea);
    static_cast<QGridLayout *>(ViewerArea->layout())->addWidget(control, 0, 0);
    control->raise();
    if (isSurface)
        m_viewControls.push_back({control, std::move(isSurface)});
}

bool TForm1::IsDocumentSurface(const QWidget *widget) const
{
    if (!widget)
        return false;
    for (const ViewControl &view : m_viewControls) {
        // A released control no longer answers.
        if (view.control && view.isSurface(widget))
            return true;
    }
    return false;
}

void TForm1::ShowException(const QString &message)
{
    showErrorBox(message);
}

// ---- Start-up and shutdown ----

void TForm1::FormCreate(QObject *)
{
    // The start-up sequence, in its fixed order.  An error ends it at the
    // failing step and is shown; the window still opens with what was done.
    try {
        // 1. The settings store first: every later step may read or write a
        //    setting.  Making it reads "updatepath" and creates the update
        //    work folder.  A store left by an earlier window is replaced.
        delete SysUpdateModule;
        SysUpdateModule = nullptr;
        SysUpdateModule = new TSysUpdateModule(m_services.store(), m_services.updater(), m_updateUi.get());
        SysUpdateModule->setParent(this);
        // 2. The PDF view control back-end until the command line says otherwise.
        PDFmode = 0;
        // 3. The folder watcher, its reports bound to the refresh of tree and list.
        CreateFolderWatcher();
        // 4. The command line: "-b" or "/b" picks the web back-end; a first
        //    argument naming an existing folder is this run's root folder.
        //    A first argument naming a readable PDF is shown among its
        //    neighbours (steps 14, 16 and 17); one naming neither is kept for
        //    the report once the window shows.
        const CommandLine commandLine = parseCommandLine(m_args, folderExists, readablePdfExists);
        if (commandLine.pdfMode == 1)
            PDFmode = 1;
        UnusableArgument = commandLine.unusable;
        // 5. The version in status panel 0, with the back-end when it is the web one.
        QString version = QStringLiteral("Ver. ") + GetVersionInfoItem(VersionItem::FileVersion);
        if (PDFmode == 1)
            version += QStringLiteral(" with WebBrowser");
        SetStatusPanelText(0, version);
        // 6. The focus timer stays off until the first document load.
        Timer1->stop();
        Timer1->setInterval(10);
        // 7. The file list keeps the keyboard focus from the start.
        AFocusControl = ListView1;
        ListView1->setFocus();
        // 8. The view control of the chosen back-end, now that PDFmode is settled.
        CreateViewer();
        // 9-11. Nothing to do here: Qt's tree has the plain look already, Qt
        //    initialises its own controls, and folder icons come from the
        //    browse area's icon provider.
        // 12. An empty tree before the root folder is read.
        TreeView1->clear();
        // 13. The stored root folder; on a first run the user's Documents
        //     folder, which is then stored.
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        FRootFolder =
            sheafline::withTrailingDelimiter(SysUpdateModule->store().readText(Setting::Folder, documents));
        // 14. A folder given on the command line wins for this run only; it is not stored.
        if (!commandLine.rootFolder.isEmpty())
            FRootFolder = commandLine.rootFolder;
        //     A PDF keeps the root when it lies below it; otherwise its
        //     folder is this run's root, not stored either.
        std::optional<DocumentPlace> document;
        if (!commandLine.document.isEmpty()) {
            document = placeDocument(commandLine.document, {FRootFolder}, canonicalPath);
            FRootFolder = document->root;
        }
        // 15. The root folder is the current folder until the user picks another.
        SetCurrentFolder(FRootFolder);
        // 16. The tree below the root folder and the list of its PDF files;
        //     for a PDF, the tree opened down to its folder and that folder's list.
        if (document)
            ShowDocumentPlace(*document, true);
        else
            ShowRootFolder(FRootFolder);
        // 17. The help document in the view control, or the PDF in its place.
        if (document)
            ShowListedDocument(document->document);
        else
            GoHelpClick(this);
        // 18. The window and panel sizes of the last run.
        RestoreLayout();
        // 19. The file list's "open with" item, hidden until start-up gets here.
        N17->setVisible(true);
        N24->setVisible(true);
        // 20. The update check, last, so that a slow server holds up nothing else.
        StartupUpdateCheck();
    } catch (const AppError &e) {
        ShowException(e.message());
    } catch (const std::exception &e) {
        ShowException(QString::fromLocal8Bit(e.what()));
    }
}

void TForm1::FormDestroy(QObject *)
{
    // The shutdown, in its fixed order; an error ends it at the failing step.
    m_destroyed = true;
    Timer1->stop();
    try {
        // 1. The layout is saved as the last resize would have saved it.
        FormResize(this);
        // 2. No more change reports while the window goes.
        FreeFolderWatcher();
        plFolderWatcher = nullptr;
        // 3. The view control lets go of the shown file and is released.
        ReleaseViewer();
        // 4. The settings store last: step 1 still wrote to it.
        delete SysUpdateModule;
        SysUpdateModule = nullptr;
    } catch (const AppError &e) {
        ShowException(e.message());
    } catch (const std::exception &e) {
        ShowException(QString::fromLocal8Bit(e.what()));
    }
}

// ---- Layout ----

void TForm1::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (m_formResizeAttached && !m_destroyed)
        guarded([&] { FormResize(this); });
}

void TForm1::FormResize(QObject *)
{
    // Without a store (start-up ended before it existed) there is nowhere to write.
    if (!SysUpdateModule)
        return;
    const SettingsStore &store = SysUpdateModule->store();
    store.write(Setting::WinHeight, height());
    store.write(Setting::WinWidth, width());
    store.write(Setting::TreeHeight, TreeView1->height());
    store.write(Setting::TreeWidth, Panel1->width());
}

void TForm1::ListView1Resize(QObject *)
{
    const int width = ListView1->width();
    // The designed widths fit these texts in the designed font; a wider font
    // widens a column as far as its texts need, and the list then scrolls
    // sideways rather than cut them.
    ListView1->fitColumns(width, kColumn1, kColumn2, kColumnSlack);
    if (SysUpdateModule)
        SysUpdateModule->store().write(Setting::FileListWidth, width);
}

void TForm1::RestoreLayout()
{
    m_formResizeAttached = false;
    struct Reattach {
        bool &flag;
        ~Reattach() { flag = true; }
    } reattach{m_formResizeAttached};

    const auto settle = [this] {
        if (layout())
            layout()->activate();
        if (centralWidget() && centralWidget()->layout())
            centralWidget()->layout()->activate();
        if (Panel1->layout())
            Panel1->layout()->activate();
    };
    settle();
    const SettingsStore &store = SysUpdateModule->store();
    const int winHeight = store.readInteger(Setting::WinHeight, height());
    resize(width(), qMax(0, winHeight));
    const int winWidth = store.readInteger(Setting::WinWidth, width());
    resize(qMax(0, winWidth), height());
    const int treeHeight = store.readInteger(Setting::TreeHeight, TreeView1->height());
    TreeView1->setFixedHeight(qMax(0, treeHeight));
    const int treeWidth = store.readInteger(Setting::TreeWidth, Panel1->width());
    Panel1->setFixedWidth(qMax(0, treeWidth));
    // The list fills the panel below the splitter: its stored width is not
    // read, ListView1Resize stores the width it gets.
    settle();
    ListView1Resize(ListView1);
}

// ---- Focus keeping ----

void TForm1::Timer1Timer(QObject *)
{
    if (focusMustReturn(isActiveWindow(), IsDocumentSurface(QApplication::focusWidget()), AFocusControl))
        AFocusControl->setFocus(Qt::OtherFocusReason);
}

void TForm1::AcroPDFEnter(QObject *)
{
    Timer1->stop();
}

void TForm1::WebBrowserEnter(QObject *)
{
    Timer1->stop();
}

// ---- Commands ----

void TForm1::N15Click(QObject *)
{
    close();
}

void TForm1::N21Click(QObject *)
{
    TAboutBox box(this);
    box.exec();
}
