// Text decoding for Exif values: UNDEFINED values arrive as upper-case hex
// pairs; the version tags and the user comment turn them back into bytes.
// All results are CP932 byte strings.
#pragma once

#include <string>
#include <string_view>

namespace peloria {

// Reads the text two hex digits at a time from its start (an odd last digit
// is ignored) and appends each byte that is not 0. "30323230" gives "0220".
// A pair that is not hexadecimal gives no byte.
std::string HexToText(std::string_view hex);

// Decodes the hex text of an Exif UserComment value (Exif 2.3, 4.6.5): the
// first 8 bytes name the character code, the rest is the comment.
//   "ASCII"   : the bytes, zero bytes dropped;
//   "Unicode" : 16-bit units in the file's byte order (`motorolaOrder`),
//               or in the order of a leading byte-order mark, which is
//               dropped; each unit converted to CP932 ("?" when unmappable,
//               0 kept as a zero byte);
//   "JIS"     : 7-bit JIS (ISO-2022-JP) converted by JisToShiftJis;
//   otherwise : empty.
// The code name is compared without regard to letter case.
std::string DecodeUserComment(std::string_view hex, bool motorolaOrder);

// Converts 7-bit JIS (JIS X 0208 with ISO-2022-JP escapes) to Shift-JIS.
//  - ESC $ @, ESC $ B, ESC $ ( D: double-byte (kanji) mode;
//    ESC & @ ESC $ B: likewise (the 4 bytes after "ESC &" are skipped);
//    ESC ( B, ESC ( J: single-byte mode. The final byte is not checked.
//    ESC followed by any other byte stands for that byte.
//  - SO (0x0E) shifts to JIS X 0201 katakana: bytes 0x21-0x5F become the
//    half-width katakana 0xA1-0xDF; SI (0x0F) shifts back. An escape ends the
//    shift.
//  - In double-byte mode each pair (row, cell) becomes its Shift-JIS pair; in
//    single-byte mode each byte is copied, a zero byte included.
// A sequence cut short by the end of the input (an escape or half a pair) is
// dropped; nothing is read past the end.
std::string JisToShiftJis(std::string_view jis);

}  // namespace peloria
