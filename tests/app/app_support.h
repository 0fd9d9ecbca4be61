// Helpers of the window tests: the QApplication on the offscreen platform,
// the window made in this process on a file:/// address, picture files with
// exact pixels, and runs of a copy of the program in its own folder (for
// tests that need their own Peloria.ini or temp.jpg).
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QInputDevice>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/toolkit.h"
#include "app/unit1.h"
#include "platform/cp932.h"
#include "tests/support/jpeg_fixtures.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tiff_writer.h"

extern char** environ;

namespace peloria::testing {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "app_tests";
  static char* argv[] = {name, nullptr};
  static const std::unique_ptr<QApplication> app = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Application().Title = "Peloria";
    // The list of input devices made first, so that it outlives the
    // application: the keyboard and pointer that synthetic key and wheel
    // events make later are children of the application and leave that list
    // when it ends, at exit.
    (void)QInputDevice::devices();
    return std::make_unique<QApplication>(argc, argv);
  }();
  return *app;
}

inline std::string FileUrl(const std::filesystem::path& path) {
  return "file://" + path.string();
}

// The window made on `address` (UTF-8); a failure that FormCreate did not
// handle is recorded instead of shown.
struct Window {
  explicit Window(const std::string& address) {
    App();
    Application().SetParams({Cp932(address)});
    Application().OnException = [this](const std::string& message) { unhandled = message; };
    form = std::make_unique<TForm1>();
    Application().OnException = nullptr;
  }
  std::optional<std::string> unhandled;  // CP932
  std::unique_ptr<TForm1> form;
};

// A 24-bit BMP file (rows stored bottom-up, padded to 4 bytes) whose pixel
// (x, y) is colour(x, y) as {red, green, blue}.
struct Rgb8 {
  std::uint8_t r, g, b;
};
inline std::string Bmp24(int width, int height, const std::function<Rgb8(int, int)>& colour) {
  const int rowBytes = (width * 3 + 3) / 4 * 4;
  const std::uint32_t size = 54 + static_cast<std::uint32_t>(rowBytes * height);
  std::string out;
  auto u16 = [&out](std::uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
  };
  auto u32 = [&](std::uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  out += "BM";
  u32(size);
  u32(0);
  u32(54);
  u32(40);
  u32(static_cast<std::uint32_t>(width));
  u32(static_cast<std::uint32_t>(height));
  u16(1);
  u16(24);
  u32(0);
  u32(static_cast<std::uint32_t>(rowBytes * height));
  u32(2835);
  u32(2835);
  u32(0);
  u32(0);
  for (int y = height - 1; y >= 0; --y) {
    std::string row(static_cast<std::size_t>(rowBytes), '\0');
    for (int x = 0; x < width; ++x) {
      const Rgb8 c = colour(x, y);
      row[static_cast<std::size_t>(3 * x)] = static_cast<char>(c.b);
      row[static_cast<std::size_t>(3 * x + 1)] = static_cast<char>(c.g);
      row[static_cast<std::size_t>(3 * x + 2)] = static_cast<char>(c.r);
    }
    out += row;
  }
  return out;
}

// A decodable width x height colour JPEG whose Exif block (Intel order) is
// filled by `fill`.
inline std::string ExifJpeg(const std::function<void(TiffWriter&)>& fill, int width = 64,
                            int height = 48) {
  TiffWriter tiff(ByteOrder::kIntel);
  fill(tiff);
  JpegRecipe recipe;
  recipe.width = width;
  recipe.height = height;
  recipe.jfif = false;
  JpegOptions options;
  options.body = AfterSoi(MakeJpeg(recipe));
  return JpegWithExif(tiff.Build(), options);
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs `program` with `args` and exactly the environment `envStrings`
// ("NAME=value" entries), and answers its exit code and output.
inline RunResult RunInEnvironment(const std::filesystem::path& program,
                                  const std::vector<std::string>& args,
                                  std::vector<std::string> envStrings) {
  TempDir io;
  const std::string outPath = (io.path() / "out").string();
  const std::string errPath = (io.path() / "err").string();
  std::vector<char*> envp;
  for (std::string& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStrings = {program.string()};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = ::open("/dev/null", O_RDONLY);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  RunResult result;
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
}

// Runs `program` with `args`, this process's environment changed by `env` (an
// empty value removes the variable), and answers its exit code and output.
inline RunResult Run(const std::filesystem::path& program, const std::vector<std::string>& args,
                     const std::vector<std::pair<std::string, std::string>>& env = {}) {
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& [name, value] : env) replaced |= entry.rfind(name + "=", 0) == 0;
    if (!replaced) envStrings.push_back(entry);
  }
  for (const auto& [name, value] : env) {
    if (!value.empty()) envStrings.push_back(name + "=" + value);
  }
  return RunInEnvironment(program, args, std::move(envStrings));
}

// A copy of the program in a folder of its own: its Peloria.ini and temp.jpg
// live there. The cache folder is an empty folder beside it unless a test
// fills it.
class ProgramCopy {
 public:
  ProgramCopy() {
    std::filesystem::copy_file(PELORIA_EXE, Exe());
    // The window and print parts the program loads from its own folder.
    for (const char* part : {PELORIA_WINDOW_LIBRARY, PELORIA_PRINT_LIBRARY}) {
      std::filesystem::copy_file(part, Folder() / std::filesystem::path(part).filename());
    }
    std::filesystem::create_directory(Cache());
  }
  std::filesystem::path Folder() const { return dir_.path() / "prog"; }
  std::filesystem::path Exe() const {
    std::filesystem::create_directories(dir_.path() / "prog");
    return dir_.path() / "prog" / "peloria";
  }
  std::filesystem::path Cache() const { return dir_.path() / "cache"; }
  std::filesystem::path TempJpg() const { return Folder() / "temp.jpg"; }
  void Ini(const std::string& text) const { WriteFile(Folder() / "Peloria.ini", text); }

  RunResult Run(const std::vector<std::string>& args) const {
    return testing::Run(Exe(), args, {{"XDG_CACHE_HOME", Cache().string()}});
  }
  RunResult Print(const std::string& address) const { return Run({"--print", address}); }

 private:
  TempDir dir_;
};

}  // namespace peloria::testing
