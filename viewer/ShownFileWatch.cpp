#include "viewer/ShownFileWatch.h"

#include "viewer/PdfFileEnd.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

namespace {

// How many more rests a changed file that is not yet written to its end gets
// before it is told of as it is (as broken, most likely).
constexpr int unfinishedRests = 6;

} // namespace

ShownFileWatch::ShownFileWatch(QObject *parent, int settleMs)
    : QObject(parent), m_watcher(new QFileSystemWatcher(this)), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setInterval(settleMs);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, [this] { onChange(true); });
    // Other files of the folder may change all the time (a download in
    // progress): they only ever start the wait.
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { onChange(false); });
    connect(m_timer, &QTimer::timeout, this, &ShownFileWatch::settle);
}

ShownFileWatch::State ShownFileWatch::stateOf(const QString &path)
{
    const QFileInfo info(path);
    State state;
    state.exists = info.exists();
    if (state.exists) {
        state.size = info.size();
        state.modified = info.lastModified();
        // A file put in place by a rename keeps its time of writing; the
        // time of its metadata changes all the same.
        state.changed = info.metadataChangeTime();
    }
    return state;
}

void ShownFileWatch::watch(const QString &path)
{
    m_timer->stop();
    m_unfinishedRests = 0;
    if (!m_watcher->files().isEmpty())
        m_watcher->removePaths(m_watcher->files());
    if (!m_watcher->directories().isEmpty())
        m_watcher->removePaths(m_watcher->directories());
    m_path = path;
    if (path.isEmpty())
        return;
    m_state = stateOf(path);
    // The folder too: a file replaced (or deleted and made again) is a new
    // file the watch on the old one does not see.
    m_watcher->addPath(QFileInfo(path).absolutePath());
    if (m_state.exists)
        m_watcher->addPath(path);
}

void ShownFileWatch::onChange(bool itself)
{
    if (m_path.isEmpty())
        return;
    // A replaced file drops out of the watch; the new one at the path is watched again.
    if (!m_watcher->files().contains(m_path) && QFileInfo::exists(m_path))
        m_watcher->addPath(m_path);
    if (itself || !m_timer->isActive())
        m_timer->start();
}

void ShownFileWatch::settle()
{
    if (m_path.isEmpty())
        return;
    const State now = stateOf(m_path);
    if (now == m_state)
        return;
    // A file still being written would show only some of its pages, and the
    // place kept for the next version would be taken from those.
    if (now.exists && !fileEndsLikeWholePdf(m_path) && m_unfinishedRests < unfinishedRests) {
        ++m_unfinishedRests;
        m_timer->start();
        return;
    }
    m_unfinishedRests = 0;
    m_state = now;
    emit changed(m_path);
}
