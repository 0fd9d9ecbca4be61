#include "picture/bitmap.h"

#include <gtest/gtest.h>

#include "picture/jpeg.h"
#include "platform/cp932.h"
#include "platform/stream.h"
#include "tests/support/jpeg_fixtures.h"
#include "tests/support/temp_dir.h"

namespace peloria {
namespace {

void ExpectRowOutOfRange(const std::function<void()>& action) {
  try {
    action();
    ADD_FAILURE() << "no failure";
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_EQ(e.ClassName(), "EInvalidGraphicOperation");
    EXPECT_EQ(e.Message(), Cp932("スキャンライン のインデックスが範囲を越えました"));
  }
}

TEST(BitmapTest, RowAccessChecksTheIndex) {
  TBitmap bitmap;
  EXPECT_EQ(bitmap.Width(), 0);
  EXPECT_EQ(bitmap.Height(), 0);
  EXPECT_TRUE(bitmap.Empty());
  ExpectRowOutOfRange([&] { bitmap.ScanLine(0); });

  bitmap.SetSize(5, 3, 24);
  EXPECT_EQ(bitmap.RowBytes(), 16);
  EXPECT_NE(bitmap.ScanLine(0), nullptr);
  EXPECT_EQ(bitmap.ScanLine(2), bitmap.ScanLine(0) + 32);
  for (int row : {-1, 3, 1 << 30}) {
    ExpectRowOutOfRange([&] { bitmap.ScanLine(row); });
    ExpectRowOutOfRange([&] { bitmap.RowData(row); });
    std::uint32_t out[5];
    ExpectRowOutOfRange([&] { bitmap.RowToArgb(row, out); });
  }
}

TEST(BitmapTest, CopySharesPixelsUntilTheFirstRowAccess) {
  TBitmap source;
  source.SetSize(4, 2, 24);
  source.ScanLine(1)[0] = 7;
  source.SetTransparent(true);

  TBitmap copy;
  int changes = 0;
  copy.OnChange = [&] { ++changes; };
  copy.Assign(&source);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(copy.SharesImageWith(source));
  EXPECT_TRUE(copy.Transparent());
  EXPECT_EQ(copy.RowData(1), source.RowData(1));

  std::uint8_t* row = copy.ScanLine(1);
  EXPECT_EQ(changes, 2);
  EXPECT_FALSE(copy.SharesImageWith(source));
  EXPECT_EQ(row[0], 7);
  row[0] = 9;
  EXPECT_EQ(source.RowData(1)[0], 7);
  // The source's own row access finds its image no longer shared.
  const std::uint8_t* before = source.RowData(0);
  EXPECT_EQ(source.ScanLine(0), before);

  copy.Assign(nullptr);
  EXPECT_EQ(copy.Width(), 0);
  EXPECT_EQ(copy.Height(), 0);
  EXPECT_EQ(source.Width(), 4);
}

// A copy made for a change reads every row as before, and neither side ever
// sees the other's changes, whatever the order of the accesses.
TEST(BitmapTest, CopyOnWriteKeepsBothSidesApart) {
  const int height = 40;
  TBitmap source;
  source.SetSize(2, height, 24);
  for (int y = 0; y < height; ++y) source.ScanLine(y)[0] = static_cast<std::uint8_t>(y);

  TBitmap copy;
  copy.Assign(&source);
  copy.ScanLine(20)[0] = 200;
  EXPECT_EQ(source.RowData(20)[0], 20);
  EXPECT_EQ(copy.RowData(20)[0], 200);
  EXPECT_EQ(copy.RowData(0)[0], 0);
  EXPECT_EQ(copy.RowData(39)[0], 39);

  // The source changed after the copy was made.
  source.ScanLine(35)[0] = 135;
  EXPECT_EQ(copy.RowData(35)[0], 35);
  std::uint32_t argb[2];
  copy.RowToArgb(35, argb);
  EXPECT_EQ(argb[0] & 0xFF, 35u);

  // A copy of the copy reads through both, then takes its own rows.
  TBitmap second;
  second.Assign(&copy);
  EXPECT_EQ(second.ScanLine(20)[0], 200);
  second.ScanLine(3)[0] = 103;
  EXPECT_EQ(copy.RowData(3)[0], 3);
  for (int y = 0; y < height; ++y) {
    const int expected = y == 20 ? 200 : y;
    EXPECT_EQ(copy.ScanLine(y)[0], expected) << y;
    EXPECT_EQ(second.RowData(y)[0], y == 3 ? 103 : expected) << y;
  }
  EXPECT_EQ(source.RowData(35)[0], 135);
  EXPECT_EQ(source.RowData(20)[0], 20);
}

TEST(BitmapTest, LargeImagesAreZeroedAndCopiedLikeSmallOnes) {
  TBitmap source;
  source.SetSize(1600, 1000, 24);  // beyond kMappedPixelBlock
  ASSERT_GE(static_cast<std::size_t>(source.RowBytes()) * 1000, kMappedPixelBlock);
  EXPECT_EQ(source.RowData(999)[4799], 0);
  source.ScanLine(999)[4799] = 42;
  TBitmap copy;
  copy.Assign(&source);
  std::uint8_t* last = copy.ScanLine(999);
  EXPECT_EQ(last[4799], 42);
  last[4799] = 1;
  EXPECT_EQ(source.RowData(999)[4799], 42);
}

TEST(BitmapTest, CopyOfAJpegDecodesOnceAndSharesTheDecodedImage) {
  testing::JpegRecipe recipe;
  recipe.width = 64;
  recipe.height = 48;
  const std::string bytes = testing::MakeJpeg(recipe);
  TJPEGImage jpeg;
  TMemoryStream stream(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  jpeg.LoadFromStream(stream);

  TBitmap first;
  TBitmap second;
  first.Assign(&jpeg);
  second.Assign(&jpeg);
  EXPECT_EQ(jpeg.DecodeCount(), 1);
  EXPECT_TRUE(first.SharesImageWith(jpeg.Bitmap()));
  EXPECT_TRUE(second.SharesImageWith(first));
  EXPECT_EQ(first.Width(), 64);
  EXPECT_EQ(first.BitsPerPixel(), 24);
}

TEST(BitmapTest, CopyOfOtherKindsFails) {
  TMetafile metafile;
  const std::pair<const TGraphic*, const char*> rows[] = {
      {&metafile, "TMetafile を TBitmap に代入することはできません"},
  };
  for (const auto& [graphic, message] : rows) {
    TBitmap bitmap;
    bitmap.SetSize(2, 2, 8);
    try {
      bitmap.Assign(graphic);
      ADD_FAILURE() << message;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.ClassName(), "EConvertError");
      EXPECT_EQ(e.Message(), Cp932(message));
    }
    EXPECT_EQ(bitmap.Width(), 2);
  }
}

TEST(BitmapTest, SizesBeyondTheLimitAreRefusedBeforeAllocating) {
  TBitmap bitmap;
  for (const auto& [w, h, bits] :
       {std::tuple{65500, 65500, 24}, {1 << 30, 2, 32}, {2, 1 << 30, 8}}) {
    EXPECT_THROW(bitmap.SetSize(w, h, bits), EOutOfResources) << w << "x" << h;
  }
  EXPECT_EQ(bitmap.Width(), 0);
  // Exactly at the limit is fine in arithmetic (not allocated here).
  EXPECT_EQ(CheckedImageBytes(kMaxBitmapBytes / 4, 1, 32), kMaxBitmapBytes);
  EXPECT_THROW(CheckedImageBytes(kMaxBitmapBytes / 4 + 1, 1, 32), EOutOfResources);
  EXPECT_THROW(CheckedImageBytes(1, kMaxBitmapBytes / 4 + 1, 32), EOutOfResources);
}

// The refusals name what was too large: a bitmap by its width and height, a
// picture file by its size in bytes.
TEST(BitmapTest, RefusalsNameWhatWasTooLarge) {
  try {
    CheckedImageBytes(kMaxBitmapBytes / 4 + 1, 1, 32);
    ADD_FAILURE() << "no failure";
  } catch (const EOutOfResources& e) {
    EXPECT_EQ(e.Message(), Cp932("ビットマップが大きすぎます (" +
                                 std::to_string(kMaxBitmapBytes / 4 + 1) + " × 1)"));
  }
  // A sparse file one byte beyond the bound: refused before it is read.
  testing::TempDir dir;
  const std::string path = dir.Write("huge.bmp", "");
  std::filesystem::resize_file(dir.path() / "huge.bmp", kMaxBitmapBytes + 1);
  TFileStream stream(path, TFileStream::Mode::kOpenReadDenyWrite);
  try {
    ReadRestOfStream(stream);
    ADD_FAILURE() << "no failure";
  } catch (const EOutOfResources& e) {
    EXPECT_EQ(e.Message(), Cp932("画像ファイルが大きすぎます (" +
                                 std::to_string(kMaxBitmapBytes + 1) + " バイト)"));
  }
}

}  // namespace
}  // namespace peloria
