#include "text/format.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/exception.h"
#include "platform/locale.h"
#include "tests/support/temp_dir.h"
#include "tests/text/reference_digits.h"

// GCC announces AddressSanitizer with __SANITIZE_ADDRESS__, clang through
// __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define PELORIA_TEXT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PELORIA_TEXT_ASAN 1
#endif
#endif
#if defined(PELORIA_TEXT_ASAN)
#include <sanitizer/lsan_interface.h>
#endif

namespace peloria {
namespace {

using Limits = std::numeric_limits<long double>;

// The expected text with "." replaced by the user's decimal separator, so the
// tables hold whatever locale the tests run under.
std::string Dot(std::string text) {
  for (char& c : text) {
    if (c == '.') c = DecimalSeparator();
  }
  return text;
}

// An extended value from its raw fields (sign and biased exponent, significand).
long double Extended(std::uint16_t signExponent, std::uint64_t significand) {
  long double value = 0;
  unsigned char bytes[sizeof(long double)] = {};
  std::memcpy(bytes, &significand, 8);
  std::memcpy(bytes + 8, &signExponent, 2);
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

struct FormatRow {
  long double value;
  const char* general15;
  const char* general11;
  const char* fixed11_1;
};

void ExpectRows(const std::vector<FormatRow>& rows) {
  for (const FormatRow& row : rows) {
    SCOPED_TRACE(::testing::Message() << "value " << static_cast<double>(row.value));
    EXPECT_EQ(FormatGeneral(row.value, 15), Dot(row.general15));
    EXPECT_EQ(FormatGeneral(row.value, 11), Dot(row.general11));
    EXPECT_EQ(FormatFixed(row.value, 11, 1), Dot(row.fixed11_1));
  }
}

TEST(FormatFloatTest, WorkedExamples) {
  const double oneTenth = 0.1, twoTenths = 0.2;
  ExpectRows({
      {0.1, "0.1", "0.1", "0.1"},
      {1.0 / 3, "0.333333333333333", "0.33333333333", "0.3"},
      {2.0 / 3, "0.666666666666667", "0.66666666667", "0.7"},
      {250, "250", "250", "250.0"},
      {4, "4", "4", "4.0"},
      {2.8, "2.8", "2.8", "2.8"},
      {-0.5, "-0.5", "-0.5", "-0.5"},
      {oneTenth + twoTenths, "0.3", "0.3", "0.3"},
      {0.0001, "0.0001", "0.0001", "0.0"},
      {0.00009999, "9.999E-5", "9.999E-5", "0.0"},
      {0.00001, "1E-5", "1E-5", "0.0"},
      {1.5e-7, "1.5E-7", "1.5E-7", "0.0"},
      {123456789012345.0, "123456789012345", "1.2345678901E14", "1.2345678901E14"},
      {1e15, "1E15", "1E15", "1E15"},
      {999999999999999.9, "1E15", "1E15", "1E15"},
      {1e16, "1E16", "1E16", "1E16"},
      {12.345, "12.345", "12.345", "12.3"},
      {0.0, "0", "0", "0.0"},
      {-0.0, "0", "0", "0.0"},
      {Limits::infinity(), "INF", "INF", "INF"},
      {-Limits::infinity(), "-INF", "-INF", "-INF"},
      {Limits::quiet_NaN(), "NAN", "NAN", "NAN"},
  });
}

TEST(FormatFloatTest, FixedRoundsHalfUpOnTheMagnitude) {
  const std::pair<double, const char*> rows[] = {
      {0.25, "0.3"},   {0.05, "0.1"},   {-0.05, "-0.1"},  {-0.04, "0.0"},
      {2.45, "2.5"},   {2.55, "2.5"},   {1.95, "1.9"},    {1e11, "1E11"},
      {-0.25, "-0.3"}, {9.96, "10.0"},  {-9.96, "-10.0"}, {99999999999.96, "1E11"},
      {0.96, "1.0"},   {-0.0001, "0.0"}};
  for (auto [value, text] : rows) EXPECT_EQ(FormatFixed(value, 11, 1), Dot(text)) << value;
}

TEST(FormatFloatTest, PlainAndExponentFormsAroundTheSwitch) {
  struct Row {
    long double value;
    int precision;
    const char* text;
  };
  const Row rows[] = {
      {999999999999999.0, 15, "999999999999999"},
      {999999999999999.4, 15, "999999999999999"},
      {999999999999999.5, 15, "1E15"},  // an exact tie rounds up across the switch
      {1e15, 15, "1E15"},
      {-1e15, 15, "-1E15"},
      {1234567890123456.0, 15, "1.23456789012346E15"},
      {0.0001, 15, "0.0001"},
      {0.00009999999999999999L, 15, "0.0001"},
      {0.000099999999999999949L, 15, "9.99999999999999E-5"},
      {0.000123456789012345678L, 15, "0.000123456789012346"},
      {99999999999.0, 11, "99999999999"},
      {99999999999.49, 11, "99999999999"},
      {99999999999.5, 11, "1E11"},
      {100000000000.0, 11, "1E11"},
      {0.0000999999999995L, 11, "0.0001"},
      {0.0000999999999994L, 11, "9.9999999999E-5"},
      {-0.0000999999999994L, 11, "-9.9999999999E-5"},
      {0.000123456789012345L, 11, "0.00012345678901"},
      {1e100, 15, "1E100"},
      {-1.5e-300, 15, "-1.5E-300"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FormatGeneral(row.value, row.precision), Dot(row.text))
        << static_cast<double>(row.value) << " precision " << row.precision;
  }
}

TEST(FormatFloatTest, CarriesRippleThroughAllDigits) {
  EXPECT_EQ(FormatGeneral(0.99999999999999999L, 15), "1");
  EXPECT_EQ(FormatGeneral(-0.99999999999999999L, 15), "-1");
  EXPECT_EQ(FormatGeneral(9.9999999999999999L, 11), "10");
  EXPECT_EQ(FormatGeneral(0.00099999999999999999L, 15), Dot("0.001"));
  EXPECT_EQ(FormatGeneral(99999999999.999, 11), "1E11");
  // The 18-digit rounding itself carries: 1 - 2^-64 = 0.99999999999999999994...
  EXPECT_EQ(FormatGeneral(1.0L - 0x1p-64L, 18), "1");
  EXPECT_EQ(FormatFixed(1.0L - 0x1p-64L, 18, 18), Dot("1.000000000000000000"));
  // 1 - 2^-60 = 0.99999999999999999913...: eighteen nines survive.
  EXPECT_EQ(FormatGeneral(1.0L - 0x1p-60L, 18), Dot("0.999999999999999999"));
  EXPECT_EQ(FormatGeneral(1.0L - 0x1p-60L, 17), "1");
}

TEST(FormatFloatTest, EighteenDigitsRoundTiesToEvenBeforeTheCut) {
  // Integers below 2^63 are exact; these have 19 digits.
  EXPECT_EQ(FormatGeneral(1000000000000000005.0L, 18), "1E18");
  EXPECT_EQ(FormatGeneral(1000000000000000015.0L, 18), Dot("1.00000000000000002E18"));
  EXPECT_EQ(FormatGeneral(1000000000000000016.0L, 18), Dot("1.00000000000000002E18"));
  EXPECT_EQ(FormatGeneral(999999999999999999.0L, 18), "999999999999999999");
  EXPECT_EQ(FormatGeneral(9999999999999999995.0L, 18), "1E19");
  // ...049 first becomes ...05 at 18 digits, which the cut at 17 rounds up.
  EXPECT_EQ(FormatGeneral(1000000000000000049.0L, 17), Dot("1.0000000000000001E18"));
  EXPECT_EQ(FormatGeneral(1000000000000000049.0L, 18), Dot("1.00000000000000005E18"));
}

TEST(FormatFloatTest, ExtremeExtendedValues) {
  EXPECT_EQ(FormatGeneral(Limits::max(), 18), Dot("1.18973149535723177E4932"));
  EXPECT_EQ(FormatGeneral(Limits::max(), 15), Dot("1.18973149535723E4932"));
  EXPECT_EQ(FormatGeneral(Limits::lowest(), 15), Dot("-1.18973149535723E4932"));
  EXPECT_EQ(FormatFixed(Limits::max(), 11, 1), Dot("1.1897314954E4932"));
  EXPECT_EQ(FormatFixed(Limits::lowest(), 18, 18), Dot("-1.18973149535723177E4932"));
  EXPECT_EQ(FormatGeneral(Limits::min(), 18), Dot("3.36210314311209351E-4932"));
  EXPECT_EQ(FormatGeneral(-Limits::min(), 15), Dot("-3.36210314311209E-4932"));
  EXPECT_EQ(FormatFixed(Limits::min(), 18, 18), Dot("0.000000000000000000"));
  EXPECT_EQ(FormatFixed(-Limits::min(), 11, 1), Dot("0.0"));
  // The smallest unnormal, 1 * 2^-16445, keeps its value (a denormal would read as zero).
  EXPECT_EQ(FormatGeneral(Extended(0x0001, 1), 18), Dot("3.6451995318824746E-4951"));
  EXPECT_EQ(FormatGeneral(std::numeric_limits<double>::max(), 15), Dot("1.79769313486232E308"));
  EXPECT_EQ(FormatGeneral(std::numeric_limits<double>::denorm_min(), 15),
            Dot("4.94065645841247E-324"));
}

TEST(FormatFloatTest, ValuesWithoutDigitsAndSpecialEncodings) {
  struct Row {
    long double value;
    const char* general;
    const char* fixed;
  };
  const Row rows[] = {
      // Exponent field 0 (denormals and pseudo-denormals) reads as zero.
      {Limits::denorm_min(), "0", "0.0"},
      {-Limits::denorm_min(), "0", "0.0"},
      {Extended(0x0000, 0x7FFFFFFFFFFFFFFF), "0", "0.0"},
      {Extended(0x8000, 0x8000000000000000), "0", "0.0"},
      // An unnormal (integer bit clear) still has its exact value: 2^62 * 2^-63.
      {Extended(0x3FFF, 0x4000000000000000), "0.5", "0.5"},
      {Extended(0xBFFF, 0x0000000000000000), "0", "0.0"},
      // Infinity needs the fraction bits clear; the integer bit does not matter.
      {Extended(0x7FFF, 0x0000000000000000), "INF", "INF"},
      {Extended(0xFFFF, 0x8000000000000000), "-INF", "-INF"},
      // NaNs: quiet, signalling, pseudo, with the sign bit set.
      {Extended(0xFFFF, 0xC000000000000000), "NAN", "NAN"},
      {Extended(0xFFFF, 0x8000000000000001), "NAN", "NAN"},
      {Extended(0x7FFF, 0x0000000000000001), "NAN", "NAN"},
      {-Limits::quiet_NaN(), "NAN", "NAN"},
      {std::copysign(Limits::quiet_NaN(), -1.0L), "NAN", "NAN"},
      {-Limits::signaling_NaN(), "NAN", "NAN"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FormatGeneral(row.value, 15), Dot(row.general));
    EXPECT_EQ(FormatFixed(row.value, 11, 1), Dot(row.fixed));
  }
}

TEST(FormatFloatTest, PrecisionAndDecimalsAreClamped) {
  const double third = 1.0 / 3;
  for (int precision : {-5, 0, 1, 2}) EXPECT_EQ(FormatGeneral(third, precision), Dot("0.33"));
  EXPECT_EQ(FormatGeneral(third, 19), FormatGeneral(third, 18));
  EXPECT_EQ(FormatGeneral(third, 1000), Dot("0.333333333333333315"));
  EXPECT_EQ(FormatFixed(third, 1, 5), Dot("0.33000"));
  EXPECT_EQ(FormatFixed(0.1, 18, 40), Dot("0.100000000000000006"));
  EXPECT_EQ(FormatFixed(0.1, 15, 18), Dot("0.100000000000000000"));
  EXPECT_EQ(FormatFixed(2.5, 15, 0), "3");
  EXPECT_EQ(FormatFixed(2.5, 15, -3), "3");
  EXPECT_EQ(FormatFixed(4, 15, 3), Dot("4.000"));
  EXPECT_EQ(FormatFixed(0.0012, 15, 4), Dot("0.0012"));
  EXPECT_EQ(FormatFixed(0.00015, 15, 4), Dot("0.0001"));  // the double lies below the tie
  EXPECT_EQ(FormatFixed(0.00025, 15, 4), Dot("0.0003"));
  // The precision cuts the digits; the decimals are filled up with zeros.
  EXPECT_EQ(FormatFixed(-1234.5678, 6, 3), Dot("-1234.570"));
  EXPECT_EQ(FormatFixed(1234567.5, 6, 1), Dot("1.23457E6"));
  EXPECT_EQ(FormatFixed(123456.5, 6, 1), Dot("123457.0"));
}

TEST(FormatFloatTest, EveryResultFitsSixtyFourCharacters) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 5000; ++i) {
    long double value = Extended(static_cast<std::uint16_t>(random()), random());
    int precision = static_cast<int>(random() % 22) - 2;
    int decimals = static_cast<int>(random() % 22) - 2;
    EXPECT_LE(FormatGeneral(value, precision).size(), 64u);
    EXPECT_LE(FormatFixed(value, precision, decimals).size(), 64u);
  }
}

TEST(FormatFloatTest, GeneralDigitsMatchAnExactReference) {
  std::mt19937_64 random(20261208);
  std::vector<long double> values;
  for (int i = 0; i < 3000; ++i) {
    std::uint64_t bits = random();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (std::isfinite(d) && d != 0) values.push_back(d);
  }
  for (int i = 0; i < 3000; ++i) {
    int exponent = static_cast<int>(random() % 1200) - 600;
    values.push_back(std::ldexp(static_cast<long double>(random() | (1ull << 63)), exponent - 63));
  }
  // Short decimals, whose doubles lie close to the ties of the cut.
  for (int i = 0; i < 3000; ++i) {
    double scale = std::pow(10.0, static_cast<int>(random() % 30) - 15);
    values.push_back(static_cast<double>(random() % 100000 + 1) * scale);
  }
  // Extended values over the whole exponent range, denormals excepted.
  for (int i = 0; i < 300; ++i) {
    std::uint16_t signExponent = static_cast<std::uint16_t>(random());
    if ((signExponent & 0x7FFF) == 0 || (signExponent & 0x7FFF) == 0x7FFF) continue;
    values.push_back(Extended(signExponent, random() | (1ull << 63)));
  }
  values.push_back(Limits::max());
  values.push_back(Limits::min());
  for (long double value : values) {
    for (int precision : {2, 5, 11, 15, 17, 18}) {
      std::string text = FormatGeneral(value, precision);
      std::optional<testing::Digits> shown =
          testing::ParseGeneral(text, precision, DecimalSeparator());
      ASSERT_TRUE(shown.has_value()) << text << " precision " << precision;
      ASSERT_EQ(*shown, testing::ReferenceDigits(value, precision))
          << text << " precision " << precision;
    }
  }
}

// --- Locale ------------------------------------------------------------------

#if defined(PELORIA_TEXT_ASAN)
// glibc never frees the search list it builds from LOCPATH when it loads a
// locale; that allocation is not ours to report.
class IgnoreLeaks {
 public:
  IgnoreLeaks() { __lsan_disable(); }
  ~IgnoreLeaks() { __lsan_enable(); }
  IgnoreLeaks(const IgnoreLeaks&) = delete;
  IgnoreLeaks& operator=(const IgnoreLeaks&) = delete;
};
#else
class IgnoreLeaks {};
#endif

// A locale whose decimal point is ",", built from the system's locale sources
// into a temporary folder (the test machine has only C and POSIX installed;
// the 8-bit character set builds five times faster than UTF-8).
class CommaLocaleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = std::make_unique<testing::TempDir>();
    std::string command = "localedef -i de_DE -f ISO-8859-1 '" + folder_->path().string() +
                          "/de_DE.ISO-8859-1' >/dev/null 2>&1";
    (void)std::system(command.c_str());
  }
  static void TearDownTestSuite() { folder_.reset(); }

  void SetUp() override {
    if (!std::filesystem::exists(folder_->path() / "de_DE.ISO-8859-1" / "LC_NUMERIC")) {
      GTEST_SKIP() << "localedef cannot build de_DE.ISO-8859-1 here";
    }
    for (const char* name : {"LOCPATH", "LC_ALL", "LC_NUMERIC", "LANG"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name,
                          value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    ::setenv("LOCPATH", folder_->path().c_str(), 1);
  }
  void TearDown() override {
    std::setlocale(LC_ALL, "C");
    for (auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
    RefreshDecimalSeparator();
  }

  static std::unique_ptr<testing::TempDir> folder_;
  IgnoreLeaks ignoreLeaks_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

std::unique_ptr<testing::TempDir> CommaLocaleTest::folder_;

TEST_F(CommaLocaleTest, ProcessLocaleDoesNotChangeTheDigits) {
  const std::string general = FormatGeneral(1234567.125, 15);
  const std::string fixed = FormatFixed(-2.45, 11, 1);
  const std::string exponent = FormatGeneral(1.5e-7, 15);
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.ISO-8859-1"), nullptr);
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  EXPECT_EQ(FormatGeneral(1234567.125, 15), general);
  EXPECT_EQ(FormatFixed(-2.45, 11, 1), fixed);
  EXPECT_EQ(FormatGeneral(1.5e-7, 15), exponent);
  EXPECT_EQ(Format("%d/%u", {-1234567, 1234567}), "-1234567/1234567");
}

TEST_F(CommaLocaleTest, UsersLocaleGivesTheSeparator) {
  ::setenv("LC_ALL", "de_DE.ISO-8859-1", 1);
  RefreshDecimalSeparator();
  ASSERT_EQ(DecimalSeparator(), ',');
  EXPECT_EQ(FormatGeneral(1234567.125, 15), "1234567,125");
  EXPECT_EQ(FormatGeneral(0.00009999, 15), "9,999E-5");
  EXPECT_EQ(FormatFixed(250, 11, 1), "250,0");
  EXPECT_EQ(FormatFixed(-0.04, 11, 1), "0,0");
  EXPECT_EQ(FormatGeneral(123456789012345.0, 11), "1,2345678901E14");
}

// --- Integers and the text formatter -----------------------------------------

TEST(FormatIntegerTest, DecimalDigits) {
  EXPECT_EQ(FormatInteger(0), "0");
  EXPECT_EQ(FormatInteger(-42), "-42");
  EXPECT_EQ(FormatInteger(std::numeric_limits<std::int32_t>::max()), "2147483647");
  EXPECT_EQ(FormatInteger(std::numeric_limits<std::int32_t>::min()), "-2147483648");
  EXPECT_EQ(FormatInteger(std::int64_t{0}), "0");
  EXPECT_EQ(FormatInteger(std::numeric_limits<std::int64_t>::max()), "9223372036854775807");
  EXPECT_EQ(FormatInteger(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
}

TEST(FormatTextTest, Directives) {
  const std::string owned = "Peloria";
  struct Row {
    std::string result;
    const char* expected;
  };
  const Row rows[] = {
      {Format("%u/%u", {1, 3}), "1/3"},
      {Format("%d/%d", {-1, 2}), "-1/2"},
      {Format("%u", {-1}), "4294967295"},
      {Format("%u", {std::numeric_limits<std::int32_t>::min()}), "2147483648"},
      {Format("%u", {std::numeric_limits<std::uint32_t>::max()}), "4294967295"},
      {Format("%d", {std::numeric_limits<std::uint32_t>::max()}), "4294967295"},
      {Format("%d", {std::numeric_limits<std::int32_t>::min()}), "-2147483648"},
      {Format("%s: %s", {"a", owned}), "a: Peloria"},
      {Format("%s", {std::string_view("\x83\x74\x83\x40\x83\x43\x83\x8b")}),
       "\x83\x74\x83\x40\x83\x43\x83\x8b"},
      {Format("100%%", {}), "100%"},
      {Format("%x %5d %", {}), "%x %5d %"},
      {Format("", {1}), ""},
      {Format("%d", {1, 2}), "1"},
  };
  for (const Row& row : rows) EXPECT_EQ(row.result, row.expected);
}

void ExpectConvertError(std::string_view pattern, std::initializer_list<FormatArg> args,
                        const std::string& message) {
  try {
    Format(pattern, args);
    ADD_FAILURE() << pattern << " did not raise";
  } catch (const EConvertError& error) {
    EXPECT_EQ(error.ClassName(), "EConvertError");
    EXPECT_EQ(error.Message(), message);
  }
}

TEST(FormatTextTest, MissingOrMismatchedArgumentsRaise) {
  ExpectConvertError("%d", {}, "Format '%d': no argument for directive 1");
  ExpectConvertError("%d/%s %u", {7, "t"}, "Format '%d/%s %u': no argument for directive 3");
  ExpectConvertError("%s", {7, "t"}, "Format '%s': argument 1 does not fit %s");
  ExpectConvertError("%d%d", {7, "t"}, "Format '%d%d': argument 2 does not fit %d");
  ExpectConvertError("%%%d%u", {7, "t"}, "Format '%%%d%u': argument 2 does not fit %u");
}

}  // namespace
}  // namespace peloria
