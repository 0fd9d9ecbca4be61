// The kinds decoded at load: pixels, alpha on white, broken and cut-off
// files, bombs refused before allocating, and the content deciding the kind.
#include "picture/raster.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <functional>

#include "picture/formats.h"
#include "picture/picture.h"
#include "platform/cp932.h"
#include "tests/picture/raster_compare.h"
#include "tests/support/jpeg_fixtures.h"
#include "tests/support/picture_fixtures.h"
#include "tests/support/temp_dir.h"

namespace peloria {
namespace {

using testing::Pixels;
using Decoder = void (*)(std::span<const std::uint8_t>, TBitmap&);

using testing::MaxDifference;
using testing::Span;

struct Kind {
  const char* name;
  const char* extension;
  const TGraphicClass* kind;
  Decoder decode;
  std::function<std::string(const Pixels&)> make;
  int tolerance;
  bool alpha;  // the fixture keeps an alpha channel
};

// Options with one member set (designated initializers trip
// -Wmissing-field-initializers).
template <typename Options, typename Value>
Options With(Value Options::*member, Value value) {
  Options options;
  options.*member = value;
  return options;
}

// The most memory this process has held so far.
long PeakMemoryKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::vector<Kind> Kinds() {
  using namespace testing;
  return {
      {"PNG", "png", &TPngImage::StaticClass(), DecodePng,
       [](const Pixels& p) { return MakePng(p); }, 0, true},
      {"PNG interlaced", "png", &TPngImage::StaticClass(), DecodePng,
       [](const Pixels& p) { return MakePng(p, With(&ContainerOptions::interlaced, true)); }, 0,
       true},
      {"WebP lossless", "webp", &TWebPImage::StaticClass(), DecodeWebP,
       [](const Pixels& p) { return MakeWebP(p); }, 0, true},
      {"WebP lossy", "webp", &TWebPImage::StaticClass(), DecodeWebP,
       [](const Pixels& p) { return MakeWebP(p, With(&ContainerOptions::lossless, false)); }, 40,
       false},
      {"HEIC", "heic", &THeifImage::StaticClass(), DecodeHeif,
       [](const Pixels& p) { return MakeHeif(p); }, 40, false},
      {"AVIF", "avif", &THeifImage::StaticClass(), DecodeHeif,
       [](const Pixels& p) { return MakeHeif(p, With(&ContainerOptions::avif, true)); }, 40, false},
      {"TIFF", "tif", &TTiffImage::StaticClass(), DecodeTiff,
       [](const Pixels& p) { return MakeTiff(p, With(&TiffOptions::alpha, true)); }, 1, true},
      {"TIFF tiled LZW", "tiff", &TTiffImage::StaticClass(), DecodeTiff,
       [](const Pixels& p) { return MakeTiledTiff(p); }, 0, false},
      {"JPEG XL lossless", "jxl", &TJxlImage::StaticClass(), DecodeJxl,
       [](const Pixels& p) { return MakeJxl(p); }, 0, true},
      {"JPEG XL lossless container", "jxl", &TJxlImage::StaticClass(), DecodeJxl,
       [](const Pixels& p) { return MakeJxl(p, With(&JxlOptions::container, true)); }, 0, true},
      {"JPEG XL lossy", "jxl", &TJxlImage::StaticClass(), DecodeJxl,
       [](const Pixels& p) { return MakeJxl(p, With(&JxlOptions::lossless, false)); }, 40, false},
      {"icon, BMP inside", "ico", &TIcon::StaticClass(), DecodeIcon,
       [](const Pixels& p) {
         return MakeIcon({{p, false, true}});
       },
       0, true},
      {"icon, PNG inside", "ico", &TIcon::StaticClass(), DecodeIcon,
       [](const Pixels& p) {
         return MakeIcon({{p, true, true}});
       },
       0, true},
  };
}

TEST(RasterTest, EveryKindGivesTheSame24BitPictureOnWhite) {
  for (const Kind& k : Kinds()) {
    SCOPED_TRACE(k.name);
    // Lossy kinds get an opaque picture; alpha is checked where it is exact.
    const Pixels want = testing::Gradient(48, 40, k.alpha);
    const std::string file = k.make(want);
    TBitmap bitmap;
    k.decode(Span(file), bitmap);
    ASSERT_EQ(bitmap.Width(), 48);
    ASSERT_EQ(bitmap.Height(), 40);
    EXPECT_EQ(bitmap.BitsPerPixel(), 24);
    EXPECT_LE(MaxDifference(bitmap, want), k.tolerance);
  }
}

TEST(RasterTest, GifShowsItsFirstFrameWithTransparencyOnWhite) {
  Pixels want = testing::Quadrants(20, 18);
  want.argb[0] = 0x00123456;  // transparent
  for (bool interlaced : {false, true}) {
    TBitmap bitmap;
    DecodeGif(Span(testing::MakeGif(want, interlaced)), bitmap);
    ASSERT_EQ(bitmap.Width(), 20);
    EXPECT_EQ(MaxDifference(bitmap, want), 0) << interlaced;
  }
}

TEST(RasterTest, IconsShowTheirLargestImage) {
  const Pixels small = testing::Quadrants(16, 16);
  Pixels large = testing::Gradient(48, 48);
  large.argb[5] = 0x00FFFFFF & large.argb[5];  // AND mask: transparent
  const std::string file =
      testing::MakeIcon({{small, false, true}, {large, false, false}, {small, true, true}});
  TBitmap bitmap;
  DecodeIcon(Span(file), bitmap);
  ASSERT_EQ(bitmap.Width(), 48);
  EXPECT_EQ(MaxDifference(bitmap, large), 0);
}

TEST(RasterTest, BrokenAndCutOffFilesFail) {
  for (const Kind& k : Kinds()) {
    SCOPED_TRACE(k.name);
    const std::string file = k.make(testing::Gradient(48, 40));
    TBitmap bitmap;
    for (const std::size_t keep :
         {std::size_t{0}, std::size_t{7}, file.size() / 3, file.size() - 40}) {
      EXPECT_THROW(k.decode(Span(file.substr(0, keep)), bitmap), EInvalidGraphic) << keep;
    }
    std::string garbled = file;
    for (std::size_t i = 4; i < garbled.size(); i += 5) garbled[i] = static_cast<char>(~garbled[i]);
    EXPECT_THROW(k.decode(Span(garbled), bitmap), EInvalidGraphic);
  }
  TBitmap bitmap;
  const std::string gif = testing::MakeGif(testing::Quadrants(20, 18));
  EXPECT_THROW(DecodeGif(Span(gif.substr(0, gif.size() / 2)), bitmap), EInvalidGraphic);
}

// Headers promising enormous pictures, a few dozen bytes each: refused with
// EOutOfResources before the pixels are allocated.
TEST(RasterTest, BombsAreRefusedBeforeAllocating) {
  using testing::Pixels;
  // PNG: patch the IHDR of a small file to 900000 x 900000 (within libpng's
  // own million-pixel sides).
  std::string png = testing::MakePng(testing::Quadrants(8, 8));
  png.replace(16, 8, std::string("\x00\x0D\xBB\xA0\x00\x0D\xBB\xA0", 8));
  testing::FixPngCrc(png, 8);
  // GIF: a logical screen of 65535 x 65535.
  std::string gif = testing::MakeGif(testing::Quadrants(8, 8));
  gif.replace(6, 4, "\xFF\xFF\xFF\xFF");
  // TIFF: 1000000 x 1000000 in the width and length entries.
  testing::TiffOptions options;
  std::string tiff = testing::MakeTiff(testing::Quadrants(8, 8), options);
  // Entries start at 10; width (256) and length (257) are the first two, their
  // values in place at 8 bytes into each 12-byte entry.
  tiff.replace(10 + 8, 4, std::string("\x40\x42\x0F\x00", 4));
  tiff.replace(22 + 8, 4, std::string("\x40\x42\x0F\x00", 4));
  // WebP lossless with alpha: 16384 x 16384 needs 1 GiB for its 32-bit
  // working picture and as much again for the picture with alpha.
  std::string webp = testing::MakeWebP(testing::Quadrants(8, 8));
  // VP8L header at 21: 14 bits width-1, 14 bits height-1, the alpha bit.
  webp.replace(21, 4, std::string("\xFF\xFF\xFF\x1F", 4));
  const std::pair<const char*, std::pair<Decoder, std::string>> rows[] = {
      {"PNG", {DecodePng, png}},
      {"GIF", {DecodeGif, gif}},
      {"TIFF", {DecodeTiff, tiff}},
      {"WebP", {DecodeWebP, webp}}};
  for (const auto& [name, row] : rows) {
    TBitmap bitmap;
    EXPECT_THROW(row.first(Span(row.second), bitmap), EOutOfResources) << name;
    EXPECT_EQ(bitmap.Width(), 0) << name;
  }
}

// HEIC and AVIF: the size comes from the images' "ispe" properties. A small
// file whose properties declare 30000 x 30000 (within libheif's own
// bound on the sides, 2.5 GiB as a 24-bit bitmap) is refused with
// EOutOfResources before anything is decoded or allocated.
TEST(RasterTest, HeifDeclaringAHugePictureIsRefusedBeforeAllocating) {
  for (const bool avif : {false, true}) {
    SCOPED_TRACE(avif ? "AVIF" : "HEIC");
    testing::ContainerOptions options;
    options.avif = avif;
    std::string file = testing::MakeHeif(testing::Quadrants(64, 48), options);
    // "ispe", version and flags, then the width and height, big-endian (the
    // HEVC file keeps one for its coded picture and one for the primary
    // image).
    int patched = 0;
    for (std::size_t at = file.find("ispe"); at != std::string::npos;
         at = file.find("ispe", at + 4), ++patched) {
      file.replace(at + 8, 8, std::string("\x00\x00\x75\x30\x00\x00\x75\x30", 8));
    }
    ASSERT_GT(patched, 0);
    TBitmap bitmap;
    try {
      DecodeHeif(Span(file), bitmap);
      FAIL() << "decoded";
    } catch (const EOutOfResources& e) {
      EXPECT_NE(std::string(e.what()).find("30000"), std::string::npos) << e.what();
    } catch (const EInvalidGraphic& e) {
      FAIL() << "refused for another reason: " << e.what();
    }
    EXPECT_EQ(bitmap.Width(), 0);
  }
}

// A coded picture far larger than the size its file declares (8256 x 64
// against 64 x 16) is refused before it is decoded; before, it was decoded
// at its coded size, up to libheif's own bound of 32768 a side.
TEST(RasterTest, HeifCodedBeyondTheTileBoundIsRefusedBeforeDecoding) {
  for (const bool avif : {false, true}) {
    SCOPED_TRACE(avif ? "AVIF" : "HEIC");
    std::string file = testing::MakeHeif(testing::Quadrants(8256, 64),
                                         With(&testing::ContainerOptions::avif, avif));
    const std::size_t at = file.find("ispe");
    ASSERT_NE(at, std::string::npos);
    file.replace(at + 8, 8, std::string("\x00\x00\x00\x40\x00\x00\x00\x10", 8));
    TBitmap bitmap;
    try {
      DecodeHeif(Span(file), bitmap);
      FAIL() << "decoded";
    } catch (const EInvalidGraphic& e) {
      EXPECT_NE(std::string(e.what()).find("8256x64"), std::string::npos) << Utf8(e.what());
    }
    EXPECT_EQ(bitmap.Width(), 0);
  }
}

// Phones write HEIC pictures as grids of tiles. The tiles are laid
// together and cut to the grid's size, also when one tile is larger than the
// whole picture.
TEST(RasterTest, HeifGridsAreLaidTogetherAndCut) {
  const Pixels tile = testing::Quadrants(64, 64);
  struct Row {
    int columns, rows;
    std::uint32_t width, height;
  };
  for (const Row row : {Row{2, 2, 100, 90}, Row{3, 1, 160, 64}, Row{1, 1, 40, 30}}) {
    SCOPED_TRACE(::testing::Message() << row.columns << " x " << row.rows);
    testing::HeifGrid grid;
    grid.columns = row.columns;
    grid.rows = row.rows;
    grid.width = row.width;
    grid.height = row.height;
    TBitmap bitmap;
    DecodeHeif(Span(testing::MakeHeifGrid(tile, grid)), bitmap);
    ASSERT_EQ(bitmap.Width(), static_cast<int>(row.width));
    ASSERT_EQ(bitmap.Height(), static_cast<int>(row.height));
    Pixels want;
    want.width = bitmap.Width();
    want.height = bitmap.Height();
    for (int y = 0; y < want.height; ++y) {
      for (int x = 0; x < want.width; ++x) want.argb.push_back(tile.At(x % 64, y % 64));
    }
    EXPECT_LE(MaxDifference(bitmap, want), 40);
  }
}

// Found by fuzzing: a grid's own header asked for a canvas of about
// 20000 x 28000 while its declared size was 64 x 64, and libheif allocated
// over 3 GB for it before the bitmap's bound refused the result. The canvas
// is now bounded like any picture size before libheif sees it, wherever the
// header lies; a grid without a readable header is refused.
TEST(RasterTest, HeifGridCanvasIsBoundedBeforeAllocating) {
  const Pixels tile = testing::Quadrants(64, 64);
  struct Row {
    const char* what;
    std::uint32_t width, height;
    bool inMeta;
  };
  const Row rows[] = {
      {"header in idat", 30000, 30000, true},
      // Its area overflows 64-bit arithmetic.
      {"largest 32-bit canvas", 0xFFFFFFFF, 0xFFFFFFFF, false},
      // 160 MB as a bitmap, but libheif pads each plane's rows to 16 bytes:
      // over 2 GB of planes. Found by fuzzing with an empty canvas.
      {"two pixels wide", 2, 20000000, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    testing::HeifGrid grid;
    grid.width = row.width;
    grid.height = row.height;
    grid.declaredWidth = 128;
    grid.declaredHeight = 128;
    grid.headerInMeta = row.inMeta;
    const long before = PeakMemoryKiB();
    TBitmap bitmap;
    try {
      DecodeHeif(Span(testing::MakeHeifGrid(tile, grid)), bitmap);
      FAIL() << "decoded";
    } catch (const EOutOfResources& e) {
      EXPECT_NE(std::string(e.what()).find(std::to_string(row.height)), std::string::npos)
          << e.what();
    }
    EXPECT_LT(PeakMemoryKiB() - before, 256 * 1024);
    EXPECT_EQ(bitmap.Width(), 0);
  }

  // A cut-off header, and an empty canvas.
  testing::HeifGrid cut;
  cut.width = 100;
  cut.height = 90;
  cut.headerCut = 4;  // the header loses its height
  testing::HeifGrid empty;
  empty.width = 0;
  empty.height = 7000000;
  empty.declaredWidth = 128;
  empty.declaredHeight = 128;
  for (const testing::HeifGrid& grid : {cut, empty}) {
    TBitmap bitmap;
    EXPECT_THROW(DecodeHeif(Span(testing::MakeHeifGrid(tile, grid)), bitmap), EInvalidGraphic);
  }
}

TEST(RasterTest, PngChunkLongerThanTheFileIsRefusedBeforeLibpngAllocatesIt) {
  // Found by fuzzing: an eXIf chunk declaring 0x66747970 bytes after the
  // IHDR made libpng allocate 1.7 GB before it found the file too short.
  std::string png = testing::MakePng(testing::Quadrants(8, 8));
  png.insert(33, std::string("\x66\x74\x79\x70"
                             "eXIf"
                             "II*\x00\x08\x00\x00\x00",
                             16));
  TBitmap bitmap;
  try {
    DecodePng(Span(png), bitmap);
    FAIL() << "decoded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_NE(std::string(e.what()).find("a chunk is longer than the file"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(bitmap.Width(), 0);
}

TEST(RasterTest, CopiesShareTheDecodedBitmap) {
  testing::TempDir dir;
  TPicture picture;
  picture.LoadFromFile(dir.Write("a.png", testing::MakePng(testing::Quadrants(10, 6))));
  TBitmap copy;
  copy.Assign(picture.Graphic());
  const auto& raster = dynamic_cast<const TRasterImage&>(*picture.Graphic());
  EXPECT_TRUE(copy.SharesImageWith(raster.Bitmap()));
  EXPECT_EQ(picture.Width(), 10);
  EXPECT_EQ(copy.RowData(0)[2], 0xFF);  // red, top left
}

// The content decides when the signature names another kind than the
// extension; agreeing files and files without a known signature go by the
// extension.
TEST(RasterTest, TheContentDecidesTheKind) {
  testing::TempDir dir;
  const std::string png = testing::MakePng(testing::Quadrants(8, 6));
  const std::string jpeg = testing::MakeJpeg(testing::JpegRecipe{});
  const std::string heic = testing::MakeHeif(testing::Quadrants(64, 48));
  const std::pair<std::string, std::pair<std::string, const char*>> rows[] = {
      {"shot.jpg", {png, "TPngImage"}},
      {"temp.jpg", {heic, "THeifImage"}},
      {"noextension", {png, "TPngImage"}},
      {"photo.png", {jpeg, "TJPEGImage"}},
      {"photo.JPG", {jpeg, "TJPEGImage"}},
      {"a.gif", {png, "TPngImage"}},
      {"b.tiff", {testing::MakeGif(testing::Quadrants(4, 4)), "TGifImage"}},
      {"c.bmp", {testing::MakeWebP(testing::Quadrants(4, 4)), "TWebPImage"}},
      {"d.ico", {testing::MakeTiff(testing::Quadrants(4, 4)), "TTiffImage"}},
  };
  for (const auto& [name, row] : rows) {
    TPicture picture;
    picture.LoadFromFile(dir.Write(name, row.first));
    ASSERT_NE(picture.Graphic(), nullptr) << name;
    EXPECT_STREQ(picture.Graphic()->ClassName(), row.second) << name;
    TBitmap copy;
    copy.Assign(picture.Graphic());
    EXPECT_EQ(copy.BitsPerPixel(), 24) << name;
  }
  // Without a signature the extension decides, as it always did.
  TPicture picture;
  EXPECT_THROW(picture.LoadFromFile(dir.Write("text.png", "just text")), EInvalidGraphic);
  EXPECT_THROW(picture.LoadFromFile(dir.Write("text.jpg", "just text")), EJPEG);
  EXPECT_THROW(picture.LoadFromFile(dir.Write("text", "just text")), EInvalidGraphic);
  EXPECT_THROW(picture.LoadFromFile(dir.Write("x.wmf.png", "")), EInvalidGraphic);
}

TEST(RasterTest, HeifIsTurnedByItsDecoderTheOthersAreNot) {
  EXPECT_TRUE(THeifImage().Upright());
  EXPECT_FALSE(TPngImage().Upright());
  EXPECT_FALSE(TTiffImage().Upright());
}

}  // namespace
}  // namespace peloria
