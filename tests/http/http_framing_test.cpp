// Replies that two readers could read differently or that never end: the
// chunk framing counted against the body bound, differing lengths, chunks
// over a length, close-delimited bodies cut without TLS's close_notify, and
// the per-request state of one component across requests.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "http/idhttp.h"
#include "http/transport.h"
#include "platform/exception.h"
#include "platform/stream.h"
#include "tests/http/test_certificates.h"
#include "tests/support/peers.h"

namespace peloria {
namespace {

using testing::PeerScript;
using testing::ScriptedPeer;

struct Result {
  std::string error;  // "Class: message"; empty on success
  std::string body;
  bool connected = false;
};

// "Class: message" of a download's failure; empty on success.
std::string Failure(TIdHTTP& http, const std::string& url, TStream& target) {
  try {
    http.Download(url, target);
  } catch (const Exception& e) {
    return e.ClassName() + ": " + e.Message();
  }
  return {};
}

// One download over a memory peer that answers `reply` and then stays open
// without a byte (a kept connection) or closes.
Result OverMemory(const std::string& reply, std::int64_t maxBody = kHttpMaxBodyBytes,
                  TIdMemoryTransport::End end = TIdMemoryTransport::End::kBlock,
                  const std::string& cutReason = {}) {
  TIdHTTP http;
  http.Host = "127.0.0.1";
  http.Port = 80;
  http.ReadTimeout = 1000;
  http.MaxBodyBytes = maxBody;
  auto transport = std::make_unique<TIdMemoryTransport>(reply, end);
  transport->EndCutReason = cutReason;
  http.OpenTransport(std::move(transport));
  Result result;
  TMemoryStream stream;
  result.error = Failure(http, "http://127.0.0.1/a.jpg", stream);
  result.body = stream.Text();
  result.connected = http.IsConnected();
  return result;
}

const std::string kChunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

TEST(HttpChunkFramingTest, SizeLineBoundAtTheLimitAndOnePast) {
  // "1;" and an extension filling the line to the bound, without its CR LF.
  for (std::size_t length : {kHttpMaxChunkLineBytes, kHttpMaxChunkLineBytes + 1}) {
    const std::string sizeLine = "1;x=" + std::string(length - 4, 'e');
    const Result r = OverMemory(kChunkedHead + sizeLine + "\r\nA\r\n0\r\n\r\n");
    if (length == kHttpMaxChunkLineBytes) {
      EXPECT_EQ(r.error, "");
      EXPECT_EQ(r.body, "A");
    } else {
      EXPECT_EQ(r.error, "EIdLineTooLong: Line too long: more than 4096 bytes without a line end.");
      EXPECT_FALSE(r.connected);
    }
  }
}

TEST(HttpChunkFramingTest, EveryFramingByteCountsAgainstTheBound) {
  // "5\r\nhello\r\n" 10 bytes, "0\r\n" 3, the trailer line 8, the end 2.
  const std::string reply = kChunkedHead + "5\r\nhello\r\n0\r\nX-T: 1\r\n\r\n";
  const std::int64_t exact = 10 + 3 + 8 + 2;
  const struct {
    std::int64_t bound;
    std::string error;
  } rows[] = {
      {exact, ""},
      {exact - 1, "EIdReplyTooLarge: reply body larger than 22 bytes"},  // the trailer's end
      {12, "EIdReplyTooLarge: reply body larger than 12 bytes"},         // the last chunk
      {7, "EIdReplyTooLarge: reply body larger than 7 bytes"},           // before the data is read
  };
  for (const auto& row : rows) {
    const Result r = OverMemory(reply, row.bound);
    EXPECT_EQ(r.error, row.error) << row.bound;
    EXPECT_EQ(r.body, row.bound >= 10 ? "hello" : "") << row.bound;
  }
}

TEST(HttpChunkFramingTest, MalformedFramingFailsAndClosesTheConnection) {
  const struct {
    const char* name;
    std::string chunks;
    std::string error;
  } rows[] = {
      {"data longer than its size", "3\r\nabcXYZ\r\n0\r\n\r\n",
       "EIdMalformedChunk: chunk data not followed by a line end"},
      {"size that is no number", "3\r\nabc\r\n<html>\r\n",
       "EIdMalformedChunk: malformed chunk size"},
  };
  for (const auto& row : rows) {
    const Result r = OverMemory(kChunkedHead + row.chunks);
    EXPECT_EQ(r.error, row.error) << row.name;
    EXPECT_FALSE(r.connected) << row.name;
  }
  // The trailer has the bounds of a header block.
  std::string trailer;
  for (std::size_t i = 0; i <= kHttpMaxHeaderLines; ++i) trailer += "X-T: 1\r\n";
  const Result r = OverMemory(kChunkedHead + "0\r\n" + trailer + "\r\n");
  EXPECT_EQ(r.error, "EIdReplyHeaderTooLarge: " + ReplyHeaderTooLargeMessage());
}

TEST(HttpChunkFramingTest, EndlessExtensionsStopAtTheBoundInTime) {
  // One data byte per chunk, each with a 4000-byte extension: the data stays
  // tiny while the framing streams without end.
  std::string chunk = "1;" + std::string(4000, 'e') + "\r\nA\r\n";
  std::string endless;
  for (int i = 0; i < 400; ++i) endless += chunk;  // 1.6 MB, far beyond the bound
  ScriptedPeer peer(PeerScript().ReadRequest().Send(kChunkedHead).Send(endless).WaitRelease());
  TIdHTTP http;
  http.MaxBodyBytes = 200000;
  http.ReadTimeout = 20000;
  TMemoryStream stream;
  const auto start = std::chrono::steady_clock::now();
  const std::string error =
      Failure(http, "http://127.0.0.1:" + std::to_string(peer.Port()) + "/a.jpg", stream);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(error, "EIdReplyTooLarge: reply body larger than 200000 bytes");
  EXPECT_LE(stream.Size(), 50);  // about 49 chunks of framing fit
  EXPECT_FALSE(http.IsConnected());
  peer.Release();
}

TEST(HttpLengthFramingTest, DifferingLengthsFailChunksWinOverALength) {
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const struct {
    const char* name;
    std::string reply;
    std::string error;
    std::string body;
    bool connected;
  } rows[] = {
      {"two differing lines", ok + "Content-Length: 3\r\nContent-Length: 5\r\n\r\nabcde",
       "EIdMalformedReply: Content-Length values differ", "", false},
      {"a list of differing values", ok + "Content-Length: 5, 3\r\n\r\nabcde",
       "EIdMalformedReply: Content-Length values differ", "", false},
      {"a length and a malformed one", ok + "Content-Length: 3\r\nContent-Length: x\r\n\r\nabc",
       "EIdMalformedReply: Content-Length values differ", "", false},
      {"the same value twice", ok + "Content-Length: 3\r\nContent-Length: 3\r\n\r\nabcde", "",
       "abc", true},
      {"a list of one value", ok + "Content-Length: 3 , 3\r\n\r\nabcde", "", "abc", true},
      {"chunked and a length",
       ok + "Content-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n"
            "3\r\nabc\r\n0\r\n\r\n",
       "", "abc", false},
      {"chunked and differing lengths",
       ok + "Content-Length: 2\r\nContent-Length: 9\r\nTransfer-Encoding: chunked\r\n\r\n"
            "3\r\nabc\r\n0\r\n\r\n",
       "", "abc", false},
      {"chunked alone keeps the connection",
       ok + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", "", "abc", true},
  };
  for (const auto& row : rows) {
    const Result r = OverMemory(row.reply);
    EXPECT_EQ(r.error, row.error) << row.name;
    EXPECT_EQ(r.body, row.body) << row.name;
    EXPECT_EQ(r.connected, row.connected) << row.name;
  }
}

TEST(HttpCutReplyTest, CloseWithoutCloseNotifyCutsOnlyACloseDelimitedBody) {
  const std::string cut = "unexpected eof while reading";
  const struct {
    const char* name;
    std::string reply;
    std::string reason;
    std::string error;
  } rows[] = {
      {"close-delimited, cut", "HTTP/1.0 200 OK\r\n\r\npartial", cut, "EIdTLSError: " + cut},
      {"close-delimited, orderly end", "HTTP/1.0 200 OK\r\n\r\npartial", "", ""},
      {"counted, then cut", "HTTP/1.0 200 OK\r\nContent-Length: 7\r\n\r\npartial", cut, ""},
      {"chunked, then cut",
       "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7\r\npartial\r\n0\r\n\r\n", cut, ""},
  };
  for (const auto& row : rows) {
    const Result r =
        OverMemory(row.reply, kHttpMaxBodyBytes, TIdMemoryTransport::End::kClose, row.reason);
    EXPECT_EQ(r.error, row.error) << row.name;
    EXPECT_EQ(r.body, "partial") << row.name;
  }
}

// A TLS peer on loopback for one connection: answers the request with
// `reply` and then closes with or without close_notify. With `helloOnly`
// it reads the ClientHello record and closes without a word.
class TlsPeer {
 public:
  TlsPeer(const testing::TestCertificates& certificates, std::string reply, bool closeNotify,
          bool helloOnly = false) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(fd_, 1);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    const auto files = certificates.Server("localhost");
    thread_ = std::thread([this, files, reply = std::move(reply), closeNotify, helloOnly] {
      Serve(files.certificate.string(), files.key.string(), reply, closeNotify, helloOnly);
    });
  }
  ~TlsPeer() {
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
  }
  int Port() const { return port_; }

 private:
  static bool ReadExactly(int fd, unsigned char* bytes, std::size_t count) {
    for (std::size_t got = 0; got < count;) {
      const ssize_t n = ::recv(fd, bytes + got, count - got, 0);
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
    }
    return true;
  }

  void Serve(const std::string& certificate, const std::string& key, const std::string& reply,
             bool closeNotify, bool helloOnly) {
    const int client = ::accept(fd_, nullptr, nullptr);
    if (client < 0) return;
    if (helloOnly) {
      // The record header gives the hello's length: all of it is read, so
      // the close is a FIN, not a reset for unread bytes.
      unsigned char header[5];
      if (ReadExactly(client, header, 5)) {
        std::string body(static_cast<std::size_t>(header[3] << 8 | header[4]), '\0');
        ReadExactly(client, reinterpret_cast<unsigned char*>(body.data()), body.size());
      }
      ::close(client);
      return;
    }
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_chain_file(context, certificate.c_str());
    SSL_CTX_use_PrivateKey_file(context, key.c_str(), SSL_FILETYPE_PEM);
    SSL* ssl = SSL_new(context);
    SSL_set_fd(ssl, client);
    if (SSL_accept(ssl) == 1) {
      std::string request;
      char block[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        const int n = SSL_read(ssl, block, sizeof block);
        if (n <= 0) break;
        request.append(block, static_cast<std::size_t>(n));
      }
      SSL_write(ssl, reply.data(), static_cast<int>(reply.size()));
      if (closeNotify) SSL_shutdown(ssl);
    }
    SSL_free(ssl);
    SSL_CTX_free(context);
    ERR_clear_error();
    ::close(client);
  }

  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

TEST(HttpCutReplyTest, OverRealTls) {
  PELORIA_SKIP_WITHOUT_OPENSSL();
  testing::TestCertificates certificates;
  testing::CaFileOverride ca(certificates.Ca());
  const std::string closeDelimited = "HTTP/1.0 200 OK\r\n\r\nthe first half";
  const struct {
    const char* name;
    std::string reply;
    bool closeNotify;
    std::string error;
  } rows[] = {
      {"close-delimited with close_notify", closeDelimited, true, ""},
      {"close-delimited cut", closeDelimited, false, "EIdTLSError: unexpected eof while reading"},
      {"counted, closed without close_notify",
       "HTTP/1.1 200 OK\r\nContent-Length: 14\r\nConnection: close\r\n\r\nthe first half", false,
       ""},
  };
  for (const auto& row : rows) {
    TlsPeer peer(certificates, row.reply, row.closeNotify);
    TIdHTTP http;
    http.ReadTimeout = 10000;
    http.ConnectTimeout = 10000;
    TMemoryStream stream;
    const std::string error =
        Failure(http, "https://localhost:" + std::to_string(peer.Port()) + "/a.jpg", stream);
    EXPECT_EQ(error, row.error) << row.name;
    EXPECT_EQ(stream.Text(), "the first half") << row.name;
  }
  // A peer that closes after the ClientHello: the cause is the close, never
  // a stale "would block" of an earlier read.
  for (int i = 0; i < 5; ++i) {
    TlsPeer peer(certificates, "", false, true);
    TIdHTTP http;
    http.ConnectTimeout = 10000;
    TMemoryStream stream;
    const std::string error =
        Failure(http, "https://localhost:" + std::to_string(peer.Port()) + "/a.jpg", stream);
    EXPECT_EQ(error, "EIdTLSError: connection closed during the TLS handshake") << i;
  }
}

TEST(HttpRequestStateTest, EachRequestStartsAFreshChain) {
  const std::string notFound = "HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\n\r\n.";
  ScriptedPeer peer(PeerScript()
                        .ReadRequest()
                        .Send(notFound)
                        .ReadRequest()
                        .Send(notFound)
                        .ReadRequest()
                        .Send("HTTP/1.1 302 Found\r\nLocation: /b.jpg\r\nContent-Length: 0\r\n\r\n")
                        .ReadRequest()
                        .Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")
                        .WaitRelease());
  const std::string base = "http://127.0.0.1:" + std::to_string(peer.Port());
  TIdHTTP http;
  http.HandleRedirects = true;
  http.RedirectMaximum = 3;
  for (int i = 0; i < 2; ++i) {
    TMemoryStream stream;
    EXPECT_THROW(http.Download(base + "/missing.jpg", stream), EIdProtocolReplyError);
  }
  TMemoryStream stream;
  EXPECT_NO_THROW(http.Download(base + "/a.jpg", stream));
  EXPECT_EQ(stream.Text(), "ok");
  EXPECT_EQ(http.RedirectDepth(), 0);
  peer.Release();
}

}  // namespace
}  // namespace peloria
