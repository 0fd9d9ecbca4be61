// Animated WebP files: the first frame is shown, a cut-off animation fails,
// and a canvas beyond the bounds is refused before anything is allocated.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "picture/raster.h"
#include "tests/picture/raster_compare.h"
#include "tests/support/picture_fixtures.h"

namespace peloria {
namespace {

using testing::MakeAnimatedWebP;
using testing::Pixels;

using testing::MaxDifference;
using testing::Span;

TEST(WebPDecoderTest, AnimatedFileShowsItsFirstFrame) {
  const Pixels first = testing::Gradient(40, 30, true);
  const Pixels second = testing::Quadrants(40, 30);
  const std::string file = MakeAnimatedWebP({first, second});
  ASSERT_NE(file.find("ANMF"), std::string::npos);
  TBitmap bitmap;
  DecodeWebP(Span(file), bitmap);
  ASSERT_EQ(bitmap.Width(), 40);
  ASSERT_EQ(bitmap.Height(), 30);
  EXPECT_EQ(MaxDifference(bitmap, first), 0);
}

TEST(WebPDecoderTest, CutOffOrOversizedAnimationsFail) {
  const std::string file =
      MakeAnimatedWebP({testing::Quadrants(40, 30), testing::Gradient(40, 30)});
  TBitmap bitmap;
  // Cut inside the first frame, between the frames, inside the last one.
  for (const std::size_t keep :
       {std::size_t{40}, file.size() / 3, file.size() / 2, file.size() - 10}) {
    EXPECT_THROW(DecodeWebP(Span(file.substr(0, keep)), bitmap), EInvalidGraphic) << keep;
  }
  EXPECT_EQ(bitmap.Width(), 0);
  // The canvas in the VP8X header (24 bits each of width - 1 and height - 1,
  // at 24) made 16384 x 16384: the decoder's canvases alone would take 2 GiB.
  std::string large = file;
  ASSERT_EQ(large.compare(12, 4, "VP8X"), 0);
  large.replace(24, 6, std::string("\xFF\x3F\x00\xFF\x3F\x00", 6));
  EXPECT_THROW(DecodeWebP(Span(large), bitmap), EOutOfResources);
  EXPECT_EQ(bitmap.Width(), 0);
}

}  // namespace
}  // namespace peloria
