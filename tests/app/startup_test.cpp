// The start-up sequence: cache names, the cache search, local addresses,
// the configuration and the download step, on the window in this process
// and on copies of the program in folders of their own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "tests/app/app_support.h"
#include "tests/app/sample_photo.h"
#include "tests/support/peers.h"

namespace peloria::testing {
namespace {

namespace fs = std::filesystem;

TEST(StartupTest, CacheName) {
  struct Row {
    const char* address;
    const char* cacheName;
  } rows[] = {
      {"http://h/d/IMG_0001.JPG", "IMG_0001[1].JPG"},
      {"http://h/a.b.jpg", "a.b[1].jpg"},
      {"http://h/image", "[1].image"},
      {"http://h/", "[1]."},
      {"", "[1]."},
      {"http://h/p.jpg?s=1.5", "p.jpg?s=1[1].5"},
      {"http://h/.jpg", "[1].jpg"},
      {"noslash.png", "noslash[1].png"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(TForm1::cachename(row.address), row.cacheName) << row.address;
  }
  EXPECT_EQ(TForm1::lastpos("/", "a/b/c"), 4);
  EXPECT_EQ(TForm1::lastpos("ab", "abab"), 3);
  EXPECT_EQ(TForm1::lastpos("x", "abc"), 0);
  EXPECT_EQ(TForm1::reverse("abc"), "cba");
}

// A form whose start-up ended early (file:/// alone), for calling findfile.
TForm1& Searcher() {
  static Window window("file:///");
  return *window.form;
}

TEST(StartupTest, FindFileDepthFirstCaseFolded) {
  TempDir cache;
  fs::create_directories(cache.path() / "x" / "y");
  // A directory of the wanted name is never a match; its contents are searched.
  fs::create_directories(cache.path() / "img_0001[1].jpg");
  WriteFile(cache.path() / "x" / "y" / "IMG_0001[1].jpg", "");
  std::string result = "stale";
  Searcher().findfile("img_0001[1].JPG", cache.cp932(), result);
  EXPECT_EQ(result, cache.cp932() + "/x/y/IMG_0001[1].jpg");

  // A trailing delimiter is not doubled.
  Searcher().findfile("img_0001[1].JPG", cache.cp932() + "/", result);
  EXPECT_EQ(result, cache.cp932() + "/x/y/IMG_0001[1].jpg");

  Searcher().findfile("other[1].jpg", cache.cp932(), result);
  EXPECT_EQ(result, "");
  // No cache folder: nothing is searched.
  Searcher().findfile("IMG_0001[1].jpg", "", result);
  EXPECT_EQ(result, "");
}

TEST(StartupTest, FindFileFirstMatchInEnumerationOrder) {
  TempDir cache;
  for (const char* sub : {"a", "b", "c"}) {
    fs::create_directories(cache.path() / sub);
    WriteFile(cache.path() / sub / "P[1].jpg", sub);
  }
  // The first folder that the directory listing gives.
  std::string first;
  for (const fs::directory_entry& e : fs::directory_iterator(cache.path())) {
    first = e.path().filename().string();
    break;
  }
  std::string result;
  Searcher().findfile("p[1].jpg", cache.cp932(), result);
  EXPECT_EQ(result, cache.cp932() + "/" + first + "/P[1].jpg");
}

TEST(StartupTest, FindFileEndsOnLinkLoops) {
  TempDir cache;
  fs::create_directories(cache.path() / "a");
  fs::create_directory_symlink("..", cache.path() / "a" / "up");
  fs::create_directory_symlink(cache.path(), cache.path() / "a" / "self");
  std::string result;
  Searcher().findfile("p[1].jpg", cache.cp932(), result);
  EXPECT_EQ(result, "");
  // A link is compared like a file.
  fs::create_symlink("/nonexistent", cache.path() / "a" / "P[1].jpg");
  Searcher().findfile("p[1].jpg", cache.cp932(), result);
  EXPECT_EQ(result, cache.cp932() + "/a/P[1].jpg");
}

TEST(StartupTest, FindFilePassesOverFifosAndDevices) {
  TempDir cache;
  fs::create_directories(cache.path() / "a");
  fs::create_directories(cache.path() / "z");
  ASSERT_EQ(::mkfifo((cache.path() / "a" / "P[1].jpg").c_str(), 0600), 0);
  fs::create_symlink("/dev/null", cache.path() / "P[1].jpg");
  WriteFile(cache.path() / "z" / "p[1].JPG", "picture");
  std::string result;
  Searcher().findfile("p[1].jpg", cache.cp932(), result);
  EXPECT_EQ(result, cache.cp932() + "/z/p[1].JPG");
}

TEST(StartupTest, LocalAddresses) {
  TempDir dir;
  JpegRecipe wide;
  wide.width = 40;
  wide.height = 30;
  JpegRecipe tall;
  tall.width = 30;
  tall.height = 40;
  WriteJpegFile(dir.path() / "a%201.jpg", wide);
  WriteJpegFile(dir.path() / "a 1.jpg", tall);
  const std::string address = FileUrl(dir.path() / "a%201.jpg");
  {
    // An existing literal path wins.
    Window w(address);
    ASSERT_FALSE(w.form->Failed());
    EXPECT_EQ(w.form->Image1.Picture().Width(), 40);
  }
  fs::remove(dir.path() / "a%201.jpg");
  {
    Window w(address);
    ASSERT_FALSE(w.form->Failed());
    EXPECT_EQ(w.form->Image1.Picture().Width(), 30);
  }
  // Each failure keeps the failure display; the label's tooltip and the
  // report name the cause (here the file that cannot be opened) and the
  // tooltip the address. A %00 names no file: the path is not cut there.
  WriteJpegFile(dir.path() / "b.jpg", wide);
  const auto cannotOpen = [](const std::string& address) {
    return Cp932("ファイル " + address.substr(7) + " は開けません");
  };
  const std::string noFormat = Cp932("拡張子 . の画像形式は処理できません");
  struct Row {
    std::string address;
    std::string cause;
  };
  const std::string none = FileUrl(dir.path() / "none.jpg");
  const std::string escape = FileUrl(dir.path() / "a%2.jpg");
  const std::string zero = FileUrl(dir.path() / "b.jpg") + "%00.jpg";
  for (const Row& row :
       {Row{"file:///", noFormat}, Row{FileUrl(dir.path()), noFormat}, Row{none, cannotOpen(none)},
        Row{escape, cannotOpen(escape)}, Row{zero, cannotOpen(zero)}}) {
    SCOPED_TRACE(row.address);
    Window w(row.address);
    EXPECT_TRUE(w.form->Failed());
    EXPECT_FALSE(w.unhandled.has_value());
    EXPECT_EQ(w.form->bmp, nullptr);
    const std::string& cause = row.cause;
    EXPECT_EQ(w.form->Label1.Caption(), Cp932("データの取得に失敗しました"));
    EXPECT_EQ(w.form->Label1.Hint(), cause + "\n" + row.address);
    EXPECT_EQ(w.form->FailureReport(), Cp932("データの取得に失敗しました (") + cause + ")");
  }
}

// A peer that answers every request with `status` and `body`.
PeerScript Reply(const std::string& status, const std::string& body,
                 const std::string& type = "image/jpeg") {
  return PeerScript()
      .ReadRequest()
      .Send("HTTP/1.1 " + status + "\r\nContent-Type: " + type +
            "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body)
      .Close();
}

std::string Sample() {
  return ReadFile(PELORIA_SAMPLE);
}

// What --print writes to standard error for the failure display: one line
// with the cause in parentheses.
::testing::Matcher<std::string> FailureText(const std::string& address) {
  return ::testing::AllOf(
      ::testing::StartsWith("peloria: " + address + ": データの取得に失敗しました ("),
      ::testing::EndsWith(")\n"), ::testing::Not(::testing::HasSubstr(")\n(")));
}

TEST(StartupTest, CacheSearchOnlyWithLocalFileOne) {
  ProgramCopy program;
  fs::create_directories(program.Cache() / "Content" / "AB12");
  WriteFile(program.Cache() / "Content" / "AB12" / "IMG_0001[1].jpg", Sample());
  const std::string address = "http://127.0.0.1:1/photos/img_0001.JPG";
  struct Row {
    std::string setting;  // the [Setting] section's lines
    bool searched;
  } rows[] = {
      {"local_file=1", true},
      // Only the first 2047 bytes of a value count: 2046 zeros and a 1.
      {"local_file=" + std::string(2046, '0') + "1x", true},
      {"local_file=4294967297", false},
      {"  LOCAL_FILE = \"1\"  ", true},
      {"local_file=0x1", true},
      {"local_file=0", false},
      {"", false},
      {"local_file=abc", false},
      {"local_file=2", false},
      {"local_file=1abc", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.setting);
    ScriptedPeer proxy(Reply("404 Not Found", "gone", "text/plain"));
    program.Ini("[internet]\nproxy_server=127.0.0.1\nproxy_port=" + std::to_string(proxy.Port()) +
                "\n[setting]\n" + row.setting + "\n");
    WriteFile(program.TempJpg(), "keep");
    const RunResult run = program.Print(address);
    if (row.searched) {
      EXPECT_EQ(run.exitCode, 0) << run.err;
      EXPECT_EQ(run.out, SampleSummary());
      EXPECT_EQ(ReadFile(program.TempJpg()), "keep");
      EXPECT_EQ(proxy.Accepted(), 0u);
    } else {
      EXPECT_EQ(run.exitCode, 1);
      EXPECT_THAT(run.err, FailureText(address));
      EXPECT_EQ(ReadFile(program.TempJpg()), "gone");
      EXPECT_EQ(proxy.Accepted(), 1u);
    }
  }
}

TEST(StartupTest, LauncherPaths) {
  // A launcher's "%u" may hand over a plain path: an existing regular file
  // is opened where it is, with no cache search and no download, even when
  // the cache holds a copy under the same name. Everything else is an
  // address as before.
  ProgramCopy program;
  TempDir dir;
  const fs::path photo = dir.path() / "Urlaub 2024 #1%20a.jpg";
  WriteFile(photo, Sample());
  fs::create_directories(program.Cache() / "c");
  WriteJpegFile(program.Cache() / "c" / "Urlaub 2024 #1%20a[1].jpg", JpegRecipe{});
  fs::create_directories(dir.path() / "http:");
  WriteFile(dir.path() / "http:" / "x.jpg", Sample());

  enum class Road { kFile, kCache, kDownload };
  struct Row {
    std::string argument;
    Road road;
  } rows[] = {
      {photo.string(), Road::kFile},
      {(dir.path() / "none.jpg").string(), Road::kDownload},
      {dir.path().string(), Road::kDownload},  // a folder
      {(dir.path() / "http://x.jpg").string(), Road::kDownload},
      // Relative, naming no file in the current folder: an address.
      {photo.filename().string(), Road::kCache},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.argument);
    ScriptedPeer proxy(Reply("404 Not Found", "gone", "text/plain"));
    program.Ini("[internet]\nproxy_server=127.0.0.1\nproxy_port=" + std::to_string(proxy.Port()) +
                "\n[Setting]\nlocal_file=1\n");
    fs::remove(program.TempJpg());
    const RunResult run = program.Print(row.argument);
    EXPECT_EQ(proxy.Accepted(), row.road == Road::kDownload ? 1u : 0u);
    switch (row.road) {
      case Road::kFile:
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, SampleSummary());
        EXPECT_FALSE(fs::exists(program.TempJpg()));
        break;
      case Road::kCache:
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "Exif情報はありません。");
        EXPECT_FALSE(fs::exists(program.TempJpg()));
        break;
      case Road::kDownload:
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_THAT(run.err, FailureText(row.argument));
        EXPECT_EQ(ReadFile(program.TempJpg()), "gone");
        break;
    }
  }
}

TEST(StartupTest, DownloadDirectAndThroughProxy) {
  ProgramCopy program;
  {
    ScriptedPeer server(Reply("200 OK", Sample()));
    const std::string address =
        "http://127.0.0.1:" + std::to_string(server.Port()) + "/d/photo.jpg";
    const RunResult run = program.Print(address);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, SampleSummary());
    EXPECT_EQ(ReadFile(program.TempJpg()), Sample());
    const std::string request = server.Received();
    EXPECT_EQ(request.rfind("GET /d/photo.jpg HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("\r\nReferer: " + address + "\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nUser-Agent: Peloria\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nAccept: text/html, */*\r\n"), std::string::npos) << request;
  }
  {
    // The proxy's port as hex, in quotes and blanks; the proxy is asked for
    // the whole address, even one in capitals that is no local address.
    ScriptedPeer proxy(Reply("200 OK", Sample()));
    char port[16];
    std::snprintf(port, sizeof port, "0x%X", proxy.Port());
    program.Ini(std::string("[internet]\nproxy_server = 127.0.0.1\nproxy_port = ' ") + port +
                "'\n");
    const RunResult run = program.Print("FILE:///photo.jpg");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(proxy.Received().rfind("GET FILE:///photo.jpg HTTP/1.1\r\n", 0), 0u)
        << proxy.Received();
  }
}

TEST(StartupTest, DownloadFailures) {
  ProgramCopy program;
  {
    // Without an address: an empty temp.jpg and the failure display.
    WriteFile(program.TempJpg(), "old contents");
    const RunResult run = program.Print("");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, FailureText(""));
    EXPECT_EQ(ReadFile(program.TempJpg()), "");
  }
  {
    // A server answering HTML: the body is kept, decoding it fails.
    ScriptedPeer server(Reply("200 OK", "<html>hello</html>", "text/html"));
    const RunResult run =
        program.Print("http://127.0.0.1:" + std::to_string(server.Port()) + "/x.jpg");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(ReadFile(program.TempJpg()), "<html>hello</html>");
  }
  {
    // A proxy without a port goes to port 0 and fails; so does "8080abc".
    for (const char* port : {"", "proxy_port=8080abc\n"}) {
      program.Ini(std::string("[internet]\nproxy_server=127.0.0.1\n") + port);
      const RunResult run = program.Print("http://127.0.0.1:1/x.jpg");
      EXPECT_EQ(run.exitCode, 1) << port;
      EXPECT_THAT(run.err, FailureText("http://127.0.0.1:1/x.jpg"));
    }
    fs::remove(program.Folder() / "Peloria.ini");
  }
  {
    // A refused connection: the socket error's two lines make one line of
    // the report, without a carriage return reaching the terminal.
    const RunResult run = program.Print("http://127.0.0.1:1/x.jpg");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, ::testing::HasSubstr("Connection refused"));
    EXPECT_EQ(run.err.find('\r'), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  {
    // A server's reason phrase with terminal controls reaches the failure
    // line escaped; the controls never reach the terminal.
    ScriptedPeer server(Reply("404 \x1B]0;owned\x07\x1B[2J<h1>", "x"));
    const std::string address = "http://127.0.0.1:" + std::to_string(server.Port()) + "/x.jpg";
    const RunResult run = program.Print(address);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "peloria: " + address +
                           ": データの取得に失敗しました (404 \\x1b]0;owned\\x07\\x1b[2J<h1>)\n");
  }
  {
    // An address of 100 000 bytes.
    const RunResult run = program.Print("http://127.0.0.1:1/" + std::string(100000, 'a'));
    EXPECT_EQ(run.exitCode, 1);
  }
  {
    // temp.jpg cannot be created: the general error display's message.
    fs::remove(program.TempJpg());
    fs::create_directory(program.TempJpg());
    const RunResult run = program.Print("http://127.0.0.1:1/x.jpg");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "peloria: http://127.0.0.1:1/x.jpg: ファイル " + program.TempJpg().string() +
                           " を作成できません\n");
    EXPECT_EQ(run.out, "");
  }
}

}  // namespace
}  // namespace peloria::testing
