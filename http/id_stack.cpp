#include "http/id_stack.h"

#include <mutex>
#include <utility>

#include "http/id_exceptions.h"
#include "platform/cp932.h"
#include "platform/socket.h"

namespace peloria {
namespace {

// The socket error table: number and text.
constexpr std::pair<int, const char*> kErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    // The name lookup's failures: without a text the cause of the most
    // common failure of all, a mistyped host, would read as a bare number.
    {11001, "Host not found."},
    {11002, "Non-authoritative host not found; try again later."},
    {11003, "This is a non-recoverable error."},
    {11004, "Valid name, no data record of requested type."},
};

// The socket layer of the process and the count of components using it. On
// Linux there is no library to start, so the layer is only the count.
std::mutex stackMutex;
int liveComponents = 0;

}  // namespace

void TIdStack::Acquire() {
  std::lock_guard lock(stackMutex);
  ++liveComponents;
}

void TIdStack::Release() {
  std::lock_guard lock(stackMutex);
  --liveComponents;
}

int TIdStack::LiveCount() {
  std::lock_guard lock(stackMutex);
  return liveComponents;
}

std::string LookupHost(std::string_view name) {
  if (SameTextAscii(name, "LOCALHOST")) return "127.0.0.1";
  if (IsDottedAddress(name)) return std::string(name);
  // An IPv6 literal ("[::1]", or bare) is no host name; the sockets here are
  // IPv4 only, and that, not an unknown host, is the cause.
  if (name.starts_with('[') || name.find(':') != std::string_view::npos) {
    ThrowSocketError(kIdErrAddressFamily);
  }
  std::string dotted;
  if (!sock::ResolveIPv4(std::string(name), dotted)) ThrowSocketError(sock::LastError());
  return dotted;
}

bool IsDottedAddress(std::string_view text) {
  std::uint32_t ignored = 0;
  return sock::ParseDottedIPv4(text, ignored);
}

std::string SocketErrorText(int code) {
  for (const auto& [number, text] : kErrorTexts) {
    if (number == code) return text;
  }
  return {};
}

void ThrowSocketError(int code) {
  throw EIdSocketError(code,
                       "Socket Error # " + std::to_string(code) + "\r\n" + SocketErrorText(code));
}

bool CheckSocketResult(long long result, std::initializer_list<int> tolerated) {
  if (result != sock::kInvalid) return false;
  const int code = sock::LastError();
  for (int t : tolerated) {
    if (t == code) return true;
  }
  ThrowSocketError(code);
}

}  // namespace peloria
