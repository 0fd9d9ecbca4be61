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

// A large block of at least 16 MiB is faulted in on a thread beside its
// first writer: below that the thread costs about what it saves.
inline constexpr std::size_t kMinBackgroundFaultBytes = std::size_t{16} << 20;

}  // namespace peloria
