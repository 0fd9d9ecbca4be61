// The window on a real Wayland compositor (weston, headless, on a socket in
// the test's own runtime folder): the window names its desktop entry by its
// application id, which is how compositors and docks give it the entry's
// name and icon.
#include <chrono>
#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "tests/e2e/installation.h"
#include "tests/support/peers.h"
#include "tests/support/wait.h"

namespace peloria::e2e {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr auto kTimeout = std::chrono::seconds(30);
const char kSocket[] = "peloria-test-wayland";

// Waits until `file` holds every one of `texts`; answers its last contents.
std::string WaitForLog(const fs::path& file, const std::vector<std::string>& texts,
                       Process& process) {
  testing::WaitUntil(
      [&] {
        if (process.Poll()) return true;
        const std::string log = ReadFile(file).value_or("");
        bool all = true;
        for (const std::string& text : texts) all &= log.find(text) != std::string::npos;
        return all;
      },
      kTimeout, milliseconds(100));
  return ReadFile(file).value_or("");
}

TEST(WaylandTest, WindowNamesItsDesktopEntry) {
  const std::string weston = testing::FindProgram("weston");
  if (weston.empty()) GTEST_SKIP() << "weston is not installed (scripts/deps installs it)";
  if (!fs::exists(PELORIA_SAMPLE_PHOTO)) GTEST_SKIP() << "the build made no sample photo";

  Installation app;
  Command compositor;
  compositor.argv = {weston, "--backend=headless-backend.so", std::string("--socket=") + kSocket,
                     "--idle-time=0"};
  compositor.env = ChildEnvironment(app.scratch(), app.cache(), app.runtime());
  Process server(compositor, app.scratch() / "weston.log");
  const fs::path socket = app.runtime() / kSocket;
  testing::WaitUntil([&] { return fs::exists(socket) || server.Poll(); }, kTimeout,
                     milliseconds(50));
  ASSERT_TRUE(fs::exists(socket)) << ReadFile(app.scratch() / "weston.log").value_or("");

  // A program renamed by its user still names the entry peloria.desktop
  // (without a desktop file name Qt would use the program's name).
  Command command = app.StartOnWayland({"file://" + std::string(PELORIA_SAMPLE_PHOTO)}, kSocket);
  const fs::path renamed = app.folder() / "peloria-1.0";
  fs::copy_file(app.program(), renamed);
  command.argv[0] = renamed.string();
  const fs::path log = app.scratch() / "peloria.log";
  Process peloria(command, log);
  const std::string appId = ".set_app_id(\"peloria\")";
  const std::string title = ".set_title(\"Peloria　 画像クリックでヒストグラム表示\")";
  const std::string shown = ".attach(wl_buffer@";
  const std::string messages = WaitForLog(log, {appId, title, shown}, peloria);
  EXPECT_FALSE(peloria.Poll().has_value()) << "Peloria ended on Wayland:\n" << messages;
  EXPECT_NE(messages.find(appId), std::string::npos) << messages.substr(0, 4000);
  EXPECT_NE(messages.find(title), std::string::npos);
  EXPECT_NE(messages.find(shown), std::string::npos) << "the window was never drawn";
}

}  // namespace
}  // namespace peloria::e2e
