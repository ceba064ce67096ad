#include "watch/plFolderWatcher.h"

#include "base/ShellChangeCodes.h"

#include <QCoreApplication>
#include <QPointer>
#include <QScopeGuard>
#include <QStandardPaths>

// Stands in for the watcher's hidden window: the object the layer posts the
// reports to.  Deleting it drops the reports still queued for it, which is
// how reports posted while the watcher is stopped are lost.
class PlFolderWatcherReceiver : public QObject
{
public:
    explicit PlFolderWatcherReceiver(TplFolderWatcher *watcher)
        : m_watcher(watcher)
    {
    }
    void detach() { m_watcher = nullptr; }

protected:
    bool event(QEvent *e) override
    {
        if (e->type() == changeNotifyEventType()) {
            if (m_watcher)
                m_watcher->WndProc(e);
            return true;
        }
        return QObject::event(e);
    }

private:
    TplFolderWatcher *m_watcher;
};

TplFolderWatcher::TplFolderWatcher(QObject *AOwner, FolderChangeLayer *layer)
    : QObject(AOwner)
    , FAboutVCL(QStringLiteral("Version 1.05"))
    , FRecursive(true)
    , FOptions{evt_RENAMEITEM, evt_CREATE, evt_DELETE, evt_MKDIR, evt_RMDIR, evt_UPDATEDIR, evt_UPDATEITEM,
               evt_RENAMEFOLDER}
    , m_layer(layer)
{
}

TplFolderWatcher::~TplFolderWatcher()
{
    StopWatch();
}

bool TplFolderWatcher::StartWatch()
{
    StopWatch();
    // Nothing to register with: the owner never handed a layer over.
    if (!m_layer)
        return false;

    QString desktop = m_desktopFolder;
    if (FDirectory.isEmpty() && desktop.isEmpty())
        desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QString path = plWatchPath(FDirectory, desktop);
    if (path.isEmpty())
        return false;

    FSources = FRecursive ? (ChangeSourceInterrupt | ChangeSourceShell | ChangeSourceRecursiveInterrupt)
                          : (ChangeSourceInterrupt | ChangeSourceShell);
    FWindowHandle = new PlFolderWatcherReceiver(this);
    const FolderChangeLayer::Registration reg = m_layer->registerFolder(
        FWindowHandle, quint32(FSources), plEventMask(FOptions), changeNotifyEventType(), path, FRecursive);
    uIID = reg.id;
    return uIID != 0 && reg.complete;
}

void TplFolderWatcher::StopWatch()
{
    releaseReceiver();
    if (uIID != 0) {
        if (m_layer)
            m_layer->deregisterFolder(uIID);
        uIID = 0;
    }
}

void TplFolderWatcher::releaseReceiver()
{
    if (!FWindowHandle)
        return;
    PlFolderWatcherReceiver *receiver = std::exchange(FWindowHandle, nullptr);
    receiver->detach();
    QCoreApplication::removePostedEvents(receiver);
    // Inside OnChange the receiver is still handling the report that called
    // us; it goes when that handling has returned.
    if (m_delivering > 0)
        receiver->deleteLater();
    else
        delete receiver;
}

void TplFolderWatcher::WndProc(QEvent *Message)
{
    const auto *report = static_cast<const ChangeReportEvent *>(Message);
    const qint32 AEvent = report->code();
    const QString BeforeFullPath = report->first();
    const QString AfterFullPath = report->second();

    const bool repeat = AEvent == FOldEvent && BeforeFullPath == FOldPathBefore && AfterFullPath == FOldPathAfter;
    if (!repeat) {
        FOldEvent = AEvent;
        FOldPathBefore = BeforeFullPath;
        FOldPathAfter = AfterFullPath;
        // The handler may stop, restart or even drop this watcher's
        // receiver; only the watcher's own fields are used afterwards.
        ++m_delivering;
        QPointer<TplFolderWatcher> self(this);
        // A throwing handler leaves the count as it found it.
        const auto delivered = qScopeGuard([&] {
            if (self)
                --m_delivering;
        });
        const QString BeforeFileName = plFileNamePart(BeforeFullPath);
        const QString AfterFileName = plFileNamePart(AfterFullPath);
        emit changed(AEvent, BeforeFullPath, BeforeFileName, AfterFullPath, AfterFileName);
        if (self && FOnChange) {
            const TplFolderWatcherEvent handler = FOnChange;
            handler(this, AEvent, BeforeFullPath, BeforeFileName, AfterFullPath, AfterFileName);
        }
        if (!self)
            return;
    }
    if (FOldEvent == ShellChange::UpdateDir)
        FOldEvent = -1;
}
