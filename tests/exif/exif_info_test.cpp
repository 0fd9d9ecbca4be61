#include "exif/exif_info.h"

#include <gtest/gtest.h>
#include <sys/file.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>

#include "platform/cp932.h"
#include "platform/exception.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tiff_writer.h"

namespace peloria {
namespace {

using testing::ByteOrder;
using testing::JpegOptions;
using testing::JpegWithExif;
using testing::TempDir;
using testing::TiffWriter;

// Tags used below.
constexpr std::uint16_t kInteropIndex = 0x0001, kImageWidth = 0x0100, kImageLength = 0x0101,
                        kCompression = 0x0103, kPhotometric = 0x0106, kDescription = 0x010E,
                        kMake = 0x010F, kModel = 0x0110, kOrientation = 0x0112, kSamples = 0x0115,
                        kXRes = 0x011A, kYRes = 0x011B, kPlanar = 0x011C, kResUnit = 0x0128,
                        kSoftware = 0x0131, kDateTime = 0x0132, kJpegOffset = 0x0201,
                        kJpegLength = 0x0202, kRelatedWidth = 0x1001, kRelatedLength = 0x1002,
                        kCopyright = 0x8298, kExposureTime = 0x829A, kFNumber = 0x829D,
                        kExifPointer = 0x8769, kExposureProgram = 0x8822, kIso = 0x8827,
                        kExifVersion = 0x9000, kDateTimeOriginal = 0x9003,
                        kDateTimeDigitized = 0x9004, kCompressedBits = 0x9102, kShutter = 0x9201,
                        kAperture = 0x9202, kBrightness = 0x9203, kBias = 0x9204,
                        kMaxAperture = 0x9205, kDistance = 0x9206, kMetering = 0x9207,
                        kLight = 0x9208, kFlash = 0x9209, kFocalLength = 0x920A,
                        kMakerNote = 0x927C, kUserComment = 0x9286, kSubSec = 0x9290,
                        kSubSecOriginal = 0x9291, kSubSecDigitized = 0x9292, kFlashpix = 0xA000,
                        kColorSpace = 0xA001, kPixelX = 0xA002, kPixelY = 0xA003,
                        kSoundFile = 0xA004, kInteropPointer = 0xA005, kPlaneXRes = 0xA20E,
                        kPlaneYRes = 0xA20F, kPlaneUnit = 0xA210, kExposureIndex = 0xA215,
                        kSensing = 0xA217, kWhiteBalance = 0xA403, kFocal35 = 0xA405;

const char* OrderName(const ::testing::TestParamInfo<ByteOrder>& info) {
  return info.param == ByteOrder::kMotorola ? "Motorola" : "Intel";
}

class ExifTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes, const std::string& name = "p.jpg") {
    return dir_.Write(name, bytes);
  }
  // Parses `bytes` as a file with `info`.
  void Parse(TExifInfo& info, const std::string& bytes) { info.SetImageFileName(Write(bytes)); }

  TempDir dir_;
};

// ---------------------------------------------------------------------------
// Header search

TEST_F(ExifTest, HeaderSearch) {
  TiffWriter w(ByteOrder::kIntel);
  w.Ascii(w.Ifd0(), kModel, "M");
  const std::string tiff = w.Build();
  auto header = [](const std::string& six) { return JpegOptions().ExifHeader(six); };
  auto padded = [](int n) { return JpegOptions().Padding(std::string(n, '\0')); };
  struct Row {
    const char* name;
    std::string file;
    std::int32_t searchRange;
    bool found;
  };
  const Row rows[] = {
      {"APP1 at offset 2", JpegWithExif(tiff), 32, true},
      {"JFIF APP0, APP1 at 20", JpegWithExif(tiff, JpegOptions().Jfif()), 32, true},
      {"APP1 at 31", JpegWithExif(tiff, padded(29)), 32, true},
      {"APP1 at 32", JpegWithExif(tiff, padded(30)), 32, false},
      {"APP1 at 32, range 33", JpegWithExif(tiff, padded(30)), 33, true},
      {"APP1 at 300, range 1000", JpegWithExif(tiff, padded(298)), 1000, true},
      {"range 0 tries offset 2", JpegWithExif(tiff), 0, true},
      {"range 0, APP1 at 3", JpegWithExif(tiff, padded(1)), 0, false},
      {"range -5 tries offset 2", JpegWithExif(tiff), -5, true},
      {"range 4, APP1 at 3", JpegWithExif(tiff, padded(1)), 4, true},
      {"range 4, APP1 at 4", JpegWithExif(tiff, padded(2)), 4, false},
      {"EXIF upper case", JpegWithExif(tiff, header(std::string("EXIF\0\0", 6))), 32, true},
      {"any sixth byte", JpegWithExif(tiff, header(std::string("exif\0X", 6))), 32, true},
      {"non-zero fifth byte", JpegWithExif(tiff, header("ExifXX")), 32, false},
      {"other name", JpegWithExif(tiff, header(std::string("Exi\0\0\0", 6))), 32, false},
      {"XMP APP1", JpegWithExif(tiff, header("http:/")), 32, false},
      {"no SOI", JpegWithExif(tiff, JpegOptions().Soi("\xFF\xD9")), 32, false},
      {"PNG", "\x89PNG\r\n\x1a\n" + tiff, 32, false},
      {"empty file", "", 32, false},
      {"one byte", "\xFF", 32, false},
      {"SOI only", "\xFF\xD8", 32, false},
      {"marker at the end", "\xFF\xD8\xFF\xE1", 32, false},
      {"header cut",
       std::string("\xFF\xD8\xFF\xE1\x00\x08"
                   "Exif\0",
                   11),
       32, false},
      {"header whole, no TIFF",
       std::string("\xFF\xD8\xFF\xE1\x00\x08"
                   "Exif\0\0",
                   12),
       32, true},
      {"marker pair split", "\xFF\xD8\xFF\x00\xE1", 32, false},
  };
  for (const auto& r : rows) {
    std::string path = Write(r.file);
    TExifInfo info;
    info.SearchRange = r.searchRange;
    EXPECT_EQ(info.HasExif(path), r.found) << r.name;
  }
}

TEST_F(ExifTest, HasExifNeverRaises) {
  TExifInfo info;
  EXPECT_FALSE(info.HasExif(""));
  EXPECT_FALSE(info.HasExif(dir_.cp932() + "/missing.jpg"));
  EXPECT_FALSE(info.HasExif(dir_.cp932()));  // a folder
  // A file held exclusively by another opener.
  std::string path = Write(JpegWithExif(TiffWriter(ByteOrder::kIntel).Build()));
  ASSERT_TRUE(info.HasExif(path));
  int fd = ::open(Utf8(path).c_str(), O_RDONLY);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EXPECT_FALSE(info.HasExif(path));
  ::close(fd);
  EXPECT_TRUE(info.HasExif(path));
}

TEST_F(ExifTest, HasExifTouchesNoResult) {
  TiffWriter w(ByteOrder::kMotorola);
  w.Ascii(w.Ifd0(), kModel, "First");
  TExifInfo info;
  Parse(info, JpegWithExif(w.Build()));
  ASSERT_EQ(info.Model, "First");
  ASSERT_TRUE(info.MotorolaOrder());
  TiffWriter other(ByteOrder::kIntel);
  other.Ascii(other.Ifd0(), kModel, "Second");
  EXPECT_TRUE(info.HasExif(Write(JpegWithExif(other.Build()), "other.jpg")));
  EXPECT_EQ(info.Model, "First");
  EXPECT_TRUE(info.MotorolaOrder());
}

TEST_F(ExifTest, MissingHeaderCallsOnReadErrorWithTheComponent) {
  TExifInfo info;
  int calls = 0;
  info.OnReadError = [&](TExifInfo& sender) {
    EXPECT_EQ(&sender, &info);
    ++calls;
  };
  std::string path = Write("not a jpeg at all");
  EXPECT_NO_THROW(info.SetImageFileName(path));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(info.ImageFileName(), path);
  info.SetImageFileName(dir_.cp932() + "/missing.jpg");
  EXPECT_EQ(calls, 2);

  // Without a handler nothing happens.
  TExifInfo quiet;
  EXPECT_NO_THROW(quiet.SetImageFileName(path));
}

TEST_F(ExifTest, DoReadErrorCanBeOverridden) {
  struct Counting : TExifInfo {
    int errors = 0;
    void DoReadError() override { ++errors; }
  } info;
  info.SetImageFileName(Write("xx"));
  EXPECT_EQ(info.errors, 1);
}

TEST_F(ExifTest, ClearDataResetsResultsAndKeepsTheRest) {
  TiffWriter w(ByteOrder::kMotorola);
  w.Ascii(w.Ifd0(), kModel, "Cam");
  w.Short(w.Ifd0(), kOrientation, {6});
  w.Rational(w.ExifIfd(), kFNumber, {{28, 10}});
  w.Undefined(w.ExifIfd(), kUserComment, std::string("ASCII\0\0\0hi", 10));
  TExifInfo info;
  info.SearchRange = 40;
  Parse(info, JpegWithExif(w.Build()));
  ASSERT_EQ(info.Model, "Cam");
  ASSERT_EQ(info.UserComment.size(), 1u);
  std::string name = info.ImageFileName();

  info.ClearData();
  EXPECT_EQ(info.Model, "");
  EXPECT_EQ(info.Orientation, ioUnknown);
  EXPECT_EQ(info.FNumber.Text, "");
  EXPECT_EQ(info.FNumber.Value, 0.0);
  EXPECT_TRUE(info.UserComment.empty());
  EXPECT_EQ(info.ImageFileName(), name);
  EXPECT_EQ(info.SearchRange, 40);
  EXPECT_TRUE(info.MotorolaOrder());

  // The next assignment starts from empty fields; a file without Exif keeps
  // the byte order of the last walk.
  Parse(info, JpegWithExif(w.Build()));
  EXPECT_EQ(info.UserComment.size(), 1u);
  Parse(info, "no exif");
  EXPECT_EQ(info.Model, "");
  EXPECT_TRUE(info.MotorolaOrder());
}

// ---------------------------------------------------------------------------
// A complete file in both byte orders

class ExifOrderTest : public ExifTest, public ::testing::WithParamInterface<ByteOrder> {};

// A block with every known tag in IFD0, the Exif, Interoperability and
// thumbnail directories.
std::string EveryTagBlock(ByteOrder order) {
  TiffWriter w(order);
  int ifd0 = w.Ifd0(), exif = w.ExifIfd(), ifd1 = w.Ifd1(), interop = w.InteropIfd();
  w.Ascii(ifd0, kDescription, "A view");
  w.Ascii(ifd0, kMake, "Maker");
  w.Ascii(ifd0, kModel, "Model X ");
  w.Short(ifd0, kOrientation, {3});
  w.Rational(ifd0, kXRes, {{72, 1}});
  w.Rational(ifd0, kYRes, {{300, 2}});
  w.Short(ifd0, kResUnit, {2});
  w.Ascii(ifd0, kSoftware, "Soft 1.0");
  w.Ascii(ifd0, kDateTime, "2024:01:02 03:04:05");
  w.Ascii(ifd0, kCopyright, "(c) me");
  w.Short(ifd0, kSamples, {3});
  w.Short(ifd0, kPlanar, {1});
  w.Short(ifd0, kPhotometric, {2});
  w.Rational(exif, kExposureTime, {{1, 60}});
  w.Rational(exif, kFNumber, {{28, 10}});
  w.Short(exif, kExposureProgram, {2});
  w.Short(exif, kIso, {400});
  w.Undefined(exif, kExifVersion, "0221");
  w.Ascii(exif, kDateTimeOriginal, "2024:01:02 03:04:06");
  w.Ascii(exif, kDateTimeDigitized, "2024:01:02 03:04:07");
  w.Rational(exif, kCompressedBits, {{4, 1}});
  w.SRational(exif, kShutter, {{-483328, 65536}});
  w.Rational(exif, kAperture, {{368640, 65536}});
  w.SRational(exif, kBrightness, {{-5, 2}});
  w.SRational(exif, kBias, {{-2, 3}});
  w.Rational(exif, kMaxAperture, {{3, 1}});
  w.Rational(exif, kDistance, {{15, 10}});
  w.Short(exif, kMetering, {5});
  w.Short(exif, kLight, {9});
  w.Short(exif, kFlash, {7});
  w.Rational(exif, kFocalLength, {{384000, 65536}});
  w.Undefined(exif, kMakerNote, std::string(40, 'm'));
  w.Undefined(exif, kUserComment, std::string("ASCII\0\0\0Hello\0\0\0", 16));
  w.Ascii(exif, kSubSec, "12");
  w.Ascii(exif, kSubSecOriginal, "34");
  w.Ascii(exif, kSubSecDigitized, "56");
  w.Undefined(exif, kFlashpix, "0100");
  w.Short(exif, kColorSpace, {65535});
  w.Long(exif, kPixelX, {4000});
  w.Short(exif, kPixelY, {3000});
  w.Ascii(exif, kSoundFile, "SND00001.WAV");
  w.Rational(exif, kPlaneXRes, {{3888000, 876}});
  w.Rational(exif, kPlaneYRes, {{2592000, 583}});
  w.Short(exif, kPlaneUnit, {3});
  w.Short(exif, kSensing, {2});
  w.Short(exif, kWhiteBalance, {1});
  w.Short(exif, kFocal35, {35});
  w.Short(ifd1, kCompression, {6});
  w.Short(ifd1, kOrientation, {8});
  w.Rational(ifd1, kXRes, {{180, 1}});
  w.Rational(ifd1, kYRes, {{181, 1}});
  w.Short(ifd1, kResUnit, {3});
  w.Long(ifd1, kJpegOffset, {5000});
  w.Long(ifd1, kJpegLength, {1234});
  w.Ascii(interop, kInteropIndex, "R98");

  return w.Build();
}

TEST_P(ExifOrderTest, EveryTagFillsItsField) {
  TExifInfo info;
  Parse(info, JpegWithExif(EveryTagBlock(GetParam()), JpegOptions().Jfif()));
  EXPECT_EQ(info.MotorolaOrder(), GetParam() == ByteOrder::kMotorola);
  EXPECT_EQ(info.ImageDescription, "A view");
  EXPECT_EQ(info.Make, "Maker");
  EXPECT_EQ(info.Model, "Model X ");
  EXPECT_EQ(info.Orientation, ioBottomRight);
  EXPECT_EQ(info.XResolution.Text, "72/1");
  EXPECT_EQ(info.XResolution.Value, 72.0);
  EXPECT_EQ(info.YResolution.Text, "300/2");
  EXPECT_EQ(info.YResolution.Value, 150.0);
  EXPECT_EQ(info.ResolutionUnit.Text, "inch");
  EXPECT_EQ(info.ResolutionUnit.Value, 2);
  EXPECT_EQ(info.Software, "Soft 1.0");
  EXPECT_EQ(info.DateTime, "2024:01:02 03:04:05");
  EXPECT_EQ(info.Copyright, "(c) me");
  EXPECT_EQ(info.SamplesPerPixel, 3);
  EXPECT_EQ(info.PlanarConfiguration, 1);
  EXPECT_EQ(info.PhotometricInterpretation.Text, "RGB");
  EXPECT_EQ(info.ExposureTime.Text, "1/60");
  EXPECT_DOUBLE_EQ(info.ExposureTime.Value, 1.0 / 60);
  EXPECT_EQ(info.FNumber.Text, "28/10");
  EXPECT_DOUBLE_EQ(info.FNumber.Value, 2.8);
  EXPECT_EQ(info.ExposureProgram.Text, Cp932("プログラム"));
  EXPECT_EQ(info.ExposureProgram.Value, 2);
  EXPECT_EQ(info.ISOSpeedRatings, 400);
  EXPECT_EQ(info.ExifVersion, "0221");
  EXPECT_EQ(info.DateTimeOriginal, "2024:01:02 03:04:06");
  EXPECT_EQ(info.DateTimeDigitized, "2024:01:02 03:04:07");
  EXPECT_EQ(info.CompressedBitsPerPixel.Value, 4.0);
  EXPECT_EQ(info.ShutterSpeedValue.Text, "-483328/65536");
  EXPECT_EQ(info.ShutterSpeedValue.Value, -7.375);
  EXPECT_EQ(info.ApertureValue.Value, 5.625);
  EXPECT_EQ(info.BrightnessValue.Text, "-5/2");
  EXPECT_EQ(info.ExposureBiasValue.Text, "-2/3");
  EXPECT_DOUBLE_EQ(info.ExposureBiasValue.Value, -2.0 / 3);
  EXPECT_EQ(info.MaxApertureValue.Text, "3/1");
  EXPECT_EQ(info.SubjectDistance.Value, 1.5);
  EXPECT_EQ(info.MeteringMode.Text, Cp932("マルチセグメント"));
  EXPECT_EQ(info.LightSource.Text, Cp932("晴天"));
  EXPECT_EQ(info.Flash.Text, Cp932("発光(反射光検出)"));
  EXPECT_EQ(info.FocalLength.Text, "384000/65536");
  EXPECT_DOUBLE_EQ(info.FocalLength.Value, 5.859375);
  EXPECT_EQ(info.MakerNoteLength, 40);
  EXPECT_GT(info.MakerNoteOffset, 30);
  ASSERT_EQ(info.UserComment.size(), 1u);
  EXPECT_EQ(info.UserComment[0], "Hello");
  EXPECT_EQ(info.SubSecTime, "12");
  EXPECT_EQ(info.SubSecTimeOriginal, "34");
  EXPECT_EQ(info.SubSecTimeDigitized, "56");
  EXPECT_EQ(info.FlashpixVersion, "0100");
  EXPECT_EQ(info.ColorSpace.Text, "Uncalibrated");
  EXPECT_EQ(info.ColorSpace.Value, 65535);
  EXPECT_EQ(info.PixelXDimension, 4000);
  EXPECT_EQ(info.PixelYDimension, 3000);
  EXPECT_EQ(info.RelatedSoundFile, "SND00001.WAV");
  EXPECT_EQ(info.FocalPlaneXResolution.Text, "3888000/876");
  EXPECT_EQ(info.FocalPlaneYResolution.Text, "2592000/583");
  EXPECT_EQ(info.FocalPlaneResolutionUnit.Text, "cm");
  EXPECT_EQ(info.SensingMethod.Text, Cp932("1チップカラーエリアセンサ"));
  EXPECT_EQ(info.WhiteBalance.Text, Cp932("マニュアル"));
  EXPECT_EQ(info.FocalLengthIn35mmFilm.Value, 35.0);
  EXPECT_EQ(info.FocalLengthIn35mmFilm.Text, "");
  // The thumbnail IFD, reached through IFD0's next-IFD link.
  EXPECT_EQ(info.Compression.Text, "JPEG");
  EXPECT_EQ(info.ThumbnailOrientation, ioLeftBottom);
  EXPECT_EQ(info.ThumbnailXResolution.Text, "180/1");
  EXPECT_EQ(info.ThumbnailYResolution.Value, 181.0);
  EXPECT_EQ(info.ThumbnailResolutionUnit.Text, "cm");
  EXPECT_EQ(info.JPEGInterchangeFormat, 5000);
  EXPECT_EQ(info.JPEGInterchangeFormatLength, 1234);
}

TEST_P(ExifOrderTest, MakerNotePositionIsAbsolute) {
  TiffWriter w(GetParam());
  w.AddRawField(w.ExifIfd(), kMakerNote, 7, 1000, 0x200);
  TExifInfo info;
  Parse(info, JpegWithExif(w.Build()));
  EXPECT_EQ(info.MakerNoteLength, 1000);
  EXPECT_EQ(info.MakerNoteOffset, 0x20C);  // TIFF header at file offset 12
}

TEST_P(ExifOrderTest, UserCommentByType) {
  struct Row {
    const char* name;
    std::function<void(TiffWriter&, int)> add;
    std::vector<std::string> lines;
  };
  const std::string unicodeA =
      GetParam() == ByteOrder::kMotorola ? std::string("\0A", 2) : std::string("A\0", 2);
  const Row rows[] = {
      {"ascii code",
       [](TiffWriter& w, int i) {
         w.Undefined(i, kUserComment, std::string("ASCII\0\0\0Hello\0\0\0", 16));
       },
       {"Hello"}},
      {"all-zero code",
       [](TiffWriter& w, int i) { w.Undefined(i, kUserComment, std::string(8, '\0') + "    "); },
       {""}},
      {"count 0", [](TiffWriter& w, int i) { w.Undefined(i, kUserComment, ""); }, {}},
      {"unicode",
       [&](TiffWriter& w, int i) {
         w.Undefined(i, kUserComment, std::string("UNICODE\0", 8) + unicodeA);
       },
       {"A"}},
      {"unicode with big-endian mark",
       [](TiffWriter& w, int i) {
         w.Undefined(i, kUserComment, std::string("UNICODE\0\xFE\xFF\0K\0O", 14));
       },
       {"KO"}},
      {"jis",
       [](TiffWriter& w, int i) {
         w.Undefined(i, kUserComment, std::string("JIS\0\0\0\0\0\x1B$B0!\x1B(B", 16));
       },
       {"\x88\x9F"}},
      {"byte", [](TiffWriter& w, int i) { w.Byte(i, kUserComment, {200}); }, {"200"}},
      {"short", [](TiffWriter& w, int i) { w.Short(i, kUserComment, {65535}); }, {"65535"}},
      {"long",
       [](TiffWriter& w, int i) { w.Long(i, kUserComment, {4294967295u}); },
       {"4294967295"}},
      {"ascii", [](TiffWriter& w, int i) { w.Ascii(i, kUserComment, "plain"); }, {"plain"}},
      {"rational",
       [](TiffWriter& w, int i) {
         w.Rational(i, kUserComment, {{1, 3}});
       },
       {"1/3"}},
      {"srational",
       [](TiffWriter& w, int i) {
         w.SRational(i, kUserComment, {{-1, 3}});
       },
       {"-1/3"}},
      {"sbyte", [](TiffWriter& w, int i) { w.SByte(i, kUserComment, {-5}); }, {"-5"}},
      {"sshort", [](TiffWriter& w, int i) { w.SShort(i, kUserComment, {-1}); }, {"-1"}},
      {"slong", [](TiffWriter& w, int i) { w.SLong(i, kUserComment, {-70000}); }, {"-70000"}},
      {"float", [](TiffWriter& w, int i) { w.Float(i, kUserComment, {0.5f}); }, {"0.5"}},
      {"double",
       [](TiffWriter& w, int i) { w.Double(i, kUserComment, {1.0 / 3}); },
       {"0.333333333333333"}},
      {"unknown type", [](TiffWriter& w, int i) { w.AddRaw(i, kUserComment, 13, 1, "abcd"); }, {}},
      {"two entries",
       [](TiffWriter& w, int i) {
         w.Ascii(i, kUserComment, "one");
         w.Ascii(i, kUserComment, "two");
       },
       {"one", "two"}},
  };
  for (const auto& r : rows) {
    TiffWriter w(GetParam());
    r.add(w, w.ExifIfd());
    TExifInfo info;
    Parse(info, JpegWithExif(w.Build()));
    EXPECT_EQ(info.UserComment, r.lines) << r.name;
  }
}

// Coded values: the first and last row of each table, codes beside and
// between rows (no text, the code kept).
TEST_P(ExifOrderTest, ValueTables) {
  struct Row {
    std::uint16_t tag;
    std::uint16_t code;
    TExifStringValue TExifResults::*field;
    const char* text;  // UTF-8
  };
  using R = TExifResults;
  const Row rows[] = {
      {kCompression, 1, &R::Compression, "非圧縮"},
      {kCompression, 7, &R::Compression, ""},
      {kPhotometric, 2, &R::PhotometricInterpretation, "RGB"},
      {kPhotometric, 1, &R::PhotometricInterpretation, ""},
      {kPlaneUnit, 2, &R::FocalPlaneResolutionUnit, "inch"},
      {kPlaneUnit, 3, &R::FocalPlaneResolutionUnit, "cm"},
      {kPlaneUnit, 4, &R::FocalPlaneResolutionUnit, ""},
      {kExposureProgram, 0, &R::ExposureProgram, "未定義"},
      {kExposureProgram, 2, &R::ExposureProgram, "プログラム"},
      {kExposureProgram, 8, &R::ExposureProgram, "風景"},
      {kExposureProgram, 9, &R::ExposureProgram, ""},
      {kMetering, 0, &R::MeteringMode, "不明"},
      {kMetering, 6, &R::MeteringMode, "部分測光"},
      {kMetering, 7, &R::MeteringMode, ""},
      {kMetering, 255, &R::MeteringMode, "その他"},
      {kLight, 0, &R::LightSource, "不明"},
      {kLight, 11, &R::LightSource, "日陰"},
      {kLight, 12, &R::LightSource, ""},
      {kLight, 17, &R::LightSource, "標準ライトA"},
      {kLight, 22, &R::LightSource, "D75"},
      {kLight, 255, &R::LightSource, "その他"},
      {kFlash, 0, &R::Flash, "非発光"},
      {kFlash, 7, &R::Flash, "発光(反射光検出)"},
      {kFlash, 0x19, &R::Flash, ""},
      {kColorSpace, 1, &R::ColorSpace, "sRGB"},
      {kColorSpace, 0xFFFF, &R::ColorSpace, "Uncalibrated"},
      {kColorSpace, 2, &R::ColorSpace, ""},
      {kSensing, 1, &R::SensingMethod, ""},
      {kSensing, 2, &R::SensingMethod, "1チップカラーエリアセンサ"},
      {kSensing, 8, &R::SensingMethod, "カラーシークエンシャルリニアセンサ"},
      {kWhiteBalance, 0, &R::WhiteBalance, "自動"},
      {kWhiteBalance, 1, &R::WhiteBalance, "マニュアル"},
      {kWhiteBalance, 2, &R::WhiteBalance, ""},
  };
  for (const auto& r : rows) {
    TiffWriter w(GetParam());
    w.Short(w.ExifIfd(), r.tag, {r.code});
    TExifInfo info;
    Parse(info, JpegWithExif(w.Build()));
    EXPECT_EQ((info.*r.field).Text, Cp932(r.text)) << std::hex << r.tag << " " << r.code;
    EXPECT_EQ((info.*r.field).Value, r.code) << std::hex << r.tag << " " << r.code;
  }
}

TEST_P(ExifOrderTest, OrientationAndResolutionUnitByIfd) {
  const TImageOrientation byCode[] = {ioUnknown,     ioTopLeft,     ioTopRight,
                                      ioBottomRight, ioBottomLeft,  ioLeftTop,
                                      ioRightTop,    ioRightBottom, ioLeftBottom};
  for (std::uint16_t code = 0; code <= 8; ++code) {
    TiffWriter w(GetParam());
    w.Short(w.Ifd0(), kOrientation, {code});
    w.Short(w.Ifd1(), kOrientation, {static_cast<std::uint16_t>(8 - code)});
    TExifInfo info;
    Parse(info, JpegWithExif(w.Build()));
    EXPECT_EQ(info.Orientation, byCode[code]) << code;
    EXPECT_EQ(info.ThumbnailOrientation, byCode[8 - code]) << code;
  }

  // An unknown code leaves the orientation and the unit's text as they were.
  TiffWriter w(GetParam());
  w.Short(w.Ifd0(), kOrientation, {6});
  w.Short(w.Ifd0(), kOrientation, {9});
  w.Short(w.Ifd0(), kResUnit, {3});
  w.Short(w.Ifd0(), kResUnit, {1});
  w.Short(w.Ifd1(), kResUnit, {7});
  TExifInfo info;
  Parse(info, JpegWithExif(w.Build()));
  EXPECT_EQ(info.Orientation, ioRightTop);
  EXPECT_EQ(info.ThumbnailOrientation, ioUnknown);
  EXPECT_EQ(info.ResolutionUnit.Text, "cm");
  EXPECT_EQ(info.ResolutionUnit.Value, 1);
  EXPECT_EQ(info.ThumbnailResolutionUnit.Text, "");
  EXPECT_EQ(info.ThumbnailResolutionUnit.Value, 7);
}

TEST_P(ExifOrderTest, ExposureIndexRoundsHalfToEven) {
  struct Row {
    std::function<void(TiffWriter&, int)> add;
    std::uint16_t iso;
  };
  const Row rows[] = {
      {[](TiffWriter& w, int i) {
         w.Rational(i, kExposureIndex, {{201, 2}});
       },
       100},
      {[](TiffWriter& w, int i) {
         w.Rational(i, kExposureIndex, {{203, 2}});
       },
       102},
      {[](TiffWriter& w, int i) {
         w.Rational(i, kExposureIndex, {{2001, 10}});
       },
       200},
      {[](TiffWriter& w, int i) {
         w.Short(i, kIso, {400});
         w.Rational(i, kExposureIndex, {{800, 1}});
       },
       800},
      {[](TiffWriter& w, int i) {
         w.Rational(i, kExposureIndex, {{800, 1}});
         w.Short(i, kIso, {400});
       },
       400},
      {[](TiffWriter& w, int i) {
         w.Rational(i, kExposureIndex, {{65537, 1}});
       },
       1},
      {[](TiffWriter& w, int i) {
         w.SRational(i, kExposureIndex, {{-7, 2}});
       },
       0xFFFC},
      {[](TiffWriter& w, int i) {
         w.Rational(i, kExposureIndex, {{5, 0}});
       },
       0},
      {[](TiffWriter& w, int i) { w.Short(i, kIso, {70000 & 0xFFFF}); }, 70000 & 0xFFFF},
      // Values no integer holds leave the field alone.
      {[](TiffWriter& w, int i) {
         w.Short(i, kIso, {100});
         w.Double(i, kExposureIndex, {std::numeric_limits<double>::quiet_NaN()});
         w.Double(i, kExposureIndex, {1e300});
         w.Float(i, kExposureIndex, {-std::numeric_limits<float>::infinity()});
       },
       100},
  };
  for (std::size_t k = 0; k < std::size(rows); ++k) {
    TiffWriter w(GetParam());
    rows[k].add(w, w.ExifIfd());
    TExifInfo info;
    Parse(info, JpegWithExif(w.Build()));
    EXPECT_EQ(info.ISOSpeedRatings, rows[k].iso) << "row " << k;
  }
}

TEST_P(ExifOrderTest, RelatedImageSizeByInteroperabilityIndex) {
  struct Row {
    const char* index;  // nullptr: no index
    bool withPixelX;
    std::int32_t imageWidth, pixelX, imageLength, pixelY;
  };
  const Row rows[] = {
      {"THM", false, 160, 0, 120, 0}, {"thm", false, 160, 0, 120, 0},
      {"R98", false, 0, 160, 0, 120}, {nullptr, false, 0, 160, 0, 120},
      {"R98", true, 0, 4000, 0, 120},
  };
  for (const auto& r : rows) {
    TiffWriter w(GetParam());
    if (r.withPixelX) w.Long(w.ExifIfd(), kPixelX, {4000});
    int interop = w.InteropIfd();
    if (r.index) w.Ascii(interop, kInteropIndex, r.index);
    w.Short(interop, kRelatedWidth, {160});
    w.Long(interop, kRelatedLength, {120});
    TExifInfo info;
    Parse(info, JpegWithExif(w.Build()));
    const char* name = r.index ? r.index : "none";
    EXPECT_EQ(info.ImageWidth, r.imageWidth) << name;
    EXPECT_EQ(info.PixelXDimension, r.pixelX) << name;
    EXPECT_EQ(info.ImageLength, r.imageLength) << name;
    EXPECT_EQ(info.PixelYDimension, r.pixelY) << name;
  }

  // The thumbnail IFD's ImageWidth, read earlier, is not replaced.
  TiffWriter w(GetParam());
  w.Long(w.Ifd1(), kImageWidth, {200});
  int interop = w.InteropIfd();
  w.Ascii(interop, kInteropIndex, "THM");
  w.Short(interop, kRelatedWidth, {160});
  TExifInfo info;
  Parse(info, JpegWithExif(w.Build()));
  EXPECT_EQ(info.ImageWidth, 200);
}

TEST_P(ExifOrderTest, TypesAreNotChecked) {
  TiffWriter w(GetParam());
  w.Ascii(w.ExifIfd(), kFNumber, "f/2");         // ASCII into a rational field
  w.Rational(w.ExifIfd(), kFocal35, {{50, 1}});  // rational into FocalLengthIn35mmFilm
  w.AddRaw(w.Ifd0(), kModel, 0x0102, 4, "Abc");  // only the type's low byte counts
  w.Short(w.ExifIfd(), kMake, {5});              // SHORT into a text field
  TExifInfo info;
  Parse(info, JpegWithExif(w.Build()));
  EXPECT_EQ(info.FNumber.Text, "f/2");
  EXPECT_EQ(info.FNumber.Value, 0.0);
  EXPECT_EQ(info.FocalLengthIn35mmFilm.Text, "50/1");
  EXPECT_EQ(info.FocalLengthIn35mmFilm.Value, 0.0);
  EXPECT_EQ(info.Model, "Abc");
  EXPECT_EQ(info.Make, "");
}

// ---------------------------------------------------------------------------
// The directory walk

// Every directory gets a UserComment entry naming it, so the lines tell
// which directories were read and in which order.
void Mark(TiffWriter& w, int ifd, const std::string& name) {
  w.Ascii(ifd, kUserComment, name);
}

TEST_P(ExifOrderTest, DirectoryOrder) {
  TiffWriter w(GetParam());
  Mark(w, w.Ifd0(), "ifd0");
  Mark(w, w.ExifIfd(), "exif");
  Mark(w, w.InteropIfd(), "interop");
  Mark(w, w.Ifd1(), "ifd1");
  TExifInfo info;
  Parse(info, JpegWithExif(w.Build()));
  EXPECT_EQ(info.UserComment, (std::vector<std::string>{"ifd0", "exif", "ifd1", "interop"}));
}

TEST_P(ExifOrderTest, EmptyDirectoryStillLinks) {
  TiffWriter w(GetParam());
  Mark(w, w.Ifd1(), "ifd1");  // IFD0 has no entries
  TExifInfo info;
  Parse(info, JpegWithExif(w.Build()));
  EXPECT_EQ(info.UserComment, std::vector<std::string>{"ifd1"});
}

TEST_P(ExifOrderTest, LinksBeyondTheFileEndTheWalkQuietly) {
  for (std::uint32_t offset : {0x10000u, 0x7FFFFFFFu, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
    TiffWriter w(GetParam());
    Mark(w, w.Ifd0(), "ifd0");
    w.SetNextRaw(w.Ifd0(), offset);
    Mark(w, w.InteropIfd(), "interop");  // queued after the link: not read
    Mark(w, w.ExifIfd(), "exif");
    TExifInfo info;
    EXPECT_NO_THROW(Parse(info, JpegWithExif(w.Build())));
    EXPECT_EQ(info.UserComment, (std::vector<std::string>{"ifd0", "exif"})) << offset;

    TiffWriter p(GetParam());
    p.AddRawField(p.Ifd0(), kExifPointer, 4, 1, offset);
    Mark(p, p.Ifd0(), "ifd0");
    Parse(info, JpegWithExif(p.Build()));
    EXPECT_EQ(info.UserComment, std::vector<std::string>{"ifd0"}) << offset;

    TiffWriter f(GetParam());
    f.SetFirstIfdOffset(offset);
    Parse(info, JpegWithExif(f.Build()));
    EXPECT_TRUE(info.UserComment.empty());
  }
}

TEST_P(ExifOrderTest, AtMostThirteenDirectories) {
  std::vector<std::string> first13;
  for (int i = 0; i < 13; ++i) first13.push_back(std::to_string(i));

  // 20 chained directories: the 13 first are read.
  TiffWriter chain(GetParam());
  int previous = chain.Ifd0();
  Mark(chain, previous, "0");
  for (int i = 1; i < 20; ++i) {
    int ifd = chain.AddIfd();
    Mark(chain, ifd, std::to_string(i));
    chain.SetNext(previous, ifd);
    previous = ifd;
  }
  TExifInfo info;
  Parse(info, JpegWithExif(chain.Build()));
  EXPECT_EQ(info.UserComment, first13);

  // A directory linking to itself is read 13 times, then the walk ends.
  TiffWriter loop(GetParam());
  Mark(loop, loop.Ifd0(), "0");
  loop.SetNext(loop.Ifd0(), loop.Ifd0());
  Parse(info, JpegWithExif(loop.Build()));
  EXPECT_EQ(info.UserComment, std::vector<std::string>(13, "0"));

  // Sub-IFD pointers count too: IFD0 queues 15 Exif IFDs, 12 are read.
  TiffWriter many(GetParam());
  Mark(many, many.Ifd0(), "0");
  for (int i = 1; i <= 15; ++i) {
    int ifd = many.AddIfd();
    Mark(many, ifd, std::to_string(i));
    many.AddPointer(many.Ifd0(), i % 2 ? kExifPointer : kInteropPointer, ifd);
  }
  Parse(info, JpegWithExif(many.Build()));
  EXPECT_EQ(info.UserComment, first13);

  // Two directories pointing at each other through Exif pointers.
  TiffWriter cross(GetParam());
  int other = cross.AddIfd();
  Mark(cross, cross.Ifd0(), "a");
  cross.AddPointer(cross.Ifd0(), kExifPointer, other);
  Mark(cross, other, "b");
  cross.AddPointer(other, kExifPointer, cross.Ifd0());
  Parse(info, JpegWithExif(cross.Build()));
  EXPECT_EQ(info.UserComment.size(), 13u);
}

TEST_P(ExifOrderTest, HeaderMarkAndMagic) {
  for (const char* mark : {"XX", "mm", "IM"}) {
    TiffWriter w(ByteOrder::kIntel);
    w.SetMark(mark);
    w.SetMagic(0);
    w.Ascii(w.Ifd0(), kModel, "Intel");
    TExifInfo info;
    Parse(info, JpegWithExif(w.Build()));
    EXPECT_EQ(info.Model, "Intel") << mark;
    EXPECT_FALSE(info.MotorolaOrder()) << mark;
  }
}

TEST_P(ExifOrderTest, HostileCountsAndOffsets) {
  // Every known tag with every type code, counts of 0 and 0xFFFFFFFF, and
  // value offsets inside, at the end of and far beyond the file: the walk
  // ends, nothing is read past the end (the sanitizer build checks).
  const std::uint16_t tags[] = {
      kInteropIndex, kImageWidth,   kModel,       kOrientation,     kXRes,          kResUnit,
      kRelatedWidth, kExposureTime, kExifPointer, kExposureProgram, kIso,           kExifVersion,
      kMakerNote,    kUserComment,  kPixelX,      kInteropPointer,  kExposureIndex, kFocal35};
  for (std::uint32_t count : {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    for (std::uint32_t field : {0u, 8u, 0x100u, 0x80000000u, 0xFFFFFFF8u, 0xFFFFFFFFu}) {
      TiffWriter w(GetParam());
      for (std::uint16_t tag : tags)
        for (std::uint16_t type = 0; type <= 13; ++type)
          w.AddRawField(w.Ifd0(), tag, type, count, field);
      w.SetNextRaw(w.Ifd0(), field);
      TExifInfo info;
      ASSERT_NO_THROW(Parse(info, JpegWithExif(w.Build())));
      EXPECT_LE(info.Model.size(), 4096u);
    }
  }
}

TEST_P(ExifOrderTest, TextReadsOfOneWalkAreBounded) {
  // 40 entries each claiming the whole 1 MiB file: 16 MiB are read, then
  // the texts come out empty.
  TiffWriter w(GetParam());
  w.Ascii(w.Ifd0(), kMake, "Maker");
  for (int i = 0; i < 40; ++i) w.AddRawField(w.Ifd0(), kModel, 2, 0xFFFFFFFF, 0);
  w.Short(w.Ifd0(), kOrientation, {6});
  TExifInfo info;
  Parse(info, JpegWithExif(w.Build(), JpegOptions().Body(std::string(1 << 20, 'x'))));
  EXPECT_EQ(info.Make, "Maker");
  EXPECT_EQ(info.Model, "");
  EXPECT_EQ(info.Orientation, ioRightTop);
}

TEST_P(ExifOrderTest, EntryCountBeyondTheEntries) {
  // IFD0 claims 0xFFFF entries; the file holds two and then ends.
  TiffWriter w(GetParam());
  w.Ascii(w.Ifd0(), kModel, "Cam");
  w.Short(w.Ifd0(), kOrientation, {6});
  std::string tiff = w.Build();
  testing::Patch(tiff, 8, std::string("\xFF\xFF", 2));
  TExifInfo info;
  Parse(info, JpegWithExif(tiff, JpegOptions().Body(std::string(1, '\0'))));
  EXPECT_EQ(info.Model, "Cam");
  EXPECT_EQ(info.Orientation, ioRightTop);
}

TEST_P(ExifOrderTest, EveryTruncationOfTheFirst2KiB) {
  TiffWriter w(GetParam());
  int ifd0 = w.Ifd0(), exif = w.ExifIfd(), ifd1 = w.Ifd1(), interop = w.InteropIfd();
  w.Ascii(ifd0, kModel, "A camera model name");
  w.Short(ifd0, kOrientation, {6});
  w.Rational(ifd0, kXRes, {{72, 1}});
  w.Ascii(ifd0, kDateTime, "2024:01:02 03:04:05");
  w.Rational(exif, kExposureTime, {{1, 125}});
  w.Rational(exif, kFNumber, {{56, 10}});
  w.Short(exif, kIso, {800});
  w.Undefined(exif, kExifVersion, "0230");
  w.Undefined(exif, kMakerNote, std::string(300, 'n'));
  w.Undefined(exif, kUserComment, std::string("UNICODE\0", 8) + std::string(64, 'u'));
  w.Undefined(exif, kUserComment, std::string("JIS\0\0\0\0\0\x1B$B0!0!0!", 17));
  w.Long(exif, kPixelX, {4000});
  w.Rational(ifd1, kXRes, {{180, 1}});
  w.Long(ifd1, kJpegOffset, {1000});
  w.Ascii(interop, kInteropIndex, "THM");
  w.Short(interop, kRelatedWidth, {160});
  const std::string file = JpegWithExif(w.Build(), JpegOptions().Jfif());
  ASSERT_LT(file.size(), 2048u);

  TExifInfo whole;
  Parse(whole, file);
  ASSERT_EQ(whole.ImageWidth, 160);
  ASSERT_EQ(whole.UserComment.size(), 2u);

  for (std::size_t cut = 0; cut <= file.size(); ++cut) {
    TExifInfo info;
    std::string path = Write(file.substr(0, cut));
    bool found = info.HasExif(path);
    EXPECT_EQ(found, cut >= static_cast<std::size_t>(testing::kTiffStartJfif)) << cut;
    try {
      info.SetImageFileName(path);
    } catch (const EReadError& e) {
      // Only the byte-order mark may be missing.
      EXPECT_LT(cut, static_cast<std::size_t>(testing::kTiffStartJfif + 2)) << cut;
      EXPECT_EQ(e.Message(), "Stream read error");
    }
    // Whatever was read is what the whole file gives, or a prefix of text.
    EXPECT_EQ(whole.Model.compare(0, info.Model.size(), info.Model), 0) << cut;
    EXPECT_TRUE(info.FNumber.Text.empty() || info.FNumber.Text == "56/10") << cut;
    EXPECT_TRUE(info.ISOSpeedRatings == 0 || info.ISOSpeedRatings == 800) << cut;
    EXPECT_LE(info.UserComment.size(), 2u) << cut;
    EXPECT_TRUE(info.ImageWidth == 0 || info.ImageWidth == 160) << cut;
    if (cut == file.size()) {
      EXPECT_EQ(info.UserComment, whole.UserComment);
    }
  }
}

// ---------------------------------------------------------------------------
// The memory entrance: a TIFF block that another container carried

TEST_P(ExifOrderTest, TiffBlockGivesTheFieldsOfTheFile) {
  const std::string tiff = EveryTagBlock(GetParam());
  TExifInfo file;
  Parse(file, JpegWithExif(tiff, JpegOptions().Jfif()));
  TExifInfo block;
  block.SetTiffBlock(reinterpret_cast<const std::uint8_t*>(tiff.data()), tiff.size());
  EXPECT_EQ(block.MotorolaOrder(), GetParam() == ByteOrder::kMotorola);
  EXPECT_EQ(block.ImageFileName(), "");
  ASSERT_EQ(block.Model, "Model X ");
  // The maker note lies at the same place, counted from the block's start.
  EXPECT_EQ(block.MakerNoteOffset + testing::kTiffStartJfif, file.MakerNoteOffset);
  block.MakerNoteOffset = file.MakerNoteOffset;
  EXPECT_TRUE(static_cast<TExifResults&>(block) == static_cast<TExifResults&>(file));
}

TEST_P(ExifOrderTest, TiffBlockEveryTruncationStaysInside) {
  // Cut blocks end the walk quietly: no read past the copy (the sanitizer
  // build checks), no failure, and what was read agrees with the whole.
  const std::string tiff = EveryTagBlock(GetParam());
  TExifInfo whole;
  whole.SetTiffBlock(reinterpret_cast<const std::uint8_t*>(tiff.data()), tiff.size());
  for (std::size_t cut = 4; cut <= tiff.size(); ++cut) {
    std::vector<std::uint8_t> copy(tiff.begin(), tiff.begin() + static_cast<std::ptrdiff_t>(cut));
    TExifInfo info;
    int errors = 0;
    info.OnReadError = [&](TExifInfo&) { ++errors; };
    ASSERT_NO_THROW(info.SetTiffBlock(copy.data(), copy.size())) << cut;
    EXPECT_EQ(errors, 0) << cut;
    EXPECT_EQ(whole.Model.compare(0, info.Model.size(), info.Model), 0) << cut;
    EXPECT_TRUE(info.FNumber.Text.empty() || info.FNumber.Text == "28/10") << cut;
  }
}

TEST_F(ExifTest, TiffBlockWithoutTiffHeaderCallsOnReadError) {
  TiffWriter w(ByteOrder::kIntel);
  w.Ascii(w.Ifd0(), kModel, "Cam");
  const std::string good = w.Build();
  const std::string rows[] = {
      "",
      "II*",                                        // cut header
      std::string("II\x2B\0", 4) + good.substr(4),  // wrong magic
      std::string("MM*\0", 4) + good.substr(4),     // magic in the other order
      std::string("IM*\0", 4) + good.substr(4),
      std::string("Exif\0\0", 6) + good,  // the JPEG identifier left in front
      JpegWithExif(good),
  };
  for (const std::string& bytes : rows) {
    TExifInfo info;
    int errors = 0;
    info.OnReadError = [&](TExifInfo& sender) {
      EXPECT_EQ(&sender, &info);
      ++errors;
    };
    info.Model = "stale";
    info.SetTiffBlock(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(errors, 1) << ::testing::PrintToString(bytes);
    EXPECT_EQ(info.Model, "") << ::testing::PrintToString(bytes);
  }
  TExifInfo none;
  EXPECT_NO_THROW(none.SetTiffBlock(nullptr, 0));
}

TEST_F(ExifTest, TiffBlockAfterAFileStartsAfresh) {
  TiffWriter w(ByteOrder::kMotorola);
  w.Ascii(w.Ifd0(), kMake, "FromFile");
  TExifInfo info;
  Parse(info, JpegWithExif(w.Build()));
  ASSERT_EQ(info.Make, "FromFile");
  TiffWriter b(ByteOrder::kIntel);
  b.Ascii(b.Ifd0(), kModel, "FromBlock");
  const std::string block = b.Build();
  info.SetTiffBlock(reinterpret_cast<const std::uint8_t*>(block.data()), block.size());
  EXPECT_EQ(info.Make, "");
  EXPECT_EQ(info.Model, "FromBlock");
  EXPECT_EQ(info.ImageFileName(), "");
  EXPECT_FALSE(info.MotorolaOrder());
}

INSTANTIATE_TEST_SUITE_P(BothOrders, ExifOrderTest,
                         ::testing::Values(ByteOrder::kIntel, ByteOrder::kMotorola), OrderName);

// ---------------------------------------------------------------------------
// Failures of the walk pass to the caller

TEST_F(ExifTest, ByteOrderMarkMissingRaisesReadError) {
  TExifInfo info;
  int errors = 0;
  info.OnReadError = [&](TExifInfo&) { ++errors; };
  std::string file(
      "\xFF\xD8\xFF\xE1\x00\x08"
      "Exif\0\0"
      "I",
      13);
  std::string path = Write(file);
  ASSERT_TRUE(info.HasExif(path));
  try {
    info.SetImageFileName(path);
    FAIL() << "no exception";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.ClassName(), "EReadError");
    EXPECT_EQ(e.Message(), "Stream read error");
  }
  EXPECT_EQ(errors, 0);
}

TEST_F(ExifTest, FileGoneBeforeTheWalkRaisesOpenError) {
  TiffWriter w(ByteOrder::kIntel);
  w.Ascii(w.Ifd0(), kModel, "Gone");
  TExifInfo info;
  std::string path = Write(JpegWithExif(w.Build()));
  info.SetImageFileName(path);
  ASSERT_EQ(info.Model, "Gone");
  std::filesystem::remove(Utf8(path));
  try {
    info.ReadExif(testing::kTiffStartPlain);
    FAIL() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.ClassName(), "EFOpenError");
    EXPECT_EQ(e.Message(), Cp932("ファイル ") + path + Cp932(" は開けません"));
  }
  EXPECT_EQ(info.Model, "Gone");  // fields filled before stay
}

// ---------------------------------------------------------------------------
// Reads stay small

std::int64_t ReadChars() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::int64_t value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return -1;
}

TEST_F(ExifTest, ParsingA20MBFileReadsLessThan64KiB) {
  if (ReadChars() < 0) GTEST_SKIP() << "no /proc/self/io";
  TiffWriter w(ByteOrder::kIntel);
  w.Ascii(w.Ifd0(), kModel, "Big");
  w.Rational(w.ExifIfd(), kFNumber, {{4, 1}});
  w.Undefined(w.ExifIfd(), kMakerNote, std::string(60000, 'm'));  // not read
  w.Undefined(w.ExifIfd(), kUserComment, std::string("ASCII\0\0\0note", 12));
  w.Short(w.Ifd1(), kCompression, {6});
  std::string path =
      Write(JpegWithExif(w.Build(), JpegOptions().Jfif().Body(std::string(20 << 20, 'x'))));

  TExifInfo info;
  info.SetImageFileName(path);  // warms up the code-page tables
  std::int64_t before = ReadChars();
  ASSERT_TRUE(info.HasExif(path));
  info.SetImageFileName(path);
  std::int64_t read = ReadChars() - before;
  EXPECT_EQ(info.Model, "Big");
  EXPECT_EQ(info.Compression.Text, "JPEG");
  EXPECT_LT(read, 64 * 1024);
  EXPECT_LT(read, 4 * 1024);  // in fact a few hundred bytes
}

}  // namespace
}  // namespace peloria
