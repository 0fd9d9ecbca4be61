#include "platform/memory.h"

#include <sys/mman.h>

namespace peloria {
namespace {

#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23;  // the value in the Linux uapi headers
#endif

}  // namespace

void* AllocateLargeBlock(std::size_t bytes) {
  void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return nullptr;
  madvise(block, bytes, MADV_HUGEPAGE);  // advice only: failure changes nothing
  // Fault the whole block in at once (Linux 5.14 and later): far cheaper than
  // one fault per page during the first write. Older kernels refuse the
  // advice and the pages come on first touch as before.
  madvise(block, bytes, kPopulateWrite);
  return block;
}

void ReleaseLargeBlock(void* block, std::size_t bytes) {
  if (block != nullptr) munmap(block, bytes);
}

}  // namespace peloria
