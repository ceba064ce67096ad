#include "viewer/isolated/PageBuffers.h"

#include <bit>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

size_t pageAligned(size_t bytes)
{
    static const size_t page = size_t(sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

// Sizes a new buffer is made in: eight steps to each doubling, so that a
// buffer freed by one page fits the next pages of about its size, at most an
// eighth larger than asked for.
size_t sizeClass(size_t bytes)
{
    const size_t step = std::max<size_t>(1, std::bit_floor(bytes) / 8);
    return pageAligned((bytes + step - 1) / step * step);
}

struct Held
{
    std::shared_ptr<PageBuffers> owner;
    PageBuffers::Buffer buffer;
};

} // namespace

PageBuffers::~PageBuffers()
{
    // Images hold the pool: by now every buffer is free.
    for (const Buffer &b : m_free) {
        munmap(b.map, b.size);
        ::close(b.fd);
    }
}

PageBuffers::Buffer PageBuffers::take(size_t least, size_t most)
{
    {
        QMutexLocker lock(&m_mutex);
        auto best = m_free.end();
        for (auto it = m_free.begin(); it != m_free.end(); ++it)
            if (it->size >= least && it->size <= most && (best == m_free.end() || it->size < best->size))
                best = it;
        if (best != m_free.end()) {
            const Buffer b = *best;
            m_freeBytes -= b.size;
            m_free.erase(best);
            return b;
        }
    }
    Buffer b;
    b.size = sizeClass(least);
    b.fd = memfd_create("sheafline-page", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (b.fd < 0)
        return {};
    void *map = MAP_FAILED;
    if (ftruncate(b.fd, off_t(b.size)) == 0
        && fcntl(b.fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) == 0)
        map = mmap(nullptr, b.size, PROT_READ | PROT_WRITE, MAP_SHARED, b.fd, 0);
    if (map == MAP_FAILED) {
        ::close(b.fd);
        return {};
    }
    b.map = static_cast<uchar *>(map);
    QMutexLocker lock(&m_mutex);
    b.id = ++m_lastId;
    ++m_count;
    return b;
}

void PageBuffers::give(const Buffer &buffer)
{
    if (!buffer.valid())
        return;
    QMutexLocker lock(&m_mutex);
    if (buffer.size > maxFreeBytes) {
        dispose(buffer);
        return;
    }
    // The buffers freed last are kept, those kept longest go: the pages
    // drawn next are most like the pages let go of last (and a few odd
    // sizes kept would otherwise turn away every buffer freed after them).
    m_free.push_back(buffer);
    m_freeBytes += buffer.size;
    while (m_free.size() > maxFree || m_freeBytes > maxFreeBytes) {
        m_freeBytes -= m_free.front().size;
        dispose(m_free.front());
        m_free.erase(m_free.begin());
    }
}

void PageBuffers::dispose(const Buffer &buffer)
{
    munmap(buffer.map, buffer.size);
    ::close(buffer.fd);
    m_retired << buffer.id;
    --m_count;
}

QImage PageBuffers::image(Buffer buffer, const QSize &drawn)
{
    // The program's page tables for the page, made at once the first time
    // the buffer holds a page this large: without it the first paint faults
    // them in one by one.  The program only reads the page: populating for
    // reading is a third of the cost of populating for writing.
    const size_t want = pageAligned(size_t(drawn.width()) * size_t(drawn.height()) * 4);
    if (buffer.populated < want) {
        madvise(buffer.map, want, MADV_POPULATE_READ);
        buffer.populated = want;
    }
    {
        QMutexLocker lock(&m_mutex);
        m_underImages.insert(buffer.map, buffer.size);
    }
    return QImage(buffer.map, drawn.width(), drawn.height(), drawn.width() * 4, QImage::Format_RGB32,
                  &PageBuffers::release, new Held{shared_from_this(), buffer});
}

void PageBuffers::release(void *info)
{
    const std::unique_ptr<Held> held(static_cast<Held *>(info));
    {
        QMutexLocker lock(&held->owner->m_mutex);
        held->owner->m_underImages.remove(held->buffer.map);
    }
    held->owner->give(held->buffer);
}

size_t PageBuffers::bufferUnder(const void *bits) const
{
    QMutexLocker lock(&m_mutex);
    return m_underImages.value(bits, 0);
}

QList<quint32> PageBuffers::takeRetired()
{
    QMutexLocker lock(&m_mutex);
    return std::exchange(m_retired, {});
}

int PageBuffers::bufferCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_count;
}
