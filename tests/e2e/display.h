// A private X display for the end-to-end tests: Xvfb on a display number it
// picks itself, screenshots through xwd, window queries and clicks through
// xdotool.
#pragma once

#include <sys/types.h>

#include <QImage>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/process.h"

namespace peloria::e2e {

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  int right() const { return x + width; }
  int bottom() const { return y + height; }
};

class XDisplay {
 public:
  // Starts Xvfb with a 1280 x 1024 x 24 screen; throws std::runtime_error when
  // it does not come up within a few seconds.
  explicit XDisplay(const std::filesystem::path& logFile);
  ~XDisplay();

  const std::string& name() const { return name_; }  // ":N"

  QImage Screenshot() const;
  // The visible windows of process `pid`, waiting up to `timeoutMs` for one.
  std::vector<std::string> WindowsOf(pid_t pid, int timeoutMs) const;
  // The windows whose WM_CLASS class is `wmClass`.
  std::vector<std::string> WindowsOfClass(const std::string& wmClass) const;
  Rect Geometry(const std::string& window) const;
  std::string Title(const std::string& window) const;
  // Moves the pointer to (x, y) on the screen and clicks the left button.
  void Click(int x, int y) const;
  // Moves the pointer to (x, y) on the screen.
  void MovePointer(int x, int y) const;
  // Gives `window` the keyboard focus, which also makes it the active window
  // (tooltips show only over the active one).
  void Focus(const std::string& window) const;
  // Gives `window` the keyboard focus and types `keys` (xdotool key names,
  // such as "Escape" or "ctrl+w").
  void Key(const std::string& window, const std::string& keys) const;
  // The process that owns `window` (its _NET_WM_PID); -1 when unknown.
  pid_t PidOf(const std::string& window) const;
  // Waits until two screenshots `intervalMs` apart agree within `area`;
  // answers the last one.
  QImage SettledScreenshot(const Rect& area, int intervalMs = 300, int timeoutMs = 10000) const;

 private:
  std::string Xdotool(const std::vector<std::string>& args) const;
  // The windows that "xdotool search" finds with `criteria`, one id each.
  std::vector<std::string> Search(const std::vector<std::string>& criteria) const;

  std::unique_ptr<Process> server_;
  std::string name_;
};

}  // namespace peloria::e2e
