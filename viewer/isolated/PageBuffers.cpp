#include "viewer/isolated/PageBuffers.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

size_t pageAligned(size_t bytes)
{
    static const size_t page = size_t(sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

void dispose(const PageBuffers::Buffer &b)
{
    if (b.map)
        munmap(b.map, b.size);
    if (b.fd >= 0)
        ::close(b.fd);
}

// Maps a buffer the helper has drawn a page of `bytes` into, that page's
// memory at once (far cheaper than a fault for each memory page).
bool mapDrawn(PageBuffers::Buffer &b, size_t bytes)
{
    if (!b.map) {
        void *m = mmap(nullptr, b.size, PROT_READ | PROT_WRITE, MAP_SHARED, b.fd, 0);
        if (m == MAP_FAILED)
            return false;
        b.map = m;
    }
    // Without it, the first paint faults the pages in one by one.  The
    // program only reads the page: populating for reading is a third of the
    // cost of populating for writing.
    const size_t want = pageAligned(bytes);
    if (b.populated < want) {
        madvise(b.map, want, MADV_POPULATE_READ);
        b.populated = want;
    }
    return true;
}

struct Held
{
    std::shared_ptr<PageBuffers> owner;
    PageBuffers::Buffer buffer;
};

} // namespace

PageBuffers::~PageBuffers()
{
    for (const Buffer &b : m_free)
        dispose(b);
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
            m_kept -= b.size;
            m_free.erase(best);
            return b;
        }
    }
    Buffer b;
    b.size = pageAligned(least);
    b.fd = memfd_create("sheafline-page", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (b.fd >= 0 && ftruncate(b.fd, off_t(b.size)) != 0) {
        ::close(b.fd);
        b.fd = -1;
    }
    if (b.fd >= 0)
        fcntl(b.fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL);
    return b;
}

void PageBuffers::give(const Buffer &b)
{
    if (b.fd < 0)
        return;
    {
        QMutexLocker lock(&m_mutex);
        if (b.map && m_free.size() < maxBuffers && m_kept + b.size <= maxKeptBytes) {
            m_free.push_back(b);
            m_kept += b.size;
            return;
        }
    }
    dispose(b);
}

QImage PageBuffers::image(Buffer buffer, const QSize &drawn)
{
    if (!mapDrawn(buffer, size_t(drawn.width()) * size_t(drawn.height()) * 4)) {
        give(buffer);
        return {};
    }
    {
        QMutexLocker lock(&m_mutex);
        m_underImages.insert(buffer.map, buffer.size);
    }
    return QImage(static_cast<uchar *>(buffer.map), drawn.width(), drawn.height(), drawn.width() * 4,
                  QImage::Format_RGB32, &PageBuffers::release, new Held{shared_from_this(), buffer});
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
