// The bounds of the platform services, each with the reason for its value.
#pragma once

#include <cstddef>

namespace peloria {

// An INI value is cut to 2047 bytes: the profile reading fills a 2048-byte
// buffer, and its terminating zero takes the last byte.
inline constexpr std::size_t kMaxProfileValue = 2047;

// Of an INI file only the first MiB is read: a settings file is a few lines,
// and a device or a huge file named by mistake must not fill the memory.
inline constexpr std::size_t kMaxSettingsBytes = std::size_t{1} << 20;

// A large block is faulted in by at most 4 threads, each given 16 MiB at the
// least: zero-filling pages is bound by memory bandwidth, which a few cores
// saturate, and a smaller piece costs more to hand to a thread than it saves.
inline constexpr std::size_t kMaxFaultThreads = 4;
inline constexpr std::size_t kMinFaultBytesPerThread = std::size_t{16} << 20;

}  // namespace peloria
