#include "tests/e2e/xwd.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace peloria::e2e {
namespace {

// XWD file layout (X11 XWDFile.h, file version 7). The header is 25 CARD32
// fields, always most significant byte first:
//    0 header_size     size of the header including the window name
//    1 file_version    7
//    2 pixmap_format   2 = ZPixmap
//    3 pixmap_depth    4 pixmap_width    5 pixmap_height   6 xoffset
//    7 byte_order      0 = LSBFirst, 1 = MSBFirst (of the pixel data)
//    8 bitmap_unit     9 bitmap_bit_order  10 bitmap_pad
//   11 bits_per_pixel 12 bytes_per_line   13 visual_class (4 TrueColor, 5 DirectColor)
//   14 red_mask       15 green_mask       16 blue_mask
//   17 bits_per_rgb   18 colormap_entries 19 ncolors
//   20 window_width   21 window_height    22 window_x  23 window_y  24 window_bdrwidth
// The window name follows up to header_size, then ncolors XWDColor records of
// 12 bytes each, then height rows of bytes_per_line bytes.
constexpr size_t kHeaderFields = 25;
constexpr size_t kColorRecord = 12;

uint32_t Field(std::string_view bytes, size_t index) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + 4 * index;
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

int Shift(uint32_t mask) {
  int shift = 0;
  while (shift < 32 && !(mask >> shift & 1)) ++shift;
  return shift;
}

[[noreturn]] void Bad(const std::string& what) {
  throw std::runtime_error("XWD: " + what);
}

}  // namespace

QImage ReadXwd(std::string_view bytes) {
  if (bytes.size() < 4 * kHeaderFields) Bad("shorter than its header");
  const uint32_t headerSize = Field(bytes, 0);
  if (Field(bytes, 1) != 7) Bad("not file version 7");
  if (Field(bytes, 2) != 2) Bad("not a ZPixmap");
  const uint32_t width = Field(bytes, 4), height = Field(bytes, 5);
  const bool msbFirst = Field(bytes, 7) == 1;
  const uint32_t bpp = Field(bytes, 11), bytesPerLine = Field(bytes, 12);
  const uint32_t visual = Field(bytes, 13);
  const uint32_t masks[3] = {Field(bytes, 14), Field(bytes, 15), Field(bytes, 16)};
  const uint32_t colors = Field(bytes, 19);
  if (visual != 4 && visual != 5) Bad("not a TrueColor or DirectColor visual");
  if (bpp != 24 && bpp != 32) Bad("unsupported bits per pixel " + std::to_string(bpp));
  if (width == 0 || height == 0 || width > 16384 || height > 16384) Bad("bad size");
  const uint64_t pixelBytes = bpp / 8;
  if (bytesPerLine < width * pixelBytes) Bad("rows shorter than the width");
  const uint64_t offset = uint64_t{headerSize} + uint64_t{colors} * kColorRecord;
  const uint64_t needed = offset + uint64_t{bytesPerLine} * height;
  if (headerSize < 4 * kHeaderFields || needed > bytes.size()) Bad("truncated");

  QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data()) + offset;
  for (uint32_t y = 0; y < height; ++y) {
    const unsigned char* row = data + uint64_t{y} * bytesPerLine;
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
    for (uint32_t x = 0; x < width; ++x) {
      const unsigned char* p = row + x * pixelBytes;
      uint32_t pixel = 0;
      for (uint64_t i = 0; i < pixelBytes; ++i) {
        const uint64_t k = msbFirst ? i : pixelBytes - 1 - i;
        pixel = pixel << 8 | p[k];
      }
      int channel[3];
      for (int c = 0; c < 3; ++c) {
        const uint32_t value = (pixel & masks[c]) >> Shift(masks[c]);
        const uint32_t max = masks[c] >> Shift(masks[c]);
        channel[c] = max == 0 ? 0 : static_cast<int>(value * 255 / max);
      }
      out[x] = qRgb(channel[0], channel[1], channel[2]);
    }
  }
  return image;
}

}  // namespace peloria::e2e
