// Folder tree, file list and file actions of the main window.  Each body is
// a thin call into browse/.
#include "app/Unit1.h"

#include "app/ProgramPaths.h"
#include "app/SysUpdate.h"
#include "app/common.h"
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
#include "viewer/TAcroPDF.h"
#include "watch/plFolderWatcher.h"

#include <QCollator>
#include <QCoreApplication>
#include <QLocale>
#include <QMenu>
#include <QTreeWidget>

namespace {

// The tree logic lives beside the tree it drives, made on first use.
FolderTree *folderTreeOf(TForm1 *form)
{
    auto *tree = form->TreeView1->findChild<FolderTree *>(QString(), Qt::FindDirectChildrenOnly);
    if (!tree) {
        tree = new FolderTree(form->TreeView1, form->TreeView1);
        // Every read of a folder ends by pointing the watcher at it.
        tree->setFolderReadCallback([form](const QString &path) {
            if (form->plFolderWatcher) {
                form->plFolderWatcher->setDirectory(path);
                form->plFolderWatcher->StartWatch();
            }
        });
    }
    return tree;
}

} // namespace

// ---- Folder tree ----

void TForm1::ShowRootFolder(const QString &folder)
{
    folderTreeOf(this)->showRoot(folder);
    ListPdfFiles(folder);
}

void TForm1::AddFolderNodes(const QString &path, QTreeWidgetItem *node, bool addChildren)
{
    folderTreeOf(this)->addFolderNodes(path, node, addChildren);
}

QString TForm1::GetNodePath(QTreeWidgetItem *node)
{
    return FolderTree::nodePath(FRootFolder, node);
}

void TForm1::TreeView1Expanding(QObject *, QTreeWidgetItem *Node, bool &AllowExpansion)
{
    if (Node && FolderTree::hasChildrenFlag(Node) && Node->childCount() == 0)
        folderTreeOf(this)->expandNode(Node, GetNodePath(Node));
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
    SysUpdateModule->RegistryWriteString(QStringLiteral("Folder"), FRootFolder);
}

// ---- File list ----

void TForm1::ListPdfFiles(const QString &folder)
{
    SetStatusPanelText(2, folder);
    ListView1->model()->fillFromFolder(folder, QLocale());
}

void TForm1::SortFileList(int column)
{
    // One collator for the whole sort: building one costs more than many
    // comparisons.
    const QCollator collator = BrowseRules::columnCollator(QLocale());
    ListView1->model()->sortRows([&collator, column](const FileEntry &a, const FileEntry &b) {
        return BrowseRules::CompareFileItems(a, b, column, collator);
    });
}

int TForm1::CompareFileItems(const FileEntry &item1, const FileEntry &item2, int column)
{
    return BrowseRules::CompareFileItems(item1, item2, column, BrowseRules::columnCollator(QLocale()));
}

void TForm1::ListView1Click(QObject *)
{
    const QString name = ListView1->selectedName();
    if (name.isEmpty())
        return;
    SetStatusPanelText(1, StatusPanelText(2) + name);
    ReadPDF(StatusPanelText(1));
}

void TForm1::ListView1KeyDown(QObject *Sender, int &Key, Qt::KeyboardModifiers)
{
    // Enter opens whatever modifiers are held; the key goes on to the list unchanged.
    if (Key == Qt::Key_Return || Key == Qt::Key_Enter)
        ListView1Click(Sender);
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
    // Made on first use: the pictures come from the viewer's render service
    // (without one, as in the web mode, the provider runs its own).
    if (!ListView1->thumbnailView()->provider()) {
        ListView1->setThumbnailProvider(new ThumbnailProvider(
            AcroPDF ? AcroPDF->renderService() : nullptr, ThumbnailCache::defaultEnvironment(),
            48ll * 1024 * 1024, ListView1));
        ListView1->setFolderSource([this] { return StatusPanelText(2); });
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
        form.WorkDir = StatusPanelText(2);
        form.setFileName(caption);
        form.exec();
        if (form.Res) {
            // The viewer lets go of the file before it moves.
            UnloadDocument();
            const QString name = form.LetsRename();
            ReadPDF(form.WorkDir + name);
        }
    }
    ListPdfFiles(StatusPanelText(2));
}

void TForm1::N24Click(QObject *)
{
    const QString caption = ListView1->selectedName();
    if (caption.isEmpty())
        return;
    if (!FileActions::openWithAssociatedApp(StatusPanelText(2) + caption))
        MsgWarning(QStringLiteral("起動に失敗しました"));
}
