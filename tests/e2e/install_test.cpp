// The portable folder that `cmake --install` makes, and its desktop entry as
// a file manager uses it: Exec with a percent-encoded file address.
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "tests/e2e/display.h"
#include "tests/e2e/installation.h"
#include "tests/support/peers.h"
#include "tests/support/temp_dir.h"

namespace peloria::e2e {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using ::testing::HasSubstr;

std::map<std::string, std::string> ReadDesktopEntry(const fs::path& file) {
  std::map<std::string, std::string> keys;
  std::stringstream lines(ReadFile(file).value_or(""));
  std::string line;
  while (std::getline(lines, line)) {
    auto eq = line.find('=');
    if (eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return keys;
}

// "%XX" for every byte outside the unreserved set and "/", as file managers
// write file addresses.
std::string FileUrl(const fs::path& path) {
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

class InstallTest : public ::testing::Test {
 protected:
  // Runs the project's install script into `prefix` with extra -D settings.
  Outcome Install(const fs::path& prefix, const std::vector<std::string>& settings = {}) {
    Command command;
    command.argv = {PELORIA_CMAKE, "-DCMAKE_INSTALL_PREFIX=" + prefix.string()};
    command.argv.insert(command.argv.end(), settings.begin(), settings.end());
    command.argv.push_back("-P");
    command.argv.push_back(std::string(PELORIA_BINARY_DIR) + "/cmake_install.cmake");
    command.env = {"PATH=/usr/local/bin:/usr/bin:/bin"};
    command.cwd = root_.path();
    return RunToEnd(command, milliseconds(120000));
  }

  testing::TempDir root_;
};

TEST_F(InstallTest, PortableFolderWithDesktopEntry) {
  // A folder name with a blank and a quote, as users' folders may have.
  const fs::path prefix = root_.path() / "My \"Photo\" Tools" / "Peloria";
  Outcome o = Install(prefix);
  ASSERT_EQ(o.exitCode, 0) << o.out << o.err;

  const fs::path program = prefix / "peloria";
  EXPECT_EQ(fs::status(program).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  if (fs::exists(PELORIA_SAMPLE_PHOTO)) {
    EXPECT_TRUE(fs::exists(prefix / "sample.jpg"));
  }
  EXPECT_FALSE(fs::exists(prefix / "Peloria.ini")) << "no INI unless one is asked for";

  const fs::path entryFile = prefix / "peloria.desktop";
  auto entry = ReadDesktopEntry(entryFile);
  EXPECT_EQ(entry["Type"], "Application");
  EXPECT_EQ(entry["Name"], "Peloria");
  EXPECT_FALSE(entry["Name[ja]"].empty());
  EXPECT_FALSE(entry["GenericName[ja]"].empty());
  // Inside the quotes a " takes a backslash, which the string level doubles.
  const std::string quoted =
      "\"" + root_.path().string() + "/My \\\\\"Photo\\\\\" Tools/Peloria/peloria\"";
  EXPECT_EQ(entry["Exec"], quoted + " %u");
  EXPECT_EQ(entry["TryExec"], program.string());
  // The icon by its path in the folder; the window's class as the program
  // sets it, for task bars that match windows to entries by it.
  EXPECT_EQ(entry["Icon"], (prefix / "peloria.svg").string());
  EXPECT_TRUE(ReadFile(prefix / "peloria.svg").value_or("").starts_with("<?xml"));
  EXPECT_EQ(entry["StartupWMClass"], "Peloria");
  for (const char* type :
       {"image/jpeg;", "image/bmp;", "image/vnd.microsoft.icon;", "image/x-wmf;", "image/x-emf;"}) {
    EXPECT_THAT(entry["MimeType"], HasSubstr(type));
  }
  const std::string validate = testing::FindProgram("desktop-file-validate");
  EXPECT_FALSE(validate.empty()) << "scripts/deps installs desktop-file-utils";
  if (!validate.empty()) {
    Command check;
    check.argv = {validate, entryFile.string()};
    check.env = {"PATH=/usr/bin:/bin"};
    Outcome v = RunToEnd(check, milliseconds(30000));
    EXPECT_EQ(v.exitCode, 0) << v.out << v.err;
    EXPECT_EQ(v.out + v.err, "") << "the desktop entry has warnings";
  }

  // Opened from a file manager: the program gets a percent-encoded address.
  if (auto photo = ReadFile(PELORIA_SAMPLE_PHOTO)) {
    const fs::path picture = root_.path() / "Urlaub 2024 #1.jpg";
    std::ofstream(picture, std::ios::binary) << *photo;
    Command open;
    open.argv = {program.string(), "--print", FileUrl(picture)};
    fs::create_directory(root_.path() / "runtime");
    fs::permissions(root_.path() / "runtime", fs::perms::owner_all);
    open.env = ChildEnvironment(root_.path(), root_.path() / "cache", root_.path() / "runtime");
    Outcome shown = RunToEnd(open, kProgramTimeout);
    EXPECT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_THAT(shown.out, HasSubstr("機種名"));
    EXPECT_FALSE(fs::exists(prefix / "temp.jpg")) << "a local file is never copied";
  }
}

TEST_F(InstallTest, IniAndApplicationsFolderOnRequest) {
  const fs::path prefix = root_.path() / "Peloria";
  const fs::path applications = root_.path() / "share" / "applications";
  const fs::path ini = root_.path() / "mine.ini";
  const std::string settings = "[internet]\nproxy_server=127.0.0.1\nproxy_port=3128\n";
  std::ofstream(ini) << settings;

  Outcome o = Install(prefix, {"-DPELORIA_INI=" + ini.string(),
                               "-DPELORIA_APPLICATIONS_DIR=" + applications.string()});
  ASSERT_EQ(o.exitCode, 0) << o.out << o.err;

  EXPECT_EQ(ReadFile(prefix / "Peloria.ini"), settings);
  EXPECT_EQ(ReadFile(applications / "peloria.desktop"), ReadFile(prefix / "peloria.desktop"));
  EXPECT_EQ(ReadDesktopEntry(applications / "peloria.desktop")["Exec"],
            "\"" + (prefix / "peloria").string() + "\" %u");

  Outcome missing = Install(root_.path() / "Other", {"-DPELORIA_INI=/nonexistent/Peloria.ini"});
  EXPECT_NE(missing.exitCode, 0);
  EXPECT_THAT(missing.err, HasSubstr("PELORIA_INI"));
}

}  // namespace
}  // namespace peloria::e2e
