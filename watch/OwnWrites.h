#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

// The files and folders the program itself is about to write, so that the
// changes they cause are not taken for changes on disk: the folder tree and
// the file list are not rebuilt because the program filled its own picture
// cache (which may lie under the root folder, the home folder for one).
//
// A writer announces each path before it creates, writes, renames or
// removes it; the change layer asks about the path of each change it reads
// and leaves an announced one unreported.  An announcement holds for a while
// (long enough for the UI thread to read the changes it covers, even while
// busy) and is then forgotten; a change by another program to the same path
// within that while is taken as the program's own.  Paths the program keeps
// writing all along (its settings file, its work folder) are claimed once
// for good instead.
//
// Thread-safe: announce() from any thread (the cache is written off the UI
// thread), isOwn() from the layer's thread.  Shared between the layer and
// the writers by shared_ptr, so that neither outlives it.
class OwnWrites
{
public:
    // Milliseconds on a steady clock.
    using Clock = std::function<qint64()>;
    static constexpr qint64 defaultKeepMs = 30000;

    // Announcements hold for `keepMs`; `clock` is the steady clock (a test
    // passes its own).
    explicit OwnWrites(qint64 keepMs = defaultKeepMs, Clock clock = {});

    // `path` (absolute, as the layer spells it: no trailing delimiter) is
    // about to be written by the program.
    void announce(const QString &path);
    // `path` is the program's own for good, and so is every path that
    // starts with it followed by "/" or "." : what a folder holds, and the
    // lock and temporary files written beside a file under its name.
    void claim(const QString &path);
    // True while an announcement of `path` holds, or when it is claimed.
    bool isOwn(const QString &path);
    // Announcements held now.
    int count();

private:
    void forgetExpired(qint64 now);

    const qint64 m_keepMs;
    Clock m_clock;
    QMutex m_mutex;
    QStringList m_claimed;
    QHash<QString, qint64> m_until;                 // path -> end of its announcement
    std::deque<std::pair<qint64, QString>> m_order; // the same, oldest first
};
