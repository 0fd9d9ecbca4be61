#include "tests/e2e/display.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "tests/e2e/xwd.h"
#include "tests/support/peers.h"
#include "tests/support/wait.h"

namespace peloria::e2e {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kToolTimeout{20000};

std::vector<std::string> ToolEnvironment(const std::string& display) {
  return {"PATH=/usr/local/bin:/usr/bin:/bin", "DISPLAY=" + display};
}

std::filesystem::path Require(const std::string& name) {
  std::string path = testing::FindProgram(name);
  if (path.empty()) throw std::runtime_error(name + " is not installed");
  return path;
}

}  // namespace

XDisplay::XDisplay(const std::filesystem::path& logFile) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  Command command;
  command.argv = {Require("Xvfb").string(), "-displayfd", "3",   "-screen", "0",
                  "1280x1024x24",           "-nolisten",  "tcp", "-noreset"};
  command.env = {"PATH=/usr/bin:/bin"};
  command.passFd = fds[1];
  server_ = std::make_unique<Process>(command, logFile);
  ::close(fds[1]);

  // Xvfb writes the display number it took, then a line feed, once it accepts
  // connections.
  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + milliseconds(15000);
  while (number.find('\n') == std::string::npos) {
    auto left =
        std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fds[0], POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[32];
    ssize_t got = ::read(fds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    number.append(buffer, static_cast<size_t>(got));
  }
  ::close(fds[0]);
  if (number.find('\n') == std::string::npos) {
    server_.reset();
    throw std::runtime_error("Xvfb did not start; see " + logFile.string());
  }
  name_ = ":" + number.substr(0, number.find('\n'));
}

XDisplay::~XDisplay() = default;

std::string XDisplay::Xdotool(const std::vector<std::string>& args) const {
  Command command;
  command.argv = {Require("xdotool").string()};
  command.argv.insert(command.argv.end(), args.begin(), args.end());
  command.env = ToolEnvironment(name_);
  Outcome outcome = RunToEnd(command, kToolTimeout);
  if (outcome.timedOut) throw std::runtime_error("xdotool timed out");
  return outcome.out;
}

QImage XDisplay::Screenshot() const {
  Command command;
  command.argv = {Require("xwd").string(), "-root", "-silent", "-display", name_};
  command.env = ToolEnvironment(name_);
  Outcome outcome = RunToEnd(command, kToolTimeout);
  if (outcome.exitCode != 0) throw std::runtime_error("xwd failed: " + outcome.err);
  return ReadXwd(outcome.out);
}

std::vector<std::string> XDisplay::WindowsOf(pid_t pid, int timeoutMs) const {
  std::vector<std::string> windows;
  testing::WaitUntil(
      [&] {
        windows = Search({"--onlyvisible", "--pid", std::to_string(pid)});
        return !windows.empty();
      },
      milliseconds(timeoutMs), milliseconds(100));
  return windows;
}

std::vector<std::string> XDisplay::WindowsOfClass(const std::string& wmClass) const {
  return Search({"--class", "^" + wmClass + "$"});
}

std::vector<std::string> XDisplay::Search(const std::vector<std::string>& criteria) const {
  std::vector<std::string> args = {"search"};
  args.insert(args.end(), criteria.begin(), criteria.end());
  std::stringstream lines(Xdotool(args));
  std::vector<std::string> windows;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) windows.push_back(line);
  }
  return windows;
}

Rect XDisplay::Geometry(const std::string& window) const {
  // --shell prints WINDOW=, X=, Y=, WIDTH=, HEIGHT=, SCREEN= lines.
  std::stringstream lines(Xdotool({"getwindowgeometry", "--shell", window}));
  Rect rect;
  std::string line;
  while (std::getline(lines, line)) {
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const int value = std::atoi(line.c_str() + eq + 1);
    if (key == "X") rect.x = value;
    if (key == "Y") rect.y = value;
    if (key == "WIDTH") rect.width = value;
    if (key == "HEIGHT") rect.height = value;
  }
  return rect;
}

std::string XDisplay::Title(const std::string& window) const {
  std::string title = Xdotool({"getwindowname", window});
  while (!title.empty() && title.back() == '\n') title.pop_back();
  return title;
}

void XDisplay::Click(int x, int y) const {
  Xdotool({"mousemove", "--sync", std::to_string(x), std::to_string(y)});
  Xdotool({"click", "1"});
}

void XDisplay::MovePointer(int x, int y) const {
  Xdotool({"mousemove", "--sync", std::to_string(x), std::to_string(y)});
}

void XDisplay::Focus(const std::string& window) const {
  Xdotool({"windowfocus", "--sync", window});
}

void XDisplay::Key(const std::string& window, const std::string& keys) const {
  Focus(window);
  Xdotool({"key", "--clearmodifiers", keys});
}

pid_t XDisplay::PidOf(const std::string& window) const {
  const std::string pid = Xdotool({"getwindowpid", window});
  return pid.empty() ? -1 : static_cast<pid_t>(std::stol(pid));
}

QImage XDisplay::SettledScreenshot(const Rect& area, int intervalMs, int timeoutMs) const {
  const QRect r(area.x, area.y, area.width, area.height);
  std::optional<QImage> last;
  testing::WaitUntil(
      [&] {
        QImage next = Screenshot();
        const bool settled = last && next.copy(r) == last->copy(r);
        last = std::move(next);
        return settled;
      },
      milliseconds(timeoutMs), milliseconds(intervalMs));
  return *last;
}

}  // namespace peloria::e2e
