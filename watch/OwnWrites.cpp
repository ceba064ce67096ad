#include "watch/OwnWrites.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

OwnWrites::OwnWrites(qint64 keepMs, Clock clock)
    : m_keepMs(keepMs), m_clock(std::move(clock))
{
    if (!m_clock) {
        m_clock = [] {
            // Milliseconds since an arbitrary start that never steps back.
            return QDeadlineTimer::current(Qt::PreciseTimer).deadline();
        };
    }
}

void OwnWrites::announce(const QString &path)
{
    const qint64 now = m_clock();
    QMutexLocker lock(&m_mutex);
    forgetExpired(now);
    m_until.insert(path, now + m_keepMs);
    m_order.emplace_back(now + m_keepMs, path);
}

void OwnWrites::claim(const QString &path)
{
    QMutexLocker lock(&m_mutex);
    if (!path.isEmpty() && !m_claimed.contains(path))
        m_claimed.append(path);
}

bool OwnWrites::isOwn(const QString &path)
{
    const qint64 now = m_clock();
    QMutexLocker lock(&m_mutex);
    for (const QString &claimed : std::as_const(m_claimed)) {
        if (path.startsWith(claimed)
            && (path.size() == claimed.size() || path.at(claimed.size()) == u'/' || path.at(claimed.size()) == u'.'))
            return true;
    }
    forgetExpired(now);
    const auto it = m_until.constFind(path);
    return it != m_until.cend() && *it > now;
}

int OwnWrites::count()
{
    const qint64 now = m_clock();
    QMutexLocker lock(&m_mutex);
    forgetExpired(now);
    return int(m_until.size());
}

void OwnWrites::forgetExpired(qint64 now)
{
    // A path announced again keeps its later end: only an entry whose end
    // is the path's current one removes it.
    while (!m_order.empty() && m_order.front().first <= now) {
        const auto &[until, path] = m_order.front();
        const auto it = m_until.find(path);
        if (it != m_until.end() && *it == until)
            m_until.erase(it);
        m_order.pop_front();
    }
}
