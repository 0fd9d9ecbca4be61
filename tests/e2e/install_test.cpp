// Installing Peloria: the portable folder that `cmake --install` makes, its
// desktop entry as a file manager and the launchers use it, and the Debian
// package.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "tests/e2e/display.h"
#include "tests/e2e/installation.h"
#include "tests/support/peers.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace peloria::e2e {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using ::testing::HasSubstr;
using ::testing::Not;

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
  // A blank needs quotes; inside them a " takes a backslash, which the string
  // level doubles.
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
       {"image/jpeg;", "image/bmp;", "image/vnd.microsoft.icon;", "image/png;", "image/webp;",
        "image/heic;", "image/avif;", "image/tiff;", "image/gif;"}) {
    EXPECT_THAT(entry["MimeType"], HasSubstr(type));
  }
  // Metafiles cannot be shown, so the entry does not offer to open them.
  EXPECT_THAT(entry["MimeType"], Not(HasSubstr("wmf")));
  EXPECT_THAT(entry["MimeType"], Not(HasSubstr("emf")));
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

  // The browser extension's host beside the program and the unpacked
  // extension, which `peloria-host --register` makes known to the browsers.
  EXPECT_EQ(fs::status(prefix / "peloria-host").permissions() & fs::perms::owner_exec,
            fs::perms::owner_exec);
  for (const char* file : {"manifest.json", "background.js", "_locales/ja/messages.json",
                           "_locales/en/messages.json", "icons/peloria-48.png"}) {
    EXPECT_TRUE(fs::exists(prefix / "browser-extension" / file)) << file;
  }
  {
    Command registering;
    registering.argv = {(prefix / "peloria-host").string(), "--register"};
    registering.env = {"PATH=/usr/bin:/bin", "HOME=" + root_.path().string()};
    Outcome registered = RunToEnd(registering, milliseconds(30000));
    EXPECT_EQ(registered.exitCode, 0) << registered.err;
    const std::string manifest =
        ReadFile(root_.path() / ".mozilla/native-messaging-hosts/peloria.json").value_or("");
    // The path as a JSON string: the folder's quotes escaped.
    std::string path;
    for (const char c : (prefix / "peloria-host").string()) {
      if (c == '"') path += '\\';
      path += c;
    }
    EXPECT_THAT(manifest, HasSubstr("\"path\": \"" + path + "\""));
  }

  // Opened from a file manager: the program gets a percent-encoded address.
  if (auto photo = ReadFile(PELORIA_SAMPLE_PHOTO)) {
    const fs::path picture = root_.path() / "Urlaub 2024 #1.jpg";
    std::ofstream(picture, std::ios::binary) << *photo;
    Command open;
    open.argv = {program.string(), "--print", PercentEncodedFileUrl(picture)};
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
  // A path without reserved characters stays unquoted.
  EXPECT_EQ(ReadDesktopEntry(applications / "peloria.desktop")["Exec"],
            (prefix / "peloria").string() + " %u");

  Outcome missing = Install(root_.path() / "Other", {"-DPELORIA_INI=/nonexistent/Peloria.ini"});
  EXPECT_NE(missing.exitCode, 0);
  EXPECT_THAT(missing.err, HasSubstr("PELORIA_INI"));
}

// The lines of `text`.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Waits until `holds` or the deadline, asking the display every 100 ms;
// answers whether it held.
bool WaitFor(const std::function<bool()>& holds, milliseconds timeout) {
  return testing::WaitUntil(holds, timeout, milliseconds(100));
}

// The desktop entry as launchers on a desktop without a full environment
// start it: xdg-open's generic fallback (no XDG_CURRENT_DESKTOP), which
// splits Exec at blanks, on a plain path; and gio open, on a path that needs
// quotes. Both find the entry through the user's mimeapps.list.
TEST_F(InstallTest, LaunchersStartTheDesktopEntry) {
  for (const char* tool : {"Xvfb", "xdotool", "xdg-open", "gio", "file"}) {
    if (testing::FindProgram(tool).empty()) GTEST_SKIP() << tool << " is not installed";
  }
  if (!fs::exists(PELORIA_SAMPLE_PHOTO)) GTEST_SKIP() << "the build made no sample photo";
  XDisplay display(root_.path() / "xvfb.log");
  const fs::path photo = root_.path() / "photo.jpg";
  fs::copy_file(PELORIA_SAMPLE_PHOTO, photo);
  const fs::path runtime = root_.path() / "runtime";
  fs::create_directory(runtime);
  fs::permissions(runtime, fs::perms::owner_all);

  struct Launcher {
    std::vector<std::string> argv;
    fs::path prefix;
  };
  for (const Launcher& launcher :
       {Launcher{{testing::FindProgram("xdg-open"), photo.string()}, root_.path() / "Plain"},
        Launcher{{testing::FindProgram("gio"), "open", photo.string()},
                 root_.path() / "With Blank"}}) {
    SCOPED_TRACE(launcher.argv.front());
    const fs::path data = launcher.prefix / "data";
    const fs::path config = launcher.prefix / "config";
    Outcome installed = Install(launcher.prefix / "Peloria",
                                {"-DPELORIA_APPLICATIONS_DIR=" + (data / "applications").string()});
    ASSERT_EQ(installed.exitCode, 0) << installed.out << installed.err;
    fs::create_directories(config);
    std::ofstream(config / "mimeapps.list")
        << "[Default Applications]\nimage/jpeg=peloria.desktop\n";

    Command open;
    open.argv = launcher.argv;
    open.env = ChildEnvironment(launcher.prefix, launcher.prefix / "cache", runtime);
    for (const std::string& variable :
         {"DISPLAY=" + display.name(), "XDG_DATA_HOME=" + data.string(),
          "XDG_CONFIG_HOME=" + config.string(), std::string("XDG_DATA_DIRS=/usr/share"),
          std::string("XDG_CONFIG_DIRS=/etc/xdg"), std::string("GIO_USE_VFS=local"),
          std::string("QT_QPA_PLATFORM=xcb")}) {
      open.env.push_back(variable);
    }
    Process process(open, launcher.prefix / "launcher.log");

    std::vector<std::string> windows;
    ASSERT_TRUE(WaitFor([&] { return !(windows = display.WindowsOfClass("Peloria")).empty(); },
                        milliseconds(kProgramTimeout)))
        << "no window; launcher said: " << ReadFile(launcher.prefix / "launcher.log").value_or("");
    const std::string window = windows.front();
    EXPECT_TRUE(WaitFor([&] { return !display.Title(window).empty(); }, milliseconds(10000)));
    EXPECT_EQ(display.Title(window), "Peloria　 画像クリックでヒストグラム表示")
        << "the picture was not shown";
    display.Key(window, "Escape");
    EXPECT_TRUE(WaitFor([&] { return display.WindowsOfClass("Peloria").empty(); },
                        milliseconds(kProgramTimeout)))
        << "the program did not end";
  }
}

// The Debian package: its files, its dependencies (dpkg-shlibdeps, plus the
// SVG plugin), lintian without errors, and the program installed from it
// into a scratch root, run from a folder the user cannot write.
TEST_F(InstallTest, DebianPackage) {
  for (const char* tool : {"cpack", "dpkg-deb", "dpkg-shlibdeps"}) {
    if (testing::FindProgram(tool).empty() &&
        !fs::exists(fs::path(PELORIA_CMAKE).parent_path() / tool)) {
      GTEST_SKIP() << tool << " is not installed (scripts/deps installs it)";
    }
  }
  const auto run = [this](std::vector<std::string> argv,
                          milliseconds timeout = milliseconds(60000)) {
    Command command;
    command.argv = std::move(argv);
    command.env = {"PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin", "LANG=C.UTF-8",
                   "HOME=" + root_.path().string()};
    command.cwd = root_.path();
    return RunToEnd(command, timeout);
  };
  const fs::path cpack = fs::path(PELORIA_CMAKE).parent_path() / "cpack";
  const std::string dpkgDeb = testing::FindProgram("dpkg-deb");
  const fs::path out = root_.path() / "package";
  Outcome made = run({cpack.string(), "--config",
                      std::string(PELORIA_BINARY_DIR) + "/CPackConfig.cmake", "-B", out.string()},
                     milliseconds(300000));
  ASSERT_EQ(made.exitCode, 0) << made.out << made.err;
  fs::path deb;
  for (const auto& entry : fs::directory_iterator(out)) {
    if (entry.path().extension() == ".deb") deb = entry.path();
  }
  ASSERT_FALSE(deb.empty()) << made.out;
  EXPECT_THAT(deb.filename().string(), ::testing::StartsWith("peloria_"));

  Outcome fields = run({dpkgDeb, "-f", deb.string(), "Package", "Section", "Depends"});
  ASSERT_EQ(fields.exitCode, 0) << fields.err;
  EXPECT_THAT(fields.out, HasSubstr("Package: peloria\n"));
  EXPECT_THAT(fields.out, HasSubstr("Section: graphics\n"));
  for (const char* library : {"libc6", "libqt6widgets6", "libjpeg62-turbo", "libqt6svg6"}) {
    EXPECT_THAT(fields.out, HasSubstr(library));
  }

  Outcome contents = run({dpkgDeb, "-c", deb.string()});
  ASSERT_EQ(contents.exitCode, 0) << contents.err;
  for (const char* file :
       {"./usr/bin/peloria", "./usr/lib/peloria/libpeloria-window.so",
        "./usr/lib/peloria/libpeloria-print.so", "./usr/share/applications/peloria.desktop",
        "./usr/share/icons/hicolor/scalable/apps/peloria.svg", "./usr/share/doc/peloria/copyright",
        "./usr/share/doc/peloria/changelog.gz", "./usr/share/man/man1/peloria.1.gz",
        "./usr/share/metainfo/example.peloria.Peloria.metainfo.xml",
        "./usr/lib/peloria/peloria-host", "./usr/lib/mozilla/native-messaging-hosts/peloria.json",
        "./etc/chromium/native-messaging-hosts/peloria.json",
        "./etc/opt/chrome/native-messaging-hosts/peloria.json",
        "./usr/share/chromium/extensions/peloria/manifest.json",
        "./usr/share/chromium/extensions/peloria/_locales/ja/messages.json",
        "./usr/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/"
        "peloria@peloria.example/manifest.json",
        "./usr/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/"
        "peloria@peloria.example/background.js"}) {
    EXPECT_THAT(contents.out, HasSubstr(std::string(file) + "\n"));
  }
  EXPECT_THAT(contents.out, ::testing::Not(HasSubstr("sample.jpg")));
  EXPECT_THAT(contents.out, ::testing::Not(HasSubstr("_CPack_Packages")));

  // The sanitizer build's program carries the sanitizer runtime; the
  // package's policy checks are for the regular build.
  const std::string lintian = PELORIA_SANITIZED ? "" : testing::FindProgram("lintian");
  if (!lintian.empty()) {
    Outcome checked =
        run({lintian, "--tag-display-limit", "0", deb.string()}, milliseconds(300000));
    for (const std::string& line : Lines(checked.out + checked.err)) {
      EXPECT_THAT(line, ::testing::Not(::testing::StartsWith("E:")));
      EXPECT_THAT(line, Not(HasSubstr("no-manual-page")));
      EXPECT_THAT(line, Not(HasSubstr("timestamped-gzip")));
      EXPECT_THAT(line, Not(HasSubstr("not-marked-as-conffile")));
    }
  }

  // Installed into a scratch root: owned by root and read-only for the user
  // who runs it, as under /usr.
  const fs::path sysroot = root_.path() / "sysroot";
  ASSERT_EQ(run({dpkgDeb, "-x", deb.string(), sysroot.string()}).exitCode, 0);
  fs::permissions(root_.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
  // The host manifests name the installed host and the extension's IDs.
  const std::string firefox =
      ReadFile(sysroot / "usr/lib/mozilla/native-messaging-hosts/peloria.json").value_or("");
  EXPECT_THAT(firefox, HasSubstr("\"path\": \"/usr/lib/peloria/peloria-host\""));
  EXPECT_THAT(firefox, HasSubstr("\"allowed_extensions\": [\"peloria@peloria.example\"]"));
  for (const char* chromium : {"etc/chromium/native-messaging-hosts/peloria.json",
                               "etc/opt/chrome/native-messaging-hosts/peloria.json"}) {
    const std::string manifest = ReadFile(sysroot / chromium).value_or("");
    EXPECT_THAT(manifest, HasSubstr("\"path\": \"/usr/lib/peloria/peloria-host\""));
    EXPECT_THAT(manifest, HasSubstr("\"allowed_origins\": "
                                    "[\"chrome-extension://cfdnmcgoklljnapnmbicldpcldpacnhp/\"]"));
  }
  Outcome conffiles = run({dpkgDeb, "-I", deb.string(), "conffiles"});
  EXPECT_EQ(conffiles.out,
            "/etc/chromium/native-messaging-hosts/peloria.json\n"
            "/etc/opt/chrome/native-messaging-hosts/peloria.json\n");
  if (const std::string appstream = testing::FindProgram("appstreamcli"); !appstream.empty()) {
    Outcome valid =
        run({appstream, "validate", "--no-net",
             (sysroot / "usr/share/metainfo/example.peloria.Peloria.metainfo.xml").string()});
    EXPECT_EQ(valid.exitCode, 0) << valid.out << valid.err;
  } else {
    ADD_FAILURE() << "scripts/deps installs appstream";
  }

  const fs::path entry = sysroot / "usr/share/applications/peloria.desktop";
  auto keys = ReadDesktopEntry(entry);
  EXPECT_EQ(keys["Exec"], "/usr/bin/peloria %u");
  EXPECT_EQ(keys["TryExec"], "/usr/bin/peloria");
  EXPECT_EQ(keys["Icon"], "peloria");
  if (const std::string validate = testing::FindProgram("desktop-file-validate");
      !validate.empty()) {
    Outcome v = run({validate, entry.string()});
    EXPECT_EQ(v.exitCode, 0) << v.out << v.err;
  }

  auto photo = ReadFile(PELORIA_SAMPLE_PHOTO);
  if (!photo) return;
  testing::PeerScript reply;
  reply.ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(photo->size()) +
                           "\r\nConnection: close\r\n\r\n" + *photo);
  testing::ScriptedPeer server(reply);
  const fs::path home = root_.path() / "home";
  const fs::path runtime = root_.path() / "runtime";
  fs::create_directories(home);
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  const bool asNobody = RunningAsRoot();
  if (asNobody) {
    ASSERT_EQ(::chown(home.c_str(), NobodyUid(), NobodyGid()), 0);
    ASSERT_EQ(::chown(runtime.c_str(), NobodyUid(), NobodyGid()), 0);
  } else {
    fs::permissions(sysroot / "usr/bin", fs::perms::owner_write, fs::perm_options::remove);
  }
  Command print;
  print.argv = {(sysroot / "usr/bin/peloria").string(), "--print",
                "http://127.0.0.1:" + std::to_string(server.Port()) + "/photo.jpg"};
  print.env = ChildEnvironment(home, home / ".cache", runtime);
  print.asNobody = asNobody;
  Outcome shown = RunToEnd(print, kProgramTimeout);
  if (!asNobody)
    fs::permissions(sysroot / "usr/bin", fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(shown.exitCode, 0) << shown.out << shown.err;
  EXPECT_THAT(shown.out, HasSubstr("機種名"));
  EXPECT_FALSE(fs::exists(sysroot / "usr/bin/temp.jpg"));
  EXPECT_EQ(ReadFile(home / ".cache/peloria/temp.jpg"), photo);
}

}  // namespace
}  // namespace peloria::e2e
