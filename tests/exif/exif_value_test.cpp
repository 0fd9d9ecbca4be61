#include "exif/exif_value.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "platform/stream.h"

namespace peloria {
namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

TEST(ByteOrderTest, ToUnsignedAndToSigned) {
  struct Row {
    std::vector<std::uint8_t> bytes;
    bool motorola;
    std::uint32_t unsignedValue;
    std::int32_t signedValue;
  };
  const Row rows[] = {
      {Bytes({0x34, 0x12}), false, 0x1234, 0x1234},
      {Bytes({0x12, 0x34}), true, 0x1234, 0x1234},
      {Bytes({0xFF, 0xFF}), false, 65535, -1},
      {Bytes({0xFF, 0xFF}), true, 65535, -1},
      {Bytes({0x00, 0x80}), false, 32768, -32768},
      {Bytes({0x80, 0x00}), true, 32768, -32768},
      {Bytes({0x78, 0x56, 0x34, 0x12}), false, 0x12345678, 0x12345678},
      {Bytes({0x12, 0x34, 0x56, 0x78}), true, 0x12345678, 0x12345678},
      {Bytes({0xFE, 0xFF, 0xFF, 0xFF}), false, 0xFFFFFFFE, -2},
      {Bytes({0xFF, 0xFF, 0xFF, 0xFE}), true, 0xFFFFFFFE, -2},
  };
  for (const auto& r : rows) {
    int size = static_cast<int>(r.bytes.size());
    EXPECT_EQ(ToUnsigned(r.bytes.data(), size, r.motorola), r.unsignedValue);
    EXPECT_EQ(ToSigned(r.bytes.data(), size, r.motorola), r.signedValue);
  }
}

// A stream laid out as a TIFF block starting at 0: a 4-byte value field at
// position 0, the value data (if any) at position 8.
class ReadValueTest : public ::testing::TestWithParam<bool> {
 protected:
  bool motorola() const { return GetParam(); }

  std::vector<std::uint8_t> U16(std::uint16_t v) const {
    return motorola() ? Bytes({v >> 8, v & 0xFF}) : Bytes({v & 0xFF, v >> 8});
  }
  std::vector<std::uint8_t> U32(std::uint32_t v) const {
    auto hi = U16(static_cast<std::uint16_t>(v >> 16));
    auto lo = U16(static_cast<std::uint16_t>(v));
    auto out = motorola() ? hi : lo;
    auto second = motorola() ? lo : hi;
    out.insert(out.end(), second.begin(), second.end());
    return out;
  }
  static std::vector<std::uint8_t> Join(std::vector<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  }
  // `field` at 0 (padded to 8 bytes), `data` at 8.
  TDatas Read(std::vector<std::uint8_t> field, std::vector<std::uint8_t> data, std::uint32_t count,
              std::uint8_t type) const {
    field.resize(8, 0);
    field.insert(field.end(), data.begin(), data.end());
    TMemoryStream stream(field);
    stream.Seek(3);
    TDatas d = ReadValue(stream, 0, 0, count, type, motorola());
    return d;
  }
};

TEST_P(ReadValueTest, NumericTypesTakeTheFirstValue) {
  // BYTE, SHORT, LONG in place; count 2 of SHORT still in place, first only.
  EXPECT_EQ(Read(Bytes({200, 7}), {}, 2, tiff::kByte).UnsignedValue, 200u);
  EXPECT_EQ(Read(Join({U16(640), U16(480)}), {}, 2, tiff::kShort).UnsignedValue, 640u);
  EXPECT_EQ(Read(U32(0xDEADBEEF), {}, 1, tiff::kLong).UnsignedValue, 0xDEADBEEFu);
  // Three SHORTs are 6 bytes: stored at the offset.
  EXPECT_EQ(Read(U32(8), Join({U16(9), U16(8), U16(7)}), 3, tiff::kShort).UnsignedValue, 9u);
  EXPECT_EQ(Read(Bytes({0x80}), {}, 1, tiff::kSByte).SignedValue, -128);
  EXPECT_EQ(Read(U16(0xFFFF), {}, 1, tiff::kSShort).SignedValue, -1);
  EXPECT_EQ(Read(U32(0xFFFFFFF6), {}, 1, tiff::kSLong).SignedValue, -10);
  TDatas shortValue = Read(U16(5), {}, 1, tiff::kShort);
  EXPECT_EQ(shortValue.SignedValue, 0);
  EXPECT_EQ(shortValue.FloatValue, 0.0);
  EXPECT_EQ(shortValue.Text, "");
}

TEST_P(ReadValueTest, Rationals) {
  TDatas r = Read(U32(8), Join({U32(10), U32(600)}), 1, tiff::kRational);
  EXPECT_EQ(r.Text, "10/600");
  EXPECT_DOUBLE_EQ(r.FloatValue, 1.0 / 60);
  EXPECT_EQ(r.UnsignedValue, 0u);

  r = Read(U32(8), Join({U32(4294967295u), U32(1)}), 1, tiff::kRational);
  EXPECT_EQ(r.Text, "4294967295/1");
  EXPECT_EQ(r.FloatValue, 4294967295.0);

  r = Read(U32(8), Join({U32(5), U32(0)}), 1, tiff::kRational);
  EXPECT_EQ(r.Text, "5/0");
  EXPECT_EQ(r.FloatValue, 0.0);

  r = Read(U32(8), Join({U32(static_cast<std::uint32_t>(-2)), U32(3)}), 1, tiff::kSRational);
  EXPECT_EQ(r.Text, "-2/3");
  EXPECT_NEAR(r.FloatValue, -0.667, 0.001);
  EXPECT_EQ(r.SignedValue, 0);

  // The quotient is rounded once from extended precision: 1/3 as a double.
  r = Read(U32(8), Join({U32(1), U32(3)}), 1, tiff::kRational);
  EXPECT_EQ(r.FloatValue, 1.0 / 3);
}

TEST_P(ReadValueTest, FloatAndDouble) {
  EXPECT_EQ(Read(U32(std::bit_cast<std::uint32_t>(1.5f)), {}, 1, tiff::kFloat).FloatValue, 1.5);
  EXPECT_EQ(Read(U32(std::bit_cast<std::uint32_t>(-0.1f)), {}, 1, tiff::kFloat).FloatValue,
            static_cast<double>(-0.1f));
  float tiny = std::numeric_limits<float>::denorm_min() * 3;
  EXPECT_EQ(Read(U32(std::bit_cast<std::uint32_t>(tiny)), {}, 1, tiff::kFloat).FloatValue,
            static_cast<double>(tiny));
  EXPECT_TRUE(std::isinf(Read(U32(0x7F800000), {}, 1, tiff::kFloat).FloatValue));
  EXPECT_TRUE(std::isnan(Read(U32(0x7F800001), {}, 1, tiff::kFloat).FloatValue));

  auto bits = std::bit_cast<std::uint64_t>(-1234.5625);
  auto data = motorola() ? Join({U32(static_cast<std::uint32_t>(bits >> 32)),
                                 U32(static_cast<std::uint32_t>(bits))})
                         : Join({U32(static_cast<std::uint32_t>(bits)),
                                 U32(static_cast<std::uint32_t>(bits >> 32))});
  EXPECT_EQ(Read(U32(8), data, 1, tiff::kDouble).FloatValue, -1234.5625);
}

TEST_P(ReadValueTest, AsciiAndUndefined) {
  // Eight bytes, the last three zero: stored at the offset.
  auto text = Bytes({'C', 'a', 'n', 'o', 'n', 0, 0, 0});
  EXPECT_EQ(Read(U32(8), text, 8, tiff::kAscii).Text, "Canon");
  // Four bytes or fewer: in place; zero bytes dropped wherever they stand.
  EXPECT_EQ(Read(Bytes({'a', 0, 'b', 0}), {}, 4, tiff::kAscii).Text, "ab");
  EXPECT_EQ(Read(Bytes({'a', 'b'}), {}, 0, tiff::kAscii).Text, "");
  EXPECT_EQ(Read(Bytes({0x30, 0x32, 0x32, 0x30}), {}, 4, tiff::kUndefined).Text, "30323230");
  EXPECT_EQ(Read(U32(8), Bytes({0x00, 0xAB, 0x0F, 0xF0, 0x7E}), 5, tiff::kUndefined).Text,
            "00AB0FF07E");
}

TEST_P(ReadValueTest, ValuesNeverReadPastTheEnd) {
  // Counts beyond the file: ASCII and UNDEFINED stop at its end.
  auto data = Bytes({'x', 'y', 'z'});
  EXPECT_EQ(Read(U32(8), data, 0xFFFFFFFF, tiff::kAscii).Text, "xyz");
  EXPECT_EQ(Read(U32(8), data, 0xFFFFFFFF, tiff::kUndefined).Text, "78797A");
  EXPECT_EQ(Read(U32(10), data, 100, tiff::kAscii).Text, "z");
  // Offsets at, beyond the end and near 2^32: nothing.
  for (std::uint32_t offset : {11u, 12u, 4096u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
    EXPECT_EQ(Read(U32(offset), data, 0xFFFFFFFF, tiff::kAscii).Text, "") << offset;
    EXPECT_EQ(Read(U32(offset), data, 100, tiff::kUndefined).Text, "") << offset;
    TDatas r = Read(U32(offset), data, 1, tiff::kRational);
    EXPECT_EQ(r.Text, "") << offset;
    EXPECT_EQ(r.FloatValue, 0.0) << offset;
  }
  // A rational cut by the end of the file decodes to nothing.
  EXPECT_EQ(Read(U32(8), Join({U32(1)}), 1, tiff::kRational).Text, "");
  // A count whose byte size passes 2^32 is not wrapped into an in-place value:
  // the field is read as an offset (here beyond the file).
  EXPECT_EQ(Read(U32(0x7FFF0000), {}, 0x40000001, tiff::kLong).UnsignedValue, 0u);
  EXPECT_EQ(Read(U32(8), Join({U32(77)}), 0x40000001, tiff::kLong).UnsignedValue, 77u);
}

TEST_P(ReadValueTest, TextBytesComeOutOfTheBudget) {
  auto field = U32(8);
  field.resize(8, 0);
  auto bytes = Bytes({'C', 'a', 'n', 'o', 'n', 0, 0, 0});
  field.insert(field.end(), bytes.begin(), bytes.end());
  TMemoryStream stream(field);
  std::int64_t budget = 11;
  EXPECT_EQ(ReadValue(stream, 0, 0, 8, tiff::kAscii, motorola(), budget).Text, "Canon");
  EXPECT_EQ(budget, 3);
  EXPECT_EQ(ReadValue(stream, 0, 0, 8, tiff::kUndefined, motorola(), budget).Text, "43616E");
  EXPECT_EQ(budget, 0);
  EXPECT_EQ(ReadValue(stream, 0, 0, 8, tiff::kAscii, motorola(), budget).Text, "");
  // Numbers are not counted.
  EXPECT_EQ(ReadValue(stream, 0, 0, 1, tiff::kLong, motorola(), budget).UnsignedValue, 8u);
}

TEST_P(ReadValueTest, UnknownTypesDecodeToNothing) {
  for (int type : {0, 13, 0x7F, 0xFF}) {
    TDatas d = Read(U32(8), Bytes({1, 2, 3, 4, 5, 6, 7, 8}), 1, static_cast<std::uint8_t>(type));
    EXPECT_EQ(d.UnsignedValue, 0u);
    EXPECT_EQ(d.SignedValue, 0);
    EXPECT_EQ(d.FloatValue, 0.0);
    EXPECT_EQ(d.Text, "");
  }
}

TEST(ReadValueUnitTest, SizesByType) {
  const int sizes[] = {8, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 8};
  for (int type = 0; type < 14; ++type)
    EXPECT_EQ(tiff::UnitSize(static_cast<std::uint8_t>(type)), sizes[type]) << type;
}

INSTANTIATE_TEST_SUITE_P(BothOrders, ReadValueTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Motorola" : "Intel"; });

}  // namespace
}  // namespace peloria
