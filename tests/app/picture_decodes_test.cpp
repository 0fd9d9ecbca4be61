// The picture loaded and decoded on a worker: the thumbnail reduced as far as
// the box allows whichever way the picture is turned, the full copy as the
// plain decode makes it, and every failure handed to whoever waits.
#include "app/picture_decodes.h"

#include <gtest/gtest.h>

#include <cstring>

#include "picture/jpeg.h"
#include "picture/picture.h"
#include "tests/app/app_support.h"

namespace peloria::testing {
namespace {

// The full copy as the window made it before: the picture loaded and copied
// on the caller's thread.
std::unique_ptr<TBitmap> PlainCopy(const std::string& path) {
  TPicture picture;
  picture.LoadFromFile(path);
  auto copy = std::make_unique<TBitmap>();
  copy->Assign(picture.Graphic());
  return copy;
}

bool SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitsPerPixel() != b.BitsPerPixel())
    return false;
  for (int y = 0; y < a.Height(); ++y) {
    if (std::memcmp(a.RowData(y), b.RowData(y), static_cast<std::size_t>(a.RowBytes())) != 0)
      return false;
  }
  return a.Palette() == b.Palette();
}

TEST(PictureDecodesTest, ThumbnailReducedAndTheFullCopyAsBefore) {
  TempDir dir;
  struct Row {
    const char* name;
    int width, height;
    JpegColor color;
    bool progressive;
    int thumbWidth, thumbHeight;  // 0: drawn from the picture's own pixels
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
    JpegRecipe recipe;
    recipe.width = r.width;
    recipe.height = r.height;
    recipe.color = r.color;
    recipe.progressive = r.progressive;
    const std::string path = (dir.path() / "p.jpg").string();
    WriteJpegFile(path, recipe);
    TPictureDecodes decodes(path);
    const std::unique_ptr<TGraphic> graphic = decodes.TakeGraphic();
    ASSERT_NE(graphic, nullptr);
    EXPECT_EQ(graphic->Width(), r.width);
    EXPECT_EQ(graphic->Height(), r.height);
    const std::shared_ptr<const TBitmap> thumbnail = decodes.Thumbnail();
    ASSERT_NE(thumbnail, nullptr);
    EXPECT_EQ(thumbnail->Width(), r.thumbWidth);
    EXPECT_EQ(thumbnail->Height(), r.thumbHeight);
    const std::unique_ptr<TBitmap> full = decodes.TakeBitmap();
    EXPECT_TRUE(decodes.BitmapReady());
    EXPECT_TRUE(SamePixels(*full, *PlainCopy(path)));
    // The window's graphic was never decoded: the full pixels exist once.
    EXPECT_FALSE(static_cast<TJPEGImage&>(*graphic).Decoded());
  }
}

TEST(PictureDecodesTest, KindsDecodedAtLoadShowTheirOwnPixels) {
  TempDir dir;
  const std::string path = dir.Write(
      "p.bmp", Bmp24(30, 20, [](int x, int y) {
        return Rgb8{static_cast<std::uint8_t>(x * 8), static_cast<std::uint8_t>(y * 12), 7};
      }));
  TPictureDecodes decodes(path);
  EXPECT_NE(decodes.TakeGraphic(), nullptr);
  EXPECT_EQ(decodes.Thumbnail(), nullptr);
  EXPECT_TRUE(SamePixels(*decodes.TakeBitmap(), *PlainCopy(path)));
}

// A failure reaches every result not given yet; a file the full decode
// refuses fails before its graphic or thumbnail is given.
TEST(PictureDecodesTest, FailuresReachEveryoneWhoWaits) {
  TempDir dir;
  std::string huge = MakeJpeg(JpegRecipe{});
  huge.replace(huge.find("\xFF\xC0") + 5, 4, "\xFF\xDC\xFF\xDC");  // 65500 x 65500
  struct Row {
    const char* name;
    std::string file;  // none: missing
    const char* className;
  } rows[] = {
      {"missing", "", "EFOpenError"},
      {"not a JPEG", "not a picture", "EJPEG"},
      {"too large for the full copy", huge, "EOutOfResources"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string path = (dir.path() / "f.jpg").string();
    std::filesystem::remove(path);
    if (!r.file.empty()) WriteFile(path, r.file);
    TPictureDecodes decodes(path);
    for (int result = 0; result < 3; ++result) {
      try {
        if (result == 0) decodes.TakeGraphic();
        if (result == 1) decodes.Thumbnail();
        if (result == 2) decodes.TakeBitmap();
        ADD_FAILURE() << "result " << result << " without failure";
      } catch (const Exception& e) {
        EXPECT_EQ(e.ClassName(), r.className) << result;
      }
    }
  }
}

}  // namespace
}  // namespace peloria::testing
