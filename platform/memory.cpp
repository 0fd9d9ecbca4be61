#include "platform/memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/platform_limits.h"

namespace peloria {
namespace {

#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23;  // the value in the Linux uapi headers
#endif

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Faults a block in, one huge page after the other from its start, on a
// thread of its own, so that the kernel's zero-filling runs on another core
// while the caller already writes the block from its start (a decoder's rows,
// top first). Pages the caller reaches first it faults in itself; either way
// each page is filled once.
class Populator {
 public:
  Populator(char* block, std::size_t bytes)
      : thread_([this, block, bytes] {
          for (std::size_t at = 0; at < bytes && !stop_; at += kHugePage) {
            madvise(block + at, std::min(kHugePage, bytes - at), kPopulateWrite);
          }
        }) {}
  ~Populator() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_ = false;
  std::thread thread_;  // last: it reads stop_
};

// The populators of the blocks still being faulted in, by block.
std::mutex populatorsMutex;
std::map<void*, std::unique_ptr<Populator>> populators;

}  // namespace

void* AllocateLargeBlock(std::size_t bytes) {
  void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return nullptr;
  madvise(block, bytes, MADV_HUGEPAGE);  // advice only: failure changes nothing
  // A fault per page during the first writes costs far more than faulting
  // the block in at once (Linux 5.14 and later; older kernels refuse the
  // advice and the pages come on first touch). On more than one core that
  // runs beside the caller's first writes.
  if (bytes >= kMinBackgroundFaultBytes && std::thread::hardware_concurrency() > 1) {
    auto populator = std::make_unique<Populator>(static_cast<char*>(block), bytes);
    const std::lock_guard lock(populatorsMutex);
    populators.emplace(block, std::move(populator));
  } else {
    madvise(block, bytes, kPopulateWrite);
  }
  return block;
}

void ReleaseLargeBlock(void* block, std::size_t bytes) {
  if (block == nullptr) return;
  std::unique_ptr<Populator> populator;
  {
    const std::lock_guard lock(populatorsMutex);
    if (const auto found = populators.find(block); found != populators.end()) {
      populator = std::move(found->second);
      populators.erase(found);
    }
  }
  populator.reset();  // stops and joins before the pages go
  munmap(block, bytes);
}

}  // namespace peloria
