// JPEG XL beyond what every kind decoded at load shares (raster_test.cpp):
// headers declaring huge pictures, the Exif box plain and compressed, and
// which orientation turns the picture.
#include <gtest/gtest.h>

#include <string>

#include "picture/exif_block.h"
#include "picture/formats.h"
#include "picture/picture_limits.h"
#include "picture/raster.h"
#include "tests/picture/raster_compare.h"
#include "tests/support/jpeg_fixtures.h"
#include "tests/support/picture_fixtures.h"
#include "tests/support/tiff_writer.h"

namespace peloria {
namespace {

using testing::Span;

// A container's options (designated initializers trip
// -Wmissing-field-initializers).
testing::JxlOptions Container(std::string exif = {}, int effort = 0) {
  testing::JxlOptions options;
  options.container = true;
  options.exif = std::move(exif);
  options.effort = effort;
  return options;
}

// A bare codestream of `width` x `height` that ends after its header: the
// signature, the size header and all-default image metadata, written as
// the codestream's bit fields (least significant bit first).
std::string HeaderOnly(std::uint32_t width, std::uint32_t height) {
  std::string bytes;
  int used = 0;
  const auto put = [&](std::uint64_t value, int count) {
    for (int i = 0; i < count; ++i, ++used) {
      if (used % 8 == 0) bytes.push_back(0);
      bytes.back() = static_cast<char>(bytes.back() | ((value >> i & 1) << (used % 8)));
    }
  };
  put(0xFF, 8);
  put(0x0A, 8);
  put(0, 1);  // not a small size
  put(3, 2);  // height - 1 in 30 bits
  put(height - 1, 30);
  put(0, 3);  // no aspect ratio: the width follows
  put(3, 2);
  put(width - 1, 30);
  put(1, 1);  // all-default metadata
  return bytes + std::string(16, '\0');
}

// Beyond the bitmap's bound (1.2 GB at 20000 x 20000), and within it but
// beyond the decoder's working memory (12000 x 12000: 432 MB of bitmap,
// 1.7 GB of libjxl's 32-bit channels): refused from the header, before
// libjxl reads further, also inside a container.
TEST(JxlDecoderTest, HugeDeclaredSizesAreRefusedFromTheHeader) {
  const std::string container = testing::MakeJxl(testing::Quadrants(8, 8), Container());
  for (const auto& [width, height] : {std::pair{20000u, 20000u}, {12000u, 12000u}}) {
    const std::string bare = HeaderOnly(width, height);
    const std::string boxed = container.substr(0, 32) + std::string("\0\0\0", 3) +
                              static_cast<char>(8 + bare.size()) + "jxlc" + bare;
    for (const std::string& file : {bare, boxed}) {
      TBitmap bitmap;
      try {
        DecodeJxl(Span(file), bitmap);
        FAIL() << "decoded";
      } catch (const EOutOfResources& e) {
        EXPECT_NE(std::string(e.what()).find(std::to_string(width)), std::string::npos);
      } catch (const EInvalidGraphic& e) {
        FAIL() << "refused for another reason: " << e.what();
      }
      EXPECT_EQ(bitmap.Width(), 0);
    }
  }
  // The same header at a sound size gets past the bounds and fails only
  // where the picture data should begin.
  TBitmap bitmap;
  EXPECT_THROW(DecodeJxl(Span(HeaderOnly(64, 48)), bitmap), EInvalidGraphic);
}

TEST(JxlDecoderTest, ExifFromAPlainOrACompressedBox) {
  const std::string tiff = testing::ExifBlock(true, 1, "Jxl Cam");
  const std::string plain = testing::MakeJxl(testing::Quadrants(16, 16), Container(tiff));
  testing::JpegRecipe recipe;
  recipe.width = 32;
  recipe.height = 16;
  recipe.jfif = false;
  recipe.markers = {{0xE1, std::string("Exif\0\0", 6) + tiff}};
  const std::string brob = testing::JxlFromJpeg(testing::MakeJpeg(recipe));
  ASSERT_NE(brob.find("brob"), std::string::npos);
  for (const std::string& file : {plain, brob}) {
    const auto block = ExifBlockOf(Span(file));
    ASSERT_TRUE(block.has_value());
    EXPECT_EQ(std::string(block->begin(), block->end()), tiff);
    // Cut before the box ends: none, and no failure.
    for (const std::size_t keep : {std::size_t{20}, std::size_t{40}, std::size_t{52}}) {
      EXPECT_FALSE(ExifBlockOf(Span(file.substr(0, keep))).has_value()) << keep;
    }
    EXPECT_NO_THROW(ExifBlockOf(Span(file.substr(0, file.size() / 2))));
  }
  // A bare codestream has no boxes; a container may have no Exif box, or
  // one whose data is no TIFF block.
  const testing::Pixels pixels = testing::Quadrants(8, 8);
  for (const std::string& file : {testing::MakeJxl(pixels), testing::MakeJxl(pixels, Container()),
                                  testing::MakeJxl(pixels, Container("not a TIFF block"))}) {
    EXPECT_FALSE(ExifBlockOf(Span(file)).has_value());
  }
}

// The largest block any container may give, and one byte more.
TEST(JxlDecoderTest, ExifBoxAtTheBlockLimit) {
  const std::string container = testing::MakeJxl(testing::Quadrants(8, 8), Container({}, 1));
  for (const std::size_t size : {kMaxExifBlockBytes, kMaxExifBlockBytes + 1}) {
    std::string tiff = testing::ExifBlock(false, 1);
    tiff.resize(size, '\0');
    const std::string file = testing::WithJxlBox(container, "Exif", std::string(4, '\0') + tiff);
    EXPECT_EQ(ExifBlockOf(Span(file)).has_value(), size == kMaxExifBlockBytes) << size;
  }
}

// Grey pictures come as one sample a pixel, repeated for blue, green and red.
TEST(JxlDecoderTest, GreyPicturesBecomeGreyRows) {
  testing::Pixels pixels = testing::Gradient(24, 16);
  for (std::uint32_t& p : pixels.argb) p = 0xFF000000u | (p >> 8 & 0xFF) * 0x010101u;
  testing::JxlOptions options;
  options.grey = true;
  TBitmap bitmap;
  DecodeJxl(Span(testing::MakeJxl(pixels, options)), bitmap);
  ASSERT_EQ(bitmap.Width(), 24);
  EXPECT_EQ(testing::MaxDifference(bitmap, pixels), 0);
}

// The codestream's orientation counts and libjxl applies it, so the kind is
// upright: a JPEG turned by its Exif orientation 6 keeps that turn when
// transcoded, while an Exif box beside a codestream without one turns
// nothing.
TEST(JxlDecoderTest, TheCodestreamsOrientationTurnsThePicture) {
  TBitmap bitmap;
  EXPECT_TRUE(TJxlImage().Upright());

  testing::TiffWriter exif(testing::ByteOrder::kIntel);
  exif.Short(exif.Ifd0(), 0x0112, {6});
  testing::JpegRecipe recipe;
  recipe.width = 64;
  recipe.height = 32;
  recipe.jfif = false;
  recipe.markers = {{0xE1, std::string("Exif\0\0", 6) + exif.Build()}};
  DecodeJxl(Span(testing::JxlFromJpeg(testing::MakeJpeg(recipe))), bitmap);
  ASSERT_EQ(bitmap.Width(), 32);
  ASSERT_EQ(bitmap.Height(), 64);
  // Turned clockwise: the stored top left corner is now at the top right.
  const testing::Rgb corner = testing::PatternColor(2, 2, 64, 32);
  const std::uint8_t* top = bitmap.RowData(2);
  EXPECT_NEAR(top[3 * 29 + 2], corner.r, 12);
  EXPECT_NEAR(top[3 * 29 + 1], corner.g, 12);

  const testing::Pixels pixels = testing::Gradient(64, 32);
  DecodeJxl(Span(testing::MakeJxl(pixels, Container(testing::ExifBlock(false, 6)))), bitmap);
  ASSERT_EQ(bitmap.Width(), 64);
  EXPECT_EQ(testing::MaxDifference(bitmap, pixels), 0);
}

}  // namespace
}  // namespace peloria
