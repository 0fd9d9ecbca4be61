// Local files as a Linux user names them: any file name (opened by its own
// bytes, in every address form), relative paths, file addresses for --exif,
// things that are no regular file, the cause of a failure on standard error,
// and two downloads at once.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "tests/e2e/installation.h"
#include "tests/support/peers.h"
#include "tests/support/picture_fixtures.h"
#include "tests/support/tiff_writer.h"
#include "tests/support/wait.h"

namespace peloria::e2e {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

std::string Describe(const Outcome& o) {
  return "exit " + std::to_string(o.exitCode) + (o.timedOut ? " (timed out)" : "") +
         "\nstdout: " + o.out + "\nstderr: " + o.err;
}

class LocalFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    photo_ = ReadFile(PELORIA_SAMPLE_PHOTO);
    if (!photo_) GTEST_SKIP() << "the build made no sample photo";
    pictures_ = app_.scratch() / "Pictures";
    fs::create_directories(pictures_);
  }

  // `peloria ARGS` run to its end in `cwd`.
  Outcome Run(const std::vector<std::string>& args, const fs::path& cwd = {}) {
    Command command = app_.Start(args);
    if (!cwd.empty()) command.cwd = cwd;
    return RunToEnd(command, kProgramTimeout);
  }

  fs::path Picture(const std::string& name) {
    const fs::path path = pictures_ / name;
    std::ofstream(path, std::ios::binary) << *photo_;
    return path;
  }

  Installation app_;
  std::optional<std::string> photo_;
  fs::path pictures_;
};

// Names that the Japanese code page cannot hold open in every address form,
// and --exif takes the same forms as --print.
TEST_F(LocalFileTest, AnyFileNameInEveryAddressForm) {
  const std::string summary = Run({"--print", PELORIA_SAMPLE_PHOTO}).out;
  ASSERT_THAT(summary, HasSubstr("機種名"));
  for (const std::string name : {"café 100%.jpg", "Straße #2.jpg", "🌸 さくら.jpg"}) {
    const fs::path photo = Picture(name);
    struct Form {
      std::string argument;
      fs::path cwd;
    };
    for (const Form& form :
         {Form{photo.string(), {}}, Form{name, pictures_}, Form{"./" + name, pictures_},
          Form{"file://" + photo.string(), {}}, Form{PercentEncodedFileUrl(photo), {}}}) {
      SCOPED_TRACE(form.argument);
      Outcome shown = Run({"--print", form.argument}, form.cwd);
      EXPECT_EQ(shown.exitCode, 0) << Describe(shown);
      EXPECT_EQ(shown.out, summary);
      Outcome exif = Run({"--exif", form.argument}, form.cwd);
      EXPECT_EQ(exif.exitCode, 0) << Describe(exif);
      EXPECT_THAT(exif.out, StartsWith("ByteOrder: "));
    }
  }
  EXPECT_FALSE(app_.TempJpg()) << "a local file is never downloaded";
}

// A FIFO or a device named like a picture is no picture (opening it must not
// block), and a %00 in a file address names no file: it does not cut the
// path at the zero byte. Each ends in the failure display, whose cause and
// address go to standard error.
TEST_F(LocalFileTest, NoRegularFileIsNoPictureAndTheCauseIsShown) {
  const fs::path real = Picture("real.jpg");
  ASSERT_EQ(::mkfifo((pictures_ / "pipe.jpg").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", pictures_ / "zero.jpg");
  const std::string missing = (pictures_ / "missing.jpg").string();
  struct Row {
    std::string address;
    std::string shownPath;  // the path in the cause
  };
  for (const Row& row : {
           Row{"file://" + (pictures_ / "pipe.jpg").string(), (pictures_ / "pipe.jpg").string()},
           Row{"file://" + (pictures_ / "zero.jpg").string(), (pictures_ / "zero.jpg").string()},
           Row{"file://" + real.string() + "%00.jpg", real.string() + "%00.jpg"},
           Row{"file://" + missing, missing},
       }) {
    SCOPED_TRACE(row.address);
    Outcome o = Run({"--print", row.address});
    EXPECT_FALSE(o.timedOut);
    EXPECT_EQ(o.exitCode, 1) << Describe(o);
    EXPECT_EQ(o.err, "peloria: " + row.address + ": " + kFetchFailed + " (ファイル " +
                         row.shownPath + " は開けません)\n");
  }

  // A web address that fails: its cause follows the same pattern.
  Outcome refused = Run({"--print", "http://127.0.0.1:1/x.jpg"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_THAT(refused.err, StartsWith("peloria: http://127.0.0.1:1/x.jpg: " + kFetchFailed + " ("));
  EXPECT_THAT(refused.err, EndsWith(")\n"));
}

// libheif, libtiff and libjxl are loaded at the first file of their kind
// only: a JPEG goes without them, and a HEIC photo, a TIFF file with Exif data or a
// JPEG XL picture still shows its picture and its Exif data.
TEST_F(LocalFileTest, DecoderLibrariesAreLoadedOnlyForTheirKinds) {
  testing::TiffWriter exif(testing::ByteOrder::kMotorola);
  exif.Ascii(exif.Ifd0(), 0x0110, "Phone 15");
  const fs::path heic = pictures_ / "IMG_0001.HEIC";
  std::ofstream(heic, std::ios::binary)
      << testing::MakeHeif(testing::Quadrants(64, 48), {.exif = exif.Build()});
  const fs::path tiff = pictures_ / "scan.tif";
  std::ofstream(tiff, std::ios::binary) << testing::MakeTiff(
      testing::Quadrants(64, 48), {.model = "Scanner 9", .fNumberTimesTen = 28});
  testing::TiffWriter jxlExif(testing::ByteOrder::kIntel);
  jxlExif.Ascii(jxlExif.Ifd0(), 0x0110, "Camera XL");
  const fs::path jxl = pictures_ / "photo.jxl";
  std::ofstream(jxl, std::ios::binary)
      << testing::MakeJxl(testing::Quadrants(64, 48), {.exif = jxlExif.Build()});
  const auto runSeeingLibraries = [this](const std::vector<std::string>& args) {
    Command command = app_.Start(args);
    command.env.push_back("LD_DEBUG=files");
    return RunToEnd(command, kProgramTimeout);
  };

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--exif", Picture("a.jpg").string()},
        std::vector<std::string>{"--version"}}) {
    const Outcome o = runSeeingLibraries(args);
    EXPECT_EQ(o.exitCode, 0) << Describe(o);
    EXPECT_THAT(o.err, Not(HasSubstr("libheif"))) << args[0];
    EXPECT_THAT(o.err, Not(HasSubstr("libtiff"))) << args[0];
    EXPECT_THAT(o.err, Not(HasSubstr("libjxl"))) << args[0];
  }

  const struct {
    fs::path file;
    std::string model;
    std::string library;
  } rows[] = {{heic, "Phone 15", "libheif.so.1"},
              {tiff, "Scanner 9", "libtiff.so.6"},
              {jxl, "Camera XL", "libjxl.so.0.7"}};
  for (const auto& row : rows) {
    const Outcome exifOut = runSeeingLibraries({"--exif", row.file.string()});
    EXPECT_EQ(exifOut.exitCode, 0) << Describe(exifOut);
    EXPECT_THAT(exifOut.out, HasSubstr(row.model));
    const Outcome print = runSeeingLibraries({"--print", row.file.string()});
    EXPECT_EQ(print.exitCode, 0) << Describe(print);
    EXPECT_THAT(print.out, HasSubstr(row.model));
    EXPECT_THAT(print.err, HasSubstr(row.library));
  }
}

// Whether process `pid` holds an open descriptor on `file`.
bool HoldsOpen(pid_t pid, const fs::path& file) {
  std::error_code error;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    if (fs::read_symlink(fd.path(), error) == file) return true;
  }
  return false;
}

// Two pictures opened at the same moment: the second Peloria waits until the
// first is done with temp.jpg, then downloads its own.
TEST_F(LocalFileTest, TwoDownloadsAtOnceTakeTurns) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                           std::to_string(photo_->size()) + "\r\nConnection: close\r\n\r\n";
  const std::size_t half = photo_->size() / 2;
  testing::PeerScript slow;
  slow.ReadRequest().Send(head + photo_->substr(0, half)).WaitRelease().Send(photo_->substr(half));
  testing::PeerScript quick;
  quick.ReadRequest().Send(head + *photo_);
  testing::ScriptedPeer server({slow, quick});
  const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/a.jpg";

  const fs::path firstLog = app_.scratch() / "first.log";
  const fs::path secondLog = app_.scratch() / "second.log";
  Process first(app_.Start({"--print", url}), firstLog);
  testing::WaitUntil([&] { return server.Accepted() >= 1; }, milliseconds(kProgramTimeout));
  ASSERT_EQ(server.Accepted(), 1u) << "the first download did not start";

  // The second has temp.jpg open and waits for the first's lock.
  Process second(app_.Start({"--print", url}), secondLog);
  testing::WaitUntil([&] { return HoldsOpen(second.pid(), app_.tempJpg()) || second.Poll(); },
                     milliseconds(kProgramTimeout));
  ASSERT_FALSE(second.Poll()) << ReadFile(secondLog).value_or("");
  EXPECT_EQ(server.Accepted(), 1u) << "the second must not download while the first does";

  server.Release();
  for (const auto& [process, log] : {std::pair{&first, firstLog}, std::pair{&second, secondLog}}) {
    auto status = process->Wait(milliseconds(kProgramTimeout));
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << ReadFile(log).value_or("");
    EXPECT_THAT(ReadFile(log).value_or(""), HasSubstr("機種名"));
  }
  EXPECT_EQ(server.Accepted(), 2u);
  EXPECT_EQ(app_.TempJpg(), photo_);
}

}  // namespace
}  // namespace peloria::e2e
