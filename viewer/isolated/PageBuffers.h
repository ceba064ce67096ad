#pragma once

#include <QHash>
#include <QImage>
#include <QMutex>

#include <atomic>
#include <memory>
#include <vector>

// Shared memory for pages the render helper draws.  Buffers whose image the
// program has let go of are kept for the next pages: a fresh buffer costs
// both processes an allocation of each of its memory pages, a kept one only
// the copy.
//
// A buffer's size is sealed: the helper cannot pull memory from under an
// image the program paints.  A page may be smaller than its buffer (a first
// page comes in a buffer sized before the document was opened); bufferUnder()
// tells what an image really holds.
//
// Owned by a RenderHelper through a shared pointer that every page image
// holds too.  Thread-safe.
class PageBuffers : public std::enable_shared_from_this<PageBuffers>
{
public:
    struct Buffer
    {
        int fd = -1;
        void *map = nullptr;  // the program's mapping; null until drawn into
        size_t size = 0;
        size_t populated = 0; // bytes from the start mapped in the program
    };

    PageBuffers() = default;
    ~PageBuffers();
    PageBuffers(const PageBuffers &) = delete;
    PageBuffers &operator=(const PageBuffers &) = delete;

    // The smallest kept buffer of least to most bytes, or a new one of least
    // bytes (fd -1 when none can be made).
    Buffer take(size_t least, size_t most);
    // A buffer a page of `bytes` is drawn into (RenderProtocol::pageFits).
    Buffer take(size_t bytes) { return take(bytes, bytes * 2); }
    // Takes a buffer back: kept while the pool is small.
    void give(const Buffer &b);

    // The page the helper drew into `buffer`, as an image that hands the
    // buffer back when its last copy goes; null (and the buffer handed back)
    // when it cannot be mapped.
    QImage image(Buffer buffer, const QSize &drawn);

    // The size of the buffer a page image lies in; 0 for other images.
    size_t bufferUnder(const void *bits) const;

    // Bytes of the last first page drawn as a document opened: the size the
    // next one is likely to have.
    std::atomic<qint64> lastFirstPageBytes{0};

private:
    static void release(void *info);

    static constexpr size_t maxBuffers = 6;
    static constexpr size_t maxKeptBytes = 32u << 20;
    mutable QMutex m_mutex;
    std::vector<Buffer> m_free;
    QHash<const void *, size_t> m_underImages;
    size_t m_kept = 0;
};
