#include "platform/message.h"

#include <gtest/gtest.h>

#include "platform/cp932.h"

namespace peloria {
namespace {

TEST(MessageTest, PlaceholdersAreFilledInOrderAndConvertedToCp932) {
  EXPECT_EQ(FillMessage("ファイル %s は開けません", {"a%sb"}),
            Cp932("ファイル ") + "a%sb" + Cp932(" は開けません"));  // an argument is not scanned
  EXPECT_EQ(FillMessage("%s を %s に代入することはできません", {"TIcon", "TBitmap"}),
            Cp932("TIcon を TBitmap に代入することはできません"));
  EXPECT_EQ(FillMessage("JPEG エラー #%d", {"42"}), Cp932("JPEG エラー #42"));
}

TEST(MessageTest, PlaceholdersBeyondTheArgumentsAndOtherDirectivesStay) {
  EXPECT_EQ(FillMessage("(%s x %s)", {"1"}), "(1 x %s)");
  EXPECT_EQ(FillMessage("100%% %u %", {"x"}), "100%% %u %");
  EXPECT_EQ(FillMessage("no placeholder"), "no placeholder");
}

TEST(MessageTest, FillTemplateHandsEachDirectiveToTheCaller) {
  std::string out = "<";
  std::string seen;
  FillTemplate(out, "a%xb%yc%zd%", "xz", [&](std::string& text, char letter) {
    seen += letter;
    text += '[';
    text += letter;
    text += ']';
  });
  EXPECT_EQ(out, "<a[x]b%yc[z]d%");
  EXPECT_EQ(seen, "xz");
}

}  // namespace
}  // namespace peloria
