// The photo model without a window: addresses (local files, web addresses
// served on 127.0.0.1, failing ones) against the summary, the failure and the
// error each photo carries. This program links no GUI toolkit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/cp932.h"
#include "tests/app/sample_photo.h"
#include "tests/support/jpeg_fixtures.h"
#include "tests/support/peers.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tiff_writer.h"

namespace peloria::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

PeerScript Reply(const std::string& status, const std::string& body, const std::string& type) {
  return PeerScript()
      .ReadRequest()
      .Send("HTTP/1.1 " + status + "\r\nContent-Type: " + type +
            "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body)
      .Close();
}

// A colour JPEG whose Exif block holds only this exposure time.
std::string JpegWithExposure(std::uint32_t numerator, std::uint32_t denominator) {
  TiffWriter tiff(ByteOrder::kIntel);
  tiff.Rational(tiff.ExifIfd(), 0x829A, {{numerator, denominator}});
  JpegRecipe recipe;
  recipe.jfif = false;
  JpegOptions options;
  options.body = AfterSoi(MakeJpeg(recipe));
  return JpegWithExif(tiff.Build(), options);
}

// A start with its own Peloria.ini and download folder.
struct Program {
  TempDir dir;
  TStartup Startup(const std::string& ini = "") const {
    std::ofstream(dir.path() / "Peloria.ini", std::ios::binary) << ini;
    return TStartup(ProgramFiles{dir.path().string() + "/", (dir.path() / "Peloria.ini").string()});
  }
  fs::path TempJpg() const { return dir.path() / "temp.jpg"; }
};

TPhoto Open(const TStartup& startup, const std::string& address) {
  TIdHTTP http;
  return startup.Open(
      Cp932(address), address, http,
      [](TIdHTTP& h, const std::string& url, TStream& target) { h.Download(url, target); });
}

TEST(PhotoTest, AddressesGiveSummaryOrFailure) {
  Program program;
  const TStartup startup = program.Startup();
  TempDir pictures;
  const std::string sample = Slurp(PELORIA_SAMPLE);
  const std::string exifFree = MakeJpeg(JpegRecipe{});
  const std::string withExif = pictures.Write("photo.jpg", sample);
  const std::string noExif = pictures.Write("plain.jpg", exifFree);
  const std::string notAPicture = pictures.Write("text.jpg", "hello");
  ScriptedPeer photoServer(Reply("200 OK", sample, "image/jpeg"));
  ScriptedPeer missingServer(Reply("404 Not Found", "gone", "text/plain"));
  ScriptedPeer htmlServer(Reply("200 OK", "<html>hello</html>", "text/html"));
  const auto web = [](const ScriptedPeer& peer, const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(peer.Port()) + path;
  };
  const std::string sampleSummary = Cp932(SampleSummary());

  struct Row {
    std::string address;
    std::string summary;  // empty: the failure display
    std::string cause;    // a part of the failure's message
    bool local;
    std::string tempJpg;  // what temp.jpg holds afterwards ("-": none)
  };
  const std::vector<Row> rows = {
      {"file://" + withExif, sampleSummary, "", true, "-"},
      {withExif, sampleSummary, "", true, "-"},
      {"file://" + noExif, Cp932("Exif情報はありません。"), "", true, "-"},
      {"file://" + pictures.path().string() + "/none.jpg", "",
       Cp932("ファイル " + pictures.path().string() + "/none.jpg は開けません"), true, "-"},
      {"file:///", "", Cp932("画像形式は処理できません"), true, "-"},
      {"file://" + notAPicture, "", "", true, "-"},
      {web(photoServer, "/d/photo.jpg"), sampleSummary, "", false, sample},
      {web(missingServer, "/gone.jpg"), "", "404", false, "gone"},
      {web(htmlServer, "/page.jpg"), "", "", false, "<html>hello</html>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.address);
    fs::remove(program.TempJpg());
    const TPhoto photo = Open(startup, row.address);
    EXPECT_EQ(photo.Address(), Cp932(row.address));
    EXPECT_EQ(photo.Local(), row.local);
    EXPECT_FALSE(photo.Error());
    if (row.summary.empty()) {
      EXPECT_TRUE(photo.Failed());
      EXPECT_THAT(photo.Cause(), HasSubstr(row.cause));
      EXPECT_EQ(photo.FailureReport(), Cp932("データの取得に失敗しました (") + photo.Cause() + ")");
      EXPECT_FALSE(photo.Summary().has_value());
    } else {
      EXPECT_FALSE(photo.Failed());
      ASSERT_TRUE(photo.Summary().has_value());
      EXPECT_EQ(*photo.Summary(), row.summary);
      ASSERT_NE(photo.Graphic(), nullptr);
      ASSERT_NE(photo.Bitmap(), nullptr);
      EXPECT_EQ(photo.Bitmap()->Width(), photo.Graphic()->Width());
      EXPECT_EQ(photo.Bitmap()->BitsPerPixel(), 24);
    }
    if (row.tempJpg == "-") {
      EXPECT_FALSE(fs::exists(program.TempJpg()));
    } else {
      EXPECT_EQ(Slurp(program.TempJpg()), row.tempJpg);
      EXPECT_EQ(photo.LocalPath(), program.TempJpg().string());
    }
  }
}

TEST(PhotoTest, FailuresOutsideTheGuardedStepsAreKept) {
  TempDir pictures;
  Program program;
  {
    // 0/5 s: the shutter-speed fraction divides by zero. The picture and its
    // copy were made before; the summary was not.
    const std::string path = pictures.Write("zero.jpg", JpegWithExposure(0, 5));
    const TPhoto photo = Open(program.Startup(), path);
    EXPECT_FALSE(photo.Failed());
    ASSERT_TRUE(photo.Error());
    EXPECT_FALSE(photo.ErrorMessage().empty());
    EXPECT_FALSE(photo.Summary().has_value());
    EXPECT_NE(photo.Graphic(), nullptr);
    EXPECT_NE(photo.Bitmap(), nullptr);
  }
  {
    // temp.jpg cannot be made: the download folder is a file.
    const std::string file = pictures.Write("folder", "");
    const TStartup startup(ProgramFiles{file + "/", (pictures.path() / "none.ini").string()});
    const TPhoto photo = Open(startup, "http://127.0.0.1:1/a.jpg");
    EXPECT_FALSE(photo.Failed());
    ASSERT_TRUE(photo.Error());
    EXPECT_THAT(photo.ErrorMessage(), HasSubstr(Cp932("を作成できません")));
    EXPECT_EQ(photo.Graphic(), nullptr);
  }
}

TEST(PhotoTest, PictureBytesGoIntoTempJpg) {
  Program program;
  const TStartup startup = program.Startup();
  const std::string bytes = MakeJpeg(JpegRecipe{});
  const TPhoto photo = startup.OpenData(bytes);
  EXPECT_FALSE(photo.Failed());
  EXPECT_FALSE(photo.Local());
  EXPECT_EQ(photo.LocalPath(), program.TempJpg().string());
  EXPECT_EQ(photo.AddressBytes(), "file://" + program.TempJpg().string());
  EXPECT_EQ(Slurp(program.TempJpg()), bytes);
  ASSERT_TRUE(photo.Summary().has_value());
  EXPECT_EQ(*photo.Summary(), Cp932("Exif情報はありません。"));
  // Bytes that are no picture: the failure display, the bytes kept.
  const TPhoto broken = startup.OpenData("no picture");
  EXPECT_TRUE(broken.Failed());
  EXPECT_EQ(Slurp(program.TempJpg()), "no picture");
}

TEST(PhotoTest, TakenPictureIsGivenBack) {
  TempDir pictures;
  Program program;
  TPhoto photo = Open(program.Startup(), pictures.Write("a.jpg", MakeJpeg(JpegRecipe{})));
  std::unique_ptr<TGraphic> graphic = photo.TakeGraphic();
  std::unique_ptr<TBitmap> bitmap = photo.TakeBitmap();
  EXPECT_EQ(photo.Graphic(), nullptr);
  EXPECT_EQ(photo.Bitmap(), nullptr);
  const TGraphic* held = graphic.get();
  TPhoto moved = std::move(photo);
  moved.GiveBack(std::move(graphic), std::move(bitmap));
  EXPECT_EQ(moved.Graphic(), held);
  EXPECT_NE(moved.Bitmap(), nullptr);
}

}  // namespace
}  // namespace peloria::testing
