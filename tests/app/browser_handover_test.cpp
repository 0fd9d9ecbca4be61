// A picture handed over by a web browser's extension: its bytes shown from
// temp.jpg, the caches searched whatever Peloria.ini says, and a download
// with the page as its Referer after a short, bounded wait for the cache.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/app_limits.h"
#include "app/startup.h"
#include "platform/cp932.h"
#include "tests/support/peers.h"
#include "tests/support/scoped_environment.h"
#include "tests/support/temp_dir.h"

namespace peloria::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class BrowserHandoverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // local_file=0: a browser's picture is looked for in the caches anyway.
    std::ofstream(program_.path() / "Peloria.ini") << "[Setting]\nlocal_file=0\n";
    environment_.Set("XDG_CACHE_HOME", cache_.path().string());
    environment_.Set("HOME", cache_.path().string());
    sample_ = Slurp(PELORIA_SAMPLE);
  }

  TPhoto Open(const std::string& address, const TBrowserHandover& handover) {
    const TStartup startup(
        ProgramFiles{program_.path().string() + "/", (program_.path() / "Peloria.ini").string()});
    TIdHTTP http;
    return startup.Open(
        Cp932(address), address, http,
        [](TIdHTTP& h, const std::string& url, TStream& target) { h.Download(url, target); },
        &handover);
  }

  std::string SampleSummary() {
    TExifInfo exif;
    return SummaryText(exif, PELORIA_SAMPLE);
  }

  TempDir program_, cache_;
  ScopedEnvironment environment_;
  std::string sample_;
};

TEST_F(BrowserHandoverTest, HandedBytesAreShownFromTempJpg) {
  // A data: address names no file and is never fetched; its bytes are the
  // picture, written into temp.jpg as a download would be.
  const std::string shown = "data:image/jpeg;base64,/9j/4AAQSkZJRgABAQAAAQABAAD…";
  const TPhoto photo = Open(shown, TBrowserHandover{"", sample_});
  ASSERT_FALSE(photo.Failed()) << photo.Cause();
  EXPECT_EQ(photo.Address(), Cp932(shown));
  EXPECT_EQ(photo.LocalPath(), (program_.path() / "temp.jpg").string());
  EXPECT_EQ(Slurp(program_.path() / "temp.jpg"), sample_);
  EXPECT_EQ(photo.Summary(), SampleSummary());

  // Bytes that are no picture give the failure display, with the address.
  const TPhoto broken = Open("blob:http://127.0.0.1/1", TBrowserHandover{"", "not a picture"});
  EXPECT_TRUE(broken.Failed());
  EXPECT_EQ(broken.Address(), "blob:http://127.0.0.1/1");
  EXPECT_EQ(Slurp(program_.path() / "temp.jpg"), "not a picture");
}

TEST_F(BrowserHandoverTest, CacheCopyIsUsedWhateverTheSettingsSay) {
  fs::create_directories(cache_.path() / "some" / "folder");
  std::ofstream(cache_.path() / "some" / "folder" / "IMG_0001[1].JPG", std::ios::binary) << sample_;
  // Port 1 on loopback: nothing listens, so only the cache can serve.
  const TPhoto photo = Open("http://127.0.0.1:1/photos/IMG_0001.JPG", TBrowserHandover{});
  ASSERT_FALSE(photo.Failed()) << photo.Cause();
  EXPECT_EQ(photo.Summary(), SampleSummary());
  EXPECT_FALSE(fs::exists(program_.path() / "temp.jpg"));
}

TEST_F(BrowserHandoverTest, DownloadAfterABoundedWaitWithThePageAsReferer) {
  ScriptedPeer server(PeerScript().ReadRequest().Send(
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(sample_.size()) +
      "\r\nConnection: close\r\n\r\n" + sample_));
  const std::string address = "http://127.0.0.1:" + std::to_string(server.Port()) + "/a.jpg";
  const auto started = std::chrono::steady_clock::now();
  const TPhoto photo = Open(address, TBrowserHandover{"http://127.0.0.1/gallery.html", {}});
  const auto took = std::chrono::steady_clock::now() - started;
  ASSERT_FALSE(photo.Failed()) << photo.Cause();
  EXPECT_EQ(photo.Summary(), SampleSummary());
  EXPECT_THAT(server.Received(), HasSubstr("\r\nReferer: http://127.0.0.1/gallery.html\r\n"));
  EXPECT_THAT(server.Received(), HasSubstr("\r\nUser-Agent: Peloria\r\n"));
  // The cache was asked for a while, but well under a second.
  EXPECT_GE(took, kBrowserCacheWait - kBrowserCachePoll);
  EXPECT_LT(took, 1s);
}

}  // namespace
}  // namespace peloria::testing
