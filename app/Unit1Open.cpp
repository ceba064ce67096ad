// Documents and folders that come from outside the window: a PDF argument,
// a second start's hand-over, a drop from a file manager.
#include "app/Unit1.h"

#include "app/CommandLine.h"
#include "app/MessageBoxes.h"
#include "base/PathRules.h"
#include "browse/FileListModel.h"
#include "browse/FileListView.h"
#include "browse/FolderTree.h"

#include <QAbstractItemView>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <utility>

namespace {

// The first local folder or PDF among the dragged items; empty when none.
QString droppedPath(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return {};
    for (const QUrl &url : data->urls()) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        if (folderExists(path) || readablePdfExists(path))
            return path;
    }
    return {};
}

} // namespace

void TForm1::ShowDocumentPlace(const DocumentPlace &place, bool rebuildTree)
{
    if (rebuildTree)
        m_folderTree->showRoot(place.root);
    m_folderTree->openDownTo(place.root, place.path());
    ListPdfFiles(place.folder);
}

void TForm1::ShowListedDocument(const QString &document)
{
    FileListModel *model = ListView1->model();
    // The row once the folder is read whole (at once when it is).
    model->whenRead([this, model, document] {
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->filePath(row) == document) {
                ListView1->selectRow(row);
                if (QAbstractItemView *view = ListView1->currentView())
                    view->scrollTo(model->index(row, 0));
                break;
            }
        }
    });
    SetCurrentDocument(document);
    ReadPDF(CurrentDocument);
}

void TForm1::OpenFromOutside(const QString &path)
{
    if (folderExists(path)) {
        FRootFolder = sheafline::withTrailingDelimiter(path);
        ShowRootFolder(FRootFolder);
    } else if (readablePdfExists(path)) {
        const DocumentPlace place =
            placeDocument(QDir::cleanPath(QDir::current().absoluteFilePath(path)), {FRootFolder}, canonicalPath);
        const bool newRoot = place.root != FRootFolder;
        FRootFolder = place.root;
        ShowDocumentPlace(place, newRoot);
        ShowListedDocument(place.document);
    } else {
        ShowUnusablePath(path);
        return;
    }
    ListView1->setFocus(Qt::OtherFocusReason);
}

void TForm1::OpenHandedOver(const QStringList &paths)
{
    BringToFront();
    if (!paths.isEmpty())
        OpenFromOutside(paths.first());
}

void TForm1::ShowUnusablePath(const QString &path)
{
    MsgWarning(unusablePathMessage(path));
}

void TForm1::BringToFront()
{
    if (isMinimized())
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void TForm1::dragEnterEvent(QDragEnterEvent *event)
{
    m_draggedPath = droppedPath(event->mimeData());
    if (!m_draggedPath.isEmpty())
        event->acceptProposedAction();
}

void TForm1::dragLeaveEvent(QDragLeaveEvent *event)
{
    m_draggedPath.clear();
    QMainWindow::dragLeaveEvent(event);
}

void TForm1::dropEvent(QDropEvent *event)
{
    // A source that lets go of its data as soon as it has sent the drop (a
    // program that ends right after) answers the drop's request for it with
    // nothing, though it gave it when the drag came in: the drop is of what
    // came in.
    QString path = droppedPath(event->mimeData());
    if (path.isEmpty())
        path = std::exchange(m_draggedPath, QString());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    guarded([&] { OpenFromOutside(path); });
}
