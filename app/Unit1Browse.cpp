// Folder tree, file list and file actions of the main window.  Each body is
// a thin call into browse/.
#include "app/Unit1.h"

#include "app/ProgramServices.h"
#include "app/SysUpdate.h"
#include "base/ProgramPaths.h"
#include "app/MessageBoxes.h"
#include "browse/BrowseRules.h"
#include "browse/FileActions.h"
#include "browse/FileEntry.h"
#include "browse/FileListModel.h"
#include "browse/FileListView.h"
#include "browse/FolderPicker.h"
#include "browse/FolderTree.h"
#include "browse/RenameF.h"
#include "browse/ThumbnailListView.h"
#include "browse/ThumbnailProvider.h"
#include "watch/InotifyChangeLayer.h"

#include <QCollator>
#include <QCoreApplication>
#include <QLocale>
#include <QMenu>
#include <QStatusBar>
#include <QTreeWidget>

// ---- Folder tree ----

void TForm1::ShowRootFolder(const QString &folder)
{
    m_folderTree->showRoot(folder);
    WatchRootFolder(folder);
    ListPdfFiles(folder);
}

QString TForm1::GetNodePath(QTreeWidgetItem *node)
{
    return FolderTree::nodePath(FRootFolder, node);
}

void TForm1::TreeView1Expanding(QObject *, QTreeWidgetItem *Node, bool &AllowExpansion)
{
    if (Node && FolderTree::hasChildrenFlag(Node) && Node->childCount() == 0)
        m_folderTree->expandNode(Node, GetNodePath(Node));
    AllowExpansion = true;
}

void TForm1::TreeView1DblClick(QObject *)
{
    setCursor(Qt::WaitCursor);
    const QList<QTreeWidgetItem *> selected = TreeView1->selectedItems();
    if (!selected.isEmpty())
        ListPdfFiles(GetNodePath(selected.first()));
    SortFileList(0);
    unsetCursor();
}

void TForm1::N13Click(QObject *)
{
    // The program's own folder, not the present root.
    const QString programFolder = SysUpdateModule && !SysUpdateModule->FolderName.isEmpty()
        ? SysUpdateModule->FolderName
        : sheafline::withTrailingDelimiter(QCoreApplication::applicationDirPath());
    const QString chosen = FolderPicker::pick(this, programFolder);
    if (chosen.isEmpty())
        return;
    FRootFolder = sheafline::withTrailingDelimiter(chosen);
    ShowRootFolder(FRootFolder);
    SysUpdateModule->store().write(sheafline::Setting::Folder, FRootFolder);
}

// ---- File list ----

void TForm1::ListPdfFiles(const QString &folder)
{
    SetCurrentFolder(folder);
    ListView1->model()->readFolder(folder, QLocale());
}

void TForm1::ShowReadProgress(int rows)
{
    // A temporary message: the panels come back as they were once it clears.
    StatusBar1->showMessage(QStringLiteral("読み込み中… %1 件").arg(rows));
}

void TForm1::ClearReadProgress()
{
    StatusBar1->clearMessage();
}

void TForm1::SortFileList(int column)
{
    // One collator for the whole sort: building one costs more than many
    // comparisons.
    // Taken by value: a sort asked for while the folder is read runs at its end.
    const QCollator collator = BrowseRules::columnCollator(QLocale());
    ListView1->model()->sortRows(
        [collator, column](const FileEntry &a, const FileEntry &b) {
            return BrowseRules::CompareFileItems(a, b, column, collator);
        },
        column == 0);
}

void TForm1::ListView1Click(QObject *)
{
    const QString path = ListView1->selectedPath();
    if (path.isEmpty())
        return;
    SetCurrentDocument(path);
    ReadPDF(CurrentDocument);
}

void TForm1::ListView1KeyDown(QObject *Sender, int &Key, Qt::KeyboardModifiers Shift)
{
    // Enter opens whatever modifiers are held; the key goes on to the list unchanged.
    if (Key == Qt::Key_Return || Key == Qt::Key_Enter)
        ListView1Click(Sender);
    // F2 renames the current file, as in any file browser.  The dialog opens
    // once the key has been handled: its own event loop must not run inside
    // the list's handling of the key.
    if (Key == Qt::Key_F2 && !(Shift & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)))
        QMetaObject::invokeMethod(this, [this] { guarded([&] { N26Click(N26); }); }, Qt::QueuedConnection);
}

void TForm1::ListView1ColumnClick(QObject *, int Column)
{
    SortFileList(Column);
}

void TForm1::PopupMenu1Popup(QObject *)
{
    N1->setEnabled(false);
}

void TForm1::N8Click(QObject *)
{
    ListView1->setViewStyle(FileListView::ViewStyle::SmallIcon);
}

void TForm1::N10Click(QObject *)
{
    ListView1->setViewStyle(FileListView::ViewStyle::Report);
}

void TForm1::N11Click(QObject *)
{
    ListView1->setViewStyle(FileListView::ViewStyle::LargeIcon);
}

void TForm1::N27Click(QObject *)
{
    // Made on first use: the pictures are drawn by the program's one render
    // service, whichever back-end shows the documents.
    if (!m_thumbnails) {
        // The pictures written into the cache are the program's own: when
        // the root folder holds the cache (the home folder, say), writing
        // them must not rebuild the tree and list.
        ThumbnailCache::Environment environment = m_services.thumbnailEnvironment();
        environment.willWrite = [own = m_services.changeLayer().ownWrites()](const QString &path) {
            own->announce(path);
        };
        m_thumbnails = new ThumbnailProvider(m_services.renderService(), environment, 48ll * 1024 * 1024, ListView1);
        ListView1->setThumbnailProvider(m_thumbnails);
    }
    ListView1->setViewStyle(FileListView::ViewStyle::Thumbnail);
}

// ---- File actions ----

void TForm1::N26Click(QObject *)
{
    const QString caption = ListView1->selectedName();
    if (caption.isEmpty())
        return;
    {
        TRenameForm form(this);
        form.showError = [](const QString &text) { MsgError(text); };
        form.WorkDir = CurrentFolder;
        form.setFileName(caption);
        form.exec();
        if (form.Res) {
            // The viewer lets go of the file before it moves.
            UnloadDocument();
            const QString name = form.LetsRename();
            ReadPDF(form.WorkDir + name);
        }
    }
    ListPdfFiles(CurrentFolder);
}

void TForm1::N24Click(QObject *)
{
    const QString path = ListView1->selectedPath();
    if (path.isEmpty())
        return;
    if (!FileActions::openWithAssociatedApp(path))
        MsgWarning(QStringLiteral("起動に失敗しました"));
}
