// The bounds of the HTTP client: idle time limits (silent, trickling and
// unreachable peers), the body size bound, interim-reply floods, malformed
// addresses, Content-Length: 0 on a kept connection, cancelling, and the
// memory transport that lets these run without a peer.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "http/idhttp.h"
#include "http/proxy_env.h"
#include "http/transport.h"
#include "http/url_parts.h"
#include "platform/exception.h"
#include "platform/stream.h"
#include "tests/support/peers.h"
#include "tests/support/scoped_environment.h"
#include "tests/support/wait.h"

namespace peloria {
namespace {

using testing::PeerScript;
using testing::ScopedEnvironment;
using testing::ScriptedPeer;

std::string Base(const ScriptedPeer& peer) {
  return "http://127.0.0.1:" + std::to_string(peer.Port());
}

// "Class: message", empty on success; the body in `body`.
std::string Fetch(TIdHTTP& http, const std::string& url, std::string* body = nullptr) {
  TMemoryStream stream;
  std::string error;
  try {
    http.Download(url, stream);
  } catch (const Exception& e) {
    error = e.ClassName() + ": " + e.Message();
  }
  if (body != nullptr) *body = stream.Text();
  return error;
}

// A download over a memory peer that answers `reply` and then stays silent.
struct MemoryDownload {
  std::string error;
  std::string body;
  bool waitedForever = false;
};

MemoryDownload OverMemory(const std::string& reply, TIdMemoryTransport::End end, int timeoutMs) {
  TIdHTTP http;
  http.Host = "127.0.0.1";
  http.Port = 80;
  http.ReadTimeout = timeoutMs;
  auto transport = std::make_unique<TIdMemoryTransport>(reply, end);
  TIdMemoryTransport* peer = transport.get();
  MemoryDownload outcome;
  peer->OnWaitForever = [&] { outcome.waitedForever = true; };
  http.OpenTransport(std::move(transport));
  outcome.error = Fetch(http, "http://127.0.0.1/a.jpg", &outcome.body);
  return outcome;
}

TEST(HttpTimeLimitTest, SilentPeerFailsTricklingPeerCompletes) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\n";
  const struct {
    const char* name;
    PeerScript script;
    std::string error;
  } rows[] = {
      {"no status line", PeerScript().ReadRequest().WaitRelease(), "EIdReadTimeout: timed out"},
      {"silent in the headers",
       PeerScript().ReadRequest().Send("HTTP/1.1 200 OK\r\n").WaitRelease(),
       "EIdReadTimeout: timed out"},
      {"silent in the body", PeerScript().ReadRequest().Send(head + "abc").WaitRelease(),
       "EIdReadTimeout: timed out"},
      // 12 bytes 60 ms apart take longer than the limit of 400 ms in all,
      // but no gap comes near it.
      {"trickling", PeerScript().ReadRequest().Send(head).SendSlowly("abcdef", 60), ""},
  };
  for (const auto& row : rows) {
    ScriptedPeer peer(row.script);
    TIdHTTP http;
    http.ReadTimeout = 400;
    std::string body;
    EXPECT_EQ(Fetch(http, Base(peer) + "/a.jpg", &body), row.error) << row.name;
    if (row.error.empty()) {
      EXPECT_EQ(body, "abcdef");
    }
    EXPECT_EQ(http.IsConnected(), row.error.empty()) << row.name;
  }
}

TEST(HttpTimeLimitTest, ConnectionNotMadeInTime) {
  // A listener whose backlog is full and that never accepts: further SYNs
  // are dropped, so connecting hangs without leaving 127.0.0.1.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  std::vector<int> fillers;
  std::string error;
  for (int i = 0; i < 8 && error.empty(); ++i) {
    TIdTCPClient client;
    client.Host = "127.0.0.1";
    client.Port = ntohs(address.sin_port);
    client.ConnectTimeout = 300;
    try {
      client.OpenConnection();
      fillers.push_back(::dup(client.Socket().Handle()));
    } catch (const Exception& e) {
      error = e.ClassName() + ": " + e.Message();
    }
  }
  EXPECT_EQ(error, "EIdConnectTimeout: timed out");
  for (int fd : fillers) ::close(fd);
  ::close(listener);
}

TEST(HttpBoundsTest, BodyBeyondTheLimitStopsThere) {
  const std::size_t limit = 100000;
  const struct {
    const char* name;
    PeerScript script;
  } rows[] = {
      {"endless body", PeerScript()
                           .ReadRequest()
                           .Send("HTTP/1.1 200 OK\r\n\r\n")
                           .SendRepeated('x', std::size_t{64} << 20)},
      {"declared beyond",
       PeerScript().ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 100001\r\n\r\nxx")},
      {"declared beyond 64 bits",
       PeerScript().ReadRequest().Send(
           "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nxx")},
      {"chunks beyond", PeerScript()
                            .ReadRequest()
                            .Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
                            .Send("FFFF\r\n" + std::string(0xFFFF, 'c') + "\r\nFFFF\r\n")
                            .SendRepeated('c', 0xFFFF)},
  };
  for (const auto& row : rows) {
    ScriptedPeer peer(row.script);
    TIdHTTP http;
    http.MaxBodyBytes = limit;
    std::string body;
    EXPECT_EQ(Fetch(http, Base(peer) + "/a.jpg", &body),
              "EIdReplyTooLarge: reply body larger than 100000 bytes")
        << row.name;
    EXPECT_LE(body.size(), limit) << row.name;
    EXPECT_FALSE(http.IsConnected());
  }
}

TEST(HttpBoundsTest, InterimRepliesAreBounded) {
  std::string interim;
  for (int i = 0; i < kHttpMaxInterimReplies; ++i) interim += "HTTP/1.1 102 Processing\r\n\r\n";
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
  for (bool oneMore : {false, true}) {
    const std::string reply = interim + (oneMore ? "HTTP/1.1 103 Early Hints\r\n\r\n" : "") + ok;
    MemoryDownload outcome = OverMemory(reply, TIdMemoryTransport::End::kClose, 1000);
    EXPECT_EQ(outcome.error,
              oneMore ? "EIdTooManyInterimReplies: more than 16 interim replies" : "");
    EXPECT_EQ(outcome.body, oneMore ? "" : "ok");
  }
}

TEST(HttpBoundsTest, MalformedAddressesSendNothing) {
  ScriptedPeer peer(
      PeerScript().ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
  const std::string port = std::to_string(peer.Port());
  const struct {
    std::string url;
    std::string error;
  } rows[] = {
      {"http://127.0.0.1:70000/a.jpg", "EIdBadAddress: port number out of range: 70000"},
      {"http://127.0.0.1:-1/a.jpg", "EIdBadAddress: port number out of range: -1"},
      {"http://127.0.0.1:x/a.jpg", "EIdBadAddress: port is not a number: x"},
      {"http://127.0.0.1:-/a.jpg", "EIdBadAddress: port is not a number: -"},
      {"http://127.0.0.1: 80/a.jpg", "EIdBadAddress: port is not a number:  80"},
      {"http://127.0.0.1:" + port + "65536/a.jpg",
       "EIdBadAddress: port number out of range: " + port + "65536"},
      {"http://127.0.0.1:" + port + "/a.jpg\r\nX-Injected: 1",
       "EIdBadAddress: control character in the address"},
      {"http://127.0.0.1:" + port + "/a\n.jpg", "EIdBadAddress: control character in the address"},
      {"http://127.0.0.1:" + port + "/a\x7F.jpg",
       "EIdBadAddress: control character in the address"},
      {std::string("http://127.0.0.1:") + port + "/a" + '\0' + ".jpg",
       "EIdBadAddress: control character in the address"},
  };
  for (const auto& row : rows) {
    TIdHTTP http;
    EXPECT_EQ(Fetch(http, row.url), row.error);
  }
  EXPECT_EQ(peer.Accepted(), 0u);
}

TEST(HttpBoundsTest, EmptyBodyOnAKeptConnectionEndsAtOnce) {
  // Two requests on one kept connection, each answered with an empty body;
  // without the mend the first would wait for the close.
  const std::string empty = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
  ScriptedPeer peer(PeerScript().ReadRequest().Send(empty).ReadRequest().Send(empty).WaitRelease());
  TIdHTTP http;
  http.ReadTimeout = 20000;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Fetch(http, Base(peer) + "/a.jpg"), "");
  EXPECT_EQ(Fetch(http, Base(peer) + "/b.jpg"), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(peer.Accepted(), 1u);
  peer.Release();
}

TEST(HttpBoundsTest, AbortEndsAWaitingDownload) {
  for (const char* reply : {"", "HTTP/1.0 200 OK\r\n\r\npartial body"}) {
    ScriptedPeer peer(PeerScript().ReadRequest().Send(reply).WaitRelease());
    TIdHTTP http;
    std::string error;
    std::thread download([&] { error = Fetch(http, Base(peer) + "/a.jpg"); });
    // Abort once the request has arrived (the download then waits).
    testing::WaitUntil([&] { return peer.Received().find("\r\n\r\n") != std::string::npos; },
                       std::chrono::seconds(10), std::chrono::milliseconds(1));
    http.Abort();
    download.join();
    // An until-close body cut by the abort is no success either.
    EXPECT_EQ(error, "EIdAborted: cancelled") << reply;
    peer.Release();
  }
}

TEST(MemoryTransportTest, FramedRepliesNeverWaitAtASilentEnd) {
  const struct {
    std::string reply;
    std::string body;
    bool waits;  // the reply's framing needs the end of the stream
  } rows[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "", false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc", "abc", false},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", "abc", false},
      {"HTTP/1.1 204 No Content\r\n\r\n", "", false},
      {"HTTP/1.1 200 OK\r\n\r\nabc", "abc", true},
  };
  for (const auto& row : rows) {
    MemoryDownload forever =
        OverMemory(row.reply, TIdMemoryTransport::End::kBlock, kIdTimeoutInfinite);
    EXPECT_EQ(forever.waitedForever, row.waits) << row.reply;
    MemoryDownload limited = OverMemory(row.reply, TIdMemoryTransport::End::kBlock, 30000);
    EXPECT_EQ(limited.error, row.waits ? "EIdReadTimeout: timed out" : "") << row.reply;
    if (!row.waits) {
      EXPECT_EQ(limited.body, row.body);
    }
    MemoryDownload closed = OverMemory(row.reply, TIdMemoryTransport::End::kClose, 30000);
    EXPECT_EQ(closed.error, "") << row.reply;
    EXPECT_EQ(closed.body, row.body);
  }
}

TEST(ResolveUrlTest, RedirectTargets) {
  const char* base = "http://h.test:8080/dir/sub/page.jpg?q=1#frag";
  const struct {
    const char* reference;
    const char* resolved;
  } rows[] = {
      {"https://o.test/x.jpg", "https://o.test/x.jpg"},
      {"FILE:///etc/passwd", "FILE:///etc/passwd"},
      {"//o.test/x.jpg", "http://o.test/x.jpg"},
      {"/x.jpg", "http://h.test:8080/x.jpg"},
      {"x.jpg", "http://h.test:8080/dir/sub/x.jpg"},
      {"../x.jpg?a=b", "http://h.test:8080/dir/x.jpg?a=b"},
      {"../../../../x.jpg", "http://h.test:8080/x.jpg"},
      {"./", "http://h.test:8080/dir/sub/"},
      {"?z=2", "http://h.test:8080/dir/sub/page.jpg?z=2"},
      {"x.jpg#part", "http://h.test:8080/dir/sub/x.jpg"},
      {"", "http://h.test:8080/dir/sub/page.jpg?q=1"},
  };
  for (const auto& row : rows) EXPECT_EQ(ResolveUrl(base, row.reference), row.resolved);
  EXPECT_EQ(ResolveUrl("http://h.test", "a.jpg"), "http://h.test/a.jpg");
}

TProxyAddress Proxy(const char* host, std::int32_t port, const char* user = "",
                    const char* password = "") {
  return TProxyAddress{host, port, user, password};
}

TEST(ProxyEnvironmentTest, VariablesAndExceptions) {
  const char* const kBlocks = "10.0.0.0/8,127.0.0.0/8,::1/128,192.168.1.0/24";
  using Env = std::map<std::string, std::string>;
  const struct {
    Env env;
    const char* scheme;
    const char* host;
    std::optional<TProxyAddress> proxy;
  } rows[] = {
      {{{"http_proxy", "http://p.test:3128/"}}, "http", "a.test", Proxy("p.test", 3128)},
      {{{"http_proxy", "p.test"}}, "http", "a.test", Proxy("p.test", 80)},
      // HTTP_PROXY may be set by a CGI server from a request header: never read.
      {{{"HTTP_PROXY", "p.test:1"}}, "http", "a.test", std::nullopt},
      {{{"http_proxy", "p.test:1"}}, "https", "a.test", std::nullopt},
      {{{"https_proxy", "s.test:2"}, {"HTTPS_PROXY", "S.test:3"}},
       "https",
       "a",
       Proxy("s.test", 2)},
      {{{"HTTPS_PROXY", "S.test:3"}}, "HTTPS", "a", Proxy("S.test", 3)},
      {{{"all_proxy", "x.test:4"}, {"http_proxy", ""}}, "http", "a", Proxy("x.test", 4)},
      {{{"ALL_PROXY", "x.test:5"}}, "https", "a", Proxy("x.test", 5)},
      {{{"all_proxy", "socks5://x.test:1080"}}, "http", "a", std::nullopt},
      // A proxy that cannot be spoken to means a direct connection, not the
      // next variable.
      {{{"https_proxy", "socks4://x.test:1080"}, {"all_proxy", "y.test:3"}},
       "https",
       "a",
       std::nullopt},
      // Credentials before the host, percent-decoded.
      {{{"http_proxy", "http://user:pw@p.test:8"}}, "http", "a", Proxy("p.test", 8, "user", "pw")},
      {{{"http_proxy", "u%40x:p%3A%2F%zz@p.test:8/"}},
       "http",
       "a",
       Proxy("p.test", 8, "u@x", "p:/%zz")},
      {{{"http_proxy", "http://only@p.test"}}, "http", "a", Proxy("p.test", 80, "only", "")},
      {{{"http_proxy", "http://a:b@c@p.test"}}, "http", "a", Proxy("p.test", 80, "a", "b@c")},
      {{{"http_proxy", "p.test:99999"}}, "http", "a", std::nullopt},
      {{{"http_proxy", "p:1"}, {"no_proxy", "*"}}, "http", "a.test", std::nullopt},
      {{{"http_proxy", "p:1"}, {"no_proxy", "b.test, a.test"}}, "http", "A.TEST", std::nullopt},
      {{{"http_proxy", "p:1"}, {"no_proxy", ".test"}}, "http", "img.a.test", std::nullopt},
      {{{"http_proxy", "p:1"}, {"NO_PROXY", "a.test"}}, "http", "www.a.test", std::nullopt},
      {{{"http_proxy", "p:1"}, {"no_proxy", "a.test"}}, "http", "xa.test", Proxy("p", 1)},
      {{{"http_proxy", "p:1"}, {"no_proxy", "127.0.0.1:8080"}}, "http", "127.0.0.1", std::nullopt},
      {{{"http_proxy", "p:1"}, {"no_proxy", "127.0.0.1"}}, "http", "127.0.0.10", Proxy("p", 1)},
      // Address blocks hold literal addresses of their own family; names are
      // not looked up for them.
      {{{"http_proxy", "p:1"}, {"no_proxy", kBlocks}}, "http", "10.200.3.4", std::nullopt},
      {{{"http_proxy", "p:1"}, {"no_proxy", kBlocks}}, "http", "127.0.0.1", std::nullopt},
      {{{"http_proxy", "p:1"}, {"no_proxy", kBlocks}}, "http", "192.168.1.255", std::nullopt},
      {{{"http_proxy", "p:1"}, {"no_proxy", kBlocks}}, "http", "192.168.2.1", Proxy("p", 1)},
      {{{"http_proxy", "p:1"}, {"no_proxy", kBlocks}}, "http", "11.0.0.1", Proxy("p", 1)},
      {{{"http_proxy", "p:1"}, {"no_proxy", kBlocks}}, "http", "localhost", Proxy("p", 1)},
      {{{"http_proxy", "p:1"}, {"no_proxy", kBlocks}}, "http", "10.0.0.1.test", Proxy("p", 1)},
      {{{"http_proxy", "p:1"}, {"no_proxy", kBlocks}}, "http", "[::1]", std::nullopt},
      {{{"http_proxy", "p:1"}, {"no_proxy", kBlocks}}, "http", "[::2]", Proxy("p", 1)},
      {{{"http_proxy", "p:1"}, {"no_proxy", kBlocks}}, "http", "[::ffff:10.0.0.1]", Proxy("p", 1)},
      {{{"http_proxy", "p:1"}, {"no_proxy", "fe80::/10"}}, "http", "[FEBF::1]", std::nullopt},
      {{{"http_proxy", "p:1"}, {"no_proxy", "fe80::/10"}}, "http", "[fec0::1]", Proxy("p", 1)},
      {{{"http_proxy", "p:1"}, {"no_proxy", "10.1.2.3/0"}}, "http", "203.0.113.9", std::nullopt},
      {{{"http_proxy", "p:1"}, {"no_proxy", "10.1.2.3/8"}}, "http", "10.9.9.9", std::nullopt},
      {{{"http_proxy", "p:1"}, {"no_proxy", "10.1.2.3/31"}}, "http", "10.1.2.2", std::nullopt},
      {{{"http_proxy", "p:1"}, {"no_proxy", "10.1.2.3/31"}}, "http", "10.1.2.4", Proxy("p", 1)},
      // Malformed blocks hold nothing.
      {{{"http_proxy", "p:1"}, {"no_proxy", "10.0.0.0/33,10.0.0.0/,10.0.0.0/x,10/8"}},
       "http",
       "10.0.0.1",
       Proxy("p", 1)},
      // A plain IPv6 entry, with or without brackets and port.
      {{{"http_proxy", "p:1"}, {"no_proxy", "::1"}}, "http", "[::1]", std::nullopt},
      {{{"http_proxy", "p:1"}, {"no_proxy", "[::1]:8080"}}, "http", "[::1]", std::nullopt},
  };
  for (const auto& row : rows) {
    const auto read = [&](const char* name) -> std::optional<std::string> {
      auto it = row.env.find(name);
      if (it == row.env.end()) return std::nullopt;
      return it->second;
    };
    EXPECT_EQ(ProxyFromEnvironment(row.scheme, row.host, read), row.proxy)
        << row.scheme << " " << row.host;
  }
}

TEST(ProxyEnvironmentTest, DownloadGoesToTheEnvironmentsProxyUnlessTheIniNamesOne) {
  ScriptedPeer proxy(
      PeerScript().ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
  ScriptedPeer iniProxy(
      PeerScript().ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nini"));
  ScopedEnvironment env;
  env.Set("http_proxy", "127.0.0.1:" + std::to_string(proxy.Port()));
  {
    TIdHTTP http;
    http.UseEnvironmentProxy = true;
    std::string body;
    EXPECT_EQ(Fetch(http, "http://pictures.test/a.jpg", &body), "");
    EXPECT_EQ(body, "ok");
    EXPECT_EQ(proxy.Received().substr(0, 38), "GET http://pictures.test/a.jpg HTTP/1.");
  }
  {
    TIdHTTP http;
    http.UseEnvironmentProxy = true;
    http.Request.ProxyServer = "127.0.0.1";
    http.Request.ProxyPort = iniProxy.Port();
    std::string body;
    EXPECT_EQ(Fetch(http, "http://pictures.test/a.jpg", &body), "");
    EXPECT_EQ(body, "ini");
  }
  EXPECT_EQ(proxy.Accepted(), 1u);
}

TEST(ProxyEnvironmentTest, AnAddressInsideANoProxyBlockIsFetchedDirectly) {
  ScriptedPeer proxy(
      PeerScript().ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nproxy"));
  ScriptedPeer origin(
      PeerScript().ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\ndirect"));
  ScopedEnvironment env;
  env.Set("http_proxy", "127.0.0.1:" + std::to_string(proxy.Port()));
  env.Set("no_proxy", "10.0.0.0/8 127.0.0.0/8");
  TIdHTTP http;
  http.UseEnvironmentProxy = true;
  std::string body;
  EXPECT_EQ(Fetch(http, Base(origin) + "/a.jpg", &body), "");
  EXPECT_EQ(body, "direct");
  EXPECT_EQ(proxy.Accepted(), 0u);
}

}  // namespace
}  // namespace peloria
