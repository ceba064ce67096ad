// The folder watcher of the main window and the reaction to its reports.
#include "app/Unit1.h"

#include "app/ProgramServices.h"
#include "app/SysUpdate.h"
#include "base/ProgramName.h"
#include "browse/FolderTree.h"
#include "watch/InotifyChangeLayer.h"
#include "watch/OwnWrites.h"
#include "watch/PollingChangeLayer.h"
#include "watch/plFolderWatcher.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

void TForm1::CreateFolderWatcher()
{
    PollingChangeLayer &polling = m_services.pollingLayer();
    plFolderWatcher = new TplFolderWatcher(this, &polling);
    // Folders on a file share are looked at every few seconds, but only
    // while the window shows them: the listed folder and the tree's open
    // folders (the root's sub-folders are always on show).
    const int pollSeconds = m_services.store().readInteger(sheafline::Setting::PollInterval);
    polling.setInterval(std::max(1, pollSeconds) * 1000);
    polling.setShownFolders([this]() -> PollingChangeLayer::ShownFolders {
        if (FRootFolder.isEmpty())
            return {};
        PollingChangeLayer::ShownFolders shown{CurrentFolder, {FRootFolder}, !isMinimized()};
        for (QTreeWidgetItemIterator it(TreeView1); *it; ++it) {
            // An open node inside a closed one is out of sight.
            bool inSight = (*it)->isExpanded();
            for (const QTreeWidgetItem *up = (*it)->parent(); inSight && up; up = up->parent())
                inSight = up->isExpanded();
            if (inSight)
                shown.expanded.append(FolderTree::nodePath(FRootFolder, *it));
        }
        return shown;
    });
    // What the program writes all along is no change on disk for it: the
    // settings (written on every resize) and the update work folder, when
    // they lie under the root folder (the home folder, say).
    if (SysUpdateModule) {
        OwnWrites &own = *m_services.changeLayer().ownWrites();
        QString settings = SysUpdateModule->store().file();
        if (settings.isEmpty()) {
            // The store's own default: the user's settings file.
            settings = QSettings(QSettings::NativeFormat, QSettings::UserScope,
                                 QString::fromUtf16(sheafline::kOrganizationName),
                                 QString::fromUtf16(sheafline::kApplicationName))
                           .fileName();
        }
        own.claim(QDir::cleanPath(QFileInfo(settings).absoluteFilePath()));
        if (!SysUpdateModule->RunPath.isEmpty())
            own.claim(QDir::cleanPath(SysUpdateModule->RunPath));
    }
    // Reports arrive from the event loop: an error of the reaction reaches
    // the application's error box like that of any other event handler.
    plFolderWatcher->setOnChange([this](QObject *Sender, qint32 AEvent, QString BeforeFullPath,
                                        QString BeforeFileName, QString AfterFullPath, QString AfterFileName) {
        plFolderWatcher1Change(Sender, AEvent, BeforeFullPath, BeforeFileName, AfterFullPath, AfterFileName);
    });
}

void TForm1::FreeFolderWatcher()
{
    delete plFolderWatcher;
    plFolderWatcher = nullptr;
}

void TForm1::WatchRootFolder(const QString &folder)
{
    // Only a rebuild from the root moves the watch: a watch that followed
    // each expanded node would no longer see the current folder elsewhere
    // under the root, and the list would go stale.
    if (!plFolderWatcher)
        return;
    plFolderWatcher->setDirectory(folder);
    plFolderWatcher->StartWatch();
}

void TForm1::plFolderWatcher1Change(QObject *, int, const QString &, const QString &, const QString &,
                                    const QString &)
{
    // Every report, of whatever kind, leads to the same full refresh; the
    // viewer keeps whatever it shows.
    if (!plFolderWatcher)
        return;
    plFolderWatcher->StopWatch();
    ShowRootFolder(FRootFolder);
    plFolderWatcher->StartWatch();
}
