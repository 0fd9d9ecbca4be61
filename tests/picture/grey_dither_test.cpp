// Peloria dithers greyscale output itself (picture/grey_dither.cpp); its
// palette and indices must be libjpeg's own, which this test decodes the
// same files to with libjpeg's one-pass quantizer.
#include "picture/grey_dither.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "picture/bitmap.h"
#include "picture/jpeg.h"
#include "platform/stream.h"
#include "tests/support/jpeg_fixtures.h"

namespace peloria {
namespace {

using testing::JpegColor;
using testing::JpegRecipe;

// A picture as palette indices with its palette.
struct Indexed {
  std::vector<TRGBQuad> palette;
  std::vector<std::vector<std::uint8_t>> rows;
};

// The file decoded by libjpeg to 236 dithered greys, with the settings
// Peloria decodes greyscale output with at its best quality.
Indexed LibjpegDecode(const std::string& file, int divisor) {
  jpeg_decompress_struct ci{};
  jpeg_error_mgr err{};
  ci.err = jpeg_std_error(&err);
  jpeg_create_decompress(&ci);
  jpeg_mem_src(&ci, reinterpret_cast<const unsigned char*>(file.data()), file.size());
  jpeg_read_header(&ci, TRUE);
  ci.scale_num = 1;
  ci.scale_denom = static_cast<unsigned>(divisor);
  ci.do_block_smoothing = TRUE;
  ci.out_color_space = JCS_GRAYSCALE;
  ci.quantize_colors = TRUE;
  ci.desired_number_of_colors = 236;
  ci.dither_mode = JDITHER_FS;
  ci.dct_method = JDCT_FLOAT;
  jpeg_start_decompress(&ci);
  Indexed out;
  for (int i = 0; i < ci.actual_number_of_colors; ++i) {
    const std::uint8_t grey = ci.colormap[0][i];
    out.palette.push_back({grey, grey, grey, 0});
  }
  while (ci.output_scanline < ci.output_height) {
    std::vector<std::uint8_t> row(ci.output_width);
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&ci, rows, 1);
    out.rows.push_back(std::move(row));
  }
  jpeg_finish_decompress(&ci);
  jpeg_destroy_decompress(&ci);
  return out;
}

Indexed PeloriaDecode(const std::string& file, TJPEGScale scale) {
  TJPEGImage image;
  TMemoryStream stream(std::vector<std::uint8_t>(file.begin(), file.end()));
  image.LoadFromStream(stream);
  image.SetGrayscale(true);
  image.SetScale(scale);
  TBitmap copy;
  copy.Assign(&image);
  EXPECT_EQ(copy.BitsPerPixel(), 8);
  Indexed out;
  out.palette = copy.Palette();
  for (int y = 0; y < copy.Height(); ++y) {
    const std::uint8_t* row = copy.RowData(y);
    out.rows.emplace_back(row, row + copy.Width());
  }
  return out;
}

void ExpectSameAsLibjpeg(const JpegRecipe& recipe) {
  const std::string file = testing::MakeJpeg(recipe);
  for (const TJPEGScale scale :
       {TJPEGScale::jsFullSize, TJPEGScale::jsHalf, TJPEGScale::jsQuarter, TJPEGScale::jsEighth}) {
    SCOPED_TRACE(static_cast<int>(scale));
    const Indexed want = LibjpegDecode(file, 1 << static_cast<int>(scale));
    const Indexed got = PeloriaDecode(file, scale);
    ASSERT_EQ(got.palette, want.palette);
    ASSERT_EQ(got.rows.size(), want.rows.size());
    for (std::size_t y = 0; y < want.rows.size(); ++y) ASSERT_EQ(got.rows[y], want.rows[y]) << y;
  }
}

TEST(GreyDitherTest, PaletteIsLibjpegsColourMapOf236Greys) {
  const auto& levels = GreyDither::Levels();
  EXPECT_EQ(levels.front(), 0);
  EXPECT_EQ(levels.back(), 255);
  for (std::size_t i = 1; i < levels.size(); ++i) EXPECT_GT(levels[i], levels[i - 1]) << i;
}

// Gradients, near-flat narrow pictures and noise, in grey files and colour
// files decoded to grey, baseline and progressive, at every scale.
TEST(GreyDitherTest, PixelsAreLibjpegsFloydSteinbergDither) {
  struct Case {
    int width, height, noise;
    JpegColor color;
    bool progressive;
  };
  for (const Case& c :
       {Case{1, 300, 0, JpegColor::kGray, false}, Case{2, 301, 60, JpegColor::kGray, false},
        Case{3, 257, 0, JpegColor::kColor, false}, Case{5, 40, 90, JpegColor::kGray, true},
        Case{97, 203, 0, JpegColor::kGray, true}, Case{97, 203, 127, JpegColor::kGray, false},
        Case{333, 222, 30, JpegColor::kColor, false}, Case{250, 300, 0, JpegColor::kColor, true}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " noise " +
                 std::to_string(c.noise));
    JpegRecipe recipe = testing::ShapedRecipe(c.width, c.height, c.color, c.progressive);
    recipe.noise = c.noise;
    ExpectSameAsLibjpeg(recipe);
  }
}

// A flat picture keeps its grey where a level has it and alternates
// between the two nearest levels where none has.
TEST(GreyDitherTest, RowsDitherFlatGreysBetweenTheNearestLevels) {
  for (const int grey : {0, 12, 128, 255}) {
    GreyDither dither(7);
    const std::uint8_t* levels = GreyDither::Levels().data();
    for (int y = 0; y < 4; ++y) {
      std::vector<std::uint8_t> row(7, static_cast<std::uint8_t>(grey));
      dither.Row(row.data());
      for (const std::uint8_t index : row) EXPECT_LE(std::abs(levels[index] - grey), 1) << grey;
    }
  }
}

}  // namespace
}  // namespace peloria
