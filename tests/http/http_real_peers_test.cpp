// TIdHTTP against real servers on loopback: nginx serving a folder, directly
// and through tinyproxy. The tests start both themselves on free ports.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "http/idhttp.h"
#include "platform/cp932.h"
#include "platform/stream.h"
#include "tests/support/peers.h"
#include "tests/support/temp_dir.h"

namespace peloria {
namespace {

using testing::NginxServer;
using testing::TempDir;
using testing::TinyproxyServer;

constexpr std::size_t kFileSize = 5 * 1024 * 1024;

// Bytes that no framing mistake can reproduce by accident.
std::string PatternBytes(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t state = 12345;
  for (char& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<char>(state >> 24);
  }
  return bytes;
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class RealPeersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PELORIA_SKIP_WITHOUT_NGINX();
    PELORIA_SKIP_WITHOUT_TINYPROXY();
    expected_ = PatternBytes(kFileSize);
    root_.Write("big.bin", expected_);
    nginx_ = std::make_unique<NginxServer>(root_.path());
    proxy_ = std::make_unique<TinyproxyServer>();
  }

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(nginx_->Port()) + path;
  }

  // Downloads `url` into a new file as the program does; answers the
  // failure's class and message, empty on success.
  std::string Download(TIdHTTP& http, const std::string& url, bool viaProxy,
                       const std::string& name) {
    http.Request.ProxyServer = viaProxy ? "127.0.0.1" : "";
    http.Request.ProxyPort = viaProxy ? proxy_->Port() : 0;
    http.Request.Referer = url;
    http.Request.UserAgent = "Peloria";
    TFileStream file(Cp932((out_.path() / name).string()), TFileStream::Mode::kCreateExclusive);
    try {
      http.Download(url, file);
    } catch (const EIdProtocolReplyError& e) {
      return e.ClassName() + " " + std::to_string(e.ReplyCode()) + " " + e.Message();
    } catch (const Exception& e) {
      return e.ClassName() + " " + e.Message() + "\nnginx:\n" + nginx_->Log() + "\ntinyproxy:\n" +
             proxy_->Log();
    }
    return {};
  }

  TempDir root_;
  TempDir out_;
  std::string expected_;
  std::unique_ptr<NginxServer> nginx_;
  std::unique_ptr<TinyproxyServer> proxy_;
};

TEST_F(RealPeersTest, FiveMebibytesDirectAndThroughTheProxy) {
  for (bool viaProxy : {false, true}) {
    TIdHTTP http;
    // Twice: the second download reuses the kept connection.
    for (const char* name : {"first.bin", "second.bin"}) {
      ASSERT_EQ(Download(http, Url("/big.bin"), viaProxy, name), "") << viaProxy;
      EXPECT_EQ(http.StatusCode(), 200);
      EXPECT_EQ(http.Reply.ContentLength, static_cast<std::int32_t>(kFileSize));
      std::string got = ReadAll(out_.path() / name);
      EXPECT_EQ(got.size(), kFileSize);
      EXPECT_TRUE(got == expected_) << "the downloaded bytes differ, via proxy: " << viaProxy;
    }
  }
}

TEST_F(RealPeersTest, NotFoundDirectAndThroughTheProxy) {
  for (bool viaProxy : {false, true}) {
    TIdHTTP http;
    EXPECT_EQ(Download(http, Url("/missing.jpg"), viaProxy, "missing.html"),
              "EIdProtocolReplyError 404 404 Not Found")
        << viaProxy;
    // The server's error page is left in the file.
    EXPECT_NE(ReadAll(out_.path() / "missing.html").find("404"), std::string::npos);
    // The connection serves the next request.
    EXPECT_EQ(Download(http, Url("/big.bin"), viaProxy, "after.bin"), "");
    EXPECT_TRUE(ReadAll(out_.path() / "after.bin") == expected_);
  }
}

}  // namespace
}  // namespace peloria
