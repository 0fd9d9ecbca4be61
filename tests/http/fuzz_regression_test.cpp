// Inputs found by fuzzing the HTTP client's parsers, kept as regression
// tests of the faults they showed.
#include <gtest/gtest.h>

#include <string>

#include "http/header_list.h"

namespace peloria {
namespace {

// Folding a long value must not place a fold in front of a character that
// unfolding drops from a continuation line (a control character or a blank).
TEST(HttpFuzzRegressionTest, SetValueNeverFoldsBeforeAControlCharacter) {
  for (char after : {'\0', '\x01', '\x08', '\x1f'}) {
    std::string value(70, 'a');
    value += ' ';
    value += after;
    value += std::string(40, 'b');
    TIdHeaderList list;
    list.SetValue("X-Value", value);
    EXPECT_EQ(list.Value("X-Value"), value) << "control character " << int(after);
  }
}

TEST(HttpFuzzRegressionTest, SetValueStillFoldsAtOtherSpaces) {
  const std::string value =
      std::string(70, 'a') + " \x01" + std::string(10, 'b') + " " + std::string(20, 'c');
  TIdHeaderList list;
  list.SetValue("X-Value", value);
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.Value("X-Value"), value);
}

}  // namespace
}  // namespace peloria
