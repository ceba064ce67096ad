#pragma once

#include <QtGlobal>

#include <cstddef>
#include <unordered_map>

// The program's page buffers as the render helper holds them: each one's
// descriptor under the id the program gave it, mapped the first time a page
// is drawn into it and kept mapped, so that a buffer drawn into again costs
// no mapping.  Only the few buffers drawn into last keep their page tables
// (what counts as the helper's memory); the others' are let go of after the
// answer is out and made again, in one call, when the buffer comes back.
// Mappings beyond a budget are let go of too, least recently drawn into
// first.
class SharedPages
{
public:
    // The address space the helper keeps for mapped buffers, beyond what
    // documents may use.
    static constexpr size_t mappedBudget = 256u << 20;

    SharedPages() = default;
    ~SharedPages();
    SharedPages(const SharedPages &) = delete;
    SharedPages &operator=(const SharedPages &) = delete;

    // Takes over the descriptor of a buffer the program names for the first
    // time; false (and the descriptor closed) when it is no memory to draw
    // into.  An id held already keeps its first descriptor.
    bool attach(quint32 id, int fd);
    // Lets go of a buffer the program has let go of.
    void retire(quint32 id);
    // Where a page of `bytes` is drawn in buffer `id`: its memory, ready to
    // be written; null when there is no such buffer or it is too small.
    uchar *target(quint32 id, size_t bytes);
    // Once the answer is out: lets go of page tables and mappings beyond
    // what is kept.
    void tidy();

    // Buffers held now.
    size_t count() const { return m_buffers.size(); }

private:
    struct Buffer
    {
        int fd = -1;
        size_t size = 0;
        uchar *map = nullptr;
        size_t resident = 0; // bytes from the start with page tables made
        quint64 used = 0;    // when last drawn into
    };
    void unmap(Buffer &b);

    // Page tables kept: about the last couple of pages drawn.
    static constexpr size_t residentBudget = 8u << 20;
    std::unordered_map<quint32, Buffer> m_buffers;
    quint64 m_clock = 0;
};
