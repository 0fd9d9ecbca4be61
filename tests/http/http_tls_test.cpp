// TIdHTTP over TLS against nginx with certificates the test makes, through
// tinyproxy's CONNECT tunnel, and nginx's redirects (absolute, relative,
// http to https, loops, other schemes).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "http/idhttp.h"
#include "platform/exception.h"
#include "platform/stream.h"
#include "tests/http/test_certificates.h"
#include "tests/support/peers.h"
#include "tests/support/temp_dir.h"

namespace peloria {
namespace {

using testing::CaFileOverride;
using testing::NginxServer;
using testing::PeerScript;
using testing::ScriptedPeer;
using testing::TempDir;
using testing::TestCertificates;
using testing::TinyproxyServer;

struct Outcome {
  std::string body;
  std::string error;  // "Class: message"; empty on success
};

Outcome Fetch(TIdHTTP& http, const std::string& url) {
  Outcome outcome;
  TMemoryStream stream;
  http.Request.Referer = url;
  http.Request.UserAgent = "Peloria";
  try {
    http.Download(url, stream);
  } catch (const Exception& e) {
    outcome.error = e.ClassName() + ": " + e.Message();
  }
  outcome.body = stream.Text();
  return outcome;
}

class TlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PELORIA_SKIP_WITHOUT_NGINX();
    PELORIA_SKIP_WITHOUT_OPENSSL();
    certificates_ = std::make_unique<TestCertificates>();
    root_.Write("a.jpg", "the picture");
    root_.Write("b.jpg", "the other picture");
  }

  std::unique_ptr<NginxServer> Https(const std::string& certificate, std::string extra = {}) {
    return std::make_unique<NginxServer>(root_.path(), std::move(extra),
                                         certificates_->Server(certificate));
  }

  static std::string Url(const std::string& scheme, const std::string& host, int port,
                         const std::string& path) {
    return scheme + "://" + host + ":" + std::to_string(port) + path;
  }

  TempDir root_;
  std::unique_ptr<TestCertificates> certificates_;
};

TEST_F(TlsTest, VerifiedByNameAndByAddress) {
  auto nginx = Https("localhost");
  CaFileOverride ca(certificates_->Ca());
  for (const char* host : {"localhost", "127.0.0.1"}) {
    TIdHTTP http;
    Outcome outcome = Fetch(http, Url("https", host, nginx->Port(), "/a.jpg"));
    EXPECT_EQ(outcome.error, "") << host << "\n" << nginx->Log();
    EXPECT_EQ(outcome.body, "the picture") << host;
    // The kept connection serves the next request over the same TLS session.
    EXPECT_EQ(Fetch(http, Url("https", host, nginx->Port(), "/b.jpg")).body, "the other picture");
  }
}

TEST_F(TlsTest, CertificateFailuresNameTheirCause) {
  const struct {
    const char* certificate;
    bool trustOtherCa;
    const char* host;
    const char* error;
  } rows[] = {
      {"localhost", true, "localhost",
       "EIdTLSError: certificate verify failed: unable to get local issuer certificate"},
      {"other", false, "localhost", "EIdTLSError: certificate verify failed: hostname mismatch"},
      {"other", false, "127.0.0.1", "EIdTLSError: certificate verify failed: IP address mismatch"},
      {"expired", false, "localhost",
       "EIdTLSError: certificate verify failed: certificate has expired"},
  };
  for (const auto& row : rows) {
    auto nginx = Https(row.certificate);
    CaFileOverride ca(row.trustOtherCa ? certificates_->OtherCa() : certificates_->Ca());
    TIdHTTP http;
    Outcome outcome = Fetch(http, Url("https", row.host, nginx->Port(), "/a.jpg"));
    EXPECT_EQ(outcome.error, row.error) << row.certificate << " " << row.host;
    EXPECT_EQ(outcome.body, "");
    EXPECT_FALSE(http.IsConnected());
  }
}

TEST_F(TlsTest, PlainPeerAndSilentPeerFailTheHandshake) {
  CaFileOverride ca(certificates_->Ca());
  {
    // An http server on the https port answers the hello with plain text.
    ScriptedPeer plain(PeerScript().Send("HTTP/1.1 400 Bad Request\r\n\r\n").Close());
    TIdHTTP http;
    Outcome outcome = Fetch(http, Url("https", "127.0.0.1", plain.Port(), "/a.jpg"));
    EXPECT_EQ(outcome.error.substr(0, 13), "EIdTLSError: ") << outcome.error;
  }
  {
    // A peer that accepts and never answers: the handshake obeys the limit.
    ScriptedPeer silent(PeerScript().WaitRelease());
    TIdHTTP http;
    http.ConnectTimeout = 200;
    Outcome outcome = Fetch(http, Url("https", "127.0.0.1", silent.Port(), "/a.jpg"));
    EXPECT_EQ(outcome.error, "EIdConnectTimeout: timed out");
  }
}

TEST_F(TlsTest, ThroughTheProxysTunnel) {
  PELORIA_SKIP_WITHOUT_TINYPROXY();
  auto nginx = Https("localhost");
  CaFileOverride ca(certificates_->Ca());
  TinyproxyServer proxy;
  TIdHTTP http;
  http.Request.ProxyServer = "127.0.0.1";
  http.Request.ProxyPort = proxy.Port();
  Outcome outcome = Fetch(http, Url("https", "localhost", nginx->Port(), "/a.jpg"));
  EXPECT_EQ(outcome.error, "") << proxy.Log();
  EXPECT_EQ(outcome.body, "the picture");
  EXPECT_NE(proxy.Log().find("CONNECT"), std::string::npos) << proxy.Log();

  // A proxy that refuses the tunnel.
  TinyproxyServer refusing("ConnectPort 1");
  TIdHTTP refused;
  refused.Request.ProxyServer = "127.0.0.1";
  refused.Request.ProxyPort = refusing.Port();
  outcome = Fetch(refused, Url("https", "localhost", nginx->Port(), "/a.jpg"));
  EXPECT_EQ(outcome.error.substr(0, 50), "EIdProtocolReplyError: proxy refused the tunnel: 4")
      << outcome.error;
  EXPECT_FALSE(refused.IsConnected());
}

TEST_F(TlsTest, RedirectsOfNginx) {
  ScriptedPeer plainSink(PeerScript().ReadRequest().Send(
      "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\nsink"));
  auto https = Https("localhost", "location = /to-plain { return 302 http://127.0.0.1:" +
                                      std::to_string(plainSink.Port()) + "/sink; }\n");
  const std::string tls = "https://localhost:" + std::to_string(https->Port());
  auto nginx =
      std::make_unique<NginxServer>(root_.path(),
                                    "absolute_redirect off;\n"
                                    "location = /absolute { return 301 " +
                                        tls +
                                        "/a.jpg; }\n"
                                        "location = /relative { return 302 ../b.jpg; }\n"
                                        "location = /dir/rooted { return 307 /a.jpg; }\n"
                                        "location = /loop { return 302 /loop; }\n"
                                        "location = /file { return 302 file:///etc/passwd; }\n"
                                        "location = /see-other { return 303 /dir/rooted; }\n"
                                        "location = /gone { return 308 /missing.jpg; }\n");
  CaFileOverride ca(certificates_->Ca());
  const std::string plain = "http://127.0.0.1:" + std::to_string(nginx->Port());
  const struct {
    std::string url;
    std::string body;
    std::string error;
  } rows[] = {
      {plain + "/absolute", "the picture", ""},
      {plain + "/dir/../relative", "the other picture", ""},
      {plain + "/see-other", "the picture", ""},
      {plain + "/loop", "", "EIdTooManyRedirects: too many redirects"},
      {plain + "/file", "", "EIdRedirectRefused: redirect to a file: address refused"},
      {plain + "/gone", "", "EIdProtocolReplyError: 404 Not Found"},
  };
  for (const auto& row : rows) {
    TIdHTTP http;
    http.HandleRedirects = true;
    Outcome outcome = Fetch(http, row.url);
    EXPECT_EQ(outcome.error, row.error) << row.url;
    // The target holds only the final body (nginx's redirect pages are
    // longer than these pictures).
    if (row.error.empty()) {
      EXPECT_EQ(outcome.body, row.body) << row.url;
    }
  }

  // From https to http no Referer goes out.
  TIdHTTP http;
  http.HandleRedirects = true;
  Outcome outcome = Fetch(http, tls + "/to-plain");
  EXPECT_EQ(outcome.body, "sink") << outcome.error;
  ASSERT_TRUE(plainSink.WaitFinished());
  EXPECT_EQ(plainSink.Received().find("Referer"), std::string::npos) << plainSink.Received();
  EXPECT_NE(plainSink.Received().find("User-Agent: Peloria"), std::string::npos);
}

}  // namespace
}  // namespace peloria
