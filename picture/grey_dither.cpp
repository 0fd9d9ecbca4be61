#include "picture/grey_dither.h"

#include <algorithm>

namespace peloria {

namespace {

constexpr int kTop = 255;
constexpr int kSteps = GreyDither::kLevels - 1;

// The value plus its error lies within 0 - m .. 255 + m, where m is the
// largest error a level leaves (at most 255): the error taken in is a
// weighted mean of such errors with weights summing to 16, rounded. The
// table covers -256 .. 511, within which libjpeg's range limit is a clamp
// to 0 .. 255.
constexpr int kTableLow = -256;
constexpr int kTableSize = 768;

// The largest value that goes to level j: the mid-point to the next one.
int LargestValueOf(int j) {
  return ((2 * j + 1) * kTop + kSteps) / (2 * kSteps);
}

struct Tables {
  std::array<std::uint8_t, GreyDither::kLevels> levels{};
  // For each value before the clamp: 7 times its error plus the 8 that
  // rounds the next sum (of the pointer's width, so that the loop's index
  // needs no widening), its error and its level.
  std::array<std::ptrdiff_t, kTableSize> carry{};
  std::array<std::int8_t, kTableSize> error{};
  std::array<std::uint8_t, kTableSize> level{};

  Tables() {
    for (int j = 0; j < GreyDither::kLevels; ++j) {
      levels[static_cast<std::size_t>(j)] =
          static_cast<std::uint8_t>((j * kTop + kSteps / 2) / kSteps);
    }
    std::array<std::uint8_t, kTop + 1> levelOf{};
    int j = 0;
    for (int v = 0; v <= kTop; ++v) {
      while (v > LargestValueOf(j)) ++j;
      levelOf[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(j);
    }
    for (int i = 0; i < kTableSize; ++i) {
      const int value = std::clamp(i + kTableLow, 0, kTop);
      const std::uint8_t index = levelOf[static_cast<std::size_t>(value)];
      const int e = value - levels[index];
      carry[static_cast<std::size_t>(i)] = 7 * e + 8;
      error[static_cast<std::size_t>(i)] = static_cast<std::int8_t>(e);
      level[static_cast<std::size_t>(i)] = index;
    }
  }
};

const Tables& TheTables() {
  static const Tables kTables;
  return kTables;
}

}  // namespace

GreyDither::GreyDither(int width)
    : width_(width), errors_(static_cast<std::size_t>(width) + 2, 0) {}

const std::array<std::uint8_t, GreyDither::kLevels>& GreyDither::Levels() {
  return TheTables().levels;
}

void GreyDither::Row(std::uint8_t* row) {
  const Tables& tables = TheTables();
  const std::ptrdiff_t* carries = tables.carry.data() - kTableLow;
  const std::int8_t* errors = tables.error.data() - kTableLow;
  const std::uint8_t* levels = tables.level.data() - kTableLow;
  // `at` is the error entry of the column before the current one in the
  // direction of travel; entry c + 1 belongs to column c.
  const int dir = oddRow_ ? -1 : 1;
  std::int16_t* at = errors_.data() + (oddRow_ ? width_ + 1 : 0);
  std::uint8_t* pixel = row + (oddRow_ ? width_ - 1 : 0);
  std::ptrdiff_t carry = 8;  // 7/16 of the previous pixel's error, times 16, plus 8
  int below = 0;
  int belowBefore = 0;
  for (int n = width_; n > 0; --n) {
    const std::ptrdiff_t sum = ((carry + at[dir]) >> 4) + *pixel;
    // All read before the store below, which the compiler cannot tell from a
    // store into the tables.
    carry = carries[sum];
    const int error = errors[sum];
    *pixel = levels[sum];
    at[0] = static_cast<std::int16_t>(belowBefore + 3 * error);
    belowBefore = below + 5 * error;
    below = error;
    at += dir;
    pixel += dir;
  }
  at[0] = static_cast<std::int16_t>(belowBefore);
  oddRow_ = !oddRow_;
}

}  // namespace peloria
