// The bounds of the number formats, each with the reason for its value.
#pragma once

namespace peloria {

// Precision (significant digits) is clamped to 2..18 and the fixed format's
// decimals to 0..18: every 18-digit decimal fits in the 64-bit significand of
// an extended value, so no digit shown is beyond what the value holds; 2 is
// the smallest precision the formats take.
inline constexpr int kMinPrecision = 2;
inline constexpr int kMaxDigits = 18;

}  // namespace peloria
