// TIFF layouts: the common 8-bit layouts read straight from their strips or
// tiles and the others read through libtiff's RGBA interface give the same
// pixels, in the stored order whatever the orientation tag says; damaged
// strips fail with libtiff's account of the fault.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "picture/raster.h"
#include "tests/picture/raster_compare.h"
#include "tests/support/picture_fixtures.h"
#include "tests/support/temp_dir.h"

namespace peloria {
namespace {

using testing::Pixels;

using testing::MaxDifference;
using testing::Span;

struct TiffRecipe {
  int bits = 8;
  int photometric = PHOTOMETRIC_RGB;
  int alpha = 0;  // an EXTRASAMPLE_ value; 0: no alpha sample
  int compression = COMPRESSION_LZW;
  int tile = 0;  // side of the square tiles; 0: strips
  int rowsPerStrip = 3;
  int orientation = 0;
  int planar = PLANARCONFIG_CONTIG;
};

int SampleCount(const TiffRecipe& r) {
  return (r.photometric == PHOTOMETRIC_MINISBLACK ? 1 : 3) + (r.alpha != 0 ? 1 : 0);
}

// The stored samples of one pixel, 8 or 16 bits each (a 16-bit sample is the
// 8-bit one times 257); associated alpha gets its colour premultiplied.
std::vector<unsigned> Samples(const TiffRecipe& r, std::uint32_t argb) {
  const unsigned a = argb >> 24;
  std::vector<unsigned> s = {argb >> 16 & 0xFF, argb >> 8 & 0xFF, argb & 0xFF};
  if (r.photometric == PHOTOMETRIC_MINISBLACK) s.resize(1);
  if (r.alpha == EXTRASAMPLE_ASSOCALPHA) {
    for (unsigned& c : s) c = (c * a + 127) / 255;
  }
  if (r.alpha != 0) s.push_back(a);
  if (r.bits == 16) {
    for (unsigned& c : s) c *= 257;
  }
  return s;
}

// Writes the pixels through libtiff in the recipe's layout.
std::string WriteTiff(const Pixels& p, const TiffRecipe& r) {
  testing::TempDir dir;
  const std::string path = (dir.path() / "a.tif").string();
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  const int samples = SampleCount(r);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, p.width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, p.height);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, r.bits);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, r.photometric);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, r.planar);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, r.compression);
  if (r.alpha != 0) {
    const std::uint16_t extra = static_cast<std::uint16_t>(r.alpha);
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  if (r.orientation != 0) TIFFSetField(tiff, TIFFTAG_ORIENTATION, r.orientation);
  // Pixel-major samples of a block of the picture (zero outside it), or of
  // one sample plane when the planes are stored apart.
  const int bytes = r.bits / 8;
  const auto block = [&](int left, int top, int w, int h, int plane) {
    const int step = plane < 0 ? samples : 1;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(w * h * step * bytes));
    for (int y = 0; y < h && top + y < p.height; ++y) {
      for (int x = 0; x < w && left + x < p.width; ++x) {
        const std::vector<unsigned> s = Samples(r, p.At(left + x, top + y));
        for (int i = 0; i < step; ++i) {
          const unsigned v = s[static_cast<std::size_t>(plane < 0 ? i : plane)];
          std::uint8_t* at = out.data() + ((y * w + x) * step + i) * bytes;
          if (bytes == 2) {
            const auto v16 = static_cast<std::uint16_t>(v);
            std::memcpy(at, &v16, 2);
          } else {
            *at = static_cast<std::uint8_t>(v);
          }
        }
      }
    }
    return out;
  };
  if (r.tile != 0) {
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, r.tile);
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, r.tile);
    for (int ty = 0; ty < p.height; ty += r.tile) {
      for (int tx = 0; tx < p.width; tx += r.tile) {
        std::vector<std::uint8_t> t = block(tx, ty, r.tile, r.tile, -1);
        EXPECT_GT(TIFFWriteTile(tiff, t.data(), static_cast<std::uint32_t>(tx),
                                static_cast<std::uint32_t>(ty), 0, 0),
                  0);
      }
    }
  } else {
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, r.rowsPerStrip);
    const bool apart = r.planar == PLANARCONFIG_SEPARATE;
    for (int plane = apart ? 0 : -1; plane < (apart ? samples : 0); ++plane) {
      for (int y = 0; y < p.height; ++y) {
        std::vector<std::uint8_t> row = block(0, y, p.width, 1, plane);
        EXPECT_EQ(TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(y),
                                    static_cast<std::uint16_t>(plane < 0 ? 0 : plane)),
                  1);
      }
    }
  }
  TIFFClose(tiff);
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Pixels Grey(Pixels p) {
  for (std::uint32_t& v : p.argb) {
    const std::uint32_t g = v >> 16 & 0xFF;
    v = (v & 0xFF000000u) | g << 16 | g << 8 | g;
  }
  return p;
}

TEST(TiffDecoderTest, EveryLayoutGivesTheStoredPixels) {
  // Sides that are no multiple of the strips and tiles, so the last strip
  // and the tiles at the right and bottom edges are partly outside.
  const Pixels opaque = testing::Gradient(37, 29);
  const Pixels alpha = testing::Gradient(37, 29, true);
  const auto with = [](auto change) {
    TiffRecipe r;
    change(r);
    return r;
  };
  struct Row {
    const char* name;
    TiffRecipe recipe;
    Pixels want;
    int tolerance;
  };
  const Row rows[] = {
      {"RGB strips LZW", {}, opaque, 0},
      {"RGB one strip, uncompressed", with([](TiffRecipe& r) {
         r.compression = COMPRESSION_NONE;
         r.rowsPerStrip = 29;
       }),
       opaque, 0},
      {"RGB tiled deflate", with([](TiffRecipe& r) {
         r.tile = 16;
         r.compression = COMPRESSION_ADOBE_DEFLATE;
       }),
       opaque, 0},
      {"RGBA straight", with([](TiffRecipe& r) { r.alpha = EXTRASAMPLE_UNASSALPHA; }), alpha, 0},
      {"RGBA premultiplied tiled", with([](TiffRecipe& r) {
         r.alpha = EXTRASAMPLE_ASSOCALPHA;
         r.tile = 16;
       }),
       alpha, 1},
      {"grey strips", with([](TiffRecipe& r) { r.photometric = PHOTOMETRIC_MINISBLACK; }),
       Grey(opaque), 0},
      {"grey tiled", with([](TiffRecipe& r) {
         r.photometric = PHOTOMETRIC_MINISBLACK;
         r.tile = 16;
       }),
       Grey(opaque), 0},
      // Through libtiff's RGBA interface.
      {"RGB 16 bits", with([](TiffRecipe& r) { r.bits = 16; }), opaque, 0},
      {"RGBA 16 bits straight", with([](TiffRecipe& r) {
         r.bits = 16;
         r.alpha = EXTRASAMPLE_UNASSALPHA;
       }),
       alpha, 1},
      {"RGB planes apart", with([](TiffRecipe& r) { r.planar = PLANARCONFIG_SEPARATE; }), opaque,
       0},
      // Rows stay as stored whichever road reads them: the orientation is
      // applied once, by whoever shows the picture.
      {"RGB turned 180", with([](TiffRecipe& r) { r.orientation = ORIENTATION_BOTRIGHT; }), opaque,
       0},
      {"RGB 16 bits turned 90", with([](TiffRecipe& r) {
         r.bits = 16;
         r.orientation = ORIENTATION_RIGHTTOP;
       }),
       opaque, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TBitmap bitmap;
    DecodeTiff(Span(WriteTiff(row.want, row.recipe)), bitmap);
    ASSERT_EQ(bitmap.Width(), 37);
    ASSERT_EQ(bitmap.Height(), 29);
    EXPECT_LE(MaxDifference(bitmap, row.want), row.tolerance);
  }
}

// A strip or tile whose compressed data ends early (its byte count halved in
// the directory): the picture fails with libtiff's message rather than
// showing a partly filled bitmap.
TEST(TiffDecoderTest, CutOffStripsFailWithTheirMessage) {
  TiffRecipe oneStrip;
  oneStrip.rowsPerStrip = 29;
  TiffRecipe oneTile;
  oneTile.tile = 48;
  for (const auto& [recipe, tag] :
       {std::pair{oneStrip, TIFFTAG_STRIPBYTECOUNTS}, std::pair{oneTile, TIFFTAG_TILEBYTECOUNTS}}) {
    SCOPED_TRACE(tag);
    std::string file = WriteTiff(testing::Gradient(37, 29), recipe);
    // The only unit's byte count is a LONG held in the directory entry.
    const char entry[8] = {
        static_cast<char>(tag & 0xFF), static_cast<char>(tag >> 8), 4, 0, 1, 0, 0, 0};
    const std::size_t at = file.find(std::string(entry, 8));
    ASSERT_NE(at, std::string::npos);
    std::uint32_t count = 0;
    std::memcpy(&count, file.data() + at + 8, 4);
    count /= 2;
    std::memcpy(file.data() + at + 8, &count, 4);
    TBitmap bitmap;
    try {
      DecodeTiff(Span(file), bitmap);
      FAIL() << "decoded";
    } catch (const EInvalidGraphic& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find("TIFF"), std::string::npos) << message;
      EXPECT_NE(message.find("LZWDecode"), std::string::npos) << message;
    }
  }
}

}  // namespace
}  // namespace peloria
