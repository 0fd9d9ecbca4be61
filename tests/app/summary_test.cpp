// The Exif summary as the exact CP932 bytes of the label.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "exif/exif_info.h"
#include "platform/exception.h"
#include "platform/numbers.h"
#include "tests/app/app_support.h"

namespace peloria::testing {
namespace {

constexpr std::uint16_t kExposureTime = 0x829A, kFNumber = 0x829D, kExposureProgram = 0x8822,
                        kIso = 0x8827, kDateTimeOriginal = 0x9003, kExposureBias = 0x9204,
                        kLightSource = 0x9208, kFocalLength = 0x920A, kPixelX = 0xA002,
                        kPixelY = 0xA003, kWhiteBalance = 0xA403, kFocal35 = 0xA405,
                        kModel = 0x0110;

// A complete set of shooting data; `change` alters it for one case.
std::string Photo(const std::function<void(TiffWriter&, int exif)>& change) {
  return ExifJpeg([&](TiffWriter& t) {
    const int exif = t.ExifIfd();
    t.Ascii(t.Ifd0(), kModel, "PX-1 & co");
    change(t, exif);
    t.Rational(exif, kFNumber, {{28, 10}});
    t.Short(exif, kExposureProgram, {2});
    t.Short(exif, kIso, {400});
    t.Ascii(exif, kDateTimeOriginal, "2024:01:02 03:04:05");
    t.SRational(exif, kExposureBias, {{-1, 3}});
    t.Rational(exif, kFocalLength, {{58, 10}});
    t.Long(exif, kPixelX, {64});
    t.Long(exif, kPixelY, {48});
    t.Short(exif, kWhiteBalance, {0});
  });
}

// The summary of Photo() with `line` (0-based) replaced, or removed when
// `text` is empty.
std::string Summary(std::size_t line, const std::string& text) {
  std::vector<std::string> lines = {
      "F値               :2.8\n",
      "シャッター速度    :1/125秒\n",
      "露出補正          :-0.333333333333333\n",
      "ISO感度           :400\n",
      "焦点距離          :5.8mm\n",
      "ホワイトバランス  :自動\n",
      "露光モード        :プログラム\n",
      "サイズ            :64 * 48\n",
      "撮影日時          :2024:01:02 03:04:05\n",
      "機種名            :PX-1 & co\n",
  };
  if (text.empty()) {
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(line));
  } else {
    lines[line] = text;
  }
  std::string all;
  for (const std::string& l : lines) all += l;
  return Cp932(all);
}

using Change = std::function<void(TiffWriter&, int)>;
Change Exposure(std::uint32_t n, std::uint32_t d) {
  return [=](TiffWriter& t, int exif) { t.Rational(exif, kExposureTime, {{n, d}}); };
}

TEST(SummaryTest, Lines) {
  struct Row {
    const char* name;
    Change change;
    std::size_t line;
    const char* text;  // UTF-8; empty: the line is missing
  } rows[] = {
      {"1/125", Exposure(1, 125), 1, "シャッター速度    :1/125秒\n"},
      {"fraction from the text", Exposure(10, 1250), 1, "シャッター速度    :1/125秒\n"},
      {"10/600", Exposure(10, 600), 1, "シャッター速度    :1/60秒\n"},
      {"4/10", Exposure(4, 10), 1, "シャッター速度    :1/2.5秒\n"},
      {"exactly one second", Exposure(1, 1), 1, "シャッター速度    :1/1秒\n"},
      {"denominator 0", Exposure(1, 0), 1, "シャッター速度    :1/0秒\n"},
      {"two seconds", Exposure(2, 1), 1, "シャッター速度    :2秒\n"},
      {"2.5 seconds", Exposure(5, 2), 1, "シャッター速度    :2.5秒\n"},
      {"no exposure time", [](TiffWriter&, int) {}, 1, ""},
      {"35 mm focal length",
       [](TiffWriter& t, int exif) {
         t.Rational(exif, kExposureTime, {{1, 125}});
         t.Short(exif, kFocal35, {35});
       },
       4, "焦点距離(35mm換算):35mm\n"},
      {"light source before white balance",
       [](TiffWriter& t, int exif) {
         t.Rational(exif, kExposureTime, {{1, 125}});
         t.Short(exif, kLightSource, {1});
       },
       5, "ホワイトバランス  :太陽光\n"},
      // Cameras write light source 0 ("unknown") with automatic white
      // balance: the white-balance mode speaks then.
      {"light source 0 is no light source",
       [](TiffWriter& t, int exif) {
         t.Rational(exif, kExposureTime, {{1, 125}});
         t.Short(exif, kLightSource, {0});
       },
       5, "ホワイトバランス  :自動\n"},
  };
  TempDir dir;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    WriteFile(dir.path() / "s.jpg", Photo(row.change));
    Window w(FileUrl(dir.path() / "s.jpg"));
    ASSERT_FALSE(w.unhandled.has_value()) << *w.unhandled;
    EXPECT_EQ(w.form->Label1.Caption(), Summary(row.line, row.text));
  }
}

TEST(SummaryTest, AbsentFieldsAndNoExif) {
  TempDir dir;
  // Only a model: every line but the shutter speed, with zeros and blanks.
  WriteFile(dir.path() / "m.jpg", ExifJpeg([](TiffWriter& t) { t.Ascii(t.Ifd0(), kModel, "M"); }));
  Window model(FileUrl(dir.path() / "m.jpg"));
  EXPECT_EQ(model.form->Label1.Caption(), Cp932("F値               :0.0\n"
                                                "露出補正          :0\n"
                                                "ISO感度           :0\n"
                                                "焦点距離          :0mm\n"
                                                "ホワイトバランス  :\n"
                                                "露光モード        :\n"
                                                "サイズ            :0 * 0\n"
                                                "撮影日時          :\n"
                                                "機種名            :M\n"));

  // Light source 0 without a white-balance mode: "unknown".
  WriteFile(dir.path() / "u.jpg",
            ExifJpeg([](TiffWriter& t) { t.Short(t.ExifIfd(), kLightSource, {0}); }));
  Window unknown(FileUrl(dir.path() / "u.jpg"));
  EXPECT_THAT(unknown.form->Label1.Caption(),
              ::testing::HasSubstr(Cp932("ホワイトバランス  :不明\n")));

  WriteJpegFile(dir.path() / "plain.jpg", JpegRecipe{});
  Window plain(FileUrl(dir.path() / "plain.jpg"));
  EXPECT_EQ(plain.form->Label1.Caption(), Cp932("Exif情報はありません。"));
}

TEST(SummaryTest, FractionFailuresAreNotCaught) {
  struct Row {
    const char* name;
    Change change;
    std::function<void()> failure;  // the same failure, raised directly
  } rows[] = {
      {"numerator 0", Exposure(0, 1), [] { Divide(1, 0); }},
      {"0/0", Exposure(0, 0), [] { Divide(0, 0); }},
      {"beyond 32 bits", Exposure(3000000000u, 4000000000u), [] { StrToInt("4000000000"); }},
  };
  TempDir dir;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    WriteFile(dir.path() / "f.jpg", Photo(row.change));
    Window w(FileUrl(dir.path() / "f.jpg"));
    ASSERT_TRUE(w.unhandled.has_value());
    try {
      row.failure();
      FAIL() << "no failure";
    } catch (const Exception& e) {
      EXPECT_EQ(*w.unhandled, e.Message());
    }
    EXPECT_EQ(w.form->Label1.Caption(), "System Error!!");
    EXPECT_EQ(w.form->ClientWidth(), 158);
  }
}

TEST(SummaryTest, RealCameraFile) {
  const std::filesystem::path samples = PELORIA_SAMPLES_DIR;
  if (!std::filesystem::exists(samples / "Canon_40D.jpg")) GTEST_SKIP() << "no sample photos";
  const std::filesystem::path sample = samples / "Canon_40D.jpg";
  Window w(FileUrl(sample));
  ASSERT_FALSE(w.unhandled.has_value());
  const std::string& text = w.form->Label1.Caption();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 10);
  EXPECT_EQ(text.rfind(Cp932("F値               :"), 0), 0u);
  TExifInfo exif;
  exif.SetImageFileName(Cp932(sample.string()));
  EXPECT_NE(text.find(Cp932("機種名            :") + exif.Model + "\n"), std::string::npos);
  EXPECT_EQ(w.form->Label1.Height(), 120);
}

}  // namespace
}  // namespace peloria::testing
