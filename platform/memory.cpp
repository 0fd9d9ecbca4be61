#include "platform/memory.h"

#include <sys/mman.h>

namespace peloria {

void* AllocateLargeBlock(std::size_t bytes) {
  void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
  madvise(block, bytes, MADV_HUGEPAGE);  // advice only: failure changes nothing
#endif
  return block;
}

void ReleaseLargeBlock(void* block, std::size_t bytes) {
  if (block != nullptr) munmap(block, bytes);
}

}  // namespace peloria
