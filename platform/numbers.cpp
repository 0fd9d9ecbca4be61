#include "platform/numbers.h"

#include <cmath>
#include <string>

#include "platform/cp932.h"
#include "platform/exception.h"

namespace peloria {

std::optional<std::int32_t> TryStrToInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  unsigned base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return std::nullopt;
  // Magnitude limit: 2^31 - 1, or 2^31 for a negative value.
  const std::uint64_t limit = negative ? 0x80000000ULL : 0x7FFFFFFFULL;
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = HexDigitValue(text[i]);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) return std::nullopt;
    value = value * base + static_cast<unsigned>(digit);
    if (value > limit) return std::nullopt;
  }
  std::int64_t signedValue =
      negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
  return static_cast<std::int32_t>(signedValue);
}

std::int32_t StrToInt(std::string_view text) {
  if (auto v = TryStrToInt(text)) return *v;
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback) {
  return TryStrToInt(text).value_or(fallback);
}

std::int64_t Nearest(long double x) {
  long double floor = std::floor(x);
  long double diff = x - floor;
  auto n = static_cast<std::int64_t>(floor);
  if (diff > 0.5L) return n + 1;
  if (diff < 0.5L) return n;
  return (n % 2 == 0) ? n : n + 1;
}

long double Divide(long double a, long double b) {
  if (!std::isfinite(a) || !std::isfinite(b)) throw EInvalidOp("Invalid floating point operation");
  if (b == 0) {
    if (a == 0) throw EInvalidOp("Invalid floating point operation");
    throw EZeroDivide("Floating point division by zero");
  }
  long double q = a / b;
  if (!std::isfinite(q)) throw EOverflow("Floating point overflow");
  return q;
}

}  // namespace peloria
