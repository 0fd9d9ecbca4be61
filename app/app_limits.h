// The bounds of the window program, each with the reason for its value.
#pragma once

#include <chrono>
#include <cstddef>
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

// A progressive JPEG keeps every coefficient of the picture while it decodes,
// at any scale, so a reduced thumbnail decode saves it little. Beyond 100
// million pixels (a 968 MB coefficient buffer for a grey 22000 x 22000 one),
// decoding it twice, the thumbnail and then the copy, costs seconds more than
// the earlier thumbnail gains: such a picture is decoded once.
inline constexpr std::int64_t kMaxTwiceDecodedPixels = 100'000'000;

// A picture handed over by a browser is looked for in the browsers' caches
// for at most 400 ms, every 50 ms, before it is downloaded: Chromium writes a
// cache entry within a few hundred milliseconds of the picture's arrival,
// and a user who has just clicked barely notices the wait.
inline constexpr std::chrono::milliseconds kBrowserCacheWait{400};
inline constexpr std::chrono::milliseconds kBrowserCachePoll{50};

// The largest picture a browser hands over: the native messaging host takes
// messages of at most 64 MiB, base64 included.
inline constexpr std::size_t kMaxHandedPictureBytes = std::size_t{64} << 20;

}  // namespace peloria
