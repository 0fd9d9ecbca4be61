// Fuzzes the HTTP client's reply road and its text parsers.
//
// 1. The input is the whole reply of a peer, played by a memory transport
//    after the client's request. Each input runs twice: once the peer closes
//    after its reply, once it stays open without another byte (as a kept
//    connection does), with the program's idle limit of 30 s passing at once
//    in virtual time. Redirects are not followed (the program's setting), so
//    no input can send the client anywhere else.
//    Faults found besides crashes: a download that waits at the silent end
//    of a reply although its body (by its Content-Length) is complete, and
//    an input that takes longer than kTimeBudget to handle.
//    A third run bounds the body at kSmallBody bytes: a download that
//    succeeds although it wrote more than that, or took more than that from
//    the peer for a chunked body (its data and all its framing: size lines,
//    extensions, line ends, trailer), is a finding too.
// 2. The input's lines are parsed as a header block (ParseHeaderLines), as
//    URLs (SplitUrl) and as internet dates; each line is also stored into a
//    header list by SetValue, which must give the value back.
//
// Acceptable outcomes: a return for a 2xx reply, or a failure derived from
// peloria::Exception (protocol reply errors, a close, a time-out, a
// conversion error, a header block, line or body over its limit).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "http/header_info.h"
#include "http/header_list.h"
#include "http/idhttp.h"
#include "http/internet_date.h"
#include "http/transport.h"
#include "http/url_parts.h"
#include "platform/cp932.h"
#include "platform/exception.h"
#include "platform/stream.h"

namespace {

constexpr auto kTimeBudget = std::chrono::seconds(2);
// The body bound of the harness: far below the program's 1 GiB, so that a
// declared length costs no memory here either.
constexpr std::int64_t kMaxBody = 1 << 20;
// The bound of the third run, small enough for inputs to cross it.
constexpr std::int64_t kSmallBody = 256;

void Download(const std::uint8_t* data, std::size_t size, peloria::TIdHTTPProtocolVersion version,
              peloria::TIdMemoryTransport::End end, std::int64_t maxBody = kMaxBody) {
  peloria::TIdHTTP http;
  http.ProtocolVersion = version;
  http.Request.Referer = "http://127.0.0.1/fuzz.jpg";
  http.Request.UserAgent = "Peloria";
  http.ReadTimeout = peloria::kHttpDefaultTimeoutMs;
  http.MaxBodyBytes = maxBody;
  http.Host = "127.0.0.1";
  http.Port = 80;

  bool inBody = false;
  std::int64_t bodyBytes = 0;
  http.OnWorkBegin = [&](peloria::TIdComponent&, peloria::TWorkMode mode, std::int64_t) {
    inBody = mode == peloria::TWorkMode::wmRead;
  };
  http.OnWorkEnd = [&](peloria::TIdComponent&, peloria::TWorkMode) { inBody = false; };
  http.OnWork = [&](peloria::TIdComponent&, peloria::TWorkMode mode, std::int64_t n) {
    if (mode == peloria::TWorkMode::wmRead) bodyBytes += n;
  };

  // The bytes taken from the peer (less those still buffered) when the
  // chunks start, and in all.
  std::size_t received = 0;
  std::int64_t chunksStart = -1;
  auto transport = std::make_unique<peloria::TIdMemoryTransport>(
      std::string(reinterpret_cast<const char*>(data), size), end);
  transport->OnBlockedEnd = [&](int timeoutMs) {
    // The 1 ms look after a reply (is the connection still there?) is no wait.
    if (timeoutMs <= peloria::kIdGracefulCloseWaitMs || !inBody) return;
    // A chunked body ignores a Content-Length beside it (RFC 9112 6.3), so
    // only a body delimited by its length is complete at that length.
    if (http.StatusCode() >= 200 && chunksStart < 0 && http.Reply.DeclaredLength >= 0 &&
        bodyBytes >= http.Reply.DeclaredLength) {
      std::fprintf(stderr, "waits after a complete body of %lld bytes\n",
                   static_cast<long long>(http.Reply.DeclaredLength));
      std::abort();
    }
  };
  const auto consumed = [&] {
    return static_cast<std::int64_t>(received) -
           static_cast<std::int64_t>(http.InputBuffer().Size());
  };
  transport->OnReceive = [&](std::size_t n) { received += n; };
  http.OnStatus = [&](peloria::TIdComponent&, peloria::TIdStatus status, const std::string& text) {
    if (status == peloria::TIdStatus::hsStatusText && text == "Chunk Started")
      chunksStart = consumed();
  };
  http.OpenTransport(std::move(transport));

  peloria::TMemoryStream target;
  const auto start = std::chrono::steady_clock::now();
  bool returned = false;
  try {
    http.Download("http://127.0.0.1/fuzz.jpg", target);
    returned = true;
  } catch (const peloria::Exception&) {
  }
  if (std::chrono::steady_clock::now() - start > kTimeBudget) {
    std::fprintf(stderr, "one input took longer than its time budget\n");
    std::abort();
  }
  if (returned && http.StatusCode() / 100 != 2) {
    std::fprintf(stderr, "Download returned for status %d\n", http.StatusCode());
    std::abort();
  }
  if (returned && target.Size() > maxBody) {
    std::fprintf(stderr, "a body of %lld bytes passed the bound of %lld\n",
                 static_cast<long long>(target.Size()), static_cast<long long>(maxBody));
    std::abort();
  }
  if (returned && chunksStart >= 0 && consumed() - chunksStart > maxBody) {
    std::fprintf(stderr, "a chunked body took %lld bytes of the peer past the bound of %lld\n",
                 static_cast<long long>(consumed() - chunksStart), static_cast<long long>(maxBody));
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
    try {
      (void)peloria::ParseChunkSize(line);
    } catch (const peloria::EIdMalformedChunk&) {
    }

    // SetValue folds long values but must keep what Value() gives back.
    const std::string_view name = peloria::TIdHeaderList::NameOf(line);
    if (name.empty() || name.size() == line.size() || name.front() == ' ' || name.front() == '\t') {
      continue;
    }
    // Value() drops leading blanks: every character up to the space (code 32).
    const std::string_view value =
        peloria::TrimmedLeft(std::string_view(line).substr(name.size() + 1));
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
  const auto version = (size & 1) != 0 ? peloria::pv1_0 : peloria::pv1_1;
  Download(data, size, version, peloria::TIdMemoryTransport::End::kClose);
  Download(data, size, version, peloria::TIdMemoryTransport::End::kBlock);
  Download(data, size, version, peloria::TIdMemoryTransport::End::kClose, kSmallBody);
  ParseText(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
