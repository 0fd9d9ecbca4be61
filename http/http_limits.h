// Every bound of the HTTP client in one place, each with the reason for it.
// A peer may be hostile: each limit caps what one reply can cost in memory,
// disk or time, and each ends in an exception, never in a silent cut.
#pragma once

#include <cstddef>
#include <cstdint>

namespace peloria {

// The one "wait without a limit" value of every time argument.
constexpr int kIdTimeoutInfinite = -1;

// Receive block and send size: one block holds a typical picture's headers
// and a good share of a TLS record train, and 32 KiB keeps the copy cheap.
constexpr std::int32_t kIdDefaultBufferSize = 32768;

// The longest line ReadLine answers (terminator and a dropped CR not
// counted): a status or header line far beyond what servers send, yet small
// enough that a peer streaming bytes without a line feed is stopped early.
constexpr std::size_t kIdMaxLineLength = 1024 * 1024;

// A reply's header block (without line ends) and its line count, trailers of
// a chunked body included: real replies use a few KiB; the bound stops a
// header flood long before memory matters.
constexpr std::size_t kHttpMaxHeaderBytes = 1024 * 1024;
constexpr std::size_t kHttpMaxHeaderLines = 1000;

// A chunk-size line with its extensions (RFC 9112 7.1.1), line end not
// counted: servers send a few hex digits; extensions are rare and short. A
// header line's 1 MiB would let each 1-byte chunk bring a megabyte of framing.
constexpr std::size_t kHttpMaxChunkLineBytes = 4096;

// Interim (1xx) replies before the final one: servers send one or two; a
// peer that sends them without end would otherwise hold the client forever.
constexpr int kHttpMaxInterimReplies = 16;

// Redirects followed within one download (RFC 9110 15.4 asks clients to
// detect loops; 15 is the component's own default).
constexpr std::int32_t kHttpDefaultRedirectMaximum = 15;

// The largest body written to the target: no picture above 1 GiB is ever
// loaded, so a larger body only fills the disk. A chunked body counts every
// byte received for it (size lines, extensions, line ends, trailer) against
// the bound too, so that framing without data cannot run without end.
constexpr std::int64_t kHttpMaxBodyBytes = std::int64_t{1} << 30;

// Idle time limits of the program's downloads: connecting, the TLS
// handshake, a proxy's CONNECT answer, and the gap between two received
// bytes. An idle limit, never a total one: a slow but steady transfer ends.
constexpr int kHttpDefaultTimeoutMs = 30 * 1000;

// CheckGracefulClose's receive wait: only looks at what already arrived.
constexpr int kIdGracefulCloseWaitMs = 1;

}  // namespace peloria
