// A photo made thumbnail first: the thumbnail reduced as far as the box
// allows whichever way the picture is turned, the bitmap copy made beside it
// as the plain start makes it, and every failure of the full decode a failure
// of the photo. This program links no GUI toolkit.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/startup.h"
#include "picture/jpeg.h"
#include "tests/support/jpeg_fixtures.h"
#include "tests/support/picture_fixtures.h"
#include "tests/support/temp_dir.h"

namespace peloria::testing {
namespace {

struct Program {
  TempDir dir;
  TStartup startup{ProgramFiles{dir.path().string() + "/", (dir.path() / "Peloria.ini").string()}};
  TPhoto Open(const std::string& path, TStartup::TSteps steps) const {
    TIdHTTP http;
    return startup.Open("file://" + path, "file://" + path, http, {}, nullptr, steps);
  }
};

bool SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitsPerPixel() != b.BitsPerPixel())
    return false;
  for (int y = 0; y < a.Height(); ++y) {
    if (std::memcmp(a.RowData(y), b.RowData(y), static_cast<std::size_t>(a.RowBytes())) != 0)
      return false;
  }
  return a.Palette() == b.Palette();
}

TEST(PhotoThumbnailTest, ThumbnailReducedAndTheCopyAsTheWholeStartMakesIt) {
  Program program;
  struct Row {
    const char* name;
    int width, height;
    JpegColor color;
    bool progressive;
    int thumbWidth, thumbHeight;
  } rows[] = {
      {"landscape", 1600, 1200, JpegColor::kColor, false, 200, 150},
      {"portrait", 1200, 1600, JpegColor::kColor, false, 150, 200},
      // Turned by a quarter it is shown 1272 x 960, 160 x 121 in the box,
      // which 1/8 (120 high) would not cover.
      {"either way", 960, 1272, JpegColor::kColor, false, 240, 318},
      {"grey", 1280, 960, JpegColor::kGray, false, 160, 120},
      {"CMYK progressive", 1280, 960, JpegColor::kCmyk, true, 160, 120},
      {"small", 100, 80, JpegColor::kColor, false, 100, 80},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const JpegRecipe recipe = ShapedRecipe(r.width, r.height, r.color, r.progressive);
    const std::string path = (program.dir.path() / "p.jpg").string();
    WriteJpegFile(path, recipe);
    TPhoto first = program.Open(path, TStartup::kThumbnailFirst);
    ASSERT_FALSE(first.Failed()) << first.Cause();
    ASSERT_TRUE(first.Summary().has_value());
    ASSERT_NE(first.Graphic(), nullptr);
    EXPECT_EQ(first.Graphic()->Width(), r.width);
    ASSERT_NE(first.Thumbnail(), nullptr);
    EXPECT_EQ(first.Thumbnail()->Width(), r.thumbWidth);
    EXPECT_EQ(first.Thumbnail()->Height(), r.thumbHeight);
    EXPECT_TRUE(first.BitmapPending());
    const std::unique_ptr<TBitmap> beside = first.TakeBitmap();
    EXPECT_FALSE(first.BitmapPending());
    ASSERT_NE(beside, nullptr);
    // The click's brightness histogram was counted with the copy, once.
    THistogramCounts counted{};
    CountHistogram(*beside, 3, counted);
    EXPECT_EQ(first.TakeBrightness(), counted);
    EXPECT_FALSE(first.TakeBrightness().has_value());
    // The photo's graphic was never decoded: the full pixels exist once.
    EXPECT_FALSE(static_cast<const TJPEGImage*>(first.Graphic())->Decoded());

    TPhoto whole = program.Open(path, TStartup::kWhole);
    EXPECT_EQ(whole.Thumbnail(), nullptr);
    EXPECT_FALSE(whole.BitmapPending());
    EXPECT_FALSE(whole.TakeBrightness().has_value());
    EXPECT_TRUE(SamePixels(*beside, *whole.TakeBitmap()));
    EXPECT_EQ(first.Summary(), whole.Summary());
  }
}

// Pictures decoded once, and shown from their own pixels: the kinds decoded
// at load, and a progressive JPEG of more than 100 million pixels, for which
// a reduced decode would cost nearly as much as the whole one.
TEST(PhotoThumbnailTest, PicturesDecodedOnceAreShownFromTheirOwnPixels) {
  Program program;
  struct Row {
    const char* name;
    std::string file;
    int width;
  } rows[] = {
      {"p.png", MakePng(Gradient(30, 20)), 30},
      {"p.jpg", MakeEmptyScansJpeg(10001, 10000, 1), 10001},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TPhoto photo = program.Open(program.dir.Write(r.name, r.file), TStartup::kThumbnailFirst);
    ASSERT_FALSE(photo.Failed()) << photo.Cause();
    EXPECT_EQ(photo.Thumbnail(), nullptr);
    EXPECT_FALSE(photo.BitmapPending());
    ASSERT_NE(photo.Bitmap(), nullptr);
    EXPECT_EQ(photo.Bitmap()->Width(), r.width);
  }
}

// A file the full decode refuses is refused from its header before a
// thumbnail exists, with the cause the whole start gives.
TEST(PhotoThumbnailTest, RefusedBeforeAnyDecode) {
  Program program;
  std::string huge = MakeJpeg(JpegRecipe{});
  huge.replace(huge.find("\xFF\xC0") + 5, 4, "\xFF\xDC\xFF\xDC");  // 65500 x 65500
  for (const std::string& file : {std::string(), std::string("not a picture"), huge}) {
    const std::string path = (program.dir.path() / "f.jpg").string();
    std::filesystem::remove(path);
    if (!file.empty()) std::ofstream(path, std::ios::binary) << file;
    const TPhoto first = program.Open(path, TStartup::kThumbnailFirst);
    const TPhoto whole = program.Open(path, TStartup::kWhole);
    EXPECT_TRUE(first.Failed());
    EXPECT_EQ(first.Cause(), whole.Cause());
    EXPECT_EQ(first.Thumbnail(), nullptr);
    EXPECT_FALSE(first.BitmapPending());
  }
}

TEST(PhotoThumbnailTest, DecodeScaleFollowsTheDevicePixels) {
  EXPECT_EQ(ThumbnailDecodeScale(6000, 4000), TJPEGScale::jsEighth);      // 750 x 500
  EXPECT_EQ(ThumbnailDecodeScale(6000, 4000, 2), TJPEGScale::jsEighth);   // 320 x 213
  EXPECT_EQ(ThumbnailDecodeScale(6000, 4000, 5), TJPEGScale::jsQuarter);  // 800 x 534
  EXPECT_EQ(ThumbnailDecodeScale(1280, 960), TJPEGScale::jsEighth);
  EXPECT_EQ(ThumbnailDecodeScale(1280, 960, 1.5), TJPEGScale::jsQuarter);
  EXPECT_EQ(ThumbnailDecodeScale(64, 48), TJPEGScale::jsFullSize);
}

}  // namespace
}  // namespace peloria::testing
