// The folder watcher of the main window and the reaction to its reports.
// Each body calls into watch/; until that lands they do nothing.
#include "app/Unit1.h"

void TForm1::CreateFolderWatcher() {}
void TForm1::FreeFolderWatcher() { plFolderWatcher = nullptr; }
void TForm1::plFolderWatcher1Change(QObject *, int, const QString &, const QString &,
                                    const QString &, const QString &)
{
}
