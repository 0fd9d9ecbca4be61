#include "platform/numbers.h"

#include <gtest/gtest.h>

#include "platform/exception.h"

namespace peloria {
namespace {

TEST(StrToIntTest, AcceptedForms) {
  const std::pair<const char*, int> rows[] = {{"0", 0},
                                              {"8080", 8080},
                                              {" -12", -12},
                                              {"+7", 7},
                                              {"0x1F90", 8080},
                                              {"0X1f90", 8080},
                                              {"$1F90", 8080},
                                              {"x10", 16},
                                              {"X10", 16},
                                              {"-$10", -16},
                                              {"2147483647", 2147483647},
                                              {"-2147483648", -2147483647 - 1},
                                              {"00012", 12}};
  for (auto [text, value] : rows) {
    ASSERT_TRUE(TryStrToInt(text).has_value()) << text;
    EXPECT_EQ(*TryStrToInt(text), value) << text;
    EXPECT_EQ(StrToInt(text), value) << text;
  }
}

TEST(StrToIntTest, RejectedFormsGiveTheDefault) {
  for (const char* text : {"", " ", "8080abc", "12 ", "2147483648", "-2147483649", "0x", "$", "1.5",
                           "--1", "0x1G", "99999999999999999999", "\xe3\x81\x82"}) {
    EXPECT_FALSE(TryStrToInt(text).has_value()) << text;
    EXPECT_EQ(StrToIntDef(text, 0), 0) << text;
    EXPECT_EQ(StrToIntDef(text, -5), -5) << text;
  }
}

TEST(StrToIntTest, StrictFormRaisesConvertError) {
  try {
    StrToInt("12a");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.ClassName(), "EConvertError");
    EXPECT_EQ(e.Message(), "'12a' is not a valid integer value");
  }
}

TEST(NearestTest, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(Nearest(2.5L), 2);
  EXPECT_EQ(Nearest(3.5L), 4);
  EXPECT_EQ(Nearest(62.5L), 62);
  EXPECT_EQ(Nearest(63.5L), 64);
  EXPECT_EQ(Nearest(-2.5L), -2);
  EXPECT_EQ(Nearest(-3.5L), -4);
  EXPECT_EQ(Nearest(100.4999L), 100);
  EXPECT_EQ(Nearest(-0.2L), 0);
  EXPECT_EQ(Nearest(0.0L), 0);
}

TEST(DivideTest, FailuresInsteadOfInfinitiesAndNaNs) {
  EXPECT_EQ(Divide(600, 10), 60);
  EXPECT_THROW(Divide(1, 0), EZeroDivide);
  EXPECT_THROW(Divide(-1, 0), EZeroDivide);
  EXPECT_THROW(Divide(0, 0), EInvalidOp);
  try {
    Divide(0, 0);
  } catch (const EMathError& e) {
    EXPECT_EQ(e.ClassName(), "EInvalidOp");
  }
}

}  // namespace
}  // namespace peloria
