// Icon files: the directory is read here, the chosen image by the PNG
// decoder or by the bitmap's own BMP reader.
//
// Icon directory (little-endian):
//   0  2  reserved, 0
//   2  2  type, 1 for icons
//   4  2  number of images
//   6     16 bytes per image: width (0 = 256), height (0 = 256), colours,
//         reserved, planes (2), bits per pixel (2), size of the image
//         data (4), its offset from the file start (4)
// An image is a PNG file, or a BMP without its 14-byte file header whose
// height counts two pictures: the colours (bottom row first) and after them
// a 1-bit AND mask (1 = transparent). With 32 bits per pixel the fourth byte
// of each pixel is its alpha; an icon whose alpha bytes are all 0 uses the
// AND mask instead.
#include <algorithm>
#include <cstring>
#include <vector>

#include "picture/decoder_support.h"
#include "picture/raster.h"
#include "platform/bytes.h"
#include "platform/stream.h"

namespace peloria {

namespace {

constexpr std::string_view kKind = "ICO";
constexpr std::size_t kDirectory = 6;
constexpr std::size_t kEntry = 16;
constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Little-endian fields whose range the callers have checked; one outside
// the bytes reads as 0.
std::uint32_t U16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return U16Le(bytes, at).value_or(0);
}
std::uint32_t U32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return U32Le(bytes, at).value_or(0);
}
void PutU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The image of the directory with the most pixels, then the most bits per
// pixel; the first of equals.
std::span<const std::uint8_t> LargestImage(std::span<const std::uint8_t> file) {
  if (file.size() < kDirectory || U16(file, 0) != 0 || U16(file, 2) != 1) {
    InvalidImage(kKind, "no icon directory");
  }
  const std::size_t count = U16(file, 4);
  if (count == 0) InvalidImage(kKind, "no image");
  if (file.size() < kDirectory + count * kEntry) InvalidImage(kKind, "directory cut off");
  std::span<const std::uint8_t> best;
  std::uint64_t bestKey = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const auto e = file.subspan(kDirectory + i * kEntry, kEntry);
    const std::uint64_t width = e[0] == 0 ? 256 : e[0];
    const std::uint64_t height = e[1] == 0 ? 256 : e[1];
    const std::uint64_t size = U32(e, 8);
    const std::uint64_t offset = U32(e, 12);
    if (size == 0 || offset > file.size() || size > file.size() - offset) continue;
    const std::uint64_t key = (width * height) << 16 | U16(e, 6);
    if (best.empty() || key > bestKey) {
      best = file.subspan(offset, size);
      bestKey = key;
    }
  }
  if (best.empty()) InvalidImage(kKind, "every image lies outside the file");
  return best;
}

// A BMP image of an icon: read by the BMP reader as a file of the colour
// half, then laid onto white where the alpha or the AND mask says.
void DecodeIconBitmap(std::span<const std::uint8_t> dib, TBitmap& into) {
  if (dib.size() < 40 || U32(dib, 0) < 40) InvalidImage(kKind, "bad image header");
  const std::uint32_t headerSize = U32(dib, 0);
  const auto doubled = static_cast<std::int32_t>(U32(dib, 8));
  if (doubled <= 0 || headerSize > dib.size()) InvalidImage(kKind, "bad image header");
  const std::int32_t height = doubled / 2;
  const int bits = static_cast<int>(U16(dib, 14));
  const std::uint32_t compression = U32(dib, 16);

  // A BMP file: the 14-byte file header (pixel offset 0: right after the
  // colour table), then the image with its height halved.
  std::vector<std::uint8_t> bmp(14 + dib.size());
  bmp[0] = 'B';
  bmp[1] = 'M';
  PutU32(bmp, 2, static_cast<std::uint32_t>(bmp.size()));
  std::memcpy(bmp.data() + 14, dib.data(), dib.size());
  PutU32(bmp, 14 + 8, static_cast<std::uint32_t>(height));
  TBitmap colours;
  {
    TMemoryStream stream(std::move(bmp));
    colours.LoadFromStream(stream);
  }
  const int width = colours.Width();
  StartRgbBitmap(into, width, height, kKind);

  // Where the colour rows and the mask lie in the image (uncompressed only).
  std::uint64_t tableEntries = U32(dib, 32);
  if (tableEntries == 0 && bits <= 8) tableEntries = std::uint64_t{1} << bits;
  const std::uint64_t pixelsAt =
      headerSize + (compression == 3 && headerSize == 40 ? 12 : 0) + tableEntries * 4;
  const std::uint64_t colourBytes =
      static_cast<std::uint64_t>(BitmapRowBytes(width, bits)) * height;
  const std::uint64_t maskRow = static_cast<std::uint64_t>(BitmapRowBytes(width, 1));
  const bool hasMask = compression == 0 || compression == 3
                           ? pixelsAt + colourBytes + maskRow * height <= dib.size()
                           : false;
  bool useAlpha = false;
  if (bits == 32) {
    for (int y = 0; y < height && !useAlpha; ++y) {
      const std::uint8_t* row = colours.RowData(y);
      for (int x = 0; x < width; ++x) {
        if (row[4 * x + 3] != 0) {
          useAlpha = true;
          break;
        }
      }
    }
  }

  std::vector<std::uint32_t> argb(static_cast<std::size_t>(width));
  for (int y = 0; y < height; ++y) {
    colours.RowToArgb(y, argb.data());
    const std::uint8_t* row32 = useAlpha ? colours.RowData(y) : nullptr;
    const std::uint8_t* mask =
        hasMask ? dib.data() + pixelsAt + colourBytes + maskRow * (height - 1 - y) : nullptr;
    std::uint8_t* dst = into.ScanLine(y);
    for (int x = 0; x < width; ++x, dst += 3) {
      unsigned alpha = 255;
      if (row32 != nullptr) {
        alpha = row32[4 * x + 3];
      } else if (mask != nullptr && ((mask[x >> 3] >> (7 - (x & 7))) & 1) != 0) {
        alpha = 0;
      }
      const std::uint32_t p = argb[static_cast<std::size_t>(x)];
      dst[0] = OverWhite(p & 0xFF, alpha);
      dst[1] = OverWhite((p >> 8) & 0xFF, alpha);
      dst[2] = OverWhite((p >> 16) & 0xFF, alpha);
    }
  }
}

}  // namespace

void DecodeIcon(std::span<const std::uint8_t> file, TBitmap& into) {
  const std::span<const std::uint8_t> image = LargestImage(file);
  if (image.size() >= sizeof kPngSignature &&
      std::equal(std::begin(kPngSignature), std::end(kPngSignature), image.begin())) {
    DecodePng(image, into);
  } else {
    DecodeIconBitmap(image, into);
  }
}

// Icon files start with 00 00 01 00 and a count of at least one image; they
// carry no Exif data.
PELORIA_RASTER_KIND_DEFINITION(TIcon){
    .graphic = TIcon::StaticClass,
    .names = {{{"ico", "アイコン"}}},
    .signature =
        [](ByteSpan head) {
          using namespace std::string_view_literals;
          return HasBytesAt(head, 0, "\0\0\x01\0"sv) && U16Le(head, 4).value_or(0) != 0;
        },
    .decode = DecodeIcon,
};

}  // namespace peloria
