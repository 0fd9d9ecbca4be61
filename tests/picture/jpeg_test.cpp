#include "picture/jpeg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "picture/bitmap.h"
#include "platform/cp932.h"
#include "platform/stream.h"
#include "tests/support/jpeg_fixtures.h"

namespace peloria {
namespace {

using testing::JpegColor;
using testing::JpegSpec;
using testing::MakeJpeg;

std::unique_ptr<TJPEGImage> LoadJpeg(const std::string& bytes) {
  auto jpeg = std::make_unique<TJPEGImage>();
  TMemoryStream stream(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  jpeg->LoadFromStream(stream);
  return jpeg;
}

[[maybe_unused]] std::string JpegErrorCode(const std::function<void()>& action) {
  try {
    action();
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.ClassName(), "EJPEG");
    const std::string prefix = Cp932("JPEG エラー #");
    EXPECT_EQ(e.Message().substr(0, prefix.size()), prefix);
    return e.Message().substr(prefix.size());
  }
  ADD_FAILURE() << "no EJPEG";
  return {};
}

int Distance(int a, int b) {
  return std::abs(a - b);
}

TEST(JpegDecodeTest, ColourPictureIsBlueGreenRedTopRowFirst) {
  const auto jpeg = LoadJpeg(MakeJpeg(JpegSpec{}));
  EXPECT_EQ(jpeg->Width(), 640);
  EXPECT_EQ(jpeg->Height(), 480);
  EXPECT_FALSE(jpeg->Decoded());
  TBitmap copy;
  copy.Assign(jpeg.get());
  ASSERT_EQ(copy.Width(), 640);
  ASSERT_EQ(copy.Height(), 480);
  ASSERT_EQ(copy.BitsPerPixel(), 24);
  EXPECT_EQ(copy.RowBytes(), 1920);
  for (const auto& [x, y] :
       {std::pair{0, 0}, {639, 0}, {0, 479}, {639, 479}, {320, 240}, {100, 400}}) {
    const std::uint8_t* p = copy.RowData(y) + 3 * x;
    const testing::Rgb want = testing::PatternColor(x, y, 640, 480);
    EXPECT_LE(Distance(p[0], want.b), 6) << x << "," << y;
    EXPECT_LE(Distance(p[1], want.g), 6) << x << "," << y;
    EXPECT_LE(Distance(p[2], want.r), 6) << x << "," << y;
  }
}

}  // namespace
}  // namespace peloria
