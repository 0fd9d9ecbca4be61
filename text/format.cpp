#include "text/format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/exception.h"
#include "platform/locale.h"

namespace peloria {
namespace {

static_assert(std::numeric_limits<long double>::digits == 64 &&
                  std::numeric_limits<long double>::max_exponent == 16384,
              "long double must be the x87 80-bit extended format");

constexpr int kMaxDigits = 18;
constexpr int kMinPrecision = 2;
constexpr int kExtendedBias = 16383;
constexpr int kMaxExponentField = 0x7FFF;

// The x87 extended format as stored in memory (little-endian):
//   bytes 0..7  significand; bit 63 is the explicit integer bit
//   bytes 8..9  bit 15 the sign, bits 0..14 the biased exponent (bias 16383)
// The remaining bytes of a long double are padding and never read.
struct ExtendedBits {
  std::uint64_t significand = 0;
  bool negative = false;
  int exponentField = 0;
};

ExtendedBits Unpack(long double value) {
  unsigned char bytes[sizeof(long double)];
  std::memcpy(bytes, &value, sizeof bytes);
  ExtendedBits bits;
  std::memcpy(&bits.significand, bytes, sizeof bits.significand);
  std::uint16_t signExponent = 0;
  std::memcpy(&signExponent, bytes + 8, sizeof signExponent);
  bits.negative = (signExponent & 0x8000) != 0;
  bits.exponentField = signExponent & kMaxExponentField;
  return bits;
}

// A non-negative integer in base 10^9, least significant limb first. The
// value m * 2^q is m * 2^q for q >= 0 and (m * 5^-q) * 10^q for q < 0, so only
// multiplication by small factors is needed and the decimal digits come
// straight from the limbs.
class DecimalInteger {
 public:
  static constexpr std::uint32_t kBase = 1000000000;
  static constexpr int kLimbDigits = 9;

  explicit DecimalInteger(std::uint64_t value) {
    while (value != 0) {
      limbs_.push_back(static_cast<std::uint32_t>(value % kBase));
      value /= kBase;
    }
  }

  void MultiplyByPowerOf2(int exponent) {
    for (; exponent >= 32; exponent -= 32) Multiply(std::uint64_t{1} << 32);
    if (exponent > 0) Multiply(std::uint64_t{1} << exponent);
  }

  void MultiplyByPowerOf5(int exponent) {
    constexpr int kStep = 13;  // 5^13 = 1220703125 < 2^32
    for (; exponent >= kStep; exponent -= kStep) Multiply(1220703125u);
    std::uint64_t factor = 1;
    for (; exponent > 0; --exponent) factor *= 5;
    if (factor > 1) Multiply(factor);
  }

  bool IsZero() const { return limbs_.empty(); }

  // Number of decimal digits (0 for zero).
  int DigitCount() const {
    if (limbs_.empty()) return 0;
    int count = static_cast<int>(limbs_.size() - 1) * kLimbDigits;
    for (std::uint32_t top = limbs_.back(); top != 0; top /= 10) ++count;
    return count;
  }

  // Decimal digit `index` counted from the most significant (0); '0' past the end.
  int DigitAt(int index, int digitCount) const {
    int fromBottom = digitCount - 1 - index;
    if (fromBottom < 0) return 0;
    std::uint32_t limb = limbs_[static_cast<std::size_t>(fromBottom / kLimbDigits)];
    for (int i = fromBottom % kLimbDigits; i > 0; --i) limb /= 10;
    return static_cast<int>(limb % 10);
  }

  // Whether any digit from `index` (counted from the most significant) on is
  // not zero.
  bool AnyNonZeroFrom(int index, int digitCount) const {
    int fromBottom = digitCount - 1 - index;  // the highest digit position to look at
    if (fromBottom < 0) return false;
    std::size_t limbIndex = static_cast<std::size_t>(fromBottom / kLimbDigits);
    std::uint32_t modulus = 1;
    for (int i = fromBottom % kLimbDigits + 1; i > 0; --i) modulus *= 10;
    if (limbs_[limbIndex] % modulus != 0) return true;
    for (std::size_t i = 0; i < limbIndex; ++i) {
      if (limbs_[i] != 0) return true;
    }
    return false;
  }

 private:
  // factor <= 2^32: a limb times the factor plus the carry stays below 2^63.
  void Multiply(std::uint64_t factor) {
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : limbs_) {
      std::uint64_t product = limb * factor + carry;
      limb = static_cast<std::uint32_t>(product % kBase);
      carry = product / kBase;
    }
    while (carry != 0) {
      limbs_.push_back(static_cast<std::uint32_t>(carry % kBase));
      carry /= kBase;
    }
  }

  std::vector<std::uint32_t> limbs_;
};

// The intermediate form of every floating-point conversion: the value is
// 0.d1d2d3... * 10^exponent, at most 18 digits, no trailing zeros, none for
// zero.
struct DecimalRecord {
  enum class Kind { kFinite, kInfinity, kNaN };
  Kind kind = Kind::kFinite;
  bool negative = false;
  int exponent = 0;
  int count = 0;
  std::array<char, kMaxDigits> digits{};  // '0'..'9'
};

// Adds one to the first `count` digits as a decimal number. When the carry
// passes the first digit the digits become "1" and the exponent grows by one.
void RoundUp(DecimalRecord& record, int count) {
  int i = count - 1;
  while (i >= 0 && record.digits[static_cast<std::size_t>(i)] == '9') --i;
  if (i < 0) {
    record.digits[0] = '1';
    record.count = 1;
    ++record.exponent;
    return;
  }
  ++record.digits[static_cast<std::size_t>(i)];
  record.count = i + 1;  // the nines after it became zeros and are dropped
}

void DropTrailingZeros(DecimalRecord& record) {
  while (record.count > 0 && record.digits[static_cast<std::size_t>(record.count - 1)] == '0') {
    --record.count;
  }
}

// The value's exact decimal expansion rounded to 18 significant digits, ties
// to even. Exponent field 0 (zero and the denormals) gives zero.
DecimalRecord ToDecimal(long double value) {
  DecimalRecord record;
  ExtendedBits bits = Unpack(value);
  if (bits.exponentField == kMaxExponentField) {
    // All fraction bits clear: infinity; anything else is a NaN, never negative.
    if ((bits.significand << 1) == 0) {
      record.kind = DecimalRecord::Kind::kInfinity;
      record.negative = bits.negative;
    } else {
      record.kind = DecimalRecord::Kind::kNaN;
    }
    return record;
  }
  if (bits.exponentField == 0 || bits.significand == 0) return record;

  // value = significand * 2^q
  int q = bits.exponentField - kExtendedBias - 63;
  DecimalInteger integer(bits.significand);
  if (q >= 0) {
    integer.MultiplyByPowerOf2(q);
  } else {
    integer.MultiplyByPowerOf5(-q);
  }
  int digitCount = integer.DigitCount();
  record.negative = bits.negative;
  record.exponent = digitCount + std::min(q, 0);
  record.count = std::min(digitCount, kMaxDigits);
  for (int i = 0; i < record.count; ++i) {
    record.digits[static_cast<std::size_t>(i)] =
        static_cast<char>('0' + integer.DigitAt(i, digitCount));
  }
  if (digitCount > kMaxDigits) {
    int next = integer.DigitAt(kMaxDigits, digitCount);
    bool up = next > 5;
    if (next == 5) {
      up = integer.AnyNonZeroFrom(kMaxDigits + 1, digitCount) ||
           (record.digits[kMaxDigits - 1] - '0') % 2 != 0;
    }
    if (up) RoundUp(record, kMaxDigits);
  }
  DropTrailingZeros(record);
  return record;
}

// Cuts the 18-digit record to at most `precision` significant digits and to
// `limit` digits after the point, rounding half up on the magnitude.
DecimalRecord Convert(long double value, int precision, int limit) {
  DecimalRecord record = ToDecimal(value);
  if (record.kind != DecimalRecord::Kind::kFinite || record.count == 0) return record;
  long long cut = static_cast<long long>(record.exponent) + limit;
  if (cut < 0) return DecimalRecord{};
  int k = static_cast<int>(std::min<long long>(cut, precision));
  if (k < kMaxDigits && k < record.count) {
    if (record.digits[static_cast<std::size_t>(k)] >= '5') {
      RoundUp(record, k);
    } else {
      record.count = k;
    }
    DropTrailingZeros(record);
    if (record.count == 0) record.negative = false;
  }
  return record;
}

int ClampPrecision(int precision) {
  return std::clamp(precision, kMinPrecision, kMaxDigits);
}

// "INF", "-INF" or "NAN"; false for a finite record.
bool AppendSpecial(std::string& out, const DecimalRecord& record) {
  switch (record.kind) {
    case DecimalRecord::Kind::kInfinity:
      out += record.negative ? "-INF" : "INF";
      return true;
    case DecimalRecord::Kind::kNaN:
      out += "NAN";
      return true;
    case DecimalRecord::Kind::kFinite:
      break;
  }
  return false;
}

// Appends `count` digits of the record starting at `from`, "0" past its end.
void AppendDigits(std::string& out, const DecimalRecord& record, int from, int count) {
  for (int i = from; i < from + count; ++i) {
    out += i < record.count ? record.digits[static_cast<std::size_t>(i)] : '0';
  }
}

void AppendDecimal(std::string& out, long long value) {
  char buffer[24];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, end);
}

std::string WriteGeneral(const DecimalRecord& record, int precision) {
  std::string out;
  if (AppendSpecial(out, record)) return out;
  const char separator = DecimalSeparator();
  const int e = record.exponent;
  if (record.negative) out += '-';
  if (e >= -3 && e <= precision) {
    if (e > 0) {
      AppendDigits(out, record, 0, e);
      if (record.count > e) {
        out += separator;
        AppendDigits(out, record, e, record.count - e);
      }
    } else {
      out += '0';
      if (record.count > 0) {
        out += separator;
        out.append(static_cast<std::size_t>(-e), '0');
        AppendDigits(out, record, 0, record.count);
      }
    }
    return out;
  }
  AppendDigits(out, record, 0, 1);
  if (record.count > 1) {
    out += separator;
    AppendDigits(out, record, 1, record.count - 1);
  }
  out += 'E';
  AppendDecimal(out, static_cast<long long>(e) - 1);
  return out;
}

}  // namespace

std::string FormatGeneral(long double value, int precision) {
  precision = ClampPrecision(precision);
  return WriteGeneral(Convert(value, precision, INT_MAX), precision);
}

std::string FormatFixed(long double value, int precision, int decimals) {
  precision = ClampPrecision(precision);
  decimals = std::clamp(decimals, 0, kMaxDigits);
  DecimalRecord record = Convert(value, precision, decimals);
  if (record.kind != DecimalRecord::Kind::kFinite || record.exponent > precision) {
    return WriteGeneral(record, precision);
  }
  std::string out;
  const int e = record.exponent;
  if (record.negative) out += '-';
  if (e <= 0) {
    out += '0';
  } else {
    AppendDigits(out, record, 0, e);
  }
  if (decimals > 0) {
    out += DecimalSeparator();
    int zeros = e < 0 ? std::min(-e, decimals) : 0;
    out.append(static_cast<std::size_t>(zeros), '0');
    AppendDigits(out, record, std::max(e, 0), decimals - zeros);
  }
  return out;
}

std::string FormatInteger(std::int32_t value) {
  return FormatInteger(std::int64_t{value});
}

std::string FormatInteger(std::int64_t value) {
  std::string out;
  AppendDecimal(out, value);
  return out;
}

std::string Format(std::string_view pattern, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(pattern.size() + 16);
  auto next = args.begin();
  std::size_t argumentNumber = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    char directive = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    if (c != '%' ||
        (directive != 'd' && directive != 'u' && directive != 's' && directive != '%')) {
      out += c;
      continue;
    }
    ++i;
    if (directive == '%') {
      out += '%';
      continue;
    }
    ++argumentNumber;
    if (next == args.end()) {
      throw EConvertError("Format '" + std::string(pattern) + "': no argument for directive " +
                          std::to_string(argumentNumber));
    }
    const FormatArg& arg = *next++;
    if (arg.IsInteger() != (directive != 's')) {
      throw EConvertError("Format '" + std::string(pattern) + "': argument " +
                          std::to_string(argumentNumber) + " does not fit %" + directive);
    }
    if (directive == 's') {
      out += arg.text();
    } else if (directive == 'u') {
      AppendDecimal(out, static_cast<long long>(static_cast<std::uint32_t>(arg.integer())));
    } else {
      AppendDecimal(out, arg.integer());
    }
  }
  return out;
}

}  // namespace peloria
