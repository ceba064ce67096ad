#include "watch/PollingChangeLayer.h"

#include "base/PathRules.h"
#include "base/ShellChangeCodes.h"
#include "watch/ChangeNotice.h"
#include "watch/InotifyChangeLayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

using sheafline::isUnder;
using sheafline::joinPath;

// A round may keep the share busy this share of the time.
constexpr int busyShareDivisor = 10;
// A folder's file system is looked up again after this long (a share mounted
// over a folder on show).
constexpr qint64 classificationLifeMs = 60000;
// Looks at what is shown at least this often, so that a folder newly on show
// gets its first state soon.
constexpr int longestCheckMs = 1000;
// Sizes and dates read per folder and round even when the round's time is up,
// so that a slow share still gets through a folder in the end.
constexpr int leastStatsPerFolder = 4;

QString cleanFolder(const QString &path)
{
    return path.isEmpty() ? QString() : QDir::cleanPath(path);
}

} // namespace

// Ends with the layer: the worker still running a round then finds no owner
// and drops its result.
struct PollingChangeLayer::Channel
{
    std::mutex mutex;
    PollingChangeLayer *owner = nullptr;
};

// One round of polling: filled on the UI thread, run on a worker, read back
// on the UI thread.  The worker touches nothing but this.
struct PollingChangeLayer::Round
{
    struct Change
    {
        qint32 code;
        QString path;
    };
    struct Folder
    {
        QString path;
        bool details = false;   // sizes and dates too
        bool classify = false;  // look up its file system first
        bool unwatched = false; // inotify has no watch on it: poll wherever it is
        bool localOnly = false; // in: as classified before; out: as classified now
        bool hadSnapshot = false;
        Snapshot snapshot; // in: the previous round's; out: this round's
        bool polled = false;
        QList<Change> changes;
    };
    QList<Folder> folders;
    qint64 statBudgetNs = 0;
    qint64 durationNs = 0;
};

PollingChangeLayer::PollingChangeLayer(InotifyChangeLayer *inotify, QObject *parent)
    : QObject(parent)
    , m_inotify(inotify)
    , m_channel(std::make_shared<Channel>())
{
    m_channel->owner = this;
    m_clock.start();
    connect(&m_checkTimer, &QTimer::timeout, this, &PollingChangeLayer::checkNow);
    m_soonTimer.setSingleShot(true);
    m_soonTimer.setInterval(0);
    connect(&m_soonTimer, &QTimer::timeout, this, &PollingChangeLayer::checkNow);
    m_dueTimer.setSingleShot(true);
    m_dueTimer.setTimerType(Qt::PreciseTimer); // a coarse one may fire before the round is due
    connect(&m_dueTimer, &QTimer::timeout, this, &PollingChangeLayer::checkNow);
}

PollingChangeLayer::~PollingChangeLayer()
{
    {
        const std::lock_guard lock(m_channel->mutex);
        m_channel->owner = nullptr;
    }
    for (const auto &[id, reg] : m_regs) {
        if (reg.innerId)
            m_inotify->deregisterFolder(reg.innerId);
    }
}

FolderChangeLayer::Registration PollingChangeLayer::registerFolder(QObject *receiver, quint32 sources,
                                                                  quint32 eventMask, int eventType,
                                                                  const QString &folder, bool recursive)
{
    const QString root = cleanFolder(folder);
    // Below a share the sub-tree is not walked for inotify watches: each of
    // its look-ups is a round trip to the server (a window on a share
    // waited half a minute for them), and polling covers what is shown
    // there.  The folder itself keeps its watch for this machine's changes.
    const bool share = recursive && !root.isEmpty() && sheafline::changeNoticeByName(root) == sheafline::ChangeNotice::LocalOnly;
    Registration inner =
        m_inotify->registerFolder(receiver, sources, eventMask, eventType, folder, recursive && !share);
    if (share && inner.id != 0)
        inner.complete = true;
    // At the watch limit not even the folder itself got a watch: polling is
    // all that is left for it.
    if (inner.id == 0 && !(receiver && !root.isEmpty() && m_inotify->watchLimitReached()))
        return {};
    if (m_nextId == 0)
        ++m_nextId;
    const quint32 id = m_nextId++;
    m_regs.emplace(id, Reg{inner.id, receiver, eventMask, eventType, root, recursive});
    if (!m_checkTimer.isActive())
        m_checkTimer.start(std::min(longestCheckMs, m_intervalMs));
    // What was shown before this registration may be new to polling; a
    // burst of registrations looks once.
    if (!m_soonTimer.isActive())
        m_soonTimer.start();
    return {id, inner.complete};
}

void PollingChangeLayer::deregisterFolder(quint32 id)
{
    const auto it = m_regs.find(id);
    if (it == m_regs.end())
        return;
    if (it->second.innerId)
        m_inotify->deregisterFolder(it->second.innerId);
    m_regs.erase(it);
    // The snapshots stay: a watcher that restarts around its refresh keeps
    // comparing with what polling saw before.
    if (m_regs.empty()) {
        m_checkTimer.stop();
        m_soonTimer.stop();
        m_dueTimer.stop();
    }
}

void PollingChangeLayer::setShownFolders(ShownFoldersSource source)
{
    m_source = std::move(source);
}

void PollingChangeLayer::setInterval(int ms)
{
    m_intervalMs = std::max(100, ms);
    if (m_checkTimer.isActive())
        m_checkTimer.start(std::min(longestCheckMs, m_intervalMs));
}

bool PollingChangeLayer::covered(const QString &folder) const
{
    for (const auto &[id, reg] : m_regs) {
        if (reg.receiver && (folder == reg.root || (reg.recursive && isUnder(folder, reg.root))))
            return true;
    }
    return false;
}

void PollingChangeLayer::checkNow()
{
    ++m_stats.checks;
    if (m_running || m_regs.empty() || !m_source)
        return;

    const ShownFolders shown = m_source();
    if (!shown.inSight)
        return;
    QList<Round::Folder> wanted;
    QHash<QString, qsizetype> wantedAt;
    const auto want = [&](const QString &path, bool details) {
        const QString folder = cleanFolder(path);
        if (folder.isEmpty() || wantedAt.contains(folder) || !covered(folder))
            return;
        Round::Folder f;
        f.path = folder;
        f.details = details;
        wantedAt.insert(folder, wanted.size());
        wanted.append(f);
    };
    want(shown.current, true);
    for (const QString &folder : shown.expanded)
        want(folder, false);

    // What is no longer shown is no longer compared: it gets a fresh first
    // state when it comes back.
    for (auto it = m_snapshots.begin(); it != m_snapshots.end();)
        it = wantedAt.contains(it.key()) ? std::next(it) : m_snapshots.erase(it);

    const qint64 now = m_clock.elapsed();
    for (auto it = m_classified.begin(); it != m_classified.end();)
        it = now - it->atMs > classificationLifeMs ? m_classified.erase(it) : std::next(it);
    bool newcomer = false;
    QList<Round::Folder> round;
    for (Round::Folder &f : wanted) {
        const auto known = m_classified.constFind(f.path);
        f.classify = known == m_classified.cend() || now - known->atMs > classificationLifeMs;
        f.localOnly = !f.classify && known->localOnly;
        f.unwatched = !m_inotify->isWatched(f.path);
        if (!f.classify && !f.localOnly && !f.unwatched)
            continue; // inotify sees all of it
        const auto snapshot = m_snapshots.constFind(f.path);
        f.hadSnapshot = snapshot != m_snapshots.cend();
        if (f.hadSnapshot)
            f.snapshot = *snapshot;
        newcomer = newcomer || f.classify || !f.hadSnapshot;
        round.append(f);
    }
    if (round.isEmpty()) {
        m_lastPolled.clear();
        return;
    }
    const bool due = m_lastStartMs < 0 || now - m_lastStartMs >= m_intervalMs;
    if (now < m_earliestNextMs || !(due || newcomer))
        return;

    auto work = std::make_shared<Round>();
    work->folders = std::move(round);
    work->statBudgetNs = qint64(m_intervalMs) * 1000000 / busyShareDivisor;
    m_running = true;
    m_lastStartMs = now;
    ++m_stats.rounds;
    // A thread of its own, left to itself: a round stuck in a dead share must
    // not hold up the next test, the window's close or the program's exit.
    std::thread([work, channel = m_channel] {
        runRound(*work);
        const std::lock_guard lock(channel->mutex);
        if (PollingChangeLayer *owner = channel->owner) {
            // Queued to the owner: dropped with the owner's posted events
            // should it go before the call is delivered.
            QMetaObject::invokeMethod(owner, [owner, work] { owner->finishRound(work); }, Qt::QueuedConnection);
        }
    }).detach();
}

void PollingChangeLayer::runRound(Round &round)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::nanoseconds(round.statBudgetNs);
    for (Round::Folder &f : round.folders) {
        if (f.classify)
            f.localOnly = sheafline::changeNoticeOf(f.path) == sheafline::ChangeNotice::LocalOnly;
        if (!f.localOnly && !f.unwatched)
            continue;
        DIR *dir = ::opendir(QFile::encodeName(f.path).constData());
        if (!dir)
            continue; // gone or unreadable: the parent's round tells
        f.polled = true;
        const Snapshot before = f.snapshot;
        Snapshot after;
        after.cursor = before.cursor;
        QStringList fresh;
        while (const dirent *e = ::readdir(dir)) {
            if (!qstrcmp(e->d_name, ".") || !qstrcmp(e->d_name, ".."))
                continue;
            const QString name = QFile::decodeName(e->d_name);
            const auto was = before.entries.constFind(name);
            if (was != before.entries.cend()) {
                after.entries.insert(name, *was);
            } else {
                Entry entry;
                entry.isDir = e->d_type == DT_DIR;
                // A name that turns up later is reported as a folder or a
                // file, as inotify would; few do, so the look is cheap.
                struct stat st {};
                if (f.hadSnapshot && !f.details && e->d_type == DT_UNKNOWN
                    && ::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0)
                    entry.isDir = S_ISDIR(st.st_mode);
                after.entries.insert(name, entry);
                fresh.append(name);
            }
        }

        if (f.details) {
            // New names first (a folder or a file?), then the others in
            // turn from where the last round stopped.
            QStringList names = after.entries.keys();
            std::sort(names.begin(), names.end());
            QStringList order = fresh;
            const qsizetype n = names.size();
            for (qsizetype i = 0; i < n; ++i) {
                const QString &name = names.at((after.cursor + i) % n);
                if (!fresh.contains(name))
                    order.append(name);
            }
            int done = 0;
            int examinedOld = 0;
            for (const QString &name : std::as_const(order)) {
                if (done >= leastStatsPerFolder && Clock::now() >= deadline)
                    break;
                Entry &entry = after.entries[name];
                if (!fresh.contains(name))
                    ++examinedOld;
                if (entry.isDir && entry.known)
                    continue;
                struct stat st {};
                ++done;
                if (::fstatat(::dirfd(dir), QFile::encodeName(name).constData(), &st, 0) != 0)
                    continue;
                const bool isDir = S_ISDIR(st.st_mode);
                const qint64 mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
                if (f.hadSnapshot && entry.known && !isDir && (entry.size != st.st_size || entry.mtimeNs != mtimeNs))
                    f.changes.append({ShellChange::UpdateItem, joinPath(f.path, name)});
                entry.known = true;
                entry.isDir = isDir;
                entry.size = st.st_size;
                entry.mtimeNs = mtimeNs;
            }
            after.cursor = n ? int((after.cursor + examinedOld) % n) : 0;
        }
        ::closedir(dir);

        if (f.hadSnapshot) {
            for (auto it = before.entries.cbegin(); it != before.entries.cend(); ++it) {
                if (!after.entries.contains(it.key()))
                    f.changes.append({it->isDir ? ShellChange::Rmdir : ShellChange::Delete, joinPath(f.path, it.key())});
            }
            for (const QString &name : std::as_const(fresh)) {
                f.changes.append({after.entries.value(name).isDir ? ShellChange::Mkdir : ShellChange::Create,
                                  joinPath(f.path, name)});
            }
        }
        f.snapshot = std::move(after);
    }
    round.durationNs = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

void PollingChangeLayer::finishRound(const std::shared_ptr<Round> &round)
{
    m_running = false;
    const qint64 now = m_clock.elapsed();
    m_earliestNextMs = now + (busyShareDivisor - 1) * round->durationNs / 1000000;

    QStringList polled;
    for (Round::Folder &f : round->folders) {
        if (f.classify)
            m_classified.insert(f.path, Classified{f.localOnly, now});
        if (!f.polled) {
            m_snapshots.remove(f.path);
            continue;
        }
        polled.append(f.path);
        m_snapshots.insert(f.path, std::move(f.snapshot));
        if (f.changes.isEmpty())
            continue;
        const std::shared_ptr<OwnWrites> own = m_inotify->ownWrites();
        bool reported = false;
        for (const Round::Change &change : std::as_const(f.changes)) {
            // The program's own writes are no news, as with inotify.
            if (own->isOwn(change.path))
                continue;
            post(f.path, change.code, change.path);
            reported = true;
        }
        // A file rewritten in two rounds in a row reports the same item
        // twice, which the watcher drops as a repeat; this it never drops.
        if (reported)
            post(f.path, ShellChange::UpdateDir, f.path);
    }
    m_lastPolled = polled;
    // The next round on time, not at the next look at what is shown.
    if (!m_regs.empty()) {
        const qint64 next = std::max(m_lastStartMs + m_intervalMs, m_earliestNextMs);
        m_dueTimer.start(int(std::max<qint64>(0, next - now)));
    }
    emit roundFinished(polled);
}

void PollingChangeLayer::post(const QString &folder, qint32 code, const QString &first)
{
    for (const auto &[id, reg] : m_regs) {
        if (!reg.receiver || !(quint32(code) & reg.mask))
            continue;
        if (folder == reg.root || (reg.recursive && isUnder(folder, reg.root)))
            QCoreApplication::postEvent(reg.receiver, new ChangeReportEvent(reg.eventType, code, first, {}));
    }
}
