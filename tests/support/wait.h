// Waiting on a condition with a deadline: the one way the tests wait for a
// peer, a process, a window or a file, instead of sleeping a fixed time.
#pragma once

#include <chrono>
#include <functional>

namespace peloria::testing {

// Asks `condition` until it holds or `timeout` has passed, pausing `interval`
// between the questions; answers whether it held. It is asked at least once,
// and once more at the deadline, so a condition that becomes true during the
// last pause is not missed.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds interval = std::chrono::milliseconds(10));

}  // namespace peloria::testing
