#include "platform/cp932.h"

#include <gtest/gtest.h>

#include "platform/locale.h"

namespace peloria {
namespace {

TEST(Cp932Test, JapaneseLiteralsComeOutAsCp932Bytes) {
  struct Row {
    const char* utf8;
    std::string cp932;
  };
  const Row rows[] = {
      {"F値", "F\x92\x6c"},
      {"秒", "\x95\x62"},
      {"データの取得に失敗しました",
       "\x83\x66\x81\x5b\x83\x5e\x82\xcc\x8e\xe6\x93\xbe\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc"
       "\x82\xb5\x82\xbd"},
      {"Peloria　 画像", "Peloria\x81\x40 \x89\xe6\x91\x9c"},  // ideographic space
      {"ＭＳ ゴシック", "\x82\x6c\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4e"},
      {"スキャンライン", "\x83\x58\x83\x4c\x83\x83\x83\x93\x83\x89\x83\x43\x83\x93"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Cp932(row.utf8), row.cp932) << row.utf8;
    EXPECT_EQ(Utf8(row.cp932), row.utf8) << row.utf8;
  }
}

TEST(Cp932Test, UnmappableCharactersBecomeOneQuestionMarkEach) {
  EXPECT_EQ(Cp932("a😀b"), "a?b");          // outside the BMP
  EXPECT_EQ(Cp932("x\xff\xfey"), "x??y");  // not UTF-8 at all
  EXPECT_EQ(Cp932("\xe6\x97"), "?");       // a sequence cut at the end
  EXPECT_EQ(Utf8("a\xa0"
                 "b"),
            "a?b");              // 0xA0 is no CP932 character
  EXPECT_EQ(Utf8("\x88"), "?");  // lead byte without its trail byte
}

TEST(Cp932Test, Utf16Units) {
  EXPECT_EQ(Utf16UnitToCp932(0x41), "A");
  EXPECT_EQ(Utf16UnitToCp932(0x4E9C), "\x88\x9f");  // 亜
  EXPECT_EQ(Utf16UnitToCp932(0x0000), std::string(1, '\0'));
  EXPECT_EQ(Utf16UnitToCp932(0xD800), "?");
  EXPECT_EQ(Utf16UnitToCp932(0x0E01), "?");  // Thai: not in CP932
}

TEST(Cp932Test, LeadBytes) {
  const std::pair<unsigned char, bool> rows[] = {{0x80, false}, {0x81, true},  {0x9F, true},
                                                 {0xA0, false}, {0xDF, false}, {0xE0, true},
                                                 {0xFC, true},  {0xFD, false}, {0x41, false}};
  for (auto [byte, lead] : rows) EXPECT_EQ(IsLeadByte(byte), lead) << int(byte);
}

TEST(Cp932Test, FoldingTouchesOnlyAsciiLetters) {
  EXPECT_EQ(LowerAscii("IMG_0001[1].JPG"), "img_0001[1].jpg");
  // 0x83 0x41 is a katakana whose trail byte is "A": byte-wise folding is the
  // documented rule, the caller skips double-byte characters where it matters.
  EXPECT_EQ(UpperAscii("exif"), "EXIF");
  EXPECT_TRUE(SameTextAscii("Unicode", "UNICODE"));
  EXPECT_FALSE(SameTextAscii("ASCII", "ASCI"));
  EXPECT_FALSE(SameTextAscii("\xe0", "\xc0"));  // no Latin-1 folding
}

TEST(Cp932Test, TrimmedDropsSpacesAndControlBytesAtTheEndsOnly) {
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"  close\r\n", "close"},
      {"\t\v\f a b \x01", "a b"},
      {std::string_view("\0x\0", 3), "x"},
      {" \t\r\n", ""},
      {"", ""},
      // A double-byte character whose trail byte is no blank stays whole;
      // 0x81 0x40 (ideographic space) is no ASCII blank either.
      {" \x81\x40", "\x81\x40"},
      {"\xff ", "\xff"},  // a high byte is no control byte
  };
  for (auto [text, trimmed] : rows) EXPECT_EQ(Trimmed(text), trimmed) << text;
  EXPECT_EQ(TrimmedLeft("  a b  "), "a b  ");
}

TEST(Cp932Test, HexDigitValues) {
  const std::pair<char, int> rows[] = {{'0', 0},  {'9', 9},  {'a', 10}, {'f', 15},   {'A', 10},
                                       {'F', 15}, {'g', -1}, {'G', -1}, {'/', -1},   {':', -1},
                                       {'@', -1}, {'`', -1}, {' ', -1}, {'\xc1', -1}};
  for (auto [c, value] : rows) EXPECT_EQ(HexDigitValue(c), value) << c;
}

TEST(LocaleTest, DecimalSeparatorIsOneCharacter) {
  RefreshDecimalSeparator();
  char c = DecimalSeparator();
  EXPECT_TRUE(c == '.' || c == ',') << c;
  EXPECT_TRUE(UtcOffsetSeconds().has_value());
}

}  // namespace
}  // namespace peloria
