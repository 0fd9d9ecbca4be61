// Fuzzes the number-to-text formats with arbitrary 80-bit extended patterns
// and checks every result against an independent conversion: the C library's
// exact decimal expansion rounded to 18 significant digits (ties to even),
// then the format's own half-up cut and layout written out again here.
//
// Input: records of 12 bytes — the 10-byte x87 value (significand, then sign
// and exponent, little-endian), a precision byte and a decimals byte.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/exception.h"
#include "platform/locale.h"
#include "text/format.h"

namespace {

struct DecimalRecord {
  bool negative = false;
  int exponent = 0;    // the value is 0.d1d2d3... × 10^exponent
  std::string digits;  // no trailing zeros; empty for zero
};

// The value's 18 significant digits and decimal exponent, from the C
// library's correctly rounded %Le conversion.
DecimalRecord EighteenDigits(long double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17Le", std::fabs(value));
  // d.ddddddddddddddddde±x
  DecimalRecord r;
  r.negative = std::signbit(value);
  r.digits.push_back(text[0]);
  r.digits.append(text + 2, 17);
  r.exponent = std::atoi(text + 20) + 1;
  return r;
}

// Cut at `cut` digits with half-up rounding and drop trailing zeros.
void Cut(DecimalRecord& r, int cut) {
  if (cut < 0) {
    r = DecimalRecord{};
    return;
  }
  if (cut < 18) {
    bool up = r.digits[cut] >= '5';
    r.digits.resize(cut);
    if (up) {
      int i = cut - 1;
      while (i >= 0 && r.digits[i] == '9') {
        r.digits.resize(i);
        --i;
      }
      if (i < 0) {
        r.digits = "1";
        ++r.exponent;
      } else {
        ++r.digits[i];
      }
    }
  }
  while (!r.digits.empty() && r.digits.back() == '0') r.digits.pop_back();
  if (r.digits.empty()) r.negative = false;
}

std::string ExponentForm(const DecimalRecord& r, char sep) {
  std::string out = r.negative ? "-" : "";
  out += r.digits[0];
  if (r.digits.size() > 1) {
    out += sep;
    out.append(r.digits, 1);
  }
  out += 'E';
  out += std::to_string(r.exponent - 1);
  return out;
}

std::string General(const DecimalRecord& r, int precision, char sep) {
  if (r.digits.empty()) return "0";
  if (r.exponent < -3 || r.exponent > precision) return ExponentForm(r, sep);
  std::string out = r.negative ? "-" : "";
  const int n = static_cast<int>(r.digits.size());
  if (r.exponent > 0) {
    for (int i = 0; i < r.exponent; ++i) out += i < n ? r.digits[i] : '0';
    if (n > r.exponent) {
      out += sep;
      out.append(r.digits, r.exponent);
    }
  } else {
    out += '0';
    out += sep;
    out.append(-r.exponent, '0');
    out += r.digits;
  }
  return out;
}

std::string Fixed(const DecimalRecord& r, int precision, int decimals, char sep) {
  if (r.exponent > precision) return ExponentForm(r, sep);
  std::string out = r.negative ? "-" : "";
  const int n = static_cast<int>(r.digits.size());
  if (r.exponent <= 0) {
    out += '0';
  } else {
    for (int i = 0; i < r.exponent; ++i) out += i < n ? r.digits[i] : '0';
  }
  if (decimals > 0) {
    out += sep;
    int written = 0;
    if (r.exponent < 0) {
      written = std::min(-r.exponent, decimals);
      out.append(written, '0');
    }
    for (int i = std::max(r.exponent, 0); written < decimals; ++i, ++written) {
      out += i < n ? r.digits[i] : '0';
    }
  }
  return out;
}

[[noreturn]] void Mismatch(const char* what, const std::uint8_t* pattern, int precision,
                           int decimals, const std::string& expected, const std::string& got) {
  std::fprintf(stderr, "%s mismatch for the pattern", what);
  for (int i = 9; i >= 0; --i) std::fprintf(stderr, " %02x", pattern[i]);
  std::fprintf(stderr, " (precision %d, decimals %d): expected \"%s\", got \"%s\"\n", precision,
               decimals, expected.c_str(), got.c_str());
  std::abort();
}

void CheckOne(const std::uint8_t* record) {
  long double value = 0;
  static_assert(sizeof(long double) >= 10);
  std::memcpy(&value, record, 10);
  std::uint64_t significand;
  std::memcpy(&significand, record, 8);
  const int exponentField = (record[8] | (record[9] << 8)) & 0x7FFF;
  const bool negative = (record[9] & 0x80) != 0;
  // Precision and decimals a little beyond their clamps, to test clamping.
  const int precision = static_cast<int>(record[10] % 24) - 2;
  const int decimals = static_cast<int>(record[11] % 22);

  const std::string general = peloria::FormatGeneral(value, precision);
  const std::string fixed = peloria::FormatFixed(value, precision, decimals);
  if (general.size() > 64 || fixed.size() > 64) {
    Mismatch("length", record, precision, decimals, "at most 64 characters",
             general.size() > 64 ? general : fixed);
  }

  const char sep = peloria::DecimalSeparator();
  const bool integerBit = (significand >> 63) != 0;
  if (exponentField == 0) {
    // Zero and every pattern with a zero exponent field print as zero.
    if (general != "0") Mismatch("FormatGeneral", record, precision, decimals, "0", general);
    std::string zero = "0";
    if (decimals > 0) zero += sep + std::string(std::min(decimals, 18), '0');
    if (fixed != zero) Mismatch("FormatFixed", record, precision, decimals, zero, fixed);
    return;
  }
  if (exponentField == 0x7FFF) {
    const bool isInf = integerBit && (significand << 1) == 0;
    const bool isNan = integerBit && !isInf;
    const char* expected = isNan ? "NAN" : negative ? "-INF" : "INF";
    if (isInf || isNan) {
      if (general != expected)
        Mismatch("FormatGeneral", record, precision, decimals, expected, general);
      if (fixed != expected) Mismatch("FormatFixed", record, precision, decimals, expected, fixed);
    } else if ((general != "INF" && general != "-INF" && general != "NAN") ||
               (fixed != "INF" && fixed != "-INF" && fixed != "NAN")) {
      // A pseudo-infinity or pseudo-NaN: any of the special texts will do.
      Mismatch("special value", record, precision, decimals, "INF, -INF or NAN",
               general + " / " + fixed);
    }
    return;
  }
  if (!integerBit) return;  // an unnormal: no value to compare with, only no crash

  const int p = std::clamp(precision, 2, 18);
  const int d = std::min(decimals, 18);
  const DecimalRecord exact = EighteenDigits(value);

  DecimalRecord g = exact;
  Cut(g, std::min(p, 18));
  const std::string expectedGeneral = General(g, p, sep);
  if (general != expectedGeneral)
    Mismatch("FormatGeneral", record, precision, decimals, expectedGeneral, general);

  DecimalRecord f = exact;
  const int cut = exact.exponent + d;
  if (cut < 0) {
    f = DecimalRecord{};
  } else {
    Cut(f, std::min(cut, p));
  }
  const std::string expectedFixed = Fixed(f, p, d, sep);
  if (fixed != expectedFixed)
    Mismatch("FormatFixed", record, precision, decimals, expectedFixed, fixed);
}

void CheckIntegers(const std::uint8_t* bytes) {
  std::int64_t wide;
  std::memcpy(&wide, bytes, 8);
  const auto narrow = static_cast<std::int32_t>(wide);
  std::string got = peloria::FormatInteger(wide);
  if (got != std::to_string(wide)) {
    std::fprintf(stderr, "FormatInteger(%lld) gave \"%s\"\n", static_cast<long long>(wide),
                 got.c_str());
    std::abort();
  }
  got = peloria::FormatInteger(narrow);
  if (got != std::to_string(narrow)) {
    std::fprintf(stderr, "FormatInteger(%d) gave \"%s\"\n", narrow, got.c_str());
    std::abort();
  }
  const auto other = static_cast<std::int32_t>(wide >> 32);
  got = peloria::Format("%d/%u", {narrow, other});
  const std::string expected =
      std::to_string(narrow) + "/" + std::to_string(static_cast<std::uint32_t>(other));
  if (got != expected) {
    std::fprintf(stderr, "Format(\"%%d/%%u\", %d, %d) gave \"%s\"\n", narrow, other, got.c_str());
    std::abort();
  }
}

// The whole input as a pattern: the formatter may only refuse it with its
// conversion failure.
void CheckPattern(const std::uint8_t* data, std::size_t size) {
  const std::string_view pattern(reinterpret_cast<const char*>(data), size);
  try {
    (void)peloria::Format(pattern, {std::int32_t{-7}, std::uint32_t{7}, "text"});
  } catch (const peloria::EConvertError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (std::size_t at = 0; at + 12 <= size; at += 12) {
    CheckOne(data + at);
    CheckIntegers(data + at);
  }
  CheckPattern(data, size);
  return 0;
}
