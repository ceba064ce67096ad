#pragma once

#include "watch/FolderChangeLayer.h"
#include "watch/FolderWatchRules.h"

#include <QObject>
#include <QString>

#include <functional>

class QEvent;
class PlFolderWatcherReceiver;

// The change handler: the reporting watcher, the event code and the two items
// of the change as full path and bare file name (the second pair is empty
// when the change has one item).
using TplFolderWatcherEvent = std::function<void(QObject *Sender, qint32 AEvent, QString BeforeFullPath,
                                                 QString BeforeFileName, QString AfterFullPath,
                                                 QString AfterFileName)>;

// Watches one folder (and by default its whole sub-tree) and reports each
// change once through OnChange, dropping a report that repeats the one
// delivered just before it (folder updates, 0x1000, are never dropped).
//
// Owned by its QObject parent.  Properties only store their value; they take
// effect at the next StartWatch.  Lives on the UI thread: reports arrive
// through the event loop, one OnChange call each, and OnChange may call
// StopWatch and StartWatch of the same watcher.
class TplFolderWatcher : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString AboutVCL READ AboutVCL CONSTANT)
    Q_PROPERTY(QString Directory READ Directory WRITE setDirectory)
    Q_PROPERTY(bool Recursive READ Recursive WRITE setRecursive)
public:
    // `layer` delivers the reports (not owned; it must outlive the watcher);
    // without one (here or through setLayer) StartWatch fails.
    explicit TplFolderWatcher(QObject *AOwner = nullptr, FolderChangeLayer *layer = nullptr);
    // Stops watching before the watcher goes.
    ~TplFolderWatcher() override;

    QString AboutVCL() const { return FAboutVCL; }
    QString Directory() const { return FDirectory; }
    void setDirectory(const QString &value) { FDirectory = value; }
    bool Recursive() const { return FRecursive; }
    void setRecursive(bool value) { FRecursive = value; }
    TplFolderEventOptions Options() const { return FOptions; }
    void setOptions(TplFolderEventOptions value) { FOptions = value; }
    TplFolderWatcherEvent OnChange() const { return FOnChange; }
    void setOnChange(TplFolderWatcherEvent handler) { FOnChange = std::move(handler); }

    // Ends any earlier watch, then watches `Directory` with the current
    // `Recursive` and `Options`.  True when the whole folder is watched;
    // false when the folder cannot be watched, or the system's watch limit
    // left part of the sub-tree unwatched (what is watched keeps reporting).
    bool StartWatch();
    // Ends watching; safe at any time, also from inside OnChange.  The
    // memory of the last delivered report is kept.
    void StopWatch();

    // Replaces the layer that delivers the reports (not owned; null: the
    // process-wide inotify layer).  Stops watching first.
    void setLayer(FolderChangeLayer *layer)
    {
        StopWatch();
        m_layer = layer;
    }
    // True while a registration is held.
    bool isWatching() const { return uIID != 0; }
    // Source flags and event mask of the last StartWatch.
    qint32 sources() const { return FSources; }
    quint32 eventMask() const { return plEventMask(FOptions); }
    // The folder used for the desktop when `Directory` is empty; defaults to
    // the user's desktop folder.
    void setDesktopFolder(const QString &folder) { m_desktopFolder = folder; }

signals:
    // Emitted for each delivered report, just before OnChange is called.
    void changed(qint32 AEvent, const QString &BeforeFullPath, const QString &BeforeFileName,
                 const QString &AfterFullPath, const QString &AfterFileName);

private:
    friend class PlFolderWatcherReceiver;
    void WndProc(QEvent *Message);
    void releaseReceiver();

    quint32 uIID = 0;
    QString FAboutVCL;
    qint32 FSources = 0;
    QString FDirectory;
    bool FRecursive = true;
    TplFolderEventOptions FOptions;
    TplFolderWatcherEvent FOnChange;
    PlFolderWatcherReceiver *FWindowHandle = nullptr;
    QString FOldPathBefore;
    QString FOldPathAfter;
    qint32 FOldEvent = 0;

    FolderChangeLayer *m_layer = nullptr;
    QString m_desktopFolder;
    int m_delivering = 0;
};
