// The body of the harnesses for the kinds decoded at load, one harness per
// container (png, webp, heif, tiff, gif, ico, jxl): the input is decoded as that
// kind, the bitmap copied and every row of both read; then the container's
// Exif block is taken out of the same bytes.
//
// Acceptable outcomes: a 24-bit bitmap of at least one pixel, or
// EInvalidGraphic (EOutOfResources, derived from it, for a picture beyond the
// bounds); an Exif block, when there is one, starts with a TIFF header.
// Either within kDecodeSeconds (see decode_budget.h): an input that takes
// longer has found work the decoders' bounds do not cover.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "fuzz/decode_budget.h"
#include "fuzz/row_scan.h"
#include "picture/exif_block.h"
#include "picture/raster.h"

namespace peloria::fuzz {

inline void Fail(const char* what) {
  std::fprintf(stderr, "raster harness: %s\n", what);
  std::abort();
}

inline int DecodeAndExtract(void (*decode)(std::span<const std::uint8_t>, TBitmap&),
                            const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  const TDecodeBudget budget;
  TBitmap bitmap;
  try {
    decode(file, bitmap);
    if (bitmap.BitsPerPixel() != 24 || bitmap.Width() <= 0 || bitmap.Height() <= 0) {
      Fail("a decoded picture is not a 24-bit picture with pixels");
    }
    TBitmap copy;
    copy.Assign(&bitmap);
    ScanRows(copy);
    ScanRows(bitmap);
  } catch (const EInvalidGraphic&) {
  }
  if (const auto block = ExifBlockOf(file)) {
    if (block->size() < 4 || (std::memcmp(block->data(), "II*\0", 4) != 0 &&
                              std::memcmp(block->data(), "MM\0*", 4) != 0)) {
      Fail("an Exif block without a TIFF header");
    }
  }
  budget.Check();
  return 0;
}

}  // namespace peloria::fuzz

// One harness: the decoder of its container.
#define PELORIA_RASTER_HARNESS(decoder)                                               \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
    return peloria::fuzz::DecodeAndExtract(peloria::decoder, data, size);             \
  }
