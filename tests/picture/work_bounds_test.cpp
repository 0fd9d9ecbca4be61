// The bounds on a decoder's work, as opposed to its memory: small files that
// declare a large picture and make the decoder go over it again and again
// (empty JPEG scans, HEIF grid tiles sharing one coded picture, TIFF tiles
// sharing one JPEG stream) are refused before the work starts, at the limit
// they still decode.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/errors.h"
#include "picture/exif_block.h"
#include "picture/jpeg.h"
#include "picture/picture_limits.h"
#include "picture/raster.h"
#include "platform/stream.h"
#include "tests/picture/raster_compare.h"
#include "tests/support/jpeg_fixtures.h"
#include "tests/support/picture_fixtures.h"

namespace peloria {
namespace {

using testing::Span;
using Clock = std::chrono::steady_clock;

// AddressSanitizer's shadow memory and quarantine add to every peak, so its
// builds are held to a wider memory margin (GCC announces it with
// __SANITIZE_ADDRESS__, clang through __has_feature).
#if defined(__SANITIZE_ADDRESS__)
constexpr long kMemoryMargin = 3;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr long kMemoryMargin = 3;
#else
constexpr long kMemoryMargin = 1;
#endif
#else
constexpr long kMemoryMargin = 1;
#endif
constexpr bool kSanitized = kMemoryMargin > 1;

// What a decode in a child process cost: its exit code (0 refused, 1
// decoded, 2 failed otherwise), its time and its peak memory.
struct ChildCost {
  int code = -1;
  double seconds = 0;
  double userSeconds = 0;  // the child's own computing, whatever else runs
  long peakKiB = 0;
};

// Runs `decode` in a child process, so that its peak memory is its own.
ChildCost InChild(const std::function<void()>& decode) {
  const Clock::time_point start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    int code = 1;
    try {
      decode();
    } catch (const EInvalidGraphic&) {
      code = 0;
    } catch (const EJPEG&) {
      code = 0;
    } catch (...) {
      code = 2;
    }
    _exit(code);
  }
  ChildCost cost;
  int status = 0;
  rusage usage{};
  if (child > 0 && wait4(child, &status, 0, &usage) == child && WIFEXITED(status)) {
    cost.code = WEXITSTATUS(status);
  }
  cost.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  cost.userSeconds = static_cast<double>(usage.ru_utime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec) / 1e6;
  cost.peakKiB = usage.ru_maxrss;
  return cost;
}

// Decodes a JPEG file as the program does (8-bit greyscale output for a
// greyscale file), answering the copy's height.
int DecodeJpeg(const std::string& file) {
  TJPEGImage image;
  TMemoryStream stream(std::vector<std::uint8_t>(file.begin(), file.end()));
  image.LoadFromStream(stream);
  TBitmap copy;
  copy.Assign(&image);
  return copy.Height();
}

// A 5 KB file declaring 22000 x 22000 pixels with 500 empty scans kept the
// decoder busy for 20 seconds in 1.4 GB.
TEST(WorkBoundsTest, JpegOfManyEmptyScansIsRefusedBeforeDecoding) {
  const std::string file = testing::MakeEmptyScansJpeg(22000, 22000, 500);
  ASSERT_LT(file.size(), 6000u);
  const ChildCost cost = InChild([&] { DecodeJpeg(file); });
  EXPECT_EQ(cost.code, 0);
  EXPECT_LT(cost.seconds, 2.0);
  EXPECT_LT(cost.peakKiB, kMemoryMargin * 200 * 1024);
}

// A file of one scan declaring 22000 x 22000 grey pixels decodes (to 8-bit
// dithered greys) within bounds of time and memory: the dither of libjpeg's
// quantizer alone took over 4 seconds of its 5. The decode's own computing
// (about 2.6 s alone, 4.9 s with libjpeg's dither) is held to its bound;
// the wall clock, which the tests running beside it stretch, only to a
// generous one. A sanitizer build decodes it too, for the dither's reads and
// writes over the whole picture, but its shadow memory and checks leave the
// bounds of time and memory to the plain build.
TEST(WorkBoundsTest, JpegOfOneScanOverAHugeGreyPictureDecodesInBounds) {
  const std::string file = testing::MakeEmptyScansJpeg(22000, 22000, 1);
  const ChildCost cost = InChild([&] {
    if (DecodeJpeg(file) != 22000) _exit(2);
  });
  EXPECT_EQ(cost.code, 1);
  if (kSanitized) return;
  EXPECT_LT(cost.userSeconds, 4.5);
  EXPECT_LT(cost.seconds, 15.0);
  EXPECT_LT(cost.peakKiB, 1536 * 1024);
}

// 1024 x 1024 blocks: 128 scans visit exactly the bound, one more is refused.
TEST(WorkBoundsTest, JpegScansTimesBlocksAtTheBoundAndOnePast) {
  if (kMaxJpegBlockVisits != 128 * 1024 * 1024) GTEST_SKIP() << "a build with other bounds";
  EXPECT_EQ(DecodeJpeg(testing::MakeEmptyScansJpeg(8192, 8192, 128)), 8192);
  EXPECT_THROW(DecodeJpeg(testing::MakeEmptyScansJpeg(8192, 8192, 129)), EJPEG);
  // Pass by pass, each scan is also an output pass over every block.
  TJPEGImage image;
  image.SetProgressiveDisplay(true);
  const std::string file = testing::MakeEmptyScansJpeg(8192, 8192, 65);
  TMemoryStream stream(std::vector<std::uint8_t>(file.begin(), file.end()));
  image.LoadFromStream(stream);
  TBitmap copy;
  EXPECT_THROW(copy.Assign(&image), EJPEG);
}

testing::HeifGrid Grid(int columns, int rows) {
  testing::HeifGrid grid;
  grid.columns = columns;
  grid.rows = rows;
  grid.width = 16u * static_cast<std::uint32_t>(columns);
  grid.height = 16u * static_cast<std::uint32_t>(rows);
  return grid;
}

// The refusal's message, or "decoded".
std::string HeifOutcome(const std::string& file) {
  TBitmap bitmap;
  try {
    DecodeHeif(Span(file), bitmap);
    return "decoded";
  } catch (const EInvalidGraphic& e) {
    return e.what();
  }
}

// A grid of 141 x 141 tiles sharing one coded tile (835 KB) took a minute.
TEST(WorkBoundsTest, HeifGridOfManyTilesIsRefusedBeforeLibheifReadsIt) {
  const testing::Pixels tile = testing::Quadrants(64, 64);
  testing::HeifGrid grid = Grid(141, 141);
  grid.width = grid.height = 141 * 64;
  const std::string file = testing::MakeHeifGrid(tile, grid);
  const Clock::time_point start = Clock::now();
  EXPECT_NE(HeifOutcome(file).find("19882 items"), std::string::npos) << HeifOutcome(file);
  EXPECT_EQ(ExifBlockOf(Span(file)), std::nullopt);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0);
}

TEST(WorkBoundsTest, HeifTilesAndItemsAtTheBoundAndPast) {
  static_assert(kMaxHeifGridTiles == 2048 && kMaxHeifItems == 4096);
  const testing::Pixels tile = testing::Quadrants(16, 16);
  // 2048 tiles decode; 2050 (no grid has 2049) are refused.
  EXPECT_EQ(HeifOutcome(testing::MakeHeifGrid(tile, Grid(64, 32))), "decoded");
  EXPECT_NE(HeifOutcome(testing::MakeHeifGrid(tile, Grid(50, 41))).find("2050 tiles"),
            std::string::npos);
  // 4095 tiles and the grid are 4096 items, refused for their tiles only;
  // 4096 tiles and the grid are one item too many.
  const std::string atItems = HeifOutcome(testing::MakeHeifGrid(tile, Grid(65, 63)));
  EXPECT_NE(atItems.find("4095 tiles"), std::string::npos) << atItems;
  EXPECT_NE(HeifOutcome(testing::MakeHeifGrid(tile, Grid(64, 64))).find("4097 items"),
            std::string::npos);
}

// Tiles of 16 x 16 pixels pointing at one 99-scan stream: 8000 x 8000 (2 MB)
// took 8 seconds, 18900 x 18900 41 seconds and 1.1 GB.
TEST(WorkBoundsTest, TiffTilesSharingOneJpegStreamAreRefusedBeforeDecoding) {
  for (const std::uint32_t side : {8000u, 18900u}) {
    SCOPED_TRACE(side);
    const std::string file = testing::MakeSharedJpegTileTiff(side, 99);
    const ChildCost cost = InChild([&] {
      TBitmap bitmap;
      DecodeTiff(Span(file), bitmap);
    });
    EXPECT_EQ(cost.code, 0);
    EXPECT_LT(cost.seconds, 2.0);
    EXPECT_LT(cost.peakKiB, kMemoryMargin * 300 * 1024);
  }
}

TEST(WorkBoundsTest, TiffJpegWorkAtTheBoundAndOnePast) {
  if (kMaxJpegBlockVisits != 128 * 1024 * 1024) GTEST_SKIP() << "a build with other bounds";
  // Each tile: 99 scans of 4 blocks and their start, 6732 blocks' work;
  // 141 x 141 tiles stay within the bound, 142 x 142 do not.
  static_assert(kTiffJpegScanStartBlocks == 64);
  TBitmap bitmap;
  DecodeTiff(Span(testing::MakeSharedJpegTileTiff(141 * 16, 99)), bitmap);
  EXPECT_EQ(bitmap.Width(), 141 * 16);
  EXPECT_THROW(DecodeTiff(Span(testing::MakeSharedJpegTileTiff(142 * 16, 99)), bitmap),
               EInvalidGraphic);
}

TEST(WorkBoundsTest, TiffStripsAtTheBoundAndOnePast) {
  static_assert(kMaxTiffUnits == 1 << 18);
  // Strips of two rows.
  for (const int strips : {1 << 18, (1 << 18) + 1}) {
    SCOPED_TRACE(strips);
    TBitmap bitmap;
    const std::string file = testing::MakeTiff(testing::Quadrants(2, 2 * strips));
    if (strips <= kMaxTiffUnits) {
      DecodeTiff(Span(file), bitmap);
      EXPECT_EQ(bitmap.Height(), 2 * strips);
    } else {
      EXPECT_THROW(DecodeTiff(Span(file), bitmap), EInvalidGraphic);
    }
  }
}

}  // namespace
}  // namespace peloria
