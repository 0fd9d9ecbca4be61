#include "picture/picture.h"

#include <gtest/gtest.h>

#include "picture/bitmap.h"
#include "picture/jpeg.h"
#include "picture/raster.h"
#include "platform/cp932.h"
#include "tests/support/jpeg_fixtures.h"
#include "tests/support/picture_fixtures.h"
#include "tests/support/temp_dir.h"

namespace peloria {
namespace {

using testing::TempDir;

// A 2 x 2 24-bit BMP, bottom-up.
std::string SmallBmp() {
  std::string b = "BM";
  const auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b += static_cast<char>(v >> 8 * i);
  };
  const auto u16 = [&](unsigned v) {
    b += static_cast<char>(v);
    b += static_cast<char>(v >> 8);
  };
  u32(14 + 40 + 16);
  u32(0);
  u32(54);
  u32(40);
  u32(2);
  u32(2);
  u16(1);
  u16(24);
  for (int i = 0; i < 6; ++i) u32(0);
  b += std::string(16, '\x40');
  return b;
}

// An icon with one 32 x 16 image.
std::string SmallIcon() {
  return testing::MakeIcon({{testing::Quadrants(32, 16), false, true}});
}

// A placeable metafile header: bounding box 0,0 - 1440,720 at 1440 units per inch.
std::string SmallWmf() {
  return std::string("\xD7\xCD\xC6\x9A\0\0\0\0\0\0\xA0\x05\xD0\x02\xA0\x05\0\0\0\0\0\0", 22);
}

void ExpectFailure(const std::function<void()>& action, const char* className,
                   const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no failure, wanted " << className;
  } catch (const Exception& e) {
    EXPECT_EQ(e.ClassName(), className);
    EXPECT_EQ(e.Message(), message);
  }
}

TEST(PictureTest, ChoosesTheKindByExtension) {
  TempDir dir;
  const std::string jpeg = testing::MakeJpeg(testing::JpegRecipe{});
  struct Row {
    const char* name;
    std::string bytes;
    const char* className;
    int width, height;
  };
  const Row rows[] = {
      {"photo.JPG", jpeg, "TJPEGImage", 640, 480},
      {"photo.Jpeg", jpeg, "TJPEGImage", 640, 480},
      {"photo.jpg", jpeg, "TJPEGImage", 640, 480},
      {"写真.jpeg", jpeg, "TJPEGImage", 640, 480},
      {"small.BMP", SmallBmp(), "TBitmap", 2, 2},
      {"icon.ico", SmallIcon(), "TIcon", 32, 16},
      {"drawing.wmf", SmallWmf(), "TMetafile", 96, 48},
      {"drawing.emf", "", "TMetafile", 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TPicture picture;
    int changes = 0;
    picture.OnChange = [&] { ++changes; };
    picture.LoadFromFile(dir.Write(r.name, r.bytes));
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_STREQ(picture.Graphic()->ClassName(), r.className);
    EXPECT_EQ(picture.Width(), r.width);
    EXPECT_EQ(picture.Height(), r.height);
    EXPECT_EQ(changes, 1);
  }
}

TEST(PictureTest, FailuresLeaveTheHeldGraphic) {
  TempDir dir;
  TPicture picture;
  EXPECT_EQ(picture.Width(), 0);
  EXPECT_EQ(picture.Graphic(), nullptr);
  picture.LoadFromFile(dir.Write("first.bmp", SmallBmp()));
  TGraphic* held = picture.Graphic();
  int changes = 0;
  picture.OnChange = [&] { ++changes; };

  std::filesystem::create_directory(dir.path() / "pics.old");
  const std::string missing = dir.cp932() + "/missing.jpg";
  const std::string unreadableBmp = dir.Write("broken.bmp", "BM");
  const auto load = [&](const std::string& path) {
    return [&picture, path] { picture.LoadFromFile(path); };
  };
  // Files whose content names no kind go by their extension.
  ExpectFailure(load(dir.Write("pics.old/file", "text")), "EInvalidGraphic",
                Cp932("拡張子 . の画像形式は処理できません"));
  ExpectFailure(load(dir.Write("picture.xyz", "text")), "EInvalidGraphic",
                Cp932("拡張子 .xyz の画像形式は処理できません"));
  ExpectFailure(load(dir.Write("Picture.XYZ", "text")), "EInvalidGraphic",
                Cp932("拡張子 .XYZ の画像形式は処理できません"));
  ExpectFailure(load(dir.cp932() + "/missing.xyz"), "EInvalidGraphic",
                Cp932("拡張子 .xyz の画像形式は処理できません"));
  ExpectFailure(load(missing), "EFOpenError",
                Cp932("ファイル ") + missing + Cp932(" は開けません"));
  ExpectFailure(load(unreadableBmp), "EInvalidGraphic", Cp932("ビットマップイメージが不正です"));
  EXPECT_THROW(picture.LoadFromFile(dir.Write("x.jpg", "Just some text.\n")), EJPEG);

  EXPECT_EQ(picture.Graphic(), held);
  EXPECT_EQ(picture.Width(), 2);
  EXPECT_EQ(changes, 0);
}

TEST(PictureTest, EmptyJpegLoadsAndItsCopyFails) {
  TempDir dir;
  TPicture picture;
  picture.LoadFromFile(dir.Write("x.jpg", ""));
  ASSERT_NE(picture.Graphic(), nullptr);
  EXPECT_TRUE(picture.Graphic()->Empty());
  TBitmap copy;
  EXPECT_THROW(copy.Assign(picture.Graphic()), EJPEG);
}

TEST(PictureTest, CopiesOfTheHeldGraphic) {
  TempDir dir;
  TPicture picture;
  int changes = 0;
  picture.OnChange = [&] { ++changes; };
  picture.LoadFromFile(dir.Write("icon.ico", SmallIcon()));
  TBitmap copy;
  copy.Assign(picture.Graphic());
  EXPECT_EQ(copy.Width(), 32);
  EXPECT_EQ(copy.BitsPerPixel(), 24);

  picture.LoadFromFile(dir.Write("photo.jpg", testing::MakeJpeg(testing::JpegRecipe{})));
  EXPECT_EQ(changes, 2);
  copy.Assign(picture.Graphic());
  EXPECT_EQ(copy.Width(), 640);
  EXPECT_EQ(copy.BitsPerPixel(), 24);
  // The held graphic's own changes reach the holder.
  static_cast<TJPEGImage*>(picture.Graphic())->SetScale(TJPEGScale::jsHalf);
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(picture.Width(), 320);
  picture.SetGraphic(nullptr);
  EXPECT_EQ(picture.Width(), 0);
  EXPECT_EQ(changes, 4);
}

}  // namespace
}  // namespace peloria
