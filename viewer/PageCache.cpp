#include "viewer/PageCache.h"

#include <algorithm>

size_t qHash(const PageKey &key, size_t seed)
{
    return qHashMulti(seed, key.path, key.mtimeMs, key.page, key.pixelSize.width(),
                      key.pixelSize.height(), key.dprMilli, key.rotation);
}

PageCache::PageCache(qint64 budgetBytes) : m_budget(qMax<qint64>(0, budgetBytes)) {}

QImage PageCache::find(const PageKey &key)
{
    QMutexLocker lock(&m_mutex);
    auto it = m_entries.find(key);
    if (it == m_entries.end())
        return {};
    m_order.splice(m_order.begin(), m_order, it->pos);
    return it->image;
}

bool PageCache::contains(const PageKey &key) const
{
    QMutexLocker lock(&m_mutex);
    return m_entries.contains(key);
}

bool PageCache::containsPageOf(const QString &path, qint64 mtimeMs, int page) const
{
    QMutexLocker lock(&m_mutex);
    return std::any_of(m_order.cbegin(), m_order.cend(),
                       [&](const PageKey &k) { return k.page == page && k.mtimeMs == mtimeMs && k.path == path; });
}

void PageCache::insert(const PageKey &key, const QImage &image, qint64 bytes)
{
    if (image.isNull())
        return;
    const qint64 size = qMax(bytes, image.sizeInBytes());
    QMutexLocker lock(&m_mutex);
    auto it = m_entries.find(key);
    if (it != m_entries.end()) {
        m_used -= it->bytes;
        m_order.erase(it->pos);
        m_entries.erase(it);
    }
    // An image larger than the whole budget is not kept at all.
    if (size > m_budget)
        return;
    m_order.push_front(key);
    m_entries.insert(key, Entry{image, m_order.begin(), size});
    m_used += size;
    evictLocked();
}

void PageCache::removeFile(const QString &path)
{
    QMutexLocker lock(&m_mutex);
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it.key().path == path) {
            m_used -= it->bytes;
            m_order.erase(it->pos);
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
}

void PageCache::clear()
{
    QMutexLocker lock(&m_mutex);
    m_entries.clear();
    m_order.clear();
    m_used = 0;
}

qint64 PageCache::usedBytes() const
{
    QMutexLocker lock(&m_mutex);
    return m_used;
}

int PageCache::count() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_entries.size());
}

void PageCache::evictLocked()
{
    while (m_used > m_budget && !m_order.empty()) {
        const PageKey &oldest = m_order.back();
        auto it = m_entries.find(oldest);
        m_used -= it->bytes;
        m_entries.erase(it);
        m_order.pop_back();
    }
}
