#include "exif/exif_value.h"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <optional>

#include "platform/bytes.h"
#include "text/format.h"

namespace peloria {

int tiff::UnitSize(std::uint8_t type) {
  switch (type) {
    case kByte:
    case kAscii:
    case kSByte:
    case kUndefined:
      return 1;
    case kShort:
    case kSShort:
      return 2;
    case kLong:
    case kSLong:
    case kFloat:
      return 4;
    default:  // RATIONAL, SRATIONAL, DOUBLE and unknown codes
      return 8;
  }
}

std::uint32_t ToUnsigned(const std::uint8_t* bytes, int size, bool motorolaOrder) {
  const ByteOrder order = motorolaOrder ? ByteOrder::kBig : ByteOrder::kLittle;
  if (size == 2) return ReadU16(ByteSpan(bytes, 2), 0, order).value_or(0);
  if (size == 4) return ReadU32(ByteSpan(bytes, 4), 0, order).value_or(0);
  return 0;
}

std::int32_t ToSigned(const std::uint8_t* bytes, int size, bool motorolaOrder) {
  std::uint32_t value = ToUnsigned(bytes, size, motorolaOrder);
  if (size == 2) return static_cast<std::int16_t>(value);
  return static_cast<std::int32_t>(value);
}

std::int64_t ReadAt(TStream& stream, std::int64_t position, void* buffer, std::int64_t count) {
  if (count <= 0 || position < 0) return 0;
  stream.Seek(position);
  return stream.Read(buffer, count);
}

namespace {

// Reads exactly `n` bytes at `position`; false when the file ends before.
bool ReadExactly(TStream& stream, std::int64_t position, std::uint8_t* buffer, std::int64_t n) {
  return ReadAt(stream, position, buffer, n) == n;
}

// The bytes of an ASCII or UNDEFINED value: at most `count`, never beyond
// the end of the file (a hostile count allocates no more than the file
// holds) and at most `budget`, which shrinks by what was read.
std::string ReadBytes(TStream& stream, std::int64_t position, std::uint32_t count,
                      std::int64_t& budget) {
  std::int64_t available = stream.Size() - position;
  std::int64_t n = std::min({std::int64_t{count}, available, budget});
  if (n <= 0) return {};
  std::string bytes(static_cast<std::size_t>(n), '\0');
  bytes.resize(static_cast<std::size_t>(ReadAt(stream, position, bytes.data(), n)));
  budget -= static_cast<std::int64_t>(bytes.size());
  return bytes;
}

// One typed read per TIFF type. Each takes the position of the value's first
// byte and fills its members of `datas`; a value that does not lie wholly
// inside the file leaves them as they are.

// An unsigned or signed integer of 1, 2 or 4 bytes.
void ReadUnsigned(TStream& stream, std::int64_t at, int size, bool motorolaOrder, TDatas& datas) {
  std::array<std::uint8_t, 4> b{};
  if (!ReadExactly(stream, at, b.data(), size)) return;
  datas.UnsignedValue = size == 1 ? b[0] : ToUnsigned(b.data(), size, motorolaOrder);
}

void ReadSigned(TStream& stream, std::int64_t at, int size, bool motorolaOrder, TDatas& datas) {
  std::array<std::uint8_t, 4> b{};
  if (!ReadExactly(stream, at, b.data(), size)) return;
  datas.SignedValue =
      size == 1 ? static_cast<std::int8_t>(b[0]) : ToSigned(b.data(), size, motorolaOrder);
}

// ASCII: all `count` bytes, zero bytes dropped wherever they stand.
void ReadAscii(TStream& stream, std::int64_t at, std::uint32_t count, std::int64_t& budget,
               TDatas& datas) {
  for (char c : ReadBytes(stream, at, count, budget))
    if (c != '\0') datas.Text += c;
}

// UNDEFINED: the bytes as upper-case hex pairs.
void ReadUndefined(TStream& stream, std::int64_t at, std::uint32_t count, std::int64_t& budget,
                   TDatas& datas) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string bytes = ReadBytes(stream, at, count, budget);
  datas.Text.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    datas.Text += kDigits[c >> 4];
    datas.Text += kDigits[c & 0x0F];
  }
}

// RATIONAL and SRATIONAL: "n/d" and the quotient in extended precision (0
// when d is 0), the first value also in Text and FloatValue.
void ReadRationals(TStream& stream, std::int64_t at, std::uint32_t count, bool isSigned,
                   bool motorolaOrder, TDatas& datas) {
  const std::uint32_t n = std::min(count, kMaxRationalValues);
  for (std::uint32_t i = 0; i < std::max(n, 1u); ++i, at += 8) {
    std::array<std::uint8_t, 8> b{};
    if (!ReadExactly(stream, at, b.data(), 8)) break;
    TExifRational value;
    long double quotient = 0;
    if (isSigned) {
      std::int32_t num = ToSigned(b.data(), 4, motorolaOrder);
      std::int32_t den = ToSigned(b.data() + 4, 4, motorolaOrder);
      value.Text = Format("%d/%d", {num, den});
      if (den != 0) quotient = static_cast<long double>(num) / den;
    } else {
      std::uint32_t num = ToUnsigned(b.data(), 4, motorolaOrder);
      std::uint32_t den = ToUnsigned(b.data() + 4, 4, motorolaOrder);
      value.Text = Format("%u/%u", {num, den});
      if (den != 0) quotient = static_cast<long double>(num) / den;
    }
    value.Value = static_cast<double>(quotient);
    datas.Rationals.push_back(std::move(value));
  }
  if (!datas.Rationals.empty()) {
    datas.Text = datas.Rationals.front().Text;
    datas.FloatValue = datas.Rationals.front().Value;
  }
}

// FLOAT: widened through the bits, so that a signalling NaN in the file
// raises no floating-point exception.
void ReadFloat(TStream& stream, std::int64_t at, bool motorolaOrder, TDatas& datas) {
  std::array<std::uint8_t, 4> b{};
  if (!ReadExactly(stream, at, b.data(), 4)) return;
  std::uint32_t f = ToUnsigned(b.data(), 4, motorolaOrder);
  std::uint64_t sign = static_cast<std::uint64_t>(f >> 31) << 63;
  std::uint32_t exponent = (f >> 23) & 0xFF;
  std::uint64_t mantissa = f & 0x7FFFFF;
  std::uint64_t bits;
  if (exponent == 0xFF) {  // infinity or NaN (quiet or not, kept as is)
    bits = sign | (std::uint64_t{0x7FF} << 52) | (mantissa << 29);
  } else if (exponent != 0) {
    bits = sign | (std::uint64_t{exponent - 127 + 1023} << 52) | (mantissa << 29);
  } else if (mantissa == 0) {
    bits = sign;
  } else {  // subnormal single: normal as a double
    int shift = std::countl_zero(mantissa) - (64 - 23) + 1;
    mantissa = (mantissa << shift) & 0x7FFFFF;
    bits = sign | (std::uint64_t(1 - 127 - shift + 1023) << 52) | (mantissa << 29);
  }
  datas.FloatValue = std::bit_cast<double>(bits);
}

// DOUBLE: IEEE double, little-endian unless the file is big-endian.
void ReadDouble(TStream& stream, std::int64_t at, bool motorolaOrder, TDatas& datas) {
  std::array<std::uint8_t, 8> b{};
  if (!ReadExactly(stream, at, b.data(), 8)) return;
  const std::uint64_t bits = *ReadU64(b, 0, motorolaOrder ? ByteOrder::kBig : ByteOrder::kLittle);
  datas.FloatValue = std::bit_cast<double>(bits);
}

// Where the value lies: in the value field itself when it takes at most 4
// bytes, else at the offset the field holds; none when the field is cut.
std::optional<std::int64_t> ValuePosition(TStream& stream, std::int64_t valueField,
                                          std::int64_t tiffStart, std::uint32_t count,
                                          std::uint8_t type, bool motorolaOrder) {
  // 64-bit size: a count near 2^32 must not wrap to a small in-place value.
  std::int64_t size = static_cast<std::int64_t>(count) * tiff::UnitSize(type);
  if (size <= 4) return valueField;
  std::array<std::uint8_t, 4> field{};
  if (!ReadExactly(stream, valueField, field.data(), 4)) return std::nullopt;
  return tiffStart + ToUnsigned(field.data(), 4, motorolaOrder);
}

}  // namespace

TDatas ReadValue(TStream& stream, std::int64_t valueField, std::int64_t tiffStart,
                 std::uint32_t count, std::uint8_t type, bool motorolaOrder) {
  std::int64_t unlimited = std::numeric_limits<std::int64_t>::max();
  return ReadValue(stream, valueField, tiffStart, count, type, motorolaOrder, unlimited);
}

TDatas ReadValue(TStream& stream, std::int64_t valueField, std::int64_t tiffStart,
                 std::uint32_t count, std::uint8_t type, bool motorolaOrder,
                 std::int64_t& byteBudget) {
  TDatas datas;
  std::optional<std::int64_t> at =
      ValuePosition(stream, valueField, tiffStart, count, type, motorolaOrder);
  if (!at) return datas;
  switch (type) {
    case tiff::kByte:
    case tiff::kShort:
    case tiff::kLong:
      ReadUnsigned(stream, *at, tiff::UnitSize(type), motorolaOrder, datas);
      break;
    case tiff::kSByte:
    case tiff::kSShort:
    case tiff::kSLong:
      ReadSigned(stream, *at, tiff::UnitSize(type), motorolaOrder, datas);
      break;
    case tiff::kAscii:
      ReadAscii(stream, *at, count, byteBudget, datas);
      break;
    case tiff::kUndefined:
      ReadUndefined(stream, *at, count, byteBudget, datas);
      break;
    case tiff::kRational:
    case tiff::kSRational:
      ReadRationals(stream, *at, count, type == tiff::kSRational, motorolaOrder, datas);
      break;
    case tiff::kFloat:
      ReadFloat(stream, *at, motorolaOrder, datas);
      break;
    case tiff::kDouble:
      ReadDouble(stream, *at, motorolaOrder, datas);
      break;
    default:  // unknown type code: nothing is read
      break;
  }
  return datas;
}

}  // namespace peloria
