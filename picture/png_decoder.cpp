// PNG through libpng's simplified reading interface: every colour type and
// depth comes out as 8-bit blue, green, red rows, written straight into the
// bitmap (interlaced files pass by pass into the same rows). A picture with
// alpha (or a transparent colour) is read with its alpha first and laid onto
// white here, the same way as every other kind. Before libpng sees the
// file, every chunk must fit inside it: libpng allocates a chunk's declared
// length before reading it, so a few bytes declaring a 2 GB chunk would
// otherwise cost a 2 GB allocation.
#include <png.h>

#include <memory>

#include "picture/decoder_support.h"
#include "picture/exif_block.h"
#include "picture/raster.h"
#include "platform/bytes.h"

namespace peloria {

namespace {

constexpr std::string_view kKind = "PNG";

struct ImageReader {
  png_image image{};
  ImageReader() { image.version = PNG_IMAGE_VERSION; }
  ~ImageReader() { png_image_free(&image); }
  ImageReader(const ImageReader&) = delete;
  ImageReader& operator=(const ImageReader&) = delete;
};

// Walks the chunks (4-byte big-endian length, 4-byte type, data, 4-byte
// CRC) after the 8-byte signature up to IEND, and fails on a chunk that
// declares more bytes than the file still holds.
void CheckChunkLengths(std::span<const std::uint8_t> file) {
  std::size_t at = 8;
  while (at <= file.size() && file.size() - at >= 12) {
    const std::size_t length = *U32Be(file, at);
    if (length > file.size() - at - 12) InvalidImage(kKind, "a chunk is longer than the file");
    if (file[at + 4] == 'I' && file[at + 5] == 'E' && file[at + 6] == 'N' && file[at + 7] == 'D') {
      return;
    }
    at += 12 + length;
  }
}

}  // namespace

void DecodePng(std::span<const std::uint8_t> file, TBitmap& into) {
  CheckChunkLengths(file);
  ImageReader reader;
  png_image& image = reader.image;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
    InvalidImage(kKind, image.message);
  }
  const std::int64_t width = image.width;
  const std::int64_t height = image.height;
  const bool alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  CheckedImageBytes(width, height, 24);
  if (alpha) CheckWorkingBytes(4 * width * height, width, height);
  StartRgbBitmap(into, width, height, kKind);
  if (!alpha) {
    image.format = PNG_FORMAT_BGR;
    if (!png_image_finish_read(&image, nullptr, into.ScanLine(0), into.RowBytes(), nullptr)) {
      InvalidImage(kKind, image.message);
    }
    return;
  }
  image.format = PNG_FORMAT_BGRA;
  const auto bytes = static_cast<std::size_t>(4 * width * height);
  const auto bgra = std::make_unique_for_overwrite<std::uint8_t[]>(bytes);
  if (!png_image_finish_read(&image, nullptr, bgra.get(), static_cast<png_int_32>(4 * width),
                             nullptr)) {
    InvalidImage(kKind, image.message);
  }
  BgraOntoWhite(bgra.get(), width, height, into);
}

// PNG files start with their 8-byte signature; the Exif block is the first
// eXIf chunk's.
PELORIA_RASTER_KIND_DEFINITION(TPngImage){
    .graphic = TPngImage::StaticClass,
    .names = {{{"png", "PNG イメージファイル"}}},
    .signature = [](ByteSpan head) { return HasBytesAt(head, 0, "\x89PNG\r\n\x1A\n"); },
    .decode = DecodePng,
    .exifBlock = PngExifBlock,
};

}  // namespace peloria
