// The bounds of the native messaging host.
#pragma once

#include <cstddef>

namespace peloria {

// The largest message a browser may hand over (its 32-bit length prefix
// counts the JSON text only): a picture of 48 MiB in base64.
inline constexpr std::size_t kMaxMessageBytes = std::size_t{64} << 20;
// How deeply arrays and objects may nest in a message; the host's own
// messages nest one level.
inline constexpr int kMaxJsonDepth = 16;
// The longest picture or page address handed on; it goes on the window's
// command line, where one argument may hold at most 128 KiB.
inline constexpr std::size_t kMaxAddressBytes = 32 * 1024;
// How many characters of a data: address the window shows in its place.
inline constexpr std::size_t kShownDataAddressBytes = 48;

}  // namespace peloria
