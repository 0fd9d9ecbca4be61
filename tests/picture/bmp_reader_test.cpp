#include <gtest/gtest.h>

#include <cstring>

#include "picture/bitmap.h"
#include "platform/cp932.h"
#include "platform/stream.h"

namespace peloria {
namespace {

// Little-endian byte writer for BMP fixtures.
struct Writer {
  std::string bytes;
  void U8(unsigned v) { bytes += static_cast<char>(v & 0xFF); }
  void U16(unsigned v) {
    U8(v);
    U8(v >> 8);
  }
  void U32(std::uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  void Raw(const std::string& s) { bytes += s; }
};

// The colour of palette entry i, and which index or colour pixel (x, y)
// holds (y counting from the top).
TRGBQuad EntryColor(unsigned i) {
  return TRGBQuad{static_cast<std::uint8_t>(i * 13), static_cast<std::uint8_t>(i * 91 + 5),
                  static_cast<std::uint8_t>(i * 37 + 1), 0};
}
std::uint32_t Argb(unsigned r, unsigned g, unsigned b) {
  return 0xFF000000u | r << 16 | g << 8 | b;
}
std::uint32_t EntryArgb(unsigned i) {
  const TRGBQuad q = EntryColor(i);
  return Argb(q.rgbRed, q.rgbGreen, q.rgbBlue);
}
unsigned PixelIndex(int x, int y, int bits) {
  return static_cast<unsigned>(x + 3 * y) % (1u << bits);
}

struct BmpSpec {
  int width = 7;
  int height = 5;
  int bits = 24;
  bool topDown = false;
  int headerSize = 40;  // 12, 40 or 124
  std::uint32_t compression = 0;
  std::uint32_t masks[3] = {0, 0, 0};
};

// The pixel (x, y) of the test pattern as the file stores it and as the
// bitmap should show it.
std::uint32_t StoredPixel(const BmpSpec& s, int x, int y) {
  if (s.bits <= 8) return PixelIndex(x, y, s.bits);
  const unsigned r = (x * 40) & 0xFF, g = (y * 50) & 0xFF, b = ((x + y) * 20) & 0xFF;
  if (s.bits == 16) {
    if (s.compression == 3) return (r >> 3) << 11 | (g >> 2) << 5 | b >> 3;  // 5-6-5
    return (r >> 3) << 10 | (g >> 3) << 5 | b >> 3;
  }
  return r << 16 | g << 8 | b;
}
std::uint32_t ShownPixel(const BmpSpec& s, int x, int y) {
  if (s.bits <= 8) return EntryArgb(PixelIndex(x, y, s.bits));
  const std::uint32_t v = StoredPixel(s, x, y);
  if (s.bits == 16) {
    const auto scale = [](unsigned value, unsigned max) { return (value * 255 + max / 2) / max; };
    if (s.compression == 3)
      return Argb(scale(v >> 11, 31), scale(v >> 5 & 63, 63), scale(v & 31, 31));
    return Argb(scale(v >> 10, 31), scale(v >> 5 & 31, 31), scale(v & 31, 31));
  }
  return 0xFF000000u | v;
}

std::string MakeBmp(const BmpSpec& s) {
  Writer info;
  const int entries = s.bits <= 8 ? 1 << s.bits : 0;
  const int entrySize = s.headerSize == 12 ? 3 : 4;
  if (s.headerSize == 12) {
    info.U32(12);
    info.U16(s.width);
    info.U16(s.height);
    info.U16(1);
    info.U16(s.bits);
  } else {
    info.U32(s.headerSize);
    info.U32(s.width);
    info.U32(s.topDown ? -s.height : s.height);
    info.U16(1);
    info.U16(s.bits);
    info.U32(s.compression);
    info.U32(0);
    info.U32(2835);
    info.U32(2835);
    info.U32(0);
    info.U32(0);
    if (s.compression == 3 || s.headerSize > 40) {
      for (std::uint32_t m : s.masks) info.U32(m);
    }
    while (static_cast<int>(info.bytes.size()) < s.headerSize) info.U8(0);
  }
  for (int i = 0; i < entries; ++i) {
    const TRGBQuad q = EntryColor(i);
    info.U8(q.rgbBlue);
    info.U8(q.rgbGreen);
    info.U8(q.rgbRed);
    if (entrySize == 4) info.U8(0);
  }
  Writer pixels;
  const int rowBytes = (s.width * s.bits + 31) / 32 * 4;
  for (int fileRow = 0; fileRow < s.height; ++fileRow) {
    const int y = s.topDown ? fileRow : s.height - 1 - fileRow;
    std::string row(rowBytes, '\0');
    for (int x = 0; x < s.width; ++x) {
      const std::uint32_t v = StoredPixel(s, x, y);
      const int bit = x * s.bits;
      if (s.bits < 8) {
        row[bit / 8] = static_cast<char>(row[bit / 8] | v << (8 - s.bits - bit % 8));
      } else {
        for (int k = 0; k < s.bits / 8; ++k) row[bit / 8 + k] = static_cast<char>(v >> 8 * k);
      }
    }
    pixels.Raw(row);
  }
  Writer file;
  file.Raw("BM");
  file.U32(14 + info.bytes.size() + pixels.bytes.size());
  file.U32(0);
  file.U32(14 + info.bytes.size());
  file.Raw(info.bytes);
  file.Raw(pixels.bytes);
  return file.bytes;
}

void Load(TBitmap& bitmap, const std::string& bytes) {
  TMemoryStream stream(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  bitmap.LoadFromStream(stream);
}

void ExpectPattern(const TBitmap& bitmap, const BmpSpec& s) {
  std::vector<std::uint32_t> row(static_cast<std::size_t>(s.width));
  for (int y = 0; y < s.height; ++y) {
    bitmap.RowToArgb(y, row.data());
    for (int x = 0; x < s.width; ++x) {
      ASSERT_EQ(row[x], ShownPixel(s, x, y)) << "x " << x << " y " << y;
    }
  }
}

TEST(BmpReaderTest, EveryDepthInBothRowOrders) {
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    for (bool topDown : {false, true}) {
      for (int headerSize : {40, 124}) {
        SCOPED_TRACE(testing::Message()
                     << bits << " bits, top-down " << topDown << ", header " << headerSize);
        BmpSpec s;
        s.bits = bits;
        s.topDown = topDown;
        s.headerSize = headerSize;
        TBitmap bitmap;
        Load(bitmap, MakeBmp(s));
        EXPECT_EQ(bitmap.Width(), 7);
        EXPECT_EQ(bitmap.Height(), 5);
        EXPECT_EQ(bitmap.BitsPerPixel(), bits);
        EXPECT_EQ(bitmap.TopDown(), topDown);
        EXPECT_EQ(bitmap.Palette().size(), bits <= 8 ? std::size_t{1} << bits : 0u);
        ExpectPattern(bitmap, s);
      }
    }
  }
}

TEST(BmpReaderTest, TwentyFourBitRowsAreBlueGreenRedTopFirst) {
  BmpSpec s;
  TBitmap bitmap;
  Load(bitmap, MakeBmp(s));
  const std::uint8_t* p = bitmap.RowData(0) + 3 * 2;  // x 2, top row
  EXPECT_EQ(p[0], 40);                                // blue (2 + 0) * 20
  EXPECT_EQ(p[1], 0);                                 // green
  EXPECT_EQ(p[2], 80);                                // red
}

TEST(BmpReaderTest, CoreHeaderAndBitFields) {
  for (int bits : {1, 4, 8, 24}) {
    BmpSpec s;
    s.bits = bits;
    s.headerSize = 12;
    TBitmap bitmap;
    Load(bitmap, MakeBmp(s));
    EXPECT_EQ(bitmap.BitsPerPixel(), bits);
    ExpectPattern(bitmap, s);
  }
  BmpSpec s565;
  s565.bits = 16;
  s565.compression = 3;
  s565.masks[0] = 0xF800;
  s565.masks[1] = 0x07E0;
  s565.masks[2] = 0x001F;
  BmpSpec s32 = s565;
  s32.bits = 32;
  s32.masks[0] = 0x00FF0000;
  s32.masks[1] = 0x0000FF00;
  s32.masks[2] = 0x000000FF;
  for (BmpSpec s : {s565, s32}) {
    for (int headerSize : {40, 124}) {
      s.headerSize = headerSize;
      TBitmap bitmap;
      Load(bitmap, MakeBmp(s));
      EXPECT_EQ(bitmap.RedMask(), s.masks[0]);
      ExpectPattern(bitmap, s);
    }
  }
}

std::string Patch(std::string bytes, std::size_t at, std::uint32_t value, int size = 4) {
  std::string encoded;
  for (int i = 0; i < size; ++i) encoded += static_cast<char>(value >> 8 * i);
  return bytes.replace(at, encoded.size(), encoded);
}

TEST(BmpReaderTest, MalformedFilesAreInvalid) {
  BmpSpec s8;
  s8.bits = 8;
  const std::string good8 = MakeBmp(s8);
  BmpSpec bf;
  bf.bits = 16;
  bf.compression = 3;
  const std::string goodBitfields = MakeBmp(bf);
  const std::string good24 = MakeBmp(BmpSpec{});
  const std::pair<std::string, std::string> rows[] = {
      {"empty", ""},
      {"not BM", "BA" + good24.substr(2)},
      {"file header only", good24.substr(0, 14)},
      {"header cut", good24.substr(0, 30)},
      {"header size 20", Patch(good24, 14, 20)},
      {"header size past the end", Patch(good24, 14, 0xFFFFFFF0)},
      {"two planes", Patch(good24, 26, 2, 2)},
      {"bit count 7", Patch(good24, 28, 7, 2)},
      {"bit count 0", Patch(good24, 28, 0, 2)},
      {"JPEG compression", Patch(good24, 30, 4)},
      {"RLE8 at 24 bits", Patch(good24, 30, 1)},
      {"bit fields at 8 bits", Patch(good8, 30, 3)},
      {"width 0", Patch(good24, 18, 0)},
      {"negative width", Patch(good24, 18, 0xFFFFFFFF)},
      {"height 0", Patch(good24, 22, 0)},
      {"colour table past the end", good8.substr(0, 14 + 40 + 100)},
      {"colours used past the end", Patch(Patch(good8, 10, 0), 46, 0x40000000)},
      {"masks past the end", goodBitfields.substr(0, 14 + 40 + 6)},
      {"pixels cut", good24.substr(0, good24.size() - 1)},
      {"pixel offset past the end", Patch(good24, 10, 0x7FFFFFF0)},
      {"pixel offset inside the header", Patch(good24, 10, 20)},
      {"top-down RLE", Patch(Patch(good8, 30, 1), 22, static_cast<std::uint32_t>(-5))},
  };
  for (const auto& [name, bytes] : rows) {
    TBitmap bitmap;
    bitmap.SetSize(3, 3, 24);
    try {
      Load(bitmap, bytes);
      ADD_FAILURE() << name;
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.ClassName(), "EInvalidGraphic") << name;
      EXPECT_EQ(e.Message(), Cp932("ビットマップイメージが不正です")) << name;
    }
    EXPECT_EQ(bitmap.Width(), 3) << name;  // the old image stays
  }
}

TEST(BmpReaderTest, HugeDeclaredSizesAreRefusedBeforeAllocating) {
  const std::string good = MakeBmp(BmpSpec{});
  const std::pair<std::uint32_t, std::uint32_t> rows[] = {
      {65500, 65500},
      {1, 0x80000000u},  // 2^31 rows, top-down
      {0x7FFFFFFF, 1},
  };
  for (const auto& [width, height] : rows) {
    TBitmap bitmap;
    try {
      Load(bitmap, Patch(Patch(good, 18, width), 22, height));
      ADD_FAILURE() << width << "x" << height;
    } catch (const EOutOfResources& e) {
      EXPECT_EQ(e.ClassName(), "EOutOfResources");
      EXPECT_NE(e.Message().find(std::to_string(width)), std::string::npos);
    }
  }
}

// An RLE file: 8 or 4 bits, the given run-length data, bottom-up.
std::string MakeRle(int bits, int width, int height, const std::string& data) {
  Writer w;
  const int entries = 1 << bits;
  w.Raw("BM");
  w.U32(14 + 40 + entries * 4 + data.size());
  w.U32(0);
  w.U32(14 + 40 + entries * 4);
  w.U32(40);
  w.U32(width);
  w.U32(height);
  w.U16(1);
  w.U16(bits);
  w.U32(bits == 8 ? 1 : 2);
  w.U32(data.size());
  w.U32(0);
  w.U32(0);
  w.U32(0);
  w.U32(0);
  for (int i = 0; i < entries; ++i) {
    const TRGBQuad q = EntryColor(i);
    w.U8(q.rgbBlue);
    w.U8(q.rgbGreen);
    w.U8(q.rgbRed);
    w.U8(0);
  }
  w.Raw(data);
  return w.bytes;
}

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

TEST(BmpReaderTest, RunLengthFilesExpandToTwentyFourBits) {
  struct Row {
    const char* name;
    int bits;
    std::string data;
    // Expected palette indices, top row first; -1 = never written (black).
    std::vector<std::vector<int>> rows;
  };
  const Row cases[] = {
      {"RLE8 runs, absolute block, delta, end of line",
       8,
       B({3, 5, 0, 3, 1, 2, 3, 0,  // bottom row: 5 5 5 then 1 2 3 (padded)
          0, 0,                    // end of line
          0, 2, 2, 1,              // delta: right 2, up 1 (to the top row)
          2, 9, 0, 1}),            // top row from x 2: 9 9; end of bitmap
       {{-1, -1, 9, 9, -1, -1}, {-1, -1, -1, -1, -1, -1}, {5, 5, 5, 1, 2, 3}}},
      {"RLE4 alternating nibbles and an odd absolute block",
       4,
       B({5, 0x12, 0, 3, 0x34, 0x50, 0, 0,  // 1 2 1 2 1 then 3 4 5
          0, 0, 0, 1}),                     // empty line, end of bitmap
       {{-1, -1, -1, -1, -1, -1, -1, -1},
        {-1, -1, -1, -1, -1, -1, -1, -1},
        {1, 2, 1, 2, 1, 3, 4, 5}}},
      {"data ending without end of bitmap", 8, B({2, 7}), {{-1, -1}, {7, 7}}},
  };
  for (const Row& c : cases) {
    SCOPED_TRACE(c.name);
    const int width = static_cast<int>(c.rows[0].size());
    const int height = static_cast<int>(c.rows.size());
    TBitmap bitmap;
    Load(bitmap, MakeRle(c.bits, width, height, c.data));
    ASSERT_EQ(bitmap.BitsPerPixel(), 24);
    ASSERT_EQ(bitmap.Width(), width);
    ASSERT_EQ(bitmap.Height(), height);
    std::vector<std::uint32_t> row(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
      bitmap.RowToArgb(y, row.data());
      for (int x = 0; x < width; ++x) {
        const int index = c.rows[y][x];
        EXPECT_EQ(row[x], index < 0 ? 0xFF000000u : EntryArgb(index)) << x << "," << y;
      }
    }
  }
}

TEST(BmpReaderTest, RunLengthDataLeavingTheBitmapIsInvalid) {
  const std::pair<const char*, std::string> rows[] = {
      {"run past the row end", B({5, 1})},
      {"run after the last row", B({0, 0, 0, 0, 1, 1})},
      {"absolute block past the row end", B({0, 5, 1, 2, 3, 4, 5, 0})},
      {"absolute block past the data", B({0, 4, 1, 2})},
      {"delta past the right edge", B({0, 2, 5, 0})},
      {"delta past the top", B({0, 2, 0, 3})},
      {"delta cut", B({0, 2, 1})},
  };
  for (const auto& [name, data] : rows) {
    TBitmap bitmap;
    EXPECT_THROW(Load(bitmap, MakeRle(8, 4, 2, data)), EInvalidGraphic) << name;
  }
}

}  // namespace
}  // namespace peloria
