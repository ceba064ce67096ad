#pragma once

#include "watch/FolderChangeLayer.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

class InotifyChangeLayer;

// The change layer the program watches through: every registration goes to
// the inotify layer as it is, and the folders on show that inotify cannot
// vouch for are polled besides - those on a file system where other machines
// change files unseen (watch/ChangeNotice.h), and those left unwatched at the
// system's watch limit.  A folder that polling finds changed (names, sizes,
// modification times) is reported to the registrations covering it as
// inotify would report it: one report per changed entry, then a folder update
// (0x1000) that the watcher never drops as a repeat.
//
// Only what is on show is polled, as the source given to setShownFolders()
// tells on each check: the current folder with its entries' sizes and dates,
// the expanded folders of the tree by their names.  A folder is compared with
// its own previous round; the first round of a folder only takes its state.
//
// Every file-system access of polling (classifying a folder, reading it) runs
// on a worker thread of its own, one round at a time; a round that hangs in a
// dead share holds up polling but never the UI thread, and nothing waits for
// it at exit.  Rounds start no more often than the interval, and a round that
// took d starts the next no earlier than 9 d after its end, so polling keeps a
// share busy 10 % of the time at most; a round also spends at most a tenth of
// the interval on sizes and dates, taking the rest of a large folder's
// entries in later rounds.
//
// Owned by its QObject parent; the inotify layer is not owned and must
// outlive it.  UI thread only.
class PollingChangeLayer : public QObject, public FolderChangeLayer
{
    Q_OBJECT
public:
    // What the window shows: the folder whose files are listed, and the
    // folders whose sub-folders the tree shows (the root and every expanded
    // node).  Full paths, with or without a trailing delimiter.
    struct ShownFolders
    {
        QString current;
        QStringList expanded;
        // False while the window is out of sight (minimised): nothing is
        // read, and each folder is compared with its last state once seen
        // again, so what changed meanwhile is reported then.
        bool inSight = true;
    };
    using ShownFoldersSource = std::function<ShownFolders()>;

    // Counts since construction (diagnostics and tests).
    struct Stats
    {
        int checks = 0; // looks at what is shown
        int rounds = 0; // rounds sent to a worker
    };

    static constexpr int defaultIntervalMs = 5000;

    explicit PollingChangeLayer(InotifyChangeLayer *inotify, QObject *parent = nullptr);
    // Never waits for a round still running; its result is dropped.
    ~PollingChangeLayer() override;

    Registration registerFolder(QObject *receiver, quint32 sources, quint32 eventMask, int eventType,
                                const QString &folder, bool recursive) override;
    void deregisterFolder(quint32 id) override;

    // Called on the UI thread at each check; without one nothing is polled.
    void setShownFolders(ShownFoldersSource source);
    // Time between rounds in milliseconds (at least 100); takes effect at the
    // next check.
    void setInterval(int ms);
    int interval() const { return m_intervalMs; }

    // Looks at what is shown now, rather than at the next check, and polls
    // it if a folder is new or a round is due.
    void checkNow();

    // The folders the last finished round read; true while a round runs.
    QStringList polledFolders() const { return m_lastPolled; }
    bool roundRunning() const { return m_running; }
    Stats stats() const { return m_stats; }

signals:
    // A round has finished and its reports are posted; `polled` are the
    // folders it read (clean paths, no trailing delimiter).
    void roundFinished(const QStringList &polled);

private:
    struct Reg
    {
        quint32 innerId = 0;
        QPointer<QObject> receiver;
        quint32 mask = 0;
        int eventType = 0;
        QString root;
        bool recursive = false;
    };
    struct Round;
    struct Channel;

    void finishRound(const std::shared_ptr<Round> &round);
    bool covered(const QString &folder) const;
    void post(const QString &folder, qint32 code, const QString &first);

    InotifyChangeLayer *m_inotify;
    std::map<quint32, Reg> m_regs;
    quint32 m_nextId = 1;
    ShownFoldersSource m_source;
    int m_intervalMs = defaultIntervalMs;
    QTimer m_checkTimer;
    QTimer m_soonTimer;
    QTimer m_dueTimer;
    std::shared_ptr<Channel> m_channel;
    bool m_running = false;
    QElapsedTimer m_clock;
    qint64 m_lastStartMs = -1;
    qint64 m_earliestNextMs = 0;
    QStringList m_lastPolled;
    Stats m_stats;

    struct Entry
    {
        bool known = false; // size and time read at least once
        bool isDir = false;
        qint64 size = 0;
        qint64 mtimeNs = 0;
    };
    struct Snapshot
    {
        QHash<QString, Entry> entries;
        int cursor = 0; // where the next round goes on reading sizes and dates
    };
    struct Classified
    {
        bool localOnly = false;
        qint64 atMs = 0;
    };
    QHash<QString, Snapshot> m_snapshots;
    QHash<QString, Classified> m_classified;

    static void runRound(Round &round);
};
