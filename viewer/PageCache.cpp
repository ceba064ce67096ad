#include "viewer/PageCache.h"

QImage PageCache::find(const PageKey &key)
{
    QMutexLocker lock(&m_mutex);
    const QImage *image = m_pages.find(key);
    return image ? *image : QImage();
}

bool PageCache::contains(const PageKey &key) const
{
    QMutexLocker lock(&m_mutex);
    return m_pages.contains(key);
}

bool PageCache::containsPageOf(const QString &path, qint64 mtimeMs, int page) const
{
    QMutexLocker lock(&m_mutex);
    return m_pages.anyKey(
        [&](const PageKey &k) { return k.page == page && k.mtimeMs == mtimeMs && k.path == path; });
}

void PageCache::insert(const PageKey &key, const QImage &image, qint64 bytes)
{
    if (image.isNull())
        return;
    const qint64 size = qMax(bytes, image.sizeInBytes());
    QMutexLocker lock(&m_mutex);
    m_pages.insert(key, image, size);
}

void PageCache::clear()
{
    QMutexLocker lock(&m_mutex);
    m_pages.clear();
}

qint64 PageCache::usedBytes() const
{
    QMutexLocker lock(&m_mutex);
    return m_pages.usedBytes();
}

int PageCache::count() const
{
    QMutexLocker lock(&m_mutex);
    return m_pages.count();
}
