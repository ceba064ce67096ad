#include "watch/InotifyChangeLayer.h"

#include "base/DirectoryReader.h"
#include "base/PathRules.h"
#include "base/ShellChangeCodes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

using sheafline::isUnder;
using sheafline::joinPath;
using sheafline::parentOf;

constexpr quint32 watchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_MODIFY
    | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

// A burst of events is handled in slices so that the window keeps painting;
// the socket notifier fires again for the rest.
constexpr int maxReadsPerActivation = 64;

// Folder updates after writes wait this long for the writes to pause, and
// at most the longest delay after the first write (milliseconds).
constexpr int folderUpdateQuietMs = 200;
constexpr int folderUpdateLongestMs = 1000;

} // namespace

InotifyChangeLayer::InotifyChangeLayer(QObject *parent)
    : QObject(parent)
{
    m_settleTimer.setSingleShot(true);
    m_settleTimer.setInterval(50);
    connect(&m_settleTimer, &QTimer::timeout, this, &InotifyChangeLayer::settleMoves);
    m_cleanupTimer.setSingleShot(true);
    m_cleanupTimer.setInterval(0);
    connect(&m_cleanupTimer, &QTimer::timeout, this, &InotifyChangeLayer::cleanUp);
    m_updateTimer.setSingleShot(true);
    connect(&m_updateTimer, &QTimer::timeout, this, &InotifyChangeLayer::sendFolderUpdates);
}

InotifyChangeLayer::~InotifyChangeLayer()
{
    closeDescriptor();
}

bool InotifyChangeLayer::ensureOpen()
{
    if (m_fd >= 0)
        return true;
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0)
        return false;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    m_notifier->setEnabled(m_readingEnabled);
    connect(m_notifier, &QSocketNotifier::activated, this, &InotifyChangeLayer::readEvents);
    return true;
}

void InotifyChangeLayer::closeDescriptor()
{
    m_settleTimer.stop();
    m_cleanupTimer.stop();
    m_updateTimer.stop();
    m_updatedFolders.clear();
    m_updatesPendingSince.invalidate();
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd); // drops every watch with it
    m_fd = -1;
    m_nodes.clear();
    m_wdByPath.clear();
    m_pendingMoves.clear();
}

void InotifyChangeLayer::setReadingEnabled(bool enabled)
{
    m_readingEnabled = enabled;
    if (m_notifier)
        m_notifier->setEnabled(enabled);
}

FolderChangeLayer::Registration InotifyChangeLayer::registerFolder(QObject *receiver, quint32 sources,
                                                                  quint32 eventMask, int eventType,
                                                                  const QString &requested, bool recursive)
{
    Q_UNUSED(sources); // inotify has a single source; recursion comes from `recursive`
    // Paths are matched as strings below, so they take one spelling.
    const QString folder = requested.isEmpty() ? QString() : QDir::cleanPath(requested);
    if (!receiver || folder.isEmpty() || !ensureOpen())
        return {};
    // What the kernel queued before this registration belongs to the
    // registrations that existed then; the new one must not see it.
    if (m_readingEnabled)
        readEvents();

    // IN_ONLYDIR makes the kernel refuse a missing path or a file here.
    m_limitHit = false;
    const int wd = addWatch(folder, true);
    if (wd < 0) {
        scheduleCleanup();
        return {};
    }
    bool complete = true;
    if (recursive) {
        complete = walkWatched(wd, folder, false);
        if (!complete)
            markAncestorsIncomplete(folder);
    }

    Reg reg;
    reg.receiver = receiver;
    reg.mask = eventMask;
    reg.eventType = eventType;
    // A folder reached through a link that is already watched under another
    // name reports under that name.
    reg.root = m_nodes.value(wd).path;
    reg.recursive = recursive;
    if (m_nextId == 0)
        ++m_nextId;
    const quint32 id = m_nextId++;
    m_regs.emplace(id, reg);
    return {id, complete};
}

void InotifyChangeLayer::deregisterFolder(quint32 id)
{
    if (m_regs.erase(id))
        scheduleCleanup();
}

void InotifyChangeLayer::scheduleCleanup()
{
    if (!m_cleanupTimer.isActive())
        m_cleanupTimer.start();
}

void InotifyChangeLayer::cleanUp()
{
    if (m_regs.empty()) {
        closeDescriptor();
        return;
    }
    QList<int> unneeded;
    for (auto it = m_nodes.cbegin(); it != m_nodes.cend(); ++it) {
        bool needed = false;
        for (const auto &[id, reg] : m_regs) {
            if (covers(reg, it->path)) {
                needed = true;
                break;
            }
        }
        if (!needed)
            unneeded.append(it.key());
    }
    for (int wd : std::as_const(unneeded)) {
        const QString path = m_nodes.value(wd).path;
        ::inotify_rm_watch(m_fd, wd);
        forgetNode(wd);
        markAncestorsIncomplete(path);
    }
}

int InotifyChangeLayer::addWatch(const QString &path, bool followLink)
{
    if (m_limitHit)
        return -1;
    if (m_testWatchLimit >= 0 && m_nodes.size() >= m_testWatchLimit && !m_wdByPath.contains(path)) {
        m_limitHit = true;
        return -1;
    }
    const quint32 mask = watchMask | (followLink ? 0 : IN_DONT_FOLLOW);
    const int wd = ::inotify_add_watch(m_fd, QFile::encodeName(path).constData(), mask);
    if (wd < 0) {
        if (errno == ENOSPC)
            m_limitHit = true;
        return -1;
    }
    if (!m_nodes.contains(wd)) {
        m_nodes.insert(wd, Node{path, false});
        m_wdByPath.insert(path, wd);
    }
    return wd;
}

bool InotifyChangeLayer::walk(const QString &path, bool followLink, bool reportContents)
{
    const int wd = addWatch(path, followLink);
    if (wd < 0)
        return !m_limitHit; // an unreadable folder is as watched as it can be
    return walkWatched(wd, path, reportContents);
}

bool InotifyChangeLayer::walkWatched(int wd, const QString &path, bool reportContents)
{
    const Node node = m_nodes.value(wd);
    if (node.path != path)
        return true; // the same folder seen again through another name (a loop)
    if (node.complete && !reportContents)
        return true;

    // Read the entries first and descend afterwards, so that a deep tree
    // holds one directory stream at a time.
    QStringList subFolders;
    {
        sheafline::DirectoryReader reader(path);
        sheafline::DirectoryEntry entry;
        while (reader.next(entry)) {
            // A link is watched as itself, never followed into.
            const bool isDir = reader.isFolder(entry, sheafline::Links::AsThemselves);
            if (reportContents) {
                const QString child = joinPath(path, sheafline::DirectoryReader::nameOf(entry));
                report(path, isDir ? ShellChange::Mkdir : ShellChange::Create, child);
            }
            if (isDir)
                subFolders.append(sheafline::DirectoryReader::nameOf(entry));
        }
    }
    bool complete = true;
    for (const QString &name : std::as_const(subFolders)) {
        if (!walk(joinPath(path, name), false, reportContents))
            complete = false;
    }
    auto it = m_nodes.find(wd);
    if (it != m_nodes.end())
        it->complete = complete;
    return complete;
}

void InotifyChangeLayer::forgetNode(int wd)
{
    auto it = m_nodes.find(wd);
    if (it == m_nodes.end())
        return;
    auto byPath = m_wdByPath.find(it->path);
    if (byPath != m_wdByPath.end() && *byPath == wd)
        m_wdByPath.erase(byPath);
    m_nodes.erase(it);
}

void InotifyChangeLayer::removeWatchesUnder(const QString &path)
{
    QList<int> gone;
    for (auto it = m_nodes.cbegin(); it != m_nodes.cend(); ++it) {
        if (it->path == path || isUnder(it->path, path))
            gone.append(it.key());
    }
    for (int wd : std::as_const(gone)) {
        ::inotify_rm_watch(m_fd, wd);
        forgetNode(wd);
    }
}

void InotifyChangeLayer::markAncestorsIncomplete(const QString &path)
{
    for (QString p = parentOf(path); !p.isEmpty(); p = parentOf(p)) {
        const auto byPath = m_wdByPath.constFind(p);
        if (byPath != m_wdByPath.cend()) {
            auto it = m_nodes.find(*byPath);
            if (it != m_nodes.end())
                it->complete = false;
        }
        if (p == QLatin1String("/"))
            break;
    }
}

void InotifyChangeLayer::renameNodes(const QString &from, const QString &to)
{
    for (auto it = m_nodes.begin(); it != m_nodes.end(); ++it) {
        if (it->path != from && !isUnder(it->path, from))
            continue;
        const QString renamed = to + it->path.mid(from.size());
        auto byPath = m_wdByPath.find(it->path);
        if (byPath != m_wdByPath.end() && *byPath == it.key())
            m_wdByPath.erase(byPath);
        it->path = renamed;
        m_wdByPath.insert(renamed, it.key());
    }
}

bool InotifyChangeLayer::covers(const Reg &reg, const QString &folder) const
{
    return reg.alive && (folder == reg.root || (reg.recursive && isUnder(folder, reg.root)));
}

void InotifyChangeLayer::post(Reg &reg, qint32 code, const QString &first, const QString &second)
{
    if (!(quint32(code) & reg.mask) || !reg.receiver)
        return;
    QCoreApplication::postEvent(reg.receiver, new ChangeReportEvent(reg.eventType, code, first, second));
}

void InotifyChangeLayer::report(const QString &folder, qint32 code, const QString &first, const QString &second)
{
    // A folder update speaks for whatever was written in the folder; the
    // program's own writes never asked for one (processEvent).
    if (code != ShellChange::UpdateDir && m_ownWrites->isOwn(first)
        && (second.isEmpty() || m_ownWrites->isOwn(second)))
        return;
    for (auto &[id, reg] : m_regs) {
        if (covers(reg, folder))
            post(reg, code, first, second);
    }
}

void InotifyChangeLayer::endRegistrationsRootedAt(const QString &path, bool reportRemoval)
{
    bool ended = false;
    for (auto &[id, reg] : m_regs) {
        if (reg.alive && reg.root == path) {
            if (reportRemoval)
                post(reg, ShellChange::Rmdir, path, {});
            reg.alive = false;
            ended = true;
        }
    }
    if (ended)
        scheduleCleanup();
}

void InotifyChangeLayer::readEvents()
{
    alignas(inotify_event) char buffer[64 * 1024];
    for (int reads = 0; m_fd >= 0 && reads < maxReadsPerActivation; ++reads) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        processBuffer(buffer, n);
    }
    if (!m_pendingMoves.isEmpty() && !m_settleTimer.isActive())
        m_settleTimer.start();
}

void InotifyChangeLayer::processBuffer(const char *data, qsizetype size)
{
    qsizetype offset = 0;
    while (offset + qsizetype(sizeof(inotify_event)) <= size) {
        const auto *event = reinterpret_cast<const inotify_event *>(data + offset);
        const QString name = event->len ? QFile::decodeName(event->name) : QString();
        processEvent(event->wd, event->mask, event->cookie, name);
        offset += qsizetype(sizeof(inotify_event)) + event->len;
    }
}

void InotifyChangeLayer::processEvent(int wd, quint32 mask, quint32 cookie, const QString &name)
{
    if (mask & IN_Q_OVERFLOW) {
        // Events were lost: tell every registration its folder needs a full
        // re-read, and re-walk the trees since new folders may lack watches.
        settleMovesNow();
        for (auto &[id, reg] : m_regs) {
            if (reg.alive)
                post(reg, ShellChange::UpdateDir, reg.root, {});
        }
        for (auto it = m_nodes.begin(); it != m_nodes.end(); ++it)
            it->complete = false;
        QStringList roots;
        for (const auto &[id, reg] : m_regs) {
            if (reg.alive && reg.recursive)
                roots.append(reg.root);
        }
        for (const QString &root : std::as_const(roots)) {
            m_limitHit = false;
            walk(root, true, false);
        }
        return;
    }

    const auto found = m_nodes.constFind(wd);
    if (found == m_nodes.cend())
        return;
    const QString folder = found->path;
    const bool folderComplete = found->complete;

    if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
        endRegistrationsRootedAt(folder, true);
        return;
    }
    if (mask & IN_IGNORED) {
        endRegistrationsRootedAt(folder, true);
        forgetNode(wd);
        return;
    }
    if (name.isEmpty())
        return;

    const bool isDir = mask & IN_ISDIR;
    const QString full = joinPath(folder, name);

    if (mask & IN_CREATE) {
        report(folder, isDir ? ShellChange::Mkdir : ShellChange::Create, full);
        // The folder may have been filled before its watch existed: the walk
        // reports what is already in it.
        if (isDir && folderComplete)
            adoptFolder(full, true);
    } else if (mask & IN_DELETE) {
        report(folder, isDir ? ShellChange::Rmdir : ShellChange::Delete, full);
    } else if (mask & IN_MOVED_FROM) {
        m_pendingMoves.append(PendingMove{cookie, full, isDir});
    } else if (mask & IN_MOVED_TO) {
        qsizetype pair = -1;
        for (qsizetype i = 0; i < m_pendingMoves.size(); ++i) {
            if (m_pendingMoves.at(i).cookie == cookie) {
                pair = i;
                break;
            }
        }
        if (pair < 0) {
            // Moved in from outside the watched folders.
            report(folder, isDir ? ShellChange::Mkdir : ShellChange::Create, full);
            if (isDir && folderComplete)
                adoptFolder(full, false);
            return;
        }
        const PendingMove from = m_pendingMoves.takeAt(pair);
        const QString fromFolder = parentOf(from.path);
        // The program's own rename (a picture moved into place) is no news.
        const bool own = m_ownWrites->isOwn(from.path) && m_ownWrites->isOwn(full);
        for (auto &[id, reg] : m_regs) {
            if (own)
                break;
            const bool before = covers(reg, fromFolder);
            const bool after = covers(reg, folder);
            if (before && after)
                post(reg, isDir ? ShellChange::RenameFolder : ShellChange::RenameItem, from.path, full);
            else if (before)
                post(reg, isDir ? ShellChange::Rmdir : ShellChange::Delete, from.path, {});
            else if (after)
                post(reg, isDir ? ShellChange::Mkdir : ShellChange::Create, full, {});
        }
        if (isDir) {
            renameNodes(from.path, full);
            if (folderComplete)
                adoptFolder(full, false);
            else
                scheduleCleanup();
        }
    } else if (mask & (IN_CLOSE_WRITE | IN_MODIFY)) {
        if (!isDir)
            report(folder, ShellChange::UpdateItem, full);
        // Every write reports the same item update, which the watcher drops
        // as a repeat after the first: the end of a write tells the folder's
        // watcher to read the folder again.
        if ((mask & IN_CLOSE_WRITE) && !m_ownWrites->isOwn(full))
            noteFolderUpdate(folder);
    } else if (mask & IN_ATTRIB) {
        report(folder, ShellChange::Attributes, full);
    }
}

void InotifyChangeLayer::adoptFolder(const QString &path, bool reportContents)
{
    m_limitHit = false;
    if (!walk(path, false, reportContents))
        markAncestorsIncomplete(path);
}

void InotifyChangeLayer::noteFolderUpdate(const QString &folder)
{
    if (!m_updatedFolders.contains(folder))
        m_updatedFolders.append(folder);
    if (!m_updatesPendingSince.isValid())
        m_updatesPendingSince.start();
    // Wait for the writes to pause, but not beyond the longest delay: a file
    // that is written on and on still shows its growth now and then.
    const qint64 left = folderUpdateLongestMs - m_updatesPendingSince.elapsed();
    m_updateTimer.start(int(std::clamp<qint64>(left, 0, folderUpdateQuietMs)));
}

void InotifyChangeLayer::sendFolderUpdates()
{
    const QStringList folders = std::exchange(m_updatedFolders, {});
    m_updatesPendingSince.invalidate();
    for (const QString &folder : folders)
        report(folder, ShellChange::UpdateDir, folder);
}

void InotifyChangeLayer::settleMoves()
{
    // A "moved to" still in the queue pairs first.
    if (m_readingEnabled && m_fd >= 0)
        readEvents();
    settleMovesNow();
    m_settleTimer.stop();
}

void InotifyChangeLayer::settleMovesNow()
{
    const QList<PendingMove> moves = std::exchange(m_pendingMoves, {});
    for (const PendingMove &move : moves) {
        // Moved out of every watched folder: for us it is gone.
        report(parentOf(move.path), move.isDir ? ShellChange::Rmdir : ShellChange::Delete, move.path);
        if (move.isDir)
            removeWatchesUnder(move.path);
    }
}
