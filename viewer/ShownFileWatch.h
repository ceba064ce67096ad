#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

class QFileSystemWatcher;
class QTimer;

// Follows the file of the shown document on disk and says when a new
// version of it has settled: changed() comes once the file (or its folder
// entry: a file replaced by a rename, or deleted and made again) has rested
// `settleMs` after its last change, and only when it differs from the
// version last taken (size, write time or change time, or its existence).
// A changed file that does not yet end like a whole PDF gets a few more rests
// before changed() tells of it as it is.  Changes of other files in the
// folder only start the wait; they never hold the shown file's change back.
//
// UI thread.  Owned by its QObject parent.
class ShownFileWatch : public QObject
{
    Q_OBJECT
public:
    explicit ShownFileWatch(QObject *parent = nullptr, int settleMs = 300);

    // Follows `path` from now on, as it is now (empty: nothing).
    void watch(const QString &path);
    QString path() const { return m_path; }

signals:
    // The file at path() is another version now (or gone); it is taken as
    // the version last seen.
    void changed(const QString &path);

private:
    struct State
    {
        bool exists = false;
        qint64 size = -1;
        QDateTime modified;
        QDateTime changed;
        bool operator==(const State &) const = default;
    };
    static State stateOf(const QString &path);
    void onChange(bool itself);
    void settle();

    QFileSystemWatcher *m_watcher;
    QTimer *m_timer;
    QString m_path;
    State m_state;
    int m_unfinishedRests = 0; // rests given to a changed file not yet written to its end
};
