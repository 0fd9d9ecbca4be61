#include "tests/support/wait.h"

#include <algorithm>
#include <thread>

namespace peloria::testing {

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds interval) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  while (!condition()) {
    const auto now = Clock::now();
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::min<Clock::duration>(interval, deadline - now));
  }
  return true;
}

}  // namespace peloria::testing
