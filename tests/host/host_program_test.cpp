// The host as a browser runs it: a copy of peloria-host in a folder of its
// own with a stand-in "peloria" beside it that records how it was started;
// starting a detached program; the manifests it registers; the extension's
// fixed identity.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/json.h"
#include "host/manifests.h"
#include "host/message.h"
#include "http/base64.h"
#include "platform/process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace peloria {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WaitUntil;
using namespace std::chrono_literals;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A stand-in program that writes its session id, its arguments and the bytes
// of descriptor 3 into `record` once it has them all.
void WriteRecorder(const fs::path& program, const fs::path& record) {
  std::ofstream(program) << "#!/bin/sh\n"
                         << "{ cut -d' ' -f6 /proc/$$/stat; for a; do echo \"$a\"; done; "
                         << "[ -e /proc/$$/fd/3 ] && cat <&3; } > '" << record.string()
                         << ".part'\nmv '" << record.string() << ".part' '" << record.string()
                         << "'\n";
  fs::permissions(program, fs::perms::owner_all);
}

std::string OwnSession() {
  std::istringstream stat(ReadAll("/proc/self/stat"));
  std::string field;
  for (int i = 0; i < 6; ++i) stat >> field;
  return field;
}

TEST(HostStart, ProgramRunsInItsOwnSessionWithTheHandedBytes) {
  TempDir dir;
  const fs::path record = dir.path() / "record";
  WriteRecorder(dir.path() / "prog", record);
  const TAnonymousFile bytes(std::string("\xFF\xD8picture\0bytes", 15));
  StartDetached((dir.path() / "prog").string(), {"prog", "one", "two words"}, &bytes);
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(record); }, 10s));
  std::istringstream lines(ReadAll(record));
  std::string session, first, second;
  std::getline(lines, session);
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_NE(session, OwnSession());
  EXPECT_EQ(first, "one");
  EXPECT_EQ(second, "two words");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(lines), {}),
            std::string("\xFF\xD8picture\0bytes", 15));

  // Without a handed file descriptor 3 is closed in the program.
  fs::remove(record);
  StartDetached((dir.path() / "prog").string(), {"prog"});
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(record); }, 10s));
  const std::string alone = ReadAll(record);
  EXPECT_EQ(std::count(alone.begin(), alone.end(), '\n'), 1) << alone;
}

TEST(HostStart, MissingOrUnrunnableProgramFailsWithTheCause) {
  TempDir dir;
  try {
    StartDetached((dir.path() / "none").string(), {"none"});
    ADD_FAILURE() << "started a missing program";
  } catch (const EProcessError& failure) {
    EXPECT_NE(failure.Message().find("No such file or directory"), std::string::npos);
  }
  const std::string plain = dir.Write("plain", "not a program");
  EXPECT_THROW(StartDetached(plain, {"plain"}), EProcessError);
}

struct HostRun {
  int exitCode;
  std::string out;
};

// Runs the host copy in `folder` with `input` on standard input and the
// browser's arguments, as Firefox starts it.
HostRun RunHost(const fs::path& folder, const std::string& input) {
  const fs::path in = folder / "in", out = folder / "out";
  std::ofstream(in, std::ios::binary) << input;
  const std::string command = "'" + (folder / "peloria-host").string() +
                              "' /usr/lib/mozilla/native-messaging-hosts/peloria.json "
                              "peloria@peloria.example < '" +
                              in.string() + "' > '" + out.string() + "'";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out)};
}

std::string Framed(const std::string& json) {
  const auto length = static_cast<std::uint32_t>(json.size());
  std::string frame(4, '\0');
  std::memcpy(frame.data(), &length, 4);
  return frame + json;
}

// The one reply in `out`: its JSON, after checking that `out` is exactly one
// frame.
TJsonValue OnlyReply(const std::string& out) {
  std::uint32_t length = 0;
  EXPECT_GE(out.size(), 4u);
  if (out.size() < 4) return {};
  std::memcpy(&length, out.data(), 4);
  EXPECT_EQ(length, out.size() - 4) << out;
  return ParseJson(out.substr(4));
}

class HostProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(PELORIA_HOST_EXECUTABLE, dir_.path() / "peloria-host");
    WriteRecorder(dir_.path() / "peloria", record_);
  }
  TempDir dir_;
  fs::path record_ = dir_.path() / "record";
};

TEST_F(HostProgram, StartsTheWindowBesideItAndAnswersOk) {
  const auto started = std::chrono::steady_clock::now();
  const HostRun run = RunHost(
      dir_.path(),
      Framed(
          R"({"address":"blob:http://127.0.0.1:8080/9f","page":"http://127.0.0.1:8080/p.html","picture":")" +
          Base64Encode("JPEG bytes") + "\"}"));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
  EXPECT_EQ(run.exitCode, 0);
  const TJsonValue reply = OnlyReply(run.out);
  EXPECT_EQ(reply.Member("ok")->kind, TJsonValue::Kind::kTrue);
  EXPECT_EQ(reply.Member("error"), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(record_); }, 10s));
  const std::string record = ReadAll(record_);
  EXPECT_NE(record.find("\n--from-browser\n--page=http://127.0.0.1:8080/p.html\n--picture-fd=3\n"
                        "blob:http://127.0.0.1:8080/9f\nJPEG bytes"),
            std::string::npos)
      << record;
}

TEST_F(HostProgram, BadMessagesAreAnsweredAndStartNothing) {
  const std::string cases[] = {"",
                               "\x05\x00",
                               Framed("{\"address\": 1}"),
                               Framed("not json"),
                               Framed(R"({"address":"http://h/a.jpg","picture":"%%"})"),
                               std::string("\x01\x00\x00\x05", 4)};  // 83 MiB announced
  for (const std::string& input : cases) {
    const HostRun run = RunHost(dir_.path(), input);
    EXPECT_EQ(run.exitCode, 1);
    const TJsonValue reply = OnlyReply(run.out);
    ASSERT_NE(reply.Member("ok"), nullptr) << run.out;
    EXPECT_EQ(reply.Member("ok")->kind, TJsonValue::Kind::kFalse);
    ASSERT_NE(reply.Member("error"), nullptr);
    EXPECT_FALSE(reply.Member("error")->text.empty());
  }
  EXPECT_FALSE(fs::exists(record_));
}

TEST_F(HostProgram, WithoutPeloriaBesideItSaysSo) {
  fs::remove(dir_.path() / "peloria");
  const HostRun run = RunHost(dir_.path(), Framed(R"({"address":"http://h/a.jpg"})"));
  const TJsonValue reply = OnlyReply(run.out);
  EXPECT_EQ(reply.Member("ok")->kind, TJsonValue::Kind::kFalse);
  EXPECT_EQ(reply.Member("error")->text.find("Peloria is not installed beside its host"), 0u);
}

TEST_F(HostProgram, RegisterWritesTheUsersManifestsForItself) {
  const fs::path home = dir_.path() / "home";
  fs::create_directory(home);
  const std::string command = "HOME='" + home.string() + "' '" +
                              (dir_.path() / "peloria-host").string() + "' --register > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string host = fs::canonical(dir_.path() / "peloria-host").string();
  for (const TManifestFile& file : UserManifestFiles(home.string())) {
    SCOPED_TRACE(file.path);
    const TJsonValue manifest = ParseJson(ReadAll(file.path));
    EXPECT_EQ(manifest.Member("name")->text, "peloria");
    EXPECT_EQ(manifest.Member("path")->text, host);
    EXPECT_EQ(manifest.Member("type")->text, "stdio");
    const TJsonValue* allowed = file.kind == TManifestKind::kFirefox
                                    ? manifest.Member("allowed_extensions")
                                    : manifest.Member("allowed_origins");
    ASSERT_NE(allowed, nullptr);
    ASSERT_EQ(allowed->items.size(), 1u);
    EXPECT_EQ(allowed->items[0].text, file.kind == TManifestKind::kFirefox
                                          ? std::string(kGeckoId)
                                          : "chrome-extension://" + std::string(kChromiumId) + "/");
  }
  EXPECT_TRUE(fs::exists(home / ".config/google-chrome/NativeMessagingHosts/peloria.json"));
}

TEST(HostExtension, ManifestNamesTheIdsTheHostAllows) {
  const TJsonValue manifest = ParseJson(ReadAll(fs::path(PELORIA_EXTENSION_DIR) / "manifest.json"));
  const TJsonValue* gecko = manifest.Member("browser_specific_settings");
  ASSERT_NE(gecko, nullptr);
  EXPECT_EQ(gecko->Member("gecko")->Member("id")->text, kGeckoId);
  // Chromium's extension ID: the SHA-256 of the public key (DER), its first
  // 16 bytes in hexadecimal with the digits 0-f written a-p.
  const auto key = Base64Decode(manifest.Member("key")->text);
  ASSERT_TRUE(key);
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(key->data()), key->size(), digest);
  std::string id;
  for (int i = 0; i < 16; ++i) {
    id += static_cast<char>('a' + (digest[i] >> 4));
    id += static_cast<char>('a' + (digest[i] & 15));
  }
  EXPECT_EQ(id, kChromiumId);
}

}  // namespace
}  // namespace peloria
