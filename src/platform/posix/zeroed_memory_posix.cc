#include <sys/mman.h>

#include <cstdlib>

#include "platform/zeroed_memory.h"

namespace twtrim {
namespace {

// Below this the heap serves the block; at and above it the block is mapped
// on its own and offered huge pages.
constexpr size_t kMappedFrom = size_t{1} << 20;

}  // namespace

void* AllocateZeroed(size_t bytes) {
  if (bytes < kMappedFrom) return std::calloc(bytes == 0 ? 1 : bytes, 1);
  void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
  madvise(block, bytes, MADV_HUGEPAGE);  // only advice: ordinary pages work as well
#endif
  return block;
}

void FreeZeroed(void* block, size_t bytes) {
  if (block == nullptr) return;
  if (bytes < kMappedFrom) {
    std::free(block);
  } else {
    munmap(block, bytes);
  }
}

}  // namespace twtrim
