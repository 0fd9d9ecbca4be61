// The browser extension end to end: a real Chromium and a real Firefox,
// headless with throw-away profiles, load the extension and show a page from
// a loopback nginx; the test calls the extension's openInPeloria as the
// context menu's click would, the browser starts peloria-host from its host
// manifest, and the host opens a Peloria window on the private X display.
// Each case's picture carries its own camera model, and its window must look
// exactly like the window `peloria FILE` opens on the same file. The server's
// log must show no request by Peloria for a picture the browser already had.
#include <signal.h>
#include <unistd.h>

#include <QImage>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "http/base64.h"
#include "tests/e2e/browsers.h"
#include "tests/e2e/display.h"
#include "tests/e2e/installation.h"
#include "tests/e2e/servers.h"
#include "tests/support/wait.h"

namespace peloria::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

constexpr int kWindowTimeoutMs = 30000;

struct Case {
  std::string name;  // also the picture's camera model
  std::string path;  // where the server keeps the picture; empty: in the page
  ClickInfo info;
};

// The processes of `program` started with --from-browser.
std::vector<pid_t> FromBrowserWindows(const fs::path& program) {
  std::vector<pid_t> pids;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string cmdline = ReadFile(entry.path() / "cmdline").value_or("");
    if (cmdline.starts_with(program.string() + '\0' + "--from-browser" + '\0')) {
      pids.push_back(std::stoi(name));
    }
  }
  return pids;
}

void EndProcess(pid_t pid) {
  ::kill(pid, SIGTERM);
  testing::WaitUntil([&] { return !fs::exists("/proc/" + std::to_string(pid)); }, 5000ms);
}

class ExtensionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PELORIA_SKIP_WITHOUT_NGINX();
    if (testing::FindProgram("exiv2").empty()) GTEST_SKIP() << "exiv2 is not installed";
    if (testing::FindProgram("zip").empty()) GTEST_SKIP() << "zip is not installed";
    display_ = std::make_unique<XDisplay>(app_.scratch() / "xvfb.log");
    home_ = app_.home();
    runtime_ = app_.runtime();
    www_ = app_.scratch() / "www";
    fs::create_directories(www_);
    fs::copy_file(PELORIA_HOST_EXECUTABLE, app_.folder() / "peloria-host");
    server_ = std::make_unique<NginxServer>(www_);
    const std::string port = std::to_string(server_->Port());
    base_ = "http://127.0.0.1:" + port + "/";
    page_ = base_ + "page.html";
    const std::string other = "http://localhost:" + port + "/other.jpg";

    cases_ = {
        {"same site", "same.jpg", {base_ + "same.jpg", "", page_}},
        {"other site", "other.jpg", {other, "", page_}},
        // The click names the fallback; the page shows the srcset picture.
        {"srcset", "srcset.jpg", {base_ + "fallback.jpg", "", page_}},
        // A thumbnail that links to the full photo opens the full photo.
        {"linked", "linked.jpg", {base_ + "thumb.jpg", base_ + "linked.jpg", page_}},
        {"data", "", {}},
        {"blob", "", {}},
    };
    for (Case& c : cases_) {
      const fs::path file = Picture(c.name);
      if (!c.path.empty()) fs::copy_file(file, www_ / c.path);
    }
    fs::copy_file(Picture("thumbnail"), www_ / "thumb.jpg");
    const std::string data = "data:image/jpeg;base64," + Base64Encode(*ReadFile(Picture("data")));
    const std::string blobBytes =
        "data:image/jpeg;base64," + Base64Encode(*ReadFile(Picture("blob")));
    cases_[4].info = {data, "", page_};
    std::ofstream(www_ / "page.html")
        << "<!DOCTYPE html><html><body>"
        << "<img src=\"same.jpg\"><img src=\"" << other << "\">"
        << "<img src=\"fallback.jpg\" srcset=\"srcset.jpg 1x\">"
        << "<a href=\"linked.jpg\"><img src=\"thumb.jpg\"></a>"
        << "<img src=\"" << data << "\"><img id=\"blob\">"
        << "<script>fetch(\"" << blobBytes << "\").then((r) => r.blob()).then((b) => {"
        << " document.getElementById(\"blob\").src = URL.createObjectURL(b); });</script>"
        << "</body></html>";

    // The host registered as a portable installation registers itself.
    Command registering;
    registering.argv = {(app_.folder() / "peloria-host").string(), "--register"};
    registering.env = Environment();
    const Outcome registered = RunToEnd(registering, 30000ms);
    ASSERT_EQ(registered.exitCode, 0) << registered.err;
  }

  void TearDown() override {
    for (pid_t pid : FromBrowserWindows(app_.program())) EndProcess(pid);
  }

  std::vector<std::string> Environment() const {
    std::vector<std::string> env = ChildEnvironment(home_, app_.cache(), runtime_);
    if (display_) env.push_back("DISPLAY=" + display_->name());
    return env;
  }

  // The sample photo with `model` as its camera model, made once.
  fs::path Picture(const std::string& model) {
    const fs::path file = app_.scratch() / (model + ".jpg");
    if (fs::exists(file)) return file;
    fs::copy_file(PELORIA_SAMPLE_PHOTO, file);
    Command set;
    set.argv = {testing::FindProgram("exiv2"), "-M", "set Exif.Image.Model Ascii " + model,
                file.string()};
    set.env = {"PATH=/usr/bin:/bin"};
    EXPECT_EQ(RunToEnd(set, 30000ms).exitCode, 0);
    return file;
  }

  // The window of `pid` as it settles on the screen.
  QImage WindowImage(pid_t pid) {
    const auto windows = display_->WindowsOf(pid, kWindowTimeoutMs);
    if (windows.empty()) return {};
    const Rect area = display_->Geometry(windows.front());
    return display_->SettledScreenshot(area).copy(area.x, area.y, area.width, area.height);
  }

  // What `peloria FILE` shows for the picture of `model`.
  QImage Reference(const std::string& model) {
    Process window(app_.Start({Picture(model).string()}, display_->name()));
    return WindowImage(window.pid());
  }

  // The failures the user is told of in a notification: what the host
  // refuses, and a host that is not installed (after `removeHost`).
  void RunFailures(Browser& browser, const std::function<void()>& removeHost) {
    const std::string refused = browser.OpenInPeloria(page_, {"", "ftp://127.0.0.1/a", page_});
    EXPECT_THAT(refused, HasSubstr("\"ok\":false"));
    EXPECT_THAT(refused, HasSubstr("Peloria could not be started: \\\"address\\\" is no http"));
    removeHost();
    const std::string missing = browser.OpenInPeloria(page_, cases_[0].info);
    EXPECT_THAT(missing, HasSubstr("Peloria's helper program is not installed"));
    EXPECT_THAT(missing, HasSubstr("peloria-host --register"));
    EXPECT_TRUE(FromBrowserWindows(app_.program()).empty());
  }

  // Each case through `browser`: one window on its picture, then closed.
  void RunCases(Browser& browser) {
    browser.Open(page_);
    for (const Case& c : cases_) {
      SCOPED_TRACE(c.name);
      const QImage expected = Reference(c.name);
      ASSERT_FALSE(expected.isNull());
      ClickInfo info = c.info;
      // The blob: address exists only in the page, so the page names it.
      if (c.name == "blob")
        info = {browser.Evaluate("document.getElementById('blob').src"), "", page_};
      EXPECT_EQ(browser.OpenInPeloria(page_, info), "{\"ok\":true}");
      std::vector<pid_t> windows;
      ASSERT_TRUE(testing::WaitUntil(
          [&] { return !(windows = FromBrowserWindows(app_.program())).empty(); },
          std::chrono::milliseconds(kWindowTimeoutMs)));
      ASSERT_EQ(windows.size(), 1u);
      const QImage shown = WindowImage(windows.front());
      EXPECT_FALSE(shown.isNull());
      EXPECT_TRUE(shown == expected) << "the window does not show the picture of " << c.name;
      EndProcess(windows.front());
    }
    // Only the linked photo, which the page never showed, was downloaded.
    for (const LoggedRequest& request : Requests(*server_)) {
      if (request.userAgent != "Peloria") continue;
      EXPECT_EQ(request.requestLine, "GET /linked.jpg HTTP/1.1");
      EXPECT_EQ(request.referer, page_);
    }
  }

  Installation app_;
  std::unique_ptr<XDisplay> display_;
  fs::path home_, runtime_, www_;
  std::unique_ptr<NginxServer> server_;
  std::string base_, page_;
  std::vector<Case> cases_;
};

TEST_F(ExtensionTest, ChromiumOpensEachPictureInPeloria) {
  const std::string chromium = testing::FindProgram("chromium");
  if (chromium.empty()) GTEST_SKIP() << "chromium is not installed";
  // Chromium with its own user data folder reads host manifests from there.
  const fs::path userData = app_.cache() / "chromium";
  fs::create_directories(userData / "NativeMessagingHosts");
  fs::copy_file(home_ / ".config/chromium/NativeMessagingHosts/peloria.json",
                userData / "NativeMessagingHosts/peloria.json");
  auto browser = StartChromium(chromium, PELORIA_EXTENSION_DIR, userData, Environment(),
                               app_.scratch() / "chromium.log");
  RunCases(*browser);
  RunFailures(*browser, [&] { fs::remove(userData / "NativeMessagingHosts/peloria.json"); });
}

TEST_F(ExtensionTest, FirefoxOpensEachPictureInPeloria) {
  std::string firefox = testing::FindProgram("firefox-esr");
  if (firefox.empty()) firefox = testing::FindProgram("firefox");
  if (firefox.empty()) GTEST_SKIP() << "firefox-esr is not installed";
  // A profile in the usual place keeps its cache where Peloria reads it.
  auto browser =
      StartFirefox(firefox, PELORIA_EXTENSION_DIR, home_ / ".mozilla/firefox/peloria.test",
                   Environment(), app_.scratch() / "firefox.log");
  RunCases(*browser);
}

}  // namespace
}  // namespace peloria::e2e
