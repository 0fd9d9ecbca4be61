// Fuzzes the HTTP client's reply road and its text parsers.
//
// 1. The input is the whole reply of a peer: a loopback listener accepts the
//    client's connection as soon as it is made (OnConnected), sends the input
//    and shuts its sending side, and one Download into a memory stream reads
//    it. Redirects are not followed (the program's setting), so no input can
//    send the client anywhere else. A counted body sizes its target to the
//    declared length before the data arrives; the program's target is a file,
//    where that costs no memory, so the harness's stream keeps only the bytes
//    written and not the declared size (a TMemoryStream would allocate up to
//    2 GiB for any reply that claims it).
// 2. The input's lines are parsed as a header block (ParseHeaderLines), as
//    URLs (SplitUrl) and as internet dates; each line is also stored into a
//    header list by SetValue, which must give the value back.
//
// Acceptable outcomes: a return for a 2xx reply, or a failure derived from
// peloria::Exception (protocol reply errors, a close, a conversion error, a
// header block or line over its limit).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "http/header_info.h"
#include "http/header_list.h"
#include "http/idhttp.h"
#include "http/internet_date.h"
#include "http/url_parts.h"
#include "platform/exception.h"
#include "platform/stream.h"

namespace {

// A listening socket on 127.0.0.1 and a port chosen by the system, made
// once per process.
struct Listener {
  int fd = -1;
  int port = 0;

  Listener() {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) std::abort();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      std::abort();
    }
    // Non-blocking, so that clearing the backlog never waits.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    port = ntohs(address.sin_port);
  }
};

// A memory stream whose size may run ahead of its bytes, as a sparse file's
// does: SetSize records the size, only written bytes take memory.
class SparseMemoryStream final : public peloria::TStream {
 public:
  std::int64_t Read(void* buffer, std::int64_t count) override {
    const std::int64_t n = std::min(count, size_ - position_);
    if (n <= 0) return 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::int64_t i = 0; i < n; ++i) {
      const auto at = static_cast<std::size_t>(position_ + i);
      out[i] = at < bytes_.size() ? bytes_[at] : 0;
    }
    position_ += n;
    return n;
  }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    if (count <= 0) return 0;
    const auto end = static_cast<std::size_t>(position_ + count);
    if (bytes_.size() < end) bytes_.resize(end);
    std::memcpy(bytes_.data() + position_, buffer, static_cast<std::size_t>(count));
    position_ += count;
    size_ = std::max(size_, position_);
    return count;
  }
  void Seek(std::int64_t position) override { position_ = std::max<std::int64_t>(position, 0); }
  std::int64_t Position() const override { return position_; }
  std::int64_t Size() const override { return size_; }
  void SetSize(std::int64_t size) override {
    size_ = std::max<std::int64_t>(size, 0);
    if (bytes_.size() > static_cast<std::size_t>(size_))
      bytes_.resize(static_cast<std::size_t>(size_));
    position_ = std::min(position_, size_);
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::int64_t size_ = 0;
  std::int64_t position_ = 0;
};

Listener& TheListener() {
  static Listener listener;
  return listener;
}

// The peer's side of one connection: sends the reply and shuts its sending
// side, then keeps the socket open (absorbing the request) until the
// download is over, so that the client sees an orderly close, not a reset.
struct Peer {
  int fd = -1;

  void Answer(const std::uint8_t* data, std::size_t size) {
    fd = accept4(TheListener().fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) std::abort();  // OnConnected comes after a completed connect
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::size_t sent = 0;
    while (sent < size) {
      const ssize_t n = send(fd, data + sent, size - sent, MSG_NOSIGNAL);
      if (n <= 0) std::abort();
      sent += static_cast<std::size_t>(n);
    }
    shutdown(fd, SHUT_WR);
  }

  ~Peer() {
    if (fd >= 0) close(fd);
    // A connection the client made but this peer never accepted.
    for (int stray; (stray = accept4(TheListener().fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
      close(stray);
    }
  }
};

void Download(const std::uint8_t* data, std::size_t size, peloria::TIdHTTPProtocolVersion version) {
  Peer peer;
  peloria::TIdHTTP http;
  http.ProtocolVersion = version;
  http.Request.Referer = "http://127.0.0.1/fuzz.jpg";
  http.Request.UserAgent = "Peloria";
  http.OnConnected = [&](peloria::TIdTCPClient&) { peer.Answer(data, size); };
  SparseMemoryStream target;
  try {
    http.Download("http://127.0.0.1:" + std::to_string(TheListener().port) + "/fuzz.jpg", target);
  } catch (const peloria::Exception&) {
    return;
  }
  if (http.StatusCode() / 100 != 2) {
    std::fprintf(stderr, "Download returned for status %d\n", http.StatusCode());
    std::abort();
  }
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

void ParseText(std::string_view text) {
  const std::vector<std::string> lines = Lines(text);
  peloria::TIdHeaderList list;
  for (const std::string& line : lines) list.Add(line);
  peloria::TIdHeaderInfo info;
  try {
    peloria::ParseHeaderLines(list, info);
  } catch (const peloria::EConvertError&) {
  }

  for (const std::string& line : lines) {
    (void)peloria::SplitUrl(line);
    (void)peloria::InternetDateToLocal(line, 9 * 3600);
    (void)peloria::ParseChunkSize(line);

    // SetValue folds long values but must keep what Value() gives back.
    const std::string_view name = peloria::TIdHeaderList::NameOf(line);
    if (name.empty() || name.size() == line.size() || name.front() == ' ' || name.front() == '\t') {
      continue;
    }
    std::string_view value = std::string_view(line).substr(name.size() + 1);
    // Value() drops leading blanks: every character up to the space (code 32).
    while (!value.empty() && static_cast<unsigned char>(value.front()) <= ' ') {
      value.remove_prefix(1);
    }
    peloria::TIdHeaderList one;
    one.SetValue(name, value);
    if (!value.empty() && one.Value(name) != value) {
      std::fprintf(stderr, "SetValue(\"%.*s\", \"%.*s\") then Value gave \"%s\"\n",
                   static_cast<int>(name.size()), name.data(), static_cast<int>(value.size()),
                   value.data(), one.Value(name).c_str());
      std::abort();
    }
  }
  (void)peloria::SplitUrl(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Download(data, size, (size & 1) != 0 ? peloria::pv1_0 : peloria::pv1_1);
  ParseText(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
