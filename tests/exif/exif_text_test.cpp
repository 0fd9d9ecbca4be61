#include "exif/exif_text.h"

#include <gtest/gtest.h>

#include "platform/cp932.h"

namespace peloria {
namespace {

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string B(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) out += static_cast<char>(b);
  return out;
}

TEST(HexToTextTest, PairsBecomeBytesWithoutZeros) {
  EXPECT_EQ(HexToText("30323230"), "0220");
  EXPECT_EQ(HexToText("30323231"), "0221");
  EXPECT_EQ(HexToText("3000003100"), "01");
  EXPECT_EQ(HexToText("4142434"), "ABC");  // odd last digit ignored
  EXPECT_EQ(HexToText("6162"), "ab");
  EXPECT_EQ(HexToText("88"), "\x88");
  EXPECT_EQ(HexToText(""), "");
}

TEST(DecodeUserCommentTest, ByCharacterCode) {
  struct Row {
    const char* name;
    std::string bytes;
    bool motorola;
    std::string expected;
  };
  const std::string ascii("ASCII\0\0\0", 8);
  const std::string unicode("UNICODE\0", 8);
  const std::string jis("JIS\0\0\0\0\0", 8);
  const Row rows[] = {
      {"ascii padded", ascii + std::string("Hello\0\0\0", 8), false, "Hello"},
      {"ascii any case", std::string("aScIi\0\0\0", 8) + "x", false, "x"},
      {"ascii embedded zero", ascii + std::string("a\0b", 3), false, "ab"},
      {"undefined code", std::string(8, '\0') + "text", false, ""},
      {"unknown code", std::string("UTF8\0\0\0\0", 8) + "text", false, ""},
      {"code only", ascii, false, ""},
      {"short code field", "ASC", false, ""},
      {"unicode intel", unicode + B({0x41, 0x00}), false, "A"},
      {"unicode motorola", unicode + B({0x00, 0x41}), true, "A"},
      {"unicode lower-case code", std::string("Unicode\0", 8) + B({0x42, 0x00}), false, "B"},
      {"unicode hiragana", unicode + B({0x42, 0x30}), false, Cp932("あ")},
      {"unicode zero unit kept", unicode + B({0x41, 0, 0, 0}), false, std::string("A\0", 2)},
      {"unicode odd byte ignored", unicode + B({0x41, 0, 0x42}), false, "A"},
      {"unicode unmappable", unicode + B({0x00, 0xD8}), false, "?"},
      {"unicode kana intel", unicode + B({0x86, 0x30}), false, Cp932("ゆ")},
      {"unicode kana motorola", unicode + B({0x30, 0x86}), true, Cp932("ゆ")},
      {"unicode odd count motorola", unicode + B({0x30, 0x86, 0x30}), true, Cp932("ゆ")},
      // A byte-order mark decides the order against the file's, in both
      // directions, and is dropped; only a leading one counts.
      {"bom big-endian in intel file", unicode + B({0xFE, 0xFF, 0x30, 0x86, 0x00, 0x41}), false,
       Cp932("ゆ") + "A"},
      {"bom little-endian in motorola file", unicode + B({0xFF, 0xFE, 0x86, 0x30, 0x41, 0x00}),
       true, Cp932("ゆ") + "A"},
      {"bom matching the file", unicode + B({0xFF, 0xFE, 0x41, 0x00}), false, "A"},
      {"bom alone", unicode + B({0xFE, 0xFF}), false, ""},
      {"half a bom", unicode + B({0xFE}), true, ""},
      {"mark past the start is text", unicode + B({0x41, 0x00, 0xFF, 0xFE}), false,
       "A" + Utf16UnitToCp932(0xFEFF)},
      {"jis kanji", jis + B({0x1B, 0x24, 0x42, 0x30, 0x21, 0x1B, 0x28, 0x42}), false,
       B({0x88, 0x9F})},
      {"jis mixed", jis + B({'a', 0x1B, 0x24, 0x42, 0x24, 0x22, 0x1B, 0x28, 0x42, 'b'}), false,
       "a" + Cp932("あ") + "b"},
  };
  for (const auto& r : rows)
    EXPECT_EQ(DecodeUserComment(Hex(r.bytes), r.motorola), r.expected) << r.name;
}

TEST(JisToShiftJisTest, Conversions) {
  struct Row {
    const char* name;
    std::string jis;
    std::string sjis;
  };
  const std::string kanji = B({0x1B, 0x24, 0x42});
  const std::string roman = B({0x1B, 0x28, 0x42});
  const Row rows[] = {
      {"ascii only", "abc", "abc"},
      {"zero byte kept", std::string("a\0", 2), std::string("a\0", 2)},
      {"ESC $ B", kanji + B({0x30, 0x21}) + roman, B({0x88, 0x9F})},
      {"ESC $ @", B({0x1B, 0x24, 0x40, 0x30, 0x21}), B({0x88, 0x9F})},
      {"ESC $ ( D", B({0x1B, 0x24, 0x28, 0x44, 0x30, 0x21}), B({0x88, 0x9F})},
      {"ESC & @ ESC $ B", B({0x1B, 0x26, 0x40, 0x1B, 0x24, 0x42, 0x30, 0x21}), B({0x88, 0x9F})},
      {"ESC ( J", kanji + B({0x30, 0x21, 0x1B, 0x28, 0x4A, 'x'}), B({0x88, 0x9F, 'x'})},
      {"unknown escape stands for its byte", B({0x1B, 'x', 'y'}), "xy"},
      {"escape after escape", kanji + roman + "z", "z"},
      {"odd row", kanji + B({0x31, 0x22}), B({0x89, 0x41})},
      {"odd row, cell past 0x7E", kanji + B({0x31, 0x60}), B({0x89, 0x80})},
      {"row above 0x5E", kanji + B({0x60, 0x21}), B({0xE0, 0x9F})},
      {"hiragana", kanji + B({0x24, 0x22, 0x24, 0x73}), Cp932("あん")},
      {"SO/SI katakana", B({0x0E, 0x31, 0x5F, 0x0F, 0x31}), B({0xB1, 0xDF, 0x31})},
      {"escape ends the shift", B({0x0E, 0x31}) + roman + "1", B({0xB1, '1'})},
  };
  for (const auto& r : rows) EXPECT_EQ(JisToShiftJis(r.jis), r.sjis) << r.name;
}

TEST(JisToShiftJisTest, CutSequencesAreDroppedWithoutReadingPastTheEnd) {
  const std::string full = B({'a', 0x1B, 0x24, 0x28, 0x44, 0x30, 0x21, 0x1B, 0x26, 0x40, 0x1B, 0x24,
                              0x42, 0x24, 0x22, 0x1B, 0x28, 0x42, 'b'});
  const std::string expected = "a" + B({0x88, 0x9F}) + Cp932("あ") + "b";
  ASSERT_EQ(JisToShiftJis(full), expected);
  for (std::size_t n = 0; n < full.size(); ++n) {
    // Each prefix converts to a prefix of the whole result (the last,
    // unfinished piece dropped); the sanitizer build checks the reads.
    std::string part = JisToShiftJis(std::string_view(full).substr(0, n));
    EXPECT_EQ(expected.compare(0, part.size(), part), 0) << n;
  }
  EXPECT_EQ(JisToShiftJis(B({0x1B})), "");
  EXPECT_EQ(JisToShiftJis(B({0x1B, 0x24, 0x42, 0x30})), "");
}

}  // namespace
}  // namespace peloria
