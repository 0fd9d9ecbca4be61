// A private copy of Peloria in a folder of its own, the way a user installs
// it: the program folder holds its own Peloria.ini and receives temp.jpg.
// HOME and the cache folder (XDG_CACHE_HOME) point into the same temporary
// tree, so that nothing outside it is read or written.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/process.h"
#include "tests/support/temp_dir.h"

namespace peloria::e2e {

class Installation {
 public:
  Installation();

  const std::filesystem::path& folder() const { return folder_; }
  const std::filesystem::path& program() const { return program_; }
  const std::filesystem::path& cache() const { return cache_; }
  // The user's home folder (HOME) of the program's runs.
  const std::filesystem::path& home() const { return home_; }
  std::filesystem::path tempJpg() const { return folder_ / "temp.jpg"; }
  // Scratch space beside the installation (pictures, server files).
  std::filesystem::path scratch() const { return root_.path() / "scratch"; }

  void WriteIni(const std::string& text) const;
  // The bytes of temp.jpg; none when there is no such file.
  std::optional<std::string> TempJpg() const;

  // The command that starts Peloria with `args`, DISPLAY set when given; as
  // "nobody" when asked and the test runs as root (see Command::asNobody).
  Command Start(const std::vector<std::string>& args, const std::string& display = {},
                bool asNobody = false) const;
  // The command that starts Peloria with `args` on the Wayland compositor
  // listening on `socket` in runtime(), logging its protocol messages to
  // standard error.
  Command StartOnWayland(const std::vector<std::string>& args, const std::string& socket) const;
  // The session's runtime folder (XDG_RUNTIME_DIR) of the program's runs.
  const std::filesystem::path& runtime() const { return runtime_; }
  // `peloria --print ADDRESS`, run to its end.
  Outcome Print(const std::string& address, bool asNobody = false) const;
  // `peloria --print` without an address.
  Outcome PrintWithoutAddress() const;

 private:
  void AllowSessionLibraryLeaks(Command& command) const;

  testing::TempDir root_;
  std::filesystem::path folder_, program_, cache_, home_, runtime_, nobodyRuntime_;
};

// The file address of `path` as file managers write it: "%XX" for every byte
// outside the unreserved set and "/".
std::string PercentEncodedFileUrl(const std::filesystem::path& path);

// Reads a whole file; none when it cannot be opened.
std::optional<std::string> ReadFile(const std::filesystem::path& path);

constexpr std::chrono::milliseconds kProgramTimeout{60000};

// What the failure display writes in the terminal mode.
inline const std::string kFetchFailed = "データの取得に失敗しました";

}  // namespace peloria::e2e
