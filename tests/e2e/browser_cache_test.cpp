// A picture seen in a real browser opens from the browser's disk cache: a
// loopback nginx serves a page with two pictures (one of them gzip-encoded
// on the wire), a headless Chromium or Firefox with a fresh profile shows
// the page, the server is stopped, and `peloria --print` with local_file=1
// still prints the pictures' summaries and leaves them in temp.jpg.
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e/installation.h"
#include "tests/e2e/servers.h"

namespace peloria::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class BrowserCacheE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PELORIA_SKIP_WITHOUT_NGINX();
    home_ = app_.cache().parent_path() / "home";
    runtime_ = app_.scratch() / "browser-runtime";
    fs::create_directories(runtime_);
    fs::permissions(runtime_, fs::perms::owner_all);
    www_ = app_.scratch() / "www";
    fs::create_directories(www_ / "z");
    picture_ = ReadFile(PELORIA_SAMPLE_PHOTO).value_or("");
    ASSERT_FALSE(picture_.empty());
    std::ofstream(www_ / "a.jpg", std::ios::binary) << picture_;
    std::ofstream(www_ / "z" / "b.jpg", std::ios::binary) << picture_;
    std::ofstream(www_ / "index.html") << "<!DOCTYPE html><html><body>"
                                          "<img src=\"a.jpg\"><img src=\"z/b.jpg\">"
                                          "</body></html>";
    // Pictures under /z/ travel gzip-encoded, as some servers send them.
    server_ = std::make_unique<NginxServer>(
        www_, "location /z/ { gzip on; gzip_types image/jpeg; gzip_min_length 1; }");
    app_.WriteIni("[Setting]\nlocal_file=1\n");
  }

  // Runs the browser to its end; false when it could not show the page.
  bool Browse(std::vector<std::string> argv) {
    Command command;
    command.argv = std::move(argv);
    command.env = ChildEnvironment(home_, app_.cache(), runtime_);
    command.cwd = app_.scratch();
    const Outcome o = RunToEnd(command, 120s);
    EXPECT_FALSE(o.timedOut) << o.err;
    return !o.timedOut && o.exitCode == 0;
  }

  // With the server gone, both pictures come from the browser's cache.
  void ExpectBothPicturesFromCache() {
    const std::vector<std::string> addresses = {UrlOf(*server_, "/a.jpg"),
                                                UrlOf(*server_, "/z/b.jpg")};
    const std::string local = app_.Print("file://" + std::string(PELORIA_SAMPLE_PHOTO)).out;
    ASSERT_FALSE(local.empty());
    server_.reset();
    for (const std::string& address : addresses) {
      SCOPED_TRACE(address);
      fs::remove(app_.tempJpg());
      const Outcome o = app_.Print(address);
      EXPECT_EQ(o.exitCode, 0) << o.err;
      EXPECT_EQ(o.out, local);
      EXPECT_EQ(app_.TempJpg(), picture_);
    }
  }

  Installation app_;
  fs::path home_, runtime_, www_;
  std::string picture_;
  std::unique_ptr<NginxServer> server_;
};

TEST_F(BrowserCacheE2eTest, PictureSeenInChromiumOpensWithTheServerGone) {
  const std::string chromium = testing::FindProgram("chromium");
  if (chromium.empty()) GTEST_SKIP() << "chromium is not installed";
  // Its profile folder in the cache folder, where the browser's cache lives
  // when the profile is the default one: chromium/Default/Cache/Cache_Data.
  const fs::path profile = app_.cache() / "chromium";
  ASSERT_TRUE(Browse({chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                      "--disable-background-networking", "--disable-component-update",
                      "--disable-sync", "--disable-quic",
                      // Nothing but loopback: no name resolves, and every
                      // other connection goes to a proxy that is not there.
                      "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
                      "--proxy-server=127.0.0.1:1", "--user-data-dir=" + profile.string(),
                      "--screenshot=" + (app_.scratch() / "chromium.png").string(),
                      UrlOf(*server_, "/index.html")}));
  ASSERT_TRUE(fs::is_directory(profile / "Default" / "Cache" / "Cache_Data"));
  ExpectBothPicturesFromCache();
}

TEST_F(BrowserCacheE2eTest, PictureSeenInFirefoxOpensWithTheServerGone) {
  std::string firefox = testing::FindProgram("firefox-esr");
  if (firefox.empty()) firefox = testing::FindProgram("firefox");
  if (firefox.empty()) GTEST_SKIP() << "firefox-esr is not installed";
  // A profile in the usual place keeps its cache in the cache folder:
  // mozilla/firefox/<profile>/cache2.
  const fs::path profile = home_ / ".mozilla" / "firefox" / "peloria.test";
  fs::create_directories(profile);
  // Nothing but loopback: every other connection goes to a proxy that is
  // not there, and the background services are off.
  std::ofstream(profile / "user.js") << R"(user_pref("network.proxy.type", 1);
user_pref("network.proxy.http", "127.0.0.1");
user_pref("network.proxy.http_port", 1);
user_pref("network.proxy.ssl", "127.0.0.1");
user_pref("network.proxy.ssl_port", 1);
user_pref("network.proxy.allow_hijacking_localhost", false);
user_pref("network.trr.mode", 5);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("browser.safebrowsing.update.enabled", false);
user_pref("app.update.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.enabled", false);
)";
  ASSERT_TRUE(
      Browse({firefox, "--headless", "--no-remote", "-profile", profile.string(), "--screenshot",
              (app_.scratch() / "firefox.png").string(), UrlOf(*server_, "/index.html")}));
  ASSERT_TRUE(fs::is_directory(app_.cache() / "mozilla" / "firefox" / "peloria.test" / "cache2"));
  ExpectBothPicturesFromCache();
}

}  // namespace
}  // namespace peloria::e2e
