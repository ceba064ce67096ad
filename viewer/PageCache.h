#pragma once

#include "base/ByteLru.h"
#include "viewer/PageKey.h"

#include <QImage>
#include <QMutex>
#include <QString>

// Rendered pages, least recently used dropped first, bounded in bytes.
// Thread-safe: the render worker inserts, the view looks up.
class PageCache
{
public:
    explicit PageCache(qint64 budgetBytes) : m_pages(budgetBytes) {}

    QImage find(const PageKey &key);       // null image on a miss; a hit becomes most recent
    bool contains(const PageKey &key) const;
    // Whether some drawing of this page of the file (any size) is held.
    bool containsPageOf(const QString &path, qint64 mtimeMs, int page) const;
    // `bytes` is the memory the image holds, when more than its pixels (an
    // image in a larger shared buffer); counted against the budget.  An image
    // larger than the whole budget is not kept.
    void insert(const PageKey &key, const QImage &image, qint64 bytes = -1);
    void clear();

    qint64 budgetBytes() const { return m_pages.budgetBytes(); }
    qint64 usedBytes() const;
    int count() const;

private:
    mutable QMutex m_mutex;
    sheafline::ByteLru<PageKey, QImage> m_pages;
};
