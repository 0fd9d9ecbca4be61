// Text-to-integer conversions, the program's rounding rule, and floating-point
// division that fails instead of producing an infinity or a NaN.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace peloria {

// Reads a signed 32-bit integer: leading blanks, an optional "+" or "-", then
// decimal digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X".
// Nothing may follow the digits. Empty text, any other character and a value
// outside the 32-bit range give no value.
std::optional<std::int32_t> TryStrToInt(std::string_view text);

// As TryStrToInt; fails with EConvertError "'<text>' is not a valid integer
// value" where that gives no value.
std::int32_t StrToInt(std::string_view text);

// As TryStrToInt, with `fallback` where that gives no value.
std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback);

// The integer nearest to x, a half going to the even neighbour
// (2.5 -> 2, 3.5 -> 4, -2.5 -> -2). x must be finite and fit in 64 bits.
std::int64_t Nearest(long double x);

// a / b in extended precision. Fails with EZeroDivide when b is 0 and a is
// not, and with EInvalidOp for 0 / 0 or when an operand is not finite.
long double Divide(long double a, long double b);

}  // namespace peloria
