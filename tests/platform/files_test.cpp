#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <optional>
#include <set>

#include "platform/cp932.h"
#include "platform/exception.h"
#include "platform/stream.h"
#include "tests/support/scoped_environment.h"

namespace peloria {
namespace {

namespace fs = std::filesystem;

std::string ReadBack(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "peloria-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }
  std::string cp932() const { return Cp932(path_.string()); }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path_ / name, std::ios::binary) << bytes;
  }

 private:
  fs::path path_;
};

TEST(IniTest, ValuesSectionsAndTrimming) {
  TempDir dir;
  dir.Write("p.ini",
            "; comment\n"
            "[Internet]\r\n"
            "  Proxy_Server =  \"proxy.local\"  \r\n"
            "proxy_port=0x1F90\n"
            "proxy_port=1\n"
            "quoted='a b'\n"
            "[setting]\n"
            "LOCAL_FILE= 1\n"
            "long=" +
                std::string(3000, 'v') + "\n");
  std::string ini = dir.cp932() + "/p.ini";
  EXPECT_EQ(GetPrivateProfileString("internet", "proxy_server", "", ini), "proxy.local");
  EXPECT_EQ(GetPrivateProfileString("internet", "proxy_port", "", ini), "0x1F90");  // first wins
  EXPECT_EQ(GetPrivateProfileString("internet", "quoted", "", ini), "a b");
  EXPECT_EQ(GetPrivateProfileString("Setting", "local_file", "0", ini), "1");
  EXPECT_EQ(GetPrivateProfileString("Setting", "long", "", ini), std::string(2047, 'v'));
  EXPECT_EQ(GetPrivateProfileString("Setting", "proxy_server", "dflt", ini), "dflt");
  EXPECT_EQ(GetPrivateProfileString("nope", "x", "dflt", ini), "dflt");
  EXPECT_EQ(GetPrivateProfileString("internet", "x", "dflt", dir.cp932() + "/missing.ini"), "dflt");
}

TEST(FolderEnumeratorTest, ListsEntriesWithDotsAndKinds) {
  TempDir dir;
  dir.Write("a.jpg", "x");
  fs::create_directory(dir.path() / "sub");
  fs::create_directory_symlink(dir.path(), dir.path() / "loop");
  std::set<std::pair<std::string, bool>> seen;
  FolderEnumerator e(dir.cp932());
  FolderEnumerator::Entry entry;
  while (e.Next(entry)) seen.insert({entry.name, entry.isDirectory});
  std::set<std::pair<std::string, bool>> expected = {
      {".", true}, {"..", true}, {"a.jpg", false}, {"sub", true}, {"loop", false}};
  EXPECT_EQ(seen, expected);
  FolderEnumerator missing(dir.cp932() + "/none");
  EXPECT_FALSE(missing.Next(entry));
}

TEST(SpecialFolderTest, CacheFolderFollowsTheEnvironment) {
  const char* old = std::getenv("XDG_CACHE_HOME");
  std::string saved = old ? old : "";
  ::setenv("XDG_CACHE_HOME", "/tmp/cache-here", 1);
  EXPECT_EQ(SpecialFolderPath(kCsidlInternetCache), "/tmp/cache-here");
  ::unsetenv("XDG_CACHE_HOME");
  std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  if (!home.empty()) {
    EXPECT_EQ(SpecialFolderPath(32), Cp932(home + "/.cache"));
  }
  EXPECT_EQ(SpecialFolderPath(5), "");
  if (old) ::setenv("XDG_CACHE_HOME", saved.c_str(), 1);
}

TEST(PathTest, ProgramFolderAndPercentDecoding) {
  std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_TRUE(FileExists(folder + "platform_tests"));
  EXPECT_FALSE(FileExists(folder));
  EXPECT_EQ(PercentDecodedPath("/a%201.jpg"), std::optional<std::string>("/a 1.jpg"));
  // Escapes become the bytes they stand for, unconverted.
  EXPECT_EQ(PercentDecodedPath("/%E7%A7%92"), std::optional<std::string>("/秒"));
  EXPECT_EQ(PercentDecodedPath("/caf%E9"), std::optional<std::string>("/caf\xE9"));
  EXPECT_EQ(PercentDecodedPath("/a%00.jpg"),
            std::optional<std::string>(std::string("/a\0.jpg", 7)));
  EXPECT_EQ(PercentDecodedPath("/a%2.jpg"), std::nullopt);
  EXPECT_EQ(PercentDecodedPath("/plain"), std::nullopt);
}

TEST(FileStreamTest, CreateWriteReadAndLocks) {
  TempDir dir;
  std::string path = dir.cp932() + "/t.bin";
  {
    TFileStream out(path, TFileStream::Mode::kCreateExclusive);
    out.WriteBuffer("hello world", 11);
    out.SetSize(5);
    EXPECT_EQ(out.Size(), 5);
    EXPECT_EQ(out.Position(), 5);
    // A second exclusive holder and a reader are both refused while it is open.
    EXPECT_THROW(TFileStream(path, TFileStream::Mode::kCreateExclusive), EFCreateError);
    EXPECT_THROW(TFileStream(path, TFileStream::Mode::kOpenReadDenyWrite), EFOpenError);
  }
  TFileStream in(path, TFileStream::Mode::kOpenReadDenyWrite);
  char buf[8] = {};
  in.ReadBuffer(buf, 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  EXPECT_THROW(in.ReadBuffer(buf, 1), EReadError);
  in.Seek(100);
  EXPECT_EQ(in.Read(buf, 1), 0);
  // Readers share; a writer is refused while they read.
  TFileStream second(path, TFileStream::Mode::kOpenReadDenyWrite);
  EXPECT_THROW(TFileStream(path, TFileStream::Mode::kCreateExclusive), EFCreateError);
}

TEST(FileStreamTest, FailureMessagesNameThePath) {
  TempDir dir;
  std::string missing = dir.cp932() + "/nope.jpg";
  try {
    TFileStream s(missing, TFileStream::Mode::kOpenReadDenyWrite);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), Cp932("ファイル ") + missing + Cp932(" は開けません"));
  }
  std::string bad = dir.cp932() + "/no/such/folder/temp.jpg";
  try {
    TFileStream s(bad, TFileStream::Mode::kCreateExclusive);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), Cp932("ファイル ") + bad + Cp932(" を作成できません"));
  }
  EXPECT_THROW(TFileStream(dir.cp932(), TFileStream::Mode::kOpenReadDenyWrite), EFOpenError);
}

TEST(FileNameTest, AnyNameTheFileSystemHoldsIsOpenedByItsBytes) {
  TempDir dir;
  // Names CP932 cannot hold, and one that is not even UTF-8.
  for (const std::string name : {"café 100%.jpg", "Straße #2.jpg", "🌸 さくら.jpg", "caf\xE9.jpg"}) {
    SCOPED_TRACE(name);
    const std::string path = dir.path().string() + "/" + name;
    {
      TFileStream out(path, TFileStream::Mode::kCreateExclusive);
      out.WriteBuffer("pixels", 6);
    }
    EXPECT_TRUE(FileExists(path));
    TFileStream in(path, TFileStream::Mode::kOpenReadDenyWrite);
    EXPECT_EQ(in.Size(), 6);
    bool listed = false;
    FolderEnumerator entries(dir.path().string());
    FolderEnumerator::Entry entry;
    while (entries.Next(entry)) listed = listed || entry.name == name;
    EXPECT_TRUE(listed);
  }
  // A message shows what CP932 holds of the name.
  try {
    TFileStream s(dir.path().string() + "/🌸.jpg", TFileStream::Mode::kOpenReadDenyWrite);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), Cp932("ファイル " + dir.path().string() + "/?.jpg は開けません"));
  }
}

TEST(FileNameTest, OnlyRegularFilesAreFilesAndNothingBlocks) {
  TempDir dir;
  const std::string base = dir.path().string();
  dir.Write("real.png", "x");
  ASSERT_EQ(::mkfifo((base + "/pipe.jpg").c_str(), 0600), 0);
  const std::string zero = base + std::string("/real.png\0.jpg", 14);
  struct Row {
    std::string path;
    bool exists;
  };
  for (const Row& row :
       {Row{base + "/real.png", true}, Row{base + "/pipe.jpg", false}, Row{"/dev/zero", false},
        Row{"/dev/null", false}, Row{base, false}, Row{zero, false}, Row{"", false}}) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(FileExists(row.path), row.exists);
    if (!row.exists) {
      // A FIFO without a writer would hold a blocking open forever.
      EXPECT_THROW(TFileStream(row.path, TFileStream::Mode::kOpenReadDenyWrite), EFOpenError);
    }
  }
  // A zero byte does not cut the path short when creating either.
  EXPECT_THROW(TFileStream(zero, TFileStream::Mode::kCreateExclusive), EFCreateError);
  EXPECT_EQ(ReadBack(base + "/real.png"), "x");
  EXPECT_THROW(TFileStream(base + "/pipe.jpg", TFileStream::Mode::kCreateExclusive), EFCreateError);
}

TEST(FileStreamTest, CreateNeverFollowsASymbolicLink) {
  TempDir dir;
  const std::string base = dir.path().string();
  dir.Write("victim.txt", "precious");
  fs::create_symlink(base + "/victim.txt", base + "/temp.jpg");
  fs::create_symlink(base + "/nowhere.txt", base + "/dangling.jpg");
  EXPECT_THROW(TFileStream(base + "/temp.jpg", TFileStream::Mode::kCreateExclusive), EFCreateError);
  EXPECT_THROW(TFileStream(base + "/dangling.jpg", TFileStream::Mode::kCreateExclusive),
               EFCreateError);
  EXPECT_EQ(ReadBack(base + "/victim.txt"), "precious");
  EXPECT_FALSE(fs::exists(base + "/nowhere.txt"));
}

TEST(FileStreamTest, CreateRefusesAFileWithAnotherHardLink) {
  TempDir dir;
  const std::string base = dir.path().string();
  dir.Write("victim.txt", "precious");
  fs::create_hard_link(base + "/victim.txt", base + "/temp.jpg");
  EXPECT_THROW(TFileStream(base + "/temp.jpg", TFileStream::Mode::kCreateExclusive), EFCreateError);
  EXPECT_EQ(ReadBack(base + "/victim.txt"), "precious");
  // Once the other name is gone the file is its own again.
  fs::remove(base + "/victim.txt");
  EXPECT_NO_THROW(TFileStream(base + "/temp.jpg", TFileStream::Mode::kCreateExclusive));
}

TEST(FileStreamTest, AFullDiskNamesItsCause) {
  // A 64 KiB tmpfs of the test's own; mounting needs root, so others skip.
  TempDir dir;
  const std::string mount = dir.path().string();
  const std::string command = "mount -t tmpfs -o size=64k peloria-full '" + mount + "' 2>/dev/null";
  if (::geteuid() != 0 || std::system(command.c_str()) != 0) {
    GTEST_SKIP() << "mounting a small tmpfs needs root";
  }
  std::string error;
  {
    TFileStream out(mount + "/temp.jpg", TFileStream::Mode::kCreateExclusive);
    const std::string block(1 << 20, 'x');
    try {
      out.WriteBuffer(block.data(), static_cast<std::int64_t>(block.size()));
    } catch (const EWriteError& e) {
      error = e.Message();
    }
  }
  EXPECT_EQ(std::system(("umount '" + mount + "'").c_str()), 0);
  EXPECT_EQ(error, "Stream write error: No space left on device");
}

TEST(FileStreamTest, ASecondWriterWaitsForTheFirstWithinItsBound) {
  TempDir dir;
  const std::string path = dir.path().string() + "/temp.jpg";
  auto first = std::make_unique<TFileStream>(path, TFileStream::Mode::kCreateExclusive);
  first->WriteBuffer("first", 5);

  // A short bound ends in the usual failure.
  EXPECT_THROW(
      TFileStream(path, TFileStream::Mode::kCreateExclusive, std::chrono::milliseconds(50)),
      EFCreateError);

  // Shared: readers (the first's own loading) come in, writers still wait.
  first->ShareLock();
  EXPECT_EQ(TFileStream(path, TFileStream::Mode::kOpenReadDenyWrite).Size(), 5);
  EXPECT_THROW(TFileStream(path, TFileStream::Mode::kCreateExclusive), EFCreateError);

  auto second = std::async(std::launch::async, [&path] {
    TFileStream s(path, TFileStream::Mode::kCreateExclusive, std::chrono::seconds(30));
    s.WriteBuffer("second", 6);
    return s.Size();
  });
  EXPECT_EQ(second.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  first.reset();
  ASSERT_EQ(second.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(second.get(), 6) << "the waiting writer empties the file once it has it";
}

TEST(IniTest, ByteOrderMarkSizeBoundAndOnlyRegularFiles) {
  TempDir dir;
  const std::string base = dir.path().string();
  dir.Write("bom.ini", "\xEF\xBB\xBF[internet]\r\nproxy_server=proxy.local\r\n");
  EXPECT_EQ(GetPrivateProfileString("internet", "proxy_server", "", base + "/bom.ini"),
            "proxy.local");

  // Only the first MiB is read.
  dir.Write("big.ini", "[a]\nfirst=1\n" + std::string(1 << 20, ';') + "\nlate=2\n");
  EXPECT_EQ(GetPrivateProfileString("a", "first", "", base + "/big.ini"), "1");
  EXPECT_EQ(GetPrivateProfileString("a", "late", "dflt", base + "/big.ini"), "dflt");

  // A FIFO (no writer: opening it would block), a device and a folder are
  // absent.
  ASSERT_EQ(::mkfifo((base + "/fifo.ini").c_str(), 0600), 0);
  for (const std::string& path : {base + "/fifo.ini", std::string("/dev/zero"), base}) {
    EXPECT_EQ(GetPrivateProfileString("a", "first", "dflt", path), "dflt") << path;
  }
}

TEST(ProgramFilesTest, PortableFolderOrTheUsersFolders) {
  TempDir dir;
  const std::string base = dir.path().string();
  testing::ScopedEnvironment env;
  env.Set("HOME", base + "/home");
  env.Set("XDG_CACHE_HOME", base + "/cache");
  env.Set("XDG_CONFIG_HOME", base + "/config");

  // A folder the user may write: everything beside the program.
  const std::string portable = base + "/Peloria/";
  fs::create_directory(portable);
  ProgramFiles files = ProgramFilesFor(portable);
  EXPECT_EQ(files.downloadFolder, portable);
  EXPECT_EQ(files.iniPath, portable + "Peloria.ini");

  // An installed program (a system folder, not a portable one even for root):
  // downloads go to the user's cache folder, made when needed (parents
  // too); settings come from the user's configuration folder.
  files = ProgramFilesFor("/usr/bin/");
  EXPECT_EQ(files.downloadFolder, base + "/cache/peloria/");
  MakeFolders(files.downloadFolder);
  EXPECT_TRUE(fs::is_directory(base + "/cache/peloria"));
  EXPECT_EQ(fs::status(base + "/cache").permissions(), fs::perms::owner_all);
  EXPECT_EQ(files.iniPath, base + "/config/peloria/Peloria.ini");

  // Relative or empty XDG variables are ignored: the home folder's.
  env.Set("XDG_CACHE_HOME", std::string("relative/cache"));
  env.Set("XDG_CONFIG_HOME", std::string(""));
  files = ProgramFilesFor("/usr/bin/");
  EXPECT_EQ(files.downloadFolder, base + "/home/.cache/peloria/");
  EXPECT_EQ(files.iniPath, base + "/home/.config/peloria/Peloria.ini");
}

TEST(MemoryStreamTest, WriteSeekAndCut) {
  TMemoryStream m;
  m.WriteBuffer("abcdef", 6);
  m.Seek(2);
  m.WriteBuffer("XY", 2);
  EXPECT_EQ(m.Text(), "abXYef");
  m.SetSize(3);
  EXPECT_EQ(m.Text(), "abX");
  EXPECT_EQ(m.Position(), 3);
  m.Seek(10);
  m.WriteBuffer("z", 1);
  EXPECT_EQ(m.Size(), 11);
}

}  // namespace
}  // namespace peloria
