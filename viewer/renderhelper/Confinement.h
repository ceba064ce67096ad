#pragma once

#include <QString>

#include <cstddef>

// What the render helper does to itself before it reads any document:
// no new privileges, resource limits (1 GiB of address space for documents,
// and `pageMemory` bytes more for the program's page buffers it keeps
// mapped), a Landlock rule set (read-only access
// to the font folders and fontconfig's configuration and caches, nothing
// else, no writes) and a seccomp filter.  Each step that the kernel does not
// offer is left out and named in `missing`; the helper then still runs, only
// less confined.
struct ConfinementResult
{
    int landlockAbi = 0;      // 0: the kernel has no Landlock
    bool landlock = false;    // the rule set is in force
    bool seccomp = false;     // the filter is in force
    QString missing;          // what could not be applied, and why
};

ConfinementResult confineRenderHelper(size_t pageMemory);
