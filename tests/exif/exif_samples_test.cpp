// Real camera files from the shared sample folder; skipped when it is absent.
// Expectations were checked against an independent dump of their raw entries.
#include <gtest/gtest.h>

#include <filesystem>

#include "exif/exif_info.h"
#include "platform/cp932.h"

namespace peloria {
namespace {

struct Sample {
  const char* file;
  bool motorola;
  const char* fNumberText;
  double fNumber;
  const char* exposureTime;
  const char* exposureBias;
  std::uint16_t iso;
  const char* focalLength;
  double focalLength35;
  const char* whiteBalance;     // UTF-8
  const char* exposureProgram;  // UTF-8
  std::int32_t pixelX, pixelY;
  const char* dateTimeOriginal;
  const char* model;
};

// Pentax_K10D.jpg keeps WhiteBalance (and other Exif tags) in IFD0, where
// they still count.
const Sample kSamples[] = {
    {"Canon_40D.jpg", false, "71/10", 7.1, "1/160", "0/1", 100, "135/1", 0, "自動", "マニュアル",
     100, 68, "2008:05:30 15:56:01", "Canon EOS 40D"},
    {"Canon_40D_photoshop_import.jpg", true, "", 0, "", "", 0, "", 0, "", "", 100, 77, "", ""},
    {"Fujifilm_FinePix_E500.jpg", true, "290/100", 2.9, "10/800", "0/100", 100, "470/100", 0,
     "自動", "プログラム", 59, 100, "2006:08:17 09:24:48", "FinePix E500   "},
    {"Konica_Minolta_DiMAGE_Z3.jpg", true, "28/10", 2.8, "1/40", "0/10", 200, "384000/65536", 35,
     "自動", "プログラム", 70, 100, "2005:03:10 15:10:48", "DiMAGE Z3"},
    {"Nikon_D70.jpg", false, "9/1", 9, "1/200", "-1/1", 200, "100/1", 150, "", "マニュアル", 100,
     66, "2008:03:15 09:52:01", "NIKON D70"},
    {"Olympus_C8080WZ.jpg", false, "28/10", 2.8, "10/1600", "0/167772160", 50, "158/10", 0, "自動",
     "プログラム", 100, 72, "2006:10:22 15:44:29", "C8080WZ"},
    {"Pentax_K10D.jpg", false, "110/10", 11, "1/180", "0/10", 200, "9000/100", 0, "自動",
     "絞り優先", 100, 72, "2008:05:04 16:47:24", "PENTAX K10D        "},
    {"Sony_HDR-HC3.jpg", false, "400/100", 4, "1/60", "0/100", 0, "51/10", 0, "自動", "プログラム",
     100, 64, "2007:06:15 04:42:32", "HDR-HC3"},
    {"long_description.jpg", true, "", 0, "", "", 0, "", 0, "", "", 100, 73, "", ""},
    {"PaintTool_sample.jpg", false, "", 0, "", "", 0, "", 0, "", "", 88, 100, "", ""},
};

std::string SamplePath(const char* file) {
  return std::string(PELORIA_SAMPLES_DIR) + "/" + file;
}

TEST(ExifSamplesTest, SummaryFields) {
  if (!std::filesystem::is_directory(PELORIA_SAMPLES_DIR)) GTEST_SKIP() << "no sample folder";
  for (const Sample& s : kSamples) {
    std::string path = SamplePath(s.file);
    if (!std::filesystem::exists(path)) continue;
    SCOPED_TRACE(s.file);
    TExifInfo info;
    ASSERT_TRUE(info.HasExif(path));
    info.SetImageFileName(path);
    EXPECT_EQ(info.MotorolaOrder(), s.motorola);
    EXPECT_EQ(info.FNumber.Text, s.fNumberText);
    EXPECT_DOUBLE_EQ(info.FNumber.Value, s.fNumber);
    EXPECT_EQ(info.ExposureTime.Text, s.exposureTime);
    EXPECT_EQ(info.ExposureBiasValue.Text, s.exposureBias);
    EXPECT_EQ(info.ISOSpeedRatings, s.iso);
    EXPECT_EQ(info.FocalLength.Text, s.focalLength);
    EXPECT_EQ(info.FocalLengthIn35mmFilm.Value, s.focalLength35);
    EXPECT_EQ(info.WhiteBalance.Text, Cp932(s.whiteBalance));
    EXPECT_EQ(info.ExposureProgram.Text, Cp932(s.exposureProgram));
    EXPECT_EQ(info.PixelXDimension, s.pixelX);
    EXPECT_EQ(info.PixelYDimension, s.pixelY);
    EXPECT_EQ(info.DateTimeOriginal, s.dateTimeOriginal);
    EXPECT_EQ(info.Model, s.model);
    EXPECT_EQ(info.Orientation, ioTopLeft);
  }
}

TEST(ExifSamplesTest, OtherFields) {
  std::string path = SamplePath("Canon_40D.jpg");
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no sample";
  TExifInfo info;
  info.SetImageFileName(path);
  EXPECT_EQ(info.Make, "Canon");
  EXPECT_EQ(info.ExifVersion, "0221");
  EXPECT_EQ(info.FlashpixVersion, "0100");
  EXPECT_EQ(info.XResolution.Text, "72/1");
  EXPECT_EQ(info.ResolutionUnit.Text, "inch");
  EXPECT_EQ(info.MeteringMode.Text, Cp932("マルチセグメント"));
  EXPECT_EQ(info.Flash.Value, 9);
  EXPECT_EQ(info.Flash.Text, "");
  EXPECT_EQ(info.ColorSpace.Text, "sRGB");
  EXPECT_EQ(info.ShutterSpeedValue.Text, "483328/65536");
  EXPECT_EQ(info.FocalPlaneResolutionUnit.Text, "inch");
  EXPECT_EQ(info.SubSecTimeOriginal, "00");
  EXPECT_EQ(info.Compression.Text, "JPEG");  // from the thumbnail IFD
  EXPECT_EQ(info.ThumbnailXResolution.Text, "72/1");
  EXPECT_EQ(info.JPEGInterchangeFormat, 1090);
  EXPECT_EQ(info.JPEGInterchangeFormatLength, 1378);
  ASSERT_EQ(info.UserComment.size(), 1u);  // all-zero code: one empty line
  EXPECT_EQ(info.UserComment[0], "");

  std::string fuji = SamplePath("Fujifilm_FinePix_E500.jpg");
  if (std::filesystem::exists(fuji)) {
    info.SetImageFileName(fuji);
    EXPECT_EQ(info.MakerNoteLength, 286);
    EXPECT_EQ(info.LightSource.Text, Cp932("不明"));
  }
  std::string description = SamplePath("long_description.jpg");
  if (std::filesystem::exists(description)) {
    info.SetImageFileName(description);
    EXPECT_EQ(info.ImageDescription.size(), 419u);
    EXPECT_EQ(info.ImageDescription.rfind("Operation Mountain Viper", 0), 0u);
  }
}

}  // namespace
}  // namespace peloria
