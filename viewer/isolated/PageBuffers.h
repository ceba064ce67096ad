#pragma once

#include <QHash>
#include <QImage>
#include <QList>
#include <QMutex>

#include <atomic>
#include <memory>
#include <vector>

// The shared memory that pages come back from the render helper in: a pool
// of sealed memfds, each mapped once in the program for as long as it lives
// and shared with a helper once (RenderHelper::refer), reused by id.  In a
// steady run no memory object is made, mapped or unmapped for a page.
//
// A buffer under a page image is the image's until the image's last copy
// goes; only then is it drawn into again.  A buffer's size is sealed: the
// helper cannot pull memory from under an image the program paints.  A page
// may be smaller than its buffer; bufferUnder() tells what an image really
// holds.  Free buffers are kept up to a few; the others are let go of, and
// their ids are told to the helper with the next page asked for.
//
// Owned by a RenderHelper through a shared pointer that every page image
// holds too.  Thread-safe (images go on any thread).
class PageBuffers : public std::enable_shared_from_this<PageBuffers>
{
public:
    struct Buffer
    {
        quint32 id = 0; // 0: none
        int fd = -1;
        uchar *map = nullptr; // the program's mapping, for the buffer's life
        size_t size = 0;
        size_t populated = 0; // bytes from the start with the program's page tables made
        bool valid() const { return id != 0; }
    };

    PageBuffers() = default;
    ~PageBuffers();
    PageBuffers(const PageBuffers &) = delete;
    PageBuffers &operator=(const PageBuffers &) = delete;

    // The smallest free buffer of least to most bytes, or a new one of at
    // least `least` bytes; an invalid one when none can be made.
    Buffer take(size_t least, size_t most);
    // A buffer a page of `bytes` is drawn into (RenderProtocol::pageFits).
    Buffer take(size_t bytes) { return take(bytes, bytes * 2); }
    // Takes back a buffer that holds no image.
    void give(const Buffer &buffer);

    // The page the helper drew into `buffer` (which must fit it), as an
    // image that gives the buffer back when its last copy goes.
    QImage image(Buffer buffer, const QSize &drawn);

    // The size of the buffer a page image lies in; 0 for other images.
    size_t bufferUnder(const void *bits) const;

    // Ids of the buffers let go of since the last call.
    QList<quint32> takeRetired();

    // For tests: buffers that exist (free or under images).
    int bufferCount() const;

    // Bytes of the last first page drawn as a document opened: the size the
    // next one is likely to have.
    std::atomic<qint64> lastFirstPageBytes{0};

private:
    static void release(void *info);
    void dispose(const Buffer &buffer); // m_mutex held

    // Free buffers kept for the next pages, those freed last.
    static constexpr size_t maxFree = 6;
    static constexpr size_t maxFreeBytes = 32u << 20;

    mutable QMutex m_mutex;
    quint32 m_lastId = 0;
    int m_count = 0;
    std::vector<Buffer> m_free;
    size_t m_freeBytes = 0;
    QHash<const void *, size_t> m_underImages;
    QList<quint32> m_retired;
};
