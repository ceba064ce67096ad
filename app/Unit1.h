#pragma once

#include "base/Errors.h"
#include "base/SettingsStore.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class DocumentDisplay;  // viewer/DocumentDisplay.h
class DocumentPrinter;  // viewer/DocumentPrinter.h
class PdfViewer;        // viewer/PdfViewer.h
class ProgramServices;  // app/ProgramServices.h
class TSysUpdateModule; // app/SysUpdate.h
class ThumbnailProvider; // browse/ThumbnailProvider.h
class FileListView;
class FolderTree;       // browse/FolderTree.h
struct DocumentPlace;   // app/CommandLine.h
struct FormDisplay;     // app/Unit1Viewer.cpp
struct FileEntry;       // browse/FileEntry.h
class QAction;
class QDragEnterEvent;
class QDragLeaveEvent;
class QDropEvent;
class QLabel;
class QMenu;
class QMenuBar;
class QStatusBar;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class SplitterBar;
class TAcroPDF;         // viewer/TAcroPDF.h
class TWebBrowser;      // viewer/web/
class TplFolderWatcher; // watch/plFolderWatcher.h
class WidgetUpdateUi;   // update/WidgetUpdateUi.h

// The `Tag` of a menu item (or any object): an int dynamic property, 0 when unset.
int Tag(const QObject *object);
void SetTag(QObject *object, int tag);

// The main window.  It owns every control, the folder watcher and the view
// control; it composes the areas (browse/, viewer/, watch/, update/, about/)
// and keeps their handlers under the program's names.  The bodies of each
// area's handlers live in that area's file in app/ (Unit1Browse.cpp,
// Unit1Viewer.cpp, Unit1Watch.cpp, Unit1Update.cpp); the spine's are in
// Unit1.cpp.
//
// Handlers take the sender as `QObject *Sender`: a menu item is its QAction,
// the main window is `this`, no sender is nullptr.  Errors that reach a
// handler bound to an event are shown in the application's error box.
//
// The window keeps its state in fields (the root folder, the current folder,
// the current document); the status panels only show them.
//
// UI thread only.  Creation runs the start-up sequence (FormCreate),
// destruction the shutdown (FormDestroy).
class TForm1 : public QMainWindow
{
    Q_OBJECT
public:
    // `args` are the command-line arguments without the program name.  The
    // window takes its settings store, updater, render service and change
    // layer from `services` (not owned; they must outlive the window).  A
    // test passes services on a store in a temporary file and an updater
    // that stays off the network.
    TForm1(const QStringList &args, ProgramServices &services, QWidget *parent = nullptr);
    ~TForm1() override;

    // ---- Controls (owned by the window) ----
    QMenuBar *MainMenu1 = nullptr;
    QAction *N12 = nullptr;                // "ファイル"
    QAction *N13 = nullptr;                //   "開く"
    QAction *Print1 = nullptr;             //   "印刷…" (Ctrl+P)
    QAction *N14 = nullptr;                //   separator
    QAction *N15 = nullptr;                //   "終了"
    QAction *N22 = nullptr;                // "表示"
    QAction *DisplayInitialize = nullptr;  //   "表示初期化"
    QAction *N23 = nullptr;                //   separator
    QAction *ShowToolbar = nullptr;        //   "ツールバー" (checkable)
    QAction *LayoutMode = nullptr;         //   "レイアウトモード" submenu
    QAction *LayoutMode1 = nullptr;        //     Tag 1 .. 5 (checkable)
    QAction *LayoutMode2 = nullptr;
    QAction *LayoutMode3 = nullptr;
    QAction *LayoutMode4 = nullptr;
    QAction *LayoutMode5 = nullptr;
    QAction *PageMode = nullptr;           //   "表示モード" submenu
    QAction *PageMode1 = nullptr;          //     Tag 1 .. 3 (checkable)
    QAction *PageMode2 = nullptr;
    QAction *PageMode3 = nullptr;
    QAction *ShowScrollbars = nullptr;     //   "スクロールバー" (checkable)
    QAction *N16 = nullptr;                // "ヘルプ"
    QAction *GoHelp = nullptr;             //   "ヘルプ"
    QAction *N18 = nullptr;                //   separator
    QAction *N19 = nullptr;                //   "アップデート"
    QAction *N20 = nullptr;                //   separator
    QAction *N21 = nullptr;                //   "バージョン情報"

    QMenu *PopupMenu1 = nullptr;           // context menu of ListView1
    QAction *N1 = nullptr;                 // "ソート" submenu
    QAction *N6 = nullptr;                 // separator
    QAction *N7 = nullptr;                 // "表示" submenu
    QAction *N8 = nullptr;                 //   "縮小"
    QAction *N10 = nullptr;                //   "一覧"
    QAction *N11 = nullptr;                //   "アイコン"
    QAction *N27 = nullptr;                //   "サムネイル"
    QAction *N25 = nullptr;                // separator
    QAction *N26 = nullptr;                // "名前の変更"
    QAction *N17 = nullptr;                // separator, shown by start-up step 19
    QAction *N24 = nullptr;                // "関連付けアプリで開く", shown by step 19

    QStatusBar *StatusBar1 = nullptr;      // panels 0 (version), 1 (document), 2 (folder)
    QWidget *Panel1 = nullptr;             // left panel: tree, Splitter2, list
    QTreeWidget *TreeView1 = nullptr;      // folder tree
    SplitterBar *Splitter2 = nullptr;      // between tree and list
    FileListView *ListView1 = nullptr;     // PDF file list
    SplitterBar *Splitter1 = nullptr;      // right of Panel1
    QWidget *ViewerArea = nullptr;         // rest of the client area; hosts the viewer
    // The viewer of the back-end PDFmode chose, made by start-up step 8;
    // AcroPDF or WebBrowser is the same control by its own type (the other
    // one stays null).
    PdfViewer *Viewer = nullptr;
    TWebBrowser *WebBrowser = nullptr;     // web view control, mode 1 only
    TAcroPDF *AcroPDF = nullptr;           // PDF view control, mode 0 only
    QTimer *Timer1 = nullptr;              // focus timer, 10 ms, disabled at start

    // ---- Fields ----
    int PDFmode = 0;                           // 0 = AcroPDF, 1 = WebBrowser; fixed at start-up
    QString FRootFolder;                       // root folder, trailing delimiter
    QString CurrentFolder;                     // folder the list shows, trailing delimiter (panel 2)
    QString CurrentDocument;                   // document last opened from the list (panel 1)
    QWidget *AFocusControl = nullptr;          // keeps the focus while Timer1 runs (ListView1)
    TplFolderWatcher *plFolderWatcher = nullptr; // owned by the window
    // The settings store with the program paths and the update operations:
    // made by start-up step 1, freed by shutdown step 4 (a child of the
    // window, so a shutdown that ends early does not leak it).
    TSysUpdateModule *SysUpdateModule = nullptr;

    // ---- Status panels (0 version, 1 current document, 2 current folder) ----
    QString StatusPanelText(int index) const;
    void SetStatusPanelText(int index, const QString &text);
    QLabel *StatusPanel(int index) const;
    // Set the field and show it in its panel.
    void SetCurrentFolder(const QString &folder);
    void SetCurrentDocument(const QString &path);

    // Whether `widget` is the document surface of a view control: the widget
    // its renderer takes the keyboard focus with.
    using DocumentSurfaceTest = std::function<bool(const QWidget *)>;
    // Places a view control in the viewer area, filling it and on top;
    // `isSurface` tells the control's document surface for the focus rule.
    void PlaceInViewerArea(QWidget *control, DocumentSurfaceTest isSurface = {});
    // True when `widget` is the document surface of a view control placed here.
    bool IsDocumentSurface(const QWidget *widget) const;
    // The file the list's current row names; empty when no row is current.
    QString CurrentListFile() const;

    // ---- Spine (Unit1.cpp) ----
    void FormCreate(QObject *Sender);
    void FormDestroy(QObject *Sender);
    void FormResize(QObject *Sender);
    void ListView1Resize(QObject *Sender);
    void Timer1Timer(QObject *Sender);
    void AcroPDFEnter(QObject *Sender);
    void WebBrowserEnter(QObject *Sender);
    void N15Click(QObject *Sender);
    void N21Click(QObject *Sender);
    // Start-up step 18: restores the saved layout with FormResize detached.
    void RestoreLayout();
    // The application's error box (error icon, OK, program title).
    static void ShowException(const QString &message);
    // Runs `f` (an event handler); an error it raises is shown in the error
    // box and goes no further.  For the areas' own signal connections.
    template <typename F> static void Guarded(F &&f)
    {
        try {
            f();
        } catch (const AppError &e) {
            ShowException(e.message());
        } catch (const std::exception &e) {
            ShowException(QString::fromLocal8Bit(e.what()));
        }
    }

    // ---- Browse (Unit1Browse.cpp) ----
    void ShowRootFolder(const QString &folder);
    QString GetNodePath(QTreeWidgetItem *node);
    void TreeView1Expanding(QObject *Sender, QTreeWidgetItem *Node, bool &AllowExpansion);
    void TreeView1DblClick(QObject *Sender);
    void N13Click(QObject *Sender);
    // Reads `folder` into the list on a worker (FileListModel::readFolder);
    // the status bar tells of the read while it lasts (ShowReadProgress).
    void ListPdfFiles(const QString &folder);
    // "読み込み中… N 件" over the status panels while a folder is read, N
    // the rows known so far; cleared, the panels shown again, at its end.
    void ShowReadProgress(int rows);
    void ClearReadProgress();
    void SortFileList(int column);
    void ListView1Click(QObject *Sender);
    // Enter opens the selected file; F2 renames it (the dialog opens once
    // the key has been handled).
    void ListView1KeyDown(QObject *Sender, int &Key, Qt::KeyboardModifiers Shift);
    void ListView1ColumnClick(QObject *Sender, int Column);
    void PopupMenu1Popup(QObject *Sender);
    void N8Click(QObject *Sender);
    void N10Click(QObject *Sender);
    void N11Click(QObject *Sender);
    void N27Click(QObject *Sender);
    void N26Click(QObject *Sender);
    void N24Click(QObject *Sender);

    // ---- Viewer (Unit1Viewer.cpp) ----
    // Prints the shown document (the File menu's item, Ctrl+P, and the
    // viewer's print button).
    void Print1Click(QObject *Sender);
    // Prints for this window (made on first use).
    DocumentPrinter &Printer();
    // Start-up step 8: makes the viewer of PDFmode (the built-in view when
    // the build has no web view) and binds it.
    void CreateViewer();
    // Shutdown step 3: releases the viewer.
    void ReleaseViewer();
    // Lets the viewer go of the shown file (before it is renamed, or before
    // the viewer is released).
    void UnloadDocument();
    void ReadPDF(const QString &path);
    void ShowToolbarClick(QObject *Sender);
    void ShowScrollbarsClick(QObject *Sender);
    void LayoutMode1Click(QObject *Sender);
    void PageMode1Click(QObject *Sender);
    void DisplayInitializeClick(QObject *Sender);
    void GoHelpClick(QObject *Sender);

    // ---- Watch (Unit1Watch.cpp) ----
    // Start-up step 3: creates the watcher and binds its change to plFolderWatcher1Change.
    void CreateFolderWatcher();
    // Shutdown step 2: frees the watcher and clears plFolderWatcher.
    void FreeFolderWatcher();
    // Points the watcher at `folder` and its whole sub-tree and starts it;
    // ShowRootFolder calls it with the root folder.  Expanding a tree node
    // does not move the watch.
    void WatchRootFolder(const QString &folder);
    void plFolderWatcher1Change(QObject *Sender, int AEvent, const QString &BeforeFullPath,
                                const QString &BeforeFileName, const QString &AfterFullPath,
                                const QString &AfterFileName);

    // ---- Update (Unit1Update.cpp) ----
    void N19Click(QObject *Sender);
    // Start-up step 20: the check, and what it has to tell.
    void StartupUpdateCheck();

    // ---- Documents and folders from outside (Unit1Open.cpp) ----
    // The first argument as start-up step 4 found it when it names neither a
    // folder nor a readable PDF; empty otherwise.  main() reports it once the
    // window shows.
    QString UnusableArgument;
    // Start-up step 16 for a PDF argument, and a PDF from outside: the tree
    // from place.root (rebuilt when `rebuildTree`, else as it is) opened down
    // to the document's folder, that folder listed and the document's row
    // selected.  FRootFolder must already be place.root.
    void ShowDocumentPlace(const DocumentPlace &place, bool rebuildTree);
    // Shows `document` as Enter on its row would (the row selected when the
    // list shows it).
    void ShowListedDocument(const QString &document);
    // A folder or PDF handed over by a second start or dropped on the window,
    // taken as a first argument is: a folder becomes this run's root; a PDF
    // is shown among its neighbours, the tree keeping its root when the PDF
    // lies below it and rooted at the PDF's folder otherwise (neither is
    // stored).  Anything else is reported in a message box.  The list keeps
    // the keyboard focus.
    void OpenFromOutside(const QString &path);
    // A second start's request: its path (if any) as OpenFromOutside takes it,
    // and the window brought to the front.
    void OpenHandedOver(const QStringList &paths);
    // The message box for a path that names neither a folder nor a readable PDF.
    void ShowUnusablePath(const QString &path);
    // Restores, raises and activates the window.
    void BringToFront();

protected:
    void resizeEvent(QResizeEvent *event) override;
    // Local folders and PDFs dragged from a file manager (OpenFromOutside).
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void CreateControls();
    void CreateMenus();
    void BindEvents();
    void BindFolderTree();
    void bindAction(QAction *action, void (TForm1::*handler)(QObject *));
    template <typename F> void guarded(F &&f) { Guarded(std::forward<F>(f)); }

    // The display logic bound to this window's controls, made once (Unit1Viewer.cpp).
    DocumentDisplay &Display();
    struct FormDisplayDeleter
    {
        void operator()(FormDisplay *display) const;
    };
    std::unique_ptr<FormDisplay, FormDisplayDeleter> m_formDisplay;
    // The view control's engines, made with it; the control goes first.

    QStringList m_args;
    ProgramServices &m_services;
    DocumentPrinter *m_printer = nullptr; // owned as a child
    std::unique_ptr<WidgetUpdateUi> m_updateUi;
    ThumbnailProvider *m_thumbnails = nullptr; // made on first use of the thumbnail style
    FolderTree *m_folderTree = nullptr;
    struct ViewControl
    {
        QPointer<QWidget> control;
        DocumentSurfaceTest isSurface;
    };
    std::vector<ViewControl> m_viewControls;
    QLabel *m_panels[3] = {nullptr, nullptr, nullptr};
    bool m_formResizeAttached = true;
    QString m_draggedPath; // the folder or PDF of the drag over the window (Unit1Open.cpp)
    bool m_destroyed = false;
};

