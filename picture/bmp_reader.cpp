// Reading BMP files into a TBitmap.
//
// Accepted: the 12-byte (OS/2 1.x core) header and the 40-byte-or-longer
// header (the V2..V5 forms read as their first 40 bytes plus the masks that
// follow); 1, 4, 8, 16, 24 and 32 bits per pixel; bottom-up and top-down
// rows; uncompressed pixels and, for 16 and 32 bits, bit-field masks.
// The bitmap keeps the file's depth and colour table.
//
// Run-length files (RLE8 with 8 bits, RLE4 with 4 bits) are expanded into a
// 24-bit blue-green-red bitmap through the colour table. Every run, absolute
// block and delta is checked against the bitmap's bounds and the file's end:
// one that would leave the row or the picture makes the file invalid.
// Pixels that the runs never reach (skipped by a delta or an early end of
// line or end of bitmap) are black. Data that stops without an end-of-bitmap
// code is accepted as it is.
//
// Anything else (another header size, bit count or compression, a plane
// count other than 1, a colour table, masks or pixels that run past the end
// of the file) fails with EInvalidGraphic "ビットマップイメージが不正です".
// A picture beyond kMaxBitmapBytes fails with EOutOfResources before any
// pixel memory is allocated.
#include <algorithm>
#include <cstring>

#include "picture/bitmap.h"
#include "platform/bytes.h"

namespace peloria {

namespace {

// BITMAPFILEHEADER (14 bytes, little-endian):
//   0  2  "BM"
//   2  4  file size (not used)
//   6  4  reserved
//  10  4  offset of the pixel data from the start of the file (0: right
//         after the colour table)
// BITMAPCOREHEADER (12 bytes), at 14:
//   0  4  header size, 12
//   4  2  width       6  2  height (bottom-up)
//   8  2  planes, 1  10  2  bits per pixel
//   followed by 3-byte colour entries (blue, green, red), 2^bits of them for
//   1, 4 and 8 bits
// BITMAPINFOHEADER (40 bytes or longer), at 14:
//   0  4  header size
//   4  4  width (signed)   8  4  height (signed; negative: top-down)
//  12  2  planes, 1       14  2  bits per pixel
//  16  4  compression: 0 none, 1 RLE8, 2 RLE4, 3 bit fields
//  20  4  image size     24  8  resolution
//  32  4  colours used (0: 2^bits for 1, 4, 8 bits; none otherwise)
//  36  4  important colours
//  40 12  red, green, blue masks: inside headers of 52 bytes or more,
//         right after a 40-byte header when the compression is bit fields
//   followed by 4-byte colour entries (blue, green, red, reserved)
constexpr std::size_t kFileHeader = 14;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;

[[noreturn]] void Invalid() {
  throw EInvalidGraphic(FillMessage(kMsgInvalidBitmap));
}

// Bounds-checked little-endian reads over the file's bytes.
class Bytes {
 public:
  explicit Bytes(const std::vector<std::uint8_t>& data) : data_(data) {}
  std::size_t size() const { return data_.size(); }
  bool Has(std::uint64_t offset, std::uint64_t count) const {
    return count <= data_.size() && offset <= data_.size() - count;
  }
  std::uint8_t U8(std::uint64_t at) const {
    if (!Has(at, 1)) Invalid();
    return data_[at];
  }
  std::uint16_t U16(std::uint64_t at) const {
    const auto value = U16Le(data_, at);
    if (!value) Invalid();
    return *value;
  }
  std::uint32_t U32(std::uint64_t at) const {
    const auto value = U32Le(data_, at);
    if (!value) Invalid();
    return *value;
  }
  const std::uint8_t* At(std::uint64_t at, std::uint64_t count) const {
    if (!Has(at, count)) Invalid();
    return data_.data() + at;
  }

 private:
  const std::vector<std::uint8_t>& data_;
};

struct Header {
  std::int64_t width = 0;
  std::int64_t height = 0;  // absolute
  bool topDown = false;
  int bitsPerPixel = 0;
  std::uint32_t compression = kBiRgb;
  std::uint32_t masks[3] = {0, 0, 0};
  bool hasMasks = false;
  std::uint64_t tableStart = 0;
  std::uint64_t tableEntries = 0;  // as declared
  int entrySize = 4;
};

Header ReadHeader(const Bytes& file) {
  Header h;
  const std::uint32_t headerSize = file.U32(kFileHeader);
  std::uint32_t colorsUsed = 0;
  if (headerSize == 12) {
    h.width = file.U16(kFileHeader + 4);
    h.height = file.U16(kFileHeader + 6);
    if (file.U16(kFileHeader + 8) != 1) Invalid();
    h.bitsPerPixel = file.U16(kFileHeader + 10);
    h.entrySize = 3;
    h.tableStart = kFileHeader + 12;
  } else if (headerSize >= 40) {
    if (!file.Has(kFileHeader, headerSize)) Invalid();
    const auto width = static_cast<std::int32_t>(file.U32(kFileHeader + 4));
    const auto height = static_cast<std::int32_t>(file.U32(kFileHeader + 8));
    h.width = width;
    h.topDown = height < 0;
    h.height = height < 0 ? -std::int64_t{height} : height;
    if (file.U16(kFileHeader + 12) != 1) Invalid();
    h.bitsPerPixel = file.U16(kFileHeader + 14);
    h.compression = file.U32(kFileHeader + 16);
    colorsUsed = file.U32(kFileHeader + 32);
    h.tableStart = kFileHeader + std::uint64_t{headerSize};
    if (h.compression == kBiBitfields) {
      std::uint64_t maskAt = kFileHeader + 40;
      if (headerSize == 40) {
        h.tableStart += 12;  // the masks follow the header
      } else if (headerSize < 52) {
        Invalid();
      }
      for (auto& mask : h.masks) {
        mask = file.U32(maskAt);
        maskAt += 4;
      }
      h.hasMasks = true;
    }
  } else {
    Invalid();
  }

  switch (h.bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      Invalid();
  }
  const bool compressionFits =
      h.compression == kBiRgb || (h.compression == kBiRle8 && h.bitsPerPixel == 8) ||
      (h.compression == kBiRle4 && h.bitsPerPixel == 4) ||
      (h.compression == kBiBitfields && (h.bitsPerPixel == 16 || h.bitsPerPixel == 32));
  if (!compressionFits) Invalid();
  // Run-length data is stored bottom-up only.
  if (h.topDown && (h.compression == kBiRle8 || h.compression == kBiRle4)) Invalid();
  if (h.width <= 0 || h.height <= 0) Invalid();

  if (colorsUsed != 0) {
    h.tableEntries = colorsUsed;
  } else if (h.bitsPerPixel <= 8) {
    h.tableEntries = std::uint64_t{1} << h.bitsPerPixel;
  }
  return h;
}

TRGBQuad PaletteColor(const std::vector<TRGBQuad>& palette, unsigned index) {
  return index < palette.size() ? palette[index] : TRGBQuad{0, 0, 0, 0};
}

// Expands RLE8 or RLE4 data starting at `at` into the 24-bit image. File row
// y counts from the bottom.
//   count > 0, value   a run: count pixels of value (RLE4: the two nibbles
//                      of value alternately, high first)
//   0, 0               end of line
//   0, 1               end of bitmap
//   0, 2, dx, dy       move right dx and up dy pixels
//   0, n >= 3          n pixels stored as they are (RLE4: two per byte),
//                      padded to an even number of bytes
void ExpandRle(const Bytes& file, std::uint64_t at, const Header& h,
               const std::vector<TRGBQuad>& palette, TBitmap::Image& image) {
  const bool rle8 = h.compression == kBiRle8;
  const std::int64_t width = h.width;
  const std::int64_t height = h.height;
  std::int64_t x = 0;
  std::int64_t y = 0;
  const auto put = [&](unsigned index) {
    const TRGBQuad c = PaletteColor(palette, index);
    std::uint8_t* p = image.Row(static_cast<int>(height - 1 - y)) + 3 * x;
    p[0] = c.rgbBlue;
    p[1] = c.rgbGreen;
    p[2] = c.rgbRed;
    ++x;
  };
  const auto checkSpan = [&](std::int64_t count) {
    if (y >= height || count > width - x) Invalid();
  };
  while (file.Has(at, 2)) {
    const unsigned count = file.U8(at);
    const unsigned value = file.U8(at + 1);
    at += 2;
    if (count > 0) {
      checkSpan(count);
      for (unsigned i = 0; i < count; ++i) {
        put(rle8 ? value : ((i & 1) ? value & 0x0F : value >> 4));
      }
    } else if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      return;
    } else if (value == 2) {
      const std::int64_t dx = file.U8(at);
      const std::int64_t dy = file.U8(at + 1);
      at += 2;
      if (dx > width - x || dy > height - y) Invalid();
      x += dx;
      y += dy;
    } else {
      const std::uint64_t bytes = rle8 ? value : (value + 1) / 2;
      const std::uint8_t* src = file.At(at, bytes);
      checkSpan(value);
      for (unsigned i = 0; i < value; ++i) {
        put(rle8 ? src[i] : ((i & 1) ? src[i / 2] & 0x0F : src[i / 2] >> 4));
      }
      at += bytes + (bytes & 1);
    }
  }
}

}  // namespace

void TBitmap::LoadFromStream(TStream& stream) {
  const std::vector<std::uint8_t> data = ReadRestOfStream(stream);
  const Bytes file(data);
  if (!file.Has(0, kFileHeader) || data[0] != 'B' || data[1] != 'M') Invalid();
  const std::uint32_t pixelOffset = file.U32(10);
  const Header h = ReadHeader(file);

  // The colour table: as declared, but not reaching into the pixel data when
  // the file says where that starts.
  std::uint64_t entries = h.tableEntries;
  if (pixelOffset != 0) {
    if (pixelOffset < h.tableStart) Invalid();
    entries = std::min<std::uint64_t>(entries, (pixelOffset - h.tableStart) / h.entrySize);
  }
  if (!file.Has(h.tableStart, entries * h.entrySize)) Invalid();
  const std::uint64_t pixelsAt =
      pixelOffset != 0 ? pixelOffset : h.tableStart + entries * h.entrySize;
  std::vector<TRGBQuad> palette;
  if (h.bitsPerPixel <= 8) {
    const std::uint64_t used = std::min<std::uint64_t>(entries, std::uint64_t{1} << h.bitsPerPixel);
    const std::uint8_t* table = file.At(h.tableStart, used * h.entrySize);
    palette.resize(used);
    for (std::uint64_t i = 0; i < used; ++i) {
      const std::uint8_t* e = table + i * h.entrySize;
      palette[i] = TRGBQuad{e[0], e[1], e[2], 0};
    }
  }

  const bool rle = h.compression == kBiRle8 || h.compression == kBiRle4;
  const int outBits = rle ? 24 : h.bitsPerPixel;
  // Refuses pictures beyond kMaxBitmapBytes before the pixel data is looked at.
  CheckedImageBytes(h.width, h.height, outBits);
  const int width = static_cast<int>(h.width);
  const int height = static_cast<int>(h.height);

  std::shared_ptr<Image> image;
  if (rle) {
    image = Image::Make(width, height, 24, true);
    ExpandRle(file, pixelsAt, h, palette, *image);
  } else {
    const std::int64_t rowBytes = BitmapRowBytes(h.width, h.bitsPerPixel);
    const std::uint8_t* pixels = file.At(pixelsAt, static_cast<std::uint64_t>(rowBytes) * h.height);
    image = Image::Make(width, h.topDown ? -height : height, h.bitsPerPixel, false);
    for (int row = 0; row < height; ++row) {
      const int fileRow = h.topDown ? row : height - 1 - row;
      std::memcpy(image->Row(row), pixels + rowBytes * fileRow, static_cast<std::size_t>(rowBytes));
    }
    image->palette = std::move(palette);
    if (h.hasMasks) std::memcpy(image->masks, h.masks, sizeof image->masks);
  }
  SetImage(std::move(image));
  Changed();
}

// BMP files start with "BM" and one of the known header sizes at 14; they
// carry no Exif data, and the bitmap reads them itself.
constinit const TPictureKind TBitmap::kKind{
    .graphic = TBitmap::StaticClass,
    .names = {{{"bmp", "ビットマップ"}}},
    .signature =
        [](ByteSpan head) {
          if (!HasBytesAt(head, 0, "BM")) return false;
          const std::uint32_t size = U32Le(head, 14).value_or(0);
          return size == 12 || size == 40 || size == 52 || size == 56 || size == 64 ||
                 size == 108 || size == 124;
        },
};

}  // namespace peloria
