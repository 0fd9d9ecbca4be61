// What the benchmarks time as the window program's work with a picture file:
// load it into a picture holder (read and decode), copy it into a bitmap,
// read every row of the copy through ScanLine.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "picture/bitmap.h"
#include "picture/picture.h"
#include "platform/cp932.h"

namespace peloria::bench {

// Load, copy, scan every row; answers a checksum so nothing is left out.
inline std::uint64_t LoadCopyScan(const std::string& path) {
  TPicture picture;
  picture.LoadFromFile(Cp932(path));
  TBitmap copy;
  copy.Assign(picture.Graphic());
  std::uint64_t sum = 0;
  const int bytes = copy.Width() * 3;
  for (int y = 0; y < copy.Height(); ++y) {
    const std::uint8_t* row = copy.ScanLine(y);
    for (int i = 0; i < bytes; i += 64) sum += row[i];
  }
  benchmark::DoNotOptimize(sum);
  return sum;
}

}  // namespace peloria::bench
