// Floyd-Steinberg dithering of 8-bit grey rows onto evenly spaced levels.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace peloria {

// Dithers the rows of one picture, top to bottom, onto kLevels evenly
// spaced greys, giving byte for byte what libjpeg's one-pass quantizer
// gives for one component with Floyd-Steinberg dithering: the same levels,
// rows alternately left to right and right to left, the errors of the row
// above held per column. libjpeg's loop waits on three table loads per
// pixel; here one table, indexed by the value plus its error before the
// clamp, gives the level and the error to pass on.
class GreyDither {
 public:
  static constexpr int kLevels = 236;

  explicit GreyDither(int width);

  // The grey of each level, in index order.
  static const std::array<std::uint8_t, kLevels>& Levels();

  // Replaces the `width` grey values of the next row by level indices.
  void Row(std::uint8_t* row);

 private:
  int width_;
  bool oddRow_ = false;
  // The error passed to the next row, times 16, per column, with one entry
  // more on either side.
  std::vector<std::int16_t> errors_;
};

}  // namespace peloria
