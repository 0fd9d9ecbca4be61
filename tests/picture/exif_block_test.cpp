#include "picture/exif_block.h"

#include <gtest/gtest.h>

#include "tests/support/jpeg_fixtures.h"
#include "tests/support/picture_fixtures.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tiff_writer.h"

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
    tiff.model = "Camera";
    tiff.fNumberTimesTen = 28;  // an Exif directory
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

// A TIFF file's own first directory is Exif data only when it points at an
// Exif directory or holds shooting tags itself: a scan's Make and Model
// (or libtiff's own directory) are not, and give no block.
TEST(ExifBlockTest, TiffIsAnExifBlockOnlyWithExifData) {
  const testing::Pixels pixels = testing::Quadrants(8, 6);
  const auto withIfd0Tag = [](bool motorola, std::uint16_t tag) {
    testing::TiffWriter w(motorola ? testing::ByteOrder::kMotorola : testing::ByteOrder::kIntel);
    w.Long(w.Ifd0(), 256, {8});
    w.Rational(w.Ifd0(), tag, {{28, 10}});
    return w.Build();
  };
  for (const bool motorola : {false, true}) {
    SCOPED_TRACE(motorola ? "MM" : "II");
    testing::TiffOptions scan;
    scan.motorola = motorola;
    scan.model = "Scanner";
    testing::TiffOptions camera = scan;
    camera.fNumberTimesTen = 40;
    struct Row {
      const char* name;
      std::string file;
      bool block;
    };
    const Row rows[] = {
        {"scan with Make and Model", testing::MakeTiff(pixels, scan), false},
        {"Exif directory", testing::MakeTiff(pixels, camera), true},
        {"FNumber in the first directory", withIfd0Tag(motorola, 0x829D), true},
        {"only an X resolution", withIfd0Tag(motorola, 0x011A), false},
    };
    for (const Row& row : rows) {
      EXPECT_EQ(Text(ExifBlockOf(Span(row.file))), row.block ? row.file : "(none)") << row.name;
    }
  }
  EXPECT_EQ(Text(ExifBlockOf(Span(testing::MakeTiledTiff(pixels)))), "(none)") << "libtiff";
  // A directory offset or entry count beyond the file holds nothing.
  std::string cut = withIfd0Tag(false, 0x829D);
  EXPECT_EQ(Text(ExifBlockOf(Span(cut.substr(0, 12)))), "(none)");
  cut.replace(4, 4, std::string("\xF0\xFF\xFF\x00", 4));
  EXPECT_EQ(Text(ExifBlockOf(Span(cut))), "(none)");
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
