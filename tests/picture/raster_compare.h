// Comparing a decoded 24-bit bitmap with the pixels a fixture was made of,
// shared by the tests of the kinds decoded at load.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "picture/bitmap.h"
#include "tests/support/picture_fixtures.h"

namespace peloria::testing {

inline std::span<const std::uint8_t> Span(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Largest channel difference between the decoded bitmap (row 0 at the top)
// and `want` laid on white.
inline int MaxDifference(const TBitmap& bitmap, const Pixels& want) {
  int worst = 0;
  for (int y = 0; y < want.height; ++y) {
    const std::uint8_t* row = bitmap.RowData(y);
    for (int x = 0; x < want.width; ++x) {
      const std::uint32_t p = OnWhite(want.At(x, y));
      for (int c = 0; c < 3; ++c) {
        worst = std::max(worst, std::abs(row[3 * x + c] - static_cast<int>(p >> (8 * c) & 0xFF)));
      }
    }
  }
  return worst;
}

}  // namespace peloria::testing
