#include "exif/exif_value.h"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>

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
  if (size != 2 && size != 4) return 0;
  std::uint32_t value = 0;
  for (int i = 0; i < size; ++i) {
    int at = motorolaOrder ? i : size - 1 - i;  // most significant byte first
    value = (value << 8) | bytes[at];
  }
  return value;
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
  // 64-bit size: a count near 2^32 must not wrap to a small in-place value.
  std::int64_t size = static_cast<std::int64_t>(count) * tiff::UnitSize(type);
  std::int64_t at = valueField;
  if (size > 4) {
    std::array<std::uint8_t, 4> field{};
    if (!ReadExactly(stream, valueField, field.data(), 4)) return datas;
    at = tiffStart + ToUnsigned(field.data(), 4, motorolaOrder);
  }

  std::array<std::uint8_t, 8> b{};
  switch (type) {
    case tiff::kByte:
      if (ReadExactly(stream, at, b.data(), 1)) datas.UnsignedValue = b[0];
      break;
    case tiff::kAscii:
      for (char c : ReadBytes(stream, at, count, byteBudget))
        if (c != '\0') datas.Text += c;
      break;
    case tiff::kShort:
      if (ReadExactly(stream, at, b.data(), 2))
        datas.UnsignedValue = ToUnsigned(b.data(), 2, motorolaOrder);
      break;
    case tiff::kLong:
      if (ReadExactly(stream, at, b.data(), 4))
        datas.UnsignedValue = ToUnsigned(b.data(), 4, motorolaOrder);
      break;
    case tiff::kRational:
      if (ReadExactly(stream, at, b.data(), 8)) {
        std::uint32_t n = ToUnsigned(b.data(), 4, motorolaOrder);
        std::uint32_t d = ToUnsigned(b.data() + 4, 4, motorolaOrder);
        datas.Text = Format("%u/%u", {n, d});
        if (d != 0) datas.FloatValue = static_cast<double>(static_cast<long double>(n) / d);
      }
      break;
    case tiff::kSByte:
      if (ReadExactly(stream, at, b.data(), 1)) datas.SignedValue = static_cast<std::int8_t>(b[0]);
      break;
    case tiff::kUndefined: {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      std::string bytes = ReadBytes(stream, at, count, byteBudget);
      datas.Text.reserve(bytes.size() * 2);
      for (unsigned char c : bytes) {
        datas.Text += kDigits[c >> 4];
        datas.Text += kDigits[c & 0x0F];
      }
      break;
    }
    case tiff::kSShort:
      if (ReadExactly(stream, at, b.data(), 2))
        datas.SignedValue = ToSigned(b.data(), 2, motorolaOrder);
      break;
    case tiff::kSLong:
      if (ReadExactly(stream, at, b.data(), 4))
        datas.SignedValue = ToSigned(b.data(), 4, motorolaOrder);
      break;
    case tiff::kSRational:
      if (ReadExactly(stream, at, b.data(), 8)) {
        std::int32_t n = ToSigned(b.data(), 4, motorolaOrder);
        std::int32_t d = ToSigned(b.data() + 4, 4, motorolaOrder);
        datas.Text = Format("%d/%d", {n, d});
        if (d != 0) datas.FloatValue = static_cast<double>(static_cast<long double>(n) / d);
      }
      break;
    case tiff::kFloat:
      if (ReadExactly(stream, at, b.data(), 4)) {
        // Widened through the bits, so that a signalling NaN in the file
        // raises no floating-point exception.
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
      break;
    case tiff::kDouble:
      if (ReadExactly(stream, at, b.data(), 8)) {
        // IEEE double, little-endian unless the file is big-endian.
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits = (bits << 8) | b[motorolaOrder ? i : 7 - i];
        datas.FloatValue = std::bit_cast<double>(bits);
      }
      break;
    default:  // unknown type code: nothing is read
      break;
  }
  return datas;
}

}  // namespace peloria
