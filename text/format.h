// Numbers as the user sees them: the general and fixed floating-point formats,
// the decimal integer format and a small text formatter with "%d", "%u" and
// "%s" directives.
//
// The floating-point formats take an x87 extended value (64-bit significand).
// Its digits come from an exact conversion and never depend on the C locale;
// only the decimal separator does, and it is the user's (DecimalSeparator()
// in platform/locale.h). No input makes these conversions fail.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace peloria {

// `value` rounded to `precision` significant digits (clamped to 2..18), the
// last digit rounded half up on the magnitude. Plain form while the rounded
// value lies in [0.0001, 10^precision), else the exponent form ("1E15",
// "9.999E-5"). Never trailing zeros, never "-" on zero; "INF", "-INF", "NAN".
std::string FormatGeneral(long double value, int precision);

// `value` with `decimals` digits after the separator (0..18; more count as
// 18), trailing zeros kept ("4.0"), rounded half up on the magnitude, at most
// `precision` (clamped to 2..18) significant digits in all. A value with more
// than `precision` digits before the point is written as by FormatGeneral in
// the exponent form. A value that rounds to zero has no minus sign ("0.0").
std::string FormatFixed(long double value, int precision, int decimals);

// Decimal digits with a leading "-" when negative; no grouping.
std::string FormatInteger(std::int32_t value);
std::string FormatInteger(std::int64_t value);

// One argument of Format(): an integer or a text. Texts are kept by reference,
// so an argument must outlive the Format() call (as a temporary in the
// argument list does).
class FormatArg {
 public:
  enum class Kind { kInteger, kUnsigned, kText };

  // Implicit on purpose: Format("%d/%d", {numerator, denominator}).
  FormatArg(std::int32_t value) : kind_(Kind::kInteger), integer_(value) {}
  FormatArg(std::uint32_t value) : kind_(Kind::kUnsigned), integer_(value) {}
  FormatArg(std::string_view text) : kind_(Kind::kText), text_(text) {}
  FormatArg(const char* text) : kind_(Kind::kText), text_(text != nullptr ? text : "") {}
  FormatArg(const std::string& text) : kind_(Kind::kText), text_(text) {}

  Kind kind() const { return kind_; }
  bool IsInteger() const { return kind_ != Kind::kText; }
  // The integer as passed (a std::uint32_t keeps its unsigned value).
  std::int64_t integer() const { return integer_; }
  std::string_view text() const { return text_; }

 private:
  Kind kind_;
  std::int64_t integer_ = 0;
  std::string_view text_;
};

// Writes `pattern` with its directives replaced by the arguments in order:
//   "%d"  an integer in decimal, as FormatInteger;
//   "%u"  an integer read as unsigned 32-bit: a negative std::int32_t prints
//         as 2^32 plus its value (-1 gives "4294967295");
//   "%s"  a text;
//   "%%"  a percent sign.
// Every other character, a "%" before any other character included, is
// copied. Fails with EConvertError when the arguments run out or an argument
// is not of the kind its directive takes; arguments left over are ignored.
std::string Format(std::string_view pattern, std::initializer_list<FormatArg> args);

}  // namespace peloria
