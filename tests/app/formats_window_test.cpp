// The window on the picture kinds decoded at load: upright thumbnails for
// every Exif orientation (and for JPEG XL's own), the summary from each container's Exif block in
// both byte orders, and the failure display for broken and cut-off files.
#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>
#include <sstream>

#include "app/terminal.h"
#include "tests/app/app_support.h"
#include "tests/support/picture_fixtures.h"

namespace peloria::testing {
namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 32;

// The quarter of the stored picture (0 top left, 1 top right, 2 bottom left,
// 3 bottom right) that each quarter of the thumbnail shows, in the same
// order, for the orientations 1 to 8.
constexpr int kShown[9][4] = {
    {0, 1, 2, 3},                                            // (unused)
    {0, 1, 2, 3}, {1, 0, 3, 2}, {3, 2, 1, 0}, {2, 3, 0, 1},  // 1-4
    {0, 2, 1, 3}, {2, 0, 3, 1}, {3, 1, 2, 0}, {1, 3, 0, 2},  // 5-8
};

Rgb QuarterColour(int quarter) {
  return PatternColor(quarter % 2 == 0 ? kWidth / 4 : 3 * kWidth / 4,
                      quarter < 2 ? kHeight / 4 : 3 * kHeight / 4, kWidth, kHeight);
}

// The stored quarter whose colour is nearest to `pixel`.
int NearestQuarter(QRgb pixel) {
  int best = 0;
  int bestDistance = 1 << 30;
  for (int q = 0; q < 4; ++q) {
    const Rgb c = QuarterColour(q);
    const int d =
        std::abs(qRed(pixel) - c.r) + std::abs(qGreen(pixel) - c.g) + std::abs(qBlue(pixel) - c.b);
    if (d < bestDistance) {
      bestDistance = d;
      best = q;
    }
  }
  return best;
}

// Each quarter of the thumbnail `shot` shows the stored quarter that
// `orientation` puts there.
void ExpectQuartersShown(const QImage& shot, int orientation) {
  for (int quarter = 0; quarter < 4; ++quarter) {
    const int x = quarter % 2 == 0 ? shot.width() / 4 : 3 * shot.width() / 4;
    const int y = quarter < 2 ? shot.height() / 4 : 3 * shot.height() / 4;
    EXPECT_EQ(NearestQuarter(shot.pixel(x, y)), kShown[orientation][quarter])
        << "thumbnail quarter " << quarter;
  }
}

std::string ExifFor(int orientation, bool motorola = false) {
  return ExifBlock(motorola, orientation);
}

ContainerOptions WithExif(const std::string& block) {
  ContainerOptions options;
  options.exif = block;
  return options;
}

// A decodable JPEG whose Exif segment holds `tiff`.
std::string JpegHolding(const std::string& tiff) {
  JpegRecipe recipe;
  recipe.width = 64;
  recipe.height = 48;
  recipe.jfif = false;
  JpegOptions options;
  options.body = AfterSoi(MakeJpeg(recipe));
  return JpegWithExif(tiff, options);
}

struct Kind {
  const char* name;
  const char* file;
  std::function<std::string(int orientation)> make;
};

std::vector<Kind> TurnedKinds() {
  const Pixels pixels = Gradient(kWidth, kHeight);
  return {
      {"PNG", "p.png", [=](int o) { return MakePng(pixels, WithExif(ExifFor(o))); }},
      {"WebP", "w.webp", [=](int o) { return MakeWebP(pixels, WithExif(ExifFor(o))); }},
      {"TIFF", "t.tif",
       [=](int o) {
         // The orientation stands in the TIFF file's own first directory.
         TiffOptions options;
         options.orientation = o;
         return MakeTiff(pixels, options);
       }},
      {"JPEG", "j.jpg",
       [](int o) {
         return ExifJpeg(
             [o](TiffWriter& w) { w.Short(w.Ifd0(), 0x0112, {static_cast<std::uint16_t>(o)}); },
             kWidth, kHeight);
       }},
  };
}

TEST(FormatsWindowTest, ThumbnailsAreUprightForEveryOrientation) {
  TempDir dir;
  for (const Kind& kind : TurnedKinds()) {
    for (int orientation = 1; orientation <= 8; ++orientation) {
      SCOPED_TRACE(std::string(kind.name) + " orientation " + std::to_string(orientation));
      const std::string path = dir.Write(kind.file, kind.make(orientation));
      Window window(FileUrl(Utf8(path)));
      ASSERT_FALSE(window.form->Failed());
      TImage& thumb = window.form->Image1;
      const bool turned = orientation >= 5;
      EXPECT_EQ(thumb.Width(), turned ? 60 : 160);
      EXPECT_EQ(thumb.Height(), turned ? 120 : 80);
      // The histogram's copy keeps the stored picture.
      ASSERT_NE(window.form->bmp, nullptr);
      EXPECT_EQ(window.form->bmp->Width(), kWidth);
      EXPECT_EQ(window.form->bmp->Height(), kHeight);

      const QImage shot = thumb.Widget()->grab().toImage();
      ASSERT_EQ(shot.width(), thumb.Width());
      ExpectQuartersShown(shot, orientation);
    }
  }
}

// A JPEG transcoded to JPEG XL keeps its Exif orientation as the
// codestream's, which libjxl applies: the window shows it as it shows the
// JPEG, and the histogram's copy is the upright picture.
TEST(FormatsWindowTest, JpegXlShowsATranscodedJpegAsTheJpeg) {
  TempDir dir;
  for (int orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE("orientation " + std::to_string(orientation));
    const std::string jpeg = ExifJpeg(
        [=](TiffWriter& w) {
          w.Short(w.Ifd0(), 0x0112, {static_cast<std::uint16_t>(orientation)});
        },
        kWidth, kHeight);
    Window window(FileUrl(Utf8(dir.Write("t.jxl", JxlFromJpeg(jpeg)))));
    ASSERT_FALSE(window.form->Failed());
    const bool turned = orientation >= 5;
    TImage& thumb = window.form->Image1;
    EXPECT_EQ(thumb.Width(), turned ? 60 : 160);
    ASSERT_NE(window.form->bmp, nullptr);
    EXPECT_EQ(window.form->bmp->Width(), turned ? kHeight : kWidth);
    ExpectQuartersShown(thumb.Widget()->grab().toImage(), orientation);
  }
}

// libheif and libjxl turn their pictures themselves, by the file's own
// transforms; an Exif orientation beside them must not turn them again.
TEST(FormatsWindowTest, HeifAndJpegXlAreNotTurnedTwice) {
  TempDir dir;
  const Pixels pixels = Gradient(kWidth, kHeight);
  JxlOptions jxl;
  jxl.exif = ExifFor(6);
  for (const std::string& path : {dir.Write("h.heic", MakeHeif(pixels, WithExif(ExifFor(6)))),
                                  dir.Write("x.jxl", MakeJxl(pixels, jxl))}) {
    SCOPED_TRACE(path);
    Window window(FileUrl(Utf8(path)));
    ASSERT_FALSE(window.form->Failed());
    EXPECT_EQ(window.form->Image1.Width(), 160);
    EXPECT_EQ(window.form->Image1.Height(), 80);
    const QImage shot = window.form->Image1.Widget()->grab().toImage();
    EXPECT_EQ(NearestQuarter(shot.pixel(40, 20)), 0);
    EXPECT_EQ(NearestQuarter(shot.pixel(120, 60)), 3);
  }
}

TEST(FormatsWindowTest, SummaryFromEveryContainerInBothByteOrders) {
  TempDir dir;
  const Pixels pixels = Quadrants(64, 48);
  for (const bool motorola : {false, true}) {
    const std::string exif = ExifBlock(motorola, 1, "Cam MM II");
    TiffOptions tiff;
    tiff.motorola = motorola;
    tiff.model = "Cam MM II";
    tiff.fNumberTimesTen = 28;
    JxlOptions jxl;
    jxl.exif = exif;
    const std::pair<const char*, std::string> rows[] = {
        {"a.png", MakePng(pixels, WithExif(exif))},
        {"a.webp", MakeWebP(pixels, WithExif(exif))},
        {"a.heic", MakeHeif(pixels, WithExif(exif))},
        {"a.tif", MakeTiff(pixels, tiff)},
        {"a.jxl", MakeJxl(pixels, jxl)},
        // A transcoded JPEG keeps its Exif Brotli-compressed.
        {"b.jxl", JxlFromJpeg(JpegHolding(exif))},
        // The content decides: a PNG in a file named like a download.
        {"temp.jpg", MakePng(pixels, WithExif(exif))},
    };
    for (const auto& [name, bytes] : rows) {
      SCOPED_TRACE(std::string(name) + (motorola ? " MM" : " II"));
      Window window(FileUrl(Utf8(dir.Write(name, bytes))));
      ASSERT_FALSE(window.form->Failed());
      const std::string label = Utf8(window.form->Label1.Caption());
      EXPECT_NE(label.find("F値               :2.8\n"), std::string::npos) << label;
      EXPECT_NE(label.find("機種名            :Cam MM II\n"), std::string::npos) << label;
    }
  }
  for (const auto& [name, bytes] : {std::pair{"plain.png", MakePng(pixels)},
                                    {"plain.gif", MakeGif(pixels)},
                                    {"plain.ico", MakeIcon({{pixels, false, true}})}}) {
    Window window(FileUrl(Utf8(dir.Write(name, bytes))));
    ASSERT_FALSE(window.form->Failed()) << name;
    EXPECT_EQ(Utf8(window.form->Label1.Caption()), "Exif情報はありません。") << name;
  }
}

TEST(FormatsWindowTest, ExifPrintsTheBlockOfAContainer) {
  TempDir dir;
  const std::string exif = ExifBlock(true, 8, "Printed");
  for (const std::string& path : {dir.Write("x.webp", MakeWebP(Quadrants(8, 8), WithExif(exif))),
                                  dir.Write("x.jxl", JxlFromJpeg(JpegHolding(exif)))}) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(PrintExif(path, out, err), kExitOk) << err.str();
    EXPECT_NE(out.str().find("ByteOrder: Motorola"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("Printed"), std::string::npos) << out.str();
  }
}

TEST(FormatsWindowTest, BrokenAndCutOffFilesEndInTheFailureDisplay) {
  TempDir dir;
  const Pixels pixels = Quadrants(64, 48);
  const std::pair<const char*, std::string> files[] = {
      {"b.png", MakePng(pixels)},   {"b.webp", MakeWebP(pixels)},
      {"b.heic", MakeHeif(pixels)}, {"b.tif", MakeTiff(pixels)},
      {"b.gif", MakeGif(pixels)},   {"b.ico", MakeIcon({{pixels, false, true}})},
      {"b.jxl", MakeJxl(pixels)},
  };
  for (const auto& [name, bytes] : files) {
    std::string garbled = bytes;
    for (std::size_t i = 4; i < garbled.size(); i += 3) garbled[i] = static_cast<char>(~garbled[i]);
    for (const std::string& broken : {bytes.substr(0, bytes.size() / 2), garbled}) {
      Window window(FileUrl(Utf8(dir.Write(name, broken))));
      EXPECT_TRUE(window.form->Failed()) << name;
      EXPECT_EQ(Utf8(window.form->Label1.Caption()), "データの取得に失敗しました") << name;
    }
  }
  // Metafiles are recognised and still cannot be shown.
  Window metafile(FileUrl(Utf8(dir.Write("d.wmf", ""))));
  EXPECT_TRUE(metafile.form->Failed());
}

}  // namespace
}  // namespace peloria::testing
