// Folder tree, file list and file actions of the main window.  Each body
// calls into browse/; until that lands they do nothing.
#include "app/Unit1.h"

#include "browse/FileListView.h"

#include <QStandardItem>
#include <QTreeWidget>

void TForm1::ShowRootFolder(const QString &) {}
void TForm1::AddFolderNodes(const QString &, QTreeWidgetItem *, bool) {}
QString TForm1::GetNodePath(QTreeWidgetItem *) { return QString(); }
void TForm1::TreeView1Expanding(QObject *, QTreeWidgetItem *, bool &) {}
void TForm1::TreeView1DblClick(QObject *) {}
void TForm1::N13Click(QObject *) {}
void TForm1::ListPdfFiles(const QString &) {}
void TForm1::SortFileList(int) {}
int TForm1::CompareFileItems(const QStandardItem *, const QStandardItem *, int) { return 0; }
void TForm1::ListView1Click(QObject *) {}
void TForm1::ListView1KeyDown(QObject *, int &, Qt::KeyboardModifiers) {}
void TForm1::ListView1ColumnClick(QObject *, int) {}
void TForm1::PopupMenu1Popup(QObject *) {}
void TForm1::N8Click(QObject *) {}
void TForm1::N10Click(QObject *) {}
void TForm1::N11Click(QObject *) {}
void TForm1::N26Click(QObject *) {}
void TForm1::N24Click(QObject *) {}
