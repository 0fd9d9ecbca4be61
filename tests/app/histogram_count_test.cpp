// The pixel counting behind the histogram, checked against a plain count on
// pictures large enough to be split between threads, with widths that leave
// every count of pixels after the last group of eight.
#include "app/histogram_count.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace peloria {
namespace {

THistogramCounts PlainCount(TBitmap& bitmap, int type) {
  THistogramCounts counts{};
  for (int y = 0; y < bitmap.Height(); ++y) {
    const std::uint8_t* p = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x, p += 3) {
      const int value = type == 0   ? p[2]
                        : type == 1 ? p[1]
                        : type == 2 ? p[0]
                                    : (p[0] + p[1] + p[2]) / 3;
      ++counts[static_cast<std::size_t>(value)];
    }
  }
  return counts;
}

TEST(HistogramCountTest, MatchesAPlainCountForEveryTypeAndWidth) {
  std::mt19937 random(7);
  for (int width : {1, 2, 3, 5, 7, 8, 2049, 2050, 2051, 2052, 2055}) {
    const int height = width < 10 ? 3 : 2300;  // the large ones span several threads
    TBitmap bitmap;
    bitmap.SetSize(width, height, 24);
    for (int y = 0; y < height; ++y) {
      std::uint8_t* row = bitmap.ScanLine(y);
      // Smooth runs and noise alike: every third row is a single colour.
      for (int i = 0; i < width * 3; ++i) {
        row[i] = static_cast<std::uint8_t>(y % 3 == 0 ? 200 + i % 3 : random());
      }
    }
    for (int type = 0; type < 4; ++type) {
      THistogramCounts counts{};
      CountHistogram(bitmap, type, counts);
      EXPECT_EQ(counts, PlainCount(bitmap, type)) << "width " << width << " type " << type;
      EXPECT_EQ(counts[256], 0);
    }
  }
}

// An 8-bit bitmap is counted by its palette indices, each under its colour;
// indices beyond a short palette count as black, as the bitmap reads them.
TEST(HistogramCountTest, PaletteBitmapsCountTheirColours) {
  std::mt19937 random(11);
  for (int width : {1, 9, 2051}) {
    const int height = width < 10 ? 3 : 2100;
    TBitmap bitmap;
    bitmap.SetSize(width, height, 8);
    std::vector<TRGBQuad> palette(200);
    for (TRGBQuad& q : palette) {
      q = TRGBQuad{static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                   static_cast<std::uint8_t>(random()), 0};
    }
    bitmap.SetPalette(palette);
    for (int y = 0; y < height; ++y) {
      std::uint8_t* row = bitmap.ScanLine(y);
      for (int x = 0; x < width; ++x) row[x] = static_cast<std::uint8_t>(random());
    }
    std::vector<std::uint32_t> argb(static_cast<std::size_t>(width));
    for (int type = 0; type < 4; ++type) {
      THistogramCounts expected{};
      for (int y = 0; y < height; ++y) {
        bitmap.RowToArgb(y, argb.data());
        for (const std::uint32_t p : argb) {
          const int r = p >> 16 & 0xFF, g = p >> 8 & 0xFF, b = p & 0xFF;
          const int value = type == 0 ? r : type == 1 ? g : type == 2 ? b : (r + g + b) / 3;
          ++expected[static_cast<std::size_t>(value)];
        }
      }
      THistogramCounts counts{};
      CountHistogram(bitmap, type, counts);
      EXPECT_EQ(counts, expected) << "width " << width << " type " << type;
    }
  }
}

// Counting only reads: a copy keeps sharing its source's pixels, and a copy
// that has taken some rows as its own (copy on write, band by band) counts
// its own rows where it has them and the shared ones elsewhere.
TEST(HistogramCountTest, CountingACopyNeitherCopiesNorMissesItsChanges) {
  TBitmap source;
  source.SetSize(64, 100, 24);
  for (int y = 0; y < 100; ++y) std::fill_n(source.ScanLine(y), 64 * 3, std::uint8_t{10});
  TBitmap copy;
  copy.Assign(&source);
  THistogramCounts counts{};
  CountHistogram(copy, 0, counts);
  EXPECT_TRUE(copy.SharesImageWith(source));
  EXPECT_EQ(counts[10], 6400);

  std::fill_n(copy.ScanLine(50), 64 * 3, std::uint8_t{77});  // one row of one band
  EXPECT_FALSE(copy.SharesImageWith(source));
  counts = {};
  CountHistogram(copy, 0, counts);
  EXPECT_EQ(counts[10], 6400 - 64);
  EXPECT_EQ(counts[77], 64);
  counts = {};
  CountHistogram(source, 0, counts);
  EXPECT_EQ(counts[10], 6400);
}

TEST(HistogramCountTest, EmptyBitmapCountsNothing) {
  TBitmap bitmap;
  THistogramCounts counts{};
  CountHistogram(bitmap, 3, counts);
  EXPECT_EQ(counts, THistogramCounts{});
}

}  // namespace
}  // namespace peloria
