// Counting a bitmap's pixels for the histogram, apart from the window so that
// it can be measured and tested without one.
#pragma once

#include <array>
#include <cstdint>

#include "picture/bitmap.h"

namespace peloria {

// One counter per value 0..255, plus counter 256, which no pixel reaches.
using THistogramCounts = std::array<std::int64_t, 257>;

// Adds every pixel of `bitmap` to `counts` by histogram type: 0 red, 1 green,
// 2 blue, 3 brightness ((blue + green + red) div 3). A 24-bit bitmap is read
// through its rows as blue, green, red bytes; any other pixel format through
// its colours, so a palette picture (a greyscale JPEG, an 8-bit BMP) counts
// its real colours. Counting only reads: a bitmap that shares its pixels
// with others keeps sharing them.
void CountHistogram(const TBitmap& bitmap, int type, THistogramCounts& counts);

}  // namespace peloria
