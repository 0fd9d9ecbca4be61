#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <chrono>

namespace peloria::testing {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(WaitUntilTest, AnswersAtOnceWhenTheConditionHolds) {
  int asked = 0;
  const auto start = Clock::now();
  EXPECT_TRUE(WaitUntil([&] { return ++asked > 0; }, milliseconds(10000)));
  EXPECT_EQ(asked, 1);
  EXPECT_LT(Clock::now() - start, milliseconds(1000));
}

TEST(WaitUntilTest, KeepsAskingUntilTheConditionHolds) {
  int asked = 0;
  EXPECT_TRUE(WaitUntil([&] { return ++asked == 5; }, milliseconds(10000), milliseconds(1)));
  EXPECT_EQ(asked, 5);
}

TEST(WaitUntilTest, GivesUpAtTheDeadlineAfterAskingOnceMoreThere) {
  int asked = 0;
  const auto start = Clock::now();
  EXPECT_FALSE(WaitUntil([&] { return ++asked < 0; }, milliseconds(50), milliseconds(20)));
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, milliseconds(50));
  EXPECT_LT(waited, milliseconds(5000));
  // Asked at the start and once more at the deadline at least.
  EXPECT_GE(asked, 2);
}

TEST(WaitUntilTest, AZeroTimeoutStillAsksOnce) {
  int asked = 0;
  EXPECT_TRUE(WaitUntil([&] { return ++asked == 1; }, milliseconds(0)));
  EXPECT_FALSE(WaitUntil([] { return false; }, milliseconds(0)));
  EXPECT_EQ(asked, 1);
}

}  // namespace
}  // namespace peloria::testing
