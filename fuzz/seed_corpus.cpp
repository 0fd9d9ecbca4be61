// Writes the seed corpora of the fuzz harnesses: small valid inputs of every
// kind each harness reads, made here or by the tests' own fixture writers.
//   peloria_fuzz_seeds <folder>   writes <folder>/<harness>/<seed name>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/jpeg_fixtures.h"
#include "tests/support/picture_fixtures.h"
#include "tests/support/tiff_writer.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

fs::path root;

void Write(const std::string& harness, const std::string& name, const void* data,
           std::size_t size) {
  const fs::path dir = root / harness;
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) {
    std::fprintf(stderr, "peloria_fuzz_seeds: cannot write %s\n", (dir / name).c_str());
    std::exit(1);
  }
}
void Write(const std::string& harness, const std::string& name, const Bytes& bytes) {
  Write(harness, name, bytes.data(), bytes.size());
}
void Write(const std::string& harness, const std::string& name, std::string_view text) {
  Write(harness, name, text.data(), text.size());
}

// --- Number formats: 12-byte records of value, precision byte, decimals byte.

void AppendRecord(Bytes& out, long double value, std::uint8_t precision, std::uint8_t decimals) {
  std::uint8_t raw[16] = {};
  std::memcpy(raw, &value, sizeof value < 16 ? sizeof value : 16);
  out.insert(out.end(), raw, raw + 10);
  out.push_back(precision);
  out.push_back(decimals);
}

void FormatSeeds() {
  // The precision byte is taken modulo 24 minus 2: 17 gives 15, 13 gives 11.
  const long double values[] = {0.1L,
                                1.0L / 3,
                                2.0L / 3,
                                250,
                                4,
                                2.8L,
                                -0.5L,
                                0.1 + 0.2,
                                0.0001L,
                                0.00009999L,
                                1.5e-7L,
                                123456789012345.0L,
                                1e15L,
                                999999999999999.9L,
                                1e16L,
                                12.345L,
                                0.25L,
                                -0.05L,
                                2.45,
                                1.95,
                                0,
                                -0.0L,
                                std::numeric_limits<long double>::infinity(),
                                -std::numeric_limits<long double>::infinity(),
                                std::numeric_limits<long double>::quiet_NaN(),
                                std::numeric_limits<long double>::max(),
                                std::numeric_limits<long double>::min(),
                                std::numeric_limits<long double>::denorm_min()};
  Bytes all;
  int n = 0;
  for (long double v : values) {
    Bytes one;
    AppendRecord(one, v, 17, 1);
    AppendRecord(one, v, 13, 1);
    AppendRecord(one, v, 20, 18);
    Write("format", "value-" + std::to_string(n++), one);
    all.insert(all.end(), one.begin(), one.end());
  }
  Write("format", "all-values", all);
}

// --- HTTP replies, as the peer sends them.

void HttpSeeds() {
  const char* replies[] = {
      "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: 5\r\n\r\nhello",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1A\r\n"
      "abcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1a;ext=1\r\nabc\r\n0\r\n\r\n",
      "HTTP/1.0 200 OK\r\nServer: test\r\n\r\nbody until the close",
      "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\nrest",
      "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found",
      "HTTP/1.1 301 Moved Permanently\r\nLocation: http://127.0.0.1/elsewhere.jpg\r\n"
      "Content-Length: 0\r\n\r\n",
      "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-4/10\r\nContent-Length: 5\r\n"
      "\r\n01234",
      "HTTP/1.1 200 OK\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
      "Last-Modified: Sunday, 06-Nov-94 08:49:37 GMT\r\nExpires: Sun Nov  6 08:49:37 1994\r\n"
      "X-Long: first part\r\n second part\r\n\tthird part\r\nContent-Length: 2\r\n\r\nok",
      "HTTP/1.1 200 OK\r\nDate: Tue, 15 Nov 94 08:12:31 +0900\r\ncontent-length:    3\r\n\r\nabc",
      "HTTP/1.1 abc\r\n\r\n",
      "\r\n",
      // Framing that two readers would read differently, and no status line.
      "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 5\r\n\r\nabcde",
      "HTTP/1.1 200 OK\r\nContent-Length: 5, 5\r\n\r\nabcde",
      "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n"
      "3\r\nabc\r\n0\r\nX-Trailer: 1\r\n\r\n",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcXYZ\r\n0\r\n\r\n",
      "<html><h1>\x1b]0;title\x07\x1b[2J</h1></html>\r\n\r\n",
      "HTTP/1.0 200 OK\r\n\r\n",
  };
  int n = 0;
  for (const char* reply : replies) Write("http", "reply-" + std::to_string(n++), reply);
  // A reply that never ends: 1-byte chunks whose extensions carry the bulk,
  // and a chunk-size line one byte past its bound.
  const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  std::string endless = head;
  for (int i = 0; i < 64; ++i) endless += "1;" + std::string(200, 'e') + "\r\nA\r\n";
  Write("http", "reply-" + std::to_string(n++), endless);
  Write("http", "reply-" + std::to_string(n++),
        head + "1;" + std::string(4096 - 1, 'e') + "\r\nA\r\n0\r\n\r\n");
}

// --- BMP files: both header forms, every bit depth, bit fields, run-length
// compression and top-down storage.

void Put16(Bytes& b, std::uint32_t v) {
  b.push_back(v & 0xFF);
  b.push_back((v >> 8) & 0xFF);
}
void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// A file with a 40-byte header (or the 12-byte one when `core`), `colours`
// palette entries, optional bit-field masks and the given pixel bytes.
Bytes Bmp(int width, int height, int bits, std::uint32_t compression, int colours,
          const Bytes& pixels, bool core = false, const Bytes& masks = {}) {
  const std::uint32_t headerSize = core ? 12 : 40;
  const std::uint32_t paletteSize = colours * (core ? 3 : 4);
  const std::uint32_t offset = 14 + headerSize + masks.size() + paletteSize;
  Bytes b{'B', 'M'};
  Put32(b, offset + pixels.size());
  Put32(b, 0);
  Put32(b, offset);
  Put32(b, headerSize);
  if (core) {
    Put16(b, width);
    Put16(b, height);
    Put16(b, 1);
    Put16(b, bits);
  } else {
    Put32(b, width);
    Put32(b, static_cast<std::uint32_t>(height));
    Put16(b, 1);
    Put16(b, bits);
    Put32(b, compression);
    Put32(b, pixels.size());
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, colours);
    Put32(b, 0);
    b.insert(b.end(), masks.begin(), masks.end());
  }
  for (int i = 0; i < colours; ++i) {
    b.push_back(i * 37);
    b.push_back(i * 59);
    b.push_back(i * 83);
    if (!core) b.push_back(0);
  }
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

Bytes Pixels(int rowBytes, int rows) {
  Bytes p;
  for (int i = 0; i < rowBytes * rows; ++i) p.push_back(i * 29 + 7);
  return p;
}

void BmpSeeds() {
  Bytes masks565, masks888;
  Put32(masks565, 0xF800);
  Put32(masks565, 0x07E0);
  Put32(masks565, 0x001F);
  Put32(masks888, 0xFF0000);
  Put32(masks888, 0x00FF00);
  Put32(masks888, 0x0000FF);
  const Bytes rle8{2, 5, 0, 3, 1, 2, 3, 0, 0, 0, 2, 1, 1, 3, 9, 0, 1};
  const Bytes rle4{4, 0x12, 0, 4, 0x34, 0x56, 0, 0, 3, 0x77, 0, 1};
  const Bytes files[] = {
      Bmp(3, 2, 24, 0, 0, Pixels(12, 2)),
      Bmp(3, -2, 24, 0, 0, Pixels(12, 2)),
      Bmp(5, 3, 8, 0, 4, Pixels(8, 3)),
      Bmp(9, 2, 4, 0, 16, Pixels(8, 2)),
      Bmp(17, 2, 1, 0, 2, Pixels(4, 2)),
      Bmp(3, 2, 16, 0, 0, Pixels(8, 2)),
      Bmp(3, 2, 16, 3, 0, Pixels(8, 2), false, masks565),
      Bmp(2, 2, 32, 0, 0, Pixels(8, 2)),
      Bmp(2, 2, 32, 3, 0, Pixels(8, 2), false, masks888),
      Bmp(4, 2, 24, 0, 0, Pixels(12, 2), true),
      Bmp(6, 2, 8, 0, 3, Pixels(8, 2), true),
      Bmp(6, 3, 8, 1, 4, rle8),
      Bmp(8, 2, 4, 2, 16, rle4),
  };
  int n = 0;
  for (const Bytes& file : files) Write("bmp", "bmp-" + std::to_string(n++), file);
}

// --- Exif: JPEG files with Exif blocks in both byte orders.

using peloria::testing::ByteOrder;
using peloria::testing::TiffWriter;

// A block with every value type and every kind of directory.
std::string FullTiff(ByteOrder order) {
  TiffWriter w(order);
  w.Ascii(w.Ifd0(), 0x010F, "Maker");
  w.Ascii(w.Ifd0(), 0x0110, "Model 1");
  w.Short(w.Ifd0(), 0x0112, {6});
  w.Rational(w.Ifd0(), 0x011A, {{72, 1}});
  w.Rational(w.Ifd0(), 0x011B, {{72, 1}});
  w.Short(w.Ifd0(), 0x0128, {2});
  w.Ascii(w.Ifd0(), 0x0132, "2026:12:08 10:00:00");
  w.Short(w.Ifd0(), 0x0115, {3});
  w.Short(w.Ifd0(), 0x011C, {1});
  const int exif = w.ExifIfd();
  w.Rational(exif, 0x829A, {{1, 60}});
  w.Rational(exif, 0x829D, {{28, 10}});
  w.Short(exif, 0x8822, {2});
  w.Short(exif, 0x8827, {400});
  w.Undefined(exif, 0x9000, "0220");
  w.Ascii(exif, 0x9003, "2026:12:08 10:00:00");
  w.SRational(exif, 0x9201, {{-2, 3}});
  w.SRational(exif, 0x9204, {{-1, 3}});
  w.Rational(exif, 0x9205, {{3, 0}});
  w.Short(exif, 0x9207, {5});
  w.Short(exif, 0x9208, {1});
  w.Short(exif, 0x9209, {0x19});
  w.Rational(exif, 0x920A, {{50, 1}});
  w.Undefined(exif, 0x927C, std::string("maker note bytes\0\1\2", 19));
  w.Undefined(exif, 0x9286, std::string("ASCII\0\0\0comment", 15));
  w.Undefined(exif, 0x9286,
              std::string("JIS\0\0\0\0\0\x1b$B0!\x1b(Bok\x0e"
                          "1\x0f",
                          21));
  w.Undefined(exif, 0x9286, std::string("UNICODE\0\0A\0B\x30\x42", 14));
  w.Ascii(exif, 0x9290, "12");
  w.Undefined(exif, 0xA000, "0100");
  w.Short(exif, 0xA001, {1});
  w.Long(exif, 0xA002, {640});
  w.Long(exif, 0xA003, {480});
  w.Short(exif, 0xA210, {2});
  w.Rational(exif, 0xA20E, {{4000, 3}});
  w.Short(exif, 0xA217, {2});
  w.Short(exif, 0xA403, {0});
  w.Short(exif, 0xA405, {75});
  w.Float(exif, 0x9203, {1.5f});
  w.Double(exif, 0x9206, {2.25});
  w.SByte(exif, 0x9102, {-3});
  w.SShort(exif, 0xA215, {-1});
  w.SLong(exif, 0x1001, {-5});
  w.Byte(exif, 0x1002, {7, 8});
  w.Rational(exif, 0xA432, {{24, 1}, {70, 1}, {28, 10}, {0, 0}});
  w.Ascii(exif, 0xA434, "Lens");
  const int gps = w.AddIfd();
  w.AddPointer(w.Ifd0(), 0x8825, gps);
  w.Ascii(gps, 0x0001, "S");
  w.Rational(gps, 0x0002, {{35, 1}, {39, 1}, {2916, 100}});
  w.Ascii(gps, 0x0003, "W");
  w.Rational(gps, 0x0004, {{139, 1}, {44, 1}, {5476, 100}});
  w.Byte(gps, 0x0005, {1});
  w.Rational(gps, 0x0006, {{25, 1}});
  w.Rational(gps, 0x0007, {{12, 1}, {0, 1}, {0, 0}});
  w.Ascii(gps, 0x001D, "2026:12:08");
  const int interop = w.InteropIfd();
  w.Ascii(interop, 0x0001, "R98");
  w.Long(interop, 0x1001, {640});
  const int ifd1 = w.Ifd1();
  w.Short(ifd1, 0x0103, {6});
  w.Short(ifd1, 0x0112, {8});
  w.Rational(ifd1, 0x011A, {{72, 1}});
  w.Short(ifd1, 0x0128, {2});
  w.Long(ifd1, 0x0201, {1000});
  w.Long(ifd1, 0x0202, {200});
  return w.Build();
}

// Directories that link back to themselves and to each other.
std::string LoopTiff(ByteOrder order) {
  TiffWriter w(order);
  w.Ascii(w.Ifd0(), 0x0110, "Loop");
  const int other = w.AddIfd();
  w.AddPointer(w.Ifd0(), 0x8769, other);
  w.AddPointer(other, 0xA005, other);
  w.SetNext(other, w.Ifd0());
  w.SetNext(w.Ifd0(), other);
  return w.Build();
}

// Counts and offsets that run past the end.
std::string HostileTiff(ByteOrder order) {
  TiffWriter w(order);
  w.AddRawField(w.Ifd0(), 0x0110, 2, 0xFFFFFFFF, 0xFFFFFFF0);
  w.AddRawField(w.Ifd0(), 0x9286, 7, 0x40000000, 8);
  w.AddRaw(w.Ifd0(), 0x829A, 5, 1, "\1\0");
  w.AddRaw(w.Ifd0(), 0x0100, 13, 3, "xyz");
  w.SetNextRaw(w.Ifd0(), 0xFFFFFFF8);
  return w.Build();
}

void ExifSeeds() {
  using peloria::testing::JpegWithExif;
  Write("exif", "intel", JpegWithExif(FullTiff(ByteOrder::kIntel)));
  Write("exif", "motorola-jfif", JpegWithExif(FullTiff(ByteOrder::kMotorola), {.jfif = true}));
  Write("exif", "loop", JpegWithExif(LoopTiff(ByteOrder::kIntel)));
  Write("exif", "loop-motorola", JpegWithExif(LoopTiff(ByteOrder::kMotorola)));
  Write("exif", "hostile", JpegWithExif(HostileTiff(ByteOrder::kIntel)));
  Write("exif", "padded",
        JpegWithExif(FullTiff(ByteOrder::kIntel),
                     {.padding = "0123456789abcdefghijklmnopqrstuvwxyz"}));
  Write("exif", "user-comment-jis",
        std::string_view(
            "JIS\0\0\0\0\0\x1b$B0!\x1b(Ba\x1b$@\x30\x21\x1b&@\x1b$B\x21\x21\x0e\x31\x0f\x1b", 34));
}

// --- JPEG files.

void JpegSeeds() {
  using peloria::testing::JpegColor;
  using peloria::testing::JpegRecipe;
  using peloria::testing::MakeJpeg;
  struct Seed {
    const char* name;
    int width;
    int height;
    JpegColor color;
    bool progressive;
    int quality;
  } seeds[] = {
      {"color", 16, 16, JpegColor::kColor, false, 90},
      {"color-odd", 13, 7, JpegColor::kColor, false, 50},
      {"gray", 8, 8, JpegColor::kGray, false, 90},
      {"cmyk", 16, 8, JpegColor::kCmyk, false, 90},
      {"ycck", 8, 16, JpegColor::kYcck, false, 75},
      {"progressive", 32, 16, JpegColor::kColor, true, 90},
      {"progressive-gray", 16, 16, JpegColor::kGray, true, 60},
      {"one-row", 100, 1, JpegColor::kColor, false, 90},
      {"one-column", 1, 40, JpegColor::kColor, false, 90},
  };
  for (const Seed& seed : seeds) {
    JpegRecipe recipe;
    recipe.width = seed.width;
    recipe.height = seed.height;
    recipe.color = seed.color;
    recipe.progressive = seed.progressive;
    recipe.quality = seed.quality;
    Write("jpeg", seed.name, MakeJpeg(recipe));
  }
  // A decodable camera-style file: Exif APP1 and a small picture after it.
  JpegRecipe plain;
  plain.width = 24;
  plain.height = 16;
  plain.jfif = false;
  const std::string withExif = peloria::testing::JpegWithExif(
      FullTiff(ByteOrder::kMotorola), {.body = peloria::testing::AfterSoi(MakeJpeg(plain))});
  Write("jpeg", "exif", withExif);
  Write("exif", "decodable", withExif);
}

// --- The kinds decoded at load: small pictures with and without alpha, with
// an Exif block in either byte order where the container keeps one.
void RasterSeeds() {
  using namespace peloria::testing;
  const peloria::testing::Pixels opaque = Gradient(16, 12);
  const peloria::testing::Pixels alpha = Gradient(16, 12, true);
  const std::string intel = ExifBlock(false, 6);
  const std::string motorola = ExifBlock(true, 3);
  ContainerOptions exif;
  exif.exif = intel;
  ContainerOptions late;
  late.exif = motorola;
  late.exifLate = true;
  late.interlaced = true;
  ContainerOptions prefixed;
  prefixed.exif = motorola;
  prefixed.exifPrefix = true;
  prefixed.lossless = false;
  Write("png", "exif", MakePng(opaque, exif));
  Write("png", "alpha-interlaced-late-exif", MakePng(alpha, late));
  Write("webp", "lossless-exif", MakeWebP(alpha, exif));
  Write("webp", "lossy-prefixed-exif", MakeWebP(opaque, prefixed));
  Write("webp", "animated", MakeAnimatedWebP({opaque, alpha}));
  Write("heif", "heic-exif", MakeHeif(Gradient(32, 16), exif));
  ContainerOptions avif;
  avif.avif = true;
  Write("heif", "avif-alpha", MakeHeif(Gradient(16, 16, true), avif));
  HeifGrid grid;
  grid.width = 24;
  grid.height = 20;
  grid.headerInMeta = true;
  Write("heif", "heic-grid", MakeHeifGrid(Gradient(16, 16), grid));
  // The shapes of the work bounds: many tiles sharing one coded picture,
  // empty scans over a large declared picture, TIFF tiles sharing one JPEG
  // stream; each within the fuzz build's bounds and beyond them.
  HeifGrid shared;
  shared.columns = shared.rows = 12;
  shared.width = shared.height = 12 * 16;
  Write("heif", "heic-grid-shared-tiles", MakeHeifGrid(Gradient(16, 16), shared));
  Write("jpeg", "empty-scans", MakeEmptyScansJpeg(256, 256, 40));
  Write("jpeg", "empty-scans-large", MakeEmptyScansJpeg(4096, 4096, 30));
  Write("tiff", "shared-jpeg-tiles", MakeSharedJpegTileTiff(256, 99));
  Write("tiff", "shared-jpeg-tiles-large", MakeSharedJpegTileTiff(1024, 99));
  TiffOptions tiff;
  tiff.model = "Seed";
  tiff.fNumberTimesTen = 28;
  Write("tiff", "strips-exif", MakeTiff(opaque, tiff));
  tiff.motorola = true;
  tiff.alpha = true;
  tiff.orientation = 8;
  Write("tiff", "motorola-alpha", MakeTiff(alpha, tiff));
  Write("tiff", "tiled-lzw", MakeTiledTiff(Gradient(20, 20)));
  Write("gif", "plain", MakeGif(Quadrants(16, 12)));
  Write("gif", "interlaced", MakeGif(Quadrants(10, 20), true));
  Write("ico", "bmp-and-png", MakeIcon({{Quadrants(16, 16), false, false}, {alpha, true, true}}));
  Write("ico", "bmp-alpha", MakeIcon({{alpha, false, true}}));
  JxlOptions jxl;
  Write("jxl", "lossless-bare", MakeJxl(alpha, jxl));
  jxl.lossless = false;
  jxl.exif = intel;
  Write("jxl", "lossy-exif-box", MakeJxl(opaque, jxl));
  JpegRecipe transcoded;
  transcoded.width = 24;
  transcoded.height = 16;
  transcoded.jfif = false;
  transcoded.markers = {{0xE1, std::string("Exif\0\0", 6) + motorola}};
  Write("jxl", "jpeg-brob-exif", JxlFromJpeg(MakeJpeg(transcoded)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: peloria_fuzz_seeds <folder>\n");
    return 2;
  }
  root = argv[1];
  FormatSeeds();
  HttpSeeds();
  BmpSeeds();
  ExifSeeds();
  JpegSeeds();
  RasterSeeds();
  return 0;
}
