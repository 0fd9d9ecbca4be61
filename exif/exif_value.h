// Decoding of TIFF directory entries (TIFF 6.0, section 2; Exif 2.3, 4.6.2).
//
// A directory (IFD) is a 2-byte entry count, the entries, then the 4-byte
// offset of the next IFD (0 ends the chain). Each entry is 12 bytes:
//
//   bytes 0-1  tag
//   bytes 2-3  type   1 BYTE  2 ASCII  3 SHORT  4 LONG  5 RATIONAL  6 SBYTE
//                     7 UNDEFINED  8 SSHORT  9 SLONG  10 SRATIONAL
//                     11 FLOAT  12 DOUBLE
//   bytes 4-7  count  number of values (not bytes)
//   bytes 8-11 value  the value itself when count x unit size <= 4 bytes,
//                     else its offset from the TIFF header
//
// Every multi-byte number is in the byte order named by the TIFF header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exif/exif_limits.h"
#include "platform/stream.h"

namespace peloria {

// A rational (or other numeric) tag: for a RATIONAL or SRATIONAL entry the
// numerator and denominator as "n/d" (not reduced), and their quotient; the
// quotient is 0 when the denominator is 0 or the tag is absent.
struct TExifRational {
  std::string Text;
  double Value = 0;
  bool operator==(const TExifRational&) const = default;
};

// The decoded value of one directory entry, filled anew for each entry.
struct TDatas {
  double FloatValue = 0;            // RATIONAL, SRATIONAL, FLOAT, DOUBLE
  std::int32_t SignedValue = 0;     // SBYTE, SSHORT, SLONG
  std::string Text;                 // ASCII, UNDEFINED (hex pairs), RATIONAL, SRATIONAL
  std::uint32_t UnsignedValue = 0;  // BYTE, SHORT, LONG
  // RATIONAL, SRATIONAL: the values in file order, at most
  // kMaxRationalValues; the first is also in Text and FloatValue.
  std::vector<TExifRational> Rationals;
};

namespace tiff {

enum Type : std::uint8_t {
  kByte = 1,
  kAscii = 2,
  kShort = 3,
  kLong = 4,
  kRational = 5,
  kSByte = 6,
  kUndefined = 7,
  kSShort = 8,
  kSLong = 9,
  kSRational = 10,
  kFloat = 11,
  kDouble = 12,
};

// Bytes per value of a type code; unknown codes count 8.
int UnitSize(std::uint8_t type);

}  // namespace tiff

// 2 or 4 raw bytes as an unsigned number: little-endian unless
// `motorolaOrder` (big-endian). Other sizes give 0.
std::uint32_t ToUnsigned(const std::uint8_t* bytes, int size, bool motorolaOrder);
// As ToUnsigned, sign-extended: 2 bytes give -32768..32767.
std::int32_t ToSigned(const std::uint8_t* bytes, int size, bool motorolaOrder);

// Reads up to `count` bytes at file position `position` (explicit, the
// stream position is not used); answers how many arrived. A position beyond
// the end reads nothing.
std::int64_t ReadAt(TStream& stream, std::int64_t position, void* buffer, std::int64_t count);

// Decodes the value of one entry whose 4-byte value field lies at file
// position `valueField`, with the TIFF header at `tiffStart`:
//  - numeric types take their first value only (RATIONAL and SRATIONAL also
//    up to kMaxRationalValues into Rationals, as many as lie wholly inside
//    the file); a value that does not lie wholly inside the file decodes to
//    nothing (all members 0 or empty);
//  - ASCII takes all `count` bytes, zero bytes dropped wherever they stand;
//    UNDEFINED takes them as upper-case hex pairs; both stop at the end of
//    the file whatever the count says;
//  - RATIONAL and SRATIONAL give "n/d" ("%u/%u", "%d/%d") and the quotient,
//    computed in extended precision (0 when d is 0);
//  - FLOAT is widened, DOUBLE read in the file's byte order;
//  - unknown type codes decode to nothing.
// ASCII and UNDEFINED bytes are also taken from `byteBudget`, which shrinks
// by what they read; once it is spent they stop there too.
TDatas ReadValue(TStream& stream, std::int64_t valueField, std::int64_t tiffStart,
                 std::uint32_t count, std::uint8_t type, bool motorolaOrder,
                 std::int64_t& byteBudget);
// The same without a budget.
TDatas ReadValue(TStream& stream, std::int64_t valueField, std::int64_t tiffStart,
                 std::uint32_t count, std::uint8_t type, bool motorolaOrder);

}  // namespace peloria
