#include "viewer/renderhelper/SharedPages.h"

#include "viewer/isolated/RenderProtocol.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

size_t pageAligned(size_t bytes)
{
    static const size_t page = size_t(sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

} // namespace

SharedPages::~SharedPages()
{
    for (auto &[id, b] : m_buffers) {
        unmap(b);
        ::close(b.fd);
    }
}

bool SharedPages::attach(quint32 id, int fd)
{
    struct stat st;
    if (m_buffers.contains(id) || fstat(fd, &st) != 0 || st.st_size <= 0) {
        ::close(fd);
        return m_buffers.contains(id);
    }
    m_buffers[id] = Buffer{fd, size_t(st.st_size)};
    return true;
}

void SharedPages::retire(quint32 id)
{
    const auto it = m_buffers.find(id);
    if (it == m_buffers.end())
        return;
    unmap(it->second);
    ::close(it->second.fd);
    m_buffers.erase(it);
}

uchar *SharedPages::target(quint32 id, size_t bytes)
{
    const auto it = m_buffers.find(id);
    if (it == m_buffers.end() || !RenderProtocol::pageFits(qint64(bytes), qint64(it->second.size)))
        return nullptr;
    Buffer &b = it->second;
    if (!b.map) {
        void *map = mmap(nullptr, b.size, PROT_READ | PROT_WRITE, MAP_SHARED, b.fd, 0);
        if (map == MAP_FAILED)
            return nullptr;
        b.map = static_cast<uchar *>(map);
    }
    // The page tables in one call: far cheaper than a fault for each page.
    const size_t want = pageAligned(bytes);
    if (b.resident < want) {
        madvise(b.map, want, MADV_POPULATE_WRITE);
        b.resident = want;
    }
    b.used = ++m_clock;
    return b.map;
}

void SharedPages::unmap(Buffer &b)
{
    if (b.map)
        munmap(b.map, b.size);
    b.map = nullptr;
    b.resident = 0;
}

void SharedPages::tidy()
{
    // Least recently drawn into first.  A handful of buffers are resident
    // and the mapped ones are bounded: a scan each is cheap.
    const auto leastRecent = [this](auto keep) {
        Buffer *oldest = nullptr;
        for (auto &[id, b] : m_buffers)
            if (keep(b) && (!oldest || b.used < oldest->used))
                oldest = &b;
        return oldest;
    };
    size_t resident = 0, mapped = 0;
    for (const auto &[id, b] : m_buffers) {
        resident += b.resident;
        mapped += b.map ? b.size : 0;
    }
    while (resident > residentBudget) {
        Buffer *b = leastRecent([](const Buffer &x) { return x.resident > 0; });
        resident -= b->resident;
        // The memory stays the program's; only this process's page tables go.
        madvise(b->map, b->resident, MADV_DONTNEED);
        b->resident = 0;
    }
    while (mapped > mappedBudget) {
        Buffer *b = leastRecent([](const Buffer &x) { return x.map != nullptr; });
        mapped -= b->size;
        unmap(*b);
    }
}
