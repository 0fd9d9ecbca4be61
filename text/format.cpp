#include "text/format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/exception.h"
#include "platform/locale.h"
#include "platform/message.h"
#include "text/text_limits.h"

namespace peloria {
namespace {

static_assert(std::numeric_limits<long double>::digits == 64 &&
                  std::numeric_limits<long double>::max_exponent == 16384,
              "long double must be the x87 80-bit extended format");

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

// The first 19 significant digits of an exact value m * 2^q, whether any
// digit after them is not zero, and the decimal exponent: the value is
// 0.d1d2d3... * 10^exponent.
struct LeadingDigits {
  static constexpr int kCount = 19;
  std::array<char, kCount> digits{};  // '0'..'9', zeros past the value's last digit
  bool restNonZero = false;
  int exponent = 0;
};

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

  // The leading digits of the value times 10^scale (the value is not zero).
  LeadingDigits Leading(int scale) const {
    LeadingDigits leading;
    int index = 0;
    for (std::size_t i = limbs_.size(); i-- > 0;) {
      char text[kLimbDigits];
      std::uint32_t limb = limbs_[i];
      for (int j = kLimbDigits - 1; j >= 0; --j, limb /= 10) {
        text[j] = static_cast<char>('0' + limb % 10);
      }
      // The top limb has no leading zeros.
      int from = 0;
      if (i + 1 == limbs_.size()) {
        while (text[from] == '0') ++from;
        leading.exponent = static_cast<int>(i) * kLimbDigits + kLimbDigits - from + scale;
      }
      for (int j = from; j < kLimbDigits; ++j) {
        if (index < LeadingDigits::kCount) {
          leading.digits[static_cast<std::size_t>(index++)] = text[j];
        } else if (text[j] != '0') {
          leading.restNonZero = true;
          return leading;
        }
      }
    }
    for (; index < LeadingDigits::kCount; ++index) {
      leading.digits[static_cast<std::size_t>(index)] = '0';
    }
    return leading;
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

// A non-negative integer in base 2^32, least significant limb first.
class BinaryInteger {
 public:
  explicit BinaryInteger(std::uint64_t value) {
    limbs_.push_back(static_cast<std::uint32_t>(value));
    limbs_.push_back(static_cast<std::uint32_t>(value >> 32));
  }

  void MultiplyByPowerOf5(int exponent) {
    constexpr int kStep = 13;  // 5^13 = 1220703125 < 2^32
    for (; exponent >= kStep; exponent -= kStep) Multiply(1220703125u);
    std::uint32_t factor = 1;
    for (; exponent > 0; --exponent) factor *= 5;
    if (factor > 1) Multiply(factor);
  }

  // The value divided by 2^bits, rounded down, and whether the division left
  // a remainder. The quotient must fit 128 bits.
  unsigned __int128 ShiftRight(int bits, bool& remainder) const {
    const std::size_t limbShift = static_cast<std::size_t>(bits / 32);
    const int bitShift = bits % 32;
    remainder = false;
    for (std::size_t i = 0; i < limbShift && i < limbs_.size(); ++i) {
      if (limbs_[i] != 0) remainder = true;
    }
    if (limbShift < limbs_.size() && bitShift != 0 &&
        (limbs_[limbShift] & ((std::uint32_t{1} << bitShift) - 1)) != 0) {
      remainder = true;
    }
    unsigned __int128 result = 0;
    for (std::size_t i = limbs_.size(); i-- > limbShift;) {
      result = (result << 32) | limbs_[i];
    }
    return result >> bitShift;
  }

  // The value times 2^bits; it must fit 128 bits.
  unsigned __int128 ShiftLeft(int bits) const {
    unsigned __int128 result = 0;
    for (std::size_t i = limbs_.size(); i-- > 0;) result = (result << 32) | limbs_[i];
    return result << bits;
  }

 private:
  void Multiply(std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : limbs_) {
      std::uint64_t product = std::uint64_t{limb} * factor + carry;
      limb = static_cast<std::uint32_t>(product);
      carry = product >> 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<std::uint32_t>(carry));
  }

  std::vector<std::uint32_t> limbs_;
};

// Exact leading digits of m * 2^q (m not zero).
LeadingDigits ExactDigits(std::uint64_t m, int q) {
  if (q >= -64) {
    // m * 2^q exactly as a decimal integer: m * 2^q, or m * 5^-q scaled by 10^q.
    DecimalInteger integer(m);
    if (q >= 0) {
      integer.MultiplyByPowerOf2(q);
    } else {
      integer.MultiplyByPowerOf5(-q);
    }
    return integer.Leading(std::min(q, 0));
  }
  // Below 1: far fewer digits are needed than m * 5^-q has. Take
  // R = floor(m * 2^q * 10^s) = floor(m * 5^s / 2^-(q+s)) with s chosen so
  // that R has 20 to 23 digits; the discarded bits decide only whether
  // something follows the digits.
  const int bitLength = 64 - std::countl_zero(m);
  const int binaryExponent = bitLength - 1 + q;  // 2^b <= value < 2^(b+1)
  // floor(b * log10(2)) + 1, within one of the true decimal exponent.
  const int estimate = static_cast<int>(std::floor(binaryExponent * 0.30102999566398120)) + 1;
  const int s = 21 - estimate;
  BinaryInteger integer(m);
  integer.MultiplyByPowerOf5(s);
  bool remainder = false;
  unsigned __int128 r =
      q + s >= 0 ? integer.ShiftLeft(q + s) : integer.ShiftRight(-(q + s), remainder);
  char text[40];
  int length = 0;
  for (; r != 0; r /= 10) text[length++] = static_cast<char>('0' + static_cast<int>(r % 10));
  LeadingDigits leading;
  leading.exponent = length - s;
  leading.restNonZero = remainder;
  for (int i = 0; i < length; ++i) {
    char digit = text[length - 1 - i];
    if (i < LeadingDigits::kCount) {
      leading.digits[static_cast<std::size_t>(i)] = digit;
    } else if (digit != '0') {
      leading.restNonZero = true;
    }
  }
  for (int i = length; i < LeadingDigits::kCount; ++i) {
    leading.digits[static_cast<std::size_t>(i)] = '0';
  }
  return leading;
}

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
// to even. Exponent field 0 (zero, and the denormals below 3.4E-4932) gives
// zero.
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
  LeadingDigits leading = ExactDigits(bits.significand, bits.exponentField - kExtendedBias - 63);
  record.negative = bits.negative;
  record.exponent = leading.exponent;
  record.count = kMaxDigits;
  std::copy_n(leading.digits.begin(), kMaxDigits, record.digits.begin());
  // Ties go to the even neighbour.
  const char next = leading.digits[kMaxDigits];
  if (next > '5' ||
      (next == '5' && (leading.restNonZero || (record.digits[kMaxDigits - 1] - '0') % 2 != 0))) {
    RoundUp(record, kMaxDigits);
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
  char buffer[24];  // 20 digits and a sign at most
  out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
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
  auto next = args.begin();
  std::size_t argumentNumber = 0;
  FillTemplate(out, pattern, "dus%", [&](std::string& out, char directive) {
    if (directive == '%') {
      out += '%';
      return;
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
  });
  return out;
}

}  // namespace peloria
