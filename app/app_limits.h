// The bounds of the window program, each with the reason for its value.
#pragma once

#include <cstdint>

namespace peloria {

// The histogram is counted by up to 4 threads (as many as page faulting in
// the platform uses), each given 2^21 pixels at the least: below that many
// pixels a further thread costs more than it saves.
inline constexpr unsigned kMaxHistogramThreads = 4;
inline constexpr std::int64_t kMinPixelsPerHistogramThread = std::int64_t{1} << 21;

// A counting lane's 32-bit counters are added to the totals after at most
// 2^30 pixels, long before one of them can wrap at 2^32.
inline constexpr std::int64_t kHistogramLaneFlush = std::int64_t{1} << 30;

}  // namespace peloria
