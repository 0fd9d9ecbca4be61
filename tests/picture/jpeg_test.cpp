#include "picture/jpeg.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <tuple>
#include <vector>

extern "C" {
#include <stdio.h>
// Message codes only; the test does not call libjpeg.
#include <jerror.h>
#include <jpeglib.h>
}

#include "picture/bitmap.h"
#include "platform/cp932.h"
#include "platform/stream.h"
#include "tests/support/jpeg_fixtures.h"

namespace peloria {
namespace {

using testing::JpegColor;
using testing::JpegRecipe;
using testing::MakeJpeg;

std::unique_ptr<TJPEGImage> LoadJpeg(const std::string& bytes) {
  auto jpeg = std::make_unique<TJPEGImage>();
  TMemoryStream stream(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  jpeg->LoadFromStream(stream);
  return jpeg;
}

// A pattern picture made with these facts and loaded.
std::unique_ptr<TJPEGImage> LoadMade(int width, int height, JpegColor color, bool progressive) {
  JpegRecipe recipe;
  recipe.width = width;
  recipe.height = height;
  recipe.color = color;
  recipe.progressive = progressive;
  return LoadJpeg(MakeJpeg(recipe));
}

int JpegErrorCode(const std::function<void()>& action) {
  try {
    action();
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.ClassName(), "EJPEG");
    const std::string prefix = Cp932("JPEG エラー #");
    EXPECT_EQ(e.Message().substr(0, prefix.size()), prefix);
    return std::stoi(e.Message().substr(prefix.size()));
  }
  ADD_FAILURE() << "no EJPEG";
  return -1;
}

int Distance(int a, int b) {
  return std::abs(a - b);
}

TEST(JpegDecodeTest, ColourPictureIsBlueGreenRedTopRowFirst) {
  const auto jpeg = LoadJpeg(MakeJpeg(JpegRecipe{}));
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

// The grey level shown by an 8-bit pixel.
int GreyAt(const TBitmap& bitmap, int x, int y) {
  const TRGBQuad& q = bitmap.Palette().at(bitmap.RowData(y)[x]);
  EXPECT_EQ(q.rgbRed, q.rgbGreen);
  EXPECT_EQ(q.rgbRed, q.rgbBlue);
  return q.rgbRed;
}

TEST(JpegDecodeTest, GreyscaleFileGivesEightBitsWith236Greys) {
  JpegRecipe recipe;
  recipe.color = JpegColor::kGray;
  const auto jpeg = LoadJpeg(MakeJpeg(recipe));
  EXPECT_TRUE(jpeg->IsGrayscaleFile());
  TBitmap copy;
  copy.Assign(jpeg.get());
  ASSERT_EQ(copy.BitsPerPixel(), 8);
  ASSERT_EQ(copy.Palette().size(), 236u);
  EXPECT_EQ(copy.RowBytes(), 640);
  for (const auto& [x, y] : {std::pair{0, 0}, {639, 479}, {320, 10}, {10, 300}}) {
    EXPECT_LE(Distance(GreyAt(copy, x, y), testing::PatternGray(x, y, 640, 480)), 4)
        << x << "," << y;
  }
}

TEST(JpegDecodeTest, OddShapesProgressiveAndFourComponentFiles) {
  struct Row {
    const char* name;
    int width, height;
    JpegColor color;
    bool progressive;
    int tolerance;
  };
  const Row rows[] = {
      {"1 x 100", 1, 100, JpegColor::kColor, false, 8},
      {"100 x 1", 100, 1, JpegColor::kColor, false, 8},
      {"odd size", 33, 17, JpegColor::kColor, false, 12},
      {"progressive", 320, 240, JpegColor::kColor, true, 6},
      {"RGB-coded", 64, 48, JpegColor::kRgb, false, 6},
      {"CMYK", 64, 48, JpegColor::kCmyk, false, 10},
      {"YCCK", 64, 48, JpegColor::kYcck, false, 10},
      {"progressive CMYK", 64, 48, JpegColor::kCmyk, true, 10},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const auto jpeg = LoadMade(r.width, r.height, r.color, r.progressive);
    EXPECT_EQ(jpeg->ProgressiveEncoding(), r.progressive);
    TBitmap copy;
    copy.Assign(jpeg.get());
    ASSERT_EQ(copy.Width(), r.width);
    ASSERT_EQ(copy.Height(), r.height);
    ASSERT_EQ(copy.BitsPerPixel(), 24);
    for (int y = 0; y < r.height; y += std::max(1, r.height / 5)) {
      const std::uint8_t* row = copy.RowData(y);
      for (int x = 0; x < r.width; x += std::max(1, r.width / 5)) {
        const testing::Rgb want = testing::PatternColor(x, y, r.width, r.height);
        EXPECT_LE(Distance(row[3 * x], want.b), r.tolerance) << x << "," << y;
        EXPECT_LE(Distance(row[3 * x + 1], want.g), r.tolerance) << x << "," << y;
        EXPECT_LE(Distance(row[3 * x + 2], want.r), r.tolerance) << x << "," << y;
      }
      // The row padding is zero.
      for (int i = 3 * r.width; i < copy.RowBytes(); ++i) EXPECT_EQ(row[i], 0);
    }
  }
}

TEST(JpegDecodeTest, SettingsAtCreationAndTheScreenDepth) {
  TJPEGImage jpeg;
  EXPECT_EQ(jpeg.Scale(), TJPEGScale::jsFullSize);
  EXPECT_TRUE(jpeg.Smoothing());
  EXPECT_FALSE(jpeg.Grayscale());
  EXPECT_EQ(jpeg.PixelFormat(), TJPEGPixelFormat::jf24Bit);
  EXPECT_EQ(jpeg.Performance(), TJPEGPerformance::jpBestQuality);
  EXPECT_FALSE(jpeg.ProgressiveDisplay());
  EXPECT_TRUE(jpeg.Empty());
  EXPECT_EQ(jpeg.Width(), 0);

  EXPECT_EQ(ScreenBitsPerPixel(), 24);
  SetScreenBitsPerPixel(8);
  TJPEGImage palette;
  SetScreenBitsPerPixel(24);
  EXPECT_EQ(palette.PixelFormat(), TJPEGPixelFormat::jf8Bit);
  EXPECT_EQ(jpeg.PixelFormat(), TJPEGPixelFormat::jf24Bit);
}

TEST(JpegDecodeTest, OtherSettingsDecodeAsAsked) {
  JpegRecipe recipe;
  recipe.width = 100;
  recipe.height = 60;
  const std::string bytes = MakeJpeg(recipe);
  struct Row {
    const char* name;
    std::function<void(TJPEGImage&)> set;
    int width, height, bits;
    std::size_t maxColours;
  };
  const Row rows[] = {
      {"half", [](TJPEGImage& j) { j.SetScale(TJPEGScale::jsHalf); }, 50, 30, 24, 0},
      {"quarter", [](TJPEGImage& j) { j.SetScale(TJPEGScale::jsQuarter); }, 25, 15, 24, 0},
      {"eighth", [](TJPEGImage& j) { j.SetScale(TJPEGScale::jsEighth); }, 13, 8, 24, 0},
      {"8 bits", [](TJPEGImage& j) { j.SetPixelFormat(TJPEGPixelFormat::jf8Bit); }, 100, 60, 8,
       236},
      {"8 bits fast",
       [](TJPEGImage& j) {
         j.SetPixelFormat(TJPEGPixelFormat::jf8Bit);
         j.SetPerformance(TJPEGPerformance::jpBestSpeed);
       },
       100, 60, 8, 236},
      {"greyscale output", [](TJPEGImage& j) { j.SetGrayscale(true); }, 100, 60, 8, 236},
      {"best speed", [](TJPEGImage& j) { j.SetPerformance(TJPEGPerformance::jpBestSpeed); }, 100,
       60, 24, 0},
      {"no smoothing", [](TJPEGImage& j) { j.SetSmoothing(false); }, 100, 60, 24, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const auto jpeg = LoadJpeg(bytes);
    r.set(*jpeg);
    EXPECT_EQ(jpeg->Width(), r.width);
    EXPECT_EQ(jpeg->Height(), r.height);
    const TBitmap& bitmap = jpeg->Bitmap();
    EXPECT_EQ(bitmap.Width(), r.width);
    EXPECT_EQ(bitmap.Height(), r.height);
    EXPECT_EQ(bitmap.BitsPerPixel(), r.bits);
    EXPECT_LE(bitmap.Palette().size(), r.maxColours);
    if (r.bits == 8) {
      EXPECT_GT(bitmap.Palette().size(), 1u);
    }
    // Top-left pixel: red 0, green 0, blue 255 in the pattern (or its grey).
    std::uint32_t argb[100];
    bitmap.RowToArgb(0, argb);
    if (jpeg->Grayscale()) {
      EXPECT_LE(Distance(argb[0] & 0xFF, 29), 12);  // the luminance of pure blue
    } else {
      EXPECT_LE(Distance(argb[0] & 0xFF, 255), 40);
      EXPECT_LE(Distance(argb[0] >> 16 & 0xFF, 0), 40);
    }
  }
}

TEST(JpegDecodeTest, DecodesAtMostOncePerLoadAndAgainAfterAChange) {
  JpegRecipe recipe;
  recipe.width = 40;
  recipe.height = 30;
  const std::string bytes = MakeJpeg(recipe);
  auto jpeg = LoadJpeg(bytes);
  int changes = 0;
  jpeg->OnChange = [&] { ++changes; };
  EXPECT_EQ(jpeg->DecodeCount(), 0);
  const TBitmap* first = &jpeg->Bitmap();
  EXPECT_EQ(&jpeg->Bitmap(), first);
  EXPECT_EQ(jpeg->DecodeCount(), 1);
  jpeg->SetScale(TJPEGScale::jsHalf);
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(jpeg->Decoded());
  EXPECT_EQ(jpeg->Bitmap().Width(), 20);
  EXPECT_EQ(jpeg->DecodeCount(), 2);
  TMemoryStream again(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  jpeg->LoadFromStream(again);
  EXPECT_EQ(changes, 2);
  EXPECT_FALSE(jpeg->Decoded());
  jpeg->Bitmap();
  EXPECT_EQ(jpeg->DecodeCount(), 3);
}

TEST(JpegDecodeTest, ProgressiveDisplayDecodesPassByPass) {
  JpegRecipe recipe;
  recipe.width = 80;
  recipe.height = 64;
  recipe.progressive = true;
  for (bool eightBits : {false, true}) {
    const auto jpeg = LoadJpeg(MakeJpeg(recipe));
    jpeg->SetProgressiveDisplay(true);
    if (eightBits) jpeg->SetPixelFormat(TJPEGPixelFormat::jf8Bit);
    int passes = 0;
    jpeg->OnProgress = [&] { ++passes; };
    const TBitmap& bitmap = jpeg->Bitmap();
    EXPECT_GE(passes, 2);
    std::uint32_t argb[80];
    bitmap.RowToArgb(63, argb);
    const testing::Rgb want = testing::PatternColor(79, 63, 80, 64);
    EXPECT_LE(Distance(argb[79] >> 16 & 0xFF, want.r), eightBits ? 40 : 8);
    EXPECT_LE(Distance(argb[79] >> 8 & 0xFF, want.g), eightBits ? 40 : 8);
  }
}

TEST(JpegDecodeTest, CutFiles) {
  const std::string whole = MakeJpeg(JpegRecipe{});
  const std::size_t scan = testing::ScanDataOffset(whole);
  ASSERT_NE(scan, std::string::npos);

  // Cut inside the scan data: loads and copies, size as declared.
  const auto cut = LoadJpeg(whole.substr(0, scan + (whole.size() - scan) / 3));
  TBitmap copy;
  copy.Assign(cut.get());
  EXPECT_EQ(copy.Width(), 640);
  EXPECT_EQ(copy.Height(), 480);
  const testing::Rgb top = testing::PatternColor(5, 5, 640, 480);
  EXPECT_LE(Distance(copy.RowData(5)[3 * 5], top.b), 6);

  // Cut before the start of scan: the header read fails at load.
  const std::size_t sos = whole.rfind("\xFF\xDA", scan);
  for (std::size_t length : {std::size_t{2}, std::size_t{20}, sos}) {
    // No image at all, or frame tables without a start of scan.
    const int code = JpegErrorCode([&] { LoadJpeg(whole.substr(0, length)); });
    EXPECT_TRUE(code == JERR_NO_IMAGE || code == JERR_SOF_NO_SOS) << length << ": " << code;
  }
}

TEST(JpegDecodeTest, NotAJpegAndEmptyData) {
  EXPECT_EQ(JpegErrorCode([] { LoadJpeg("This is a text file, not a picture.\n"); }), JERR_NO_SOI);

  const auto empty = LoadJpeg("");
  EXPECT_TRUE(empty->Empty());
  EXPECT_EQ(empty->Width(), 0);
  EXPECT_EQ(JpegErrorCode([&] { empty->Bitmap(); }), JERR_INPUT_EMPTY);
  TBitmap copy;
  EXPECT_EQ(JpegErrorCode([&] { copy.Assign(empty.get()); }), JERR_INPUT_EMPTY);
  EXPECT_FALSE(empty->Decoded());
  // A failed load keeps the data that was there.
  auto jpeg = LoadJpeg(MakeJpeg(JpegRecipe{}));
  TMemoryStream text(std::vector<std::uint8_t>{'n', 'o'});
  EXPECT_THROW(jpeg->LoadFromStream(text), EJPEG);
  EXPECT_EQ(jpeg->Width(), 640);
}

// The header is read before the rest of the file: data that is no JPEG is
// refused after its first piece, and headers that go on beyond it (large
// Exif or comment segments) are read whole.
TEST(JpegDecodeTest, HeaderIsReadBeforeTheWholeFile) {
  std::vector<std::uint8_t> text(std::size_t{8} << 20, 'x');
  TMemoryStream stream(std::move(text));
  TJPEGImage jpeg;
  EXPECT_EQ(JpegErrorCode([&] { jpeg.LoadFromStream(stream); }), JERR_NO_SOI);
  EXPECT_LE(stream.Position(), 1 << 20);

  JpegRecipe recipe;
  for (int i = 0; i < 5; ++i) recipe.markers.push_back({0xFE, std::string(60000, 'c')});
  const std::string file = MakeJpeg(recipe);
  ASSERT_GT(testing::ScanDataOffset(file), 300000u);
  const auto loaded = LoadJpeg(file);
  EXPECT_EQ(loaded->Width(), 640);
  EXPECT_EQ(loaded->Data().size(), file.size());
  EXPECT_EQ(loaded->Bitmap().Height(), 480);
  // Cut inside the long header: fails as a file without image data.
  const int code = JpegErrorCode([&] { LoadJpeg(file.substr(0, 200000)); });
  EXPECT_TRUE(code == JERR_NO_IMAGE || code == JERR_SOF_NO_SOS) << code;
}

TEST(JpegDecodeTest, DamagedScanDataAndHugeDeclaredSizes) {
  const std::string whole = MakeJpeg(JpegRecipe{});
  const std::size_t scan = testing::ScanDataOffset(whole);
  // Garbage entropy-coded data decodes to something, never past a row.
  std::string damaged = whole;
  for (std::size_t i = scan; i + 2 < damaged.size(); i += 7) damaged[i] = static_cast<char>(i * 31);
  try {
    TBitmap copy;
    copy.Assign(LoadJpeg(damaged).get());
    EXPECT_EQ(copy.Width(), 640);
  } catch (const EJPEG&) {
  }

  // SOF0: FF C0, length, precision, height (2 bytes), width (2 bytes).
  const std::size_t sof = whole.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  std::string huge = whole;
  huge.replace(sof + 5, 4, "\xFF\xDC\xFF\xDC");  // 65500 x 65500
  const auto jpeg = LoadJpeg(huge);
  EXPECT_EQ(jpeg->Width(), 65500);
  EXPECT_THROW(jpeg->Bitmap(), EOutOfResources);
}

// A progressive file of width x height with `components` components at full
// resolution and a few hundred bytes: one quantisation table, one-code
// Huffman tables, a DC scan of every component and an AC scan of the first,
// each with a few bytes of data. Decoding it needs every coefficient of the
// picture in memory, two bytes per sample.
std::string ProgressiveBomb(int width, int height, int components) {
  std::string file = "\xFF\xD8";
  const auto segment = [&file](int marker, const std::string& body) {
    const std::size_t length = body.size() + 2;
    file += {'\xFF', static_cast<char>(marker), static_cast<char>(length >> 8),
             static_cast<char>(length & 0xFF)};
    file += body;
  };
  const auto c = [](int value) { return static_cast<char>(value); };
  segment(0xDB, std::string(1, '\0') + std::string(64, '\x01'));
  std::string frame = {
      8, c(height >> 8), c(height & 0xFF), c(width >> 8), c(width & 0xFF), c(components)};
  for (int i = 1; i <= components; ++i) frame += {c(i), 0x11, 0};
  segment(0xC2, frame);
  // One code of length 1: DC difference 0, and AC end of band.
  const std::string oneCode = std::string(1, '\x01') + std::string(15, '\0') + '\0';
  segment(0xC4, '\x00' + oneCode);
  segment(0xC4, '\x10' + oneCode);
  std::string dcScan = {c(components)};
  for (int i = 1; i <= components; ++i) dcScan += {c(i), 0};
  segment(0xDA, dcScan + std::string{0, 0, 0});
  file += std::string(16, '\0');
  segment(0xDA, std::string{1, 1, 0, 1, 63, 0});
  file += std::string(16, '\0');
  return file + "\xFF\xD9";
}

std::int64_t PeakMemoryKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Small files that declare a huge picture and several scans are refused for
// the decoder's memory before it or the bitmap is allocated; the same kind of
// file of a sensible size decodes.
TEST(JpegDecodeTest, DecompressionBombsAreRefusedBeforeTheirBuffers) {
  const auto modest = LoadJpeg(ProgressiveBomb(1000, 800, 3));
  EXPECT_TRUE(modest->ProgressiveEncoding());
  EXPECT_EQ(modest->Bitmap().Width(), 1000);
  EXPECT_EQ(modest->Bitmap().Height(), 800);

  if (kMaxBitmapBytes < std::int64_t{1} << 30) GTEST_SKIP() << "smaller bitmap bound";
  const std::int64_t before = PeakMemoryKiB();
  for (const auto& [width, height, components] : {std::tuple{18900, 18900, 3}, {32768, 32767, 1}}) {
    const std::string bomb = ProgressiveBomb(width, height, components);
    EXPECT_LT(bomb.size(), 400u);
    const auto jpeg = LoadJpeg(bomb);
    EXPECT_EQ(jpeg->Width(), width);
    EXPECT_EQ(JpegErrorCode([&] { jpeg->Bitmap(); }), JERR_NO_BACKING_STORE) << width;
  }
  EXPECT_LT(PeakMemoryKiB() - before, 64 * 1024);
}

TEST(JpegDecodeTest, RealCameraFiles) {
  const std::filesystem::path folder = PELORIA_SAMPLES_DIR;
  if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no sample folder";
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".jpg") continue;
    SCOPED_TRACE(entry.path().string());
    TJPEGImage jpeg;
    jpeg.LoadFromFile(Cp932(entry.path().string()));
    const int width = jpeg.Width();
    const int height = jpeg.Height();
    TBitmap copy;
    copy.Assign(&jpeg);
    EXPECT_EQ(copy.Width(), width);
    EXPECT_EQ(copy.Height(), height);
    EXPECT_EQ(copy.BitsPerPixel(), jpeg.IsGrayscaleFile() ? 8 : 24);
    copy.ScanLine(height - 1);
    EXPECT_FALSE(copy.SharesImageWith(jpeg.Bitmap()));
    ++seen;
  }
  if (seen == 0) GTEST_SKIP() << "no sample photos";
}

// ---------------------------------------------- decodes at a reduced scale
// The choice of the reduction for a thumbnail box, the reduced pixels
// against the full picture averaged, and the header checks that stand before
// either decode.

TEST(JpegScaledDecodeTest, ThumbnailScaleIsTheLargestReductionThatCoversTheBox) {
  struct Row {
    int width, height, orientation, boxWidth, boxHeight;
    TJPEGScale want;
  } rows[] = {
      {6000, 4000, 1, 160, 107, TJPEGScale::jsEighth},   // 750 x 500
      {4000, 6000, 1, 80, 120, TJPEGScale::jsEighth},    // portrait
      {1280, 960, 1, 160, 120, TJPEGScale::jsEighth},    // exactly the box at 1/8
      {1273, 953, 1, 160, 120, TJPEGScale::jsEighth},    // rounded up: 160 x 120
      {1272, 960, 1, 160, 120, TJPEGScale::jsQuarter},   // 159 wide at 1/8
      {640, 479, 1, 160, 120, TJPEGScale::jsQuarter},    // 160 x 120 at 1/4
      {320, 240, 1, 160, 120, TJPEGScale::jsHalf},       //
      {200, 150, 1, 160, 120, TJPEGScale::jsFullSize},   // smaller than twice the box
      {64, 48, 1, 160, 120, TJPEGScale::jsFullSize},     // smaller than the box
      {960, 1280, 6, 160, 120, TJPEGScale::jsEighth},    // shown 1280 x 960
      {960, 1280, 1, 90, 120, TJPEGScale::jsEighth},     // shown as stored
      {1280, 640, 8, 60, 120, TJPEGScale::jsEighth},     // shown 640 x 1280: 80 x 160
      {960, 1272, 6, 160, 121, TJPEGScale::jsQuarter},   // 121 high: 960 / 8 is 120
      {960, 1272, 4, 91, 120, TJPEGScale::jsEighth},     // flipped only: its own box
      {6000, 4000, 1, 320, 213, TJPEGScale::jsEighth},   // a box of twice the pixels
      {6000, 4000, 1, 800, 533, TJPEGScale::jsQuarter},  //
      {100, 100, 1, 0, 0, TJPEGScale::jsEighth},         // an empty box
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.width) + "x" + std::to_string(r.height) + " orientation " +
                 std::to_string(r.orientation));
    EXPECT_EQ(ThumbnailScale(r.width, r.height, r.orientation, r.boxWidth, r.boxHeight), r.want);
  }
}

// The mean colour of the full picture's pixels that one pixel of the picture
// reduced by `divisor` stands for.
std::array<int, 3> BlockMean(const TBitmap& full, int divisor, int bx, int by,
                             std::vector<std::uint32_t>& row) {
  std::array<long, 3> sum{};
  long n = 0;
  for (int y = by * divisor; y < std::min(full.Height(), (by + 1) * divisor); ++y) {
    full.RowToArgb(y, row.data());
    for (int x = bx * divisor; x < std::min(full.Width(), (bx + 1) * divisor); ++x) {
      for (int c = 0; c < 3; ++c) sum[static_cast<std::size_t>(c)] += row[x] >> (8 * c) & 0xFF;
      ++n;
    }
  }
  return {static_cast<int>(sum[0] / n), static_cast<int>(sum[1] / n), static_cast<int>(sum[2] / n)};
}

TEST(JpegScaledDecodeTest, ReducedDecodeIsTheFullPictureAveraged) {
  struct Row {
    const char* name;
    int width, height;
    JpegColor color;
    bool progressive;
    TJPEGScale scale;
    int bits;
  } rows[] = {
      {"landscape", 1600, 1200, JpegColor::kColor, false, TJPEGScale::jsEighth, 24},
      {"portrait", 1200, 1600, JpegColor::kColor, false, TJPEGScale::jsEighth, 24},
      {"grey", 1600, 1200, JpegColor::kGray, false, TJPEGScale::jsEighth, 8},
      {"CMYK", 800, 600, JpegColor::kCmyk, false, TJPEGScale::jsQuarter, 24},
      {"progressive", 1601, 1203, JpegColor::kColor, true, TJPEGScale::jsEighth, 24},
      {"half", 640, 480, JpegColor::kColor, false, TJPEGScale::jsHalf, 24},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const auto jpeg = LoadMade(r.width, r.height, r.color, r.progressive);
    const std::unique_ptr<TBitmap> reduced = jpeg->DecodeAt(r.scale);
    // The graphic's own decode is neither made nor counted.
    EXPECT_FALSE(jpeg->Decoded());
    EXPECT_EQ(jpeg->DecodeCount(), 0);
    const int divisor = 1 << static_cast<int>(r.scale);
    ASSERT_EQ(reduced->Width(), (r.width + divisor - 1) / divisor);
    ASSERT_EQ(reduced->Height(), (r.height + divisor - 1) / divisor);
    EXPECT_EQ(reduced->BitsPerPixel(), r.bits);

    // Against the full decode averaged over each reduced pixel's block: a
    // level or two on average, a few at the edges of the 4:2:0 colour.
    const TBitmap& full = jpeg->Bitmap();
    std::vector<std::uint32_t> fullRow(static_cast<std::size_t>(full.Width()));
    std::vector<std::uint32_t> reducedRow(static_cast<std::size_t>(reduced->Width()));
    long total = 0;
    long samples = 0;
    int worst = 0;
    for (int y = 0; y < reduced->Height(); ++y) {
      reduced->RowToArgb(y, reducedRow.data());
      for (int x = 0; x < reduced->Width(); ++x) {
        const std::array<int, 3> mean = BlockMean(full, divisor, x, y, fullRow);
        for (int c = 0; c < 3; ++c) {
          const int d = std::abs(static_cast<int>(reducedRow[x] >> (8 * c) & 0xFF) -
                                 mean[static_cast<std::size_t>(c)]);
          total += d;
          ++samples;
          worst = std::max(worst, d);
        }
      }
    }
    EXPECT_LE(static_cast<double>(total) / samples, 1.5);
    EXPECT_LE(worst, 12);
    // A reduced decode after the full one leaves it in place.
    jpeg->DecodeAt(r.scale);
    EXPECT_TRUE(jpeg->Decoded());
    EXPECT_EQ(jpeg->DecodeCount(), 1);
  }
}

// The reduced decode only reads the compressed data, which a copy shares:
// both decodes on two threads at once give what each gives alone.
TEST(JpegScaledDecodeTest, ReducedAndFullDecodeOfSharedDataRunTogether) {
  JpegRecipe recipe;
  recipe.width = 1200;
  recipe.height = 900;
  recipe.noise = 20;
  const auto jpeg = LoadJpeg(MakeJpeg(recipe));
  const std::unique_ptr<TBitmap> aloneReduced = jpeg->DecodeAt(TJPEGScale::jsEighth);
  TBitmap aloneFull;
  aloneFull.Assign(jpeg.get());

  TJPEGImage source;
  source.Assign(*jpeg);
  TJPEGImage fullCopy;
  fullCopy.Assign(source);
  std::unique_ptr<TBitmap> reduced;
  std::thread side([&] { reduced = source.DecodeAt(TJPEGScale::jsEighth); });
  TBitmap full;
  full.Assign(&fullCopy);
  side.join();
  ASSERT_EQ(reduced->Height(), aloneReduced->Height());
  for (int y = 0; y < reduced->Height(); ++y) {
    ASSERT_EQ(std::memcmp(reduced->RowData(y), aloneReduced->RowData(y),
                          static_cast<std::size_t>(reduced->RowBytes())),
              0);
  }
  for (int y = 0; y < full.Height(); ++y) {
    ASSERT_EQ(std::memcmp(full.RowData(y), aloneFull.RowData(y),
                          static_cast<std::size_t>(full.RowBytes())),
              0);
  }
}

// What the full decode refuses before decoding a pixel, the header check
// refuses, decoding nothing: a reduced decode may then never have started.
TEST(JpegScaledDecodeTest, HeaderCheckRefusesWhatTheFullDecodeRefuses) {
  const std::string whole = MakeJpeg(JpegRecipe{});
  {
    const auto jpeg = LoadJpeg(whole);
    EXPECT_NO_THROW(jpeg->CheckDecodable());
    EXPECT_EQ(jpeg->DecodeCount(), 0);
  }
  {
    // 65500 x 65500 in SOF0: a bitmap beyond the bound at full size, though
    // one of 8188 x 8188 would do at 1/8.
    std::string huge = whole;
    huge.replace(huge.find("\xFF\xC0") + 5, 4, "\xFF\xDC\xFF\xDC");
    const auto jpeg = LoadJpeg(huge);
    EXPECT_THROW(jpeg->CheckDecodable(), EOutOfResources);
    EXPECT_THROW(jpeg->Bitmap(), EOutOfResources);
  }
  {
    const auto empty = std::make_unique<TJPEGImage>();
    EXPECT_EQ(JpegErrorCode([&] { empty->CheckDecodable(); }), JERR_INPUT_EMPTY);
  }
  // Every coefficient of a file of several scans: 32768 x 32767 of one
  // component is 2 GiB of them, beyond the decoder's bound, at any scale;
  // one of 4096 x 4096 (32 MiB) is not refused.
  const std::int64_t coefficients = std::int64_t{32768} * 32768 * 2;
  if (coefficients > kMaxJpegDecoderBytes) {
    const auto bomb = LoadJpeg(ProgressiveBomb(32768, 32767, 1));
    EXPECT_EQ(JpegErrorCode([&] { bomb->CheckDecodable(); }), JERR_NO_BACKING_STORE);
    EXPECT_EQ(JpegErrorCode([&] { bomb->DecodeAt(TJPEGScale::jsEighth); }), JERR_NO_BACKING_STORE);
  }
  if (std::int64_t{4096} * 4096 * 2 < kMaxJpegDecoderBytes &&
      std::int64_t{4096} * 4096 < kMaxBitmapBytes) {
    EXPECT_NO_THROW(LoadJpeg(ProgressiveBomb(4096, 4096, 1))->CheckDecodable());
  }
}

}  // namespace
}  // namespace peloria
