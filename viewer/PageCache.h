#pragma once

#include <QHash>
#include <QImage>
#include <QMutex>
#include <QSize>
#include <QString>

#include <list>

// Identity of one rendered page image.  The modification time keeps a file
// that changed on disk from being served stale pixels; the device pixel ratio
// is part of the key because the same logical size differs in pixels on HiDPI.
struct PageKey
{
    QString path;
    qint64 mtimeMs = 0;
    int page = 0;
    QSize pixelSize;
    int dprMilli = 1000;
    int rotation = 0;   // quarter turns

    friend bool operator==(const PageKey &a, const PageKey &b)
    {
        return a.page == b.page && a.pixelSize == b.pixelSize && a.mtimeMs == b.mtimeMs
               && a.dprMilli == b.dprMilli && a.rotation == b.rotation
               && a.path == b.path;
    }
};
size_t qHash(const PageKey &key, size_t seed = 0);

// Rendered pages, least recently used dropped first, bounded in bytes.
// Thread-safe: the render worker inserts, the view looks up.
class PageCache
{
public:
    explicit PageCache(qint64 budgetBytes);

    QImage find(const PageKey &key);       // null image on a miss; a hit becomes most recent
    bool contains(const PageKey &key) const;
    // Whether some drawing of this page of the file (any size) is held.
    bool containsPageOf(const QString &path, qint64 mtimeMs, int page) const;
    // `bytes` is the memory the image holds, when more than its pixels (an
    // image in a larger shared buffer); counted against the budget.
    void insert(const PageKey &key, const QImage &image, qint64 bytes = -1);
    // Drops every page of a file (for example when it changed on disk).
    void removeFile(const QString &path);
    void clear();

    qint64 budgetBytes() const { return m_budget; }
    qint64 usedBytes() const;
    int count() const;

private:
    void evictLocked();

    mutable QMutex m_mutex;
    qint64 m_budget;
    qint64 m_used = 0;
    std::list<PageKey> m_order; // front = most recent
    struct Entry
    {
        QImage image;
        std::list<PageKey>::iterator pos;
        qint64 bytes = 0;
    };
    QHash<PageKey, Entry> m_entries;
};
