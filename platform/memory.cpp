#include "platform/memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "platform/platform_limits.h"

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
  // Fault the whole block in at once (Linux 5.14 and later), which is far
  // cheaper than one fault per page during the first write; the kernel's
  // zero-filling is split between the cores in pieces of whole huge pages.
  // Older kernels refuse the advice and the pages come on first touch.
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t parts = std::clamp<std::size_t>(bytes / kMinFaultBytesPerThread, 1,
                                                    std::min(cores, kMaxFaultThreads));
  auto* start = static_cast<char*>(block);
  auto populate = [&](std::size_t part) {
    const std::size_t first = bytes * part / parts / kHugePage * kHugePage;
    const std::size_t last =
        part + 1 == parts ? bytes : bytes * (part + 1) / parts / kHugePage * kHugePage;
    madvise(start + first, last - first, kPopulateWrite);
  };
  {
    std::vector<std::jthread> helpers;
    for (std::size_t part = 1; part < parts; ++part) helpers.emplace_back(populate, part);
    populate(0);
  }
  return block;
}

void ReleaseLargeBlock(void* block, std::size_t bytes) {
  if (block != nullptr) munmap(block, bytes);
}

}  // namespace peloria
