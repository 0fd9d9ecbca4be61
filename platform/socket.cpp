#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace peloria::sock {
namespace {

thread_local int lastError = 0;

// errno values and their rows in the socket error table.
constexpr std::pair<int, int> kErrnoRows[] = {
    {EINTR, 10004},           {EBADF, 10009},        {EACCES, 10013},
    {EPERM, 10013},           {EFAULT, 10014},       {EINVAL, 10022},
    {EMFILE, 10024},          {ENFILE, 10024},       {EWOULDBLOCK, 10035},
    {EAGAIN, 10035},          {EINPROGRESS, 10036},  {EALREADY, 10037},
    {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},        {ENETUNREACH, 10051},  {ENETRESET, 10052},
    {ECONNABORTED, 10053},    {ECONNRESET, 10054},   {ENOBUFS, 10055},
    {ENOMEM, 10055},          {EISCONN, 10056},      {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},       {EPIPE, 10058},        {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},       {ECONNREFUSED, 10061}, {ELOOP, 10062},
    {ENAMETOOLONG, 10063},    {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},
};

int Fail(int err) {
  lastError = FromErrno(err);
  return kInvalid;
}

bool MakeAddress(std::string_view ip, int port, sockaddr_in& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  std::uint32_t host = INADDR_ANY;
  if (port < 0 || port > 65535 || (!ip.empty() && !ParseDottedIPv4(ip, host))) return false;
  addr.sin_addr.s_addr = htonl(host);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  return true;
}

std::int64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

int LastError() {
  return lastError;
}

int FromErrno(int err) {
  for (const auto& [value, row] : kErrnoRows) {
    if (value == err) return row;
  }
  return err;
}

bool ParseDottedIPv4(std::string_view text, std::uint32_t& address) {
  std::uint32_t result = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t end = part < 3 ? text.find('.') : text.size();
    if (end == std::string_view::npos || end == 0) return false;
    unsigned value = 0;
    for (char c : text.substr(0, end)) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + static_cast<unsigned>(c - '0');
      if (value > 255) return false;
    }
    result = (result << 8) | value;
    text.remove_prefix(part < 3 ? end + 1 : end);
  }
  address = result;
  return true;
}

std::string FormatDottedIPv4(std::uint32_t address) {
  return std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 0xFF) + '.' +
         std::to_string((address >> 8) & 0xFF) + '.' + std::to_string(address & 0xFF);
}

std::optional<std::vector<std::uint8_t>> ParseIpLiteral(std::string_view text) {
  // inet_pton reads a terminated string: a NUL inside the text is no address.
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  const std::string terminated(text);
  std::vector<std::uint8_t> bytes(sizeof(in6_addr));
  if (inet_pton(AF_INET, terminated.c_str(), bytes.data()) == 1) {
    bytes.resize(sizeof(in_addr));
    return bytes;
  }
  if (inet_pton(AF_INET6, terminated.c_str(), bytes.data()) == 1) return bytes;
  return std::nullopt;
}

int Create() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return fd < 0 ? Fail(errno) : fd;
}

int Bind(int fd, std::string_view ip, int port) {
  sockaddr_in addr{};
  if (!MakeAddress(ip, port, addr)) return Fail(EINVAL);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) return Fail(errno);
  return 0;
}

int Connect(int fd, std::string_view ip, int port, int timeoutMs) {
  sockaddr_in addr{};
  if (!MakeAddress(ip, port, addr)) return Fail(EINVAL);
  // With a limit the connect runs non-blocking and its outcome is awaited by
  // poll; without one an interrupted connect goes on in the background and is
  // awaited the same way.
  if (timeoutMs >= 0 && SetNonBlocking(fd, true) != 0) return kInvalid;
  int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  int err = rc == 0 ? 0 : errno;
  if (err == EINTR || err == EINPROGRESS) {
    const int ready = WaitWritable(fd, timeoutMs);
    if (ready < 0) return kInvalid;
    if (ready == 0) {
      err = ETIMEDOUT;
    } else {
      socklen_t len = sizeof err;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    }
  }
  if (timeoutMs >= 0) SetNonBlocking(fd, false);
  return err == 0 ? 0 : Fail(err);
}

int LocalAddress(int fd, std::string& ip, int& port) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return Fail(errno);
  ip = FormatDottedIPv4(ntohl(addr.sin_addr.s_addr));
  port = ntohs(addr.sin_port);
  return 0;
}

int SetNoDelay(int fd, bool on) {
  int value = on ? 1 : 0;
  if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) != 0) return Fail(errno);
  return 0;
}

long long Send(int fd, const void* bytes, std::size_t count) {
  for (;;) {
    ssize_t n = ::send(fd, bytes, count, MSG_NOSIGNAL);
    if (n >= 0) return n;
    if (errno != EINTR) return Fail(errno);
  }
}

long long Recv(int fd, void* bytes, std::size_t count) {
  for (;;) {
    ssize_t n = ::recv(fd, bytes, count, 0);
    if (n >= 0) return n;
    if (errno != EINTR) return Fail(errno);
  }
}

namespace {

int WaitFor(int fd, short events, int timeoutMs) {
  const std::int64_t deadline = timeoutMs < 0 ? 0 : NowMs() + timeoutMs;
  int wait = timeoutMs < 0 ? -1 : timeoutMs;
  for (;;) {
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, wait);
    if (n >= 0) return n > 0 ? 1 : 0;
    if (errno != EINTR) return Fail(errno);
    if (timeoutMs >= 0) {
      std::int64_t left = deadline - NowMs();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
  }
}

}  // namespace

int WaitReadable(int fd, int timeoutMs) {
  return WaitFor(fd, POLLIN, timeoutMs);
}

int WaitWritable(int fd, int timeoutMs) {
  return WaitFor(fd, POLLOUT, timeoutMs);
}

int SetNonBlocking(int fd, bool on) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return Fail(errno);
  const int wanted = on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
  if (wanted != flags && ::fcntl(fd, F_SETFL, wanted) != 0) return Fail(errno);
  return 0;
}

int ShutdownSend(int fd) {
  return ::shutdown(fd, SHUT_WR) == 0 ? 0 : Fail(errno);
}

int ShutdownBoth(int fd) {
  return ::shutdown(fd, SHUT_RDWR) == 0 ? 0 : Fail(errno);
}

int Close(int fd) {
  // The descriptor is released even when close reports EINTR; never retry.
  return ::close(fd) == 0 || errno == EINTR ? 0 : Fail(errno);
}

bool ResolveIPv4(const std::string& name, std::string& dotted) {
  if (name.empty() || name.find('\0') != std::string::npos) {
    lastError = kErrHostNotFound;
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (rc != 0) {
    switch (rc) {
      case EAI_AGAIN:
        lastError = kErrTryAgain;
        break;
      case EAI_FAIL:
        lastError = kErrNoRecovery;
        break;
#ifdef EAI_NODATA
      case EAI_NODATA:
        lastError = kErrNoData;
        break;
#endif
      case EAI_SYSTEM:
        lastError = FromErrno(errno);
        break;
      default:
        lastError = kErrHostNotFound;
        break;
    }
    return false;
  }
  bool found = false;
  for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addr != nullptr) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
      dotted = FormatDottedIPv4(ntohl(in->sin_addr.s_addr));
      found = true;
      break;
    }
  }
  ::freeaddrinfo(list);
  if (!found) lastError = kErrNoData;
  return found;
}

}  // namespace peloria::sock
