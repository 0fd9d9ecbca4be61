#include "picture/exif_block.h"

#include <gtest/gtest.h>

#include "tests/support/jpeg_fixtures.h"
#include "tests/support/picture_fixtures.h"
#include "tests/support/temp_dir.h"

namespace peloria {
namespace {

using testing::ContainerOptions;

std::span<const std::uint8_t> Span(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string Text(const std::optional<std::vector<std::uint8_t>>& block) {
  return block ? std::string(block->begin(), block->end()) : "(none)";
}

ContainerOptions Exif(const std::string& block, bool prefix = false, bool late = false) {
  ContainerOptions options;
  options.exif = block;
  options.exifPrefix = prefix;
  options.exifLate = late;
  return options;
}

TEST(ExifBlockTest, EveryContainerGivesItsTiffBlockInBothByteOrders) {
  const testing::Pixels pixels = testing::Quadrants(64, 48);
  for (const bool motorola : {false, true}) {
    const std::string block = testing::ExifBlock(motorola, 6);
    const std::pair<const char*, std::string> rows[] = {
        {"PNG, eXIf before the image", testing::MakePng(pixels, Exif(block))},
        {"PNG, eXIf after the image", testing::MakePng(pixels, Exif(block, false, true))},
        {"WebP", testing::MakeWebP(pixels, Exif(block))},
        {"WebP with Exif header", testing::MakeWebP(pixels, Exif(block, true))},
        {"WebP lossy with alpha",
         [&] {
           ContainerOptions o = Exif(block);
           o.lossless = false;
           return testing::MakeWebP(testing::Gradient(16, 16, true), o);
         }()},
        {"HEIC", testing::MakeHeif(pixels, Exif(block))},
    };
    for (const auto& [name, file] : rows) {
      EXPECT_EQ(Text(ExifBlockOf(Span(file))), block) << name << (motorola ? " MM" : " II");
    }
    testing::TiffOptions tiff;
    tiff.motorola = motorola;
    tiff.model = "Scanner";
    const std::string tiffFile = testing::MakeTiff(pixels, tiff);
    EXPECT_EQ(Text(ExifBlockOf(Span(tiffFile))), tiffFile);
  }
}

TEST(ExifBlockTest, NoBlockWithoutExifOrForOtherKinds) {
  const testing::Pixels pixels = testing::Quadrants(8, 6);
  std::string badLength = testing::MakePng(pixels, Exif(testing::ExifBlock(false, 1)));
  badLength[33] = '\x7F';  // the eXIf chunk's length runs past the end
  const std::pair<const char*, std::string> rows[] = {
      {"PNG without eXIf", testing::MakePng(pixels)},
      {"WebP without EXIF", testing::MakeWebP(pixels)},
      {"HEIC without Exif", testing::MakeHeif(testing::Quadrants(64, 48))},
      {"eXIf without a TIFF header", testing::MakePng(pixels, Exif("Exif\0\0nothing here"))},
      {"eXIf length beyond the file", badLength},
      {"JPEG", testing::MakeJpeg(testing::JpegRecipe{})},
      {"GIF", testing::MakeGif(pixels)},
      {"text", "II* is not enough"},
      {"empty", ""},
  };
  for (const auto& [name, file] : rows) {
    EXPECT_EQ(Text(ExifBlockOf(Span(file))), "(none)") << name;
  }
}

TEST(ExifBlockTest, ReadsFilesByTheirContent) {
  testing::TempDir dir;
  const std::string block = testing::ExifBlock(true, 3);
  const std::string path =
      dir.Write("named.jpg", testing::MakePng(testing::Quadrants(8, 6), Exif(block)));
  EXPECT_EQ(Text(ReadExifBlock(path)), block);
  EXPECT_EQ(Text(ReadExifBlock(dir.cp932() + "/missing.png")), "(none)");
  EXPECT_EQ(Text(ReadExifBlock(dir.cp932())), "(none)");
}

}  // namespace
}  // namespace peloria
