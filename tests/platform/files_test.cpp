#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/cp932.h"
#include "platform/exception.h"
#include "platform/stream.h"

namespace peloria {
namespace {

namespace fs = std::filesystem;

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
  EXPECT_EQ(PercentDecodedPath("/%E7%A7%92"), std::optional<std::string>("/\x95\x62"));
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
