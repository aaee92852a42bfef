#include <windows.h>

#include "platform/zeroed_memory.h"

namespace twtrim {

void* AllocateZeroed(size_t bytes) {
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes == 0 ? 1 : bytes);
}

void FreeZeroed(void* block, size_t) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace twtrim
