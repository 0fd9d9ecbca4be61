#include "tests/e2e/installation.h"

#include <unistd.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace peloria::e2e {

namespace fs = std::filesystem;

std::optional<std::string> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string PercentEncodedFileUrl(const fs::path& path) {
  std::string url = "file://";
  for (unsigned char c : path.string()) {
    if (std::isalnum(c) || std::string("/-._~").find(static_cast<char>(c)) != std::string::npos) {
      url += static_cast<char>(c);
    } else {
      static const char* hex = "0123456789ABCDEF";
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 15];
    }
  }
  return url;
}

Installation::Installation()
    : folder_(root_.path() / "Peloria"),
      program_(folder_ / "peloria"),
      cache_(root_.path() / "cache"),
      home_(root_.path() / "home"),
      runtime_(root_.path() / "runtime"),
      nobodyRuntime_(root_.path() / "runtime-nobody") {
  // Readable and searchable by everyone, so that a child running as nobody
  // reaches the program; only the owner (the test) may write.
  fs::permissions(root_.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
  for (const auto& dir : {folder_, cache_, home_, scratch()}) fs::create_directory(dir);
  // The session's runtime folders: private to their owner, as Qt expects.
  for (const auto& dir : {runtime_, nobodyRuntime_}) {
    fs::create_directory(dir);
    fs::permissions(dir, fs::perms::owner_all);
  }
  if (RunningAsRoot() && ::chown(nobodyRuntime_.c_str(), NobodyUid(), NobodyGid()) != 0) {
    throw std::runtime_error("chown " + nobodyRuntime_.string() + " failed");
  }
  fs::copy_file(PELORIA_EXECUTABLE, program_);
  // The window and print parts the program loads from its own folder.
  for (const char* part : {PELORIA_WINDOW_LIBRARY, PELORIA_PRINT_LIBRARY}) {
    fs::copy_file(part, folder_ / fs::path(part).filename());
  }
}

void Installation::WriteIni(const std::string& text) const {
  std::ofstream(folder_ / "Peloria.ini", std::ios::binary) << text;
}

std::optional<std::string> Installation::TempJpg() const {
  return ReadFile(tempJpg());
}

Command Installation::Start(const std::vector<std::string>& args, const std::string& display,
                            bool asNobody) const {
  Command command;
  command.argv = {program_.string()};
  command.argv.insert(command.argv.end(), args.begin(), args.end());
  command.asNobody = asNobody;
  command.env = ChildEnvironment(home_, cache_, asNobody ? nobodyRuntime_ : runtime_);
  if (!display.empty()) {
    command.env.push_back("DISPLAY=" + display);
    command.env.push_back("QT_QPA_PLATFORM=xcb");
    AllowSessionLibraryLeaks(command);
  }
  command.cwd = home_;
  return command;
}

Command Installation::StartOnWayland(const std::vector<std::string>& args,
                                     const std::string& socket) const {
  Command command = Start(args);
  command.env.push_back("WAYLAND_DISPLAY=" + socket);
  command.env.push_back("QT_QPA_PLATFORM=wayland");
  // The client's side of the protocol, written to standard error.
  command.env.push_back("WAYLAND_DEBUG=client");
  AllowSessionLibraryLeaks(command);
  return command;
}

// On a display Qt loads the D-Bus library, which keeps an allocation to the
// end; in the sanitizer build the leak check would fail the program for it.
// Only leaks allocated inside that library are let through.
void Installation::AllowSessionLibraryLeaks(Command& command) const {
  const fs::path suppressions = root_.path() / "lsan.supp";
  std::ofstream(suppressions) << "leak:libdbus-1.so\n";
  std::string lsan = "LSAN_OPTIONS=suppressions=" + suppressions.string();
  for (auto& variable : command.env) {
    if (variable.rfind("LSAN_OPTIONS=", 0) == 0) {
      lsan = variable + ":suppressions=" + suppressions.string();
      variable.clear();
    }
  }
  std::erase(command.env, std::string());
  command.env.push_back(lsan);
}

Outcome Installation::Print(const std::string& address, bool asNobody) const {
  Command command = Start({"--print", address}, {}, asNobody);
  return RunToEnd(command, kProgramTimeout);
}

Outcome Installation::PrintWithoutAddress() const {
  return RunToEnd(Start({"--print"}), kProgramTimeout);
}

}  // namespace peloria::e2e
