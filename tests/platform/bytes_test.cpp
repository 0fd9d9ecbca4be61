#include "platform/bytes.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

namespace peloria {
namespace {

constexpr std::array<std::uint8_t, 8> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};

TEST(ByteReaderTest, BothOrdersAndEverySize) {
  const ByteSpan data(kBytes);
  EXPECT_EQ(U16Le(data, 0), 0x0201);
  EXPECT_EQ(U16Be(data, 0), 0x0102);
  EXPECT_EQ(U32Le(data, 4), 0x88070605u);
  EXPECT_EQ(U32Be(data, 4), 0x05060788u);
  EXPECT_EQ(U64Le(data, 0), 0x8807060504030201ull);
  EXPECT_EQ(U64Be(data, 0), 0x0102030405060788ull);
  EXPECT_EQ(ReadU16(data, 6, ByteOrder::kBig), 0x0788);
  EXPECT_EQ(ReadU32(data, 1, ByteOrder::kLittle), 0x05040302u);
}

TEST(ByteReaderTest, ReadsThatDoNotFitGiveNoValue) {
  const ByteSpan data(kBytes);
  EXPECT_EQ(U16Le(data, 6), 0x8807);  // the last two bytes
  EXPECT_FALSE(U16Le(data, 7).has_value());
  EXPECT_FALSE(U32Be(data, 5).has_value());
  EXPECT_FALSE(U64Be(data, 1).has_value());
  EXPECT_FALSE(U32Le(ByteSpan{}, 0).has_value());
  // An offset near the top of size_t must not wrap into range.
  EXPECT_FALSE(U32Le(data, std::numeric_limits<std::size_t>::max() - 1).has_value());
  EXPECT_TRUE(InRange(data, 8, 0));
  EXPECT_FALSE(InRange(data, 9, 0));
  EXPECT_FALSE(InRange(data, 0, 9));
}

}  // namespace
}  // namespace peloria
