// Large zero-filled working tables (the scan's summaries and message-number
// sets, up to 32 MiB each) straight from the system. A fresh table's pages are
// first touched in random order; with ordinary 4 KiB pages that is one page
// fault per page, which dominates a large scan. The POSIX build asks for huge
// pages; Windows takes the block from the process heap, zero-filled.
#pragma once

#include <cstddef>

namespace twtrim {

// Zero-filled block of `bytes` (0 is served as 1); nullptr when the system
// has no memory for it.
void* AllocateZeroed(size_t bytes);
// Releases a block from AllocateZeroed; `bytes` must be the size asked for.
void FreeZeroed(void* block, size_t bytes);

}  // namespace twtrim
