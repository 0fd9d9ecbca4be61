// Texts inside Peloria are byte strings in CP932 (the Japanese Windows code
// page). Conversions to and from other encodings happen only through this
// module, at the edges: command line, file system, display, UTF-16 comments.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace peloria {

// UTF-8 to CP932. A character that CP932 cannot hold, and every byte of an
// invalid UTF-8 sequence, becomes one "?".
std::string Cp932(std::string_view utf8);

// CP932 to UTF-8. A byte that starts no valid CP932 character becomes "?".
std::string Utf8(std::string_view cp932);

// The process's locale charset (normally UTF-8) to CP932, as for command-line
// arguments; unmappable characters become "?".
std::string LocaleToCp932(std::string_view text);

// One UTF-16 code unit as CP932 bytes: "?" when unmappable (lone surrogates
// included); the unit 0 gives one zero byte.
std::string Utf16UnitToCp932(std::uint16_t unit);

// Lead bytes of a CP932 double-byte character: 0x81-0x9F and 0xE0-0xFC.
constexpr bool IsLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Folds the bytes A-Z to a-z and leaves every other byte alone. Applied to
// CP932 text this is byte-wise on purpose: it matches the file system and
// registry rules, which fold single-byte letters only.
std::string LowerAscii(std::string_view text);
std::string UpperAscii(std::string_view text);

// Byte-wise equality after folding A-Z.
bool SameTextAscii(std::string_view a, std::string_view b);

// Blanks are the space and the control bytes (0x00-0x20): what INI lines,
// HTTP header values and dates may be padded with. No CP932 trail byte is
// below 0x40, so trimming never splits a double-byte character.
constexpr bool IsBlankByte(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}
std::string_view Trimmed(std::string_view text);
std::string_view TrimmedLeft(std::string_view text);

// The value of one hexadecimal digit (0-9, A-F, a-f); -1 for any other byte.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace peloria
