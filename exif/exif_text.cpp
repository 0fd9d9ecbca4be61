#include "exif/exif_text.h"

#include <cstdint>
#include <optional>

#include "platform/bytes.h"
#include "platform/cp932.h"

namespace peloria {

namespace {

// Every pair of hex digits as a byte, zero bytes included; an odd last digit
// and pairs that are not hexadecimal give nothing.
std::string HexToBytes(std::string_view hex) {
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    int high = HexDigitValue(hex[i]);
    int low = HexDigitValue(hex[i + 1]);
    if (high >= 0 && low >= 0) bytes += static_cast<char>(high * 16 + low);
  }
  return bytes;
}

std::string DropZeros(std::string bytes) {
  std::erase(bytes, '\0');
  return bytes;
}

// The 8-byte character-code field that starts a UserComment (Exif 2.3,
// table 9): "ASCII\0\0\0", "JIS\0\0\0\0\0", "UNICODE\0", or all zero.
constexpr std::size_t kCodeDigits = 16;

constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kShiftOut = 0x0E;
constexpr unsigned char kShiftIn = 0x0F;

}  // namespace

std::string HexToText(std::string_view hex) {
  return DropZeros(HexToBytes(hex));
}

std::string DecodeUserComment(std::string_view hex, bool motorolaOrder) {
  std::string code = HexToText(hex.substr(0, kCodeDigits));
  std::string_view rest = hex.size() > kCodeDigits ? hex.substr(kCodeDigits) : std::string_view();
  if (SameTextAscii(code, "ASCII")) return HexToText(rest);
  if (SameTextAscii(code, "Unicode")) {
    // UCS-2 units. Exif 2.3 does not name their byte order; writers use
    // the TIFF header's, so "A" is 41 00 in an Intel file, 00 41 in a
    // Motorola one. A leading byte-order mark (U+FEFF) overrides that for
    // this comment and is not part of the text.
    const std::string bytes = HexToBytes(rest);
    const ByteSpan units(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    std::size_t start = 0;
    if (const auto mark = U16Be(units, 0); mark == 0xFEFF || mark == 0xFFFE) {
      motorolaOrder = mark == 0xFEFF;
      start = 2;
    }
    const ByteOrder order = motorolaOrder ? ByteOrder::kBig : ByteOrder::kLittle;
    std::string text;
    for (std::size_t i = start; const auto unit = ReadU16(units, i, order); i += 2) {
      text += Utf16UnitToCp932(*unit);
    }
    return text;
  }
  if (SameTextAscii(code, "JIS")) return JisToShiftJis(HexToBytes(rest));
  return {};  // undefined code (all zero) or an unknown one
}

std::string JisToShiftJis(std::string_view jis) {
  std::string out;
  std::size_t i = 0;
  auto next = [&]() -> std::optional<unsigned char> {
    if (i >= jis.size()) return std::nullopt;
    return static_cast<unsigned char>(jis[i++]);
  };
  auto skip = [&](std::size_t n) {
    if (jis.size() - i < n) return false;
    i += n;
    return true;
  };

  bool doubleByte = false;
  bool katakana = false;  // between SO and SI
  while (i < jis.size()) {
    unsigned char c = *next();
    if (c == kEsc) {
      auto d = next();
      if (!d) break;
      if (*d == 0x24) {  // ESC $ @, ESC $ B, ESC $ ( D: JIS X 0208 / 0212
        auto f = next();
        if (!f || (*f == 0x28 && !skip(1))) break;
        doubleByte = true;
        katakana = false;
        continue;
      }
      if (*d == 0x26) {  // ESC & @ ESC $ B: JIS X 0208-1990
        if (!skip(4)) break;
        doubleByte = true;
        katakana = false;
        continue;
      }
      if (*d == 0x28) {  // ESC ( B, ESC ( J: ASCII / JIS X 0201 Roman
        if (!skip(1)) break;
        doubleByte = false;
        katakana = false;
        continue;
      }
      c = *d;  // not an escape we know: the byte stands for itself
    } else if (c == kShiftOut) {
      katakana = true;
      continue;
    } else if (c == kShiftIn) {
      katakana = false;
      continue;
    }

    if (katakana) {
      out += static_cast<char>(c >= 0x21 && c <= 0x5F ? c + 0x80 : c);
    } else if (doubleByte) {
      auto cell = next();
      if (!cell) break;  // half a pair at the end
      // Row/cell to Shift-JIS (JIS X 0208, annex 1).
      auto t = static_cast<std::uint8_t>(*cell + ((c & 1) ? 0x1F : 0x7E));
      if (t >= 0x7F && t <= 0x9D) ++t;
      std::uint32_t row = ((std::uint32_t{c} - 0x21) >> 1) & 0x7F;
      auto lead = static_cast<std::uint8_t>(row + (row <= 30 ? 0x81 : 0xC1));
      out += static_cast<char>(lead);
      out += static_cast<char>(t);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace peloria
