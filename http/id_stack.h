// The process-wide socket layer: name lookup, dotted-address checks, the
// readiness wait and the socket error texts. The layer has no state on Linux;
// TIdStack only counts the components that use it.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace peloria {

// Socket error numbers of the table (10000 + the classic BSD number).
constexpr int kIdErrInterrupted = 10004;
constexpr int kIdErrInvalidArgument = 10022;
constexpr int kIdErrWouldBlock = 10035;
constexpr int kIdErrAddressFamily = 10047;
constexpr int kIdErrAddressInUse = 10048;
constexpr int kIdErrConnectionReset = 10054;
constexpr int kIdErrShutdown = 10058;
constexpr int kIdErrTimedOut = 10060;
constexpr int kIdErrConnectionRefused = 10061;
constexpr int kIdErrHostNotFound = 11001;

// The socket layer's lifetime: it exists while at least one component lives.
class TIdStack {
 public:
  // Called by TIdComponent's constructor and destructor.
  static void Acquire();
  static void Release();
  // The number of live components (tests).
  static int LiveCount();
};

// "LOCALHOST" in any letter case gives "127.0.0.1" without asking the
// resolver; a dotted address is answered unchanged; any other name is looked
// up and its first IPv4 address answered. A failed lookup raises
// EIdSocketError with the resolver's number (11001 when the host is unknown);
// an IPv6 literal raises 10047 (address family not supported).
std::string LookupHost(std::string_view name);

// True when `text` is four decimal numbers 0..255 joined by ".".
bool IsDottedAddress(std::string_view text);

// The text of a socket error number; empty for numbers outside the table.
std::string SocketErrorText(int code);

// Raises EIdSocketError "Socket Error # <code>" CR LF <text>.
[[noreturn]] void ThrowSocketError(int code);

// For a result of a socket call: false when it is not the failure value -1.
// Otherwise true when the last socket error is one of `tolerated`, and
// ThrowSocketError for any other error.
bool CheckSocketResult(long long result, std::initializer_list<int> tolerated = {});

}  // namespace peloria
