// The row scan of the fuzz harnesses for pictures: reads every byte of every
// row the way the histogram does, converts each row to ARGB pixels, and
// checks that rows outside the picture are refused.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "picture/bitmap.h"
#include "picture/errors.h"

namespace peloria::fuzz {

inline void ExpectRowRefused(TBitmap& bitmap, int row) {
  try {
    (void)bitmap.ScanLine(row);
  } catch (const EInvalidGraphicOperation&) {
    return;
  }
  std::fprintf(stderr, "ScanLine(%d) of a picture %d rows high did not fail\n", row,
               bitmap.Height());
  std::abort();
}

inline void ScanRows(TBitmap& bitmap) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  const int rowBytes = bitmap.RowBytes();
  if (width < 0 || height < 0 || rowBytes < 0 ||
      static_cast<std::int64_t>(width) * bitmap.BitsPerPixel() > std::int64_t{rowBytes} * 8) {
    std::fprintf(stderr, "bitmap %d x %d at %d bits with rows of %d bytes\n", width, height,
                 bitmap.BitsPerPixel(), rowBytes);
    std::abort();
  }
  std::vector<std::uint32_t> argb(static_cast<std::size_t>(width));
  unsigned sum = 0;
  for (int row = 0; row < height; ++row) {
    const std::uint8_t* bytes = bitmap.ScanLine(row);
    for (int i = 0; i < rowBytes; ++i) sum += bytes[i];
    bitmap.RowToArgb(row, argb.data());
    for (std::uint32_t pixel : argb) sum += pixel;
  }
  // Keeps the reads from being optimised away.
  volatile unsigned sink = sum;
  (void)sink;
  ExpectRowRefused(bitmap, -1);
  ExpectRowRefused(bitmap, height);
}

}  // namespace peloria::fuzz
