#pragma once

#include "watch/FolderChangeLayer.h"
#include "watch/OwnWrites.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <map>
#include <memory>

class QSocketNotifier;

// Folder change notification on Linux inotify.  One descriptor serves every
// registration; it is read on the owning (UI) thread through a
// QSocketNotifier, so reports reach their receivers through the event loop.
//
// Watches are kept as a cache across registrations: ending a registration
// only schedules the removal of watches that no registration needs, which
// runs when control returns to the event loop.  A rebuild that stops and
// restarts the watcher once per folder therefore walks the tree at most once.
// When no registration is left at that point, the descriptor is closed.
//
// A file closed after writing also reports a folder update (0x1000) for its
// folder, which the watcher's repeat rule never drops: a file written in
// several stages is seen after each of them.  These updates are collected
// per folder and sent once the writes have paused for a short while (at the
// latest a second after the first), to whatever registration then covers the
// folder: a burst of writes is one update per folder, and a write that ends
// while a watcher restarts is not lost.
//
// The program's own writes (announced to ownWrites()) are left out: no
// report names an announced path, and a write that closes on one does not
// count as an update of its folder.
//
// Not thread-safe: use it on the thread that created it (ownWrites() is).
class InotifyChangeLayer : public QObject, public FolderChangeLayer
{
    Q_OBJECT
public:
    explicit InotifyChangeLayer(QObject *parent = nullptr);
    ~InotifyChangeLayer() override;

    // Where the program announces the paths it writes itself (shared: a
    // writer may keep it beyond the layer).
    const std::shared_ptr<OwnWrites> &ownWrites() const { return m_ownWrites; }

    Registration registerFolder(QObject *receiver, quint32 sources, quint32 eventMask, int eventType,
                                const QString &folder, bool recursive) override;
    void deregisterFolder(quint32 id) override;

    // The inotify descriptor, -1 while closed (diagnostics and tests).
    int descriptor() const { return m_fd; }
    // True when `folder` (a clean path) has a watch of its own.
    bool isWatched(const QString &folder) const { return m_wdByPath.contains(folder); }
    // True when the last registration (or folder adopted since) ran into
    // the system's watch limit.
    bool watchLimitReached() const { return m_limitHit; }
    // Number of folders currently watched.
    int watchCount() const { return int(m_nodes.size()); }
    // Stops (false) or resumes (true) reading the descriptor; while stopped,
    // the kernel queues events (and may overflow).  For tests.
    void setReadingEnabled(bool enabled);
    // True while a clean-up of unneeded watches is pending.
    bool hasPendingCleanup() const { return m_cleanupTimer.isActive(); }
    // Makes adding a watch fail as at the system's limit once `maxWatches`
    // folders are watched (-1: only the system's limit).  For tests.
    void setWatchLimitForTesting(int maxWatches) { m_testWatchLimit = maxWatches; }

private:
    struct Node
    {
        QString path;
        bool complete = false; // every folder below is watched too
    };
    struct Reg
    {
        QPointer<QObject> receiver;
        quint32 mask = 0;
        int eventType = 0;
        QString root;
        bool recursive = false;
        bool alive = true;
    };
    struct PendingMove
    {
        quint32 cookie = 0;
        QString path;
        bool isDir = false;
    };

    bool ensureOpen();
    void closeDescriptor();
    void readEvents();
    void processBuffer(const char *data, qsizetype size);
    void processEvent(int wd, quint32 mask, quint32 cookie, const QString &name);
    void settleMoves();
    void settleMovesNow();
    void adoptFolder(const QString &path, bool reportContents);
    void noteFolderUpdate(const QString &folder);
    void sendFolderUpdates();
    void cleanUp();
    void scheduleCleanup();

    int addWatch(const QString &path, bool followLink);
    bool walk(const QString &path, bool followLink, bool reportContents);
    // walk() for a folder whose watch `wd` has just been added.
    bool walkWatched(int wd, const QString &path, bool reportContents);
    void forgetNode(int wd);
    void removeWatchesUnder(const QString &path);
    void markAncestorsIncomplete(const QString &path);
    void renameNodes(const QString &from, const QString &to);

    bool covers(const Reg &reg, const QString &folder) const;
    void report(const QString &folder, qint32 code, const QString &first, const QString &second = {});
    void post(Reg &reg, qint32 code, const QString &first, const QString &second);
    void endRegistrationsRootedAt(const QString &path, bool reportRemoval);

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    bool m_readingEnabled = true;
    bool m_limitHit = false;
    int m_testWatchLimit = -1;
    QHash<int, Node> m_nodes;
    QHash<QString, int> m_wdByPath;
    std::map<quint32, Reg> m_regs;
    quint32 m_nextId = 1;
    QList<PendingMove> m_pendingMoves;
    QTimer m_settleTimer;
    QTimer m_cleanupTimer;
    QStringList m_updatedFolders; // folders with a write closed since the last send
    QElapsedTimer m_updatesPendingSince;
    QTimer m_updateTimer;
    std::shared_ptr<OwnWrites> m_ownWrites = std::make_shared<OwnWrites>();
};
