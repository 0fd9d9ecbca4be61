// libFuzzer harness for the number formats: the first 10 bytes of the input
// are an x87 extended value as it lies in memory (any pattern: denormals,
// unnormals, pseudo-infinities, NaNs), the next two choose precision and
// decimals. No pattern may make a format fail or write more than 64
// characters, and FormatGeneral's digits must equal an independent exact
// conversion (std::to_chars with enough digits to be exact).
//
// Build (from the repository root):
//   clang++-14 -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. \
//     fuzz/format_fuzz.cpp text/format.cpp platform/locale.cpp -o format_fuzz
//   ./format_fuzz -max_len=12 -max_total_time=60
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>

#include "platform/locale.h"
#include "tests/text/reference_digits.h"
#include "text/format.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::abort();
}

long double FromBytes(const std::uint8_t* data) {
  unsigned char bytes[sizeof(long double)] = {};
  std::memcpy(bytes, data, 10);
  long double value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

// The value the bit pattern stands for, as a canonical long double, or none
// for patterns without an ordinary finite value (and for unnormals whose value
// would be a denormal, which the canonical form cannot hold exactly).
std::optional<long double> Canonical(std::uint64_t significand, int exponentField) {
  if (exponentField == 0 || exponentField == 0x7FFF || significand == 0) return std::nullopt;
  const int q = exponentField - 16383 - 63;
  const int top = 63 - std::countl_zero(significand);
  if (top + q < -16382) return std::nullopt;
  return std::ldexp(static_cast<long double>(significand), q);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 10) return 0;
  const long double value = FromBytes(data);
  const int precision = size > 10 ? static_cast<std::int8_t>(data[10]) % 24 : 15;
  const int decimals = size > 11 ? static_cast<std::int8_t>(data[11]) % 24 : 1;

  std::uint64_t significand;
  std::uint16_t signExponent;
  std::memcpy(&significand, data, 8);
  std::memcpy(&signExponent, data + 8, 2);
  const bool negative = (signExponent & 0x8000) != 0;
  const int exponentField = signExponent & 0x7FFF;

  const std::string general = peloria::FormatGeneral(value, precision);
  const std::string fixed = peloria::FormatFixed(value, precision, decimals);
  std::ostringstream context;
  context << "bytes";
  for (int i = 0; i < 10; ++i) context << ' ' << static_cast<int>(data[i]);
  context << " precision " << precision << " decimals " << decimals << ": general \"" << general
          << "\" fixed \"" << fixed << "\"";
  if (general.size() > 64 || fixed.size() > 64) Fail("longer than 64: " + context.str());

  if (exponentField == 0x7FFF) {
    const char* expected = (significand << 1) != 0 ? "NAN" : negative ? "-INF" : "INF";
    if (general != expected || fixed != expected) Fail("special value: " + context.str());
    return 0;
  }
  if (exponentField == 0 || significand == 0) {
    if (general != "0") Fail("zero: " + context.str());
    return 0;
  }
  const std::optional<long double> canonical = Canonical(significand, exponentField);
  if (!canonical) return 0;
  const int clamped = precision < 2 ? 2 : precision > 18 ? 18 : precision;
  const long double signedValue = negative ? -*canonical : *canonical;
  const std::optional<peloria::testing::Digits> shown =
      peloria::testing::ParseGeneral(general, clamped, peloria::DecimalSeparator());
  if (!shown) Fail("malformed: " + context.str());
  const peloria::testing::Digits expected = peloria::testing::ReferenceDigits(signedValue, clamped);
  if (!(*shown == expected)) {
    std::ostringstream out;
    out << "digits " << *shown << " expected " << expected << ": " << context.str();
    Fail(out.str());
  }
  return 0;
}
