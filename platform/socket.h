// Blocking IPv4 stream sockets over the BSD socket calls. Every call answers
// -1 on failure (as the BSD calls do) and leaves the error, mapped to the
// socket error numbers that the connection layer reports (10000 + the classic
// BSD number, 11001.. for name lookup), for SocketLastError(). Sends never
// raise SIGPIPE; interrupted calls are resumed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace peloria::sock {

constexpr int kInvalid = -1;  // no socket / the failure result

// Name-lookup failures (no text in the error table).
constexpr int kErrHostNotFound = 11001;
constexpr int kErrTryAgain = 11002;
constexpr int kErrNoRecovery = 11003;
constexpr int kErrNoData = 11004;

// The error of the last failed call on this thread.
int LastError();
// The table number of an errno value; values without a row answer themselves.
int FromErrno(int err);

// Parses four decimal numbers 0..255 joined by "." (no signs, blanks or other
// characters) into an address in host byte order.
bool ParseDottedIPv4(std::string_view text, std::uint32_t& address);
std::string FormatDottedIPv4(std::uint32_t address);

// The bytes of a literal IP address in network order: 4 for an IPv4 address
// in dotted form ("10.0.0.1"), 16 for an IPv6 address in any of its text forms
// ("::1", "fe80::1", "::ffff:10.0.0.1"); none for anything else (a name,
// brackets, a zone "%eth0", blanks).
std::optional<std::vector<std::uint8_t>> ParseIpLiteral(std::string_view text);

int Create();  // socket(AF_INET, SOCK_STREAM, 0), close-on-exec
// `ip` is a dotted address (empty: any); `port` must be 0..65535.
int Bind(int fd, std::string_view ip, int port);
// Connects within `timeoutMs` (negative: no limit of its own); a connection
// not made in time fails with the timed-out error (10060).
int Connect(int fd, std::string_view ip, int port, int timeoutMs = -1);
// The bound local address and port.
int LocalAddress(int fd, std::string& ip, int& port);
int SetNoDelay(int fd, bool on);
long long Send(int fd, const void* bytes, std::size_t count);
long long Recv(int fd, void* bytes, std::size_t count);
// Waits for the socket to become readable: 1 readable (data, end of stream or
// an error), 0 timed out, -1 failure. A negative timeout waits without limit.
int WaitReadable(int fd, int timeoutMs);
// The same for writing (room in the send buffer, or an error).
int WaitWritable(int fd, int timeoutMs);
// Switches O_NONBLOCK on or off.
int SetNonBlocking(int fd, bool on);
int ShutdownSend(int fd);
// Shuts down both directions: a wait on the socket in another thread returns.
int ShutdownBoth(int fd);
int Close(int fd);

// The first IPv4 address of `name` as dotted text; false with LastError set
// when the lookup fails.
bool ResolveIPv4(const std::string& name, std::string& dotted);

}  // namespace peloria::sock
